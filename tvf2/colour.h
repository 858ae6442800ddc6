// Colours for the keying and colour commands: RGB <-> YUV32 conversion of PNG pictures,
// the key and fade colours given on the command line, and the YUV32 round trip shared by
// the commands that work on PNG pictures in YUV32 (see USAGE.md, "RGB and YUV32").
#ifndef TVF2_TOOL_COLOUR_H
#define TVF2_TOOL_COLOUR_H

#include "image.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvf2 {

struct Rgb8 {
    int r, g, b;
};
struct Yuv8 {
    int y, u, v;  // stored bytes: chroma centred on 128
};

// BT.601 full range (the JPEG convention), in 16-bit fixed point, rounded half up and
// clamped to 0..255. Grey (R = G = B) gives U = V = 128 exactly, and back.
Yuv8 RgbToYuvFull(Rgb8 c);
Rgb8 YuvToRgbFull(Yuv8 c);
// BT.601 limited range (Y 16..235, chroma 16..240), as YUV4MPEG2 streams usually are;
// rounded half up.
Yuv8 RgbToYuvLimited(Rgb8 c);

// A plain finite decimal ("1", "-0.5", "2e-3"); throws UsageError naming `what`.
double ParseDecimal(const std::string& what, const std::string& text);

// A colour as given on the command line: "RRGGBB" or "#RRGGBB" in hexadecimal, or
// "Y,U,V" with the stored values (chroma centred on 128), decimals allowed.
struct ColourArg {
    bool isRgb = true;
    Rgb8 rgb{0, 0, 0};
    double y = 0, u = 128, v = 128;
};
// Throws UsageError naming `what`.
ColourArg ParseColour(const std::string& what, const std::string& text);

// The colour as Y, U, V for a picture (full range) or a YUV4MPEG2 stream (an RGB colour
// converted to limited range; Y,U,V taken as given).
void ColourToYuv(const ColourArg& c, bool stream, double& y, double& u, double& v);

// An 8-bit picture into YUV32A rows: byte 0 Y, 1 U, 2 V (full range), 3 alpha (255
// without alpha); grey is R = G = B.
void ImageToYUV32(const Image& img, uint8_t* dst, size_t pitch);
// Back into `out` (8-bit, the size of the rows): for RGB or RGBA, a pixel whose Y, U
// and V bytes equal those of `before` keeps the RGB of `original` exactly, any other is
// converted back from its Y, U and V; grey takes the Y byte. Alpha comes from byte 3
// when `out` has alpha.
void YUV32ToImage(const uint8_t* src, size_t pitch, const uint8_t* before, const Image& original,
                  Image& out);

}  // namespace tvf2

#endif
