#include "internal.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace cpurt {
namespace {
// The last error is per host thread, as in the CUDA runtime: one thread's failure never
// shows up in another thread's query.
thread_local cudaError_t t_pending = cudaSuccess;
thread_local std::string t_launch_failure;

// Armed failures: calls left until the one that fails (0: disarmed), and its error.
struct Injection {
    std::atomic<unsigned long long> countdown{0};
    std::atomic<int> error{cudaErrorUnknown};
};
Injection g_injections[3];
}  // namespace

// TVF2_CPU_FAIL arms failures for a whole process (how tvf2's handling of a module that
// fails mid-stream is tested): "launch:N", "alloc:N" or "texture:N", comma-separated.
void arm_from_environment() {
    const char* env = std::getenv("TVF2_CPU_FAIL");
    if (!env) return;
    const struct {
        const char* name;
        cpurtFailurePoint point;
        cudaError_t error;
    } points[] = {{"alloc:", cpurtFailAllocation, cudaErrorMemoryAllocation},
                  {"texture:", cpurtFailTextureCreation, cudaErrorMemoryAllocation},
                  {"launch:", cpurtFailLaunch, cudaErrorLaunchOutOfResources}};
    for (const char* p = env; *p;) {
        for (const auto& pt : points) {
            const std::size_t len = std::strlen(pt.name);
            if (std::strncmp(p, pt.name, len) == 0) cpurtFailNth(pt.point, std::strtoull(p + len, nullptr, 10), pt.error);
        }
        const char* comma = std::strchr(p, ',');
        p = comma ? comma + 1 : p + std::strlen(p);
    }
}

bool injected_failure(cpurtFailurePoint point, cudaError_t* error) {
    static const bool armed = (arm_from_environment(), true);
    (void)armed;
    Injection& inj = g_injections[point];
    unsigned long long left = inj.countdown.load(std::memory_order_relaxed);
    // Decrement only while armed, so that concurrent callers agree on who is the n-th.
    while (left != 0 && !inj.countdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 1) return false;
    *error = static_cast<cudaError_t>(inj.error.load());
    return true;
}

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

void cpurtFailNth(enum cpurtFailurePoint point, unsigned long long n, cudaError_t error) {
    if (static_cast<unsigned>(point) > cpurtFailLaunch) return;
    cpurt::g_injections[point].error.store(error);
    cpurt::g_injections[point].countdown.store(n);
}

int cpurtFailurePending(enum cpurtFailurePoint point) {
    if (static_cast<unsigned>(point) > cpurtFailLaunch) return 0;
    return cpurt::g_injections[point].countdown.load() != 0;
}

const char* cpurtLastLaunchFailure(void) { return cpurt::t_launch_failure.c_str(); }

cudaError_t cudaDeviceSynchronize(void) { return cudaSuccess; }

cudaError_t cudaGetDeviceCount(int* count) {
    if (!count) return cpurt::record(cudaErrorInvalidValue);
    *count = 1;
    return cudaSuccess;
}

}  // extern "C"
