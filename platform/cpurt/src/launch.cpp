// Kernel launches of the CPU runtime: configuration checks, the worker pool that runs
// the blocks, and the fibers that run the threads of a block between barriers.
//
// How a block runs. A worker starts the block's threads one after another on one
// fiber. A thread that ends simply lets the same fiber start the next thread, so a
// kernel without barriers runs every thread back to back with no switch at all. A
// thread that reaches a barrier keeps its fiber (it is suspended there) and hands the
// remaining start-ups to a free fiber. When every thread has either ended or reached
// the barrier, the phase is over: if all of them are waiting at the same barrier, the
// next phase resumes them one after another, each fiber switching straight to the next
// waiting thread (one switch per thread per phase). Anything else is a barrier that not
// every thread reached: the block is abandoned and the launch reports a launch failure.
//
// Fibers are created per worker, kept for the life of the pool and never leave their
// worker thread (compilers may cache thread-local addresses across a switch). No
// suspended fiber is ever destroyed: at shutdown each one is resumed and returns.
#include "internal.h"

#include <boost/context/fiber.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>
#include <pthread.h>

// GCC names the sanitizers with macros, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define CPURT_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define CPURT_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CPURT_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define CPURT_TSAN 1
#endif
#endif
#if defined(CPURT_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(CPURT_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ctx = boost::context;

namespace cpurt {
namespace {

constexpr unsigned kMaxThreadsPerBlock = 1024;
constexpr unsigned kMaxBlockDim[3] = {1024, 1024, 64};
constexpr unsigned long long kMaxGridDim[3] = {2147483647ull, 65535ull, 65535ull};
constexpr std::size_t kMaxDynamicShared = 48 * 1024;
constexpr std::size_t kFiberStack = 256 * 1024;
constexpr unsigned char kSharedPattern = 0xA5;

struct KernelInfo {
    cpurtTrampoline trampoline;
    std::string name;
};

struct KernelRegistry {
    std::mutex mu;
    std::unordered_map<const void*, KernelInfo> kernels;
};

KernelRegistry& kernels() {
    static KernelRegistry* r = new KernelRegistry;
    return *r;
}

std::atomic<int> g_order{-1};  // -1: not read from the environment yet
std::atomic<unsigned> g_seed{0};

void load_order_from_env() {
    if (g_order.load() != -1) return;
    int order = cpurtThreadOrderForward;
    unsigned seed = 0;
    if (const char* env = std::getenv("TVF2_CPU_THREAD_ORDER")) {
        if (!std::strcmp(env, "reverse")) order = cpurtThreadOrderReverse;
        if (!std::strncmp(env, "shuffle", 7)) {
            order = cpurtThreadOrderShuffle;
            if (env[7] == ':') seed = static_cast<unsigned>(std::strtoul(env + 8, nullptr, 10));
        }
    }
    int expected = -1;
    g_seed.store(seed);
    g_order.compare_exchange_strong(expected, order);
}

struct Launch {
    cpurtTrampoline trampoline;
    void** args;
    const char* name;
    dim3 grid, block;
    std::size_t sharedBytes;
    int order;
    unsigned seed;
    unsigned long long blocks;
    std::atomic<unsigned long long> next{0};
    std::atomic<bool> failed{false};
    std::mutex failMu;
    std::string failure;

