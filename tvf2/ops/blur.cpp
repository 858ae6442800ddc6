// tvf2 blur: a separable Gaussian or box blur with weight tables built by tvf2 (module
// slots 31..36, SeparableConvolve_C32 / _C64 / Alpha_C32A / Alpha_C64A / _P8 / _P16).
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <string>
#include <vector>

namespace tvf2 {
namespace {

enum class ConvLayout { C32, C64, C32A, C64A, P8, P16 };

// Slots 31..36 take the same arguments: dst, src, width, height, dstPitch, srcPitch,
// the horizontal table and its count, the vertical table and its count, the work area,
// the horizontal and vertical radius.
typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*ConvolveSlot)(void*, const void*, int, int, int,
                                                                  int, const float*, int,
                                                                  const float*, int, void*, int,
                                                                  int);

struct LayoutInfo {
    ConvolveSlot slot;
    const char* slotName;
    int bytesPerPixel;
    // The work area: C32 and C64 keep the row pass's result and a column-major copy of
    // the column pass's; the alpha layouts only the row pass's; the planes keep the
    // row pass's sums as floats.
    int workImages, workBytesPerPixel;
};

LayoutInfo Info(ConvLayout layout) {
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    switch (layout) {
    case ConvLayout::C32: return {&F::SeparableConvolve_C32, "SeparableConvolve_C32", 4, 2, 4};
    case ConvLayout::C64: return {&F::SeparableConvolve_C64, "SeparableConvolve_C64", 8, 2, 8};
    case ConvLayout::C32A:
        return {&F::SeparableConvolveAlpha_C32A, "SeparableConvolveAlpha_C32A", 4, 1, 4};
    case ConvLayout::C64A:
        return {&F::SeparableConvolveAlpha_C64A, "SeparableConvolveAlpha_C64A", 8, 1, 8};
    case ConvLayout::P8: return {&F::SeparableConvolve_P8, "SeparableConvolve_P8", 1, 1, 4};
    case ConvLayout::P16: return {&F::SeparableConvolve_P16, "SeparableConvolve_P16", 2, 1, 4};
    }
    return {nullptr, "?", 0, 0, 0};
}

// The layout a picture runs as: its own depth, with alpha weighting when it has alpha,
// a single plane when it is grey without alpha.
ConvLayout PictureLayout(const Image& img) {
    const bool wide = img.bitDepth == 16;
    if (img.HasAlpha()) return wide ? ConvLayout::C64A : ConvLayout::C32A;
    if (img.IsGrey()) return wide ? ConvLayout::P16 : ConvLayout::P8;
    return wide ? ConvLayout::C64 : ConvLayout::C32;
}

struct BlurParams {
    WindowShape shape = WindowShape::Gaussian;
    int radiusX = 2, radiusY = 2;
};

class BlurFilter final : public PictureFilter {
public:
    explicit BlurFilter(const BlurParams& p) : p_(p) {}

    void FilterPicture(Context& context, Image& img) override {
        const ConvLayout layout = PictureLayout(img);
        const size_t pitch = static_cast<size_t>(img.width) * Info(layout).bytesPerPixel;
        std::vector<uint8_t> host(pitch * img.height);
        switch (layout) {
        case ConvLayout::C32:
        case ConvLayout::C32A: ImageToC32(img, host.data(), pitch); break;
        case ConvLayout::C64:
        case ConvLayout::C64A: ImageToC64(img, host.data(), pitch); break;
        case ConvLayout::P8:
        case ConvLayout::P16: ImageToPlane(img, host.data(), pitch); break;
        }
        Blur(context, layout, img.width, img.height, host.data(), pitch);
        switch (layout) {
        case ConvLayout::C32:
        case ConvLayout::C32A: C32ToImage(host.data(), pitch, img); break;
        case ConvLayout::C64:
        case ConvLayout::C64A: C64ToImage(host.data(), pitch, img); break;
        case ConvLayout::P8:
        case ConvLayout::P16: PlaneToImage(host.data(), pitch, img); break;
        }
    }

