// Slots 6 to 11 against the sequential reference: exact totals, the per-block entries of
// the partial-sum and host buffers, every thread order; values worked out by hand; the
// launch plan; what the slots refuse.
#include "../common/frames.h"
#include "../common/module.h"
#include "energy_reference.h"
#include "launch/grid_block.h"
#include "measure/difference_energy.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

typedef EnergyRefLayout L;
typedef std::array<int, 9> Matrix;

const L kLayouts[] = {L::C32, L::C64, L::YUY2, L::YUY2W, L::SemiPlanar8, L::SemiPlanar16};
const char* Name(L l) {
    static const char* const names[] = {"C32", "C64", "YUY2", "YUY2W", "SemiPlanar8", "SemiPlanar16"};
    return names[int(l)];
}

constexpr int kOne = 16384;  // 1.0 in the matrix's fixed point
const Matrix kIdentity = {kOne, 0, 0, 0, kOne, 0, 0, 0, kOne};

constexpr int kBufferEntries = 1024;  // more than the 1000 blocks of any launch
constexpr int64_t kUntouched = 0x5a5a5a5a5a5a5a5aLL;

// The host images of one measurement: A (h + 1 rows) and B, plus A's and B's chroma for
// the semi-planar layouts. Pixel pairs are one HostFrame "pixel" in the pair layouts.
struct Images {
    HostFrame a, b, ca, cb;
};

Images MakeImages(L l, int width, int height, bool halved, int pad, uint32_t seed) {
    const int units = EnergyUnits(l, width);
    const int bytes = Is16Bit(l) ? 2 : 1;
    Images im;
    if (!IsSemiPlanar(l)) {
        im.a = HostFrame(units, height + 1, 4 * bytes, pad);
        im.b = HostFrame(units, height, 4 * bytes, pad + 2 * bytes);
    } else {
        const int chromaRows = height < 1 ? 0 : (halved ? (height - 1) / 2 + 1 : height);
        im.a = HostFrame(units, height + 1, 2 * bytes, pad);
        im.b = HostFrame(units, height, 2 * bytes, pad + 4);
        im.ca = HostFrame(units, chromaRows + 1, 2 * bytes, pad + 2);
        im.cb = HostFrame(units, chromaRows, 2 * bytes, 0);
    }
    FillRandom(im.a, seed);
    FillRandom(im.b, seed + 1);
    FillRandom(im.ca, seed + 2);
    FillRandom(im.cb, seed + 3);
    return im;
}

EnergyRefArgs RefArgs(const Images& im, int width, int height, bool halved, const Matrix& m, int t) {
    EnergyRefArgs r{{{im.a.bytes.data(), im.a.pitch},
                     {im.b.bytes.data(), im.b.pitch},
                     {im.ca.bytes.data(), im.ca.pitch},
                     {im.cb.bytes.data(), im.cb.pitch}},
                    width, height, halved, {}, t};
    for (int k = 0; k < 9; ++k) r.m[k] = m[k];
    return r;
}

// The device side of one call: the images, the partial-sum buffer and the host buffer,
// with the result and the host buffer preset so that what the slot leaves alone shows.
struct Call {
    L layout;
    int width, height;
    bool halved;
    Matrix m;
    int threshold;
    int bufferBytes = 8 * kBufferEntries;
};

struct Outcome {
    int status;
    int64_t result;
    std::vector<int64_t> host;
    std::vector<int64_t> partial;  // the device buffer after the call
};

