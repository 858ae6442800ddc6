// Entry point of the operation benchmarks. The CUDA backend's programs need a GPU:
// without one they say so and exit cleanly.
#include <benchmark/benchmark.h>
#include <cuda_runtime.h>

#include <cstdio>

int main(int argc, char** argv) {
#if defined(TVF2_BENCH_CUDA)
    int devices = 0;
    if (cudaGetDeviceCount(&devices) != cudaSuccess || devices == 0) {
        std::printf("SKIPPED: no usable CUDA device\n");
        return 0;
    }
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
