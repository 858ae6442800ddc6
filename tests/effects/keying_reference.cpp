#include "keying_reference.h"

#include <cmath>
#include <vector>

namespace tvf2test {
namespace {

float SignedChroma(uint8_t stored) { return float(int(stored) - 128); }

// One unit of a chroma difference is forgiven, toward zero.
float Forgive(float d) {
    if (d >= 0.0f) return d - 1.0f > 0.0f ? d - 1.0f : 0.0f;
    return d + 1.0f < 0.0f ? d + 1.0f : 0.0f;
}

// Truncated toward zero and clamped to 0..255; not-a-number gives 0.
uint8_t ClampedByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return uint8_t(int(v));
}

uint8_t MaskOf(tvf2::KeyMaskRule rule, const KeyParams& p, const uint8_t* px) {
    const float du = Forgive(SignedChroma(px[1]) - p.keyU);
    const float dv = Forgive(SignedChroma(px[2]) - p.keyV);
    const float chroma2 = std::fmaf(du, du, dv * dv);
    const float chroma = sqrtf(chroma2);
    const bool power = p.e > 1.0f;
    const float t1 = power ? powf(chroma, p.e) * p.powScale : chroma * p.linScale;
    if (!(t1 < 1.0f)) return 255;
    const float dy = (float(px[0]) - p.keyY) * p.lumaWeight;
    const float full = sqrtf(std::fmaf(dy, dy, chroma2));
    float t2 = power ? powf(full, p.e) * p.powScale : full * p.linScale;
    if (rule == tvf2::KeyMaskRule::Product) {
        // Left to right: t1 times the distance factor, then the scale.
        t2 = power ? (t1 * powf(full, p.e)) * p.powScale : (t1 * full) * p.linScale;
    }
    if (!(t2 < 1.0f)) return 255;
    return ClampedByte(t2 * 255.0f);
}

unsigned FloorDiv255(unsigned n) { return n / 255u; }

}  // namespace

void KeyMaskReference(tvf2::KeyMaskRule rule, const KeyParams& p, const HostFrame& src,
                      HostFrame& mask) {
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) mask.row(y)[x] = MaskOf(rule, p, src.px(x, y));
}

void SuppressKeyChromaReference(const SuppressParams& p, HostFrame& frame) {
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            uint8_t* px = frame.px(x, y);
            const float u = SignedChroma(px[1]), v = SignedChroma(px[2]);
            const float du = u - p.keyU, dv = v - p.keyV;
            const float dist = sqrtf(std::fmaf(du, du, dv * dv));
            const bool near = dist < p.radius;
            if (!p.all && !near) continue;
            const float along = std::fmaf(u, p.keyU, v * p.keyV);
            if (!(along >= 0.0f)) continue;
            const uint8_t newU = ClampedByte(float(px[1]) - along * p.strengthU);
            const uint8_t newV = ClampedByte(float(px[2]) - along * p.strengthV);
            px[1] = newU;
            px[2] = newV;
        }
}

void MaskApplyReference(tvf2::MaskApply op, const HostFrame& mask, HostFrame& frame) {
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const unsigned m = mask.row(y)[x];
            uint8_t* px = frame.px(x, y);
            switch (op) {
            case tvf2::MaskApply::AlphaByMask: px[3] = uint8_t(FloorDiv255(px[3] * m)); break;
            case tvf2::MaskApply::AlphaByInverseMask:
                px[3] = uint8_t(FloorDiv255(px[3] * (255 - m)));
                break;
            case tvf2::MaskApply::ShowMask:
            case tvf2::MaskApply::ShowInverseMask:
                px[0] = uint8_t(op == tvf2::MaskApply::ShowMask ? m : 255 - m);
                px[1] = px[2] = 128;
                px[3] = 255;
                break;
            case tvf2::MaskApply::FadeChroma:
            case tvf2::MaskApply::FadeChromaInverse: {
                const unsigned keep = op == tvf2::MaskApply::FadeChroma ? m : 255 - m;
                for (int c = 1; c <= 2; ++c)
                    px[c] = uint8_t(FloorDiv255(px[c] * keep + 128 * (255 - keep) + 128));
                break;
            }
            }
        }
}

void BlendToColourReference(uint32_t colour, float alpha, HostFrame& frame) {
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            for (int c = 0; c < 3; ++c) {
                uint8_t& b = frame.px(x, y)[c];
                const float key = float((colour >> (8 * c)) & 255u) * (1.0f - alpha);
                const float v = std::fmaf(float(b), alpha, key);
                // Toward zero as an unsigned 32-bit value (saturating), low byte kept.
                uint32_t u = 0;
                if (v >= 4294967296.0f)
                    u = 0xFFFFFFFFu;
                else if (v > 0.0f)
                    u = uint32_t(v);
                b = uint8_t(u & 255u);
            }
}

void ShiftMiddleChannelsReference(int shift1, int shift2, HostFrame& frame) {
    const long long w = frame.width;
    std::vector<uint8_t> before(static_cast<size_t>(w) * 4);
    for (int y = 0; y < frame.height; ++y) {
        uint8_t* row = frame.row(y);
        before.assign(row, row + w * 4);
        auto at = [&](long long x, int c) {
            const long long i = x < 0 ? 0 : x >= w ? w - 1 : x;
            return int(before[static_cast<size_t>(i) * 4 + c]);
        };
        for (long long x = 0; x < w; ++x) {
            const int shifts[2] = {shift1, shift2};
            for (int c = 1; c <= 2; ++c) {
                // Target x reads source x - s / 2: half positions average the two
                // neighbours, flooring; positions are clamped to the row.
                const long long s = shifts[c - 1];
                const long long left = x - (s + (s & 1)) / 2;
                row[x * 4 + c] = uint8_t((s & 1) ? (at(left, c) + at(left + 1, c)) / 2 : at(left, c));
            }
        }
    }
}

}  // namespace tvf2test
