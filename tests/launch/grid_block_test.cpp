// Launch shapes against a reference written from the printed tables, over every small
// size and a spread of large ones, plus the worked examples.
#include "launch/grid_block.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

struct Shape {
    unsigned gx, bx, gy, by;
    bool operator==(const Shape& o) const { return gx == o.gx && bx == o.bx && gy == o.gy && by == o.by; }
};

std::ostream& operator<<(std::ostream& os, const Shape& s) {
    return os << "grid " << s.gx << "x" << s.gy << " block " << s.bx << "x" << s.by;
}

struct ModeRef {
    int bx, by, threshold;
    std::vector<int> small;      // thin side s = 1.. -> block extent
    std::map<int, int> other;    // block extent -> extent along the other side
};

const ModeRef& RefFor(int mode) {
    static const ModeRef def{16, 16, 16, {1, 2, 3, 4, 6, 6, 8, 8, 12, 12, 12, 12, 16, 16, 16},
                             {{1, 192}, {2, 128}, {3, 64}, {4, 48}, {6, 32}, {8, 24}, {12, 16}, {16, 12}}};
    static const ModeRef m1{16, 12, 12, {1, 2, 3, 4, 6, 6, 8, 8, 12, 12, 12},
                            {{1, 192}, {2, 64}, {3, 64}, {4, 48}, {6, 32}, {8, 24}, {12, 16}}};
    static const ModeRef m2{8, 8, 8, {1, 2, 4, 4, 8, 8, 8}, {{1, 64}, {2, 32}, {4, 16}, {8, 8}}};
    static const ModeRef m3{16, 4, 4, {1, 2, 4}, {{1, 64}, {2, 32}, {4, 16}}};
    return mode == 1 ? m1 : mode == 2 ? m2 : mode == 3 ? m3 : def;
}

Shape Reference(long long w, long long h, int mode) {
    if (w < 1 || h < 1) return {0, 0, 0, 0};
    const ModeRef& m = RefFor(mode);
    long long bx = m.bx, by = m.by;
    if (w < m.threshold || h < m.threshold) {
        if (w < h) {
            bx = m.small.at(w - 1);
            by = m.other.at(int(bx));
        } else {
            by = m.small.at(h - 1);
            bx = m.other.at(int(by));
        }
    }
    long long gx = std::max(1LL, w / bx), gy = std::max(1LL, h / by);
    if (gx * gy > 1000) {
        if (gx > 1000) gx = 1000, gy = 1;
        else if (gy > 1000) gx = 1, gy = 1000;
        else if (gx >= gy) gy = 1000 / gx;
        else gx = 1000 / gy;
    }
    return {unsigned(gx), unsigned(bx), unsigned(gy), unsigned(by)};
}

Shape Actual(int w, int h, int mode) {
    uint32_t gx = 7, bx = 7, gy = 7, by = 7;
    CalcGridBlockForMode(w, h, mode, &gx, &bx, &gy, &by);
    return {gx, bx, gy, by};
}

TEST(GridBlock, MatchesReferenceOverSmallAndLargeSizes) {
    std::vector<int> sizes;
    for (int v = -2; v <= 40; ++v) sizes.push_back(v);
    for (int v : {63, 64, 65, 191, 192, 193, 720, 1080, 1920, 4095, 5000, 16000, 40000, 2147483647}) sizes.push_back(v);
    for (int mode : {0, 1, 2, 3, 4, -1})
        for (int w : sizes)
            for (int h : sizes) ASSERT_EQ(Actual(w, h, mode), Reference(w, h, mode)) << w << "x" << h << " mode " << mode;
}

TEST(GridBlock, DefaultRoutineIsModeZero) {
    for (int w : {0, 5, 17, 1920})
        for (int h : {1, 9, 1080}) {
            uint32_t a[4], b[4];
            CalcGridBlock(w, h, &a[0], &a[1], &a[2], &a[3]);
            CalcGridBlockForMode(w, h, 0, &b[0], &b[1], &b[2], &b[3]);
            for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], b[i]);
        }
}

TEST(GridBlock, WorkedExamples) {
    EXPECT_EQ(Actual(1920, 1080, 0), (Shape{120, 16, 8, 16}));
    EXPECT_EQ(Actual(720, 8, 0), (Shape{30, 24, 1, 8}));
    EXPECT_EQ(Actual(720, 8, 1).bx, 24u);
    EXPECT_EQ(Actual(720, 8, 2), (Shape{90, 8, 1, 8}));
    EXPECT_EQ(Actual(5000, 1, 0), (Shape{26, 192, 1, 1}));
    EXPECT_EQ(Actual(20000, 20000, 0), (Shape{1000, 16, 1, 16}));
    EXPECT_EQ(Actual(16, 40000, 0), (Shape{1, 16, 1000, 16}));
    EXPECT_EQ(Actual(16, 16, 0), (Shape{1, 16, 1, 16}));      // at the threshold: base block
    EXPECT_EQ(Actual(5, 5, 0), (Shape{1, 32, 1, 6}));         // tie: block y from the table
    EXPECT_EQ(Actual(2, 40, 1), (Shape{1, 2, 1, 64}));        // 2 by 64 in mode 1
    EXPECT_EQ(Actual(40 * 16, 25 * 16, 0), (Shape{40, 16, 25, 16}));  // exactly 1000: kept
    EXPECT_EQ(Actual(1001 * 16, 16, 0).gx, 1000u);
    EXPECT_EQ(Actual(91 * 16, 11 * 16, 0), (Shape{91, 16, 10, 16}));  // 1001 blocks: y shrinks
    EXPECT_EQ(Actual(11 * 16, 91 * 16, 0), (Shape{10, 16, 91, 16}));  // the smaller axis shrinks
}

TEST(GridBlock, NullOutputsAreSkippedAndInvalidSizesZeroTheRest) {
    uint32_t gx = 9, by = 9;
    CalcGridBlock(0, 100, &gx, nullptr, nullptr, &by);
    EXPECT_EQ(gx, 0u);
    EXPECT_EQ(by, 0u);
    CalcGridBlock(100, 100, nullptr, nullptr, nullptr, nullptr);  // must not crash
}

}  // namespace
