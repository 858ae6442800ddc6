// Sequential reference of the multi-frame similarity average: for every output pixel,
// plain loops over the reference frames and the rows and columns of its 5x5 block that
// lie within its field, sums in 64 bits on the stored bytes, no tiles and no threads.
#ifndef TVF2_TESTS_DENOISE_MULTI_FRAME_REFERENCE_H
#define TVF2_TESTS_DENOISE_MULTI_FRAME_REFERENCE_H

#include "../common/frames.h"

#include <vector>

namespace tvf2test {

enum class MfaLayout { C32, C32A, YUV32, YUV32A };

inline bool HasAlpha(MfaLayout l) { return l == MfaLayout::C32A || l == MfaLayout::YUV32A; }

// dst (the current frame's size) from the current frame and the references. With
// fields the even rows and the odd rows are two frames of their own, the even one
// taking the last row of an odd height.
void MultiFrameReference(MfaLayout layout, int T, bool fields, const HostFrame& current,
                         const std::vector<HostFrame>& references, HostFrame& dst);

}  // namespace tvf2test

#endif
