// The CPU runtime: execution model, barriers and shared memory, thread orders, launch
// and copy errors, textures, and last-error semantics.
#include "runtime_kernels.h"

#include "cpurt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

template <class T>
struct Device {
    T* p = nullptr;
    size_t n;
    explicit Device(size_t count) : n(count) { EXPECT_EQ(cudaMalloc(reinterpret_cast<void**>(&p), n * sizeof(T)), cudaSuccess); }
    ~Device() { cudaFree(p); }
    std::vector<T> get() const {
        std::vector<T> v(n);
        EXPECT_EQ(cudaMemcpy(v.data(), p, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
        return v;
    }
};

class Runtime : public ::testing::Test {
protected:
    void SetUp() override { cudaGetLastError(); }
    void TearDown() override {
        cpurtSetThreadOrder(cpurtThreadOrderForward, 0);
        EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "a test left an error pending";
    }
};

TEST_F(Runtime, EveryThreadOfEveryBlockRunsOnceWithItsIndices) {
    const dim3 grids[] = {dim3(1), dim3(3, 2, 2), dim3(7, 1, 3)};
    const dim3 blocks[] = {dim3(1), dim3(5, 3, 2), dim3(32, 32), dim3(1, 1, 64), dim3(1024)};
    for (dim3 g : grids)
        for (dim3 b : blocks) {
            const size_t nb = g.x * g.y * g.z, nt = b.x * b.y * b.z;
            Device<unsigned> out(nb * nt);
            ASSERT_EQ(cudaMemset(out.p, 0, nb * nt * sizeof(unsigned)), cudaSuccess);
            ASSERT_EQ(rtk::LaunchIdentify(g, b, out.p), cudaSuccess);
            auto v = out.get();
            for (size_t blk = 0; blk < nb; ++blk)
                for (size_t t = 0; t < nt; ++t)
                    ASSERT_EQ(v[blk * nt + t], blk * 4096u + t + 1u) << "block " << blk << " thread " << t;
        }
}

// With barriers every thread order gives the same result; without them the reverse
// order reads neighbours that have not written yet, which is how a missing barrier
// shows up in tests.
TEST_F(Runtime, BarriersMakeResultsIndependentOfThreadOrder) {
    const unsigned threads = 96, blocks = 5;
    std::vector<int> expected;
    for (unsigned b = 0; b < blocks; ++b)
        for (unsigned t = 0; t < threads; ++t) expected.push_back(int(((t + 3) % threads) * 3 + b + 3));
    const struct {
        cpurtThreadOrder order;
        unsigned seed;
    } orders[] = {{cpurtThreadOrderForward, 0}, {cpurtThreadOrderReverse, 0}, {cpurtThreadOrderShuffle, 5}};
    for (auto o : orders) {
        cpurtSetThreadOrder(o.order, o.seed);
        Device<int> out(blocks * threads);
        ASSERT_EQ(rtk::LaunchRotate(dim3(blocks), threads, 3, true, out.p), cudaSuccess);
        EXPECT_EQ(out.get(), expected) << "order " << o.order;
    }
    std::vector<int> racy[2];
    for (int i = 0; i < 2; ++i) {
        cpurtSetThreadOrder(i ? cpurtThreadOrderReverse : cpurtThreadOrderForward, 0);
        Device<int> out(blocks * threads);
        ASSERT_EQ(rtk::LaunchRotate(dim3(blocks), threads, 3, false, out.p), cudaSuccess);
        racy[i] = out.get();
    }
    EXPECT_NE(racy[0], racy[1]);
}

TEST_F(Runtime, ThreadOrderHookControlsTheOrder) {
    const unsigned threads = 64, blocks = 3;
    for (auto order : {cpurtThreadOrderForward, cpurtThreadOrderReverse, cpurtThreadOrderShuffle}) {
        cpurtSetThreadOrder(order, 9);
        EXPECT_EQ(cpurtGetThreadOrder(), order);
        Device<unsigned> out(blocks * threads);
        ASSERT_EQ(rtk::LaunchRecordOrder(blocks, threads, out.p), cudaSuccess);
        auto v = out.get();
        for (unsigned b = 0; b < blocks; ++b) {
            std::vector<unsigned> seq(v.begin() + b * threads, v.begin() + (b + 1) * threads);
            std::vector<unsigned> sorted = seq;
            std::sort(sorted.begin(), sorted.end());
            std::vector<unsigned> ids(threads);
            std::iota(ids.begin(), ids.end(), 0u);
            ASSERT_EQ(sorted, ids) << "every thread ran once";
            std::vector<unsigned> want = ids;
            if (order == cpurtThreadOrderReverse) std::reverse(want.begin(), want.end());
            if (order == cpurtThreadOrderShuffle) {
                EXPECT_NE(seq, ids);
            } else {
                EXPECT_EQ(seq, want);
            }
        }
    }
}

TEST_F(Runtime, SharedMemoryIsPerBlockWithManyBarriers) {
    for (unsigned threads : {1u, 7u, 256u, 1000u, 1024u}) {
        const unsigned blocks = 37;
        Device<long long> out(blocks);
        ASSERT_EQ(rtk::LaunchBlockSum(blocks, threads, out.p), cudaSuccess);
        auto v = out.get();
        for (unsigned b = 0; b < blocks; ++b)
            ASSERT_EQ(v[b], b * 1000ll * threads + (long long)threads * (threads - 1) / 2) << threads << " threads, block " << b;
    }
}

TEST_F(Runtime, StaticSharedArraysAreOnePerDeclarationAndBlock) {
    const unsigned blocks = 9;
    Device<int> out(blocks * 3);
    ASSERT_EQ(rtk::LaunchLoopShared(blocks, 48, out.p), cudaSuccess);
    auto v = out.get();
    for (unsigned b = 0; b < blocks; ++b)
        for (int i = 0; i < 3; ++i) ASSERT_EQ(v[b * 3 + i], i + 1) << "block " << b;
}

TEST_F(Runtime, BarrierNotReachedByEveryThreadIsALaunchFailure) {
    EXPECT_EQ(rtk::LaunchEarlyExit(32), cudaErrorLaunchFailure);
    std::string msg = cpurtLastLaunchFailure();
    EXPECT_NE(msg.find("EarlyExit"), std::string::npos) << msg;
    EXPECT_NE(msg.find("runtime_kernels.cu:"), std::string::npos) << msg;
    EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchFailure);

    EXPECT_EQ(rtk::LaunchSplitBarrier(8), cudaErrorLaunchFailure);
    msg = cpurtLastLaunchFailure();
    EXPECT_NE(msg.find("different barriers"), std::string::npos) << msg;
    EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchFailure);

