// Slots 31 to 36: the reference in every kernel form, values worked out by hand, the
// launcher's plan at the shared-memory budget, and what the slots refuse.
#include "conv_slots.h"

#include <functional>

using namespace tvf2test;
using tvf2::ConvLayout;

namespace {

// The smallest radius whose rings no longer fit, per pass (64 rings of 2R+1 slots).
int GlobalRadius(Slot s, bool rows) {
    if (s == Slot::C64 || s == Slot::C64A) return 12;
    return s == Slot::P16 && rows ? 48 : 24;
}

// R = 0, tables in shared memory, rings only (a longer table no longer fits), no shared
// memory (rings too large), the largest radius whose natural table still fits, mixtures.
class SeparableSweep : public ::testing::TestWithParam<Slot> {};

TEST_P(SeparableSweep, EveryFormInEveryThreadOrderMatchesReference) {
    const Slot s = GetParam();
    const int gh = GlobalRadius(s, true), gv = GlobalRadius(s, false), big = 3000;
    const bool wide = s == Slot::C64 || s == Slot::C64A;
    CheckEveryForm(s, {{0, 0, 0, 0}, {1, 2, 0, 0}, {3, 2, big, big}, {gh, 1, 0, 0}, {2, gv, big, 0},
                       {wide ? 10 : 16, wide ? 11 : 17, 0, 0}, {gh, gv, 0, 0}});
}

INSTANTIATE_TEST_SUITE_P(Layouts, SeparableSweep,
                         ::testing::Values(Slot::C32, Slot::C64, Slot::C32A, Slot::C64A, Slot::P8, Slot::P16), SlotName);

// One pixel through two passes of radius 0 (weights w, then 1): the row pass's conversion
// decides and the column pass reproduces it. Byte sums round half up and wrap; 16-bit
// sums truncate toward zero and saturate; lane 3 is carried through.
TEST(Separable, SumsConvertByLayout) {
    const struct {
        bool wide;
        int value;
        float w;
        int want;
    } cases[] = {{false, 1, 254.49f, 254}, {false, 1, 254.5f, 255}, {false, 1, 255.5f, 0}, {false, 1, -0.6f, 0},
                 {false, 1, -1.6f, 255},   {true, 1, 2.9f, 2},       {true, 1, -2.9f, -2},  {true, 20000, 3.0f, 32767},
                 {true, 20000, -3.0f, -32768}};
    for (const auto& c : cases)
        for (Slot s : c.wide ? std::vector<Slot>{Slot::C64, Slot::P16} : std::vector<Slot>{Slot::C32, Slot::P8}) {
            const int bpp = ConvBytesPerPixel(Layout(s)), lanes = bpp / (c.wide ? 2 : 1);
            HostFrame src(1, 1, bpp, 0), dst = src;
            for (int i = 0; i < lanes; ++i) {
                const int16_t v = int16_t(i == 3 ? -7 : c.value);
                c.wide ? (void)std::memcpy(src.px(0, 0) + 2 * i, &v, 2) : (void)(src.px(0, 0)[i] = uint8_t(v));
            }
            ASSERT_EQ(RunSlot(s, src, Filter{{c.w}, {1.0f}, 0, 0, 0}, dst), kOk);
            for (int i = 0; i < lanes; ++i) {
                int16_t out = dst.px(0, 0)[i];
                if (c.wide) std::memcpy(&out, dst.px(0, 0) + 2 * i, 2);
                EXPECT_EQ(out, i == 3 ? (c.wide ? -7 : 249) : c.want) << Name(s) << " lane " << i << " weight " << c.w;
            }
        }
}

// Alpha-weighted windows on a 3x1 row, radius 1, weights 1/4 1/2 1/4 (borders 1/4 3/4):
// only the middle pixel visible gives its colour everywhere with the alpha weighted; a
// fully transparent row gives colour 0 and alpha 0.
TEST(Separable, AlphaWeightsColoursByTheirAlpha) {
    const Filter f{{0.25f, 0.75f, 0.25f, 0.5f, 0.25f, 0.75f, 0.25f}, {1.0f}, 1, 0, 0};
    const uint8_t row[3][4] = {{10, 20, 30, 0}, {200, 100, 50, 200}, {90, 90, 90, 0}};
    HostFrame src(3, 1, 4, 0), dst = src;
    std::memcpy(src.bytes.data(), row, 12);
    ASSERT_EQ(RunSlot(Slot::C32A, src, f, dst), kOk);
    const uint8_t want[3][4] = {{200, 100, 50, 150}, {200, 100, 50, 100}, {200, 100, 50, 150}};
    EXPECT_EQ(std::memcmp(dst.bytes.data(), want, 12), 0);
    src.px(1, 0)[3] = 0;
    ASSERT_EQ(RunSlot(Slot::C32A, src, f, dst), kOk);
    EXPECT_EQ(dst.bytes, std::vector<uint8_t>(12, 0));
}

// Forms at the budget (strictly below 12288 bytes) with natural tables: C64 table up to
// R 10, rings at 11, none from 12; C32 16 / 17-23 / 24; alpha columns table or nothing;
// P16 rows reserve 2 bytes a slot, P8 rows 4. R = 1 (rings of 768 bytes) with 2880
// entries is exactly the budget. The ring forms of C32 and C64 go through the transpose.
TEST(Separable, PlanFollowsTheSharedMemoryBudget) {
    const struct {
        ConvLayout l;
        int hR, vR, extra;
        ConvForm h, v;
    } cases[] = {
        {ConvLayout::C64, 10, 11, 0, ConvForm::RingTable, ConvForm::Ring},
        {ConvLayout::C64, 12, 12, 0, ConvForm::Global, ConvForm::Global},
        {ConvLayout::C32, 16, 17, 0, ConvForm::RingTable, ConvForm::Ring},
        {ConvLayout::C32, 23, 24, 0, ConvForm::Ring, ConvForm::Global},
        {ConvLayout::C32A, 17, 17, 0, ConvForm::Ring, ConvForm::Global},
        {ConvLayout::P16, 47, 23, 0, ConvForm::Ring, ConvForm::Ring},
        {ConvLayout::P16, 48, 24, 0, ConvForm::Global, ConvForm::Global},
        {ConvLayout::P8, 24, 1, 0, ConvForm::Global, ConvForm::RingTable},
        {ConvLayout::C32, 1, 1, 2880 - 7, ConvForm::Ring, ConvForm::Ring},
        {ConvLayout::C32, 1, 1, 2879 - 7, ConvForm::RingTable, ConvForm::RingTable},
    };
    for (const auto& c : cases) {
        tvf2::SeparableArgs a{};
        a.width = 1000, a.height = 640, a.hRadius = c.hR, a.vRadius = c.vR;
        a.hCount = int(tvf2::WeightTableEntries(1000, c.hR)) + c.extra;
        a.vCount = int(tvf2::WeightTableEntries(640, c.vR)) + c.extra;
        const tvf2::SeparablePlan p = tvf2::PlanSeparable(c.l, a);
        EXPECT_EQ(p.horizontal, c.h) << int(c.l) << " R " << c.hR;
        EXPECT_EQ(p.vertical, c.v) << int(c.l) << " R " << c.vR;
        EXPECT_EQ(p.transpose, c.l <= ConvLayout::C64 && c.v != ConvForm::Global) << int(c.l);
        // One extra block even for a multiple of 64; transpose tiles of 16x16.
        EXPECT_EQ(std::vector<unsigned>({p.hGrid.y, p.vGrid.x, p.tGrid.x, p.tGrid.y}),
                  std::vector<unsigned>({11, 16, 63, 40}));
    }
}

// Invalid value and nothing written, for arguments the slots cannot honour; an empty
// frame writes nothing either (where the transpose's grid is empty the runtime refuses
// it, and the slot returns that verdict).
TEST(Separable, RejectsWhatItCannotHonourAndWritesNothing) {
    HostFrame src(16, 8, 8, 0), dst(16, 8, 8, 0);  // pitch 128: a row of C64, padded C32
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame ds(src), dd(dst), dt(Floats(Table(16, 2, 0, true, false, 3))), work(HostFrame(2 * 16 * 8 * 8, 1, 1, 0));
    const float* w = static_cast<const float*>(dt.get());  // 19 entries, serves 8 too
    const tvf2::SeparableArgs good{dd.get(), ds.get(), 16, 8, 128, 128, w, 19, w, 19, work.get(), 2, 2};
    const std::pair<const char*, std::function<void(tvf2::SeparableArgs&)>> bad[] = {
        {"null destination", [](tvf2::SeparableArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::SeparableArgs& a) { a.src = nullptr; }},
        {"null work area", [](tvf2::SeparableArgs& a) { a.work = nullptr; }},
        {"null row table", [](tvf2::SeparableArgs& a) { a.hWeights = nullptr; }},
        {"null column table", [](tvf2::SeparableArgs& a) { a.vWeights = nullptr; }},
        {"row table one short", [](tvf2::SeparableArgs& a) { a.hCount = 18; }},
        {"column table one short", [](tvf2::SeparableArgs& a) { a.vCount = 18; }},
        {"source pitch below a row", [](tvf2::SeparableArgs& a) { a.srcPitch = 60; }},
        {"destination pitch below a row", [](tvf2::SeparableArgs& a) { a.dstPitch = 60; }},
        {"pitch not a whole pixel", [](tvf2::SeparableArgs& a) { a.srcPitch = 130; }},
        {"negative width", [](tvf2::SeparableArgs& a) { a.width = -16; }},
        {"negative height", [](tvf2::SeparableArgs& a) { a.height = -1; }},
        {"negative radius", [](tvf2::SeparableArgs& a) { a.vRadius = -1; }},
        {"misaligned table", [w](tvf2::SeparableArgs& a) { a.hWeights = reinterpret_cast<const float*>(reinterpret_cast<const char*>(w) + 2); }},
    };
    for (Slot s : {Slot::C32, Slot::C32A, Slot::C64})
        for (const auto& b : bad) {
            tvf2::SeparableArgs a = good;
            b.second(a);
            EXPECT_EQ(CallSeparable(s, a), kInvalidValue) << Name(s) << ": " << b.first;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.first;
        }
    HostFrame out = dst;
    dd.download(out);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
    for (Slot s : {Slot::C32, Slot::C64, Slot::C32A, Slot::C64A, Slot::P8, Slot::P16})
        for (auto wh : {std::make_pair(0, 8), std::make_pair(8, 0)}) {
            HostFrame empty(wh.first, wh.second, ConvBytesPerPixel(Layout(s)), 64);
            FillRandom(empty, 4);
            HostFrame out = empty;
            const bool transposes = s == Slot::C32 || s == Slot::C64;
            EXPECT_EQ(RunSlot(s, empty, Filter{{1.0f}, {1.0f}, 0, 0, 0}, out), transposes ? kInvalidConfiguration : kOk) << Name(s);
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
            EXPECT_EQ(out.bytes, empty.bytes) << Name(s);
        }
    for (Slot s : {Slot::C32, Slot::C32A, Slot::C64}) EXPECT_EQ(CallSeparable(s, good), kOk) << "unedited " << Name(s);
}

// Every window sums to 1 (renormalised at the borders), the centre window is symmetric,
// Box border windows are flat and the Gaussian falls off from the centre; entries:
// 3R^2 + 3R + 1 from a line of exactly 2R+1 on, every window the whole line below.
TEST(WeightTable, WindowsAreRenormalisedAndLaidOutInReadingOrder) {
    EXPECT_EQ(tvf2::WeightTableEntries(100, 3), 37);
    EXPECT_EQ(tvf2::WeightTableEntries(7, 3), 37);
    EXPECT_EQ(tvf2::WeightTableEntries(3, 3), 9);
    EXPECT_EQ(tvf2::WeightTableEntries(0, 4), 0);
    for (auto shape : {tvf2::WindowShape::Gaussian, tvf2::WindowShape::Box})
        for (auto nr : {std::make_pair(40, 4), std::make_pair(5, 4), std::make_pair(9, 4), std::make_pair(1, 0)}) {
            const int n = nr.first, r = nr.second;
            const std::vector<float> t = tvf2::BuildWeightTable(shape, n, r);
            ASSERT_EQ(static_cast<long long>(t.size()), tvf2::WeightTableEntries(n, r));
            const std::vector<RefWindow> wins = RefWindows(n, r);
            for (int p = 0; p < n; ++p) {
                const RefWindow& win = wins[p];
                const int last = win.first + (win.centre ? 2 * r : win.hi - win.lo);
                double sum = 0;
                for (int k = win.first; k <= last; ++k) sum += t[k];
                EXPECT_NEAR(sum, 1.0, 1e-6) << "n " << n << " r " << r << " p " << p;
                for (int j = 0; (win.centre || shape == tvf2::WindowShape::Box) && win.first + j < last - j; ++j)
                    EXPECT_EQ(t[win.first + j], t[last - j]) << "n " << n << " p " << p;
            }
        }
    const std::vector<float> g = tvf2::BuildWeightTable(tvf2::WindowShape::Gaussian, 40, 4);
    const int c = RefWindows(40, 4)[20].first;
    EXPECT_LT(g[c], g[c + 3]);
    EXPECT_LT(g[c + 3], g[c + 4]);
}

}  // namespace
