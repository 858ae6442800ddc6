#include "filter_job.h"

#include "command.h"
#include "convert.h"
#include "errors.h"
#include "file_io.h"
#include "frame_window.h"
#include "png_io.h"
#include "progress.h"
#include "y4m.h"

#include <climits>
#include <deque>
#include <memory>
#include <vector>

namespace tvf2 {
namespace {

typedef InputFormat Format;

bool EndsWith(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = s[s.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i]) return false;
    }
    return true;
}

// The output is written in the input's format; an output name that says otherwise is
// a mistake worth stopping for.
void CheckOutputName(const std::string& output, Format format) {
    if (format == Format::Y4m && EndsWith(output, ".png"))
        throw UsageError(output +
                         ": the input is a YUV4MPEG2 stream and the output keeps its "
                         "format; name the output .y4m");
    if (format == Format::Png && EndsWith(output, ".y4m"))
        throw UsageError(output +
                         ": the input is a PNG picture and the output keeps its "
                         "format; name the output .png");
}

// (For a FrameFilter or a WindowFilter.)
template <class Filter>
void RequireLayout(const Filter& filter, Layout layout, const char* what) {
    if (!filter.Supports(layout))
        throw Failure(std::string("this operation has no ") + LayoutName(layout) + " form, which " +
                      what + " need");
}

// A PNG picture as the filters take it: 8-bit (16-bit samples converted, with a note),
// C32 or C32A, checked against the filter before anything is allocated.
template <class Filter>
Image ReadPngFor(Context& context, Filter& filter, InputFile& in, Layout& layout) {
    Image img = ReadPng(in);
    if (img.bitDepth == 16) {
        context.Note("warning: " + in.Name() +
                     " has 16-bit samples; the module has no 16-bit layout, so they are "
                     "converted to 8 bits and the output is 8-bit");
        img = To8Bit(img);
    }
    layout = img.HasAlpha() ? Layout::C32A : Layout::C32;
    RequireLayout(filter, layout, img.HasAlpha() ? "PNG pictures with alpha" : "PNG pictures");
    filter.Check(layout, img.width, img.height);
    return img;
}

// YUY2 pixel pairs need an even width.
void RequirePairs(const InputFile& in, Layout layout, const Y4mHeader& h) {
    if (layout == Layout::YUY2 && h.width % 2 != 0)
        throw Failure(in.Name() + ": frame width " + std::to_string(h.width) +
                      " is odd; YUV4MPEG2 frames are filtered as YUY2 pixel pairs, which needs "
                      "an even width");
}

// A stream frame as the layout's packed pixels (YUY2, RGB C32, else YUV32), and back.
void PackFrame(Layout layout, const Y4mHeader& h, const Y4mFrame& frame, uint8_t* host, size_t pitch) {
    if (layout == Layout::YUY2)
        FrameToYUY2(h, frame, host, pitch);
    else if (layout == Layout::C32)
        FrameToC32(h, frame, host, pitch);
    else
        FrameToYUV32(h, frame, host, pitch);
}

void UnpackFrame(Layout layout, const uint8_t* host, size_t pitch, const Y4mHeader& h, Y4mFrame& frame) {
    if (layout == Layout::YUY2)
        YUY2ToFrame(host, pitch, h, frame);
    else if (layout == Layout::C32)
        C32ToFrame(host, pitch, h, frame);
    else
        YUV32ToFrame(host, pitch, h, frame);
}

// Reads, filters and writes the stream's frames (up to --frames) with the progress line,
// then commits the output.
template <class FilterOne>
void StreamFrames(Context& context, const FilterJob& job, Y4mReader& reader, OutputFile& out,
                  FilterOne filterOne) {
    Y4mWriter writer(out, reader.Header());
    long long total = reader.EstimatedFrames();
    if (job.maxFrames >= 0 && (total < 0 || total > job.maxFrames)) total = job.maxFrames;
    Progress progress(ProgressWanted(job.forceProgress), total);
    Y4mFrame frame;
    long long done = 0;
    while ((job.maxFrames < 0 || done < job.maxFrames) && reader.ReadFrame(frame)) {
        filterOne(frame);
        writer.WriteFrame(frame);
        progress.Update(++done);
    }
    progress.Finish(done);
    context.Note(std::to_string(done) + " frame" + (done == 1 ? "" : "s") + " filtered");
    out.Commit();
}

