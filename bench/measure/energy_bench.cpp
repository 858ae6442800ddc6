// Second-difference energy slots at 1920x1080, beside the single-threaded sequential
// reference on the same frames. Reports megapixels per second (Mpx/s) and the bytes of
// the frames read per second (bytes_per_second: A's h + 1 rows and B's h rows, chroma
// planes included), the effective bandwidth to set beside the device's memory bandwidth.
#include "../../tests/common/frames.h"
#include "../../tests/measure/energy_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using tvf2test::DeviceFrame;
using tvf2test::EnergyRefLayout;
using tvf2test::HostFrame;

using tvf2bench::kH;
using tvf2bench::kW;

const int kMatrix[9] = {16384, 0, 0, 0, 16384, 0, 0, 0, 16384};
constexpr int kThreshold = 4;

// A and B, and for the semi-planar layouts their 4:2:0 chroma planes (halved rows).
struct Frames {
    HostFrame a, b, ca, cb;
    long long Bytes() const {
        return static_cast<long long>(a.bytes.size() + b.bytes.size() + ca.bytes.size() + cb.bytes.size());
    }
};

Frames MakeFrames(EnergyRefLayout l) {
    const int sample = tvf2test::Is16Bit(l) ? 2 : 1;
    const int units = tvf2test::EnergyUnits(l, kW);
    Frames f;
    if (tvf2test::IsSemiPlanar(l)) {
        f.a = HostFrame(units, kH + 1, 2 * sample, 0);
        f.b = HostFrame(units, kH, 2 * sample, 0);
        f.ca = HostFrame(units, kH / 2 + 1, 2 * sample, 0);
        f.cb = HostFrame(units, kH / 2, 2 * sample, 0);
    } else {
        f.a = HostFrame(units, kH + 1, 4 * sample, 0);
        f.b = HostFrame(units, kH, 4 * sample, 0);
    }
    tvf2test::FillRandom(f.a, 1);
    tvf2test::FillRandom(f.b, 2);
    tvf2test::FillRandom(f.ca, 3);
    tvf2test::FillRandom(f.cb, 4);
    return f;
}

void SetRates(benchmark::State& state, const Frames& f) {
    tvf2bench::SetFrameRate(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.Bytes());
}

void BM_EnergySlot(benchmark::State& state, EnergyRefLayout l) {
    const Frames f = MakeFrames(l);
    DeviceFrame a(f.a), b(f.b), ca(f.ca), cb(f.cb);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    const int units = tvf2test::EnergyUnits(l, kW);
    const size_t bytes = fs->GetScratchSize(units, kH);
    void* partial = nullptr;
    cudaMalloc(&partial, bytes);
    std::vector<int64_t> host(bytes / 8);
    const int* m = kMatrix;
    int64_t total = 0;
    for (auto _ : state) {
        int status = -1;
#define TVF2_PACKED(slot)                                                                        \
    fs->slot(a.get(), a.pitch(), b.get(), b.pitch(), kW, kH, m[0], m[1], m[2], m[3], m[4], m[5], \
             m[6], m[7], m[8], kThreshold, partial, host.data(), int(bytes), &total)
#define TVF2_PLANAR(slot)                                                                        \
    fs->slot(a.get(), a.pitch(), b.get(), b.pitch(), ca.get(), ca.pitch(), cb.get(), cb.pitch(), \
             kW, kH, true, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], kThreshold,    \
             partial, host.data(), int(bytes), &total)
        switch (l) {
        case EnergyRefLayout::C32: status = TVF2_PACKED(SecondDifferenceEnergy_C32); break;
        case EnergyRefLayout::C64: status = TVF2_PACKED(SecondDifferenceEnergy_C64); break;
        case EnergyRefLayout::YUY2: status = TVF2_PACKED(SecondDifferenceEnergy_YUY2); break;
        case EnergyRefLayout::YUY2W: status = TVF2_PACKED(SecondDifferenceEnergy_YUY2W); break;
        case EnergyRefLayout::SemiPlanar8: status = TVF2_PLANAR(SecondDifferenceEnergy_SemiPlanar8); break;
        case EnergyRefLayout::SemiPlanar16: status = TVF2_PLANAR(SecondDifferenceEnergy_SemiPlanar16); break;
        }
#undef TVF2_PACKED
#undef TVF2_PLANAR
        // The slot returns after its copy to the host: the total is final.
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
        benchmark::DoNotOptimize(total);
    }
    cudaFree(partial);
    SetRates(state, f);
}

void BM_EnergyReference(benchmark::State& state, EnergyRefLayout l) {
    const Frames f = MakeFrames(l);
    tvf2test::EnergyRefArgs r{{{f.a.bytes.data(), f.a.pitch},
                               {f.b.bytes.data(), f.b.pitch},
                               {f.ca.bytes.data(), f.ca.pitch},
                               {f.cb.bytes.data(), f.cb.pitch}},
                              kW, kH, true, {}, kThreshold};
    for (int k = 0; k < 9; ++k) r.m[k] = kMatrix[k];
    for (auto _ : state) benchmark::DoNotOptimize(tvf2test::EnergyReference(l, r));
    SetRates(state, f);
}

#if defined(TVF2_BENCH_CUDA)
// The GPU's nominal memory bandwidth (double data rate over the bus), in the context
// block that heads the results, beside which to read bytes_per_second.
const bool kBandwidthNoted = [] {
    int clockKHz = 0, busBits = 0;
    if (cudaDeviceGetAttribute(&clockKHz, cudaDevAttrMemoryClockRate, 0) == cudaSuccess &&
        cudaDeviceGetAttribute(&busBits, cudaDevAttrGlobalMemoryBusWidth, 0) == cudaSuccess &&
        clockKHz > 0 && busBits > 0)
        benchmark::AddCustomContext(
            "gpu_memory_bandwidth",
            std::to_string(2.0 * clockKHz * 1e3 * busBits / 8 / 1e9) + " GB/s");
    return true;
}();
#endif

#define TVF2_ENERGY_BENCH(layout)                                                                 \
    BENCHMARK_CAPTURE(BM_EnergySlot, layout, EnergyRefLayout::layout)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_EnergyReference, layout, EnergyRefLayout::layout)->Unit(benchmark::kMillisecond)

TVF2_ENERGY_BENCH(C32);
TVF2_ENERGY_BENCH(C64);
TVF2_ENERGY_BENCH(YUY2);
TVF2_ENERGY_BENCH(YUY2W);
TVF2_ENERGY_BENCH(SemiPlanar8);
TVF2_ENERGY_BENCH(SemiPlanar16);

}  // namespace
