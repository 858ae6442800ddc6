#include "convolution/separable.h"

#include "convolution/line_filter.h"
#include "convolution/weight_table.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace conv {
namespace {

// C32: rounded, low 8 bits kept (no clamping); lane 3 carried from the sample.
struct SinkC32 : OutLine {
    __device__ void Put(int p, const PlainSum<3>& acc, const Pix8& centre) const {
        u8* q = At(p);
        for (int i = 0; i < 3; ++i) q[i] = LowByteRounded(acc.v[i]);
        q[3] = centre.v[3];
    }
};

// C64: truncated, saturated to 16 bits; lane 3 carried from the sample.
struct SinkC64 : OutLine {
    __device__ void Put(int p, const PlainSum<3>& acc, const Pix16& centre) const {
        short* q = reinterpret_cast<short*>(At(p));
        for (int i = 0; i < 3; ++i) q[i] = SaturatedShort(acc.v[i]);
        q[3] = centre.v[3];
    }
};

// C32A: colour = sum / alpha, rounded through one fused multiply-add; alpha rounded.
// Both keep their low 8 bits.
struct SinkC32A : OutLine {
    __device__ void Put(int p, const AlphaSum52& acc, const Pix8&) const {
        const float inv = kl::fdividef(1.0f, acc.a);
        u8* q = At(p);
        for (int i = 0; i < 3; ++i) q[i] = LowByteTruncated(fmaf(acc.s[i], inv, 0.5f));
        q[3] = LowByteRounded(acc.a);
    }
};

// C64A: colour = sum / alpha and alpha, truncated and saturated. TruncateSums: the sum
// is first truncated to a whole number, as every C64A kernel but the plain row pass does.
template <bool TruncateSums>
struct SinkC64A : OutLine {
    __device__ void Put(int p, const AlphaSum52& acc, const Pix16&) const {
        const float inv = kl::fdividef(1.0f, acc.a);
        short* q = reinterpret_cast<short*>(At(p));
        for (int i = 0; i < 3; ++i)
            q[i] = SaturatedShort((TruncateSums ? float(kl::f2i_rz(acc.s[i])) : acc.s[i]) * inv);
        q[3] = SaturatedShort(acc.a);
    }
};

// Planes: the row pass keeps the raw float sum; the column pass converts.
struct SinkFloat : OutLine {
    template <class S>
    __device__ void Put(int p, const PlainSum<1>& acc, const S&) const {
        *reinterpret_cast<float*>(At(p)) = acc.v[0];
    }
};
struct SinkP8 : OutLine {
    __device__ void Put(int p, const PlainSum<1>& acc, float) const { *At(p) = LowByteRounded(acc.v[0]); }
};
struct SinkP16 : OutLine {
    __device__ void Put(int p, const PlainSum<1>& acc, float) const {
        *reinterpret_cast<short*>(At(p)) = SaturatedShort(acc.v[0]);
    }
};

// Layouts: the sample, sums and sink of each pass, the bytes of a source/destination
// pixel (B), of a work-area element (E), and of a ring slot as the launcher reserves it.
struct LayoutC32 {
    typedef Pix8 HSample;
    typedef Pix8 VSample;
    typedef PlainSum<3> Acc;
    template <Form>
    using HSink = SinkC32;
    typedef SinkC32 VSink;
    static constexpr int B = 4, E = 4, HSlot = 4, VSlot = 4;
};
struct LayoutC64 {
    typedef Pix16 HSample;
    typedef Pix16 VSample;
    typedef PlainSum<3> Acc;
    template <Form>
    using HSink = SinkC64;
    typedef SinkC64 VSink;
    static constexpr int B = 8, E = 8, HSlot = 8, VSlot = 8;
};
struct LayoutC32A {
    typedef Pix8 HSample;
    typedef Pix8 VSample;
    typedef AlphaSum52 Acc;
    template <Form>
    using HSink = SinkC32A;
    typedef SinkC32A VSink;
    static constexpr int B = 4, E = 4, HSlot = 4, VSlot = 4;
};
struct LayoutC64A {
    typedef Pix16 HSample;
    typedef Pix16 VSample;
    typedef AlphaSum52 Acc;
    template <Form F>
    using HSink = SinkC64A<F != Form::Global>;
    typedef SinkC64A<true> VSink;
    static constexpr int B = 8, E = 8, HSlot = 8, VSlot = 8;
};
// The P8 row pass reserves four bytes per ring slot although its rings hold bytes.
struct LayoutP8 {
    typedef u8 HSample;
    typedef float VSample;
    typedef PlainSum<1> Acc;
    template <Form>
    using HSink = SinkFloat;
    typedef SinkP8 VSink;
    static constexpr int B = 1, E = 4, HSlot = 4, VSlot = 4;
};
struct LayoutP16 {
    typedef short HSample;
    typedef float VSample;
    typedef PlainSum<1> Acc;
    template <Form>
    using HSink = SinkFloat;
    typedef SinkP16 VSink;
    static constexpr int B = 2, E = 4, HSlot = 2, VSlot = 4;
};

template <class L>
constexpr bool SlotsHoldSamples() {
    return sizeof(typename L::HSample) <= L::HSlot && sizeof(typename L::VSample) <= L::VSlot &&
           sizeof(typename L::HSample) == L::B && sizeof(typename L::VSample) == L::E;
}
static_assert(SlotsHoldSamples<LayoutC32>() && SlotsHoldSamples<LayoutC64>() &&
                  SlotsHoldSamples<LayoutC32A>() && SlotsHoldSamples<LayoutC64A>() &&
                  SlotsHoldSamples<LayoutP8>() && SlotsHoldSamples<LayoutP16>(),
              "ring slots as reserved hold the samples");
// The largest ring a form can take stays within the budget: T(R) < 12288 bytes.
static_assert(RingBytes(11, 8) < kSharedBudget && RingBytes(12, 8) >= kSharedBudget, "C64 rings");
static_assert(RingBytes(23, 4) < kSharedBudget && RingBytes(24, 4) >= kSharedBudget, "C32 rings");

// Rows of src into the row-major work area (pitch W * E).
template <class L, Form F>
__device__ void RowPass(const void* src, void* work, int w, int h, int srcPitch, int r,
                        const float* weights, int count) {
    LinePass<typename L::HSample, typename L::Acc, typename L::template HSink<F>> pass{
        {Bytes(src), srcPitch, L::B}, {Bytes(work), static_cast<long long>(w) * L::E, L::E}};
    RunPass<F, Axis::Rows>(pass, h, w, r, weights, count);
}

// Columns of the work area into out: position y of column x at x * line + y * step.
template <class L, Form F>
__device__ void ColumnPass(const void* work, void* out, long long line, long long step, int w,
                           int h, int r, const float* weights, int count) {
    LinePass<typename L::VSample, typename L::Acc, typename L::VSink> pass{
        {Bytes(work), L::E, static_cast<long long>(w) * L::E}, {Bytes(out), line, step}};
    RunPass<F, Axis::Columns>(pass, w, h, r, weights, count);
}

// The column-major area (column x at x * srcPitch) into dst in 16x16 tiles: a tile is
// read down its columns, which are contiguous, and written along its rows.
template <class Px>
__device__ void TransposeTiles(void* dst, int dstPitch, int w, int h, const void* src, int srcPitch) {
    KL_DYNAMIC_SHARED(Px, tile);  // 16 x 16 pixels
    const int tx = threadIdx.x, ty = threadIdx.y;
    for (int y0 = blockIdx.y * 16; y0 < h; y0 += gridDim.y * 16)
        for (int x0 = blockIdx.x * 16; x0 < w; x0 += gridDim.x * 16) {
            const int xs = x0 + ty, ys = y0 + tx;
            if (xs < w && ys < h)
                tile[ty * 16 + tx] =
                    LoadSample<Px>(Bytes(src) + static_cast<long long>(xs) * srcPitch + ys * int(sizeof(Px)));
            __syncthreads();
            const int xd = x0 + tx, yd = y0 + ty;
            if (xd < w && yd < h)
                *reinterpret_cast<Px*>(Bytes(dst) + static_cast<long long>(yd) * dstPitch +
                                       xd * int(sizeof(Px))) = tile[tx * 16 + ty];
            __syncthreads();
        }
}

}  // namespace
}  // namespace conv

