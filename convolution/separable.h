// Separable table-weighted convolution of whole frames: a row pass into a work area,
// then a column pass, each thread filtering one whole line with the caller's weight
// tables (convolution/weight_table.h describes their layout).
//
//   C32, C64    lanes 0-2 filtered alike; the column pass writes a column-major second
//               work area that a 16x16 transpose copies into the destination, or, when
//               its rings do not fit in shared memory, the destination directly.
//               Work: 2 * W * H * B bytes. Lane 3 is carried through unfiltered.
//   C32A, C64A  colours weighted by their alpha, alpha summed; the column pass writes
//               the destination. Work: W * H * B bytes.
//   P8, P16     single planes; the row pass keeps float sums, so work is 4 * W * H
//               bytes; the column pass converts and writes the destination.
#ifndef TVF2_CONVOLUTION_SEPARABLE_H
#define TVF2_CONVOLUTION_SEPARABLE_H

#include "convolution/forms.h"

#include <cuda_runtime.h>

namespace tvf2 {

enum class ConvLayout { C32, C64, C32A, C64A, P8, P16 };

struct SeparableArgs {
    void* dst;
    const void* src;
    int width, height, dstPitch, srcPitch;
    const float* hWeights;
    int hCount;
    const float* vWeights;
    int vCount;
    void* work;
    int hRadius, vRadius;
};

// The forms, shapes and shared bytes of one call, computed on the host.
struct SeparablePlan {
    ConvForm horizontal, vertical;
    bool transpose;  // the column pass wrote the column-major area
    unsigned hShared, vShared, transposeShared;
    dim3 hGrid, hBlock, vGrid, vBlock, tGrid, tBlock;
};

// Arguments a call cannot honour: negative sizes or radii, null pointers, pitches
// smaller than a row or not a multiple of the pixel size, pointers not aligned to their
// element, and tables with fewer entries than the filter reads.
bool SeparableArgsValid(ConvLayout layout, const SeparableArgs& a);

SeparablePlan PlanSeparable(ConvLayout layout, const SeparableArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the passes in
// order; a pass whose status is not success ends the call with that status.
cudaError_t LaunchSeparable(ConvLayout layout, const SeparableArgs& a);

}  // namespace tvf2

#endif
