// Slots 12 to 15 against the sequential reference, bit for bit: sizes on both sides of
// the block, grids capped below the frame, every amount range, alpha 0 and 255, every
// thread order; values worked out by hand; the launch plan; what the slots refuse.
#include "../common/frames.h"
#include "../common/module.h"
#include "convolution/sharpen.h"
#include "sharpen_reference.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>

using namespace tvf2test;

namespace {

using tvf2::SharpenKind;

const char* Name(SharpenKind k) {
    static const char* const names[] = {"LaplacianC32", "LaplacianC32A", "EdgeC32", "EdgeC32A"};
    return names[int(k)];
}
std::string KindName(const ::testing::TestParamInfo<SharpenKind>& i) { return Name(i.param); }
bool IsAlpha(SharpenKind k) { return k == SharpenKind::LaplacianC32A || k == SharpenKind::EdgeC32A; }

int Call(SharpenKind k, const tvf2::SharpenArgs& a) {
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    static const decltype(&F::SharpenLaplacian_C32) slots[] = {&F::SharpenLaplacian_C32, &F::SharpenLaplacian_C32A,
                                                                &F::AddEdgeMagnitude_C32, &F::AddEdgeMagnitude_C32A};
    return (FuncSet()->*slots[int(k)])(a.width, a.height, a.amount, a.dst, a.dstPitch, a.src, a.srcPitch);
}

// The slot on device copies; dst keeps its own contents where the slot writes nothing.
int RunSlot(SharpenKind k, const HostFrame& src, int amount, HostFrame& dst) {
    DeviceFrame ds(src), dd(dst);
    const int status = Call(k, {src.width, src.height, amount, dd.get(), dd.pitch(), ds.get(), ds.pitch()});
    dd.download(dst);
    return status;
}

// A random frame (alpha 0 and 255 on a share of the pixels in the alpha forms) through
// the slot and the reference, into a random destination with other padding.
::testing::AssertionResult Matches(SharpenKind k, int w, int h, int amount, uint32_t seed) {
    HostFrame src(w, h, 4, int(seed % 3) * 4), dst(w, h, 4, 12);
    IsAlpha(k) ? FillRandomAlpha(src, seed) : FillRandom(src, seed);
    FillRandom(dst, seed + 1);
    HostFrame expected = dst;
    SharpenReference(SharpenRef(int(k)), src, amount, expected);
    const int status = RunSlot(k, src, amount, dst);
    const std::string what = std::string(Name(k)) + " " + std::to_string(w) + "x" + std::to_string(h) + " amount " +
                             std::to_string(amount) + " seed " + std::to_string(seed);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    if (dst.bytes != expected.bytes) return ::testing::AssertionFailure() << what << ": " << DescribeDifference(expected, dst);
    return ::testing::AssertionSuccess();
}

class SharpenSweep : public ::testing::TestWithParam<SharpenKind> {};

// Blocks are 16x16 (Laplacian) or 8x8 (edge), narrower for thin frames; sizes around
// both, thin frames, and frames of more than 1000 whole blocks (the grid is capped, so
// blocks walk several tiles). Amounts: 0, small, 1/1 (256), large, negative, and
// products beyond 32 bits (they wrap).
TEST_P(SharpenSweep, MatchesReferenceOnEverySizeAndAmount) {
    const SharpenKind k = GetParam();
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {7, 7}, {8, 8}, {9, 9}, {15, 16}, {16, 16}, {17, 17},
                                         {16, 15}, {33, 18}, {5, 40}, {130, 3}, {1, 37}, {300, 1}};
    const int amounts[] = {0, 1, 37, 256, 700, 5000, -1, -256, -5000, 1 << 24, INT_MIN};
    uint32_t seed = 100u * (unsigned(k) + 1);
    for (const auto& s : sizes)
        for (int a : amounts) ASSERT_TRUE(Matches(k, s.first, s.second, a, seed++));
    const bool edge = !(k == SharpenKind::LaplacianC32 || k == SharpenKind::LaplacianC32A);
    ASSERT_TRUE(Matches(k, edge ? 264 : 528, edge ? 257 : 497, 300, seed));
}

TEST_P(SharpenSweep, MatchesReferenceInEveryThreadOrder) {
    const SharpenKind k = GetParam();
    ForEachThreadOrder([&] {
        ASSERT_TRUE(Matches(k, 17, 17, 256, 1));
        ASSERT_TRUE(Matches(k, 35, 19, -900, 2));
        ASSERT_TRUE(Matches(k, 130, 3, 3000, 3));
    });
}

INSTANTIATE_TEST_SUITE_P(Kinds, SharpenSweep,
                         ::testing::Values(SharpenKind::LaplacianC32, SharpenKind::LaplacianC32A, SharpenKind::EdgeC32,
                                           SharpenKind::EdgeC32A),
                         KindName);

