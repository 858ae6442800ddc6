// Device memory, CUDA arrays and texture objects of the CPU runtime.
//
// Every allocation is tracked, so copies and memsets can be checked against live
// allocations: a range outside all of them is refused with invalid value, as a real
// device would refuse a bad pointer, instead of corrupting host memory.
#include "internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>

struct cudaArray {
    cudaChannelFormatDesc desc;
    std::size_t width = 0, height = 0, elemBytes = 0;
    unsigned char* data = nullptr;
};

namespace cpurt {
namespace {

constexpr std::size_t kAlignment = 256;
// Fresh allocations hold this pattern so that a kernel reading memory nobody wrote
// gives visibly wrong output instead of plausible zeros.
constexpr int kFreshPattern = 0xCD;

struct TextureObject {
    cudaArray* array;
    cudaTextureAddressMode address[2];
    bool normalized;
};

struct Registry {
    std::mutex mu;
    std::map<std::uintptr_t, std::size_t> allocations;  // base -> size
    std::set<cudaArray*> arrays;
    std::set<TextureObject*> textures;
};

Registry& registry() {
    static Registry* r = new Registry;  // outlives every static destructor
    return *r;
}

bool in_allocation_locked(Registry& r, const void* p, std::size_t bytes) {
    auto a = reinterpret_cast<std::uintptr_t>(p);
    auto it = r.allocations.upper_bound(a);
    if (it == r.allocations.begin()) return false;
    --it;
    std::uintptr_t off = a - it->first;
    return off <= it->second && bytes <= it->second - off;
}

// Span of a 2-D region: (rows - 1) * pitch + width, or false on overflow.
bool span2d(std::size_t pitch, std::size_t width, std::size_t rows, std::size_t* out) {
    std::size_t body;
    if (__builtin_mul_overflow(rows - 1, pitch, &body)) return false;
    return !__builtin_add_overflow(body, width, out);
}

// Resolves cudaMemcpyDefault and checks that each device side lies in an allocation.
cudaError_t check_copy(void* dst, const void* src, std::size_t dstSpan, std::size_t srcSpan,
                       cudaMemcpyKind kind) {
    if (static_cast<unsigned>(kind) > cudaMemcpyDefault) return cudaErrorInvalidMemcpyDirection;
    if (!dst || !src) return cudaErrorInvalidValue;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    bool dstDevice = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
    bool srcDevice = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
    if (kind == cudaMemcpyDefault) {
        dstDevice = in_allocation_locked(r, dst, 1);
        srcDevice = in_allocation_locked(r, src, 1);
    }
    if (dstDevice && !in_allocation_locked(r, dst, dstSpan)) return cudaErrorInvalidValue;
    if (srcDevice && !in_allocation_locked(r, src, srcSpan)) return cudaErrorInvalidValue;
    return cudaSuccess;
}

}  // namespace

bool is_device_range(const void* p, std::size_t bytes) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return in_allocation_locked(r, p, bytes);
}

}  // namespace cpurt

using cpurt::record;
using cpurt::registry;

extern "C" {

cudaError_t cudaMalloc(void** devPtr, size_t size) {
    if (!devPtr) return record(cudaErrorInvalidValue);
    if (size == 0) {
        *devPtr = nullptr;
        return cudaSuccess;
    }
    void* p = nullptr;
    cudaError_t injected;
    if (cpurt::injected_failure(cpurtFailAllocation, &injected)) return record(injected);
    if (size > (std::size_t(1) << 46) ||
        !(p = ::operator new(size, std::align_val_t(cpurt::kAlignment), std::nothrow)))
        return record(cudaErrorMemoryAllocation);
    std::memset(p, cpurt::kFreshPattern, size);
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        r.allocations[reinterpret_cast<std::uintptr_t>(p)] = size;
    }
    *devPtr = p;
    return cudaSuccess;
}

cudaError_t cudaFree(void* devPtr) {
    if (!devPtr) return cudaSuccess;
    auto& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mu);
        auto it = r.allocations.find(reinterpret_cast<std::uintptr_t>(devPtr));
        if (it == r.allocations.end()) return record(cudaErrorInvalidValue);
        r.allocations.erase(it);
    }
    ::operator delete(devPtr, std::align_val_t(cpurt::kAlignment));
    return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind) {
    if (count == 0) return static_cast<unsigned>(kind) > cudaMemcpyDefault
                               ? record(cudaErrorInvalidMemcpyDirection)
                               : cudaSuccess;
    cudaError_t e = cpurt::check_copy(dst, src, count, count, kind);
    if (e != cudaSuccess) return record(e);
    std::memmove(dst, src, count);
    return cudaSuccess;
}

