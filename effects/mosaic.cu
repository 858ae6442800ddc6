#include "effects/mosaic.h"

#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

typedef unsigned char u8;

constexpr int kBlockSide = 16;
constexpr int kBlockThreads = kBlockSide * kBlockSide;
constexpr long long kPerBlockMinArea = 256;

// One axis of a cell, clipped to [0, limit). 64-bit so that no cell size can overflow.
struct Span {
    int start, count;
    bool inside;  // the cell starts inside the frame
};

__host__ __device__ __forceinline__ Span CellSpan(int index, int cell, int offset, int limit) {
    const long long start = offset + static_cast<long long>(index) * cell;
    const long long end = start + cell;
    Span s;
    s.inside = start < limit;
    s.start = static_cast<int>(start < 0 ? 0 : start);
    s.count = static_cast<int>((end < limit ? end : limit) - s.start);
    return s;
}

// sum / count rounded half up, clamped to a byte.
__host__ __device__ __forceinline__ int RoundedMean(float sum, float count) {
    return kl::min(kl::max(kl::f2i_rz(sum / count + 0.5f), 0), 255);
}

__host__ __device__ __forceinline__ uint32_t Word(int b0, int b1, int b2, int b3) {
    return uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
}

__device__ __forceinline__ const u8* Row(const void* base, int pitch, int y) {
    return static_cast<const u8*>(base) + static_cast<long long>(y) * pitch;
}
__device__ __forceinline__ u8* Row(void* base, int pitch, int y) {
    return static_cast<u8*>(base) + static_cast<long long>(y) * pitch;
}

// Per-layout arithmetic. An item is one 32-bit word: a pixel (C32, C32A) or a pixel
// pair Y0 U Y1 V (YUY2). Each layout says what a thread sums over a whole cell (per-
// thread form), what each item contributes to a block reduction (per-block form), and
// what word a cell's items receive.

struct LayoutC32 {
    static constexpr int kPixelsPerItem = 1;
    static constexpr int kLanes = 3;
    typedef int Lane;
    struct ThreadSum {
        int s[3] = {0, 0, 0};
        __device__ void Add(const u8* p) {
            for (int c = 0; c < 3; ++c) s[c] += p[c];
        }
        // Bytes 0..2 only: byte 3 of the destination keeps its value.
        __device__ void Store(u8* p, int count) const {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<u8>(RoundedMean(float(s[c]), float(count)));
        }
    };
    __device__ static void Load(const u8* p, Lane* lanes) {
        for (int c = 0; c < 3; ++c) lanes[c] = p[c];
    }
    // Cells of over 8 million pixels wrap the 32-bit totals, as on the device.
    __device__ static void Accumulate(Lane* totals, const Lane* rec) {
        for (int c = 0; c < 3; ++c) totals[c] = kl::wrap_add(totals[c], rec[c]);
    }
    __device__ static uint32_t Result(const Lane* totals, int n, int /*pixels*/) {
        return Word(RoundedMean(float(totals[0]), float(n)), RoundedMean(float(totals[1]), float(n)),
                    RoundedMean(float(totals[2]), float(n)), 0);
    }
};

struct LayoutC32A {
    static constexpr int kPixelsPerItem = 1;
    static constexpr int kLanes = 4;
    typedef float Lane;
    struct ThreadSum {
        float s[3] = {0.0f, 0.0f, 0.0f};
        int alpha = 0;
        __device__ void Add(const u8* p) {
            const int a = p[3];
            for (int c = 0; c < 3; ++c) s[c] += float(p[c] * a);
            alpha += a;
        }
        __device__ void Store(u8* p, int count) const {
            uint32_t w = 0;
            if (alpha > 0)
                w = Word(RoundedMean(s[0], float(alpha)), RoundedMean(s[1], float(alpha)),
                         RoundedMean(s[2], float(alpha)), RoundedMean(float(alpha), float(count)));
            *reinterpret_cast<uint32_t*>(p) = w;
        }
    };
    __device__ static void Load(const u8* p, Lane* lanes) {
        const float a = float(p[3]);
        for (int c = 0; c < 3; ++c) lanes[c] = float(p[c]) * a;
        lanes[3] = a;
    }
    __device__ static void Accumulate(Lane* totals, const Lane* rec) {
        for (int c = 0; c < 4; ++c) totals[c] += rec[c];
    }
    // A fully transparent cell divides 0 by 0: the quotient is not a number and
    // converts to 0, so the cell becomes all zero.
    __device__ static uint32_t Result(const Lane* totals, int n, int /*pixels*/) {
        return Word(RoundedMean(totals[0], totals[3]), RoundedMean(totals[1], totals[3]),
                    RoundedMean(totals[2], totals[3]), RoundedMean(totals[3], float(n)));
    }
};

