#include "denoise/multi_frame_average.h"

#include "denoise/pixel_words.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

using namespace denoise;
using kl::wrap_add;
using kl::wrap_mul;

// The sums wrap as the device's 32-bit sums do: within the caller's range of T and the
// frame count nothing wraps, and outside it both backends give the same bytes.

// C32: the weights join as floats (exact while below 2^24) and every float sum is
// converted back to an integer toward zero; the quotient is truncated.
struct FloatSums {
    int wsum, s[3];
    __device__ FloatSums(uint32_t c, int T) : wsum(T) {
        for (int k = 0; k < 3; ++k) s[k] = wrap_mul(T, Byte(c, k));
    }
    __device__ __forceinline__ void Add(int w, uint32_t p) {
        const float wf = static_cast<float>(w);
        for (int k = 0; k < 3; ++k)
            s[k] = kl::f2i_rz(static_cast<float>(s[k]) + wf * static_cast<float>(Byte(p, k)));
        wsum = kl::f2i_rz(static_cast<float>(wsum) + wf);
    }
    __device__ uint32_t Colour() const {
        return Word(Quotient(s[0], wsum), Quotient(s[1], wsum), Quotient(s[2], wsum), 0);
    }
};

// The integer rules: the current pixel weighs T (255 T when alpha-weighted, as if
// opaque), a passing reference w (w times its alpha); the quotient is rounded half up,
// and clamped to a byte when alpha-weighted. With offset chroma bytes 1 and 2 are
// summed as signed values and the offset returns once per unit of weight.
template <bool OffsetChroma, bool AlphaWeighted>
struct RoundedSums {
    int wsum, s[3];
    __device__ RoundedSums(uint32_t c, int T) : wsum(AlphaWeighted ? wrap_mul(255, T) : T) {
        for (int k = 0; k < 3; ++k) s[k] = wrap_mul(Channel<OffsetChroma>(c, k), wsum);
    }
    __device__ __forceinline__ void Add(int w, uint32_t p) {
        const int a = AlphaWeighted ? wrap_mul(w, Byte(p, 3)) : w;
        for (int k = 0; k < 3; ++k) s[k] = wrap_add(s[k], wrap_mul(a, Channel<OffsetChroma>(p, k)));
        wsum = wrap_add(wsum, a);
    }
    __device__ int Out(int k) const {
        int num = wrap_add(s[k], wsum / 2);
        if (OffsetChroma && k > 0) num = wrap_add(num, wrap_mul(128, wsum));
        const int q = Quotient(num, wsum);
        return AlphaWeighted ? kl::min(kl::max(q, 0), 255) : q;
    }
    __device__ uint32_t Colour() const { return Word(Out(0), Out(1), Out(2), 0); }
};

// Layout policies: the sums, and what byte 3 of the output holds.
struct LayoutC32 {
    typedef FloatSums Sums;
    __device__ static uint32_t Fourth(uint32_t) { return 0u; }
};
struct LayoutYUV32 {
    typedef RoundedSums<true, false> Sums;
    __device__ static uint32_t Fourth(uint32_t) { return 255u; }
};
struct LayoutC32A {
    typedef RoundedSums<false, true> Sums;
    __device__ static uint32_t Fourth(uint32_t centre) { return centre >> 24; }
};
struct LayoutYUV32A {
    typedef RoundedSums<true, true> Sums;
    __device__ static uint32_t Fourth(uint32_t centre) { return centre >> 24; }
};

