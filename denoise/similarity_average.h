// Similarity-weighted window average: every pixel becomes the weighted mean of the
// pixels in a square window of radius r around it (clipped to the frame, never
// mirrored). A member at squared colour distance d² (bytes 0 to 2) from the centre
// weighs T - d² when that is at least 1 and nothing otherwise; the centre enters once
// more with weight T, so a pixel with no similar neighbour keeps its colour.
//
// Four layouts share the window rule and differ only in how they sum:
//   C32     plain 32-bit sums; byte 3 not read, written 0 (255 from a texture);
//   YUV32   as C32 with bytes 1 and 2 summed as signed chroma (stored - 128); byte 3
//           written 255; the result equals C32's in bytes 0 to 2;
//   C32A    each weight times the member's alpha, products scaled down by 16 while
//           summing, a 64-bit final quotient clamped to a byte; alpha kept per pixel;
//   YUV32A  as C32A with signed chroma sums; the result equals C32A's.
//
// Sources: a frame in linear memory (three kernel forms, chosen by the shared memory a
// tile of the block plus its apron would need), or a caller's CUDA array read through
// a texture object with a row scale and offset and optional same-parity windows.
//
// Decisions where the behaviour was ours to choose:
//   - fields with an odd height: the even field takes (H + 1) / 2 rows and the odd
//     field H / 2, so the last row is filtered with the rows of its own parity;
//   - the texture slots' 8x8 grid for frames of 8008 rows or more (more than 1000 block
//     rows): 1 by 1000 blocks, the grid-stride loops cover the rest;
//   - the YUV32A chroma numerator 16 * S + W / 2 + 128 * W is formed wholly in 64 bits,
//     so that it stays equal to C32A's where the 32-bit bracket would overflow;
//   - invalid value (nothing launched, nothing written): T = 0 (no weight at all),
//     a negative radius; for a non-empty frame also null frames, pitches smaller than
//     a row, and frames or pitches not 4-byte aligned (every pixel moves as one 32-bit
//     word); for the texture slots also a null array or channel descriptor;
//   - a texture channel descriptor other than four unsigned 8-bit channels is a binding
//     failure, answered with invalid channel descriptor before anything is launched;
//   - an empty frame keeps the launch shape's behaviour: the linear C32, C32A and
//     YUV32A launchers get an empty block and report the runtime's configuration
//     error; YUV32 and the texture launchers launch a grid that finds nothing to do.
#ifndef TVF2_DENOISE_SIMILARITY_AVERAGE_H
#define TVF2_DENOISE_SIMILARITY_AVERAGE_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class SimilarityLayout { C32, YUV32, C32A, YUV32A };

struct SimilarityArgs {
    void* dst;
    const void* src;
    int width, height, dstPitch, srcPitch, T, radius;
    bool fields;  // filter the even rows and the odd rows as two separate frames
};

struct SimilarityTexArgs {
    void* dst;
    cudaArray* array;
    int width, height, dstPitch;
    const cudaChannelFormatDesc* desc;
    int rowOffset, rowScale;  // output row v reads texture row v * rowScale + rowOffset
    int T, radius;
    bool sameParity;  // the window takes only the rows of the centre row's parity
};

// Kernel forms of the linear-memory source, all giving the same result:
//   FixedRadiusTile  shared tile of block plus apron, radius 1 to 4 fixed at compile time;
//   Tile             the same tile with the radius at run time;
//   BlockStaged      only the block's own pixels staged, the apron read from the frame
//                    (taken when the tile would need 12288 bytes or more).
enum class SimilarityForm { FixedRadiusTile, Tile, BlockStaged };

struct SimilarityPlan {
    SimilarityForm form;
    dim3 grid, block;
    unsigned sharedBytes;
};

// The launch of the linear-memory source for a whole frame (field passes reuse it).
SimilarityPlan PlanSimilarity(SimilarityLayout layout, int width, int height, int radius);

// Grid of the 8x8 blocks of the texture sources (and of YUV32's linear source): the
// whole blocks that fit, the count across shrinking first when above 1000 blocks.
dim3 SimilarityEightByEightGrid(int width, int height);

// Checks the arguments (invalid value, nothing launched), then queues the kernel the
// plan chooses, once or once per field. Returns the runtime's status after the first
// field when that failed, else after the last launch; does not wait for the kernels.
cudaError_t LaunchSimilarity(SimilarityLayout layout, const SimilarityArgs& a);

// Checks the arguments, creates a texture object over the array (four unsigned 8-bit
// channels, element reads, unnormalised coordinates, point sampling, clamped on every
// axis), launches, waits for the device and destroys the object. Returns the creation
// status when that failed (nothing launched), else the destruction status.
cudaError_t LaunchSimilarityTex(SimilarityLayout layout, const SimilarityTexArgs& a);

}  // namespace tvf2

#endif
