#include "effects/row_wave.h"

#include "launch/grid_block.h"
#include "kernel_lang.h"

namespace tvf2 {

// A wave as the kernel takes it: single precision.
struct G100Wave {
    bool enable;
    int shape;
    float wavelength, speed, amplitude;
};

namespace {

// Nearest integer, halves away from zero (NaN takes the lower branch and gives 0).
__device__ __forceinline__ int Nearest(float v) {
    return v >= 0.0f ? kl::f2i_rz(v + 0.5f) : kl::f2i_rz(v - 0.5f);
}

__device__ __forceinline__ float WaveValue(const G100Wave& wave, int y, int h, float t) {
    const float L = float(h) * wave.wavelength;
    const float c = wave.speed, A = wave.amplitude;
    // With a positive speed the wave's row origin lies one frame height up.
    const int Y = c > 0.0f ? y - h : y;
    if (wave.shape == kWaveCosine) {
        if (L == 0.0f) return 0.0f;
        float q = float(Y) / L;
        q = q - t * c;
        float angle = (q + q) * 3.14159274f;
        if (fabsf(angle) > 3.40282347e38f) angle = angle - angle;  // infinite: not a number
        return cosf(angle) * A;
    }
    if (wave.shape < kWaveTriangle || wave.shape > kWaveFalling) return 0.0f;
    const int Lr = Nearest(L);
    if (Lr == 0) return 0.0f;
    const float u = float(Y) - (t * c) * L;
    const int ur = Nearest(u);
    // x % -1 is 0; written out, as INT_MIN % -1 traps on some processors.
    const int m = Lr == -1 ? 0 : ur % Lr;
    const float pos = (float(m) + u) - float(ur);  // u's place inside its period
    const float p = pos / L;
    const float ap = fabsf(p);
    switch (wave.shape) {
    case kWaveTriangle: {
        const float g = (-0.5f * L <= pos && pos < 0.5f * L) ? 2.0f - 4.0f * ap : 4.0f * ap - 2.0f;
        return fmaf(g, A, 0.0f - A);
    }
    case kWaveSquare:
        return (pos < -0.75f * L || (-0.25f * L <= pos && pos < 0.25f * L) || pos >= 0.75f * L)
                   ? A + 0.0f
                   : 0.0f - A;
    case kWaveRising: return (!(pos >= 0.0f) ? 1.0f - 2.0f * ap : 2.0f * ap - 1.0f) * A;
    default: return (!(pos >= 0.0f) ? 2.0f * ap - 1.0f : 1.0f - 2.0f * ap) * A;
    }
}

__device__ __forceinline__ int RowOffset(int y, int h, float f, float r, bool wholeFrame,
                                         bool evenRowsFirst, const G100Wave (&waves)[3]) {
    float t;
    if (wholeFrame) {
        t = f / r;
    } else {
        const int b = y % 2;
        t = evenRowsFirst ? (f + f + float(b)) / (r + r) : (f + f + 1.0f - float(b)) / (r + r);
    }
    int d = 0;
    for (int k = 0; k < 3; ++k)
        if (waves[k].enable) d = kl::wrap_add(d, Nearest(WaveValue(waves[k], y, h, t)));
    return d;
}

}  // namespace

__global__ void G100(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch,
                     float frameIndex, float frameRate, bool wholeFrame, bool evenRowsFirst,
                     G100Wave wave1, G100Wave wave2, G100Wave wave3) {
    const G100Wave waves[3] = {wave1, wave2, wave3};
    for (int y = blockIdx.y * blockDim.y + threadIdx.y; y < h; y += gridDim.y * blockDim.y) {
        const int d = RowOffset(y, h, frameIndex, frameRate, wholeFrame, evenRowsFirst, waves);
        const uint32_t* in = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(src) +
                                                               static_cast<long long>(y) * srcPitch);
        uint32_t* out = reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(dst) +
                                                    static_cast<long long>(y) * dstPitch);
        for (int x = blockIdx.x * blockDim.x + threadIdx.x; x < w; x += gridDim.x * blockDim.x) {
            const uint32_t p = in[x];
            uint32_t q = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const int v = kl::wrap_add(int((p >> shift) & 0xFF), d);
                q |= uint32_t(kl::min(kl::max(v, 0), 255)) << shift;
            }
            out[x] = q;
        }
    }
}

namespace {

G100Wave ToKernel(const RowWave& w) {
    return G100Wave{w.enable, w.shape, static_cast<float>(w.wavelength), static_cast<float>(w.speed),
                    static_cast<float>(w.amplitude)};
}

bool Aligned(const void* p, int pitch) {
    return reinterpret_cast<uintptr_t>(p) % 4 == 0 && static_cast<unsigned>(pitch) % 4 == 0;
}

}  // namespace

bool RowWaveArgsValid(const RowWaveArgs& a) {
    if (a.w < 0 || a.h < 0 || !a.dst || !a.src) return false;
    const long long row = 4LL * a.w;
    if (a.dstPitch < row || a.srcPitch < row || !Aligned(a.dst, a.dstPitch) || !Aligned(a.src, a.srcPitch))
        return false;
    if (!(a.frameRate > 0.0)) return false;  // also NaN
    for (const RowWave& wave : a.waves)
        if (wave.enable && (wave.shape < kWaveCosine || wave.shape > kWaveFalling)) return false;
    return true;
}

cudaError_t QueueRowWave(const RowWaveArgs& a) {
    const LaunchShape s = GridBlock(a.w, a.h);
    kl::launch<G100>(dim3(s.gridX, s.gridY), dim3(s.blockX, s.blockY), 0, a.w, a.h, a.dst, a.dstPitch,
                     a.src, a.srcPitch, static_cast<float>(a.frameIndex),
                     static_cast<float>(a.frameRate), a.wholeFrame, a.evenRowsFirst,
                     ToKernel(a.waves[0]), ToKernel(a.waves[1]), ToKernel(a.waves[2]));
    return cudaGetLastError();
}

cudaError_t LaunchRowWave(const RowWaveArgs& a) {
    if (!RowWaveArgsValid(a)) return cudaErrorInvalidValue;
    return QueueRowWave(a);
}

}  // namespace tvf2
