// Slots 16 and 17 against the sequential reference, bit for bit: the output frame and
// the smoothed map the call leaves in the caller's map buffer.
#include "../common/frames.h"
#include "../common/module.h"
#include "displace_reference.h"
#include "effects/displace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tvf2test;

namespace {

struct Case {
    bool alpha;
    int w, h;
    DisplaceParams p;
    uint32_t seed;
    bool smooth = false;  // a smooth edge source (varied map values) instead of noise
};

std::string Describe(const Case& c) {
    return std::string(c.alpha ? "C32A " : "C32 ") + std::to_string(c.w) + "x" + std::to_string(c.h) +
           " limit " + std::to_string(c.p.edgeLimit) + " iterations " + std::to_string(c.p.iterations) +
           " strength " + std::to_string(c.p.strength) + " a " + std::to_string(c.p.cubicA) +
           (c.smooth ? " smooth" : " noise") + " seed " + std::to_string(c.seed);
}

// Buffers of one call, padded per row (keeping the words the kernels load aligned).
struct Frames {
    HostFrame edge, src, dst, map, tmp;
    Frames(const Case& c)
        : edge(c.w, c.h, c.alpha ? 4 : 2, !c.alpha && c.w % 2 ? 6 : 4), src(c.w, c.h, 4, 12), dst(c.w, c.h, 4, 8),
          map(c.w, c.h, 2, c.w % 2 ? 2 : 8), tmp(c.w, c.h, 2, c.w % 2 ? 10 : 4) {
        c.alpha ? FillRandomAlpha(src, c.seed) : FillRandom(src, c.seed);
        FillRandom(dst, c.seed + 1);
        FillRandom(map, c.seed + 2);
        FillRandom(tmp, c.seed + 3);
        if (c.alpha)
            FillRandomAlpha(edge, c.seed + 4);
        else
            FillRandom(edge, c.seed + 4);
        if (c.smooth) {
            // Soft diagonal ramps in byte 0 of the edge source: map values spread over
            // the whole range instead of sitting at the limit.
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    edge.px(x, y)[0] = uint8_t((x * 7 + y * 3 + (x * y) / 5) % 256);
        }
    }
};

int CallSlot(bool alpha, const DeviceFrame& dst, const DeviceFrame& map, const DeviceFrame& tmp,
             const DeviceFrame& src, const DeviceFrame& edge, int w, int h, const DisplaceParams& p) {
    auto* fs = FuncSet();
    auto slot = alpha ? &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32A
                      : &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32;
    return (fs->*slot)(dst.get(), dst.pitch(), map.get(), map.pitch(), tmp.get(), tmp.pitch(), src.get(),
                       src.pitch(), edge.get(), edge.pitch(), w, h, p.edgeLimit, p.iterations, p.strength,
                       p.cubicA);
}

::testing::AssertionResult Matches(const Case& c) {
    Frames f(c);
    HostFrame expected = f.dst;
    const std::vector<int> map = DisplaceReference(c.alpha, c.p, f.edge, f.src, expected);
    DeviceFrame dst(f.dst), dmap(f.map), tmp(f.tmp), src(f.src), edge(f.edge);
    const int status = CallSlot(c.alpha, dst, dmap, tmp, src, edge, c.w, c.h, c.p);
    if (status != kOk) return ::testing::AssertionFailure() << Describe(c) << ": status " << status;
    HostFrame actual = f.dst, actualMap = f.map;
    dst.download(actual);
    dmap.download(actualMap);
    if (FirstDifference(expected, actual) >= 0)
        return ::testing::AssertionFailure() << Describe(c) << ": " << DescribeDifference(expected, actual);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const int got = actualMap.px(x, y)[0] | actualMap.px(x, y)[1] << 8;
            if (got != map[size_t(y) * c.w + x])
                return ::testing::AssertionFailure() << Describe(c) << ": map at x=" << x << " y=" << y
                                                     << " expected " << map[size_t(y) * c.w + x] << ", got " << got;
        }
    return ::testing::AssertionSuccess();
}

class DisplaceSweep : public ::testing::TestWithParam<bool> {};

// Even and odd widths, sizes around the 16x16 and 16x4 blocks and the thin-frame
// shapes, frames with no interior, every iteration count, strengths of both signs,
// limits below, at and above the map's values (the map keeps a value's low byte).
TEST_P(DisplaceSweep, MatchesReference) {
    const bool alpha = GetParam();
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 5}, {6, 2}, {4, 4}, {5, 4}, {4, 7},
                                                    {15, 16}, {16, 17}, {17, 15}, {32, 4}, {33, 5},
                                                    {6, 40}, {50, 9}, {47, 33}, {64, 64}};
    const std::vector<DisplaceParams> params = {
        {255, 0, 1500, -0.5f}, {255, 1, -2300, -1.0f}, {96, 3, 700, -0.75f},  {1000, 2, 40000, 0.4f},
        {0, 1, 3000, -0.5f},   {300, 4, -900, -0.6f},  {-7, 1, 2000, -0.5f},   {256, 1, 0, -0.5f}};
    uint32_t seed = alpha ? 9000 : 1000;
    for (auto size : sizes)
        for (size_t k = 0; k < params.size(); ++k)
            ASSERT_TRUE(Matches(Case{alpha, size.first, size.second, params[k], seed++, k % 2 == 1}));
}