// One pass over `rows` rows: every row of the frame, or every other row from row 0 or
// row 1 (fields). Whole blocks step through the pass (grid-stride), so that every
// thread of a block meets the same barriers; a thread whose pixel lies outside only
// helps to stage. Shared memory holds three tiles of the block plus an apron of R: the
// current frame, the reference frame being compared, and their squared differences.
template <class L, int R>
__device__ void MultiFrameBody(u8* dst, const u8* src, const u8* const* frames, int n, int width,
                               int rows, int dstPitch, int srcPitch, const int* pitches, int T,
                               bool fields, bool secondField) {
    KL_DYNAMIC_SHARED(uint32_t, shared);
    const int step = fields ? 2 : 1;
    if (secondField) {
        dst += dstPitch;
        src += srcPitch;
    }
    const u8* ref[kMaxReferenceFrames];
    int refPitch[kMaxReferenceFrames];
    n = kl::min(n, kMaxReferenceFrames);
    for (int i = 0; i < n; ++i) {
        ref[i] = frames[i] + (secondField ? pitches[i] : 0);
        refPitch[i] = wrap_mul(pitches[i], step);
    }
    dstPitch = wrap_mul(dstPitch, step);
    srcPitch = wrap_mul(srcPitch, step);

    const int bx = blockDim.x, by = blockDim.y, tx = threadIdx.x, ty = threadIdx.y;
    const int tw = bx + 2 * R, entries = tw * (by + 2 * R);
    const int self = ty * bx + tx, threads = bx * by;
    uint32_t* const current = shared;
    uint32_t* const reference = shared + entries;
    int* const distance = reinterpret_cast<int*>(shared + 2 * entries);
    const int centreEntry = (ty + R) * tw + tx + R;
    for (int y0 = blockIdx.y * by; y0 < rows; y0 += gridDim.y * by)
        for (int x0 = blockIdx.x * bx; x0 < width; x0 += gridDim.x * bx) {
            // Entry e holds pixel (x0 - R + e % tw, y0 - R + e / tw) of the pass; entries
            // outside it stay unwritten, and the clipped block never reads them.
            for (int e = self; e < entries; e += threads) {
                const int fx = x0 - R + e % tw, fy = y0 - R + e / tw;
                if (fx >= 0 && fx < width && fy >= 0 && fy < rows) current[e] = Load(src, srcPitch, fx, fy);
            }
            __syncthreads();
            const int x = x0 + tx, y = y0 + ty;
            const bool inside = x < width && y < rows;
            const uint32_t c = inside ? current[centreEntry] : 0u;
            typename L::Sums sums(c, T);
            const Window block = ClippedWindow(x, y, width, rows, R);
            for (int i = 0; i < n; ++i) {
                for (int e = self; e < entries; e += threads) {
                    const int fx = x0 - R + e % tw, fy = y0 - R + e / tw;
                    if (fx >= 0 && fx < width && fy >= 0 && fy < rows) {
                        const uint32_t b = Load(ref[i], refPitch[i], fx, fy);
                        reference[e] = b;
                        distance[e] = SquaredDistance(b, current[e]);
                    }
                }
                __syncthreads();
                if (inside) {
                    int dmax = 0;
                    ForEachMember<R>(block, [&](int d, int dx) {
                        dmax = kl::max(dmax, distance[centreEntry + d * tw + dx]);
                    });
                    const int w = wrap_add(T, -dmax);
                    if (w >= 1) sums.Add(w, reference[centreEntry]);
                }
                __syncthreads();
            }
            if (inside) Store(dst, dstPitch, x, y, sums.Colour() | L::Fourth(c) << 24);
            // Without reference frames no barrier has followed the reads of this tile.
            if (n == 0) __syncthreads();
        }
}

}  // namespace

// The named kernels, radius 2 at compile time.
#define TVF2_MFA_KERNEL(L, Name)                                                                  \
    template <int R>                                                                              \
    __global__ void Name(u8* dst, const u8* src, const u8* const* frames, int n, int width,      \
                         int rows, int dstPitch, int srcPitch, const int* pitches, int T,        \
                         bool fields, bool secondField) {                                         \
        MultiFrameBody<L, R>(dst, src, frames, n, width, rows, dstPitch, srcPitch, pitches, T,   \
                             fields, secondField);                                                \
    }
TVF2_MFA_KERNEL(LayoutC32, S100)
TVF2_MFA_KERNEL(LayoutC32A, AC100)
TVF2_MFA_KERNEL(LayoutYUV32, T100)
TVF2_MFA_KERNEL(LayoutYUV32A, AD100)
#undef TVF2_MFA_KERNEL