    // Every plane on its own, at its own size and with the same radius in its own samples:
    // no colour conversion, and nothing of one plane reaches another.
    void FilterFrame(Context& context, const Y4mHeader& h, Y4mFrame& frame) override {
        Blur(context, ConvLayout::P8, h.width, h.height, frame.Y(), h.width);
        Blur(context, ConvLayout::P8, h.ChromaWidth(), h.ChromaHeight(), frame.U(h),
             h.ChromaWidth());
        Blur(context, ConvLayout::P8, h.ChromaWidth(), h.ChromaHeight(), frame.V(h),
             h.ChromaWidth());
    }

private:
    // Filters `height` rows of `width` pixels of the layout, in place in host memory.
    void Blur(Context& context, ConvLayout layout, int width, int height, uint8_t* host,
              size_t hostPitch) {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        const LayoutInfo info = Info(layout);
        DeviceImage& src = cache_->Image("src", width, height, info.bytesPerPixel);
        DeviceImage& dst = cache_->Image("dst", width, height, info.bytesPerPixel);
        void* work = cache_->Work("work", info.workImages,
                                  static_cast<long long>(width) * height * info.workBytesPerPixel);
        const DeviceWeights ht = cache_->Weights(p_.shape, width, p_.radiusX);
        const DeviceWeights vt = cache_->Weights(p_.shape, height, p_.radiusY);

        backend.Upload(src.Data(), src.Pitch(), host, hostPitch, src.RowBytes(), height);
        const int status = (backend.Funcs().*info.slot)(
            dst.Data(), src.Data(), width, height, dst.Pitch(), src.Pitch(), ht.data, ht.count,
            vt.data, vt.count, work, p_.radiusX, p_.radiusY);
        Backend::Check(status, info.slotName);
        backend.Download(host, hostPitch, dst.Data(), dst.Pitch(), dst.RowBytes(), height);
    }

    BlurParams p_;
    std::unique_ptr<DeviceCache> cache_;
};

int RunBlur(const ParsedArgs& args, Context& context);

const Command kBlur = {
    "blur",
    "Blur with a separable Gaussian or box window",
    "blur [--kind gaussian|box] [--radius R | --radius RX,RY] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format (and, for PNG, the channels and bit depth) of IN. Every output pixel is\n"
    "the weighted mean of the pixels within RX columns and RY rows of it; near the edges\n"
    "the window is cut off and its weights scaled back up to a sum of 1. The Gaussian\n"
    "has sigma = R / 2 (sigma 0.5 for R = 0 or 1); the box weighs every pixel alike.\n"
    "PNG runs as C32 (RGB), C32A (with alpha: colours weighted by alpha) or P8 (grey),\n"
    "and 16-bit PNG as C64, C64A or P16 (each sample v enters as v >> 1).\n"
    "YUV4MPEG2 runs as P8 on the Y, U and V planes separately, each with the same\n"
    "radius in its own samples (no colour conversion).\n",
    {
        {"kind", 'k', "gaussian|box", "window shape (default gaussian)"},
        {"radius", 'r', "R|RX,RY",
         "window radius in pixels, 0 to 1000; RX,RY for each axis (default 2)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32, C32A, P8 (PNG), C64, C64A, P16 (16-bit PNG), P8 planes (YUV4MPEG2)",
    RunBlur,
};

const Registration kRegistration(kBlur);

int RunBlur(const ParsedArgs& args, Context& context) {
    BlurParams p;
    if (args.Has("kind")) {
        const std::string kind = args.Value("kind");
        if (kind == "gaussian")
            p.shape = WindowShape::Gaussian;
        else if (kind == "box")
            p.shape = WindowShape::Box;
        else
            throw UsageError("--kind: '" + kind + "' is not one of gaussian, box");
    }
    if (args.Has("radius")) {
        const std::string text = args.Value("radius");
        if (text.find(',') != std::string::npos) {
            const Point2 r = ParsePoint("--radius", text, 0, kMaxConvRadius);
            p.radiusX = r.x;
            p.radiusY = r.y;
        } else {
            p.radiusX = p.radiusY =
                static_cast<int>(ParseInteger("--radius", text, 0, kMaxConvRadius));
        }
    }
    const FilterJob job = FilterJobFromArgs(args, kBlur);
    BlurFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
