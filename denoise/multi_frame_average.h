// Multi-frame similarity average: every pixel of a current frame becomes the weighted
// mean of itself and the pixels at the same position in up to 20 reference frames. A
// reference frame weighs T minus the largest squared colour difference (bytes 0 to 2)
// between it and the current frame over the 5x5 block around the pixel, clipped to the
// frame, and nothing when that is below 1; the current pixel weighs T. Areas that moved
// or changed keep the current frame's pixel; static areas are averaged across frames.
//
// Four layouts share one kernel scheme and differ only in their sums:
//   C32     weights added as floats, quotient truncated; byte 3 written 0;
//   YUV32   integer sums, bytes 1 and 2 as signed chroma, quotient rounded half up;
//           byte 3 written 255;
//   C32A    each reference weight times the reference pixel's alpha, the current pixel
//           counted as opaque, quotient rounded half up and clamped to a byte; byte 3
//           keeps the current pixel's alpha;
//   YUV32A  as C32A with signed chroma sums (the same bytes).
//
// The kernel compares each reference frame with the current frame once per block tile:
// a block stages the current frame's tile, then for each reference frame its tile and
// the squared differences of the whole tile, from which every pixel takes the maximum
// over its block. The caller's scratch receives the frames' pointers and pitches, which
// the kernel reads from device memory.
//
// Decisions where the behaviour was ours to choose:
//   - fields with an odd height: the even field takes (H + 1) / 2 rows and the odd
//     field H / 2, as the window averages do, so every pass stays within its own rows;
//   - frames of 8008 rows or more under the 8x8 grid: 1 by 1000 blocks (the window
//     averages' rule), the grid-stride loops cover the rest;
//   - an empty frame (W < 1 or H < 1): success with nothing copied, launched or written;
//   - invalid value (nothing copied, launched or written): a count outside 0 to 20,
//     T = 0 (no weight at all), null frame or pitch arrays or a null or misaligned
//     scratch when the count is not 0, and for a non-empty frame null frames, pitches
//     smaller than a row, frames or pitches not 4-byte aligned;
//   - the pointer and pitch copies into the scratch are checked before launching: a
//     scratch that the runtime knows to be too small (the CPU runtime tracks every
//     allocation) ends the call with the copy's status and nothing launched. The CUDA
//     runtime cannot tell a buffer's size from its pointer, so there the caller's 12
//     bytes per frame stay its own responsibility.
#ifndef TVF2_DENOISE_MULTI_FRAME_AVERAGE_H
#define TVF2_DENOISE_MULTI_FRAME_AVERAGE_H

#include <cuda_runtime.h>

#include <cstddef>

namespace tvf2 {

enum class MultiFrameLayout { C32, C32A, YUV32, YUV32A };

constexpr int kMaxReferenceFrames = 20;
constexpr int kMultiFrameRadius = 2;  // the comparison block is 5 by 5

struct MultiFrameArgs {
    void* dst;
    const void* src;            // the current frame
    const void* const* frames;  // host array of `count` device pointers
    int count, width, height, dstPitch, srcPitch;
    const int* pitches;  // host array of `count` row pitches
    int T;
    bool fields;    // filter the even rows and the odd rows as two separate frames
    void* scratch;  // device memory of at least MultiFrameScratchBytes(count) bytes
};

// Scratch the call needs: the pointers (8 bytes each), then the pitches (4 bytes each).
inline size_t MultiFrameScratchBytes(int count) { return count > 0 ? 12u * size_t(count) : 0; }

struct MultiFramePlan {
    dim3 grid, block;
    unsigned sharedBytes;
    int rows[2];  // rows of each pass; one pass (rows[1] = 0) without fields
};

MultiFramePlan PlanMultiFrame(int width, int height, bool fields);

// Checks the arguments (invalid value, nothing done), copies the pointer and pitch
// arrays into the scratch, then queues the kernel once or once per field. Returns the
// runtime's status after the first field when that failed, else after the last
// launch; does not wait for the kernels.
cudaError_t LaunchMultiFrameAverage(MultiFrameLayout layout, const MultiFrameArgs& a);

}  // namespace tvf2

#endif
