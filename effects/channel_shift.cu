#include "effects/channel_shift.h"

#include "effects/frame_args.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

// Where target x of a row of w pixels reads for a shift of s half pixels:
//  x < lo: the row's first pixel; x >= hi: its last; otherwise pixel x + off, averaged
//  with pixel x + off + 1 when s is odd.
// Computed in 64 bits, so that any int shift is exact (off = -ceil(s / 2)).
struct ShiftWindow {
    int odd, off, lo, hi;
};

__device__ __forceinline__ long long Clamp(long long v, long long lo, long long hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

__device__ __forceinline__ ShiftWindow Window(int s, int w) {
    ShiftWindow d;
    d.odd = s & 1;
    const long long off = -(static_cast<long long>(s) + d.odd) / 2;
    d.lo = static_cast<int>(Clamp(-off, 0, w));
    d.hi = w - static_cast<int>(Clamp(off + d.odd, 0, w));
    // Inside [lo, hi), x + off stays within the row: off itself fits an int there.
    d.off = static_cast<int>(Clamp(off, -static_cast<long long>(w), w));
    return d;
}

// Channel c (byte c) of target x, read from the row buffer.
__device__ __forceinline__ unsigned ShiftedChannel(const uint32_t* row, int w, int x,
                                                   const ShiftWindow& d, int c) {
    const int shift = 8 * c;
    if (x < d.lo) return row[0] >> shift & 0xFFu;
    if (x >= d.hi) return row[w - 1] >> shift & 0xFFu;
    const int i = x + d.off;
    const unsigned a = row[i] >> shift & 0xFFu;
    return d.odd ? (a + (row[i + 1] >> shift & 0xFFu)) >> 1 : a;
}

__device__ __forceinline__ uint32_t* RowOf(void* frame, int pitch, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(frame) +
                                       static_cast<long long>(y) * pitch);
}

// The row loop shared by both kernels. kTwoPasses writes channel 1 in one pass and
// channel 2 in a second (when the shifts differ); both read only the row buffer, so the
// result is the same either way.
template <bool kTwoPasses>
__device__ void ShiftRows(int w, int h, void* frame, int pitch, int shift1, int shift2,
                          uint32_t* buf) {
    const ShiftWindow d1 = Window(shift1, w), d2 = Window(shift2, w);
    const int x0 = blockIdx.x * blockDim.x + threadIdx.x, step = gridDim.x * blockDim.x;
    const int y0 = threadIdx.y + blockIdx.y * blockDim.y, dy = gridDim.y * blockDim.y;
    for (int y = y0; y < h; y += dy) {
        uint32_t* row = RowOf(frame, pitch, y);
        for (int x = x0; x < w; x += step) buf[x] = row[x];
        __syncthreads();
        if (shift1 == shift2 || !kTwoPasses) {
            // Equal shifts read one source position for both channels (d2 equals d1).
            for (int x = x0; x < w; x += step)
                row[x] = (row[x] & 0xFF0000FFu) | ShiftedChannel(buf, w, x, d1, 1) << 8 |
                         ShiftedChannel(buf, w, x, d2, 2) << 16;
        } else {
            for (int x = x0; x < w; x += step)
                row[x] = (row[x] & 0xFFFF00FFu) | ShiftedChannel(buf, w, x, d1, 1) << 8;
            __syncthreads();
            for (int x = x0; x < w; x += step)
                row[x] = (row[x] & 0xFF00FFFFu) | ShiftedChannel(buf, w, x, d2, 2) << 16;
        }
        __syncthreads();
    }
}

}  // namespace

// Row buffer in dynamic shared memory (|pitch| bytes).
__global__ void B102(int w, int h, void* frame, int pitch, int shift1, int shift2) {
    KL_DYNAMIC_SHARED(uint32_t, row);
    ShiftRows<false>(w, h, frame, pitch, shift1, shift2, row);
}

// Row buffer in a device temporary of at least w words.
__global__ void B103(int w, int h, void* frame, int pitch, int shift1, int shift2, void* rowBuf) {
    ShiftRows<true>(w, h, frame, pitch, shift1, shift2, static_cast<uint32_t*>(rowBuf));
}

ChannelShiftPlan PlanChannelShift(const ChannelShiftArgs& a) {
    // One block walks the whole frame: the shape for one row of w pixels gives a single
    // block of 192 threads across; where it would take more blocks, one block of 256.
    LaunchShape s = GridBlock(a.w, 1);
    if (s.gridX > 1 && s.blockX <= 192) {
        s.gridX = 1;
        s.blockX += 64;
    }
    ChannelShiftPlan p;
    p.grid = dim3(s.gridX, s.gridY);
    p.block = dim3(s.blockX, s.blockY);
    const long long bytes = a.pitch < 0 ? -static_cast<long long>(a.pitch) : a.pitch;
    p.sharedRow = bytes <= kChannelShiftSharedBudget;
    p.bufferBytes = static_cast<size_t>(bytes);
    return p;
}

cudaError_t LaunchChannelShift(const ChannelShiftArgs& a, DeviceAllocator allocate) {
    if (a.w < 0 || a.h < 0 || !a.frame || a.pitch < static_cast<long long>(a.w) * 4 ||
        !PixelsAligned(a.frame, a.pitch))
        return cudaErrorInvalidValue;
    const ChannelShiftPlan p = PlanChannelShift(a);
    if (p.sharedRow) {
        kl::launch<B102>(p.grid, p.block, p.bufferBytes, a.w, a.h, a.frame, a.pitch, a.shift1,
                         a.shift2);
        return cudaGetLastError();
    }
    if (!allocate) allocate = [](void** ptr, size_t bytes) { return cudaMalloc(ptr, bytes); };
    void* rowBuf = nullptr;
    const cudaError_t allocated = allocate(&rowBuf, p.bufferBytes);
    if (allocated != cudaSuccess) return allocated;
    kl::launch<B103>(p.grid, p.block, 0, a.w, a.h, a.frame, a.pitch, a.shift1, a.shift2, rowBuf);
    const cudaError_t status = cudaGetLastError();
    cudaFree(rowBuf);
    return status;
}

}  // namespace tvf2
