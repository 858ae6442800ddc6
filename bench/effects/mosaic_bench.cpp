// Mosaic slots at 1920x1080: small cells (per-thread form) and large cells (per-block
// form), beside the single-threaded sequential reference on the same frame.
// Reports megapixels per second (Mpx/s).
#include "../../tests/common/frames.h"
#include "../../tests/effects/mosaic_reference.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>


namespace {

using tvf2test::DeviceFrame;
using tvf2test::HostFrame;
using tvf2test::MosaicParams;
using tvf2test::RefLayout;

using tvf2bench::kH;
using tvf2bench::kW;

HostFrame Source(RefLayout layout) {
    HostFrame f(layout == RefLayout::YUY2 ? kW / 2 : kW, kH, 4, 0);
    tvf2test::FillRandomAlpha(f, 1);
    return f;
}


void BM_MosaicSlot(benchmark::State& state, RefLayout layout) {
    const int cell = static_cast<int>(state.range(0));
    HostFrame src = Source(layout);
    DeviceFrame s(src), d(src);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    for (auto _ : state) {
        int status = layout == RefLayout::C32
                         ? fs->Mosaic_C32(kH, kW, cell, cell, 0, 0, s.get(), s.pitch(), d.get(), d.pitch())
                     : layout == RefLayout::C32A
                         ? fs->Mosaic_C32A(kH, kW, cell, cell, 0, 0, s.get(), s.pitch(), d.get(), d.pitch())
                         : fs->Mosaic_YUY2(kH, kW, cell, cell, 0, 0, s.get(), s.pitch(), d.get(), d.pitch());
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    tvf2bench::SetFrameRate(state);
}

void BM_MosaicReference(benchmark::State& state, RefLayout layout) {
    const int cell = static_cast<int>(state.range(0));
    HostFrame src = Source(layout), dst = src;
    for (auto _ : state) {
        tvf2test::MosaicReference(layout, MosaicParams{cell, cell, 0, 0}, src, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

#define TVF2_MOSAIC_BENCH(layout)                                                          \
    BENCHMARK_CAPTURE(BM_MosaicSlot, layout, RefLayout::layout)->Arg(8)->Arg(32)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_MosaicReference, layout, RefLayout::layout)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)

TVF2_MOSAIC_BENCH(C32);
TVF2_MOSAIC_BENCH(C32A);
TVF2_MOSAIC_BENCH(YUY2);

}  // namespace

