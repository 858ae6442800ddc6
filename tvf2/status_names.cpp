#include "status_names.h"

namespace tvf2 {
namespace {

struct StatusName {
    int status;
    const char* name;
};

// The CUDA 6.0 runtime's error codes, named after their enumerators.
constexpr StatusName kNames[] = {
    {0, "success"},
    {1, "missing configuration"},
    {2, "memory allocation"},
    {3, "initialization error"},
    {4, "launch failure"},
    {5, "prior launch failure"},
    {6, "launch timeout"},
    {7, "launch out of resources"},
    {8, "invalid device function"},
    {9, "invalid configuration"},
    {10, "invalid device"},
    {11, "invalid value"},
    {12, "invalid pitch value"},
    {13, "invalid symbol"},
    {14, "map buffer object failed"},
    {15, "unmap buffer object failed"},
    {16, "invalid host pointer"},
    {17, "invalid device pointer"},
    {18, "invalid texture"},
    {19, "invalid texture binding"},
    {20, "invalid channel descriptor"},
    {21, "invalid memcpy direction"},
    {22, "address of constant"},
    {23, "texture fetch failed"},
    {24, "texture not bound"},
    {25, "synchronization error"},
    {26, "invalid filter setting"},
    {27, "invalid norm setting"},
    {28, "mixed device execution"},
    {29, "cudart unloading"},
    {30, "unknown error"},
    {31, "not yet implemented"},
    {32, "memory value too large"},
    {33, "invalid resource handle"},
    {34, "not ready"},
    {35, "insufficient driver"},
    {36, "set on active process"},
    {37, "invalid surface"},
    {38, "no device"},
    {39, "ECC uncorrectable"},
    {40, "shared object symbol not found"},
    {41, "shared object init failed"},
    {42, "unsupported limit"},
    {43, "duplicate variable name"},
    {44, "duplicate texture name"},
    {45, "duplicate surface name"},
    {46, "devices unavailable"},
    {47, "invalid kernel image"},
    {48, "no kernel image for device"},
    {49, "incompatible driver context"},
    {50, "peer access already enabled"},
    {51, "peer access not enabled"},
    {54, "device already in use"},
    {55, "profiler disabled"},
    {56, "profiler not initialized"},
    {57, "profiler already started"},
    {58, "profiler already stopped"},
    {59, "assert"},
    {60, "too many peers"},
    {61, "host memory already registered"},
    {62, "host memory not registered"},
    {63, "operating system"},
    {64, "peer access unsupported"},
    {65, "launch max depth exceeded"},
    {66, "launch file scoped tex"},
    {67, "launch file scoped surf"},
    {68, "sync depth exceeded"},
    {69, "launch pending count exceeded"},
    {70, "not permitted"},
    {71, "not supported"},
    {72, "hardware stack error"},
    {73, "illegal instruction"},
    {74, "misaligned address"},
    {75, "invalid address space"},
    {76, "invalid pc"},
    {77, "illegal address"},
    {127, "startup failure"},
    {10000, "API failure base"},
};

}  // namespace

const char* HostStatusName(int status) {
    for (const StatusName& n : kNames)
        if (n.status == status) return n.name;
    return "unrecognised status";
}

std::string ModuleStatusMessage(int status, const char* slot) {
    return "module returned status " + std::to_string(status) + " (" + HostStatusName(status) +
           ") from " + slot;
}

}  // namespace tvf2
