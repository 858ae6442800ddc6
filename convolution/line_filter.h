// The line filter shared by every separable pass: one procedure over one line of N
// samples with a caller-built weight table, used by all kernel forms and pixel layouts.
//
// Table order (one running cursor): the border windows of the left positions
// 0 .. min(R, N)-1, each over its taps max(0, p-R) .. min(N-1, p+R); then, only when
// N >= 2R+1, one symmetric centre window of 2R+1 weights whose first R+1 serve every
// position R .. N-R-1 (offset -d and +d share a weight); then the border windows of
// the remaining positions. A line shorter than 2R+1 has no centre window, so the right
// windows follow the left ones directly.
//
// The pieces a pass plugs in:
//   Samples  where sample t comes from: straight from memory, or from the thread's
//            ring in shared memory (Begin, Advance(p) before each position, At(t));
//   Acc      the per-position sums: Start, Tap (one sample), Pair (the two samples at
//            equal distance from a centre position);
//   Sink     what is written for a finished position: Put(p, acc, sample p).
// The forms differ only in Samples and in where the weights live; the layouts only in
// Acc and Sink. The order of positions, taps and table entries is fixed here.
#ifndef TVF2_CONVOLUTION_LINE_FILTER_H
#define TVF2_CONVOLUTION_LINE_FILTER_H

#include "convolution/forms.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace conv {

typedef unsigned char u8;

// Pixel storage as the frames hold it (lane 0 at the lowest address).
struct Pix8 {
    u8 v[4];
};
struct Pix16 {
    short v[4];
};
static_assert(sizeof(Pix8) == 4 && sizeof(Pix16) == 8, "pixel storage sizes");

// Every sample kind as an exact float, lane by lane (scalars have lane 0 only).
__host__ __device__ __forceinline__ float LaneF(const Pix8& s, int i) { return float(s.v[i]); }
__host__ __device__ __forceinline__ float LaneF(const Pix16& s, int i) { return float(s.v[i]); }
__host__ __device__ __forceinline__ float LaneF(u8 s, int) { return float(s); }
__host__ __device__ __forceinline__ float LaneF(short s, int) { return float(s); }
__host__ __device__ __forceinline__ float LaneF(float s, int) { return s; }

// Loads one sample from memory. Byte-wise for 8-bit pixels: frames need no alignment
// beyond their lane size.
template <class S>
__device__ __forceinline__ S LoadSample(const u8* p) {
    return *reinterpret_cast<const S*>(p);
}
template <>
__device__ __forceinline__ Pix8 LoadSample<Pix8>(const u8* p) {
    Pix8 s;
    for (int i = 0; i < 4; ++i) s.v[i] = p[i];
    return s;
}
template <>
__device__ __forceinline__ Pix16 LoadSample<Pix16>(const u8* p) {
    const short* q = reinterpret_cast<const short*>(p);
    Pix16 s;
    for (int i = 0; i < 4; ++i) s.v[i] = q[i];
    return s;
}

// Conversions of a sum to a lane value.
__host__ __device__ __forceinline__ u8 LowByteRounded(float v) {  // no clamping: wraps
    return static_cast<u8>(kl::f2i_rz(v + 0.5f));
}
__host__ __device__ __forceinline__ u8 LowByteTruncated(float v) {
    return static_cast<u8>(kl::f2i_rz(v));
}
__host__ __device__ __forceinline__ short SaturatedShort(float v) {
    return static_cast<short>(kl::min(kl::max(kl::f2i_rz(v), -32768), 32767));
}
__host__ __device__ __forceinline__ int ClampedByteRounded(float v) {
    return kl::min(kl::max(kl::f2i_rz(v + 0.5f), 0), 255);
}

// A line in memory: sample t at base + t * step bytes.
struct LineIn {
    const u8* base;
    long long step;
};

// Frames travel as untyped pointers; lines address them bytewise.
__host__ __device__ __forceinline__ u8* Bytes(const void* p) {
    return static_cast<u8*>(const_cast<void*>(p));
}

// A frame seen as lines: position p of line l at base + l * line + p * step.
struct LineMap {
    u8* base;
    long long line, step;
    __device__ LineIn In(int l) const { return LineIn{base + l * line, step}; }
    __device__ u8* Out(int l) const { return base + l * line; }
};

