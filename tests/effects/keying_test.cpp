// Slots 4 and 21 to 30 against the sequential references: key masks, key-chroma
// suppression, mask combinations, blend toward a colour and the middle-channel shift.
#include "../common/frames.h"
#include "../common/module.h"
#include "effects/blend.h"
#include "effects/channel_shift.h"
#include "effects/key_mask.h"
#include "keying_reference.h"
#include "module/status.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace tvf2test;
using tvf2::KeyMaskRule;
using tvf2::MaskApply;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

struct Size {
    int w, h, pad;  // pad: bytes of row padding (a multiple of 4 for 32-bit frames)
};
// Tiny, odd, thin and block-straddling sizes with padded and unpadded pitches.
const Size kSizes[] = {{1, 1, 0}, {2, 1, 8}, {1, 7, 4}, {5, 3, 12}, {16, 16, 0}, {33, 17, 20}, {131, 47, 4}};

std::string Describe(const Size& s) {
    return std::to_string(s.w) + "x" + std::to_string(s.h) + " pad " + std::to_string(s.pad);
}

// YUV32 pixels: half at random, half with chroma within 24 of the key's, so that every
// mask value from 0 to 255 occurs.
HostFrame KeyFrame(const Size& s, uint32_t seed, float keyU, float keyV) {
    HostFrame f(s.w, s.h, 4, s.pad);
    FillRandomAlpha(f, seed);
    std::mt19937 rng(seed * 7 + 1);
    auto near = [&](float key) {
        const float c = std::fmin(std::fmax(key, -128.0f), 127.0f) + 128.0f;
        return uint8_t(std::fmin(std::fmax(c + float(int(rng() % 49) - 24), 0.0f), 255.0f));
    };
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            if (rng() & 1) f.px(x, y)[1] = near(keyU), f.px(x, y)[2] = near(keyV);
    return f;
}

HostFrame MaskFrame(const Size& s, uint32_t seed) {
    HostFrame m(s.w, s.h, 1, s.pad);
    FillRandom(m, seed);
    std::mt19937 rng(seed);
    for (auto& b : m.bytes) {  // the ends of the range in quantity
        const uint32_t r = rng() % 6;
        if (r == 0) b = 0;
        if (r == 1) b = 255;
    }
    return m;
}

::testing::AssertionResult Same(const HostFrame& expected, const HostFrame& actual, int tolerance = 0) {
    for (size_t i = 0; i < expected.bytes.size(); ++i)
        if (std::abs(int(expected.bytes[i]) - int(actual.bytes[i])) > tolerance) {
            const int y = int(i / expected.pitch), col = int(i % expected.pitch);
            return ::testing::AssertionFailure()
                   << "x=" << col / expected.bytesPerPixel << " y=" << y << " byte "
                   << col % expected.bytesPerPixel << ": expected " << int(expected.bytes[i])
                   << ", got " << int(actual.bytes[i]);
        }
    return ::testing::AssertionSuccess();
}

// Runs `slot` on device copies of frame (in place) and mask, and checks the status.
template <class Slot>
::testing::AssertionResult RunSlot(Slot slot, HostFrame& frame, HostFrame* mask, int want = kOk) {
    DeviceFrame df(frame);
    std::unique_ptr<DeviceFrame> dm(mask ? new DeviceFrame(*mask) : nullptr);
    const int status = slot(df.get(), df.pitch(), dm ? dm->get() : nullptr, dm ? dm->pitch() : 0);
    if (status != want) return ::testing::AssertionFailure() << "status " << status << ", expected " << want;
    df.download(frame);
    if (dm) dm->download(*mask);
    return ::testing::AssertionSuccess();
}

// ---- key masks ------------------------------------------------------------------------

struct KeyCase {
    const char* what;
    KeyParams p;
};
// {reserved, e, keyY, keyU, keyV, linScale, lumaWeight, powScale}
const KeyCase kKeyCases[] = {
    {"linear", {0, 1, 120, -40, -30, 0.02f, 1, 0}},
    {"linear, e below 1, heavy luma", {7, 0.5f, 60, 10, 20, 0.03f, 3, 5}},
    {"power e=2", {0, 2, 100, -40, 50, 9, 0.5f, 0.0004f}},
    {"power e=1.5, key outside the gamut", {0, 1.5f, 300, 200, -250, 0, 1, 0.0008f}},
    {"luma ignored", {0, 1, 0, 0, 0, 0.01f, 0, 0}},
    {"negative scales", {0, 1, 128, 5, 5, -0.01f, 1, -1}},
    {"zero scales", {0, 3, 128, 5, 5, 0, 1, 0}},
    {"not-a-number key", {0, 1, kNaN, 0, 0, 0.01f, 1, 0}},
    {"infinite exponent", {0, kInf, 100, -40, 50, 0.1f, 1, 0.01f}},
};