// Upload, device copy src -> dst, filter, download: one frame through the module.
void FilterFrame(Backend& backend, FrameFilter& filter, Layout layout, std::vector<uint8_t>& host,
                 size_t hostPitch, DeviceImage& src, DeviceImage& dst) {
    backend.Upload(src.Data(), src.Pitch(), host.data(), hostPitch, src.RowBytes(), src.Height());
    Backend::Check(backend.Funcs().DeviceCopy2D(dst.Data(), dst.Pitch(), src.Data(), src.Pitch(),
                                                src.RowBytes(), src.Height()),
                   "DeviceCopy2D");
    filter.Apply(backend, layout, src, dst);
    backend.Download(host.data(), hostPitch, dst.Data(), dst.Pitch(), dst.RowBytes(), dst.Height());
}

void RunPng(Context& context, const FilterJob& job, FrameFilter& filter, InputFile& in) {
    Layout layout;
    Image img = ReadPngFor(context, filter, in, layout);
    Backend& backend = context.GetBackend();
    OutputFile out(job.output);

    const size_t pitch = static_cast<size_t>(img.width) * 4;
    std::vector<uint8_t> host(pitch * img.height);
    ImageToC32(img, host.data(), pitch);
    DeviceImage src(backend, img.width, img.height, 4);
    DeviceImage dst(backend, img.width, img.height, 4);
    FilterFrame(backend, filter, layout, host, pitch, src, dst);
    C32ToImage(host.data(), pitch, img);
    WritePng(img, out);
    out.Commit();
}

void RunY4m(Context& context, const FilterJob& job, FrameFilter& filter, InputFile& in) {
    Y4mReader reader(in);
    const Y4mHeader& h = reader.Header();
    // Streams run as YUY2 pixel pairs, or as YUV32 pixels for filters without a YUY2
    // form, or as RGB C32 pixels (converted and back) for filters with neither.
    const Layout layout = filter.Supports(Layout::YUY2)    ? Layout::YUY2
                          : filter.Supports(Layout::YUV32) ? Layout::YUV32
                          : filter.Supports(Layout::C32)   ? Layout::C32
                                                           : Layout::YUV32;
    RequireLayout(filter, layout, "YUV4MPEG2 streams");
    filter.BeginStream(h);
    RequirePairs(in, layout, h);
    filter.Check(layout, h.width, h.height);
    Backend& backend = context.GetBackend();
    OutputFile out(job.output);

    const int bpp = BytesPerPixel(layout);
    const size_t pitch = static_cast<size_t>(h.width) * bpp;
    // Frame buffers come with the first frame that arrives, so a header that claims a
    // huge frame over a short stream fails as truncated without allocating them.
    std::vector<uint8_t> host;
    std::unique_ptr<DeviceImage> src, dst;
    StreamFrames(context, job, reader, out, [&](Y4mFrame& frame) {
        if (!src) {
            host.resize(pitch * h.height);
            src.reset(new DeviceImage(backend, h.width, h.height, bpp));
            dst.reset(new DeviceImage(backend, h.width, h.height, bpp));
        }
        PackFrame(layout, h, frame, host.data(), pitch);
        FilterFrame(backend, filter, layout, host, pitch, *src, *dst);
        UnpackFrame(layout, host.data(), pitch, h, frame);
    });
}

void RunPicturePng(Context& context, const FilterJob& job, PictureFilter& filter, InputFile& in) {
    Image img = ReadPng(in);
    filter.CheckPicture(img);
    context.GetBackend();
    OutputFile out(job.output);
    filter.FilterPicture(context, img);
    WritePng(img, out);
    out.Commit();
}

