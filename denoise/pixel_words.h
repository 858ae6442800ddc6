// What the similarity averages of this folder share: 4-byte pixels read and written as
// one 32-bit word, their bytes and channels, clipped windows, the argument checks on
// frames in linear memory, and the 8x8 launch grid.
#ifndef TVF2_DENOISE_PIXEL_WORDS_H
#define TVF2_DENOISE_PIXEL_WORDS_H

#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace denoise {

typedef unsigned char u8;

constexpr int kBlock8 = 8;  // the side of the square blocks of the 8x8 launch

__host__ __device__ __forceinline__ int Byte(uint32_t word, int k) {
    return static_cast<int>((word >> (8 * k)) & 0xffu);
}

// Bytes 0 to 2 from the low 8 bits of each value, byte 3 as given.
__host__ __device__ __forceinline__ uint32_t Word(int b0, int b1, int b2, uint32_t b3) {
    return uint32_t(b0 & 0xff) | uint32_t(b1 & 0xff) << 8 | uint32_t(b2 & 0xff) << 16 | b3 << 24;
}

// Byte k of a pixel as the sums hold it: offset-chroma layouts hold bytes 1 and 2 as
// signed chroma (stored - 128). Every difference (and so every weight) is the same
// either way.
template <bool OffsetChroma>
__host__ __device__ __forceinline__ int Channel(uint32_t p, int k) {
    return Byte(p, k) - (OffsetChroma && k > 0 ? 128 : 0);
}

__host__ __device__ __forceinline__ int SquaredDistance(uint32_t a, uint32_t b) {
    const int d0 = Byte(a, 0) - Byte(b, 0), d1 = Byte(a, 1) - Byte(b, 1), d2 = Byte(a, 2) - Byte(b, 2);
    return d0 * d0 + d1 * d1 + d2 * d2;
}

// Truncating quotients of the rules. Within the caller's range of the threshold the
// divisor is never 0; sums that wrapped outside it could reach 0 (or -1 under the smallest
// numerator), which would fault the CPU backend, so both answer without dividing.
__host__ __device__ __forceinline__ int Quotient(int num, int den) {
    if (den == 0) return 0;
    if (den == -1) return static_cast<int>(0u - static_cast<unsigned>(num));
    return num / den;
}
__host__ __device__ __forceinline__ long long Quotient(long long num, long long den) {
    return den == 0 ? 0 : num / den;
}

// The row offset widens the signed pitch before it meets the pointer.
__device__ __forceinline__ uint32_t Load(const u8* base, int pitch, int x, int y) {
    return *reinterpret_cast<const uint32_t*>(base + static_cast<long long>(y) * pitch + 4 * x);
}
__device__ __forceinline__ void Store(u8* base, int pitch, int x, int y, uint32_t word) {
    *reinterpret_cast<uint32_t*>(base + static_cast<long long>(y) * pitch + 4 * x) = word;
}

// The members around a centre: rows centre + step * d for d = -top .. bottom, columns
// centre + dx for dx = -left .. right.
struct Window {
    int top, bottom, left, right, step;
};

// Up to r rows and columns on each side, clipped to the frame (never mirrored).
__device__ __forceinline__ Window ClippedWindow(int x, int y, int width, int height, int r) {
    return Window{kl::min(r, y), kl::min(r, height - 1 - y), kl::min(r, x), kl::min(r, width - 1 - x), 1};
}

// Visits every member as (d, dx). With the radius R known at compile time the loops
// run over -R .. R and skip the clipped steps, so that they can be unrolled.
template <int R, class Visit>
__device__ __forceinline__ void ForEachMember(const Window& w, Visit&& visit) {
    if constexpr (R >= 0) {
        for (int d = -R; d <= R; ++d) {
            if (d < -w.top || d > w.bottom) continue;
            for (int dx = -R; dx <= R; ++dx)
                if (dx >= -w.left && dx <= w.right) visit(d, dx);
        }
    } else {
        for (int d = -w.top; d <= w.bottom; ++d)
            for (int dx = -w.left; dx <= w.right; ++dx) visit(d, dx);
    }
}

// A non-empty frame's memory as the kernels need it: present, rows within their pitch,
// 4-byte aligned pointer and pitch (every pixel moves as one 32-bit word).
inline bool FrameValid(const void* p, int pitch, int width) {
    return p && static_cast<long long>(pitch) >= 4LL * width &&
           reinterpret_cast<uintptr_t>(p) % 4 == 0 && pitch % 4 == 0;
}

// The 8x8 blocks' grid: the whole blocks that fit (at least one per axis); above 1000
// blocks the count across shrinks first, then the count down. Frames of more than 1000
// block rows (8008 rows or more), where that rule would leave no column, get 1 by 1000
// blocks; the grid-stride loops cover the rest.
inline dim3 EightByEightGrid(int width, int height) {
    long long gx = kl::max(width / kBlock8, 1), gy = kl::max(height / kBlock8, 1);
    if (gy > kMaxBlocksPerLaunch) {
        gx = 1;
        gy = kMaxBlocksPerLaunch;
    } else if (gx * gy > kMaxBlocksPerLaunch) {
        gx = kMaxBlocksPerLaunch / gy;
        gy = kMaxBlocksPerLaunch / gx;
    }
    return dim3(unsigned(gx), unsigned(gy));
}

}  // namespace denoise
}  // namespace tvf2

#endif
