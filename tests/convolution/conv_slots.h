// The convolution slots as the tests drive them: one runner for every slot on device
// copies of host frames, random weight tables, and the check of a slot against the
// sequential reference on random frames with padded pitches, in every kernel form.
#ifndef TVF2_TESTS_CONVOLUTION_CONV_SLOTS_H
#define TVF2_TESTS_CONVOLUTION_CONV_SLOTS_H

#include "../common/frames.h"
#include "../common/module.h"
#include "convolution/separable.h"
#include "convolution/unsharp.h"
#include "convolution/weight_table.h"
#include "convolution_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tvf2test {

using tvf2::ConvForm;

// Slots 31 to 36 in ConvRef order, then the unsharp masks (19, 20).
enum class Slot { C32, C64, C32A, C64A, P8, P16, UnsharpC32, UnsharpC32A };

inline const char* Name(Slot s) {
    static const char* const names[] = {"C32", "C64", "C32A", "C64A", "P8", "P16", "UnsharpC32", "UnsharpC32A"};
    return names[int(s)];
}
inline std::string SlotName(const ::testing::TestParamInfo<Slot>& i) { return Name(i.param); }
inline bool IsUnsharp(Slot s) { return s == Slot::UnsharpC32 || s == Slot::UnsharpC32A; }
inline bool IsAlpha(Slot s) { return s == Slot::C32A || s == Slot::C64A || s == Slot::UnsharpC32A; }
inline ConvRef Layout(Slot s) {
    return s == Slot::UnsharpC32 ? ConvRef::C32 : s == Slot::UnsharpC32A ? ConvRef::C32A : ConvRef(int(s));
}

typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FuncSetT;

inline int CallSeparable(Slot s, const tvf2::SeparableArgs& a) {
    static const decltype(&FuncSetT::SeparableConvolve_C32) slots[] = {
        &FuncSetT::SeparableConvolve_C32, &FuncSetT::SeparableConvolve_C64, &FuncSetT::SeparableConvolveAlpha_C32A,
        &FuncSetT::SeparableConvolveAlpha_C64A, &FuncSetT::SeparableConvolve_P8, &FuncSetT::SeparableConvolve_P16};
    return (FuncSet()->*slots[int(s)])(a.dst, a.src, a.width, a.height, a.dstPitch, a.srcPitch, a.hWeights, a.hCount,
                                        a.vWeights, a.vCount, a.work, a.hRadius, a.vRadius);
}

inline int CallUnsharp(bool alpha, const tvf2::UnsharpArgs& a) {
    return (FuncSet()->*(alpha ? &FuncSetT::SeparableUnsharpMask_C32A : &FuncSetT::SeparableUnsharpMask_C32))(
        a.dst, a.dstPitch, a.src, a.srcPitch, a.mid, a.midPitch, a.width, a.height, a.radius, a.amount, a.hWeights,
        a.hCount, a.vWeights, a.vCount);
}

// Random table (not normalised, signed unless alpha-weighted, so that sums wrap and
// saturate) or a Gaussian one; `extra` entries beyond those read push the table out of
// shared memory without changing the result.
inline std::vector<float> Table(int n, int r, int extra, bool gaussian, bool nonNegative, uint32_t seed) {
    std::vector<float> t;
    if (gaussian && n > 0) t = tvf2::BuildWeightTable(tvf2::WindowShape::Gaussian, n, r);
    else t.resize(static_cast<size_t>(tvf2::WeightTableEntries(n, r)));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> signedW(-0.5f, 1.5f), positiveW(0.0f, 1.25f);
    if (!gaussian)
        for (float& w : t) w = nonNegative ? positiveW(rng) : signedW(rng);
    for (int i = 0; i < extra; ++i) t.push_back(signedW(rng));
    return t;
}

// A table as a one-row frame of its bytes, for DeviceFrame.
inline HostFrame Floats(const std::vector<float>& v) {
    HostFrame f(int(v.size()), 1, 4, 0);
    if (!v.empty()) std::memcpy(f.bytes.data(), v.data(), 4 * v.size());
    return f;
}

// Tables, radii (the unsharp masks take hR) and the unsharp amount of one call.
struct Filter {
    std::vector<float> h, v;
    int hR, vR, amount;
};

