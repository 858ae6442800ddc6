// Sequential reference of the separable convolutions and the unsharp mask: plain loops
// over whole frames, one position at a time, each position's window and table entries
// found on their own (no running cursor, rings, tiles or threads).
#ifndef TVF2_TESTS_CONVOLUTION_REFERENCE_H
#define TVF2_TESTS_CONVOLUTION_REFERENCE_H

#include "../common/frames.h"

#include <vector>

namespace tvf2test {

enum class ConvRef { C32, C64, C32A, C64A, P8, P16 };

int ConvBytesPerPixel(ConvRef layout);

// Where position p of a line of n samples takes its weights for radius r.
struct RefWindow {
    bool centre;  // symmetric centre window (weights first .. first + r)
    int first;    // table index of the first weight
    int lo, hi;   // taps of a border window
};
std::vector<RefWindow> RefWindows(int n, int r);

// Filters src into dst (dst keeps what the operation does not write: nothing for these
// layouts, whose every written pixel is complete). hR, vR: radii; tables as the slots
// take them.
void SeparableReference(ConvRef layout, const HostFrame& src, const std::vector<float>& hTable,
                        int hR, const std::vector<float>& vTable, int vR, HostFrame& dst);

// The unsharp mask: pass 1 into mid, pass 2 from mid and src into dst. Without alpha,
// byte 3 of mid and dst is left as it was.
void UnsharpReference(bool alpha, const HostFrame& src, const std::vector<float>& hTable,
                      const std::vector<float>& vTable, int r, int amount, HostFrame& mid,
                      HostFrame& dst);

}  // namespace tvf2test

#endif
