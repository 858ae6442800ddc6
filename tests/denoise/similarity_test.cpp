// Slots 38 to 45 against the sequential reference, bit for bit, in every kernel form.
#include "../common/frames.h"
#include "../common/module.h"
#include "denoise/similarity_average.h"
#include "similarity_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

const char* Name(SwaLayout l) {
    static const char* const names[] = {"C32", "YUV32", "C32A", "YUV32A"};
    return names[int(l)];
}

tvf2::SimilarityLayout ModuleLayout(SwaLayout l) { return tvf2::SimilarityLayout(int(l)); }

// The largest T whose sums stay within 32 bits for a window of radius r.
int TLimit(SwaLayout l, int r) {
    const long long members = (2LL * r + 1) * (2LL * r + 1) + 1;
    if (!HasAlpha(l)) return int(std::min<long long>(2147483647LL / (256 * members), 1 << 30));
    return int(std::min<long long>(33025, (1LL << 35) / (65025 * members)));
}

// Thresholds from "nothing passes" to "everything passes", and a negative one.
int PickT(SwaLayout l, int r, uint32_t seed) {
    const int choices[] = {1, 60, 500, 3000, 20000, 1 << 30, -7};
    const int t = choices[seed % 7];
    return t < 0 ? t : std::min(t, TLimit(l, r));
}

// A smooth gradient with small noise, so that neighbours are similar at moderate T,
// and one pixel in eight replaced by noise. Alpha: 0 and 255 on an eighth each.
HostFrame NoisyFrame(int w, int h, int pad, uint32_t seed, bool alpha) {
    HostFrame f(w, h, 4, pad);
    FillRandom(f, seed);  // also the padding
    std::mt19937 rng(seed * 7919u + 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.px(x, y);
            if (rng() % 8 != 0)
                for (int k = 0; k < 3; ++k)
                    p[k] = uint8_t(std::clamp(int((x * (3 + k) + y * (5 - k) + seed * 31 * (k + 1)) % 200) +
                                                  int(rng() % 25) - 12 + 28,
                                              0, 255));
            if (alpha) {
                const uint32_t a = rng() % 8;
                p[3] = a == 0 ? 0 : a == 1 ? 255 : uint8_t(rng());
            }
        }
    return f;
}

std::string Describe(SwaLayout l, int w, int h, const SwaParams& p, const std::string& more) {
    return std::string(Name(l)) + " " + std::to_string(w) + "x" + std::to_string(h) + " T " +
           std::to_string(p.T) + " r " + std::to_string(p.radius) + " " + more;
}

int CallLinear(SwaLayout l, void* dst, int dstPitch, const void* src, int srcPitch, int w, int h,
               const SwaParams& p, bool fields) {
    auto* fs = FuncSet();
    switch (l) {
    case SwaLayout::C32:
        return fs->SimilarityWeightedAverage_C32(dst, src, nullptr, w, h, dstPitch, srcPitch, p.T, p.radius, fields);
    case SwaLayout::YUV32:
        return fs->SimilarityWeightedAverage_YUV32(dst, src, nullptr, w, h, dstPitch, srcPitch, p.T, p.radius, fields);
    case SwaLayout::C32A:
        return fs->SimilarityWeightedAverage_C32A(dst, src, nullptr, w, h, dstPitch, srcPitch, p.T, p.radius, fields);
    case SwaLayout::YUV32A:
        return fs->SimilarityWeightedAverage_YUV32A(dst, src, nullptr, w, h, dstPitch, srcPitch, p.T, p.radius, fields);
    }
    return -1;
}

int CallTex(SwaLayout l, void* dst, int dstPitch, cudaArray* array, const cudaChannelFormatDesc* desc,
            int w, int h, int rowOffset, int rowScale, const SwaParams& p, bool sameParity) {
    auto* fs = FuncSet();
    switch (l) {
    case SwaLayout::C32:
        return fs->SimilarityWeightedAverageTex_C32(dst, array, w, h, dstPitch, desc, rowOffset, rowScale, p.T, p.radius, sameParity);
    case SwaLayout::YUV32:
        return fs->SimilarityWeightedAverageTex_YUV32(dst, array, w, h, dstPitch, desc, rowOffset, rowScale, p.T, p.radius, sameParity);
    case SwaLayout::C32A:
        return fs->SimilarityWeightedAverageTex_C32A(dst, array, w, h, dstPitch, desc, rowOffset, rowScale, p.T, p.radius, sameParity);
    case SwaLayout::YUV32A:
        return fs->SimilarityWeightedAverageTex_YUV32A(dst, array, w, h, dstPitch, desc, rowOffset, rowScale, p.T, p.radius, sameParity);
    }
    return -1;
}

