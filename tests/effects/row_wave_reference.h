// Sequential reference of the per-row wave offset: the offset of each row from its
// formula, then every byte of the row offset and clamped.
#ifndef TVF2_TESTS_EFFECTS_ROW_WAVE_REFERENCE_H
#define TVF2_TESTS_EFFECTS_ROW_WAVE_REFERENCE_H

#include "../common/frames.h"

#include <cstdint>
#include <vector>

namespace tvf2test {

struct WaveParams {
    bool enable;
    int shape;
    double wavelength, speed, amplitude;
};

struct RowWaveParams {
    int64_t frameIndex;
    double frameRate;
    bool wholeFrame, evenRowsFirst;
    WaveParams waves[3];
};

struct RowOffset {
    int d;
    // A cosine wave's value lies so close to a half-integer that a device cosine, within
    // its documented error of this one, may round it the other way.
    bool nearHalfStep;
};

std::vector<RowOffset> RowWaveOffsets(const RowWaveParams& p, int height);

// Writes every pixel of dst from src (the same frame allowed).
void RowWaveReference(const RowWaveParams& p, const HostFrame& src, HostFrame& dst);

}  // namespace tvf2test

#endif
