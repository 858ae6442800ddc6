// The module's one function-set object and its export.
//
// Each slot forwards to its family's launcher and hands back the status in the host's
// (CUDA 6.0) numbering.
#include "module/TarvoVideoFilter2.h"

#include "convolution/detail.h"
#include "convolution/separable.h"
#include "convolution/sharpen.h"
#include "convolution/unsharp.h"
#include "denoise/multi_frame_average.h"
#include "denoise/nonlocal_means.h"
#include "denoise/similarity_average.h"
#include "effects/blend.h"
#include "effects/channel_shift.h"
#include "effects/displace.h"
#include "effects/key_mask.h"
#include "effects/mosaic.h"
#include "effects/row_wave.h"
#include "launch/grid_block.h"
#include "measure/difference_energy.h"
#include "module/status.h"

#include <cuda_runtime.h>

namespace tvf2 {
namespace {

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

int MaskApplied(MaskApply op, const MaskApplyArgs& args) {
    return HostStatus(LaunchMaskApply(op, args));
}

int Separable(ConvLayout layout, const SeparableArgs& args) {
    return HostStatus(LaunchSeparable(layout, args));
}

int PackedEnergy(EnergyLayout layout, const void* a, int aPitch, const void* b, int bPitch, int w, int h, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) {
    return HostStatus(MeasureEnergy(layout, {{a, b, nullptr, nullptr}, {aPitch, bPitch, 0, 0}, w, h, false, {m00, m01, m02, m10, m11, m12, m20, m21, m22}, t, partialSums, hostBuffer, bufferBytes, result}));
}

int SemiPlanarEnergy(EnergyLayout layout, const void* p1, int p1Pitch, const void* p2, int p2Pitch, const void* p3, int p3Pitch, const void* p4, int p4Pitch, int w, int h, bool halved, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) {
    return HostStatus(MeasureEnergy(layout, {{p1, p2, p3, p4}, {p1Pitch, p2Pitch, p3Pitch, p4Pitch}, w, h, halved, {m00, m01, m02, m10, m11, m12, m20, m21, m22}, t, partialSums, hostBuffer, bufferBytes, result}));
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
    int ShiftMiddleChannels_C32(int w, int h, void* frame, int pitch, int shift1, int shift2) override {
        return HostStatus(LaunchChannelShift({w, h, frame, pitch, shift1, shift2}));
    }
    size_t GetScratchSize(int w, int h) override {
        return ScratchSize(w, h);
    }
    int SecondDifferenceEnergy_C32(const void* a, int aPitch, const void* b, int bPitch, int w, int h, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return PackedEnergy(EnergyLayout::C32, a, aPitch, b, bPitch, w, h, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SecondDifferenceEnergy_C64(const void* a, int aPitch, const void* b, int bPitch, int w, int h, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return PackedEnergy(EnergyLayout::C64, a, aPitch, b, bPitch, w, h, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SecondDifferenceEnergy_YUY2(const void* a, int aPitch, const void* b, int bPitch, int w, int h, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return PackedEnergy(EnergyLayout::YUY2, a, aPitch, b, bPitch, w, h, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SecondDifferenceEnergy_YUY2W(const void* a, int aPitch, const void* b, int bPitch, int w, int h, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return PackedEnergy(EnergyLayout::YUY2W, a, aPitch, b, bPitch, w, h, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SecondDifferenceEnergy_SemiPlanar8(const void* p1, int p1Pitch, const void* p2, int p2Pitch, const void* p3, int p3Pitch, const void* p4, int p4Pitch, int w, int h, bool halved, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return SemiPlanarEnergy(EnergyLayout::SemiPlanar8, p1, p1Pitch, p2, p2Pitch, p3, p3Pitch, p4, p4Pitch, w, h, halved, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SecondDifferenceEnergy_SemiPlanar16(const void* p1, int p1Pitch, const void* p2, int p2Pitch, const void* p3, int p3Pitch, const void* p4, int p4Pitch, int w, int h, bool halved, int m00, int m01, int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums, int64_t* hostBuffer, int bufferBytes, int64_t* result) override {
        return SemiPlanarEnergy(EnergyLayout::SemiPlanar16, p1, p1Pitch, p2, p2Pitch, p3, p3Pitch, p4, p4Pitch, w, h, halved, m00, m01, m02, m10, m11, m12, m20, m21, m22, t, partialSums, hostBuffer, bufferBytes, result);
    }
    int SharpenLaplacian_C32(int w, int h, int amount, void* dst, int dstPitch, const void* src, int srcPitch) override {
        return HostStatus(LaunchSharpen(SharpenKind::LaplacianC32, {w, h, amount, dst, dstPitch, src, srcPitch}));
    }
    int SharpenLaplacian_C32A(int w, int h, int amount, void* dst, int dstPitch, const void* src, int srcPitch) override {
        return HostStatus(LaunchSharpen(SharpenKind::LaplacianC32A, {w, h, amount, dst, dstPitch, src, srcPitch}));
    }
    int AddEdgeMagnitude_C32(int w, int h, int amount, void* dst, int dstPitch, const void* src, int srcPitch) override {
        return HostStatus(LaunchSharpen(SharpenKind::EdgeC32, {w, h, amount, dst, dstPitch, src, srcPitch}));
    }
    int AddEdgeMagnitude_C32A(int w, int h, int amount, void* dst, int dstPitch, const void* src, int srcPitch) override {
        return HostStatus(LaunchSharpen(SharpenKind::EdgeC32A, {w, h, amount, dst, dstPitch, src, srcPitch}));
    }
    int DisplaceByEdgeGradient_C32(void* dst, int dstPitch, void* map, int mapPitch, void* tmp, int tmpPitch, const void* src, int srcPitch, const void* edgeSrc, int edgeSrcPitch, int w, int h, int edgeLimit, int iterations, int strength, float cubicA) override {
        return HostStatus(LaunchDisplace(DisplaceLayout::C32, {dst, dstPitch, map, mapPitch, tmp, tmpPitch, src, srcPitch, edgeSrc, edgeSrcPitch, w, h, edgeLimit, iterations, strength, cubicA}));
    }
    int DisplaceByEdgeGradient_C32A(void* dst, int dstPitch, void* map, int mapPitch, void* tmp, int tmpPitch, const void* src, int srcPitch, const void* edgeSrc, int edgeSrcPitch, int w, int h, int edgeLimit, int iterations, int strength, float cubicA) override {
        return HostStatus(LaunchDisplace(DisplaceLayout::C32A, {dst, dstPitch, map, mapPitch, tmp, tmpPitch, src, srcPitch, edgeSrc, edgeSrcPitch, w, h, edgeLimit, iterations, strength, cubicA}));
    }
    int RowWaveOffset_C32(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch, int64_t frameIndex, double frameRate, bool wholeFrame, bool evenRowsFirst, bool e1, int s1, double l1, double c1, double a1, bool e2, int s2, double l2, double c2, double a2, bool e3, int s3, double l3, double c3, double a3) override {
        return HostStatus(LaunchRowWave({w, h, dst, dstPitch, src, srcPitch, frameIndex, frameRate, wholeFrame, evenRowsFirst, {{e1, s1, l1, c1, a1}, {e2, s2, l2, c2, a2}, {e3, s3, l3, c3, a3}}}));
    }
    int SeparableUnsharpMask_C32(void* dst, int dstPitch, const void* src, int srcPitch, void* mid, int midPitch, int w, int h, int radius, int amount, const float* hWeights, int hCount, const float* vWeights, int vCount) override {
        return HostStatus(LaunchUnsharp(false, {dst, dstPitch, src, srcPitch, mid, midPitch, w, h, radius, amount, hWeights, hCount, vWeights, vCount}));
    }
    int SeparableUnsharpMask_C32A(void* dst, int dstPitch, const void* src, int srcPitch, void* mid, int midPitch, int w, int h, int radius, int amount, const float* hWeights, int hCount, const float* vWeights, int vCount) override {
        return HostStatus(LaunchUnsharp(true, {dst, dstPitch, src, srcPitch, mid, midPitch, w, h, radius, amount, hWeights, hCount, vWeights, vCount}));
    }
    int BlendToColour_C32(int w, int h, void* frame, int pitch, int colour, float alpha) override {
        return HostStatus(LaunchBlendToColour({w, h, frame, pitch, static_cast<uint32_t>(colour), alpha}));
    }
    int KeyMaskProduct_YUV32(int w, int h, float reserved, float e, float keyY, float keyU, float keyV, float linScale, float lumaWeight, float powScale, const void* src, int srcPitch, void* mask, int maskPitch) override {
        return HostStatus(LaunchKeyMask(KeyMaskRule::Product, {w, h, reserved, e, keyY, keyU, keyV, linScale, lumaWeight, powScale, src, srcPitch, mask, maskPitch}));
    }
    int KeyMaskGated_YUV32(int w, int h, float reserved, float e, float keyY, float keyU, float keyV, float linScale, float lumaWeight, float powScale, const void* src, int srcPitch, void* mask, int maskPitch) override {
        return HostStatus(LaunchKeyMask(KeyMaskRule::Gated, {w, h, reserved, e, keyY, keyU, keyV, linScale, lumaWeight, powScale, src, srcPitch, mask, maskPitch}));
    }
    int SuppressKeyChroma_YUV32(int w, int h, float radius, float keyU, float keyV, float strengthU, float strengthV, bool all, void* frame, int pitch) override {
        return HostStatus(LaunchSuppressKeyChroma({w, h, radius, keyU, keyV, strengthU, strengthV, all, frame, pitch}));
    }
    int MultiplyAlphaByMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::AlphaByMask, {w, h, frame, framePitch, mask, maskPitch});
    }
    int MultiplyAlphaByInverseMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::AlphaByInverseMask, {w, h, frame, framePitch, mask, maskPitch});
    }
    int ShowMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::ShowMask, {w, h, frame, framePitch, mask, maskPitch});
    }
    int ShowInverseMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::ShowInverseMask, {w, h, frame, framePitch, mask, maskPitch});
    }
    int FadeChromaByMask_YUV32(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::FadeChroma, {w, h, frame, framePitch, mask, maskPitch});
    }
    int FadeChromaByInverseMask_YUV32(int w, int h, void* frame, int framePitch, const void* mask, int maskPitch) override {
        return MaskApplied(MaskApply::FadeChromaInverse, {w, h, frame, framePitch, mask, maskPitch});
    }
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
    int MultiFrameSimilarityAverage_C32(void* dst, const void* src, const void* const* frames, int count, int width, int height, int dstPitch, int srcPitch, const int* pitches, int T, bool fields, const void* /*aux*/, void* scratch) override {
        return HostStatus(LaunchMultiFrameAverage(MultiFrameLayout::C32, {dst, src, frames, count, width, height, dstPitch, srcPitch, pitches, T, fields, scratch}));
    }
    int MultiFrameSimilarityAverage_C32A(void* dst, const void* src, const void* const* frames, int count, int width, int height, int dstPitch, int srcPitch, const int* pitches, int T, bool fields, const void* /*aux*/, void* scratch) override {
        return HostStatus(LaunchMultiFrameAverage(MultiFrameLayout::C32A, {dst, src, frames, count, width, height, dstPitch, srcPitch, pitches, T, fields, scratch}));
    }
    int MultiFrameSimilarityAverage_YUV32(void* dst, const void* src, const void* const* frames, int count, int width, int height, int dstPitch, int srcPitch, const int* pitches, int T, bool fields, const void* /*aux*/, void* scratch) override {
        return HostStatus(LaunchMultiFrameAverage(MultiFrameLayout::YUV32, {dst, src, frames, count, width, height, dstPitch, srcPitch, pitches, T, fields, scratch}));
    }
    int MultiFrameSimilarityAverage_YUV32A(void* dst, const void* src, const void* const* frames, int count, int width, int height, int dstPitch, int srcPitch, const int* pitches, int T, bool fields, const void* /*aux*/, void* scratch) override {
        return HostStatus(LaunchMultiFrameAverage(MultiFrameLayout::YUV32A, {dst, src, frames, count, width, height, dstPitch, srcPitch, pitches, T, fields, scratch}));
    }
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
    int AddDetail_C32(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch, const void* detail, int detailPitch, float amount, int threshold, int limit) override {
        return HostStatus(LaunchDetail(false, false, {w, h, dst, dstPitch, src, srcPitch, detail, detailPitch, amount, threshold, limit}));
    }
    int AddDetailWeighted_C32(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch, const void* detail, int detailPitch, float amount, int threshold, int limit) override {
        return HostStatus(LaunchDetail(false, true, {w, h, dst, dstPitch, src, srcPitch, detail, detailPitch, amount, threshold, limit}));
    }
    int AddDetail_C64(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch, const void* detail, int detailPitch, float amount, int threshold, int limit) override {
        return HostStatus(LaunchDetail(true, false, {w, h, dst, dstPitch, src, srcPitch, detail, detailPitch, amount, threshold, limit}));
    }
    int AddDetailWeighted_C64(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch, const void* detail, int detailPitch, float amount, int threshold, int limit) override {
        return HostStatus(LaunchDetail(true, true, {w, h, dst, dstPitch, src, srcPitch, detail, detailPitch, amount, threshold, limit}));
    }
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
