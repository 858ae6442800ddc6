// Weight tables of the separable convolutions, as callers build them.
//
// A table serves one line length N and one radius R. In reading order: a window of
// weights for each left border position p = 0 .. min(R, N)-1 over its taps
// max(0, p-R) .. min(N-1, p+R); then, only when N >= 2R+1, the full window of 2R+1
// weights for the offsets -R .. +R (symmetric: the filter reads the first R+1 and uses
// the weight of -d for +d as well); then a window for each remaining position up to
// N-1. With a centre window the table has 3R^2 + 3R + 1 entries.
#ifndef TVF2_CONVOLUTION_WEIGHT_TABLE_H
#define TVF2_CONVOLUTION_WEIGHT_TABLE_H

#include <vector>

namespace tvf2 {

// Entries a filter of radius r reads from the table of a line of n samples (0 for an
// empty line); the table must hold at least that many.
inline long long WeightTableEntries(int n, int r) {
    if (n <= 0 || r < 0) return 0;
    if (2LL * r + 1 <= n) return 3LL * r * r + 3LL * r + 1;
    // Short line: border windows only, position p spanning max(0, p-r) .. min(n-1, p+r).
    // Summed in closed form (a loop over the line would let a caller's huge length stall
    // the argument check): k windows end before the line's end, m start after 0.
    const long long N = n, R = r;
    const long long k = N - R > 0 ? N - R : 0;
    const long long m = N - 1 - R > 0 ? N - 1 - R : 0;
    return k * (k - 1) / 2 + k * (R + 1) + (N - k) * N - m * (m + 1) / 2;
}

enum class WindowShape { Gaussian, Box };

// The table of a line of n samples for a window of radius r (r >= 0, n >= 1). The
// Gaussian has sigma = max(r, 1) / 2 (weights exp(-d^2 / (2 sigma^2))); the box weighs
// every tap alike. Each window, the border ones cut off by the line's ends included,
// is renormalised to sum to 1, so flat areas stay flat up to the edges.
std::vector<float> BuildWeightTable(WindowShape shape, int n, int r);

}  // namespace tvf2

#endif
