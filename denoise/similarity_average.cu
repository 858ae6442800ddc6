#include "denoise/similarity_average.h"

#include "denoise/pixel_words.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

using namespace denoise;

// The tile kernels are taken while block plus apron need fewer shared bytes than this.
constexpr long long kTileBudget = 12288;
constexpr int kFixedRadii = 4;  // Q100<1> .. Q100<4> and their counterparts
constexpr int kLinearBlockX = 12, kLinearBlockY = 16;  // C32's base block

// The sums wrap as the device's 32-bit sums do: within the caller's range of T and r
// nothing wraps, and outside it both backends give the same bytes.
using kl::wrap_add;
using kl::wrap_mul;

// The plain rule: Wsum starts at T and each Sk at T times the centre's byte; a member
// with weight w = T - d² >= 1 adds w and w times its bytes; the result is Sk / Wsum
// rounded half up. With offset chroma the offset returns in the rounding term, once per
// unit of weight.
template <bool OffsetChroma>
struct WeightedSums {
    uint32_t centre;
    int T, wsum, s[3];

    __device__ WeightedSums(uint32_t c, int t) : centre(c), T(t), wsum(t) {
        for (int k = 0; k < 3; ++k) s[k] = wrap_mul(t, Channel<OffsetChroma>(c, k));
    }
    __device__ __forceinline__ void Add(uint32_t m) {
        const int w = wrap_add(T, -SquaredDistance(centre, m));
        if (w < 1) return;
        for (int k = 0; k < 3; ++k) s[k] = wrap_add(s[k], wrap_mul(w, Channel<OffsetChroma>(m, k)));
        wsum = wrap_add(wsum, w);
    }
    __device__ int Out(int k) const {
        const int offset = OffsetChroma && k > 0 ? wrap_mul(128, wsum) : 0;
        return Quotient(wrap_add(wrap_add(s[k], wsum / 2), offset), wsum);
    }
    __device__ uint32_t Colour() const { return Word(Out(0), Out(1), Out(2), 0); }
};

// The alpha-weighted rule: weights are multiplied by the member's alpha, and every
// product is divided by 16 (rounded down) before it is summed, which keeps the sums in
// 32 bits; the start weighs the centre as opaque. The quotient is taken in 64 bits and
// its low word clamped to a byte.
template <bool OffsetChroma>
struct AlphaWeightedSums {
    uint32_t centre;
    int T, wsum, s[3];

    __device__ AlphaWeightedSums(uint32_t c, int t) : centre(c), T(t), wsum(wrap_mul(255, t)) {
        for (int k = 0; k < 3; ++k) s[k] = wrap_mul(Channel<OffsetChroma>(c, k) * 255, t) >> 4;
    }
    __device__ __forceinline__ void Add(uint32_t m) {
        const int w = wrap_add(T, -SquaredDistance(centre, m));
        if (w < 1) return;
        const int a = wrap_mul(w, Byte(m, 3));
        for (int k = 0; k < 3; ++k) s[k] = wrap_add(s[k], wrap_mul(a, Channel<OffsetChroma>(m, k)) >> 4);
        wsum = wrap_add(wsum, a);
    }
    __device__ int Out(int k) const {
        const long long offset = OffsetChroma && k > 0 ? 128LL * wsum : 0;
        const long long q = Quotient(16LL * s[k] + wsum / 2 + offset, static_cast<long long>(wsum));
        const int v = static_cast<int>(static_cast<uint32_t>(q));
        return kl::min(kl::max(v, 0), 255);
    }
    __device__ uint32_t Colour() const { return Word(Out(0), Out(1), Out(2), 0); }
};

// Layout policies: the rule, and what byte 3 of the output holds.
struct LayoutC32 {
    typedef WeightedSums<false> Sums;
    __device__ static uint32_t Fourth(uint32_t, bool fromTexture) { return fromTexture ? 255u : 0u; }
};
struct LayoutYUV32 {
    typedef WeightedSums<true> Sums;
    __device__ static uint32_t Fourth(uint32_t, bool) { return 255u; }
};
struct LayoutC32A {
    typedef AlphaWeightedSums<false> Sums;
    __device__ static uint32_t Fourth(uint32_t centre, bool) { return centre >> 24; }
};
struct LayoutYUV32A {
    typedef AlphaWeightedSums<true> Sums;
    __device__ static uint32_t Fourth(uint32_t centre, bool) { return centre >> 24; }
};