void RunPictureY4m(Context& context, const FilterJob& job, PictureFilter& filter, InputFile& in) {
    Y4mReader reader(in);
    filter.CheckStream(reader.Header());
    context.GetBackend();
    OutputFile out(job.output);
    StreamFrames(context, job, reader, out,
                 [&](Y4mFrame& frame) { filter.FilterFrame(context, reader.Header(), frame); });
}

// The current frame of the window into dst (a copy of it first, so that whatever the
// filter leaves alone keeps the input's pixels), then back to the host.
void FilterWindowFrame(Backend& backend, WindowFilter& filter, Layout layout,
                       const FrameWindow& window, DeviceImage& dst, std::vector<uint8_t>& host,
                       size_t hostPitch) {
    const DeviceImage& cur = window.Current();
    Backend::Check(backend.Funcs().DeviceCopy2D(dst.Data(), dst.Pitch(), cur.Data(), cur.Pitch(),
                                                cur.RowBytes(), cur.Height()),
                   "DeviceCopy2D");
    filter.Apply(backend, layout, window, dst);
    backend.Download(host.data(), hostPitch, dst.Data(), dst.Pitch(), dst.RowBytes(), dst.Height());
}

void RunWindowPng(Context& context, WindowFilter& filter, InputFile& in, const FilterJob& job) {
    Layout layout;
    Image img = ReadPngFor(context, filter, in, layout);
    Backend& backend = context.GetBackend();
    OutputFile out(job.output);

    const size_t pitch = static_cast<size_t>(img.width) * 4;
    std::vector<uint8_t> host(pitch * img.height);
    ImageToC32(img, host.data(), pitch);
    // A picture is a stream of one frame: its whole window is that frame.
    FrameWindow window(backend, img.width, img.height, 4, filter.Before(), filter.After());
    window.Push(host.data(), pitch);
    window.EndOfStream();
    DeviceImage dst(backend, img.width, img.height, 4);
    FilterWindowFrame(backend, filter, layout, window, dst, host, pitch);
    C32ToImage(host.data(), pitch, img);
    WritePng(img, out);
    out.Commit();
}

void RunWindowY4m(Context& context, WindowFilter& filter, InputFile& in, const FilterJob& job) {
    Y4mReader reader(in);
    const Y4mHeader& h = reader.Header();
    const Layout layout = filter.Supports(Layout::YUY2) ? Layout::YUY2 : Layout::YUV32;
    RequireLayout(filter, layout, "YUV4MPEG2 streams");
    RequirePairs(in, layout, h);
    filter.Check(layout, h.width, h.height);
    Backend& backend = context.GetBackend();
    OutputFile out(job.output);

    const int bpp = BytesPerPixel(layout);
    const size_t pitch = static_cast<size_t>(h.width) * bpp;
    std::vector<uint8_t> host(pitch * h.height);
    FrameWindow window(backend, h.width, h.height, bpp, filter.Before(), filter.After());
    DeviceImage dst(backend, h.width, h.height, bpp);
    Y4mWriter writer(out, h);
    long long total = reader.EstimatedFrames();
    if (job.maxFrames >= 0 && (total < 0 || total > job.maxFrames)) total = job.maxFrames;
    Progress progress(ProgressWanted(job.forceProgress), total);
    // Frames read whose output is not written yet: the current one and those after it.
    std::deque<Y4mFrame> pending;
    long long read = 0, done = 0;
    const auto drain = [&] {
        while (window.Ready()) {
            FilterWindowFrame(backend, filter, layout, window, dst, host, pitch);
            Y4mFrame& frame = pending.front();
            UnpackFrame(layout, host.data(), pitch, h, frame);
            writer.WriteFrame(frame);
            pending.pop_front();
            window.Advance();
            progress.Update(++done);
        }
    };
    Y4mFrame frame;
    while ((job.maxFrames < 0 || read < job.maxFrames) && reader.ReadFrame(frame)) {
        PackFrame(layout, h, frame, host.data(), pitch);
        window.Push(host.data(), pitch);
        pending.push_back(std::move(frame));
        frame = Y4mFrame();
        ++read;
        drain();
    }
    window.EndOfStream();
    drain();
    progress.Finish(done);
    context.Note(std::to_string(done) + " frame" + (done == 1 ? "" : "s") + " filtered");
    out.Commit();
}

}  // namespace

