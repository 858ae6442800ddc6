// Colour-distance key masks on YUV32 frames (byte 0 luma, bytes 1 and 2 chroma stored as
// value + 128, byte 3 alpha where the operation says YUV32A).
//
// Two operations build an 8-bit mask (one byte per pixel) from the distance of each
// pixel's colour to a key colour; one removes the key's chroma from pixels near the key;
// six combine a mask with a frame: scale its alpha by the mask or its inverse, render the
// mask as a grey frame, or fade the chroma toward grey where the mask is low or high.
#ifndef TVF2_EFFECTS_KEY_MASK_H
#define TVF2_EFFECTS_KEY_MASK_H

#include <cuda_runtime.h>

namespace tvf2 {

enum class KeyMaskRule {
    Product,  // mask = 255 * chroma term * colour term
    Gated,    // mask = 255 * colour term where the chroma term is below 1
};

struct KeyMaskArgs {
    int w, h;
    float reserved;  // passed through to the kernel, never read
    float e;         // exponent: above 1 the terms are powers, otherwise linear
    float keyY, keyU, keyV;  // key colour; keyU and keyV as signed chroma
    float linScale, lumaWeight, powScale;
    const void* src;
    int srcPitch;
    void* mask;
    int maskPitch;
};

struct SuppressArgs {
    int w, h;
    float radius, keyU, keyV, strengthU, strengthV;
    bool all;  // every pixel, not only those within the radius of the key
    void* frame;
    int pitch;
};

enum class MaskApply {
    AlphaByMask,         // alpha = alpha * m / 255
    AlphaByInverseMask,  // alpha = alpha * (255 - m) / 255
    ShowMask,            // pixel = (m, 128, 128, 255)
    ShowInverseMask,     // pixel = (255 - m, 128, 128, 255)
    FadeChroma,          // chroma toward 128 where m is low
    FadeChromaInverse,   // chroma toward 128 where m is high
};

struct MaskApplyArgs {
    int w, h;
    void* frame;
    int framePitch;
    const void* mask;
    int maskPitch;
};

// Each launcher refuses null frames or masks, negative sizes, pitches smaller than a row
// and masks whose last byte lies beyond a 32-bit offset with invalid value, before
// anything is launched; otherwise it queues its kernel
// over the default launch shape and returns the runtime's status.
cudaError_t LaunchKeyMask(KeyMaskRule rule, const KeyMaskArgs& a);
cudaError_t LaunchSuppressKeyChroma(const SuppressArgs& a);
cudaError_t LaunchMaskApply(MaskApply op, const MaskApplyArgs& a);

}  // namespace tvf2

#endif
