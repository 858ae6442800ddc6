// Device buffers and weight tables shared by the convolution tests.
#ifndef TVF2_TESTS_CONVOLUTION_TEST_BUFFERS_H
#define TVF2_TESTS_CONVOLUTION_TEST_BUFFERS_H

#include "convolution/weight_table.h"

#include <cuda_runtime.h>

#include <cstdint>
#include <random>
#include <vector>

namespace tvf2test {

// A device buffer of floats or bytes, freed on scope exit.
struct DeviceBuffer {
    void* p = nullptr;
    explicit DeviceBuffer(const void* host, size_t bytes) {
        cudaMalloc(&p, bytes ? bytes : 4);
        if (bytes) cudaMemcpy(p, host, bytes, cudaMemcpyHostToDevice);
    }
    // Uninitialised scratch, filled with a pattern.
    explicit DeviceBuffer(size_t bytes) {
        cudaMalloc(&p, bytes ? bytes : 4);
        cudaMemset(p, 0xcd, bytes);
    }
    ~DeviceBuffer() { cudaFree(p); }
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;
};

// Random table (not normalised, signed unless alpha-weighted, so that sums wrap and
// saturate) or a Gaussian one; `extra` entries beyond those read push the table out
// of shared memory without changing the result.
inline std::vector<float> Table(int n, int r, int extra, bool gaussian, bool nonNegative, uint32_t seed) {
    std::vector<float> t;
    if (gaussian && n > 0) t = tvf2::BuildWeightTable(tvf2::WindowShape::Gaussian, n, r);
    else t.resize(static_cast<size_t>(tvf2::WeightTableEntries(n, r)));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> signedW(-0.5f, 1.5f), positiveW(0.0f, 1.25f);
    if (!gaussian)
        for (float& w : t) w = nonNegative ? positiveW(rng) : signedW(rng);
    for (int i = 0; i < extra; ++i) t.push_back(signedW(rng));
    return t;
}

}  // namespace tvf2test

#endif
