// Slots 53 and 54 against the sequential reference in every kernel form and every
// fixed-radius instance; budgets that give one band, several bands, a last partial band
// and bands narrower than a block; windows that repeat their edge frames; thread
// orders; values worked out by hand; the launch plans; what the slots refuse.
//
// The CPU backend runs the host's expf, as the reference does, and must match it bit
// for bit. The device's expf is within 2 ulp of the exact value: every weight e_i then
// carries a relative error of at most eps = 2 * 2^-23, and a weighted mean of values
// in [0, 255] whose weights are each scaled by a factor in [1 - eps, 1 + eps] moves by at
// most 2 * eps * 255 / (1 - eps), under 1.3e-4; the float sums, taken in the same
// order, add at most n * 2^-24 relative per sum (n candidates, at most 3 * 17 * 17 here),
// together still far below 1/2. So the mean lies on the other side of a rounding
// boundary at most, and the CUDA backend is held to within 1 of the reference in bytes 0
// to 2 and exact in byte 3. (The bound needs a weight sum that is not made of subnormal
// weights alone, so the steepest coefficient here leaves every typical patch a normal
// weight.)
#include "../common/frames.h"
#include "../common/module.h"
#include "denoise/nonlocal_means.h"
#include "nlm_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace tvf2test;
using tvf2::NlmForm;
using tvf2::NlmLayout;

