#include "nlm_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tvf2test {

void NonLocalMeansReference(NlmAlpha alpha, const NlmParams& p, const std::vector<const HostFrame*>& frames,
                            HostFrame& dst) {
    const int w = dst.width, h = dst.height;
    const HostFrame& centre = *frames[p.T];
    const auto at = [&](const HostFrame& f, int x, int y) {
        return f.px(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float wsum[3] = {0, 0, 0}, vsum[3] = {0, 0, 0};
            for (int f = 0; f <= 2 * p.T; ++f) {
                const HostFrame& frame = *frames[f];
                for (int dy = -p.S; dy <= p.S; ++dy)
                    for (int dx = -p.S; dx <= p.S; ++dx) {
                        // Distances as unsigned sums: 32-bit wrap-around, as the kernels' sums.
                        uint32_t D[3] = {0, 0, 0};  // a negative patch radius: an empty patch
                        for (int py = -std::max(p.P, -1); py <= p.P; ++py)
                            for (int px = -std::max(p.P, -1); px <= p.P; ++px)
                                for (int k = 0; k < 3; ++k) {
                                    const int d = at(centre, x + px, y + py)[k] - at(frame, x + dx + px, y + dy + py)[k];
                                    D[k] += uint32_t(d * d);
                                }
                        const uint8_t* c = at(frame, x + dx, y + dy);
                        float factor = 1.0f;
                        if (alpha == NlmAlpha::Scaled) factor = float(c[3]) / 255.0f;
                        if (alpha == NlmAlpha::CentreOpaque) factor = f == p.T ? 255.0f : float(c[3]);
                        for (int k = 0; k < 3; ++k) {
                            const float v = float(int32_t(0u - D[k])) * p.coefficients[f];
                            const float e = expf(v) * factor;
                            wsum[k] += e;
                            vsum[k] += e * float(c[k]);
                        }
                    }
            }
            uint8_t* out = dst.px(x, y);
            for (int k = 0; k < 3; ++k) {
                if (alpha == NlmAlpha::Scaled && wsum[k] == 0.0f) {
                    out[k] = k == 0 ? 0 : 128;
                    continue;
                }
                const float q = vsum[k] / wsum[k] + 0.5f;
                // Truncation toward zero, NaN to 0, saturating; then into a byte.
                const long long t = std::isnan(q) ? 0 : q >= 2147483648.0f ? 2147483647LL : q <= -2147483648.0f ? -2147483648LL : (long long)q;
                out[k] = uint8_t(std::clamp<long long>(t, 0, 255));
            }
            out[3] = alpha == NlmAlpha::None ? 255 : centre.px(x, y)[3];
        }
}

}  // namespace tvf2test