using namespace conv;

// Kernels. Row passes: (src, work, W, H, srcPitch, R, weights[, count]). Column passes
// into dst: (work, dst, W, H, dstPitch, R, weights[, count]); into the column-major
// area: (work, area 2, W, H, R, weights[, count]). Transposes: (dst, dstPitch, W, H,
// area 2, its pitch H * B, H, W).
#define TVF2_CONV_ROW(name, L, F)                                                        \
    __global__ void name(const void* src, void* work, int w, int h, int srcPitch, int r,  \
                         const float* weights) {                                          \
        RowPass<L, F>(src, work, w, h, srcPitch, r, weights, 0);                          \
    }
#define TVF2_CONV_ROW_TABLE(name, L)                                                      \
    __global__ void name(const void* src, void* work, int w, int h, int srcPitch, int r,  \
                         const float* weights, int count) {                               \
        RowPass<L, Form::RingTable>(src, work, w, h, srcPitch, r, weights, count);        \
    }
#define TVF2_CONV_COLUMN(name, L, F)                                                      \
    __global__ void name(const void* work, void* dst, int w, int h, int dstPitch, int r,  \
                         const float* weights) {                                          \
        ColumnPass<L, F>(work, dst, L::B, dstPitch, w, h, r, weights, 0);                 \
    }