    void fail(const std::string& message) {
        std::lock_guard<std::mutex> lock(failMu);
        if (!failed.exchange(true)) failure = message;
    }
};

// Where a context is suspended. AddressSanitizer must be told the stack each switch
// goes to (else it takes fiber stacks for overflows of the thread's stack), so in
// sanitizer builds a continuation carries the bounds of the stack it will run on.
struct StackBounds {
    const void* bottom = nullptr;
    std::size_t size = 0;
};
// ThreadSanitizer keeps a context per fiber; each switch names the one it goes to.
struct Cont {
    ctx::fiber f;
#if defined(CPURT_ASAN)
    StackBounds stack;
#endif
#if defined(CPURT_TSAN)
    void* tsan = nullptr;
#endif
};

struct Thread {
    cpurtThread pub;
    unsigned index;  // linear index within the block
    Cont cont;              // where it is suspended while waiting at a barrier
};

struct AbandonBlock {};

// Fiber stacks with a guard page each; in sanitizer builds each new stack's bounds are
// noted so that switches to the new fiber can name them.
struct Worker;
class RecordingStack {
public:
    explicit RecordingStack(Worker* w) : w_(w), inner_(kFiberStack) {}
    ctx::stack_context allocate();
    void deallocate(ctx::stack_context& sc) noexcept { inner_.deallocate(sc); }

private:
    Worker* w_;
    ctx::protected_fixedsize_stack inner_;
};

// Read on every barrier and index access: initial-exec keeps them off __tls_get_addr.
#define CPURT_FAST_TLS __attribute__((tls_model("initial-exec")))
struct Worker;
thread_local Worker* t_worker CPURT_FAST_TLS = nullptr;
thread_local Thread* t_current CPURT_FAST_TLS = nullptr;

struct StaticShared {
    const void* site;
    void* p;
    std::size_t bytes, align;
};

struct Worker {
    std::thread os;
    // Fibers
    RecordingStack stacks{this};
    Cont mainCont;
    std::vector<Cont> freeFibers;
    Cont* storeTo = nullptr;  // where the fiber that switched away wants itself kept
#if defined(CPURT_ASAN)
    StackBounds running;   // the stack in use now
    StackBounds entering;  // the stack the last switch went to
    StackBounds created;   // the stack of the fiber created last
#endif
#if defined(CPURT_TSAN)
    void* tsanRunning = nullptr;  // ThreadSanitizer's context of the fiber running now
#endif
    bool quitting = false;
    // The block being run
    Launch* launch = nullptr;
    cpurtBlockInfo info{};
    unsigned n = 0;
    std::vector<Thread> threads = std::vector<Thread>(kMaxThreadsPerBlock);
    // Phase 0 starts the threads in `order`; each later phase resumes them in `order`,
    // which is the order in which they reached the barrier (so forward and reverse
    // orders persist, and a shuffle is drawn anew per phase).
    std::vector<unsigned> order = std::vector<unsigned>(kMaxThreadsPerBlock);
    std::vector<unsigned> arrived = std::vector<unsigned>(kMaxThreadsPerBlock);
    unsigned orderCount = 0;
    unsigned nextStart = 0, cursor = 0, phase = 0;
    unsigned waiting = 0, exited = 0;
    int phaseLine = 0;
    const char* phaseFile = nullptr;
    bool divergent = false, abandon = false;
    std::string divergence;
    // Shared memory of the block
    std::unique_ptr<unsigned char[]> dynamicShared;
    std::vector<StaticShared> statics;