cudaError_t cudaMemcpy2D(void* dst, size_t dpitch, const void* src, size_t spitch, size_t width,
                         size_t height, enum cudaMemcpyKind kind) {
    if (static_cast<unsigned>(kind) > cudaMemcpyDefault)
        return record(cudaErrorInvalidMemcpyDirection);
    if (width == 0 || height == 0) return cudaSuccess;
    if (width > dpitch || width > spitch) return record(cudaErrorInvalidPitchValue);
    std::size_t dspan, sspan;
    if (!cpurt::span2d(dpitch, width, height, &dspan) ||
        !cpurt::span2d(spitch, width, height, &sspan))
        return record(cudaErrorInvalidValue);
    cudaError_t e = cpurt::check_copy(dst, src, dspan, sspan, kind);
    if (e != cudaSuccess) return record(e);
    for (std::size_t y = 0; y < height; ++y)
        std::memmove(static_cast<unsigned char*>(dst) + y * dpitch,
                     static_cast<const unsigned char*>(src) + y * spitch, width);
    return cudaSuccess;
}

cudaError_t cudaMemset(void* devPtr, int value, size_t count) {
    if (count == 0) return cudaSuccess;
    if (!cpurt::is_device_range(devPtr, count)) return record(cudaErrorInvalidValue);
    std::memset(devPtr, value, count);
    return cudaSuccess;
}

struct cudaChannelFormatDesc cudaCreateChannelDesc(int x, int y, int z, int w,
                                                   enum cudaChannelFormatKind f) {
    return cudaChannelFormatDesc{x, y, z, w, f};
}

cudaError_t cudaMallocArray(cudaArray_t* array, const struct cudaChannelFormatDesc* desc,
                            size_t width, size_t height, unsigned int flags) {
    (void)flags;
    if (!array || !desc || width == 0) return record(cudaErrorInvalidValue);
    int bits[4] = {desc->x, desc->y, desc->z, desc->w};
    int total = 0;
    for (int b : bits) {
        if (b != 0 && b != 8 && b != 16 && b != 32) return record(cudaErrorInvalidChannelDescriptor);
        total += b;
    }
    if (total == 0 || desc->f > cudaChannelFormatKindFloat)
        return record(cudaErrorInvalidChannelDescriptor);
    cudaError_t injected;
    if (cpurt::injected_failure(cpurtFailAllocation, &injected)) return record(injected);
    if (height == 0) height = 1;
    std::size_t bytes;
    if (width > (std::size_t(1) << 20) || height > (std::size_t(1) << 20) ||
        __builtin_mul_overflow(width * height, std::size_t(total / 8), &bytes))
        return record(cudaErrorInvalidValue);
    auto* a = new (std::nothrow) cudaArray;
    unsigned char* data = a ? static_cast<unsigned char*>(std::malloc(bytes)) : nullptr;
    if (!data) {
        delete a;
        return record(cudaErrorMemoryAllocation);
    }
    std::memset(data, cpurt::kFreshPattern, bytes);
    a->desc = *desc;
    a->width = width;
    a->height = height;
    a->elemBytes = std::size_t(total / 8);
    a->data = data;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        r.arrays.insert(a);
    }
    *array = a;
    return cudaSuccess;
}

cudaError_t cudaFreeArray(cudaArray_t array) {
    if (!array) return cudaSuccess;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        if (!r.arrays.erase(array)) return record(cudaErrorInvalidResourceHandle);
    }
    std::free(array->data);
    delete array;
    return cudaSuccess;
}

