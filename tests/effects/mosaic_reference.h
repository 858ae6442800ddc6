// Sequential reference of the mosaic: plain loops over the cells of the lattice, one
// cell at a time, no tiles, no shared memory, no thread structure.
#ifndef TVF2_TESTS_EFFECTS_MOSAIC_REFERENCE_H
#define TVF2_TESTS_EFFECTS_MOSAIC_REFERENCE_H

#include "../common/frames.h"

namespace tvf2test {

enum class RefLayout { C32, C32A, YUY2 };

struct MosaicParams {
    int cellW, cellH, offX, offY;
};

// True when the launcher takes the per-block form (cells of 256 pixels or more).
bool MosaicUsesBlocks(const MosaicParams& p);

// Applies the mosaic of src to dst (dst keeps what the mosaic does not write).
void MosaicReference(RefLayout layout, const MosaicParams& p, const HostFrame& src,
                     HostFrame& dst);

}  // namespace tvf2test

#endif
