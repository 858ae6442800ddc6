// PNG files through libpng.
//
// Reading accepts every PNG: 8- and 16-bit grey, grey + alpha, RGB and RGBA as they
// are; palette pictures become RGB (RGBA if they have transparency), grey below 8 bits
// becomes 8-bit grey, and a tRNS colour key becomes an alpha channel. Interlaced files
// are de-interlaced. Ancillary chunks (gamma, colour profile, text) are not kept.
#ifndef TVF2_TOOL_PNG_IO_H
#define TVF2_TOOL_PNG_IO_H

#include "image.h"

namespace tvf2 {

class InputFile;
class OutputFile;

// Throws Failure ("NAME: <libpng's reason>") for a malformed or truncated file.
Image ReadPng(InputFile& in);

// Writes `img` as it is (channels and bit depth), not interlaced. Throws Failure.
void WritePng(const Image& img, OutputFile& out);

// PNG files start with these 8 bytes.
bool IsPngSignature(const unsigned char* bytes, size_t n);

}  // namespace tvf2

#endif
