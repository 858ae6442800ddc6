// Slots 50 to 52 against the sequential reference, bit for bit.
#include "../common/frames.h"
#include "../common/module.h"
#include "effects/mosaic.h"
#include "mosaic_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

// Frames are described in pixels; a YUY2 host frame holds pairs (4 bytes each).
struct Case {
    RefLayout layout;
    int width, height;
    MosaicParams p;
    int pad;
    uint32_t seed;
};

std::string Describe(const Case& c) {
    const char* names[] = {"C32", "C32A", "YUY2"};
    return std::string(names[int(c.layout)]) + " " + std::to_string(c.width) + "x" +
           std::to_string(c.height) + " cell " + std::to_string(c.p.cellW) + "x" +
           std::to_string(c.p.cellH) + " offset " + std::to_string(c.p.offX) + "," +
           std::to_string(c.p.offY) + " pad " + std::to_string(c.pad) + " seed " +
           std::to_string(c.seed);
}

int CallSlot(RefLayout layout, int width, int height, const MosaicParams& p, const void* src,
             int srcPitch, void* dst, int dstPitch) {
    auto* fs = FuncSet();
    switch (layout) {
    case RefLayout::C32:
        return fs->Mosaic_C32(height, width, p.cellH, p.cellW, p.offX, p.offY, src, srcPitch, dst, dstPitch);
    case RefLayout::C32A:
        return fs->Mosaic_C32A(height, width, p.cellH, p.cellW, p.offX, p.offY, src, srcPitch, dst, dstPitch);
    case RefLayout::YUY2:
        return fs->Mosaic_YUY2(height, width, p.cellH, p.cellW, p.offX, p.offY, src, srcPitch, dst, dstPitch);
    }
    return -1;
}

HostFrame MakeFrame(RefLayout layout, int width, int height, int pad) {
    return layout == RefLayout::YUY2 ? HostFrame(width / 2, height, 4, pad) : HostFrame(width, height, 4, pad);
}

// Runs one case on the backend and on the reference; dst starts out random so that
// bytes the mosaic must not write are checked too.
::testing::AssertionResult Matches(const Case& c, bool inPlace = false) {
    HostFrame src = MakeFrame(c.layout, c.width, c.height, c.pad);
    HostFrame dst = MakeFrame(c.layout, c.width, c.height, c.pad + 8);
    c.layout == RefLayout::C32A ? FillRandomAlpha(src, c.seed) : FillRandom(src, c.seed);
    FillRandom(dst, c.seed + 1);
    if (inPlace) dst = src;
    HostFrame expected = dst;
    MosaicReference(c.layout, c.p, src, expected);

    DeviceFrame dsrc(src), ddst(dst);
    const void* s = inPlace ? ddst.get() : dsrc.get();
    int status = CallSlot(c.layout, c.width, c.height, c.p, s, inPlace ? ddst.pitch() : dsrc.pitch(),
                          ddst.get(), ddst.pitch());
    // No cell starts inside the frame: the per-thread form's empty launch shape is the
    // runtime's configuration error; the per-block form launches and finds no cell.
    const bool empty = c.p.offX >= c.width || c.p.offY >= c.height;
    const int want = empty && !MosaicUsesBlocks(c.p) ? kInvalidConfiguration : kOk;
    if (status != want)
        return ::testing::AssertionFailure() << Describe(c) << ": status " << status << ", expected " << want;
    HostFrame actual = dst;
    ddst.download(actual);
    if (FirstDifference(expected, actual) >= 0)
        return ::testing::AssertionFailure() << Describe(c) << (inPlace ? " in place: " : ": ")
                                             << DescribeDifference(expected, actual);
    return ::testing::AssertionSuccess();
}