struct LayoutYUY2 {
    static constexpr int kPixelsPerItem = 2;
    static constexpr int kLanes = 4;
    typedef int Lane;
    // Chroma is summed once per pair and doubled, so that the count stays in pixels.
    struct ThreadSum {
        int y = 0, u = 0, v = 0;
        __device__ void Add(const u8* p) {
            y += p[0] + p[2];
            u += p[1];
            v += p[3];
        }
        __device__ void Store(u8* p, int count) const {
            const int ly = RoundedMean(float(y), float(count));
            *reinterpret_cast<uint32_t*>(p) = Word(ly, RoundedMean(float(2 * u), float(count)), ly,
                                                   RoundedMean(float(2 * v), float(count)));
        }
    };
    __device__ static void Load(const u8* p, Lane* lanes) {
        for (int c = 0; c < 4; ++c) lanes[c] = p[c];
    }
    // Totals: [0] luma of both pixels, [1] U, [2] V.
    __device__ static void Accumulate(Lane* totals, const Lane* rec) {
        totals[0] = kl::wrap_add(totals[0], rec[0] + rec[2]);
        totals[1] = kl::wrap_add(totals[1], rec[1]);
        totals[2] = kl::wrap_add(totals[2], rec[3]);
    }
    __device__ static uint32_t Result(const Lane* totals, int /*n*/, int pixels) {
        const int y = RoundedMean(float(totals[0]), float(pixels));
        return Word(y, RoundedMean(float(kl::wrap_mul(2, totals[1])), float(pixels)), y,
                    RoundedMean(float(kl::wrap_mul(2, totals[2])), float(pixels)));
    }
};

// One thread per cell: sum the whole cell, then write it, so src may equal dst.
template <class L>
__device__ void MosaicPerThread(int height, int width, int cellH, int cellW, int offX, int offY,
                                const void* src, int srcPitch, void* dst, int dstPitch) {
    const int stepY = gridDim.y * blockDim.y, stepX = gridDim.x * blockDim.x;
    for (int j = blockIdx.y * blockDim.y + threadIdx.y;; j += stepY) {
        const Span rows = CellSpan(j, cellH, offY, height);
        if (!rows.inside) break;
        for (int i = blockIdx.x * blockDim.x + threadIdx.x;; i += stepX) {
            const Span cols = CellSpan(i, cellW, offX, width);
            if (!cols.inside) break;
            if (rows.count < 1 || cols.count < 1) continue;
            const int items = cols.count / L::kPixelsPerItem;
            const int x0 = cols.start * (4 / L::kPixelsPerItem);
            typename L::ThreadSum sum;
            for (int y = rows.start; y < rows.start + rows.count; ++y) {
                const u8* p = Row(src, srcPitch, y) + x0;
                for (int k = 0; k < items; ++k) sum.Add(p + 4 * k);
            }
            const int count = cols.count * rows.count;
            for (int y = rows.start; y < rows.start + rows.count; ++y) {
                u8* p = Row(dst, dstPitch, y) + x0;
                for (int k = 0; k < items; ++k) sum.Store(p + 4 * k, count);
            }
        }
    }
}

