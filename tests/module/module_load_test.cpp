// The built module loaded the way a host loads it.
#include "module/TarvoVideoFilter2.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(ModuleLoad, ExportsGetFuncSetAndWorksThroughTheInterface) {
    void* lib = dlopen(TVF2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto get = reinterpret_cast<PFN_GetFuncSet>(dlsym(lib, "GetFuncSet"));
    ASSERT_NE(get, nullptr);
    // Nothing of the module's insides is visible.
    EXPECT_EQ(dlsym(lib, "_ZN4tvf210HostStatusE9cudaError"), nullptr);
    EXPECT_EQ(dlsym(lib, "CalcGridBlock"), nullptr);

    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = nullptr;
    ASSERT_EQ(get(&fs), 0);
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->GetScratchSize(1920, 1080), 8192u);
    void* frame = nullptr;
    ASSERT_EQ(fs->DeviceMalloc(&frame, 64 * 4 * 32), 0);
    EXPECT_EQ(fs->Mosaic_C32(32, 64, 8, 8, 0, 0, frame, 256, frame, 256), 0);
    EXPECT_EQ(fs->Mosaic_C32A(32, 64, 16, 16, 0, 0, frame, 256, frame, 256), 0);
    EXPECT_EQ(fs->Mosaic_YUY2(32, 64, 4, 3, 0, 0, frame, 128, frame, 128), 11);
    EXPECT_EQ(fs->BlendToColour_C32(8, 8, frame, 32, 0, 0.5f), 0);
    EXPECT_EQ(fs->GetLastStatus(), 0);
    EXPECT_EQ(fs->DeviceFree(frame), 0);
    EXPECT_EQ(dlclose(lib), 0);
}

TEST(ModuleLoad, ExportsNothingElse) {
    std::string cmd = std::string("nm -D --defined-only '") + TVF2_MODULE_PATH + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[512];
    std::string exported;
    int count = 0;
    while (fgets(line, sizeof line, p)) {
        exported += line;
        ++count;
    }
    int rc = pclose(p);
    if (rc != 0) GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(count, 1) << exported;
    EXPECT_NE(exported.find(" T GetFuncSet"), std::string::npos) << exported;
}

}  // namespace
