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

protected:
    explicit Backend(LoadedModule module) : module_(std::move(module)) {}
    LoadedModule module_;
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
