// Fuzz target: tvf2's YUV4MPEG2 reader (header, then up to four frames). Any input gives
// frames or a Failure with one clear line; a header claiming a huge frame over a short
// input fails without allocating the frame.
#include "parser_input.h"

#include "tvf2/errors.h"
#include "tvf2/file_io.h"
#include "tvf2/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvf2hard::MemoryFile file(data, size);
    try {
        tvf2::InputFile in(file.Path());
        tvf2::Y4mReader reader(in);
        tvf2::Y4mFrame frame;
        for (int i = 0; i < 4 && reader.ReadFrame(frame); ++i)
            if (frame.data.size() != reader.Header().FrameBytes()) std::abort();
    } catch (const tvf2::Error& e) {
        tvf2hard::CheckMessage(e.what());
    }
    return 0;
}