#define TVF2_CONV_COLUMN_TABLE(name, L)                                                   \
    __global__ void name(const void* work, void* dst, int w, int h, int dstPitch, int r,  \
                         const float* weights, int count) {                               \
        ColumnPass<L, Form::RingTable>(work, dst, L::B, dstPitch, w, h, r, weights, count); \
    }
#define TVF2_CONV_COLUMN_T(name, L)                                                              \
    __global__ void name(const void* work, void* area2, int w, int h, int r,                     \
                         const float* weights) {                                                 \
        ColumnPass<L, Form::Ring>(work, area2, static_cast<long long>(h) * L::B, L::B, w, h, r,  \
                                  weights, 0);                                                   \
    }
#define TVF2_CONV_COLUMN_T_TABLE(name, L)                                                        \
    __global__ void name(const void* work, void* area2, int w, int h, int r,                     \
                         const float* weights, int count) {                                      \
        ColumnPass<L, Form::RingTable>(work, area2, static_cast<long long>(h) * L::B, L::B, w, \
                                       h, r, weights, count);                                    \
    }

TVF2_CONV_ROW(L100, LayoutC32, Form::Global)
TVF2_CONV_ROW(L102, LayoutC32, Form::Ring)
TVF2_CONV_ROW_TABLE(L104, LayoutC32)
TVF2_CONV_COLUMN(L101, LayoutC32, Form::Global)
TVF2_CONV_COLUMN_T(L103, LayoutC32)
TVF2_CONV_COLUMN_T_TABLE(L105, LayoutC32)
__global__ void L106(void* dst, int dstPitch, int w, int h, const void* area2, int areaPitch, int, int) {
    TransposeTiles<Pix8>(dst, dstPitch, w, h, area2, areaPitch);
}

TVF2_CONV_ROW(AF100, LayoutC64, Form::Global)
TVF2_CONV_ROW(AF102, LayoutC64, Form::Ring)
TVF2_CONV_ROW_TABLE(AF104, LayoutC64)
TVF2_CONV_COLUMN(AF101, LayoutC64, Form::Global)
TVF2_CONV_COLUMN_T(AF103, LayoutC64)
TVF2_CONV_COLUMN_T_TABLE(AF105, LayoutC64)
__global__ void AF106(void* dst, int dstPitch, int w, int h, const void* area2, int areaPitch, int, int) {
    TransposeTiles<Pix16>(dst, dstPitch, w, h, area2, areaPitch);
}

TVF2_CONV_ROW(M100, LayoutC32A, Form::Global)
TVF2_CONV_ROW(M101, LayoutC32A, Form::Ring)
TVF2_CONV_ROW_TABLE(M102, LayoutC32A)
TVF2_CONV_COLUMN(M103, LayoutC32A, Form::Global)
TVF2_CONV_COLUMN_TABLE(M105, LayoutC32A)

TVF2_CONV_ROW(AG100, LayoutC64A, Form::Global)
TVF2_CONV_ROW(AG101, LayoutC64A, Form::Ring)
TVF2_CONV_ROW_TABLE(AG102, LayoutC64A)
TVF2_CONV_COLUMN(AG103, LayoutC64A, Form::Global)
TVF2_CONV_COLUMN_TABLE(AG105, LayoutC64A)

TVF2_CONV_ROW(N100, LayoutP8, Form::Global)
TVF2_CONV_ROW(N102, LayoutP8, Form::Ring)
TVF2_CONV_ROW_TABLE(N104, LayoutP8)
TVF2_CONV_COLUMN(N101, LayoutP8, Form::Global)
TVF2_CONV_COLUMN(N103, LayoutP8, Form::Ring)
TVF2_CONV_COLUMN_TABLE(N105, LayoutP8)

