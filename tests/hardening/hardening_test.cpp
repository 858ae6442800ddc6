// Every built slot (the table of slot_table.h) called from several host threads at
// once, and with an allocation, a texture-object creation or a launch failing.
#include "slot_table.h"

#include "convolution/weight_table.h"
#include "cpurt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace tvf2hard {
namespace {

FuncSet* Module() {
    FuncSet* fs = nullptr;
    GetFuncSet(&fs);
    return fs;
}

// What a call leaves: its status and every buffer's bytes afterwards.
struct Outcome {
    int status = -1;
    std::vector<std::vector<uint8_t>> bytes;
    bool operator==(const Outcome& o) const { return status == o.status && bytes == o.bytes; }
};

Outcome RunValid(FuncSet* fs, const SlotEntry& e, uint32_t seed) {
    Draw d(seed);
    Call c;
    c.seed = seed;
    e.build(d, c, e.variant);
    Outcome out;
    if (!Allocate(c)) {
        Release(c);
        return out;
    }
    out.status = e.run(fs, c, e.variant);
    out.bytes = Snapshot(c);
    Release(c);
    return out;
}

// Threads x rounds x (entries x cases) calls; each thread walks the cases in its own
// order. Under ThreadSanitizer (the cpu-tsan preset) this is the race check of the CPU
// runtime's shared state as well.
TEST(Concurrency, EveryBuiltSlotFromSeveralThreadsMatchesOneThread) {
    FuncSet* fs = Module();
    const auto& slots = Slots();
    constexpr int kThreads = 4, kRounds = 3, kCases = 3;
    std::vector<std::pair<size_t, uint32_t>> cases;
    for (size_t e = 0; e < slots.size(); ++e)
        for (int k = 0; k < kCases; ++k) cases.emplace_back(e, uint32_t(1000 * e + k + 1));
    std::vector<Outcome> expected;
    for (const auto& [e, seed] : cases) {
        expected.push_back(RunValid(fs, slots[e], seed));
        ASSERT_EQ(expected.back().status, 0) << slots[e].name << " seed " << seed;
    }

    const size_t allocations = cpurtLiveAllocations(), textures = cpurtLiveTextures();
    std::atomic<int> calls{0}, mismatches{0};
    std::atomic<bool> go{false};
    std::vector<std::string> firstMismatch(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int r = 0; r < kRounds; ++r)
                for (size_t i = 0; i < cases.size(); ++i) {
                    const size_t k = (i * (2 * t + 1) + r * 7 + t * 13) % cases.size();
                    const Outcome got = RunValid(fs, slots[cases[k].first], cases[k].second);
                    ++calls;
                    if (!(got == expected[k]) && mismatches++ == 0)
                        firstMismatch[t] = std::string(slots[cases[k].first].name) + " seed " +
                                           std::to_string(cases[k].second) + " status " + std::to_string(got.status);
                }
        });
    go = true;
    for (auto& th : threads) th.join();
    for (const auto& m : firstMismatch) EXPECT_EQ(m, "");
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(calls.load(), kThreads * kRounds * int(cases.size()));
    EXPECT_EQ(cpurtLiveAllocations(), allocations);
    EXPECT_EQ(cpurtLiveTextures(), textures);
    std::printf("[concurrency] %d threads x %d calls (%zu slots), %d mismatches\n", kThreads,
                kRounds * int(cases.size()), slots.size(), mismatches.load());
}

// The last error belongs to the thread that caused it, as in the CUDA runtime.
TEST(Concurrency, LastErrorIsPerThread) {
    FuncSet* fs = Module();
    fs->GetLastStatus();
    std::thread other([] {
        void* p = nullptr;
        EXPECT_NE(cudaMalloc(&p, size_t(1) << 50), cudaSuccess);  // pending in that thread only
    });
    other.join();
    EXPECT_EQ(fs->GetLastStatus(), 0);
    int otherSaw = -1;
    std::thread reader([&] {
        EXPECT_NE(cudaFree(reinterpret_cast<void*>(0x1000)), cudaSuccess);
        otherSaw = fs->GetLastStatus();
    });
    reader.join();
    EXPECT_EQ(otherSaw, 11);
    EXPECT_EQ(fs->GetLastStatus(), 0);
}

struct Point {
    cpurtFailurePoint point;
    cudaError_t error;
    int host;  // the status the host must see
    const char* name;
};
const Point kPoints[] = {{cpurtFailAllocation, cudaErrorMemoryAllocation, 2, "allocation"},
                         {cpurtFailTextureCreation, cudaErrorMemoryAllocation, 2, "texture creation"},
                         {cpurtFailLaunch, cudaErrorLaunchOutOfResources, 7, "launch"}};

