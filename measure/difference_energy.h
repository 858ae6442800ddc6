// Thresholded second-difference energy: how strongly two images differ row against row,
// returned to the host as one 64-bit total.
//
// Per sample position (a pixel, or a pixel pair in the 4:2:2 and semi-planar layouts)
// and component k, d_k = A(row y) + A(row y + 1) - 2 * B(row y); the pair layouts feed
// the sum of both luma differences into component 0. The three differences go through a
// 3x3 matrix with 14 fractional bits (e_j = sum_k d_k * m[k][j], shifted right by 14,
// flooring), each e_j is squared (16-bit layouts limit the square to 65535), squares
// below t * t are dropped and the rest summed. Products, squares and the per-position
// sum are 32-bit and wrap; every sum after that is 64-bit.
//
// A is read at rows 0 .. h (h + 1 rows), B at rows 0 .. h - 1. Each block reduces its
// threads' sums in shared memory and writes one entry of the caller's partial-sum
// buffer (index blockIdx.y * gridDim.x + blockIdx.x); the buffer is copied into the
// caller's host buffer and totalled there.
//
// Decisions where the behaviour was ours to choose:
//   - invalid value before anything is touched (no memset, no launch, result and both
//     buffers unchanged): a null result, null images, planes or buffers, negative sizes,
//     pitches smaller than the row the kernel reads or negative, base addresses and
//     pitches of the 16-bit layouts that are not 2-byte aligned, a partial-sum buffer,
//     host buffer or result that is not 8-byte aligned, and a buffer size below 8 bytes
//     per block of the launch shape (a smaller buffer would be written past its end by
//     the device);
//   - a clear of the partial-sum buffer that the runtime refuses is returned before the
//     launch (the result and host buffer are untouched);
//   - a buffer size that is not a multiple of 8: all of it is cleared and copied, only
//     the whole entries are totalled (the trailing bytes are always past the last
//     block's entry, so they hold 0);
//   - an odd width in the pair layouts drops the last pixel (w / 2 pairs); a width of
//     0 or 1 there, like an empty frame in any layout, leaves an empty launch shape,
//     which the runtime refuses as an invalid configuration (the result is not
//     written).
#ifndef TVF2_MEASURE_DIFFERENCE_ENERGY_H
#define TVF2_MEASURE_DIFFERENCE_ENERGY_H

#include <cuda_runtime.h>

#include <cstdint>

namespace tvf2 {

enum class EnergyLayout { C32, C64, YUY2, YUY2W, SemiPlanar8, SemiPlanar16 };

struct EnergyArgs {
    // Packed layouts: plane 1 is A, plane 2 is B, planes 3 and 4 unused (null, 0).
    // Semi-planar layouts: A's luma, B's luma, A's chroma, B's chroma.
    const void* plane[4];
    int pitch[4];
    int width, height;
    bool halvedChromaRows;  // semi-planar: image row y reads chroma row y / 2
    int m[9];               // row-major, 14 fractional bits
    int threshold;
    void* partialSums;      // device, bufferBytes
    int64_t* hostBuffer;    // host, bufferBytes
    int bufferBytes;
    int64_t* result;
};

struct EnergyPlan {
    int mode;         // 0..5 per layout; 6 and 7 for the semi-planar layouts with halved chroma
    int kernelWidth;  // pixels (C32, C64) or pixel pairs
    dim3 grid, block;
    int m[9];         // as passed to the kernel: row 0 halved for the pair layouts
    int thresholdSquare;
};

constexpr unsigned kEnergySharedBytes = 2048;  // 256 64-bit slots, one per thread

EnergyPlan PlanEnergy(EnergyLayout layout, const EnergyArgs& a);

// Whether the arguments can be honoured (see the decisions above).
bool EnergyArgsValid(EnergyLayout layout, const EnergyArgs& a);

// Measures, waits for the result and stores the total through a.result. Returns the
// runtime's status: invalid value for refused arguments, the launch's error, or the
// copy's error (the result is written only on success).
cudaError_t MeasureEnergy(EnergyLayout layout, const EnergyArgs& a);

}  // namespace tvf2

#endif
