// Sequential references of the 3x3 sharpening and edge boost and of the thresholded
// detail addition: plain loops over whole frames, one pixel at a time, neighbours read
// straight from the source with coordinates clamped to the frame (no tiles or threads).
#ifndef TVF2_TESTS_CONVOLUTION_SHARPEN_REFERENCE_H
#define TVF2_TESTS_CONVOLUTION_SHARPEN_REFERENCE_H

#include "../common/frames.h"

namespace tvf2test {

enum class SharpenRef { LaplacianC32, LaplacianC32A, EdgeC32, EdgeC32A };

// src into dst (4-byte pixels); dst's padding is left as it was.
void SharpenReference(SharpenRef op, const HostFrame& src, int amount, HostFrame& dst);

// src (4 bytes per pixel of 8-bit samples, or 8 bytes of signed 16-bit samples when
// wide) plus detail (8 bytes per pixel: four signed 16-bit values) into dst.
void DetailReference(bool wide, bool weighted, const HostFrame& src, const HostFrame& detail, float amount,
                     int threshold, int limit, HostFrame& dst);

}  // namespace tvf2test

#endif
