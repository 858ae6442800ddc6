#include "effects/key_mask.h"

#include "effects/frame_args.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <climits>
#include <cstdint>

namespace tvf2 {
namespace {

typedef unsigned char u8;

__device__ __forceinline__ u8* Pixel(void* base, int pitch, int x, int y) {
    return static_cast<u8*>(base) + static_cast<long long>(y) * pitch + x * 4;
}
__device__ __forceinline__ const u8* Pixel(const void* base, int pitch, int x, int y) {
    return static_cast<const u8*>(base) + static_cast<long long>(y) * pitch + x * 4;
}
// Mask bytes are addressed by a 32-bit offset x + y * pitch.
__device__ __forceinline__ int MaskOffset(int pitch, int x, int y) {
    return kl::wrap_add(x, kl::wrap_mul(y, pitch));
}

// A thread's start and steps over a 2D grid-stride walk, read once per kernel.
struct Stride {
    int x0, y0, dx, dy;
};
__device__ __forceinline__ Stride GridStride() {
    return Stride{int(blockIdx.x * blockDim.x + threadIdx.x), int(blockIdx.y * blockDim.y + threadIdx.y),
                  int(gridDim.x * blockDim.x), int(gridDim.y * blockDim.y)};
}

// A float truncated toward zero, then clamped to a byte.
__device__ __forceinline__ u8 SaturateByte(float v) {
    return static_cast<u8>(kl::min(kl::max(kl::f2i_rz(v), 0), 255));
}

// floor(n / 255) for any non-negative 32-bit n: the high word of n * 0x80808081, >> 7.
__host__ __device__ __forceinline__ unsigned Div255(unsigned n) {
    return static_cast<unsigned>((static_cast<unsigned long long>(n) * 0x80808081u) >> 39);
}

// A chroma difference loses one unit toward zero: differences within one count as none.
__device__ __forceinline__ float DeadZone(float d) {
    return d >= 0.0f ? kl::max(0.0f, d - 1.0f) : kl::min(0.0f, d + 1.0f);
}

// The distance term of a key mask: a power of the distance when e is above 1, otherwise
// proportional to it.
__device__ __forceinline__ float Term(float d, float e, float linScale, float powScale) {
    return e > 1.0f ? powf(d, e) * powScale : d * linScale;
}

// The mask byte of one pixel. The chroma term alone decides whether the pixel is kept
// whole (255); the product rule then scales the colour term by the chroma term.
template <bool kProduct>
__device__ __forceinline__ u8 KeyMaskByte(const u8* p, float e, float keyY, float keyU, float keyV,
                                          float linScale, float lumaWeight, float powScale) {
    const float u = float(p[1] - 128), v = float(p[2] - 128);
    const float du = DeadZone(u - keyU), dv = DeadZone(v - keyV);
    const float d2 = fmaf(du, du, dv * dv);
    const float t1 = Term(sqrtf(d2), e, linScale, powScale);
    if (!(t1 < 1.0f)) return 255;
    const float dy = (float(p[0]) - keyY) * lumaWeight;
    const float dF = sqrtf(fmaf(dy, dy, d2));
    float t2;
    if (kProduct)
        t2 = e > 1.0f ? t1 * powf(dF, e) * powScale : t1 * dF * linScale;
    else
        t2 = Term(dF, e, linScale, powScale);
    if (!(t2 < 1.0f)) return 255;
    return SaturateByte(t2 * 255.0f);
}

template <bool kProduct>
__device__ void KeyMask(int w, int h, float e, float keyY, float keyU, float keyV, float linScale,
                        float lumaWeight, float powScale, const void* src, int srcPitch,
                        void* mask, int maskPitch) {
    u8* const m = static_cast<u8*>(mask);
    const Stride t = GridStride();
    for (int y = t.y0; y < h; y += t.dy)
        for (int x = t.x0; x < w; x += t.dx)
            m[MaskOffset(maskPitch, x, y)] = KeyMaskByte<kProduct>(
                Pixel(src, srcPitch, x, y), e, keyY, keyU, keyV, linScale, lumaWeight, powScale);
}

// Per-pixel mask combinations: each writes only the bytes it names.
struct AlphaByMask {
    __device__ static void Apply(u8* p, unsigned m) { p[3] = u8(Div255(p[3] * m)); }
};
struct AlphaByInverseMask {
    __device__ static void Apply(u8* p, unsigned m) { p[3] = u8(Div255(p[3] * (255u - m))); }
};
struct ShowMask {
    __device__ static void Apply(u8* p, unsigned m) {
        *reinterpret_cast<uint32_t*>(p) = m | 128u << 8 | 128u << 16 | 255u << 24;
    }
};
struct ShowInverseMask {
    __device__ static void Apply(u8* p, unsigned m) { ShowMask::Apply(p, 255u - m); }
};
// Chroma c weighted by k against grey (128) weighted by 255 - k, rounded.
__device__ __forceinline__ u8 FadeTowardGrey(unsigned c, unsigned k) {
    return u8(Div255(c * k + 128u * (255u - k) + 128u));
}
struct FadeChroma {
    __device__ static void Apply(u8* p, unsigned m) {
        p[1] = FadeTowardGrey(p[1], m);
        p[2] = FadeTowardGrey(p[2], m);
    }
};
struct FadeChromaInverse {
    __device__ static void Apply(u8* p, unsigned m) { FadeChroma::Apply(p, 255u - m); }
};

template <class Op>
__device__ void ApplyMask(int w, int h, void* frame, int framePitch, const void* mask,
                          int maskPitch) {
    const u8* const m = static_cast<const u8*>(mask);
    const Stride t = GridStride();
    for (int y = t.y0; y < h; y += t.dy)
        for (int x = t.x0; x < w; x += t.dx)
            Op::Apply(Pixel(frame, framePitch, x, y), m[MaskOffset(maskPitch, x, y)]);
}

}  // namespace

#define TVF2_KEY_MASK_PARAMS                                                                  \
    int w, int h, float /*reserved*/, float e, float keyY, float keyU, float keyV,           \
        float linScale, float lumaWeight, float powScale, const void *src, int srcPitch,     \
        void *mask, int maskPitch
#define TVF2_KEY_MASK_ARGS \
    w, h, e, keyY, keyU, keyV, linScale, lumaWeight, powScale, src, srcPitch, mask, maskPitch

__global__ void J100(TVF2_KEY_MASK_PARAMS) { KeyMask<true>(TVF2_KEY_MASK_ARGS); }
__global__ void J101(TVF2_KEY_MASK_PARAMS) { KeyMask<false>(TVF2_KEY_MASK_ARGS); }

// Removes the component of each pixel's chroma along the key's chroma direction (only
// where it points the key's way), scaled per channel; within the radius or everywhere.
__global__ void J110(int w, int h, float radius, float keyU, float keyV, float strengthU,
                     float strengthV, bool all, void* frame, int pitch) {
    const Stride t = GridStride();
    for (int y = t.y0; y < h; y += t.dy)
        for (int x = t.x0; x < w; x += t.dx) {
            u8* p = Pixel(frame, pitch, x, y);
            const float u = float(p[1] - 128), v = float(p[2] - 128);
            const float dist = sqrtf(fmaf(u - keyU, u - keyU, (v - keyV) * (v - keyV)));
            if (!all && !(dist < radius)) continue;
            const float proj = fmaf(u, keyU, v * keyV);
            if (!(proj >= 0.0f)) continue;
            const u8 nu = SaturateByte(float(p[1]) - proj * strengthU);
            const u8 nv = SaturateByte(float(p[2]) - proj * strengthV);
            p[1] = nu;
            p[2] = nv;
        }
}

#define TVF2_MASK_APPLY_PARAMS \
    int w, int h, void *frame, int framePitch, const void *mask, int maskPitch
#define TVF2_MASK_APPLY_ARGS w, h, frame, framePitch, mask, maskPitch

__global__ void J120(TVF2_MASK_APPLY_PARAMS) { ApplyMask<AlphaByMask>(TVF2_MASK_APPLY_ARGS); }
__global__ void J121(TVF2_MASK_APPLY_PARAMS) { ApplyMask<AlphaByInverseMask>(TVF2_MASK_APPLY_ARGS); }
__global__ void J122(TVF2_MASK_APPLY_PARAMS) { ApplyMask<ShowMask>(TVF2_MASK_APPLY_ARGS); }
__global__ void J123(TVF2_MASK_APPLY_PARAMS) { ApplyMask<ShowInverseMask>(TVF2_MASK_APPLY_ARGS); }
__global__ void J124(TVF2_MASK_APPLY_PARAMS) { ApplyMask<FadeChroma>(TVF2_MASK_APPLY_ARGS); }
__global__ void J125(TVF2_MASK_APPLY_PARAMS) { ApplyMask<FadeChromaInverse>(TVF2_MASK_APPLY_ARGS); }

namespace {

bool FrameValid(int w, int h, const void* p, int pitch, int bytesPerPixel) {
    return w >= 0 && h >= 0 && p && pitch >= static_cast<long long>(w) * bytesPerPixel &&
           (bytesPerPixel == 1 || PixelsAligned(p, pitch));
}

// Mask bytes are addressed by a 32-bit offset: a mask whose last byte lies beyond
// INT_MAX cannot be reached, and the wrapped offset would land outside the mask (before
// it, even). Such a mask (over 2 GiB) is refused rather than half written.
bool MaskValid(int w, int h, const void* p, int pitch) {
    return FrameValid(w, h, p, pitch, 1) &&
           (w == 0 || h == 0 || (h - 1LL) * pitch + (w - 1) <= INT_MAX);
}

dim3 Grid(const LaunchShape& s) { return dim3(s.gridX, s.gridY); }
dim3 Block(const LaunchShape& s) { return dim3(s.blockX, s.blockY); }

}  // namespace

cudaError_t LaunchKeyMask(KeyMaskRule rule, const KeyMaskArgs& a) {
    if (!FrameValid(a.w, a.h, a.src, a.srcPitch, 4) || !MaskValid(a.w, a.h, a.mask, a.maskPitch))
        return cudaErrorInvalidValue;
    const LaunchShape s = GridBlock(a.w, a.h);
#define TVF2_LAUNCH_KEY_MASK(kernel)                                                          \
    kl::launch<kernel>(Grid(s), Block(s), 0, a.w, a.h, a.reserved, a.e, a.keyY, a.keyU, a.keyV, \
                       a.linScale, a.lumaWeight, a.powScale, a.src, a.srcPitch, a.mask,        \
                       a.maskPitch)
    rule == KeyMaskRule::Product ? TVF2_LAUNCH_KEY_MASK(J100) : TVF2_LAUNCH_KEY_MASK(J101);
#undef TVF2_LAUNCH_KEY_MASK
    return cudaGetLastError();
}

cudaError_t LaunchSuppressKeyChroma(const SuppressArgs& a) {
    if (!FrameValid(a.w, a.h, a.frame, a.pitch, 4)) return cudaErrorInvalidValue;
    const LaunchShape s = GridBlock(a.w, a.h);
    kl::launch<J110>(Grid(s), Block(s), 0, a.w, a.h, a.radius, a.keyU, a.keyV, a.strengthU,
                     a.strengthV, a.all, a.frame, a.pitch);
    return cudaGetLastError();
}

cudaError_t LaunchMaskApply(MaskApply op, const MaskApplyArgs& a) {
    if (!FrameValid(a.w, a.h, a.frame, a.framePitch, 4) || !MaskValid(a.w, a.h, a.mask, a.maskPitch))
        return cudaErrorInvalidValue;
    const LaunchShape s = GridBlock(a.w, a.h);
#define TVF2_LAUNCH_MASK_APPLY(kernel) \
    kl::launch<kernel>(Grid(s), Block(s), 0, a.w, a.h, a.frame, a.framePitch, a.mask, a.maskPitch)
    switch (op) {
    case MaskApply::AlphaByMask: TVF2_LAUNCH_MASK_APPLY(J120); break;
    case MaskApply::AlphaByInverseMask: TVF2_LAUNCH_MASK_APPLY(J121); break;
    case MaskApply::ShowMask: TVF2_LAUNCH_MASK_APPLY(J122); break;
    case MaskApply::ShowInverseMask: TVF2_LAUNCH_MASK_APPLY(J123); break;
    case MaskApply::FadeChroma: TVF2_LAUNCH_MASK_APPLY(J124); break;
    case MaskApply::FadeChromaInverse: TVF2_LAUNCH_MASK_APPLY(J125); break;
    }
#undef TVF2_LAUNCH_MASK_APPLY
    return cudaGetLastError();
}

}  // namespace tvf2
