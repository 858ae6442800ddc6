// Slots 38 to 45 against the sequential reference, bit for bit, in every kernel form; the
// offset-chroma slots against their plain counterparts; values worked out by hand; the
// launch plans; what the slots refuse.
#include "../common/frames.h"
#include "../common/module.h"
#include "denoise/similarity_average.h"
#include "similarity_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace tvf2test;
using tvf2::SimilarityForm;

namespace {

const SwaLayout kLayouts[] = {SwaLayout::C32, SwaLayout::YUV32, SwaLayout::C32A, SwaLayout::YUV32A};
const char* Name(SwaLayout l) {
    static const char* const names[] = {"C32", "YUV32", "C32A", "YUV32A"};
    return names[int(l)];
}

// The largest T whose sums stay within 32 bits for a window of radius r.
int TLimit(SwaLayout l, int r) {
    const long long members = (2LL * r + 1) * (2LL * r + 1) + 1;
    if (!HasAlpha(l)) return int(std::min<long long>(2147483647LL / (256 * members), 1 << 30));
    return int(std::min<long long>(33025, (1LL << 35) / (65025 * members)));
}

// Thresholds from "nothing passes" to "everything passes", and a negative one.
SwaParams Pick(SwaLayout l, int r, uint32_t seed) {
    const int choices[] = {1, 60, 500, 3000, 20000, 1 << 30, -7}, t = choices[seed % 7];
    return SwaParams{t < 0 ? t : std::min(t, TLimit(l, r)), r};
}

// A smooth gradient with small noise, so that neighbours are similar at moderate T, one
// pixel in eight replaced by noise; alpha 0 and 255 on an eighth each. Random padding.
HostFrame NoisyFrame(int w, int h, int pad, uint32_t seed, bool alpha) {
    HostFrame f(w, h, 4, pad);
    FillRandom(f, seed);
    std::mt19937 rng(seed * 7919u + 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.px(x, y);
            if (rng() % 8 != 0)
                for (int k = 0; k < 3; ++k)
                    p[k] = uint8_t(std::clamp(int((x * (3 + k) + y * (5 - k) + seed * 31 * (k + 1)) % 200) +
                                                  int(rng() % 25) - 12 + 28, 0, 255));
            if (alpha) {
                const uint32_t a = rng() % 8;
                p[3] = a == 0 ? 0 : a == 1 ? 255 : uint8_t(rng());
            }
        }
    return f;
}

// A caller's CUDA array of four unsigned bytes per texel holding an image.
struct DeviceArray {
    cudaArray* array = nullptr;
    explicit DeviceArray(const HostFrame& image) {
        const cudaChannelFormatDesc d = cudaCreateChannelDesc<uchar4>();
        if (cudaMallocArray(&array, &d, image.width, image.height, 0) != cudaSuccess) array = nullptr;
        if (array) cudaMemcpy2DToArray(array, 0, 0, image.bytes.data(), image.pitch, image.width * 4, image.height, cudaMemcpyHostToDevice);
    }
    ~DeviceArray() { cudaFreeArray(array); }
    DeviceArray(const DeviceArray&) = delete;
    DeviceArray& operator=(const DeviceArray&) = delete;
};

typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FS;
const cudaChannelFormatDesc kBytes4 = cudaCreateChannelDesc<uchar4>();

int CallLinear(SwaLayout l, void* dst, int dstPitch, const void* src, int srcPitch, int w, int h, const SwaParams& p, bool fields) {
    static const decltype(&FS::SimilarityWeightedAverage_C32) slots[] = {
        &FS::SimilarityWeightedAverage_C32, &FS::SimilarityWeightedAverage_YUV32, &FS::SimilarityWeightedAverage_C32A,
        &FS::SimilarityWeightedAverage_YUV32A};
    return (FuncSet()->*slots[int(l)])(dst, src, nullptr, w, h, dstPitch, srcPitch, p.T, p.radius, fields);
}

int CallTex(SwaLayout l, void* dst, int dstPitch, cudaArray* array, const cudaChannelFormatDesc* desc, int w, int h,
            int rowOffset, int rowScale, const SwaParams& p, bool sameParity) {
    static const decltype(&FS::SimilarityWeightedAverageTex_C32) slots[] = {
        &FS::SimilarityWeightedAverageTex_C32, &FS::SimilarityWeightedAverageTex_YUV32,
        &FS::SimilarityWeightedAverageTex_C32A, &FS::SimilarityWeightedAverageTex_YUV32A};
    return (FuncSet()->*slots[int(l)])(dst, array, w, h, dstPitch, desc, rowOffset, rowScale, p.T, p.radius, sameParity);
}

// Texture source: output size, output row v reading array row v * scale + offset.
struct TexRows {
    int w, h, rowOffset, rowScale;
    bool sameParity;
};

// Runs a slot on src (linear memory, or the texels of an array when tex is given) into
// a device copy of dst and copies it back.
int RunSlot(SwaLayout l, const HostFrame& src, const SwaParams& p, bool fields, const TexRows* tex, HostFrame& dst) {
    DeviceFrame dd(dst);
    int status;
    if (tex) {
        DeviceArray a(src);
        status = CallTex(l, dd.get(), dd.pitch(), a.array, &kBytes4, tex->w, tex->h, tex->rowOffset, tex->rowScale, p, tex->sameParity);
    } else {
        DeviceFrame ds(src);
        status = CallLinear(l, dd.get(), dd.pitch(), ds.get(), ds.pitch(), src.width, src.height, p, fields);
    }
    dd.download(dst);
    return status;
}

// One call against the reference on a random destination, its row padding included.
::testing::AssertionResult Matches(SwaLayout l, const HostFrame& src, const SwaParams& p, bool fields, uint32_t seed,
                                   const TexRows* tex = nullptr) {
    HostFrame dst(tex ? tex->w : src.width, tex ? tex->h : src.height, 4, 4 + int(seed % 3) * 8);
    FillRandom(dst, seed + 1);
    HostFrame expected = dst;
    if (tex) SimilarityTexReference(l, p, tex->rowOffset, tex->rowScale, tex->sameParity, src, expected);
    else SimilarityReference(l, p, fields, src, expected);
    const int status = RunSlot(l, src, p, fields, tex, dst);
    std::string what = std::string(Name(l)) + " " + std::to_string(dst.width) + "x" + std::to_string(dst.height) + " T " +
                       std::to_string(p.T) + " r " + std::to_string(p.radius) + (fields ? " fields" : "") + " seed " + std::to_string(seed);
    if (tex) what += " rows *" + std::to_string(tex->rowScale) + "+" + std::to_string(tex->rowOffset) + (tex->sameParity ? " same parity" : "");
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    if (dst.bytes != expected.bytes)
        return ::testing::AssertionFailure() << what << ": " << (FirstDifference(expected, dst) < 0 ? "row padding written" : DescribeDifference(expected, dst));
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult LinearMatches(SwaLayout l, int w, int h, const SwaParams& p, bool fields, uint32_t seed,
                                         std::set<SimilarityForm>* forms = nullptr) {
    if (forms) forms->insert(tvf2::PlanSimilarity(tvf2::SimilarityLayout(int(l)), w, h, p.radius).form);
    return Matches(l, NoisyFrame(w, h, int(seed % 3) * 8, seed, HasAlpha(l)), p, fields, seed);
}

class Similarity : public ::testing::TestWithParam<SwaLayout> {};

// Frames of one pixel, thin frames (table blocks), frames around C32's 12x16 block, in
// frame and field mode (odd and even heights); the tile on one side of the 12288-byte
// switch and the block-staged form on the other, on frames of several blocks and on a
// one-row frame (whose 192-wide block switches at a small radius); every form in every
// thread order, and a grid far smaller than the frame (the 1000-block cap: blocks loop).
TEST_P(Similarity, LinearEveryFormMatchesReference) {
    const SwaLayout l = GetParam();
    const tvf2::SimilarityLayout ml = tvf2::SimilarityLayout(int(l));
    const int last = l == SwaLayout::YUV32 ? 23 : 20;  // the largest radius with a tile
    std::set<SimilarityForm> forms;
    uint32_t seed = 100 + 1000 * unsigned(l);
    for (auto s : {std::make_pair(1, 1), {2, 5}, {7, 3}, {11, 15}, {13, 17}, {37, 29}, {64, 9}, {5, 40}})
        for (int r : {0, 1, 2, 3, 4, 5, 7})
            for (bool fields : {false, true}) {
                ++seed;
                ASSERT_TRUE(LinearMatches(l, s.first, s.second, Pick(l, r, seed), fields, seed, &forms));
            }
    for (int r : {last, last + 1}) {
        EXPECT_EQ(tvf2::PlanSimilarity(ml, 61, 53, r).form, r == last ? SimilarityForm::Tile : SimilarityForm::BlockStaged) << r;
        for (bool fields : {false, true}) ASSERT_TRUE(LinearMatches(l, 61, 53, SwaParams{std::min(150, TLimit(l, r)), r}, fields, seed++, &forms));
    }
    if (l != SwaLayout::YUV32) {  // its block is 8x8 whatever the frame
        EXPECT_EQ(tvf2::PlanSimilarity(ml, 300, 1, 6).form, SimilarityForm::Tile);
        EXPECT_EQ(tvf2::PlanSimilarity(ml, 300, 1, 7).form, SimilarityForm::BlockStaged);
    }
    for (int r : {6, 7}) ASSERT_TRUE(LinearMatches(l, 300, 1, SwaParams{std::min(3000, TLimit(l, r)), r}, false, seed++));
    EXPECT_EQ(forms, (std::set<SimilarityForm>{SimilarityForm::FixedRadiusTile, SimilarityForm::Tile, SimilarityForm::BlockStaged}));
    ForEachThreadOrder([&] {
        uint32_t k = 31;
        for (int r : {0, 1, 2, 3, 4, 5, last, last + 1})
            for (bool fields : {false, true}) ASSERT_TRUE(LinearMatches(l, 29, 23, SwaParams{std::min(2000, TLimit(l, r)), r}, fields, k++));
        ASSERT_TRUE(LinearMatches(l, 260, 530, SwaParams{400, 1}, false, k));
    });
}

// Outputs smaller and larger than the array (clamped columns and rows), row scales of 2
// (one field of the array), 0 (one row), negative (bottom up), offsets before and past
// the array, same-parity windows; a frame taller than 1000 block rows, covered whole by
// the grid-stride loops; one case in every thread order.
TEST_P(Similarity, TextureMatchesReference) {
    const SwaLayout l = GetParam();
    uint32_t seed = 500 + 1000 * unsigned(l);
    const HostFrame image = NoisyFrame(23, 37, 0, seed, HasAlpha(l));
    const TexRows cases[] = {{23, 37, 0, 1, false}, {23, 18, 1, 2, false}, {23, 18, 0, 2, true},  {30, 37, 0, 1, true},
                             {9, 5, 4, 0, false},   {23, 20, 36, -1, true}, {17, 15, -3, 3, false}, {23, 40, 2, 1, true}};
    for (const TexRows& c : cases)
        for (int r : {0, 1, 2, 3, 6}) {
            ++seed;
            ASSERT_TRUE(Matches(l, image, Pick(l, r, seed), false, seed, &c));
        }
    const TexRows tall{3, 8200, 0, 1, false};
    ASSERT_TRUE(Matches(l, NoisyFrame(3, 8200, 0, 91, HasAlpha(l)), SwaParams{900, 1}, false, 92, &tall));
    ForEachThreadOrder([&] { ASSERT_TRUE(Matches(l, image, SwaParams{2500, 2}, false, seed, &cases[2])); });
}

INSTANTIATE_TEST_SUITE_P(Layouts, Similarity, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<SwaLayout>& info) { return std::string(Name(info.param)); });

// The offset-chroma slots against their plain counterparts on random data: the same
// colour bytes (YUV32 writes byte 3 as 255, C32 as 0), and for the alpha pair the same
// four bytes, from linear memory (both sides of the tile switch, fields) and textures.
TEST(SimilarityEquivalence, OffsetChromaSlotsMatchTheirPlainCounterparts) {
    uint32_t seed = 4000;
    for (int r : {1, 3, 6, 21, 24})
        for (bool fields : {false, true})
            for (bool alpha : {false, true}) {
                HostFrame src(45, 33, 4, 8);
                alpha ? FillRandomAlpha(src, ++seed) : FillRandom(src, ++seed);
                const SwaLayout plain = alpha ? SwaLayout::C32A : SwaLayout::C32, offset = alpha ? SwaLayout::YUV32A : SwaLayout::YUV32;
                const SwaParams p{std::min(alpha ? 8000 : 30000, TLimit(plain, r)), r};
                const TexRows rows{45, 33, 0, 1, r == 3};
                for (int k = 0; k < (fields || r > 6 ? 1 : 2); ++k) {
                    const TexRows* tex = k ? &rows : nullptr;
                    HostFrame a = src, b = src;
                    ASSERT_EQ(RunSlot(plain, src, p, fields, tex, a), kOk);
                    ASSERT_EQ(RunSlot(offset, src, p, fields, tex, b), kOk);
                    for (int y = 0; y < 33 && !alpha; ++y)
                        for (int x = 0; x < 45; ++x) {
                            ASSERT_EQ(a.px(x, y)[3], tex ? 255 : 0);
                            ASSERT_EQ(b.px(x, y)[3], 255);
                            b.px(x, y)[3] = a.px(x, y)[3];
                        }
                    ASSERT_EQ(FirstDifference(a, b), -1) << "r " << r << (tex ? " texture: " : ": ") << DescribeDifference(a, b);
                }
            }
}

// Two pixels (10,10,10) and (13,10,10), T = 100: d² = 9, so each weighs the other 91;
// pixel 0: (2 * 100 * 10 + 91 * 13 + 145) / 291 = 11, pixel 1: (2 * 100 * 13 + 91 * 10 +
// 145) / 291 = 12. With alpha 255 everywhere pixel 0's scaled sums give (16 * (2 * 15937
// + 18854) + 37102) / 74205 = 11 as well. A transparent neighbour adds nothing. A frame
// of one colour keeps it for any radius, and the alpha layouts their alpha.
TEST(SimilarityValues, WorkedByHand) {
    HostFrame f(2, 1, 4, 0), out;
    const uint8_t px[8] = {10, 10, 10, 255, 13, 10, 10, 255};
    std::copy(px, px + 8, f.bytes.begin());
    ASSERT_EQ(RunSlot(SwaLayout::C32, f, SwaParams{100, 1}, false, nullptr, out = f), kOk);
    EXPECT_EQ(out.bytes, (std::vector<uint8_t>{11, 10, 10, 0, 12, 10, 10, 0}));
    ASSERT_EQ(RunSlot(SwaLayout::C32A, f, SwaParams{100, 1}, false, nullptr, out = f), kOk);
    EXPECT_EQ(out.px(0, 0)[0], 11);
    EXPECT_EQ(out.px(0, 0)[3], 255);
    f.px(1, 0)[3] = 0;
    ASSERT_EQ(RunSlot(SwaLayout::C32A, f, SwaParams{100, 1}, false, nullptr, out = f), kOk);
    EXPECT_EQ(out.px(0, 0)[0], 10);
    EXPECT_EQ(out.px(1, 0)[3], 0);
    HostFrame flat(19, 14, 4, 0);
    for (int i = 0; i < 19 * 14; ++i) flat.bytes[4 * i] = 77, flat.bytes[4 * i + 1] = 128, flat.bytes[4 * i + 2] = 0, flat.bytes[4 * i + 3] = uint8_t(i * 37);
    for (SwaLayout l : kLayouts)
        for (int r : {0, 2, 9}) {
            ASSERT_EQ(RunSlot(l, flat, SwaParams{100, r}, false, nullptr, out = flat), kOk);
            for (int i = 0; i < 19 * 14 * 4; i += 4)
                ASSERT_EQ(std::vector<int>(out.bytes.begin() + i, out.bytes.begin() + i + 4),
                          (std::vector<int>{77, 128, 0, HasAlpha(l) ? flat.bytes[i + 3] : l == SwaLayout::C32 ? 0 : 255}))
                    << Name(l) << " r " << r;
        }
}

// Launch shapes and forms of the worked examples: C32's 12x16 block (under 12 wide the
// default tables), YUV32's 8x8, the alpha layouts' default shape; radii 1-4 fixed.
TEST(SimilarityPlan, ShapesAndForms) {
    const struct {
        tvf2::SimilarityLayout l;
        int w, h, r;
        SimilarityForm form;
        std::vector<unsigned> shape;  // block x, y, grid x, y
    } cases[] = {
        {tvf2::SimilarityLayout::C32, 1920, 1080, 4, SimilarityForm::FixedRadiusTile, {12, 16, 160, 6}},
        {tvf2::SimilarityLayout::C32, 720, 576, 5, SimilarityForm::Tile, {12, 16, 60, 16}},
        {tvf2::SimilarityLayout::C32, 1920, 10, 1, SimilarityForm::FixedRadiusTile, {16, 12, 120, 1}},
        {tvf2::SimilarityLayout::C32, 14, 100, 1, SimilarityForm::FixedRadiusTile, {12, 16, 1, 6}},
        {tvf2::SimilarityLayout::C32, 5, 100, 0, SimilarityForm::Tile, {6, 32, 1, 3}},
        {tvf2::SimilarityLayout::C32, 0, 100, 1, SimilarityForm::FixedRadiusTile, {0, 0, 0, 0}},
        {tvf2::SimilarityLayout::YUV32, 100, 100, 23, SimilarityForm::Tile, {8, 8, 12, 12}},
        {tvf2::SimilarityLayout::YUV32, 1920, 1080, 24, SimilarityForm::BlockStaged, {8, 8, 7, 142}},
        {tvf2::SimilarityLayout::C32A, 1920, 1080, 20, SimilarityForm::Tile, {16, 12, 120, 8}},
        {tvf2::SimilarityLayout::YUV32A, 1920, 1080, 21, SimilarityForm::BlockStaged, {16, 12, 120, 8}},
        {tvf2::SimilarityLayout::YUV32A, 1920, 1080, 3, SimilarityForm::FixedRadiusTile, {16, 12, 120, 8}},
    };
    for (const auto& c : cases) {
        const tvf2::SimilarityPlan p = tvf2::PlanSimilarity(c.l, c.w, c.h, c.r);
        EXPECT_EQ(p.form, c.form) << int(c.l) << " " << c.w << "x" << c.h << " r " << c.r;
        EXPECT_EQ(std::vector<unsigned>({p.block.x, p.block.y, p.grid.x, p.grid.y}), c.shape) << int(c.l) << " " << c.w << "x" << c.h;
    }
    // 8x8 grids: at most 1000 blocks, the count across shrinking first; taller than 1000
    // block rows, one column.
    const int grids[][4] = {{1920, 1080, 7, 142}, {720, 480, 16, 62}, {3, 3, 1, 1}, {16, 8000, 1, 1000}, {16, 8008, 1, 1000}, {4000, 100000, 1, 1000}};
    for (const auto& g : grids) {
        const dim3 d = tvf2::SimilarityEightByEightGrid(g[0], g[1]);
        EXPECT_EQ(std::make_pair(int(d.x), int(d.y)), std::make_pair(g[2], g[3])) << g[0] << "x" << g[1];
    }
}

// Arguments the slots cannot honour: invalid value, nothing written; a failing texture
// binding: its status, nothing launched. An empty frame: the linear C32, C32A and YUV32A
// slots get an empty launch shape and report the configuration error; YUV32's 8x8 launch
// and the texture slots find nothing to do. Nothing is written either way.
// Beyond the range in which the sums are exact the slots still run, with the device's
// 32-bit wrap-around on both backends (a sanitizer build fails here on any signed
// overflow), and the linear and texture forms agree in bytes 0 to 2.
TEST(SimilarityArguments, ThresholdsBeyondTheExactRangeWrapLikeTheDevice) {
    const HostFrame src = NoisyFrame(19, 13, 4, 5, true);
    for (SwaLayout l : kLayouts) {
        const SwaParams p{1 << 30, 3};
        HostFrame linear(19, 13, 4, 0), texture(19, 13, 4, 0);
        ASSERT_EQ(RunSlot(l, src, p, false, nullptr, linear), kOk) << Name(l);
        const TexRows rows{19, 13, 0, 1, false};
        ASSERT_EQ(RunSlot(l, src, p, false, &rows, texture), kOk) << Name(l);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 19; ++x)
                for (int k = 0; k < 3; ++k) ASSERT_EQ(linear.px(x, y)[k], texture.px(x, y)[k]) << Name(l);
    }
}

