#include "convolution/unsharp.h"

#include "convolution/line_filter.h"
#include "convolution/weight_table.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace conv {
namespace {

// Row pass results in the intermediate: rounded, low 8 bits kept (no clamping).
struct BlurC32 : OutLine {
    __device__ void Put(int p, const PlainSum<3>& acc, const Pix8&) const {
        u8* q = At(p);
        for (int i = 0; i < 3; ++i) q[i] = LowByteRounded(acc.v[i]);
    }
};
struct BlurC32A : OutLine {
    __device__ void Put(int p, const AlphaSum23& acc, const Pix8&) const {
        u8* q = At(p);
        for (int i = 0; i < 3; ++i) q[i] = LowByteRounded(acc.s[i] / acc.a);
        q[3] = LowByteRounded(acc.a);
    }
};

// o + (o - b) * f as one fused multiply-add, rounded and clamped to a byte.
__device__ __forceinline__ u8 Sharpen(float o, float b, float f) {
    return static_cast<u8>(ClampedByteRounded(fmaf(o - b, f, o)));
}

// Column pass results: the blur b (unrounded) against the source pixel o.
struct SharpenBase : OutLine {
    LineIn orig;
    float f;
};
struct SharpenC32 : SharpenBase {
    __device__ void Put(int p, const PlainSum<3>& acc, const Pix8&) const {
        const Pix8 o = LoadSample<Pix8>(orig.base + p * orig.step);
        u8 out[3];
        for (int i = 0; i < 3; ++i) out[i] = Sharpen(o.v[i], acc.v[i], f);
        u8* q = At(p);  // written after the source pixel is read: dst may be src
        for (int i = 0; i < 3; ++i) q[i] = out[i];
    }
};
struct SharpenC32A : SharpenBase {
    __device__ void Put(int p, const AlphaSum23& acc, const Pix8&) const {
        const Pix8 o = LoadSample<Pix8>(orig.base + p * orig.step);
        u8 out[4];
        for (int i = 0; i < 3; ++i) out[i] = Sharpen(o.v[i], acc.s[i] / acc.a, f);
        out[3] = Sharpen(o.v[3], acc.a, f);
        u8* q = At(p);
        for (int i = 0; i < 4; ++i) q[i] = out[i];
    }
};

template <class A, class Sharp>
struct ColumnPass {
    typedef Pix8 Sample;
    typedef A Acc;
    typedef Sharp SinkT;
    LineMap mid, dst, src;
    float f;
    __device__ LineIn In(int l) const { return mid.In(l); }
    __device__ Sharp SinkFor(int l) const {
        Sharp s;
        s.base = dst.Out(l);
        s.step = dst.step;
        s.orig = src.In(l);
        s.f = f;
        return s;
    }
};

// Rows of src into mid; columns of mid, blended with src, into dst.
template <class A, class Blur, Form F>
__device__ void BlurRows(int w, int h, const float* table, int n, int r, void* mid, int midPitch,
                         const void* src, int srcPitch) {
    LinePass<Pix8, A, Blur> pass{{Bytes(src), srcPitch, 4}, {Bytes(mid), midPitch, 4}};
    RunPass<F, Axis::Rows>(pass, h, w, r, table, n);
}
template <class A, class Sharp, Form F>
__device__ void SharpenColumns(int w, int h, const float* table, int n, int r, float f, void* dst,
                               int dstPitch, const void* mid, int midPitch, const void* src,
                               int srcPitch) {
    ColumnPass<A, Sharp> pass{{Bytes(mid), 4, midPitch}, {Bytes(dst), 4, dstPitch}, {Bytes(src), 4, srcPitch}, f};
    RunPass<F, Axis::Columns>(pass, w, h, r, table, n);
}

}  // namespace
}  // namespace conv

using namespace conv;

#define TVF2_UNSHARP_ROWS(name, A, Blur, F)                                                    \
    __global__ void name(int w, int h, const float* table, int r, void* mid, int midPitch,    \
                         const void* src, int srcPitch) {                                     \
        BlurRows<A, Blur, F>(w, h, table, 0, r, mid, midPitch, src, srcPitch);                \
    }
#define TVF2_UNSHARP_ROWS_TABLE(name, A, Blur)                                                 \
    __global__ void name(int w, int h, const float* table, int n, int r, void* mid,           \
                         int midPitch, const void* src, int srcPitch) {                       \
        BlurRows<A, Blur, Form::RingTable>(w, h, table, n, r, mid, midPitch, src, srcPitch);  \
    }
#define TVF2_UNSHARP_COLUMNS(name, A, Sharp, F)                                                 \
    __global__ void name(int w, int h, const float* table, int r, float f, void* dst,          \
                         int dstPitch, const void* mid, int midPitch, const void* src,         \
                         int srcPitch) {                                                       \
        SharpenColumns<A, Sharp, F>(w, h, table, 0, r, f, dst, dstPitch, mid, midPitch, src,   \
                                    srcPitch);                                                 \
    }
#define TVF2_UNSHARP_COLUMNS_TABLE(name, A, Sharp)                                                     \
    __global__ void name(int w, int h, const float* table, int n, int r, float f, void* dst,          \
                         int dstPitch, const void* mid, int midPitch, const void* src,                \
                         int srcPitch) {                                                              \
        SharpenColumns<A, Sharp, Form::RingTable>(w, h, table, n, r, f, dst, dstPitch, mid, midPitch, \
                                                  src, srcPitch);                                     \
    }

