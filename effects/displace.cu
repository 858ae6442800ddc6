#include "effects/displace.h"

#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

typedef unsigned char u8;
typedef unsigned short u16;

__host__ __device__ __forceinline__ int Clamp(int v, int lo, int hi) {
    return kl::min(kl::max(v, lo), hi);
}

__device__ __forceinline__ const u8* Row(const void* base, int pitch, int y) {
    return static_cast<const u8*>(base) + static_cast<long long>(y) * pitch;
}
__device__ __forceinline__ u8* Row(void* base, int pitch, int y) {
    return static_cast<u8*>(base) + static_cast<long long>(y) * pitch;
}
__device__ __forceinline__ uint32_t Word(const void* base, int pitch, int y, int k) {
    return reinterpret_cast<const uint32_t*>(Row(base, pitch, y))[k];
}
__device__ __forceinline__ u16 Sample(const void* base, int pitch, int y, int x) {
    return reinterpret_cast<const u16*>(Row(base, pitch, y))[x];
}

// The tiles of every kernel move over the frame in block-sized steps of a grid-stride
// loop. The loop bounds depend on the block only, so every thread of a block meets the
// same barriers however small the grid.
#define TVF2_FOR_EACH_TILE(x0, y0, width, height)                                          \
    for (int y0 = blockIdx.y * blockDim.y; y0 < (height); y0 += gridDim.y * blockDim.y)    \
        for (int x0 = blockIdx.x * blockDim.x; x0 < (width); x0 += gridDim.x * blockDim.x)

__device__ __forceinline__ int ThreadRank() { return threadIdx.y * blockDim.x + threadIdx.x; }
__device__ __forceinline__ int BlockThreads() { return blockDim.x * blockDim.y; }

// Edge strength of a 3x3 neighbourhood, clipped above by the limit. The map keeps the
// low byte of it (its high byte is 0), so every map value fits the smoothing passes'
// 16-bit sums.
__host__ __device__ __forceinline__ u16 EdgeSample(int gx, int gy, int limit) {
    const int v = kl::min(limit, ((gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy)) * 6);
    return static_cast<u16>(v & 0xFF);
}
__device__ __forceinline__ u16 Sobel(int tl, int tc, int tr, int ml, int mr, int bl, int bc,
                                     int br, int limit) {
    return EdgeSample(tl - tr + 2 * ml - 2 * mr + bl - br, tl + 2 * tc + tr - bl - 2 * bc - br,
                      limit);
}

__host__ __device__ __forceinline__ bool OnBorder(int x, int y, int w, int h) {
    return x == 0 || y == 0 || x == w - 1 || y == h - 1;
}

// Cubic convolution weights of a 12-bit fraction, in 1/16384: rounded down from
// w * 16384 + 0.5, then a quarter of what they miss from 16384 (toward zero) added to
// each. Powers are t*t and (t*t)*t; terms are summed left to right.
struct CubicWeights {
    int w[4];
};
__device__ __forceinline__ CubicWeights Cubic(int fraction, float a) {
    const float t = float(fraction) * 0.000244140625f;  // 2^-12
    const float t2 = t * t, t3 = t2 * t;
    const float f[4] = {a * t - 2.0f * a * t2 + a * t3,
                        1.0f - (a + 3.0f) * t2 + (a + 2.0f) * t3,
                        (2.0f * a + 3.0f) * t2 - a * t - (a + 2.0f) * t3,
                        a * t2 - a * t3};
    CubicWeights c;
    int sum = 0;
    for (int i = 0; i < 4; ++i) {
        c.w[i] = kl::f2i_rz(floorf(fmaf(f[i], 16384.0f, 0.5f)));
        sum = kl::wrap_add(sum, c.w[i]);
    }
    const int q = kl::wrap_add(16384, -sum) / 4;
    for (int i = 0; i < 4; ++i) c.w[i] = kl::wrap_add(c.w[i], q);
    return c;
}

// The 4x4 window's byte lane `shift`: rows weighted by wx then rounded to 1/64, the
// column of row sums weighted by wy. Returns the vertical sum before its final rounding.
// Sums wrap at 32 bits as on the device (only extreme cubic parameters reach that).
__device__ __forceinline__ int WindowSum(const uint32_t (&px)[4][4], int shift,
                                         const CubicWeights& wx, const CubicWeights& wy) {
    int s = 0;
    for (int j = 0; j < 4; ++j) {
        int r = 0;
        for (int i = 0; i < 4; ++i)
            r = kl::wrap_add(r, kl::wrap_mul(int((px[j][i] >> shift) & 0xFF), wx.w[i]));
        s = kl::wrap_add(s, kl::wrap_mul(kl::wrap_add(r, 128) / 256, wy.w[j]));
    }
    return s;
}
__device__ __forceinline__ uint32_t ByteOf(int verticalSum, int shift) {
    return uint32_t(Clamp(kl::wrap_add(verticalSum, 524288) >> 20, 0, 255)) << shift;
}