// Where a sink writes position p of its line.
struct OutLine {
    u8* base;
    long long step;
    __device__ u8* At(int p) const { return base + p * step; }
};

// A pass over lines: samples of line l from `in`, results through the sink of line l
// of `out`.
template <class S, class A, class K>
struct LinePass {
    typedef S Sample;
    typedef A Acc;
    typedef K SinkT;
    LineMap in, out;
    __device__ LineIn In(int l) const { return in.In(l); }
    __device__ K SinkFor(int l) const {
        K k;
        k.base = out.Out(l);
        k.step = out.step;
        return k;
    }
};

// Samples straight from memory.
template <class S>
struct DirectSamples {
    typedef S Sample;
    LineIn line;
    __device__ void Begin(int, int) {}
    __device__ void Advance(int) {}
    __device__ S At(int t) const { return LoadSample<S>(line.base + t * line.step); }
};

// Samples from the thread's ring of 2R+1 slots in shared memory: each sample of the
// line is read from memory once. Before position p the ring receives sample
// min(N-1, p+R) (the last sample repeats near the end, which keeps the slots in step);
// sample t then lies at slot (t - p + c) mod (2R+1), where c is the slot of sample p.
template <class S>
struct RingSamples {
    typedef S Sample;
    LineIn line;
    S* ring;
    int size, next, centre, pos, last, radius;

    __device__ void Begin(int n, int r) {
        size = 2 * r + 1;
        last = n - 1;
        radius = r;
        next = 0;
        centre = size - 1;  // the first Advance moves it to slot 0
        for (int t = 0; t < kl::min(last, r); ++t) ring[next++] = Load(t);
    }
    __device__ void Advance(int p) {
        ring[next] = Load(radius >= last - p ? last : p + radius);
        next = next + 1 == size ? 0 : next + 1;
        centre = centre + 1 == size ? 0 : centre + 1;
        pos = p;
    }
    __device__ S At(int t) const {
        int k = t - pos + centre;
        if (k < 0)
            k += size;
        else if (k >= size)
            k -= size;
        return ring[k];
    }
    __device__ S Load(int t) const { return LoadSample<S>(line.base + t * line.step); }
};

// Taps of a border position p: max(0, p-R) .. min(N-1, p+R), free of overflow for any R.
__host__ __device__ __forceinline__ int FirstTap(int p, int r) { return r > p ? 0 : p - r; }
__host__ __device__ __forceinline__ int LastTap(int p, int r, int n) {
    return r >= n - 1 - p ? n - 1 : p + r;
}

template <class Acc, class Samples, class Sink>
__device__ __forceinline__ void BorderPosition(int p, int n, int r, const float* w, int& k,
                                               Samples& s, Sink& sink) {
    s.Advance(p);
    Acc acc;
    acc.Start();
    const int hi = LastTap(p, r, n);
    for (int t = FirstTap(p, r); t <= hi; ++t) acc.Tap(w[k++], s.At(t));
    sink.Put(p, acc, s.At(p));
}

// Filters one line of n samples with radius r and weight table w.
template <class Acc, class Samples, class Sink>
__device__ void FilterLine(int n, int r, const float* w, Samples& s, Sink& sink) {
    s.Begin(n, r);
    int k = 0, p = 0;
    for (; p < r && p < n; ++p) BorderPosition<Acc>(p, n, r, w, k, s, sink);
    const int c = k;
    for (; p < n - r; ++p) {
        s.Advance(p);
        Acc acc;
        acc.Start();
        for (int j = 0; j < r; ++j) acc.Pair(w[c + j], s.At(p - r + j), s.At(p + r - j));
        const typename Samples::Sample centre = s.At(p);
        acc.Tap(w[c + r], centre);
        sink.Put(p, acc, centre);
    }
    if (2LL * r + 1 <= n) k = c + 2 * r + 1;
    for (; p < n; ++p) BorderPosition<Acc>(p, n, r, w, k, s, sink);
}

