// tvf2 denoise: every pixel becomes the similarity-weighted average of a square window
// around it (module slots 38..43, SimilarityWeightedAverage[Tex]_C32 / _C32A / _YUV32),
// from linear device memory or from a CUDA array read through a texture.
#include "command.h"
#include "errors.h"
#include "filter_job.h"

#include <climits>
#include <memory>
#include <string>

namespace tvf2 {
namespace {

enum class Source { Linear, Texture };

struct DenoiseParams {
    int threshold = 256;
    int radius = 2;
    bool fields = false;
    Source source = Source::Linear;
    int rowScale = 1, rowOffset = 0;
    bool sameParity = false;
    bool unchecked = false;
};

// A radius beyond this is a typing mistake: even with a threshold of 1, C32's sums
// overflow from a radius of 1448 on.
constexpr int kMaxRadius = 1000;

typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*LinearSlot)(void*, const void*, const void*,
                                                                int, int, int, int, int, int, bool);
typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*TextureSlot)(void*, cudaArray*, int, int, int,
                                                                 const cudaChannelFormatDesc*, int,
                                                                 int, int, int, bool);

struct LayoutSlots {
    LinearSlot linear;
    const char* linearName;
    TextureSlot texture;
    const char* textureName;
};

// The slots of a layout that Supports accepts.
LayoutSlots SlotsFor(Layout layout) {
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    if (layout == Layout::C32A)
        return {&F::SimilarityWeightedAverage_C32A, "SimilarityWeightedAverage_C32A",
                &F::SimilarityWeightedAverageTex_C32A, "SimilarityWeightedAverageTex_C32A"};
    if (layout == Layout::YUV32)
        return {&F::SimilarityWeightedAverage_YUV32, "SimilarityWeightedAverage_YUV32",
                &F::SimilarityWeightedAverageTex_YUV32, "SimilarityWeightedAverageTex_YUV32"};
    return {&F::SimilarityWeightedAverage_C32, "SimilarityWeightedAverage_C32",
            &F::SimilarityWeightedAverageTex_C32, "SimilarityWeightedAverageTex_C32"};
}

class DenoiseFilter final : public FrameFilter {
public:
    explicit DenoiseFilter(const DenoiseParams& p) : p_(p) {}

    bool Supports(Layout layout) const override {
        return layout == Layout::C32 || layout == Layout::C32A || layout == Layout::YUV32;
    }

    // The module's sums are exact only while they fit 32 bits (35 bits for the scaled
    // alpha-weighted sums, whose products must fit 32 bits too); past that it gives
    // wrong colours without a status, so tvf2 stops first.
    void Check(Layout layout, int width, int height) const override {
        if (p_.unchecked) return;
        const long long side = 2LL * p_.radius + 1;
        const long long weights = static_cast<long long>(p_.threshold) * (side * side + 1);
        const bool alpha = layout == Layout::C32A;
        const long long limit = alpha ? ((1LL << 35) - 1) / (255 * 255) + 1 : 1LL << 23;
        const int maxThreshold = alpha ? 33025 : INT_MAX;
        if (weights >= limit || p_.threshold > maxThreshold)
            throw UsageError("--threshold " + std::to_string(p_.threshold) + " with --radius " +
                             std::to_string(p_.radius) + " is too large for " + LayoutName(layout) +
                             ": the module's sums need threshold * ((2 * radius + 1)^2 + 1) "
                             "below " +
                             std::to_string(limit) +
                             (alpha ? " and a threshold of at most 33025" : ""));
        if (p_.source == Source::Texture && p_.rowOffset >= height)
            throw UsageError("--row-offset " + std::to_string(p_.rowOffset) +
                             " lies past the last row of the " + std::to_string(width) + "x" +
                             std::to_string(height) + " frame");
    }

    void Apply(Backend& backend, Layout layout, const DeviceImage& src, DeviceImage& dst) override {
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        const LayoutSlots slots = SlotsFor(layout);
        const int w = src.Width(), h = src.Height();
        if (p_.source == Source::Linear) {
            Backend::Check((m.*slots.linear)(dst.Data(), src.Data(), nullptr, w, h, dst.Pitch(),
                                             src.Pitch(), p_.threshold, p_.radius, p_.fields),
                           slots.linearName);
            return;
        }
        // One array for the whole stream: every frame has the input's size.
        if (!array_) array_.reset(new DeviceArray(backend, w, h));
        backend.CopyToArray(array_->Handle(), src.Data(), src.Pitch(), src.RowBytes(), h);
        Backend::Check(
            (m.*slots.texture)(dst.Data(), array_->Handle(), w, h, dst.Pitch(), array_->Desc(),
                               p_.rowOffset, p_.rowScale, p_.threshold, p_.radius, p_.sameParity),
            slots.textureName);
    }

private:
    DenoiseParams p_;
    std::unique_ptr<DeviceArray> array_;
};