// Runs a slot on device copies of src, dst and mid (the unsharp intermediate; the
// convolutions get a work area of random bytes instead) and copies dst and mid back.
// In place: the slot's source is dst, which the caller has filled. forms: the form of
// each pass as the launcher plans it.
inline int RunSlot(Slot s, const HostFrame& src, const Filter& f, HostFrame& dst, HostFrame* mid = nullptr,
                   bool inPlace = false, std::pair<ConvForm, ConvForm>* forms = nullptr) {
    HostFrame scratch(src.width, src.height, 4, 0), junk(IsUnsharp(s) ? 1 : 16 * src.width * src.height + 64, 1, 1, 0);
    FillRandom(junk, 4);
    HostFrame& m = mid ? *mid : scratch;
    DeviceFrame ds(src), dd(dst), dm(m), dh(Floats(f.h)), dv(Floats(f.v)), work(junk);
    const float *hw = static_cast<const float*>(dh.get()), *vw = static_cast<const float*>(dv.get());
    const void* sp = inPlace ? dd.get() : ds.get();
    const int spitch = inPlace ? dd.pitch() : ds.pitch(), hn = int(f.h.size()), vn = int(f.v.size());
    int status;
    if (IsUnsharp(s)) {
        const tvf2::UnsharpArgs a{dd.get(), dd.pitch(), sp, spitch, dm.get(), dm.pitch(), src.width, src.height,
                                  f.hR, f.amount, hw, hn, vw, vn};
        if (forms) *forms = {tvf2::PlanUnsharp(a).rows, tvf2::PlanUnsharp(a).columns};
        status = CallUnsharp(s == Slot::UnsharpC32A, a);
    } else {
        const tvf2::SeparableArgs a{dd.get(), sp, src.width, src.height, dd.pitch(), spitch, hw, hn, vw, vn,
                                    work.get(), f.hR, f.vR};
        const tvf2::SeparablePlan p = tvf2::PlanSeparable(tvf2::ConvLayout(int(s)), a);
        if (forms) *forms = {p.horizontal, p.vertical};
        status = CallSeparable(s, a);
    }
    dd.download(dst);
    dm.download(m);
    return status;
}

// Byte comparison; on the GPU the alpha convolutions' colours may move by one step where
// the device's approximate reciprocal differs from the exact one.
inline bool Same(Slot s, const HostFrame& e, const HostFrame& a) {
#if defined(TVF2_TEST_CUDA)
    if (s == Slot::C32A || s == Slot::C64A) {
        const bool wide = s == Slot::C64A;
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x)
                for (int i = 0; i < 4; ++i) {
                    int16_t ev = e.px(x, y)[i], av = a.px(x, y)[i];
                    if (wide) std::memcpy(&ev, e.px(x, y) + 2 * i, 2), std::memcpy(&av, a.px(x, y) + 2 * i, 2);
                    const int d = wide ? std::abs(ev - av) : std::min((ev - av) & 255, (av - ev) & 255);
                    if (d > (i < 3 ? 1 : 0)) return false;
                }
        return true;
    }
#endif
    (void)s;
    return e.bytes == a.bytes;
}

struct Case {
    Slot slot;
    int w, h, hR, vR, hExtra, vExtra, amount;
    uint32_t seed;  // also picks the padding and a Gaussian table on every fourth
    bool inPlace;
};

