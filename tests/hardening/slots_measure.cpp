// Second-difference energy (slots 6-11) in the hardening table: variant 0 C32, 1 C64,
// 2 YUY2, 3 YUY2W, 4 SemiPlanar8, 5 SemiPlanar16.
//
// Besides its frames and the device partial-sum buffer, the slot takes two host
// pointers (a buffer it copies the partial sums into, and the result), which the
// harness's device buffers cannot stand for. The runner owns them: it fills them with a
// pattern before the call and afterwards checks what the harness cannot, answering a
// status no slot uses when a check fails:
//   - a refused or failed call left the result and the whole host buffer as they were;
//   - a call that ran wrote the host buffer only within its size, with the device's
//     partial sums, and the result is the (wrapping) total of its whole entries.
// On success the runner copies the result into a device buffer of its own (the last
// one, a destination), so the concurrency test compares results across threads too.
#include "slot_table.h"

#include <climits>
#include <cstring>
#include <vector>

namespace tvf2hard {
namespace {

constexpr int kEnergySampleBytes[] = {1, 2, 1, 2, 1, 2};

// Statuses of the runner's own checks (no slot answers them).
constexpr int kResultTouchedOnFailure = 1001;
constexpr int kHostBufferTouchedOnFailure = 1002;
constexpr int kHostWrittenPastItsSize = 1003;
constexpr int kHostBufferNotThePartialSums = 1004;
constexpr int kResultNotTheTotal = 1005;

constexpr uint8_t kHostFill = 0xa5;
constexpr long long kMaxHostBuffer = 4LL << 20;  // as the harness's device buffers
constexpr int kHostGuard = 64;                   // pattern bytes before and after it

// Scalars: v[0] w, v[1] h, v[2..5] pitches (A, B, A chroma, B chroma), v[6..10] the
// matrix two entries each, v[11] threshold, v[12] buffer size, v[13] halved chroma
// rows, v[14] host buffer (0 valid, 1 null, 2 + k: k bytes past an 8-byte boundary),
// v[15] result (0 valid, 1 null, 2 misaligned).
void PackMatrix(Call& c, const int* m) {
    for (int k = 0; k < 9; k += 2) {
        const uint32_t lo = static_cast<uint32_t>(m[k]);
        const uint32_t hi = k + 1 < 9 ? static_cast<uint32_t>(m[k + 1]) : 0;
        c.v[6 + k / 2] = static_cast<long long>(static_cast<uint64_t>(hi) << 32 | lo);
    }
}
int MatrixEntry(const Call& c, int k) {
    const uint64_t bits = static_cast<uint64_t>(c.v[6 + k / 2]);
    return static_cast<int>(static_cast<uint32_t>(k % 2 ? bits >> 32 : bits));
}

void BuildEnergy(Draw& d, Call& c, int layout) {
    const bool pair = layout >= 2, semi = layout >= 4;
    const int sample = kEnergySampleBytes[layout];
    // (A pair layout needs a pair: narrower frames have an empty launch, refused.)
    const int w = d.Int(pair ? 2 : 1, 24), h = d.Int(1, 20);
    c.Extent(w, h + 1LL);
    c.v[0] = w;
    c.v[1] = h;
    // Bytes of a row the kernel reads: an odd width in the pair layouts drops a pixel.
    const long long units = pair ? w / 2 : w;
    const long long row = units * (semi ? 2 : 4) * sample;
    for (int k = 0; k < (semi ? 4 : 2); ++k) c.v[2 + k] = d.Pitch(row, sample);
    int m[9];
    for (int& e : m) e = d.Int(-32768, 32768);  // 14 fractional bits: about -2 .. 2
    PackMatrix(c, m);
    c.v[11] = d.Int(0, 1200);
    // Seeded: room for the most blocks a launch has (1000); fuzzed: sometimes less.
    c.v[12] = d.Fuzzing() && d.Bool() ? d.Int(0, 8000) : d.Int(8000, 8015);
    c.v[13] = semi && d.Bool();
    c.v[14] = d.Fuzzing() && d.Int(0, 15) == 0 ? (d.Bool() ? 1 : 2LL + d.Int(1, 7)) : 0;
    c.v[15] = d.Fuzzing() && d.Int(0, 15) == 0 ? 1LL + d.Int(0, 1) : 0;

    // A at rows 0 .. h, B at rows 0 .. h - 1; the chroma planes likewise at chroma rows
    // (image row y reads chroma row y / 2 when halved).
    const long long rowsA = h >= 0 ? h + 1LL : 0, rowsB = h;
    c.AddFrame(d, "A", row, rowsA, c.v[2]);
    c.AddFrame(d, "B", row, rowsB, c.v[3]);
    if (semi) {
        const bool halved = c.v[13] != 0;
        const long long chromaA = h < 1 ? 0 : halved ? (h - 1LL) / 2 + 2 : rowsA;
        const long long chromaB = h < 1 ? 0 : halved ? (h - 1LL) / 2 + 1 : rowsB;
        c.AddFrame(d, "A chroma", row, chromaA, c.v[4]);
        c.AddFrame(d, "B chroma", row, chromaB, c.v[5]);
    }
    // The slot clears the whole buffer and leaves the partial sums in it.
    c.AddScratch(d, "partialSums", c.v[12] < 0 ? -1 : c.v[12]);
    Buffer copy;  // the runner's: always valid, not an argument of the slot
    copy.role = "result (runner's copy)";
    copy.dest = true;
    copy.need = copy.rowBytes = copy.pitch = 8;
    copy.rows = 1;
    c.buf.push_back(copy);
}

int CallEnergy(FuncSet* fs, const Call& c, int layout, int64_t* host, int64_t* result) {
    const int partial = layout >= 4 ? 4 : 2;
    const int m00 = MatrixEntry(c, 0), m01 = MatrixEntry(c, 1), m02 = MatrixEntry(c, 2);
    const int m10 = MatrixEntry(c, 3), m11 = MatrixEntry(c, 4), m12 = MatrixEntry(c, 5);
    const int m20 = MatrixEntry(c, 6), m21 = MatrixEntry(c, 7), m22 = MatrixEntry(c, 8);
    if (layout >= 4) {
        return (fs->*(layout == 4 ? &FuncSet::SecondDifferenceEnergy_SemiPlanar8
                                  : &FuncSet::SecondDifferenceEnergy_SemiPlanar16))(
            c.P(0), c.I(2), c.P(1), c.I(3), c.P(2), c.I(4), c.P(3), c.I(5), c.I(0), c.I(1), c.v[13] != 0,
            m00, m01, m02, m10, m11, m12, m20, m21, m22, c.I(11), c.P(partial), host, c.I(12), result);
    }
    static const decltype(&FuncSet::SecondDifferenceEnergy_C32) packed[] = {
        &FuncSet::SecondDifferenceEnergy_C32, &FuncSet::SecondDifferenceEnergy_C64,
        &FuncSet::SecondDifferenceEnergy_YUY2, &FuncSet::SecondDifferenceEnergy_YUY2W};
    return (fs->*packed[layout])(c.P(0), c.I(2), c.P(1), c.I(3), c.I(0), c.I(1), m00, m01, m02, m10, m11, m12,
                                 m20, m21, m22, c.I(11), c.P(partial), host, c.I(12), result);
}

int RunEnergy(FuncSet* fs, Call& c, int layout) {
    const int partial = layout >= 4 ? 4 : 2;
    const long long size = c.v[12];
    // The caller's host buffer holds the size it states (one the harness allocates).
    const size_t hostBytes = size > 0 && size <= kMaxHostBuffer ? static_cast<size_t>(size) : 0;
    std::vector<int64_t> store((2 * kHostGuard + hostBytes + 7) / 8 + 1);
    uint8_t* raw = reinterpret_cast<uint8_t*>(store.data());
    const size_t rawBytes = store.size() * 8;
    std::memset(raw, kHostFill, rawBytes);
    // (An edge draw can be anything: the offset stays within the guard.)
    const size_t shift = c.v[14] >= 2 ? static_cast<size_t>((c.v[14] - 2) % 8) : 0;
    uint8_t* hostStart = raw + kHostGuard + shift;
    int64_t* host = c.v[14] == 1 ? nullptr : reinterpret_cast<int64_t*>(hostStart);
    int64_t resultStore[2];
    std::memset(resultStore, kHostFill, sizeof resultStore);
    uint8_t* resultRaw = reinterpret_cast<uint8_t*>(resultStore);
    int64_t* result = c.v[15] == 1 ? nullptr : reinterpret_cast<int64_t*>(resultRaw + (c.v[15] == 2 ? 4 : 0));

    const int status = CallEnergy(fs, c, layout, host, result);

    if (status != 0) {
        for (size_t i = 0; i < sizeof resultStore; ++i)
            if (resultRaw[i] != kHostFill) return kResultTouchedOnFailure;
        for (size_t i = 0; i < rawBytes; ++i)
            if (raw[i] != kHostFill) return kHostBufferTouchedOnFailure;
        return status;
    }
    // Ran: only the stated size was written, with the device's partial sums.
    for (size_t i = 0; i < rawBytes; ++i) {
        const bool inside = raw + i >= hostStart && raw + i < hostStart + hostBytes;
        if (!inside && raw[i] != kHostFill) return kHostWrittenPastItsSize;
    }
    if (hostBytes) {
        std::vector<uint8_t> device(hostBytes);
        if (cudaMemcpy(device.data(), c.P(partial), hostBytes, cudaMemcpyDeviceToHost) != cudaSuccess ||
            std::memcmp(device.data(), hostStart, hostBytes) != 0)
            return kHostBufferNotThePartialSums;
    }
    uint64_t total = 0;
    for (size_t k = 0; k < hostBytes / 8; ++k) {
        uint64_t entry;
        std::memcpy(&entry, hostStart + 8 * k, 8);
        total += entry;
    }
    uint8_t* resultAt = reinterpret_cast<uint8_t*>(result);
    if (!resultAt || std::memcmp(resultAt, &total, 8) != 0) return kResultNotTheTotal;
    cudaMemcpy(c.P(partial + 1), resultAt, 8, cudaMemcpyHostToDevice);
    return 0;
}

const SlotRegistration kMeasureSlots({
    {"SecondDifferenceEnergy_C32", 6, BuildEnergy, RunEnergy, 0},
    {"SecondDifferenceEnergy_C64", 7, BuildEnergy, RunEnergy, 1},
    {"SecondDifferenceEnergy_YUY2", 8, BuildEnergy, RunEnergy, 2},
    {"SecondDifferenceEnergy_YUY2W", 9, BuildEnergy, RunEnergy, 3},
    {"SecondDifferenceEnergy_SemiPlanar8", 10, BuildEnergy, RunEnergy, 4},
    {"SecondDifferenceEnergy_SemiPlanar16", 11, BuildEnergy, RunEnergy, 5},
});

}  // namespace
}  // namespace tvf2hard