std::vector<Case> Sweep(RefLayout layout) {
    const bool yuy2 = layout == RefLayout::YUY2;
    const std::vector<int> widths = yuy2 ? std::vector<int>{2, 6, 16, 34, 130} : std::vector<int>{1, 5, 16, 33, 131};
    const std::vector<int> heights = {1, 3, 16, 47};
    // Cells on both sides of the 256-pixel switch, single and multi-pass blocks, thin
    // cells and cells larger than the frame.
    const std::vector<std::pair<int, int>> cells =
        yuy2 ? std::vector<std::pair<int, int>>{{2, 1}, {4, 3}, {8, 8}, {14, 18}, {16, 16}, {16, 17}, {2, 200}, {32, 32}, {64, 40}, {200, 200}}
             : std::vector<std::pair<int, int>>{{1, 1}, {3, 2}, {8, 8}, {15, 17}, {17, 15}, {16, 16}, {7, 40}, {32, 32}, {64, 40}, {200, 200}};
    std::vector<Case> cases;
    uint32_t seed = 1000u + unsigned(layout) * 100000u;
    for (int w : widths)
        for (int h : heights)
            for (auto cell : cells) {
                const int cw = cell.first, ch = cell.second;
                const int ox = yuy2 ? 4 : 5;
                const int step = yuy2 ? 2 : 1;  // the smallest offset change that keeps YUY2 pairs whole
                // Negative offsets stay within one cell: a whole cell outside is refused.
                const std::vector<std::pair<int, int>> offsets = {
                    {0, 0}, {ox, 3}, {-std::min(3 * step, cw - step), -std::min(1, ch - 1)}, {-(cw - step), -(ch - 1)}};
                for (auto off : offsets) {
                    const int pad = int(seed % 3) * 12;  // 0, 12 or 24 bytes of row padding
                    cases.push_back(Case{layout, w, h, MosaicParams{cw, ch, off.first, off.second}, pad, seed++});
                }
            }
    return cases;
}

class MosaicSweep : public ::testing::TestWithParam<RefLayout> {};

TEST_P(MosaicSweep, MatchesReferenceOnRandomFrames) {
    for (const Case& c : Sweep(GetParam())) ASSERT_TRUE(Matches(c));
}

// Every form, in every thread order, on frames whose cells are partial on all sides.
TEST_P(MosaicSweep, MatchesReferenceInEveryThreadOrder) {
    const bool yuy2 = GetParam() == RefLayout::YUY2;
    const std::vector<MosaicParams> params = {{yuy2 ? 6 : 5, 7, yuy2 ? -2 : -3, 2},
                                              {16, 16, 0, 0},
                                              {yuy2 ? 40 : 41, 23, yuy2 ? 4 : 7, -9}};
    ForEachThreadOrder([&] {
        uint32_t seed = 7;
        for (const auto& p : params) ASSERT_TRUE(Matches(Case{GetParam(), 98, 61, p, 20, seed++}));
    });
}

TEST_P(MosaicSweep, InPlaceMatchesReference) {
    const bool yuy2 = GetParam() == RefLayout::YUY2;
    for (int cw : {yuy2 ? 6 : 5, 32})
        ASSERT_TRUE(Matches(Case{GetParam(), 100, 60, MosaicParams{cw, cw, yuy2 ? -2 : -1, 3}, 4, 99u + cw}, true));
}