// Sums of K lanes, each tap one fused multiply-add; a centre pair is added first.
template <int K>
struct PlainSum {
    float v[K];
    __device__ void Start() {
        for (int i = 0; i < K; ++i) v[i] = 0.0f;
    }
    template <class S>
    __device__ void Tap(float w, const S& s) {
        for (int i = 0; i < K; ++i) v[i] = fmaf(w, LaneF(s, i), v[i]);
    }
    template <class S>
    __device__ void Pair(float w, const S& l, const S& r) {
        for (int i = 0; i < K; ++i) v[i] = fmaf(w, LaneF(l, i) + LaneF(r, i), v[i]);
    }
};

// Alpha-weighted sums: colour lanes 0-2 weighted by the sample's own alpha (lane 3),
// and the weighted alpha itself, which starts at a tiny positive value so that a fully
// transparent window divides 0 by it instead of by 0.
template <unsigned AlphaStartBits>
struct AlphaSum {
    float s[3], a;
    __device__ void Start() {
        for (int i = 0; i < 3; ++i) s[i] = 0.0f;
        a = AlphaStart();
    }
    template <class S>
    __device__ void Tap(float w, const S& x) {
        const float al = LaneF(x, 3);
        for (int i = 0; i < 3; ++i) s[i] = fmaf(w * LaneF(x, i), al, s[i]);
        a = fmaf(w, al, a);
    }
    template <class S>
    __device__ void Pair(float w, const S& l, const S& r) {
        const float la = LaneF(l, 3), ra = LaneF(r, 3);
        for (int i = 0; i < 3; ++i) s[i] = fmaf(w, fmaf(LaneF(l, i), la, LaneF(r, i) * ra), s[i]);
        a = fmaf(w, la + ra, a);
    }
    __host__ __device__ static float AlphaStart() {
        union {
            uint32_t u;
            float f;
        } b = {AlphaStartBits};
        return b.f;
    }
};
typedef AlphaSum<0x25800000u> AlphaSum52;  // 2^-52
typedef AlphaSum<0x34000000u> AlphaSum23;  // 2^-23

// Which axis a block's threads spread along: rows are filtered by threads along y,
// columns by threads along x.
enum class Axis { Rows, Columns };

template <Axis A>
__device__ __forceinline__ int LocalThread() {
    return A == Axis::Rows ? int(threadIdx.y) : int(threadIdx.x);
}
template <Axis A>
__device__ __forceinline__ int FirstLine() {
    return A == Axis::Rows ? int(blockIdx.y * kLineThreads + threadIdx.y)
                           : int(blockIdx.x * kLineThreads + threadIdx.x);
}
template <Axis A>
__device__ __forceinline__ int LineStride() {
    return A == Axis::Rows ? int(gridDim.y * kLineThreads) : int(gridDim.x * kLineThreads);
}

// One pass: every thread filters lines FirstLine, + LineStride, ... below `lines`.
// The table form first copies the count entries of the table into shared memory (the
// table first, the rings after it), all threads of the block taking part and meeting at
// one barrier before any line is filtered. P supplies Sample, Acc, SinkT, In(line) and
// SinkFor(line).
template <Form F, Axis A, class P>
__device__ void RunPass(const P& pass, int lines, int n, int r, const float* weights, int count) {
    typedef typename P::Sample S;
    const float* w = weights;
    S* ring = nullptr;
    if constexpr (F != Form::Global) {
        KL_DYNAMIC_SHARED(u8, shared);
        int tableBytes = 0;
        if constexpr (F == Form::RingTable) {
            float* table = reinterpret_cast<float*>(shared);
            for (int i = LocalThread<A>(); i < count; i += kLineThreads) table[i] = weights[i];
            __syncthreads();
            w = table;
            tableBytes = 4 * count;
        }
        ring = reinterpret_cast<S*>(shared + tableBytes) + LocalThread<A>() * (2 * r + 1);
    }
    for (int line = FirstLine<A>(); line < lines; line += LineStride<A>()) {
        typename P::SinkT sink = pass.SinkFor(line);
        if constexpr (F == Form::Global) {
            DirectSamples<S> s{pass.In(line)};
            FilterLine<typename P::Acc>(n, r, w, s, sink);
        } else {
            RingSamples<S> s;
            s.line = pass.In(line);
            s.ring = ring;
            FilterLine<typename P::Acc>(n, r, w, s, sink);
        }
    }
}

}  // namespace conv
}  // namespace tvf2

#endif
