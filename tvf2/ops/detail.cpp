// tvf2 detail: thresholded detail addition (module slots 55 to 58: AddDetail_C32 / _C64,
// AddDetailWeighted_C32 / _C64). tvf2 prepares the detail signal as the difference
// between the frame and its Gaussian blur, made with the module's separable convolution
// (SeparableConvolve_C32 / _C64) and tables from the shared builder.
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

constexpr double kMaxAmount = 64.0;
constexpr int kFullWeight = 4095;  // the weighted slots' unit weight

struct DetailParams {
    int radius = 2;
    float amount = 0.5f;
    int threshold = 0, limit = 32767;
    bool weighted = false;
};

// Lane c of pixel x in C32 (bytes) or C64 (signed 16-bit) rows.
int Lane(const uint8_t* row, bool wide, int x, int c) {
    if (!wide) return row[4 * x + c];
    int16_t v;
    std::memcpy(&v, row + 8 * x + 2 * c, 2);
    return v;
}

// The detail record of every pixel: frame minus blur for lanes 0-2, and the weight: the
// pixel's alpha (lane 3, 255 or 32767 at full scale) on 0..4095, rounded to nearest.
void MakeDetail(bool wide, int width, int height, const uint8_t* frame, const uint8_t* blur, size_t pitch,
                int16_t* detail) {
    const int full = wide ? 32767 : 255;
    for (int y = 0; y < height; ++y) {
        const uint8_t* f = frame + y * pitch;
        const uint8_t* b = blur + y * pitch;
        int16_t* d = detail + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) d[4 * x + c] = static_cast<int16_t>(Lane(f, wide, x, c) - Lane(b, wide, x, c));
            const int a = Lane(f, wide, x, 3) < 0 ? 0 : Lane(f, wide, x, 3);
            d[4 * x + 3] = static_cast<int16_t>((a * kFullWeight + full / 2) / full);
        }
    }
}

class DetailFilter final : public PictureFilter {
public:
    explicit DetailFilter(const DetailParams& p) : p_(p) {}

    // 8-bit pictures as C32, 16-bit ones as C64 (grey replicated into B, G and R).
    void FilterPicture(Context& context, Image& img) override {
        const bool wide = img.bitDepth == 16;
        const size_t pitch = static_cast<size_t>(img.width) * (wide ? 8 : 4);
        std::vector<uint8_t> host(pitch * img.height);
        wide ? ImageToC64(img, host.data(), pitch) : ImageToC32(img, host.data(), pitch);
        AddDetail(context, wide, img.width, img.height, host.data(), pitch);
        wide ? C64ToImage(host.data(), pitch, img) : C32ToImage(host.data(), pitch, img);
    }

    // Luma only, as a grey C32 picture; the chroma planes pass through unchanged.
    void FilterFrame(Context& context, const Y4mHeader& h, Y4mFrame& frame) override {
        const size_t pitch = static_cast<size_t>(h.width) * 4;
        std::vector<uint8_t> host(pitch * h.height);
        PlaneToC32(frame.Y(), h.width, h.width, h.height, host.data(), pitch);
        AddDetail(context, false, h.width, h.height, host.data(), pitch);
        C32ToPlane(host.data(), pitch, h.width, h.height, frame.Y(), h.width);
    }

private:
    // Adds the detail to C32 (or, wide, C64) rows in place in host memory.
    void AddDetail(Context& context, bool wide, int width, int height, uint8_t* host, size_t pitch) {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        const int bytes = wide ? 8 : 4;
        DeviceImage& src = cache_->Image("src", width, height, bytes);
        DeviceImage& blur = cache_->Image("blur", width, height, bytes);
        DeviceImage& det = cache_->Image("detail", width, height, 8);
        DeviceImage& dst = cache_->Image("dst", width, height, bytes);
        void* work = cache_->Work("work", 2, static_cast<long long>(width) * height * bytes);
        const DeviceWeights ht = cache_->Weights(WindowShape::Gaussian, width, p_.radius);
        const DeviceWeights vt = cache_->Weights(WindowShape::Gaussian, height, p_.radius);
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();

        backend.Upload(src.Data(), src.Pitch(), host, pitch, src.RowBytes(), height);
        auto conv = wide ? &ICUDAKernelFuncSet_TarvoVideoFilter2::SeparableConvolve_C64
                         : &ICUDAKernelFuncSet_TarvoVideoFilter2::SeparableConvolve_C32;
        Backend::Check((m.*conv)(blur.Data(), src.Data(), width, height, blur.Pitch(), src.Pitch(), ht.data, ht.count,
                                 vt.data, vt.count, work, p_.radius, p_.radius),
                       wide ? "SeparableConvolve_C64" : "SeparableConvolve_C32");
        blurred_.resize(pitch * height);
        backend.Download(blurred_.data(), pitch, blur.Data(), blur.Pitch(), blur.RowBytes(), height);
        detail_.resize(static_cast<size_t>(width) * height * 4);
        MakeDetail(wide, width, height, host, blurred_.data(), pitch, detail_.data());
        backend.Upload(det.Data(), det.Pitch(), detail_.data(), static_cast<size_t>(width) * 8, det.RowBytes(), height);

        typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
        auto slot = wide ? (p_.weighted ? &F::AddDetailWeighted_C64 : &F::AddDetail_C64)
                         : (p_.weighted ? &F::AddDetailWeighted_C32 : &F::AddDetail_C32);
        const char* name = wide ? (p_.weighted ? "AddDetailWeighted_C64" : "AddDetail_C64")
                                : (p_.weighted ? "AddDetailWeighted_C32" : "AddDetail_C32");
        Backend::Check((m.*slot)(width, height, dst.Data(), dst.Pitch(), src.Data(), src.Pitch(), det.Data(),
                                 det.Pitch(), p_.amount, p_.threshold, p_.limit),
                       name);
        backend.Download(host, pitch, dst.Data(), dst.Pitch(), dst.RowBytes(), height);
    }