namespace {

constexpr unsigned kTiles = 3;
constexpr unsigned kSharedBytes =
    kTiles * 4 * (kBlock8 + 2 * kMultiFrameRadius) * (kBlock8 + 2 * kMultiFrameRadius);
static_assert(kSharedBytes == 1728, "three 12 by 12 tiles of 4-byte entries");

cudaError_t LaunchPass(MultiFrameLayout layout, const MultiFramePlan& p, u8* dst, const u8* src,
                       const u8* const* frames, int n, int width, int rows, int dstPitch,
                       int srcPitch, const int* pitches, int T, bool fields, bool secondField) {
#define TVF2_MFA_LAUNCH(kernel)                                                                  \
    kl::launch<kernel<kMultiFrameRadius>>(p.grid, p.block, p.sharedBytes, dst, src, frames, n, \
                                          width, rows, dstPitch, srcPitch, pitches, T, fields,  \
                                          secondField)
    switch (layout) {
    case MultiFrameLayout::C32: return TVF2_MFA_LAUNCH(S100);
    case MultiFrameLayout::C32A: return TVF2_MFA_LAUNCH(AC100);
    case MultiFrameLayout::YUV32: return TVF2_MFA_LAUNCH(T100);
    case MultiFrameLayout::YUV32A: return TVF2_MFA_LAUNCH(AD100);
    }
#undef TVF2_MFA_LAUNCH
    return cudaErrorInvalidValue;
}

bool ArgsValid(const MultiFrameArgs& a) {
    if (a.count < 0 || a.count > kMaxReferenceFrames || a.T == 0) return false;
    if (a.count > 0 && (!a.frames || !a.pitches || !a.scratch ||
                        reinterpret_cast<uintptr_t>(a.scratch) % alignof(void*) != 0))
        return false;
    if (a.width < 1 || a.height < 1) return true;
    if (!FrameValid(a.dst, a.dstPitch, a.width) || !FrameValid(a.src, a.srcPitch, a.width)) return false;
    for (int i = 0; i < a.count; ++i)
        if (!FrameValid(a.frames[i], a.pitches[i], a.width)) return false;
    return true;
}

}  // namespace

MultiFramePlan PlanMultiFrame(int width, int height, bool fields) {
    MultiFramePlan p;
    p.grid = EightByEightGrid(width, height);  // counted on the whole frame, fields or not
    p.block = dim3(kBlock8, kBlock8);
    p.sharedBytes = kSharedBytes;
    // The even field takes the last row of an odd height.
    p.rows[0] = fields ? (height + 1) / 2 : height;
    p.rows[1] = fields ? height / 2 : 0;
    return p;
}

cudaError_t LaunchMultiFrameAverage(MultiFrameLayout layout, const MultiFrameArgs& a) {
    if (!ArgsValid(a)) return cudaErrorInvalidValue;
    if (a.width < 1 || a.height < 1) return cudaSuccess;
    u8* const scratch = static_cast<u8*>(a.scratch);
    const size_t n = static_cast<size_t>(a.count);
    if (n > 0) {
        // A refused copy ends the call before anything runs on what it did not write.
        cudaError_t e = cudaMemcpy(scratch, a.frames, 8 * n, cudaMemcpyHostToDevice);
        if (e == cudaSuccess) e = cudaMemcpy(scratch + 8 * n, a.pitches, 4 * n, cudaMemcpyHostToDevice);
        if (e != cudaSuccess) {
            cudaGetLastError();
            return e;
        }
    }
    static_assert(sizeof(void*) == 8, "the scratch holds 8-byte device pointers");
    const u8* const* frames = reinterpret_cast<const u8* const*>(scratch);
    const int* pitches = reinterpret_cast<const int*>(scratch + 8 * n);
    const MultiFramePlan p = PlanMultiFrame(a.width, a.height, a.fields);
    u8* dst = static_cast<u8*>(a.dst);
    const u8* src = static_cast<const u8*>(a.src);
    LaunchPass(layout, p, dst, src, frames, a.count, a.width, p.rows[0], a.dstPitch, a.srcPitch,
               pitches, a.T, a.fields, false);
    if (!a.fields) return cudaGetLastError();
    const cudaError_t first = cudaGetLastError();
    if (first != cudaSuccess) return first;
    LaunchPass(layout, p, dst, src, frames, a.count, a.width, p.rows[1], a.dstPitch, a.srcPitch,
               pitches, a.T, a.fields, true);
    return cudaGetLastError();
}

}  // namespace tvf2
