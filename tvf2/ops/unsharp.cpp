// tvf2 unsharp: unsharp mask, out = o + amount * (o - blur), with a separable Gaussian
// blur whose weight tables tvf2 builds (module slots 19, 20: SeparableUnsharpMask_C32 /
// SeparableUnsharpMask_C32A).
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <cmath>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

// The module takes the amount in 1/256 units; tvf2 takes it as a factor.
constexpr double kMaxAmount = 64.0;

struct UnsharpParams {
    int radius = 2;
    int amount = 256;  // 1/256 units: 256 is a factor of 1
};

class UnsharpFilter final : public C32LumaFilter {
public:
    explicit UnsharpFilter(const UnsharpParams& p) : C32LumaFilter("has no 16-bit unsharp mask"), p_(p) {}

private:
    void FilterC32(Context& context, bool alpha, int width, int height, uint8_t* host,
                   size_t hostPitch) override {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        DeviceImage& src = cache_->Image("src", width, height, 4);
        DeviceImage& dst = cache_->Image("dst", width, height, 4);
        DeviceImage& mid = cache_->Image("mid", width, height, 4);
        const DeviceWeights ht = cache_->Weights(WindowShape::Gaussian, width, p_.radius);
        const DeviceWeights vt = cache_->Weights(WindowShape::Gaussian, height, p_.radius);
        backend.Upload(src.Data(), src.Pitch(), host, hostPitch, src.RowBytes(), height);
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        if (alpha)
            Backend::Check(
                m.SeparableUnsharpMask_C32A(dst.Data(), dst.Pitch(), src.Data(), src.Pitch(),
                                            mid.Data(), mid.Pitch(), width, height, p_.radius,
                                            p_.amount, ht.data, ht.count, vt.data, vt.count),
                "SeparableUnsharpMask_C32A");
        else
            Backend::Check(
                m.SeparableUnsharpMask_C32(dst.Data(), dst.Pitch(), src.Data(), src.Pitch(),
                                           mid.Data(), mid.Pitch(), width, height, p_.radius,
                                           p_.amount, ht.data, ht.count, vt.data, vt.count),
                "SeparableUnsharpMask_C32");
        backend.Download(host, hostPitch, dst.Data(), dst.Pitch(), dst.RowBytes(), height);
    }

    UnsharpParams p_;
    std::unique_ptr<DeviceCache> cache_;
};

// A factor in -kMaxAmount .. kMaxAmount, rounded to the nearest 1/256.
int ParseAmount(const std::string& text) {
    return static_cast<int>(std::lround(ParseDecimal("--amount", text, -kMaxAmount, kMaxAmount) * 256.0));
}

int RunUnsharp(const ParsedArgs& args, Context& context);

const Command kUnsharp = {
    "unsharp",
    "Sharpen with an unsharp mask over a separable Gaussian blur",
    "unsharp [--radius R] [--amount A] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Every sample o becomes o + A * (o - b), rounded and clamped to\n"
    "0..255, where b is the Gaussian blur of radius R (sigma R / 2) of o's neighbourhood;\n"
    "A is rounded to the nearest 1/256, the module's unit (A = 1 is 256). A negative A\n"
    "softens instead.\n"
    "PNG runs as C32 (SeparableUnsharpMask_C32; grey as grey C32) or, with alpha, C32A\n"
    "(SeparableUnsharpMask_C32A: alpha-weighted blur, alpha sharpened too). 16-bit PNG\n"
    "is converted to 8 bits (with -v, a warning) and written 8-bit. YUV4MPEG2: the Y\n"
    "plane only, run as grey C32; U and V pass through unchanged.\n",
    {
        {"radius", 'r', "R", "blur radius in pixels, 0 to 1000 (default 2)"},
        {"amount", 'a', "A", "strength, -64 to 64 in steps of 1/256 (default 1)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG, grey PNG, YUV4MPEG2 luma), C32A (PNG with alpha)",
    RunUnsharp,
};

const Registration kRegistration(kUnsharp);

int RunUnsharp(const ParsedArgs& args, Context& context) {
    UnsharpParams p;
    if (args.Has("radius"))
        p.radius =
            static_cast<int>(ParseInteger("--radius", args.Value("radius"), 0, kMaxConvRadius));
    if (args.Has("amount")) p.amount = ParseAmount(args.Value("amount"));
    const FilterJob job = FilterJobFromArgs(args, kUnsharp);
    UnsharpFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
