// The module's one function-set object and its export.
//
// Each slot forwards to its family's launcher and hands back the status in the host's
// (CUDA 6.0) numbering. Slots whose family is not built yet answer "not yet
// implemented" and touch nothing.
#include "module/TarvoVideoFilter2.h"

#include "convolution/separable.h"
#include "convolution/unsharp.h"
#include "denoise/nonlocal_means.h"
#include "denoise/similarity_average.h"
#include "effects/mosaic.h"
#include "launch/grid_block.h"
#include "module/status.h"

#include <cuda_runtime.h>

namespace tvf2 {
namespace {

constexpr int kNotBuilt = 31;  // the host's "not yet implemented"

// One 8-byte entry per block of the default launch shape, in a power-of-two count of at
// least 256 entries.
size_t ScratchSize(int w, int h) {
    const LaunchShape s = GridBlock(w, h);
    const long long blocks = static_cast<long long>(s.gridX) * s.gridY;
    long long entries = blocks;
    for (int k = 0; k <= 22; ++k) {
        if ((1LL << k) >= blocks) {
            entries = 1LL << k;
            break;
        }
    }
    if (entries < 256) entries = 256;
    return static_cast<size_t>(entries) * 8;
}

int Mosaic(MosaicLayout layout, const MosaicArgs& args) {
    return HostStatus(LaunchMosaic(layout, args));
}

int Separable(ConvLayout layout, const SeparableArgs& args) {
    return HostStatus(LaunchSeparable(layout, args));
}

class CCUDAKernelFuncSet_TarvoVideoFilter2 final : public ICUDAKernelFuncSet_TarvoVideoFilter2 {
public:
    int DeviceMalloc(void** out, size_t bytes) override {
        return HostStatus(cudaMalloc(out, bytes));
    }
    int DeviceFree(void* p) override {
        return HostStatus(cudaFree(p));
    }
    int DeviceCopy2D(void* dst, size_t dstPitch, const void* src, size_t srcPitch, size_t widthBytes, size_t rows) override {
        return HostStatus(cudaMemcpy2D(dst, dstPitch, src, srcPitch, widthBytes, rows, cudaMemcpyDeviceToDevice));
    }
    int GetLastStatus() override {
        return HostStatus(cudaGetLastError());
    }
    int ShiftMiddleChannels_C32(int, int, void*, int, int, int) override { return kNotBuilt; }
    size_t GetScratchSize(int w, int h) override {
        return ScratchSize(w, h);
    }
    int SecondDifferenceEnergy_C32(const void*, int, const void*, int, int, int, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SecondDifferenceEnergy_C64(const void*, int, const void*, int, int, int, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SecondDifferenceEnergy_YUY2(const void*, int, const void*, int, int, int, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SecondDifferenceEnergy_YUY2W(const void*, int, const void*, int, int, int, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SecondDifferenceEnergy_SemiPlanar8(const void*, int, const void*, int, const void*, int, const void*, int, int, int, bool, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SecondDifferenceEnergy_SemiPlanar16(const void*, int, const void*, int, const void*, int, const void*, int, int, int, bool, int, int, int, int, int, int, int, int, int, int, void*, int64_t*, int, int64_t*) override { return kNotBuilt; }
    int SharpenLaplacian_C32(int, int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int SharpenLaplacian_C32A(int, int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int AddEdgeMagnitude_C32(int, int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int AddEdgeMagnitude_C32A(int, int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int DisplaceByEdgeGradient_C32(void*, int, void*, int, void*, int, const void*, int, const void*, int, int, int, int, int, int, float) override { return kNotBuilt; }
    int DisplaceByEdgeGradient_C32A(void*, int, void*, int, void*, int, const void*, int, const void*, int, int, int, int, int, int, float) override { return kNotBuilt; }
    int RowWaveOffset_C32(int, int, void*, int, const void*, int, int64_t, double, bool, bool, bool, int, double, double, double, bool, int, double, double, double, bool, int, double, double, double) override { return kNotBuilt; }
    int SeparableUnsharpMask_C32(void* dst, int dstPitch, const void* src, int srcPitch, void* mid, int midPitch, int w, int h, int radius, int amount, const float* hWeights, int hCount, const float* vWeights, int vCount) override {
        return HostStatus(LaunchUnsharp(false, {dst, dstPitch, src, srcPitch, mid, midPitch, w, h, radius, amount, hWeights, hCount, vWeights, vCount}));
    }
    int SeparableUnsharpMask_C32A(void* dst, int dstPitch, const void* src, int srcPitch, void* mid, int midPitch, int w, int h, int radius, int amount, const float* hWeights, int hCount, const float* vWeights, int vCount) override {
        return HostStatus(LaunchUnsharp(true, {dst, dstPitch, src, srcPitch, mid, midPitch, w, h, radius, amount, hWeights, hCount, vWeights, vCount}));
    }
    int BlendToColour_C32(int, int, void*, int, int, float) override { return kNotBuilt; }
    int KeyMaskProduct_YUV32(int, int, float, float, float, float, float, float, float, float, const void*, int, void*, int) override { return kNotBuilt; }
    int KeyMaskGated_YUV32(int, int, float, float, float, float, float, float, float, float, const void*, int, void*, int) override { return kNotBuilt; }
    int SuppressKeyChroma_YUV32(int, int, float, float, float, float, float, bool, void*, int) override { return kNotBuilt; }
    int MultiplyAlphaByMask_YUV32A(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int MultiplyAlphaByInverseMask_YUV32A(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int ShowMask_YUV32A(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int ShowInverseMask_YUV32A(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int FadeChromaByMask_YUV32(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int FadeChromaByInverseMask_YUV32(int, int, void*, int, const void*, int) override { return kNotBuilt; }
    int SeparableConvolve_C32(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::C32, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int SeparableConvolve_C64(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::C64, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int SeparableConvolveAlpha_C32A(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::C32A, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int SeparableConvolveAlpha_C64A(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::C64A, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int SeparableConvolve_P8(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::P8, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int SeparableConvolve_P16(void* dst, const void* src, int width, int height, int dstPitch, int srcPitch, const float* hWeights, int hCount, const float* vWeights, int vCount, void* work, int hRadius, int vRadius) override {
        return Separable(ConvLayout::P16, {dst, src, width, height, dstPitch, srcPitch, hWeights, hCount, vWeights, vCount, work, hRadius, vRadius});
    }
    int DeviceCopy(void* dst, const void* src, int bytes) override {
        return HostStatus(cudaMemcpy(dst, src, static_cast<size_t>(static_cast<int64_t>(bytes)), cudaMemcpyDeviceToDevice));
    }
    int SimilarityWeightedAverage_C32(void* dst, const void* src, const void* /*aux*/, int width, int height, int dstPitch, int srcPitch, int T, int radius, bool fields) override {
        return HostStatus(LaunchSimilarity(SimilarityLayout::C32, {dst, src, width, height, dstPitch, srcPitch, T, radius, fields}));
    }
    int SimilarityWeightedAverageTex_C32(void* dst, cudaArray* array, int width, int height, int dstPitch, const cudaChannelFormatDesc* desc, int rowOffset, int rowScale, int T, int radius, bool sameParity) override {
        return HostStatus(LaunchSimilarityTex(SimilarityLayout::C32, {dst, array, width, height, dstPitch, desc, rowOffset, rowScale, T, radius, sameParity}));
    }
    int SimilarityWeightedAverage_C32A(void* dst, const void* src, const void* /*aux*/, int width, int height, int dstPitch, int srcPitch, int T, int radius, bool fields) override {
        return HostStatus(LaunchSimilarity(SimilarityLayout::C32A, {dst, src, width, height, dstPitch, srcPitch, T, radius, fields}));
    }
    int SimilarityWeightedAverageTex_C32A(void* dst, cudaArray* array, int width, int height, int dstPitch, const cudaChannelFormatDesc* desc, int rowOffset, int rowScale, int T, int radius, bool sameParity) override {
        return HostStatus(LaunchSimilarityTex(SimilarityLayout::C32A, {dst, array, width, height, dstPitch, desc, rowOffset, rowScale, T, radius, sameParity}));
    }
    int SimilarityWeightedAverage_YUV32(void* dst, const void* src, const void* /*aux*/, int width, int height, int dstPitch, int srcPitch, int T, int radius, bool fields) override {
        return HostStatus(LaunchSimilarity(SimilarityLayout::YUV32, {dst, src, width, height, dstPitch, srcPitch, T, radius, fields}));
    }
    int SimilarityWeightedAverageTex_YUV32(void* dst, cudaArray* array, int width, int height, int dstPitch, const cudaChannelFormatDesc* desc, int rowOffset, int rowScale, int T, int radius, bool sameParity) override {
        return HostStatus(LaunchSimilarityTex(SimilarityLayout::YUV32, {dst, array, width, height, dstPitch, desc, rowOffset, rowScale, T, radius, sameParity}));
    }
    int SimilarityWeightedAverage_YUV32A(void* dst, const void* src, const void* /*aux*/, int width, int height, int dstPitch, int srcPitch, int T, int radius, bool fields) override {
        return HostStatus(LaunchSimilarity(SimilarityLayout::YUV32A, {dst, src, width, height, dstPitch, srcPitch, T, radius, fields}));
    }
    int SimilarityWeightedAverageTex_YUV32A(void* dst, cudaArray* array, int width, int height, int dstPitch, const cudaChannelFormatDesc* desc, int rowOffset, int rowScale, int T, int radius, bool sameParity) override {
        return HostStatus(LaunchSimilarityTex(SimilarityLayout::YUV32A, {dst, array, width, height, dstPitch, desc, rowOffset, rowScale, T, radius, sameParity}));
    }
    int MultiFrameSimilarityAverage_C32(void*, const void*, const void* const*, int, int, int, int, int, const int*, int, bool, const void*, void*) override { return kNotBuilt; }
    int MultiFrameSimilarityAverage_C32A(void*, const void*, const void* const*, int, int, int, int, int, const int*, int, bool, const void*, void*) override { return kNotBuilt; }
    int MultiFrameSimilarityAverage_YUV32(void*, const void*, const void* const*, int, int, int, int, int, const int*, int, bool, const void*, void*) override { return kNotBuilt; }
    int MultiFrameSimilarityAverage_YUV32A(void*, const void*, const void* const*, int, int, int, int, int, const int*, int, bool, const void*, void*) override { return kNotBuilt; }
    int Mosaic_C32(int height, int width, int cellH, int cellW, int offX, int offY, const void* src, int srcPitch, void* dst, int dstPitch) override {
        return Mosaic(MosaicLayout::C32, {height, width, cellH, cellW, offX, offY, src, srcPitch, dst, dstPitch});
    }
    int Mosaic_C32A(int height, int width, int cellH, int cellW, int offX, int offY, const void* src, int srcPitch, void* dst, int dstPitch) override {
        return Mosaic(MosaicLayout::C32A, {height, width, cellH, cellW, offX, offY, src, srcPitch, dst, dstPitch});
    }
    int Mosaic_YUY2(int height, int width, int cellH, int cellW, int offX, int offY, const void* src, int srcPitch, void* dst, int dstPitch) override {
        return Mosaic(MosaicLayout::YUY2, {height, width, cellH, cellW, offX, offY, src, srcPitch, dst, dstPitch});
    }
    int NonLocalMeans_C32(int w, int h, int S, int P, int T, const float* coefficients, void* dst, int dstPitch, const void* const* frames, const int* pitches, void* params, int budget) override {
        return HostStatus(LaunchNonLocalMeans(NlmLayout::C32, {w, h, S, P, T, coefficients, dst, dstPitch, frames, pitches, params, budget}));
    }
    int NonLocalMeans_C32A(int w, int h, int S, int P, int T, const float* coefficients, void* dst, int dstPitch, const void* const* frames, const int* pitches, void* params, int budget) override {
        return HostStatus(LaunchNonLocalMeans(NlmLayout::C32A, {w, h, S, P, T, coefficients, dst, dstPitch, frames, pitches, params, budget}));
    }
    int AddDetail_C32(int, int, void*, int, const void*, int, const void*, int, float, int, int) override { return kNotBuilt; }
    int AddDetailWeighted_C32(int, int, void*, int, const void*, int, const void*, int, float, int, int) override { return kNotBuilt; }
    int AddDetail_C64(int, int, void*, int, const void*, int, const void*, int, float, int, int) override { return kNotBuilt; }
    int AddDetailWeighted_C64(int, int, void*, int, const void*, int, const void*, int, float, int, int) override { return kNotBuilt; }
    ~CCUDAKernelFuncSet_TarvoVideoFilter2() override {}
};

// Constant-initialised: ready before any code of the module runs, never constructed
// or copied at run time.
CCUDAKernelFuncSet_TarvoVideoFilter2 g_funcSet;

}  // namespace
}  // namespace tvf2

int32_t GetFuncSet(ICUDAKernelFuncSet_TarvoVideoFilter2** out) {
    if (!out) return TVF2_E_POINTER;
    *out = &tvf2::g_funcSet;
    return 0;
}