// Alpha-weighted colour of lane `shift` over the window, in single precision: per row
// sum_i ((wx_i * a_ij) * c_ij) left to right, then sum_j wy_j * row_j left to right,
// with weights in 1/16384 and alpha in 1/256 made exact floats first.
__device__ __forceinline__ float WeightedColour(const uint32_t (&px)[4][4], int shift,
                                                const CubicWeights& wx, const CubicWeights& wy) {
    float c = 0.0f;
    for (int j = 0; j < 4; ++j) {
        float r = 0.0f;
        for (int i = 0; i < 4; ++i) {
            const float alpha = float(px[j][i] >> 24) * 0.00390625f;        // 2^-8
            const float weight = float(wx.w[i]) * 0.00006103515625f;        // 2^-14
            r = r + weight * alpha * float((px[j][i] >> shift) & 0xFF);
        }
        c = c + float(wy.w[j]) * 0.00006103515625f * r;
    }
    return c;
}

// Shared part of both resampling kernels: stages the map tile, then hands every
// interior pixel's window and weights to `Resample`; border pixels are copied.
template <class Resample>
__device__ void ResampleFrame(void* dst, int dstPitch, const void* map, int mapPitch,
                              const void* src, int srcPitch, int w, int h, int strength,
                              float cubicA, Resample resample) {
    KL_DYNAMIC_SHARED(u16, tile);  // (bx + 2) x (by + 2) map samples
    const int tw = blockDim.x + 2, th = blockDim.y + 2;
    TVF2_FOR_EACH_TILE(x0, y0, w, h) {
        for (int i = ThreadRank(); i < tw * th; i += BlockThreads())
            tile[i] = Sample(map, mapPitch, Clamp(y0 - 1 + i / tw, 0, h - 1),
                             Clamp(x0 - 1 + i % tw, 0, w - 1));
        __syncthreads();
        const int x = x0 + threadIdx.x, y = y0 + threadIdx.y;
        if (x < w && y < h) {
            const uint32_t self = Word(src, srcPitch, y, x);
            uint32_t out = self;
            if (!OnBorder(x, y, w, h)) {
                const u16* m = tile + (threadIdx.y + 1) * tw + threadIdx.x + 1;
                const int dx = kl::wrap_mul(int(m[-1]) - int(m[1]), strength);
                const int dy = kl::wrap_mul(int(m[-tw]) - int(m[tw]), strength);
                const int ix = Clamp(x + (dx >> 12) - 1, 0, w - 4);
                const int iy = Clamp(y + (dy >> 12) - 1, 0, h - 4);
                const CubicWeights wx = Cubic(dx & 4095, cubicA), wy = Cubic(dy & 4095, cubicA);
                uint32_t px[4][4];
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i) px[j][i] = Word(src, srcPitch, iy + j, ix + i);
                out = resample(px, wx, wy, self);
            }
            reinterpret_cast<uint32_t*>(Row(dst, dstPitch, y))[x] = out;
        }
        __syncthreads();
    }
}

struct ResampleBytes {
    __device__ uint32_t operator()(const uint32_t (&px)[4][4], const CubicWeights& wx,
                                   const CubicWeights& wy, uint32_t) const {
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) out |= ByteOf(WindowSum(px, shift, wx, wy), shift);
        return out;
    }
};

// Alpha as the bytes are; colours alpha-weighted and divided by the alpha sum. A window
// whose alpha rounds to 0 keeps the pixel's own colour with alpha 0.
struct ResampleAlpha {
    __device__ uint32_t operator()(const uint32_t (&px)[4][4], const CubicWeights& wx,
                                   const CubicWeights& wy, uint32_t self) const {
        const int s = WindowSum(px, 24, wx, wy);
        if ((kl::wrap_add(s, 524288) >> 20) == 0) return self & 0x00FFFFFFu;
        const float scale = 268435456.0f / float(s);  // 2^28 / S
        uint32_t out = ByteOf(s, 24);
        for (int shift = 0; shift < 24; shift += 8)
            out |= uint32_t(Clamp(kl::f2i_rz(WeightedColour(px, shift, wx, wy) * scale + 0.5f), 0,
                                  255))
                   << shift;
        return out;
    }
};

}  // namespace

