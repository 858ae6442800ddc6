// The harness around one call of a table entry: buffers in device memory (host memory
// with redzones under AddressSanitizer: any access outside an allocation is a report),
// snapshots, and the invariants every call must keep.
#include "slot_table.h"

#include "cpurt.h"

#include <cstring>
#include <random>

namespace tvf2hard {

namespace {

void Fill(Buffer& b, uint32_t seed) {
    std::vector<uint8_t> bytes(b.bytes);
    std::mt19937 rng(seed);
    if (b.floats) {
        std::uniform_real_distribution<float> u(b.lo, b.hi);
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            const float f = u(rng);
            std::memcpy(&bytes[i], &f, 4);
        }
    } else {
        for (auto& x : bytes) x = static_cast<uint8_t>(rng() >> 24);
    }
    if (!bytes.empty()) cudaMemcpy(b.base, bytes.data(), bytes.size(), cudaMemcpyHostToDevice);
}

}  // namespace

bool Allocate(Call& c) {
    uint32_t seed = c.seed;
    for (Buffer& b : c.buf) {
        ++seed;
        if (b.kind == PtrKind::Null) continue;
        if (b.array) {
            const cudaChannelFormatDesc d = {8, 8, 8, 8, cudaChannelFormatKindUnsigned};
            if (cudaMallocArray(&b.arr, &d, b.arrayW, b.arrayH, 0) != cudaSuccess) return false;
            std::vector<uint8_t> texels(4ull * b.arrayW * b.arrayH);
            std::mt19937 rng(seed);
            for (auto& x : texels) x = static_cast<uint8_t>(rng() >> 24);
            cudaMemcpy2DToArray(b.arr, 0, 0, texels.data(), 4ull * b.arrayW, 4ull * b.arrayW, b.arrayH,
                                cudaMemcpyHostToDevice);
            if (b.kind == PtrKind::Freed) {
                cudaFreeArray(b.arr);
                b.released = true;
            }
            continue;
        }
        // A buffer the slot must refuse anyway gets a small allocation.
        const size_t need = b.need > 0 ? static_cast<size_t>(b.need) : b.need == 0 ? 0 : 64;
        const size_t before = b.kind == PtrKind::Inside ? b.offset : 0;
        b.bytes = before + need;
        if (cudaMalloc(&b.base, b.bytes ? b.bytes : 1) != cudaSuccess) return false;
        if (!b.bytes) b.bytes = 1;
        Fill(b, seed);
        b.ptr = static_cast<uint8_t*>(b.base) + before;
        if (b.kind == PtrKind::AtEnd) b.ptr = static_cast<uint8_t*>(b.base) + b.bytes;
        if (b.kind == PtrKind::Freed) {
            cudaFree(b.base);
            b.released = true;
        }
    }
    return true;
}

void Release(Call& c) {
    for (Buffer& b : c.buf) {
        if (!b.released) {
            if (b.arr) cudaFreeArray(b.arr);
            if (b.base) cudaFree(b.base);
        }
        b.released = true;
    }
}

std::vector<std::vector<uint8_t>> Snapshot(const Call& c) {
    std::vector<std::vector<uint8_t>> out(c.buf.size());
    for (size_t i = 0; i < c.buf.size(); ++i) {
        const Buffer& b = c.buf[i];
        if (b.released || !b.base) continue;
        out[i].resize(b.bytes);
        cudaMemcpy(out[i].data(), b.base, b.bytes, cudaMemcpyDeviceToHost);
    }
    return out;
}

std::string UnexpectedWrites(const Call& c, const std::vector<std::vector<uint8_t>>& before, int status,
                             bool partial) {
    const auto after = Snapshot(c);
    for (size_t i = 0; i < c.buf.size(); ++i) {
        const Buffer& b = c.buf[i];
        if (before[i].empty() || after[i].empty()) continue;
        const size_t start = static_cast<uint8_t*>(b.ptr) - static_cast<uint8_t*>(b.base);
        for (size_t k = 0; k < b.bytes; ++k) {
            if (before[i][k] == after[i][k]) continue;
            bool allowed = b.scratch && (status != 0 || partial);
            if ((status == 0 || partial) && b.dest && k >= start && b.pitch > 0) {
                const size_t rel = k - start;
                allowed = static_cast<long long>(rel / b.pitch) < b.rows &&
                          static_cast<long long>(rel % b.pitch) < b.rowBytes;
            }
            if (!allowed)
                return b.role + " byte " + std::to_string(k) + " of " + std::to_string(b.bytes) + " changed (status " +
                       std::to_string(status) + ")";
        }
    }
    return "";
}

bool InContract(const Call& c) {
    if (c.heavy) return false;
    for (const Buffer& b : c.buf) {
        if (b.array ? b.kind != PtrKind::Valid : (b.kind != PtrKind::Valid && b.kind != PtrKind::Inside))
            return false;
        if (b.need < 0) return false;
    }
    return true;
}

Stats& FuzzStats() {
    static Stats s;
    return s;
}

std::string CheckFuzzInput(FuncSet* fs, const uint8_t* data, size_t size) {
    if (size == 0) return "";
    const SlotEntry& e = EntryForByte(data[0]);
    Draw d(data + 1, size - 1);
    Call c;
    c.seed = size;
    e.build(d, c, e.variant);

    const size_t allocations = cpurtLiveAllocations(), textures = cpurtLiveTextures();
    std::string problem;
    if (!Allocate(c)) {
        Release(c);
        return "";  // the harness's own buffers did not fit: not the slot's business
    }
    const auto before = Snapshot(c);
    fs->GetLastStatus();  // start from a clear last error
    // A call outside the contract (a bad pointer, a buffer too small for what it
    // describes) runs first with its first launch failing: if the slot would launch,
    // it accepted arguments that only the caller can vouch for, and it is not run.
    const bool dry = !InContract(c);
    if (dry) cpurtFailNth(cpurtFailLaunch, 1, cudaErrorLaunchOutOfResources);
    const int status = e.run(fs, c, e.variant);
    const bool wouldLaunch = dry && !cpurtFailurePending(cpurtFailLaunch);
    cpurtFailNth(cpurtFailLaunch, 0, cudaSuccess);
    fs->GetLastStatus();
    Stats& st = FuzzStats();
    ++st.inputs;
    if (wouldLaunch) ++st.outsideContract;
    else if (status == 0) ++st.ran;
    else ++st.refused;
    if (!wouldLaunch) {
        if (status != 0 && !DocumentedStatus(status))
            problem = "undocumented status " + std::to_string(status);
        if (problem.empty()) problem = UnexpectedWrites(c, before, status);
        if (!problem.empty()) problem = std::string(e.name) + ": " + problem;
    }
    Release(c);
    if (problem.empty() && (cpurtLiveAllocations() != allocations || cpurtLiveTextures() != textures))
        problem = std::string(e.name) + ": leaked an allocation or a texture object";
    return problem;
}

}  // namespace tvf2hard