int CallSlot(const Call& c, const void* const p[4], const int pitch[4], void* partial,
             int64_t* host, int64_t* result) {
    auto* fs = FuncSet();
    const Matrix& m = c.m;
#define TVF2_PACKED(slot)                                                                   \
    fs->slot(p[0], pitch[0], p[1], pitch[1], c.width, c.height, m[0], m[1], m[2], m[3], m[4], \
             m[5], m[6], m[7], m[8], c.threshold, partial, host, c.bufferBytes, result)
#define TVF2_PLANAR(slot)                                                                   \
    fs->slot(p[0], pitch[0], p[1], pitch[1], p[2], pitch[2], p[3], pitch[3], c.width,        \
             c.height, c.halved, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8],       \
             c.threshold, partial, host, c.bufferBytes, result)
    switch (c.layout) {
    case L::C32: return TVF2_PACKED(SecondDifferenceEnergy_C32);
    case L::C64: return TVF2_PACKED(SecondDifferenceEnergy_C64);
    case L::YUY2: return TVF2_PACKED(SecondDifferenceEnergy_YUY2);
    case L::YUY2W: return TVF2_PACKED(SecondDifferenceEnergy_YUY2W);
    case L::SemiPlanar8: return TVF2_PLANAR(SecondDifferenceEnergy_SemiPlanar8);
    case L::SemiPlanar16: return TVF2_PLANAR(SecondDifferenceEnergy_SemiPlanar16);
    }
#undef TVF2_PACKED
#undef TVF2_PLANAR
    return -1;
}

// Runs the slot on device copies of the images. `mutate` may spoil the arguments.
template <class Mutate>
Outcome RunSlot(const Call& c, const Images& im, Mutate mutate) {
    DeviceFrame a(im.a), b(im.b), ca(im.ca), cb(im.cb);
    const void* p[4] = {a.get(), b.get(), nullptr, nullptr};
    int pitch[4] = {a.pitch(), b.pitch(), 0, 0};
    if (IsSemiPlanar(c.layout)) {
        p[2] = ca.get(), p[3] = cb.get();
        pitch[2] = ca.pitch(), pitch[3] = cb.pitch();
    }
    std::vector<int64_t> preset(kBufferEntries, kUntouched);
    void* buffer = nullptr;
    cudaMalloc(&buffer, preset.size() * 8);
    cudaMemcpy(buffer, preset.data(), preset.size() * 8, cudaMemcpyHostToDevice);
    void* partial = buffer;
    Outcome out{0, kUntouched, preset, preset};
    Call call = c;
    int64_t* host = out.host.data();
    int64_t* result = &out.result;
    mutate(call, p, pitch, partial, host, result);
    out.status = CallSlot(call, p, pitch, partial, host, result);
    cudaDeviceSynchronize();
    cudaMemcpy(out.partial.data(), buffer, preset.size() * 8, cudaMemcpyDeviceToHost);
    cudaFree(buffer);
    return out;
}

Outcome RunSlot(const Call& c, const Images& im) {
    return RunSlot(c, im, [](Call&, const void**, int*, void*&, int64_t*&, int64_t*&) {});
}

std::string Describe(const Call& c, int pad, uint32_t seed) {
    std::string m;
    for (int v : c.m) m += (m.empty() ? "" : ",") + std::to_string(v);
    return std::string(Name(c.layout)) + " " + std::to_string(c.width) + "x" +
           std::to_string(c.height) + (c.halved ? " halved" : "") + " m " + m + " t " +
           std::to_string(c.threshold) + " pad " + std::to_string(pad) + " seed " +
           std::to_string(seed);
}

// The total and every entry of both buffers: block (i, j) of the default launch shape
// over the positions holds the sum of the positions its threads visit; the entries past
// the grid are 0 (they were cleared).
::testing::AssertionResult Matches(const Call& c, int pad, uint32_t seed, int64_t* total = nullptr) {
    const Images im = MakeImages(c.layout, c.width, c.height, c.halved, pad, seed);
    const EnergyRefArgs r = RefArgs(im, c.width, c.height, c.halved, c.m, c.threshold);
    const int units = EnergyUnits(c.layout, c.width);
    uint32_t gx, bx, gy, by;
    CalcGridBlock(units, c.height, &gx, &bx, &gy, &by);
    std::vector<uint64_t> blocks(gx * gy, 0);
    uint64_t expected = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < units; ++x) {
            const uint64_t e = static_cast<uint64_t>(int64_t(EnergyAt(c.layout, r, x, y)));
            blocks[(y / by % gy) * gx + (x / bx % gx)] += e;
            expected += e;
        }
    if (int64_t(expected) != EnergyReference(c.layout, r))
        return ::testing::AssertionFailure() << "reference disagrees with itself";
    if (total) *total = int64_t(expected);
    const Outcome o = RunSlot(c, im);
    const std::string what = Describe(c, pad, seed);
    if (o.status != kOk) return ::testing::AssertionFailure() << what << ": status " << o.status;
    if (o.result != int64_t(expected))
        return ::testing::AssertionFailure() << what << ": total " << o.result << ", expected "
                                             << int64_t(expected);
    for (int k = 0; k < kBufferEntries; ++k) {
        const int64_t want = k < int(blocks.size()) ? int64_t(blocks[k]) : 0;
        if (o.host[k] != want || o.partial[k] != want)
            return ::testing::AssertionFailure() << what << ": entry " << k << " host " << o.host[k]
                                                 << " device " << o.partial[k] << ", expected " << want;
    }
    return ::testing::AssertionSuccess();
}