TVF2_UNSHARP_ROWS(H100, PlainSum<3>, BlurC32, Form::Global)
TVF2_UNSHARP_ROWS(H102, PlainSum<3>, BlurC32, Form::Ring)
TVF2_UNSHARP_ROWS_TABLE(H104, PlainSum<3>, BlurC32)
TVF2_UNSHARP_COLUMNS(H101, PlainSum<3>, SharpenC32, Form::Global)
TVF2_UNSHARP_COLUMNS(H103, PlainSum<3>, SharpenC32, Form::Ring)
TVF2_UNSHARP_COLUMNS_TABLE(H105, PlainSum<3>, SharpenC32)

TVF2_UNSHARP_ROWS(H110, AlphaSum23, BlurC32A, Form::Global)
TVF2_UNSHARP_ROWS(H112, AlphaSum23, BlurC32A, Form::Ring)
TVF2_UNSHARP_ROWS_TABLE(H114, AlphaSum23, BlurC32A)
TVF2_UNSHARP_COLUMNS(H111, AlphaSum23, SharpenC32A, Form::Global)
TVF2_UNSHARP_COLUMNS(H113, AlphaSum23, SharpenC32A, Form::Ring)
TVF2_UNSHARP_COLUMNS_TABLE(H115, AlphaSum23, SharpenC32A)

namespace {

constexpr int kSlotBytes = 4;   // one pixel per ring slot
constexpr unsigned kMaxGrid = 1000;

bool Aligned(const void* p, int bytes) {
    return reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(bytes) == 0;
}

unsigned Blocks(int lines) {
    const unsigned n = static_cast<unsigned>((static_cast<long long>(lines) + kLineThreads - 1) / kLineThreads);
    return n < kMaxGrid ? n : kMaxGrid;
}

template <auto G, auto R, auto T>
void LaunchRows(const UnsharpArgs& a, const UnsharpPlan& p) {
    switch (p.rows) {
    case Form::Global:
        kl::launch<G>(p.hGrid, p.hBlock, 0, a.width, a.height, a.hWeights, a.radius, a.mid,
                      a.midPitch, a.src, a.srcPitch);
        break;
    case Form::Ring:
        kl::launch<R>(p.hGrid, p.hBlock, p.hShared, a.width, a.height, a.hWeights, a.radius, a.mid,
                      a.midPitch, a.src, a.srcPitch);
        break;
    case Form::RingTable:
        kl::launch<T>(p.hGrid, p.hBlock, p.hShared, a.width, a.height, a.hWeights, a.hCount,
                      a.radius, a.mid, a.midPitch, a.src, a.srcPitch);
        break;
    }
}

template <auto G, auto R, auto T>
void LaunchColumns(const UnsharpArgs& a, const UnsharpPlan& p) {
    switch (p.columns) {
    case Form::Global:
        kl::launch<G>(p.vGrid, p.vBlock, 0, a.width, a.height, a.vWeights, a.radius, p.f, a.dst,
                      a.dstPitch, a.mid, a.midPitch, a.src, a.srcPitch);
        break;
    case Form::Ring:
        kl::launch<R>(p.vGrid, p.vBlock, p.vShared, a.width, a.height, a.vWeights, a.radius, p.f,
                      a.dst, a.dstPitch, a.mid, a.midPitch, a.src, a.srcPitch);
        break;
    case Form::RingTable:
        kl::launch<T>(p.vGrid, p.vBlock, p.vShared, a.width, a.height, a.vWeights, a.vCount,
                      a.radius, p.f, a.dst, a.dstPitch, a.mid, a.midPitch, a.src, a.srcPitch);
        break;
    }
}

}  // namespace

bool UnsharpArgsValid(const UnsharpArgs& a) {
    if (a.width < 0 || a.height < 0 || a.radius < 0) return false;
    if (!a.dst || !a.src || !a.mid || !a.hWeights || !a.vWeights) return false;
    const long long row = 4LL * a.width;
    for (int pitch : {a.dstPitch, a.srcPitch, a.midPitch})
        if (pitch < row || pitch % 4) return false;
    if (!Aligned(a.hWeights, 4) || !Aligned(a.vWeights, 4)) return false;
    return a.hCount >= WeightTableEntries(a.width, a.radius) &&
           a.vCount >= WeightTableEntries(a.height, a.radius);
}

UnsharpPlan PlanUnsharp(const UnsharpArgs& a) {
    const long long ring = RingBytes(a.radius, kSlotBytes);
    UnsharpPlan p;
    p.rows = PickForm(ring, a.hCount);
    p.columns = PickForm(ring, a.vCount);
    p.hShared = SharedBytes(p.rows, ring, a.hCount);
    p.vShared = SharedBytes(p.columns, ring, a.vCount);
    p.hGrid = dim3(1, Blocks(a.height));
    p.hBlock = dim3(1, kLineThreads);
    p.vGrid = dim3(Blocks(a.width), 1);
    p.vBlock = dim3(kLineThreads, 1);
    p.f = static_cast<float>(a.amount) * 0.00390625f;
    return p;
}

cudaError_t LaunchUnsharp(bool alpha, const UnsharpArgs& a) {
    if (!UnsharpArgsValid(a)) return cudaErrorInvalidValue;
    const UnsharpPlan p = PlanUnsharp(a);
    alpha ? LaunchRows<H110, H112, H114>(a, p) : LaunchRows<H100, H102, H104>(a, p);
    const cudaError_t status = cudaGetLastError();
    if (status != cudaSuccess) return status;
    alpha ? LaunchColumns<H111, H113, H115>(a, p) : LaunchColumns<H101, H103, H105>(a, p);
    return cudaGetLastError();
}

}  // namespace tvf2