// A caller's CUDA array of four unsigned bytes per texel holding an image.
class DeviceArray {
public:
    explicit DeviceArray(const HostFrame& image) {
        const cudaChannelFormatDesc d = cudaCreateChannelDesc<uchar4>();
        if (cudaMallocArray(&array_, &d, image.width, image.height, 0) != cudaSuccess) array_ = nullptr;
        if (array_)
            cudaMemcpy2DToArray(array_, 0, 0, image.bytes.data(), image.pitch, image.width * 4, image.height,
                                cudaMemcpyHostToDevice);
    }
    ~DeviceArray() { cudaFreeArray(array_); }
    DeviceArray(const DeviceArray&) = delete;
    DeviceArray& operator=(const DeviceArray&) = delete;
    cudaArray* get() const { return array_; }

private:
    cudaArray* array_ = nullptr;
};

// Bytes of the frame and of its row padding alike: the padding must keep its value.
::testing::AssertionResult SameBytes(const std::string& what, const HostFrame& expected, const HostFrame& actual) {
    if (FirstDifference(expected, actual) >= 0)
        return ::testing::AssertionFailure() << what << ": " << DescribeDifference(expected, actual);
    if (expected.bytes != actual.bytes) return ::testing::AssertionFailure() << what << ": row padding written";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LinearMatches(SwaLayout l, int w, int h, const SwaParams& p, bool fields, uint32_t seed) {
    const int pad = int(seed % 3) * 8;
    const HostFrame src = NoisyFrame(w, h, pad, seed, HasAlpha(l));
    HostFrame dst(w, h, 4, pad + 4);
    FillRandom(dst, seed + 1);
    HostFrame expected = dst;
    SimilarityReference(l, p, fields, src, expected);
    DeviceFrame dsrc(src), ddst(dst);
    const std::string what = Describe(l, w, h, p, std::string(fields ? "fields" : "frame") + " seed " + std::to_string(seed));
    const int status = CallLinear(l, ddst.get(), ddst.pitch(), dsrc.get(), dsrc.pitch(), w, h, p, fields);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    HostFrame actual = dst;
    ddst.download(actual);
    return SameBytes(what, expected, actual);
}

struct TexCase {
    int outW, outH, rowOffset, rowScale;
    bool sameParity;
};

::testing::AssertionResult TextureMatches(SwaLayout l, const HostFrame& image, const TexCase& c, const SwaParams& p,
                                          uint32_t seed) {
    HostFrame dst(c.outW, c.outH, 4, 12);
    FillRandom(dst, seed);
    HostFrame expected = dst;
    SimilarityTexReference(l, p, c.rowOffset, c.rowScale, c.sameParity, image, expected);
    DeviceArray array(image);
    DeviceFrame ddst(dst);
    const cudaChannelFormatDesc desc = cudaCreateChannelDesc<uchar4>();
    const std::string what = Describe(l, c.outW, c.outH, p,
                                      "texture " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                                          " rows *" + std::to_string(c.rowScale) + "+" + std::to_string(c.rowOffset) +
                                          (c.sameParity ? " same parity" : ""));
    const int status = CallTex(l, ddst.get(), ddst.pitch(), array.get(), &desc, c.outW, c.outH, c.rowOffset,
                               c.rowScale, p, c.sameParity);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    HostFrame actual = dst;
    ddst.download(actual);
    return SameBytes(what, expected, actual);
}

// The largest radius that still takes a tile on a frame of full-size blocks.
int LastTileRadius(SwaLayout l) { return l == SwaLayout::YUV32 ? 23 : 20; }

class Similarity : public ::testing::TestWithParam<SwaLayout> {};

TEST_P(Similarity, LinearMatchesReference) {
    const SwaLayout l = GetParam();
    // Frames of one pixel, thin frames (table blocks), frames around C32's 12x16 block.
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 5}, {7, 3}, {11, 15}, {13, 17}, {37, 29}, {64, 9}, {5, 40}};
    uint32_t seed = 100 + 1000 * unsigned(l);
    for (auto s : sizes)
        for (int r : {0, 1, 2, 3, 4, 5, 7})
            for (bool fields : {false, true}) {
                ++seed;
                ASSERT_TRUE(LinearMatches(l, s.first, s.second, SwaParams{PickT(l, r, seed), r}, fields, seed));
            }
}

