// Horizontal shift of channels 1 and 2 (bytes 1 and 2) of a 32-bit frame, in place, each
// by its own amount in half pixels (positive moves content right). An odd shift takes the
// floor of the mean of two neighbouring source pixels; positions outside the row take its
// first or last pixel. Bytes 0 and 3 keep their values.
//
// One block walks every row: it copies the row into a row buffer, then rewrites the row
// from the buffer. The buffer lives in dynamic shared memory when the row pitch fits the
// budget, otherwise in a temporary device buffer that the launcher allocates and frees.
#ifndef TVF2_EFFECTS_CHANNEL_SHIFT_H
#define TVF2_EFFECTS_CHANNEL_SHIFT_H

#include <cuda_runtime.h>

#include <cstddef>

namespace tvf2 {

struct ChannelShiftArgs {
    int w, h;
    void* frame;
    int pitch;
    int shift1, shift2;
};

// Largest pitch, in bytes, whose row is staged in shared memory.
constexpr int kChannelShiftSharedBudget = 12288;

struct ChannelShiftPlan {
    bool sharedRow;  // row buffer in shared memory, or else in a device temporary
    dim3 grid, block;
    size_t bufferBytes;  // shared bytes, or bytes of the temporary
};

ChannelShiftPlan PlanChannelShift(const ChannelShiftArgs& a);

typedef cudaError_t (*DeviceAllocator)(void** ptr, size_t bytes);

// Refuses a null frame, negative sizes and a pitch smaller than a row with invalid
// value, before anything is launched. Otherwise launches the plan's kernel; a temporary
// comes from `allocate` (cudaMalloc unless a test says otherwise), and if that fails its
// status is returned with nothing launched. Returns the runtime's status.
cudaError_t LaunchChannelShift(const ChannelShiftArgs& a, DeviceAllocator allocate = nullptr);

}  // namespace tvf2

#endif