    ~Worker() {
        for (auto& s : statics) ::operator delete(s.p, std::align_val_t(s.align));
    }
};

ctx::stack_context RecordingStack::allocate() {
    ctx::stack_context sc = inner_.allocate();
#if defined(CPURT_ASAN)
    w_->created = StackBounds{static_cast<char*>(sc.sp) - sc.size, sc.size};
#else
    (void)w_;
#endif
    return sc;
}

// Tells the sanitizer, if any, that the running context has just arrived on its stack.
__attribute__((always_inline)) inline void arrived(Worker& w, void* fakeStack) {
#if defined(CPURT_ASAN)
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
    w.running = w.entering;
#else
    (void)w;
    (void)fakeStack;
#endif
}

// Switches to target; my_slot is where this context's continuation is kept until
// someone resumes it. Back here, keep the continuation of whoever resumed us.
__attribute__((always_inline)) inline void switch_to(Worker& w, Cont& target, Cont* mySlot) {
    w.storeTo = mySlot;
    void* fakeStack = nullptr;
#if defined(CPURT_ASAN)
    mySlot->stack = w.running;
    w.entering = target.stack;
    __sanitizer_start_switch_fiber(&fakeStack, target.stack.bottom, target.stack.size);
#endif
#if defined(CPURT_TSAN)
    mySlot->tsan = w.tsanRunning;
    w.tsanRunning = target.tsan;
    __tsan_switch_to_fiber(target.tsan, 0);
#endif
    ctx::fiber from = std::move(target.f).resume();
    arrived(*t_worker, fakeStack);
    if (from) t_worker->storeTo->f = std::move(from);
}

void fiber_loop(Worker& w);

// A parked fiber from the free list, or a new one.
Cont take_free_fiber(Worker& w) {
    if (w.freeFibers.empty()) {
        Cont c;
        c.f = ctx::fiber(std::allocator_arg, w.stacks, [&w](ctx::fiber&& from) {
            arrived(w, nullptr);
            w.storeTo->f = std::move(from);
            fiber_loop(w);
#if defined(CPURT_ASAN)
            // This fiber ends here: its stack is going away.
            __sanitizer_start_switch_fiber(nullptr, w.mainCont.stack.bottom, w.mainCont.stack.size);
            w.entering = w.mainCont.stack;
#endif
#if defined(CPURT_TSAN)
            // (Its ThreadSanitizer context is left behind: fibers end only at exit.)
            w.tsanRunning = w.mainCont.tsan;
            __tsan_switch_to_fiber(w.mainCont.tsan, 0);
#endif
            return std::move(w.mainCont.f);
        });
#if defined(CPURT_ASAN)
        c.stack = w.created;
#endif
#if defined(CPURT_TSAN)
        c.tsan = __tsan_create_fiber(0);
#endif
        return c;
    }
    Cont c = std::move(w.freeFibers.back());
    w.freeFibers.pop_back();
    return c;
}

// Passes control on from a thread that is done for this phase (mySlot: its
// continuation) or from a fiber that has nothing left to do (mySlot null: it parks
// in the free list). Next in line: the phase's next waiting thread; while threads are
// still being started, a free fiber that starts the next one; otherwise the worker.
__attribute__((always_inline)) inline void pass_on(Worker& w, Cont* mySlot) {
    if (w.phase > 0) {
        if (!mySlot) {
            w.freeFibers.emplace_back();
            mySlot = &w.freeFibers.back();
        }
        switch_to(w, ++w.cursor < w.orderCount ? w.threads[w.order[w.cursor]].cont : w.mainCont, mySlot);
    } else if (w.nextStart < w.n && !w.abandon) {
        // Only a thread stopping at a barrier gets here (a fiber parks only once every
        // thread has started), so mySlot is that thread's.
        Cont next = take_free_fiber(w);
        switch_to(w, next, mySlot);
    } else {
        if (!mySlot) {
            w.freeFibers.emplace_back();
            mySlot = &w.freeFibers.back();
        }
        switch_to(w, w.mainCont, mySlot);
    }
}

void run_thread(Worker& w, Thread& t) {
    t_current = &t;
    try {
        w.launch->trampoline(w.launch->args);
    } catch (AbandonBlock&) {
    } catch (std::exception& e) {
        w.launch->fail(std::string("exception in kernel: ") + e.what());
    } catch (...) {
        w.launch->fail("exception in kernel");
    }
    t_current = nullptr;
    ++w.exited;
}

void fiber_loop(Worker& w) {
    for (;;) {
        if (w.quitting) return;
        while (w.nextStart < w.n && !w.abandon) run_thread(w, w.threads[w.order[w.nextStart++]]);
        pass_on(w, nullptr);
    }
}

void shuffle_order(Worker& w, unsigned long long blockLinear) {
    std::mt19937_64 rng(w.launch->seed * 0x9E3779B97F4A7C15ull + blockLinear * 1000003ull + w.phase);
    std::shuffle(w.order.begin(), w.order.begin() + w.orderCount, rng);
}

std::string where(const char* file, int line) {
    const char* base = file ? std::strrchr(file, '/') : nullptr;
    return std::string(base ? base + 1 : (file ? file : "?")) + ":" + std::to_string(line);
}

void run_block(Worker& w, unsigned long long linear) {
    Launch& L = *w.launch;
    const unsigned long long gx = L.grid.x, gy = L.grid.y;
    w.info.blockIdx = uint3{unsigned(linear % gx), unsigned((linear / gx) % gy),
                            unsigned(linear / (gx * gy))};
    const unsigned bx = L.block.x, by = L.block.y;
    for (unsigned i = 0; i < w.n; ++i) {
        Thread& t = w.threads[i];
        t.pub.threadIdx = uint3{i % bx, (i / bx) % by, i / (bx * by)};
        t.pub.block = &w.info;
        t.index = i;
    }
    std::memset(w.dynamicShared.get(), kSharedPattern, L.sharedBytes);
    for (auto& s : w.statics) std::memset(s.p, kSharedPattern, s.bytes);

    const bool reverse = L.order == cpurtThreadOrderReverse;
    for (unsigned i = 0; i < w.n; ++i) w.order[i] = reverse ? w.n - 1 - i : i;
    w.orderCount = w.n;
    w.phase = 0;
    if (L.order == cpurtThreadOrderShuffle) shuffle_order(w, linear);
    w.nextStart = w.cursor = w.waiting = w.exited = 0;
    w.divergent = w.abandon = false;
    w.phaseFile = nullptr;

    Cont first = take_free_fiber(w);
    switch_to(w, first, &w.mainCont);
    for (;;) {
        if (w.waiting == 0) break;  // every thread ended
        if (w.exited > 0 && !w.divergent) {
            w.divergent = true;
            w.divergence = "barrier at " + where(w.phaseFile, w.phaseLine) +
                           " not reached by every thread (some had already returned)";
        }
        if (w.divergent) w.abandon = true;
        if (w.abandon && !L.failed.load())
            L.fail("launch failure in " + std::string(L.name) + ", block (" +
                   std::to_string(w.info.blockIdx.x) + "," + std::to_string(w.info.blockIdx.y) +
                   "," + std::to_string(w.info.blockIdx.z) + "): " + w.divergence);
        ++w.phase;
        std::swap(w.order, w.arrived);
        w.orderCount = w.waiting;
        if (L.order == cpurtThreadOrderShuffle) shuffle_order(w, linear);
        w.waiting = 0;
        w.cursor = 0;
        w.phaseFile = nullptr;
        switch_to(w, w.threads[w.order[0]].cont, &w.mainCont);
        if (w.abandon) break;  // every waiting thread has unwound
    }
}

struct Pool {
    std::mutex launchMu;  // one launch at a time: the default stream is in order
    std::mutex mu;
    std::condition_variable wake, done;
    Launch* current = nullptr;
    unsigned long long generation = 0;
    std::size_t finished = 0;
    bool stopping = false;
    std::vector<std::unique_ptr<Worker>> workers;

