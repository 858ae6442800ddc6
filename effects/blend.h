// Blend toward a constant colour: bytes 0 to 2 of every pixel of a 32-bit frame become
// src * alpha + colour * (1 - alpha), in place; byte 3 keeps its value.
#ifndef TVF2_EFFECTS_BLEND_H
#define TVF2_EFFECTS_BLEND_H

#include <cuda_runtime.h>

#include <cstdint>

namespace tvf2 {

struct BlendArgs {
    int w, h;
    void* frame;
    int pitch;
    uint32_t colour;  // byte c of the colour in bits 8c .. 8c + 7; bits 24 to 31 unused
    float alpha;      // weight of the frame's own value; outside 0..1 results wrap (see .cu)
};

// Refuses a null frame, negative sizes and a pitch smaller than a row with invalid
// value, before anything is launched; otherwise queues the blend over the default
// launch shape and returns the runtime's status.
cudaError_t LaunchBlendToColour(const BlendArgs& a);

}  // namespace tvf2

#endif
