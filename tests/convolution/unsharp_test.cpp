// Slots 19 and 20 against the sequential reference, bit for bit, in every kernel form.
#include "../common/frames.h"
#include "../common/module.h"
#include "convolution/unsharp.h"
#include "convolution_reference.h"
#include "test_buffers.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace tvf2test;
using tvf2::ConvForm;

namespace {

int Call(bool alpha, const tvf2::UnsharpArgs& a) {
    auto* fs = FuncSet();
    return alpha ? fs->SeparableUnsharpMask_C32A(a.dst, a.dstPitch, a.src, a.srcPitch, a.mid, a.midPitch, a.width, a.height, a.radius, a.amount, a.hWeights, a.hCount, a.vWeights, a.vCount)
                 : fs->SeparableUnsharpMask_C32(a.dst, a.dstPitch, a.src, a.srcPitch, a.mid, a.midPitch, a.width, a.height, a.radius, a.amount, a.hWeights, a.hCount, a.vWeights, a.vCount);
}

struct Case {
    bool alpha;
    int w, h, pad;
    int r, amount, hExtra, vExtra;
    uint32_t seed;
    bool gaussian;
    bool inPlace = false;
};

std::string Describe(const Case& c) {
    return std::string(c.alpha ? "C32A " : "C32 ") + std::to_string(c.w) + "x" + std::to_string(c.h) +
           " pad " + std::to_string(c.pad) + " R " + std::to_string(c.r) + " amount " +
           std::to_string(c.amount) + " extra " + std::to_string(c.hExtra) + "," +
           std::to_string(c.vExtra) + (c.gaussian ? " gaussian" : " random") +
           (c.inPlace ? " in place" : "") + " seed " + std::to_string(c.seed);
}

// Runs one case through the slot and the reference. Destination and intermediate start
// random, so bytes the mask must leave alone (byte 3 without alpha, padding) are checked.
::testing::AssertionResult Matches(const Case& c, std::set<std::pair<int, ConvForm>>* seen = nullptr) {
    HostFrame src(c.w, c.h, 4, c.pad), dst(c.w, c.h, 4, c.pad + 4), mid(c.w, c.h, 4, c.pad + 8);
    c.alpha ? FillRandomAlpha(src, c.seed) : FillRandom(src, c.seed);
    FillRandom(dst, c.seed + 1);
    FillRandom(mid, c.seed + 2);
    if (c.inPlace) dst = src;
    const std::vector<float> ht = Table(c.w, c.r, c.hExtra, c.gaussian, c.alpha, c.seed + 3);
    const std::vector<float> vt = Table(c.h, c.r, c.vExtra, c.gaussian, c.alpha, c.seed + 4);
    HostFrame expectedMid = mid, expected = dst;
    UnsharpReference(c.alpha, src, ht, vt, c.r, c.amount, expectedMid, expected);

    DeviceFrame ds(src), dd(dst), dm(mid);
    DeviceBuffer dh(ht.data(), ht.size() * 4), dv(vt.data(), vt.size() * 4);
    const void* s = c.inPlace ? dd.get() : ds.get();
    const tvf2::UnsharpArgs a{dd.get(), dd.pitch(), s, c.inPlace ? dd.pitch() : ds.pitch(), dm.get(), dm.pitch(),
                              c.w, c.h, c.r, c.amount, static_cast<const float*>(dh.p), int(ht.size()),
                              static_cast<const float*>(dv.p), int(vt.size())};
    if (seen) {
        const tvf2::UnsharpPlan p = tvf2::PlanUnsharp(a);
        seen->insert({0, p.rows});
        seen->insert({1, p.columns});
    }
    const int status = Call(c.alpha, a);
    if (status != kOk) return ::testing::AssertionFailure() << Describe(c) << ": status " << status;
    HostFrame actual = dst, actualMid = mid;
    dd.download(actual);
    dm.download(actualMid);
    if (actualMid.bytes != expectedMid.bytes)
        return ::testing::AssertionFailure() << Describe(c) << ": intermediate " << DescribeDifference(expectedMid, actualMid);
    if (actual.bytes != expected.bytes)
        return ::testing::AssertionFailure() << Describe(c) << ": " << DescribeDifference(expected, actual);
    return ::testing::AssertionSuccess();
}

// Radius and extra entries per pass that select every form: tables in shared memory,
// rings only (a longer table no longer fits), no shared memory (R >= 24), the largest
// radius whose natural table fits (16) and the first that does not (17).
struct Forms {
    int r, hExtra, vExtra;
};
const Forms kForms[] = {{0, 0, 0}, {1, 0, 3000}, {2, 3000, 0}, {16, 0, 0}, {17, 0, 0}, {24, 0, 0}};

class UnsharpSweep : public ::testing::TestWithParam<bool> {};

TEST_P(UnsharpSweep, EveryFormMatchesReference) {
    std::set<std::pair<int, ConvForm>> seen;
    uint32_t seed = GetParam() ? 9000 : 8000;
    const int amounts[] = {0, 256, -300, 77, 1000};
    for (const Forms& f : kForms) {
        const std::vector<std::pair<int, int>> sizes = {{1, 1}, {5, 3}, {2 * f.r + 1, 2 * f.r + 1}, {2 * f.r, 2 * f.r + 2}, {70, 66}};
        for (auto s : sizes) {
            if (s.first < 1 || s.second < 1) continue;
            const int amount = amounts[seed % 5];
            ASSERT_TRUE(Matches(Case{GetParam(), s.first, s.second, int(seed % 3) * 4, f.r, amount, f.hExtra, f.vExtra, seed, seed % 4 == 0}, &seen));
            ++seed;
        }
    }
    for (ConvForm form : {ConvForm::Global, ConvForm::Ring, ConvForm::RingTable}) {
        EXPECT_TRUE(seen.count({0, form})) << "row form " << int(form);
        EXPECT_TRUE(seen.count({1, form})) << "column form " << int(form);
    }
}

TEST_P(UnsharpSweep, MatchesReferenceInEveryThreadOrder) {
    ForEachThreadOrder([&] {
        uint32_t seed = 31;
        for (const Forms& f : kForms) ASSERT_TRUE(Matches(Case{GetParam(), 67, 65, 8, f.r, 200, f.hExtra, f.vExtra, seed++, false}));
    });
}

// The destination may be the source: each pixel reads the source only where it writes.
TEST_P(UnsharpSweep, InPlaceMatchesReference) {
    uint32_t seed = 55;
    for (const Forms& f : kForms) {
        Case c{GetParam(), 50, 40, 4, f.r, 300, f.hExtra, f.vExtra, seed++, true};
        c.inPlace = true;
        ASSERT_TRUE(Matches(c));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, UnsharpSweep, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return std::string(i.param ? "C32A" : "C32"); });

// Runs the mask on src with radius r and tables of constant weight `w` (`vw` in the
// column table if given); returns dst.
HostFrame RunConstant(bool alpha, const HostFrame& src, int r, float w, int amount, float vw = -1.0f) {
    const std::vector<float> ht(static_cast<size_t>(tvf2::WeightTableEntries(src.width, r)), w),
        vt(static_cast<size_t>(tvf2::WeightTableEntries(src.height, r)), vw < 0 ? w : vw);
    HostFrame out = src;
    FillRandom(out, 99);
    DeviceFrame ds(src), dd(out), dm(out);
    DeviceBuffer dh(ht.data(), ht.size() * 4), dv(vt.data(), vt.size() * 4);
    EXPECT_EQ(Call(alpha, {dd.get(), dd.pitch(), ds.get(), ds.pitch(), dm.get(), dm.pitch(), src.width, src.height, r, amount,
                           static_cast<const float*>(dh.p), int(ht.size()), static_cast<const float*>(dv.p), int(vt.size())}),
              kOk);
    dd.download(out);
    return out;
}

TEST(Unsharp, IdentityBlurOrZeroAmountKeepsTheSource) {
    HostFrame src(37, 21, 4, 0);
    FillRandomAlpha(src, 5);
    for (bool alpha : {false, true}) {
        // Radius 0 with weight 1: the blur is the identity, whatever the amount (for C32A
        // only where alpha > 0; elsewhere the colours become 0).
        HostFrame out = RunConstant(alpha, src, 0, 1.0f, 700);
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x)
                for (int i = 0; i < 3; ++i)
                    if (!alpha || src.px(x, y)[3] > 0) {
                        ASSERT_EQ(out.px(x, y)[i], src.px(x, y)[i]) << x << "," << y;
                    }
        // Amount 0: the source, whatever the tables.
        out = RunConstant(alpha, src, 3, 0.37f, 0);
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x)
                for (int i = 0; i < (alpha ? 4 : 3); ++i) ASSERT_EQ(out.px(x, y)[i], src.px(x, y)[i]);
    }
}

