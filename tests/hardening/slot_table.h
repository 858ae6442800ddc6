// Every slot as the hardening harnesses drive it: one table, shared by the slot fuzzer
// (and its corpus replay), the concurrency test, the failure-injection test and the
// load/unload test.
//
// HOW TO ADD A SLOT (nothing else in the harnesses changes):
//   1. Write its family's builder, in slot_table.cpp or in a file of its own named
//      slots_<family>.cpp beside it (picked up by the build):
//        void BuildFoo(Draw& d, Call& c, int variant)
//      It draws every argument from `d` (d.Int, d.Float, d.Bool, d.Pitch: within the
//      given ranges when the draw is seeded, edge values too when it decodes fuzz
//      bytes), stores the scalars in c.v[] (floats as their bits), calls
//      c.Extent(width, height) for each frame size, and adds one Buffer per pointer
//      argument, in the slot's order: AddFrame(d, role, rowBytes, rows, pitch, dest)
//      for frames (dest = true for what the slot writes), AddScratch for work areas it
//      may leave anything in, AddFloats for weight tables, AddLinear for other linear
//      memory, AddArray for a CUDA array. Each states the bytes the slot may touch if
//      it accepts the call (Span computes them), so the harness sizes the allocation
//      and tells in-contract calls from others.
//      A seeded draw must give a call the slot runs with status 0 (the concurrency and
//      failure-injection tests rely on it): frames of at least 1x1 and a few tens of
//      pixels at most (the CPU runtime emulates every GPU thread).
//   2. Write its runner, which calls the slot with c.P(i) (pointer of buffer i), c.A(i)
//      (array), c.I(k) / c.F(k) (scalar k) and returns its status:
//        int RunFoo(FuncSet* fs, Call& c, int variant)
//   3. Register {"Foo_C32", slot number, BuildFoo, RunFoo, variant}: in kSlots in
//      slot_table.cpp, or from its own file with one namespace-scope
//        const SlotRegistration kFooSlots({{"Foo_C32", 12, BuildFoo, RunFoo, 0}, ...});
//      Slots() lists every entry in slot order.
//   4. Add seed inputs: files in corpus/slots whose first byte is the slot's number
//      (a fuzz input picks the entry of the slot its first byte names, modulo 64), e.g.
//      for slot 25:
//        { printf '\031'; head -c 64 /dev/urandom; } > tests/hardening/corpus/slots/slot25-0
// Temporaries the slot allocates and texture objects it creates need nothing more:
// the failure-injection test finds every allocation, texture creation and launch a call
// makes.
#ifndef TVF2_TESTS_HARDENING_SLOT_TABLE_H
#define TVF2_TESTS_HARDENING_SLOT_TABLE_H

#include "module/TarvoVideoFilter2.h"

#include <cuda_runtime.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace tvf2hard {

typedef ICUDAKernelFuncSet_TarvoVideoFilter2 FuncSet;

// Where a pointer argument points.
enum class PtrKind {
    Valid,   // the start of an allocation that holds what the slot may touch
    Inside,  // inside a live allocation, that much before its end
    AtEnd,   // one past the end of a live allocation
    Freed,   // into an allocation freed before the call
    Null
};

// Argument values: from a seeded generator (always within the ranges given: calls a
// slot must accept) or decoded from fuzz bytes (sometimes edge values instead: 0, 1,
// -1, odd, INT_MIN, INT_MAX, NaN, infinities, and bad pointers).
class Draw {
public:
    explicit Draw(uint32_t seed) : rng_(seed) {}
    Draw(const uint8_t* data, size_t size) : data_(data), size_(size), fuzz_(true) {}
    bool Fuzzing() const { return fuzz_; }
    int Int(int lo, int hi);
    float Float(float lo, float hi);
    bool Bool();
    uint32_t Bits();
    // A pitch for rows of rowBytes, a multiple of `align` when valid.
    int Pitch(long long rowBytes, int align);
    PtrKind Pointer();

private:
    uint32_t Byte();
    std::mt19937 rng_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0, pos_ = 0;
    bool fuzz_ = false;
};

// Bytes that rows of rowBytes at `pitch` span: 0 for an empty frame, -1 when the slot
// must refuse them (negative or short pitch) or they are more than a harness allocates.
long long Span(long long rowBytes, long long rows, long long pitch);

