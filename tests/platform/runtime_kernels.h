// Small kernels that exercise the execution model, and host functions that launch them.
#ifndef TVF2_TESTS_PLATFORM_RUNTIME_KERNELS_H
#define TVF2_TESTS_PLATFORM_RUNTIME_KERNELS_H

#include <cuda_runtime.h>

namespace rtk {

// out[global thread id] = linear id encoding (block, thread); one entry per thread.
cudaError_t LaunchIdentify(dim3 grid, dim3 block, unsigned* out);
// Each block: thread t writes t*3+block into shared memory, barrier, reads its right
// neighbour's value (rotating), over `rounds` barrier-separated rounds.
cudaError_t LaunchRotate(dim3 grid, unsigned threads, int rounds, bool withBarrier, int* out);
// Block tree sum over dynamic shared memory of `threads` ints; out[block] = sum of
// (block * 1000 + t).
cudaError_t LaunchBlockSum(unsigned blocks, unsigned threads, long long* out);
// Static shared counter: out[block * threads + k] = the thread that ran k-th.
cudaError_t LaunchRecordOrder(unsigned blocks, unsigned threads, unsigned* out);
// out[block * 3 + i] = 1 + i: a static shared counter declared inside a loop persists.
cudaError_t LaunchLoopShared(unsigned blocks, unsigned threads, int* out);
// Thread 0 returns early, the others wait at a barrier.
cudaError_t LaunchEarlyExit(unsigned threads);
// Even threads and odd threads wait at different barriers.
cudaError_t LaunchSplitBarrier(unsigned threads);
// A kernel that does nothing, for launch-configuration checks and overhead.
cudaError_t LaunchEmpty(dim3 grid, dim3 block, size_t sharedBytes);
// One barrier per phase, `phases` times, for barrier overhead.
cudaError_t LaunchBarriers(dim3 grid, dim3 block, int phases);
// out[y * w + x] = texel at (x + dx + 0.5, y + dy + 0.5) packed as a 32-bit word.
cudaError_t LaunchFetch(cudaTextureObject_t tex, int w, int h, int dx, int dy, unsigned* out);

}  // namespace rtk

#endif