// Edge map, even width: one thread per pair of pixels (one 32-bit word of the 16-bit
// edge source, bytes 0 and 2). A tile entry keeps both low bytes of a word.
__global__ void F100(void* map, const void* edgeSrc, int mapPitch, int edgeSrcPitch, int words,
                     int h, int edgeLimit) {
    KL_DYNAMIC_SHARED(u16, tile);  // (bx + 2) x (by + 2) words, one sample in each byte
    const int tw = blockDim.x + 2, th = blockDim.y + 2;
    TVF2_FOR_EACH_TILE(k0, y0, words, h) {
        for (int i = ThreadRank(); i < tw * th; i += BlockThreads()) {
            const uint32_t e = Word(edgeSrc, edgeSrcPitch, Clamp(y0 - 1 + i / tw, 0, h - 1),
                                    Clamp(k0 - 1 + i % tw, 0, words - 1));
            tile[i] = u16((e & 0xFF) | ((e >> 8) & 0xFF00));
        }
        __syncthreads();
        const int k = k0 + threadIdx.x, y = y0 + threadIdx.y;
        if (k < words && y < h) {
            u16 v0 = 0, v1 = 0;
            if (y > 0 && y < h - 1) {
                const u16* r0 = tile + threadIdx.y * tw + threadIdx.x;
                const u16 *r1 = r0 + tw, *r2 = r1 + tw;
#define TVF2_LO(e) int((e) & 0xFF)
#define TVF2_HI(e) int((e) >> 8)
                // Pixel 2k sees the high sample of the word to its left, pixel 2k + 1
                // the low sample of the word to its right.
                if (k > 0)
                    v0 = Sobel(TVF2_HI(r0[0]), TVF2_LO(r0[1]), TVF2_HI(r0[1]), TVF2_HI(r1[0]),
                               TVF2_HI(r1[1]), TVF2_HI(r2[0]), TVF2_LO(r2[1]), TVF2_HI(r2[1]),
                               edgeLimit);
                if (k < words - 1)
                    v1 = Sobel(TVF2_LO(r0[1]), TVF2_HI(r0[1]), TVF2_LO(r0[2]), TVF2_LO(r1[1]),
                               TVF2_LO(r1[2]), TVF2_LO(r2[1]), TVF2_HI(r2[1]), TVF2_LO(r2[2]),
                               edgeLimit);
#undef TVF2_LO
#undef TVF2_HI
            }
            reinterpret_cast<uint32_t*>(Row(map, mapPitch, y))[k] = uint32_t(v0) | uint32_t(v1) << 16;
        }
        __syncthreads();
    }
}

// Edge map, odd width: one pixel per thread; the tile holds the low bytes.
__global__ void F103(void* map, const void* edgeSrc, int mapPitch, int edgeSrcPitch, int w, int h,
                     int edgeLimit) {
    KL_DYNAMIC_SHARED(u8, tile);  // (bx + 2) x (by + 2)
    const int tw = blockDim.x + 2, th = blockDim.y + 2;
    TVF2_FOR_EACH_TILE(x0, y0, w, h) {
        for (int i = ThreadRank(); i < tw * th; i += BlockThreads())
            tile[i] = Row(edgeSrc, edgeSrcPitch, Clamp(y0 - 1 + i / tw, 0, h - 1))
                [2 * Clamp(x0 - 1 + i % tw, 0, w - 1)];
        __syncthreads();
        const int x = x0 + threadIdx.x, y = y0 + threadIdx.y;
        if (x < w && y < h) {
            u16 v = 0;
            if (!OnBorder(x, y, w, h)) {
                const u8* r0 = tile + threadIdx.y * tw + threadIdx.x;
                const u8 *r1 = r0 + tw, *r2 = r1 + tw;
                v = Sobel(r0[0], r0[1], r0[2], r1[0], r1[2], r2[0], r2[1], r2[2], edgeLimit);
            }
            reinterpret_cast<u16*>(Row(map, mapPitch, y))[x] = v;
        }
        __syncthreads();
    }
}