TEST(SimilarityArguments, RejectedOrEmptyWithoutWriting) {
    HostFrame f(16, 8, 4, 0);
    FillRandom(f, 3);
    DeviceFrame s(f), d(f);
    DeviceArray array(f);
    const cudaChannelFormatDesc floats = cudaCreateChannelDesc(32, 0, 0, 0, cudaChannelFormatKindFloat);
    uint8_t* dp = static_cast<uint8_t*>(d.get());
    const uint8_t* sp = static_cast<const uint8_t*>(s.get());
    cudaArray* a = array.array;
    const SwaParams ok{100, 1};
    for (SwaLayout l : kLayouts) {
        SCOPED_TRACE(Name(l));
        EXPECT_EQ(CallLinear(l, nullptr, 64, sp, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, nullptr, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 60, sp, 64, 16, 8, ok, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 60, 16, 8, ok, true), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 64, 16, 8, SwaParams{100, -1}, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp, 64, 16, 8, SwaParams{0, 1}, false), kInvalidValue);
        EXPECT_EQ(CallLinear(l, dp, 64, sp + 2, 64, 15, 8, ok, false), kInvalidValue);  // not 4-byte aligned
        EXPECT_EQ(CallLinear(l, dp, 66, sp, 64, 16, 7, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, nullptr, 64, a, &kBytes4, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 60, a, &kBytes4, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, nullptr, &kBytes4, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, a, nullptr, 16, 8, 0, 1, ok, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, a, &kBytes4, 16, 8, 0, 1, SwaParams{100, -2}, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, a, &kBytes4, 16, 8, 0, 1, SwaParams{0, 2}, false), kInvalidValue);
        EXPECT_EQ(CallTex(l, dp, 64, a, &floats, 16, 8, 0, 1, ok, false), 20);  // invalid channel descriptor
        const int empty = l == SwaLayout::YUV32 ? kOk : kInvalidConfiguration;
        for (bool fields : {false, true}) {
            EXPECT_EQ(CallLinear(l, dp, 64, sp, 64, 0, 8, ok, fields), empty);
            EXPECT_EQ(CallLinear(l, nullptr, 0, nullptr, 0, 16, 0, ok, fields), empty);
        }
        EXPECT_EQ(CallTex(l, nullptr, 0, a, &kBytes4, 0, 8, 0, 1, ok, false), kOk);
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    }
    HostFrame out = f;
    d.download(out);
    EXPECT_EQ(FirstDifference(f, out), -1) << DescribeDifference(f, out);
}

}  // namespace
