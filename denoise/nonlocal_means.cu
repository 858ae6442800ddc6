#include "denoise/nonlocal_means.h"

#include "launch/grid_block.h"
#include "kernel_lang.h"

#include <cstdint>

namespace tvf2 {
namespace {

typedef unsigned char u8;

// The tiled forms are taken while the tiles need fewer shared bytes than this.
constexpr long long kTileBudget = 14336;
static_assert(kTileBudget <= 48 * 1024, "every tile fits the shared memory of one block");

__host__ __device__ __forceinline__ int Byte(uint32_t word, int k) {
    return static_cast<int>((word >> (8 * k)) & 0xffu);
}

// Row offsets are 32-bit products, as on the device (a frame stays below 2 GiB).
__device__ __forceinline__ uint32_t Load(const u8* base, int pitch, int x, int y) {
    return *reinterpret_cast<const uint32_t*>(base + static_cast<long long>(kl::wrap_mul(y, pitch)) + 4 * x);
}

__device__ __forceinline__ int Clamp(int lo, int hi, int v) { return v < lo ? lo : kl::min(v, hi); }

// The per-pixel sums of one output pixel. Candidates are added in the order frames,
// then search rows, then search columns; the patch distances are 32-bit sums (they
// wrap as on the device beyond a patch radius of 90).
struct Sums {
    float w[3] = {0.0f, 0.0f, 0.0f}, a[3] = {0.0f, 0.0f, 0.0f};

