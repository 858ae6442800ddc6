// Slots 31 to 36 against the sequential reference, bit for bit, in every kernel form.
#include "../common/frames.h"
#include "../common/module.h"
#include "convolution/separable.h"
#include "convolution/weight_table.h"
#include "convolution_reference.h"
#include "test_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace tvf2test;
using tvf2::ConvForm;
using tvf2::ConvLayout;

namespace {

const ConvRef kLayouts[] = {ConvRef::C32, ConvRef::C64, ConvRef::C32A, ConvRef::C64A, ConvRef::P8, ConvRef::P16};

const char* Name(ConvRef l) {
    static const char* const names[] = {"C32", "C64", "C32A", "C64A", "P8", "P16"};
    return names[int(l)];
}
bool IsAlpha(ConvRef l) { return l == ConvRef::C32A || l == ConvRef::C64A; }
[[maybe_unused]] bool IsWide(ConvRef l) { return l == ConvRef::C64 || l == ConvRef::C64A || l == ConvRef::P16; }

// The smallest radius whose rings no longer fit, per pass (64 rings of 2R+1 slots).
int GlobalRadius(ConvRef l, bool rows) {
    if (l == ConvRef::C64 || l == ConvRef::C64A) return 12;
    if (l == ConvRef::P16 && rows) return 48;
    return 24;
}

int Call(ConvRef l, const tvf2::SeparableArgs& a) {
    auto* fs = FuncSet();
    switch (l) {
    case ConvRef::C32:
        return fs->SeparableConvolve_C32(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    case ConvRef::C64:
        return fs->SeparableConvolve_C64(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    case ConvRef::C32A:
        return fs->SeparableConvolveAlpha_C32A(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    case ConvRef::C64A:
        return fs->SeparableConvolveAlpha_C64A(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    case ConvRef::P8:
        return fs->SeparableConvolve_P8(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    case ConvRef::P16:
        return fs->SeparableConvolve_P16(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount, a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
    }
    return -1;
}

void FillSource(ConvRef l, HostFrame& f, uint32_t seed) {
    if (l == ConvRef::C32A) return FillRandomAlpha(f, seed);
    FillRandom(f, seed);
    if (l != ConvRef::C64A) return;
    // 16-bit alphas 0 .. 32767, a share of them fully transparent or opaque.
    std::mt19937 rng(seed + 3);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const uint32_t k = rng() % 8;
            const int16_t a = k == 0 ? 0 : k == 1 ? 32767 : int16_t(rng() % 32768);
            std::memcpy(f.px(x, y) + 6, &a, 2);
        }
}

struct Case {
    ConvRef layout;
    int w, h, pad;
    int hR, vR, hExtra, vExtra;
    uint32_t seed;
    bool gaussian;
};

std::string Describe(const Case& c) {
    return std::string(Name(c.layout)) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
           " pad " + std::to_string(c.pad) + " radii " + std::to_string(c.hR) + "," +
           std::to_string(c.vR) + " extra " + std::to_string(c.hExtra) + "," +
           std::to_string(c.vExtra) + (c.gaussian ? " gaussian" : " random") + " seed " +
           std::to_string(c.seed);
}

// Byte comparison; on the GPU the alpha layouts' colours may move by one step where the
// device's approximate reciprocal differs from the exact one.
bool Same(ConvRef l, const HostFrame& e, const HostFrame& a) {
#if defined(TVF2_TEST_CUDA)
    if (IsAlpha(l)) {
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x)
                for (int i = 0; i < 4; ++i) {
                    int ev, av;
                    if (IsWide(l)) {
                        int16_t s, t;
                        std::memcpy(&s, e.px(x, y) + 2 * i, 2);
                        std::memcpy(&t, a.px(x, y) + 2 * i, 2);
                        ev = s, av = t;
                    } else {
                        ev = e.px(x, y)[i], av = a.px(x, y)[i];
                    }
                    const int d = IsWide(l) ? std::abs(ev - av) : std::min((ev - av) & 255, (av - ev) & 255);
                    if (d > (i < 3 ? 1 : 0)) return false;
                }
        return true;
    }
#endif
    (void)l;
    return e.bytes == a.bytes;
}

// Runs one case through the slot and the reference; the destination starts random so
// that its padding is checked as well.
::testing::AssertionResult Matches(const Case& c, std::set<std::pair<int, ConvForm>>* seen = nullptr) {
    const int bpp = ConvBytesPerPixel(c.layout);
    HostFrame src(c.w, c.h, bpp, c.pad), dst(c.w, c.h, bpp, c.pad + 2 * bpp);
    FillSource(c.layout, src, c.seed);
    FillRandom(dst, c.seed + 1);
    const bool nonNeg = IsAlpha(c.layout);
    const std::vector<float> ht = Table(c.w, c.hR, c.hExtra, c.gaussian, nonNeg, c.seed + 2);
    const std::vector<float> vt = Table(c.h, c.vR, c.vExtra, c.gaussian, nonNeg, c.seed + 3);
    HostFrame expected = dst;
    SeparableReference(c.layout, src, ht, c.hR, vt, c.vR, expected);

    DeviceFrame ds(src), dd(dst);
    DeviceBuffer dh(ht.data(), ht.size() * 4), dv(vt.data(), vt.size() * 4);
    std::vector<uint8_t> junk(static_cast<size_t>(c.w) * c.h * 16 + 16);
    std::mt19937 rng(c.seed + 4);
    for (auto& b : junk) b = uint8_t(rng());
    DeviceBuffer work(junk.data(), junk.size());
    const tvf2::SeparableArgs a{dd.get(), ds.get(), c.w, c.h, dd.pitch(), ds.pitch(), static_cast<const float*>(dh.p),
                                int(ht.size()), static_cast<const float*>(dv.p), int(vt.size()), work.p, c.hR, c.vR};
    if (seen) {
        const tvf2::SeparablePlan p = tvf2::PlanSeparable(ConvLayout(int(c.layout)), a);
        seen->insert({0, p.horizontal});
        seen->insert({1, p.vertical});
    }
    const int status = Call(c.layout, a);
    if (status != kOk) return ::testing::AssertionFailure() << Describe(c) << ": status " << status;
    HostFrame actual = dst;
    dd.download(actual);
    if (!Same(c.layout, expected, actual))
        return ::testing::AssertionFailure() << Describe(c) << ": " << DescribeDifference(expected, actual);
    return ::testing::AssertionSuccess();
}

// Radii and extra table entries that select every form of both passes: R = 0, tables
// in shared memory, rings only (a longer table no longer fits), no shared memory (rings
// too large), the largest radius whose natural table still fits, and mixtures.
struct Radii {
    int hR, vR, hExtra, vExtra;
};
std::vector<Radii> FormRadii(ConvRef l) {
    const int gh = GlobalRadius(l, true), gv = GlobalRadius(l, false);
    const int big = 3000;
    const bool wide = l == ConvRef::C64 || l == ConvRef::C64A;
    return {{0, 0, 0, 0}, {1, 2, 0, 0}, {3, 2, big, big}, {gh, 1, 0, 0}, {2, gv, big, 0},
            {wide ? 10 : 16, wide ? 11 : 17, 0, 0}, {gh, gv, 0, 0}};
}

std::vector<Case> Sweep(ConvRef l) {
    std::vector<Case> cases;
    uint32_t seed = 500u + 10000u * unsigned(l);
    for (const Radii& r : FormRadii(l)) {
        // Tiny lines, lines shorter than 2R+1, exactly 2R+1, and frames of several blocks.
        const std::vector<std::pair<int, int>> sizes = {
            {1, 1}, {5, 3}, {2 * r.hR + 1, 2 * r.vR + 1}, {2 * r.hR + 2, 2 * r.vR}, {70, 66}};
        for (auto s : sizes) {
            if (s.first < 1 || s.second < 1) continue;
            const int pad = int(seed % 3) * 8;
            cases.push_back(Case{l, s.first, s.second, pad, r.hR, r.vR, r.hExtra, r.vExtra, seed, seed % 4 == 0});
            ++seed;
        }
    }
    return cases;
}

class SeparableSweep : public ::testing::TestWithParam<ConvRef> {};

TEST_P(SeparableSweep, EveryFormMatchesReference) {
    std::set<std::pair<int, ConvForm>> seen;
    for (const Case& c : Sweep(GetParam())) ASSERT_TRUE(Matches(c, &seen));
    // Both passes went through every form they have (alpha columns have no rings-only form).
    for (ConvForm f : {ConvForm::Global, ConvForm::Ring, ConvForm::RingTable}) {
        EXPECT_TRUE(seen.count({0, f})) << "row form " << int(f);
        if (!(IsAlpha(GetParam()) && f == ConvForm::Ring)) {
            EXPECT_TRUE(seen.count({1, f})) << "column form " << int(f);
        }
    }
}

TEST_P(SeparableSweep, MatchesReferenceInEveryThreadOrder) {
    const ConvRef l = GetParam();
    ForEachThreadOrder([&] {
        uint32_t seed = 77;
        for (const Radii& r : FormRadii(l))
            ASSERT_TRUE(Matches(Case{l, 67, 65, 16, r.hR, r.vR, r.hExtra, r.vExtra, seed++, false}));
    });
}

std::string LayoutName(const ::testing::TestParamInfo<ConvRef>& info) { return Name(info.param); }

INSTANTIATE_TEST_SUITE_P(Layouts, SeparableSweep, ::testing::ValuesIn(kLayouts), LayoutName);

// One pixel through two passes of radius 0 (weights w, then 1): the row pass's
// conversion decides, and the column pass reproduces its value.
template <class T>
T FilterOnePixel(ConvRef l, T value, float w, T lane3 = T(0)) {
    const int bpp = ConvBytesPerPixel(l);
    HostFrame src(1, 1, bpp, 0), dst(1, 1, bpp, 0);
    T lanes[4] = {value, value, value, lane3};
    std::memcpy(src.px(0, 0), lanes, bpp);
    DeviceFrame ds(src), dd(dst);
    const float hw = w, vw = 1.0f;
    DeviceBuffer dh(&hw, 4), dv(&vw, 4), work(64);
    const tvf2::SeparableArgs a{dd.get(), ds.get(), 1, 1, bpp, bpp, static_cast<const float*>(dh.p), 1,
                                static_cast<const float*>(dv.p), 1, work.p, 0, 0};
    EXPECT_EQ(Call(l, a), kOk);
    dd.download(dst);
    T out[4];
    std::memcpy(out, dst.px(0, 0), bpp);
    if (bpp / int(sizeof(T)) == 4 && !IsAlpha(l)) {
        EXPECT_EQ(out[1], out[0]);
        EXPECT_EQ(out[3], lane3) << "lane 3 carried through";
    }
    return out[0];
}

TEST(Separable, ByteSumsRoundHalfUpAndWrap) {
    for (ConvRef l : {ConvRef::C32, ConvRef::P8}) {
        SCOPED_TRACE(Name(l));
        EXPECT_EQ(FilterOnePixel<uint8_t>(l, 1, 254.49f, 9), 254);
        EXPECT_EQ(FilterOnePixel<uint8_t>(l, 1, 254.5f, 9), 255);
        EXPECT_EQ(FilterOnePixel<uint8_t>(l, 1, 255.5f, 9), 0);
        EXPECT_EQ(FilterOnePixel<uint8_t>(l, 1, -0.6f, 9), 0);
        EXPECT_EQ(FilterOnePixel<uint8_t>(l, 1, -1.6f, 9), 255);
    }
}

TEST(Separable, WideSumsTruncateTowardZeroAndSaturate) {
    for (ConvRef l : {ConvRef::C64, ConvRef::P16}) {
        SCOPED_TRACE(Name(l));
        EXPECT_EQ(FilterOnePixel<int16_t>(l, 1, 2.9f, -7), 2);
        EXPECT_EQ(FilterOnePixel<int16_t>(l, 1, -2.9f, -7), -2);
        EXPECT_EQ(FilterOnePixel<int16_t>(l, 20000, 3.0f, -7), 32767);
        EXPECT_EQ(FilterOnePixel<int16_t>(l, 20000, -3.0f, -7), -32768);
    }
}

// Alpha-weighted windows worked out by hand on a 3x1 row, radius 1, weights 1/4 1/2 1/4.
TEST(Separable, AlphaWeightsColoursByTheirAlpha) {
    const float row[] = {0.25f, 0.75f, 0.25f, 0.5f, 0.25f, 0.75f, 0.25f};  // 3R^2+3R+1 = 7
    const float one = 1.0f;
    struct Px { uint8_t c[4]; };
    auto run = [&](Px a, Px b, Px c) {
        HostFrame src(3, 1, 4, 0), dst(3, 1, 4, 0);
        std::memcpy(src.px(0, 0), a.c, 4), std::memcpy(src.px(1, 0), b.c, 4), std::memcpy(src.px(2, 0), c.c, 4);
        DeviceFrame ds(src), dd(dst);
        DeviceBuffer dh(row, sizeof row), dv(&one, 4), work(12);
        EXPECT_EQ(FuncSet()->SeparableConvolveAlpha_C32A(dd.get(), ds.get(), 3, 1, 12, 12, static_cast<const float*>(dh.p), 7,
                                                         static_cast<const float*>(dv.p), 1, work.p, 1, 0), kOk);
        dd.download(dst);
        return dst;
    };
    // Only the middle pixel is visible: its colour everywhere, alpha weighted.
    HostFrame out = run(Px{{10, 20, 30, 0}}, Px{{200, 100, 50, 200}}, Px{{90, 90, 90, 0}});
    const uint8_t centre[] = {200, 100, 50, 100}, edge[] = {200, 100, 50, 150};
    EXPECT_EQ(std::memcmp(out.px(1, 0), centre, 4), 0);
    EXPECT_EQ(std::memcmp(out.px(0, 0), edge, 4), 0);  // position 0: weights 1/4 (self), 3/4
    // Fully transparent: colour 0 and alpha 0.
    out = run(Px{{10, 20, 30, 0}}, Px{{200, 100, 50, 0}}, Px{{90, 90, 90, 0}});
    for (int x = 0; x < 3; ++x)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out.px(x, 0)[i], 0);
}

TEST(Separable, PlanFollowsTheSharedMemoryBudget) {
    auto plan = [](ConvLayout l, int hR, int vR, int extra = 0) {
        tvf2::SeparableArgs a{};
        a.width = 1000, a.height = 640;
        a.hRadius = hR, a.vRadius = vR;
        a.hCount = int(tvf2::WeightTableEntries(1000, hR)) + extra;
        a.vCount = int(tvf2::WeightTableEntries(640, vR)) + extra;
        return tvf2::PlanSeparable(l, a);
    };
    // Natural tables: C64 table up to R 10, rings at 11, none from 12; C32 16 / 17-23 / 24.
    EXPECT_EQ(plan(ConvLayout::C64, 10, 11).horizontal, ConvForm::RingTable);
    EXPECT_EQ(plan(ConvLayout::C64, 11, 11).horizontal, ConvForm::Ring);
    EXPECT_EQ(plan(ConvLayout::C64, 12, 12).horizontal, ConvForm::Global);
    EXPECT_EQ(plan(ConvLayout::C32, 16, 17).horizontal, ConvForm::RingTable);
    EXPECT_EQ(plan(ConvLayout::C32, 16, 17).vertical, ConvForm::Ring);
    EXPECT_EQ(plan(ConvLayout::C32, 23, 24).horizontal, ConvForm::Ring);
    EXPECT_EQ(plan(ConvLayout::C32, 23, 24).vertical, ConvForm::Global);
    EXPECT_FALSE(plan(ConvLayout::C32, 23, 24).transpose) << "the plain column pass writes dst";
    EXPECT_TRUE(plan(ConvLayout::C32, 23, 23).transpose);
    // Alpha columns: table or nothing; planes: P16 rows reserve 2 bytes a slot, P8 rows 4.
    EXPECT_EQ(plan(ConvLayout::C32A, 1, 17).vertical, ConvForm::Global);
    EXPECT_EQ(plan(ConvLayout::C32A, 17, 1).horizontal, ConvForm::Ring);
    EXPECT_FALSE(plan(ConvLayout::C32A, 1, 1).transpose);
    EXPECT_EQ(plan(ConvLayout::P16, 47, 23).horizontal, ConvForm::Ring);
    EXPECT_EQ(plan(ConvLayout::P16, 47, 23).vertical, ConvForm::Ring);
    EXPECT_EQ(plan(ConvLayout::P16, 48, 24).horizontal, ConvForm::Global);
    EXPECT_EQ(plan(ConvLayout::P8, 24, 1).horizontal, ConvForm::Global);
    // Strict comparison: R = 1 (T = 768) with 2880 entries uses exactly 12288 bytes.
    tvf2::SeparablePlan p = plan(ConvLayout::C32, 1, 1, 2880 - 7);
    EXPECT_EQ(p.horizontal, ConvForm::Ring);
    EXPECT_EQ(p.hShared, 768u);
    p = plan(ConvLayout::C32, 1, 1, 2879 - 7);
    EXPECT_EQ(p.horizontal, ConvForm::RingTable);
    EXPECT_EQ(p.hShared, 12284u);
    // Shapes: one extra block even for a multiple of 64; transpose tiles of 16x16.
    EXPECT_EQ(p.hGrid.y, 11u);
    EXPECT_EQ(p.vGrid.x, 16u);
    EXPECT_EQ(p.tGrid.x, 63u);
    EXPECT_EQ(p.tGrid.y, 40u);
    EXPECT_EQ(p.transposeShared, 1024u);
    EXPECT_EQ(plan(ConvLayout::C64, 1, 1).transposeShared, 2048u);
}

// Arguments the slots cannot honour: invalid value, nothing written.
TEST(Separable, RejectsWhatItCannotHonour) {
    HostFrame src(16, 8, 4, 0), dst(16, 8, 4, 0);
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame ds(src), dd(dst);
    const std::vector<float> t = Table(16, 2, 0, true, false, 3);  // 19 entries, serves 8 too
    DeviceBuffer dt(t.data(), t.size() * 4), work(2 * 16 * 8 * 8);
    const float* w = static_cast<const float*>(dt.p);
    const tvf2::SeparableArgs good{dd.get(), ds.get(), 16, 8, 64, 64, w, 19, w, 19, work.p, 2, 2};
    struct Bad {
        const char* what;
        std::function<void(tvf2::SeparableArgs&)> edit;
    } bad[] = {
        {"null destination", [](tvf2::SeparableArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::SeparableArgs& a) { a.src = nullptr; }},
        {"null work area", [](tvf2::SeparableArgs& a) { a.work = nullptr; }},
        {"null row table", [](tvf2::SeparableArgs& a) { a.hWeights = nullptr; }},
        {"null column table", [](tvf2::SeparableArgs& a) { a.vWeights = nullptr; }},
        {"row table one short", [](tvf2::SeparableArgs& a) { a.hCount = 18; }},
        {"column table one short", [](tvf2::SeparableArgs& a) { a.vCount = 18; }},
        {"source pitch below a row", [](tvf2::SeparableArgs& a) { a.srcPitch = 60; }},
        {"destination pitch below a row", [](tvf2::SeparableArgs& a) { a.dstPitch = 60; }},
        {"pitch not a whole pixel", [](tvf2::SeparableArgs& a) { a.srcPitch = 66; }},
        {"negative width", [](tvf2::SeparableArgs& a) { a.width = -16; }},
        {"negative height", [](tvf2::SeparableArgs& a) { a.height = -1; }},
        {"negative radius", [](tvf2::SeparableArgs& a) { a.vRadius = -1; }},
        {"misaligned table", [w](tvf2::SeparableArgs& a) { a.hWeights = reinterpret_cast<const float*>(reinterpret_cast<const char*>(w) + 2); }},
    };
    for (ConvRef l : {ConvRef::C32, ConvRef::C32A}) {
        for (const Bad& b : bad) {
            tvf2::SeparableArgs a = good;
            b.edit(a);
            EXPECT_EQ(Call(l, a), kInvalidValue) << Name(l) << ": " << b.what;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.what;
        }
        EXPECT_EQ(Call(l, good), kOk) << "the unedited arguments are fine";
    }
    HostFrame before = dst;
    FillRandom(dst, 2);
    HostFrame out = dst;
    DeviceFrame fresh(dst);
    tvf2::SeparableArgs a = good;
    a.dst = fresh.get();
    a.hCount = 3;
    EXPECT_EQ(Call(ConvRef::C64, a), kInvalidValue);
    fresh.download(out);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
}

// An empty frame writes nothing; where the transpose's grid is empty the runtime refuses
// it and the slot returns that verdict.
TEST(Separable, EmptyFramesWriteNothing) {
    HostFrame dst(8, 8, 8, 0);
    FillRandom(dst, 4);
    DeviceFrame dd(dst), ds(dst);
    const float w = 1.0f;
    DeviceBuffer dt(&w, 4), work(64);
    const float* t = static_cast<const float*>(dt.p);
    for (ConvRef l : kLayouts) {
        for (auto wh : {std::make_pair(0, 8), std::make_pair(8, 0)}) {
            const tvf2::SeparableArgs a{dd.get(), ds.get(), wh.first, wh.second, 64, 64, t, 1, t, 1, work.p, 0, 0};
            const bool transposes = l == ConvRef::C32 || l == ConvRef::C64;
            EXPECT_EQ(Call(l, a), transposes ? kInvalidConfiguration : kOk) << Name(l);
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
        }
    }
    HostFrame out = dst;
    dd.download(out);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
}

TEST(WeightTable, WindowsAreRenormalisedAndLaidOutInReadingOrder) {
    EXPECT_EQ(tvf2::WeightTableEntries(100, 3), 37);
    EXPECT_EQ(tvf2::WeightTableEntries(7, 3), 37) << "exactly 2R+1";
    EXPECT_EQ(tvf2::WeightTableEntries(3, 3), 9) << "every window is the whole line";
    EXPECT_EQ(tvf2::WeightTableEntries(5, 0), 1);
    EXPECT_EQ(tvf2::WeightTableEntries(0, 4), 0);
    for (auto shape : {tvf2::WindowShape::Gaussian, tvf2::WindowShape::Box})
        for (auto nr : {std::make_pair(40, 4), std::make_pair(5, 4), std::make_pair(9, 4), std::make_pair(1, 0)}) {
            const int n = nr.first, r = nr.second;
            const std::vector<float> t = tvf2::BuildWeightTable(shape, n, r);
            ASSERT_EQ(static_cast<long long>(t.size()), tvf2::WeightTableEntries(n, r));
            const std::vector<RefWindow> wins = RefWindows(n, r);
            for (int p = 0; p < n; ++p) {
                const RefWindow& win = wins[p];
                double sum = 0;
                if (win.centre) {
                    for (int j = 0; j <= 2 * r; ++j) sum += t[win.first + j];
                    for (int j = 0; j < r; ++j) EXPECT_EQ(t[win.first + j], t[win.first + 2 * r - j]);
                } else {
                    for (int k = 0; k <= win.hi - win.lo; ++k) sum += t[win.first + k];
                    if (shape == tvf2::WindowShape::Box) {
                        EXPECT_EQ(t[win.first], t[win.first + win.hi - win.lo]);
                    }
                }
                EXPECT_NEAR(sum, 1.0, 1e-6) << "n " << n << " r " << r << " p " << p;
            }
        }
    // The Gaussian falls off from the centre.
    const std::vector<float> g = tvf2::BuildWeightTable(tvf2::WindowShape::Gaussian, 40, 4);
    const int c = RefWindows(40, 4)[20].first;
    EXPECT_LT(g[c], g[c + 3]);
    EXPECT_LT(g[c + 3], g[c + 4]);
}

}  // namespace
