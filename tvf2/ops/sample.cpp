// tvf2 sample: a synthetic test picture (PNG) or clip (YUV4MPEG2), so that examples
// and tests need no third-party images. Only gradients and geometric shapes: smooth
// areas, hard edges, fine detail and, with --alpha, transparency.
#include "command.h"
#include "errors.h"
#include "file_io.h"
#include "png_io.h"
#include "y4m.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct Rgba {
    double r, g, b, a;  // 0..1
};

Rgba Hue(double h, double v) {
    h = (h - std::floor(h)) * 6.0;
    const double f = h - std::floor(h);
    double r, g, b;
    switch (static_cast<int>(h)) {
    case 0: r = 1, g = f, b = 0; break;
    case 1: r = 1 - f, g = 1, b = 0; break;
    case 2: r = 0, g = 1, b = f; break;
    case 3: r = 0, g = 1 - f, b = 1; break;
    case 4: r = f, g = 0, b = 1; break;
    default: r = 1, g = 0, b = 1 - f; break;
    }
    return Rgba{r * v, g * v, b * v, 1.0};
}

// The uniform backdrop of a keying picture: a studio green, RGB (0, 177, 64).
const Rgba kGreenBackdrop{0.0, 177.0 / 255, 64.0 / 255, 1.0};

// The picture at point (x, y) of a w by h frame, at frame t of a clip; with `green`, the
// shapes stand on a uniform green backdrop instead of the gradient.
Rgba Shade(double x, double y, int w, int h, int t, bool alpha, bool green) {
    const double s = std::min(w, h);
    const double u = x / w, v = y / h;
    // Background: hue across, brightness down.
    Rgba c = green ? kGreenBackdrop : Hue(u + 0.02 * t, 0.95 - 0.5 * v);
    // Concentric rings, their colours turning with time.
    const double rx = x - 0.3 * w, ry = y - 0.42 * h;
    const double rr = std::sqrt(rx * rx + ry * ry);
    if (rr < 0.3 * s) {
        const int ring = static_cast<int>(rr / (0.05 * s));
        c = ring % 2 ? Rgba{1, 1, 1, 1} : Hue(0.13 * ring - 0.03 * t, 0.85);
    }
    // A yellow disc crossing the frame.
    const double cx = std::fmod(0.72 * w + 3.0 * t, w + 0.3 * s) - 0.15 * s, cy = 0.28 * h;
    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < 0.0225 * s * s) c = Rgba{1.0, 0.86, 0.1, 1};
    // A checkered square, lower right.
    if (u > 0.62 && u < 0.92 && v > 0.55 && v < 0.9)
        c = (static_cast<int>(x / 6) + static_cast<int>(y / 6)) % 2 ? Rgba{0.1, 0.2, 0.8, 1}
                                                                    : Rgba{0.9, 0.9, 0.95, 1};
    // A magenta triangle, lower left.
    if (v > 0.7 && v < 0.95 && std::fabs(u - 0.16) < (v - 0.7) * 0.5) c = Rgba{0.85, 0.1, 0.6, 1};
    // Thin diagonal stripes along the bottom edge.
    if (v > 0.96 && static_cast<int>(x + y) % 4 < 2) c = Rgba{0.05, 0.05, 0.05, 1};
    if (alpha) {
        // Opaque in the middle, fading towards the corners; the top-left corner clear.
        const double dx = u - 0.5, dy = v - 0.5;
        c.a = std::clamp(1.6 - 2.2 * std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        if (u < 0.12 && v < 0.12) c.a = 0.0;
    }
    return c;
}

// Renders with 2x2 supersampling so that edges are smooth.
std::vector<Rgba> Render(int w, int h, int t, bool alpha, bool green) {
    std::vector<Rgba> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgba sum{0, 0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                const Rgba c =
                    Shade(x + 0.25 + 0.5 * (k & 1), y + 0.25 + 0.5 * (k >> 1), w, h, t, alpha, green);
                sum.r += c.r, sum.g += c.g, sum.b += c.b, sum.a += c.a;
            }
            out[static_cast<size_t>(y) * w + x] = Rgba{sum.r / 4, sum.g / 4, sum.b / 4, sum.a / 4};
        }
    return out;
}

Image ToImage(const std::vector<Rgba>& px, int w, int h, bool alpha, int depth) {
    Image img;
    img.width = w;
    img.height = h;
    img.channels = alpha ? 4 : 3;
    img.bitDepth = depth;
    img.data.resize(img.RowBytes() * h);
    const double scale = depth == 16 ? 65535.0 : 255.0;
    size_t i = 0;
    for (const Rgba& c : px) {
        const double ch[4] = {c.r, c.g, c.b, c.a};
        for (int k = 0; k < img.channels; ++k, ++i) {
            const double q = std::floor(std::clamp(ch[k], 0.0, 1.0) * scale + 0.5);
            if (depth == 16) {
                const uint16_t v = static_cast<uint16_t>(q);
                std::memcpy(img.data.data() + 2 * i, &v, 2);
            } else {
                img.data[i] = static_cast<uint8_t>(q);
            }
        }
    }
    return img;
}

uint8_t Quantise(double v) {
    return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
}

