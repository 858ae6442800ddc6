// The multi-frame denoisers in the hardening table: the multi-frame similarity averages
// (46-49) and non-local means (53, 54). Both take host arrays of device frame pointers
// and pitches, which the runners build from the call's frame buffers (the reference
// frames are buffers of their own, read only), and a device block the launcher fills
// with copies of those arrays (a work area here).
#include "slot_table.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tvf2hard {
namespace {

constexpr int kMaxRefs = 20;      // reference frames of the multi-frame average
constexpr int kMaxWindow = 1025;  // frames of the widest non-local-means window (T = 512)

// A host array too short for a fuzzed count stays short on purpose: a slot that read
// past what it accepts would read past the array (AddressSanitizer).
int ClampCount(long long n, int hi) { return n < 0 ? 0 : n > hi ? hi : static_cast<int>(n); }

// A work area of `need` bytes, sometimes (fuzzed) a few bytes short: the CPU runtime
// knows every allocation's size, so the launcher's copy into it must fail and the call
// end before launching.
int AddBlock(Draw& d, Call& c, const char* role, long long need) {
    if (d.Fuzzing() && need > 0 && d.Int(0, 7) == 0) {
        const long long shorter = need - d.Int(1, 12);
        return c.AddScratch(d, role, shorter < 0 ? 0 : shorter);
    }
    return c.AddScratch(d, role, need);
}

// The launchers leave the frames' device addresses in their block, which differ from
// one call to the next: cleared after the call (the part the slot was given), so that
// calls from several threads compare by what they computed.
void ClearBlock(const Call& c, int i) {
    const Buffer& b = c.buf[i];
    if (b.released || !b.base || b.need <= 0 || (b.kind != PtrKind::Valid && b.kind != PtrKind::Inside)) return;
    cudaMemset(b.ptr, 0, static_cast<size_t>(b.need));
}

// --- multi-frame similarity average (46-49): variant 0 C32, 1 C32A, 2 YUV32, 3 YUV32A ---
//
// v: 0 width, 1 height, 2 dst pitch, 3 src pitch, 4 count, 5 T, 6 fields, 7 null frame
// array, 8 null pitch array. Buffers: 0 dst, 1 src, 2 scratch, 3.. the reference frames
// (their pitches in Buffer::pitch).
constexpr int kFirstRef = 3;

void BuildMultiFrame(Draw& d, Call& c, int) {
    const int w = d.Int(1, 12), h = d.Int(1, 12);  // (an empty frame: success, nothing done)
    c.Extent(w, h);
    const int count = d.Int(0, d.Int(0, 7) == 0 ? kMaxRefs : 3);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4LL * w, 4);
    c.v[3] = d.Pitch(4LL * w, 4);
    c.v[4] = count;
    c.v[5] = d.Int(1, 3000);  // T (0: refused)
    c.v[6] = d.Bool();        // fields
    c.v[7] = d.Fuzzing() && d.Int(0, 15) == 0;
    c.v[8] = d.Fuzzing() && d.Int(0, 15) == 0;
    c.AddFrame(d, "dst", 4LL * w, h, c.v[2], true);
    c.AddFrame(d, "src", 4LL * w, h, c.v[3]);
    AddBlock(d, c, "scratch", count > 0 ? 12LL * count : 0);
    const int refs = ClampCount(count, kMaxRefs);
    for (int i = 0; i < refs; ++i) c.AddFrame(d, "reference", 4LL * w, h, d.Pitch(4LL * w, 4));
    // Every reference is compared over the whole frame: beyond this the CPU runtime's
    // emulation takes too long for a fuzz input, and the call is checked up to its launch.
    if (w > 0 && h > 0 && static_cast<long long>(w) * h * (refs + 1) > 200000) c.heavy = true;
}

int RunMultiFrame(FuncSet* fs, Call& c, int layout) {
    static const decltype(&FuncSet::MultiFrameSimilarityAverage_C32) slots[] = {
        &FuncSet::MultiFrameSimilarityAverage_C32, &FuncSet::MultiFrameSimilarityAverage_C32A,
        &FuncSet::MultiFrameSimilarityAverage_YUV32, &FuncSet::MultiFrameSimilarityAverage_YUV32A};
    const int refs = static_cast<int>(c.buf.size()) - kFirstRef;
    std::vector<const void*> frames(refs);
    std::vector<int> pitches(refs);
    for (int i = 0; i < refs; ++i) {
        frames[i] = c.P(kFirstRef + i);
        pitches[i] = static_cast<int>(c.buf[kFirstRef + i].pitch);
    }
    const int status = (fs->*slots[layout])(c.P(0), c.P(1), c.v[7] ? nullptr : frames.data(), c.I(4), c.I(0), c.I(1),
                                            c.I(2), c.I(3), c.v[8] ? nullptr : pitches.data(), c.I(5), c.v[6] != 0,
                                            nullptr, c.P(2));
    ClearBlock(c, 2);
    return status;
}

// --- non-local means (53, 54): variant 0 C32, 1 C32A ---
//
// v: 0 w, 1 h, 2 S, 3 P, 4 T, 5 dst pitch, 6 budget, 8..11 the coefficients (frame f
// takes v[8 + f % 4]), 12 flags (kNull*, kDstInWindow). Buffers: 0 dst, 1 parameter
// block, 2.. up to five distinct frames (frame f of the window is frame f % count).
constexpr int kFirstFrame = 2, kDistinctFrames = 5;
constexpr long long kNullCoefficients = 1, kNullFrames = 2, kNullPitches = 4, kDstInWindow = 8;

long long WindowFrames(long long T) { return 2 * T + 1; }

