#include "backend.h"

#include "errors.h"
#include "status_names.h"

#include <dlfcn.h>

#include <climits>
#include <cstring>

namespace tvf2 {
namespace {

class CpuBackend final : public Backend {
public:
    // The CPU runtime's calls resolve through the module's handle: dlsym searches the
    // module's dependencies too.
    explicit CpuBackend(LoadedModule m) : Backend(m, m.handle) {}
    const char* Name() const override { return "cpu"; }
    void Upload(void* dev, size_t devPitch, const void* host, size_t hostPitch, size_t widthBytes,
                size_t rows) override {
        Copy(dev, devPitch, host, hostPitch, widthBytes, rows);
    }
    void Download(void* host, size_t hostPitch, const void* dev, size_t devPitch, size_t widthBytes,
                  size_t rows) override {
        Copy(host, hostPitch, dev, devPitch, widthBytes, rows);
    }

private:
    static void Copy(void* dst, size_t dstPitch, const void* src, size_t srcPitch,
                     size_t widthBytes, size_t rows) {
        for (size_t y = 0; y < rows; ++y)
            std::memcpy(static_cast<unsigned char*>(dst) + y * dstPitch,
                        static_cast<const unsigned char*>(src) + y * srcPitch, widthBytes);
    }
};

// The few CUDA runtime entry points tvf2 needs, resolved from the shared runtime.
struct CudaRuntime {
    // cudaMemcpyKind values of the runtime API; stable across all versions.
    static constexpr int kHostToDevice = 1;
    static constexpr int kDeviceToHost = 2;
    typedef int (*Memcpy2D)(void*, size_t, const void*, size_t, size_t, size_t, int);
    typedef const char* (*ErrorString)(int);
    void* handle = nullptr;
    Memcpy2D memcpy2D = nullptr;
    ErrorString errorString = nullptr;

