// Sequential reference of the second-difference energy: one loop nest over rows,
// positions and components, a 64-bit total; no blocks, no shared memory.
#ifndef TVF2_TESTS_MEASURE_ENERGY_REFERENCE_H
#define TVF2_TESTS_MEASURE_ENERGY_REFERENCE_H

#include <cstdint>

namespace tvf2test {

enum class EnergyRefLayout { C32, C64, YUY2, YUY2W, SemiPlanar8, SemiPlanar16 };

struct EnergyPlaneView {
    const uint8_t* data;
    int pitch;  // bytes
};

struct EnergyRefArgs {
    // Packed layouts: A, B. Semi-planar: A's luma, B's luma, A's chroma, B's chroma.
    EnergyPlaneView plane[4];
    int width, height;  // pixels (the slots' w), rows
    bool halved;        // semi-planar: chroma row y / 2
    int m[9];           // as the caller passes it
    int threshold;
};

bool IsPairLayout(EnergyRefLayout layout);
bool Is16Bit(EnergyRefLayout layout);
bool IsSemiPlanar(EnergyRefLayout layout);

// Positions per row: pixels, or pixel pairs for the pair layouts.
int EnergyUnits(EnergyRefLayout layout, int width);

// The three squares of position (x, y) before the threshold (16-bit layouts: limited).
void EnergySquares(EnergyRefLayout layout, const EnergyRefArgs& a, int x, int y, int32_t s[3]);

// The 32-bit contribution of position (x, y) (the sum of its three thresholded squares).
int32_t EnergyAt(EnergyRefLayout layout, const EnergyRefArgs& a, int x, int y);

// The total over the whole image.
int64_t EnergyReference(EnergyRefLayout layout, const EnergyRefArgs& a);

}  // namespace tvf2test

#endif
