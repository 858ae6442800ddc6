// Costs of the CPU runtime itself: a barrier-free launch of 1000 blocks of 256 threads,
// and one barrier phase per emulated thread (the slope of launch time over barriers).
#include "runtime_kernels.h"

#include <benchmark/benchmark.h>

namespace {

void BM_EmptyLaunch(benchmark::State& state) {
    const dim3 grid(static_cast<unsigned>(state.range(0))), block(static_cast<unsigned>(state.range(1)));
    for (auto _ : state)
        if (rtk::LaunchEmpty(grid, block, 0) != cudaSuccess) state.SkipWithError("launch failed");
    // Seconds per emulated thread (shown with an SI prefix: "5n" is 5 ns).
    state.counters["s/thread"] = benchmark::Counter(
        double(grid.x) * block.x, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EmptyLaunch)->Args({1000, 256})->Args({1, 1})->UseRealTime()->Unit(benchmark::kMicrosecond);

// Time per emulated thread per barrier phase: run with 0 and with N barriers and
// compare (the "per barrier" counter of the N-barrier run minus the empty launch).
void BM_BarrierPhases(benchmark::State& state) {
    const int phases = static_cast<int>(state.range(0));
    const dim3 grid(1000), block(static_cast<unsigned>(state.range(1)));
    for (auto _ : state)
        if (rtk::LaunchBarriers(grid, block, phases) != cudaSuccess) state.SkipWithError("launch failed");
    const double threadPhases = double(grid.x) * block.x * (phases > 0 ? phases : 1);
    state.counters["s/thread/phase"] =
        benchmark::Counter(threadPhases, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BarrierPhases)->Args({0, 256})->Args({1, 256})->Args({16, 256})->Args({16, 32})->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