// Matrices: the identity; mixed signs with zeros; coefficients large enough that the
// products, the squares and the per-position sums wrap.
std::vector<Matrix> Matrices(uint32_t seed) {
    std::mt19937 rng(seed);
    Matrix mixed, large;
    for (int k = 0; k < 9; ++k) {
        mixed[k] = k % 4 == 1 ? 0 : int(rng() % 60001) - 30000;
        large[k] = int(rng() % 2 ? 1 : -1) * int((rng() % 1024 + 1) << (14 + rng() % 8));
    }
    mixed[0] = -mixed[0] - 1;  // row 0 negative and odd: its halving truncates toward zero
    return {kIdentity, mixed, large};
}

// 0, a threshold at an occurring square, one below and one above it, and its negative
// (the same square).
std::vector<int> Thresholds(L l, const Call& c, int pad, uint32_t seed) {
    const Images im = MakeImages(l, c.width, c.height, c.halved, pad, seed);
    const EnergyRefArgs r = RefArgs(im, c.width, c.height, c.halved, c.m, 0);
    int32_t s[3];
    EnergySquares(l, r, EnergyUnits(l, c.width) / 2, c.height / 2, s);
    const int64_t square = s[0] < 0 ? 0 : s[0];  // a wrapped square: threshold around 0
    int root = int(std::sqrt(double(square)));
    while (int64_t(root) * root > square) --root;
    return {0, root, root - 1, root + 1, -root};
}

class Energy : public ::testing::TestWithParam<L> {};

// Sizes around the block shapes (thin frames take 192- and 128-thread blocks), padded
// pitches, the three matrices, thresholds at and around occurring squares, both chroma
// row modes.
TEST_P(Energy, MatchesReference) {
    const L l = GetParam();
    const bool pair = IsPairLayout(l);
    const std::vector<std::pair<int, int>> sizes =
        pair ? std::vector<std::pair<int, int>>{{2, 1}, {7, 3}, {34, 17}, {66, 2}, {130, 37}, {4, 50}}
             : std::vector<std::pair<int, int>>{{1, 1}, {5, 3}, {17, 16}, {33, 2}, {131, 37}, {3, 50}};
    uint32_t seed = 100 + 1000 * unsigned(l);
    for (auto size : sizes)
        for (const Matrix& m : Matrices(seed))
            for (bool halved : {false, true}) {
                if (halved && !IsSemiPlanar(l)) continue;
                // 8-bit layouts take odd pitches too.
                const int pad = int(seed % 3) * 6 + (Is16Bit(l) ? 0 : int(seed % 2));
                Call c{l, size.first, size.second, halved, m, 0};
                for (int t : Thresholds(l, c, pad, seed)) {
                    c.threshold = t;
                    ASSERT_TRUE(Matches(c, pad, seed));
                }
                ++seed;
            }
}

// Partial blocks on both axes, a grid that wraps columns, in every thread order.
TEST_P(Energy, MatchesReferenceInEveryThreadOrder) {
    const L l = GetParam();
    ForEachThreadOrder([&] {
        ASSERT_TRUE(Matches(Call{l, 94, 45, false, Matrices(7)[1], 3}, 4, 7));
        if (IsSemiPlanar(l)) {
            ASSERT_TRUE(Matches(Call{l, 70, 33, true, Matrices(8)[2], 0}, 2, 8));
        }
        ASSERT_TRUE(Matches(Call{l, 3, 9, false, kIdentity, 0}, 0, 9));
    });
}

