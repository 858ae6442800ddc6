// Slots 46 to 49 against the sequential reference, bit for bit: reference counts from 0
// to 20, field mode on even and odd heights, frames whose pitches all differ, alpha
// members transparent and opaque, every thread order; values worked out by hand; the
// launch plan; what the slots refuse.
#include "../common/frames.h"
#include "../common/module.h"
#include "denoise/multi_frame_average.h"
#include "multi_frame_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

const MfaLayout kLayouts[] = {MfaLayout::C32, MfaLayout::C32A, MfaLayout::YUV32, MfaLayout::YUV32A};
const char* Name(MfaLayout l) {
    static const char* const names[] = {"C32", "C32A", "YUV32", "YUV32A"};
    return names[int(l)];
}

typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FS;
typedef decltype(&FS::MultiFrameSimilarityAverage_C32) Slot;
Slot SlotOf(MfaLayout l) {
    static const Slot slots[] = {&FS::MultiFrameSimilarityAverage_C32, &FS::MultiFrameSimilarityAverage_C32A,
                                 &FS::MultiFrameSimilarityAverage_YUV32, &FS::MultiFrameSimilarityAverage_YUV32A};
    return slots[int(l)];
}

// The largest T for which the reference's 64-bit sums are what the slots compute: the
// integer sums within 32 bits (C32's single-precision sums round like the reference's).
int TLimit(MfaLayout l, int count) {
    const long long units = count + 1;
    if (HasAlpha(l)) return int(((1LL << 31) - 1) / (256LL * 255 * units));
    return int(((1LL << 31) - 1) / (256 * units));
}

// Byte 3 of every pixel: 0 on an eighth, 255 on an eighth, random on the rest.
void FillRandomAlphaChannel(HostFrame& f, uint32_t seed) {
    std::mt19937 rng(seed ^ 0x9e3779b9u);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const uint32_t r = rng() % 8;
            f.px(x, y)[3] = r == 0 ? 0 : r == 1 ? 255 : uint8_t(rng());
        }
}

// A current frame and references that resemble it: the same picture with a little noise,
// each reference with a block of its own that changed (moved content) and, with alpha,
// transparent and opaque pixels in quantity. Every frame gets its own row padding.
struct Frames {
    HostFrame current;
    std::vector<HostFrame> references;
};

Frames MakeFrames(int w, int h, int count, bool alpha, uint32_t seed) {
    std::mt19937 rng(seed);
    Frames f;
    f.current = HostFrame(w, h, 4, int(seed % 3) * 4);
    FillRandom(f.current, seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) f.current.px(x, y)[k] = uint8_t(40 + (x * (5 + k) + y * (7 - k)) % 170 + rng() % 9);
    if (alpha) FillRandomAlphaChannel(f.current, seed);
    for (int i = 0; i < count; ++i) {
        HostFrame r(w, h, 4, 4 * ((i + seed) % 5) + 8 * i);  // pitches that differ
        FillRandom(r, seed * 31 + i);
        const int bx = int(rng() % std::max(w, 1)), by = int(rng() % std::max(h, 1)), amp = 2 + i % 6;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool moved = std::abs(x - bx) < 3 && std::abs(y - by) < 2;
                for (int k = 0; k < 3; ++k)
                    r.px(x, y)[k] = moved ? uint8_t(rng()) : uint8_t(std::clamp(int(f.current.px(x, y)[k]) + int(rng() % (2 * amp + 1)) - amp, 0, 255));
            }
        if (alpha) FillRandomAlphaChannel(r, seed * 17 + i);
        f.references.push_back(std::move(r));
    }
    return f;
}