// Rows of the centre's parity only, up to r of them on each side.
__device__ __forceinline__ Window SameParityWindow(int x, int y, int width, int height, int r) {
    const long long reach = 2LL * r;
    return Window{y >= reach ? r : y / 2, y + reach < height ? r : (height - 1 - y) / 2,
                  kl::min(r, x), kl::min(r, width - 1 - x), 2};
}

// The window rule, once for every layout and source: Fetch(d, dx) gives a member's word.
template <class L, int R, class Fetch>
__device__ __forceinline__ uint32_t Evaluate(uint32_t centre, const Window& w, int T,
                                             bool fromTexture, Fetch&& fetch) {
    typename L::Sums sums(centre, T);
    ForEachMember<R>(w, [&](int d, int dx) { sums.Add(fetch(d, dx)); });
    return sums.Colour() | L::Fourth(centre, fromTexture) << 24;
}

// The linear-memory kernels step whole blocks through the frame (grid-stride), so that
// every thread of a block meets the same barriers; a thread whose pixel lies outside
// the frame only helps to stage.

// Tile form: the block's pixels and an apron of r on every side, entry (i, j) holding
// pixel (x0 - r + j, y0 - r + i); entries outside the frame are never read.
template <class L, int R>
__device__ void TileBody(u8* dst, const u8* src, int width, int height, int dstPitch,
                         int srcPitch, int T, int radius) {
    KL_DYNAMIC_SHARED(uint32_t, tile);
    const int r = R >= 0 ? R : radius;
    const int bx = blockDim.x, by = blockDim.y, tx = threadIdx.x, ty = threadIdx.y;
    const int tw = bx + 2 * r, entries = tw * (by + 2 * r);
    const int self = ty * bx + tx, threads = bx * by;
    for (int y0 = blockIdx.y * by; y0 < height; y0 += gridDim.y * by)
        for (int x0 = blockIdx.x * bx; x0 < width; x0 += gridDim.x * bx) {
            for (int e = self; e < entries; e += threads) {
                const int fx = x0 - r + e % tw, fy = y0 - r + e / tw;
                if (fx >= 0 && fx < width && fy >= 0 && fy < height) tile[e] = Load(src, srcPitch, fx, fy);
            }
            __syncthreads();
            const int x = x0 + tx, y = y0 + ty;
            if (x < width && y < height) {
                const uint32_t* c = tile + (ty + r) * tw + tx + r;
                Store(dst, dstPitch, x, y,
                      Evaluate<L, R>(*c, ClippedWindow(x, y, width, height, r), T, false,
                                     [&](int d, int dx) { return c[d * tw + dx]; }));
            }
            __syncthreads();
        }
}

// Block-staged form: only the block's own pixels in shared memory; members outside
// the block are read from the frame.
template <class L>
__device__ void StagedBody(u8* dst, const u8* src, int width, int height, int dstPitch,
                           int srcPitch, int T, int r) {
    KL_DYNAMIC_SHARED(uint32_t, staged);
    const int bx = blockDim.x, by = blockDim.y, tx = threadIdx.x, ty = threadIdx.y;
    for (int y0 = blockIdx.y * by; y0 < height; y0 += gridDim.y * by)
        for (int x0 = blockIdx.x * bx; x0 < width; x0 += gridDim.x * bx) {
            const int x = x0 + tx, y = y0 + ty;
            const bool inside = x < width && y < height;
            if (inside) staged[ty * bx + tx] = Load(src, srcPitch, x, y);
            __syncthreads();
            if (inside) {
                const auto member = [&](int d, int dx) {
                    const int sx = tx + dx, sy = ty + d;
                    return sx >= 0 && sx < bx && sy >= 0 && sy < by ? staged[sy * bx + sx]
                                                                     : Load(src, srcPitch, x + dx, y + d);
                };
                Store(dst, dstPitch, x, y,
                      Evaluate<L, -1>(staged[ty * bx + tx], ClippedWindow(x, y, width, height, r), T,
                                      false, member));
            }
            __syncthreads();
        }
}

// Texture row of output row v; wraps like the device's 32-bit arithmetic.
__device__ __forceinline__ int TextureRow(int v, int rowScale, int rowOffset) {
    return static_cast<int>(static_cast<unsigned>(v) * static_cast<unsigned>(rowScale) +
                            static_cast<unsigned>(rowOffset));
}

