// Hardening entries of the warp family: edge-gradient displacement (16, 17) and the
// per-row wave offset (18).
#include "slot_table.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tvf2hard {
namespace {

// Scalars that do not fit c.v[] one each travel two to a slot.
long long Pack(int lo, int hi) {
    return static_cast<long long>(static_cast<uint64_t>(static_cast<uint32_t>(lo)) |
                                  static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32);
}
int Lo(long long v) { return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
int Hi(long long v) { return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32)); }

long long DoubleBits(double x) {
    long long v;
    std::memcpy(&v, &x, 8);
    return v;
}
double BitsDouble(long long v) {
    double x;
    std::memcpy(&x, &v, 8);
    return x;
}

uint64_t Bits64(Draw& d) { return static_cast<uint64_t>(d.Bits()) << 32 | d.Bits(); }

// A double in [lo, hi] when seeded; decoded from fuzz bytes, sometimes NaN, infinities,
// values beyond single precision (huge, or too small to be anything but 0 there),
// negative zero, the range's negation or raw bits.
double Double(Draw& d, double lo, double hi) {
    if (!d.Fuzzing()) return lo + (hi - lo) * (d.Bits() * (1.0 / 4294967296.0));
    const unsigned k = static_cast<unsigned>(d.Int(0, 16)) % 17;
    if (k < 9) return lo + (hi - lo) * (d.Bits() * (1.0 / 4294967296.0));
    const double edges[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e300, -1e39, 4.9e-324, -0.0};
    if (k < 16) return edges[k - 9];
    return BitsDouble(static_cast<long long>(Bits64(d)));
}

// A frame index from anywhere in the 64-bit range: small ones, edges, and any bits.
long long FrameIndex(Draw& d) {
    switch (static_cast<unsigned>(d.Int(0, 3)) % 4) {
    case 0: return d.Int(0, 1000);
    case 1: return -static_cast<long long>(d.Int(0, 1000));
    case 2: {
        const long long edges[] = {LLONG_MIN, LLONG_MAX, (1LL << 24) + 1, (1LL << 53) + 1, -(1LL << 31), INT_MAX + 1LL};
        return edges[static_cast<unsigned>(d.Int(0, 5)) % 6];
    }
    default: return static_cast<long long>(Bits64(d));
    }
}

// Edge-gradient displacement (16, 17): variant 0 C32 (16-bit edge source), 1 C32A
// (32-bit edge source). The map is written row by row (the smoothed edge map is left in
// it); the temporary is a work area the slot clears as a whole.
void BuildDisplace(Draw& d, Call& c, int alpha) {
    int w = d.Int(1, 24), h = d.Int(1, 24);
    if (!d.Fuzzing()) {  // a frame 3 wide or high with an interior pixel is refused
        if (w == 3 && h >= 3) w = 4;
        if (h == 3 && w >= 3) h = 5;
    }
    c.Extent(w, h);
    const long long W = w;
    const int sampleAlign = w % 2 == 0 ? 4 : 2;
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4 * W, 4);                                // dst
    c.v[3] = d.Pitch(2 * W, sampleAlign);                      // map
    c.v[4] = d.Pitch(2 * W, sampleAlign);                      // tmp
    c.v[5] = d.Pitch(4 * W, 4);                                // src
    c.v[6] = alpha ? d.Pitch(4 * W, 4) : d.Pitch(2 * W, sampleAlign);  // edge source
    c.v[7] = d.Int(-16, 400);                                  // edge limit
    c.v[8] = d.Int(0, 4);                                      // iterations
    c.v[9] = d.Int(0, 7) == 0 ? d.Int(-200000, 200000) : d.Int(-4096, 4096);  // strength
    const float a = d.Float(-1.5f, 0.5f);                      // cubic parameter
    uint32_t bits;
    std::memcpy(&bits, &a, 4);
    c.v[10] = bits;
    // Each iteration is two passes over the frame: many of them are checked up to their
    // first launch only, as a huge frame is.
    if (c.v[8] > 16) c.heavy = true;
    c.AddFrame(d, "dst", 4 * W, h, c.v[2], true);
    c.AddFrame(d, "map", 2 * W, h, c.v[3], true);
    c.buf.back().scratch = true;
    c.AddScratch(d, "tmp", Span(2 * W, h, c.v[4]));
    c.AddFrame(d, "src", 4 * W, h, c.v[5]);
    c.AddFrame(d, "edgeSrc", (alpha ? 4 : 2) * W, h, c.v[6]);
}