// Runs the slot on device copies (each reference its own allocation and pitch) into a
// random destination, its row padding included, and compares with the reference.
::testing::AssertionResult Matches(MfaLayout l, const Frames& f, int T, bool fields, uint32_t seed) {
    const int w = f.current.width, h = f.current.height, n = int(f.references.size());
    HostFrame dst(w, h, 4, 4 + int(seed % 2) * 12);
    FillRandom(dst, seed + 5);
    HostFrame expected = dst;
    MultiFrameReference(l, T, fields, f.current, f.references, expected);

    DeviceFrame dd(dst), ds(f.current);
    std::vector<std::unique_ptr<DeviceFrame>> refs;
    std::vector<const void*> pointers;
    std::vector<int> pitches;
    for (const HostFrame& r : f.references) {
        refs.emplace_back(new DeviceFrame(r));
        pointers.push_back(refs.back()->get());
        pitches.push_back(refs.back()->pitch());
    }
    void* scratch = nullptr;
    cudaMalloc(&scratch, std::max<size_t>(tvf2::MultiFrameScratchBytes(n), 1));
    const int status = (FuncSet()->*SlotOf(l))(dd.get(), ds.get(), pointers.data(), n, w, h, dd.pitch(), ds.pitch(),
                                               pitches.data(), T, fields, nullptr, scratch);
    dd.download(dst);
    cudaFree(scratch);
    const std::string what = std::string(Name(l)) + " " + std::to_string(w) + "x" + std::to_string(h) + " n " +
                             std::to_string(n) + " T " + std::to_string(T) + (fields ? " fields" : "") + " seed " +
                             std::to_string(seed);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    if (dst.bytes != expected.bytes)
        return ::testing::AssertionFailure() << what << ": " << (FirstDifference(expected, dst) < 0 ? "row padding written" : DescribeDifference(expected, dst));
    return ::testing::AssertionSuccess();
}

// Thresholds from "no reference passes" to "every reference passes", and a negative one.
int Pick(MfaLayout l, int count, uint32_t seed) {
    const int choices[] = {1, 40, 300, 2500, 60000, -9}, t = choices[seed % 6];
    return t < 0 ? t : std::min(t, TLimit(l, count));
}

class MultiFrame : public ::testing::TestWithParam<MfaLayout> {};

// Counts 0, 1, a middle one and 20; frames of one pixel, thinner than the block and the
// comparison block, around the 8x8 block, several blocks; fields on even and odd
// heights (one row, where the odd field is empty); one case in every thread order.
TEST_P(MultiFrame, MatchesReference) {
    const MfaLayout l = GetParam();
    uint32_t seed = 10 + 100 * unsigned(l);
    for (auto s : {std::make_pair(1, 1), {3, 2}, {8, 8}, {13, 11}, {19, 6}, {1, 9}})
        for (int n : {0, 1, 7, 20})
            for (bool fields : {false, true}) {
                ++seed;
                ASSERT_TRUE(Matches(l, MakeFrames(s.first, s.second, n, HasAlpha(l), seed), Pick(l, n, seed), fields, seed));
            }
    const Frames f = MakeFrames(21, 17, 3, HasAlpha(l), 77);
    ForEachThreadOrder([&] {
        for (bool fields : {false, true}) ASSERT_TRUE(Matches(l, f, 900, fields, 78));
    });
}

INSTANTIATE_TEST_SUITE_P(Layouts, MultiFrame, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<MfaLayout>& info) { return std::string(Name(info.param)); });

// Frames of 8008 rows or more: the grid is 1 by 1000 blocks and the grid-stride loops
// cover the rest of the frame, in both fields.
TEST(MultiFramePlan, TallFramesAndFields) {
    const tvf2::MultiFramePlan p = tvf2::PlanMultiFrame(3, 8200, true);
    EXPECT_EQ(p.grid.x, 1u);
    EXPECT_EQ(p.grid.y, 1000u);
    EXPECT_EQ(p.sharedBytes, 1728u);
    const tvf2::MultiFramePlan full = tvf2::PlanMultiFrame(1920, 1080, false);
    EXPECT_EQ(full.grid.x, 7u);
    EXPECT_EQ(full.grid.y, 142u);
    EXPECT_EQ(full.rows[0], 1080);
    const tvf2::MultiFramePlan odd = tvf2::PlanMultiFrame(16, 9, true);
    EXPECT_EQ(odd.rows[0], 5);
    EXPECT_EQ(odd.rows[1], 4);
    ASSERT_TRUE(Matches(MfaLayout::YUV32, MakeFrames(3, 8200, 1, false, 5), 700, true, 6));
}