int CallKeyMask(KeyMaskRule rule, const KeyParams& p, int w, int h, const void* src, int srcPitch,
                void* mask, int maskPitch) {
    auto* fs = FuncSet();
    return rule == KeyMaskRule::Product
               ? fs->KeyMaskProduct_YUV32(w, h, p.reserved, p.e, p.keyY, p.keyU, p.keyV, p.linScale,
                                          p.lumaWeight, p.powScale, src, srcPitch, mask, maskPitch)
               : fs->KeyMaskGated_YUV32(w, h, p.reserved, p.e, p.keyY, p.keyU, p.keyV, p.linScale,
                                        p.lumaWeight, p.powScale, src, srcPitch, mask, maskPitch);
}

// The device's powf may differ from the host's by a few ulps. The terms it feeds are
// then off by a relative 2^-19 at most (8 ulps each, two factors), so t * 255 moves by
// under 0.001: the truncated byte by at most one, and a term that crosses 1 does so
// where the byte is 254 or 255 anyway. Hence one step where e > 1; none elsewhere.
int KeyTolerance(const KeyParams& p) {
#if defined(TVF2_TEST_CUDA)
    return p.e > 1.0f ? 1 : 0;
#else
    (void)p;
    return 0;
#endif
}

::testing::AssertionResult KeyMatches(KeyMaskRule rule, const KeyCase& c, const Size& s, uint32_t seed) {
    const HostFrame src = KeyFrame(s, seed, c.p.keyU, c.p.keyV);
    HostFrame mask = MaskFrame(Size{s.w, s.h, s.pad + 5}, seed + 1), expected = mask;
    KeyMaskReference(rule, c.p, src, expected);
    DeviceFrame ds(src);
    DeviceFrame dm(mask);
    const int status = CallKeyMask(rule, c.p, s.w, s.h, ds.get(), ds.pitch(), dm.get(), dm.pitch());
    dm.download(mask);
    const char* name = rule == KeyMaskRule::Product ? "product" : "gated";
    if (status != kOk) return ::testing::AssertionFailure() << name << " " << c.what << ": status " << status;
    auto r = Same(expected, mask, KeyTolerance(c.p));
    if (!r) return r << " (" << name << ", " << c.what << ", " << Describe(s) << ")";
    return r;
}

TEST(KeyMask, BothRulesMatchReference) {
    uint32_t seed = 1;
    for (KeyMaskRule rule : {KeyMaskRule::Product, KeyMaskRule::Gated})
        for (const KeyCase& c : kKeyCases)
            for (const Size& s : kSizes) ASSERT_TRUE(KeyMatches(rule, c, s, seed++));
}

TEST(KeyMask, EveryThreadOrder) {
    ForEachThreadOrder([] {
        for (KeyMaskRule rule : {KeyMaskRule::Product, KeyMaskRule::Gated})
            ASSERT_TRUE(KeyMatches(rule, kKeyCases[2], Size{70, 40, 8}, 99));
    });
}

// One pixel at a time, values worked out by hand; the key is Y 100, U 0, V 0.
TEST(KeyMask, WorkedByHand) {
    struct Row {
        const char* what;
        float e, linScale, lumaWeight, powScale;
        int y, du, dv;  // pixel: luma, chroma offsets from the key
        int product, gated;
    } rows[] = {
        // dead zone (29, 39): dC = sqrt(2362), t1 = 0.486; product t2 = 0.236
        {"chroma (30, 40)", 1, 0.01f, 1, 0, 100, 30, 40, 60, 123},
        {"at the key", 1, 0.01f, 1, 0, 100, 0, 0, 0, 0},
        {"within the dead zone", 1, 0.01f, 1, 0, 100, 1, -1, 0, 0},
        {"chroma term above 1", 1, 0.01f, 1, 0, 0, 120, 0, 255, 255},
        {"chroma term exactly 1", 1, 0.25f, 1, 0, 100, 5, 0, 255, 255},
        {"chroma term 0.75", 1, 0.25f, 1, 0, 100, 4, 0, 143, 191},
        // t1 = 0.6, dF = 5: gated t2 = 1 exactly, product 0.6
        {"colour term exactly 1", 1, 0.2f, 1, 0, 104, 0, 4, 153, 255},
        // dC = 0: the product is 0 whatever the luma; gated takes dF = 20, and 20 * 0.01f
        // is 0.19999999, so 50.99999 truncates to 50
        {"luma only", 1, 0.01f, 0.5f, 0, 140, 0, 0, 0, 50},
        // powf(10, 2) * 0.001 = 0.1; product 0.1 * 100 * 0.001
        {"power", 2, 0, 1, 0.001f, 100, 11, 0, 2, 25},
    };
    for (const Row& r : rows) {
        HostFrame src(1, 1, 4, 0), mask(1, 1, 1, 0);
        uint8_t* p = src.px(0, 0);
        p[0] = uint8_t(r.y), p[1] = uint8_t(128 + r.du), p[2] = uint8_t(128 + r.dv), p[3] = 9;
        for (KeyMaskRule rule : {KeyMaskRule::Product, KeyMaskRule::Gated}) {
            const KeyParams kp{0, r.e, 100, 0, 0, r.linScale, r.lumaWeight, r.powScale};
            DeviceFrame ds(src), dm(mask);
            ASSERT_EQ(CallKeyMask(rule, kp, 1, 1, ds.get(), 4, dm.get(), 1), kOk);
            HostFrame out = mask;
            dm.download(out);
            const int want = rule == KeyMaskRule::Product ? r.product : r.gated;
            EXPECT_NEAR(out.bytes[0], want, KeyTolerance(kp)) << r.what << (rule == KeyMaskRule::Product ? " (product)" : " (gated)");
        }
    }
}

