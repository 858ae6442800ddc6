// Edge-gradient displacement: every pixel of a 32-bit frame moves along the gradient of a
// smoothed edge map and is resampled there with a 4x4 cubic convolution.
//
// Three stages, queued in order on the default stream:
//  1. edge map: clipped Sobel strength of the edge source into `map`, 0 on the frame
//     border (C32: the low byte of a 16-bit plane; C32A: byte 0 weighted by alpha);
//  2. smoothing: `iterations` times a 1-4-6-4-1 pass along rows into `tmp` and one
//     along columns back into `map`, with one rounding per iteration;
//  3. resampling: the map's central differences times `strength` give a displacement in
//     1/4096 pixel; `src` is sampled there into `dst` (C32A: colours weighted by alpha).
//
// Even widths run the edge map and the smoothing two samples per thread (32-bit words
// of two 16-bit samples), odd widths one sample per thread; C32A computes its edge map
// one pixel per thread at any width. Both forms give the same map.
#ifndef TVF2_EFFECTS_DISPLACE_H
#define TVF2_EFFECTS_DISPLACE_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class DisplaceLayout { C32, C32A };

struct DisplaceArgs {
    void* dst;
    int dstPitch;
    void* map;
    int mapPitch;
    void* tmp;
    int tmpPitch;
    const void* src;
    int srcPitch;
    const void* edgeSrc;
    int edgeSrcPitch;
    int w, h;
    int edgeLimit, iterations, strength;
    float cubicA;
};

// Shapes, kernel forms and dynamic shared bytes of one call; computed on the host.
struct DisplacePlan {
    bool pairs;               // two samples per thread in the edge map (C32) and smoothing
    dim3 grid, block;         // edge map and smoothing (16x16-based shape)
    dim3 grid3, block3;       // resampling (16x4-based shape)
    unsigned edgeBytes, rowPassBytes, columnPassBytes, resampleBytes;
};

// Arguments the operation cannot honour: null buffers, src equal to dst, negative
// sizes, pitches smaller than a row, buffers or pitches not aligned to the words the
// kernels load, a negative iteration count, and a frame of width or height 3 with an
// interior pixel (its 4x4 window would leave the frame).
bool DisplaceArgsValid(DisplaceLayout layout, const DisplaceArgs& a);

DisplacePlan PlanDisplace(DisplaceLayout layout, const DisplaceArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the pipeline.
// Returns the first failing launch status, or the status after the last launch.
cudaError_t LaunchDisplace(DisplaceLayout layout, const DisplaceArgs& a);

}  // namespace tvf2

#endif
