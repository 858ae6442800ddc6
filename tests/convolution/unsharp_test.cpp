// Slots 19 and 20: the reference in every kernel form, values worked out by hand, the
// launcher's plan at the shared-memory budget, and what the slots refuse.
#include "conv_slots.h"

#include <functional>

using namespace tvf2test;

namespace {

// Tables in shared memory, rings only (a longer table no longer fits), no shared memory
// (R >= 24), the largest radius whose natural table fits (16) and the first that does not.
class UnsharpSweep : public ::testing::TestWithParam<Slot> {};

TEST_P(UnsharpSweep, EveryFormInEveryThreadOrderMatchesReference) {
    CheckEveryForm(GetParam(), {{0, 0, 0, 0}, {1, 1, 0, 3000}, {2, 2, 3000, 0}, {16, 16, 0, 0}, {17, 17, 0, 0}, {24, 24, 0, 0}});
}

INSTANTIATE_TEST_SUITE_P(Layouts, UnsharpSweep, ::testing::Values(Slot::UnsharpC32, Slot::UnsharpC32A), SlotName);

// The mask on src with radius r and tables of constant weight w (vw in the column table
// if given), into a random destination.
HostFrame Constant(Slot s, const HostFrame& src, int r, float w, int amount, float vw = -1.0f) {
    HostFrame out = src;
    FillRandom(out, 99);
    const Filter f{std::vector<float>(size_t(tvf2::WeightTableEntries(src.width, r)), w),
                   std::vector<float>(size_t(tvf2::WeightTableEntries(src.height, r)), vw < 0 ? w : vw), r, r, amount};
    EXPECT_EQ(RunSlot(s, src, f, out), kOk);
    return out;
}

HostFrame Flat(int w, int h, uint8_t colour, uint8_t alpha) {
    HostFrame f(w, h, 4, 0);
    for (int i = 0; i < w * h; ++i) f.bytes[4 * i] = f.bytes[4 * i + 1] = f.bytes[4 * i + 2] = colour, f.bytes[4 * i + 3] = alpha;
    return f;
}

TEST(Unsharp, HandWorkedValues) {
    HostFrame src(37, 21, 4, 0);
    FillRandomAlpha(src, 5);
    for (Slot s : {Slot::UnsharpC32, Slot::UnsharpC32A}) {
        const bool alpha = s == Slot::UnsharpC32A;
        // Radius 0 with weight 1: the blur is the identity, whatever the amount (with
        // alpha only where alpha > 0; elsewhere the colours become 0). Amount 0: the
        // source, whatever the tables.
        const HostFrame identity = Constant(s, src, 0, 1.0f, 700), zero = Constant(s, src, 3, 0.37f, 0);
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x)
                for (int i = 0; i < 4; ++i) {
                    const bool visible = !alpha || src.px(x, y)[3] > 0;
                    ASSERT_TRUE(i == 3 || !visible || identity.px(x, y)[i] == src.px(x, y)[i]) << x << "," << y;
                    ASSERT_TRUE((i == 3 && !alpha) || zero.px(x, y)[i] == src.px(x, y)[i]) << Name(s) << " " << x << "," << y;
                }
    }
    // A flat 100 with one pixel of 160, weights 1/3, radius 1, amount 256 (f = 1): rows
    // give 120 at (1..3, 2), the column blur at the spike (100 + 120 + 100) / 3, so 160 +
    // (160 - 106.67) -> 213, and its neighbours above fall below 100. A constant table is
    // not renormalised: the corner blurs to 4/9 of 100 -> 155. Byte 3 is never written.
    HostFrame spike = Flat(5, 5, 100, 255);
    spike.px(2, 2)[0] = 160;
    HostFrame out = Constant(Slot::UnsharpC32, spike, 1, 1.0f / 3.0f, 256), before = spike;
    FillRandom(before, 99);
    EXPECT_EQ(out.px(2, 2)[0], 213);
    EXPECT_LT(out.px(2, 1)[0], 100);
    EXPECT_EQ(out.px(0, 0)[0], 155);
    EXPECT_EQ(out.px(2, 2)[1], 100);
    EXPECT_EQ(out.px(4, 4)[3], before.px(4, 4)[3]);
    // o + (o - b) * f rounded once: 137 + (137 - 116.168625) * (-510 / 256) = 95.4999924
    // gives 95, where a separately rounded product would reach 95.5 and give 96.
    EXPECT_EQ(Constant(Slot::UnsharpC32, Flat(1, 1, 137, 255), 0, 1.0f, -510, 0x1.b226p-1f).px(0, 0)[0], 95);
    // A transparent frame blurs to colour 0 and alpha 0: colours double, alpha stays 0.
    HostFrame clear(9, 7, 4, 0);
    FillRandom(clear, 8);
    for (int i = 0; i < 63; ++i) clear.bytes[4 * i + 3] = 0;
    out = Constant(Slot::UnsharpC32A, clear, 2, 0.2f, 256);
    for (int i = 0; i < 63 * 4; ++i) ASSERT_EQ(out.bytes[i], i % 4 == 3 ? 0 : std::min(255, 2 * clear.bytes[i])) << i;
}