// Every kernel form (pairs and single samples, with and without alpha) in every thread
// order; the 520x200 frame needs more 16x4 blocks than a grid may have, so the
// resampling tiles take grid-stride steps.
TEST_P(DisplaceSweep, EveryFormInEveryThreadOrder) {
    const bool alpha = GetParam();
    ForEachThreadOrder([&] {
        for (int w : {38, 37})
            ASSERT_TRUE(Matches(Case{alpha, w, 21, {200, 2, 1800, -0.5f}, 77u + w, true}));
    });
    ASSERT_TRUE(Matches(Case{alpha, 520, 200, {255, 1, 2500, -0.5f}, 5, true}));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DisplaceSweep, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "C32A" : "C32"; });

// More than 1000 blocks of 16x16: the edge map and smoothing tiles take grid-stride
// steps too.
TEST(Displace, LargeFrameGridStride) {
    ASSERT_TRUE(Matches(Case{false, 1030, 262, {255, 1, 1200, -0.5f}, 31, true}));
}

// Hand-worked: with strength 0 every interior pixel samples itself, except that the
// window of the second-to-last column (row) is clamped to the frame and the pixel takes
// its left (upper) neighbour; the border is copied.
TEST(Displace, ZeroStrengthCopiesButForTheClampedWindow) {
    for (bool alpha : {false, true}) {
        Case c{alpha, 9, 8, {255, 1, 0, -0.5f}, 3};
        Frames f(c);
        if (alpha)
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) f.src.px(x, y)[3] = 255;  // opaque: colours stay exact
        DeviceFrame dst(f.dst), map(f.map), tmp(f.tmp), src(f.src), edge(f.edge);
        ASSERT_EQ(CallSlot(alpha, dst, map, tmp, src, edge, c.w, c.h, c.p), kOk);
        HostFrame out = f.dst;
        dst.download(out);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const bool border = x == 0 || y == 0 || x == c.w - 1 || y == c.h - 1;
                const int sx = !border && x == c.w - 2 ? x - 1 : x, sy = !border && y == c.h - 2 ? y - 1 : y;
                for (int b = 0; b < 4; ++b)
                    ASSERT_EQ(out.px(x, y)[b], f.src.px(sx, sy)[b]) << "alpha " << alpha << " x " << x << " y " << y;
            }
    }
}

// Transparent regions: windows whose alpha rounds to 0 keep the pixel's own colour with
// alpha 0; partly transparent windows divide by the alpha sum.
TEST(Displace, TransparentRegionsInTheAlphaForm) {
    for (int iterations : {0, 2}) {
        Case c{true, 30, 26, {255, iterations, 2600, -0.5f}, 11u + iterations, true};
        Frames f(c);
        HostFrame expected = f.dst;
        for (int y = 4; y < 18; ++y)
            for (int x = 6; x < 20; ++x) f.src.px(x, y)[3] = f.edge.px(x, y)[3] = 0;
        DisplaceReference(true, c.p, f.edge, f.src, expected);
        DeviceFrame dst(f.dst), map(f.map), tmp(f.tmp), src(f.src), edge(f.edge);
        ASSERT_EQ(CallSlot(true, dst, map, tmp, src, edge, c.w, c.h, c.p), kOk);
        HostFrame out = f.dst;
        dst.download(out);
        EXPECT_EQ(FirstDifference(expected, out), -1) << DescribeDifference(expected, out);
        EXPECT_EQ(out.px(12, 10)[3], 0);
        EXPECT_EQ(out.px(12, 10)[0], f.src.px(12, 10)[0]);
    }
}

