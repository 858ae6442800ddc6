#include "launch/grid_block.h"

namespace {

struct ModeTables {
    int baseX, baseY;
    int threshold;     // the table path is taken when w or h is below it
    int small[16];     // [s]: block extent along the thin side s (1 .. threshold - 1)
    int other[17];     // [b]: block extent along the other side for a thin extent b
};

// clang-format off
constexpr ModeTables kDefault = {16, 16, 16,
    {0, 1, 2, 3, 4, 6, 6, 8, 8, 12, 12, 12, 12, 16, 16, 16},
    {0, 192, 128, 64, 48, 0, 32, 0, 24, 0, 0, 0, 16, 0, 0, 0, 12}};
constexpr ModeTables kMode1 = {16, 12, 12,
    {0, 1, 2, 3, 4, 6, 6, 8, 8, 12, 12, 12},
    {0, 192, 64, 64, 48, 0, 32, 0, 24, 0, 0, 0, 16}};
constexpr ModeTables kMode2 = {8, 8, 8,
    {0, 1, 2, 4, 4, 8, 8, 8},
    {0, 64, 32, 0, 16, 0, 0, 0, 8}};
constexpr ModeTables kMode3 = {16, 4, 4,
    {0, 1, 2, 4},
    {0, 64, 32, 0, 16}};
// clang-format on

const ModeTables& TablesFor(int mode) {
    switch (mode) {
    case 1: return kMode1;
    case 2: return kMode2;
    case 3: return kMode3;
    default: return kDefault;
    }
}

}  // namespace

void tvf2::CapBlocks(long long& gx, long long& gy) {
    const long long cap = kMaxBlocksPerLaunch;
    if (gx * gy <= cap) return;
    if (gx > cap) {
        gx = cap;
        gy = 1;
    } else if (gy > cap) {
        gx = 1;
        gy = cap;
    } else if (gx >= gy) {
        gy = cap / gx;
    } else {
        gx = cap / gy;
    }
}

void CalcGridBlockForMode(int w, int h, int mode, uint32_t* gridX, uint32_t* blockX,
                          uint32_t* gridY, uint32_t* blockY) {
    int gx = 0, bx = 0, gy = 0, by = 0;
    if (w >= 1 && h >= 1) {
        const ModeTables& t = TablesFor(mode);
        bx = t.baseX;
        by = t.baseY;
        if (w < t.threshold || h < t.threshold) {
            if (w < h) {
                bx = t.small[w];
                by = t.other[bx];
            } else {
                by = t.small[h];
                bx = t.other[by];
            }
        }
        gx = w / bx;
        gy = h / by;
        if (gx < 1) gx = 1;
        if (gy < 1) gy = 1;
        long long cx = gx, cy = gy;
        tvf2::CapBlocks(cx, cy);
        gx = static_cast<int>(cx);
        gy = static_cast<int>(cy);
    }
    if (gridX) *gridX = static_cast<uint32_t>(gx);
    if (blockX) *blockX = static_cast<uint32_t>(bx);
    if (gridY) *gridY = static_cast<uint32_t>(gy);
    if (blockY) *blockY = static_cast<uint32_t>(by);
}

void CalcGridBlock(int w, int h, uint32_t* gridX, uint32_t* blockX, uint32_t* gridY,
                   uint32_t* blockY) {
    CalcGridBlockForMode(w, h, 0, gridX, blockX, gridY, blockY);
}