__device__ __forceinline__ uint32_t Texel(cudaTextureObject_t tex, int u, int t) {
    const uchar4 v = tex2D<uchar4>(tex, static_cast<float>(u), static_cast<float>(t));
    return Word(v.x, v.y, v.z, v.w);
}

// Texture form: no shared memory, every member fetched (point sampled, clamped).
template <class L>
__device__ void TextureBody(cudaTextureObject_t tex, u8* dst, int width, int height, int dstPitch,
                            int rowOffset, int rowScale, int T, int r, bool sameParity) {
    for (int y = blockIdx.y * blockDim.y + threadIdx.y; y < height; y += gridDim.y * blockDim.y)
        for (int x = blockIdx.x * blockDim.x + threadIdx.x; x < width; x += gridDim.x * blockDim.x) {
            const Window w = sameParity ? SameParityWindow(x, y, width, height, r)
                                        : ClippedWindow(x, y, width, height, r);
            const auto member = [&](int d, int dx) {
                return Texel(tex, x + dx, TextureRow(y + w.step * d, rowScale, rowOffset));
            };
            Store(dst, dstPitch, x, y, Evaluate<L, -1>(member(0, 0), w, T, true, member));
        }
}

}  // namespace

// The named kernels: per layout, the tile with radius 1 to 4 fixed, the tile with the
// radius at run time, the block-staged form and the texture form.
#define TVF2_SWA_PARAMS \
    u8 *dst, const u8 *src, int width, int height, int dstPitch, int srcPitch, int T
#define TVF2_SWA_ARGS dst, src, width, height, dstPitch, srcPitch, T
#define TVF2_SWA_TEX_PARAMS                                                                   \
    cudaTextureObject_t tex, u8 *dst, int width, int height, int dstPitch, int rowOffset, \
        int rowScale, int T, int r, bool sameParity
#define TVF2_SWA_KERNELS(L, Fixed, Tiled, Staged, Textured)                                 \
    template <int N>                                                                         \
    __global__ void Fixed(TVF2_SWA_PARAMS) {                                                 \
        TileBody<L, N>(TVF2_SWA_ARGS, N);                                                    \
    }                                                                                        \
    __global__ void Tiled(TVF2_SWA_PARAMS, int r) { TileBody<L, -1>(TVF2_SWA_ARGS, r); }     \
    __global__ void Staged(TVF2_SWA_PARAMS, int r) { StagedBody<L>(TVF2_SWA_ARGS, r); }      \
    __global__ void Textured(TVF2_SWA_TEX_PARAMS) {                                          \
        TextureBody<L>(tex, dst, width, height, dstPitch, rowOffset, rowScale, T, r, sameParity); \
    }

TVF2_SWA_KERNELS(LayoutC32, Q100, Q101, Q102, Q104)
TVF2_SWA_KERNELS(LayoutYUV32, R100, R101, R102, R103)
TVF2_SWA_KERNELS(LayoutC32A, AA100, AA101, AA102, AA103)
TVF2_SWA_KERNELS(LayoutYUV32A, AB100, AB101, AB102, AB103)

#undef TVF2_SWA_KERNELS
#undef TVF2_SWA_TEX_PARAMS
#undef TVF2_SWA_ARGS
#undef TVF2_SWA_PARAMS