// Refused arguments: status 11, nothing launched, no buffer written (the map and the
// temporary included). Zero-size frames keep the runtime's verdict on an empty grid.
TEST(Displace, RefusesWhatItCannotHonour) {
    Case c{false, 8, 6, {255, 1, 100, -0.5f}, 5};
    Frames f(c);
    Frames fa(Case{true, 8, 6, c.p, 6});
    DeviceFrame dst(f.dst), map(f.map), tmp(f.tmp), src(f.src), edge(f.edge), edge4(fa.edge);
    auto* fs = FuncSet();
    void* d = dst.get();
    void* m = map.get();
    void* t = tmp.get();
    const void* s = src.get();
    const void* e = edge.get();
    const int dp = dst.pitch(), mp = map.pitch(), tp = tmp.pitch(), sp = src.pitch(), ep = edge.pitch();
    char* mc = static_cast<char*>(m);
    const struct {
        const char* what;
        int status;
    } rows[] = {
        {"null dst", fs->DisplaceByEdgeGradient_C32(nullptr, dp, m, mp, t, tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"null map", fs->DisplaceByEdgeGradient_C32(d, dp, nullptr, mp, t, tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"null tmp", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, nullptr, tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"null src", fs->DisplaceByEdgeGradient_C32A(d, dp, m, mp, t, tp, nullptr, sp, edge4.get(), edge4.pitch(), 8, 6, 255, 1, 100, -0.5f)},
        {"null edge", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, nullptr, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"src is dst", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, d, dp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"dst pitch", fs->DisplaceByEdgeGradient_C32(d, 28, m, mp, t, tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"map pitch", fs->DisplaceByEdgeGradient_C32(d, dp, m, 12, t, tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"tmp pitch 0", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, 0, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"tmp pitch negative", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, -tp, s, sp, e, ep, 8, 6, 255, 1, 100, -0.5f)},
        {"edge pitch (alpha: 4 bytes a pixel)", fs->DisplaceByEdgeGradient_C32A(d, dp, m, mp, t, tp, s, sp, e, 16, 8, 6, 255, 1, 100, -0.5f)},
        {"map misaligned for pairs", fs->DisplaceByEdgeGradient_C32(d, dp, mc + 2, mp, t, tp, s, sp, e, ep, 8, 5, 255, 1, 100, -0.5f)},
        {"negative iterations", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, e, ep, 8, 6, 255, -1, 100, -0.5f)},
        {"negative width", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, e, ep, -8, 6, 255, 1, 100, -0.5f)},
        {"negative height", fs->DisplaceByEdgeGradient_C32A(d, dp, m, mp, t, tp, s, sp, edge4.get(), edge4.pitch(), 8, -1, 255, 1, 100, -0.5f)},
        {"width 3: window outside", fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, e, ep, 3, 6, 255, 1, 100, -0.5f)},
        {"height 3: window outside", fs->DisplaceByEdgeGradient_C32A(d, dp, m, mp, t, tp, s, sp, edge4.get(), edge4.pitch(), 8, 3, 255, 1, 100, -0.5f)},
    };
    for (const auto& r : rows) EXPECT_EQ(r.status, kInvalidValue) << r.what;
    // An empty frame launches an empty grid, which the runtime refuses.
    EXPECT_EQ(fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, e, ep, 0, 6, 255, 1, 100, -0.5f), kInvalidConfiguration);
    EXPECT_EQ(fs->DisplaceByEdgeGradient_C32A(d, dp, m, mp, t, tp, s, sp, edge4.get(), edge4.pitch(), 8, 0, 255, 1, 100, -0.5f), kInvalidConfiguration);
    EXPECT_EQ(fs->GetLastStatus(), kOk);
    HostFrame od = f.dst, om = f.map, ot = f.tmp;
    dst.download(od);
    map.download(om);
    tmp.download(ot);
    EXPECT_EQ(FirstDifference(f.dst, od), -1);
    EXPECT_EQ(FirstDifference(f.map, om), -1);
    EXPECT_EQ(FirstDifference(f.tmp, ot), -1);
    // Frames without interior pixels need no window: 2 wide or 2 high is fine.
    EXPECT_EQ(fs->DisplaceByEdgeGradient_C32(d, dp, m, mp, t, tp, s, sp, e, ep, 2, 6, 255, 1, 100, -0.5f), kOk);
}

TEST(Displace, PlanSharedBytesFollowTheBlockShapes) {
    tvf2::DisplaceArgs a{};
    a.w = 64;
    a.h = 64;  // 16x16 and 16x4 blocks
    tvf2::DisplacePlan p = tvf2::PlanDisplace(tvf2::DisplaceLayout::C32, a);
    EXPECT_TRUE(p.pairs);
    EXPECT_EQ(p.block.x * 100 + p.block.y, 1616u);
    EXPECT_EQ(p.block3.x * 100 + p.block3.y, 1604u);
    EXPECT_EQ(p.edgeBytes, 18u * 18 * 2);
    EXPECT_EQ(p.rowPassBytes, 20u * 16 * 4);
    EXPECT_EQ(p.columnPassBytes, 20u * 16 * 4);
    EXPECT_EQ(p.resampleBytes, 18u * 6 * 2);
    EXPECT_EQ(tvf2::PlanDisplace(tvf2::DisplaceLayout::C32A, a).rowPassBytes, 18u * 16 * 8);
    EXPECT_EQ(tvf2::PlanDisplace(tvf2::DisplaceLayout::C32A, a).edgeBytes, 18u * 18 * 4);
    a.w = 63;
    p = tvf2::PlanDisplace(tvf2::DisplaceLayout::C32, a);
    EXPECT_FALSE(p.pairs);
    EXPECT_EQ(p.edgeBytes, 18u * 18);
    EXPECT_EQ(p.rowPassBytes, 20u * 16 * 2);
    EXPECT_EQ(p.columnPassBytes, 20u * 16 * 2);
}

}  // namespace
