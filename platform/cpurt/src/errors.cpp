#include "internal.h"

namespace cpurt {
namespace {
thread_local cudaError_t t_pending = cudaSuccess;
thread_local std::string t_launch_failure;
}  // namespace

cudaError_t record(cudaError_t err) {
    if (err != cudaSuccess && t_pending == cudaSuccess) t_pending = err;
    return err;
}

void set_launch_failure(const std::string& message) { t_launch_failure = message; }

}  // namespace cpurt

extern "C" {

cudaError_t cudaGetLastError(void) {
    cudaError_t e = cpurt::t_pending;
    cpurt::t_pending = cudaSuccess;
    return e;
}

cudaError_t cudaPeekAtLastError(void) { return cpurt::t_pending; }

const char* cudaGetErrorName(cudaError_t error) {
    switch (error) {
#define CPURT_ERROR(name, value) \
    case name:                   \
        return #name;
#include "cpurt_error_list.h"
#undef CPURT_ERROR
    }
    return "cudaErrorUnknown";
}

const char* cudaGetErrorString(cudaError_t error) {
    switch (error) {
    case cudaSuccess: return "no error";
    case cudaErrorInvalidValue: return "invalid argument";
    case cudaErrorMemoryAllocation: return "out of memory";
    case cudaErrorInvalidConfiguration: return "invalid configuration argument";
    case cudaErrorInvalidPitchValue: return "invalid pitch argument";
    case cudaErrorInvalidMemcpyDirection: return "invalid copy direction for memcpy";
    case cudaErrorInvalidDeviceFunction: return "invalid device function";
    case cudaErrorInvalidResourceHandle: return "invalid resource handle";
    case cudaErrorLaunchFailure: return "unspecified launch failure";
    case cudaErrorNotYetImplemented: return "function not yet implemented";
    case cudaErrorNotSupported: return "operation not supported";
    default: return cudaGetErrorName(error);
    }
}

const char* cpurtLastLaunchFailure(void) { return cpurt::t_launch_failure.c_str(); }

cudaError_t cudaDeviceSynchronize(void) { return cudaSuccess; }

cudaError_t cudaGetDeviceCount(int* count) {
    if (!count) return cpurt::record(cudaErrorInvalidValue);
    *count = 1;
    return cudaSuccess;
}

}  // extern "C"