namespace {

// C32's shape: a 12 by 16 block, or for frames under 12 wide or 16 high the narrower
// block of the default tables; whole blocks, capped.
void LinearC32Shape(int width, int height, dim3& grid, dim3& block) {
    if (width < 1 || height < 1) {
        grid = block = dim3(0, 0, 1);
        return;
    }
    long long bx = kLinearBlockX, by = kLinearBlockY;
    if (width < kLinearBlockX || height < kLinearBlockY) {
        // Every such frame is below the default threshold too, so the default shape's
        // table block is the one wanted.
        const LaunchShape s = GridBlock(width, height);
        bx = s.blockX;
        by = s.blockY;
    }
    long long gx = kl::max(width / bx, 1LL), gy = kl::max(height / by, 1LL);
    CapBlocks(gx, gy);
    grid = dim3(unsigned(gx), unsigned(gy));
    block = dim3(unsigned(bx), unsigned(by));
}

template <auto Fixed1, auto Fixed2, auto Fixed3, auto Fixed4, auto Tiled, auto Staged>
cudaError_t LaunchPass(const SimilarityPlan& p, u8* dst, const u8* src, int width, int height,
                       int dstPitch, int srcPitch, int T, int r) {
#define TVF2_SWA_LAUNCH(kernel, ...) \
    kl::launch<kernel>(p.grid, p.block, p.sharedBytes, dst, src, width, height, dstPitch, srcPitch, __VA_ARGS__)
    switch (p.form) {
    case SimilarityForm::FixedRadiusTile:
        switch (r) {
        case 1: return TVF2_SWA_LAUNCH(Fixed1, T);
        case 2: return TVF2_SWA_LAUNCH(Fixed2, T);
        case 3: return TVF2_SWA_LAUNCH(Fixed3, T);
        default: return TVF2_SWA_LAUNCH(Fixed4, T);
        }
    case SimilarityForm::Tile: return TVF2_SWA_LAUNCH(Tiled, T, r);
    case SimilarityForm::BlockStaged: return TVF2_SWA_LAUNCH(Staged, T, r);
    }
#undef TVF2_SWA_LAUNCH
    return cudaErrorInvalidValue;
}

cudaError_t LaunchPassFor(SimilarityLayout layout, const SimilarityPlan& p, u8* dst, const u8* src,
                          int width, int height, int dstPitch, int srcPitch, int T, int r) {
    switch (layout) {
    case SimilarityLayout::C32:
        return LaunchPass<Q100<1>, Q100<2>, Q100<3>, Q100<4>, Q101, Q102>(p, dst, src, width, height, dstPitch, srcPitch, T, r);
    case SimilarityLayout::YUV32:
        return LaunchPass<R100<1>, R100<2>, R100<3>, R100<4>, R101, R102>(p, dst, src, width, height, dstPitch, srcPitch, T, r);
    case SimilarityLayout::C32A:
        return LaunchPass<AA100<1>, AA100<2>, AA100<3>, AA100<4>, AA101, AA102>(p, dst, src, width, height, dstPitch, srcPitch, T, r);
    case SimilarityLayout::YUV32A:
        return LaunchPass<AB100<1>, AB100<2>, AB100<3>, AB100<4>, AB101, AB102>(p, dst, src, width, height, dstPitch, srcPitch, T, r);
    }
    return cudaErrorInvalidValue;
}

bool IsFourUnsignedBytes(const cudaChannelFormatDesc& d) {
    return d.x == 8 && d.y == 8 && d.z == 8 && d.w == 8 && d.f == cudaChannelFormatKindUnsigned;
}

}  // namespace

dim3 SimilarityEightByEightGrid(int width, int height) { return EightByEightGrid(width, height); }

SimilarityPlan PlanSimilarity(SimilarityLayout layout, int width, int height, int radius) {
    SimilarityPlan p;
    switch (layout) {
    case SimilarityLayout::C32: LinearC32Shape(width, height, p.grid, p.block); break;
    case SimilarityLayout::YUV32:
        p.grid = SimilarityEightByEightGrid(width, height);
        p.block = dim3(kBlock8, kBlock8);
        break;
    case SimilarityLayout::C32A:
    case SimilarityLayout::YUV32A: {
        const LaunchShape s = GridBlockForMode(width, height, 1);
        p.grid = dim3(s.gridX, s.gridY);
        p.block = dim3(s.blockX, s.blockY);
        break;
    }
    }
    const long long bx = p.block.x, by = p.block.y, r = radius;
    // (A radius beyond the budget cannot have a tile, and must not overflow the product.)
    const long long tileBytes = r >= kTileBudget ? kTileBudget : (2 * r + bx) * (2 * r + by) * 4;
    if (tileBytes >= kTileBudget) {
        p.form = SimilarityForm::BlockStaged;
        p.sharedBytes = unsigned(bx * by * 4);
    } else {
        p.form = radius >= 1 && radius <= kFixedRadii ? SimilarityForm::FixedRadiusTile : SimilarityForm::Tile;
        p.sharedBytes = unsigned(tileBytes);
    }
    return p;
}
static_assert((2 * 20 + kLinearBlockX) * (2 * 20 + kLinearBlockY) * 4 < kTileBudget &&
                  (2 * 21 + kLinearBlockX) * (2 * 21 + kLinearBlockY) * 4 >= kTileBudget,
              "C32's 12x16 block: radius 20 is the largest tile");
