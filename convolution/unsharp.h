// Separable unsharp mask of 4-byte pixels: out = o + f * (o - blur), f = amount / 256.
// A row pass blurs the source into a caller-owned intermediate frame; a column pass
// blurs the intermediate and blends each pixel with the source at the same position,
// so the destination may be the source (the intermediate may not).
//
//   C32   bytes 0-2 blurred and sharpened; byte 3 of the intermediate and of the
//         destination is never written.
//   C32A  the blur weights colours by their alpha (byte 3) and divides by the weighted
//         alpha; the intermediate carries the blurred alpha, and the destination's alpha
//         is sharpened like the colours.
#ifndef TVF2_CONVOLUTION_UNSHARP_H
#define TVF2_CONVOLUTION_UNSHARP_H

#include "convolution/forms.h"

#include <cuda_runtime.h>

namespace tvf2 {

struct UnsharpArgs {
    void* dst;
    int dstPitch;
    const void* src;
    int srcPitch;
    void* mid;
    int midPitch;
    int width, height, radius, amount;
    const float* hWeights;
    int hCount;
    const float* vWeights;
    int vCount;
};

struct UnsharpPlan {
    ConvForm rows, columns;
    unsigned hShared, vShared;
    dim3 hGrid, hBlock, vGrid, vBlock;
    float f;  // amount / 256 in single precision
};

// Arguments the mask cannot honour: negative sizes or radius, null pointers, pitches
// smaller than a row or not a whole number of pixels, tables not aligned to a float or
// with fewer entries than the filter reads.
bool UnsharpArgsValid(const UnsharpArgs& a);

UnsharpPlan PlanUnsharp(const UnsharpArgs& a);

// Checks the arguments (invalid value, nothing launched), queues the row pass and, if
// its status is success, the column pass; returns the last status.
cudaError_t LaunchUnsharp(bool alpha, const UnsharpArgs& a);

}  // namespace tvf2

#endif
