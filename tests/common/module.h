// The function-set object of the backend under test, and the backend's name.
#ifndef TVF2_TESTS_COMMON_MODULE_H
#define TVF2_TESTS_COMMON_MODULE_H

#include "module/TarvoVideoFilter2.h"

#include <cuda_runtime.h>
#include <gtest/gtest.h>

#if !defined(__CUDACC__) && !defined(TVF2_TEST_CUDA)
#include "cpurt.h"
#define TVF2_TEST_CPU 1
#endif

namespace tvf2test {

inline ICUDAKernelFuncSet_TarvoVideoFilter2* FuncSet() {
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    return fs;
}

// Host statuses (the CUDA 6.0 numbering the interface speaks).
constexpr int kOk = 0;
constexpr int kInvalidConfiguration = 9;
constexpr int kInvalidValue = 11;

// Runs a test body once per thread order on the CPU backend (forward, reverse, two
// shuffles); once on the GPU, whose order is its own.
template <class F>
void ForEachThreadOrder(F body) {
#if defined(TVF2_TEST_CPU)
    const struct {
        cpurtThreadOrder order;
        unsigned seed;
        const char* name;
    } orders[] = {{cpurtThreadOrderForward, 0, "forward"},
                  {cpurtThreadOrderReverse, 0, "reverse"},
                  {cpurtThreadOrderShuffle, 1, "shuffle:1"},
                  {cpurtThreadOrderShuffle, 77, "shuffle:77"}};
    for (const auto& o : orders) {
        SCOPED_TRACE(o.name);
        cpurtSetThreadOrder(o.order, o.seed);
        body();
    }
    cpurtSetThreadOrder(cpurtThreadOrderForward, 0);
#else
    body();
#endif
}

}  // namespace tvf2test

#endif