std::string LayoutName(const ::testing::TestParamInfo<RefLayout>& info) {
    static const char* const names[] = {"C32", "C32A", "YUY2"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Layouts, MosaicSweep,
                         ::testing::Values(RefLayout::C32, RefLayout::C32A, RefLayout::YUY2), LayoutName);

// Cells of many thousand opaque pixels: the float totals of the C32A per-block form
// pass 2^24 and round, so only the exact pass grouping reproduces them.
TEST(Mosaic, LargeAlphaCellsRoundLikeTheBlockReduction) {
    ForEachThreadOrder([] {
        Case c{RefLayout::C32A, 300, 260, MosaicParams{150, 130, 0, 0}, 0, 4242};
        ASSERT_TRUE(Matches(c));
        c.p = MosaicParams{256, 256, -1, -2};  // a multiple of 256 items: one extra zero pass
        ASSERT_TRUE(Matches(c));
    });
}

// Opaque 64x64 cells whose exact mean colour lies on a rounding boundary (x.5): the
// float totals then decide. Grouped by the block's 256-item passes, both cells round to
// 128; summed one by one, or in groups of 128 or 512, one of them rounds to 127.
TEST(Mosaic, FloatTotalsFollowTheBlockPassGrouping) {
    HostFrame f(64, 128, 4, 0);
    const unsigned seeds[] = {142, 250};
    for (int cell = 0; cell < 2; ++cell) {
        std::mt19937 rng(seeds[cell]);
        std::vector<int> c(4096);
        long long sum = 0;
        for (int& v : c) sum += v = int(rng() % 256);
        // Make the exact mean 127.5 or 128.5 by adjusting the last pixel.
        long long last = c[4095] + ((2048 - sum) % 4096 + 4096) % 4096;
        if (last > 255) last -= 4096;
        ASSERT_TRUE(last >= 0 && last <= 255);
        c[4095] = int(last);
        for (int k = 0; k < 4096; ++k) {
            uint8_t* p = f.px(k % 64, cell * 64 + k / 64);
            p[0] = uint8_t(c[k]), p[1] = 0, p[2] = 0, p[3] = 255;
        }
    }
    ForEachThreadOrder([&] {
        DeviceFrame s(f), d(f);
        ASSERT_EQ(FuncSet()->Mosaic_C32A(128, 64, 64, 64, 0, 0, s.get(), s.pitch(), d.get(), d.pitch()), kOk);
        HostFrame out = f;
        d.download(out);
        EXPECT_EQ(out.px(0, 0)[0], 128);
        EXPECT_EQ(out.px(0, 64)[0], 128);
        HostFrame expected = f;
        MosaicReference(RefLayout::C32A, MosaicParams{64, 64, 0, 0}, f, expected);
        EXPECT_EQ(FirstDifference(expected, out), -1) << DescribeDifference(expected, out);
    });
}

TEST(Mosaic, LauncherPicksFormByCellArea) {
    tvf2::MosaicArgs a{100, 100, 17, 15, 0, 0, nullptr, 400, nullptr, 400};
    EXPECT_FALSE(tvf2::PlanMosaic(tvf2::MosaicLayout::C32, a).perBlock);  // 255 pixels
    a.cellH = 16;
    a.cellW = 16;
    tvf2::MosaicPlan p = tvf2::PlanMosaic(tvf2::MosaicLayout::C32, a);
    EXPECT_TRUE(p.perBlock);
    EXPECT_EQ(p.sharedBytes, 3072u);
    EXPECT_EQ(tvf2::PlanMosaic(tvf2::MosaicLayout::C32A, a).sharedBytes, 4096u);
    EXPECT_EQ(tvf2::PlanMosaic(tvf2::MosaicLayout::YUY2, a).sharedBytes, 4096u);
    // 1000 cells across: 1000 / 4 = 250, / 4 again = 62 blocks; 7 cells down stay 7.
    a = tvf2::MosaicArgs{7 * 16, 1000 * 16, 16, 16, 0, 0, nullptr, 64000, nullptr, 64000};
    p = tvf2::PlanMosaic(tvf2::MosaicLayout::C32, a);
    EXPECT_EQ(p.grid.x, 62u);
    EXPECT_EQ(p.grid.y, 7u);
    EXPECT_EQ(p.block.x * p.block.y, 256u);
}

// Values worked out by hand.
TEST(Mosaic, YUY2ChromaIsAveragedPerPair) {
    HostFrame f(8, 16, 4, 0);  // 16 by 16 pixels
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x) {
            uint8_t* p = f.px(x, y);
            p[0] = 10, p[1] = 100, p[2] = 20, p[3] = 200;
        }
    for (int cell : {16, 4}) {  // per-block and per-thread
        DeviceFrame d(f);
        ASSERT_EQ(FuncSet()->Mosaic_YUY2(16, 16, cell, cell, 0, 0, d.get(), d.pitch(), d.get(), d.pitch()), kOk);
        HostFrame out = f;
        d.download(out);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint8_t* p = out.px(x, y);
                ASSERT_EQ(p[0], 15);
                ASSERT_EQ(p[1], 100);
                ASSERT_EQ(p[2], 15);
                ASSERT_EQ(p[3], 200);
            }
    }
}

