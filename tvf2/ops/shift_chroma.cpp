// tvf2 shift-chroma: move the chroma planes sideways by half pixels, each by its own
// amount (module slot 4, ShiftMiddleChannels_C32, on YUV32 frames).
#include "colour.h"
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct ShiftParams {
    Point2 shift{0, 0};  // U, V in half pixels
};

class ShiftChromaFilter final : public PictureFilter {
public:
    explicit ShiftChromaFilter(const ShiftParams& p) : p_(p) {}

    void FilterPicture(Context& context, Image& img) override {
        if (img.bitDepth == 16) {
            context.Note("warning: the picture has 16-bit samples; the chroma shift works on "
                         "8-bit YUV32, so they are converted to 8 bits and the output is 8-bit");
            img = To8Bit(img);
        }
        const size_t pitch = static_cast<size_t>(img.width) * 4;
        std::vector<uint8_t> host(pitch * img.height);
        ImageToYUV32(img, host.data(), pitch);
        const std::vector<uint8_t> before = host;
        Shift(context, img.width, img.height, host.data(), pitch);
        const Image original = img;
        YUV32ToImage(host.data(), pitch, before.data(), original, img);
    }

    void FilterFrame(Context& context, const Y4mHeader& h, Y4mFrame& frame) override {
        const size_t pitch = static_cast<size_t>(h.width) * 4;
        host_.resize(pitch * h.height);
        FrameToYUV32(h, frame, host_.data(), pitch);
        Shift(context, h.width, h.height, host_.data(), pitch);
        YUV32ToFrame(host_.data(), pitch, h, frame);
    }

private:
    void Shift(Context& context, int w, int h, uint8_t* host, size_t hostPitch) {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        DeviceImage& frame = cache_->Image("frame", w, h, 4);
        backend.Upload(frame.Data(), frame.Pitch(), host, hostPitch, frame.RowBytes(), h);
        Backend::Check(backend.Funcs().ShiftMiddleChannels_C32(w, h, frame.Data(), frame.Pitch(),
                                                               p_.shift.x, p_.shift.y),
                       "ShiftMiddleChannels_C32");
        backend.Download(host, hostPitch, frame.Data(), frame.Pitch(), frame.RowBytes(), h);
    }

    ShiftParams p_;
    std::unique_ptr<DeviceCache> cache_;
    std::vector<uint8_t> host_;
};

int RunShiftChroma(const ParsedArgs& args, Context& context);

const Command kShiftChroma = {
    "shift-chroma",
    "Shift the U and V planes sideways by half pixels",
    "shift-chroma --shift U,V [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Pixels are converted to YUV32 (PNG: BT.601 full range, see\n"
    "USAGE.md); U moves right by U half pixels and V by V (negative: left). An odd\n"
    "shift takes the mean of two neighbours, rounded down; positions outside the row\n"
    "repeat its first or last pixel. Luma and alpha are kept; a PNG pixel whose Y, U\n"
    "and V come out unchanged keeps its RGB exactly.\n",
    {
        {"shift", 0, "U,V", "shifts of U and V in half pixels, may be negative (default 0,0)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "YUV32 (PNG converted, YUV4MPEG2 4:4:4)",
    RunShiftChroma,
};

const Registration kRegistration(kShiftChroma);

int RunShiftChroma(const ParsedArgs& args, Context& context) {
    ShiftParams p;
    if (args.Has("shift")) p.shift = ParsePoint("--shift", args.Value("shift"), INT_MIN, INT_MAX);
    const FilterJob job = FilterJobFromArgs(args, kShiftChroma);
    ShiftChromaFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