TVF2_CONV_ROW(AH100, LayoutP16, Form::Global)
TVF2_CONV_ROW(AH102, LayoutP16, Form::Ring)
TVF2_CONV_ROW_TABLE(AH104, LayoutP16)
TVF2_CONV_COLUMN(AH101, LayoutP16, Form::Global)
TVF2_CONV_COLUMN(AH103, LayoutP16, Form::Ring)
TVF2_CONV_COLUMN_TABLE(AH105, LayoutP16)

namespace {

struct LayoutInfo {
    int bytes;         // per pixel of the frames
    int laneBytes;     // alignment of the frames' pointers
    int hSlot, vSlot;  // ring slot bytes as reserved
    bool verticalRing;  // the column pass has a rings-only form
    bool transposed;    // the ring forms of the column pass write the column-major area
};

LayoutInfo Info(ConvLayout layout) {
    switch (layout) {
    case ConvLayout::C32: return {4, 1, 4, 4, true, true};
    case ConvLayout::C64: return {8, 2, 8, 8, true, true};
    case ConvLayout::C32A: return {4, 1, 4, 4, false, false};
    case ConvLayout::C64A: return {8, 2, 8, 8, false, false};
    case ConvLayout::P8: return {1, 1, 4, 4, true, false};
    case ConvLayout::P16: return {2, 2, 2, 4, true, false};
    }
    return {};
}

bool Aligned(const void* p, int bytes) {
    return reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(bytes) == 0;
}

// The row and column passes of one operation, by form.
template <auto HG, auto HR, auto HT>
void LaunchRows(const SeparableArgs& a, const SeparablePlan& p) {
    switch (p.horizontal) {
    case Form::Global:
        kl::launch<HG>(p.hGrid, p.hBlock, 0, a.src, a.work, a.width, a.height, a.srcPitch,
                       a.hRadius, a.hWeights);
        break;
    case Form::Ring:
        kl::launch<HR>(p.hGrid, p.hBlock, p.hShared, a.src, a.work, a.width, a.height,
                       a.srcPitch, a.hRadius, a.hWeights);
        break;
    case Form::RingTable:
        kl::launch<HT>(p.hGrid, p.hBlock, p.hShared, a.src, a.work, a.width, a.height,
                       a.srcPitch, a.hRadius, a.hWeights, a.hCount);
        break;
    }
}

// Column passes that always write dst (alpha layouts have no rings-only form: VR = VG).
template <auto VG, auto VR, auto VT>
void LaunchColumnsToDst(const SeparableArgs& a, const SeparablePlan& p) {
    switch (p.vertical) {
    case Form::Global:
        kl::launch<VG>(p.vGrid, p.vBlock, 0, a.work, a.dst, a.width, a.height, a.dstPitch,
                       a.vRadius, a.vWeights);
        break;
    case Form::Ring:
        kl::launch<VR>(p.vGrid, p.vBlock, p.vShared, a.work, a.dst, a.width, a.height,
                       a.dstPitch, a.vRadius, a.vWeights);
        break;
    case Form::RingTable:
        kl::launch<VT>(p.vGrid, p.vBlock, p.vShared, a.work, a.dst, a.width, a.height,
                       a.dstPitch, a.vRadius, a.vWeights, a.vCount);
        break;
    }
}

// C32 and C64: the ring forms write the column-major area, which the transpose copies.
template <auto VG, auto VR, auto VT, auto TR>
cudaError_t LaunchColumnsTransposed(const SeparableArgs& a, const SeparablePlan& p, int bytes) {
    void* area2 = static_cast<unsigned char*>(a.work) +
                  static_cast<long long>(a.width) * a.height * bytes;
    switch (p.vertical) {
    case Form::Global:
        kl::launch<VG>(p.vGrid, p.vBlock, 0, a.work, a.dst, a.width, a.height, a.dstPitch,
                       a.vRadius, a.vWeights);
        return cudaGetLastError();
    case Form::Ring:
        kl::launch<VR>(p.vGrid, p.vBlock, p.vShared, a.work, area2, a.width, a.height, a.vRadius,
                       a.vWeights);
        break;
    case Form::RingTable:
        kl::launch<VT>(p.vGrid, p.vBlock, p.vShared, a.work, area2, a.width, a.height, a.vRadius,
                       a.vWeights, a.vCount);
        break;
    }
    const cudaError_t status = cudaGetLastError();
    if (status != cudaSuccess) return status;
    kl::launch<TR>(p.tGrid, p.tBlock, p.transposeShared, a.dst, a.dstPitch, a.width, a.height,
                   area2, a.height * bytes, a.height, a.width);
    return cudaGetLastError();
}

}  // namespace