namespace {

#if defined(TVF2_TEST_CPU)
constexpr int kTolerance = 0;
#else
constexpr int kTolerance = 1;
#endif

const char* Name(NlmLayout l) { return l == NlmLayout::C32 ? "C32" : "C32A"; }

// A window: the distinct frames and, per position 0 .. 2T, which of them it shows (a
// stream's edge repeats its first or last frame).
struct Window {
    std::vector<HostFrame> frames;
    std::vector<int> at;
};

// Frames of one noisy gradient, each with noise of its own, so that patches are alike
// but not equal; every frame its own row padding; alpha 0 and 255 on an eighth each.
Window MakeWindow(int w, int h, int T, uint32_t seed, std::vector<int> at = {}) {
    Window win;
    if (at.empty())
        for (int f = 0; f <= 2 * T; ++f) at.push_back(f);
    win.at = at;
    const int distinct = *std::max_element(at.begin(), at.end()) + 1;
    std::mt19937 rng(seed);
    for (int f = 0; f < distinct; ++f) {
        HostFrame frame(w, h, 4, 4 * int(rng() % 4));
        FillRandom(frame, seed * 31 + f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = frame.px(x, y);
                for (int k = 0; k < 3; ++k)
                    p[k] = uint8_t(std::clamp(40 + (x * (4 + k) + y * (6 - k)) % 160 + int(rng() % 21) - 10, 0, 255));
                const uint32_t a = rng() % 8;
                p[3] = a == 0 ? 0 : a == 1 ? 255 : uint8_t(rng());
            }
        win.frames.push_back(std::move(frame));
    }
    return win;
}

// Coefficients of every kind: none (all weights 1), mild, steep, and one so steep that
// distant patches underflow to a weight of 0.
std::vector<float> Coefficients(int T, uint32_t seed) {
    const float kinds[] = {0.0f, 0.0004f, 0.003f, 0.02f, 0.1f};
    std::vector<float> c;
    for (int f = 0; f <= 2 * T; ++f) c.push_back(kinds[(seed + 3 * f) % 5]);
    return c;
}

typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FS;

int CallSlot(NlmLayout l, int w, int h, const NlmParams& p, void* dst, int dstPitch, const void* const* frames,
             const int* pitches, void* block, int budget) {
    const auto slot = l == NlmLayout::C32 ? &FS::NonLocalMeans_C32 : &FS::NonLocalMeans_C32A;
    return (FuncSet()->*slot)(w, h, p.S, p.P, p.T, p.coefficients.data(), dst, dstPitch, frames, pitches, block, budget);
}

// A device parameter block of the given size.
struct DeviceBlock {
    void* ptr = nullptr;
    explicit DeviceBlock(size_t bytes) {
        if (cudaMalloc(&ptr, bytes) != cudaSuccess) ptr = nullptr;
    }
    ~DeviceBlock() { cudaFree(ptr); }
    DeviceBlock(const DeviceBlock&) = delete;
    DeviceBlock& operator=(const DeviceBlock&) = delete;
};

// Runs a slot over the window (each distinct frame uploaded once) into a device copy
// of dst and copies it back.
int RunSlot(NlmLayout l, const Window& win, const NlmParams& p, int budget, HostFrame& dst) {
    std::vector<std::unique_ptr<DeviceFrame>> device;
    for (const HostFrame& f : win.frames) device.push_back(std::make_unique<DeviceFrame>(f));
    std::vector<const void*> frames;
    std::vector<int> pitches;
    for (int i : win.at) {
        frames.push_back(device[i]->get());
        pitches.push_back(device[i]->pitch());
    }
    DeviceFrame dd(dst);
    DeviceBlock block(16 * win.at.size());
    const int status = CallSlot(l, dst.width, dst.height, p, dd.get(), dd.pitch(), frames.data(), pitches.data(), block.ptr, budget);
    dd.download(dst);
    return status;
}

NlmAlpha AlphaRule(NlmLayout l, NlmForm form) {
    return l == NlmLayout::C32 ? NlmAlpha::None : form == NlmForm::Global ? NlmAlpha::Scaled : NlmAlpha::CentreOpaque;
}

std::string Describe(NlmLayout l, int w, int h, const NlmParams& p, int budget) {
    return std::string(Name(l)) + " " + std::to_string(w) + "x" + std::to_string(h) + " S " + std::to_string(p.S) +
           " P " + std::to_string(p.P) + " T " + std::to_string(p.T) + " budget " + std::to_string(budget);
}

// One call against the reference on a random destination (row padding included). With
// a budget of -1 only the first chunk of every band is filtered; the rest keeps dst.
::testing::AssertionResult Matches(NlmLayout l, const Window& win, const NlmParams& p, int budget, uint32_t seed,
                                   std::set<std::tuple<int, int, int, int>>* forms = nullptr) {
    const int w = win.frames[0].width, h = win.frames[0].height;
    const tvf2::NlmPlan plan = tvf2::PlanNonLocalMeans(w, h, p.S, p.P, p.T, budget);
    if (forms) forms->insert({int(plan.form), plan.form == NlmForm::FixedRadii ? p.S : -1, p.P, p.T});
    HostFrame dst(w, h, 4, 4 * int(seed % 3));
    FillRandom(dst, seed);
    HostFrame expected = dst;
    std::vector<const HostFrame*> frames;
    for (int i : win.at) frames.push_back(&win.frames[i]);
    NonLocalMeansReference(AlphaRule(l, plan.form), p, frames, expected);
    if (budget == -1)
        for (int y = 0; y < h; ++y)
            std::copy(dst.row(y) + 4 * std::min(w, plan.chunkWidth), dst.row(y) + dst.pitch, expected.row(y) + 4 * std::min(w, plan.chunkWidth));
    HostFrame actual = dst;
    const int status = RunSlot(l, win, p, budget, actual);
    const std::string what = Describe(l, w, h, p, budget) + " seed " + std::to_string(seed);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < dst.pitch; ++i) {
            const int e = expected.row(y)[i], a = actual.row(y)[i];
            const bool colour = i < 4 * w && i % 4 < 3;
            if (std::abs(e - a) > (colour ? kTolerance : 0))
                return ::testing::AssertionFailure() << what << ": " << (i >= 4 * w ? "row padding written: " : "")
                                                     << DescribeDifference(expected, actual);
        }
    return ::testing::AssertionSuccess();
}

class NonLocalMeans : public ::testing::TestWithParam<NlmLayout> {};

