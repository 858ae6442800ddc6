// CPU stand-in for the part of the CUDA runtime API that the module and its hosts use.
//
// Same names, types and C linkage as the vendor's runtime, so host code written for
// CUDA compiles and links against this library unchanged. Status values are those of
// the current runtime. Everything runs on the host: "device" memory is host memory
// that the library tracks, kernels run on a pool of worker threads (see cpurt.h).
#ifndef TVF2_CPURT_CUDA_RUNTIME_H
#define TVF2_CPURT_CUDA_RUNTIME_H

#include <stddef.h>

#if defined(__GNUC__)
#define CPURT_API __attribute__((visibility("default")))
#else
#define CPURT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum cudaError {
#define CPURT_ERROR(name, value) name = value,
#include "cpurt_error_list.h"
#undef CPURT_ERROR
};
typedef enum cudaError cudaError_t;

enum cudaMemcpyKind {
    cudaMemcpyHostToHost = 0,
    cudaMemcpyHostToDevice = 1,
    cudaMemcpyDeviceToHost = 2,
    cudaMemcpyDeviceToDevice = 3,
    cudaMemcpyDefault = 4
};

enum cudaChannelFormatKind {
    cudaChannelFormatKindSigned = 0,
    cudaChannelFormatKindUnsigned = 1,
    cudaChannelFormatKindFloat = 2,
    cudaChannelFormatKindNone = 3
};

struct cudaChannelFormatDesc {
    int x, y, z, w;
    enum cudaChannelFormatKind f;
};

struct cudaArray;
typedef struct cudaArray* cudaArray_t;
typedef const struct cudaArray* cudaArray_const_t;
struct cudaMipmappedArray;
typedef struct cudaMipmappedArray* cudaMipmappedArray_t;

enum cudaResourceType {
    cudaResourceTypeArray = 0,
    cudaResourceTypeMipmappedArray = 1,
    cudaResourceTypeLinear = 2,
    cudaResourceTypePitch2D = 3
};

struct cudaResourceDesc {
    enum cudaResourceType resType;
    union {
        struct {
            cudaArray_t array;
        } array;
        struct {
            cudaMipmappedArray_t mipmap;
        } mipmap;
        struct {
            void* devPtr;
            struct cudaChannelFormatDesc desc;
            size_t sizeInBytes;
        } linear;
        struct {
            void* devPtr;
            struct cudaChannelFormatDesc desc;
            size_t width;
            size_t height;
            size_t pitchInBytes;
        } pitch2D;
    } res;
    unsigned int flags;
};

enum cudaTextureAddressMode {
    cudaAddressModeWrap = 0,
    cudaAddressModeClamp = 1,
    cudaAddressModeMirror = 2,
    cudaAddressModeBorder = 3
};
enum cudaTextureFilterMode { cudaFilterModePoint = 0, cudaFilterModeLinear = 1 };
enum cudaTextureReadMode { cudaReadModeElementType = 0, cudaReadModeNormalizedFloat = 1 };

struct cudaTextureDesc {
    enum cudaTextureAddressMode addressMode[3];
    enum cudaTextureFilterMode filterMode;
    enum cudaTextureReadMode readMode;
    int sRGB;
    float borderColor[4];
    int normalizedCoords;
    unsigned int maxAnisotropy;
    enum cudaTextureFilterMode mipmapFilterMode;
    float mipmapLevelBias;
    float minMipmapLevelClamp;
    float maxMipmapLevelClamp;
    int disableTrilinearOptimization;
    int seamlessCubemap;
};
struct cudaResourceViewDesc;
typedef unsigned long long cudaTextureObject_t;

typedef struct CUstream_st* cudaStream_t;

struct uint3 {
    unsigned int x, y, z;
};
typedef struct uint3 uint3;

struct __attribute__((aligned(4))) uchar4 {
    unsigned char x, y, z, w;
};
typedef struct uchar4 uchar4;

struct __attribute__((aligned(16))) float4 {
    float x, y, z, w;
};
typedef struct float4 float4;

struct __attribute__((aligned(16))) int4 {
    int x, y, z, w;
};
typedef struct int4 int4;

#ifdef __cplusplus
struct dim3 {
    unsigned int x, y, z;
    constexpr dim3(unsigned int vx = 1, unsigned int vy = 1, unsigned int vz = 1)
        : x(vx), y(vy), z(vz) {}
    constexpr dim3(uint3 v) : x(v.x), y(v.y), z(v.z) {}
    constexpr operator uint3() const { return uint3{x, y, z}; }
};
#else
typedef struct dim3 {
    unsigned int x, y, z;
} dim3;
#endif

CPURT_API cudaError_t cudaMalloc(void** devPtr, size_t size);
CPURT_API cudaError_t cudaFree(void* devPtr);
CPURT_API cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind);
CPURT_API cudaError_t cudaMemcpy2D(void* dst, size_t dpitch, const void* src, size_t spitch,
                                   size_t width, size_t height, enum cudaMemcpyKind kind);
CPURT_API cudaError_t cudaMemset(void* devPtr, int value, size_t count);

CPURT_API cudaError_t cudaGetLastError(void);
CPURT_API cudaError_t cudaPeekAtLastError(void);
CPURT_API const char* cudaGetErrorString(cudaError_t error);
CPURT_API const char* cudaGetErrorName(cudaError_t error);

CPURT_API cudaError_t cudaDeviceSynchronize(void);
CPURT_API cudaError_t cudaGetDeviceCount(int* count);

CPURT_API struct cudaChannelFormatDesc cudaCreateChannelDesc(int x, int y, int z, int w,
                                                             enum cudaChannelFormatKind f);
CPURT_API cudaError_t cudaMallocArray(cudaArray_t* array, const struct cudaChannelFormatDesc* desc,
                                      size_t width, size_t height, unsigned int flags);
CPURT_API cudaError_t cudaFreeArray(cudaArray_t array);
CPURT_API cudaError_t cudaMemcpy2DToArray(cudaArray_t dst, size_t wOffset, size_t hOffset,
                                          const void* src, size_t spitch, size_t width,
                                          size_t height, enum cudaMemcpyKind kind);
CPURT_API cudaError_t cudaCreateTextureObject(cudaTextureObject_t* pTexObject,
                                              const struct cudaResourceDesc* pResDesc,
                                              const struct cudaTextureDesc* pTexDesc,
                                              const struct cudaResourceViewDesc* pResViewDesc);
CPURT_API cudaError_t cudaDestroyTextureObject(cudaTextureObject_t texObject);

CPURT_API cudaError_t cudaLaunchKernel(const void* func, dim3 gridDim, dim3 blockDim, void** args,
                                       size_t sharedMem, cudaStream_t stream);

#ifdef __cplusplus
}  // extern "C"

// The runtime's C++ conveniences that host code commonly uses.
inline uchar4 make_uchar4(unsigned char x, unsigned char y, unsigned char z, unsigned char w) {
    return uchar4{x, y, z, w};
}
template <class T>
cudaChannelFormatDesc cudaCreateChannelDesc();
template <>
inline cudaChannelFormatDesc cudaCreateChannelDesc<uchar4>() {
    return cudaCreateChannelDesc(8, 8, 8, 8, cudaChannelFormatKindUnsigned);
}
inline cudaError_t cudaMallocArray(cudaArray_t* array, const cudaChannelFormatDesc* desc,
                                   size_t width) {
    return cudaMallocArray(array, desc, width, 0, 0);
}
#endif

#endif