// Worked by hand: a flat frame of 100 with one pixel of 160, every weight 1/3, radius
// 1, amount 256 (f = 1).
TEST(Unsharp, SpikeIsPushedAwayFromItsBlur) {
    HostFrame src(5, 5, 4, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            uint8_t* p = src.px(x, y);
            p[0] = p[1] = p[2] = 100, p[3] = 255;
        }
    src.px(2, 2)[0] = 160;
    HostFrame out = RunConstant(false, src, 1, 1.0f / 3.0f, 256);
    // Rows: 120 at (1..3, 2); the column blur at the spike is (100 + 120 + 100) / 3:
    // 160 + (160 - 106.67) = 213.3 -> 213; the pixels above and below fall below 100.
    EXPECT_EQ(out.px(2, 2)[0], 213);
    EXPECT_LT(out.px(2, 1)[0], 100);
    // A constant table is not renormalised at the border: the corner blurs to 4/9 of 100.
    EXPECT_EQ(out.px(0, 0)[0], 155);
    EXPECT_EQ(out.px(2, 2)[1], 100);
    // Byte 3 of the destination is never written without alpha.
    HostFrame before = src;
    FillRandom(before, 99);
    EXPECT_EQ(out.px(4, 4)[3], before.px(4, 4)[3]);
}