// Every fixed instance (S 2..4, P 1..2, T 0..1) on a frame of two block columns, the
// second partial; the run-time tile around the fixed set (S 0, 1, 5; P 0, 3, negative; T
// 2) and up to the last tile under 14336 bytes (S 7, P 2, T 1: 13872 bytes); the global
// form past it (S 8: 15552 bytes) and for many frames; tiny and thin frames with table
// blocks.
TEST_P(NonLocalMeans, EveryFormMatchesReference) {
    const NlmLayout l = GetParam();
    std::set<std::tuple<int, int, int, int>> forms;
    uint32_t seed = 10 + 100 * unsigned(l);
    for (int T : {0, 1})
        for (int P : {1, 2})
            for (int S : {2, 3, 4}) {
                const Window win = MakeWindow(19, 17, T, ++seed);
                ASSERT_TRUE(Matches(l, win, NlmParams{S, P, T, Coefficients(T, seed)}, 0, seed, &forms));
            }
    EXPECT_EQ(forms.size(), 12u);
    const int runtime[][3] = {{0, 0, 0}, {1, 1, 0}, {5, 1, 0}, {2, 3, 0}, {3, 0, 1}, {1, -1, 1}, {2, -2147483647 - 1, 0},
                              {2, 1, 2}, {7, 2, 1}, {8, 2, 1}, {2, 2, 3}};
    for (const auto& r : runtime) {
        const Window win = MakeWindow(18, 17, r[2], ++seed);
        ASSERT_TRUE(Matches(l, win, NlmParams{r[0], r[1], r[2], Coefficients(r[2], seed)}, 0, seed, &forms));
    }
    EXPECT_EQ(tvf2::PlanNonLocalMeans(18, 17, 7, 2, 1, 0).form, NlmForm::Tile);
    EXPECT_EQ(tvf2::PlanNonLocalMeans(18, 17, 8, 2, 1, 0).form, NlmForm::Global);
    for (auto s : {std::make_pair(1, 1), {2, 3}, {5, 40}, {40, 3}, {3, 7}})
        for (int S : {0, 2, 6}) {
            const Window win = MakeWindow(s.first, s.second, 1, ++seed);
            ASSERT_TRUE(Matches(l, win, NlmParams{S, 1, 1, Coefficients(1, seed)}, 0, seed, &forms));
        }
    std::set<int> kinds;
    for (const auto& f : forms) kinds.insert(std::get<0>(f));
    EXPECT_EQ(kinds, (std::set<int>{int(NlmForm::Global), int(NlmForm::Tile), int(NlmForm::FixedRadii)}));
}

// Budgets: 0 and one above the frame (one band); bands of whole blocks with a last partial
// band; bands lower than a block, widened to one block with the columns split into
// chunks (2 and, from 3 rounded up, 4 chunks; 8 and 16 chunks of one block, the last
// partial); a negative budget (bands of h / 16 rows; under 16 rows one band); -1 (the
// first chunk of every band only). In the fixed, tiled and global forms.
TEST_P(NonLocalMeans, BudgetsMatchReference) {
    const NlmLayout l = GetParam();
    uint32_t seed = 500 + 100 * unsigned(l);
    const struct {
        int w, h, budget, band, chunk;
    } cases[] = {{40, 53, 0, 53, 40},          {40, 53, 1 << 30, 13421772, 40}, {40, 53, 1600, 16, 40},
                 {40, 53, 2 * 33 * 40, 32, 40}, {40, 37, 640, 16, 16},          {40, 37, 2 * 6 * 40, 16, 0},
                 {72, 37, 2 * 6 * 72, 16, 16},  {72, 37, 2 * 6 * 72 + 1, 16, 16}, {260, 20, 2, 16, 16},
                 {130, 53, -7, 16, 16},         {40, 13, -7, 13, 40},           {130, 37, -1, 16, 16},
                 {20, 260, -1, 16, 20},         {40, 13, -1, 13, 40}};
    const int radii[][3] = {{2, 1, 0}, {1, 2, 1}, {1, 0, 6}};
    for (const auto& c : cases) {
        const tvf2::NlmPlan plan = tvf2::PlanNonLocalMeans(c.w, c.h, 2, 1, 0, c.budget);
        EXPECT_EQ(std::make_pair(plan.bandHeight, plan.chunkWidth), std::make_pair(c.band, c.chunk)) << c.w << "x" << c.h << " budget " << c.budget;
        if (c.chunk == 0) continue;  // chunks narrower than a block: refused, see the argument tests
        for (const auto& r : radii) {
            const Window win = MakeWindow(c.w, c.h, r[2], ++seed);
            ASSERT_TRUE(Matches(l, win, NlmParams{r[0], r[1], r[2], Coefficients(r[2], seed)}, c.budget, seed));
        }
    }
    EXPECT_EQ(tvf2::PlanNonLocalMeans(40, 53, 1, 0, 6, 0).form, NlmForm::Global);
}