// Edge map of a frame with alpha, any width: channel 0, each difference weighted by the
// alphas of both its pixels.
__global__ void F106(void* map, const void* edgeSrc, int mapPitch, int edgeSrcPitch, int w, int h,
                     int edgeLimit) {
    KL_DYNAMIC_SHARED(uint32_t, tile);  // (bx + 2) x (by + 2) pixels
    const int tw = blockDim.x + 2, th = blockDim.y + 2;
    TVF2_FOR_EACH_TILE(x0, y0, w, h) {
        for (int i = ThreadRank(); i < tw * th; i += BlockThreads())
            tile[i] = Word(edgeSrc, edgeSrcPitch, Clamp(y0 - 1 + i / tw, 0, h - 1),
                           Clamp(x0 - 1 + i % tw, 0, w - 1));
        __syncthreads();
        const int x = x0 + threadIdx.x, y = y0 + threadIdx.y;
        if (x < w && y < h) {
            u16 v = 0;
            if (!OnBorder(x, y, w, h)) {
                const uint32_t* r0 = tile + threadIdx.y * tw + threadIdx.x;
                const uint32_t *r1 = r0 + tw, *r2 = r1 + tw;
                // Weighted difference of channel 0 between two pixels.
                auto d = [](uint32_t p, uint32_t q) {
                    return (int(p & 0xFF) - int(q & 0xFF)) * int(p >> 24) * int(q >> 24);
                };
                const int gx = d(r0[0], r0[2]) + 2 * d(r1[0], r1[2]) + d(r2[0], r2[2]);
                const int gy = d(r0[0], r2[0]) + 2 * d(r0[1], r2[1]) + d(r0[2], r2[2]);
                v = EdgeSample((gx < 0 ? -gx : gx) >> 16, (gy < 0 ? -gy : gy) >> 16, edgeLimit);
            }
            reinterpret_cast<u16*>(Row(map, mapPitch, y))[x] = v;
        }
        __syncthreads();
    }
}

// Smoothing along rows, two samples per 32-bit word. Samples beyond the row ends repeat
// the outermost sample (clamped per sample, not per word).
__global__ void F101(const void* in, int inPitch, int words, int h, void* out, int outPitch) {
    KL_DYNAMIC_SHARED(uint32_t, tile);  // (bx + 2) x by words
    const int tw = blockDim.x + 2;
    const int last = 2 * words - 1;
    TVF2_FOR_EACH_TILE(k0, y0, words, h) {
        for (int i = ThreadRank(); i < tw * int(blockDim.y); i += BlockThreads())
            tile[i] = Word(in, inPitch, Clamp(y0 + i / tw, 0, h - 1), Clamp(k0 - 1 + i % tw, 0, words - 1));
        __syncthreads();
        const int k = k0 + threadIdx.x, y = y0 + threadIdx.y;
        if (k < words && y < h) {
            const uint32_t* row = tile + threadIdx.y * tw;
            uint32_t result = 0;
            for (int half = 0; half < 2; ++half) {
                const int s = 2 * k + half;
                int sum = 0;
                const int taps[5] = {1, 4, 6, 4, 1};
                for (int d = -2; d <= 2; ++d) {
                    const int c = Clamp(s + d, 0, last);
                    sum += taps[d + 2] * int((row[(c >> 1) - k0 + 1] >> (16 * (c & 1))) & 0xFFFF);
                }
                result |= uint32_t(sum & 0xFFFF) << (16 * half);
            }
            reinterpret_cast<uint32_t*>(Row(out, outPitch, y))[k] = result;
        }
        __syncthreads();
    }
}

// Smoothing along columns, two samples per word, with the iteration's one rounding.
__global__ void F102(const void* in, int inPitch, int words, int h, void* out, int outPitch) {
    KL_DYNAMIC_SHARED(uint32_t, tile);  // bx x (by + 4) words
    const int bx = blockDim.x;
    TVF2_FOR_EACH_TILE(k0, y0, words, h) {
        for (int i = ThreadRank(); i < bx * int(blockDim.y + 4); i += BlockThreads())
            tile[i] = Word(in, inPitch, Clamp(y0 - 2 + i / bx, 0, h - 1), Clamp(k0 + i % bx, 0, words - 1));
        __syncthreads();
        const int k = k0 + threadIdx.x, y = y0 + threadIdx.y;
        if (k < words && y < h) {
            const uint32_t* c = tile + threadIdx.y * bx + threadIdx.x;
            uint32_t result = 0;
            for (int shift = 0; shift < 32; shift += 16) {
#define TVF2_AT(r) int((c[(r) * bx] >> shift) & 0xFFFF)
                const int sum = TVF2_AT(0) + 4 * TVF2_AT(1) + 6 * TVF2_AT(2) + 4 * TVF2_AT(3) + TVF2_AT(4);
#undef TVF2_AT
                result |= uint32_t(((sum + 128) / 256) & 0xFFFF) << shift;
            }
            reinterpret_cast<uint32_t*>(Row(out, outPitch, y))[k] = result;
        }
        __syncthreads();
    }
}

