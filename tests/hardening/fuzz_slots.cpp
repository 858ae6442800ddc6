// Fuzz target: one input is one slot call (slot_table.h decodes it). Aborts with the
// broken invariant; the sanitizers report any access outside the call's buffers.
#include "slot_table.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tvf2hard::FuncSet* fs = [] {
        tvf2hard::FuncSet* f = nullptr;
        GetFuncSet(&f);
        std::atexit([] {
            const tvf2hard::Stats& s = tvf2hard::FuzzStats();
            std::fprintf(stderr, "slot fuzz: %lld inputs: %lld ran, %lld refused, %lld outside the contract\n",
                         s.inputs, s.ran, s.refused, s.outsideContract);
        });
        return f;
    }();
    const std::string problem = tvf2hard::CheckFuzzInput(fs, data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "slot fuzz: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
