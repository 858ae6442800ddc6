#include "runtime_kernels.h"

#include "kernel_lang.h"

namespace rtk {

__global__ void Identify(unsigned* out) {
    const unsigned block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
    const unsigned thread = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
    const unsigned perBlock = blockDim.x * blockDim.y * blockDim.z;
    out[block * perBlock + thread] = block * 4096u + thread + 1u;
}

__global__ void Rotate(int rounds, bool withBarrier, int* out) {
    KL_DYNAMIC_SHARED(int, cells);
    const int t = threadIdx.x, n = blockDim.x;
    int v = t * 3 + blockIdx.x;
    for (int r = 0; r < rounds; ++r) {
        cells[t] = v;
        if (withBarrier) __syncthreads();
        v = cells[(t + 1) % n] + 1;
        if (withBarrier) __syncthreads();
    }
    out[blockIdx.x * n + t] = v;
}

__global__ void BlockSum(long long* out) {
    KL_DYNAMIC_SHARED(long long, sums);
    const unsigned t = threadIdx.x;
    sums[t] = blockIdx.x * 1000ll + t;
    __syncthreads();
    for (unsigned stride = 1; stride < blockDim.x; stride *= 2) {
        long long add = (t % (2 * stride) == 0 && t + stride < blockDim.x) ? sums[t + stride] : 0;
        __syncthreads();
        sums[t] += add;
        __syncthreads();
    }
    if (t == 0) out[blockIdx.x] = sums[0];
}

__global__ void RecordOrder(unsigned* out) {
    KL_SHARED_ARRAY(unsigned, counter, 1);
    if (threadIdx.x == 0) counter[0] = 0;
    __syncthreads();
    // Only correct on the CPU runtime, where a block's threads run one at a time.
    const unsigned k = counter[0]++;
    out[blockIdx.x * blockDim.x + k] = threadIdx.x;
}

// One static shared array declared inside a loop: every iteration sees the same array.
__global__ void LoopShared(int* out) {
    for (int i = 0; i < 3; ++i) {
        KL_SHARED_ARRAY(int, acc, 1);
        if (threadIdx.x == 0) acc[0] = (i == 0 ? 0 : acc[0]) + 1;
        __syncthreads();
        if (threadIdx.x == blockDim.x - 1) out[blockIdx.x * 3 + i] = acc[0];
        __syncthreads();
    }
}

__global__ void EarlyExit() {
    if (threadIdx.x == 0) return;
    __syncthreads();
}

__global__ void SplitBarrier() {
    if (threadIdx.x % 2 == 0) {
        __syncthreads();
    } else {
        __syncthreads();
    }
}

__global__ void Empty() {}

__global__ void Barriers(int phases) {
    for (int i = 0; i < phases; ++i) __syncthreads();
}

__global__ void Fetch(cudaTextureObject_t tex, int w, int h, int dx, int dy, unsigned* out) {
    const int x = threadIdx.x, y = threadIdx.y;
    if (x >= w || y >= h) return;
    const uchar4 v = tex2D<uchar4>(tex, x + dx + 0.5f, y + dy + 0.5f);
    out[y * w + x] = v.x | v.y << 8 | v.z << 16 | unsigned(v.w) << 24;
}

cudaError_t LaunchIdentify(dim3 grid, dim3 block, unsigned* out) {
    return kl::launch<Identify>(grid, block, 0, out);
}
cudaError_t LaunchRotate(dim3 grid, unsigned threads, int rounds, bool withBarrier, int* out) {
    return kl::launch<Rotate>(grid, dim3(threads), threads * sizeof(int), rounds, withBarrier, out);
}
cudaError_t LaunchBlockSum(unsigned blocks, unsigned threads, long long* out) {
    return kl::launch<BlockSum>(dim3(blocks), dim3(threads), threads * sizeof(long long), out);
}
cudaError_t LaunchRecordOrder(unsigned blocks, unsigned threads, unsigned* out) {
    return kl::launch<RecordOrder>(dim3(blocks), dim3(threads), 0, out);
}
cudaError_t LaunchLoopShared(unsigned blocks, unsigned threads, int* out) {
    return kl::launch<LoopShared>(dim3(blocks), dim3(threads), 0, out);
}
cudaError_t LaunchEarlyExit(unsigned threads) { return kl::launch<EarlyExit>(dim3(1), dim3(threads), 0); }
cudaError_t LaunchSplitBarrier(unsigned threads) {
    return kl::launch<SplitBarrier>(dim3(1), dim3(threads), 0);
}
cudaError_t LaunchEmpty(dim3 grid, dim3 block, size_t sharedBytes) {
    return kl::launch<Empty>(grid, block, sharedBytes);
}
cudaError_t LaunchBarriers(dim3 grid, dim3 block, int phases) {
    return kl::launch<Barriers>(grid, block, 0, phases);
}
cudaError_t LaunchFetch(cudaTextureObject_t tex, int w, int h, int dx, int dy, unsigned* out) {
    return kl::launch<Fetch>(dim3(1), dim3(w, h), 0, tex, w, h, dx, dy, out);
}

}  // namespace rtk