// The tile on one side of the 12288-byte switch, the block-staged form on the other,
// on frames of several blocks (members outside the block) and on a one-row frame,
// whose 192-wide block switches at a small radius.
TEST_P(Similarity, BothSidesOfTheSharedMemorySwitch) {
    const SwaLayout l = GetParam();
    const int last = LastTileRadius(l);
    uint32_t seed = 7 + 1000 * unsigned(l);
    for (int r : {last, last + 1}) {
        const tvf2::SimilarityPlan plan = tvf2::PlanSimilarity(ModuleLayout(l), 61, 53, r);
        EXPECT_EQ(plan.form, r == last ? tvf2::SimilarityForm::Tile : tvf2::SimilarityForm::BlockStaged) << r;
        for (bool fields : {false, true})
            ASSERT_TRUE(LinearMatches(l, 61, 53, SwaParams{std::min(150, TLimit(l, r)), r}, fields, seed++));
    }
    if (l != SwaLayout::YUV32) {  // its block is 8x8 whatever the frame
        EXPECT_EQ(tvf2::PlanSimilarity(ModuleLayout(l), 300, 1, 6).form, tvf2::SimilarityForm::Tile);
        EXPECT_EQ(tvf2::PlanSimilarity(ModuleLayout(l), 300, 1, 7).form, tvf2::SimilarityForm::BlockStaged);
    }
    for (int r : {6, 7}) ASSERT_TRUE(LinearMatches(l, 300, 1, SwaParams{std::min(3000, TLimit(l, r)), r}, false, seed++));
}

// Every form in every thread order, with odd heights in field mode; the frame is larger
// than one block, so that blocks step through it several times.
TEST_P(Similarity, EveryFormInEveryThreadOrder) {
    const SwaLayout l = GetParam();
    const int last = LastTileRadius(l);
    ForEachThreadOrder([&] {
        uint32_t seed = 31;
        for (int r : {0, 1, 2, 3, 4, 5, last, last + 1})
            for (bool fields : {false, true}) {
                const SwaParams p{std::min(2000, TLimit(l, r)), r};
                ASSERT_TRUE(LinearMatches(l, 29, 23, p, fields, seed++));
            }
        // A grid far smaller than the frame (the 1000-block cap): blocks loop.
        ASSERT_TRUE(LinearMatches(l, 260, 530, SwaParams{400, 1}, false, seed++));
    });
}

TEST_P(Similarity, TextureMatchesReference) {
    const SwaLayout l = GetParam();
    uint32_t seed = 500 + 1000 * unsigned(l);
    const HostFrame image = NoisyFrame(23, 37, 0, seed, HasAlpha(l));
    // Outputs smaller and larger than the array (clamped columns and rows), row scales
    // of 2 (one field of the array), 0 (one row), negative (bottom up) and offsets
    // before and past the array.
    const std::vector<TexCase> cases = {
        {23, 37, 0, 1, false}, {23, 18, 1, 2, false}, {23, 18, 0, 2, true},  {30, 37, 0, 1, true},
        {9, 5, 4, 0, false},   {23, 20, 36, -1, true}, {17, 15, -3, 3, false}, {23, 40, 2, 1, true},
    };
    for (const TexCase& c : cases)
        for (int r : {0, 1, 2, 3, 6}) {
            ++seed;
            ASSERT_TRUE(TextureMatches(l, image, c, SwaParams{PickT(l, r, seed), r}, seed));
        }
    ForEachThreadOrder([&] { ASSERT_TRUE(TextureMatches(l, image, cases[2], SwaParams{2500, 2}, seed)); });
}

// A frame of one colour keeps it for any radius; the alpha layouts keep their alpha.
TEST_P(Similarity, UniformFrameIsUnchanged) {
    const SwaLayout l = GetParam();
    HostFrame f(19, 14, 4, 0);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            uint8_t* p = f.px(x, y);
            p[0] = 77, p[1] = 128, p[2] = 0, p[3] = uint8_t(HasAlpha(l) ? (x * 37 + y) % 256 : 9);
        }
    for (int r : {0, 2, 9}) {
        DeviceFrame s(f), d(f);
        ASSERT_EQ(CallLinear(l, d.get(), d.pitch(), s.get(), s.pitch(), f.width, f.height, SwaParams{100, r}, false), kOk);
        HostFrame out = f;
        d.download(out);
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const uint8_t* p = out.px(x, y);
                ASSERT_EQ(p[0], 77);
                ASSERT_EQ(p[1], 128);
                ASSERT_EQ(p[2], 0);
                ASSERT_EQ(p[3], HasAlpha(l) ? f.px(x, y)[3] : l == SwaLayout::C32 ? 0 : 255);
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Similarity,
                         ::testing::Values(SwaLayout::C32, SwaLayout::YUV32, SwaLayout::C32A, SwaLayout::YUV32A),
                         [](const ::testing::TestParamInfo<SwaLayout>& info) { return Name(info.param); });

