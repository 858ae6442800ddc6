#include "effects/blend.h"

#include "effects/frame_args.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

namespace tvf2 {
namespace blend_colour {

// Each colour byte is weighted once per thread; per pixel, byte c is
// fma(byte, alpha, weighted colour c) converted toward zero to an unsigned integer, of
// which the low 8 bits are stored: with alpha outside 0..1 negative results give 0 and
// results of 256 or more wrap. The pixel is written back as one word with byte 3 as read.
__global__ void J100(int w, int h, void* frame, int pitch, unsigned colour, float alpha) {
    const float k = 1.0f - alpha;
    const float f0 = float(colour & 0xFFu) * k;
    const float f1 = float(colour >> 8 & 0xFFu) * k;
    const float f2 = float(colour >> 16 & 0xFFu) * k;
    const int x0 = blockIdx.x * blockDim.x + threadIdx.x, dx = gridDim.x * blockDim.x;
    const int y0 = blockIdx.y * blockDim.y + threadIdx.y, dy = gridDim.y * blockDim.y;
    for (int y = y0; y < h; y += dy) {
        unsigned* row = reinterpret_cast<unsigned*>(static_cast<unsigned char*>(frame) +
                                                    static_cast<long long>(y) * pitch);
        for (int x = x0; x < w; x += dx) {
            const unsigned p = row[x];
            const unsigned b0 = kl::f2u_rz(fmaf(float(p & 0xFFu), alpha, f0)) & 0xFFu;
            const unsigned b1 = kl::f2u_rz(fmaf(float(p >> 8 & 0xFFu), alpha, f1)) & 0xFFu;
            const unsigned b2 = kl::f2u_rz(fmaf(float(p >> 16 & 0xFFu), alpha, f2)) & 0xFFu;
            row[x] = b0 | b1 << 8 | b2 << 16 | (p & 0xFF000000u);
        }
    }
}

}  // namespace blend_colour

cudaError_t LaunchBlendToColour(const BlendArgs& a) {
    if (a.w < 0 || a.h < 0 || !a.frame || a.pitch < static_cast<long long>(a.w) * 4 ||
        !PixelsAligned(a.frame, a.pitch))
        return cudaErrorInvalidValue;
    const LaunchShape s = GridBlock(a.w, a.h);
    kl::launch<blend_colour::J100>(dim3(s.gridX, s.gridY), dim3(s.blockX, s.blockY), 0, a.w, a.h,
                                   a.frame, a.pitch, a.colour, a.alpha);
    return cudaGetLastError();
}

}  // namespace tvf2
