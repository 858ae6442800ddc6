// tvf2 fade: blend every pixel toward a constant colour, out = in * A + colour * (1 - A)
// (module slot 21, BlendToColour_C32).
#include "colour.h"
#include "command.h"
#include "errors.h"
#include "filter_job.h"

#include <cmath>
#include <string>

namespace tvf2 {
namespace {

struct FadeParams {
    ColourArg colour;
    float alpha = 0.5f;
};

class FadeFilter final : public FrameFilter {
public:
    explicit FadeFilter(const FadeParams& p) : p_(p) {}

    bool Supports(Layout layout) const override {
        return layout == Layout::C32 || layout == Layout::C32A || layout == Layout::YUV32;
    }

    // The colour in the layout's byte order: B, G, R for pictures; Y, U, V for streams.
    void Apply(Backend& backend, Layout layout, const DeviceImage& src, DeviceImage& dst) override {
        (void)src;
        uint32_t packed;
        if (layout == Layout::YUV32) {
            double y, u, v;
            ColourToYuv(p_.colour, true, y, u, v);
            packed = Byte(y) | Byte(u) << 8 | Byte(v) << 16;
        } else {
            Rgb8 c = p_.colour.rgb;
            if (!p_.colour.isRgb)
                c = YuvToRgbFull(Yuv8{int(Byte(p_.colour.y)), int(Byte(p_.colour.u)), int(Byte(p_.colour.v))});
            packed = uint32_t(c.b) | uint32_t(c.g) << 8 | uint32_t(c.r) << 16;
        }
        Backend::Check(backend.Funcs().BlendToColour_C32(dst.Width(), dst.Height(), dst.Data(),
                                                         dst.Pitch(), int(packed), p_.alpha),
                       "BlendToColour_C32");
    }

private:
    static uint32_t Byte(double v) {
        return static_cast<uint32_t>(std::fmin(std::fmax(std::floor(v + 0.5), 0.0), 255.0));
    }
    FadeParams p_;
};

int RunFade(const ParsedArgs& args, Context& context);

const Command kFade = {
    "fade",
    "Blend every pixel toward a constant colour",
    "fade --colour COLOUR [--alpha A] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Every colour sample s becomes s * A + c * (1 - A), truncated:\n"
    "A = 1 leaves the picture, A = 0 paints it in the colour. Alpha is kept. A outside\n"
    "0..1 extrapolates; results below 0 give 0 and results of 256 or more wrap (the\n"
    "module keeps their low 8 bits).\n"
    "PNG runs as C32 (C32A with alpha; grey as grey C32, written back from G);\n"
    "YUV4MPEG2 as YUV32, where an RRGGBB colour is converted to BT.601 limited range.\n"
    "A Y,U,V colour is converted to RGB (full range) for a PNG picture.\n",
    {
        {"colour", 'c', "COLOUR", "target colour: RRGGBB (hex, also #RRGGBB) or Y,U,V bytes"},
        {"alpha", 'a', "A", "weight of the picture's own colour (default 0.5)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG), C32A (PNG with alpha), YUV32 (YUV4MPEG2)",
    RunFade,
};

const Registration kRegistration(kFade);

int RunFade(const ParsedArgs& args, Context& context) {
    FadeParams p;
    if (!args.Has("colour")) throw UsageError("--colour COLOUR is required");
    p.colour = ParseColour("--colour", args.Value("colour"));
    if (args.Has("alpha")) {
        const double a = ParseDecimal("--alpha", args.Value("alpha"));
        if (std::fabs(a) > 1e6) throw UsageError("--alpha: " + args.Value("alpha") + " is out of range (-1e6 to 1e6)");
        p.alpha = float(a);
    }
    const FilterJob job = FilterJobFromArgs(args, kFade);
    FadeFilter filter(p);
    RunFilterJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
