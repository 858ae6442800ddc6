// Public interface of the TarvoVideoFilter2 acceleration module.
//
// A host loads the module at run time, resolves the single export GetFuncSet and
// calls the 60 operations through the interface pointer it receives. The header is
// self-contained on purpose: a host needs neither the CUDA headers nor our build.
//
// Conventions shared by every filter slot:
//  - frames live in device memory: base pointer, row pitch in bytes (signed 32-bit),
//    width and height in pixels; pixel (x, y) is at base + y * pitch + x * bytesPerPixel;
//  - every filter slot returns a CUDA status in the CUDA 6.0 numbering the host was
//    built against (0 = success, 11 = invalid value, 31 = not yet implemented);
//  - work is queued on the default stream; the host synchronises before reading results.
//
// The slot order and each argument list are the binary contract with the host: never
// reorder, insert or change the type of a slot. Parameter names follow the operation
// they belong to; unnamed parameters belong to operations whose family is not built yet.
#ifndef TARVO_VIDEO_FILTER2_H
#define TARVO_VIDEO_FILTER2_H

#include <stddef.h>
#include <stdint.h>

struct cudaArray;
struct cudaChannelFormatDesc;

#if defined(_WIN32)
#define TVF2_EXPORT extern "C" __declspec(dllexport)
#else
#define TVF2_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Result of GetFuncSet for a null output pointer (the Windows invalid-pointer code).
#define TVF2_E_POINTER ((int32_t)0x80004003u)

