// The table of built slots (see slot_table.h for how to add one), the argument draws
// and one argument builder per family.
#include "slot_table.h"

#include "convolution/weight_table.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace tvf2hard {

// --- draws ---

uint32_t Draw::Byte() {
    if (!fuzz_) return rng_() & 0xFF;
    return pos_ < size_ ? data_[pos_++] : 0;
}

uint32_t Draw::Bits() {
    if (!fuzz_) return rng_();
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
}

int Draw::Int(int lo, int hi) {
    const long long range = static_cast<long long>(hi) - lo + 1;
    if (range <= 0) return lo;
    if (!fuzz_) return static_cast<int>(lo + static_cast<long long>(rng_() % range));
    const uint32_t sel = Byte();
    if (sel < 208) {
        const uint32_t r = Byte() << 8 | Byte();
        return static_cast<int>(lo + static_cast<long long>(r % range));
    }
    static const long long edges[] = {0, 1, -1, 2, 3, 7, 255, 256, -256, 65535, 65536,
                                      INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 1 << 20,
                                      1 << 30, -(1 << 30), 46341, 1 << 15};
    const uint32_t k = sel - 208;
    if (k < sizeof edges / sizeof edges[0]) return static_cast<int>(edges[k]);
    const long long near[] = {lo - 1LL, hi + 1LL, 2LL * hi + 1, lo};
    const long long v = near[k % 4];
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

float Draw::Float(float lo, float hi) {
    if (!fuzz_) return lo + (hi - lo) * static_cast<float>(rng_() >> 8) * (1.0f / 16777216.0f);
    const uint32_t sel = Byte();
    if (sel < 200) return lo + (hi - lo) * static_cast<float>(Byte() << 8 | Byte()) * (1.0f / 65536.0f);
    const float edges[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), -0.0f, 1e38f, -1e38f, 1e-45f, 0.0f};
    if (sel < 248) return edges[sel % 8];
    const uint32_t bits = Bits();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

bool Draw::Bool() { return Byte() & 1; }

int Draw::Pitch(long long rowBytes, int align) {
    const long long pad = static_cast<long long>(align) * Int(0, 3);
    if (fuzz_ && Byte() >= 224) return Int(-64, 4096);
    const long long p = rowBytes + pad;
    return p > INT_MAX ? INT_MAX : p < INT_MIN ? INT_MIN : static_cast<int>(p);
}

PtrKind Draw::Pointer() {
    if (!fuzz_) return PtrKind::Valid;
    const uint32_t sel = Byte();
    if (sel < 200) return PtrKind::Valid;
    if (sel < 220) return PtrKind::Inside;
    if (sel < 234) return PtrKind::AtEnd;
    if (sel < 246) return PtrKind::Freed;
    return PtrKind::Null;
}

// --- buffers ---

namespace {
constexpr long long kMaxBuffer = 4LL << 20;  // what a harness allocates at most per buffer

long long Clamp(long long need) { return need > kMaxBuffer ? -1 : need; }
}  // namespace

long long Span(long long rowBytes, long long rows, long long pitch) {
    if (rowBytes <= 0 || rows <= 0) return 0;
    if (pitch < rowBytes) return -1;
    if (rows > kMaxBuffer || pitch > kMaxBuffer) return -1;
    return Clamp((rows - 1) * pitch + rowBytes);
}

float Call::F(int i) const {
    const uint32_t bits = static_cast<uint32_t>(v[i]);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

static void PointTo(Draw& d, Buffer& b) {
    b.kind = d.Pointer();
    if (b.kind == PtrKind::Inside) {
        const size_t offsets[] = {256, 4, 1, 4096};
        b.offset = offsets[d.Bits() % 4];
    }
}

int Call::AddFrame(Draw& d, const char* role, long long rowBytes, long long rows, long long pitch, bool dest) {
    Buffer b;
    b.role = role;
    b.dest = dest;
    b.rowBytes = rowBytes;
    b.rows = rows;
    b.pitch = pitch;
    b.need = Span(rowBytes, rows, pitch);
    PointTo(d, b);
    buf.push_back(b);
    return static_cast<int>(buf.size()) - 1;
}

int Call::AddLinear(Draw& d, const char* role, long long need, bool dest) {
    Buffer b;
    b.role = role;
    b.dest = dest;
    b.need = need < 0 ? -1 : Clamp(need);
    if (dest) {  // the whole buffer is the destination
        b.rowBytes = b.need > 0 ? b.need : 0;
        b.rows = 1;
        b.pitch = b.rowBytes;
    }
    PointTo(d, b);
    buf.push_back(b);
    return static_cast<int>(buf.size()) - 1;
}

int Call::AddScratch(Draw& d, const char* role, long long need) {
    const int i = AddLinear(d, role, need, true);
    buf[i].scratch = true;
    return i;
}

int Call::AddFloats(Draw& d, const char* role, long long count, float lo, float hi) {
    const int i = AddLinear(d, role, count < 0 ? -1 : 4 * count);
    buf[i].floats = !d.Fuzzing() || d.Bool();  // fuzzed: sometimes raw bits (NaN, inf, ...)
    buf[i].lo = lo;
    buf[i].hi = hi;
    return i;
}

int Call::AddArray(Draw& d, const char* role, int width, int height) {
    Buffer b;
    b.role = role;
    b.array = true;
    // Any size is a valid texture source; the harness keeps its own allocation small.
    b.arrayW = width < 1 ? 1 : width > 256 ? 256 : width;
    b.arrayH = height < 1 ? 1 : height > 256 ? 256 : height;
    b.need = 0;
    const PtrKind k = d.Pointer();
    b.kind = k == PtrKind::Freed || k == PtrKind::Null ? k : PtrKind::Valid;
    buf.push_back(b);
    return static_cast<int>(buf.size()) - 1;
}

// --- families ---

namespace {

int ToInt(long long v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v); }

// Memory slots (0-3, 37) and the scratch-size query (5): variant = slot number.
void BuildMemory(Draw& d, Call& c, int slot) {
    switch (slot) {
    case 0: {  // DeviceMalloc(out, bytes): out is null or a host variable
        long long bytes = d.Fuzzing() && d.Bool() ? static_cast<long long>(d.Bits()) << (d.Bits() % 24) : d.Int(1, 4096);
        // Sizes the runtime would really try to allocate stay small; larger ones are
        // beyond what it accepts at all.
        if (bytes > (64LL << 20) && bytes <= (1LL << 46)) bytes = 1LL << 47;
        c.v[0] = bytes;
        c.v[1] = d.Fuzzing() && d.Int(0, 15) == 0;  // null out pointer
        break;
    }
    case 1:  // DeviceFree(p)
        c.AddLinear(d, "block", d.Int(1, 4096));
        break;
    case 2: {  // DeviceCopy2D(dst, dstPitch, src, srcPitch, widthBytes, rows)
        const int width = d.Int(0, 200), rows = d.Int(0, 20);
        c.v[0] = d.Pitch(width, 1);
        c.v[1] = d.Pitch(width, 1);
        c.v[2] = width;
        c.v[3] = rows;
        if (d.Fuzzing() && d.Int(0, 7) == 0) c.v[2] = -static_cast<long long>(d.Bits());  // huge as size_t
        c.AddFrame(d, "dst", c.v[2], rows, c.v[0], true);
        c.AddFrame(d, "src", c.v[2], rows, c.v[1]);
        break;
    }
    case 37: {  // DeviceCopy(dst, src, bytes)
        c.v[0] = d.Int(0, 5000);
        c.AddLinear(d, "dst", c.v[0], true);
        c.AddLinear(d, "src", c.v[0]);
        break;
    }
    case 5:  // GetScratchSize(w, h)
        c.v[0] = d.Int(0, 4096);
        c.v[1] = d.Int(0, 4096);
        break;
    default:  // GetLastStatus: no arguments
        break;
    }
}

int RunMemory(FuncSet* fs, Call& c, int slot) {
    switch (slot) {
    case 0: {
        void* p = nullptr;
        const int st = fs->DeviceMalloc(c.v[1] ? nullptr : &p, static_cast<size_t>(c.v[0]));
        if (st == 0 && p) fs->DeviceFree(p);
        return st;
    }
    case 1: {
        const int st = fs->DeviceFree(c.P(0));
        if (st == 0 && c.P(0) && c.P(0) == c.buf[0].base) c.buf[0].released = true;
        return st;
    }
    case 2:
        return fs->DeviceCopy2D(c.P(0), static_cast<size_t>(c.v[0]), c.P(1), static_cast<size_t>(c.v[1]),
                                static_cast<size_t>(c.v[2]), static_cast<size_t>(c.v[3]));
    case 37:
        return fs->DeviceCopy(c.P(0), c.P(1), c.I(0));
    case 5:
        return fs->GetScratchSize(c.I(0), c.I(1)) >= 256 * 8 ? 0 : -1;
    default:
        return fs->GetLastStatus();
    }
}

// Mosaic (50-52): variant 0 C32, 1 C32A, 2 YUY2 (2 bytes per pixel, even widths).
void BuildMosaic(Draw& d, Call& c, int layout) {
    const bool yuy2 = layout == 2;
    const int even = yuy2 ? 2 : 1, bpp = yuy2 ? 2 : 4;
    // Valid draws keep a cell inside the frame (an empty lattice is refused by the launch).
    // (Fuzzed values may be anywhere in int: ranges are worked out in 64 bits.)
    const int w = ToInt(d.Int(1, 24) * 1LL * even), h = d.Int(1, 40);
    const int cellH = d.Int(1, 12), cellW = ToInt(d.Int(1, 12) * 1LL * even);
    const int offX = ToInt(d.Int(ToInt(-(cellW - 1LL) / even), ToInt((w - 1LL) / even)) * 1LL * even);
    const int offY = d.Int(ToInt(1LL - cellH), ToInt(h - 1LL));
    c.Extent(w, h);
    c.v[0] = h; c.v[1] = w; c.v[2] = cellH; c.v[3] = cellW; c.v[4] = offX; c.v[5] = offY;
    c.v[6] = d.Pitch(static_cast<long long>(w) * bpp, 4);
    c.v[7] = d.Pitch(static_cast<long long>(w) * bpp, 4);
    c.AddFrame(d, "src", static_cast<long long>(w) * bpp, h, c.v[6]);
    c.AddFrame(d, "dst", static_cast<long long>(w) * bpp, h, c.v[7], true);
}

int RunMosaic(FuncSet* fs, Call& c, int layout) {
    static const decltype(&FuncSet::Mosaic_C32) slots[] = {&FuncSet::Mosaic_C32, &FuncSet::Mosaic_C32A, &FuncSet::Mosaic_YUY2};
    return (fs->*slots[layout])(c.I(0), c.I(1), c.I(2), c.I(3), c.I(4), c.I(5), c.P(0), c.I(6), c.P(1), c.I(7));
}

// Separable convolutions (31-36): variant 0 C32, 1 C64, 2 C32A, 3 C64A, 4 P8, 5 P16.
constexpr int kConvBytes[] = {4, 8, 4, 8, 1, 2};

long long ConvWork(int layout, long long w, long long h) {
    if (w > (1 << 16) || h > (1 << 16)) return -1;  // more than a harness allocates
    const long long px = w * h, b = kConvBytes[layout];
    return layout <= 1 ? 2 * px * b : layout <= 3 ? px * b : 4 * px;
}

// A weight-table count: what the line needs plus extra entries, which move the tables
// out of shared memory (another kernel form) without changing the result.
int TableCount(Draw& d, int n, int r) {
    const long long need = tvf2::WeightTableEntries(n, r);
    const int extra = d.Int(0, 7) == 0 ? d.Int(2000, 4000) : d.Int(0, 3);
    const long long count = need + extra;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

void BuildSeparable(Draw& d, Call& c, int layout) {
    const int b = kConvBytes[layout];
    const int w = d.Int(0, 40), h = d.Int(0, 40);
    const int hR = d.Int(0, d.Int(0, 7) == 0 ? 40 : 6), vR = d.Int(0, d.Int(0, 7) == 0 ? 40 : 6);
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(static_cast<long long>(w) * b, b);
    c.v[3] = d.Pitch(static_cast<long long>(w) * b, b);
    c.v[4] = TableCount(d, w, hR);
    c.v[5] = TableCount(d, h, vR);
    c.v[6] = hR; c.v[7] = vR;
    const bool alpha = layout == 2 || layout == 3;
    c.AddFrame(d, "dst", static_cast<long long>(w) * b, h, c.v[2], true);
    c.AddFrame(d, "src", static_cast<long long>(w) * b, h, c.v[3]);
    c.AddFloats(d, "hWeights", c.v[4], alpha ? 0.0f : -0.5f, 1.5f);
    c.AddFloats(d, "vWeights", c.v[5], alpha ? 0.0f : -0.5f, 1.5f);
    const long long work = w >= 0 && h >= 0 ? ConvWork(layout, w, h) : -1;
    c.AddScratch(d, "work", work);
}

int RunSeparable(FuncSet* fs, Call& c, int layout) {
    static const decltype(&FuncSet::SeparableConvolve_C32) slots[] = {
        &FuncSet::SeparableConvolve_C32, &FuncSet::SeparableConvolve_C64, &FuncSet::SeparableConvolveAlpha_C32A,
        &FuncSet::SeparableConvolveAlpha_C64A, &FuncSet::SeparableConvolve_P8, &FuncSet::SeparableConvolve_P16};
    return (fs->*slots[layout])(c.P(0), c.P(1), c.I(0), c.I(1), c.I(2), c.I(3), static_cast<const float*>(c.P(2)),
                                c.I(4), static_cast<const float*>(c.P(3)), c.I(5), c.P(4), c.I(6), c.I(7));
}

// Unsharp mask (19, 20): variant 0 C32, 1 C32A. mid is written like a destination.
void BuildUnsharp(Draw& d, Call& c, int) {
    const int w = d.Int(0, 40), h = d.Int(0, 40), r = d.Int(0, d.Int(0, 7) == 0 ? 40 : 6);
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h; c.v[2] = r; c.v[3] = d.Int(-512, 1024);
    for (int i = 0; i < 3; ++i) c.v[4 + i] = d.Pitch(4LL * w, 4);
    c.v[7] = TableCount(d, w, r);
    c.v[8] = TableCount(d, h, r);
    c.AddFrame(d, "dst", 4LL * w, h, c.v[4], true);
    c.AddFrame(d, "src", 4LL * w, h, c.v[5]);
    c.AddFrame(d, "mid", 4LL * w, h, c.v[6], true);
    c.buf.back().scratch = true;  // the intermediate (blurred) frame
    c.AddFloats(d, "hWeights", c.v[7], 0.0f, 0.5f);
    c.AddFloats(d, "vWeights", c.v[8], 0.0f, 0.5f);
}

int RunUnsharp(FuncSet* fs, Call& c, int alpha) {
    return (fs->*(alpha ? &FuncSet::SeparableUnsharpMask_C32A : &FuncSet::SeparableUnsharpMask_C32))(
        c.P(0), c.I(4), c.P(1), c.I(5), c.P(2), c.I(6), c.I(0), c.I(1), c.I(2), c.I(3),
        static_cast<const float*>(c.P(3)), c.I(7), static_cast<const float*>(c.P(4)), c.I(8));
}

// Similarity-weighted averages from linear memory (38, 40, 42, 44): variant 0 C32,
// 1 YUV32, 2 C32A, 3 YUV32A.
void BuildSimilarity(Draw& d, Call& c, int) {
    const int w = d.Int(1, 28), h = d.Int(1, 28);  // (an empty frame: an empty launch, refused)
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4LL * w, 4);
    c.v[3] = d.Pitch(4LL * w, 4);
    c.v[4] = d.Int(1, 3000);                             // T
    c.v[5] = d.Int(0, d.Int(0, 7) == 0 ? 24 : 3);        // radius (large: the global form)
    c.v[6] = d.Bool();                                   // fields
    c.AddFrame(d, "dst", 4LL * w, h, c.v[2], true);
    c.AddFrame(d, "src", 4LL * w, h, c.v[3]);
}

int RunSimilarity(FuncSet* fs, Call& c, int layout) {
    static const decltype(&FuncSet::SimilarityWeightedAverage_C32) slots[] = {
        &FuncSet::SimilarityWeightedAverage_C32, &FuncSet::SimilarityWeightedAverage_YUV32,
        &FuncSet::SimilarityWeightedAverage_C32A, &FuncSet::SimilarityWeightedAverage_YUV32A};
    return (fs->*slots[layout])(c.P(0), c.P(1), nullptr, c.I(0), c.I(1), c.I(2), c.I(3), c.I(4), c.I(5), c.v[6] != 0);
}

// The same through a texture over the caller's CUDA array (39, 41, 43, 45).
const cudaChannelFormatDesc kUchar4 = {8, 8, 8, 8, cudaChannelFormatKindUnsigned};
const cudaChannelFormatDesc kFloat4 = {32, 32, 32, 32, cudaChannelFormatKindFloat};

void BuildSimilarityTex(Draw& d, Call& c, int) {
    const int w = d.Int(1, 24), h = d.Int(1, 24);
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4LL * w, 4);
    c.v[3] = d.Int(-2, 3);           // row offset
    c.v[4] = d.Int(1, 2);            // row scale
    c.v[5] = d.Int(1, 3000);         // T
    c.v[6] = d.Int(0, 3);            // radius
    c.v[7] = d.Bool();               // same parity
    c.v[8] = d.Fuzzing() ? d.Int(0, 9) % 3 : 0;  // descriptor: uchar4, null, float4
    c.AddFrame(d, "dst", 4LL * w, h, c.v[2], true);
    c.AddArray(d, "array", d.Int(1, 24), d.Int(1, 48));
}

int RunSimilarityTex(FuncSet* fs, Call& c, int layout) {
    static const decltype(&FuncSet::SimilarityWeightedAverageTex_C32) slots[] = {
        &FuncSet::SimilarityWeightedAverageTex_C32, &FuncSet::SimilarityWeightedAverageTex_YUV32,
        &FuncSet::SimilarityWeightedAverageTex_C32A, &FuncSet::SimilarityWeightedAverageTex_YUV32A};
    const cudaChannelFormatDesc* desc = c.v[8] == 0 ? &kUchar4 : c.v[8] == 1 ? nullptr : &kFloat4;
    return (fs->*slots[layout])(c.P(0), c.A(1), c.I(0), c.I(1), c.I(2), desc, c.I(3), c.I(4), c.I(5), c.I(6), c.v[7] != 0);
}

const std::vector<SlotEntry> kSlots = {
    {"DeviceMalloc", 0, BuildMemory, RunMemory, 0},
    {"DeviceFree", 1, BuildMemory, RunMemory, 1},
    {"DeviceCopy2D", 2, BuildMemory, RunMemory, 2},
    {"GetLastStatus", 3, BuildMemory, RunMemory, 3},
    {"GetScratchSize", 5, BuildMemory, RunMemory, 5},
    {"DeviceCopy", 37, BuildMemory, RunMemory, 37},
    {"SeparableUnsharpMask_C32", 19, BuildUnsharp, RunUnsharp, 0},
    {"SeparableUnsharpMask_C32A", 20, BuildUnsharp, RunUnsharp, 1},
    {"SeparableConvolve_C32", 31, BuildSeparable, RunSeparable, 0},
    {"SeparableConvolve_C64", 32, BuildSeparable, RunSeparable, 1},
    {"SeparableConvolveAlpha_C32A", 33, BuildSeparable, RunSeparable, 2},
    {"SeparableConvolveAlpha_C64A", 34, BuildSeparable, RunSeparable, 3},
    {"SeparableConvolve_P8", 35, BuildSeparable, RunSeparable, 4},
    {"SeparableConvolve_P16", 36, BuildSeparable, RunSeparable, 5},
    {"SimilarityWeightedAverage_C32", 38, BuildSimilarity, RunSimilarity, 0},
    {"SimilarityWeightedAverageTex_C32", 39, BuildSimilarityTex, RunSimilarityTex, 0},
    {"SimilarityWeightedAverage_C32A", 40, BuildSimilarity, RunSimilarity, 2},
    {"SimilarityWeightedAverageTex_C32A", 41, BuildSimilarityTex, RunSimilarityTex, 2},
    {"SimilarityWeightedAverage_YUV32", 42, BuildSimilarity, RunSimilarity, 1},
    {"SimilarityWeightedAverageTex_YUV32", 43, BuildSimilarityTex, RunSimilarityTex, 1},
    {"SimilarityWeightedAverage_YUV32A", 44, BuildSimilarity, RunSimilarity, 3},
    {"SimilarityWeightedAverageTex_YUV32A", 45, BuildSimilarityTex, RunSimilarityTex, 3},
    {"Mosaic_C32", 50, BuildMosaic, RunMosaic, 0},
    {"Mosaic_C32A", 51, BuildMosaic, RunMosaic, 1},
    {"Mosaic_YUY2", 52, BuildMosaic, RunMosaic, 2},
};

}  // namespace

std::vector<SlotEntry>& Registered() {
    static std::vector<SlotEntry> entries;
    return entries;
}

const std::vector<SlotEntry>& Slots() {
    static const std::vector<SlotEntry> all = [] {
        std::vector<SlotEntry> v = kSlots;
        v.insert(v.end(), Registered().begin(), Registered().end());
        std::stable_sort(v.begin(), v.end(),
                         [](const SlotEntry& a, const SlotEntry& b) { return a.slot < b.slot; });
        return v;
    }();
    return all;
}

SlotRegistration::SlotRegistration(std::initializer_list<SlotEntry> entries) {
    Registered().insert(Registered().end(), entries.begin(), entries.end());
}

const SlotEntry& EntryForByte(uint8_t first) {
    const auto& slots = Slots();
    for (const SlotEntry& e : slots)
        if (e.slot == first % 64) return e;
    return slots[first % slots.size()];
}

bool DocumentedStatus(int status) {
    // invalid value, invalid configuration, out of memory, invalid pitch, invalid
    // channel descriptor, invalid resource handle (a freed array)
    switch (status) {
    case 2: case 9: case 11: case 12: case 20: case 33: return true;
    default: return false;
    }
}

}  // namespace tvf2hard
