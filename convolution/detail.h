// Thresholded detail addition. A caller-prepared detail record of four signed 16-bit
// values per pixel (d0, d1, d2: channel details; d3: a weight) is added to channels 0-2:
// only what exceeds the threshold counts, capped at the limit,
//     v = d - threshold < 0 ? 0 : min(limit, d - threshold),
// then scaled and added with saturation. The fourth sample is copied.
//
//   fixed point   gain = trunc(amount * 2048) clamped to 16 bits; the channel gains
//                 (v * gain) >> 10, the shift unsigned, so the term never lowers it.
//   weighted      the channel gains trunc(v * (amount / 4095 * d3)), which may be
//                 negative.
// Samples are unsigned 8-bit (C32, 4 bytes per pixel) or signed 16-bit (C64, 8 bytes).
// The destination may be the source (same pitch): each pixel is read before it is
// written, by the same thread.
#ifndef TVF2_CONVOLUTION_DETAIL_H
#define TVF2_CONVOLUTION_DETAIL_H

#include <cuda_runtime.h>

namespace tvf2 {

struct DetailArgs {
    int width, height;
    void* dst;
    int dstPitch;
    const void* src;
    int srcPitch;
    const void* detail;
    int detailPitch;
    float amount;
    int threshold, limit;
};

// Arguments the addition cannot honour, for a frame of at least one pixel: null
// pointers, pitches smaller than a row or not a whole number of pixels, pointers not
// aligned to their samples, a destination that shares memory with the detail, or with
// the source other than being exactly the source. Frames with no pixel are left to the
// launch (an empty shape).
bool DetailArgsValid(bool wide, const DetailArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the kernel for
// 8-bit (wide false) or 16-bit samples, fixed point or weighted. Returns the runtime's
// status after the launch.
cudaError_t LaunchDetail(bool wide, bool weighted, const DetailArgs& a);

}  // namespace tvf2

#endif