struct Buffer {
    std::string role;
    bool array = false;  // a CUDA array of 4-byte texels instead of linear memory
    bool dest = false;   // the slot writes it (only within the frame's rows)
    bool scratch = false;  // a work area: the slot may leave anything in it, even on failure
    bool floats = false; // contents are floats in [lo, hi] (weight tables) when valid
    float lo = 0, hi = 1;
    long long need = 0;  // bytes the slot may touch if it accepts; -1: refusal expected
    long long rowBytes = 0, rows = 0, pitch = 0;  // the frame's rows (destinations)
    int arrayW = 0, arrayH = 0;
    PtrKind kind = PtrKind::Valid;
    size_t offset = 0;   // PtrKind::Inside: bytes before the pointer
    // Filled by the harness.
    void* base = nullptr;
    size_t bytes = 0;
    void* ptr = nullptr;
    cudaArray* arr = nullptr;
    bool released = false;  // the slot freed it (DeviceFree)
};

struct Call {
    std::vector<Buffer> buf;
    long long v[16] = {};  // scalar arguments, in the order the runner reads them
    uint32_t seed = 0;     // buffer contents
    bool heavy = false;    // see Extent

    // Builders report each frame size here. A frame larger than 4096 on a side (empty,
    // or beyond what the harness allocates) is checked only up to its launch: the CPU
    // runtime would emulate its billions of threads.
    void Extent(long long w, long long h) { heavy = heavy || w > 4096 || h > 4096; }
    void* P(int i) const { return buf[i].ptr; }
    cudaArray* A(int i) const { return buf[i].arr; }
    int I(int i) const { return static_cast<int>(v[i]); }
    float F(int i) const;  // v[i] holds the float's bits

    // Adders return the buffer's index. rowBytes/rows/pitch describe a frame.
    int AddFrame(Draw& d, const char* role, long long rowBytes, long long rows, long long pitch, bool dest = false);
    int AddLinear(Draw& d, const char* role, long long need, bool dest = false);
    int AddScratch(Draw& d, const char* role, long long need);  // a work area (see Buffer::scratch)
    int AddFloats(Draw& d, const char* role, long long count, float lo, float hi);
    int AddArray(Draw& d, const char* role, int width, int height);
};

struct SlotEntry {
    const char* name;
    int slot;
    void (*build)(Draw& d, Call& c, int variant);
    int (*run)(FuncSet* fs, Call& c, int variant);
    int variant;  // passed to build and run: the layout, for families of several slots
};

// Every registered entry, in slot order.
const std::vector<SlotEntry>& Slots();

// Adds entries to Slots() from a family's own file (a namespace-scope object; Slots()
// is first called after static initialisation).
struct SlotRegistration {
    explicit SlotRegistration(std::initializer_list<SlotEntry> entries);
};

// The entry a fuzz input's first byte names: the slot of that number (modulo 64), or
// for a number no slot has, the entry at that position modulo the table's size.
const SlotEntry& EntryForByte(uint8_t first);

// Statuses a slot may answer (host numbering) besides 0.
bool DocumentedStatus(int status);

// --- the harness around one call (slot_harness.cpp) ---

// Allocates and fills the call's buffers (with the runtime's API); false if an
// allocation failed. Release frees what is still live.
bool Allocate(Call& c);
void Release(Call& c);

// Linear buffers' bytes as they are now (freed ones: empty).
std::vector<std::vector<uint8_t>> Snapshot(const Call& c);

// Bytes that changed although the slot must not have written them: in any buffer but a
// work area when the status is not 0, outside the destinations' rows when it is (with
// `partial`, as after a failure in a later pass: outside the rows and work areas).
// "" when none.
std::string UnexpectedWrites(const Call& c, const std::vector<std::vector<uint8_t>>& before, int status,
                             bool partial = false);

// True when every pointer argument points into live memory that holds what the slot may
// touch (an odd offset included: a slot that accepts a pointer it cannot use aligned is
// caught by UndefinedBehaviorSanitizer), and no frame is huge: a call to run in full.
bool InContract(const Call& c);

// Fuzz inputs so far: all, run with status 0, refused with a documented status, and
// calls outside the contract that the slot would have launched (not run).
struct Stats {
    long long inputs = 0, ran = 0, refused = 0, outsideContract = 0;
};
Stats& FuzzStats();

// One fuzz input, decoded and checked: "" or what went wrong.
std::string CheckFuzzInput(FuncSet* fs, const uint8_t* data, size_t size);

}  // namespace tvf2hard

#endif
