#include "convolution/detail.h"

#include "convolution/frame_span.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

namespace tvf2 {
namespace detail_add {
namespace {

typedef unsigned char u8;

// Frame samples: their storage and the range a result saturates to.
struct Samples8 {
    typedef u8 T;
    static constexpr int kMin = 0, kMax = 255;
};
struct Samples16 {
    typedef short T;
    static constexpr int kMin = -32768, kMax = 32767;
};

// What of a detail value counts: the excess over the threshold (32-bit, wrapping as on
// the device), nothing when below, at most the limit.
__host__ __device__ __forceinline__ int Thresholded(int d, int threshold, int limit) {
    const int e = static_cast<int>(static_cast<unsigned>(d) - static_cast<unsigned>(threshold));
    return e < 0 ? 0 : kl::min(limit, e);
}

template <class S>
__host__ __device__ __forceinline__ int Saturate(int v) {
    return v < S::kMin ? S::kMin : kl::min(S::kMax, v);
}

// The scaling, fixed once per thread from the amount.
struct FixedPoint {
    int gain;  // amount in 1/2048 units, toward zero, clamped to 16 bits
    __device__ explicit FixedPoint(float amount)
        : gain(kl::min(kl::max(kl::f2i_rz(amount * 2048.0f), -32768), 32767)) {}
    // The shift is unsigned: a negative product becomes a large term.
    __device__ int Add(int s, int v, int) const {
        return s + static_cast<int>(static_cast<unsigned>(kl::wrap_mul(v, gain)) >> 10);
    }
};
struct Weighted {
    float k;  // amount / 4095
    __device__ explicit Weighted(float amount) : k(amount / 4095.0f) {}
    __device__ int Add(int s, int v, int d3) const {
        return kl::wrap_add(s, kl::f2i_rz(float(v) * (k * float(d3))));
    }
};

// Each thread reads its pixel and detail record whole before writing, so the
// destination may be the source.
template <class S, class Scale>
__device__ void AddDetailTo(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch,
                            const void* detail, int detailPitch, float amount, int threshold, int limit) {
    typedef typename S::T T;
    const Scale scale(amount);
    const int x0 = blockIdx.x * blockDim.x + threadIdx.x, dx = gridDim.x * blockDim.x;
    const int y0 = blockIdx.y * blockDim.y + threadIdx.y, dy = gridDim.y * blockDim.y;
    for (int y = y0; y < h; y += dy)
        for (int x = x0; x < w; x += dx) {
            const T* s = reinterpret_cast<const T*>(static_cast<const u8*>(src) +
                                                    static_cast<long long>(y) * srcPitch) + 4LL * x;
            const short* d = reinterpret_cast<const short*>(static_cast<const u8*>(detail) +
                                                            static_cast<long long>(y) * detailPitch) + 4LL * x;
            T in[4];
            short rec[4];
            for (int i = 0; i < 4; ++i) in[i] = s[i], rec[i] = d[i];
            T out[4];
            for (int i = 0; i < 3; ++i)
                out[i] = static_cast<T>(Saturate<S>(scale.Add(in[i], Thresholded(rec[i], threshold, limit), rec[3])));
            out[3] = in[3];
            T* q = reinterpret_cast<T*>(static_cast<u8*>(dst) + static_cast<long long>(y) * dstPitch) + 4LL * x;
            for (int i = 0; i < 4; ++i) q[i] = out[i];
        }
}

}  // namespace
}  // namespace detail_add

using namespace detail_add;

#define TVF2_DETAIL_KERNEL(name, S, Scale)                                                                   \
    __global__ void name(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch,              \
                         const void* detail, int detailPitch, float amount, int threshold, int limit) {    \
        AddDetailTo<S, Scale>(w, h, dst, dstPitch, src, srcPitch, detail, detailPitch, amount, threshold,   \
                              limit);                                                                       \
    }

TVF2_DETAIL_KERNEL(AI100, Samples8, FixedPoint)
TVF2_DETAIL_KERNEL(AI101, Samples8, Weighted)
TVF2_DETAIL_KERNEL(AI102, Samples16, FixedPoint)
TVF2_DETAIL_KERNEL(AI103, Samples16, Weighted)

#undef TVF2_DETAIL_KERNEL

bool DetailArgsValid(bool wide, const DetailArgs& a) {
    if (a.width < 1 || a.height < 1) return true;  // the launch's empty shape decides
    if (!a.dst || !a.src || !a.detail) return false;
    const int bytes = wide ? 8 : 4, lane = wide ? 2 : 1;
    const long long row = static_cast<long long>(a.width) * bytes, detailRow = 8LL * a.width;
    if (a.dstPitch < row || a.srcPitch < row || a.dstPitch % bytes || a.srcPitch % bytes) return false;
    if (a.detailPitch < detailRow || a.detailPitch % 8) return false;
    if (!AlignedTo(a.dst, lane) || !AlignedTo(a.src, lane) || !AlignedTo(a.detail, 2)) return false;
    const FrameSpan dst(a.dst, a.dstPitch, a.width, a.height, bytes);
    if (dst.Overlaps(FrameSpan(a.detail, a.detailPitch, a.width, a.height, 8))) return false;
    const bool inPlace = a.dst == a.src && a.dstPitch == a.srcPitch;
    return inPlace || !dst.Overlaps(FrameSpan(a.src, a.srcPitch, a.width, a.height, bytes));
}

cudaError_t LaunchDetail(bool wide, bool weighted, const DetailArgs& a) {
    if (!DetailArgsValid(wide, a)) return cudaErrorInvalidValue;
    const LaunchShape s = GridBlock(a.width, a.height);
    const dim3 grid(s.gridX, s.gridY), block(s.blockX, s.blockY);
#define TVF2_LAUNCH_DETAIL(kernel)                                                                        \
    kl::launch<kernel>(grid, block, 0, a.width, a.height, a.dst, a.dstPitch, a.src, a.srcPitch, a.detail, \
                       a.detailPitch, a.amount, a.threshold, a.limit)
    if (wide) weighted ? TVF2_LAUNCH_DETAIL(AI103) : TVF2_LAUNCH_DETAIL(AI102);
    else weighted ? TVF2_LAUNCH_DETAIL(AI101) : TVF2_LAUNCH_DETAIL(AI100);
#undef TVF2_LAUNCH_DETAIL
    return cudaGetLastError();
}

}  // namespace tvf2