    Pool() {
        unsigned count = std::max(1u, std::thread::hardware_concurrency());
        if (const char* env = std::getenv("TVF2_CPU_WORKERS")) {
            long v = std::strtol(env, nullptr, 10);
            if (v >= 1 && v <= 256) count = unsigned(v);
        }
        for (unsigned i = 0; i < count; ++i) workers.emplace_back(new Worker);
        for (auto& w : workers) w->os = std::thread([this, wp = w.get()] { work(*wp); });
    }

    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mu);
            stopping = true;
        }
        wake.notify_all();
        for (auto& w : workers) w->os.join();
    }

    void prepare(Worker& w, Launch& L) {
        w.launch = &L;
        w.info.blockDim = L.block;
        w.info.gridDim = L.grid;
        w.n = L.block.x * L.block.y * L.block.z;
        // Exactly the launch's size, so that a sanitizer sees any access beyond it.
        w.dynamicShared.reset(new unsigned char[L.sharedBytes]);
    }

    void finish(Worker& w) {
        for (auto& s : w.statics) ::operator delete(s.p, std::align_val_t(s.align));
        w.statics.clear();
        w.dynamicShared.reset();
        w.launch = nullptr;
    }

    void work(Worker& w) {
        t_worker = &w;
#if defined(CPURT_ASAN)
        pthread_attr_t attr;
        void* bottom = nullptr;
        std::size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstack(&attr, &bottom, &size);
            pthread_attr_destroy(&attr);
        }
        w.running = StackBounds{bottom, size};
#endif
#if defined(CPURT_TSAN)
        w.tsanRunning = __tsan_get_current_fiber();
#endif
        unsigned long long seen = 0;
        for (;;) {
            Launch* L;
            {
                std::unique_lock<std::mutex> lock(mu);
                wake.wait(lock, [&] { return stopping || generation != seen; });
                if (stopping) break;
                seen = generation;
                L = current;
            }
            prepare(w, *L);
            for (;;) {
                if (L->failed.load(std::memory_order_relaxed)) break;
                unsigned long long b = L->next.fetch_add(1, std::memory_order_relaxed);
                if (b >= L->blocks) break;
                run_block(w, b);
            }
            finish(w);
            {
                std::lock_guard<std::mutex> lock(mu);
                if (++finished == workers.size()) done.notify_all();
            }
        }
        // Let every parked fiber return so that none is destroyed while suspended.
        w.quitting = true;
        while (!w.freeFibers.empty()) {
            Cont c = std::move(w.freeFibers.back());
            w.freeFibers.pop_back();
            if (c.f) switch_to(w, c, &w.mainCont);
        }
        t_worker = nullptr;
    }

    // Every worker takes part in every launch (those that find no block left just
    // report back), so a launch is over exactly when all of them have reported.
    void run(Launch& L) {
        std::lock_guard<std::mutex> serial(launchMu);
        std::unique_lock<std::mutex> lock(mu);
        current = &L;
        finished = 0;
        ++generation;
        wake.notify_all();
        done.wait(lock, [&] { return finished == workers.size(); });
        current = nullptr;
    }
};

Pool& pool() {
    static Pool p;
    return p;
}

