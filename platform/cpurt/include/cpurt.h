// Extensions of the CPU runtime beyond the CUDA API: what the kernel-language layer
// needs to run kernels on the host, and hooks for tests.
//
// Execution model. A launch runs every block of the grid on a pool of worker threads
// (one per core; TVF2_CPU_WORKERS overrides). Within a block the threads run one after
// the other: each runs until it ends or reaches a barrier, and a barrier releases only
// when every thread of the block has reached it. Threads are fibers that never leave
// their worker. A kernel without barriers pays for no fiber switch at all per thread.
// Launches are synchronous: when cudaLaunchKernel returns, the kernel has finished.
//
// The order in which the threads of a block run between two barriers can be changed
// (forward, reverse, or a seeded shuffle that differs per block and per phase), through
// cpurtSetThreadOrder or the environment variable TVF2_CPU_THREAD_ORDER
// ("forward", "reverse", "shuffle" or "shuffle:SEED"). A correct kernel gives the same
// result in every order; a missing barrier shows up as a difference.
#ifndef TVF2_CPURT_H
#define TVF2_CPURT_H

#include "cuda_runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

struct cpurtBlockInfo {
    uint3 blockIdx;
    dim3 blockDim;
    dim3 gridDim;
};

// What a kernel thread sees of itself; the kernel-language layer reads it.
struct cpurtThread {
    uint3 threadIdx;
    const struct cpurtBlockInfo* block;
};

// A kernel as the runtime calls it: the trampoline unpacks the argument array the way
// the CUDA runtime's launch call receives it and calls the kernel function.
typedef void (*cpurtTrampoline)(void** args);

// Registers a kernel (its host address, a trampoline and a name for messages) so that
// cudaLaunchKernel accepts that address. Registering an address again replaces the
// earlier entry: a module unloaded and loaded again (perhaps a different build at the
// same address) registers its kernels anew, never runs a stale trampoline.
CPURT_API void cpurtRegisterFunction(const void* func, cpurtTrampoline trampoline,
                                     const char* name);

// The calling kernel thread, or null outside a kernel.
CPURT_API const struct cpurtThread* cpurtCurrentThread(void);

// Block-wide barrier (__syncthreads); file and line name it in failure reports.
CPURT_API void cpurtBarrier(const char* file, int line);

// The block's dynamic shared memory: exactly the launch's byte count, filled with a
// non-zero pattern at the start of each block.
CPURT_API void* cpurtDynamicShared(void);

// The block's static shared variable declared at `site` (any address unique to the
// declaration), allocated with the first request of each launch and filled with a
// non-zero pattern at the start of each block.
CPURT_API void* cpurtStaticShared(const void* site, size_t bytes, size_t alignment);

// uchar4 texel of a texture object at unnormalised (or normalised) coordinates, point
// sampled.
CPURT_API uchar4 cpurtTex2DUchar4(cudaTextureObject_t tex, float x, float y);

enum cpurtThreadOrder {
    cpurtThreadOrderForward = 0,
    cpurtThreadOrderReverse = 1,
    cpurtThreadOrderShuffle = 2
};
CPURT_API void cpurtSetThreadOrder(enum cpurtThreadOrder order, unsigned int seed);
CPURT_API enum cpurtThreadOrder cpurtGetThreadOrder(void);

// The message of the most recent launch failure on the calling host thread ("" if none):
// the kernel's name, the block, and what went wrong (for a barrier that not every
// thread reached, the barrier's file and line).
CPURT_API const char* cpurtLastLaunchFailure(void);

// Number of live allocations (cudaMalloc and cudaMallocArray), for leak checks in tests.
CPURT_API size_t cpurtLiveAllocations(void);

// Number of live texture objects, for leak checks in tests.
CPURT_API size_t cpurtLiveTextures(void);

// Failure injection. cpurtFailNth(point, n, error) makes the n-th call of that kind from
// now on (n = 1: the next one), on whichever host thread it comes, fail with `error`
// without doing anything else; n = 0 disarms the point. Each point counts on its own:
//   cpurtFailAllocation       cudaMalloc and cudaMallocArray
//   cpurtFailTextureCreation  cudaCreateTextureObject
//   cpurtFailLaunch           cudaLaunchKernel, after its configuration was found valid
//                             (so a launch that the device would refuse still reports
//                             that), before any block runs
// A failed launch is recorded as the thread's last error like any other launch error.
// The environment variable TVF2_CPU_FAIL arms points for a whole process: "launch:N",
// "alloc:N", "texture:N", comma-separated (out of memory for allocations and texture
// objects, out of resources for launches).
enum cpurtFailurePoint {
    cpurtFailAllocation = 0,
    cpurtFailTextureCreation = 1,
    cpurtFailLaunch = 2
};
CPURT_API void cpurtFailNth(enum cpurtFailurePoint point, unsigned long long n, cudaError_t error);
// Whether the armed failure of `point` has not fired yet.
CPURT_API int cpurtFailurePending(enum cpurtFailurePoint point);

#ifdef __cplusplus
}
#endif

#endif
