// tvf2 wave: offset every row of the picture by the sum of up to three moving waves
// (module slot 18, RowWaveOffset_C32).
#include "command.h"
#include "errors.h"
#include "filter_job.h"

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

struct Wave {
    int shape = 0;
    double wavelength = 0.25, speed = 1.0, amplitude = 24.0;
};

enum class Fields { Auto, Whole, Top, Bottom };

struct WaveParams {
    std::vector<Wave> waves;
    long long frame = 0;
    double rate = 25.0;
    Fields fields = Fields::Auto;
};

const char* const kShapes[] = {"cosine", "triangle", "square", "rising", "falling"};

// SHAPE,WAVELENGTH,SPEED,AMPLITUDE; SHAPE by name or number 0..4.
Wave ParseWave(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    if (parts.size() != 4)
        throw UsageError("--wave: '" + text + "' is not SHAPE,WAVELENGTH,SPEED,AMPLITUDE");
    Wave w;
    w.shape = -1;
    for (int s = 0; s < 5; ++s)
        if (parts[0] == kShapes[s] || parts[0] == std::to_string(s)) w.shape = s;
    if (w.shape < 0)
        throw UsageError("--wave: unknown shape '" + parts[0] +
                         "' (cosine, triangle, square, rising, falling or 0..4)");
    w.wavelength = ParseDecimal("--wave wavelength", parts[1], -1e6, 1e6);
    w.speed = ParseDecimal("--wave speed", parts[2], -1e6, 1e6);
    w.amplitude = ParseDecimal("--wave amplitude", parts[3], -1e6, 1e6);
    return w;
}

// The stream's frame rate (F<num>:<den>) and interlacing (I<p|t|b|m>).
void ReadStreamTags(const std::string& params, double* rate, Fields* fields) {
    std::stringstream in(params);
    for (std::string tag; in >> tag;) {
        if (tag.size() > 1 && tag[0] == 'F') {
            const long long num = std::atoll(tag.c_str() + 1);
            const size_t colon = tag.find(':');
            const long long den = colon == std::string::npos ? 1 : std::atoll(tag.c_str() + colon + 1);
            if (num > 0 && den > 0) *rate = static_cast<double>(num) / static_cast<double>(den);
        } else if (tag == "It" && *fields == Fields::Auto) {
            *fields = Fields::Top;
        } else if (tag == "Ib" && *fields == Fields::Auto) {
            *fields = Fields::Bottom;
        }
    }
}

class WaveFilter final : public FrameFilter {
public:
    explicit WaveFilter(const WaveParams& p) : p_(p) {}

    bool Supports(Layout layout) const override { return layout == Layout::C32; }

    // A stream's frames count from 0 at its first frame and run at its own rate.
    void BeginStream(const Y4mHeader& header) override {
        p_.frame = 0;
        ReadStreamTags(header.params, &p_.rate, &p_.fields);
    }

    void Apply(Backend& backend, Layout, const DeviceImage& src, DeviceImage& dst) override {
        Wave w[3];
        bool on[3] = {false, false, false};
        for (size_t k = 0; k < p_.waves.size(); ++k) w[k] = p_.waves[k], on[k] = true;
        const bool whole = p_.fields == Fields::Auto || p_.fields == Fields::Whole;
        Backend::Check(backend.Funcs().RowWaveOffset_C32(
                           src.Width(), src.Height(), dst.Data(), dst.Pitch(), src.Data(), src.Pitch(),
                           p_.frame, p_.rate, whole, p_.fields != Fields::Bottom, on[0], w[0].shape,
                           w[0].wavelength, w[0].speed, w[0].amplitude, on[1], w[1].shape,
                           w[1].wavelength, w[1].speed, w[1].amplitude, on[2], w[2].shape,
                           w[2].wavelength, w[2].speed, w[2].amplitude),
                       "RowWaveOffset_C32");
        ++p_.frame;
    }

private:
    WaveParams p_;
};

int RunWave(const ParsedArgs& args, Context& context);

const Command kWave = {
    "wave",
    "Offset every row by the sum of up to three moving waves",
    "wave --wave SHAPE,L,SPEED,AMP [--wave ...] [--frame N] [--rate R] [--fields F] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Every byte of row y gets the offset d(y), clamped to 0..255:\n"
    "the sum over the waves of the wave's value at row y and time N / R, rounded.\n"
    "A wave is SHAPE (cosine, triangle, square, rising, falling, or 0..4), its length L\n"
    "as a fraction of the frame height, SPEED in periods per second (positive moves the\n"
    "bands one way, negative the other) and AMP in byte steps; up to three --wave.\n"
    "On a YUV4MPEG2 stream the frame index counts from 0 and the rate is the stream's;\n"
    "on a PNG they are --frame and --rate. --fields whole evaluates the frame at one\n"
    "time, top or bottom the two fields half a frame apart (that field first); auto\n"
    "follows the stream's interlacing tag (whole for PNG and progressive streams).\n"
    "PNG runs as C32 (RowWaveOffset_C32); YUV4MPEG2 frames are converted to RGB C32\n"
    "(BT.601) and back. PNG with alpha is refused (the operation offsets byte 3 too).\n",
    {
        {"wave", 'w', "SHAPE,L,SPEED,AMP", "one wave; repeat for up to three"},
        {"frame", 'n', "N", "frame index of a PNG picture (default 0)"},
        {"rate", 'r', "R", "frames per second of a PNG picture (default 25)"},
        {"fields", 0, "F", "auto, whole, top or bottom (default auto)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "C32 (PNG, YUV4MPEG2 as RGB)",
    RunWave,
};

const Registration kRegistration(kWave);

int RunWave(const ParsedArgs& args, Context& context) {
    WaveParams p;
    for (const std::string& text : args.Values("wave")) p.waves.push_back(ParseWave(text));
    if (p.waves.empty()) throw UsageError("wave: give at least one --wave SHAPE,L,SPEED,AMP");
    if (p.waves.size() > 3) throw UsageError("wave: at most three --wave options");
    if (args.Has("frame")) p.frame = ParseInteger("--frame", args.Value("frame"), LLONG_MIN, LLONG_MAX);
    if (args.Has("rate")) p.rate = ParseDecimal("--rate", args.Value("rate"), 1e-6, 1e6);
    if (args.Has("fields")) {
        const std::string f = args.Value("fields");
        if (f == "auto") p.fields = Fields::Auto;
        else if (f == "whole") p.fields = Fields::Whole;
        else if (f == "top") p.fields = Fields::Top;
        else if (f == "bottom") p.fields = Fields::Bottom;
        else throw UsageError("--fields: '" + f + "' is not auto, whole, top or bottom");
    }
    const FilterJob job = FilterJobFromArgs(args, kWave);
    WaveFilter filter(p);
    RunFilterJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
