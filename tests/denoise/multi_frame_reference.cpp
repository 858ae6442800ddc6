#include "multi_frame_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tvf2test {

void MultiFrameReference(MfaLayout layout, int T, bool fields, const HostFrame& current,
                         const std::vector<HostFrame>& references, HostFrame& dst) {
    const int w = current.width, h = current.height;
    const bool alpha = HasAlpha(layout);
    for (int y = 0; y < h; ++y) {
        // The rows that count as neighbours: the same field's, within two rows of it.
        const int step = fields ? 2 : 1;
        for (int x = 0; x < w; ++x) {
            const uint8_t* c = current.px(x, y);
            const int64_t unit = alpha ? 255LL * T : T;  // the current pixel's weight
            int64_t wsum = unit, s[3];
            for (int k = 0; k < 3; ++k) s[k] = unit * c[k];
            for (const HostFrame& ref : references) {
                int dmax = 0;
                for (int dy = -2; dy <= 2; ++dy) {
                    const int fy = y + step * dy;
                    if (fy < 0 || fy >= h) continue;
                    for (int fx = std::max(0, x - 2); fx <= std::min(w - 1, x + 2); ++fx) {
                        int d = 0;
                        for (int k = 0; k < 3; ++k) {
                            const int diff = ref.px(fx, fy)[k] - current.px(fx, fy)[k];
                            d += diff * diff;
                        }
                        dmax = std::max(dmax, d);
                    }
                }
                const int64_t weight = int64_t(T) - dmax;
                if (weight < 1) continue;
                const uint8_t* p = ref.px(x, y);
                if (layout == MfaLayout::C32) {
                    // C32 adds in single precision: the weight rounded to a float, each
                    // product and sum rounded, the sum cut back to an integer.
                    const float wf = static_cast<float>(weight);
                    for (int k = 0; k < 3; ++k) {
                        const float product = wf * static_cast<float>(p[k]);
                        s[k] = static_cast<int64_t>(std::trunc(static_cast<float>(s[k]) + product));
                    }
                    wsum = static_cast<int64_t>(std::trunc(static_cast<float>(wsum) + wf));
                    continue;
                }
                const int64_t a = alpha ? weight * p[3] : weight;
                for (int k = 0; k < 3; ++k) s[k] += a * p[k];
                wsum += a;
            }
            uint8_t* out = dst.px(x, y);
            for (int k = 0; k < 3; ++k) {
                // C32 truncates; the others round half up, the alpha-weighted ones clamp.
                const int64_t q = layout == MfaLayout::C32 ? s[k] / wsum : (s[k] + wsum / 2) / wsum;
                out[k] = uint8_t(std::clamp<int64_t>(q, 0, 255));
            }
            out[3] = layout == MfaLayout::C32 ? 0 : layout == MfaLayout::YUV32 ? 255 : c[3];
        }
    }
}

}  // namespace tvf2test