    // Empty on success, else why no runtime could be used.
    std::string Load() {
        static const char* const kNames[] = {"libcudart.so", "libcudart.so.13", "libcudart.so.12"};
        std::string why;
        for (const char* name : kNames) {
            void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (!h) {
                const char* e = dlerror();
                if (why.empty() && e) why = e;
                continue;
            }
            memcpy2D = reinterpret_cast<Memcpy2D>(dlsym(h, "cudaMemcpy2D"));
            errorString = reinterpret_cast<ErrorString>(dlsym(h, "cudaGetErrorString"));
            if (memcpy2D) {
                handle = h;
                return std::string();
            }
            why = std::string(name) + " has no cudaMemcpy2D";
        }
        return "the CUDA runtime library could not be loaded (tried libcudart.so, "
               "libcudart.so.13, libcudart.so.12: " +
               why + ")";
    }
};

class CudaBackend final : public Backend {
public:
    CudaBackend(LoadedModule m, CudaRuntime rt) : Backend(std::move(m), rt.handle), rt_(rt) {}
    const char* Name() const override { return "cuda"; }
    void Upload(void* dev, size_t devPitch, const void* host, size_t hostPitch, size_t widthBytes,
                size_t rows) override {
        Run(rt_.memcpy2D(dev, devPitch, host, hostPitch, widthBytes, rows,
                         CudaRuntime::kHostToDevice),
            "host to device");
    }
    void Download(void* host, size_t hostPitch, const void* dev, size_t devPitch, size_t widthBytes,
                  size_t rows) override {
        Run(rt_.memcpy2D(host, hostPitch, dev, devPitch, widthBytes, rows,
                         CudaRuntime::kDeviceToHost),
            "device to host");
    }

private:
    // The status comes from the shared runtime, in its own (current) numbering.
    void Run(int status, const char* direction) const {
        if (status == 0) return;
        std::string what = "cudaMemcpy2D (" + std::string(direction) +
                           ") failed with CUDA status " + std::to_string(status);
        if (rt_.errorString) what += std::string(" (") + rt_.errorString(status) + ")";
        throw Failure(what);
    }
    CudaRuntime rt_;
};

std::unique_ptr<Backend> MakeCpu(LoadedModule m) {
    if (!m.cpuRuntime)
        throw Failure(m.path + " is not a CPU module (it does not run on the CPU runtime)");
    return std::unique_ptr<Backend>(new CpuBackend(std::move(m)));
}

// Loads the CUDA module and proves that a GPU is usable through it.
std::unique_ptr<Backend> MakeCuda(LoadedModule m) {
    const std::string path = m.path;
    if (m.cpuRuntime) throw Failure(path + " is a CPU module, not a CUDA module");
    // The GPU first: without one, a missing runtime library is beside the point.
    void* probe = nullptr;
    const int status = m.funcs->DeviceMalloc(&probe, 256);
    if (status != 0)
        throw Failure("no usable GPU for the CUDA module " + path + ": " +
                      ModuleStatusMessage(status, "DeviceMalloc"));
    m.funcs->DeviceFree(probe);
    CudaRuntime rt;
    const std::string why = rt.Load();
    if (!why.empty()) throw Failure("cannot use the CUDA module " + path + ": " + why);
    return std::unique_ptr<Backend>(new CudaBackend(std::move(m), rt));
}

// A module expected beside tvf2; a missing one gets a hint on how to name another.
LoadedModule LoadBeside(const std::string& path) {
    if (!FileExists(path))
        throw Failure("module not found: " + path +
                      " (name one with --module PATH or TVF2_MODULE)");
    return LoadModule(path);
}

}  // namespace

BackendChoice ParseBackendChoice(const std::string& text) {
    if (text == "auto") return BackendChoice::Auto;
    if (text == "cuda") return BackendChoice::Cuda;
    if (text == "cpu") return BackendChoice::Cpu;
    throw UsageError("--backend: '" + text + "' is not one of auto, cuda, cpu");
}

void Backend::Check(int status, const char* slot) {
    if (status != 0) throw Failure(ModuleStatusMessage(status, slot));
}

// The runtime's array calls, with its enums and handles passed as ints and pointers.
struct Backend::ArrayCalls {
    typedef cudaChannelFormatDesc (*CreateChannelDesc)(int, int, int, int, int);
    typedef int (*MallocArray)(cudaArray**, const cudaChannelFormatDesc*, size_t, size_t,
                               unsigned);
    typedef int (*Memcpy2DToArray)(cudaArray*, size_t, size_t, const void*, size_t, size_t,
                                   size_t, int);
    typedef int (*FreeArray)(cudaArray*);
    typedef const char* (*ErrorString)(int);
    static constexpr int kDeviceToDevice = 3;  // cudaMemcpyKind
    CreateChannelDesc createChannelDesc;
    MallocArray mallocArray;
    Memcpy2DToArray memcpy2DToArray;
    FreeArray freeArray;
    ErrorString errorString;  // may be missing