// A window at the start of a stream repeats its first frame, at the end its last.
TEST_P(NonLocalMeans, WindowsAtStreamEdgesMatchReference) {
    const NlmLayout l = GetParam();
    uint32_t seed = 900 + 100 * unsigned(l);
    const std::vector<int> windows[] = {{0, 0, 1}, {0, 1, 1}, {0, 0, 0, 1, 2}, {0, 1, 2, 2, 2}, {0, 0, 0}};
    for (const auto& at : windows) {
        const int T = int(at.size()) / 2;
        const Window win = MakeWindow(21, 18, T, ++seed, at);
        ASSERT_TRUE(Matches(l, win, NlmParams{2, 1, T, Coefficients(T, seed + 1)}, 0, seed));
        ASSERT_TRUE(Matches(l, win, NlmParams{3, 3, T, Coefficients(T, seed + 2)}, 700, seed));
    }
}

// Every form, on frames of several blocks and pieces, in forward, reverse and shuffled
// thread order (a missing barrier shows as a difference).
TEST_P(NonLocalMeans, EveryFormInEveryThreadOrder) {
    const NlmLayout l = GetParam();
    const Window one = MakeWindow(37, 35, 0, 71), three = MakeWindow(37, 35, 1, 72), many = MakeWindow(37, 35, 6, 73);
    ForEachThreadOrder([&] {
        ASSERT_TRUE(Matches(l, one, NlmParams{2, 1, 0, {0.003f}}, 0, 1));
        ASSERT_TRUE(Matches(l, three, NlmParams{3, 2, 1, {0.002f, 0.003f, 0.0004f}}, 2 * 20 * 37, 2));
        ASSERT_TRUE(Matches(l, three, NlmParams{1, 1, 1, {0.003f, 0.02f, 0.0f}}, 0, 3));
        ASSERT_TRUE(Matches(l, many, NlmParams{1, 0, 6, Coefficients(6, 4)}, 2 * 20 * 37, 4));
        ASSERT_EQ(tvf2::PlanNonLocalMeans(37, 35, 1, 0, 6, 0).form, NlmForm::Global);
    });
}

INSTANTIATE_TEST_SUITE_P(Layouts, NonLocalMeans, ::testing::Values(NlmLayout::C32, NlmLayout::C32A),
                         [](const ::testing::TestParamInfo<NlmLayout>& info) { return std::string(Name(info.param)); });

HostFrame Filled(int w, int h, std::vector<uint8_t> pixel) {
    HostFrame f(w, h, 4, 0);
    for (size_t i = 0; i < f.bytes.size(); ++i) f.bytes[i] = pixel[i % 4];
    return f;
}

std::vector<int> Pixel(const HostFrame& f, int x, int y) { return std::vector<int>(f.px(x, y), f.px(x, y) + 4); }

