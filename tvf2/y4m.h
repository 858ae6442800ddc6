// YUV4MPEG2 streams: a header line, then frames, each a "FRAME" line followed by the
// planes Y, Cb (U), Cr (V) with no padding.
//
// tvf2 reads 8-bit 4:4:4, 4:2:2 and 4:2:0 (tags C444, C422, C420jpeg, C420mpeg2,
// C420paldv, C420; no C tag means C420jpeg) and writes a stream back with the same
// header and the same FRAME lines. Chroma planes of an odd-sized frame are rounded up:
// (W + 1) / 2 columns for 4:2:2 and 4:2:0, (H + 1) / 2 rows for 4:2:0.
#ifndef TVF2_TOOL_Y4M_H
#define TVF2_TOOL_Y4M_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvf2 {

class InputFile;
class OutputFile;

enum class Chroma { C444, C422, C420 };

struct Y4mHeader {
    int width = 0, height = 0;
    Chroma chroma = Chroma::C420;
    std::string params;  // everything after "YUV4MPEG2", written back unchanged

    int ChromaWidth() const { return chroma == Chroma::C444 ? width : (width + 1) / 2; }
    int ChromaHeight() const { return chroma == Chroma::C420 ? (height + 1) / 2 : height; }
    size_t LumaBytes() const { return static_cast<size_t>(width) * height; }
    size_t ChromaBytes() const { return static_cast<size_t>(ChromaWidth()) * ChromaHeight(); }
    size_t FrameBytes() const { return LumaBytes() + 2 * ChromaBytes(); }
};

// Parses the parameters of a header line (" W640 H480 F25:1 C420jpeg ..."). Throws
// Failure naming `source` for a malformed or unsupported header.
Y4mHeader ParseY4mParams(const std::string& params, const std::string& source);

struct Y4mFrame {
    std::string params;         // the FRAME line after "FRAME", usually empty
    std::vector<uint8_t> data;  // Y plane, then U, then V

    uint8_t* Y() { return data.data(); }
    uint8_t* U(const Y4mHeader& h) { return data.data() + h.LumaBytes(); }
    uint8_t* V(const Y4mHeader& h) { return data.data() + h.LumaBytes() + h.ChromaBytes(); }
    const uint8_t* Y() const { return data.data(); }
    const uint8_t* U(const Y4mHeader& h) const { return data.data() + h.LumaBytes(); }
    const uint8_t* V(const Y4mHeader& h) const {
        return data.data() + h.LumaBytes() + h.ChromaBytes();
    }
};

// True when the bytes start a YUV4MPEG2 stream.
bool IsY4mSignature(const unsigned char* bytes, size_t n);

class Y4mReader {
public:
    // Reads and checks the header. Throws Failure.
    explicit Y4mReader(InputFile& in);
    const Y4mHeader& Header() const { return header_; }
    // Frames in the rest of the input, when it is a regular file; -1 if unknown. An
    // estimate (frames with FRAME parameters make it a little high).
    long long EstimatedFrames() const;
    // Reads the next frame; false at the end of the stream. Throws Failure for a
    // malformed or truncated frame.
    bool ReadFrame(Y4mFrame& frame);

private:
    InputFile& in_;
    Y4mHeader header_;
    size_t headerBytes_ = 0;
    long long frames_ = 0;
};

class Y4mWriter {
public:
    // Writes the header line ("YUV4MPEG2" + header.params).
    Y4mWriter(OutputFile& out, const Y4mHeader& header);
    void WriteFrame(const Y4mFrame& frame);

private:
    OutputFile& out_;
    Y4mHeader header_;
};

}  // namespace tvf2

#endif
