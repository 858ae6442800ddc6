// The pipeline shared by every filter command: read a PNG picture or a YUV4MPEG2
// stream, convert each frame to a module layout, run the filter on the device, convert
// back and write the result in the input's format.
//
// Per frame: the host frame is uploaded into `src`, copied into `dst` on the device
// with DeviceCopy2D, and the filter writes `dst` from `src`; so whatever a filter does
// not write keeps the input's pixels. Device buffers are allocated once per input and
// reused for every frame of a stream.
#ifndef TVF2_TOOL_FILTER_JOB_H
#define TVF2_TOOL_FILTER_JOB_H

#include "backend.h"
#include "cli.h"
#include "image.h"
#include "layout.h"
#include "y4m.h"

#include <string>
#include <vector>

namespace tvf2 {

class Context;
class InputFile;
struct Command;

enum class InputFormat { Png, Y4m };

// The input's format, from its first bytes (then put back). Throws Failure.
InputFormat SniffFormat(InputFile& in);

class FrameFilter {
public:
    virtual ~FrameFilter() = default;
    virtual bool Supports(Layout layout) const = 0;
    // Checks the parameters against the input before any device work: throws
    // UsageError for a parameter the input rules out.
    virtual void Check(Layout layout, int width, int height) const {
        (void)layout, (void)width, (void)height;
    }
    // Called once before the frames of a YUV4MPEG2 stream, with its header.
    virtual void BeginStream(const Y4mHeader& header) { (void)header; }
    // Filters one frame; dst holds a copy of src. Throws Failure for a module status.
    virtual void Apply(Backend& backend, Layout layout, const DeviceImage& src,
                       DeviceImage& dst) = 0;
};

// A filter that takes the decoded picture or frame as it is, for operations whose
// layouts are not the 8-bit C32 / C32A / YUY2 frames a FrameFilter gets (16-bit
// pictures, the single planes of a YUV4MPEG2 frame). It converts, moves and filters
// the data itself; formats, output file and progress are handled as for a FrameFilter.
class PictureFilter {
public:
    virtual ~PictureFilter() = default;
    // Check the parameters against the input before any device work; throw UsageError.
    virtual void CheckPicture(const Image& img) const { (void)img; }
    virtual void CheckStream(const Y4mHeader& header) const { (void)header; }
    // Filter in place; the result is written in the picture's own channels and depth
    // (FilterPicture may change the depth). Throw Failure for a module status.
    virtual void FilterPicture(Context& context, Image& img) = 0;
    virtual void FilterFrame(Context& context, const Y4mHeader& header, Y4mFrame& frame) = 0;
};

// A picture filter of 8-bit C32 pixels (C32A with alpha; grey as C32 with the grey in
// B, G and R) that runs on a YUV4MPEG2 stream's luma plane as a grey picture, the chroma
// planes passing through unchanged.
class C32LumaFilter : public PictureFilter {
public:
    void FilterPicture(Context& context, Image& img) override;
    void FilterFrame(Context& context, const Y4mHeader& header, Y4mFrame& frame) override;

protected:
    // `only8Bit` ends the note given when 16-bit samples are converted: "the module ...".
    explicit C32LumaFilter(const char* only8Bit) : only8Bit_(only8Bit) {}
    // Filters C32 (with alpha, C32A) rows in place in host memory.
    virtual void FilterC32(Context& context, bool alpha, int width, int height, uint8_t* host,
                           size_t hostPitch) = 0;

private:
    const char* only8Bit_;
    std::vector<uint8_t> host_;
};

struct FilterJob {
    std::string input, output;   // "-" for stdin / stdout
    long long maxFrames = -1;    // --frames; -1: all
    bool forceProgress = false;  // --progress
};

// Options of every filter command (--frames, --progress), for its Command::options.
std::vector<OptionInfo> FilterJobOptions();

// Reads IN OUT and the FilterJobOptions from the parsed arguments.
FilterJob FilterJobFromArgs(const ParsedArgs& args, const Command& command);

// Runs the whole job. Throws Failure / UsageError.
void RunFilterJob(Context& context, const FilterJob& job, FrameFilter& filter);
void RunPictureJob(Context& context, const FilterJob& job, PictureFilter& filter);

}  // namespace tvf2

#endif