// RGB (0..1) to BT.601 limited-range Y'CbCr, subsampled by averaging neighbours
// (chroma sited between them, as C420jpeg says).
void ToFrame(const std::vector<Rgba>& px, const Y4mHeader& h, Y4mFrame& frame) {
    const int w = h.width, ht = h.height;
    std::vector<double> cb(px.size()), cr(px.size());
    frame.data.resize(h.FrameBytes());
    for (size_t i = 0; i < px.size(); ++i) {
        const double r = px[i].r * 255, g = px[i].g * 255, b = px[i].b * 255;
        frame.Y()[i] = Quantise(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
        cb[i] = 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
        cr[i] = 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
    }
    const int sx = h.chroma == Chroma::C444 ? 1 : 2, sy = h.chroma == Chroma::C420 ? 2 : 1;
    for (int cy = 0; cy < h.ChromaHeight(); ++cy)
        for (int cx = 0; cx < h.ChromaWidth(); ++cx) {
            double su = 0, sv = 0;
            int n = 0;
            for (int y = cy * sy; y < std::min(ht, cy * sy + sy); ++y)
                for (int x = cx * sx; x < std::min(w, cx * sx + sx); ++x, ++n) {
                    su += cb[static_cast<size_t>(y) * w + x];
                    sv += cr[static_cast<size_t>(y) * w + x];
                }
            const size_t at = static_cast<size_t>(cy) * h.ChromaWidth() + cx;
            frame.U(h)[at] = Quantise(su / n);
            frame.V(h)[at] = Quantise(sv / n);
        }
}

int RunSample(const ParsedArgs& args, Context& context);

const Command kSample = {
    "sample",
    "Synthesise a colourful test picture (PNG) or clip (YUV4MPEG2)",
    "sample [--size WxH] [--alpha] [--depth 8|16] [--backdrop green] [--frames N] [options] OUT",
    "Gradients, rings, a moving disc, a checkered square, a triangle and stripes; no\n"
    "text and no third-party material. --backdrop green puts the shapes on a uniform\n"
    "studio green (RGB 00B140), a picture to try tvf2 key on. OUT ending in .y4m (or\n"
    "'-', stdout) gives a YUV4MPEG2 clip in BT.601 limited range; anything else a PNG\n"
    "picture. The module is not used.\n",
    {
        {"size", 's', "WxH", "picture size (default 320x240)"},
        {"alpha", 0, nullptr, "PNG: add an alpha channel (fading out, one corner clear)"},
        {"depth", 0, "8|16", "PNG: bits per sample (default 8)"},
        {"backdrop", 0, "gradient|green", "behind the shapes (default gradient)"},
        {"frames", 0, "N", "YUV4MPEG2: number of frames (default 50)"},
        {"chroma", 0, "420|422|444", "YUV4MPEG2: chroma subsampling (default 420)"},
        {"fps", 0, "N", "YUV4MPEG2: frames per second (default 25)"},
        {"format", 0, "png|y4m", "output format (default: from OUT's name)"},
    },
    false,
    "",
    RunSample,
};

const Registration kRegistration(kSample);

int RunSample(const ParsedArgs& args, Context& context) {
    ExpectPositional(args, kSample, 1);
    const std::string outPath = args.Positional()[0];
    Size2 size{320, 240};
    if (args.Has("size")) size = ParseSize("--size", args.Value("size"), 1, 16384);
    std::string format = args.Value("format");
    if (format.empty()) {
        const bool y4m = outPath == "-" || (outPath.size() >= 4 &&
                                            outPath.compare(outPath.size() - 4, 4, ".y4m") == 0);
        format = y4m ? "y4m" : "png";
    }
    if (format != "png" && format != "y4m")
        throw UsageError("--format: '" + format + "' is not one of png, y4m");
    const bool alpha = args.Has("alpha");
    const std::string backdrop = args.Has("backdrop") ? args.Value("backdrop") : "gradient";
    if (backdrop != "gradient" && backdrop != "green")
        throw UsageError("--backdrop: '" + backdrop + "' is not one of gradient, green");
    const bool green = backdrop == "green";
    const int depth = args.Has("depth")
                          ? static_cast<int>(ParseInteger("--depth", args.Value("depth"), 8, 16))
                          : 8;
    if (depth != 8 && depth != 16)
        throw UsageError("--depth: " + args.Value("depth") + " is not 8 or 16");

    if (format == "png") {
        if (args.Has("frames") || args.Has("chroma") || args.Has("fps"))
            throw UsageError("--frames, --chroma and --fps apply to YUV4MPEG2 output only");
        OutputFile out(outPath);
        WritePng(ToImage(Render(size.width, size.height, 0, alpha, green), size.width, size.height, alpha,
                         depth),
                 out);
        out.Commit();
        context.Note("wrote a " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                     " PNG picture to " + out.Name());
        return kExitOk;
    }
    if (alpha || args.Has("depth"))
        throw UsageError("--alpha and --depth apply to PNG output only");
    const long long frames =
        args.Has("frames") ? ParseInteger("--frames", args.Value("frames"), 1, 100000) : 50;
    const long long fps = args.Has("fps") ? ParseInteger("--fps", args.Value("fps"), 1, 1000) : 25;
    const std::string chroma = args.Has("chroma") ? args.Value("chroma") : "420";
    std::string tag;
    if (chroma == "420")
        tag = "420jpeg";
    else if (chroma == "422" || chroma == "444")
        tag = chroma;
    else
        throw UsageError("--chroma: '" + chroma + "' is not one of 420, 422, 444");
    const std::string params = " W" + std::to_string(size.width) + " H" +
                               std::to_string(size.height) + " F" + std::to_string(fps) +
                               ":1 Ip A1:1 C" + tag + " XCOLORRANGE=LIMITED";
    const Y4mHeader header = ParseY4mParams(params, "sample");
    OutputFile out(outPath);
    Y4mWriter writer(out, header);
    Y4mFrame frame;
    for (long long t = 0; t < frames; ++t) {
        ToFrame(Render(size.width, size.height, static_cast<int>(t), false, green), header, frame);
        writer.WriteFrame(frame);
    }
    out.Commit();
    context.Note("wrote " + std::to_string(frames) + " frames of " + std::to_string(size.width) +
                 "x" + std::to_string(size.height) + " YUV4MPEG2 to " + out.Name());
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
