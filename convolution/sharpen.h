// Neighbourhood sharpening and edge boost of 4-byte pixels from each pixel's 3x3
// neighbourhood (edge pixels repeated outside the frame), staged through a shared tile.
//
//   LaplacianC32    hp = 128 + 4C - up - down - left - right per byte, clamped to a byte;
//                   each of the four bytes gains (hp - 128) * amount / 256.
//   LaplacianC32A   the same on bytes 0-2 in floats, each of the four neighbours weighted
//                   by its alpha / 255; byte 3 is the centre's.
//   EdgeC32         each of the four bytes gains |Sobel gradient| * amount / 256.
//   EdgeC32A        the gradient of colour * alpha (scaled back by 1/255) on bytes 0-2;
//                   byte 3 is the centre's.
// amount is in 1/256 units; results are clamped to 0..255. Source and destination must
// not share memory: neighbours are read from the source while the destination is written.
#ifndef TVF2_CONVOLUTION_SHARPEN_H
#define TVF2_CONVOLUTION_SHARPEN_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class SharpenKind { LaplacianC32, LaplacianC32A, EdgeC32, EdgeC32A };

struct SharpenArgs {
    int width, height, amount;
    void* dst;
    int dstPitch;
    const void* src;
    int srcPitch;
};

struct SharpenPlan {
    dim3 grid, block;
    unsigned sharedBytes;  // the tile: (bx + 2) * (by + 2) pixels
};

// Arguments the filter cannot honour, for a frame of at least one pixel: null frames,
// pitches smaller than a row or not a whole number of pixels, and frames that share
// memory. Frames with no pixel are left to the launch (an empty shape).
bool SharpenArgsValid(const SharpenArgs& a);

SharpenPlan PlanSharpen(SharpenKind kind, const SharpenArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the kernel.
// Returns the runtime's status after the launch.
cudaError_t LaunchSharpen(SharpenKind kind, const SharpenArgs& a);

}  // namespace tvf2

#endif
