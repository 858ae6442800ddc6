// tvf2 sharpen: 3x3 Laplacian sharpening or Sobel edge boost (module slots 12 to 15:
// SharpenLaplacian_C32 / _C32A, AddEdgeMagnitude_C32 / _C32A).
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

// The module takes the amount in 1/256 units; tvf2 takes it as a factor.
constexpr double kMaxAmount = 64.0;

struct SharpenParams {
    bool sobel = false;
    int amount = 256;  // 1/256 units: 256 is a factor of 1
};

class SharpenFilter final : public C32LumaFilter {
public:
    explicit SharpenFilter(const SharpenParams& p) : C32LumaFilter("sharpens 8-bit pixels only"), p_(p) {}

private:
    void FilterC32(Context& context, bool alpha, int width, int height, uint8_t* host,
                   size_t hostPitch) override {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        DeviceImage& src = cache_->Image("src", width, height, 4);
        DeviceImage& dst = cache_->Image("dst", width, height, 4);
        backend.Upload(src.Data(), src.Pitch(), host, hostPitch, src.RowBytes(), height);
        typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
        auto slot = p_.sobel ? (alpha ? &F::AddEdgeMagnitude_C32A : &F::AddEdgeMagnitude_C32)
                             : (alpha ? &F::SharpenLaplacian_C32A : &F::SharpenLaplacian_C32);
        const char* name = p_.sobel ? (alpha ? "AddEdgeMagnitude_C32A" : "AddEdgeMagnitude_C32")
                                    : (alpha ? "SharpenLaplacian_C32A" : "SharpenLaplacian_C32");
        Backend::Check((backend.Funcs().*slot)(width, height, p_.amount, dst.Data(), dst.Pitch(), src.Data(),
                                               src.Pitch()),
                       name);
        backend.Download(host, hostPitch, dst.Data(), dst.Pitch(), dst.RowBytes(), height);
    }

    SharpenParams p_;
    std::unique_ptr<DeviceCache> cache_;
};

int RunSharpen(const ParsedArgs& args, Context& context);

const Command kSharpen = {
    "sharpen",
    "Sharpen with a 3x3 Laplacian or brighten edges by their Sobel magnitude",
    "sharpen [--laplacian | --sobel] [--amount A] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. From each pixel's 3x3 neighbourhood (edge pixels repeated beyond\n"
    "the frame):\n"
    "  --laplacian (default)  o + A * (hp - 128), hp = 128 + 4o - up - down - left - right\n"
    "                         clamped to 0..255 first;\n"
    "  --sobel                o + A * |Sobel gradient| (clamped to 255 first);\n"
    "the added term truncated toward zero, the result clamped to 0..255. A is rounded to\n"
    "the nearest 1/256, the module's unit (A = 1 is 256); a negative A softens (Laplacian)\n"
    "or darkens edges (Sobel).\n"
    "PNG runs as C32 (SharpenLaplacian_C32 / AddEdgeMagnitude_C32; grey as grey C32) or,\n"
    "with alpha, C32A (neighbours weighted by their alpha, resp. the gradient of\n"
    "alpha-premultiplied colours; alpha kept). 16-bit PNG is converted to 8 bits (with -v,\n"
    "a warning) and written 8-bit. YUV4MPEG2: the Y plane only, run as grey C32; U and V\n"
    "pass through unchanged.\n",
    {
        {"laplacian", 0, nullptr, "add the 4-neighbour Laplacian (default)"},
        {"sobel", 0, nullptr, "add the Sobel gradient magnitude"},
        {"amount", 'a', "A", "strength, -64 to 64 in steps of 1/256 (default 1)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG, grey PNG, YUV4MPEG2 luma), C32A (PNG with alpha)",
    RunSharpen,
};

const Registration kRegistration(kSharpen);

int RunSharpen(const ParsedArgs& args, Context& context) {
    SharpenParams p;
    if (args.Has("laplacian") && args.Has("sobel")) throw UsageError("--laplacian and --sobel exclude each other");
    p.sobel = args.Has("sobel");
    if (args.Has("amount"))
        p.amount = static_cast<int>(std::lround(ParseDecimal("--amount", args.Value("amount"), -kMaxAmount, kMaxAmount) * 256.0));
    const FilterJob job = FilterJobFromArgs(args, kSharpen);
    SharpenFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