// A grid capped at 1000 blocks, whose blocks each walk several block-sized strips.
TEST_P(Energy, CappedGridMatchesReference) {
    const L l = GetParam();
    ASSERT_TRUE(Matches(Call{l, IsPairLayout(l) ? 2 * 16 * 33 : 16 * 33, 16 * 33, true, Matrices(11)[1], 1}, 0, 11));
}

// Totals far beyond 32 bits; then squares and per-position sums that wrap.
TEST_P(Energy, TotalsBeyondThirtyTwoBits) {
    const L l = GetParam();
    // Squares near their limit: 8-bit differences scaled up, 16-bit ones scaled down so
    // that their squares stay below 2^31 and are limited rather than wrapped.
    const int big = Is16Bit(l) ? kOne / 4 : 4 * kOne;
    const int w = IsPairLayout(l) ? 512 : 256;
    int64_t total = 0;
    ASSERT_TRUE(Matches(Call{l, w, 128, false, {big, 0, 0, 0, big, 0, 0, 0, big}, 0}, 0, 21, &total));
    EXPECT_GT(total, int64_t(1) << 32);
    ASSERT_TRUE(Matches(Call{l, 128, 64, false, {64 * kOne, 0, 0, 0, 64 * kOne, 0, 0, 0, 64 * kOne}, 0}, 0, 22));
}

std::string LayoutName(const ::testing::TestParamInfo<L>& info) {
    return Name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Energy, ::testing::ValuesIn(kLayouts), LayoutName);

// A uniform frame pair in the layout's samples: A holds `a` in every sample of every
// plane, B holds `b`; then one sample kind is changed by the callers below.
Images Uniform(L l, int width, int height, int a, int b) {
    Images im = MakeImages(l, width, height, false, 0, 1);  // chroma rows enough for both modes
    auto fill = [&](HostFrame& f, int v) {
        for (size_t i = 0; i < f.bytes.size(); i += Is16Bit(l) ? 2 : 1) {
            f.bytes[i] = uint8_t(v);
            if (Is16Bit(l)) f.bytes[i + 1] = uint8_t(v >> 8);
        }
    };
    fill(im.a, a), fill(im.ca, a), fill(im.b, b), fill(im.cb, b);
    return im;
}

int64_t Total(const Call& c, const Images& im) {
    const Outcome o = RunSlot(c, im);
    EXPECT_EQ(o.status, kOk);
    return o.result;
}

TEST(EnergyValues, WorkedByHand) {
    // Rows y and y + 1 of A equal to twice B: no difference anywhere.
    for (L l : kLayouts)
        EXPECT_EQ(Total(Call{l, 20, 9, false, kIdentity, 0}, Uniform(l, 20, 9, 60, 60)), 0) << Name(l);

    // C32, A one step above B in byte 0 only: d0 = 2, e0 = 2, s0 = 4 per pixel.
    Images im = Uniform(L::C32, 21, 11, 10, 10);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 21; ++x) im.a.px(x, y)[0] = 11;
    const Matrix only00 = {kOne, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Total(Call{L::C32, 21, 11, false, only00, 2}, im), 4 * 21 * 11);
    EXPECT_EQ(Total(Call{L::C32, 21, 11, false, only00, 3}, im), 0);

    // A weighted sum of -2 before the shift floors to e = -1: s = 1 per pixel and
    // component 0.
    EXPECT_EQ(Total(Call{L::C32, 21, 11, false, {-1, 0, 0, 0, 0, 0, 0, 0, 0}, 0}, im), 21 * 11 * 1);
    // The pair layouts halve row 0 toward zero: -3 becomes -1, d0 = 4 (two lumas), so the
    // weighted sum -4 floors to -1.
    Images yuy2 = Uniform(L::YUY2, 20, 5, 10, 10);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) yuy2.a.px(x, y)[0] = yuy2.a.px(x, y)[2] = 11;
    EXPECT_EQ(Total(Call{L::YUY2, 20, 5, false, {-3, 0, 0, 0, 0, 0, 0, 0, 0}, 0}, yuy2), 10 * 5);
    // An odd width drops the last pixel: 21 pixels are 10 pairs (pair 10 differs too).
    Images odd = Uniform(L::YUY2, 22, 5, 10, 10);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 11; ++x) odd.a.px(x, y)[0] = odd.a.px(x, y)[2] = 11;
    EXPECT_EQ(Total(Call{L::YUY2, 21, 5, false, {2 * kOne, 0, 0, 0, 0, 0, 0, 0, 0}, 0}, odd), 16 * 10 * 5);

    // 16-bit squares are limited to 65535: A 1000 above B gives d = 2000 per lane.
    for (L l : {L::C64, L::YUY2W, L::SemiPlanar16}) {
        const int units = EnergyUnits(l, 20);
        EXPECT_EQ(Total(Call{l, 20, 6, false, kIdentity, 0}, Uniform(l, 20, 6, 1000, 0)),
                  int64_t(3) * 65535 * units * 6) << Name(l);
        // ... and a threshold of 256 (65536) drops every limited square.
        EXPECT_EQ(Total(Call{l, 20, 6, false, kIdentity, 256}, Uniform(l, 20, 6, 1000, 0)), 0) << Name(l);
    }
    // 8-bit squares are not limited: 255 above 0 gives d = 510, s = 260100.
    EXPECT_EQ(Total(Call{L::C32, 4, 3, false, kIdentity, 0}, Uniform(L::C32, 4, 3, 255, 0)),
              int64_t(3) * 260100 * 4 * 3);
}