TEST(Mosaic, AlphaWeightsColourAndAveragesAlpha) {
    for (int cell : {4, 16}) {
        HostFrame f(cell, cell, 4, 0), blank(cell, cell, 4, 0);
        for (int y = 0; y < cell; ++y)
            for (int x = 0; x < cell; ++x) {
                uint8_t* p = f.px(x, y);
                const bool opaque = (x + y) % 2 == 0;
                p[0] = opaque ? 200 : 50, p[1] = 0, p[2] = opaque ? 0 : 90, p[3] = opaque ? 255 : 0;
            }
        for (int y = 0; y < cell; ++y)
            for (int x = 0; x < cell; ++x) blank.px(x, y)[0] = 9, blank.px(x, y)[3] = 0;
        DeviceFrame d(f), t(blank);
        ASSERT_EQ(FuncSet()->Mosaic_C32A(cell, cell, cell, cell, 0, 0, d.get(), d.pitch(), d.get(), d.pitch()), kOk);
        ASSERT_EQ(FuncSet()->Mosaic_C32A(cell, cell, cell, cell, 0, 0, t.get(), t.pitch(), t.get(), t.pitch()), kOk);
        d.download(f);
        t.download(blank);
        const uint8_t* p = f.px(cell - 1, cell - 1);
        EXPECT_EQ(p[0], 200);
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 0);
        EXPECT_EQ(p[3], 128);  // 127.5 rounds up
        for (int i = 0; i < 4; ++i) EXPECT_EQ(blank.px(1, 1)[i], 0) << "transparent cell, byte " << i;
    }
}

TEST(Mosaic, C32ByteThreeKeptPerThreadZeroedPerBlock) {
    for (int cell : {8, 16}) {
        HostFrame f(32, 32, 4, 0);
        FillRandom(f, 5);
        for (auto& b : f.bytes) b |= 1;  // no zero byte anywhere
        DeviceFrame d(f);
        ASSERT_EQ(FuncSet()->Mosaic_C32(32, 32, cell, cell, 0, 0, d.get(), d.pitch(), d.get(), d.pitch()), kOk);
        HostFrame out = f;
        d.download(out);
        for (int x = 0; x < 32; ++x) EXPECT_EQ(out.px(x, 7)[3], cell == 16 ? 0 : f.px(x, 7)[3]);
    }
}

TEST(Mosaic, PositiveOffsetLeavesLeadingColumnsAndRows) {
    HostFrame src(40, 20, 4, 0), dst(40, 20, 4, 0);
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame s(src), d(dst);
    ASSERT_EQ(FuncSet()->Mosaic_C32(20, 40, 8, 8, 5, 3, s.get(), s.pitch(), d.get(), d.pitch()), kOk);
    HostFrame out = dst;
    d.download(out);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            if (x < 5 || y < 3) {
                for (int i = 0; i < 4; ++i) ASSERT_EQ(out.px(x, y)[i], dst.px(x, y)[i]);
            }
}

// A random 32x16 C32 source and destination; the destination must stay as it was.
class MosaicLeavesDestination : public ::testing::Test {
protected:
    MosaicLeavesDestination() : src_(32, 16, 4, 0), dst_(32, 16, 4, 0) {
        FillRandom(src_, 1);
        FillRandom(dst_, 2);
        s_.reset(new DeviceFrame(src_));
        d_.reset(new DeviceFrame(dst_));
    }
    void TearDown() override {
        HostFrame out = dst_;
        d_->download(out);
        EXPECT_EQ(FirstDifference(dst_, out), -1) << DescribeDifference(dst_, out);
    }
    HostFrame src_, dst_;
    std::unique_ptr<DeviceFrame> s_, d_;
};