// o + (o - b) * f rounded once: 137 + (137 - 116.168625) * (-510 / 256) = 95.4999924
// gives 95, where a separately rounded product would reach 95.5 and give 96. (C32 only:
// the alpha-weighted blur divides the weight out again.)
TEST(Unsharp, BlendIsOneFusedMultiplyAdd) {
    HostFrame src(1, 1, 4, 0);
    src.px(0, 0)[0] = src.px(0, 0)[1] = src.px(0, 0)[2] = 137;
    src.px(0, 0)[3] = 255;
    const HostFrame out = RunConstant(false, src, 0, 1.0f, -510, 0x1.b226p-1f);
    EXPECT_EQ(out.px(0, 0)[0], 95);
}

TEST(Unsharp, TransparentFramePushesColourAwayFromZero) {
    HostFrame src(9, 7, 4, 0);
    FillRandom(src, 8);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) src.px(x, y)[3] = 0;
    HostFrame out = RunConstant(true, src, 2, 0.2f, 256);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            for (int i = 0; i < 3; ++i) ASSERT_EQ(out.px(x, y)[i], std::min(255, 2 * src.px(x, y)[i]));
            ASSERT_EQ(out.px(x, y)[3], 0);
        }
}

TEST(Unsharp, PlanFollowsTheSharedMemoryBudget) {
    auto plan = [](int r, int hCount, int vCount, int w = 1000, int h = 64000) {
        tvf2::UnsharpArgs a{};
        a.width = w, a.height = h, a.radius = r, a.amount = -3;
        a.hCount = hCount, a.vCount = vCount;
        return tvf2::PlanUnsharp(a);
    };
    tvf2::UnsharpPlan p = plan(16, 817, 2880 - 8);  // T(16) = 8448
    EXPECT_EQ(p.rows, ConvForm::RingTable);
    EXPECT_EQ(p.hShared, 8448u + 4 * 817);
    EXPECT_EQ(p.columns, ConvForm::Ring);
    EXPECT_EQ(p.vShared, 8448u);
    EXPECT_EQ(plan(23, 0, 919).rows, ConvForm::RingTable) << "a short count still fits";
    EXPECT_EQ(plan(23, 1657, 1657).rows, ConvForm::Ring);
    EXPECT_EQ(plan(24, 0, 0).columns, ConvForm::Global);
    EXPECT_FLOAT_EQ(p.f, -3.0f / 256.0f);
    // Grids of ceil(n / 64) blocks, at most 1000.
    EXPECT_EQ(p.hGrid.y, 1000u);
    EXPECT_EQ(p.vGrid.x, 16u);
    EXPECT_EQ(plan(1, 7, 7, 64, 65).hGrid.y, 2u);
    EXPECT_EQ(plan(1, 7, 7, 64, 65).vGrid.x, 1u);
}

