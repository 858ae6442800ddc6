// Non-local means over a window of frames: each of bytes 0 to 2 of an output pixel is
// the weighted mean of that byte over every candidate pixel in a square search window
// (radius S) of each of the 2T+1 frames of the window. A candidate weighs exp(-D * c_f),
// D being the channel's sum of squared differences between the (2P+1)-square patch
// around the output pixel in the centre frame (frame T) and the patch around the
// candidate, c_f the caller's coefficient of the candidate's frame. Every coordinate is
// clamped to the frame, so edge pixels repeat.
//
//   C32   byte 3 ignored, written 255;
//   C32A  candidates weighted by their alpha as well, the centre pixel's alpha copied.
//         The global-memory form scales by alpha / 255 in every frame and gives
//         (0, 128, 128) where no weight remains; the tiled forms take the centre frame
//         as opaque (255) and other frames' alpha unscaled.
//
// The frame is filtered in bands of rows whose height follows the caller's budget (a
// band lower than one block is widened to one block and the columns are split into
// chunks instead), one launch per piece. Kernel forms, all computing the same formula
// in the same order except for the alpha scaling above:
//   Global       every read from the frames (when the tile needs 14336 bytes or more);
//   Tile         one tile of block plus halo S + max(P, 0) per frame in shared memory;
//   FixedRadii   the tile with (S, P, T) fixed at compile time, S 2..4, P 1..2, T 0..1.
//
// Decisions where the behaviour was ours to choose:
//   - a frame with w < 1 or h < 1 has nothing to filter: success, nothing copied or
//     launched (null frames are accepted for it);
//   - a negative budget on a frame under 16 rows (band height h / 16 = 0) filters the
//     frame in one band;
//   - any negative patch radius is an empty patch (every weight exp(0) = 1) with a tile
//     halo of S, so that the tiles hold every candidate;
//   - invalid value, nothing copied or launched, nothing written: S < 0, T < 0, a halo
//     S + max(P, 0) over 4096 or a window of more than 1025 frames (T > 512), and for a
//     non-empty frame null coefficients, frame arrays, pitch arrays, frames, output or
//     parameter block, a parameter block not 8-byte aligned (it holds the frame
//     pointers), pitches smaller than a row, frames or pitches not 4-byte aligned,
//     an output that is one of the frames, and a budget whose bands lower than a block
//     split the columns into chunks narrower than a block (no block would fit across);
//   - the parameter copies are checked, the coefficients (the block's end) first: a
//     failing copy is returned before anything is launched, so a block smaller than 16
//     bytes per frame, which the CPU runtime's tracked allocations refuse, leaves the
//     block and the output untouched.
#ifndef TVF2_DENOISE_NONLOCAL_MEANS_H
#define TVF2_DENOISE_NONLOCAL_MEANS_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class NlmLayout { C32, C32A };

struct NlmArgs {
    int width, height, S, P, T;
    const float* coefficients;  // host, 2T+1
    void* dst;
    int dstPitch;
    const void* const* frames;  // host array of 2T+1 device pointers, frame T the centre
    const int* pitches;         // host, 2T+1
    void* params;               // device, at least 16 (2T+1) bytes
    int budget;
};

enum class NlmForm { Global, Tile, FixedRadii };

// The pieces and the form of a call: bands of bandHeight rows, each split into chunks
// of chunkWidth columns, every piece launched on grid by block.
struct NlmPlan {
    NlmForm form;
    dim3 grid, block;
    int bandHeight, chunkWidth;
    unsigned sharedBytes;  // 0 for the global form
};

constexpr int kNlmMaxHalo = 4096;
constexpr int kNlmMaxFrameRadius = 512;

// The plan of a non-empty frame (width, height >= 1) with valid radii.
NlmPlan PlanNonLocalMeans(int width, int height, int S, int P, int T, int budget);

// Checks the arguments, copies the frame pointers, pitches and coefficients into the
// parameter block and queues one launch per piece, band by band. A failed launch skips
// the rest of its band; a budget of -1 launches only the first chunk of every band.
// Returns the status after the last launch; does not wait for the kernels.
cudaError_t LaunchNonLocalMeans(NlmLayout layout, const NlmArgs& a);

}  // namespace tvf2

#endif