// ---- key-chroma suppression -------------------------------------------------------------

struct SuppressCase {
    const char* what;
    SuppressParams p;
};
// {radius, keyU, keyV, strengthU, strengthV, all}
const SuppressCase kSuppressCases[] = {
    {"within radius", {40, -40, -35, 0.01f, 0.02f, false}},
    {"every pixel", {40, -40, -35, 0.01f, 0.02f, true}},
    {"strong, saturating both ways", {90, 30, -60, 0.2f, -0.3f, false}},
    {"zero radius", {0, -40, -35, 0.01f, 0.02f, false}},
    {"key outside the gamut", {500, 300, 0, 0.001f, 0.001f, false}},
    {"not-a-number strength", {60, -40, -35, kNaN, 0.01f, true}},
};

::testing::AssertionResult SuppressMatches(const SuppressCase& c, const Size& s, uint32_t seed) {
    HostFrame frame = KeyFrame(s, seed, c.p.keyU, c.p.keyV), expected = frame;
    SuppressKeyChromaReference(c.p, expected);
    const SuppressParams& p = c.p;
    auto r = RunSlot([&](void* f, int pitch, void*, int) {
        return FuncSet()->SuppressKeyChroma_YUV32(s.w, s.h, p.radius, p.keyU, p.keyV, p.strengthU,
                                                  p.strengthV, p.all, f, pitch);
    }, frame, nullptr);
    if (!r) return r << " (" << c.what << ")";
    r = Same(expected, frame);
    if (!r) return r << " (" << c.what << ", " << Describe(s) << ")";
    return r;
}

TEST(SuppressKeyChroma, MatchesReference) {
    uint32_t seed = 500;
    for (const SuppressCase& c : kSuppressCases)
        for (const Size& s : kSizes) ASSERT_TRUE(SuppressMatches(c, s, seed++));
    ForEachThreadOrder([] { ASSERT_TRUE(SuppressMatches(kSuppressCases[2], Size{70, 40, 8}, 7)); });
}

TEST(SuppressKeyChroma, WorkedByHand) {
    struct Row {
        const char* what;
        float radius;
        bool all;
        int u, v;        // pixel's signed chroma; the key is (-40, 0), strengths 0.01
        int newU, newV;  // stored bytes after
    } rows[] = {
        // distance 5: a radius of 5 excludes the pixel, 5.5 takes it; p = 1480
        {"at the radius", 5, false, -37, 4, 91, 132},
        {"inside the radius", 5.5f, false, -37, 4, 76, 117},
        {"outside, all off", 5, false, 0, -50, 128, 78},
        // p = 0 * -40 + -50 * 0 = 0: subtracts nothing
        {"outside, all on, p = 0", 5, true, 0, -50, 128, 78},
        {"pointing away, all on", 5, true, 30, 9, 158, 137},
        {"at the key", 1, false, -40, 0, 72, 112},  // p = 1600: both lose 16
    };
    for (const Row& r : rows) {
        HostFrame f(1, 1, 4, 0);
        uint8_t* p = f.px(0, 0);
        p[0] = 77, p[1] = uint8_t(128 + r.u), p[2] = uint8_t(128 + r.v), p[3] = 33;
        ASSERT_TRUE(RunSlot([&](void* d, int pitch, void*, int) {
            return FuncSet()->SuppressKeyChroma_YUV32(1, 1, r.radius, -40, 0, 0.01f, 0.01f, r.all, d, pitch);
        }, f, nullptr));
        EXPECT_EQ(p[1], r.newU) << r.what;
        EXPECT_EQ(p[2], r.newV) << r.what;
        EXPECT_EQ(p[0], 77) << r.what;
        EXPECT_EQ(p[3], 33) << r.what;
    }
}

