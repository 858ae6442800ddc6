// tvf2 temporal: every pixel becomes the similarity-weighted average of itself and the
// pixels at the same place in the neighbouring frames (module slots 46..49,
// MultiFrameSimilarityAverage_C32 / _C32A / _YUV32), over a window of device frames.
#include "command.h"
#include "device_cache.h"
#include "errors.h"
#include "frame_window.h"

#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct TemporalParams {
    int threshold = 512;
    int frames = 2;  // reference frames around the current one
    bool fields = false;
};

constexpr int kMaxFrames = 20;  // the module compares at most 20 reference frames

typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*Slot)(void*, const void*, const void* const*,
                                                          int, int, int, int, int, const int*,
                                                          int, bool, const void*, void*);

class TemporalFilter final : public WindowFilter {
public:
    explicit TemporalFilter(const TemporalParams& p) : p_(p) {}

    bool Supports(Layout layout) const override {
        return layout == Layout::C32 || layout == Layout::C32A || layout == Layout::YUV32;
    }
    // The earlier frames take the larger half of an odd count.
    int Before() const override { return (p_.frames + 1) / 2; }
    int After() const override { return p_.frames / 2; }

    // The module's sums are exact while T * (frames + 1) stays within its range (C32
    // sums its weights as floats, exact up to 2^24; the alpha-weighted sums carry a
    // factor of 255); past that it gives wrong colours without a status.
    void Check(Layout layout, int, int) const override {
        const long long units = static_cast<long long>(p_.threshold) * (p_.frames + 1);
        const long long limit = layout == Layout::C32    ? ((1LL << 24) - 1) / 255 + 1
                                : layout == Layout::C32A ? ((1LL << 31) - 1) / (256 * 255) + 1
                                                         : (1LL << 31) / 256;
        if (units >= limit)
            throw UsageError("--threshold " + std::to_string(p_.threshold) + " with --frames " +
                             std::to_string(p_.frames) + " is too large for " + LayoutName(layout) +
                             ": the module's sums need threshold * (frames + 1) below " +
                             std::to_string(limit));
    }

    void Apply(Backend& backend, Layout layout, const FrameWindow& window, DeviceImage& dst) override {
        typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
        const Slot slot = layout == Layout::C32A    ? &F::MultiFrameSimilarityAverage_C32A
                          : layout == Layout::YUV32 ? &F::MultiFrameSimilarityAverage_YUV32
                                                    : &F::MultiFrameSimilarityAverage_C32;
        const char* name = layout == Layout::C32A    ? "MultiFrameSimilarityAverage_C32A"
                           : layout == Layout::YUV32 ? "MultiFrameSimilarityAverage_YUV32"
                                                     : "MultiFrameSimilarityAverage_C32";
        // The reference frames: the window without its current frame, in stream order.
        frames_.clear();
        pitches_.clear();
        for (int i = 0; i < window.Size(); ++i)
            if (i != window.CurrentIndex()) {
                frames_.push_back(window.Frames()[i]);
                pitches_.push_back(window.Pitches()[i]);
            }
        const int n = static_cast<int>(frames_.size());
        if (!scratch_) scratch_.reset(new DeviceBuffer(backend, 12 * static_cast<size_t>(n)));
        const DeviceImage& src = window.Current();
        Backend::Check((backend.Funcs().*slot)(dst.Data(), src.Data(), frames_.data(), n, src.Width(),
                                               src.Height(), dst.Pitch(), src.Pitch(),
                                               pitches_.data(), p_.threshold, p_.fields, nullptr,
                                               scratch_->Data()),
                       name);
        // The next call rewrites the scratch with the runtime's synchronous copies, which
        // wait for this kernel on the default stream; so one scratch serves every frame.
    }

private:
    TemporalParams p_;
    std::unique_ptr<DeviceBuffer> scratch_;
    std::vector<const void*> frames_;
    std::vector<int> pitches_;
};

int RunTemporal(const ParsedArgs& args, Context& context);

const Command kTemporal = {
    "temporal",
    "Average every pixel with the same pixel of neighbouring frames where they match",
    "temporal [--threshold T] [--frames N] [--fields] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN and as many frames. Each frame is compared with N reference\n"
    "frames around it ((N + 1) / 2 before, N / 2 after; at the start and the end of the\n"
    "stream the nearest frame stands in for the missing ones). A reference frame weighs\n"
    "T minus the largest squared colour difference (summed over the three channels)\n"
    "between it and the current frame in the 5x5 block around the pixel, and nothing\n"
    "when that is below 1; the current pixel weighs T. So static areas are averaged\n"
    "across frames and moving ones keep the current frame. PNG without alpha runs as\n"
    "C32 (quotient truncated), PNG with alpha as C32A (weights times each reference\n"
    "pixel's alpha; alpha kept), YUV4MPEG2 as YUV32 (4:4:4; subsampled chroma is\n"
    "duplicated and averaged back). A single picture is its own neighbour and comes\n"
    "out unchanged.\n",
    {
        {"threshold", 't', "T", "similarity threshold, at least 1 (default 512)"},
        {"frames", 'n', "N", "reference frames around the current one, 0 to 20 (default 2)"},
        {"fields", 0, nullptr, "compare even and odd rows as two separate fields"},
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG), C32A (PNG with alpha), YUV32 (YUV4MPEG2)",
    RunTemporal,
};

const Registration kRegistration(kTemporal);

int RunTemporal(const ParsedArgs& args, Context& context) {
    TemporalParams p;
    if (args.Has("threshold"))
        p.threshold = static_cast<int>(ParseInteger("--threshold", args.Value("threshold"), 1, 1 << 30));
    if (args.Has("frames"))
        p.frames = static_cast<int>(ParseInteger("--frames", args.Value("frames"), 0, kMaxFrames));
    p.fields = args.Has("fields");
    // --frames names the reference frames here, so the job reads the whole input.
    ExpectPositional(args, kTemporal, 2);
    FilterJob job;
    job.input = args.Positional()[0];
    job.output = args.Positional()[1];
    job.forceProgress = args.Has("progress");
    TemporalFilter filter(p);
    RunWindowJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
