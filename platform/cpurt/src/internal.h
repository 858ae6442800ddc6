// Shared between the CPU runtime's translation units.
#ifndef TVF2_CPURT_INTERNAL_H
#define TVF2_CPURT_INTERNAL_H

#include "cpurt.h"

#include <cstdint>
#include <string>

namespace cpurt {

// Records err as the calling thread's pending error unless one is already pending, and
// returns err: the last-error query reports the first error since it was last read.
cudaError_t record(cudaError_t err);

// True when [p, p + bytes) lies inside one live cudaMalloc allocation.
bool is_device_range(const void* p, std::size_t bytes);

void set_launch_failure(const std::string& message);

// Counts a call at an injection point; true (with the error to report) when this call
// is the one armed to fail.
bool injected_failure(cpurtFailurePoint point, cudaError_t* error);

}  // namespace cpurt

#endif
