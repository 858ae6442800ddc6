#include "measure/difference_energy.h"

#include "launch/grid_block.h"
#include "kernel_lang.h"

namespace tvf2 {
namespace {

typedef unsigned char u8;
typedef unsigned long long u64;

constexpr int kSlots = kEnergySharedBytes / sizeof(u64);
static_assert(kSlots == 256, "one 64-bit slot per thread of the largest (16x16) block");

struct Planes {
    const void* a;
    int aPitch;
    const void* b;
    int bPitch;
    const void* ca;
    int caPitch;
    const void* cb;
    int cbPitch;
};

// Row y of a plane; the offset is the 32-bit product y * pitch, widened with its sign.
__device__ __forceinline__ const u8* Row(const void* base, int pitch, int y) {
    return static_cast<const u8*>(base) + static_cast<long long>(kl::wrap_mul(y, pitch));
}

// Samples: 8-bit unsigned or 16-bit signed (little-endian lanes, 2-byte aligned).
struct Sample8 {
    static constexpr bool kLimitSquares = false;
    __device__ static int At(const u8* row, int i) { return row[i]; }
};
struct Sample16 {
    static constexpr bool kLimitSquares = true;
    __device__ static int At(const u8* row, int i) {
        return reinterpret_cast<const short*>(row)[i];
    }
};

// a0 + a1 - 2 * b of sample i, from rows y and y + 1 of the first plane and row y of
// the second. At most 4 * 32768 in size: no 32-bit overflow.
template <class S>
__device__ __forceinline__ int SecondDifference(const u8* a0, const u8* a1, const u8* b, int i) {
    return S::At(a0, i) + S::At(a1, i) - 2 * S::At(b, i);
}

// The layouts differ only in where a position's samples lie. Diffs fills d[0..2] for
// position x of image row y.

// One pixel of four lanes; components in lanes 0 to 2.
template <class S>
struct Packed {
    typedef S Sample;
    __device__ static void Diffs(const Planes& p, bool, int x, int y, int* d) {
        const u8* a0 = Row(p.a, p.aPitch, y);
        const u8* a1 = Row(p.a, p.aPitch, y + 1);
        const u8* b = Row(p.b, p.bPitch, y);
        for (int k = 0; k < 3; ++k) d[k] = SecondDifference<S>(a0, a1, b, 4 * x + k);
    }
};

// One pixel pair Y0 U Y1 V.
template <class S>
struct PackedPair {
    typedef S Sample;
    __device__ static void Diffs(const Planes& p, bool, int x, int y, int* d) {
        const u8* a0 = Row(p.a, p.aPitch, y);
        const u8* a1 = Row(p.a, p.aPitch, y + 1);
        const u8* b = Row(p.b, p.bPitch, y);
        const int i = 4 * x;
        d[0] = SecondDifference<S>(a0, a1, b, i) + SecondDifference<S>(a0, a1, b, i + 2);
        d[1] = SecondDifference<S>(a0, a1, b, i + 1);
        d[2] = SecondDifference<S>(a0, a1, b, i + 3);
    }
};

// Luma pair Y0 Y1 from the luma planes, U V from the chroma planes at chroma row y or
// y / 2.
template <class S>
struct SemiPlanar {
    typedef S Sample;
    __device__ static void Diffs(const Planes& p, bool halved, int x, int y, int* d) {
        const int i = 2 * x;
        const u8* a0 = Row(p.a, p.aPitch, y);
        const u8* a1 = Row(p.a, p.aPitch, y + 1);
        const u8* b = Row(p.b, p.bPitch, y);
        d[0] = SecondDifference<S>(a0, a1, b, i) + SecondDifference<S>(a0, a1, b, i + 1);
        const int c = halved ? y / 2 : y;
        const u8* ca0 = Row(p.ca, p.caPitch, c);
        const u8* ca1 = Row(p.ca, p.caPitch, c + 1);
        const u8* cb = Row(p.cb, p.cbPitch, c);
        d[1] = SecondDifference<S>(ca0, ca1, cb, i);
        d[2] = SecondDifference<S>(ca0, ca1, cb, i + 1);
    }
};

// The thresholded energy of one position: matrix, floor shift, square, limit,
// threshold, in 32-bit arithmetic that wraps.
template <class S>
__device__ __forceinline__ int PositionEnergy(const int* d, const int* m, int thresholdSquare) {
    int sum = 0;
    for (int j = 0; j < 3; ++j) {
        int acc = kl::wrap_mul(d[0], m[j]);
        acc = kl::wrap_add(acc, kl::wrap_mul(d[1], m[3 + j]));
        acc = kl::wrap_add(acc, kl::wrap_mul(d[2], m[6 + j]));
        const int e = acc >> 14;  // arithmetic: floors negative sums
        int s = kl::wrap_mul(e, e);
        if (S::kLimitSquares) s = kl::min(s, 65535);
        if (s < thresholdSquare) s = 0;
        sum = kl::wrap_add(sum, s);
    }
    return sum;
}

template <class L>
__device__ void Energy(const Planes& p, int width, int h, bool halved, const int* m,
                       int thresholdSquare, long long* partialSums) {
    KL_DYNAMIC_SHARED(u64, slots);
    const int t = threadIdx.y * blockDim.x + threadIdx.x;
    const int threads = blockDim.x * blockDim.y;
    slots[t] = 0;
    // 64-bit sums wrap (unsigned) rather than overflow.
    u64 running = 0;
    for (int y = blockIdx.y * blockDim.y + threadIdx.y; y < h; y += gridDim.y * blockDim.y) {
        for (int x = blockIdx.x * blockDim.x + threadIdx.x; x < width;
             x += gridDim.x * blockDim.x) {
            int d[3];
            L::Diffs(p, halved, x, y, d);
            running += static_cast<u64>(
                static_cast<long long>(PositionEnergy<typename L::Sample>(d, m, thresholdSquare)));
        }
        slots[t] = running;
    }
    // Pairwise tree over the block's slots; slots past the block's threads are 0 and
    // are skipped.
    for (int step = 1; step < kSlots; step *= 2) {
        __syncthreads();
        if (t % (2 * step) == 0 && t + step < threads) slots[t] += slots[t + step];
    }
    if (t == 0)
        partialSums[blockIdx.y * gridDim.x + blockIdx.x] = static_cast<long long>(slots[0]);
}

}  // namespace

#define TVF2_ENERGY_MATRIX_PARAMS \
    int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22
#define TVF2_ENERGY_MATRIX {m00, m01, m02, m10, m11, m12, m20, m21, m22}
#define TVF2_ENERGY_PACKED_PARAMS                                                          \
    const void *a, int aPitch, const void *b, int bPitch, int width, int h,               \
        TVF2_ENERGY_MATRIX_PARAMS, int thresholdSquare, long long *partialSums
#define TVF2_ENERGY_PACKED_BODY(layout)                                                    \
    const Planes p = {a, aPitch, b, bPitch, nullptr, 0, nullptr, 0};                       \
    const int m[9] = TVF2_ENERGY_MATRIX;                                                   \
    Energy<layout>(p, width, h, false, m, thresholdSquare, partialSums)
#define TVF2_ENERGY_PLANAR_PARAMS                                                          \
    const void *p1, int p1Pitch, const void *p2, int p2Pitch, const void *p3, int p3Pitch, \
        const void *p4, int p4Pitch, int width, int h, bool halved,                       \
        TVF2_ENERGY_MATRIX_PARAMS, int thresholdSquare, long long *partialSums
#define TVF2_ENERGY_PLANAR_BODY(layout)                                                    \
    const Planes p = {p1, p1Pitch, p2, p2Pitch, p3, p3Pitch, p4, p4Pitch};                 \
    const int m[9] = TVF2_ENERGY_MATRIX;                                                   \
    Energy<layout>(p, width, h, halved, m, thresholdSquare, partialSums)

__global__ void C100(TVF2_ENERGY_PACKED_PARAMS) { TVF2_ENERGY_PACKED_BODY(Packed<Sample8>); }
__global__ void C101(TVF2_ENERGY_PACKED_PARAMS) { TVF2_ENERGY_PACKED_BODY(Packed<Sample16>); }
__global__ void C102(TVF2_ENERGY_PACKED_PARAMS) { TVF2_ENERGY_PACKED_BODY(PackedPair<Sample8>); }
__global__ void C103(TVF2_ENERGY_PACKED_PARAMS) { TVF2_ENERGY_PACKED_BODY(PackedPair<Sample16>); }
__global__ void C104(TVF2_ENERGY_PLANAR_PARAMS) { TVF2_ENERGY_PLANAR_BODY(SemiPlanar<Sample8>); }
__global__ void C105(TVF2_ENERGY_PLANAR_PARAMS) { TVF2_ENERGY_PLANAR_BODY(SemiPlanar<Sample16>); }

namespace {

bool PairLayout(EnergyLayout layout) {
    return layout != EnergyLayout::C32 && layout != EnergyLayout::C64;
}
bool SemiPlanarLayout(EnergyLayout layout) {
    return layout == EnergyLayout::SemiPlanar8 || layout == EnergyLayout::SemiPlanar16;
}
int SampleBytes(EnergyLayout layout) {
    return layout == EnergyLayout::C64 || layout == EnergyLayout::YUY2W ||
                   layout == EnergyLayout::SemiPlanar16
               ? 2
               : 1;
}
// Samples per kernel unit in the rows of planes 1 and 2 (and 3 and 4).
int SamplesPerUnit(EnergyLayout layout) {
    return SemiPlanarLayout(layout) ? 2 : 4;
}

}  // namespace

EnergyPlan PlanEnergy(EnergyLayout layout, const EnergyArgs& a) {
    EnergyPlan plan;
    plan.mode = static_cast<int>(layout);
    if (SemiPlanarLayout(layout) && a.halvedChromaRows) plan.mode += 2;
    plan.kernelWidth = PairLayout(layout) ? a.width / 2 : a.width;
    const LaunchShape s = GridBlock(plan.kernelWidth, a.height);
    plan.grid = dim3(s.gridX, s.gridY);
    plan.block = dim3(s.blockX, s.blockY);
    for (int k = 0; k < 9; ++k) plan.m[k] = a.m[k];
    // The pair layouts sum two luma differences into component 0.
    if (PairLayout(layout))
        for (int j = 0; j < 3; ++j) plan.m[j] = a.m[j] / 2;
    plan.thresholdSquare = kl::wrap_mul(a.threshold, a.threshold);
    return plan;
}

bool EnergyArgsValid(EnergyLayout layout, const EnergyArgs& a) {
    if (!a.result || !a.partialSums || !a.hostBuffer) return false;
    // 64-bit entries and totals: a misaligned device entry faults the launch, a
    // misaligned host one is undefined.
    if ((reinterpret_cast<uintptr_t>(a.partialSums) | reinterpret_cast<uintptr_t>(a.hostBuffer) |
         reinterpret_cast<uintptr_t>(a.result)) & 7)
        return false;
    if (a.width < 0 || a.height < 0) return false;
    const int planes = SemiPlanarLayout(layout) ? 4 : 2;
    const int bytes = SampleBytes(layout);
    const EnergyPlan plan = PlanEnergy(layout, a);
    const long long rowBytes =
        static_cast<long long>(plan.kernelWidth) * SamplesPerUnit(layout) * bytes;
    for (int k = 0; k < planes; ++k) {
        if (!a.plane[k] || a.pitch[k] < rowBytes || a.pitch[k] < 0) return false;
        if (bytes == 2 &&
            ((reinterpret_cast<uintptr_t>(a.plane[k]) | static_cast<unsigned>(a.pitch[k])) & 1))
            return false;
    }
    const long long blocks = static_cast<long long>(plan.grid.x) * plan.grid.y;
    return a.bufferBytes >= 0 && a.bufferBytes >= 8 * blocks;
}

cudaError_t MeasureEnergy(EnergyLayout layout, const EnergyArgs& a) {
    if (!EnergyArgsValid(layout, a)) return cudaErrorInvalidValue;
    const EnergyPlan p = PlanEnergy(layout, a);
    const size_t bytes = static_cast<size_t>(a.bufferBytes);
    // Entries past the grid stay 0. A clear the runtime refuses (a buffer smaller than
    // its stated size, or freed) ends the call before the kernel writes into it.
    cudaError_t cleared = cudaMemset(a.partialSums, 0, bytes);
    if (cleared != cudaSuccess) {
        cudaGetLastError();  // reported by the status, as a failed launch is
        return cleared;
    }
    long long* partial = static_cast<long long*>(a.partialSums);
    const int* m = p.m;
#define TVF2_ENERGY_MATRIX_ARGS m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]
#define TVF2_LAUNCH_PACKED(kernel)                                                         \
    kl::launch<kernel>(p.grid, p.block, kEnergySharedBytes, a.plane[0], a.pitch[0],        \
                       a.plane[1], a.pitch[1], p.kernelWidth, a.height,                     \
                       TVF2_ENERGY_MATRIX_ARGS, p.thresholdSquare, partial)
#define TVF2_LAUNCH_PLANAR(kernel)                                                         \
    kl::launch<kernel>(p.grid, p.block, kEnergySharedBytes, a.plane[0], a.pitch[0],        \
                       a.plane[1], a.pitch[1], a.plane[2], a.pitch[2], a.plane[3],          \
                       a.pitch[3], p.kernelWidth, a.height, a.halvedChromaRows,             \
                       TVF2_ENERGY_MATRIX_ARGS, p.thresholdSquare, partial)
    switch (layout) {
    case EnergyLayout::C32: TVF2_LAUNCH_PACKED(C100); break;
    case EnergyLayout::C64: TVF2_LAUNCH_PACKED(C101); break;
    case EnergyLayout::YUY2: TVF2_LAUNCH_PACKED(C102); break;
    case EnergyLayout::YUY2W: TVF2_LAUNCH_PACKED(C103); break;
    case EnergyLayout::SemiPlanar8: TVF2_LAUNCH_PLANAR(C104); break;
    case EnergyLayout::SemiPlanar16: TVF2_LAUNCH_PLANAR(C105); break;
    }
#undef TVF2_LAUNCH_PACKED
#undef TVF2_LAUNCH_PLANAR
#undef TVF2_ENERGY_MATRIX_ARGS
    cudaError_t status = cudaGetLastError();
    if (status != cudaSuccess) return status;
    status = cudaMemcpy(a.hostBuffer, a.partialSums, bytes, cudaMemcpyDeviceToHost);
    if (status != cudaSuccess) return status;
    // Whole entries only; 64-bit sums wrap.
    u64 total = 0;
    for (int k = 0; k < a.bufferBytes / 8; ++k) total += static_cast<u64>(a.hostBuffer[k]);
    *a.result = static_cast<long long>(total);
    return cudaSuccess;
}

}  // namespace tvf2
