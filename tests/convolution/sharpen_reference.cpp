#include "sharpen_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tvf2test {
namespace {

int Byte(const HostFrame& f, int x, int y, int c) {
    x = std::min(std::max(x, 0), f.width - 1);
    y = std::min(std::max(y, 0), f.height - 1);
    return f.px(x, y)[c];
}

// term * amount with 32-bit two's-complement wrap, then / 256 toward zero.
int Scaled(int term, int amount) {
    const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(int64_t(term) * amount));
    return product / 256;
}

int ToByte(int v) { return std::min(255, std::max(0, v)); }

// Toward zero, NaN to 0, out of range to the nearest 32-bit value.
int64_t Truncate(float v) {
    if (std::isnan(v)) return 0;
    const double t = std::trunc(double(v));
    return int64_t(std::min(2147483647.0, std::max(-2147483648.0, t)));
}

int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

int16_t Lane16(const uint8_t* p, int i) {
    int16_t v;
    std::memcpy(&v, p + 2 * i, 2);
    return v;
}

}  // namespace

void SharpenReference(SharpenRef op, const HostFrame& src, int amount, HostFrame& dst) {
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            // n(dx, dy, c): byte c of the neighbour at offset (dx, dy).
            auto n = [&](int dx, int dy, int c) { return Byte(src, x + dx, y + dy, c); };
            uint8_t* out = dst.px(x, y);
            const bool alpha = op == SharpenRef::LaplacianC32A || op == SharpenRef::EdgeC32A;
            for (int c = 0; c < (alpha ? 3 : 4); ++c) {
                const int centre = n(0, 0, c);
                int term = 0;
                if (op == SharpenRef::LaplacianC32) {
                    const int hp = 4 * centre - n(0, -1, c) - n(0, 1, c) - n(-1, 0, c) - n(1, 0, c) + 128;
                    term = ToByte(hp) - 128;
                } else if (op == SharpenRef::LaplacianC32A) {
                    const float up = n(0, -1, 3) / 255.0f, left = n(-1, 0, 3) / 255.0f;
                    const float right = n(1, 0, 3) / 255.0f, down = n(0, 1, 3) / 255.0f;
                    const float sum = up + left + right + down;
                    float hp = float(centre) * sum;
                    hp -= float(n(0, -1, c)) * up;
                    hp -= float(n(0, 1, c)) * down;
                    hp -= float(n(1, 0, c)) * right;
                    hp -= float(n(-1, 0, c)) * left;
                    term = ToByte(int(Truncate(hp + 128.0f))) - 128;
                } else {
                    float gx, gy;
                    if (op == SharpenRef::EdgeC32) {
                        gx = float(n(-1, -1, c) + 2 * n(-1, 0, c) + n(-1, 1, c) - n(1, -1, c) - 2 * n(1, 0, c) - n(1, 1, c));
                        gy = float(n(-1, -1, c) + 2 * n(0, -1, c) + n(1, -1, c) - n(-1, 1, c) - 2 * n(0, 1, c) - n(1, 1, c));
                    } else {
                        auto p = [&](int dx, int dy) { return float(n(dx, dy, c) * n(dx, dy, 3)); };
                        gx = std::fma(p(-1, 0), 2.0f, p(-1, -1));
                        gx = gx + p(-1, 1) - p(1, -1) - (p(1, 0) + p(1, 0)) - p(1, 1);
                        gx /= 255.0f;
                        gy = std::fma(p(0, -1), 2.0f, p(-1, -1));
                        gy = gy + p(1, -1) - p(-1, 1) - (p(0, 1) + p(0, 1)) - p(1, 1);
                        gy /= 255.0f;
                    }
                    term = ToByte(int(Truncate(std::sqrt(std::fma(gx, gx, gy * gy)))));
                }
                out[c] = uint8_t(ToByte(centre + Scaled(term, amount)));
            }
            if (alpha) out[3] = src.px(x, y)[3];
        }
}

void DetailReference(bool wide, bool weighted, const HostFrame& src, const HostFrame& detail, float amount,
                     int threshold, int limit, HostFrame& dst) {
    const float scaled = amount * 2048.0f;
    const int gain = std::isnan(scaled) ? 0 : int(std::min(32767.0, std::max(-32768.0, std::trunc(double(scaled)))));
    const float perWeight = amount / 4095.0f;
    const int lo = wide ? -32768 : 0, hi = wide ? 32767 : 255;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            const uint8_t* s = src.px(x, y);
            const uint8_t* d = detail.px(x, y);
            int out[4];
            for (int c = 0; c < 4; ++c) out[c] = wide ? Lane16(s, c) : s[c];
            for (int c = 0; c < 3; ++c) {
                const int32_t excess = Wrap32(int64_t(Lane16(d, c)) - threshold);
                const int v = excess < 0 ? 0 : std::min(limit, int(excess));
                int32_t sum;
                if (weighted) {
                    const float weight = perWeight * float(Lane16(d, 3));
                    sum = Wrap32(out[c] + Truncate(float(v) * weight));
                } else {
                    const uint32_t product = static_cast<uint32_t>(int64_t(v) * gain);
                    sum = out[c] + int32_t(product >> 10);
                }
                out[c] = std::min(hi, std::max(lo, int(sum)));
            }
            uint8_t* q = dst.px(x, y);
            for (int c = 0; c < 4; ++c) {
                if (wide) {
                    const int16_t v = int16_t(out[c]);
                    std::memcpy(q + 2 * c, &v, 2);
                } else {
                    q[c] = uint8_t(out[c]);
                }
            }
        }
}

}  // namespace tvf2test
