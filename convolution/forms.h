// How the separable passes choose their kernel form. Every pass has up to three forms
// with identical results that differ only in shared memory: none (samples and weights
// from global memory), one ring of 2R+1 samples per thread, or the rings plus the whole
// weight table. A launcher takes the largest form whose dynamic shared memory stays
// strictly below the budget.
#ifndef TVF2_CONVOLUTION_FORMS_H
#define TVF2_CONVOLUTION_FORMS_H

namespace tvf2 {

enum class ConvForm { Global, Ring, RingTable };

namespace conv {

using Form = ConvForm;

constexpr int kLineThreads = 64;  // threads, one line each, per block
constexpr long long kSharedBudget = 12288;

// Bytes of 64 rings of 2R+1 slots of slotBytes each; 64-bit, so no radius wraps.
constexpr long long RingBytes(int radius, int slotBytes) {
    return static_cast<long long>(kLineThreads) * (2LL * radius + 1) * slotBytes;
}

// Rings and table when both fit, rings alone when they fit, else no shared memory.
// withRing = false for a pass that has no rings-only form (it falls to Global).
inline ConvForm PickForm(long long ringBytes, long long count, bool withRing = true) {
    if (ringBytes + 4 * count < kSharedBudget) return ConvForm::RingTable;
    if (withRing && ringBytes < kSharedBudget) return ConvForm::Ring;
    return ConvForm::Global;
}

// Dynamic shared bytes of a form: the table (count floats) first, then the rings.
inline unsigned SharedBytes(ConvForm f, long long ringBytes, long long count) {
    if (f == ConvForm::RingTable) return static_cast<unsigned>(ringBytes + 4 * count);
    if (f == ConvForm::Ring) return static_cast<unsigned>(ringBytes);
    return 0;
}

}  // namespace conv
}  // namespace tvf2

#endif