// One pixel's value by hand: T = 2, current byte 0 of 10, two references whose byte 0
// is 11 everywhere (bytes 1 and 2 as the current frame's): each reference weighs
// 2 - 1 = 1, the sums are 2 * 10 + 11 + 11 = 42 over 4. C32 truncates to 10, YUV32
// rounds to 11; with opaque references the alpha-weighted slots round to 11 as well,
// and with transparent ones they keep 10.
TEST(MultiFrameValues, WorkedByHand) {
    HostFrame cur(6, 6, 4, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            uint8_t* p = cur.px(x, y);
            p[0] = 10, p[1] = 100, p[2] = 200, p[3] = 77;
        }
    for (MfaLayout l : kLayouts)
        for (int alpha : {255, 0}) {
            Frames f{cur, {cur, cur}};
            for (HostFrame& r : f.references)
                for (int y = 0; y < 6; ++y)
                    for (int x = 0; x < 6; ++x) r.px(x, y)[0] = 11, r.px(x, y)[3] = uint8_t(alpha);
            HostFrame dst(6, 6, 4, 0);
            DeviceFrame dd(dst), ds(f.current), r0(f.references[0]), r1(f.references[1]);
            const void* ptrs[] = {r0.get(), r1.get()};
            const int pitches[] = {r0.pitch(), r1.pitch()};
            void* scratch = nullptr;
            cudaMalloc(&scratch, 24);
            ASSERT_EQ((FuncSet()->*SlotOf(l))(dd.get(), ds.get(), ptrs, 2, 6, 6, 24, 24, pitches, 2, false, nullptr, scratch), kOk);
            dd.download(dst);
            cudaFree(scratch);
            const int want = l == MfaLayout::C32 || (HasAlpha(l) && alpha == 0) ? 10 : 11;
            const int fourth = l == MfaLayout::C32 ? 0 : l == MfaLayout::YUV32 ? 255 : 77;
            EXPECT_EQ(dst.px(3, 2)[0], want) << Name(l) << " alpha " << alpha;
            EXPECT_EQ(dst.px(3, 2)[1], 100) << Name(l);
            EXPECT_EQ(dst.px(0, 5)[2], 200) << Name(l);
            EXPECT_EQ(dst.px(5, 0)[3], fourth) << Name(l);
        }
}

// Refusals answer 11 with nothing copied, launched or written; an empty frame succeeds
// without writing anything.
TEST(MultiFrameArguments, RejectedOrEmptyWithoutWriting) {
    HostFrame frame(16, 8, 4, 0), dst(16, 8, 4, 0);
    FillRandom(frame, 3);
    FillRandom(dst, 4);
    DeviceFrame dd(dst), ds(frame), dr(frame);
    const void* ptrs[] = {dr.get(), dr.get()};
    const void* nullPtrs[] = {dr.get(), nullptr};
    const int pitches[] = {64, 64}, shortPitches[] = {64, 60};
    void* scratch = nullptr;
    cudaMalloc(&scratch, 24);
    void* d = dd.get();
    const void* s = ds.get();
    for (MfaLayout l : kLayouts) {
        const Slot slot = SlotOf(l);
        FS* fs = FuncSet();
        EXPECT_EQ((fs->*slot)(d, s, ptrs, -1, 16, 8, 64, 64, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 21, 16, 8, 64, 64, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, nullptr, 2, 16, 8, 64, 64, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 64, 64, nullptr, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 64, 64, pitches, 100, false, nullptr, nullptr), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, nullPtrs, 2, 16, 8, 64, 64, pitches, 100, true, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 64, 64, shortPitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 60, 64, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 64, 62, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(nullptr, s, ptrs, 2, 16, 8, 64, 64, pitches, 100, false, nullptr, scratch), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, nullptr, ptrs, 0, 16, 8, 64, 64, nullptr, 100, false, nullptr, nullptr), kInvalidValue);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 8, 64, 64, pitches, 0, false, nullptr, scratch), kInvalidValue);
#if defined(TVF2_TEST_CPU)
        // The CPU runtime knows the scratch's size: 2 frames need 24 bytes, 3 need 36.
        const void* three[] = {dr.get(), dr.get(), dr.get()};
        const int threePitches[] = {64, 64, 64};
        EXPECT_EQ((fs->*slot)(d, s, three, 3, 16, 8, 64, 64, threePitches, 100, false, nullptr, scratch), kInvalidValue);
#endif
        EXPECT_EQ((fs->*slot)(nullptr, nullptr, nullptr, 0, 0, 8, 0, 0, nullptr, 100, true, nullptr, nullptr), kOk);
        EXPECT_EQ((fs->*slot)(d, s, ptrs, 2, 16, 0, 64, 64, pitches, 100, false, nullptr, scratch), kOk);
        EXPECT_EQ(fs->GetLastStatus(), kOk) << Name(l);
    }
    HostFrame after = dst;
    dd.download(after);
    EXPECT_EQ(after.bytes, dst.bytes);
    cudaFree(scratch);
}

}  // namespace
