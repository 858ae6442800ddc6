// Fuzz target: tvf2's PNG reader. Any input gives a picture or a Failure with one clear
// line; no crash, no sanitizer report, and memory bounded by what the file can hold.
#include "parser_input.h"

#include "tvf2/errors.h"
#include "tvf2/file_io.h"
#include "tvf2/png_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvf2hard::MemoryFile file(data, size);
    try {
        tvf2::InputFile in(file.Path());
        const tvf2::Image img = tvf2::ReadPng(in);
        if (img.data.size() != img.RowBytes() * static_cast<size_t>(img.height)) std::abort();
    } catch (const tvf2::Error& e) {
        tvf2hard::CheckMessage(e.what());
    }
    return 0;
}
