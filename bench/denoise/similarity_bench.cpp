// Similarity-weighted window averages (slots 38 to 45) at 1920x1080 with radius 1, 2
// and 4, from linear memory and through textures, beside the single-threaded
// sequential reference on the same frame. Reports megapixels per second (Mpx/s).
#include "../../tests/common/frames.h"
#include "../../tests/denoise/similarity_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>


namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;
using tvf2test::SwaLayout;
using tvf2test::SwaParams;

using tvf2bench::kH;
using tvf2bench::kW;
constexpr int kT = 1000;  // within the 32-bit range of every layout up to radius 4

HostFrame Source() {
    HostFrame f(kW, kH, 4, 0);
    tvf2test::FillRandomAlpha(f, 1);
    return f;
}


int Linear(ICUDAKernelFuncSet_TarvoVideoFilter2* fs, SwaLayout l, void* d, int dp, const void* s, int sp, int r) {
    switch (l) {
    case SwaLayout::C32: return fs->SimilarityWeightedAverage_C32(d, s, nullptr, kW, kH, dp, sp, kT, r, false);
    case SwaLayout::YUV32: return fs->SimilarityWeightedAverage_YUV32(d, s, nullptr, kW, kH, dp, sp, kT, r, false);
    case SwaLayout::C32A: return fs->SimilarityWeightedAverage_C32A(d, s, nullptr, kW, kH, dp, sp, kT, r, false);
    case SwaLayout::YUV32A: return fs->SimilarityWeightedAverage_YUV32A(d, s, nullptr, kW, kH, dp, sp, kT, r, false);
    }
    return -1;
}

int Texture(ICUDAKernelFuncSet_TarvoVideoFilter2* fs, SwaLayout l, void* d, int dp, cudaArray* a,
            const cudaChannelFormatDesc* desc, int r) {
    switch (l) {
    case SwaLayout::C32: return fs->SimilarityWeightedAverageTex_C32(d, a, kW, kH, dp, desc, 0, 1, kT, r, false);
    case SwaLayout::YUV32: return fs->SimilarityWeightedAverageTex_YUV32(d, a, kW, kH, dp, desc, 0, 1, kT, r, false);
    case SwaLayout::C32A: return fs->SimilarityWeightedAverageTex_C32A(d, a, kW, kH, dp, desc, 0, 1, kT, r, false);
    case SwaLayout::YUV32A: return fs->SimilarityWeightedAverageTex_YUV32A(d, a, kW, kH, dp, desc, 0, 1, kT, r, false);
    }
    return -1;
}

void BM_SimilaritySlot(benchmark::State& state, SwaLayout layout) {
    const int r = static_cast<int>(state.range(0));
    HostFrame src = Source();
    DeviceFrame s(src), d(src);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    for (auto _ : state) {
        const int status = Linear(fs, layout, d.get(), d.pitch(), s.get(), s.pitch(), r);
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    tvf2bench::SetFrameRate(state);
}

void BM_SimilarityTexSlot(benchmark::State& state, SwaLayout layout) {
    const int r = static_cast<int>(state.range(0));
    HostFrame src = Source();
    DeviceFrame d(src);
    const cudaChannelFormatDesc desc = cudaCreateChannelDesc<uchar4>();
    cudaArray* array = nullptr;
    cudaMallocArray(&array, &desc, kW, kH, 0);
    cudaMemcpy2DToArray(array, 0, 0, src.bytes.data(), src.pitch, kW * 4, kH, cudaMemcpyHostToDevice);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    for (auto _ : state) {
        if (Texture(fs, layout, d.get(), d.pitch(), array, &desc, r) != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    cudaFreeArray(array);
    tvf2bench::SetFrameRate(state);
}

void BM_SimilarityReference(benchmark::State& state, SwaLayout layout) {
    const int r = static_cast<int>(state.range(0));
    HostFrame src = Source(), dst = src;
    for (auto _ : state) {
        tvf2test::SimilarityReference(layout, SwaParams{kT, r}, false, src, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

#define TVF2_SIMILARITY_BENCH(layout)                                                                        \
    BENCHMARK_CAPTURE(BM_SimilaritySlot, layout, SwaLayout::layout)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_SimilarityTexSlot, layout, SwaLayout::layout)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_SimilarityReference, layout, SwaLayout::layout)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)

TVF2_SIMILARITY_BENCH(C32);
TVF2_SIMILARITY_BENCH(YUV32);
TVF2_SIMILARITY_BENCH(C32A);
TVF2_SIMILARITY_BENCH(YUV32A);

}  // namespace