    void Check(int status, const char* call) const {
        if (status == 0) return;
        std::string what =
            std::string(call) + " failed with CUDA status " + std::to_string(status);
        if (errorString) what += std::string(" (") + errorString(status) + ")";
        throw Failure(what);
    }
};

const Backend::ArrayCalls& Backend::Arrays() {
    if (arrays_) return *arrays_;
    auto find = [this](const char* name) {
        void* f = runtime_ ? dlsym(runtime_, name) : nullptr;
        if (!f)
            throw Failure("the CUDA runtime used with " + module_.path + " has no " + name +
                          ", which texture sources need");
        return f;
    };
    auto calls = std::make_shared<ArrayCalls>();
    calls->createChannelDesc =
        reinterpret_cast<ArrayCalls::CreateChannelDesc>(find("cudaCreateChannelDesc"));
    calls->mallocArray = reinterpret_cast<ArrayCalls::MallocArray>(find("cudaMallocArray"));
    calls->memcpy2DToArray =
        reinterpret_cast<ArrayCalls::Memcpy2DToArray>(find("cudaMemcpy2DToArray"));
    calls->freeArray = reinterpret_cast<ArrayCalls::FreeArray>(find("cudaFreeArray"));
    calls->errorString =
        reinterpret_cast<ArrayCalls::ErrorString>(dlsym(runtime_, "cudaGetErrorString"));
    arrays_ = calls;
    return *arrays_;
}

cudaChannelFormatDesc Backend::ChannelDesc(int x, int y, int z, int w, int kind) {
    return Arrays().createChannelDesc(x, y, z, w, kind);
}

cudaArray* Backend::MallocArray(const cudaChannelFormatDesc& desc, int width, int height) {
    cudaArray* array = nullptr;
    Arrays().Check(Arrays().mallocArray(&array, &desc, width, height, 0), "cudaMallocArray");
    return array;
}

void Backend::CopyToArray(cudaArray* array, const void* dev, size_t devPitch, size_t widthBytes,
                          size_t rows) {
    Arrays().Check(Arrays().memcpy2DToArray(array, 0, 0, dev, devPitch, widthBytes, rows,
                                            ArrayCalls::kDeviceToDevice),
                   "cudaMemcpy2DToArray");
}

void Backend::FreeArray(cudaArray* array) {
    Arrays().freeArray(array);
}

std::unique_ptr<Backend> OpenBackend(const BackendRequest& request,
                                     const std::function<void(const std::string&)>& note) {
    std::unique_ptr<Backend> b;
    if (!request.modulePath.empty()) {
        // A named module: its own kind decides, checked against an explicit --backend.
        LoadedModule m = LoadModule(request.modulePath);
        if (request.choice == BackendChoice::Cuda && m.cpuRuntime)
            throw UsageError("--backend cuda, but " + m.path + " is a CPU module");
        if (request.choice == BackendChoice::Cpu && !m.cpuRuntime)
            throw UsageError("--backend cpu, but " + m.path + " is not a CPU module");
        b = m.cpuRuntime ? MakeCpu(std::move(m)) : MakeCuda(std::move(m));
    } else {
        const std::string cudaPath = request.moduleDir + "/" + kCudaModuleName;
        const std::string cpuPath = request.moduleDir + "/" + kCpuModuleName;
        switch (request.choice) {
        case BackendChoice::Cuda: b = MakeCuda(LoadBeside(cudaPath)); break;
        case BackendChoice::Cpu: b = MakeCpu(LoadBeside(cpuPath)); break;
        case BackendChoice::Auto:
            if (!FileExists(cudaPath)) {
                note("no CUDA module at " + cudaPath + "; using the CPU module");
            } else {
                try {
                    b = MakeCuda(LoadModule(cudaPath));
                } catch (const Failure& e) {
                    note(std::string(e.what()) + "; using the CPU module");
                }
            }
            if (!b) b = MakeCpu(LoadBeside(cpuPath));
            break;
        }
    }
    note(std::string("backend ") + b->Name() + ", module " + b->ModulePath());
    return b;
}

DeviceArray::DeviceArray(Backend& backend, int width, int height)
    : backend_(backend),
      desc_(backend.ChannelDesc(8, 8, 8, 8, /*unsigned*/ 1)),
      array_(backend.MallocArray(desc_, width, height)) {}

DeviceArray::~DeviceArray() {
    backend_.FreeArray(array_);
}

DeviceImage::DeviceImage(Backend& backend, int width, int height, int bytesPerPixel)
    : backend_(backend), width_(width), height_(height), bytesPerPixel_(bytesPerPixel) {
    const long long row = static_cast<long long>(width) * bytesPerPixel;
    const long long pitch = (row + 255) / 256 * 256;
    // Every slot takes the pitch as a signed 32-bit value.
    if (width < 1 || height < 1 || pitch > INT_MAX)
        throw Failure("frame of " + std::to_string(width) + "x" + std::to_string(height) +
                      " pixels is too large for the module");
    pitch_ = static_cast<int>(pitch);
    Backend::Check(backend.Funcs().DeviceMalloc(&data_, static_cast<size_t>(pitch) * height),
                   "DeviceMalloc");
}

DeviceImage::~DeviceImage() {
    // Nothing useful can be done about a failing free at this point.
    if (data_) backend_.Funcs().DeviceFree(data_);
}

}  // namespace tvf2