int RunDenoise(const ParsedArgs& args, Context& context);

const Command kDenoise = {
    "denoise",
    "Average every pixel with the similar pixels of a window around it",
    "denoise [--threshold T] [--radius R] [--fields] [--source linear|texture]\n"
    "        [--row-scale S] [--row-offset O] [--same-parity] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Every pixel becomes a weighted mean over the (2R+1)x(2R+1) window\n"
    "around it, clipped to the frame. A window pixel at squared colour distance d^2 from\n"
    "the centre (summed over the three colour channels) weighs T - d^2, and nothing when\n"
    "that is below 1; the centre weighs 2T. So T is the squared distance from which\n"
    "pixels count as different: edges stronger than that are kept, finer noise averaged.\n"
    "PNG without alpha runs as C32, PNG with alpha as C32A (weights times each pixel's\n"
    "alpha; alpha kept), YUV4MPEG2 as YUV32 (4:4:4; subsampled chroma is duplicated and\n"
    "averaged back). --source texture reads the frame from a CUDA array; output row v\n"
    "then reads row v * S + O (rows past the frame repeat its last row), and\n"
    "--same-parity restricts the window to rows of the centre row's parity.\n",
    {
        {"threshold", 't', "T", "similarity threshold, at least 1 (default 256)"},
        {"radius", 'r', "R", "window radius, 0 to 1000 (default 2; 0 leaves the frame alone)"},
        {"fields", 0, nullptr, "filter even and odd rows as two separate fields (linear)"},
        {"source", 0, "linear|texture",
         "read the frame from linear memory or a texture (default linear)"},
        {"row-scale", 0, "S", "texture rows per output row, at least 1 (texture; default 1)"},
        {"row-offset", 0, "O", "texture row of output row 0 (texture; default 0)"},
        {"same-parity", 0, nullptr, "window rows of the centre row's parity only (texture)"},
        {"unchecked", 0, nullptr,
         "hand --threshold and --radius to the module without tvf2's own range checks"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG), C32A (PNG with alpha), YUV32 (YUV4MPEG2); linear or texture source",
    RunDenoise,
};

const Registration kRegistration(kDenoise);

int RunDenoise(const ParsedArgs& args, Context& context) {
    DenoiseParams p;
    p.unchecked = args.Has("unchecked");
    // Unchecked, any threshold and any radius up to the limit go through to the module.
    if (args.Has("threshold"))
        p.threshold = static_cast<int>(ParseInteger("--threshold", args.Value("threshold"),
                                                    p.unchecked ? INT_MIN : 1, INT_MAX));
    if (args.Has("radius"))
        p.radius = static_cast<int>(
            ParseInteger("--radius", args.Value("radius"), p.unchecked ? INT_MIN : 0, kMaxRadius));
    p.fields = args.Has("fields");
    if (args.Has("source")) {
        const std::string s = args.Value("source");
        if (s == "texture")
            p.source = Source::Texture;
        else if (s != "linear")
            throw UsageError("--source: '" + s + "' is not one of linear, texture");
    }
    // A frame has at most 16384 rows, so no row index overflows.
    if (args.Has("row-scale"))
        p.rowScale =
            static_cast<int>(ParseInteger("--row-scale", args.Value("row-scale"), 1, 16384));
    if (args.Has("row-offset"))
        p.rowOffset =
            static_cast<int>(ParseInteger("--row-offset", args.Value("row-offset"), 0, 16383));
    p.sameParity = args.Has("same-parity");
    if (p.source == Source::Linear) {
        for (const char* texOnly : {"row-scale", "row-offset", "same-parity"})
            if (args.Has(texOnly))
                throw UsageError(std::string("--") + texOnly + " applies to --source texture only");
    } else if (p.fields) {
        throw UsageError(
            "--fields applies to --source linear only; with a texture, --same-parity keeps "
            "the window within the centre row's field");
    }
    const FilterJob job = FilterJobFromArgs(args, kDenoise);
    DenoiseFilter filter(p);
    RunFilterJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