class ICUDAKernelFuncSet_TarvoVideoFilter2 {
public:
    // 0..3: memory and status
    virtual int DeviceMalloc(void** out, size_t bytes) = 0;
    virtual int DeviceFree(void* p) = 0;
    virtual int DeviceCopy2D(void* dst, size_t dstPitch, const void* src, size_t srcPitch,
                             size_t widthBytes, size_t rows) = 0;
    virtual int GetLastStatus() = 0;
    // 4
    virtual int ShiftMiddleChannels_C32(int w, int h, void* frame, int pitch, int shift1,
                                        int shift2) = 0;
    // 5: bytes of a scratch buffer holding one 8-byte entry per launch block
    virtual size_t GetScratchSize(int w, int h) = 0;
    // 6..11: thresholded second-difference energy
    virtual int SecondDifferenceEnergy_C32(const void* a, int aPitch, const void* b, int bPitch,
                                           int w, int h, int m00, int m01, int m02, int m10,
                                           int m11, int m12, int m20, int m21, int m22, int t,
                                           void* partialSums, int64_t* hostBuffer,
                                           int bufferBytes, int64_t* result) = 0;
    virtual int SecondDifferenceEnergy_C64(const void* a, int aPitch, const void* b, int bPitch,
                                           int w, int h, int m00, int m01, int m02, int m10,
                                           int m11, int m12, int m20, int m21, int m22, int t,
                                           void* partialSums, int64_t* hostBuffer,
                                           int bufferBytes, int64_t* result) = 0;
    virtual int SecondDifferenceEnergy_YUY2(const void* a, int aPitch, const void* b, int bPitch,
                                            int w, int h, int m00, int m01, int m02, int m10,
                                            int m11, int m12, int m20, int m21, int m22, int t,
                                            void* partialSums, int64_t* hostBuffer,
                                            int bufferBytes, int64_t* result) = 0;
    virtual int SecondDifferenceEnergy_YUY2W(const void* a, int aPitch, const void* b, int bPitch,
                                             int w, int h, int m00, int m01, int m02, int m10,
                                             int m11, int m12, int m20, int m21, int m22, int t,
                                             void* partialSums, int64_t* hostBuffer,
                                             int bufferBytes, int64_t* result) = 0;
    virtual int SecondDifferenceEnergy_SemiPlanar8(
        const void* p1, int p1Pitch, const void* p2, int p2Pitch, const void* p3, int p3Pitch,
        const void* p4, int p4Pitch, int w, int h, bool halvedChromaRows, int m00, int m01,
        int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums,
        int64_t* hostBuffer, int bufferBytes, int64_t* result) = 0;
    virtual int SecondDifferenceEnergy_SemiPlanar16(
        const void* p1, int p1Pitch, const void* p2, int p2Pitch, const void* p3, int p3Pitch,
        const void* p4, int p4Pitch, int w, int h, bool halvedChromaRows, int m00, int m01,
        int m02, int m10, int m11, int m12, int m20, int m21, int m22, int t, void* partialSums,
        int64_t* hostBuffer, int bufferBytes, int64_t* result) = 0;
    // 12..15: neighbourhood sharpening and edge boost
    virtual int SharpenLaplacian_C32(int w, int h, int amount, void* dst, int dstPitch,
                                     const void* src, int srcPitch) = 0;
    virtual int SharpenLaplacian_C32A(int w, int h, int amount, void* dst, int dstPitch,
                                      const void* src, int srcPitch) = 0;
    virtual int AddEdgeMagnitude_C32(int w, int h, int amount, void* dst, int dstPitch,
                                     const void* src, int srcPitch) = 0;
    virtual int AddEdgeMagnitude_C32A(int w, int h, int amount, void* dst, int dstPitch,
                                      const void* src, int srcPitch) = 0;
    // 16..17: edge-gradient displacement
    virtual int DisplaceByEdgeGradient_C32(void* dst, int dstPitch, void* map, int mapPitch,
                                           void* tmp, int tmpPitch, const void* src, int srcPitch,
                                           const void* edgeSrc, int edgeSrcPitch, int w, int h,
                                           int edgeLimit, int iterations, int strength,
                                           float cubicA) = 0;
    virtual int DisplaceByEdgeGradient_C32A(void* dst, int dstPitch, void* map, int mapPitch,
                                            void* tmp, int tmpPitch, const void* src, int srcPitch,
                                            const void* edgeSrc, int edgeSrcPitch, int w, int h,
                                            int edgeLimit, int iterations, int strength,
                                            float cubicA) = 0;
    // 18: per-row wave offset
    virtual int RowWaveOffset_C32(int w, int h, void* dst, int dstPitch, const void* src,
                                  int srcPitch, int64_t frameIndex, double frameRate,
                                  bool wholeFrame, bool evenRowsFirst, bool wave1Enable,
                                  int wave1Shape, double wave1Length, double wave1Speed,
                                  double wave1Amplitude, bool wave2Enable, int wave2Shape,
                                  double wave2Length, double wave2Speed, double wave2Amplitude,
                                  bool wave3Enable, int wave3Shape, double wave3Length,
                                  double wave3Speed, double wave3Amplitude) = 0;
    // 19..20: separable unsharp mask
    virtual int SeparableUnsharpMask_C32(void* dst, int dstPitch, const void* src, int srcPitch,
                                         void* mid, int midPitch, int w, int h, int radius,
                                         int amount, const float* hWeights, int hCount,
                                         const float* vWeights, int vCount) = 0;
    virtual int SeparableUnsharpMask_C32A(void* dst, int dstPitch, const void* src, int srcPitch,
                                          void* mid, int midPitch, int w, int h, int radius,
                                          int amount, const float* hWeights, int hCount,
                                          const float* vWeights, int vCount) = 0;
    // 21: blend toward a constant colour
    virtual int BlendToColour_C32(int w, int h, void* frame, int pitch, int colour,
                                  float alpha) = 0;
    // 22..30: colour-distance key masks
    virtual int KeyMaskProduct_YUV32(int w, int h, float reserved, float e, float keyY, float keyU,
                                     float keyV, float linScale, float lumaWeight, float powScale,
                                     const void* src, int srcPitch, void* mask,
                                     int maskPitch) = 0;
    virtual int KeyMaskGated_YUV32(int w, int h, float reserved, float e, float keyY, float keyU,
                                   float keyV, float linScale, float lumaWeight, float powScale,
                                   const void* src, int srcPitch, void* mask, int maskPitch) = 0;
    virtual int SuppressKeyChroma_YUV32(int w, int h, float radius, float keyU, float keyV,
                                        float strengthU, float strengthV, bool all, void* frame,
                                        int pitch) = 0;
    virtual int MultiplyAlphaByMask_YUV32A(int w, int h, void* frame, int framePitch,
                                           const void* mask, int maskPitch) = 0;
    virtual int MultiplyAlphaByInverseMask_YUV32A(int w, int h, void* frame, int framePitch,
                                                  const void* mask, int maskPitch) = 0;
    virtual int ShowMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask,
                                int maskPitch) = 0;
    virtual int ShowInverseMask_YUV32A(int w, int h, void* frame, int framePitch, const void* mask,
                                       int maskPitch) = 0;
    virtual int FadeChromaByMask_YUV32(int w, int h, void* frame, int framePitch, const void* mask,
                                       int maskPitch) = 0;
    virtual int FadeChromaByInverseMask_YUV32(int w, int h, void* frame, int framePitch,
                                              const void* mask, int maskPitch) = 0;
    // 31..36: separable table-weighted convolution
    virtual int SeparableConvolve_C32(void* dst, const void* src, int width, int height,
                                      int dstPitch, int srcPitch, const float* hWeights,
                                      int hCount, const float* vWeights, int vCount, void* work,
                                      int hRadius, int vRadius) = 0;
    virtual int SeparableConvolve_C64(void* dst, const void* src, int width, int height,
                                      int dstPitch, int srcPitch, const float* hWeights,
                                      int hCount, const float* vWeights, int vCount, void* work,
                                      int hRadius, int vRadius) = 0;
    virtual int SeparableConvolveAlpha_C32A(void* dst, const void* src, int width, int height,
                                            int dstPitch, int srcPitch, const float* hWeights,
                                            int hCount, const float* vWeights, int vCount,
                                            void* work, int hRadius, int vRadius) = 0;
    virtual int SeparableConvolveAlpha_C64A(void* dst, const void* src, int width, int height,
                                            int dstPitch, int srcPitch, const float* hWeights,
                                            int hCount, const float* vWeights, int vCount,
                                            void* work, int hRadius, int vRadius) = 0;
    virtual int SeparableConvolve_P8(void* dst, const void* src, int width, int height,
                                     int dstPitch, int srcPitch, const float* hWeights,
                                     int hCount, const float* vWeights, int vCount, void* work,
                                     int hRadius, int vRadius) = 0;
    virtual int SeparableConvolve_P16(void* dst, const void* src, int width, int height,
                                      int dstPitch, int srcPitch, const float* hWeights,
                                      int hCount, const float* vWeights, int vCount, void* work,
                                      int hRadius, int vRadius) = 0;
    // 37: device-to-device copy; a negative count is passed on sign-extended
    virtual int DeviceCopy(void* dst, const void* src, int bytes) = 0;
    // 38..45: similarity-weighted window averages (linear memory and texture sources)
    virtual int SimilarityWeightedAverage_C32(void* dst, const void* src, const void* aux,
                                              int width, int height, int dstPitch, int srcPitch,
                                              int T, int radius, bool fields) = 0;
    virtual int SimilarityWeightedAverageTex_C32(void* dst, cudaArray* array, int width,
                                                 int height, int dstPitch,
                                                 const cudaChannelFormatDesc* desc, int rowOffset,
                                                 int rowScale, int T, int radius,
                                                 bool sameParity) = 0;
    virtual int SimilarityWeightedAverage_C32A(void* dst, const void* src, const void* aux,
                                               int width, int height, int dstPitch, int srcPitch,
                                               int T, int radius, bool fields) = 0;
    virtual int SimilarityWeightedAverageTex_C32A(void* dst, cudaArray* array, int width,
                                                  int height, int dstPitch,
                                                  const cudaChannelFormatDesc* desc, int rowOffset,
                                                  int rowScale, int T, int radius,
                                                  bool sameParity) = 0;
    virtual int SimilarityWeightedAverage_YUV32(void* dst, const void* src, const void* aux,
                                                int width, int height, int dstPitch, int srcPitch,
                                                int T, int radius, bool fields) = 0;
    virtual int SimilarityWeightedAverageTex_YUV32(void* dst, cudaArray* array, int width,
                                                   int height, int dstPitch,
                                                   const cudaChannelFormatDesc* desc,
                                                   int rowOffset, int rowScale, int T, int radius,
                                                   bool sameParity) = 0;
    virtual int SimilarityWeightedAverage_YUV32A(void* dst, const void* src, const void* aux,
                                                 int width, int height, int dstPitch,
                                                 int srcPitch, int T, int radius,
                                                 bool fields) = 0;
    virtual int SimilarityWeightedAverageTex_YUV32A(void* dst, cudaArray* array, int width,
                                                    int height, int dstPitch,
                                                    const cudaChannelFormatDesc* desc,
                                                    int rowOffset, int rowScale, int T, int radius,
                                                    bool sameParity) = 0;
    // 46..49: multi-frame similarity average (frames and pitches are host arrays)
    virtual int MultiFrameSimilarityAverage_C32(void* dst, const void* src,
                                                const void* const* frames, int count, int width,
                                                int height, int dstPitch, int srcPitch,
                                                const int* pitches, int T, bool fields,
                                                const void* aux, void* scratch) = 0;
    virtual int MultiFrameSimilarityAverage_C32A(void* dst, const void* src,
                                                 const void* const* frames, int count, int width,
                                                 int height, int dstPitch, int srcPitch,
                                                 const int* pitches, int T, bool fields,
                                                 const void* aux, void* scratch) = 0;
    virtual int MultiFrameSimilarityAverage_YUV32(void* dst, const void* src,
                                                  const void* const* frames, int count, int width,
                                                  int height, int dstPitch, int srcPitch,
                                                  const int* pitches, int T, bool fields,
                                                  const void* aux, void* scratch) = 0;
    virtual int MultiFrameSimilarityAverage_YUV32A(void* dst, const void* src,
                                                   const void* const* frames, int count,
                                                   int width, int height, int dstPitch,
                                                   int srcPitch, const int* pitches, int T,
                                                   bool fields, const void* aux,
                                                   void* scratch) = 0;
    // 50..52: mosaic
    virtual int Mosaic_C32(int height, int width, int cellH, int cellW, int offX, int offY,
                           const void* src, int srcPitch, void* dst, int dstPitch) = 0;
    virtual int Mosaic_C32A(int height, int width, int cellH, int cellW, int offX, int offY,
                            const void* src, int srcPitch, void* dst, int dstPitch) = 0;
    virtual int Mosaic_YUY2(int height, int width, int cellH, int cellW, int offX, int offY,
                            const void* src, int srcPitch, void* dst, int dstPitch) = 0;
    // 53..54: multi-frame non-local means (coefficients, frames and pitches are host arrays)
    virtual int NonLocalMeans_C32(int w, int h, int S, int P, int T, const float* coefficients,
                                  void* dst, int dstPitch, const void* const* frames,
                                  const int* pitches, void* params, int budget) = 0;
    virtual int NonLocalMeans_C32A(int w, int h, int S, int P, int T, const float* coefficients,
                                   void* dst, int dstPitch, const void* const* frames,
                                   const int* pitches, void* params, int budget) = 0;
    // 55..58: thresholded detail addition
    virtual int AddDetail_C32(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch,
                              const void* detail, int detailPitch, float amount, int threshold,
                              int limit) = 0;
    virtual int AddDetailWeighted_C32(int w, int h, void* dst, int dstPitch, const void* src,
                                      int srcPitch, const void* detail, int detailPitch,
                                      float amount, int threshold, int limit) = 0;
    virtual int AddDetail_C64(int w, int h, void* dst, int dstPitch, const void* src, int srcPitch,
                              const void* detail, int detailPitch, float amount, int threshold,
                              int limit) = 0;
    virtual int AddDetailWeighted_C64(int w, int h, void* dst, int dstPitch, const void* src,
                                      int srcPitch, const void* detail, int detailPitch,
                                      float amount, int threshold, int limit) = 0;
    // 59: the (deleting) destructor. The module's object is static: never delete it.
    virtual ~ICUDAKernelFuncSet_TarvoVideoFilter2() {}
};

// Stores the module's one function-set object into *out and returns 0; returns
// TVF2_E_POINTER and writes nothing when out is null. Every call hands out the same
// object; there is nothing to release.
TVF2_EXPORT int32_t GetFuncSet(ICUDAKernelFuncSet_TarvoVideoFilter2** out);

typedef int32_t (*PFN_GetFuncSet)(ICUDAKernelFuncSet_TarvoVideoFilter2** out);

#endif