HostFrame Flat(int w, int h, uint8_t colour, uint8_t alpha) {
    HostFrame f(w, h, 4, 0);
    for (int i = 0; i < w * h; ++i) f.bytes[4 * i] = f.bytes[4 * i + 1] = f.bytes[4 * i + 2] = colour, f.bytes[4 * i + 3] = alpha;
    return f;
}

TEST(Sharpen, HandWorkedValues) {
    // A flat frame has no high-pass or gradient: every form returns it unchanged, as does
    // amount 0 on any frame.
    HostFrame random(19, 11, 4, 0);
    FillRandomAlpha(random, 9);
    for (SharpenKind k : {SharpenKind::LaplacianC32, SharpenKind::LaplacianC32A, SharpenKind::EdgeC32, SharpenKind::EdgeC32A}) {
        const HostFrame flat = Flat(19, 11, 77, 200);
        HostFrame out(19, 11, 4, 0);
        EXPECT_EQ(RunSlot(k, flat, 4000, out), kOk);
        EXPECT_EQ(FirstDifference(flat, out), -1) << Name(k) << ": " << DescribeDifference(flat, out);
        EXPECT_EQ(RunSlot(k, random, 0, out), kOk);
        EXPECT_EQ(FirstDifference(random, out), -1) << Name(k) << ": " << DescribeDifference(random, out);
    }
    // One 255 on black, amount 256: its high-pass clamps at 255 (gains 127, stays 255);
    // its four neighbours get 0 and lose 128, clamped at 0; diagonals are untouched.
    HostFrame dot = Flat(5, 5, 0, 0), out(5, 5, 4, 0);
    dot.px(2, 2)[0] = 255;
    dot.px(1, 1)[1] = 100;  // a diagonal neighbour of the dot, in another byte
    EXPECT_EQ(RunSlot(SharpenKind::LaplacianC32, dot, 256, out), kOk);
    EXPECT_EQ(out.px(2, 2)[0], 255);
    EXPECT_EQ(out.px(2, 1)[0], 0);
    EXPECT_EQ(out.px(1, 1)[0], 0);
    EXPECT_EQ(out.px(1, 1)[1], 227);  // hp 128 + 400 clamps at 255: gains 127
    // 150 on a grey of 100, amount 129: the centre gains 127 * 129 / 256 = 63.99 -> 63;
    // its neighbours' hp 78 loses 50 * 129 / 256 = 25.2 -> 25 (toward zero, not 26).
    HostFrame grey = Flat(5, 5, 100, 255);
    grey.px(2, 2)[0] = 150;
    EXPECT_EQ(RunSlot(SharpenKind::LaplacianC32, grey, 129, out), kOk);
    EXPECT_EQ(out.px(2, 2)[0], 213);
    EXPECT_EQ(out.px(2, 3)[0], 75);
    EXPECT_EQ(out.px(3, 3)[0], 100);
    // With 250 the neighbours' hp 128 - 150 clamps at 0: amount 128 takes 64, not 75.
    grey.px(2, 2)[0] = 250;
    EXPECT_EQ(RunSlot(SharpenKind::LaplacianC32, grey, 128, out), kOk);
    EXPECT_EQ(out.px(2, 2)[0], 255);
    EXPECT_EQ(out.px(1, 2)[0], 36);
    // Sobel on a vertical step 0 | 90 at every row: |Gx| = 4 * 90 = 360 -> 255 on both
    // sides of the step; amount 128 adds 127. Away from the step nothing changes.
    HostFrame step = Flat(6, 4, 0, 255);
    for (int y = 0; y < 4; ++y)
        for (int x = 3; x < 6; ++x) step.px(x, y)[0] = 90;
    EXPECT_EQ(RunSlot(SharpenKind::EdgeC32, step, 128, out = step), kOk);
    EXPECT_EQ(out.px(2, 0)[0], 127);
    EXPECT_EQ(out.px(3, 3)[0], 217);
    EXPECT_EQ(out.px(0, 1)[0], 0);
    EXPECT_EQ(out.px(5, 2)[0], 90);
    EXPECT_EQ(out.px(3, 3)[3], 255);  // byte 3 is flat: no gradient there
    // All neighbours transparent: S = 0 and no premultiplied gradient, colours and alpha
    // kept, though the colours themselves differ wildly.
    HostFrame clear = random;
    for (int i = 0; i < 19 * 11; ++i) clear.bytes[4 * i + 3] = 0;
    for (SharpenKind k : {SharpenKind::LaplacianC32A, SharpenKind::EdgeC32A}) {
        EXPECT_EQ(RunSlot(k, clear, 5000, out = clear), kOk);
        EXPECT_EQ(FirstDifference(clear, out), -1) << Name(k) << ": " << DescribeDifference(clear, out);
    }
    // Alpha weighting: a transparent bright neighbour above an opaque grey does not
    // darken it; an opaque one does. Premultiplied edges: a step of colour hidden by
    // alpha 0 gives no gradient.
    HostFrame pair = Flat(1, 2, 100, 255);
    pair.px(0, 0)[0] = 250, pair.px(0, 0)[3] = 0;
    EXPECT_EQ(RunSlot(SharpenKind::LaplacianC32A, pair, 256, out = pair), kOk);
    EXPECT_EQ(out.px(0, 1)[0], 100);
    pair.px(0, 0)[3] = 255;
    EXPECT_EQ(RunSlot(SharpenKind::LaplacianC32A, pair, 256, out = pair), kOk);
    EXPECT_EQ(out.px(0, 1)[0], 0);  // hp = 100 - 250 + 128 = -22 -> 0: loses 128
    EXPECT_EQ(out.px(0, 1)[3], 255);
}

