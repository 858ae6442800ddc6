// Separable convolution (slots 31, 33, 35) and unsharp mask (slot 19) at 1920x1080 with
// Gaussian tables of radius 2 and 8, beside the single-threaded sequential reference on
// the same frame. Reports megapixels per second (Mpx/s).
#include "../../tests/common/frames.h"
#include "../../tests/convolution/convolution_reference.h"
#include "convolution/weight_table.h"
#include "module/TarvoVideoFilter2.h"

#include "../common/bench.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using tvf2test::ConvRef;
using tvf2test::DeviceFrame;
using tvf2test::HostFrame;

using tvf2bench::kH;
using tvf2bench::kW;

// Which operation a benchmark runs.
enum class Op { C32, C32A, P8, UnsharpC32 };

ConvRef Layout(Op op) {
    return op == Op::C32A ? ConvRef::C32A : op == Op::P8 ? ConvRef::P8 : ConvRef::C32;
}

HostFrame Source(Op op) {
    HostFrame f(kW, kH, tvf2test::ConvBytesPerPixel(Layout(op)), 0);
    tvf2test::FillRandomAlpha(f, 1);
    return f;
}

std::vector<float> Gaussian(int n, int r) { return tvf2::BuildWeightTable(tvf2::WindowShape::Gaussian, n, r); }

struct DeviceTable {
    float* p = nullptr;
    explicit DeviceTable(const std::vector<float>& t) {
        cudaMalloc(reinterpret_cast<void**>(&p), t.size() * 4);
        cudaMemcpy(p, t.data(), t.size() * 4, cudaMemcpyHostToDevice);
    }
    ~DeviceTable() { cudaFree(p); }
};


void BM_Slot(benchmark::State& state, Op op) {
    const int r = static_cast<int>(state.range(0));
    const HostFrame src = Source(op);
    DeviceFrame s(src), d(src), mid(src);
    const std::vector<float> ht = Gaussian(kW, r), vt = Gaussian(kH, r);
    DeviceTable dh(ht), dv(vt);
    void* work = nullptr;
    cudaMalloc(&work, size_t(kW) * kH * 8);
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    GetFuncSet(&fs);
    const int hc = int(ht.size()), vc = int(vt.size());
    for (auto _ : state) {
        int status = 0;
        switch (op) {
        case Op::C32: status = fs->SeparableConvolve_C32(d.get(), s.get(), kW, kH, d.pitch(), s.pitch(), dh.p, hc, dv.p, vc, work, r, r); break;
        case Op::C32A: status = fs->SeparableConvolveAlpha_C32A(d.get(), s.get(), kW, kH, d.pitch(), s.pitch(), dh.p, hc, dv.p, vc, work, r, r); break;
        case Op::P8: status = fs->SeparableConvolve_P8(d.get(), s.get(), kW, kH, d.pitch(), s.pitch(), dh.p, hc, dv.p, vc, work, r, r); break;
        case Op::UnsharpC32: status = fs->SeparableUnsharpMask_C32(d.get(), d.pitch(), s.get(), s.pitch(), mid.get(), mid.pitch(), kW, kH, r, 128, dh.p, hc, dv.p, vc); break;
        }
        cudaDeviceSynchronize();
        if (status != 0) {
            state.SkipWithError("the slot failed");
            break;
        }
    }
    cudaFree(work);
    tvf2bench::SetFrameRate(state);
}

void BM_Reference(benchmark::State& state, Op op) {
    const int r = static_cast<int>(state.range(0));
    const HostFrame src = Source(op);
    HostFrame dst = src, mid = src;
    const std::vector<float> ht = Gaussian(kW, r), vt = Gaussian(kH, r);
    for (auto _ : state) {
        if (op == Op::UnsharpC32)
            tvf2test::UnsharpReference(false, src, ht, vt, r, 128, mid, dst);
        else
            tvf2test::SeparableReference(Layout(op), src, ht, r, vt, r, dst);
        benchmark::DoNotOptimize(dst.bytes.data());
    }
    tvf2bench::SetFrameRate(state);
}

#define TVF2_CONV_BENCH(op)                                                                                 \
    BENCHMARK_CAPTURE(BM_Slot, op, Op::op)->Arg(2)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_Reference, op, Op::op)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond)

TVF2_CONV_BENCH(C32);
TVF2_CONV_BENCH(C32A);
TVF2_CONV_BENCH(P8);
TVF2_CONV_BENCH(UnsharpC32);

}  // namespace

