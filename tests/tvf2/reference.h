// What tvf2 should produce, computed independently of its code: the mosaic as plain
// loops over cells, and the documented conversions between files and layouts.
#ifndef TVF2_TESTS_TVF2_REFERENCE_H
#define TVF2_TESTS_TVF2_REFERENCE_H

#include "test_support.h"

#include <cstdint>
#include <vector>

namespace tvf2test {

struct Cells {
    int cellW, cellH, offX, offY;
};

// C32: bytes 0..2 of every pixel of a cell become trunc(float(sum) / float(count) + 0.5)
// of that byte over the cell; byte 3 is left alone. (The per-block kernel form writes
// byte 3 as 0 instead; tvf2 ignores byte 3 of C32 output.)
void MosaicC32(std::vector<uint8_t>& frame, int width, int height, const Cells& c);

// YUY2: a cell's luma is the rounded mean of all its luma samples; its chroma the
// rounded mean of its pairs' chroma (each pair counted once), as 2 * sum / pixels.
void MosaicYUY2(std::vector<uint8_t>& frame, int width, int height, const Cells& c);

// An 8-bit picture as C32 / C32A (B, G, R, A; grey replicated; A = 255 without alpha).
std::vector<uint8_t> PictureToC32(const Picture& p);
// Back into the picture's channels (grey from G).
Picture C32ToPicture(const std::vector<uint8_t>& frame, const Picture& like);
// 16-bit samples to 8 bits, rounded.
Picture To8Bit(const Picture& p);

// A YUV4MPEG2 frame to YUY2 and back, with tvf2's documented chroma rules.
std::vector<uint8_t> FrameToYUY2(const Stream& s, const std::vector<uint8_t>& frame);
std::vector<uint8_t> YUY2ToFrame(const Stream& s, const std::vector<uint8_t>& yuy2);

// A YUV4MPEG2 frame to YUV32 (Y, U, V, 255; subsampled chroma repeated over the pixels
// it covers) and back (each chroma sample the mean of its pixels, rounded half up).
std::vector<uint8_t> FrameToYUV32(const Stream& s, const std::vector<uint8_t>& frame);
std::vector<uint8_t> YUV32ToFrame(const Stream& s, const std::vector<uint8_t>& yuv32);

}  // namespace tvf2test

#endif
