// Per-row wave offset: every byte of row y of a 32-bit frame is offset by d(y) and
// clamped to 0..255, where d(y) is the sum of up to three moving waves (cosine,
// triangle, square, rising or falling sawtooth), each rounded to an integer, evaluated
// at row y and at a time frameIndex / frameRate (per field, half a frame apart, when the
// frame is interlaced). One kernel, one pass; src may equal dst.
#ifndef TVF2_EFFECTS_ROW_WAVE_H
#define TVF2_EFFECTS_ROW_WAVE_H

#include <cuda_runtime.h>

#include <cstdint>

namespace tvf2 {

enum RowWaveShape { kWaveCosine = 0, kWaveTriangle, kWaveSquare, kWaveRising, kWaveFalling };

struct RowWave {
    bool enable;
    int shape;
    double wavelength;  // fraction of the frame height
    double speed;       // periods per time unit
    double amplitude;   // byte steps
};

struct RowWaveArgs {
    int w, h;
    void* dst;
    int dstPitch;
    const void* src;
    int srcPitch;
    int64_t frameIndex;
    double frameRate;
    bool wholeFrame, evenRowsFirst;
    RowWave waves[3];
};

// Arguments the operation cannot honour: null frames, negative sizes, pitches smaller
// than a row, frames or pitches not aligned to 4 bytes, a frame rate that is not above
// 0, and an enabled wave whose shape is not one of the five.
bool RowWaveArgsValid(const RowWaveArgs& a);

// Queues the kernel without checking anything (a wave of any other shape adds 0).
cudaError_t QueueRowWave(const RowWaveArgs& a);

// Checks the arguments (invalid value, nothing launched), then queues the kernel.
cudaError_t LaunchRowWave(const RowWaveArgs& a);

}  // namespace tvf2

#endif