// The offset-chroma slots against their plain counterparts on random data: the same
// colour bytes (YUV32 writes byte 3 as 255, C32 as 0), and for the alpha pair the same
// four bytes, from linear memory and from textures.
TEST(SimilarityEquivalence, OffsetChromaSlotsMatchTheirPlainCounterparts) {
    uint32_t seed = 4000;
    for (int r : {1, 3, 6, 21, 24})
        for (bool fields : {false, true}) {
            for (bool alpha : {false, true}) {
                const SwaLayout plain = alpha ? SwaLayout::C32A : SwaLayout::C32;
                const SwaLayout offset = alpha ? SwaLayout::YUV32A : SwaLayout::YUV32;
                HostFrame src(45, 33, 4, 8);
                alpha ? FillRandomAlpha(src, ++seed) : FillRandom(src, ++seed);
                const SwaParams p{std::min(alpha ? 8000 : 30000, TLimit(plain, r)), r};
                DeviceFrame s(src), a(src), b(src);
                ASSERT_EQ(CallLinear(plain, a.get(), a.pitch(), s.get(), s.pitch(), 45, 33, p, fields), kOk);
                ASSERT_EQ(CallLinear(offset, b.get(), b.pitch(), s.get(), s.pitch(), 45, 33, p, fields), kOk);
                HostFrame fa = src, fb = src;
                a.download(fa);
                b.download(fb);
                for (int y = 0; y < 33 && !alpha; ++y)
                    for (int x = 0; x < 45; ++x) {
                        ASSERT_EQ(fa.px(x, y)[3], 0);
                        ASSERT_EQ(fb.px(x, y)[3], 255);
                        fb.px(x, y)[3] = 0;
                    }
                ASSERT_EQ(FirstDifference(fa, fb), -1) << "r " << r << ": " << DescribeDifference(fa, fb);
                if (fields || r > 6) continue;
                DeviceArray array(src);
                const cudaChannelFormatDesc desc = cudaCreateChannelDesc<uchar4>();
                ASSERT_EQ(CallTex(plain, a.get(), a.pitch(), array.get(), &desc, 45, 33, 0, 1, p, r == 3), kOk);
                ASSERT_EQ(CallTex(offset, b.get(), b.pitch(), array.get(), &desc, 45, 33, 0, 1, p, r == 3), kOk);
                a.download(fa);
                b.download(fb);
                ASSERT_EQ(FirstDifference(fa, fb), -1) << "texture r " << r << ": " << DescribeDifference(fa, fb);
            }
        }
}

// Values worked out by hand. Two pixels (10,10,10) and (13,10,10), T = 100: d² = 9, so
// each weighs the other 91; pixel 0: (2 * 100 * 10 + 91 * 13 + 145) / 291 = 11, pixel 1:
// (2 * 100 * 13 + 91 * 10 + 145) / 291 = 12. With alpha 255 everywhere pixel 0's scaled
// sums give (16 * (2 * 15937 + 18854) + 37102) / 74205 = 11 as well. A transparent
// neighbour adds nothing: pixel 0 keeps 10.
TEST(SimilarityValues, TwoPixelFrame) {
    HostFrame f(2, 1, 4, 0);
    const uint8_t px[2][4] = {{10, 10, 10, 255}, {13, 10, 10, 255}};
    for (int x = 0; x < 2; ++x) std::copy(px[x], px[x] + 4, f.px(x, 0));
    const auto run = [&](SwaLayout l, const HostFrame& in) {
        DeviceFrame s(in), d(in);
        EXPECT_EQ(CallLinear(l, d.get(), d.pitch(), s.get(), s.pitch(), 2, 1, SwaParams{100, 1}, false), kOk);
        HostFrame out = in;
        d.download(out);
        return out;
    };
    HostFrame out = run(SwaLayout::C32, f);
    EXPECT_EQ(out.px(0, 0)[0], 11);
    EXPECT_EQ(out.px(1, 0)[0], 12);
    EXPECT_EQ(out.px(0, 0)[1], 10);
    EXPECT_EQ(out.px(0, 0)[3], 0);
    out = run(SwaLayout::C32A, f);
    EXPECT_EQ(out.px(0, 0)[0], 11);
    EXPECT_EQ(out.px(0, 0)[3], 255);
    f.px(1, 0)[3] = 0;
    out = run(SwaLayout::C32A, f);
    EXPECT_EQ(out.px(0, 0)[0], 10);
    EXPECT_EQ(out.px(1, 0)[3], 0);
}