bool SeparableArgsValid(ConvLayout layout, const SeparableArgs& a) {
    const LayoutInfo in = Info(layout);
    if (a.width < 0 || a.height < 0 || a.hRadius < 0 || a.vRadius < 0) return false;
    if (!a.dst || !a.src || !a.work || !a.hWeights || !a.vWeights) return false;
    const long long row = static_cast<long long>(a.width) * in.bytes;
    if (a.srcPitch < row || a.dstPitch < row) return false;
    if (a.srcPitch % in.bytes || a.dstPitch % in.bytes) return false;
    if (!Aligned(a.src, in.laneBytes) || !Aligned(a.dst, in.laneBytes) || !Aligned(a.work, 4) ||
        !Aligned(a.hWeights, 4) || !Aligned(a.vWeights, 4))
        return false;
    return a.hCount >= WeightTableEntries(a.width, a.hRadius) &&
           a.vCount >= WeightTableEntries(a.height, a.vRadius);
}

SeparablePlan PlanSeparable(ConvLayout layout, const SeparableArgs& a) {
    const LayoutInfo in = Info(layout);
    const long long hRing = RingBytes(a.hRadius, in.hSlot), vRing = RingBytes(a.vRadius, in.vSlot);
    SeparablePlan p;
    p.horizontal = PickForm(hRing, a.hCount);
    p.vertical = PickForm(vRing, a.vCount, in.verticalRing);
    p.transpose = in.transposed && p.vertical != Form::Global;
    p.hShared = SharedBytes(p.horizontal, hRing, a.hCount);
    p.vShared = SharedBytes(p.vertical, vRing, a.vCount);
    p.transposeShared = 16 * 16 * in.bytes;
    // One extra block even when a size is a multiple of 64.
    p.hGrid = dim3(1, a.height / kLineThreads + 1);
    p.hBlock = dim3(1, kLineThreads);
    p.vGrid = dim3(a.width / kLineThreads + 1, 1);
    p.vBlock = dim3(kLineThreads, 1);
    // (In 64 bits: a width near INT_MAX must not overflow.)
    p.tGrid = dim3(static_cast<unsigned>((a.width + 15LL) / 16), static_cast<unsigned>((a.height + 15LL) / 16));
    p.tBlock = dim3(16, 16);
    return p;
}

cudaError_t LaunchSeparable(ConvLayout layout, const SeparableArgs& a) {
    if (!SeparableArgsValid(layout, a)) return cudaErrorInvalidValue;
    const SeparablePlan p = PlanSeparable(layout, a);
    // The row pass; a failing status ends the call before the column pass.
    switch (layout) {
    case ConvLayout::C32: LaunchRows<L100, L102, L104>(a, p); break;
    case ConvLayout::C64: LaunchRows<AF100, AF102, AF104>(a, p); break;
    case ConvLayout::C32A: LaunchRows<M100, M101, M102>(a, p); break;
    case ConvLayout::C64A: LaunchRows<AG100, AG101, AG102>(a, p); break;
    case ConvLayout::P8: LaunchRows<N100, N102, N104>(a, p); break;
    case ConvLayout::P16: LaunchRows<AH100, AH102, AH104>(a, p); break;
    }
    const cudaError_t status = cudaGetLastError();
    if (status != cudaSuccess) return status;
    switch (layout) {
    case ConvLayout::C32:
        return LaunchColumnsTransposed<L101, L103, L105, L106>(a, p, 4);
    case ConvLayout::C64:
        return LaunchColumnsTransposed<AF101, AF103, AF105, AF106>(a, p, 8);
    case ConvLayout::C32A: LaunchColumnsToDst<M103, M103, M105>(a, p); break;
    case ConvLayout::C64A: LaunchColumnsToDst<AG103, AG103, AG105>(a, p); break;
    case ConvLayout::P8: LaunchColumnsToDst<N101, N103, N105>(a, p); break;
    case ConvLayout::P16: LaunchColumnsToDst<AH101, AH103, AH105>(a, p); break;
    }
    return cudaGetLastError();
}

}  // namespace tvf2
