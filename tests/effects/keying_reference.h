// Sequential references of the key masks, the blend toward a colour and the middle-
// channel shift: plain loops over the pixels, one at a time, no thread structure.
#ifndef TVF2_TESTS_EFFECTS_KEYING_REFERENCE_H
#define TVF2_TESTS_EFFECTS_KEYING_REFERENCE_H

#include "../common/frames.h"
#include "effects/key_mask.h"

#include <cstdint>

namespace tvf2test {

struct KeyParams {
    float reserved, e, keyY, keyU, keyV, linScale, lumaWeight, powScale;
};

// mask: a one-byte-per-pixel frame of src's size; bytes outside the rows are left alone.
void KeyMaskReference(tvf2::KeyMaskRule rule, const KeyParams& p, const HostFrame& src,
                      HostFrame& mask);

struct SuppressParams {
    float radius, keyU, keyV, strengthU, strengthV;
    bool all;
};

void SuppressKeyChromaReference(const SuppressParams& p, HostFrame& frame);

void MaskApplyReference(tvf2::MaskApply op, const HostFrame& mask, HostFrame& frame);

void BlendToColourReference(uint32_t colour, float alpha, HostFrame& frame);

void ShiftMiddleChannelsReference(int shift1, int shift2, HostFrame& frame);

}  // namespace tvf2test

#endif
