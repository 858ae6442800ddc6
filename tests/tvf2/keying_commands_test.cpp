// tvf2 key, fade and shift-chroma on PNG pictures and YUV4MPEG2 streams: the output
// equals the CPU module, called directly, on the frame converted as USAGE.md documents
// it (PNG through BT.601 full-range YUV32 for key and shift-chroma; C32 / C32A for fade;
// streams through YUV32), plus the refusals of their options.
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace tvf2test {
namespace {

using F = ICUDAKernelFuncSet_TarvoVideoFilter2;

// ---- the documented conversions, written from USAGE.md ----------------------------------

int Clamp(int v) { return std::min(255, std::max(0, v)); }
int Round16(long v) { return static_cast<int>(std::floor((v + 32768) / 65536.0)); }

void RgbToYuv(int r, int g, int b, uint8_t* d) {
    d[0] = uint8_t(Clamp(Round16(19595L * r + 38470L * g + 7471L * b)));
    d[1] = uint8_t(Clamp(128 + Round16(-11059L * r - 21709L * g + 32768L * b)));
    d[2] = uint8_t(Clamp(128 + Round16(32768L * r - 27439L * g - 5329L * b)));
}
void YuvToRgb(const uint8_t* s, int* rgb) {
    const long u = s[1] - 128, v = s[2] - 128;
    rgb[0] = Clamp(s[0] + Round16(91881L * v));
    rgb[1] = Clamp(s[0] + Round16(-22554L * u - 46802L * v));
    rgb[2] = Clamp(s[0] + Round16(116130L * u));
}
int Limited(double v) { return Clamp(int(std::floor(v + 0.5))); }

// YUV32A rows (Y, U, V, A) of an 8-bit picture; grey is R = G = B.
std::vector<uint8_t> PictureToYUV32(const Picture& p) {
    std::vector<uint8_t> out(size_t(p.width) * p.height * 4);
    for (int i = 0; i < p.width * p.height; ++i) {
        const uint16_t* s = &p.samples[size_t(i) * p.channels];
        const bool grey = p.channels <= 2;
        RgbToYuv(s[0], grey ? s[0] : s[1], grey ? s[0] : s[2], &out[size_t(i) * 4]);
        out[size_t(i) * 4 + 3] = p.channels % 2 == 0 ? uint8_t(s[p.channels - 1]) : 255;
    }
    return out;
}

// Back into a picture of `channels`: unchanged Y, U, V keep the original RGB; grey
// takes Y; alpha from byte 3.
Picture YUV32ToPicture(const std::vector<uint8_t>& yuv, const std::vector<uint8_t>& before,
                       const Picture& original, int channels) {
    Picture out = original;
    out.channels = channels;
    out.samples.assign(size_t(out.width) * out.height * channels, 0);
    for (int i = 0; i < out.width * out.height; ++i) {
        const uint8_t* s = &yuv[size_t(i) * 4];
        const uint8_t* b = &before[size_t(i) * 4];
        const uint16_t* o = &original.samples[size_t(i) * original.channels];
        uint16_t* d = &out.samples[size_t(i) * channels];
        if (channels <= 2) {
            d[0] = s[0];
        } else if (std::equal(s, s + 3, b)) {
            const bool grey = original.channels <= 2;
            d[0] = o[0], d[1] = grey ? o[0] : o[1], d[2] = grey ? o[0] : o[2];
        } else {
            int rgb[3];
            YuvToRgb(s, rgb);
            d[0] = uint16_t(rgb[0]), d[1] = uint16_t(rgb[1]), d[2] = uint16_t(rgb[2]);
        }
        if (channels % 2 == 0) d[channels - 1] = s[3];
    }
    return out;
}

// ---- cases -----------------------------------------------------------------------------

enum class Op { Key, Fade, Shift };

struct Case {
    const char* name;
    Op op;
    std::vector<std::string> options;
    int channels;        // PNG channels; 0 for a stream
    const char* colour;  // stream C tag
    // Module work on YUV32 (key, shift) or C32 rows (fade) of w x h pixels, in place.
    std::function<void(uint8_t* rows, int w, int h, bool stream)> run;
    int outChannels;  // PNG output channels (key changes them)
};

const char* Name(Op op) { return op == Op::Key ? "key" : op == Op::Fade ? "fade" : "shift-chroma"; }

// The key colour 00B140 as the commands take it: full range for pictures, limited for
// streams.
void KeyYuv(bool stream, float& y, float& u, float& v) {
    uint8_t full[3];
    RgbToYuv(0x00, 0xB1, 0x40, full);
    const double r = 0, g = 0xB1, b = 0x40;
    y = stream ? float(Limited(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255)) : full[0];
    u = (stream ? float(Limited(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255)) : full[1]) - 128;
    v = (stream ? float(Limited(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)) : full[2]) - 128;
}

// Key slots in the order tvf2 calls them: mask, suppression, application.
std::function<void(uint8_t*, int, int, bool)> Key(bool gated, float e, float scale, float lumaWeight,
                                                 float radius, bool all, float strength,
                                                 int (F::*apply)(int, int, void*, int, const void*, int)) {
    return [=](uint8_t* rows, int w, int h, bool stream) {
        float ky, ku, kv;
        KeyYuv(stream, ky, ku, kv);
        Dev frame(size_t(w) * h * 4, rows), mask(size_t(w) * h);
        auto slot = gated ? &F::KeyMaskGated_YUV32 : &F::KeyMaskProduct_YUV32;
        ASSERT_EQ((CpuModule()->*slot)(w, h, 0, e, ky, ku, kv, scale, lumaWeight, scale, frame.p, w * 4, mask.p, w), 0);
        if (radius >= 0) {
            const double k2 = double(ku) * ku + double(kv) * kv;
            ASSERT_EQ(CpuModule()->SuppressKeyChroma_YUV32(w, h, radius, ku, kv, float(strength * ku / k2),
                                                       float(strength * kv / k2), all, frame.p, w * 4), 0);
        }
        ASSERT_EQ((CpuModule()->*apply)(w, h, frame.p, w * 4, mask.p, w), 0);
        std::memcpy(rows, frame.p, size_t(w) * h * 4);
    };
}

std::function<void(uint8_t*, int, int, bool)> Fade(uint32_t pngColour, uint32_t streamColour, float alpha) {
    return [=](uint8_t* rows, int w, int h, bool stream) {
        Dev frame(size_t(w) * h * 4, rows);
        ASSERT_EQ(CpuModule()->BlendToColour_C32(w, h, frame.p, w * 4, int(stream ? streamColour : pngColour), alpha), 0);
        std::memcpy(rows, frame.p, size_t(w) * h * 4);
    };
}

std::function<void(uint8_t*, int, int, bool)> Shift(int su, int sv) {
    return [=](uint8_t* rows, int w, int h, bool) {
        Dev frame(size_t(w) * h * 4, rows);
        ASSERT_EQ(CpuModule()->ShiftMiddleChannels_C32(w, h, frame.p, w * 4, su, sv), 0);
        std::memcpy(rows, frame.p, size_t(w) * h * 4);
    };
}

// An RGB colour as C32 packs it (byte 0 = B, 1 = G, 2 = R), and as YUV32 for a stream
// (limited range).
uint32_t PackC32(int r, int g, int b) { return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16; }
uint32_t PackLimited(double r, double g, double b) {
    return uint32_t(Limited(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255)) |
           uint32_t(Limited(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255)) << 8 |
           uint32_t(Limited(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)) << 16;
}

const Case kCases[] = {
    {"key_rgb8_defaults", Op::Key, {}, 3, nullptr,
     Key(false, 1, 0.02f, 1, -1, false, 1, &F::MultiplyAlphaByMask_YUV32A), 4},
    {"key_rgba8_gated_power_suppressed_inverse", Op::Key,
     {"--rule", "gated", "--exponent", "2", "--scale", "0.0004", "--luma-weight", "0.5", "--suppress", "40",
      "--strength", "0.5", "--invert"},
     4, nullptr, Key(true, 2, 0.0004f, 0.5f, 40, false, 0.5f, &F::MultiplyAlphaByInverseMask_YUV32A), 4},
    {"key_grey8_to_grey_alpha", Op::Key, {"--scale", "0.05"}, 1, nullptr,
     Key(false, 1, 0.05f, 1, -1, false, 1, &F::MultiplyAlphaByMask_YUV32A), 2},
    {"key_rgb8_mask", Op::Key, {"--mask", "--suppress-all"}, 3, nullptr,
     Key(false, 1, 0.02f, 1, 0, true, 1, &F::ShowMask_YUV32A), 1},
    {"key_rgba8_fade_inverse_mask", Op::Key, {"--fade", "--invert", "--rule", "gated"}, 4, nullptr,
     Key(true, 1, 0.02f, 1, -1, false, 1, &F::FadeChromaByInverseMask_YUV32), 4},
    {"key_444_fades", Op::Key, {}, 0, "444", Key(false, 1, 0.02f, 1, -1, false, 1, &F::FadeChromaByMask_YUV32), 0},
    {"key_420jpeg_mask", Op::Key, {"--mask", "--suppress", "30"}, 0, "420jpeg",
     Key(false, 1, 0.02f, 1, 30, false, 1, &F::ShowMask_YUV32A), 0},
    {"fade_rgb8", Op::Fade, {"--colour", "#203040", "--alpha", "0.3"}, 3, nullptr, Fade(PackC32(0x20, 0x30, 0x40), 0, 0.3f), 3},
    {"fade_rgba8_extrapolated", Op::Fade, {"--colour", "00b140", "--alpha", "1.7"}, 4, nullptr,
     Fade(PackC32(0x00, 0xB1, 0x40), 0, 1.7f), 4},
    {"fade_grey8_yuv_colour", Op::Fade, {"--colour", "90,128,128", "--alpha", "-0.5"}, 1, nullptr,
     Fade(0x5A5A5A, 0, -0.5f), 1},
    {"fade_422", Op::Fade, {"--colour", "00B140", "--alpha", "0.25"}, 0, "422", Fade(0, PackLimited(0x00, 0xB1, 0x40), 0.25f), 0},
    {"shift_rgb8", Op::Shift, {"--shift", "3,-4"}, 3, nullptr, Shift(3, -4), 3},
    {"shift_rgba8_none", Op::Shift, {}, 4, nullptr, Shift(0, 0), 4},
    {"shift_420mpeg2", Op::Shift, {"--shift", "7,-2"}, 0, "420mpeg2", Shift(7, -2), 0},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A third of the pixels near the key colour 00B140, the rest at random.
Picture KeyedPicture(int w, int h, int channels, uint32_t seed) {
    Picture p = RandomPicture(w, h, channels, 8, seed);
    for (int i = 0; i < w * h; i += 3) {
        uint16_t* s = &p.samples[size_t(i) * channels];
        if (channels >= 3) s[0] = uint16_t(i % 9), s[1] = uint16_t(0xB1 - i % 11), s[2] = uint16_t(0x40 + i % 7);
    }
    return p;
}

class Tvf2Keying : public ::testing::TestWithParam<Case> {};

TEST_P(Tvf2Keying, EqualsTheModuleOnTheConvertedFrame) {
    const Case& c = GetParam();
    ASSERT_NE(CpuModule(), nullptr);
    ScratchDir dir;
    const bool png = c.channels != 0;
    const std::string in = dir.Path(png ? "in.png" : "in.y4m"), out = dir.Path(png ? "out.png" : "out.y4m");
    const int w = 29, h = 17;
    Picture pic;
    Stream stream;
    if (png) {
        pic = KeyedPicture(w, h, c.channels, 7);
        WritePicture(in, pic);
    } else {
        stream = RandomStream(w + 1, h, c.colour, 2, 9);
        WriteFile(in, Serialise(stream));
    }
    std::vector<std::string> args = {Name(c.op), "--backend", "cpu"};
    if (c.op == Op::Key) args.insert(args.end(), {"--key", "00B140"});
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {in, out});
    const RunResult r = RunTvf2(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (png) {
        Picture want;
        if (c.op == Op::Fade) {
            // C32 / C32A rows: B, G, R, A; grey replicated; back from G.
            std::vector<uint8_t> rows(size_t(w) * h * 4);
            for (int i = 0; i < w * h; ++i) {
                const uint16_t* s = &pic.samples[size_t(i) * c.channels];
                const bool grey = c.channels <= 2;
                uint8_t* d = &rows[size_t(i) * 4];
                d[0] = uint8_t(grey ? s[0] : s[2]), d[1] = uint8_t(grey ? s[0] : s[1]), d[2] = uint8_t(s[0]);
                d[3] = c.channels % 2 == 0 ? uint8_t(s[c.channels - 1]) : 255;
            }
            c.run(rows.data(), w, h, false);
            want = pic;
            for (int i = 0; i < w * h; ++i) {
                uint16_t* d = &want.samples[size_t(i) * c.channels];
                const uint8_t* s = &rows[size_t(i) * 4];
                if (c.channels <= 2)
                    d[0] = s[1];
                else
                    d[0] = s[2], d[1] = s[1], d[2] = s[0];
                if (c.channels % 2 == 0) d[c.channels - 1] = s[3];
            }
        } else {
            std::vector<uint8_t> rows = PictureToYUV32(pic);
            const std::vector<uint8_t> before = rows;
            c.run(rows.data(), w, h, false);
            want = YUV32ToPicture(rows, before, pic, c.outChannels);
        }
        const Picture got = ReadPicture(out);
        ASSERT_EQ(got.channels, want.channels);
        EXPECT_TRUE(got.samples == want.samples);
        if (c.op == Op::Key && c.outChannels != 1) {
            const bool any0 = std::any_of(got.samples.begin(), got.samples.end(), [](uint16_t v) { return v == 0; });
            EXPECT_TRUE(any0) << "the key colour is keyed out somewhere";
        }
    } else {
        Stream want = stream;
        for (auto& f : want.frames) {
            std::vector<uint8_t> rows = FrameToYUV32(stream, f);
            c.run(rows.data(), stream.width, h, true);
            f = YUV32ToFrame(stream, rows);
        }
        EXPECT_TRUE(ReadFile(out) == Serialise(want));
    }
}

INSTANTIATE_TEST_SUITE_P(Tvf2, Tvf2Keying, ::testing::ValuesIn(kCases), CaseName());

TEST(Tvf2KeyingErrors, OneLineAndNoOutput) {
    ScratchDir dir;
    const std::string in = dir.Path("in.png"), out = dir.Path("out.png");
    WritePicture(in, RandomPicture(8, 8, 3, 8, 1));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } rows[] = {
        {{"key"}, "--key COLOUR is required"},
        {{"key", "--key", "0B140"}, "is not RRGGBB"},
        {{"key", "--key", "1,2"}, "is not Y,U,V"},
        {{"key", "--key", "00B140", "--rule", "sum"}, "is not one of product, gated"},
        {{"key", "--key", "00B140", "--scale", "nan"}, "is not a number"},
        {{"key", "--key", "00B140", "--strength", "1"}, "applies with --suppress"},
        {{"key", "--key", "00B140", "--mask", "--fade"}, "exclude each other"},
        {{"key", "--key", "777777", "--suppress", "9"}, "a grey key"},
        {{"fade", "--alpha", "0.5"}, "--colour COLOUR is required"},
        {{"fade", "--colour", "000000", "--alpha", "inf"}, "is not a number"},
        {{"shift-chroma", "--shift", "1"}, "--shift"},
    };
    for (const auto& r : rows) {
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"--backend", "cpu", in, out});
        const RunResult res = RunTvf2(args);
        EXPECT_EQ(res.status, 2) << r.says;
        EXPECT_TRUE(Contains(res.err, r.says)) << res.err;
        EXPECT_EQ(std::count(res.err.begin(), res.err.end(), '\n'), 1) << res.err;
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
}

}  // namespace
}  // namespace tvf2test
