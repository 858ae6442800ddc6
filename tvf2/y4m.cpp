#include "y4m.h"

#include "errors.h"
#include "file_io.h"
#include "image.h"

#include <cstring>
#include <sstream>

namespace tvf2 {
namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr size_t kMagicLength = sizeof kMagic - 1;
constexpr char kFrameMagic[] = "FRAME";
constexpr size_t kFrameMagicLength = sizeof kFrameMagic - 1;
// Longest header or FRAME line accepted: real ones are well under 100 bytes.
constexpr size_t kMaxLine = 4096;

enum class LineEnd { Newline, EndOfInput, TooLong };

// Reads up to and without the newline.
LineEnd ReadLine(InputFile& in, std::string* line) {
    line->clear();
    char c;
    while (in.Read(&c, 1) == 1) {
        if (c == '\n') return LineEnd::Newline;
        if (line->size() >= kMaxLine) return LineEnd::TooLong;
        line->push_back(c);
    }
    if (in.Failed()) throw Failure("cannot read " + in.Name() + ": " + in.ErrorText());
    return LineEnd::EndOfInput;
}

bool ParseDimension(const std::string& v, int* out) {
    if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *out = std::stoi(v);
    return *out > 0;
}

}  // namespace

bool IsY4mSignature(const unsigned char* bytes, size_t n) {
    return n >= kMagicLength && std::memcmp(bytes, kMagic, kMagicLength) == 0;
}

Y4mHeader ParseY4mParams(const std::string& params, const std::string& source) {
    Y4mHeader h;
    h.params = params;
    std::string colour = "420jpeg";  // the format's default
    std::istringstream tokens(params);
    std::string t;
    while (tokens >> t) {
        const std::string value = t.substr(1);
        switch (t[0]) {
        case 'W':
            if (!ParseDimension(value, &h.width))
                throw Failure(source + ": bad YUV4MPEG2 header: width '" + t + "'");
            break;
        case 'H':
            if (!ParseDimension(value, &h.height))
                throw Failure(source + ": bad YUV4MPEG2 header: height '" + t + "'");
            break;
        case 'C': colour = value; break;
        default: break;  // frame rate, interlacing, pixel shape, comments: kept, unused
        }
    }
    if (h.width == 0 || h.height == 0)
        throw Failure(source + ": bad YUV4MPEG2 header: no width (W) or height (H)");
    if (static_cast<long long>(h.width) * h.height > kMaxPixels)
        throw Failure(source + ": frames of " + std::to_string(h.width) + "x" +
                      std::to_string(h.height) + " pixels are larger than tvf2 handles");
    if (colour == "444") {
        h.chroma = Chroma::C444;
    } else if (colour == "422") {
        h.chroma = Chroma::C422;
    } else if (colour == "420jpeg" || colour == "420mpeg2" || colour == "420paldv" ||
               colour == "420") {
        h.chroma = Chroma::C420;
    } else {
        throw Failure(source + ": unsupported YUV4MPEG2 colour space C" + colour +
                      " (tvf2 reads 8-bit C444, C422, C420jpeg, C420mpeg2, C420paldv, C420)");
    }
    return h;
}

Y4mReader::Y4mReader(InputFile& in) : in_(in) {
    std::string line;
    const LineEnd end = ReadLine(in, &line);
    if (line.compare(0, kMagicLength, kMagic) != 0 ||
        (line.size() > kMagicLength && line[kMagicLength] != ' '))
        throw Failure(in.Name() + ": not a YUV4MPEG2 stream");
    if (end != LineEnd::Newline)
        throw Failure(in.Name() + ": bad YUV4MPEG2 header: " +
                      (end == LineEnd::TooLong ? "line too long" : "no end of line"));
    headerBytes_ = line.size() + 1;
    header_ = ParseY4mParams(line.substr(kMagicLength), in.Name());
}

long long Y4mReader::EstimatedFrames() const {
    const long long size = in_.FileSize();
    if (size < 0) return -1;
    const long long perFrame = static_cast<long long>(kFrameMagicLength + 1 + header_.FrameBytes());
    return (size - static_cast<long long>(headerBytes_)) / perFrame;
}

bool Y4mReader::ReadFrame(Y4mFrame& frame) {
    std::string line;
    const LineEnd end = ReadLine(in_, &line);
    const std::string which = "frame " + std::to_string(frames_ + 1);
    if (end == LineEnd::EndOfInput && line.empty()) return false;
    if (line.compare(0, kFrameMagicLength, kFrameMagic) != 0 ||
        (line.size() > kFrameMagicLength && line[kFrameMagicLength] != ' ') ||
        end == LineEnd::TooLong)
        throw Failure(in_.Name() + ": bad YUV4MPEG2 stream: " + which +
                      " does not start with FRAME");
    if (end != LineEnd::Newline)
        throw Failure(in_.Name() + ": truncated YUV4MPEG2 stream: " + which + " has no data");
    frame.params = line.substr(kFrameMagicLength);
    // The buffer grows with the data that actually arrives, so a header that claims a
    // huge frame over a short input fails as truncated without allocating the frame.
    const size_t total = header_.FrameBytes();
    constexpr size_t kStep = size_t(16) << 20;
    const std::string what = "YUV4MPEG2 stream: " + which;
    if (frame.data.size() > total) frame.data.resize(total);
    for (size_t have = 0; have < total;) {
        const size_t next = total - have > kStep ? have + kStep : total;
        if (frame.data.size() < next) frame.data.resize(next);
        const size_t got = in_.Read(frame.data.data() + have, next - have);
        if (got != next - have) {
            if (in_.Failed()) throw Failure("cannot read " + in_.Name() + ": " + in_.ErrorText());
            throw Failure(in_.Name() + ": truncated " + what + " (" + std::to_string(have + got) +
                          " of " + std::to_string(total) + " bytes)");
        }
        have = next;
    }
    ++frames_;
    return true;
}

Y4mWriter::Y4mWriter(OutputFile& out, const Y4mHeader& header) : out_(out), header_(header) {
    const std::string line = kMagic + header.params + "\n";
    out_.Write(line.data(), line.size());
}

void Y4mWriter::WriteFrame(const Y4mFrame& frame) {
    const std::string line = kFrameMagic + frame.params + "\n";
    out_.Write(line.data(), line.size());
    out_.Write(frame.data.data(), header_.FrameBytes());
}

}  // namespace tvf2