// One case through the slot and the reference. Destination and intermediate start
// random, so bytes a slot must leave alone (padding, byte 3 of the C32 mask) are checked.
inline ::testing::AssertionResult Matches(const Case& c, std::set<std::pair<int, ConvForm>>* seen = nullptr) {
    const int bpp = ConvBytesPerPixel(Layout(c.slot)), pad = int(c.seed % 3) * 8;
    HostFrame src(c.w, c.h, bpp, pad), dst(c.w, c.h, bpp, pad + 2 * bpp), mid(c.w, c.h, 4, pad + 8);
    IsAlpha(c.slot) && bpp == 4 ? FillRandomAlpha(src, c.seed) : FillRandom(src, c.seed);
    if (c.slot == Slot::C64A) {  // 16-bit alphas 0 .. 32767, a share of them 0 or 32767
        std::mt19937 rng(c.seed + 3);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint32_t k = rng() % 8;
                const int16_t a = k == 0 ? 0 : k == 1 ? 32767 : int16_t(rng() % 32768);
                std::memcpy(src.px(x, y) + 6, &a, 2);
            }
    }
    FillRandom(dst, c.seed + 1);
    FillRandom(mid, c.seed + 2);
    if (c.inPlace) dst = src;
    const bool gaussian = c.seed % 4 == 0;
    const Filter f{Table(c.w, c.hR, c.hExtra, gaussian, IsAlpha(c.slot), c.seed + 2),
                   Table(c.h, c.vR, c.vExtra, gaussian, IsAlpha(c.slot), c.seed + 3), c.hR, c.vR, c.amount};
    HostFrame expected = dst, expectedMid = mid;
    if (IsUnsharp(c.slot)) UnsharpReference(IsAlpha(c.slot), src, f.h, f.v, c.hR, c.amount, expectedMid, expected);
    else SeparableReference(Layout(c.slot), src, f.h, c.hR, f.v, c.vR, expected);
    std::pair<ConvForm, ConvForm> forms;
    const int status = RunSlot(c.slot, src, f, dst, &mid, c.inPlace, &forms);
    if (seen) seen->insert({{0, forms.first}, {1, forms.second}});
    const std::string what = std::string(Name(c.slot)) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                             " radii " + std::to_string(c.hR) + "," + std::to_string(c.vR) + " extra " +
                             std::to_string(c.hExtra) + "," + std::to_string(c.vExtra) + " amount " +
                             std::to_string(c.amount) + (c.inPlace ? " in place" : "") + " seed " + std::to_string(c.seed);
    if (status != kOk) return ::testing::AssertionFailure() << what << ": status " << status;
    if (!Same(c.slot, expected, dst)) return ::testing::AssertionFailure() << what << ": " << DescribeDifference(expected, dst);
    if (IsUnsharp(c.slot) && mid.bytes != expectedMid.bytes)
        return ::testing::AssertionFailure() << what << ": intermediate " << DescribeDifference(expectedMid, mid);
    return ::testing::AssertionSuccess();
}

// Radii and extra table entries per pass.
struct Radii {
    int hR, vR, hExtra, vExtra;
};

// Every radius set on tiny lines, lines shorter than 2R+1, exactly 2R+1 and frames of
// several blocks (the unsharp masks with amounts 0, 256, negative and others, every
// other frame in place), and on one frame in every thread order; then checks that the
// sets took every form of both passes.
inline void CheckEveryForm(Slot s, const std::vector<Radii>& radii) {
    std::set<std::pair<int, ConvForm>> seen;
    uint32_t seed = 500u + 10000u * unsigned(s);
    const int amounts[] = {0, 256, -300, 77, 1000};
    for (const Radii& r : radii) {
        const std::pair<int, int> sizes[] = {
            {1, 1}, {5, 3}, {2 * r.hR + 1, 2 * r.vR + 1}, {2 * r.hR + 2, 2 * r.vR}, {70, 66}};
        for (int i = 0; i < 5; ++i, ++seed)
            if (sizes[i].first > 0 && sizes[i].second > 0) {
                ASSERT_TRUE(Matches(Case{s, sizes[i].first, sizes[i].second, r.hR, r.vR, r.hExtra, r.vExtra,
                                         amounts[seed % 5], seed, IsUnsharp(s) && i % 2 == 1},
                                    &seen));
            }
        ForEachThreadOrder([&] { ASSERT_TRUE(Matches(Case{s, 67, 65, r.hR, r.vR, r.hExtra, r.vExtra, 200, seed, false})); });
    }
    // (The alpha convolutions' column pass has no rings-only form.)
    for (ConvForm f : {ConvForm::Global, ConvForm::Ring, ConvForm::RingTable}) {
        EXPECT_TRUE(seen.count({0, f})) << "row form " << int(f);
        if (IsUnsharp(s) || !IsAlpha(s) || f != ConvForm::Ring) {
            EXPECT_TRUE(seen.count({1, f})) << "column form " << int(f);
        }
    }
}

}  // namespace tvf2test

#endif
