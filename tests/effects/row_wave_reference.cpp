#include "row_wave_reference.h"

#include <algorithm>
#include <cmath>

namespace tvf2test {
namespace {

int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

int32_t TruncToInt(float v) {  // toward zero, NaN 0, saturating
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t Nearest(float v) { return v >= 0.0f ? TruncToInt(v + 0.5f) : TruncToInt(v - 0.5f); }

// Value of one wave at row y and time t, and whether a cosine value sits near a half step.
float Wave(const WaveParams& wp, int y, int height, float t, bool* nearHalf) {
    const float wl = static_cast<float>(wp.wavelength), c = static_cast<float>(wp.speed),
                A = static_cast<float>(wp.amplitude);
    const float L = static_cast<float>(height) * wl;
    const int Y = c > 0.0f ? y - height : y;
    switch (wp.shape) {
    case 0: {
        if (L == 0.0f) return 0.0f;
        const float q = static_cast<float>(Y) / L - t * c;
        float angle = (q + q) * 3.14159274f;
        if (std::isinf(angle)) angle = NAN;
        const float v = std::cos(angle) * A;
        // The device cosine is within 2 ulp (2^-23 absolutely for |cos| <= 1), this one
        // within 1; times A, with the product's own rounding, a value can move by
        // 3 * 2^-24 * |A| + ulp(v). Twice that, to keep clear of the bound.
        const float tol = std::fabs(A) * 0x1p-21f + std::fabs(v) * 0x1p-22f;
        const float frac = v - std::floor(v);
        if (!(std::fabs(frac - 0.5f) > tol)) *nearHalf = true;
        return v;
    }
    case 1: case 2: case 3: case 4: break;
    default: return 0.0f;
    }
    const int32_t Lr = Nearest(L);
    if (Lr == 0) return 0.0f;
    const float u = static_cast<float>(Y) - (t * c) * L;
    const int32_t ur = Nearest(u);
    const int32_t m = static_cast<int32_t>(static_cast<int64_t>(ur) % Lr);
    const float pos = (static_cast<float>(m) + u) - static_cast<float>(ur);
    const float p = pos / L;
    switch (wp.shape) {
    case 1: {
        const bool upper = -0.5f * L <= pos && pos < 0.5f * L;
        const float g = upper ? 2.0f - 4.0f * std::fabs(p) : 4.0f * std::fabs(p) - 2.0f;
        return std::fma(g, A, 0.0f - A);
    }
    case 2: {
        const bool high = pos < -0.75f * L || (-0.25f * L <= pos && pos < 0.25f * L) || pos >= 0.75f * L;
        return high ? A + 0.0f : 0.0f - A;
    }
    case 3: return ((pos < 0.0f || std::isnan(pos)) ? 1.0f - 2.0f * std::fabs(p) : 2.0f * std::fabs(p) - 1.0f) * A;
    default: return ((pos < 0.0f || std::isnan(pos)) ? 2.0f * std::fabs(p) - 1.0f : 1.0f - 2.0f * std::fabs(p)) * A;
    }
}

}  // namespace

std::vector<RowOffset> RowWaveOffsets(const RowWaveParams& p, int height) {
    const float f = static_cast<float>(p.frameIndex), r = static_cast<float>(p.frameRate);
    std::vector<RowOffset> rows(height > 0 ? height : 0);
    for (int y = 0; y < height; ++y) {
        float t;
        if (p.wholeFrame) {
            t = f / r;
        } else {
            const float f2 = f + f, r2 = r + r, b = static_cast<float>(y % 2);
            t = p.evenRowsFirst ? (f2 + b) / r2 : (f2 + 1.0f - b) / r2;
        }
        int64_t d = 0;
        bool nearHalf = false;
        for (const WaveParams& wp : p.waves)
            if (wp.enable) d = Wrap(d + Nearest(Wave(wp, y, height, t, &nearHalf)));
        rows[y] = RowOffset{static_cast<int>(d), nearHalf};
    }
    return rows;
}

void RowWaveReference(const RowWaveParams& p, const HostFrame& src, HostFrame& dst) {
    const std::vector<RowOffset> rows = RowWaveOffsets(p, src.height);
    for (int y = 0; y < src.height; ++y)
        for (int i = 0; i < src.width * 4; ++i)
            dst.row(y)[i] = static_cast<uint8_t>(std::clamp<int32_t>(Wrap(int64_t(src.row(y)[i]) + rows[y].d), 0, 255));
}

}  // namespace tvf2test