cudaError_t cudaMemcpy2DToArray(cudaArray_t dst, size_t wOffset, size_t hOffset, const void* src,
                                size_t spitch, size_t width, size_t height,
                                enum cudaMemcpyKind kind) {
    if (static_cast<unsigned>(kind) > cudaMemcpyDefault)
        return record(cudaErrorInvalidMemcpyDirection);
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        if (!dst || !r.arrays.count(dst)) return record(cudaErrorInvalidResourceHandle);
    }
    if (width == 0 || height == 0) return cudaSuccess;
    if (width > spitch) return record(cudaErrorInvalidPitchValue);
    const std::size_t rowBytes = dst->width * dst->elemBytes;
    if (!src || wOffset > rowBytes || width > rowBytes - wOffset || hOffset > dst->height ||
        height > dst->height - hOffset)
        return record(cudaErrorInvalidValue);
    std::size_t sspan;
    if (!cpurt::span2d(spitch, width, height, &sspan)) return record(cudaErrorInvalidValue);
    bool srcDevice = kind == cudaMemcpyDeviceToDevice || kind == cudaMemcpyDeviceToHost ||
                     (kind == cudaMemcpyDefault && cpurt::is_device_range(src, 1));
    if (srcDevice && !cpurt::is_device_range(src, sspan)) return record(cudaErrorInvalidValue);
    for (std::size_t y = 0; y < height; ++y)
        std::memcpy(dst->data + (hOffset + y) * rowBytes + wOffset,
                    static_cast<const unsigned char*>(src) + y * spitch, width);
    return cudaSuccess;
}

cudaError_t cudaCreateTextureObject(cudaTextureObject_t* pTexObject,
                                    const struct cudaResourceDesc* pResDesc,
                                    const struct cudaTextureDesc* pTexDesc,
                                    const struct cudaResourceViewDesc* pResViewDesc) {
    (void)pResViewDesc;
    if (!pTexObject || !pResDesc || !pTexDesc) return record(cudaErrorInvalidValue);
    if (pResDesc->resType != cudaResourceTypeArray) return record(cudaErrorNotSupported);
    // Integer texels are only ever read as they are and point sampled: that is what
    // the module needs, and linear filtering of integer texels is invalid anyway.
    if (pTexDesc->readMode != cudaReadModeElementType ||
        pTexDesc->filterMode != cudaFilterModePoint)
        return record(cudaErrorNotSupported);
    cudaArray* a = pResDesc->res.array.array;
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    if (!a || !r.arrays.count(a)) return record(cudaErrorInvalidResourceHandle);
    cudaError_t injected;
    if (cpurt::injected_failure(cpurtFailTextureCreation, &injected)) return record(injected);
    auto* t = new cpurt::TextureObject{a, {pTexDesc->addressMode[0], pTexDesc->addressMode[1]},
                                       pTexDesc->normalizedCoords != 0};
    r.textures.insert(t);
    *pTexObject = reinterpret_cast<cudaTextureObject_t>(t);
    return cudaSuccess;
}

cudaError_t cudaDestroyTextureObject(cudaTextureObject_t texObject) {
    auto* t = reinterpret_cast<cpurt::TextureObject*>(texObject);
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mu);
        if (!r.textures.erase(t)) return record(cudaErrorInvalidValue);
    }
    delete t;
    return cudaSuccess;
}

// Point sampling: the texel whose cell contains the coordinate. Border addressing
// reads zeros outside; every other mode clamps to the edge (with unnormalised
// coordinates the hardware clamps for wrap and mirror too).
uchar4 cpurtTex2DUchar4(cudaTextureObject_t tex, float x, float y) {
    const auto* t = reinterpret_cast<const cpurt::TextureObject*>(tex);
    const cudaArray* a = t->array;
    if (t->normalized) {
        x *= static_cast<float>(a->width);
        y *= static_cast<float>(a->height);
    }
    const float coord[2] = {x, y};
    const long long extent[2] = {static_cast<long long>(a->width),
                                 static_cast<long long>(a->height)};
    long long at[2];
    for (int i = 0; i < 2; ++i) {
        float f = std::floor(coord[i]);
        long long v = f != f ? 0 : f < -1e12f ? -1 : f > 1e12f ? extent[i] : (long long)f;
        if (v < 0 || v >= extent[i]) {
            if (t->address[i] == cudaAddressModeBorder) return uchar4{0, 0, 0, 0};
            v = std::min(std::max(v, 0LL), extent[i] - 1);
        }
        at[i] = v;
    }
    uchar4 out{0, 0, 0, 0};
    if (a->elemBytes == 4)
        std::memcpy(&out, a->data + (at[1] * extent[0] + at[0]) * 4, 4);
    return out;
}

size_t cpurtLiveAllocations(void) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.allocations.size() + r.arrays.size();
}

size_t cpurtLiveTextures(void) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.textures.size();
}

}  // extern "C"
