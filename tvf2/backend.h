// The loaded module together with the way host memory reaches its device memory.
//
// The module's interface allocates, frees and copies device memory (slots 0..2), but
// its copy is device-to-device only: a host needs its own way to move frames in and
// out. That is the one thing that differs between the two modules:
//  - CPU module: device memory is ordinary host memory that the CPU runtime tracks,
//    and its launches are synchronous, so upload and download are plain memcpy into
//    and out of buffers allocated through DeviceMalloc. (DeviceCopy2D cannot be used
//    for this: it refuses any range outside a device allocation.)
//  - CUDA module: cudaMemcpy2D of the CUDA runtime library, loaded with dlopen at run
//    time. The module's own runtime is linked into it statically and exports nothing;
//    both runtimes work in the device's primary context, so the module's pointers are
//    valid for ours, and cudaMemcpy2D on the default stream waits for the module's
//    queued work before it reads.
#ifndef TVF2_TOOL_BACKEND_H
#define TVF2_TOOL_BACKEND_H

#include "module_loader.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// The runtime's channel format descriptor, which cudaMallocArray and the texture slots
// take: bits of each of the four channels, then their kind (0 signed, 1 unsigned, 2
// float). The interface header only names the type and tvf2 includes no CUDA header, so
// it is spelled out here with the runtime's layout.
struct cudaChannelFormatDesc {
    int x, y, z, w;
    int f;
};

namespace tvf2 {

enum class BackendChoice { Auto, Cuda, Cpu };

// "auto", "cuda" or "cpu"; anything else is a UsageError.
BackendChoice ParseBackendChoice(const std::string& text);

class Backend {
public:
    virtual ~Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    virtual const char* Name() const = 0;  // "cpu" or "cuda"

    // Host -> device and device -> host copies of `rows` rows of `widthBytes` bytes.
    // Throw Failure.
    virtual void Upload(void* dev, size_t devPitch, const void* host, size_t hostPitch,
                        size_t widthBytes, size_t rows) = 0;
    virtual void Download(void* host, size_t hostPitch, const void* dev, size_t devPitch,
                          size_t widthBytes, size_t rows) = 0;

    ICUDAKernelFuncSet_TarvoVideoFilter2& Funcs() const { return *module_.funcs; }
    const std::string& ModulePath() const { return module_.path; }

    // Throws Failure("module returned status N (name) from SLOT") unless status is 0.
    static void Check(int status, const char* slot);

    // CUDA arrays, the source of the texture slots. The interface has no calls for them,
    // so they come from the runtime the module works with: the CPU runtime library that
    // the CPU module depends on (found through the module's own handle), or the shared
    // CUDA runtime beside a CUDA module. Statuses are the runtime's own. Throw Failure.
    cudaChannelFormatDesc ChannelDesc(int x, int y, int z, int w, int kind);
    cudaArray* MallocArray(const cudaChannelFormatDesc& desc, int width, int height);
    // `rows` rows of `widthBytes` bytes from device memory into the array's top left.
    void CopyToArray(cudaArray* array, const void* dev, size_t devPitch, size_t widthBytes,
                     size_t rows);
    void FreeArray(cudaArray* array);  // nothing useful can be done about a failure

protected:
    // `runtime`: the dlopen handle through which the array calls are resolved.
    Backend(LoadedModule module, void* runtime) : module_(std::move(module)), runtime_(runtime) {}
    LoadedModule module_;

private:
    struct ArrayCalls;
    const ArrayCalls& Arrays();
    void* runtime_;
    std::shared_ptr<const ArrayCalls> arrays_;
};

struct BackendRequest {
    BackendChoice choice = BackendChoice::Auto;
    // A module named by --module or TVF2_MODULE; empty: the modules beside tvf2.
    std::string modulePath;
    std::string moduleDir;  // where the modules beside tvf2 are
};

// Picks and opens the backend. With a named module, its kind decides (a --backend
// that contradicts it is a UsageError). Otherwise: cuda -> the CUDA module, cpu -> the
// CPU module, auto -> the CUDA module when it loads, the CUDA runtime library loads
// and a small DeviceMalloc succeeds, else the CPU module. `note` receives the -v
// messages (without the "tvf2: " prefix). Failures throw Failure with one line.
std::unique_ptr<Backend> OpenBackend(const BackendRequest& request,
                                     const std::function<void(const std::string&)>& note);

// A CUDA array of width x height texels of four unsigned 8-bit channels (one 4-byte
// pixel each), released at destruction.
class DeviceArray {
public:
    DeviceArray(Backend& backend, int width, int height);
    ~DeviceArray();
    DeviceArray(const DeviceArray&) = delete;
    DeviceArray& operator=(const DeviceArray&) = delete;

    cudaArray* Handle() const { return array_; }
    const cudaChannelFormatDesc* Desc() const { return &desc_; }

private:
    Backend& backend_;
    cudaChannelFormatDesc desc_;
    cudaArray* array_ = nullptr;
};

// One frame-sized buffer of device memory from DeviceMalloc, released by DeviceFree.
// Rows start every Pitch() bytes; the pitch is the row size rounded up to 256 bytes,
// the alignment GPUs read rows fastest at.
class DeviceImage {
public:
    DeviceImage(Backend& backend, int width, int height, int bytesPerPixel);
    ~DeviceImage();
    DeviceImage(const DeviceImage&) = delete;
    DeviceImage& operator=(const DeviceImage&) = delete;

    void* Data() const { return data_; }
    int Pitch() const { return pitch_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t RowBytes() const { return static_cast<size_t>(width_) * bytesPerPixel_; }

private:
    Backend& backend_;
    void* data_ = nullptr;
    int width_, height_, bytesPerPixel_, pitch_;
};

}  // namespace tvf2

#endif