// ---- mask combinations -------------------------------------------------------------------

const MaskApply kMaskOps[] = {MaskApply::AlphaByMask, MaskApply::AlphaByInverseMask, MaskApply::ShowMask,
                              MaskApply::ShowInverseMask, MaskApply::FadeChroma, MaskApply::FadeChromaInverse};

int CallMaskApply(MaskApply op, int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) {
    auto* fs = FuncSet();
    switch (op) {
    case MaskApply::AlphaByMask: return fs->MultiplyAlphaByMask_YUV32A(w, h, frame, framePitch, mask, maskPitch);
    case MaskApply::AlphaByInverseMask: return fs->MultiplyAlphaByInverseMask_YUV32A(w, h, frame, framePitch, mask, maskPitch);
    case MaskApply::ShowMask: return fs->ShowMask_YUV32A(w, h, frame, framePitch, mask, maskPitch);
    case MaskApply::ShowInverseMask: return fs->ShowInverseMask_YUV32A(w, h, frame, framePitch, mask, maskPitch);
    case MaskApply::FadeChroma: return fs->FadeChromaByMask_YUV32(w, h, frame, framePitch, mask, maskPitch);
    case MaskApply::FadeChromaInverse: return fs->FadeChromaByInverseMask_YUV32(w, h, frame, framePitch, mask, maskPitch);
    }
    return -1;
}

// Frames with transparent and opaque pixels in quantity, masks with 0 and 255 likewise.
::testing::AssertionResult MaskApplyMatches(MaskApply op, const Size& s, uint32_t seed) {
    HostFrame frame(s.w, s.h, 4, s.pad);
    FillRandomAlpha(frame, seed);
    HostFrame mask = MaskFrame(Size{s.w, s.h, s.pad + 3}, seed + 1), expected = frame;
    const HostFrame maskBefore = mask;
    MaskApplyReference(op, mask, expected);
    auto r = RunSlot([&](void* f, int fp, void* m, int mp) { return CallMaskApply(op, s.w, s.h, f, fp, m, mp); },
                     frame, &mask);
    if (r) r = Same(expected, frame);
    if (r) r = Same(maskBefore, mask);
    if (!r) r << " (operation " << int(op) << ", " << Describe(s) << ")";
    return r;
}

TEST(MaskApply, EveryOperationMatchesReference) {
    uint32_t seed = 900;
    for (MaskApply op : kMaskOps)
        for (const Size& s : kSizes) ASSERT_TRUE(MaskApplyMatches(op, s, seed++));
    ForEachThreadOrder([] {
        for (MaskApply op : kMaskOps) ASSERT_TRUE(MaskApplyMatches(op, Size{70, 40, 8}, 3));
    });
}

TEST(MaskApply, WorkedByHand) {
    struct Row {
        MaskApply op;
        int m;
        uint8_t in[4], out[4];
    } rows[] = {
        {MaskApply::AlphaByMask, 128, {10, 20, 30, 255}, {10, 20, 30, 128}},
        {MaskApply::AlphaByMask, 0, {10, 20, 30, 255}, {10, 20, 30, 0}},
        {MaskApply::AlphaByMask, 255, {10, 20, 30, 0}, {10, 20, 30, 0}},  // transparent stays
        {MaskApply::AlphaByInverseMask, 0, {10, 20, 30, 200}, {10, 20, 30, 200}},
        {MaskApply::AlphaByInverseMask, 100, {10, 20, 30, 255}, {10, 20, 30, 155}},
        {MaskApply::ShowMask, 77, {10, 20, 30, 0}, {77, 128, 128, 255}},
        {MaskApply::ShowInverseMask, 77, {10, 20, 30, 0}, {178, 128, 128, 255}},
        {MaskApply::FadeChroma, 0, {10, 200, 30, 40}, {10, 128, 128, 40}},
        {MaskApply::FadeChroma, 255, {10, 200, 30, 40}, {10, 200, 30, 40}},
        {MaskApply::FadeChromaInverse, 0, {10, 200, 30, 40}, {10, 200, 30, 40}},
        // (200 * 127 + 128 * 128 + 128) / 255 = 164.4; (30 * 127 + 128 * 128 + 128) / 255 = 79.7
        {MaskApply::FadeChromaInverse, 128, {10, 200, 30, 40}, {10, 164, 79, 40}},
    };
    for (const Row& r : rows) {
        HostFrame f(1, 1, 4, 0), m(1, 1, 1, 0);
        for (int i = 0; i < 4; ++i) f.bytes[i] = r.in[i];
        m.bytes[0] = uint8_t(r.m);
        ASSERT_TRUE(RunSlot([&](void* d, int fp, void* dm, int mp) { return CallMaskApply(r.op, 1, 1, d, fp, dm, mp); },
                            f, &m));
        for (int i = 0; i < 4; ++i) EXPECT_EQ(f.bytes[i], r.out[i]) << "operation " << int(r.op) << " m " << r.m << " byte " << i;
    }
}

