// The one seam between the two backends. Kernels are written once, in CUDA C++, against
// this header: under nvcc it maps onto CUDA itself; under the host compiler it maps onto
// the CPU runtime (platform/cpurt). Kernel bodies use only:
//   __global__ __device__ __host__ __forceinline__, threadIdx blockIdx blockDim gridDim,
//   __syncthreads(), KL_SHARED_ARRAY / KL_DYNAMIC_SHARED, tex2D<uchar4>,
//   kl::min / kl::max, kl::f2i_rz, kl::f2u_rz, kl::fdividef, kl::wrap_add / kl::wrap_mul, and
//   fmaf / sqrtf / expf / powf / cosf;
// and launchers start kernels only through kl::launch.
#ifndef TVF2_KERNEL_LANG_H
#define TVF2_KERNEL_LANG_H

#include <cuda_runtime.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#if defined(__CUDACC__)

#define KL_BACKEND_CUDA 1
// Static shared array of n elements, one per block.
#define KL_SHARED_ARRAY(T, name, n) __shared__ T name[n]
// The launch's dynamic shared memory viewed as an array of T.
#define KL_DYNAMIC_SHARED(T, name)                                   \
    extern __shared__ __align__(16) unsigned char kl_dynamic_smem_[]; \
    T* const name = reinterpret_cast<T*>(kl_dynamic_smem_)

#else  // host compiler: the CPU runtime

#include "cpurt.h"

#define KL_BACKEND_CPU 1
#define __global__
#define __device__
#define __host__
#define __forceinline__ inline __attribute__((always_inline))
#define __launch_bounds__(...)
#define threadIdx (::cpurtCurrentThread()->threadIdx)
#define blockIdx (::cpurtCurrentThread()->block->blockIdx)
#define blockDim (::cpurtCurrentThread()->block->blockDim)
#define gridDim (::cpurtCurrentThread()->block->gridDim)
#define __syncthreads() ::cpurtBarrier(__FILE__, __LINE__)
// The declaration's own static byte names it, so every execution of the declaration,
// by any thread, in a loop or not, finds the block's one array.
#define KL_SHARED_ARRAY(T, name, n)                                                     \
    static char kl_shared_site_##name;                                                 \
    T* const name = static_cast<T*>(                                                   \
        ::cpurtStaticShared(&kl_shared_site_##name, sizeof(T) * (n), alignof(T)))
#define KL_DYNAMIC_SHARED(T, name) T* const name = static_cast<T*>(::cpurtDynamicShared())

template <class T>
T tex2D(cudaTextureObject_t tex, float x, float y);
template <>
inline uchar4 tex2D<uchar4>(cudaTextureObject_t tex, float x, float y) {
    return cpurtTex2DUchar4(tex, x, y);
}

#endif

namespace kl {

template <class T>
__host__ __device__ __forceinline__ constexpr T min(T a, T b) {
    return b < a ? b : a;
}
template <class T>
__host__ __device__ __forceinline__ constexpr T max(T a, T b) {
    return a < b ? b : a;
}

// Float to int, toward zero, as the device converts: NaN gives 0 and out-of-range
// values saturate (a plain cast is undefined for those on the host).
__host__ __device__ __forceinline__ int f2i_rz(float v) {
#if defined(__CUDA_ARCH__)
    return __float2int_rz(v);
#else
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(v);
#endif
}

// Float to unsigned int, toward zero, as the device converts: NaN and negative values
// give 0, values of 2^32 or more saturate to 0xFFFFFFFF.
__host__ __device__ __forceinline__ unsigned f2u_rz(float v) {
#if defined(__CUDA_ARCH__)
    return __float2uint_rz(v);
#else
    if (!(v > 0.0f)) return 0u;
    if (v >= 4294967296.0f) return 0xFFFFFFFFu;
    return static_cast<unsigned>(v);
#endif
}

// 32-bit two's-complement sum and product, wrapping as the device's do. Plain int
// overflow is undefined on the host; kernels whose 32-bit sums may leave the exact range
// use these so that both backends wrap alike.
__host__ __device__ __forceinline__ int wrap_add(int a, int b) {
    return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}
__host__ __device__ __forceinline__ int wrap_mul(int a, int b) {
    return static_cast<int>(static_cast<unsigned>(a) * static_cast<unsigned>(b));
}

// a / b by the device's fast approximate division; exact on the host. The one place
// where the backends may differ (by an ulp or so of the quotient).
__host__ __device__ __forceinline__ float fdividef(float a, float b) {
#if defined(__CUDA_ARCH__)
    return __fdividef(a, b);
#else
    return a / b;
#endif
}

namespace detail {

#if defined(KL_BACKEND_CPU)
template <auto Kernel>
const char* kernel_name() {
    // "... [with auto Kernel = Name]" (GCC) or "... [Kernel = Name]" (Clang): keep Name.
    static const std::string name = [](std::string s) {
        std::size_t at = s.find("Kernel = ");
        if (at == std::string::npos) return s;
        s = s.substr(at + 9);
        std::size_t end = s.find_first_of(";]");
        s = s.substr(0, end);
        if (!s.empty() && s[0] == '&') s.erase(0, 1);
        return s;
    }(__PRETTY_FUNCTION__);
    return name.c_str();
}

template <auto Kernel, class... P, std::size_t... I>
void call_with_args(void** args, std::index_sequence<I...>) {
    Kernel(*static_cast<std::remove_cv_t<P>*>(args[I])...);
}

template <auto Kernel, class... P>
void trampoline(void** args) {
    call_with_args<Kernel, P...>(args, std::index_sequence_for<P...>{});
}
#endif

template <auto Kernel, class... P, class... A>
cudaError_t launch(void (*)(P...), dim3 grid, dim3 block, std::size_t sharedBytes, A&&... a) {
    static_assert(sizeof...(P) == sizeof...(A), "kernel argument count");
#if defined(KL_BACKEND_CPU)
    static const bool registered =
        (cpurtRegisterFunction(reinterpret_cast<const void*>(Kernel), &trampoline<Kernel, P...>,
                               kernel_name<Kernel>()),
         true);
    (void)registered;
#endif
    std::tuple<std::remove_cv_t<P>...> values(static_cast<std::remove_cv_t<P>>(a)...);
    return std::apply(
        [&](auto&... v) {
            void* args[] = {static_cast<void*>(&v)..., nullptr};
            return cudaLaunchKernel(reinterpret_cast<const void*>(Kernel), grid, block, args,
                                    sharedBytes, 0);
        },
        values);
}

}  // namespace detail

// Launches Kernel on the default stream with the given shape and dynamic shared bytes;
// the arguments are converted to the kernel's parameter types. Returns the launch
// call's status (which the runtime also records as the last error).
template <auto Kernel, class... A>
cudaError_t launch(dim3 grid, dim3 block, std::size_t sharedBytes, A&&... args) {
    return detail::launch<Kernel>(Kernel, grid, block, sharedBytes, std::forward<A>(args)...);
}

}  // namespace kl

#endif
