// The module's pixel layouts that tvf2 feeds. Byte order within a pixel (all 8-bit):
//  C32   4 bytes: B, G, R, X   (byte 3 is 255 on upload and ignored on the way back)
//  C32A  4 bytes: B, G, R, A   (straight, not premultiplied, alpha)
//  YUY2  2 bytes a pixel, packed in pairs: Y0, U, Y1, V (chroma centred on 128)
//  YUV32 4 bytes: Y, U, V, X   (4:4:4; chroma stored as value + 128, that is centred on
//                               128 as in YUY2; byte 3 is 255 on upload and ignored)
#ifndef TVF2_TOOL_LAYOUT_H
#define TVF2_TOOL_LAYOUT_H

namespace tvf2 {

enum class Layout { C32, C32A, YUY2, YUV32 };

inline int BytesPerPixel(Layout layout) {
    return layout == Layout::YUY2 ? 2 : 4;
}

inline const char* LayoutName(Layout layout) {
    switch (layout) {
    case Layout::C32: return "C32";
    case Layout::C32A: return "C32A";
    case Layout::YUY2: return "YUY2";
    case Layout::YUV32: return "YUV32";
    }
    return "?";
}

}  // namespace tvf2

#endif