// One 16x16 block per cell. The cell's items are loaded in passes of 256, each pass
// reduced by a shared-memory tree into record 0, which thread 0 adds to the cell's
// totals. The pass count is n / 256 rounded up, plus an all-zero pass when n is a
// multiple of 256 (the loop bound 256 - n % 256 + n); the float sums of C32A depend
// on exactly this grouping.
template <class L>
__device__ void MosaicPerBlock(int height, int width, int cellH, int cellW, int offX, int offY,
                               const void* src, int srcPitch, void* dst, int dstPitch) {
    typedef typename L::Lane Lane;
    constexpr int K = L::kLanes;
    KL_DYNAMIC_SHARED(Lane, records);  // kBlockThreads records of K lanes
    KL_SHARED_ARRAY(Lane, totals, K);
    KL_SHARED_ARRAY(uint32_t, result, 1);
    const int t = threadIdx.y * kBlockSide + threadIdx.x;
    for (int j = blockIdx.y;; j += gridDim.y) {
        const Span rows = CellSpan(j, cellH, offY, height);
        if (!rows.inside) break;
        for (int i = blockIdx.x;; i += gridDim.x) {
            const Span cols = CellSpan(i, cellW, offX, width);
            if (!cols.inside) break;
            const int perRow = cols.count / L::kPixelsPerItem;
            const int n = perRow * rows.count;
            const int x0 = cols.start * (4 / L::kPixelsPerItem);
            if (t == 0)
                for (int c = 0; c < K; ++c) totals[c] = Lane(0);
            const int bound = kBlockThreads - n % kBlockThreads + n;
            for (int base = 0; base < bound; base += kBlockThreads) {
                Lane* mine = records + t * K;
                const int k = base + t;
                if (k < n) {
                    L::Load(Row(src, srcPitch, rows.start + k / perRow) + x0 + 4 * (k % perRow), mine);
                } else {
                    for (int c = 0; c < K; ++c) mine[c] = Lane(0);
                }
                __syncthreads();
                for (int stride = kBlockThreads / 2; stride > 0; stride >>= 1) {
                    if (t < stride)
                        for (int c = 0; c < K; ++c) mine[c] += records[(t + stride) * K + c];
                    __syncthreads();
                }
                if (t == 0) L::Accumulate(totals, records);
            }
            __syncthreads();
            if (t == 0) result[0] = L::Result(totals, n, cols.count * rows.count);
            __syncthreads();
            const uint32_t word = result[0];
            for (int k = t; k < n; k += kBlockThreads)
                *reinterpret_cast<uint32_t*>(Row(dst, dstPitch, rows.start + k / perRow) + x0 +
                                             4 * (k % perRow)) = word;
            __syncthreads();
        }
    }
}

template <class L>
constexpr unsigned PerBlockSharedBytes() {
    return kBlockThreads * L::kLanes * sizeof(typename L::Lane);
}
static_assert(PerBlockSharedBytes<LayoutC32>() == 3072, "C32 records: 256 x 3 sums");
static_assert(PerBlockSharedBytes<LayoutC32A>() == 4096, "C32A records: 256 x 4 floats");
static_assert(PerBlockSharedBytes<LayoutYUY2>() == 4096, "YUY2 records: 256 x 4 sums");

}  // namespace

#define TVF2_MOSAIC_PARAMS                                                                   \
    int height, int width, int cellH, int cellW, int offX, int offY, const void *src,       \
        int srcPitch, void *dst, int dstPitch
#define TVF2_MOSAIC_ARGS height, width, cellH, cellW, offX, offY, src, srcPitch, dst, dstPitch

__global__ void KernelMosaic_C32_perThread(TVF2_MOSAIC_PARAMS) {
    MosaicPerThread<LayoutC32>(TVF2_MOSAIC_ARGS);
}
__global__ void KernelMosaic_C32_perBlock(TVF2_MOSAIC_PARAMS) {
    MosaicPerBlock<LayoutC32>(TVF2_MOSAIC_ARGS);
}
__global__ void KernelMosaic_C32A_perThread(TVF2_MOSAIC_PARAMS) {
    MosaicPerThread<LayoutC32A>(TVF2_MOSAIC_ARGS);
}
__global__ void KernelMosaic_C32A_perBlock(TVF2_MOSAIC_PARAMS) {
    MosaicPerBlock<LayoutC32A>(TVF2_MOSAIC_ARGS);
}
__global__ void KernelMosaic_YUY2_perThread(TVF2_MOSAIC_PARAMS) {
    MosaicPerThread<LayoutYUY2>(TVF2_MOSAIC_ARGS);
}
__global__ void KernelMosaic_YUY2_perBlock(TVF2_MOSAIC_PARAMS) {
    MosaicPerBlock<LayoutYUY2>(TVF2_MOSAIC_ARGS);
}

