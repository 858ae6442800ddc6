// Argument checks shared by the launchers of 32-bit-pixel frames.
#ifndef TVF2_EFFECTS_FRAME_ARGS_H
#define TVF2_EFFECTS_FRAME_ARGS_H

#include <cstdint>

namespace tvf2 {

// The kernels read and write 32-bit pixels as words: every row must start on a 4-byte
// boundary (base and pitch multiples of 4), or the device faults on a misaligned access.
inline bool PixelsAligned(const void* base, int pitch) {
    return reinterpret_cast<uintptr_t>(base) % 4 == 0 && pitch % 4 == 0;
}

}  // namespace tvf2

#endif