// Smoothing along rows, one sample per thread.
__global__ void F104(const void* in, int inPitch, int w, int h, void* out, int outPitch) {
    KL_DYNAMIC_SHARED(u16, tile);  // (bx + 4) x by
    const int tw = blockDim.x + 4;
    TVF2_FOR_EACH_TILE(x0, y0, w, h) {
        for (int i = ThreadRank(); i < tw * int(blockDim.y); i += BlockThreads())
            tile[i] = Sample(in, inPitch, Clamp(y0 + i / tw, 0, h - 1), Clamp(x0 - 2 + i % tw, 0, w - 1));
        __syncthreads();
        const int x = x0 + threadIdx.x, y = y0 + threadIdx.y;
        if (x < w && y < h) {
            const u16* s = tile + threadIdx.y * tw + threadIdx.x;
            const int sum = s[0] + 4 * s[1] + 6 * s[2] + 4 * s[3] + s[4];
            reinterpret_cast<u16*>(Row(out, outPitch, y))[x] = u16(sum);
        }
        __syncthreads();
    }
}

// Smoothing along columns, one sample per thread, with the iteration's one rounding.
__global__ void F105(const void* in, int inPitch, int w, int h, void* out, int outPitch) {
    KL_DYNAMIC_SHARED(u16, tile);  // bx x (by + 4)
    const int bx = blockDim.x;
    TVF2_FOR_EACH_TILE(x0, y0, w, h) {
        for (int i = ThreadRank(); i < bx * int(blockDim.y + 4); i += BlockThreads())
            tile[i] = Sample(in, inPitch, Clamp(y0 - 2 + i / bx, 0, h - 1), Clamp(x0 + i % bx, 0, w - 1));
        __syncthreads();
        const int x = x0 + threadIdx.x, y = y0 + threadIdx.y;
        if (x < w && y < h) {
            const u16* s = tile + threadIdx.y * bx + threadIdx.x;
            const int sum = s[0] + 4 * s[bx] + 6 * s[2 * bx] + 4 * s[3 * bx] + s[4 * bx];
            reinterpret_cast<u16*>(Row(out, outPitch, y))[x] = u16((sum + 128) / 256);
        }
        __syncthreads();
    }
}

__global__ void F107(void* dst, int dstPitch, const void* map, int mapPitch, const void* src,
                     int srcPitch, int w, int h, int strength, float cubicA) {
    ResampleFrame(dst, dstPitch, map, mapPitch, src, srcPitch, w, h, strength, cubicA, ResampleAlpha());
}

__global__ void F108(void* dst, int dstPitch, const void* map, int mapPitch, const void* src,
                     int srcPitch, int w, int h, int strength, float cubicA) {
    ResampleFrame(dst, dstPitch, map, mapPitch, src, srcPitch, w, h, strength, cubicA, ResampleBytes());
}

namespace {

bool Aligned(const void* p, int pitch, unsigned bytes) {
    return (reinterpret_cast<uintptr_t>(p) % bytes) == 0 && (static_cast<unsigned>(pitch) % bytes) == 0;
}

}  // namespace

bool DisplaceArgsValid(DisplaceLayout layout, const DisplaceArgs& a) {
    const bool alpha = layout == DisplaceLayout::C32A;
    if (a.w < 0 || a.h < 0 || a.iterations < 0) return false;
    if (!a.dst || !a.map || !a.tmp || !a.src || !a.edgeSrc || a.src == a.dst) return false;
    const long long w = a.w;
    if (a.dstPitch < 4 * w || a.srcPitch < 4 * w || a.mapPitch < 2 * w || a.tmpPitch < 2 * w ||
        a.edgeSrcPitch < (alpha ? 4 : 2) * w)
        return false;
    // Even widths move the map and a C32 edge source in 32-bit words.
    const unsigned sampleAlign = a.w % 2 == 0 ? 4 : 2;
    if (!Aligned(a.dst, a.dstPitch, 4) || !Aligned(a.src, a.srcPitch, 4) ||
        !Aligned(a.map, a.mapPitch, sampleAlign) || !Aligned(a.tmp, a.tmpPitch, sampleAlign) ||
        !Aligned(a.edgeSrc, a.edgeSrcPitch, alpha ? 4 : sampleAlign))
        return false;
    // An interior pixel needs a 4x4 window inside the frame.
    if ((a.w == 3 && a.h >= 3) || (a.h == 3 && a.w >= 3)) return false;
    return true;
}