    // The runtime stays usable afterwards.
    Device<long long> out(2);
    EXPECT_EQ(rtk::LaunchBlockSum(2, 64, out.p), cudaSuccess);
}

TEST_F(Runtime, LaunchConfigurationErrorsMatchTheDevice) {
    EXPECT_EQ(rtk::LaunchEmpty(dim3(0), dim3(32), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1), dim3(0, 1), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1), dim3(1025), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1), dim3(64, 17), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1), dim3(1, 1, 65), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1, 65536), dim3(1), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1, 1, 65536), dim3(1), 0), cudaErrorInvalidConfiguration);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1), dim3(32), 48 * 1024 + 1), cudaErrorInvalidValue);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration) << "the first error is the one kept";
    EXPECT_EQ(rtk::LaunchEmpty(dim3(2), dim3(32, 32), 48 * 1024), cudaSuccess);
    EXPECT_EQ(rtk::LaunchEmpty(dim3(1, 65535), dim3(1, 1, 64), 0), cudaSuccess);
    int notAKernel = 0;
    EXPECT_EQ(cudaLaunchKernel(&notAKernel, dim3(1), dim3(1), nullptr, 0, nullptr), cudaErrorInvalidDeviceFunction);
    EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidDeviceFunction);
    EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidDeviceFunction) << "peek does not clear";
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidDeviceFunction);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "get clears";
}