// ---- blend toward a colour ----------------------------------------------------------------

const float kAlphas[] = {0.0f, 1.0f, 0.5f, 0.3f, 0.999f, -0.5f, 1.7f, 300.0f, -1e30f, 1e30f, kNaN};

TEST(BlendToColour, MatchesReference) {
    uint32_t seed = 1300;
    const uint32_t colours[] = {0x00000000u, 0xFF102030u, 0x00FFFFFFu, 0x7A8B9CADu};
    auto check = [&](const Size& s, uint32_t colour, float alpha) {
        HostFrame frame(s.w, s.h, 4, s.pad);
        FillRandomAlpha(frame, seed++);
        HostFrame expected = frame;
        BlendToColourReference(colour, alpha, expected);
        auto r = RunSlot([&](void* f, int pitch, void*, int) {
            return FuncSet()->BlendToColour_C32(s.w, s.h, f, pitch, int(colour), alpha);
        }, frame, nullptr);
        if (r) r = Same(expected, frame);
        return r << " (alpha " << alpha << ", colour " << colour << ", " << Describe(s) << ")";
    };
    for (float alpha : kAlphas)
        for (uint32_t colour : colours)
            for (const Size& s : kSizes) ASSERT_TRUE(check(s, colour, alpha));
    ForEachThreadOrder([&] { ASSERT_TRUE(check(Size{70, 40, 8}, 0x00405060u, 0.37f)); });
}

