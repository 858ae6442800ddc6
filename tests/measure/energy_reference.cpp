#include "energy_reference.h"

namespace tvf2test {
namespace {

// The low 32 bits of an exact 64-bit value, as a signed number.
int32_t Low32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && (a < 0)) --q;
    return q;
}

int Sample(EnergyRefLayout layout, const EnergyPlaneView& p, int row, int index) {
    const uint8_t* r = p.data + static_cast<int64_t>(row) * p.pitch;
    if (!Is16Bit(layout)) return r[index];
    const uint16_t u = static_cast<uint16_t>(r[2 * index] | r[2 * index + 1] << 8);
    return u >= 0x8000 ? int(u) - 0x10000 : int(u);
}

// A(row) + A(row + 1) - 2 B(row) of one sample.
int Second(EnergyRefLayout layout, const EnergyPlaneView& a, const EnergyPlaneView& b, int row,
           int index) {
    return Sample(layout, a, row, index) + Sample(layout, a, row + 1, index) -
           2 * Sample(layout, b, row, index);
}

}  // namespace

bool IsPairLayout(EnergyRefLayout l) {
    return l != EnergyRefLayout::C32 && l != EnergyRefLayout::C64;
}
bool Is16Bit(EnergyRefLayout l) {
    return l == EnergyRefLayout::C64 || l == EnergyRefLayout::YUY2W ||
           l == EnergyRefLayout::SemiPlanar16;
}
bool IsSemiPlanar(EnergyRefLayout l) {
    return l == EnergyRefLayout::SemiPlanar8 || l == EnergyRefLayout::SemiPlanar16;
}
int EnergyUnits(EnergyRefLayout l, int width) {
    return IsPairLayout(l) ? width / 2 : width;
}

void EnergySquares(EnergyRefLayout l, const EnergyRefArgs& a, int x, int y, int32_t s[3]) {
    int d[3];
    const EnergyPlaneView &A = a.plane[0], &B = a.plane[1];
    if (!IsPairLayout(l)) {
        for (int k = 0; k < 3; ++k) d[k] = Second(l, A, B, y, 4 * x + k);
    } else if (!IsSemiPlanar(l)) {
        d[0] = Second(l, A, B, y, 4 * x) + Second(l, A, B, y, 4 * x + 2);
        d[1] = Second(l, A, B, y, 4 * x + 1);
        d[2] = Second(l, A, B, y, 4 * x + 3);
    } else {
        const int c = a.halved ? y / 2 : y;
        d[0] = Second(l, A, B, y, 2 * x) + Second(l, A, B, y, 2 * x + 1);
        d[1] = Second(l, a.plane[2], a.plane[3], c, 2 * x);
        d[2] = Second(l, a.plane[2], a.plane[3], c, 2 * x + 1);
    }
    for (int j = 0; j < 3; ++j) {
        int64_t weighted = 0;
        for (int k = 0; k < 3; ++k) {
            int64_t coefficient = a.m[3 * k + j];
            // The pair layouts get row 0 halved (toward zero): it meets two luma differences.
            if (k == 0 && IsPairLayout(l)) coefficient = a.m[j] / 2;
            weighted += int64_t(d[k]) * coefficient;
        }
        const int32_t e = Low32(FloorDiv(Low32(weighted), 16384));
        s[j] = Low32(int64_t(e) * e);
        if (Is16Bit(l) && s[j] > 65535) s[j] = 65535;
    }
}

int32_t EnergyAt(EnergyRefLayout l, const EnergyRefArgs& a, int x, int y) {
    int32_t s[3];
    EnergySquares(l, a, x, y, s);
    int32_t sum = 0;
    for (int j = 0; j < 3; ++j)
        if (s[j] >= Low32(int64_t(a.threshold) * a.threshold)) sum = Low32(int64_t(sum) + s[j]);
    return sum;
}

int64_t EnergyReference(EnergyRefLayout l, const EnergyRefArgs& a) {
    uint64_t total = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < EnergyUnits(l, a.width); ++x)
            total += static_cast<uint64_t>(static_cast<int64_t>(EnergyAt(l, a, x, y)));
    return static_cast<int64_t>(total);
}

}  // namespace tvf2test
