#include "convolution/sharpen.h"

#include "convolution/frame_span.h"
#include "launch/grid_block.h"
#include "kernel_lang.h"

namespace tvf2 {
namespace sharpen {
namespace {

typedef unsigned char u8;

// One pixel, one tile cell.
struct Px {
    u8 v[4];
};
static_assert(sizeof(Px) == 4, "one 32-bit pixel per tile cell");

// The 3x3 neighbourhood of a pixel: t(op), m(iddle), b(ottom) rows; l(eft), c(entre),
// r(ight) columns.
struct Hood {
    Px tl, tc, tr, ml, c, mr, bl, bc, br;
};

__host__ __device__ __forceinline__ int ClampByte(int v) { return kl::min(kl::max(v, 0), 255); }

// C + term * amount / 256, the division toward zero; the 32-bit product wraps as on the
// device, so every amount is defined.
__host__ __device__ __forceinline__ u8 AddScaled(int c, int term, int amount) {
    return static_cast<u8>(ClampByte(c + kl::wrap_mul(term, amount) / 256));
}

// |(gx, gy)| truncated and clamped to a byte; gx * gx is one fused multiply-add.
__host__ __device__ __forceinline__ int Magnitude(float gx, float gy) {
    return ClampByte(kl::f2i_rz(sqrtf(fmaf(gx, gx, gy * gy))));
}

struct LaplacianC32 {
    __device__ static Px Apply(const Hood& n, int amount) {
        Px o;
        for (int i = 0; i < 4; ++i) {
            const int hp = ClampByte(128 - n.tc.v[i] + 4 * n.c.v[i] - n.bc.v[i] - n.mr.v[i] - n.ml.v[i]);
            o.v[i] = AddScaled(n.c.v[i], hp - 128, amount);
        }
        return o;
    }
};

// Each of the four neighbours counts with its alpha / 255; the centre with their sum.
struct LaplacianC32A {
    __device__ static Px Apply(const Hood& n, int amount) {
        const float wU = float(n.tc.v[3]) / 255.0f, wL = float(n.ml.v[3]) / 255.0f;
        const float wR = float(n.mr.v[3]) / 255.0f, wD = float(n.bc.v[3]) / 255.0f;
        const float s = ((wU + wL) + wR) + wD;
        Px o;
        for (int i = 0; i < 3; ++i) {
            const float hp = ((((float(n.c.v[i]) * s - float(n.tc.v[i]) * wU) - float(n.bc.v[i]) * wD) -
                               float(n.mr.v[i]) * wR) -
                              float(n.ml.v[i]) * wL) +
                             128.0f;
            o.v[i] = AddScaled(n.c.v[i], ClampByte(kl::f2i_rz(hp)) - 128, amount);
        }
        o.v[3] = n.c.v[3];
        return o;
    }
};

struct EdgeC32 {
    __device__ static Px Apply(const Hood& n, int amount) {
        Px o;
        for (int i = 0; i < 4; ++i) {
            const int gx = (n.bl.v[i] + n.tl.v[i]) + 2 * n.ml.v[i] - n.tr.v[i] - n.br.v[i] - 2 * n.mr.v[i];
            const int gy = n.tl.v[i] - n.bl.v[i] + n.tr.v[i] - n.br.v[i] + 2 * n.tc.v[i] - 2 * n.bc.v[i];
            o.v[i] = AddScaled(n.c.v[i], Magnitude(float(gx), float(gy)), amount);
        }
        return o;
    }
};

// The gradient of alpha-premultiplied colours (exact integer products as floats),
// scaled back to colour units.
struct EdgeC32A {
    __device__ static float Pre(const Px& p, int i) { return float(p.v[i] * p.v[3]); }
    __device__ static Px Apply(const Hood& n, int amount) {
        Px o;
        for (int i = 0; i < 3; ++i) {
            const float tl = Pre(n.tl, i), tc = Pre(n.tc, i), tr = Pre(n.tr, i), ml = Pre(n.ml, i);
            const float mr = Pre(n.mr, i), bl = Pre(n.bl, i), bc = Pre(n.bc, i), br = Pre(n.br, i);
            const float gx = ((((fmaf(ml, 2.0f, tl) + bl) - tr) - (mr + mr)) - br) / 255.0f;
            const float gy = ((((fmaf(tc, 2.0f, tl) + tr) - bl) - (bc + bc)) - br) / 255.0f;
            o.v[i] = AddScaled(n.c.v[i], Magnitude(gx, gy), amount);
        }
        o.v[3] = n.c.v[3];
        return o;
    }
};

__device__ __forceinline__ Px Load(const void* base, int pitch, int x, int y) {
    const u8* p = static_cast<const u8*>(base) + static_cast<long long>(y) * pitch + 4LL * x;
    Px s;
    for (int i = 0; i < 4; ++i) s.v[i] = p[i];
    return s;
}

// The block walks the frame in tiles of its own shape. Each thread stages its pixel in a
// tile with a one-pixel border; threads on the block's edges, and on the frame's last
// column and row (whose neighbours beyond belong to no thread), also stage the border
// cells next to them, corners included, from coordinates clamped to the frame. Every
// thread of the block reaches both barriers of every tile, inside the frame or not.
template <class Op>
__device__ void SharpenTiles(int w, int h, int amount, void* dst, int dstPitch, const void* src, int srcPitch) {
    KL_DYNAMIC_SHARED(Px, tile);
    const int bx = blockDim.x, by = blockDim.y, tx = threadIdx.x, ty = threadIdx.y;
    const int stride = bx + 2, stepX = gridDim.x * bx, stepY = gridDim.y * by;
    const int firstX = blockIdx.x * bx, firstY = blockIdx.y * by;
    for (int y0 = firstY; y0 < h; y0 += stepY)
        for (int x0 = firstX; x0 < w; x0 += stepX) {
            const int x = x0 + tx, y = y0 + ty;
            const bool inside = x < w && y < h;
            if (inside) {
                const bool left = tx == 0, right = tx == bx - 1 || x == w - 1;
                const bool top = ty == 0, bottom = ty == by - 1 || y == h - 1;
                for (int dy = -1; dy <= 1; ++dy) {
                    if ((dy < 0 && !top) || (dy > 0 && !bottom)) continue;
                    const int sy = kl::min(kl::max(y + dy, 0), h - 1);
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dx < 0 && !left) || (dx > 0 && !right)) continue;
                        const int sx = kl::min(kl::max(x + dx, 0), w - 1);
                        tile[(ty + 1 + dy) * stride + tx + 1 + dx] = Load(src, srcPitch, sx, sy);
                    }
                }
            }
            __syncthreads();
            Px out{};
            if (inside) {
                const Px* t = tile + ty * stride + tx;  // top-left of the neighbourhood
                const Px* m = t + stride;
                const Px* b = m + stride;
                const Hood n{t[0], t[1], t[2], m[0], m[1], m[2], b[0], b[1], b[2]};
                out = Op::Apply(n, amount);
            }
            __syncthreads();
            if (inside) {
                u8* q = static_cast<u8*>(dst) + static_cast<long long>(y) * dstPitch + 4LL * x;
                for (int i = 0; i < 4; ++i) q[i] = out.v[i];
            }
        }
}

}  // namespace
}  // namespace sharpen

