// Statuses across the interface. The host was built against the CUDA 6.0 runtime and
// reads every slot's status in that runtime's numbering; the module runs on a later
// runtime whose codes were renumbered. Every slot's status goes through HostStatus.
#ifndef TVF2_MODULE_STATUS_H
#define TVF2_MODULE_STATUS_H

#include <cuda_runtime.h>

namespace tvf2 {

// The CUDA 6.0 code of the runtime status `err` (matched by name); a status that the
// CUDA 6.0 runtime did not have becomes 30, its unknown error.
int HostStatus(cudaError_t err);

constexpr int kHostUnknownError = 30;

}  // namespace tvf2

#endif
