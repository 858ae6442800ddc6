// Non-local means over a frame window (slots 53 and 54) at 1920x1080 with search radius 2
// and patch radius 2 over 1 and 3 frames (frame radius 0 and 1), the whole frame in one
// band, beside the single-threaded sequential reference on the same frames. Reports
// megapixels per second (Mpx/s). One frame takes seconds on the CPU backend and in the
// reference: those run one iteration; the CUDA backend's slots run as usual.
#include "../../tests/common/frames.h"
#include "../../tests/denoise/nlm_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;
using tvf2test::NlmAlpha;
using tvf2test::NlmParams;

using tvf2bench::kH;
using tvf2bench::kW;
constexpr int kS = 2, kP = 2;
constexpr float kCoefficient = 1.0f / (75 * 100.0f);  // patch area 25, three channels, strength 10

std::vector<HostFrame> Frames(int T) {
    std::vector<HostFrame> frames;
    for (int f = 0; f <= 2 * T; ++f) {
        HostFrame h(kW, kH, 4, 0);
        tvf2test::FillRandomAlpha(h, 10 + f);
        frames.push_back(std::move(h));
    }
    return frames;
}

void BM_NlmSlot(benchmark::State& state, bool alpha) {
    const int T = static_cast<int>(state.range(0)), n = 2 * T + 1;
    const std::vector<HostFrame> host = Frames(T);
    std::vector<std::unique_ptr<DeviceFrame>> device;
    std::vector<const void*> frames;
    std::vector<int> pitches;
    for (const HostFrame& h : host) {
        device.push_back(std::make_unique<DeviceFrame>(h));
        frames.push_back(device.back()->get());
        pitches.push_back(h.pitch);
    }
    DeviceFrame d(host[0]);
    void* block = nullptr;
    cudaMalloc(&block, 16 * n);
    const std::vector<float> coef(n, kCoefficient);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    for (auto _ : state) {
        const int status = alpha ? fs->NonLocalMeans_C32A(kW, kH, kS, kP, T, coef.data(), d.get(), d.pitch(), frames.data(), pitches.data(), block, 0)
                                 : fs->NonLocalMeans_C32(kW, kH, kS, kP, T, coef.data(), d.get(), d.pitch(), frames.data(), pitches.data(), block, 0);
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    cudaFree(block);
    tvf2bench::SetFrameRate(state);
}

void BM_NlmReference(benchmark::State& state, bool alpha) {
    const int T = static_cast<int>(state.range(0));
    const std::vector<HostFrame> host = Frames(T);
    std::vector<const HostFrame*> frames;
    for (const HostFrame& h : host) frames.push_back(&h);
    HostFrame dst = host[0];
    const NlmParams p{kS, kP, T, std::vector<float>(2 * T + 1, kCoefficient)};
    for (auto _ : state) {
        tvf2test::NonLocalMeansReference(alpha ? NlmAlpha::CentreOpaque : NlmAlpha::None, p, frames, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

// Frame radius 0 and 1; one iteration where a frame takes seconds.
void RadiiOnce(benchmark::internal::Benchmark* b) { b->Arg(0)->Arg(1)->Iterations(1); }
#if defined(TVF2_BENCH_CUDA)
void Radii(benchmark::internal::Benchmark* b) { b->Arg(0)->Arg(1); }
constexpr auto kSlotRadii = Radii;
#else
constexpr auto kSlotRadii = RadiiOnce;
#endif

#define TVF2_NLM_BENCH(fn, name, alpha, radii) \
    BENCHMARK_CAPTURE(fn, name, alpha)->Apply(radii)->UseRealTime()->Unit(benchmark::kMillisecond)

TVF2_NLM_BENCH(BM_NlmSlot, C32, false, kSlotRadii);
TVF2_NLM_BENCH(BM_NlmSlot, C32A, true, kSlotRadii);
TVF2_NLM_BENCH(BM_NlmReference, C32, false, RadiiOnce);

}  // namespace
