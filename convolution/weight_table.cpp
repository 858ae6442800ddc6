#include "convolution/weight_table.h"

#include <cmath>

namespace tvf2 {
namespace {

double Weight(WindowShape shape, int offset, int r) {
    if (shape == WindowShape::Box) return 1.0;
    const double sigma = (r < 1 ? 1 : r) / 2.0;
    return std::exp(-double(offset) * offset / (2.0 * sigma * sigma));
}

// Appends the window of offsets lo-p .. hi-p, normalised over exactly those taps.
void AppendWindow(std::vector<float>& table, WindowShape shape, int p, int lo, int hi, int r) {
    double sum = 0.0;
    for (int t = lo; t <= hi; ++t) sum += Weight(shape, t - p, r);
    for (int t = lo; t <= hi; ++t) table.push_back(static_cast<float>(Weight(shape, t - p, r) / sum));
}

}  // namespace

std::vector<float> BuildWeightTable(WindowShape shape, int n, int r) {
    std::vector<float> table;
    if (n <= 0 || r < 0) return table;
    table.reserve(static_cast<size_t>(WeightTableEntries(n, r)));
    auto border = [&](int p) {
        const int lo = p - r < 0 ? 0 : p - r;
        const int hi = static_cast<long long>(p) + r > n - 1 ? n - 1 : p + r;
        AppendWindow(table, shape, p, lo, hi, r);
    };
    int p = 0;
    for (; p < r && p < n; ++p) border(p);
    if (2LL * r + 1 <= n) {
        AppendWindow(table, shape, r, 0, 2 * r, r);  // the centre window, offsets -r .. r
        p = n - r;
    }
    for (; p < n; ++p) border(p);
    return table;
}

}  // namespace tvf2
