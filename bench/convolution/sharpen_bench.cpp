// Sharpening and edge boost (slots 12 to 15) and detail addition (slots 55 to 58) at
// 1920x1080, beside the single-threaded sequential reference on the same frame.
// Reports megapixels per second (Mpx/s) and the bytes every pixel moves (frames read
// and written, the detail record included) per second (GB/s).
#include "../../tests/common/frames.h"
#include "../../tests/convolution/sharpen_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;

using tvf2bench::kH;
using tvf2bench::kW;

// Slots 12 to 15, then 55 to 58.
enum class Op { Laplacian, LaplacianA, Edge, EdgeA, Detail32, DetailW32, Detail64, DetailW64 };

bool IsDetail(Op op) { return op >= Op::Detail32; }
bool Wide(Op op) { return op == Op::Detail64 || op == Op::DetailW64; }
bool Weighted(Op op) { return op == Op::DetailW32 || op == Op::DetailW64; }
int Bpp(Op op) { return Wide(op) ? 8 : 4; }

constexpr int kAmount = 200;  // sharpening, 1/256 units
constexpr float kDetailAmount = 1.5f;
constexpr int kThreshold = 4, kLimit = 40;

HostFrame Source(Op op) {
    HostFrame f(kW, kH, Bpp(op), 0);
    tvf2test::FillRandomAlpha(f, 1);
    return f;
}

// Details in -60..60, weights in -4095..4095.
HostFrame Details() {
    HostFrame d(kW, kH, 8, 0);
    std::mt19937 rng(2);
    for (size_t i = 0; i < d.bytes.size(); i += 2) {
        const int16_t v = (i / 2) % 4 == 3 ? int16_t(int(rng() % 8191) - 4095) : int16_t(int(rng() % 121) - 60);
        std::memcpy(&d.bytes[i], &v, 2);
    }
    return d;
}

void SetRates(benchmark::State& state, Op op) {
    tvf2bench::SetFrameRate(state);
    const double perPixel = IsDetail(op) ? 2.0 * Bpp(op) + 8 : 8;
    state.counters["GB/s"] =
        benchmark::Counter(perPixel * kW * kH / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Slot(benchmark::State& state, Op op) {
    const HostFrame src = Source(op), det = Details();
    DeviceFrame s(src), d(src), dd(det);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    static const decltype(&F::SharpenLaplacian_C32) sharpen[] = {&F::SharpenLaplacian_C32, &F::SharpenLaplacian_C32A,
                                                                  &F::AddEdgeMagnitude_C32, &F::AddEdgeMagnitude_C32A};
    static const decltype(&F::AddDetail_C32) detail[] = {&F::AddDetail_C32, &F::AddDetailWeighted_C32,
                                                          &F::AddDetail_C64, &F::AddDetailWeighted_C64};
    for (auto _ : state) {
        const int status = IsDetail(op) ? (fs->*detail[int(op) - 4])(kW, kH, d.get(), d.pitch(), s.get(), s.pitch(),
                                                                     dd.get(), dd.pitch(), kDetailAmount, kThreshold, kLimit)
                                        : (fs->*sharpen[int(op)])(kW, kH, kAmount, d.get(), d.pitch(), s.get(), s.pitch());
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    SetRates(state, op);
}

void BM_Reference(benchmark::State& state, Op op) {
    const HostFrame src = Source(op), det = Details();
    HostFrame dst = src;
    for (auto _ : state) {
        if (IsDetail(op))
            tvf2test::DetailReference(Wide(op), Weighted(op), src, det, kDetailAmount, kThreshold, kLimit, dst);
        else
            tvf2test::SharpenReference(tvf2test::SharpenRef(int(op)), src, kAmount, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    SetRates(state, op);
}

#define TVF2_SHARPEN_BENCH(op)                                                                \
    BENCHMARK_CAPTURE(BM_Slot, op, Op::op)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_Reference, op, Op::op)->UseRealTime()->Unit(benchmark::kMillisecond)

TVF2_SHARPEN_BENCH(Laplacian);
TVF2_SHARPEN_BENCH(LaplacianA);
TVF2_SHARPEN_BENCH(Edge);
TVF2_SHARPEN_BENCH(EdgeA);
TVF2_SHARPEN_BENCH(Detail32);
TVF2_SHARPEN_BENCH(DetailW32);
TVF2_SHARPEN_BENCH(Detail64);
TVF2_SHARPEN_BENCH(DetailW64);

}  // namespace