// Halved chroma rows: image row y reads chroma rows y / 2, y / 2 + 1 of A and y / 2 of B.
// One chroma row of A is raised; with halved rows it touches the image rows that read
// it as row c (2c, 2c + 1) or as row c + 1 (2c - 2, 2c - 1).
TEST(EnergyValues, HalvedChromaRowsPairImageRows) {
    const Matrix onlyU = {0, 0, 0, 0, kOne, 0, 0, 0, 0};
    const int w = 8, h = 10;
    for (bool halved : {false, true}) {
        Images im = Uniform(L::SemiPlanar8, w, h, 10, 10);
        for (int x = 0; x < w / 2; ++x) im.ca.px(x, 3)[0] = 11;  // U of chroma row 3
        // Not halved: rows 2 and 3 read chroma row 3; halved: rows 4, 5, 6 and 7.
        const int rows = halved ? 4 : 2;
        EXPECT_EQ(Total(Call{L::SemiPlanar8, w, h, halved, onlyU, 0}, im), int64_t(rows) * (w / 2))
            << (halved ? "halved" : "full");
    }
}

TEST(EnergyPlan, ModesWidthsMatrixAndThreshold) {
    tvf2::EnergyArgs a{};
    a.width = 101;
    a.height = 40;
    for (int k = 0; k < 9; ++k) a.m[k] = -7 + k;
    a.threshold = 50000;  // its square wraps: 2500000000 - 2^32
    const tvf2::EnergyLayout layouts[] = {tvf2::EnergyLayout::C32, tvf2::EnergyLayout::C64,
                                          tvf2::EnergyLayout::YUY2, tvf2::EnergyLayout::YUY2W,
                                          tvf2::EnergyLayout::SemiPlanar8, tvf2::EnergyLayout::SemiPlanar16};
    for (int i = 0; i < 6; ++i)
        for (bool halved : {false, true}) {
            a.halvedChromaRows = halved;
            const tvf2::EnergyPlan p = tvf2::PlanEnergy(layouts[i], a);
            EXPECT_EQ(p.mode, i + (i >= 4 && halved ? 2 : 0));
            EXPECT_EQ(p.kernelWidth, i < 2 ? 101 : 50);
            EXPECT_EQ(p.m[0], i < 2 ? -7 : -3);
            EXPECT_EQ(p.m[1], i < 2 ? -6 : -3);
            EXPECT_EQ(p.m[2], i < 2 ? -5 : -2);
            EXPECT_EQ(p.m[3], -4);
            EXPECT_EQ(p.thresholdSquare, int(2500000000LL - (1LL << 32)));
            uint32_t gx, bx, gy, by;
            CalcGridBlock(p.kernelWidth, 40, &gx, &bx, &gy, &by);
            EXPECT_EQ(p.grid.x, gx);
            EXPECT_EQ(p.block.y, by);
        }
}