    // D: the three channels' patch distances; alpha: the candidate's factor.
    __device__ __forceinline__ void Add(const int (&D)[3], float c, float alpha, uint32_t candidate) {
        for (int k = 0; k < 3; ++k) {
            const float v = static_cast<float>(kl::wrap_mul(D[k], -1)) * c;
            const float e = expf(v) * alpha;
            w[k] += e;
            a[k] += e * static_cast<float>(Byte(candidate, k));
        }
    }
    __device__ __forceinline__ int Out(int k) const {
        return kl::min(kl::max(kl::f2i_rz(a[k] / w[k] + 0.5f), 0), 255);
    }
    // The alpha global form's answer where no weight remains: black in offset chroma.
    __device__ __forceinline__ int OutOrNeutral(int k) const {
        return w[k] == 0.0f ? (k == 0 ? 0 : 128) : Out(k);
    }
};

__device__ __forceinline__ void AddDistance(int (&D)[3], uint32_t p, uint32_t q) {
    for (int k = 0; k < 3; ++k) {
        const int d = Byte(p, k) - Byte(q, k);
        D[k] = kl::wrap_add(D[k], d * d);
    }
}

__device__ __forceinline__ void Store(u8* dst, int pitch, int x, int y, int b0, int b1, int b2, uint32_t b3) {
    *reinterpret_cast<uint32_t*>(dst + static_cast<long long>(kl::wrap_mul(y, pitch)) + 4 * x) =
        uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | b3 << 24;
}

// Run-time or compile-time radii: a template argument of -1 takes the run-time value.
template <int N>
__device__ __forceinline__ int Pick(int runtime) {
    return N >= 0 ? N : runtime;
}

// Global-memory form: every patch and candidate pixel read from its frame through
// clamped coordinates. With Alpha a candidate weighs alpha / 255 more, in every frame.
template <bool Alpha>
__device__ void GlobalBody(int w, int h, int S, int P, int T, const float* coef, u8* dst, int dstPitch,
                           const u8* const* frames, const int* pitches, int rowStart, int rowCount,
                           int colStart, int colCount) {
    const int yEnd = kl::min(h, rowStart + rowCount), xEnd = kl::min(w, colStart + colCount);
    const u8* centre = frames[T];
    const int centrePitch = pitches[T];
    for (int y = rowStart + blockIdx.y * blockDim.y + threadIdx.y; y < yEnd; y += gridDim.y * blockDim.y)
        for (int x = colStart + blockIdx.x * blockDim.x + threadIdx.x; x < xEnd; x += gridDim.x * blockDim.x) {
            Sums s;
            for (int f = 0; f <= 2 * T; ++f) {
                const u8* frame = frames[f];
                const int pitch = pitches[f];
                const float c = coef[f];
                for (int dy = -S; dy <= S; ++dy)
                    for (int dx = -S; dx <= S; ++dx) {
                        int D[3] = {0, 0, 0};
                        for (int py = -P; py <= P; ++py)
                            for (int px = -P; px <= P; ++px)
                                AddDistance(D,
                                            Load(centre, centrePitch, Clamp(0, w - 1, x + px), Clamp(0, h - 1, y + py)),
                                            Load(frame, pitch, Clamp(0, w - 1, x + dx + px), Clamp(0, h - 1, y + dy + py)));
                        const uint32_t candidate = Load(frame, pitch, Clamp(0, w - 1, x + dx), Clamp(0, h - 1, y + dy));
                        s.Add(D, c, Alpha ? static_cast<float>(candidate >> 24) / 255.0f : 1.0f, candidate);
                    }
            }
            if (Alpha)
                Store(dst, dstPitch, x, y, s.OutOrNeutral(0), s.OutOrNeutral(1), s.OutOrNeutral(2),
                      Load(centre, centrePitch, x, y) >> 24);
            else
                Store(dst, dstPitch, x, y, s.Out(0), s.Out(1), s.Out(2), 255u);
        }
}

// Tiled form: per frame a tile of the block plus a halo of R = S + max(P, 0) on every
// side, entry (row, column) of frame f's tile holding that frame's pixel at the clamped
// (x0 - R + column, y0 - R + row), (x0, y0) being the block's origin. The block steps
// its origin through the piece (grid-stride), all threads together, so that every
// thread meets the same barriers; threads outside the frame only help to fill. With
// Alpha a candidate weighs its alpha more, the centre frame's as opaque (255).
template <bool Alpha, int S_, int P_, int T_>
__device__ void TileBody(int w, int h, int rS, int rP, int rT, const float* coef, u8* dst, int dstPitch,
                         const u8* const* frames, const int* pitches, int rowStart, int rowCount,
                         int colStart, int colCount) {
    KL_DYNAMIC_SHARED(uint32_t, tiles);
    const int S = Pick<S_>(rS), P = Pick<P_>(rP), T = Pick<T_>(rT);
    const int R = S + kl::max(P, 0);
    const int bx = blockDim.x, by = blockDim.y, tx = threadIdx.x, ty = threadIdx.y;
    const int tw = bx + 2 * R, tileSize = tw * (by + 2 * R), entries = (2 * T + 1) * tileSize;
    const int self = ty * bx + tx, threads = bx * by;
    const int yEnd = kl::min(h, rowStart + rowCount), xEnd = kl::min(w, colStart + colCount);
    for (int y0 = rowStart + blockIdx.y * by; y0 < yEnd; y0 += gridDim.y * by)
        for (int x0 = colStart + blockIdx.x * bx; x0 < xEnd; x0 += gridDim.x * bx) {
            __syncthreads();
            for (int i = self; i < entries; i += threads) {
                const int f = i / tileSize, e = i % tileSize;
                tiles[i] = Load(frames[f], pitches[f], Clamp(0, w - 1, x0 - R + e % tw), Clamp(0, h - 1, y0 - R + e / tw));
            }
            __syncthreads();
            const int x = x0 + tx, y = y0 + ty;
            if (x >= w || y >= h) continue;
            const uint32_t* centre = tiles + T * tileSize + (ty + R) * tw + tx + R;
            Sums s;
            for (int f = 0; f <= 2 * T; ++f) {
                const uint32_t* at = tiles + f * tileSize + (ty + R) * tw + tx + R;
                const float c = coef[f];
                for (int dy = -S; dy <= S; ++dy)
                    for (int dx = -S; dx <= S; ++dx) {
                        const uint32_t* candidate = at + dy * tw + dx;
                        int D[3] = {0, 0, 0};
                        for (int py = -P; py <= P; ++py)
                            for (int px = -P; px <= P; ++px)
                                AddDistance(D, centre[py * tw + px], candidate[py * tw + px]);
                        const float alpha = !Alpha ? 1.0f : f == T ? 255.0f : static_cast<float>(*candidate >> 24);
                        s.Add(D, c, alpha, *candidate);
                    }
            }
            Store(dst, dstPitch, x, y, s.Out(0), s.Out(1), s.Out(2), Alpha ? *centre >> 24 : 255u);
        }
}

}  // namespace

// The named kernels: per layout the global form, the tile with run-time radii and the
// tile with (S, P, T) fixed.
#define TVF2_NLM_PARAMS                                                                           \
    int w, int h, const float *coef, u8 *dst, int dstPitch, const u8 *const *frames, const int *pitches, \
        int rowStart, int rowCount, int colStart, int colCount
#define TVF2_NLM_ARGS coef, dst, dstPitch, frames, pitches, rowStart, rowCount, colStart, colCount
#define TVF2_NLM_RUNTIME_PARAMS                                                                          \
    int w, int h, int S, int P, int T, const float *coef, u8 *dst, int dstPitch, const u8 *const *frames, \
        const int *pitches, int rowStart, int rowCount, int colStart, int colCount
#define TVF2_NLM_KERNELS(Alpha, Global, Tiled, Fixed)                                          \
    __global__ void Global(TVF2_NLM_RUNTIME_PARAMS) {                                          \
        GlobalBody<Alpha>(w, h, S, P, T, TVF2_NLM_ARGS);                                       \
    }                                                                                          \
    __global__ void Tiled(TVF2_NLM_RUNTIME_PARAMS) {                                           \
        TileBody<Alpha, -1, -1, -1>(w, h, S, P, T, TVF2_NLM_ARGS);                             \
    }                                                                                          \
    template <int S, int P, int T>                                                             \
    __global__ void Fixed(TVF2_NLM_PARAMS) {                                                   \
        TileBody<Alpha, S, P, T>(w, h, S, P, T, TVF2_NLM_ARGS);                                \
    }

TVF2_NLM_KERNELS(false, AE100, AE101, AE102)
TVF2_NLM_KERNELS(true, AE103, AE104, AE105)

#undef TVF2_NLM_KERNELS
#undef TVF2_NLM_RUNTIME_PARAMS
#undef TVF2_NLM_ARGS
#undef TVF2_NLM_PARAMS

namespace {

// The piece's launch, with the per-layout kernels as template arguments.
struct Piece {
    int rowStart, rowCount, colStart, colCount;
};

template <int S, int P, int T, class Launch>
bool TryFixed(int s, int p, int t, Launch&& launch) {
    if (s != S || p != P || t != T) return false;
    launch(std::integral_constant<int, S>(), std::integral_constant<int, P>(), std::integral_constant<int, T>());
    return true;
}

// Launches the fixed instance of (S, P, T) for S 2..4, P 1..2, T 0..1.
template <class Launch>
void LaunchFixed(int S, int P, int T, Launch&& launch) {
    (void)(TryFixed<2, 1, 0>(S, P, T, launch) || TryFixed<3, 1, 0>(S, P, T, launch) ||
           TryFixed<4, 1, 0>(S, P, T, launch) || TryFixed<2, 2, 0>(S, P, T, launch) ||
           TryFixed<3, 2, 0>(S, P, T, launch) || TryFixed<4, 2, 0>(S, P, T, launch) ||
           TryFixed<2, 1, 1>(S, P, T, launch) || TryFixed<3, 1, 1>(S, P, T, launch) ||
           TryFixed<4, 1, 1>(S, P, T, launch) || TryFixed<2, 2, 1>(S, P, T, launch) ||
           TryFixed<3, 2, 1>(S, P, T, launch) || TryFixed<4, 2, 1>(S, P, T, launch));
}

bool HasFixedInstance(int S, int P, int T) { return S >= 2 && S <= 4 && P >= 1 && P <= 2 && T >= 0 && T <= 1; }

template <bool Alpha>
void LaunchPiece(const NlmPlan& p, int w, int h, int S, int P, int T, const float* coef, u8* dst,
                 int dstPitch, const u8* const* frames, const int* pitches, const Piece& c) {
    switch (p.form) {
    case NlmForm::Global:
        kl::launch<Alpha ? AE103 : AE100>(p.grid, p.block, 0, w, h, S, P, T, coef, dst, dstPitch, frames, pitches,
                           c.rowStart, c.rowCount, c.colStart, c.colCount);
        return;
    case NlmForm::Tile:
        kl::launch<Alpha ? AE104 : AE101>(p.grid, p.block, p.sharedBytes, w, h, S, P, T, coef, dst, dstPitch, frames, pitches,
                          c.rowStart, c.rowCount, c.colStart, c.colCount);
        return;
    case NlmForm::FixedRadii:
        LaunchFixed(S, P, T, [&](auto s, auto pr, auto t) {
            if constexpr (Alpha)
                kl::launch<AE105<decltype(s)::value, decltype(pr)::value, decltype(t)::value>>(p.grid, p.block, p.sharedBytes, w, h, coef, dst, dstPitch,
                                                  frames, pitches, c.rowStart, c.rowCount, c.colStart, c.colCount);
            else
                kl::launch<AE102<decltype(s)::value, decltype(pr)::value, decltype(t)::value>>(p.grid, p.block, p.sharedBytes, w, h, coef, dst, dstPitch,
                                                  frames, pitches, c.rowStart, c.rowCount, c.colStart, c.colCount);
        });
        return;
    }
}

bool Aligned(const void* p, int pitch) {
    return reinterpret_cast<uintptr_t>(p) % 4 == 0 && pitch % 4 == 0;
}

bool FrameValid(const void* p, int pitch, int width) {
    return p && static_cast<long long>(pitch) >= 4LL * width && Aligned(p, pitch);
}

}  // namespace

NlmPlan PlanNonLocalMeans(int width, int height, int S, int P, int T, int budget) {
    const LaunchShape s = GridBlockForMode(width, height, 0);
    NlmPlan p;
    p.block = dim3(s.blockX, s.blockY);
    unsigned gridX = s.gridX, gridY = s.gridY;
    const int blockX = int(s.blockX), blockY = int(s.blockY);

    int H;
    if (budget > 0) H = kl::max(budget / 2 / width, 1);
    else if (budget == 0) H = height;
    else H = height / 16 > 0 ? height / 16 : height;  // under 16 rows: one band

    int k = 1;
    if (H >= height) {
        // one band, the shape's grid
    } else if (H >= blockY) {
        gridY = unsigned(H / blockY);
        H = (H / blockY) * blockY;
    } else {
        k = (blockY + H - 1) / H;
        int pow2 = 1;
        while (pow2 < k) pow2 *= 2;
        k = pow2;
        H = blockY;
        gridY = 1;
    }
    int C = width / k;
    if (k != 1) {
        gridX = unsigned(C / blockX);
        C = (C / blockX) * blockX;
    } else {
        C = width;
    }
    p.grid = dim3(gridX, gridY);
    p.bandHeight = H;
    p.chunkWidth = C;

    // The tiles in 64 bits: a 32-bit product could only wrap for radii whose tiles are far
    // beyond the budget anyway.
    const long long R = static_cast<long long>(S) + kl::max(P, 0);
    const long long tileBytes = (blockX + 2 * R) * (blockY + 2 * R) * (2LL * T + 1) * 4;
    if (tileBytes >= kTileBudget) {
        p.form = NlmForm::Global;
        p.sharedBytes = 0;
    } else {
        p.form = HasFixedInstance(S, P, T) ? NlmForm::FixedRadii : NlmForm::Tile;
        p.sharedBytes = unsigned(tileBytes);
    }
    return p;
}

cudaError_t LaunchNonLocalMeans(NlmLayout layout, const NlmArgs& a) {
    if (a.S < 0 || a.T < 0 || a.T > kNlmMaxFrameRadius || a.S + static_cast<long long>(kl::max(a.P, 0)) > kNlmMaxHalo)
        return cudaErrorInvalidValue;
    if (a.width < 1 || a.height < 1) return cudaSuccess;
    const int n = 2 * a.T + 1;
    // The kernels read the block's frame pointers as 8-byte words.
    if (!a.coefficients || !a.frames || !a.pitches || !a.params ||
        reinterpret_cast<uintptr_t>(a.params) % alignof(void*) != 0 || !FrameValid(a.dst, a.dstPitch, a.width))
        return cudaErrorInvalidValue;
    for (int f = 0; f < n; ++f)
        if (!FrameValid(a.frames[f], a.pitches[f], a.width) || a.frames[f] == a.dst) return cudaErrorInvalidValue;

    // A budget whose bands are split into chunks narrower than a block leaves no block
    // across a chunk: refused rather than launched on an empty grid.
    const NlmPlan p = PlanNonLocalMeans(a.width, a.height, a.S, a.P, a.T, a.budget);
    if (p.chunkWidth < 1) return cudaErrorInvalidValue;
    // Every negative patch radius means an empty patch; -1 keeps the kernels' loop bounds
    // -P .. P clear of overflow.
    const int P = a.P < 0 ? -1 : a.P;

    // The block: frame pointers, then pitches, then coefficients. The coefficients go
    // first: a block too small for them fails that copy before anything is written.
    u8* block = static_cast<u8*>(a.params);
    static_assert(sizeof(void*) == 8 && sizeof(int) == 4 && sizeof(float) == 4, "the block's entry sizes");
    cudaError_t copied = cudaMemcpy(block + 12 * n, a.coefficients, sizeof(float) * n, cudaMemcpyHostToDevice);
    if (copied == cudaSuccess) copied = cudaMemcpy(block, a.frames, sizeof(void*) * n, cudaMemcpyHostToDevice);
    if (copied == cudaSuccess) copied = cudaMemcpy(block + 8 * n, a.pitches, sizeof(int) * n, cudaMemcpyHostToDevice);
    if (copied != cudaSuccess) {
        // The refusal is this call's status alone: left pending, it would be the status
        // of the caller's next call, which ran.
        cudaGetLastError();
        return copied;
    }
    const u8* const* frames = reinterpret_cast<const u8* const*>(block);
    const int* pitches = reinterpret_cast<const int*>(block + 8 * n);
    const float* coef = reinterpret_cast<const float*>(block + 12 * n);

    u8* dst = static_cast<u8*>(a.dst);
    cudaError_t status = cudaSuccess;
    for (long long row = 0; row < a.height; row += p.bandHeight)
        for (long long col = 0; col < a.width; col += p.chunkWidth) {
            const Piece piece{int(row), p.bandHeight, int(col), p.chunkWidth};
            if (layout == NlmLayout::C32A)
                LaunchPiece<true>(p, a.width, a.height, a.S, P, a.T, coef, dst, a.dstPitch, frames, pitches, piece);
            else
                LaunchPiece<false>(p, a.width, a.height, a.S, P, a.T, coef, dst, a.dstPitch, frames, pitches, piece);
            status = cudaGetLastError();
            // A failed launch gives up the rest of its band; -1 launches one chunk a band.
            if (status != cudaSuccess || a.budget == -1) break;
        }
    return status;
}

}  // namespace tvf2
