// Test entry point. The CUDA backend's tests need a GPU: without one the program says
// so on one line and exits with 77, which CTest reports as a skip, not a failure.
#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#if defined(TVF2_REQUIRE_GPU)
    int devices = 0;
    cudaError_t e = cudaGetDeviceCount(&devices);
    if (e != cudaSuccess || devices == 0) {
        std::printf("SKIPPED: no usable CUDA device (%s); the CUDA backend's tests did not run\n",
                    e != cudaSuccess ? cudaGetErrorString(e) : "no device");
        return 77;
    }
#endif
    return RUN_ALL_TESTS();
}