// A buffer size that is not a multiple of 8: the whole entries are totalled; the size
// may exceed the grid's entries by any amount.
TEST(EnergyArguments, BufferSizesBeyondTheGrid) {
    const Call base{L::C32, 40, 20, false, kIdentity, 0};
    const Images im = MakeImages(L::C32, 40, 20, false, 0, 5);
    const int64_t want = EnergyReference(L::C32, RefArgs(im, 40, 20, false, kIdentity, 0));
    for (int bytes : {8 * 2, 8 * 2 + 5, 8 * 3 + 7, 8 * 1000}) {
        Call c = base;
        c.bufferBytes = bytes;  // the grid of 40 x 20 positions has 2 blocks
        const Outcome o = RunSlot(c, im);
        EXPECT_EQ(o.status, kOk) << bytes;
        EXPECT_EQ(o.result, want) << bytes;
        // Past the two blocks' entries: zeros up to the size, untouched after it.
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(o.host.data());
        for (int i = 16; i < 8 * 1001; ++i)
            ASSERT_EQ(raw[i], i < bytes ? 0 : 0x5a) << "buffer size " << bytes << ", byte " << i;
    }
}

// Refused before anything happens: status 11, the result, both buffers untouched.
TEST(EnergyArguments, RefusedWithoutTouchingAnything) {
    typedef void (*Spoil)(Call&, const void**, int*, void*&, int64_t*&, int64_t*&);
    const struct {
        const char* what;
        Spoil spoil;
        bool semiPlanarOnly, sixteenBitOnly;
    } cases[] = {
        {"null result", [](Call&, const void**, int*, void*&, int64_t*&, int64_t*& r) { r = nullptr; }, false, false},
        {"null A", [](Call&, const void** p, int*, void*&, int64_t*&, int64_t*&) { p[0] = nullptr; }, false, false},
        {"null B", [](Call&, const void** p, int*, void*&, int64_t*&, int64_t*&) { p[1] = nullptr; }, false, false},
        {"null A chroma", [](Call&, const void** p, int*, void*&, int64_t*&, int64_t*&) { p[2] = nullptr; }, true, false},
        {"null B chroma", [](Call&, const void** p, int*, void*&, int64_t*&, int64_t*&) { p[3] = nullptr; }, true, false},
        {"null partial sums", [](Call&, const void**, int*, void*& d, int64_t*&, int64_t*&) { d = nullptr; }, false, false},
        {"null host buffer", [](Call&, const void**, int*, void*&, int64_t*& h, int64_t*&) { h = nullptr; }, false, false},
        {"negative width", [](Call& c, const void**, int*, void*&, int64_t*&, int64_t*&) { c.width = -2; }, false, false},
        {"negative height", [](Call& c, const void**, int*, void*&, int64_t*&, int64_t*&) { c.height = -1; }, false, false},
        {"A pitch below a row", [](Call&, const void**, int* q, void*&, int64_t*&, int64_t*&) { q[0] = 2; }, false, false},
        {"B pitch below a row", [](Call&, const void**, int* q, void*&, int64_t*&, int64_t*&) { q[1] -= 64; }, false, false},
        {"chroma pitch below a row", [](Call&, const void**, int* q, void*&, int64_t*&, int64_t*&) { q[3] = 4; }, true, false},
        {"negative pitch", [](Call&, const void**, int* q, void*&, int64_t*&, int64_t*&) { q[0] = -q[0]; }, false, false},
        {"odd pitch", [](Call&, const void**, int* q, void*&, int64_t*&, int64_t*&) { q[1] += 1; }, false, true},
        {"odd base", [](Call&, const void** p, int*, void*&, int64_t*&, int64_t*&) { p[0] = static_cast<const char*>(p[0]) + 1; }, false, true},
        {"buffer below one entry per block", [](Call& c, const void**, int*, void*&, int64_t*&, int64_t*&) { c.bufferBytes = 8 * 12 - 1; }, false, false},
        {"negative buffer size", [](Call& c, const void**, int*, void*&, int64_t*&, int64_t*&) { c.bufferBytes = -8; }, false, false},
        // 64-bit entries and totals: the device buffer, the host buffer and the result
        // must be 8-byte aligned (the device would fault on a misaligned entry).
        {"partial sums not 8-byte aligned", [](Call& c, const void**, int*, void*& d, int64_t*&, int64_t*&) {
             d = static_cast<char*>(d) + 4;
             c.bufferBytes -= 8;
         }, false, false},
        {"host buffer not 8-byte aligned", [](Call& c, const void**, int*, void*&, int64_t*& h, int64_t*&) {
             h = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(h) + 4);
             c.bufferBytes -= 8;
         }, false, false},
        {"result not 8-byte aligned", [](Call&, const void**, int*, void*&, int64_t*&, int64_t*& r) {
             static int64_t spare[2];
             r = reinterpret_cast<int64_t*>(reinterpret_cast<char*>(spare) + 4);
         }, false, false},
    };
    for (L l : kLayouts) {
        // 100 x 40 positions: 6 x 2 blocks of 16 x 16 (the pair layouts: 200 pixels).
        const int w = IsPairLayout(l) ? 200 : 100;
        const Images im = MakeImages(l, w, 40, false, 6, 3);
        for (const auto& k : cases) {
            if ((k.semiPlanarOnly && !IsSemiPlanar(l)) || (k.sixteenBitOnly && !Is16Bit(l))) continue;
            const Outcome o = RunSlot(Call{l, w, 40, false, kIdentity, 0}, im, k.spoil);
            EXPECT_EQ(o.status, kInvalidValue) << Name(l) << ": " << k.what;
            EXPECT_EQ(o.result, kUntouched) << Name(l) << ": " << k.what;
            EXPECT_EQ(o.host, std::vector<int64_t>(kBufferEntries, kUntouched)) << Name(l) << ": " << k.what;
            EXPECT_EQ(o.partial, std::vector<int64_t>(kBufferEntries, kUntouched)) << Name(l) << ": " << k.what;
        }
    }
}