TEST_F(Runtime, CopiesAndMemsetsAreCheckedAgainstLiveAllocations) {
    const size_t before = cpurtLiveAllocations();
    void* d = nullptr;
    ASSERT_EQ(cudaMalloc(&d, 1000), cudaSuccess);
    EXPECT_EQ(cpurtLiveAllocations(), before + 1);
    std::vector<unsigned char> host(2000, 7);
    char* dc = static_cast<char*>(d);
    EXPECT_EQ(cudaMemcpy(d, host.data(), 1000, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(d, host.data(), 1001, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host.data(), dc + 500, 501, cudaMemcpyDeviceToHost), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host.data(), host.data() + 1000, 10, cudaMemcpyDeviceToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(d, dc + 1, size_t(-1), cudaMemcpyDeviceToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(d, host.data(), 10, static_cast<cudaMemcpyKind>(9)), cudaErrorInvalidMemcpyDirection);
    EXPECT_EQ(cudaMemset(dc + 990, 0, 11), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemset(host.data(), 0, 1), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemset(dc + 990, 0, 10), cudaSuccess);
    EXPECT_EQ(cudaMemcpy2D(d, 100, host.data(), 100, 100, 10, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy2D(d, 100, host.data(), 100, 100, 11, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy2D(d, 100, host.data(), 100, 101, 1, cudaMemcpyHostToDevice), cudaErrorInvalidPitchValue);
    EXPECT_EQ(cudaMemcpy2D(d, 90, host.data(), 100, 50, 12, cudaMemcpyDefault), cudaErrorInvalidValue)
        << "the default kind finds the device side and checks its span";
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(dc + 1), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(d), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(d, host.data(), 1, cudaMemcpyHostToDevice), cudaErrorInvalidValue) << "freed";
    EXPECT_EQ(cpurtLiveAllocations(), before);
    cudaGetLastError();
}

TEST_F(Runtime, TextureFetchesClampToTheEdge) {
    const int w = 5, h = 3;
    cudaChannelFormatDesc desc = cudaCreateChannelDesc(8, 8, 8, 8, cudaChannelFormatKindUnsigned);
    cudaArray_t array = nullptr;
    ASSERT_EQ(cudaMallocArray(&array, &desc, w, h, 0), cudaSuccess);
    std::vector<unsigned> texels(w * h);
    for (int i = 0; i < w * h; ++i) texels[i] = 0x01020304u * (i + 1);
    ASSERT_EQ(cudaMemcpy2DToArray(array, 0, 0, texels.data(), w * 4, w * 4, h, cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy2DToArray(array, 4, 0, texels.data(), w * 4, w * 4, h, cudaMemcpyHostToDevice), cudaErrorInvalidValue);

    for (auto mode : {cudaAddressModeClamp, cudaAddressModeBorder}) {
        cudaResourceDesc res;
        std::memset(&res, 0, sizeof(res));
        res.resType = cudaResourceTypeArray;
        res.res.array.array = array;
        cudaTextureDesc td;
        std::memset(&td, 0, sizeof(td));
        td.addressMode[0] = td.addressMode[1] = td.addressMode[2] = mode;
        td.filterMode = cudaFilterModePoint;
        td.readMode = cudaReadModeElementType;
        cudaTextureObject_t tex = 0;
        ASSERT_EQ(cudaCreateTextureObject(&tex, &res, &td, nullptr), cudaSuccess);
        const int ow = 11, oh = 8, dx = -3, dy = -2;
        Device<unsigned> out(ow * oh);
        ASSERT_EQ(rtk::LaunchFetch(tex, ow, oh, dx, dy, out.p), cudaSuccess);
        auto v = out.get();
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                int sx = x + dx, sy = y + dy;
                unsigned want;
                if (mode == cudaAddressModeBorder && (sx < 0 || sy < 0 || sx >= w || sy >= h))
                    want = 0;
                else
                    want = texels[std::min(std::max(sy, 0), h - 1) * w + std::min(std::max(sx, 0), w - 1)];
                ASSERT_EQ(v[y * ow + x], want) << "mode " << mode << " at " << sx << "," << sy;
            }
        EXPECT_EQ(cudaDestroyTextureObject(tex), cudaSuccess);
        EXPECT_EQ(cudaDestroyTextureObject(tex), cudaErrorInvalidValue);
    }
    EXPECT_EQ(cudaFreeArray(array), cudaSuccess);
    cudaGetLastError();
}

}  // namespace
