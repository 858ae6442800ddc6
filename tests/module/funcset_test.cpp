// The function-set object through its interface: entry point, memory slots, the
// scratch-size query, the slots not built yet, and the host's status numbering.
#include "../common/module.h"
#include "module/status.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tvf2test;

namespace {

TEST(Module, GetFuncSetHandsOutOneObject) {
    ICUDAKernelFuncSet_TarvoVideoFilter2 *a = nullptr, *b = nullptr;
    EXPECT_EQ(GetFuncSet(&a), 0);
    EXPECT_EQ(GetFuncSet(&b), 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(GetFuncSet(nullptr), static_cast<int32_t>(0x80004003u));
}

TEST(Module, ScratchSizeCoversOneEntryPerBlock) {
    auto* fs = FuncSet();
    EXPECT_EQ(fs->GetScratchSize(1920, 1080), 8192u);  // 120 x 8 blocks
    EXPECT_EQ(fs->GetScratchSize(100, 100), 2048u);    // 6 x 6 blocks
    EXPECT_EQ(fs->GetScratchSize(0, 0), 2048u);
    EXPECT_EQ(fs->GetScratchSize(-5, 7), 2048u);
    EXPECT_EQ(fs->GetScratchSize(16 * 16, 16 * 16), 2048u);  // 256 blocks
    EXPECT_EQ(fs->GetScratchSize(16 * 257, 16), 4096u);      // 257 blocks
    EXPECT_EQ(fs->GetScratchSize(16 * 20, 16 * 20), 4096u);  // 400 blocks
    EXPECT_EQ(fs->GetScratchSize(16 * 513, 16), 8192u);      // 513 blocks
}

TEST(Module, MemorySlotsWrapTheRuntime) {
    auto* fs = FuncSet();
    void *a = nullptr, *b = nullptr;
    ASSERT_EQ(fs->DeviceMalloc(&a, 4096), kOk);
    ASSERT_EQ(fs->DeviceMalloc(&b, 4096), kOk);
    std::vector<uint8_t> host(4096), back(4096, 0);
    for (size_t i = 0; i < host.size(); ++i) host[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(cudaMemcpy(a, host.data(), 4096, cudaMemcpyHostToDevice), cudaSuccess);

    // Slot 2: rows 0..3 of 100 bytes at pitch 256 into pitch 512.
    ASSERT_EQ(fs->DeviceCopy2D(b, 512, a, 256, 100, 4), kOk);
    ASSERT_EQ(cudaMemcpy(back.data(), b, 4096, cudaMemcpyDeviceToHost), cudaSuccess);
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 100; ++i) ASSERT_EQ(back[r * 512 + i], host[r * 256 + i]);

    // Slot 37: a plain copy, and a negative count passed on (sign-extended) to the
    // runtime, which refuses it.
    ASSERT_EQ(fs->DeviceCopy(b, a, 4096), kOk);
    ASSERT_EQ(cudaMemcpy(back.data(), b, 4096, cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(back, host);
    EXPECT_EQ(fs->DeviceCopy(b, a, -1), kInvalidValue);
    EXPECT_EQ(fs->GetLastStatus(), kInvalidValue) << "slot 3 reports the refused copy";
    EXPECT_EQ(fs->GetLastStatus(), kOk) << "and clears it";

    EXPECT_EQ(fs->DeviceFree(a), kOk);
    EXPECT_EQ(fs->DeviceFree(b), kOk);
    EXPECT_EQ(fs->DeviceFree(nullptr), kOk);
    fs->GetLastStatus();
}

#if defined(TVF2_TEST_CPU)
// The CPU runtime checks every device range, so these are exact; a GPU runtime's
// answers to bad pointers vary with the driver.
TEST(Module, CopySlotsRefuseRangesOutsideDeviceMemory) {
    auto* fs = FuncSet();
    void* a = nullptr;
    ASSERT_EQ(fs->DeviceMalloc(&a, 256), kOk);
    std::vector<uint8_t> host(256);
    EXPECT_EQ(fs->DeviceCopy2D(a, 256, host.data(), 256, 256, 1), kInvalidValue)
        << "slot 2 copies device to device only";
    EXPECT_EQ(fs->DeviceCopy2D(a, 128, a, 128, 128, 3), kInvalidValue) << "3 rows of 128 overrun 256 bytes";
    EXPECT_EQ(fs->DeviceCopy2D(a, 64, a, 128, 100, 1), 12) << "width above the pitch";
    EXPECT_EQ(fs->DeviceCopy(a, static_cast<uint8_t*>(a) + 1, 256), kInvalidValue);
    EXPECT_EQ(fs->DeviceFree(host.data()), kInvalidValue);
    EXPECT_EQ(fs->DeviceFree(a), kOk);
    EXPECT_EQ(fs->DeviceFree(a), kInvalidValue) << "double free";
    fs->GetLastStatus();
    EXPECT_EQ(cpurtLiveAllocations(), 0u);
}
#endif

// The module's status table against the published mapping, row by row.
TEST(Module, StatusesUseTheHostsNumbering) {
    std::ifstream csv(TVF2_STATUS_CSV);
    ASSERT_TRUE(csv) << TVF2_STATUS_CSV;
    std::string line;
    std::getline(csv, line);  // header
    int rows = 0;
    while (std::getline(csv, line)) {
        std::stringstream ss(line);
        std::string name, now, old, relation;
        std::getline(ss, name, ',');
        std::getline(ss, now, ',');
        std::getline(ss, old, ',');
        std::getline(ss, relation, ',');
        const int expected = old.empty() ? 30 : std::stoi(old);
        EXPECT_EQ(tvf2::HostStatus(static_cast<cudaError_t>(std::stoi(now))), expected) << name;
        ++rows;
    }
    EXPECT_GT(rows, 100);
    EXPECT_EQ(tvf2::HostStatus(static_cast<cudaError_t>(12345)), 30) << "a code the table lacks";
}

}  // namespace