#if defined(TVF2_TEST_CPU)
// A partial-sum buffer that does not hold the size the caller states: the CPU runtime
// refuses to clear it, and the slot returns that before launching (the kernel would
// write past the buffer).
TEST(EnergyArguments, AFailedClearIsReturnedBeforeTheLaunch) {
    for (L l : kLayouts) {
        const int w = IsPairLayout(l) ? 80 : 40;
        const Images img = MakeImages(l, w, 20, false, 0, 6);
        const Outcome o = RunSlot(Call{l, w, 20, false, kIdentity, 0}, img,
                                  [](Call& c, const void**, int*, void*&, int64_t*&, int64_t*&) {
                                      c.bufferBytes = 8 * kBufferEntries + 8;  // 8 bytes more than it holds
                                  });
        EXPECT_EQ(o.status, kInvalidValue) << Name(l);
        EXPECT_EQ(o.result, kUntouched) << Name(l);
        EXPECT_EQ(o.host, std::vector<int64_t>(kBufferEntries, kUntouched)) << Name(l);
        EXPECT_EQ(o.partial, std::vector<int64_t>(kBufferEntries, kUntouched)) << Name(l);
    }
    FuncSet()->GetLastStatus();
}
#endif

// An empty frame (or a pair layout one pixel wide) has an empty launch shape: the
// runtime refuses the launch, and the result is not written.
TEST(EnergyArguments, EmptyFramesKeepTheRuntimesVerdict) {
    for (L l : kLayouts)
        for (auto size : {std::make_pair(0, 5), std::make_pair(6, 0), std::make_pair(IsPairLayout(l) ? 1 : 0, 3)}) {
            const Images im = MakeImages(l, 8, 8, false, 0, 4);
            const Outcome o = RunSlot(Call{l, size.first, size.second, false, kIdentity, 0}, im);
            EXPECT_EQ(o.status, kInvalidConfiguration) << Name(l) << " " << size.first << "x" << size.second;
            EXPECT_EQ(o.result, kUntouched) << Name(l);
        }
    FuncSet()->GetLastStatus();
}

}  // namespace