TEST(BlendToColour, WorkedByHand) {
    struct Row {
        float alpha;
        uint32_t colour;
        uint8_t in[4], out[4];
    } rows[] = {
        {1, 0x00FFFFFFu, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {0, 0xEE102030u, {1, 2, 3, 4}, {48, 32, 16, 4}},  // colour bytes 48, 32, 16; byte 3 kept
        {0.5f, 0x000000C8u, {100, 0, 0, 9}, {150, 0, 0, 9}},
        {2, 0, {200, 100, 0, 9}, {144, 200, 0, 9}},   // 400 keeps its low byte
        {-1, 0, {100, 0, 0, 9}, {0, 0, 0, 9}},        // negative stores 0
        {1.5f, 0x000000C8u, {10, 0, 0, 9}, {0, 0, 0, 9}},  // 15 - 100 < 0
    };
    for (const Row& r : rows) {
        HostFrame f(1, 1, 4, 0);
        for (int i = 0; i < 4; ++i) f.bytes[i] = r.in[i];
        ASSERT_TRUE(RunSlot([&](void* d, int pitch, void*, int) {
            return FuncSet()->BlendToColour_C32(1, 1, d, pitch, int(r.colour), r.alpha);
        }, f, nullptr));
        for (int i = 0; i < 4; ++i) EXPECT_EQ(f.bytes[i], r.out[i]) << "alpha " << r.alpha << " byte " << i;
    }
}

// ---- middle-channel shift -----------------------------------------------------------------

struct ShiftCase {
    int w, pad;  // pitch = 4 * w + pad
};
// Widths and pitches on both sides of the 192/256-thread switch (384 pixels) and of the
// shared-memory budget (pitch 12288), padding alone pushing a narrow frame over it.
const ShiftCase kShiftFrames[] = {{1, 0}, {2, 4}, {5, 0}, {191, 4}, {383, 0}, {384, 0}, {601, 8},
                                  {3072, 0}, {3071, 4}, {3072, 4}, {3073, 0}, {100, 12000}};
const std::pair<int, int> kShifts[] = {{0, 0}, {1, 1}, {2, 2}, {-3, -3}, {3, -2}, {-1, 4}, {7, -8},
                                       {1000, -999}, {-9000, 9001}, {INT_MAX, INT_MIN}, {INT_MIN + 1, 0}};

::testing::AssertionResult ShiftMatches(const ShiftCase& c, int h, std::pair<int, int> s, uint32_t seed) {
    HostFrame frame(c.w, h, 4, c.pad);
    FillRandom(frame, seed);
    HostFrame expected = frame;
    ShiftMiddleChannelsReference(s.first, s.second, expected);
    auto r = RunSlot([&](void* f, int pitch, void*, int) {
        return FuncSet()->ShiftMiddleChannels_C32(c.w, h, f, pitch, s.first, s.second);
    }, frame, nullptr);
    if (r) r = Same(expected, frame);
    return r << " (width " << c.w << " pitch " << frame.pitch << " shifts " << s.first << ", " << s.second << ")";
}

TEST(ShiftMiddleChannels, BothFormsMatchReference) {
    uint32_t seed = 1700;
    for (const ShiftCase& c : kShiftFrames)
        for (auto s : kShifts) ASSERT_TRUE(ShiftMatches(c, c.w > 1000 ? 2 : 3, s, seed++));
}

TEST(ShiftMiddleChannels, EveryThreadOrder) {
    ForEachThreadOrder([] {
        for (const ShiftCase& c : {ShiftCase{601, 8}, ShiftCase{700, 10000}})  // shared, temporary
            for (auto s : {std::make_pair(5, 5), std::make_pair(-3, 6)}) ASSERT_TRUE(ShiftMatches(c, 4, s, 11));
    });
}

TEST(ShiftMiddleChannels, WorkedByHand) {
    // Channel 1 of a 6-pixel row is 10, 20, ..., 60; channel 2 is 0 throughout.
    struct Row {
        int shift;
        uint8_t out[6];
    } rows[] = {
        {0, {10, 20, 30, 40, 50, 60}},   {2, {10, 10, 20, 30, 40, 50}},   {3, {10, 10, 15, 25, 35, 45}},
        {-3, {25, 35, 45, 55, 60, 60}},  {1, {10, 15, 25, 35, 45, 55}},   {-1, {15, 25, 35, 45, 55, 60}},
        {12, {10, 10, 10, 10, 10, 10}},  {-12, {60, 60, 60, 60, 60, 60}},
    };
    for (const Row& r : rows) {
        HostFrame f(6, 1, 4, 0);
        for (int x = 0; x < 6; ++x) f.px(x, 0)[0] = 1, f.px(x, 0)[1] = uint8_t(10 * (x + 1)), f.px(x, 0)[2] = 0, f.px(x, 0)[3] = 2;
        ASSERT_TRUE(RunSlot([&](void* d, int pitch, void*, int) {
            return FuncSet()->ShiftMiddleChannels_C32(6, 1, d, pitch, r.shift, 0);
        }, f, nullptr));
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(f.px(x, 0)[1], r.out[x]) << "shift " << r.shift << " x " << x;
            EXPECT_EQ(f.px(x, 0)[0] + f.px(x, 0)[2] + f.px(x, 0)[3], 3);
        }
    }
}

TEST(ShiftMiddleChannels, PlanFollowsWidthAndPitch) {
    struct Row {
        int w, pitch;
        bool shared;
        unsigned threads;
    } rows[] = {{1, 4, true, 192}, {383, 1532, true, 192}, {384, 1536, true, 256}, {3072, 12288, true, 256},
                {3072, 12292, false, 256}, {100, -12288, true, 192}, {4000, 16000, false, 256}};
    for (const Row& r : rows) {
        const tvf2::ChannelShiftPlan p = tvf2::PlanChannelShift({r.w, 10, nullptr, r.pitch, 0, 0});
        EXPECT_EQ(p.sharedRow, r.shared) << r.w << " " << r.pitch;
        EXPECT_EQ(p.bufferBytes, size_t(std::abs(r.pitch)));
        EXPECT_EQ(p.grid.x * p.grid.y * p.block.y, 1u);
        EXPECT_EQ(p.block.x, r.threads);
    }
}