TEST(Unsharp, RejectsWhatItCannotHonour) {
    HostFrame src(16, 8, 4, 0), dst(16, 8, 4, 0);
    FillRandom(src, 1);
    FillRandom(dst, 2);
    DeviceFrame ds(src), dd(dst), dm(dst);
    const std::vector<float> t = Table(16, 2, 0, true, false, 3);  // 19 entries, serves 8 too
    DeviceBuffer dt(t.data(), t.size() * 4);
    const float* w = static_cast<const float*>(dt.p);
    const tvf2::UnsharpArgs good{dd.get(), 64, ds.get(), 64, dm.get(), 64, 16, 8, 2, 100, w, 19, w, 19};
    struct Bad {
        const char* what;
        std::function<void(tvf2::UnsharpArgs&)> edit;
    } bad[] = {
        {"null destination", [](tvf2::UnsharpArgs& a) { a.dst = nullptr; }},
        {"null source", [](tvf2::UnsharpArgs& a) { a.src = nullptr; }},
        {"null intermediate", [](tvf2::UnsharpArgs& a) { a.mid = nullptr; }},
        {"null row table", [](tvf2::UnsharpArgs& a) { a.hWeights = nullptr; }},
        {"null column table", [](tvf2::UnsharpArgs& a) { a.vWeights = nullptr; }},
        {"row table one short", [](tvf2::UnsharpArgs& a) { a.hCount = 18; }},
        {"column table one short", [](tvf2::UnsharpArgs& a) { a.vCount = 18; }},
        {"intermediate pitch below a row", [](tvf2::UnsharpArgs& a) { a.midPitch = 60; }},
        {"destination pitch not a whole pixel", [](tvf2::UnsharpArgs& a) { a.dstPitch = 66; }},
        {"negative source pitch", [](tvf2::UnsharpArgs& a) { a.srcPitch = -64; }},
        {"negative height", [](tvf2::UnsharpArgs& a) { a.height = -8; }},
        {"negative radius", [](tvf2::UnsharpArgs& a) { a.radius = -1; }},
    };
    for (bool alpha : {false, true}) {
        for (const Bad& b : bad) {
            tvf2::UnsharpArgs a = good;
            b.edit(a);
            EXPECT_EQ(Call(alpha, a), kInvalidValue) << b.what;
            EXPECT_EQ(FuncSet()->GetLastStatus(), kOk) << b.what;
        }
    }
    HostFrame out = dst;
    dd.download(out);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
    EXPECT_EQ(Call(false, good), kOk) << "the unedited arguments are fine";
}

// An empty frame: the runtime refuses the pass whose grid is empty (without rows, the
// row pass, and the column pass is not queued); nothing is written.
TEST(Unsharp, EmptyFramesWriteNothing) {
    HostFrame dst(8, 8, 4, 0);
    FillRandom(dst, 4);
    DeviceFrame dd(dst), dm(dst);
    const float one = 1.0f;
    DeviceBuffer dt(&one, 4);
    const float* t = static_cast<const float*>(dt.p);
    for (bool alpha : {false, true}) {
        EXPECT_EQ(Call(alpha, {dd.get(), 32, dd.get(), 32, dm.get(), 32, 8, 0, 0, 256, t, 1, t, 1}), kInvalidConfiguration);
        EXPECT_EQ(Call(alpha, {dd.get(), 32, dd.get(), 32, dm.get(), 32, 0, 8, 0, 256, t, 1, t, 1}), kInvalidConfiguration);
        EXPECT_EQ(FuncSet()->GetLastStatus(), kOk);
    }
    HostFrame out = dst, outMid = dst;
    dd.download(out);
    dm.download(outMid);
    EXPECT_EQ(FirstDifference(dst, out), -1) << DescribeDifference(dst, out);
    EXPECT_EQ(FirstDifference(dst, outMid), -1) << DescribeDifference(dst, outMid);
}

}  // namespace