// S = P = T = 0: the pixel itself. T = 1, S = P = 0, no coefficient: the mean of the
// three frames, rounded half up (10, 11, 13: 11.33 -> 11). A window of one colour keeps
// it. In the tiled alpha forms the centre weighs 255, so an opaque 127 beside a centre
// of 128 and a transparent 0 gives 127.5, rounded to 128. In the alpha global form a
// window with no alpha at all gives (0, 128, 128) and the centre's alpha 0.
TEST(NonLocalMeansValues, WorkedByHand) {
    Window win = MakeWindow(17, 5, 0, 3);
    HostFrame out = win.frames[0];
    ASSERT_EQ(RunSlot(NlmLayout::C32, win, NlmParams{0, 0, 0, {0.7f}}, 0, out), kOk);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 17; ++x) {
            std::vector<int> expected = Pixel(win.frames[0], x, y);
            expected[3] = 255;
            ASSERT_EQ(Pixel(out, x, y), expected);
        }

    Window three{{Filled(3, 2, {10, 0, 255, 9}), Filled(3, 2, {11, 100, 254, 9}), Filled(3, 2, {13, 200, 255, 9})}, {0, 1, 2}};
    ASSERT_EQ(RunSlot(NlmLayout::C32, three, NlmParams{0, 0, 1, {0, 0, 0}}, 0, out = three.frames[0]), kOk);
    EXPECT_EQ(Pixel(out, 2, 1), (std::vector<int>{11, 100, 255, 255}));

    for (NlmLayout l : {NlmLayout::C32, NlmLayout::C32A}) {
        Window flat{{Filled(9, 20, {77, 128, 3, 40})}, {0, 0, 0}};
        for (int S : {1, 4, 9}) {
            ASSERT_EQ(RunSlot(l, flat, NlmParams{S, 2, 1, {0.1f, 0.1f, 0.1f}}, 0, out = flat.frames[0]), kOk);
            EXPECT_EQ(Pixel(out, 8, 19), (std::vector<int>{77, 128, 3, l == NlmLayout::C32 ? 255 : 40})) << Name(l) << " S " << S;
        }
    }

    Window half{{Filled(2, 2, {127, 127, 127, 255}), Filled(2, 2, {128, 128, 128, 17}), Filled(2, 2, {250, 250, 250, 0})}, {0, 1, 2}};
    ASSERT_EQ(tvf2::PlanNonLocalMeans(2, 2, 0, 0, 1, 0).form, NlmForm::Tile);
    ASSERT_EQ(RunSlot(NlmLayout::C32A, half, NlmParams{0, 0, 1, {0, 0, 0}}, 0, out = half.frames[0]), kOk);
    EXPECT_EQ(Pixel(out, 1, 1), (std::vector<int>{128, 128, 128, 17}));

    Window clear{{Filled(2, 2, {90, 80, 70, 0})}, {0}};
    ASSERT_EQ(tvf2::PlanNonLocalMeans(2, 2, 11, 0, 0, 0).form, NlmForm::Global);
    ASSERT_EQ(RunSlot(NlmLayout::C32A, clear, NlmParams{11, 0, 0, {0.01f}}, 0, out = clear.frames[0]), kOk);
    EXPECT_EQ(Pixel(out, 0, 1), (std::vector<int>{0, 128, 128, 0}));
}

