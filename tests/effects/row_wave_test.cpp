// Slot 18 against the per-row reference: bit for bit on the CPU backend; on a GPU a row
// may differ only where a cosine value lies within the device cosine's error of a
// half-integer (the reference marks those rows).
#include "../common/frames.h"
#include "../common/module.h"
#include "effects/row_wave.h"
#include "row_wave_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

std::string Describe(const RowWaveParams& p, int w, int h) {
    std::string s = std::to_string(w) + "x" + std::to_string(h) + " frame " + std::to_string(p.frameIndex) +
                    " rate " + std::to_string(p.frameRate) + (p.wholeFrame ? " whole" : " fields") +
                    (p.evenRowsFirst ? " even-first" : " odd-first");
    for (const WaveParams& wv : p.waves)
        if (wv.enable)
            s += " [" + std::to_string(wv.shape) + " " + std::to_string(wv.wavelength) + " " +
                 std::to_string(wv.speed) + " " + std::to_string(wv.amplitude) + "]";
    return s;
}

int CallSlot(const RowWaveParams& p, int w, int h, void* dst, int dstPitch, const void* src, int srcPitch) {
    const WaveParams* v = p.waves;
    return FuncSet()->RowWaveOffset_C32(w, h, dst, dstPitch, src, srcPitch, p.frameIndex, p.frameRate,
                                        p.wholeFrame, p.evenRowsFirst, v[0].enable, v[0].shape,
                                        v[0].wavelength, v[0].speed, v[0].amplitude, v[1].enable, v[1].shape,
                                        v[1].wavelength, v[1].speed, v[1].amplitude, v[2].enable, v[2].shape,
                                        v[2].wavelength, v[2].speed, v[2].amplitude);
}