cudaError_t check_configuration(dim3 grid, dim3 block, std::size_t shared) {
    const unsigned b[3] = {block.x, block.y, block.z};
    const unsigned g[3] = {grid.x, grid.y, grid.z};
    for (int i = 0; i < 3; ++i) {
        if (b[i] == 0 || g[i] == 0) return cudaErrorInvalidConfiguration;
        if (b[i] > kMaxBlockDim[i] || g[i] > kMaxGridDim[i]) return cudaErrorInvalidConfiguration;
    }
    if (static_cast<unsigned long long>(b[0]) * b[1] * b[2] > kMaxThreadsPerBlock)
        return cudaErrorInvalidConfiguration;
    if (shared > kMaxDynamicShared) return cudaErrorInvalidValue;
    return cudaSuccess;
}

}  // namespace
}  // namespace cpurt

using namespace cpurt;

extern "C" {

void cpurtRegisterFunction(const void* func, cpurtTrampoline trampoline, const char* name) {
    auto& r = kernels();
    std::lock_guard<std::mutex> lock(r.mu);
    r.kernels[func] = KernelInfo{trampoline, name ? name : "kernel"};
}

const struct cpurtThread* cpurtCurrentThread(void) { return t_current ? &t_current->pub : nullptr; }

void* cpurtDynamicShared(void) { return t_worker->dynamicShared.get(); }

void* cpurtStaticShared(const void* site, size_t bytes, size_t alignment) {
    Worker& w = *t_worker;
    for (const StaticShared& s : w.statics) {
        if (s.site != site) continue;
        if (s.bytes != bytes) {
            w.launch->fail(std::string("a static shared array of ") + w.launch->name +
                           " changes its size between threads");
            throw AbandonBlock{};
        }
        return s.p;
    }
    if (alignment < alignof(std::max_align_t)) alignment = alignof(std::max_align_t);
    void* p = ::operator new(bytes ? bytes : 1, std::align_val_t(alignment));
    std::memset(p, kSharedPattern, bytes);
    w.statics.push_back(StaticShared{site, p, bytes, alignment});
    return p;
}

void cpurtBarrier(const char* file, int line) {
    Worker& w = *t_worker;
    Thread& t = *t_current;
    if (!w.phaseFile) {
        w.phaseFile = file;
        w.phaseLine = line;
    } else if (!w.divergent && (line != w.phaseLine ||
                                (file != w.phaseFile && std::strcmp(file, w.phaseFile) != 0))) {
        w.divergent = true;
        w.divergence = "threads wait at different barriers (" + where(w.phaseFile, w.phaseLine) +
                       " and " + where(file, line) + ")";
    }
    w.arrived[w.waiting++] = t.index;
    pass_on(w, &t.cont);
    // Released (or the block is being abandoned).
    t_current = &t;
    if (w.abandon) throw AbandonBlock{};
}

void cpurtSetThreadOrder(enum cpurtThreadOrder order, unsigned int seed) {
    g_seed.store(seed);
    g_order.store(order);
}

enum cpurtThreadOrder cpurtGetThreadOrder(void) {
    load_order_from_env();
    return static_cast<cpurtThreadOrder>(g_order.load());
}

cudaError_t cudaLaunchKernel(const void* func, dim3 gridDim, dim3 blockDim, void** args,
                             size_t sharedMem, cudaStream_t stream) {
    (void)stream;
    KernelInfo info;
    {
        auto& r = kernels();
        std::lock_guard<std::mutex> lock(r.mu);
        auto it = r.kernels.find(func);
        if (it == r.kernels.end()) return record(cudaErrorInvalidDeviceFunction);
        info = it->second;
    }
    cudaError_t e = check_configuration(gridDim, blockDim, sharedMem);
    if (e != cudaSuccess) return record(e);
    if (injected_failure(cpurtFailLaunch, &e)) return record(e);
    load_order_from_env();

    Launch L;
    L.trampoline = info.trampoline;
    L.args = args;
    L.name = info.name.c_str();
    L.grid = gridDim;
    L.block = blockDim;
    L.sharedBytes = sharedMem;
    L.order = g_order.load();
    L.seed = g_seed.load();
    L.blocks = static_cast<unsigned long long>(gridDim.x) * gridDim.y * gridDim.z;
    pool().run(L);
    if (L.failed.load()) {
        set_launch_failure(L.failure);
        std::fprintf(stderr, "cpurt: %s\n", L.failure.c_str());
        return record(cudaErrorLaunchFailure);
    }
    return cudaSuccess;
}

}  // extern "C"
