#include "displace_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tvf2test {
namespace {

// 32-bit two's-complement wrap of an exact sum or product.
int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

int ToIntFloor(float v) {  // floor, as the device converts: NaN 0, saturating
    if (std::isnan(v)) return 0;
    const double f = std::floor(static_cast<double>(v));
    if (f >= 2147483647.0) return INT32_MAX;
    if (f <= -2147483648.0) return INT32_MIN;
    return static_cast<int>(f);
}

int ToIntTrunc(float v) {
    if (std::isnan(v)) return 0;
    const double f = std::trunc(static_cast<double>(v));
    if (f >= 2147483647.0) return INT32_MAX;
    if (f <= -2147483648.0) return INT32_MIN;
    return static_cast<int>(f);
}

std::vector<int> EdgeMap(bool alpha, int limit, const HostFrame& e, int w, int h) {
    std::vector<int> map(static_cast<size_t>(w) * h, 0);
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
            int gx, gy;
            if (!alpha) {
                auto E = [&](int dx, int dy) { return int(e.px(x + dx, y + dy)[0]); };
                gx = E(-1, -1) - E(1, -1) + 2 * E(-1, 0) - 2 * E(1, 0) + E(-1, 1) - E(1, 1);
                gy = E(-1, -1) + 2 * E(0, -1) + E(1, -1) - E(-1, 1) - 2 * E(0, 1) - E(1, 1);
            } else {
                auto C = [&](int dx, int dy) { return int(e.px(x + dx, y + dy)[0]); };
                auto A = [&](int dx, int dy) { return int(e.px(x + dx, y + dy)[3]); };
                // Difference of two pixels weighted by both alphas.
                auto D = [&](int x1, int y1, int x2, int y2) {
                    return (C(x1, y1) - C(x2, y2)) * A(x1, y1) * A(x2, y2);
                };
                gx = std::abs(D(-1, -1, 1, -1) + 2 * D(-1, 0, 1, 0) + D(-1, 1, 1, 1)) >> 16;
                gy = std::abs(D(-1, -1, -1, 1) + 2 * D(0, -1, 0, 1) + D(1, -1, 1, 1)) >> 16;
            }
            const int v = std::min(limit, (std::abs(gx) + std::abs(gy)) * 6);
            map[size_t(y) * w + x] = v & 0xFF;  // low byte kept, high byte 0
        }
    return map;
}

void Smooth(std::vector<int>& map, int w, int h) {
    static const int taps[5] = {1, 4, 6, 4, 1};
    std::vector<int> tmp(map.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int s = 0;
            for (int k = -2; k <= 2; ++k) s += taps[k + 2] * map[size_t(y) * w + std::clamp(x + k, 0, w - 1)];
            tmp[size_t(y) * w + x] = s & 0xFFFF;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int s = 0;
            for (int k = -2; k <= 2; ++k) s += taps[k + 2] * tmp[size_t(std::clamp(y + k, 0, h - 1)) * w + x];
            map[size_t(y) * w + x] = ((s + 128) / 256) & 0xFFFF;
        }
}

// Weights of the cubic kernel at fraction/4096, scaled to 16384 and corrected by the
// quarter remainder.
void Weights(int fraction, float a, int32_t out[4]) {
    const float t = static_cast<float>(fraction) / 4096.0f;
    const float t2 = t * t;
    const float t3 = t2 * t;
    float v[4];
    v[0] = a * t - 2.0f * a * t2 + a * t3;
    v[1] = 1.0f - (a + 3.0f) * t2 + (a + 2.0f) * t3;
    v[2] = (2.0f * a + 3.0f) * t2 - a * t - (a + 2.0f) * t3;
    v[3] = a * t2 - a * t3;
    int64_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        out[i] = ToIntFloor(std::fma(v[i], 16384.0f, 0.5f));
        sum += out[i];
    }
    const int32_t r = Wrap(16384 - sum);
    for (int i = 0; i < 4; ++i) out[i] = Wrap(int64_t(out[i]) + r / 4);
}

}  // namespace

std::vector<int> DisplaceReference(bool alpha, const DisplaceParams& p, const HostFrame& edgeSrc,
                                   const HostFrame& src, HostFrame& dst) {
    const int w = src.width, h = src.height;
    std::vector<int> map = EdgeMap(alpha, p.edgeLimit, edgeSrc, w, h);
    for (int i = 0; i < p.iterations; ++i) Smooth(map, w, h);
    auto M = [&](int x, int y) { return map[size_t(y) * w + x]; };

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* out = dst.px(x, y);
            const uint8_t* self = src.px(x, y);
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
                std::copy(self, self + 4, out);
                continue;
            }
            const int32_t dx = Wrap(int64_t(M(x - 1, y) - M(x + 1, y)) * p.strength);
            const int32_t dy = Wrap(int64_t(M(x, y - 1) - M(x, y + 1)) * p.strength);
            const int ix = std::max(0, std::min(w - 4, x + (dx >> 12) - 1));
            const int iy = std::max(0, std::min(h - 4, y + (dy >> 12) - 1));
            int32_t wx[4], wy[4];
            Weights(dx & 4095, p.cubicA, wx);
            Weights(dy & 4095, p.cubicA, wy);
            auto S = [&](int i, int j) { return src.px(ix + i, iy + j); };
            // Vertical sum of byte b before its final rounding.
            auto sum = [&](int b) {
                int64_t v = 0;
                for (int j = 0; j < 4; ++j) {
                    int64_t r = 0;
                    for (int i = 0; i < 4; ++i) r += int64_t(S(i, j)[b]) * wx[i];
                    v += int64_t(Wrap(int64_t(Wrap(r)) + 128) / 256) * wy[j];
                }
                return Wrap(v);
            };
            auto byte = [](int32_t s) { return uint8_t(std::clamp(Wrap(int64_t(s) + 524288) >> 20, 0, 255)); };
            if (!alpha) {
                for (int b = 0; b < 4; ++b) out[b] = byte(sum(b));
                continue;
            }
            const int32_t sa = sum(3);
            if ((Wrap(int64_t(sa) + 524288) >> 20) == 0) {
                std::copy(self, self + 3, out);
                out[3] = 0;
                continue;
            }
            out[3] = byte(sa);
            const float scale = 268435456.0f / static_cast<float>(sa);
            for (int b = 0; b < 3; ++b) {
                float c = 0.0f;
                for (int j = 0; j < 4; ++j) {
                    float row = 0.0f;
                    for (int i = 0; i < 4; ++i) {
                        const float weight = static_cast<float>(wx[i]) / 16384.0f;
                        const float opacity = static_cast<float>(S(i, j)[3]) / 256.0f;
                        row += weight * opacity * static_cast<float>(S(i, j)[b]);
                    }
                    c += static_cast<float>(wy[j]) / 16384.0f * row;
                }
                out[b] = uint8_t(std::clamp(ToIntTrunc(c * scale + 0.5f), 0, 255));
            }
        }
    return map;
}

}  // namespace tvf2test