void BuildNonLocalMeans(Draw& d, Call& c, int) {
    const int w = d.Int(1, 10), h = d.Int(1, 10);
    c.Extent(w, h);
    // Seeded: every form (the fixed radii S 2..4, P 1..2, T 0..1; the run-time tile; the
    // global form for the wider windows on the larger tiles) at a few thousand
    // candidates per pixel at most.
    const bool wide = d.Int(0, 3) == 0;
    const int T = d.Int(0, wide ? 4 : 1);
    const int S = d.Int(0, wide ? 2 : 4);
    const int P = d.Int(-1, wide ? 1 : 2);
    c.v[0] = w; c.v[1] = h; c.v[2] = S; c.v[3] = P; c.v[4] = T;
    c.v[5] = d.Pitch(4LL * w, 4);
    // Seeded budgets keep the frame in one band (see below); a fuzzed one is anything.
    int budget;
    if (d.Fuzzing()) {
        budget = d.Int(-2, 2000);
    } else {
        switch (d.Int(0, 3)) {
        case 0: budget = 0; break;
        case 1: budget = -1; break;  // one chunk a band: the whole band
        case 2: budget = -d.Int(2, 1000); break;  // under 16 rows: one band
        default: budget = 2 * w * h + d.Int(0, 64); break;
        }
    }
    c.v[6] = budget;
    for (int k = 0; k < 4; ++k) {
        const float coef = d.Float(0.0f, 0.05f);
        uint32_t bits;
        std::memcpy(&bits, &coef, sizeof bits);
        c.v[8 + k] = bits;
    }
    if (d.Fuzzing()) {
        long long flags = 0;
        if (d.Int(0, 15) == 0) flags |= kNullCoefficients;
        if (d.Int(0, 15) == 0) flags |= kNullFrames;
        if (d.Int(0, 15) == 0) flags |= kNullPitches;
        if (d.Int(0, 15) == 0) flags |= kDstInWindow;
        c.v[12] = flags;
    }
    const long long n = WindowFrames(T);
    const bool windowValid = T >= 0 && n <= kMaxWindow;
    c.AddFrame(d, "dst", 4LL * w, h, c.v[5], true);
    AddBlock(d, c, "params", windowValid ? 16 * n : 0);
    const int distinct = windowValid ? static_cast<int>(n < kDistinctFrames ? n : kDistinctFrames) : 1;
    for (int i = 0; i < distinct; ++i) c.AddFrame(d, "frame", 4LL * w, h, d.Pitch(4LL * w, 4));

    // Candidates times patch pixels over the frame: beyond this a call is checked up to
    // its launch only.
    if (w > 0 && h > 0 && windowValid && S >= 0) {
        const double side = 2.0 * S + 1, patch = P < 0 ? 1.0 : (2.0 * P + 1) * (2.0 * P + 1);
        if (static_cast<double>(w) * h * static_cast<double>(n) * side * side * patch > 2e6) c.heavy = true;
    }
    // A call the harness checks only up to its launch (its first launch made to fail)
    // must not launch again: a failed launch gives up the rest of its band only, and the
    // next band would run on memory the harness does not vouch for. Such calls take one
    // band (budget 0); the banded ones are run in full when they are in the contract.
    if (!InContract(c) && w > 0 && h > 0) {
        const long long band = budget > 0 ? std::max<long long>(budget / 2 / w, 1) : budget == 0 ? h : h / 16;
        if (band > 0 && band < h) c.v[6] = 0;
    }
}

int RunNonLocalMeans(FuncSet* fs, Call& c, int alpha) {
    const long long T = c.v[4], n = WindowFrames(T);
    // A window the slot must refuse gets one-entry arrays, which it must not read.
    const int size = T >= 0 && n <= kMaxWindow ? static_cast<int>(n) : 1;
    const int distinct = static_cast<int>(c.buf.size()) - kFirstFrame;
    std::vector<float> coefficients(size);
    std::vector<const void*> frames(size);
    std::vector<int> pitches(size);
    for (int f = 0; f < size; ++f) {
        coefficients[f] = c.F(8 + f % 4);
        frames[f] = c.P(kFirstFrame + f % distinct);
        pitches[f] = static_cast<int>(c.buf[kFirstFrame + f % distinct].pitch);
    }
    const long long flags = c.v[12];
    if (flags & kDstInWindow) {
        frames[size - 1] = c.P(0);
        pitches[size - 1] = c.I(5);
    }
    const auto slot = alpha ? &FuncSet::NonLocalMeans_C32A : &FuncSet::NonLocalMeans_C32;
    const int status = (fs->*slot)(c.I(0), c.I(1), c.I(2), c.I(3), c.I(4),
                                   flags & kNullCoefficients ? nullptr : coefficients.data(), c.P(0), c.I(5),
                                   flags & kNullFrames ? nullptr : frames.data(),
                                   flags & kNullPitches ? nullptr : pitches.data(), c.P(1), c.I(6));
    ClearBlock(c, 1);
    return status;
}

const SlotRegistration kDenoiseSlots({
    {"MultiFrameSimilarityAverage_C32", 46, BuildMultiFrame, RunMultiFrame, 0},
    {"MultiFrameSimilarityAverage_C32A", 47, BuildMultiFrame, RunMultiFrame, 1},
    {"MultiFrameSimilarityAverage_YUV32", 48, BuildMultiFrame, RunMultiFrame, 2},
    {"MultiFrameSimilarityAverage_YUV32A", 49, BuildMultiFrame, RunMultiFrame, 3},
    {"NonLocalMeans_C32", 53, BuildNonLocalMeans, RunNonLocalMeans, 0},
    {"NonLocalMeans_C32A", 54, BuildNonLocalMeans, RunNonLocalMeans, 1},
});

}  // namespace
}  // namespace tvf2hard