// Arguments the mosaic cannot honour: invalid value, and nothing is written.
TEST_F(MosaicLeavesDestination, WhenArgumentsCannotBeHonoured) {
    auto* fs = FuncSet();
    const void* sp = s_->get();
    void* dp = d_->get();
    struct Bad {
        const char* what;
        std::function<int()> call;
    } bad[] = {
        {"cell width 0", [&] { return fs->Mosaic_C32(16, 32, 4, 0, 0, 0, sp, 128, dp, 128); }},
        {"cell height -1", [&] { return fs->Mosaic_C32A(16, 32, -1, 4, 0, 0, sp, 128, dp, 128); }},
        {"null source", [&] { return fs->Mosaic_C32(16, 32, 4, 4, 0, 0, nullptr, 128, dp, 128); }},
        {"null destination", [&] { return fs->Mosaic_C32(16, 32, 4, 4, 0, 0, sp, 128, nullptr, 128); }},
        {"source pitch below a row", [&] { return fs->Mosaic_C32(16, 32, 4, 4, 0, 0, sp, 124, dp, 128); }},
        {"destination pitch below a row", [&] { return fs->Mosaic_C32A(16, 32, 4, 4, 0, 0, sp, 128, dp, 127); }},
        {"negative pitch", [&] { return fs->Mosaic_C32(16, 32, 4, 4, 0, 0, sp, -128, dp, 128); }},
        {"negative width", [&] { return fs->Mosaic_C32(16, -32, 4, 4, 0, 0, sp, 128, dp, 128); }},
        {"offset of a whole cell left", [&] { return fs->Mosaic_C32(16, 32, 4, 4, -4, 0, sp, 128, dp, 128); }},
        {"offset of a whole cell up", [&] { return fs->Mosaic_C32(16, 32, 16, 16, 0, -20, sp, 128, dp, 128); }},
        {"YUY2 odd width", [&] { return fs->Mosaic_YUY2(16, 63, 4, 4, 0, 0, sp, 128, dp, 128); }},
        {"YUY2 odd cell width", [&] { return fs->Mosaic_YUY2(16, 64, 4, 3, 0, 0, sp, 128, dp, 128); }},
        {"YUY2 odd offset", [&] { return fs->Mosaic_YUY2(16, 64, 4, 4, 1, 0, sp, 128, dp, 128); }},
        {"destination pitch not a multiple of 4", [&] { return fs->Mosaic_C32A(15, 32, 4, 4, 0, 0, sp, 128, dp, 130); }},
        {"destination not on a 4-byte boundary",
         [&] { return fs->Mosaic_YUY2(15, 62, 4, 4, 0, 0, sp, 128, static_cast<char*>(dp) + 2, 128); }},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(b.call(), kInvalidValue) << b.what;
        EXPECT_EQ(fs->GetLastStatus(), kOk) << b.what << ": a refused call leaves no runtime error";
    }
}

// A lattice with no cell inside the frame: the per-thread form gets an empty launch
// shape, which the runtime refuses; the per-block form launches and writes nothing.
TEST_F(MosaicLeavesDestination, WhenNoCellLiesInsideTheFrame) {
    auto* fs = FuncSet();
    const void* sp = s_->get();
    void* dp = d_->get();
    EXPECT_EQ(fs->Mosaic_C32(16, 32, 4, 4, 32, 0, sp, 128, dp, 128), kInvalidConfiguration);
    EXPECT_EQ(fs->GetLastStatus(), kOk) << "the slot already read and cleared the launch error";
    EXPECT_EQ(fs->Mosaic_C32(16, 32, 16, 16, 40, 0, sp, 128, dp, 128), kOk);
    EXPECT_EQ(fs->Mosaic_C32A(0, 0, 4, 4, 0, 0, sp, 128, dp, 128), kInvalidConfiguration);
}

}  // namespace
