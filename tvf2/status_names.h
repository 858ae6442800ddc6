// Names of the statuses the module returns. Every slot answers in the CUDA 6.0
// numbering (the numbering the original host was built against), so the names here
// are those of that runtime, in words: 11 -> "invalid value".
#ifndef TVF2_TOOL_STATUS_NAMES_H
#define TVF2_TOOL_STATUS_NAMES_H

#include <string>

namespace tvf2 {

// "invalid value" for 11; "unrecognised status" for a number outside the table.
const char* HostStatusName(int status);

// "module returned status 11 (invalid value) from Mosaic_C32"
std::string ModuleStatusMessage(int status, const char* slot);

}  // namespace tvf2

#endif