using namespace sharpen;

#define TVF2_SHARPEN_KERNEL(name, Op)                                                                \
    __global__ void name(int w, int h, int amount, void* dst, int dstPitch, const void* src,        \
                         int srcPitch) {                                                            \
        SharpenTiles<Op>(w, h, amount, dst, dstPitch, src, srcPitch);                                \
    }

TVF2_SHARPEN_KERNEL(E100, LaplacianC32)
TVF2_SHARPEN_KERNEL(E101, LaplacianC32A)
TVF2_SHARPEN_KERNEL(E102, EdgeC32)
TVF2_SHARPEN_KERNEL(E103, EdgeC32A)

#undef TVF2_SHARPEN_KERNEL

bool SharpenArgsValid(const SharpenArgs& a) {
    if (a.width < 1 || a.height < 1) return true;  // the launch's empty shape decides
    if (!a.dst || !a.src) return false;
    const long long row = 4LL * a.width;
    if (a.dstPitch < row || a.srcPitch < row || a.dstPitch % 4 || a.srcPitch % 4) return false;
    return !FrameSpan(a.dst, a.dstPitch, a.width, a.height, 4)
                .Overlaps(FrameSpan(a.src, a.srcPitch, a.width, a.height, 4));
}

SharpenPlan PlanSharpen(SharpenKind kind, const SharpenArgs& a) {
    const bool edge = kind == SharpenKind::EdgeC32 || kind == SharpenKind::EdgeC32A;
    const LaunchShape s = edge ? GridBlockForMode(a.width, a.height, 2) : GridBlock(a.width, a.height);
    SharpenPlan p;
    p.grid = dim3(s.gridX, s.gridY);
    p.block = dim3(s.blockX, s.blockY);
    p.sharedBytes = (s.blockX + 2) * (s.blockY + 2) * static_cast<unsigned>(sizeof(Px));
    return p;
}

cudaError_t LaunchSharpen(SharpenKind kind, const SharpenArgs& a) {
    if (!SharpenArgsValid(a)) return cudaErrorInvalidValue;
    const SharpenPlan p = PlanSharpen(kind, a);
#define TVF2_LAUNCH_SHARPEN(kernel) \
    kl::launch<kernel>(p.grid, p.block, p.sharedBytes, a.width, a.height, a.amount, a.dst, a.dstPitch, a.src, a.srcPitch)
    switch (kind) {
    case SharpenKind::LaplacianC32: TVF2_LAUNCH_SHARPEN(E100); break;
    case SharpenKind::LaplacianC32A: TVF2_LAUNCH_SHARPEN(E101); break;
    case SharpenKind::EdgeC32: TVF2_LAUNCH_SHARPEN(E102); break;
    case SharpenKind::EdgeC32A: TVF2_LAUNCH_SHARPEN(E103); break;
    }
#undef TVF2_LAUNCH_SHARPEN
    return cudaGetLastError();
}

}  // namespace tvf2