// Laplacian: 16x16 blocks (the default table for thin frames); edge: 8x8 (mode 2); the
// tile holds the block and a one-pixel border.
TEST(Sharpen, PlanTakesTheLaunchShapesAndATileWithBorder) {
    const struct {
        SharpenKind k;
        int w, h;
        unsigned gx, gy, bx, by, shared;
    } cases[] = {{SharpenKind::LaplacianC32, 1920, 1080, 120, 8, 16, 16, 18 * 18 * 4},
                 {SharpenKind::LaplacianC32A, 720, 8, 30, 1, 24, 8, 26 * 10 * 4},
                 {SharpenKind::EdgeC32, 1920, 1080, 240, 4, 8, 8, 10 * 10 * 4},
                 {SharpenKind::EdgeC32A, 720, 8, 90, 1, 8, 8, 10 * 10 * 4},
                 {SharpenKind::EdgeC32, 1, 300, 1, 4, 1, 64, 3 * 66 * 4}};
    for (const auto& c : cases) {
        const tvf2::SharpenPlan p = tvf2::PlanSharpen(c.k, {c.w, c.h, 0, nullptr, 0, nullptr, 0});
        EXPECT_EQ(p.grid.x, c.gx) << Name(c.k) << " " << c.w;
        EXPECT_EQ(p.grid.y, c.gy) << Name(c.k) << " " << c.w;
        EXPECT_EQ(p.block.x, c.bx) << Name(c.k) << " " << c.w;
        EXPECT_EQ(p.block.y, c.by) << Name(c.k) << " " << c.w;
        EXPECT_EQ(p.sharedBytes, c.shared) << Name(c.k) << " " << c.w;
    }
}

// Invalid value and nothing written for what the filter cannot honour, shared memory
// between source and destination included; an empty frame is the launch's invalid
// configuration, also with null frames.
TEST(Sharpen, RejectsWhatItCannotHonourAndWritesNothing) {
    HostFrame src(16, 8, 4, 16), dst(16, 8, 4, 16);  // pitch 80
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame ds(src), dd(dst);
    char* d = static_cast<char*>(dd.get());
    const tvf2::SharpenArgs good{16, 8, 100, d, 80, ds.get(), 80};
    const std::pair<const char*, std::function<void(tvf2::SharpenArgs&)>> bad[] = {
        {"null destination", [](tvf2::SharpenArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::SharpenArgs& a) { a.src = nullptr; }},
        {"source pitch below a row", [](tvf2::SharpenArgs& a) { a.srcPitch = 60; }},
        {"destination pitch below a row", [](tvf2::SharpenArgs& a) { a.dstPitch = 60; }},
        {"negative pitch", [](tvf2::SharpenArgs& a) { a.srcPitch = -80; }},
        {"pitch not a whole pixel", [](tvf2::SharpenArgs& a) { a.dstPitch = 66; }},
        {"in place", [d](tvf2::SharpenArgs& a) { a.src = d; }},
        {"source one row below the destination", [d](tvf2::SharpenArgs& a) { a.src = d + 80; }},
        {"source starting in the destination's last row", [d](tvf2::SharpenArgs& a) { a.src = d + 7 * 80 + 60; }},
    };
    for (SharpenKind k : {SharpenKind::LaplacianC32, SharpenKind::LaplacianC32A, SharpenKind::EdgeC32, SharpenKind::EdgeC32A}) {
        for (const auto& b : bad) {
            tvf2::SharpenArgs a = good;
            b.second(a);
            EXPECT_EQ(Call(k, a), kInvalidValue) << Name(k) << ": " << b.first;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.first;
        }
        for (auto wh : {std::make_pair(0, 8), std::make_pair(16, 0), std::make_pair(-3, 8)}) {
            tvf2::SharpenArgs a{wh.first, wh.second, 100, nullptr, 0, nullptr, 0};
            EXPECT_EQ(Call(k, a), kInvalidConfiguration) << Name(k) << " " << wh.first << "x" << wh.second;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
        }
    }
    HostFrame out = dst;
    dd.download(out);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
    // The last byte of the source's last row ends where the destination begins: no overlap.
    tvf2::SharpenArgs adjacent = good;
    adjacent.src = d - 7 * 80 - 64;
    EXPECT_TRUE(tvf2::SharpenArgsValid(adjacent));
    EXPECT_EQ(Call(SharpenKind::EdgeC32, good), kOk) << "the unedited arguments are fine";
}

}  // namespace
