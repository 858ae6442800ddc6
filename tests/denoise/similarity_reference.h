// Sequential reference of the similarity-weighted window averages: for every output
// pixel, plain loops over the rows and columns of the frame that lie within the window,
// sums in 64 bits, no tiles, no shared memory, no thread structure.
#ifndef TVF2_TESTS_DENOISE_SIMILARITY_REFERENCE_H
#define TVF2_TESTS_DENOISE_SIMILARITY_REFERENCE_H

#include "../common/frames.h"

namespace tvf2test {

enum class SwaLayout { C32, YUV32, C32A, YUV32A };

inline bool HasAlpha(SwaLayout l) { return l == SwaLayout::C32A || l == SwaLayout::YUV32A; }

struct SwaParams {
    int T, radius;
};

// Linear source. With fields the even rows and the odd rows are filtered as two frames
// of their own (the even one taking the last row of an odd height).
void SimilarityReference(SwaLayout layout, const SwaParams& p, bool fields, const HostFrame& src,
                         HostFrame& dst);

// Texture source: `image` holds the array's texels; dst (its size is the output's) row
// v reads image row v * rowScale + rowOffset, every coordinate clamped to the image.
void SimilarityTexReference(SwaLayout layout, const SwaParams& p, int rowOffset, int rowScale,
                            bool sameParity, const HostFrame& image, HostFrame& dst);

}  // namespace tvf2test

#endif