// The natural table of R 16 (T = 8448 bytes of rings) fits with rings, a longer one
// falls to rings only; a short count still fits at R 23; none from R 24. Grids of
// ceil(n / 64) blocks, at most 1000.
TEST(Unsharp, PlanFollowsTheSharedMemoryBudget) {
    const struct {
        int r, hCount, vCount, w, h;
        ConvForm rows, columns;
        unsigned hGrid, vGrid;
    } cases[] = {{16, 817, 2880 - 8, 1000, 64000, ConvForm::RingTable, ConvForm::Ring, 1000, 16},
                 {23, 0, 919, 1000, 64000, ConvForm::RingTable, ConvForm::Ring, 1000, 16},
                 {23, 1657, 1657, 1000, 64000, ConvForm::Ring, ConvForm::Ring, 1000, 16},
                 {24, 0, 0, 64, 65, ConvForm::Global, ConvForm::Global, 2, 1}};
    for (const auto& c : cases) {
        tvf2::UnsharpArgs a{};
        a.width = c.w, a.height = c.h, a.radius = c.r, a.hCount = c.hCount, a.vCount = c.vCount;
        const tvf2::UnsharpPlan p = tvf2::PlanUnsharp(a);
        EXPECT_EQ(p.rows, c.rows) << c.r;
        EXPECT_EQ(p.columns, c.columns) << c.r;
        EXPECT_EQ(p.hGrid.y, c.hGrid);
        EXPECT_EQ(p.vGrid.x, c.vGrid);
    }
}

// Invalid value and nothing written, for arguments the masks cannot honour; an empty
// frame: the runtime refuses the pass whose grid is empty (the column pass is then not
// queued), and nothing is written.
TEST(Unsharp, RejectsWhatItCannotHonourAndWritesNothing) {
    HostFrame src(16, 8, 4, 0), dst(16, 8, 4, 0);
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame ds(src), dd(dst), dm(dst), dt(Floats(Table(16, 2, 0, true, false, 3)));
    const float* w = static_cast<const float*>(dt.get());  // 19 entries, serves 8 too
    const tvf2::UnsharpArgs good{dd.get(), 64, ds.get(), 64, dm.get(), 64, 16, 8, 2, 100, w, 19, w, 19};
    const std::pair<const char*, std::function<void(tvf2::UnsharpArgs&)>> bad[] = {
        {"null destination", [](tvf2::UnsharpArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::UnsharpArgs& a) { a.src = nullptr; }},
        {"null intermediate", [](tvf2::UnsharpArgs& a) { a.mid = nullptr; }},
        {"null row table", [](tvf2::UnsharpArgs& a) { a.hWeights = nullptr; }},
        {"null column table", [](tvf2::UnsharpArgs& a) { a.vWeights = nullptr; }},
        {"row table one short", [](tvf2::UnsharpArgs& a) { a.hCount = 18; }},
        {"column table one short", [](tvf2::UnsharpArgs& a) { a.vCount = 18; }},
        {"intermediate pitch below a row", [](tvf2::UnsharpArgs& a) { a.midPitch = 60; }},
        {"destination pitch not a whole pixel", [](tvf2::UnsharpArgs& a) { a.dstPitch = 66; }},
        {"negative source pitch", [](tvf2::UnsharpArgs& a) { a.srcPitch = -64; }},
        {"negative height", [](tvf2::UnsharpArgs& a) { a.height = -8; }},
        {"negative radius", [](tvf2::UnsharpArgs& a) { a.radius = -1; }},
    };
    for (bool alpha : {false, true}) {
        for (const auto& b : bad) {
            tvf2::UnsharpArgs a = good;
            b.second(a);
            EXPECT_EQ(CallUnsharp(alpha, a), kInvalidValue) << b.first;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.first;
        }
        for (auto wh : {std::make_pair(8, 0), std::make_pair(0, 8)}) {
            tvf2::UnsharpArgs a = good;
            a.width = wh.first, a.height = wh.second, a.radius = 0;
            EXPECT_EQ(CallUnsharp(alpha, a), kInvalidConfiguration);
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
        }
    }
    HostFrame out = dst, outMid = dst;
    dd.download(out);
    dm.download(outMid);
    EXPECT_EQ(out.bytes, dst.bytes) << DescribeDifference(dst, out);
    EXPECT_EQ(outMid.bytes, dst.bytes) << DescribeDifference(dst, outMid);
    EXPECT_EQ(CallUnsharp(false, good), kOk) << "the unedited arguments are fine";
}

}  // namespace
