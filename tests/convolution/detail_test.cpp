// Slots 55 to 58 against the sequential reference, bit for bit: thresholds and limits
// at and around the detail values that occur, amounts 0, small, large and negative,
// details of both signs, weights 0, full and beyond, in place, every thread order;
// values worked out by hand; what the slots refuse.
#include "../common/frames.h"
#include "../common/module.h"
#include "convolution/detail.h"
#include "sharpen_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>

using namespace tvf2test;

namespace {

// Slot 55 + index: C32, C32 weighted, C64, C64 weighted.
enum class Slot { C32, C32Weighted, C64, C64Weighted };

const char* Name(Slot s) {
    static const char* const names[] = {"C32", "C32Weighted", "C64", "C64Weighted"};
    return names[int(s)];
}
std::string SlotName(const ::testing::TestParamInfo<Slot>& i) { return Name(i.param); }
bool Wide(Slot s) { return s == Slot::C64 || s == Slot::C64Weighted; }
bool Weighted(Slot s) { return s == Slot::C32Weighted || s == Slot::C64Weighted; }
const Slot kSlots[] = {Slot::C32, Slot::C32Weighted, Slot::C64, Slot::C64Weighted};

int Call(Slot s, const tvf2::DetailArgs& a) {
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    static const decltype(&F::AddDetail_C32) slots[] = {&F::AddDetail_C32, &F::AddDetailWeighted_C32, &F::AddDetail_C64,
                                                         &F::AddDetailWeighted_C64};
    return (FuncSet()->*slots[int(s)])(a.width, a.height, a.dst, a.dstPitch, a.src, a.srcPitch, a.detail,
                                       a.detailPitch, a.amount, a.threshold, a.limit);
}

void Set16(HostFrame& f, int x, int y, int i, int v) {
    const int16_t s = int16_t(v);
    std::memcpy(f.px(x, y) + 2 * i, &s, 2);
}
int Get16(const HostFrame& f, int x, int y, int i) {
    int16_t s;
    std::memcpy(&s, f.px(x, y) + 2 * i, 2);
    return s;
}

// Channel details mostly in -60..60 (so the thresholds and limits below meet them), now
// and then the 16-bit extremes; weights 0, full (4095), negative full, the extremes or
// anything in between.
HostFrame Details(int w, int h, int pad, uint32_t seed) {
    HostFrame d(w, h, 8, pad);
    FillRandom(d, seed);
    std::mt19937 rng(seed);
    const int extremes[] = {-32768, 32767, -1, 0};
    const int weights[] = {0, 4095, -4095, 32767, -32768};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            for (int i = 0; i < 3; ++i) Set16(d, x, y, i, rng() % 8 ? int(rng() % 121) - 60 : extremes[rng() % 4]);
            const uint32_t k = rng() % 8;
            Set16(d, x, y, 3, k < 5 ? weights[k] : int(rng() % 16383) - 8191);
        }
    return d;
}

struct Case {
    Slot slot;
    int w, h;
    float amount;
    int threshold, limit;
    uint32_t seed;  // also picks the padding
    bool inPlace;
};

// Random samples (8-bit, or 16-bit over the whole signed range) through the slot and the
// reference, into a random destination whose padding must survive.
::testing::AssertionResult Matches(const Case& c) {
    const int bpp = Wide(c.slot) ? 8 : 4, pad = int(c.seed % 3) * 8;
    HostFrame src(c.w, c.h, bpp, pad), dst(c.w, c.h, bpp, pad + 16);
    const HostFrame det = Details(c.w, c.h, 8 * int(c.seed % 2), c.seed + 7);
    FillRandom(src, c.seed);
    FillRandom(dst, c.seed + 1);
    if (c.inPlace) dst = src;
    HostFrame expected = dst;
    DetailReference(Wide(c.slot), Weighted(c.slot), src, det, c.amount, c.threshold, c.limit, expected);
    DeviceFrame ds(src), dd(dst), ddet(det);
    const int status = Call(c.slot, {c.w, c.h, dd.get(), dd.pitch(), c.inPlace ? dd.get() : ds.get(),
                                     c.inPlace ? dd.pitch() : ds.pitch(), ddet.get(), ddet.pitch(), c.amount,
                                     c.threshold, c.limit});
    dd.download(dst);
    const std::string what = std::string(Name(c.slot)) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                             " amount " + std::to_string(c.amount) + " threshold " + std::to_string(c.threshold) +
                             " limit " + std::to_string(c.limit) + (c.inPlace ? " in place" : "") + " seed " +
                             std::to_string(c.seed);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    if (dst.bytes != expected.bytes) return ::testing::AssertionFailure() << what << ": " << DescribeDifference(expected, dst);
    return ::testing::AssertionSuccess();
}

class DetailSweep : public ::testing::TestWithParam<Slot> {};

// Amounts: 0, fractions, 1/2 (gain 1024), beyond the 16-bit gain, negative (the fixed
// point forms saturate at the top), and the weight's full scale.
const float kAmounts[] = {0.0f, 0.25f, 0.5f, 1.7f, 16.0f, 100.0f, -0.5f, -3.0f, 4095.0f, -4095.0f, 1e9f};

