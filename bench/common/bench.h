// Shared by the operation benchmarks: the frame size and the megapixel rate counter.
#ifndef TVF2_BENCH_COMMON_BENCH_H
#define TVF2_BENCH_COMMON_BENCH_H

#include <benchmark/benchmark.h>

namespace tvf2bench {

constexpr int kW = 1920, kH = 1080;

// Megapixels of one kW x kH frame per second of the benchmark's time.
inline void SetFrameRate(benchmark::State& state) {
    state.counters["Mpx/s"] =
        benchmark::Counter(double(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace tvf2bench

#endif
