// Hardening entries for neighbourhood sharpening and edge boost (12-15) and thresholded
// detail addition (55-58).
//
// Both families refuse frames that share memory (the sharpening reads neighbours from
// the source while writing the destination; the detail addition allows exactly one
// sharing: the destination being the source, same pitch). The harness allocates every
// buffer on its own, so the builders draw, in fuzz mode, an overlap of their own: one
// frame's pointer is moved into another frame's span, the buffer it replaces is left
// unused, and the runner checks that the slot refused (a status of 0, or any status but
// the refusal, comes back as an undocumented status). Seeded draws use no overlap (the
// detail addition: sometimes exactly in place, which it runs).
#include "slot_table.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace tvf2hard {
namespace {

// What the runner reports for an overlap the slot did not refuse with invalid value.
constexpr int kOverlapAccepted = 1000;
constexpr int kInvalidValue = 11;

// Overlaps drawn in fuzz mode (scalar v[kOverlap], offset into the span at v[kDelta]).
enum Overlap {
    kNone = 0,
    kSrcIsDst,      // src = dst (detail: in place when the pitches match, else refused)
    kSrcInDst,      // src = dst + delta, inside dst's span
    kDstInSrc,      // dst = src + delta, inside src's span
    kDetailInDst,   // detail = dst + delta (detail addition only)
    kOverlapKinds
};

// Bytes from a frame's first byte to its last pixel's end, 0 when it has no pixel or its
// pitch is too short to say (the slot refuses such a frame anyway).
long long FrameBytes(long long w, long long h, long long bytesPerPixel, long long pitch) {
    if (w < 1 || h < 1 || pitch < w * bytesPerPixel) return 0;
    return (h - 1) * pitch + w * bytesPerPixel;
}

// Draws an overlap (fuzz mode only) and the offset into the span of the frame that is
// shared; the replaced buffer is kept small and valid (unused, so it cannot take the
// call outside the contract).
void DrawOverlap(Draw& d, Call& c, int kOverlap, int kinds, long long spanDst, long long spanSrc) {
    c.v[kOverlap] = kNone;
    c.v[kOverlap + 1] = 0;
    if (!d.Fuzzing() || d.Int(0, 3) != 0) return;
    const int mode = 1 + static_cast<int>(d.Bits() % static_cast<uint32_t>(kinds - 1));
    const long long span = mode == kDstInSrc ? spanSrc : spanDst;
    c.v[kOverlap] = mode;
    long long delta = span > 0 ? static_cast<long long>(d.Bits() % static_cast<uint64_t>(span)) : 0;
    if (d.Bool()) delta -= delta % 8;  // aligned for every sample size: refused for the overlap alone
    // A frame moved by 0 is the other frame itself: that is src = dst, with the buffer
    // the slot then writes being the one the harness watches.
    if (delta == 0 && (mode == kSrcInDst || mode == kDstInSrc)) c.v[kOverlap] = kSrcIsDst;
    c.v[kOverlap + 1] = delta;
}

void Unused(Buffer& b) {
    b.kind = PtrKind::Valid;
    b.need = 0;
}

// --- sharpening and edge boost: variant 0 Laplacian C32, 1 Laplacian C32A, 2 edge C32,
// 3 edge C32A. v: w, h, amount, dstPitch, srcPitch, overlap, delta.

void BuildSharpen(Draw& d, Call& c, int) {
    const int w = d.Int(1, 24), h = d.Int(1, 24);
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h;
    // Amounts far beyond the useful range too: the products wrap, defined either way.
    c.v[2] = d.Int(0, 7) == 0 ? static_cast<int>(d.Bits()) : d.Int(-1024, 2048);
    c.v[3] = d.Pitch(4LL * w, 4);
    c.v[4] = d.Pitch(4LL * w, 4);
    const int dst = c.AddFrame(d, "dst", 4LL * w, h, c.v[3], true);
    const int src = c.AddFrame(d, "src", 4LL * w, h, c.v[4]);
    DrawOverlap(d, c, 5, kDetailInDst, FrameBytes(w, h, 4, c.v[3]), FrameBytes(w, h, 4, c.v[4]));
    if (c.v[5] == kSrcIsDst || c.v[5] == kSrcInDst) Unused(c.buf[src]);
    if (c.v[5] == kDstInSrc) Unused(c.buf[dst]);
}

int RunSharpen(FuncSet* fs, Call& c, int kind) {
    static const decltype(&FuncSet::SharpenLaplacian_C32) slots[] = {
        &FuncSet::SharpenLaplacian_C32, &FuncSet::SharpenLaplacian_C32A, &FuncSet::AddEdgeMagnitude_C32,
        &FuncSet::AddEdgeMagnitude_C32A};
    uint8_t* dst = static_cast<uint8_t*>(c.P(0));
    const uint8_t* src = static_cast<const uint8_t*>(c.P(1));
    const long long mode = c.v[5], delta = c.v[6];
    if (mode == kSrcIsDst) src = dst;
    if (mode == kSrcInDst) src = dst ? dst + delta : nullptr;
    if (mode == kDstInSrc) dst = src ? const_cast<uint8_t*>(src) + delta : nullptr;
    const int status = (fs->*slots[kind])(c.I(0), c.I(1), c.I(2), dst, c.I(3), src, c.I(4));
    // Frames with a pixel that share memory are refused (null ones too: that also is
    // invalid value).
    const bool mustRefuse = mode != kNone && c.v[0] >= 1 && c.v[1] >= 1;
    return mustRefuse && status != kInvalidValue ? kOverlapAccepted + status : status;
}

// --- detail addition: variant 0 C32, 1 C32 weighted, 2 C64, 3 C64 weighted.
// v: w, h, dstPitch, srcPitch, detailPitch, amount (bits), threshold, limit, overlap, delta.

void BuildDetail(Draw& d, Call& c, int variant) {
    const int bytes = variant >= 2 ? 8 : 4;
    const int w = d.Int(1, 24), h = d.Int(1, 24);
    c.Extent(w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(1LL * bytes * w, bytes);
    // In place (same pointer, same pitch) is a call the slot runs: seeded draws take it
    // now and then; fuzzed ones through the overlap below, pitches as drawn.
    const bool inPlace = !d.Fuzzing() && d.Int(0, 3) == 0;
    c.v[3] = inPlace ? c.v[2] : d.Pitch(1LL * bytes * w, bytes);
    c.v[4] = d.Pitch(8LL * w, 8);
    // The amount: ordinary gains, large ones (the fixed-point gain clamps) and, drawn in
    // fuzz mode, NaN, infinities and huge values.
    const float amount = d.Int(0, 7) == 0 ? d.Float(-100000.0f, 100000.0f) : d.Float(-4.0f, 4.0f);
    uint32_t bits;
    static_assert(sizeof bits == sizeof amount, "float bits");
    std::memcpy(&bits, &amount, 4);
    c.v[5] = bits;
    // Thresholds and limits over the whole 16-bit detail range and beyond.
    c.v[6] = d.Int(0, 7) == 0 ? static_cast<int>(d.Bits()) : d.Int(-40000, 40000);
    c.v[7] = d.Int(0, 7) == 0 ? static_cast<int>(d.Bits()) : d.Int(-1000, 70000);
    const int dst = c.AddFrame(d, "dst", 1LL * bytes * w, h, c.v[2], true);
    const int src = c.AddFrame(d, "src", 1LL * bytes * w, h, c.v[3]);
    const int detail = c.AddFrame(d, "detail", 8LL * w, h, c.v[4]);
    DrawOverlap(d, c, 8, kOverlapKinds, FrameBytes(w, h, bytes, c.v[2]), FrameBytes(w, h, bytes, c.v[3]));
    if (inPlace) c.v[8] = kSrcIsDst;
    if (c.v[8] == kSrcIsDst || c.v[8] == kSrcInDst) Unused(c.buf[src]);
    if (c.v[8] == kDstInSrc) Unused(c.buf[dst]);
    if (c.v[8] == kDetailInDst) Unused(c.buf[detail]);
}

int RunDetail(FuncSet* fs, Call& c, int variant) {
    static const decltype(&FuncSet::AddDetail_C32) slots[] = {&FuncSet::AddDetail_C32, &FuncSet::AddDetailWeighted_C32,
                                                              &FuncSet::AddDetail_C64, &FuncSet::AddDetailWeighted_C64};
    uint8_t* dst = static_cast<uint8_t*>(c.P(0));
    const uint8_t* src = static_cast<const uint8_t*>(c.P(1));
    const uint8_t* detail = static_cast<const uint8_t*>(c.P(2));
    const long long mode = c.v[8], delta = c.v[9];
    if (mode == kSrcIsDst) src = dst;
    if (mode == kSrcInDst) src = dst ? dst + delta : nullptr;
    if (mode == kDstInSrc) dst = src ? const_cast<uint8_t*>(src) + delta : nullptr;
    if (mode == kDetailInDst) detail = dst ? dst + delta : nullptr;
    const int status = (fs->*slots[variant])(c.I(0), c.I(1), dst, c.I(2), src, c.I(3), detail, c.I(4), c.F(5),
                                             c.I(6), c.I(7));
    // Exactly in place is the one sharing allowed (an overlap drawn at offset 0 is one
    // too); every other one is refused.
    const bool allowed = src == dst && c.v[2] == c.v[3];
    const bool mustRefuse = mode != kNone && !allowed && c.v[0] >= 1 && c.v[1] >= 1;
    return mustRefuse && status != kInvalidValue ? kOverlapAccepted + status : status;
}

const SlotRegistration kSharpenSlots({
    {"SharpenLaplacian_C32", 12, BuildSharpen, RunSharpen, 0},
    {"SharpenLaplacian_C32A", 13, BuildSharpen, RunSharpen, 1},
    {"AddEdgeMagnitude_C32", 14, BuildSharpen, RunSharpen, 2},
    {"AddEdgeMagnitude_C32A", 15, BuildSharpen, RunSharpen, 3},
    {"AddDetail_C32", 55, BuildDetail, RunDetail, 0},
    {"AddDetailWeighted_C32", 56, BuildDetail, RunDetail, 1},
    {"AddDetail_C64", 57, BuildDetail, RunDetail, 2},
    {"AddDetailWeighted_C64", 58, BuildDetail, RunDetail, 3},
});

}  // namespace
}  // namespace tvf2hard
