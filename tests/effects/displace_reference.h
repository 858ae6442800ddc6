// Sequential reference of the edge-gradient displacement: the edge map, the smoothing
// passes and the bicubic resampling as plain loops over whole frames held in int arrays.
#ifndef TVF2_TESTS_EFFECTS_DISPLACE_REFERENCE_H
#define TVF2_TESTS_EFFECTS_DISPLACE_REFERENCE_H

#include "../common/frames.h"

#include <vector>

namespace tvf2test {

struct DisplaceParams {
    int edgeLimit, iterations, strength;
    float cubicA;
};

// edgeSrc: 2 bytes per pixel (low byte used) without alpha, 4 (bytes 0 and 3) with.
// Writes every pixel of dst; returns the smoothed map, row by row (w * h values).
std::vector<int> DisplaceReference(bool alpha, const DisplaceParams& p, const HostFrame& edgeSrc,
                                   const HostFrame& src, HostFrame& dst);

}  // namespace tvf2test

#endif