// The temporary row buffer: asked for |pitch| bytes and freed again; when it cannot be
// had, its status comes back with nothing launched.
TEST(ShiftMiddleChannels, TemporaryBufferAllocationAndFailure) {
    HostFrame f(50, 3, 4, 13000 - 200);
    FillRandom(f, 4);
    DeviceFrame d(f);
    static size_t asked;
    asked = 0;
    const tvf2::ChannelShiftArgs a{50, 3, d.get(), d.pitch(), 3, -4};
    EXPECT_EQ(tvf2::LaunchChannelShift(a, [](void**, size_t bytes) {
                  asked = bytes;
                  return cudaErrorMemoryAllocation;
              }),
              cudaErrorMemoryAllocation);
    EXPECT_EQ(asked, 13000u);
    EXPECT_EQ(tvf2::HostStatus(cudaErrorMemoryAllocation), 2);
    HostFrame out = f;
    d.download(out);
    EXPECT_TRUE(Same(f, out)) << "a failed allocation launches nothing";
#if defined(TVF2_TEST_CPU)
    const size_t live = cpurtLiveAllocations();
    EXPECT_EQ(FuncSet()->ShiftMiddleChannels_C32(50, 3, d.get(), d.pitch(), 3, -4), kOk);
    EXPECT_EQ(cpurtLiveAllocations(), live) << "the temporary is freed";
#endif
}

// ---- refusals and empty frames ------------------------------------------------------------

