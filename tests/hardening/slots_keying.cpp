// The keying family in the hardening table: middle-channel shift (4), blend toward a
// colour (21), the two key masks (22, 23), key-chroma suppression (24) and the six mask
// combinations (25-30). Every slot works in place or writes a mask; the float
// parameters are drawn over ranges that give sensible frames when seeded, and NaN,
// infinities and huge values when fuzzed.
#include "slot_table.h"

#include <climits>
#include <cstring>

namespace tvf2hard {
namespace {

int ToInt(long long v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v); }

long long FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// Width and height: a few tens of pixels when seeded.
void DrawSize(Draw& d, Call& c, int& w, int& h) {
    w = d.Int(1, 24);
    h = d.Int(1, 12);
    c.Extent(w, h);
}

// Middle-channel shift (4). Variant 1 keeps the pitch above the shared-memory budget, so
// that the row buffer is a device temporary (the failure-injection test then fails its
// allocation); variant 0 takes such a pitch now and then.
constexpr int kSharedBudget = 12288;  // the launcher's budget, in bytes of pitch

void BuildShift(Draw& d, Call& c, int variant) {
    int w, h;
    DrawSize(d, c, w, h);
    c.v[0] = w; c.v[1] = h;
    const bool wide = variant == 1 || d.Int(0, 3) == 0;
    c.v[2] = wide ? ToInt(4LL * d.Int(kSharedBudget / 4 + 1, kSharedBudget / 4 + 200)) : d.Pitch(4LL * w, 4);
    // Shifts in half pixels: within and beyond the row (the edge pixels repeat).
    c.v[3] = d.Int(-2 * w - 4, 2 * w + 4);
    c.v[4] = d.Bool() ? c.v[3] : d.Int(-2 * w - 4, 2 * w + 4);  // equal shifts: one pass
    c.AddFrame(d, "frame", 4LL * w, h, c.v[2], true);
}

int RunShift(FuncSet* fs, Call& c, int) {
    return fs->ShiftMiddleChannels_C32(c.I(0), c.I(1), c.P(0), c.I(2), c.I(3), c.I(4));
}

// Blend toward a colour (21): alpha beyond 0..1 wraps the bytes, which is defined.
void BuildBlend(Draw& d, Call& c, int) {
    int w, h;
    DrawSize(d, c, w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4LL * w, 4);
    c.v[3] = static_cast<int>(d.Bits());
    c.v[4] = FloatBits(d.Float(-0.5f, 1.5f));
    c.AddFrame(d, "frame", 4LL * w, h, c.v[2], true);
}

int RunBlend(FuncSet* fs, Call& c, int) {
    return fs->BlendToColour_C32(c.I(0), c.I(1), c.P(0), c.I(2), c.I(3), c.F(4));
}

// Key masks (22, 23): variant 0 product rule, 1 gated rule. Exponents on both sides of 1
// (linear and power terms); scales that give masks between 0 and 255.
void BuildKeyMask(Draw& d, Call& c, int) {
    int w, h;
    DrawSize(d, c, w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = FloatBits(d.Float(-1e6f, 1e6f));  // reserved: never read
    c.v[3] = FloatBits(d.Float(0.0f, 3.0f));   // e
    c.v[4] = FloatBits(d.Float(0.0f, 255.0f)); // key Y
    c.v[5] = FloatBits(d.Float(-128.0f, 127.0f));
    c.v[6] = FloatBits(d.Float(-128.0f, 127.0f));
    c.v[7] = FloatBits(d.Float(0.0f, 0.05f));   // linear scale
    c.v[8] = FloatBits(d.Float(0.0f, 2.0f));    // luma weight
    c.v[9] = FloatBits(d.Float(0.0f, 1e-3f));   // power scale
    c.v[10] = d.Pitch(4LL * w, 4);
    c.v[11] = d.Pitch(w, 1);  // mask rows are bytes: any pitch of at least a row
    c.AddFrame(d, "src", 4LL * w, h, c.v[10]);
    c.AddFrame(d, "mask", w, h, c.v[11], true);
}

int RunKeyMask(FuncSet* fs, Call& c, int gated) {
    return (fs->*(gated ? &FuncSet::KeyMaskGated_YUV32 : &FuncSet::KeyMaskProduct_YUV32))(
        c.I(0), c.I(1), c.F(2), c.F(3), c.F(4), c.F(5), c.F(6), c.F(7), c.F(8), c.F(9), c.P(0), c.I(10),
        c.P(1), c.I(11));
}

// Key-chroma suppression (24).
void BuildSuppress(Draw& d, Call& c, int) {
    int w, h;
    DrawSize(d, c, w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = FloatBits(d.Float(0.0f, 200.0f));  // radius
    c.v[3] = FloatBits(d.Float(-128.0f, 127.0f));
    c.v[4] = FloatBits(d.Float(-128.0f, 127.0f));
    c.v[5] = FloatBits(d.Float(0.0f, 0.02f));
    c.v[6] = FloatBits(d.Float(0.0f, 0.02f));
    c.v[7] = d.Bool();
    c.v[8] = d.Pitch(4LL * w, 4);
    c.AddFrame(d, "frame", 4LL * w, h, c.v[8], true);
}

int RunSuppress(FuncSet* fs, Call& c, int) {
    return fs->SuppressKeyChroma_YUV32(c.I(0), c.I(1), c.F(2), c.F(3), c.F(4), c.F(5), c.F(6), c.v[7] != 0,
                                       c.P(0), c.I(8));
}

// Mask combinations (25-30): variant = the slot's position from 25.
void BuildMaskApply(Draw& d, Call& c, int) {
    int w, h;
    DrawSize(d, c, w, h);
    c.v[0] = w; c.v[1] = h;
    c.v[2] = d.Pitch(4LL * w, 4);
    c.v[3] = d.Pitch(w, 1);
    c.AddFrame(d, "frame", 4LL * w, h, c.v[2], true);
    c.AddFrame(d, "mask", w, h, c.v[3]);
}

int RunMaskApply(FuncSet* fs, Call& c, int op) {
    static const decltype(&FuncSet::ShowMask_YUV32A) slots[] = {
        &FuncSet::MultiplyAlphaByMask_YUV32A, &FuncSet::MultiplyAlphaByInverseMask_YUV32A,
        &FuncSet::ShowMask_YUV32A,            &FuncSet::ShowInverseMask_YUV32A,
        &FuncSet::FadeChromaByMask_YUV32,     &FuncSet::FadeChromaByInverseMask_YUV32};
    return (fs->*slots[op])(c.I(0), c.I(1), c.P(0), c.I(2), c.P(1), c.I(3));
}

// The wide-row entry comes second: a fuzz input naming slot 4 picks the first.
const SlotRegistration kKeyingSlots({
    {"ShiftMiddleChannels_C32", 4, BuildShift, RunShift, 0},
    {"ShiftMiddleChannels_C32 (wide rows)", 4, BuildShift, RunShift, 1},
    {"BlendToColour_C32", 21, BuildBlend, RunBlend, 0},
    {"KeyMaskProduct_YUV32", 22, BuildKeyMask, RunKeyMask, 0},
    {"KeyMaskGated_YUV32", 23, BuildKeyMask, RunKeyMask, 1},
    {"SuppressKeyChroma_YUV32", 24, BuildSuppress, RunSuppress, 0},
    {"MultiplyAlphaByMask_YUV32A", 25, BuildMaskApply, RunMaskApply, 0},
    {"MultiplyAlphaByInverseMask_YUV32A", 26, BuildMaskApply, RunMaskApply, 1},
    {"ShowMask_YUV32A", 27, BuildMaskApply, RunMaskApply, 2},
    {"ShowInverseMask_YUV32A", 28, BuildMaskApply, RunMaskApply, 3},
    {"FadeChromaByMask_YUV32", 29, BuildMaskApply, RunMaskApply, 4},
    {"FadeChromaByInverseMask_YUV32", 30, BuildMaskApply, RunMaskApply, 5},
});

}  // namespace
}  // namespace tvf2hard
