#include "module_loader.h"

#include "errors.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace tvf2 {

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ExecutableDir() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return ".";
    std::string path(buf.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

LoadedModule LoadModule(const std::string& path) {
    if (!FileExists(path)) throw Failure("module not found: " + path);
    // A name without a slash would make dlopen search the library path instead of
    // opening the file the user named.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        throw Failure("cannot load module " + path + ": " + (why ? why : "unknown reason"));
    }
    auto getFuncSet = reinterpret_cast<PFN_GetFuncSet>(dlsym(handle, "GetFuncSet"));
    if (!getFuncSet)
        throw Failure(path + " is not a TarvoVideoFilter2 module (it has no GetFuncSet export)");
    ICUDAKernelFuncSet_TarvoVideoFilter2* funcs = nullptr;
    const int32_t rc = getFuncSet(&funcs);
    if (rc != 0 || !funcs) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(rc));
        throw Failure("GetFuncSet of module " + path + " failed (returned " + code + ")");
    }
    LoadedModule m;
    m.path = path;
    m.handle = handle;
    m.funcs = funcs;
    m.cpuRuntime = dlsym(handle, "cpurtLiveAllocations") != nullptr;
    return m;
}

}  // namespace tvf2
