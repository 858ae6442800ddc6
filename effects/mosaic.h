// Mosaic: every cell of a lattice over the frame takes the average colour of the cell.
//
// Cell (i, j) spans columns offX + i*cellW .. offX + (i+1)*cellW - 1 and the matching
// rows, clipped to the frame; cells continue while their start lies inside the frame.
// With a positive offset the columns (rows) before it belong to no cell and are left as
// they are; with a negative one the first cell is partial.
//
// Two kernel forms per layout: cells under 256 pixels take one thread per cell (no
// shared memory); larger cells take a 16x16 block per cell with a shared-memory tree
// reduction. They differ on purpose in two details: the C32 per-block form writes
// byte 3 as 0 (per-thread leaves it), and the C32A per-block form sums in floats.
#ifndef TVF2_EFFECTS_MOSAIC_H
#define TVF2_EFFECTS_MOSAIC_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class MosaicLayout { C32, C32A, YUY2 };

struct MosaicArgs {
    int height, width, cellH, cellW, offX, offY;
    const void* src;
    int srcPitch;
    void* dst;
    int dstPitch;
};

// Which kernel form a launch takes and with what shape; computed on the host.
struct MosaicPlan {
    bool perBlock;
    dim3 grid, block;
    unsigned sharedBytes;
};

// Arguments the mosaic cannot honour: cell sizes below 1, null frames, pitches smaller
// than a row, negative sizes, an offset of a whole cell or more to the left or top
// (whole cells outside the frame), and for YUY2 an odd width, cell width or offset.
bool MosaicArgsValid(MosaicLayout layout, const MosaicArgs& a);

MosaicPlan PlanMosaic(MosaicLayout layout, const MosaicArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the kernel the
// plan chooses. Returns the runtime's status after the launch.
cudaError_t LaunchMosaic(MosaicLayout layout, const MosaicArgs& a);

}  // namespace tvf2

#endif