static_assert((2 * 23 + 8) * (2 * 23 + 8) * 4 < kTileBudget && (2 * 24 + 8) * (2 * 24 + 8) * 4 >= kTileBudget,
              "YUV32's 8x8 block: radius 23 is the largest tile");
static_assert(kTileBudget <= 48 * 1024, "every tile fits the shared memory of one block");

cudaError_t LaunchSimilarity(SimilarityLayout layout, const SimilarityArgs& a) {
    if (a.T == 0 || a.radius < 0) return cudaErrorInvalidValue;
    const bool empty = a.width < 1 || a.height < 1;
    if (!empty && (!FrameValid(a.dst, a.dstPitch, a.width) || !FrameValid(a.src, a.srcPitch, a.width)))
        return cudaErrorInvalidValue;
    const SimilarityPlan p = PlanSimilarity(layout, a.width, a.height, a.radius);
    u8* dst = static_cast<u8*>(a.dst);
    const u8* src = static_cast<const u8*>(a.src);
    if (!a.fields) {
        LaunchPassFor(layout, p, dst, src, a.width, a.height, a.dstPitch, a.srcPitch, a.T, a.radius);
        return cudaGetLastError();
    }
    // Two frames of every other row, the same launch shape for both. The even field
    // takes the last row of an odd height.
    const int dstPitch2 = static_cast<int>(2LL * a.dstPitch), srcPitch2 = static_cast<int>(2LL * a.srcPitch);
    LaunchPassFor(layout, p, dst, src, a.width, static_cast<int>((a.height + 1LL) / 2), dstPitch2, srcPitch2, a.T, a.radius);
    const cudaError_t first = cudaGetLastError();
    if (first != cudaSuccess) return first;
    // (An empty frame may come with null pointers, which must not be offset.)
    LaunchPassFor(layout, p, empty ? dst : dst + a.dstPitch, empty ? src : src + a.srcPitch, a.width,
                  a.height / 2, dstPitch2, srcPitch2, a.T, a.radius);
    return cudaGetLastError();
}

cudaError_t LaunchSimilarityTex(SimilarityLayout layout, const SimilarityTexArgs& a) {
    if (a.T == 0 || a.radius < 0 || !a.array || !a.desc) return cudaErrorInvalidValue;
    if (a.width >= 1 && a.height >= 1 && !FrameValid(a.dst, a.dstPitch, a.width))
        return cudaErrorInvalidValue;
    if (!IsFourUnsignedBytes(*a.desc)) return cudaErrorInvalidChannelDescriptor;

    cudaResourceDesc res = {};
    res.resType = cudaResourceTypeArray;
    res.res.array.array = a.array;
    cudaTextureDesc td = {};
    for (auto& mode : td.addressMode) mode = cudaAddressModeClamp;
    td.filterMode = cudaFilterModePoint;
    td.readMode = cudaReadModeElementType;
    td.normalizedCoords = 0;
    td.sRGB = 0;
    cudaTextureObject_t tex = 0;
    const cudaError_t created = cudaCreateTextureObject(&tex, &res, &td, nullptr);
    if (created != cudaSuccess) return created;

    const dim3 grid = EightByEightGrid(a.width, a.height), block(kBlock8, kBlock8);
    u8* dst = static_cast<u8*>(a.dst);
#define TVF2_SWA_LAUNCH_TEX(kernel)                                                                \
    kl::launch<kernel>(grid, block, 0, tex, dst, a.width, a.height, a.dstPitch, a.rowOffset, \
                       a.rowScale, a.T, a.radius, a.sameParity)
    // A failed launch is not part of the result; it stays the runtime's last error.
    switch (layout) {
    case SimilarityLayout::C32: TVF2_SWA_LAUNCH_TEX(Q104); break;
    case SimilarityLayout::YUV32: TVF2_SWA_LAUNCH_TEX(R103); break;
    case SimilarityLayout::C32A: TVF2_SWA_LAUNCH_TEX(AA103); break;
    case SimilarityLayout::YUV32A: TVF2_SWA_LAUNCH_TEX(AB103); break;
    }
#undef TVF2_SWA_LAUNCH_TEX
    cudaDeviceSynchronize();  // the object must outlive the kernel
    return cudaDestroyTextureObject(tex);
}

}  // namespace tvf2
