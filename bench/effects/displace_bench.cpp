// Edge-gradient displacement (slots 16, 17) with 0, 1 and 4 smoothing iterations and the
// per-row wave offset (slot 18) at 1920x1080, beside their single-threaded sequential
// references on the same frames. Reports megapixels per second (Mpx/s) and the
// effective bandwidth (GB/s: the bytes each pass must read and write at least, over the
// time).
#include "../../tests/common/frames.h"
#include "../../tests/effects/displace_reference.h"
#include "../../tests/effects/row_wave_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;

using tvf2bench::kH;
using tvf2bench::kW;

// Smooth luma-like edges: a map of varied values, displacements of a few pixels.
HostFrame Source(int bytesPerPixel, uint32_t seed) {
    HostFrame f(kW, kH, bytesPerPixel, 0);
    tvf2test::FillRandomAlpha(f, seed);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) f.px(x, y)[0] = uint8_t((x / 3 + y / 5 + (x * y) / 700) % 256);
    return f;
}

// Bytes a displacement call moves at the least, per pixel: the edge map (edge source
// in, map out), each iteration (map in, tmp out, tmp in, map out), the resampling (map
// in, one source pixel in, one pixel out).
void SetBandwidth(benchmark::State& state, double bytesPerPixel) {
    state.counters["GB/s"] = benchmark::Counter(double(kW) * kH * bytesPerPixel / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
double DisplaceBytes(bool alpha, int iterations) {
    return (alpha ? 4 : 2) + 2 + 8.0 * iterations + 2 + 4 + 4;
}

const tvf2test::DisplaceParams kParams{255, 0, 1500, -0.5f};

void BM_DisplaceSlot(benchmark::State& state, bool alpha) {
    const int iterations = static_cast<int>(state.range(0));
    HostFrame src = Source(4, 1), edge = Source(alpha ? 4 : 2, 2), map(kW, kH, 2, 0);
    DeviceFrame s(src), d(src), e(edge), m(map), t(map);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    auto slot = alpha ? &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32A
                      : &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32;
    for (auto _ : state) {
        const int status = (fs->*slot)(d.get(), d.pitch(), m.get(), m.pitch(), t.get(), t.pitch(), s.get(),
                                       s.pitch(), e.get(), e.pitch(), kW, kH, kParams.edgeLimit, iterations,
                                       kParams.strength, kParams.cubicA);
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    tvf2bench::SetFrameRate(state);
    SetBandwidth(state, DisplaceBytes(alpha, iterations));
}

void BM_DisplaceReference(benchmark::State& state, bool alpha) {
    tvf2test::DisplaceParams p = kParams;
    p.iterations = static_cast<int>(state.range(0));
    HostFrame src = Source(4, 1), edge = Source(alpha ? 4 : 2, 2), dst = src;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tvf2test::DisplaceReference(alpha, p, edge, src, dst).data());
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

const tvf2test::RowWaveParams kWaves{250, 25.0, false, true,
                                     {{true, 0, 0.25, 1.0, 30.0}, {true, 1, 0.1, -2.0, 8.0}, {true, 4, 0.6, 0.5, 5.0}}};

void BM_RowWaveSlot(benchmark::State& state) {
    HostFrame src = Source(4, 3);
    DeviceFrame s(src), d(src);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    const tvf2test::WaveParams* v = kWaves.waves;
    for (auto _ : state) {
        const int status = fs->RowWaveOffset_C32(
            kW, kH, d.get(), d.pitch(), s.get(), s.pitch(), kWaves.frameIndex, kWaves.frameRate,
            kWaves.wholeFrame, kWaves.evenRowsFirst, v[0].enable, v[0].shape, v[0].wavelength, v[0].speed,
            v[0].amplitude, v[1].enable, v[1].shape, v[1].wavelength, v[1].speed, v[1].amplitude, v[2].enable,
            v[2].shape, v[2].wavelength, v[2].speed, v[2].amplitude);
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    tvf2bench::SetFrameRate(state);
    SetBandwidth(state, 8.0);
}

void BM_RowWaveReference(benchmark::State& state) {
    HostFrame src = Source(4, 3), dst = src;
    for (auto _ : state) {
        tvf2test::RowWaveReference(kWaves, src, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

BENCHMARK_CAPTURE(BM_DisplaceSlot, C32, false)->Arg(0)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DisplaceReference, C32, false)->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DisplaceSlot, C32A, true)->Arg(0)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DisplaceReference, C32A, true)->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowWaveSlot)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowWaveReference)->Unit(benchmark::kMillisecond);

}  // namespace
