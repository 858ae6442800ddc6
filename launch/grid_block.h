// Launch shapes: a thread-block shape and a grid for a frame of w by h work items.
//
// Frames that are large enough get a fixed block; frames thin in one direction get a
// narrower block from a table. The grid is the number of whole blocks that fit (at
// least one per axis), not a cover of the frame, and is capped at 1000 blocks: every
// kernel launched with these shapes walks its frame with grid-stride loops.
#ifndef TVF2_LAUNCH_GRID_BLOCK_H
#define TVF2_LAUNCH_GRID_BLOCK_H

#include <cstdint>

// Any null output is skipped; every other output is written, also for w or h below 1
// (all zero then).
void CalcGridBlock(int w, int h, uint32_t* gridX, uint32_t* blockX, uint32_t* gridY,
                   uint32_t* blockY);

// Mode 1: 16 by 12 base block, 2: 8 by 8, 3: 16 by 4; any other mode: 16 by 16, as
// CalcGridBlock.
void CalcGridBlockForMode(int w, int h, int mode, uint32_t* gridX, uint32_t* blockX,
                          uint32_t* gridY, uint32_t* blockY);

namespace tvf2 {

constexpr int kMaxBlocksPerLaunch = 1000;

// The 1000-block cap on a grid of gx by gy blocks: the larger count keeps its value and
// the smaller one shrinks (the count down on a tie); a count above the cap on its own
// becomes the cap, with 1 on the other axis.
void CapBlocks(long long& gx, long long& gy);

struct LaunchShape {
    uint32_t gridX, blockX, gridY, blockY;
};

inline LaunchShape GridBlockForMode(int w, int h, int mode) {
    LaunchShape s;
    CalcGridBlockForMode(w, h, mode, &s.gridX, &s.blockX, &s.gridY, &s.blockY);
    return s;
}
inline LaunchShape GridBlock(int w, int h) { return GridBlockForMode(w, h, 0); }

}  // namespace tvf2

#endif
