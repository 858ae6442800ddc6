// Multi-frame similarity averages (slots 46 to 49) at 1920x1080 with 2 and 8 reference
// frames, beside the single-threaded sequential reference on the same frames. Reports
// frames per second (fps) and megapixels per second (Mpx/s).
#include "../../tests/common/frames.h"
#include "../../tests/denoise/multi_frame_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;
using tvf2test::MfaLayout;

using tvf2bench::kH;
using tvf2bench::kW;
constexpr int kT = 1000;  // some blocks pass, some do not; exact for every layout up to 8 frames

// A noisy frame and references that differ from it by a little noise and a moved area.
struct Frames {
    HostFrame current;
    std::vector<HostFrame> references;
};

Frames MakeFrames(int count) {
    Frames f;
    f.current = HostFrame(kW, kH, 4, 0);
    tvf2test::FillRandomAlpha(f.current, 1);
    std::mt19937 rng(2);
    for (int i = 0; i < count; ++i) {
        HostFrame r = f.current;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                for (int k = 0; k < 3; ++k)
                    r.px(x, y)[k] = (x / 64 + y / 64 + i) % 5 == 0 ? uint8_t(rng())
                                                                   : uint8_t(std::min(255, r.px(x, y)[k] + int(rng() % 6)));
        f.references.push_back(std::move(r));
    }
    return f;
}

void SetFps(benchmark::State& state) {
    tvf2bench::SetFrameRate(state);
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_MultiFrameSlot(benchmark::State& state, MfaLayout layout) {
    const int n = static_cast<int>(state.range(0));
    const Frames f = MakeFrames(n);
    DeviceFrame s(f.current), d(f.current);
    std::vector<std::unique_ptr<DeviceFrame>> refs;
    std::vector<const void*> ptrs;
    std::vector<int> pitches;
    for (const HostFrame& r : f.references) {
        refs.emplace_back(new DeviceFrame(r));
        ptrs.push_back(refs.back()->get());
        pitches.push_back(refs.back()->pitch());
    }
    void* scratch = nullptr;
    cudaMalloc(&scratch, 12 * n);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FS;
    const decltype(&FS::MultiFrameSimilarityAverage_C32) slots[] = {
        &FS::MultiFrameSimilarityAverage_C32, &FS::MultiFrameSimilarityAverage_C32A,
        &FS::MultiFrameSimilarityAverage_YUV32, &FS::MultiFrameSimilarityAverage_YUV32A};
    for (auto _ : state) {
        const int status = (fs->*slots[int(layout)])(d.get(), s.get(), ptrs.data(), n, kW, kH, d.pitch(), s.pitch(),
                                                     pitches.data(), kT, false, nullptr, scratch);
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    cudaFree(scratch);
    SetFps(state);
}

void BM_MultiFrameReference(benchmark::State& state, MfaLayout layout) {
    const Frames f = MakeFrames(static_cast<int>(state.range(0)));
    HostFrame dst = f.current;
    for (auto _ : state) {
        tvf2test::MultiFrameReference(layout, kT, false, f.current, f.references, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    SetFps(state);
}

#define TVF2_MULTI_FRAME_BENCH(layout)                                                                       \
    BENCHMARK_CAPTURE(BM_MultiFrameSlot, layout, MfaLayout::layout)->Arg(2)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_MultiFrameReference, layout, MfaLayout::layout)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond)

TVF2_MULTI_FRAME_BENCH(C32);
TVF2_MULTI_FRAME_BENCH(C32A);
TVF2_MULTI_FRAME_BENCH(YUV32);
TVF2_MULTI_FRAME_BENCH(YUV32A);

}  // namespace