// The n-th allocation, texture creation or launch of a call fails, for every n that the
// call reaches: the failure is reported (by the status, or for a slot that reports its
// launch through the last error, by the next GetLastStatus), nothing was written, and
// every allocation and texture object the slot made is gone again. Work areas may hold
// anything afterwards.
TEST(FailureInjection, EverySlotReportsTheFailureWritesNothingAndLeaksNothing) {
    FuncSet* fs = Module();
    int injected = 0;
    std::map<std::string, int> perSlot;
    for (const SlotEntry& e : Slots()) {
        for (const Point& p : kPoints) {
            for (unsigned n = 1;; ++n) {
                SCOPED_TRACE(std::string(e.name) + ": " + p.name + " " + std::to_string(n));
                Draw d(77);
                Call c;
                c.seed = 77;
                e.build(d, c, e.variant);
                ASSERT_TRUE(Allocate(c));
                const auto before = Snapshot(c);
                const size_t allocations = cpurtLiveAllocations(), textures = cpurtLiveTextures();
                fs->GetLastStatus();
                cpurtFailNth(p.point, n, p.error);
                const int status = e.run(fs, c, e.variant);
                const bool fired = !cpurtFailurePending(p.point);
                cpurtFailNth(p.point, 0, cudaSuccess);
                const int last = fs->GetLastStatus();
                if (!fired) {
                    EXPECT_EQ(status, 0);
                    Release(c);
                    break;  // the call makes fewer than n such requests
                }
                ++injected;
                ++perSlot[e.name];
                EXPECT_EQ(status != 0 ? status : last, p.host);
                // A launch after the first may fail once an earlier pass has written its
                // rows (the two-field similarity averages); nothing outside the rows.
                EXPECT_EQ(UnexpectedWrites(c, before, p.host, p.point == cpurtFailLaunch && n > 1), "");
                EXPECT_EQ(cpurtLiveAllocations(), allocations);
                EXPECT_EQ(cpurtLiveTextures(), textures);
                Release(c);
                ASSERT_LT(n, 16u);
            }
        }
    }
    std::printf("[failure injection] %d injected failures over %zu slots\n", injected, perSlot.size());
    EXPECT_GT(injected, 0);
}

}  // namespace
}  // namespace tvf2hard

namespace tvf2hard {
namespace {

// Faults the slot fuzzer found, kept as cases. Arguments near INT_MAX describe frames
// nobody allocates, so each call stops at its first launch (made to fail): what is
// checked is the arithmetic before it, which overflowed (UndefinedBehaviorSanitizer
// reports that in the cpu-asan build; every build checks the status).
TEST(FuzzRegression, LaunchPlansOfHugeFramesDoNotOverflow) {
    FuncSet* fs = Module();
    void* buf = nullptr;
    ASSERT_EQ(cudaMalloc(&buf, 4096), cudaSuccess);
    const float* weights = static_cast<const float*>(buf);
    const struct {
        const char* what;
        std::function<int()> call;
    } cases[] = {
        {"separable P8, width INT_MAX - 1 (transpose grid)",
         [&] { return fs->SeparableConvolve_P8(buf, buf, INT_MAX - 1, 1, INT_MAX, INT_MAX, weights, 1, weights, 1, buf, 0, 0); }},
        {"unsharp, height INT_MAX (row blocks)",
         [&] { return fs->SeparableUnsharpMask_C32(buf, 0, buf, 0, buf, 0, 0, INT_MAX, 0, 64, weights, 0, weights, 1); }},
        {"similarity in fields, height INT_MAX",
         [&] { return fs->SimilarityWeightedAverage_C32(buf, buf, nullptr, 1, INT_MAX, 4, 4, 100, 1, true); }},
        {"similarity, radius INT_MAX (tile size)",
         [&] { return fs->SimilarityWeightedAverage_YUV32A(buf, buf, nullptr, 1, 1, 4, 4, 100, INT_MAX, false); }},
    };
    for (const auto& c : cases) {
        cpurtFailNth(cpurtFailLaunch, 1, cudaErrorLaunchOutOfResources);
        const int status = c.call();
        const bool launched = !cpurtFailurePending(cpurtFailLaunch);
        cpurtFailNth(cpurtFailLaunch, 0, cudaSuccess);
        fs->GetLastStatus();
        EXPECT_TRUE(launched) << c.what;
        EXPECT_EQ(status, 7) << c.what;
    }
    cudaFree(buf);
}

// The table size of a short line, summed in closed form, against a count over its
// windows; a huge line is answered at once.
TEST(FuzzRegression, WeightTableEntriesOfShortLines) {
    for (int n = 0; n < 120; ++n)
        for (int r = 0; r < 150; ++r) {
            long long count = 0;
            if (2 * r + 1 > n)
                for (int p = 0; p < n; ++p) count += std::min(n - 1, p + r) - std::max(0, p - r) + 1;
            else
                count = 3LL * r * r + 3LL * r + 1;
            ASSERT_EQ(tvf2::WeightTableEntries(n, r), count) << n << " " << r;
        }
    EXPECT_EQ(tvf2::WeightTableEntries(INT_MAX, INT_MAX), 4611686014132420609LL);  // INT_MAX^2
}

}  // namespace
}  // namespace tvf2hard
