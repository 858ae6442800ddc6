// tvf2 mosaic: every cell of a lattice takes the average colour of its pixels
// (module slots 50..52, Mosaic_C32 / Mosaic_C32A / Mosaic_YUY2).
#include "command.h"
#include "errors.h"
#include "filter_job.h"

#include <climits>
#include <string>

namespace tvf2 {
namespace {

struct MosaicParams {
    Size2 cell{16, 16};
    Point2 offset{0, 0};
    bool unchecked = false;
};

class MosaicFilter final : public FrameFilter {
public:
    explicit MosaicFilter(const MosaicParams& p) : p_(p) {}

    bool Supports(Layout layout) const override { return layout != Layout::YUV32; }

    // The module refuses these with "invalid value"; saying why is friendlier.
    void Check(Layout layout, int width, int height) const override {
        if (p_.unchecked) return;
        const std::string offset = std::to_string(p_.offset.x) + "," + std::to_string(p_.offset.y);
        if (p_.offset.x <= -p_.cell.width || p_.offset.y <= -p_.cell.height)
            throw UsageError("--offset " + offset +
                             ": a negative offset must be smaller than a cell, or whole cells "
                             "would lie outside the frame");
        if (p_.offset.x >= width || p_.offset.y >= height)
            throw UsageError("--offset " + offset + " puts every cell outside the " +
                             std::to_string(width) + "x" + std::to_string(height) + " frame");
        if (layout == Layout::YUY2 && ((p_.cell.width | p_.offset.x) & 1))
            throw UsageError(
                "YUV4MPEG2 frames are filtered as YUY2 pixel pairs: the cell width "
                "and the X offset must be even (got --cell " +
                std::to_string(p_.cell.width) + "x" + std::to_string(p_.cell.height) +
                " --offset " + offset + ")");
    }

    void Apply(Backend& backend, Layout layout, const DeviceImage& src, DeviceImage& dst) override {
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        const int w = src.Width(), h = src.Height();
        const int cw = p_.cell.width, ch = p_.cell.height, ox = p_.offset.x, oy = p_.offset.y;
        switch (layout) {
        case Layout::C32:
            Backend::Check(m.Mosaic_C32(h, w, ch, cw, ox, oy, src.Data(), src.Pitch(), dst.Data(),
                                        dst.Pitch()),
                           "Mosaic_C32");
            break;
        case Layout::C32A:
            Backend::Check(m.Mosaic_C32A(h, w, ch, cw, ox, oy, src.Data(), src.Pitch(), dst.Data(),
                                         dst.Pitch()),
                           "Mosaic_C32A");
            break;
        case Layout::YUY2:
            Backend::Check(m.Mosaic_YUY2(h, w, ch, cw, ox, oy, src.Data(), src.Pitch(), dst.Data(),
                                         dst.Pitch()),
                           "Mosaic_YUY2");
            break;
        case Layout::YUV32: break;  // not supported, never asked for
        }
    }

private:
    MosaicParams p_;
};

int RunMosaic(const ParsedArgs& args, Context& context);

const Command kMosaic = {
    "mosaic",
    "Replace every cell of a lattice by the average colour of the cell",
    "mosaic [--cell WxH] [--offset X,Y] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Cells are W pixels wide and H high; the lattice starts at (X, Y).\n"
    "Pixels left of X or above Y belong to no cell and keep their values; a negative\n"
    "offset (greater than minus a cell) makes the first cells partial. Cells at the\n"
    "right and bottom edges are clipped to the frame.\n"
    "PNG without alpha runs as C32 (Mosaic_C32), PNG with alpha as C32A (Mosaic_C32A,\n"
    "colours weighted by alpha; a fully transparent cell becomes transparent black),\n"
    "YUV4MPEG2 as YUY2 (Mosaic_YUY2; needs an even width, cell width and X offset).\n",
    {
        {"cell", 'c', "WxH", "cell size in pixels; N means NxN (default 16x16)"},
        {"offset", 'o', "X,Y", "where the lattice starts; may be negative (default 0,0)"},
        {"unchecked", 0, nullptr,
         "hand --cell and --offset to the module without tvf2's own range checks"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG), C32A (PNG with alpha), YUY2 (YUV4MPEG2)",
    RunMosaic,
};

const Registration kRegistration(kMosaic);

int RunMosaic(const ParsedArgs& args, Context& context) {
    MosaicParams p;
    p.unchecked = args.Has("unchecked");
    // Unchecked, any int goes through to the module; checked, cells are at least 1.
    const int min = p.unchecked ? INT_MIN : 1;
    if (args.Has("cell")) p.cell = ParseSize("--cell", args.Value("cell"), min, INT_MAX);
    if (args.Has("offset"))
        p.offset = ParsePoint("--offset", args.Value("offset"), INT_MIN, INT_MAX);
    const FilterJob job = FilterJobFromArgs(args, kMosaic);
    MosaicFilter filter(p);
    RunFilterJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
