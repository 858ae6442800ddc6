// What tvf2's conversions between files and the module's layouts must give, written
// from the documented rules independently of tvf2's code. (The filters themselves are
// the module's: the tests call it directly on these frames.)
#ifndef TVF2_TESTS_TVF2_REFERENCE_H
#define TVF2_TESTS_TVF2_REFERENCE_H

#include "test_support.h"

#include <cstdint>
#include <vector>

namespace tvf2test {

// 16-bit samples to 8 bits, rounded to nearest.
Picture To8Bit(const Picture& p);

// A picture in the module's lanes, tightly packed: one lane a pixel when `plane` (grey
// without alpha: P8, P16), else four, B, G, R, A (C32, C32A, C64, C64A), grey replicated
// and A full scale without alpha. 8-bit samples are bytes; a 16-bit sample v is the
// signed lane v >> 1, and a lane s comes back as (s << 1) | (s >> 14), 0 when negative.
std::vector<uint8_t> PictureToLanes(const Picture& p, bool plane);
// Back into like's channels and depth (grey from G).
Picture LanesToPicture(const std::vector<uint8_t>& lanes, const Picture& like, bool plane);

// A YUV4MPEG2 frame to YUY2 and back: 4:2:2 as it is; 4:2:0 rows share chroma rows and
// come back as the rounded mean of the two rows (the last row alone at an odd height);
// 4:4:4 pairs are averaged, rounding half up, and come back duplicated.
std::vector<uint8_t> FrameToYUY2(const Stream& s, const std::vector<uint8_t>& frame);
std::vector<uint8_t> YUY2ToFrame(const Stream& s, const std::vector<uint8_t>& yuy2);

// A YUV4MPEG2 frame to YUV32 (Y, U, V, 255; subsampled chroma repeated over the pixels
// it covers) and back (each chroma sample the mean of its pixels, rounded half up).
std::vector<uint8_t> FrameToYUV32(const Stream& s, const std::vector<uint8_t>& frame);
std::vector<uint8_t> YUV32ToFrame(const Stream& s, const std::vector<uint8_t>& yuv32);

// A YUV4MPEG2 frame to C32 (B, G, R, 255) through YUV32 and the BT.601 studio-range
// matrix in 1/256 steps, each result rounded down after adding 128 and clamped; back
// through the inverse matrix and YUV32ToFrame.
std::vector<uint8_t> FrameToRGB32(const Stream& s, const std::vector<uint8_t>& frame);
std::vector<uint8_t> RGB32ToFrame(const Stream& s, const std::vector<uint8_t>& rgb);

}  // namespace tvf2test

#endif