// Cell counts in 64 bits: (width - offX + cellW - 1) / cellW cannot overflow here.
static int CellCount(int extent, int offset, int cell) {
    return static_cast<int>((static_cast<long long>(extent) - offset + cell - 1) / cell);
}

bool MosaicArgsValid(MosaicLayout layout, const MosaicArgs& a) {
    const long long bytesPerPixel = layout == MosaicLayout::YUY2 ? 2 : 4;
    if (a.cellW < 1 || a.cellH < 1 || a.width < 0 || a.height < 0) return false;
    if (!a.src || !a.dst) return false;
    if (a.srcPitch < a.width * bytesPerPixel || a.dstPitch < a.width * bytesPerPixel)
        return false;
    if (a.offX <= -a.cellW || a.offY <= -a.cellH) return false;
    if (layout == MosaicLayout::YUY2 && ((a.width | a.cellW | a.offX) & 1)) return false;
    // The kernels store whole 32-bit words (a pixel, or a YUY2 pair), which a device
    // can only do at 4-byte boundaries: the destination and its rows must start there.
    if (a.dstPitch % 4 != 0 || reinterpret_cast<uintptr_t>(a.dst) % 4 != 0) return false;
    return true;
}

MosaicPlan PlanMosaic(MosaicLayout layout, const MosaicArgs& a) {
    int cellsX = CellCount(a.width, a.offX, a.cellW);
    int cellsY = CellCount(a.height, a.offY, a.cellH);
    MosaicPlan plan;
    plan.perBlock = static_cast<long long>(a.cellH) * a.cellW >= kPerBlockMinArea;
    if (!plan.perBlock) {
        const LaunchShape s = GridBlock(cellsX, cellsY);
        plan.grid = dim3(s.gridX, s.gridY);
        plan.block = dim3(s.blockX, s.blockY);
        plan.sharedBytes = 0;
        return plan;
    }
    // A block walks many cells: shrink a count above 64 by 4, twice per axis.
    for (int step = 0; step < 2; ++step) {
        if (cellsX > 64) cellsX /= 4;
        if (cellsY > 64) cellsY /= 4;
    }
    plan.grid = dim3(cellsX < 1 ? 1 : cellsX, cellsY < 1 ? 1 : cellsY);
    plan.block = dim3(kBlockSide, kBlockSide);
    switch (layout) {
    case MosaicLayout::C32: plan.sharedBytes = PerBlockSharedBytes<LayoutC32>(); break;
    case MosaicLayout::C32A: plan.sharedBytes = PerBlockSharedBytes<LayoutC32A>(); break;
    case MosaicLayout::YUY2: plan.sharedBytes = PerBlockSharedBytes<LayoutYUY2>(); break;
    }
    return plan;
}

cudaError_t LaunchMosaic(MosaicLayout layout, const MosaicArgs& a) {
    if (!MosaicArgsValid(layout, a)) return cudaErrorInvalidValue;
    const MosaicPlan p = PlanMosaic(layout, a);
    // A launch error (an empty lattice gives an empty grid) is left to the runtime and
    // read back below, like any other launch status.
#define TVF2_LAUNCH_MOSAIC(kernel)                                                          \
    kl::launch<kernel>(p.grid, p.block, p.sharedBytes, a.height, a.width, a.cellH, a.cellW, \
                       a.offX, a.offY, a.src, a.srcPitch, a.dst, a.dstPitch)
    switch (layout) {
    case MosaicLayout::C32:
        p.perBlock ? TVF2_LAUNCH_MOSAIC(KernelMosaic_C32_perBlock)
                   : TVF2_LAUNCH_MOSAIC(KernelMosaic_C32_perThread);
        break;
    case MosaicLayout::C32A:
        p.perBlock ? TVF2_LAUNCH_MOSAIC(KernelMosaic_C32A_perBlock)
                   : TVF2_LAUNCH_MOSAIC(KernelMosaic_C32A_perThread);
        break;
    case MosaicLayout::YUY2:
        p.perBlock ? TVF2_LAUNCH_MOSAIC(KernelMosaic_YUY2_perBlock)
                   : TVF2_LAUNCH_MOSAIC(KernelMosaic_YUY2_perThread);
        break;
    }
#undef TVF2_LAUNCH_MOSAIC
    return cudaGetLastError();
}

}  // namespace tvf2