// The plans of the worked examples: a 16x16 block; tiles of 1936 (S 2, P 1, T 0), 9408
// (4, 2, 1), 10800 (5, 2, 1), 12288 (6, 2, 1), 13872 (7, 2, 1) bytes, the global form at
// 15552 (8, 2, 1); bands and chunks by budget; the 1000-block cap of the shape.
TEST(NonLocalMeansPlan, FormsBandsAndChunks) {
    const struct {
        int w, h, S, P, T, budget;
        NlmForm form;
        unsigned shared;
        std::vector<int> shape;  // block x, y, grid x, y, band height, chunk width
    } cases[] = {
        {16, 16, 2, 1, 0, 0, NlmForm::FixedRadii, 1936, {16, 16, 1, 1, 16, 16}},
        {64, 48, 4, 2, 1, 0, NlmForm::FixedRadii, 9408, {16, 16, 4, 3, 48, 64}},
        {64, 48, 5, 2, 1, 0, NlmForm::Tile, 10800, {16, 16, 4, 3, 48, 64}},
        {64, 48, 6, 2, 1, 0, NlmForm::Tile, 12288, {16, 16, 4, 3, 48, 64}},
        {64, 48, 7, 2, 1, 0, NlmForm::Tile, 13872, {16, 16, 4, 3, 48, 64}},
        {64, 48, 8, 2, 1, 0, NlmForm::Global, 0, {16, 16, 4, 3, 48, 64}},
        {1920, 1080, 2, 2, 1, 0, NlmForm::FixedRadii, 6912, {16, 16, 120, 8, 1080, 1920}},
        {1920, 1080, 2, 2, 1, 2 * 1920 * 100, NlmForm::FixedRadii, 6912, {16, 16, 120, 6, 96, 1920}},
        {1920, 1080, 2, 2, 1, 100, NlmForm::FixedRadii, 6912, {16, 16, 7, 1, 16, 112}},
        {1920, 1080, 2, 2, 1, 2 * 1920 * 5, NlmForm::FixedRadii, 6912, {16, 16, 30, 1, 16, 480}},
        {1920, 1080, 2, 2, 1, -1, NlmForm::FixedRadii, 6912, {16, 16, 120, 4, 64, 1920}},
        {720, 8, 3, 1, 0, 0, NlmForm::FixedRadii, 32 * 16 * 4, {24, 8, 30, 1, 8, 720}},
        {720, 8, 3, 1, 0, 300, NlmForm::FixedRadii, 32 * 16 * 4, {24, 8, 3, 1, 8, 72}},
        {5, 100, 0, 0, 0, 0, NlmForm::Tile, 6 * 32 * 4, {6, 32, 1, 3, 100, 5}},
    };
    for (const auto& c : cases) {
        const tvf2::NlmPlan p = tvf2::PlanNonLocalMeans(c.w, c.h, c.S, c.P, c.T, c.budget);
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " S " + std::to_string(c.S) + " P " +
                                 std::to_string(c.P) + " T " + std::to_string(c.T) + " budget " + std::to_string(c.budget);
        EXPECT_EQ(p.form, c.form) << what;
        EXPECT_EQ(p.sharedBytes, c.shared) << what;
        EXPECT_EQ(std::vector<int>({int(p.block.x), int(p.block.y), int(p.grid.x), int(p.grid.y), p.bandHeight, p.chunkWidth}), c.shape) << what;
    }
}