// Every slot with arguments it cannot honour: invalid value, no runtime error left, and
// neither the frame nor the mask written. Empty frames keep the runtime's verdict on an
// empty launch shape (invalid configuration) and write nothing either.
TEST(KeyingArguments, RefusedOrEmptyWithoutWriting) {
    HostFrame frame(16, 8, 4, 0), mask(16, 8, 1, 0);
    FillRandom(frame, 1);
    FillRandom(mask, 2);
    DeviceFrame df(frame), dm(mask);
    auto* fs = FuncSet();
    void* f = df.get();
    void* m = dm.get();
    const KeyParams k{0, 1, 100, 0, 0, 0.01f, 1, 0};
    auto key = [&](int w, int h, const void* src, int sp, void* mk, int mp) {
        return CallKeyMask(KeyMaskRule::Product, k, w, h, src, sp, mk, mp) |
               CallKeyMask(KeyMaskRule::Gated, k, w, h, src, sp, mk, mp) << 8;
    };
    auto apply = [&](int w, int h, void* fr, int fp, const void* mk, int mp) {
        int all = 0;
        for (MaskApply op : kMaskOps) all |= CallMaskApply(op, w, h, fr, fp, mk, mp) << (4 * int(op));
        return all;
    };
    auto same = [](int v, int status, int slots) {  // status repeated in each slot's field
        int want = 0;
        for (int i = 0; i < slots; ++i) want |= status << ((slots == 2 ? 8 : 4) * i);
        return v == want;
    };
    struct Bad {
        const char* what;
        std::function<bool()> refused;
    } bad[] = {
        {"key: null source", [&] { return same(key(16, 8, nullptr, 64, m, 16), kInvalidValue, 2); }},
        {"key: null mask", [&] { return same(key(16, 8, f, 64, nullptr, 16), kInvalidValue, 2); }},
        {"key: source pitch below a row", [&] { return same(key(16, 8, f, 63, m, 16), kInvalidValue, 2); }},
        {"key: mask pitch below a row", [&] { return same(key(16, 8, f, 64, m, 15), kInvalidValue, 2); }},
        {"key: negative pitch", [&] { return same(key(16, 8, f, -64, m, 16), kInvalidValue, 2); }},
        {"key: negative width", [&] { return same(key(-1, 8, f, 64, m, 16), kInvalidValue, 2); }},
        {"key: negative height", [&] { return same(key(16, -8, f, 64, m, 16), kInvalidValue, 2); }},
        {"key: source pitch not a multiple of 4", [&] { return same(key(15, 8, f, 61, m, 16), kInvalidValue, 2); }},
        {"key: misaligned source", [&] { return same(key(15, 8, static_cast<char*>(f) + 2, 64, m, 16), kInvalidValue, 2); }},
        {"key: empty", [&] { return same(key(0, 8, f, 64, m, 16), kInvalidConfiguration, 2); }},
        {"suppress: null frame", [&] { return fs->SuppressKeyChroma_YUV32(16, 8, 9, 1, 1, 1, 1, true, nullptr, 64) == kInvalidValue; }},
        {"suppress: pitch below a row", [&] { return fs->SuppressKeyChroma_YUV32(16, 8, 9, 1, 1, 1, 1, true, f, 60) == kInvalidValue; }},
        {"suppress: negative height", [&] { return fs->SuppressKeyChroma_YUV32(16, -1, 9, 1, 1, 1, 1, true, f, 64) == kInvalidValue; }},
        {"suppress: pitch not a multiple of 4", [&] { return fs->SuppressKeyChroma_YUV32(15, 8, 9, 1, 1, 1, 1, true, f, 62) == kInvalidValue; }},
        {"suppress: empty", [&] { return fs->SuppressKeyChroma_YUV32(16, 0, 9, 1, 1, 1, 1, true, f, 64) == kInvalidConfiguration; }},
        {"apply: null frame", [&] { return same(apply(16, 8, nullptr, 64, m, 16), kInvalidValue, 6); }},
        {"apply: null mask", [&] { return same(apply(16, 8, f, 64, nullptr, 16), kInvalidValue, 6); }},
        {"apply: frame pitch below a row", [&] { return same(apply(16, 8, f, 48, m, 16), kInvalidValue, 6); }},
        {"apply: mask pitch below a row", [&] { return same(apply(16, 8, f, 64, m, 8), kInvalidValue, 6); }},
        {"apply: negative width", [&] { return same(apply(-16, 8, f, 64, m, 16), kInvalidValue, 6); }},
        {"apply: frame pitch not a multiple of 4", [&] { return same(apply(15, 8, f, 63, m, 16), kInvalidValue, 6); }},
        {"apply: misaligned frame", [&] { return same(apply(15, 8, static_cast<char*>(f) + 1, 64, m, 16), kInvalidValue, 6); }},
        // A mask over 2 GiB: its last row lies beyond the 32-bit offset the kernels address
        // mask bytes by (a wrapped offset would write before the mask).
        {"key: mask beyond a 32-bit offset", [&] { return same(key(1, 2049, f, 4, m, 1 << 20), kInvalidValue, 2); }},
        {"apply: mask beyond a 32-bit offset", [&] { return same(apply(1, 2049, f, 4, m, 1 << 20), kInvalidValue, 6); }},
        {"key: mask of INT_MAX rows", [&] { return same(key(1, INT_MAX, f, 4, m, 2), kInvalidValue, 2); }},
        {"apply: empty", [&] { return same(apply(16, 0, f, 64, m, 16), kInvalidConfiguration, 6); }},
        {"blend: null frame", [&] { return fs->BlendToColour_C32(16, 8, nullptr, 64, 0, 0.5f) == kInvalidValue; }},
        {"blend: pitch below a row", [&] { return fs->BlendToColour_C32(16, 8, f, 32, 0, 0.5f) == kInvalidValue; }},
        {"blend: negative width", [&] { return fs->BlendToColour_C32(-16, 8, f, 64, 0, 0.5f) == kInvalidValue; }},
        {"blend: pitch not a multiple of 4", [&] { return fs->BlendToColour_C32(15, 8, f, 61, 0, 0.5f) == kInvalidValue; }},
        {"blend: misaligned frame", [&] { return fs->BlendToColour_C32(15, 8, static_cast<char*>(f) + 3, 64, 0, 0.5f) == kInvalidValue; }},
        {"blend: empty", [&] { return fs->BlendToColour_C32(0, 0, f, 64, 0, 0.5f) == kInvalidConfiguration; }},
        {"shift: null frame", [&] { return fs->ShiftMiddleChannels_C32(16, 8, nullptr, 64, 1, 1) == kInvalidValue; }},
        {"shift: pitch below a row", [&] { return fs->ShiftMiddleChannels_C32(16, 8, f, 60, 1, 1) == kInvalidValue; }},
        {"shift: negative pitch", [&] { return fs->ShiftMiddleChannels_C32(16, 8, f, -64, 1, 1) == kInvalidValue; }},
        {"shift: negative height", [&] { return fs->ShiftMiddleChannels_C32(16, -8, f, 64, 1, 1) == kInvalidValue; }},
        {"shift: pitch not a multiple of 4", [&] { return fs->ShiftMiddleChannels_C32(15, 8, f, 62, 1, 1) == kInvalidValue; }},
        {"shift: misaligned frame", [&] { return fs->ShiftMiddleChannels_C32(15, 8, static_cast<char*>(f) + 2, 64, 1, 1) == kInvalidValue; }},
        {"shift: empty", [&] { return fs->ShiftMiddleChannels_C32(0, 8, f, 64, 1, 1) == kInvalidConfiguration; }},
        // An empty row with a pitch over the budget allocates, fails to launch, frees.
        {"shift: empty, wide pitch", [&] { return fs->ShiftMiddleChannels_C32(0, 1, f, 20000, 1, 1) == kInvalidConfiguration; }},
    };
    for (const Bad& b : bad) {
        EXPECT_TRUE(b.refused()) << b.what;
        EXPECT_EQ(fs->GetLastStatus(), kOk) << b.what << ": the slot leaves no runtime error behind";
    }
    HostFrame frameAfter = frame, maskAfter = mask;
    df.download(frameAfter);
    dm.download(maskAfter);
    EXPECT_TRUE(Same(frame, frameAfter));
    EXPECT_TRUE(Same(mask, maskAfter));
}

}  // namespace