// Rows that differ from the reference must be marked near a half step (GPU only).
::testing::AssertionResult Compare(const RowWaveParams& p, const HostFrame& expected, const HostFrame& actual) {
    const std::vector<RowOffset> rows = RowWaveOffsets(p, expected.height);
    for (int y = 0; y < expected.height; ++y)
        for (int i = 0; i < expected.width * 4; ++i)
            if (expected.row(y)[i] != actual.row(y)[i]) {
#if !defined(TVF2_TEST_CPU)
                if (rows[y].nearHalfStep) break;
#endif
                return ::testing::AssertionFailure()
                       << Describe(p, expected.width, expected.height) << ": row " << y << " (offset "
                       << rows[y].d << ") byte " << i << ": expected " << int(expected.row(y)[i]) << ", got "
                       << int(actual.row(y)[i]);
            }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Matches(const RowWaveParams& p, int w, int h, uint32_t seed, bool inPlace = false) {
    HostFrame src(w, h, 4, 8), dst(w, h, 4, 4);
    FillRandom(src, seed);
    FillRandom(dst, seed + 1);
    if (inPlace) dst = src;
    HostFrame expected = dst;
    RowWaveReference(p, src, expected);
    DeviceFrame s(src), d(dst);
    const int status = inPlace ? CallSlot(p, w, h, d.get(), d.pitch(), d.get(), d.pitch())
                               : CallSlot(p, w, h, d.get(), d.pitch(), s.get(), s.pitch());
    if (status != kOk) return ::testing::AssertionFailure() << Describe(p, w, h) << ": status " << status;
    HostFrame actual = dst;
    d.download(actual);
    return Compare(p, expected, actual);
}

const WaveParams kOff{false, 0, 0.0, 0.0, 0.0};

// Each shape alone over wavelengths (fractions, negative, one that rounds to 0 rows),
// speeds of each sign and amplitudes (small, negative, one that saturates every byte).
TEST(RowWave, EachShapeAloneMatchesReference) {
    const double lengths[] = {0.25, 0.37, -0.6, 1.0, 0.004};
    const double speeds[] = {0.5, -1.25, 0.0};
    const double amplitudes[] = {40.0, -75.5, 0.5, 300.0};
    uint32_t seed = 500;
    for (int shape = 0; shape <= 4; ++shape)
        for (double l : lengths)
            for (double c : speeds)
                for (double a : amplitudes) {
                    RowWaveParams p{17, 29.97, true, true, {{true, shape, l, c, a}, kOff, kOff}};
                    ASSERT_TRUE(Matches(p, 7, 61, seed++));
                }
}

// Three waves together, whole-frame and field evaluation in both field orders, frame
// indices small, large and negative, rates fractional and tiny.
TEST(RowWave, ThreeWavesFieldsAndFrameIndicesMatchReference) {
    const int64_t frames[] = {0, 1, 250, 16777215, 123456789, int64_t(1) << 40, -3, 9007199254740993LL};
    const double rates[] = {25.0, 30000.0 / 1001.0, 0.001};
    uint32_t seed = 800;
    for (int64_t f : frames)
        for (double r : rates)
            for (int mode = 0; mode < 3; ++mode) {
                RowWaveParams p{f, r, mode == 0, mode == 1,
                                {{true, 0, 0.31, 0.7, 23.0}, {true, 1, 0.125, -2.0, -17.0}, {true, 4, 0.6, 3.0, 9.5}}};
                ASSERT_TRUE(Matches(p, 13, 70, seed++));
                p.waves[0].shape = 2;
                p.waves[1].shape = 3;
                ASSERT_TRUE(Matches(p, 13, 70, seed++));
            }
}

// Amplitudes beyond the int range: rounded values saturate and their sum wraps at 32
// bits, as on the device; NaN amplitudes give 0.
TEST(RowWave, HugeAndNotANumberAmplitudes) {
    const double big = 1e12;
    for (int shape = 0; shape <= 4; ++shape) {
        RowWaveParams p{5, 25.0, true, false, {{true, shape, 0.5, 1.0, big}, {true, 1, 0.3, 0.0, big}, {true, 2, 0.2, -1.0, -big}}};
        ASSERT_TRUE(Matches(p, 5, 40, 40u + shape));
        p.waves[1].amplitude = std::numeric_limits<double>::quiet_NaN();
        ASSERT_TRUE(Matches(p, 5, 40, 50u + shape));
    }
}

// Hand-worked: no wave enabled copies the frame; one square wave of amplitude 300 and a
// whole-frame wavelength pushes every byte to 0 or 255 by rows; amplitude 0.4 never
// moves a byte.
TEST(RowWave, HandWorkedRows) {
    HostFrame src(6, 8, 4, 0);
    FillRandom(src, 3);
    DeviceFrame s(src), d(src);
    HostFrame out = src;
    RowWaveParams p{0, 25.0, true, true, {kOff, kOff, kOff}};
    ASSERT_EQ(CallSlot(p, 6, 8, d.get(), d.pitch(), s.get(), s.pitch()), kOk);
    d.download(out);
    EXPECT_EQ(FirstDifference(src, out), -1);
    // Square, L = 8 rows, speed 0, time 0: u = y, pos = y, +A for pos < 2 or pos >= 6.
    p.waves[0] = WaveParams{true, 2, 1.0, 0.0, 300.0};
    ASSERT_EQ(CallSlot(p, 6, 8, d.get(), d.pitch(), s.get(), s.pitch()), kOk);
    d.download(out);
    for (int y = 0; y < 8; ++y)
        for (int i = 0; i < 24; ++i) ASSERT_EQ(out.row(y)[i], (y < 2 || y >= 6) ? 255 : 0) << "row " << y;
    p.waves[0] = WaveParams{true, 1, 0.5, 0.3, 0.4};
    p.waves[1] = WaveParams{true, 0, 0.5, 0.3, -0.4};
    ASSERT_EQ(CallSlot(p, 6, 8, d.get(), d.pitch(), s.get(), s.pitch()), kOk);
    d.download(out);
    EXPECT_EQ(FirstDifference(src, out), -1);
}

// Every row with its own offset, large enough for several blocks and a grid of more
// blocks than the cap (grid-stride rows), in place, in every thread order.
TEST(RowWave, ThreadOrdersLargeFramesAndInPlace) {
    RowWaveParams p{42, 24.0, false, false, {{true, 0, 0.05, 1.0, 60.0}, {true, 3, 0.02, -0.5, 30.0}, kOff}};
    ForEachThreadOrder([&] { ASSERT_TRUE(Matches(p, 33, 47, 61)); });
    ASSERT_TRUE(Matches(p, 40, 7000, 62));
    ASSERT_TRUE(Matches(p, 31, 29, 63, true));
}

// A shape outside the five, passed to the kernel unchecked, adds 0.
TEST(RowWave, UnknownShapeAddsNothingInTheKernel) {
    for (int shape : {5, -1, 1000}) {
        HostFrame src(4, 6, 4, 0), out(4, 6, 4, 0);
        FillRandom(src, 9);
        DeviceFrame s(src), d(out);
        tvf2::RowWaveArgs a{4, 6, d.get(), d.pitch(), s.get(), s.pitch(), 3, 25.0, true, true,
                            {{true, shape, 0.5, 1.0, 100.0}, {true, 2, 0.5, 0.0, 7.0}, {false, 0, 0, 0, 0}}};
        EXPECT_FALSE(tvf2::RowWaveArgsValid(a));
        ASSERT_EQ(tvf2::QueueRowWave(a), cudaSuccess);
        d.download(out);
        RowWaveParams p{3, 25.0, true, true, {{true, shape, 0.5, 1.0, 100.0}, {true, 2, 0.5, 0.0, 7.0}, kOff}};
        HostFrame expected = src;
        RowWaveReference(p, src, expected);
        EXPECT_TRUE(Compare(p, expected, out));
        RowWaveParams alone{3, 25.0, true, true, {{true, 2, 0.5, 0.0, 7.0}, kOff, kOff}};
        HostFrame expectedAlone = src;
        RowWaveReference(alone, src, expectedAlone);
        EXPECT_EQ(FirstDifference(expected, expectedAlone), -1);
    }
}

TEST(RowWave, RefusesWhatItCannotHonour) {
    HostFrame src(8, 4, 4, 0);
    FillRandom(src, 1);
    DeviceFrame s(src), d(src);
    void* dp = d.get();
    const void* sp = s.get();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const WaveParams ok{true, 0, 0.5, 1.0, 50.0};
    struct Row {
        const char* what;
        int w, h;
        void* dst;
        int dstPitch;
        const void* src;
        int srcPitch;
        RowWaveParams p;
    } rows[] = {
        {"null dst", 8, 4, nullptr, 32, sp, 32, {1, 25.0, true, true, {ok, kOff, kOff}}},
        {"null src", 8, 4, dp, 32, nullptr, 32, {1, 25.0, true, true, {ok, kOff, kOff}}},
        {"dst pitch", 8, 4, dp, 28, sp, 32, {1, 25.0, true, true, {ok, kOff, kOff}}},
        {"src pitch", 8, 4, dp, 32, sp, -32, {1, 25.0, true, true, {ok, kOff, kOff}}},
        {"negative width", -8, 4, dp, 32, sp, 32, {1, 25.0, true, true, {ok, kOff, kOff}}},
        {"rate 0", 8, 4, dp, 32, sp, 32, {1, 0.0, true, true, {ok, kOff, kOff}}},
        {"rate negative", 8, 4, dp, 32, sp, 32, {1, -25.0, false, true, {ok, kOff, kOff}}},
        {"rate NaN", 8, 4, dp, 32, sp, 32, {1, nan, true, true, {ok, kOff, kOff}}},
        {"shape 5 enabled", 8, 4, dp, 32, sp, 32, {1, 25.0, true, true, {ok, kOff, {true, 5, 0.5, 1.0, 9.0}}}},
        {"shape -1 enabled", 8, 4, dp, 32, sp, 32, {1, 25.0, true, true, {ok, {true, -1, 0.5, 1.0, 9.0}, kOff}}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CallSlot(r.p, r.w, r.h, r.dst, r.dstPitch, r.src, r.srcPitch), kInvalidValue) << r.what;
    // A disabled wave's shape is never looked at; an empty frame is the runtime's empty
    // grid; neither writes anything.
    RowWaveParams disabled{1, 25.0, true, true, {{false, 9, 0.5, 1.0, 9.0}, kOff, kOff}};
    EXPECT_EQ(CallSlot(disabled, 8, 4, dp, 32, sp, 32), kOk);
    RowWaveParams moving{1, 25.0, true, true, {ok, kOff, kOff}};
    EXPECT_EQ(CallSlot(moving, 0, 4, dp, 32, sp, 32), kInvalidConfiguration);
    EXPECT_EQ(CallSlot(moving, 8, 0, dp, 32, sp, 32), kInvalidConfiguration);
    EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    HostFrame out = src;
    d.download(out);
    EXPECT_EQ(FirstDifference(src, out), -1);
}

}  // namespace