TEST_P(DetailSweep, MatchesReferenceAroundThresholdsAndLimits) {
    const Slot s = GetParam();
    uint32_t seed = 1000u * (unsigned(s) + 1);
    int n = 0;
    for (int threshold : {-20, 0, 9, 10, 11, 39, 40, 41, 32767})
        for (int limit : {0, 1, 29, 30, 31, 100000})
            for (int k = 0; k < 3; ++k, ++n)
                ASSERT_TRUE(Matches({s, 13, 7, kAmounts[n % 11], threshold, limit, seed++, n % 2 == 1}));
}

TEST_P(DetailSweep, MatchesReferenceOnEverySize) {
    const Slot s = GetParam();
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {16, 16}, {17, 15}, {61, 37}, {300, 2}, {2, 300}, {530, 510}};
    uint32_t seed = 50u + unsigned(s);
    for (const auto& z : sizes)
        for (float a : {0.5f, -2.0f, 700.0f}) {
            ASSERT_TRUE(Matches({s, z.first, z.second, a, 5, 40, seed, seed % 2 == 0}));
            ++seed;
        }
}

TEST_P(DetailSweep, MatchesReferenceInEveryThreadOrder) {
    const Slot s = GetParam();
    ForEachThreadOrder([&] {
        ASSERT_TRUE(Matches({s, 35, 19, 1.5f, 10, 30, 3, false}));
        ASSERT_TRUE(Matches({s, 35, 19, -1.5f, 0, 60, 4, true}));
    });
}

INSTANTIATE_TEST_SUITE_P(Slots, DetailSweep, ::testing::ValuesIn(kSlots), SlotName);

// One pixel through a slot: sample values s, details d, weight w; returns the samples.
struct Pixel {
    int v[4];
};
Pixel One(Slot s, Pixel in, Pixel d, float amount, int threshold, int limit) {
    const bool wide = Wide(s);
    HostFrame src(1, 1, wide ? 8 : 4, 0), det(1, 1, 8, 0);
    for (int i = 0; i < 4; ++i) {
        wide ? Set16(src, 0, 0, i, in.v[i]) : void(src.bytes[i] = uint8_t(in.v[i]));
        Set16(det, 0, 0, i, d.v[i]);
    }
    HostFrame dst = src;
    DeviceFrame ds(src), dd(dst), ddet(det);
    EXPECT_EQ(Call(s, {1, 1, dd.get(), dd.pitch(), ds.get(), ds.pitch(), ddet.get(), 8, amount, threshold, limit}), kOk);
    dd.download(dst);
    Pixel out;
    for (int i = 0; i < 4; ++i) out.v[i] = wide ? Get16(dst, 0, 0, i) : dst.bytes[i];
    return out;
}

TEST(Detail, HandWorkedValues) {
    // Gain 1024 (amount 0.5), threshold 10, limit 50: 40 counts 30, 100 is capped at 50,
    // 5 counts nothing; 250 + 30 saturates. Byte 3 is copied, whatever the weight.
    Pixel p = One(Slot::C32, {100, 100, 250, 7}, {40, 100, 40, 999}, 0.5f, 10, 50);
    EXPECT_EQ(p.v[0], 130);
    EXPECT_EQ(p.v[1], 150);
    EXPECT_EQ(p.v[2], 255);
    EXPECT_EQ(p.v[3], 7);
    EXPECT_EQ(One(Slot::C32, {100, 0, 0, 0}, {5, 10, 11, 0}, 0.5f, 10, 50).v[0], 100);
    // A detail at the threshold counts nothing, one above counts 1: 1 * 1024 >> 10.
    p = One(Slot::C32, {100, 100, 100, 0}, {10, 11, -30, 0}, 0.5f, 10, 50);
    EXPECT_EQ(p.v[0], 100);
    EXPECT_EQ(p.v[1], 101);
    EXPECT_EQ(p.v[2], 100);  // negative details never lower a fixed-point channel
    // A negative gain makes the unsigned shift of v * gain large: the channel saturates,
    // also in 16 bits; with nothing counted it stays.
    p = One(Slot::C32, {3, 3, 3, 3}, {40, 0, 40, 0}, -0.5f, 10, 50);
    EXPECT_EQ(p.v[0], 255);
    EXPECT_EQ(p.v[1], 3);
    EXPECT_EQ(One(Slot::C64, {-32000, 0, 0, 0}, {40, 0, 0, 0}, -0.5f, 10, 50).v[0], 32767);
    // The gain is capped at 32767: 1 * 32767 >> 10 = 31.
    EXPECT_EQ(One(Slot::C32, {0, 0, 0, 0}, {11, 0, 0, 0}, 100.0f, 10, 50).v[0], 31);
    // 16-bit: 32700 + 100 saturates at 32767; the fourth value is copied.
    p = One(Slot::C64, {32700, -5, 0, -1234}, {110, 110, 0, 0}, 0.5f, 10, 200);
    EXPECT_EQ(p.v[0], 32767);
    EXPECT_EQ(p.v[1], 95);
    EXPECT_EQ(p.v[3], -1234);
    // Weighted: amount 4095 and weight -1 take v = 20 away: 10 - 20 clamps at 0, and at
    // -32768 in 16 bits; weight 2 adds 40; weight 0 adds nothing.
    p = One(Slot::C32Weighted, {10, 10, 10, 200}, {30, 30, 30, -1}, 4095.0f, 10, 50);
    EXPECT_EQ(p.v[0], 0);
    EXPECT_EQ(p.v[3], 200);
    EXPECT_EQ(One(Slot::C64Weighted, {-32760, 0, 0, 0}, {30, 0, 0, -1}, 4095.0f, 10, 50).v[0], -32768);
    EXPECT_EQ(One(Slot::C32Weighted, {10, 0, 0, 0}, {30, 0, 0, 2}, 4095.0f, 10, 50).v[0], 50);
    EXPECT_EQ(One(Slot::C64Weighted, {10, 0, 0, 0}, {30, 0, 0, 0}, 4095.0f, 10, 50).v[0], 10);
    // The weighted term is v * ((amount / 4095) * d3) in single precision, truncated:
    // amount 7, weight 1365, v = 27 gives 62.99999 -> 62, not 7 * 1365 * 27 / 4095 = 63.
    EXPECT_EQ(One(Slot::C32Weighted, {0, 0, 0, 0}, {27, 0, 0, 1365}, 7.0f, 0, 50).v[0], 62);
}

