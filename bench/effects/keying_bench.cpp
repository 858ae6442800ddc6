// Key masks, key-chroma suppression, mask combinations (slots 22 to 30), the blend
// toward a colour (slot 21) and the middle-channel shift (slot 4, row in shared memory
// and, with a pitch over the budget, in a device temporary) at 1920x1080, beside the
// single-threaded sequential references on the same frames. Reports megapixels per
// second (Mpx/s) and the frame bytes read and written once per second (GB/s, what a
// memory-bound kernel is measured against).
#include "../../tests/common/frames.h"
#include "../../tests/effects/keying_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace {

using tvf2::KeyMaskRule;
using tvf2::MaskApply;
using tvf2test::DeviceFrame;
using tvf2test::HostFrame;

using tvf2bench::kH;
using tvf2bench::kW;

const tvf2test::KeyParams kKey{0, 1, 100, -40, -30, 0.02f, 1, 0};
const tvf2test::SuppressParams kSuppress{60, -40, -30, 0.01f, 0.01f, false};

HostFrame Frame(int pad = 0) {
    HostFrame f(kW, kH, 4, pad);
    tvf2test::FillRandomAlpha(f, 1);
    return f;
}
HostFrame Mask() {
    HostFrame m(kW, kH, 1, 0);
    tvf2test::FillRandom(m, 2);
    return m;
}

// Bytes of one frame pass: `perPixel` bytes read and written per pixel.
void SetRates(benchmark::State& state, int perPixel) {
    tvf2bench::SetFrameRate(state);
    state.counters["GB/s"] = benchmark::Counter(double(kW) * kH * perPixel / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

typedef std::function<int(ICUDAKernelFuncSet_TarvoVideoFilter2*, void* frame, int pitch, void* mask, int maskPitch)> Slot;

void BM_Slot(benchmark::State& state, Slot slot, int perPixel, int pad) {
    HostFrame frame = Frame(pad), mask = Mask();
    DeviceFrame f(frame), m(mask);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    for (auto _ : state) {
        const int status = slot(fs, f.get(), f.pitch(), m.get(), m.pitch());
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError(("status " + std::to_string(status)).c_str());
            break;
        }
    }
    SetRates(state, perPixel);
}

void BM_Reference(benchmark::State& state, std::function<void(HostFrame&, HostFrame&)> ref, int perPixel) {
    HostFrame frame = Frame(), mask = Mask();
    for (auto _ : state) {
        ref(frame, mask);
        benchmark::DoNotOptimize(frame.bytes.data());
        benchmark::DoNotOptimize(mask.bytes.data());
    }
    SetRates(state, perPixel);
}

#define TVF2_KEYING_BENCH(name, perPixel, pad, slotCall, refCall)                                          \
    BENCHMARK_CAPTURE(BM_Slot, name, [](ICUDAKernelFuncSet_TarvoVideoFilter2* fs, void* f, int fp, void* m, \
                                        int mp) { (void)m, (void)mp; return fs->slotCall; },                                   \
                      perPixel, pad)                                                                        \
        ->UseRealTime()                                                                                     \
        ->Unit(benchmark::kMillisecond);                                                                    \
    BENCHMARK_CAPTURE(BM_Reference, name, [](HostFrame& f, HostFrame& m) { refCall; }, perPixel)           \
        ->Unit(benchmark::kMillisecond)

#define TVF2_MASK_BENCH(name, op, perPixel)                                                                \
    TVF2_KEYING_BENCH(name, perPixel, 0, name(kW, kH, f, fp, m, mp),                                      \
                      (void)m; tvf2test::MaskApplyReference(MaskApply::op, m, f))

using tvf2test::BlendToColourReference;
using tvf2test::KeyMaskReference;
using tvf2test::ShiftMiddleChannelsReference;
using tvf2test::SuppressKeyChromaReference;

TVF2_KEYING_BENCH(KeyMaskProduct_YUV32, 5, 0,
                  KeyMaskProduct_YUV32(kW, kH, 0, kKey.e, kKey.keyY, kKey.keyU, kKey.keyV, kKey.linScale,
                                       kKey.lumaWeight, kKey.powScale, f, fp, m, mp),
                  KeyMaskReference(KeyMaskRule::Product, kKey, f, m));
TVF2_KEYING_BENCH(KeyMaskGated_YUV32, 5, 0,
                  KeyMaskGated_YUV32(kW, kH, 0, 2.0f, kKey.keyY, kKey.keyU, kKey.keyV, kKey.linScale,
                                     kKey.lumaWeight, 0.0004f, f, fp, m, mp),
                  (KeyMaskReference(KeyMaskRule::Gated, tvf2test::KeyParams{0, 2.0f, 100, -40, -30, 0.02f, 1, 0.0004f}, f, m)));
TVF2_KEYING_BENCH(SuppressKeyChroma_YUV32, 8, 0,
                  SuppressKeyChroma_YUV32(kW, kH, kSuppress.radius, kSuppress.keyU, kSuppress.keyV,
                                          kSuppress.strengthU, kSuppress.strengthV, kSuppress.all, f, fp),
                  (void)m; SuppressKeyChromaReference(kSuppress, f));
TVF2_MASK_BENCH(MultiplyAlphaByMask_YUV32A, AlphaByMask, 9);
TVF2_MASK_BENCH(MultiplyAlphaByInverseMask_YUV32A, AlphaByInverseMask, 9);
TVF2_MASK_BENCH(ShowMask_YUV32A, ShowMask, 5);
TVF2_MASK_BENCH(ShowInverseMask_YUV32A, ShowInverseMask, 5);
TVF2_MASK_BENCH(FadeChromaByMask_YUV32, FadeChroma, 9);
TVF2_MASK_BENCH(FadeChromaByInverseMask_YUV32, FadeChromaInverse, 9);
TVF2_KEYING_BENCH(BlendToColour_C32, 8, 0, BlendToColour_C32(kW, kH, f, fp, 0x00405060, 0.75f),
                  (void)m; BlendToColourReference(0x00405060u, 0.75f, f));
// Pitch 7680: the row is staged in shared memory; padded to 12800, in a device temporary.
TVF2_KEYING_BENCH(ShiftMiddleChannels_C32_shared, 8, 0, ShiftMiddleChannels_C32(kW, kH, f, fp, 3, -4),
                  (void)m; ShiftMiddleChannelsReference(3, -4, f));
TVF2_KEYING_BENCH(ShiftMiddleChannels_C32_temporary, 8, 12800 - 4 * kW,
                  ShiftMiddleChannels_C32(kW, kH, f, fp, 3, -4), (void)m; ShiftMiddleChannelsReference(3, -4, f));

}  // namespace
