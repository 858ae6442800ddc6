// tvf2 nlm: non-local means over a window of neighbouring frames (module slots 53 and
// 54, NonLocalMeans_C32 / _C32A). Streams keep a ring of device frames (each uploaded
// once, the nearest frame repeated at the stream's ends); a PNG picture is a window of
// one frame.
#include "command.h"
#include "errors.h"
#include "filter_job.h"
#include "frame_window.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct NlmParams {
    int search = 2, patch = 1, temporal = 1;
    double strength = 8.0;
    int budget = 0;
};

// Beyond these a frame takes hours on the CPU backend; the module itself goes further.
constexpr int kMaxSearch = 16, kMaxPatch = 8, kMaxTemporal = 8;
constexpr double kMaxStrength = 255.0;

// The weight of a candidate is exp(-D * c) with D the patch's sum of squared
// differences in one channel over (2P+1)^2 pixels: with c = 1 / (strength^2 * (2P+1)^2)
// a candidate whose patch differs by `strength` levels per pixel on average (root mean
// square) weighs 1/e. Every frame of the window gets the same coefficient.
float Coefficient(const NlmParams& p) {
    const double side = 2.0 * p.patch + 1.0;
    return static_cast<float>(1.0 / (p.strength * p.strength * side * side));
}

class NlmFilter final : public WindowFilter {
public:
    explicit NlmFilter(const NlmParams& p) : p_(p), coefficients_(2 * p.temporal + 1, Coefficient(p)) {}

    // YUV32 runs as C32: each of bytes 0 to 2 is filtered on its own, so luma and both
    // chroma channels are treated alike; byte 3 (written 255) is not part of YUV32.
    bool Supports(Layout layout) const override {
        return layout == Layout::C32 || layout == Layout::C32A || layout == Layout::YUV32;
    }
    int Before() const override { return p_.temporal; }
    int After() const override { return p_.temporal; }

    void Apply(Backend& backend, Layout layout, const FrameWindow& window, DeviceImage& dst) override {
        const int n = window.Size();
        // The parameter block: 16 bytes per frame (pointer, pitch, coefficient).
        if (!params_) params_.reset(new DeviceImage(backend, 16 * n, 1, 1));
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        const bool alpha = layout == Layout::C32A;
        const auto slot = alpha ? &ICUDAKernelFuncSet_TarvoVideoFilter2::NonLocalMeans_C32A
                                : &ICUDAKernelFuncSet_TarvoVideoFilter2::NonLocalMeans_C32;
        Backend::Check((m.*slot)(dst.Width(), dst.Height(), p_.search, p_.patch, p_.temporal, coefficients_.data(),
                                 dst.Data(), dst.Pitch(), window.Frames(), window.Pitches(), params_->Data(),
                                 p_.budget),
                       alpha ? "NonLocalMeans_C32A" : "NonLocalMeans_C32");
    }

private:
    NlmParams p_;
    std::vector<float> coefficients_;
    std::unique_ptr<DeviceImage> params_;
};

// A positive decimal ("8", "2.5", "1e1") up to kMaxStrength.
double ParseStrength(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double s = std::strtod(begin, &end);
    // strtod also takes blanks, "inf", "nan" and hexadecimal; only plain decimals here.
    if (text.empty() || end == begin || *end != '\0' || text.find_first_not_of("0123456789.+-eE") != std::string::npos)
        throw UsageError("--strength: '" + text + "' is not a number");
    if (errno == ERANGE || !(s > 0.0 && s <= kMaxStrength))
        throw UsageError("--strength: " + text + " is out of range (above 0, at most 255)");
    return s;
}

int RunNlm(const ParsedArgs& args, Context& context);

const Command kNlm = {
    "nlm",
    "Non-local means over a window of neighbouring frames",
    "nlm [--search S] [--patch P] [--temporal T] [--strength H] [--budget B] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN and as many frames. Each of the three channels of every pixel\n"
    "becomes a weighted mean over the (2S+1)x(2S+1) pixels around it in the current\n"
    "frame and in the T frames before and after it. A candidate weighs exp(-D / (H^2 *\n"
    "(2P+1)^2)), D being the channel's sum of squared differences between the\n"
    "(2P+1)x(2P+1) patch around the pixel and the patch around the candidate: patches\n"
    "that differ by H levels per pixel (root mean square) weigh 1/e, so a larger H\n"
    "smooths more. Every frame of the window has that same coefficient. At the start\n"
    "and end of a stream the window repeats the first or last frame; a PNG picture is a\n"
    "window of one frame (T only repeats it).\n"
    "PNG without alpha runs as C32 (NonLocalMeans_C32), PNG with alpha as C32A\n"
    "(NonLocalMeans_C32A: weights times each candidate's alpha, alpha kept), YUV4MPEG2\n"
    "as YUV32 through NonLocalMeans_C32 (4:4:4; subsampled chroma is duplicated and\n"
    "averaged back). 16-bit PNG is converted to 8 bits.\n",
    {
        {"search", 's', "S", "search radius, 0 to 16 (default 2)"},
        {"patch", 'p', "P", "patch radius, 0 to 8 (default 1)"},
        {"temporal", 't', "T", "frames before and after the current one, 0 to 8 (default 1)"},
        {"strength", 'H', "H", "filtering strength in levels, above 0, at most 255 (default 8)"},
        {"budget", 0, "B",
         "the module's band budget: 0 one band (default), above 0 bands of about B/2\n"
         "pixels, below 0 bands of a sixteenth of the frame"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG), C32A (PNG with alpha), YUV32 (YUV4MPEG2); window of 2T+1 frames",
    RunNlm,
};

const Registration kRegistration(kNlm);

int RunNlm(const ParsedArgs& args, Context& context) {
    NlmParams p;
    if (args.Has("search")) p.search = static_cast<int>(ParseInteger("--search", args.Value("search"), 0, kMaxSearch));
    if (args.Has("patch")) p.patch = static_cast<int>(ParseInteger("--patch", args.Value("patch"), 0, kMaxPatch));
    if (args.Has("temporal"))
        p.temporal = static_cast<int>(ParseInteger("--temporal", args.Value("temporal"), 0, kMaxTemporal));
    if (args.Has("strength")) p.strength = ParseStrength(args.Value("strength"));
    if (args.Has("budget"))
        p.budget = static_cast<int>(ParseInteger("--budget", args.Value("budget"), -2147483647LL - 1, 2147483647LL));
    const FilterJob job = FilterJobFromArgs(args, kNlm);
    NlmFilter filter(p);
    RunWindowJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