// Invalid value and nothing written for what the addition cannot honour; an empty frame
// is the launch's invalid configuration, also with null pointers.
TEST(Detail, RejectsWhatItCannotHonourAndWritesNothing) {
    HostFrame src(16, 8, 8, 0), dst(16, 8, 8, 0), det(16, 8, 8, 0);  // pitch 128
    FillRandom(src, 1);
    FillRandom(dst, 2);
    FillRandom(det, 3);
    DeviceFrame ds(src), dd(dst), ddet(det);
    char* d = static_cast<char*>(dd.get());
    const char* s = static_cast<const char*>(ds.get());
    const tvf2::DetailArgs good{16, 8, d, 128, s, 128, ddet.get(), 128, 1.0f, 0, 10};
    const std::pair<const char*, std::function<void(tvf2::DetailArgs&)>> bad[] = {
        {"null destination", [](tvf2::DetailArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::DetailArgs& a) { a.src = nullptr; }},
        {"null detail", [](tvf2::DetailArgs& a) { a.detail = nullptr; }},
        {"destination pitch below a row", [](tvf2::DetailArgs& a) { a.dstPitch = 60; }},
        {"negative source pitch", [](tvf2::DetailArgs& a) { a.srcPitch = -128; }},
        {"detail pitch below a row", [](tvf2::DetailArgs& a) { a.detailPitch = 120; }},
        {"detail pitch not a whole record", [](tvf2::DetailArgs& a) { a.detailPitch = 132; }},
        {"pitch not a whole pixel", [](tvf2::DetailArgs& a) { a.srcPitch = 130; }},
        {"misaligned detail", [](tvf2::DetailArgs& a) { a.detail = static_cast<const char*>(a.detail) + 1; }},
        {"destination over the detail", [d](tvf2::DetailArgs& a) { a.detail = d + 64; }},
        {"destination one pixel past the source", [s](tvf2::DetailArgs& a) { a.dst = const_cast<char*>(s) + 8; }},
        {"destination on the source with another pitch", [s](tvf2::DetailArgs& a) { a.dst = const_cast<char*>(s), a.dstPitch = 120; }},
    };
    for (Slot k : kSlots) {
        for (const auto& b : bad) {
            tvf2::DetailArgs a = good;
            b.second(a);
            EXPECT_EQ(Call(k, a), kInvalidValue) << Name(k) << ": " << b.first;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.first;
        }
        for (auto wh : {std::make_pair(0, 8), std::make_pair(16, 0), std::make_pair(8, -1)}) {
            const tvf2::DetailArgs a{wh.first, wh.second, nullptr, 0, nullptr, 0, nullptr, 0, 1.0f, 0, 10};
            EXPECT_EQ(Call(k, a), kInvalidConfiguration) << Name(k);
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
        }
    }
    // Samples of 16 bits need 2-byte alignment; bytes do not.
    tvf2::DetailArgs odd = good;
    odd.src = s + 1, odd.width = 15;
    EXPECT_EQ(Call(Slot::C64, odd), kInvalidValue);
    EXPECT_TRUE(tvf2::DetailArgsValid(false, odd));
    HostFrame out = dst;
    dd.download(out);
    EXPECT_EQ(out.bytes, dst.bytes) << DescribeDifference(dst, out);
    for (Slot k : kSlots) EXPECT_EQ(Call(k, good), kOk) << "the unedited arguments are fine: " << Name(k);
}

}  // namespace
