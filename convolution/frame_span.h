// The memory a pitched frame covers, for argument checks that must know whether two
// frames share bytes.
#ifndef TVF2_CONVOLUTION_FRAME_SPAN_H
#define TVF2_CONVOLUTION_FRAME_SPAN_H

#include <cstdint>

namespace tvf2 {

// Bytes [begin, end) from the first pixel of row 0 to the last pixel of the last row
// (padding after the last row excluded). Needs w, h >= 1 and pitch >= w * bytesPerPixel.
struct FrameSpan {
    uintptr_t begin, end;
    FrameSpan(const void* base, int pitch, int w, int h, int bytesPerPixel)
        : begin(reinterpret_cast<uintptr_t>(base)),
          end(begin + static_cast<uintptr_t>(static_cast<long long>(h - 1) * pitch +
                                             static_cast<long long>(w) * bytesPerPixel)) {}
    bool Overlaps(const FrameSpan& o) const { return begin < o.end && o.begin < end; }
};

inline bool AlignedTo(const void* p, int bytes) {
    return reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(bytes) == 0;
}

}  // namespace tvf2

#endif
