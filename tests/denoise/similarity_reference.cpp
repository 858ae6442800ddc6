#include "similarity_reference.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace tvf2test {
namespace {

struct Px {
    int b[4];
};

// Every member of a window, the centre included, in any order. The offset-chroma
// layouts are computed on their stored bytes with the rules of their plain
// counterparts, whose bytes they must reproduce.
uint32_t Rule(SwaLayout layout, const SwaParams& p, const Px& c, const std::vector<Px>& members,
              bool fromTexture) {
    const long long T = p.T;
    long long s[3], wsum;
    int out[4];
    if (!HasAlpha(layout)) {
        wsum = T;
        for (int k = 0; k < 3; ++k) s[k] = T * c.b[k];
        for (const Px& m : members) {
            long long d2 = 0;
            for (int k = 0; k < 3; ++k) d2 += (c.b[k] - m.b[k]) * (c.b[k] - m.b[k]);
            const long long w = T - d2;
            if (w < 1) continue;
            for (int k = 0; k < 3; ++k) s[k] += w * m.b[k];
            wsum += w;
        }
        for (int k = 0; k < 3; ++k) out[k] = int((s[k] + wsum / 2) / wsum) & 255;
        out[3] = layout == SwaLayout::YUV32 || fromTexture ? 255 : 0;
    } else {
        // Products are divided by 16 rounding down before they are summed.
        const auto floor16 = [](long long v) { return v >= 0 ? v / 16 : -((-v + 15) / 16); };
        wsum = 255 * T;
        for (int k = 0; k < 3; ++k) s[k] = floor16(c.b[k] * 255 * T);
        for (const Px& m : members) {
            long long d2 = 0;
            for (int k = 0; k < 3; ++k) d2 += (c.b[k] - m.b[k]) * (c.b[k] - m.b[k]);
            const long long w = T - d2;
            if (w < 1) continue;
            const long long a = w * m.b[3];
            for (int k = 0; k < 3; ++k) s[k] += floor16(a * m.b[k]);
            wsum += a;
        }
        for (int k = 0; k < 3; ++k) {
            const long long q = (16 * s[k] + wsum / 2) / wsum;
            out[k] = int(std::min<long long>(std::max<long long>(q, 0), 255));
        }
        out[3] = c.b[3];
    }
    return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 | uint32_t(out[3]) << 24;
}

void Put(HostFrame& f, int x, int y, uint32_t word) {
    for (int k = 0; k < 4; ++k) f.px(x, y)[k] = uint8_t(word >> (8 * k));
}

Px Get(const HostFrame& f, int x, int y) {
    const uint8_t* q = f.px(x, y);
    return Px{{q[0], q[1], q[2], q[3]}};
}

}  // namespace

void SimilarityReference(SwaLayout layout, const SwaParams& p, bool fields, const HostFrame& src,
                         HostFrame& dst) {
    const int W = src.width, H = src.height;
    // Rows y and v belong to one frame: the whole frame, or one field.
    const auto sameFrame = [&](int y, int v) { return !fields || (y - v) % 2 == 0; };
    // Distance between two rows counted within their frame.
    const auto rowDistance = [&](int y, int v) { return fields ? std::abs(y - v) / 2 : std::abs(y - v); };
    std::vector<Px> members;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            members.clear();
            const int reach = fields ? 2 * p.radius : p.radius;
            for (int v = std::max(0, y - reach); v <= std::min(H - 1, y + reach); ++v) {
                if (!sameFrame(y, v) || rowDistance(y, v) > p.radius) continue;
                for (int u = std::max(0, x - p.radius); u <= std::min(W - 1, x + p.radius); ++u)
                    members.push_back(Get(src, u, v));
            }
            Put(dst, x, y, Rule(layout, p, Get(src, x, y), members, false));
        }
}

void SimilarityTexReference(SwaLayout layout, const SwaParams& p, int rowOffset, int rowScale,
                            bool sameParity, const HostFrame& image, HostFrame& dst) {
    const int W = dst.width, H = dst.height;
    const auto texel = [&](long long u, long long v) {
        const long long t = v * rowScale + rowOffset;
        return Get(image, int(std::clamp<long long>(u, 0, image.width - 1)),
                   int(std::clamp<long long>(t, 0, image.height - 1)));
    };
    std::vector<Px> members;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            members.clear();
            const int reach = sameParity ? 2 * p.radius : p.radius;
            for (int v = std::max(0, y - reach); v <= std::min(H - 1, y + reach); ++v) {
                const int dv = std::abs(v - y);
                if (sameParity ? dv % 2 != 0 || dv > 2 * p.radius : dv > p.radius) continue;
                for (int u = std::max(0, x - p.radius); u <= std::min(W - 1, x + p.radius); ++u)
                    members.push_back(texel(u, v));
            }
            Put(dst, x, y, Rule(layout, p, texel(x, y), members, true));
        }
}

}  // namespace tvf2test
