// tvf2 warp: displace every pixel along the gradient of the picture's smoothed edge map
// and resample it bicubically (module slots 16 and 17, DisplaceByEdgeGradient_C32 /
// DisplaceByEdgeGradient_C32A).
#include "command.h"
#include "errors.h"
#include "filter_job.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct WarpParams {
    int edgeLimit = 255;
    int iterations = 2;
    int strength = 1500;
    double cubic = -0.5;
};

// Integer luma of B, G, R (BT.601 weights in 1/256).
uint8_t Luma(const uint8_t* p) {
    return static_cast<uint8_t>((29 * p[0] + 150 * p[1] + 77 * p[2] + 128) >> 8);
}

class WarpFilter final : public FrameFilter {
public:
    explicit WarpFilter(const WarpParams& p) : p_(p) {}

    bool Supports(Layout layout) const override { return layout == Layout::C32 || layout == Layout::C32A; }

    void Check(Layout, int width, int height) const override {
        if ((width == 3 && height >= 3) || (height == 3 && width >= 3))
            throw UsageError("a " + std::to_string(width) + "x" + std::to_string(height) +
                             " picture is too small to warp: the 4x4 resampling window of an "
                             "inner pixel needs at least 4 columns and 4 rows");
    }

    // The edge source is the picture's luma: a 16-bit plane with the luma in the low
    // byte (C32), or a C32A frame with the luma in byte 0 and the picture's alpha (C32A).
    void Apply(Backend& backend, Layout layout, const DeviceImage& src, DeviceImage& dst) override {
        const int w = src.Width(), h = src.Height();
        const bool alpha = layout == Layout::C32A;
        if (!map_ || map_->Width() != w || map_->Height() != h || alpha != alpha_) {
            alpha_ = alpha;
            edge_.reset();
            map_.reset();
            tmp_.reset();
            edge_ = std::make_unique<DeviceImage>(backend, w, h, alpha ? 4 : 2);
            map_ = std::make_unique<DeviceImage>(backend, w, h, 2);
            tmp_ = std::make_unique<DeviceImage>(backend, w, h, 2);
        }
        const size_t pitch = static_cast<size_t>(w) * 4, edgeRow = static_cast<size_t>(w) * (alpha ? 4 : 2);
        frame_.resize(pitch * h);
        edgeHost_.assign(edgeRow * h, 0);
        backend.Download(frame_.data(), pitch, src.Data(), src.Pitch(), pitch, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = frame_.data() + y * pitch + 4 * x;
                uint8_t* e = edgeHost_.data() + y * edgeRow + x * (alpha ? 4 : 2);
                e[0] = Luma(p);
                if (alpha) e[3] = p[3];
            }
        backend.Upload(edge_->Data(), edge_->Pitch(), edgeHost_.data(), edgeRow, edgeRow, h);
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        auto slot = alpha ? &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32A
                          : &ICUDAKernelFuncSet_TarvoVideoFilter2::DisplaceByEdgeGradient_C32;
        Backend::Check((m.*slot)(dst.Data(), dst.Pitch(), map_->Data(), map_->Pitch(), tmp_->Data(),
                                 tmp_->Pitch(), src.Data(), src.Pitch(), edge_->Data(), edge_->Pitch(),
                                 w, h, p_.edgeLimit, p_.iterations, p_.strength,
                                 static_cast<float>(p_.cubic)),
                       alpha ? "DisplaceByEdgeGradient_C32A" : "DisplaceByEdgeGradient_C32");
    }

private:
    WarpParams p_;
    bool alpha_ = false;
    std::unique_ptr<DeviceImage> edge_, map_, tmp_;
    std::vector<uint8_t> frame_, edgeHost_;
};

int RunWarp(const ParsedArgs& args, Context& context);

const Command kWarp = {
    "warp",
    "Displace pixels along the gradient of the smoothed edge map, resampled bicubically",
    "warp [--limit N] [--iterations N] [--strength S] [--cubic A] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. The edge map is the Sobel strength of the picture's luma times 6,\n"
    "clipped to the limit N, then smoothed by N passes of the 5x5 binomial filter. Each\n"
    "inner pixel moves by the map's\n"
    "central differences times S / 4096 pixels (S may be negative) and is resampled with\n"
    "the 4x4 cubic convolution of parameter A; the outermost rows and columns are copied.\n"
    "PNG runs as C32 (DisplaceByEdgeGradient_C32), PNG with alpha as C32A\n"
    "(DisplaceByEdgeGradient_C32A: edges and colours weighted by alpha). YUV4MPEG2 frames\n"
    "are converted to RGB C32 (BT.601) and back; 16-bit PNG is converted to 8 bits.\n",
    {
        {"limit", 'l', "N", "upper clamp of the edge map, 0 to 255 (default 255)"},
        {"iterations", 'i', "N", "smoothing passes, 0 to 100 (default 2)"},
        {"strength", 's', "S", "displacement gain in 1/4096 pixel per map step (default 1500)"},
        {"cubic", 'a', "A", "cubic convolution parameter, -4 to 4 (default -0.5)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG, YUV4MPEG2 as RGB), C32A (PNG with alpha)",
    RunWarp,
};

const Registration kRegistration(kWarp);

int RunWarp(const ParsedArgs& args, Context& context) {
    WarpParams p;
    if (args.Has("limit")) p.edgeLimit = static_cast<int>(ParseInteger("--limit", args.Value("limit"), 0, 255));
    if (args.Has("iterations"))
        p.iterations = static_cast<int>(ParseInteger("--iterations", args.Value("iterations"), 0, 100));
    if (args.Has("strength"))
        p.strength = static_cast<int>(ParseInteger("--strength", args.Value("strength"), -1000000, 1000000));
    if (args.Has("cubic")) p.cubic = ParseDecimal("--cubic", args.Value("cubic"), -4.0, 4.0);
    const FilterJob job = FilterJobFromArgs(args, kWarp);
    WarpFilter filter(p);
    RunFilterJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