DisplacePlan PlanDisplace(DisplaceLayout layout, const DisplaceArgs& a) {
    const bool alpha = layout == DisplaceLayout::C32A;
    const LaunchShape s0 = GridBlockForMode(a.w, a.h, 0), s3 = GridBlockForMode(a.w, a.h, 3);
    const unsigned bx = s0.blockX, by = s0.blockY, bx3 = s3.blockX, by3 = s3.blockY;
    DisplacePlan p;
    p.pairs = a.w % 2 == 0;
    p.grid = dim3(s0.gridX, s0.gridY);
    p.block = dim3(bx, by);
    p.grid3 = dim3(s3.gridX, s3.gridY);
    p.block3 = dim3(bx3, by3);
    p.edgeBytes = (bx + 2) * (by + 2) * (alpha ? 4 : p.pairs ? 2 : 1);
    p.rowPassBytes = !p.pairs ? (bx + 4) * by * 2 : alpha ? (bx + 2) * by * 8 : (bx + 4) * by * 4;
    p.columnPassBytes = (by + 4) * bx * (p.pairs ? 4 : 2);
    p.resampleBytes = (bx3 + 2) * (by3 + 2) * 2;
    return p;
}

cudaError_t LaunchDisplace(DisplaceLayout layout, const DisplaceArgs& a) {
    if (!DisplaceArgsValid(layout, a)) return cudaErrorInvalidValue;
    const DisplacePlan p = PlanDisplace(layout, a);
    const int words = a.w / 2;
    cudaError_t status;

    if (layout == DisplaceLayout::C32A)
        kl::launch<F106>(p.grid, p.block, p.edgeBytes, a.map, a.edgeSrc, a.mapPitch, a.edgeSrcPitch, a.w, a.h, a.edgeLimit);
    else if (p.pairs)
        kl::launch<F100>(p.grid, p.block, p.edgeBytes, a.map, a.edgeSrc, a.mapPitch, a.edgeSrcPitch, words, a.h, a.edgeLimit);
    else
        kl::launch<F103>(p.grid, p.block, p.edgeBytes, a.map, a.edgeSrc, a.mapPitch, a.edgeSrcPitch, a.w, a.h, a.edgeLimit);
    if ((status = cudaGetLastError()) != cudaSuccess) return status;

    // The temporary starts cleared; like the host, the clearing's status is not checked
    // here (a failure still shows in the next status read).
    if (a.tmpPitch > 0) {
        cudaMemset(a.tmp, 0, static_cast<size_t>(a.w) * a.h * 2);
    } else {
        for (int y = 0; y < a.h; ++y)
            cudaMemset(static_cast<u8*>(a.tmp) + static_cast<long long>(y) * a.tmpPitch, 0,
                       static_cast<size_t>(a.w) * 2);
    }

    for (int it = 0; it < a.iterations; ++it) {
        if (p.pairs)
            kl::launch<F101>(p.grid, p.block, p.rowPassBytes, a.map, a.mapPitch, words, a.h, a.tmp, a.tmpPitch);
        else
            kl::launch<F104>(p.grid, p.block, p.rowPassBytes, a.map, a.mapPitch, a.w, a.h, a.tmp, a.tmpPitch);
        if ((status = cudaGetLastError()) != cudaSuccess) return status;
        if (p.pairs)
            kl::launch<F102>(p.grid, p.block, p.columnPassBytes, a.tmp, a.tmpPitch, words, a.h, a.map, a.mapPitch);
        else
            kl::launch<F105>(p.grid, p.block, p.columnPassBytes, a.tmp, a.tmpPitch, a.w, a.h, a.map, a.mapPitch);
        if ((status = cudaGetLastError()) != cudaSuccess) return status;
    }

    if (layout == DisplaceLayout::C32A)
        kl::launch<F107>(p.grid3, p.block3, p.resampleBytes, a.dst, a.dstPitch, a.map, a.mapPitch, a.src, a.srcPitch, a.w, a.h, a.strength, a.cubicA);
    else
        kl::launch<F108>(p.grid3, p.block3, p.resampleBytes, a.dst, a.dstPitch, a.map, a.mapPitch, a.src, a.srcPitch, a.w, a.h, a.strength, a.cubicA);
    return cudaGetLastError();
}

}  // namespace tvf2
