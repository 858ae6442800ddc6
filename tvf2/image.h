// A decoded still picture as tvf2 holds it between file and module.
#ifndef TVF2_TOOL_IMAGE_H
#define TVF2_TOOL_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvf2 {

struct Image {
    int width = 0, height = 0;
    int channels = 0;           // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA (PNG's sample order)
    int bitDepth = 8;           // 8 or 16; 16-bit samples are stored in host byte order
    std::vector<uint8_t> data;  // rows back to back, no padding

    bool HasAlpha() const { return channels == 2 || channels == 4; }
    bool IsGrey() const { return channels <= 2; }
    size_t RowBytes() const { return static_cast<size_t>(width) * channels * (bitDepth / 8); }
};

// Largest picture or frame tvf2 accepts, in pixels: 2^28 (16384x16384), so that no
// buffer size or pitch can overflow and a corrupt header cannot ask for absurd memory.
constexpr long long kMaxPixels = 1LL << 28;

}  // namespace tvf2

#endif