    DetailParams p_;
    std::unique_ptr<DeviceCache> cache_;
    std::vector<uint8_t> blurred_;
    std::vector<int16_t> detail_;
};

int RunDetail(const ParsedArgs& args, Context& context);

const Command kDetail = {
    "detail",
    "Add the detail above a threshold (frame minus its Gaussian blur), capped and scaled",
    "detail [--amount A] [--threshold T] [--limit L] [--radius R] [--weighted] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format (and, for PNG, the channels and bit depth) of IN. The detail d of a\n"
    "sample is the sample minus its Gaussian blur of radius R (sigma R / 2); only what\n"
    "exceeds T counts, at most L: v = d - T < 0 ? 0 : min(L, d - T). Then\n"
    "  default     the sample gains (v * trunc(2048 A)) >> 10, about 2 A v (A from 0 to\n"
    "              16; a negative A saturates every sample with v > 0);\n"
    "  --weighted  the sample gains trunc(v * (A / 4095 * w)), about A v w / 4095, where\n"
    "              the weight w is the pixel's alpha on 0..4095 (4095 without alpha), so\n"
    "              transparent pixels keep their colours and a negative A takes detail\n"
    "              away;\n"
    "each result clamped to the sample range. With T >= 0 only samples brighter than\n"
    "their surroundings gain.\n"
    "PNG runs as C32 (AddDetail_C32, AddDetailWeighted_C32; grey as grey C32), 16-bit PNG\n"
    "as C64 (AddDetail_C64, AddDetailWeighted_C64), where each sample v enters as v >> 1:\n"
    "T and L are in those units, 128 times the 8-bit ones. Alpha is kept. YUV4MPEG2: the\n"
    "Y plane only, run as grey C32; U and V pass through unchanged.\n",
    {
        {"amount", 'a', "A", "strength, -64 to 64 (default 0.5: the detail once)"},
        {"threshold", 't', "T", "detail at or below T counts nothing, -32768 to 32767 (default 0)"},
        {"limit", 'l', "L", "cap on the counted detail, 0 to 32767 (default 32767)"},
        {"radius", 'r', "R", "blur radius in pixels, 0 to 1000 (default 2)"},
        {"weighted", 0, nullptr, "scale in floats, weighted by alpha"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (8-bit PNG, alpha or not; YUV4MPEG2 luma), C64 (16-bit PNG)",
    RunDetail,
};

const Registration kRegistration(kDetail);

int RunDetail(const ParsedArgs& args, Context& context) {
    DetailParams p;
    if (args.Has("amount"))
        p.amount = static_cast<float>(ParseDecimal("--amount", args.Value("amount"), -kMaxAmount, kMaxAmount));
    if (args.Has("threshold"))
        p.threshold = static_cast<int>(ParseInteger("--threshold", args.Value("threshold"), -32768, 32767));
    if (args.Has("limit")) p.limit = static_cast<int>(ParseInteger("--limit", args.Value("limit"), 0, 32767));
    if (args.Has("radius"))
        p.radius = static_cast<int>(ParseInteger("--radius", args.Value("radius"), 0, kMaxConvRadius));
    p.weighted = args.Has("weighted");
    const FilterJob job = FilterJobFromArgs(args, kDetail);
    DetailFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