int RunDisplace(FuncSet* fs, Call& c, int alpha) {
    return (fs->*(alpha ? &FuncSet::DisplaceByEdgeGradient_C32A : &FuncSet::DisplaceByEdgeGradient_C32))(
        c.P(0), c.I(2), c.P(1), c.I(3), c.P(2), c.I(4), c.P(3), c.I(5), c.P(4), c.I(6), c.I(0), c.I(1), c.I(7),
        c.I(8), c.I(9), c.F(10));
}

// Per-row wave offset (18). v: 0 w|h, 1 dst pitch, 2 src pitch, 3 frame index, 4 frame
// rate, 5 flags|shape 3, 6 shape 1|shape 2, 7-15 wavelength, speed, amplitude of each
// wave (doubles as their bits). Flags: whole frame, even rows first, in place, enables.
void BuildRowWave(Draw& d, Call& c, int) {
    const int w = d.Int(1, 32), h = d.Int(1, 32);
    c.Extent(w, h);
    const bool inPlace = d.Int(0, 3) == 0;
    const int dstPitch = d.Pitch(4LL * w, 4);
    const int srcPitch = inPlace ? dstPitch : d.Pitch(4LL * w, 4);  // the same frame: one pitch
    c.v[0] = Pack(w, h);
    c.v[1] = dstPitch;
    c.v[2] = srcPitch;
    c.v[3] = FrameIndex(d);
    // Any positive rate is accepted; some round to 0 or infinity in single precision.
    c.v[4] = DoubleBits(d.Int(0, 7) == 0 ? (d.Bool() ? 1e-300 : 1e300) : Double(d, 1.0, 120.0));
    int flags = d.Bool() | d.Bool() << 1 | inPlace << 2;
    int shapes[3];
    for (int k = 0; k < 3; ++k) {
        flags |= d.Bool() << (3 + k);
        shapes[k] = d.Int(0, 4);
        c.v[7 + 3 * k] = DoubleBits(Double(d, -2.0, 2.0));       // wavelength
        c.v[8 + 3 * k] = DoubleBits(Double(d, -4.0, 4.0));       // speed
        c.v[9 + 3 * k] = DoubleBits(Double(d, -300.0, 300.0));   // amplitude
    }
    c.v[5] = Pack(flags, shapes[2]);
    c.v[6] = Pack(shapes[0], shapes[1]);
    c.AddFrame(d, "dst", 4LL * w, h, dstPitch, true);
    c.AddFrame(d, "src", 4LL * w, h, srcPitch);
}

int RunRowWave(FuncSet* fs, Call& c, int) {
    const int flags = Lo(c.v[5]);
    const int shapes[3] = {Lo(c.v[6]), Hi(c.v[6]), Hi(c.v[5])};
    auto D = [&](int i) { return BitsDouble(c.v[i]); };
    auto on = [&](int k) { return (flags >> (3 + k) & 1) != 0; };
    const void* src = flags & 4 ? c.P(0) : c.P(1);
    return fs->RowWaveOffset_C32(Lo(c.v[0]), Hi(c.v[0]), c.P(0), c.I(1), src, c.I(2), static_cast<int64_t>(c.v[3]),
                                 D(4), (flags & 1) != 0, (flags & 2) != 0,
                                 on(0), shapes[0], D(7), D(8), D(9),
                                 on(1), shapes[1], D(10), D(11), D(12),
                                 on(2), shapes[2], D(13), D(14), D(15));
}

}  // namespace

const SlotRegistration kWarpSlots({
    {"DisplaceByEdgeGradient_C32", 16, BuildDisplace, RunDisplace, 0},
    {"DisplaceByEdgeGradient_C32A", 17, BuildDisplace, RunDisplace, 1},
    {"RowWaveOffset_C32", 18, BuildRowWave, RunRowWave, 0},
});

}  // namespace tvf2hard