// Launch shapes and forms, by the worked examples.
std::vector<unsigned> Shape(const tvf2::SimilarityPlan& p) { return {p.block.x, p.block.y, p.grid.x, p.grid.y}; }

TEST(SimilarityPlan, ShapesAndForms) {
    using tvf2::PlanSimilarity;
    using tvf2::SimilarityForm;
    using tvf2::SimilarityLayout;
    using V = std::vector<unsigned>;
    tvf2::SimilarityPlan p = PlanSimilarity(SimilarityLayout::C32, 1920, 1080, 4);
    EXPECT_EQ(Shape(p), (V{12, 16, 160, 6}));
    EXPECT_EQ(p.form, SimilarityForm::FixedRadiusTile);
    EXPECT_EQ(p.sharedBytes, 20u * 24 * 4);
    p = PlanSimilarity(SimilarityLayout::C32, 720, 576, 5);
    EXPECT_EQ(Shape(p), (V{12, 16, 60, 16}));
    EXPECT_EQ(p.form, SimilarityForm::Tile);
    EXPECT_EQ(Shape(PlanSimilarity(SimilarityLayout::C32, 1920, 10, 1)), (V{16, 12, 120, 1}));
    // 12 to 15 wide: still the 12x16 block; under 12: the default tables.
    EXPECT_EQ(Shape(PlanSimilarity(SimilarityLayout::C32, 14, 100, 1)), (V{12, 16, 1, 6}));
    EXPECT_EQ(Shape(PlanSimilarity(SimilarityLayout::C32, 5, 100, 1)), (V{6, 32, 1, 3}));
    EXPECT_EQ(PlanSimilarity(SimilarityLayout::C32, 100, 100, 20).sharedBytes, 11648u);
    p = PlanSimilarity(SimilarityLayout::C32, 100, 100, 21);
    EXPECT_EQ(p.form, SimilarityForm::BlockStaged);
    EXPECT_EQ(p.sharedBytes, 12u * 16 * 4);
    EXPECT_EQ(PlanSimilarity(SimilarityLayout::C32, 100, 100, 0).form, SimilarityForm::Tile);
    EXPECT_EQ(Shape(PlanSimilarity(SimilarityLayout::C32, 0, 100, 1)), (V{0, 0, 0, 0}));

    EXPECT_EQ(PlanSimilarity(SimilarityLayout::YUV32, 100, 100, 23).sharedBytes, 11664u);
    p = PlanSimilarity(SimilarityLayout::YUV32, 1920, 1080, 24);
    EXPECT_EQ(p.form, SimilarityForm::BlockStaged);
    EXPECT_EQ(p.sharedBytes, 256u);
    EXPECT_EQ(Shape(p), (V{8, 8, 7, 142}));

    p = PlanSimilarity(SimilarityLayout::C32A, 1920, 1080, 20);
    EXPECT_EQ(p.form, SimilarityForm::Tile);
    EXPECT_EQ(Shape(p), (V{16, 12, 120, 8}));
    EXPECT_EQ(PlanSimilarity(SimilarityLayout::YUV32A, 1920, 1080, 21).form, SimilarityForm::BlockStaged);
    EXPECT_EQ(PlanSimilarity(SimilarityLayout::YUV32A, 1920, 1080, 3).form, SimilarityForm::FixedRadiusTile);
}

