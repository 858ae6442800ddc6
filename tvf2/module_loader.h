// Loading the module the way the plug-in host does: dlopen the file, resolve the one
// export GetFuncSet, and take the interface pointer it hands out. tvf2 never links
// against a module or a runtime; everything it learns about a module comes from here.
#ifndef TVF2_TOOL_MODULE_LOADER_H
#define TVF2_TOOL_MODULE_LOADER_H

#include "module/TarvoVideoFilter2.h"

#include <string>

namespace tvf2 {

// File names of the two modules, as the build places them beside tvf2.
constexpr const char* kCpuModuleName = "TarvoVideoFilter2_cpu.so";
constexpr const char* kCudaModuleName = "TarvoVideoFilter2_cuda60.so";

struct LoadedModule {
    std::string path;
    void* handle = nullptr;
    ICUDAKernelFuncSet_TarvoVideoFilter2* funcs = nullptr;
    // The module runs on our CPU runtime (it resolves the runtime's own symbol
    // cpurtLiveAllocations through its dependencies): its device memory is host memory.
    // Any other module is taken to be a CUDA module.
    bool cpuRuntime = false;
};

// Throws Failure with one line naming the file: missing, not loadable (the loader's
// reason), no GetFuncSet export, or GetFuncSet failing. A loaded module is never
// unloaded: the CPU runtime's worker threads run its code until the process ends, and
// a statically linked CUDA runtime registers exit handlers inside the module.
LoadedModule LoadModule(const std::string& path);

bool FileExists(const std::string& path);

// Directory of the running executable (from /proc/self/exe), without a trailing slash;
// "." if it cannot be found.
std::string ExecutableDir();

}  // namespace tvf2

#endif