InputFormat SniffFormat(InputFile& in) {
    unsigned char head[9];
    const size_t n = in.Read(head, sizeof head);
    if (in.Failed()) throw Failure("cannot read " + in.Name() + ": " + in.ErrorText());
    in.Unread(head, n);
    if (IsPngSignature(head, n)) return InputFormat::Png;
    if (IsY4mSignature(head, n)) return InputFormat::Y4m;
    if (n == 0) throw Failure(in.Name() + ": input is empty");
    throw Failure(in.Name() + ": not a PNG picture or a YUV4MPEG2 stream");
}

std::vector<OptionInfo> FilterJobOptions() {
    return {
        {"frames", 0, "N", "stop after N frames of a YUV4MPEG2 stream"},
        {"progress", 0, nullptr, "show the progress line even when stderr is not a terminal"},
    };
}

FilterJob FilterJobFromArgs(const ParsedArgs& args, const Command& command) {
    ExpectPositional(args, command, 2);
    FilterJob job;
    job.input = args.Positional()[0];
    job.output = args.Positional()[1];
    if (args.Has("frames"))
        job.maxFrames = ParseInteger("--frames", args.Value("frames"), 1, LLONG_MAX);
    job.forceProgress = args.Has("progress");
    return job;
}

void RunFilterJob(Context& context, const FilterJob& job, FrameFilter& filter) {
    InputFile in(job.input);
    const Format format = SniffFormat(in);
    CheckOutputName(job.output, format);
    if (format == Format::Png)
        RunPng(context, job, filter, in);
    else
        RunY4m(context, job, filter, in);
}

void RunWindowJob(Context& context, const FilterJob& job, WindowFilter& filter) {
    InputFile in(job.input);
    const Format format = SniffFormat(in);
    CheckOutputName(job.output, format);
    if (format == Format::Png)
        RunWindowPng(context, filter, in, job);
    else
        RunWindowY4m(context, filter, in, job);
}

void RunPictureJob(Context& context, const FilterJob& job, PictureFilter& filter) {
    InputFile in(job.input);
    const Format format = SniffFormat(in);
    CheckOutputName(job.output, format);
    if (format == Format::Png)
        RunPicturePng(context, job, filter, in);
    else
        RunPictureY4m(context, job, filter, in);
}

void C32LumaFilter::FilterPicture(Context& context, Image& img) {
    if (img.bitDepth == 16) {
        context.Note(std::string("warning: the picture has 16-bit samples; the module ") + only8Bit_ +
                     ", so they are converted to 8 bits and the output is 8-bit");
        img = To8Bit(img);
    }
    const size_t pitch = static_cast<size_t>(img.width) * 4;
    host_.resize(pitch * img.height);
    ImageToC32(img, host_.data(), pitch);
    FilterC32(context, img.HasAlpha(), img.width, img.height, host_.data(), pitch);
    C32ToImage(host_.data(), pitch, img);
}

void C32LumaFilter::FilterFrame(Context& context, const Y4mHeader& h, Y4mFrame& frame) {
    const size_t pitch = static_cast<size_t>(h.width) * 4;
    host_.resize(pitch * h.height);
    PlaneToC32(frame.Y(), h.width, h.width, h.height, host_.data(), pitch);
    FilterC32(context, false, h.width, h.height, host_.data(), pitch);
    C32ToPlane(host_.data(), pitch, h.width, h.height, frame.Y(), h.width);
}

}  // namespace tvf2