TEST(SimilarityPlan, EightByEightGrid) {
    const auto grid = [](int w, int h) {
        const dim3 g = tvf2::SimilarityEightByEightGrid(w, h);
        return std::make_pair(g.x, g.y);
    };
    EXPECT_EQ(grid(1920, 1080), std::make_pair(7u, 142u));
    EXPECT_EQ(grid(720, 480), std::make_pair(16u, 62u));
    EXPECT_EQ(grid(3, 3), std::make_pair(1u, 1u));
    EXPECT_EQ(grid(16, 8000), std::make_pair(1u, 1000u));  // 2 x 1000: the count across shrinks
    EXPECT_EQ(grid(16, 8008), std::make_pair(1u, 1000u));  // more than 1000 block rows
    EXPECT_EQ(grid(4000, 100000), std::make_pair(1u, 1000u));
}

// Tall frames beyond 1000 block rows are covered whole by the grid-stride loops.
TEST(SimilarityPlan, TallTextureFrameIsCoveredWhole) {
    const int w = 3, h = 8200;
    const HostFrame image = NoisyFrame(w, h, 0, 91, false);
    ASSERT_TRUE(TextureMatches(SwaLayout::C32, image, TexCase{w, h, 0, 1, false}, SwaParams{900, 1}, 92));
}

// Arguments the slots cannot honour: invalid value, nothing written.
TEST(SimilarityArguments, RejectedWithoutWriting) {
    HostFrame f(16, 8, 4, 0);
    FillRandom(f, 3);
    DeviceFrame s(f), d(f);
    DeviceArray array(f);
    const cudaChannelFormatDesc desc = cudaCreateChannelDesc<uchar4>();
    const cudaChannelFormatDesc floats = cudaCreateChannelDesc(32, 0, 0, 0, cudaChannelFormatKindFloat);
    uint8_t* dp = static_cast<uint8_t*>(d.get());
    const uint8_t* sp = static_cast<const uint8_t*>(s.get());
    for (SwaLayout l : {SwaLayout::C32, SwaLayout::YUV32, SwaLayout::C32A, SwaLayout::YUV32A}) {
        SCOPED_TRACE(Name(l));
        const SwaParams ok{100, 1};
        EXPECT_EQ(CallLinear(l, nullptr, 64, sp, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, nullptr, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 60, sp, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 60, 16, 8, ok, true), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 64, 16, 8, SwaParams{100, -1}, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 64, 16, 8, SwaParams{0, 1}, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp + 2, 64, 15, 8, ok, false), kInvalidValue);  // not 4-byte aligned
        EXPECT_EQ(CallLinear(l, dp, 66, sp, 64, 16, 7, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, nullptr, 64, array.get(), &desc, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 60, array.get(), &desc, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, nullptr, &desc, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, array.get(), nullptr, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, array.get(), &desc, 16, 8, 0, 1, SwaParams{100, -2}, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, array.get(), &desc, 16, 8, 0, 1, SwaParams{0, 2}, false), kInvalidValue);
        // A binding that fails: its status, nothing launched.
        EXPECT_EQ(CallTex(l, dp, 64, array.get(), &floats, 16, 8, 0, 1, ok, false), 20);  // invalid channel descriptor
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    }
    HostFrame out = f;
    d.download(out);
    EXPECT_EQ(FirstDifference(f, out), -1) << DescribeDifference(f, out);
}

// An empty frame: the linear C32, C32A and YUV32A slots get an empty launch shape and
// report the configuration error; YUV32's 8x8 launch and the texture slots find
// nothing to do. Nothing is written either way.
TEST(SimilarityArguments, EmptyFrames) {
    HostFrame f(4, 4, 4, 0);
    FillRandom(f, 5);
    DeviceFrame d(f);
    DeviceArray array(f);
    const cudaChannelFormatDesc desc = cudaCreateChannelDesc<uchar4>();
    for (SwaLayout l : {SwaLayout::C32, SwaLayout::YUV32, SwaLayout::C32A, SwaLayout::YUV32A}) {
        SCOPED_TRACE(Name(l));
        const int want = l == SwaLayout::YUV32 ? kOk : kInvalidConfiguration;
        for (bool fields : {false, true}) {
            EXPECT_EQ(CallLinear(l, d.get(), 16, d.get(), 16, 0, 4, SwaParams{10, 1}, fields), want);
            EXPECT_EQ(CallLinear(l, nullptr, 0, nullptr, 0, 4, 0, SwaParams{10, 1}, fields), want);
        }
        EXPECT_EQ(CallTex(l, nullptr, 0, array.get(), &desc, 0, 4, 0, 1, SwaParams{10, 1}, false), kOk);
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    }
    HostFrame out = f;
    d.download(out);
    EXPECT_EQ(FirstDifference(f, out), -1);
}

}  // namespace
