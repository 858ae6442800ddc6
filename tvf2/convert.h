// Conversions between file pictures and the module's layouts (see layout.h and
// USAGE.md). Every conversion here is exact except where a comment says otherwise.
#ifndef TVF2_TOOL_CONVERT_H
#define TVF2_TOOL_CONVERT_H

#include "image.h"
#include "y4m.h"

#include <cstddef>
#include <cstdint>

namespace tvf2 {

// 16-bit samples to 8 bits: v * 255 / 65535 rounded to nearest (halves cannot occur).
// An 8-bit picture is returned unchanged.
Image To8Bit(const Image& img);

// An 8-bit picture into C32 / C32A rows: byte 0 = B, 1 = G, 2 = R, 3 = A; grey is
// replicated into B, G and R; A is 255 when the picture has no alpha.
void ImageToC32(const Image& img, uint8_t* dst, size_t pitch);

// Back from C32 / C32A rows into img's own channels: R, G, B from bytes 2, 1, 0; grey
// from byte 1 (G); alpha from byte 3 when img has alpha. img must be 8-bit.
void C32ToImage(const uint8_t* src, size_t pitch, Image& img);

// 16-bit samples and the module's 16-bit lanes, which are signed (-32768..32767): a
// sample v (0..65535) goes in as v >> 1, the top 15 of its 16 bits, so that sums of
// non-negative weights stay in range and alpha stays non-negative; a lane value s comes
// back as (s << 1) | (s >> 14), which maps 0 to 0 and 32767 to 65535 (full scale stays
// full scale); a negative s comes back as 0.
inline int16_t SampleToLane16(uint16_t v) {
    return static_cast<int16_t>(v >> 1);
}
inline uint16_t Lane16ToSample(int16_t s) {
    return s <= 0 ? 0 : static_cast<uint16_t>((s << 1) | (s >> 14));
}

// A 16-bit picture into C64 / C64A rows (lanes in the order of C32: B, G, R, A; grey
// replicated into B, G and R; lane 3 = 32767 when the picture has no alpha), mapped as
// above; and back into img's own channels (grey from lane 1). img must be 16-bit.
void ImageToC64(const Image& img, uint8_t* dst, size_t pitch);
void C64ToImage(const uint8_t* src, size_t pitch, Image& img);

// A grey picture without alpha into one P8 (8-bit) or P16 (16-bit, mapped as above)
// plane, and back.
void ImageToPlane(const Image& img, uint8_t* dst, size_t pitch);
void PlaneToImage(const uint8_t* src, size_t pitch, Image& img);

// An 8-bit plane of width x height samples (rows `planePitch` bytes apart) into C32 rows
// as grey (replicated into B, G and R, A = 255), and back from byte 1 (G).
void PlaneToC32(const uint8_t* plane, size_t planePitch, int width, int height, uint8_t* dst,
                size_t pitch);
void C32ToPlane(const uint8_t* src, size_t pitch, int width, int height, uint8_t* plane,
                size_t planePitch);

// A YUV4MPEG2 frame into YUY2 rows (the width must be even):
//  4:2:2  packed as it is;
//  4:2:0  each chroma row serves two luma rows (row y takes chroma row y / 2);
//  4:4:4  each horizontal pair of chroma samples is averaged, rounding half up.
void FrameToYUY2(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch);

// YUY2 rows back into a frame of the header's format:
//  4:2:2  unpacked as it is;
//  4:2:0  chroma row r is the average of YUY2 rows 2r and 2r + 1, rounding half up
//         (row 2r alone for the last row of an odd height), which gives back exactly
//         the original chroma where the filter changed nothing;
//  4:4:4  each YUY2 chroma sample goes to both pixels of its pair.
void YUY2ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame);

// A YUV4MPEG2 frame into YUV32 rows (4:4:4, byte 0 = Y, 1 = U, 2 = V, 3 = 255; any
// width). Both store chroma value v as the byte v + 128, so samples are copied as they
// are. Subsampled chroma is duplicated: pixel (x, y) takes chroma sample (x / 2, y) for
// 4:2:2 and (x / 2, y / 2) for 4:2:0.
void FrameToYUV32(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch);

// YUV32 rows back into a frame of the header's format. Each chroma sample is the mean of
// the pixels it served (2 for 4:2:2, 2x2 for 4:2:0, fewer at an odd right or bottom
// edge), rounding half up: (sum + n / 2) / n. Where the filter changed nothing those
// pixels are equal, so the original chroma comes back exactly. Byte 3 is ignored.
void YUV32ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame);

// A YUV4MPEG2 frame into C32 rows (B, G, R, 255) through the YUV32 rows above and the
// BT.601 studio-range matrix in 8-bit integer arithmetic; C32ToFrame goes back the same
// way (bytes 0..2 only). The round trip is exact up to the matrices' rounding.
void FrameToC32(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch);
void C32ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame);

}  // namespace tvf2

#endif