// Refused before anything is copied or launched (invalid value; output and parameter
// block untouched), chunks narrower than a block included; an empty frame: success,
// nothing done.
TEST(NonLocalMeansArguments, RejectedOrEmptyWithoutWriting) {
    HostFrame f(16, 8, 4, 0);
    FillRandom(f, 5);
    DeviceFrame a(f), b(f), d(f);
    HostFrame blockBytes(56, 1, 1, 0);  // room for the 48 bytes of T = 1 from byte 4 on
    FillRandom(blockBytes, 6);
    DeviceFrame block(blockBytes);
    const float coef[3] = {0.01f, 0.01f, 0.01f};
    const void* frames[3] = {a.get(), b.get(), a.get()};
    const int pitches[3] = {64, 64, 64};
    const void* withNull[3] = {a.get(), nullptr, b.get()};
    const void* withDst[3] = {a.get(), d.get(), b.get()};
    const int narrow[3] = {64, 60, 64};
    const int unaligned[3] = {64, 66, 64};
    const void* offset[3] = {a.get(), static_cast<const uint8_t*>(b.get()) + 2, a.get()};
    void* dp = d.get();
    void* bp = block.get();
    void* misaligned = static_cast<uint8_t*>(bp) + 4;  // the kernels read 8-byte pointers from it
    const struct {
        int w, h, S, P, T;
        const float* c;
        void* dst;
        int dstPitch;
        const void* const* frames;
        const int* pitches;
        void* block;
    } cases[] = {
        {16, 8, -1, 1, 1, coef, dp, 64, frames, pitches, bp},  {16, 8, 1, 1, -1, coef, dp, 64, frames, pitches, bp},
        {16, 8, 1, 1, 513, coef, dp, 64, frames, pitches, bp}, {16, 8, 4000, 97, 1, coef, dp, 64, frames, pitches, bp},
        {16, 8, 1, 1, 1, nullptr, dp, 64, frames, pitches, bp}, {16, 8, 1, 1, 1, coef, nullptr, 64, frames, pitches, bp},
        {16, 8, 1, 1, 1, coef, dp, 60, frames, pitches, bp},    {16, 8, 1, 1, 1, coef, dp, -64, frames, pitches, bp},
        {16, 8, 1, 1, 1, coef, dp, 64, nullptr, pitches, bp},   {16, 8, 1, 1, 1, coef, dp, 64, frames, nullptr, bp},
        {16, 8, 1, 1, 1, coef, dp, 64, frames, pitches, nullptr}, {16, 8, 1, 1, 1, coef, dp, 64, withNull, pitches, bp},
        {16, 8, 1, 1, 1, coef, dp, 64, withDst, pitches, bp},   {16, 8, 1, 1, 1, coef, dp, 64, frames, narrow, bp},
        {16, 8, 1, 1, 1, coef, dp, 64, frames, unaligned, bp},  {15, 8, 1, 1, 1, coef, dp, 64, offset, pitches, bp},
        {16, 8, 1, 1, 1, coef, dp, 64, frames, pitches, misaligned},
    };
    for (NlmLayout l : {NlmLayout::C32, NlmLayout::C32A}) {
        for (const auto& c : cases) {
            const auto slot = l == NlmLayout::C32 ? &FS::NonLocalMeans_C32 : &FS::NonLocalMeans_C32A;
            EXPECT_EQ((FuncSet()->*slot)(c.w, c.h, c.S, c.P, c.T, c.c, c.dst, c.dstPitch, c.frames, c.pitches, c.block, 0), kInvalidValue)
                << Name(l) << " case " << (&c - cases);
        }
        for (auto wh : {std::make_pair(0, 8), {16, 0}, {-3, -3}})
            EXPECT_EQ(CallSlot(l, wh.first, wh.second, NlmParams{1, 1, 1, {}}, nullptr, 0, nullptr, nullptr, nullptr, 0), kOk);
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
        // 16 x 8 (block 24 x 8) in bands of one row: 8 chunks of 2 columns, no block fits
        // across.
        EXPECT_EQ(tvf2::PlanNonLocalMeans(16, 8, 1, 1, 1, 2).chunkWidth, 0);
        EXPECT_EQ(CallSlot(l, 16, 8, NlmParams{1, 1, 1, {coef, coef + 3}}, dp, 64, frames, pitches, bp, 2), kInvalidValue);
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    }
#if defined(TVF2_TEST_CPU)
    // A parameter block one byte short: the runtime refuses the first copy.
    DeviceBlock shortBlock(47);
    EXPECT_EQ(CallSlot(NlmLayout::C32, 16, 8, NlmParams{1, 1, 1, {coef, coef + 3}}, dp, 64, frames, pitches, shortBlock.ptr, 0), kInvalidValue);
    // The refused copy is that call's status and no later call's.
    EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
#endif
    HostFrame out = f, outBlock = blockBytes;
    d.download(out);
    block.download(outBlock);
    EXPECT_EQ(FirstDifference(f, out), -1) << DescribeDifference(f, out);
    EXPECT_EQ(outBlock.bytes, blockBytes.bytes) << "the parameter block was written";
}

}  // namespace
