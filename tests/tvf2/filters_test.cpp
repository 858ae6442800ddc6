// tvf2 mosaic, blur, unsharp, denoise, warp, wave, sharpen and detail on PNG pictures
// (every colour type, 8 and 16 bits) and YUV4MPEG2 streams (every chroma format): the output equals the CPU module,
// called directly as a host calls it (dlopen + GetFuncSet), on the frame converted as
// tvf2 documents it; in files and through pipes, with --frames, with the filters'
// defaults, and without leftover files.
#include "convolution/weight_table.h"
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <type_traits>

// The runtime's channel format descriptor, with its layout (no CUDA header here).
struct cudaChannelFormatDesc {
    int x, y, z, w;
    int f;
};

namespace tvf2test {
namespace {

using F = ICUDAKernelFuncSet_TarvoVideoFilter2;

enum class Op { Mosaic, Blur, Unsharp, Denoise, Warp, Wave, Sharpen, Detail };

// One --wave of tvf2 wave: its text and the numbers the text stands for.
struct WaveSpec {
    const char* text;
    int shape;
    double length, speed, amplitude;
};

// One filter and its parameters, as tvf2 takes them on its command line.
struct Filter {
    Op op = Op::Mosaic;
    int cellW = 16, cellH = 16, offX = 0, offY = 0;  // mosaic
    bool box = false;                                // blur: box window, else Gaussian
    int rx = 2, ry = 2;                              // blur radii; unsharp, denoise: rx
    const char* amount = "1";                        // unsharp, and in 1/256:
    int amountUnits = 256;
    int threshold = 256;  // denoise
    bool fields = false, texture = false, sameParity = false;
    int rowScale = 1, rowOffset = 0;
    int limit = 255, iterations = 2, strength = 1500;  // warp
    const char* cubic = "-0.5";
    float cubicValue = -0.5f;
    std::vector<WaveSpec> waves = {};  // wave
    long long frame = 0;          // wave: the PNG's --frame, and the frame of a stream
    const char* rate = "25";
    double rateValue = 25.0;
    const char* fieldMode = "auto";
    bool sobel = false;        // sharpen (amount and amountUnits as unsharp)
    int detailThreshold = 0;   // detail (amount as a float; blur radius rx; limit as warp's)
    bool weighted = false;
};

const char* Command(Op op) {
    const char* names[] = {"mosaic", "blur", "unsharp", "denoise", "warp", "wave", "sharpen", "detail"};
    return names[static_cast<int>(op)];
}

std::vector<std::string> Options(const Filter& f) {
    auto str = [](int v) { return std::to_string(v); };
    switch (f.op) {
    case Op::Mosaic:
        return {"--cell", str(f.cellW) + "x" + str(f.cellH), "--offset",
                str(f.offX) + "," + str(f.offY)};
    case Op::Blur:
        return {"--kind", f.box ? "box" : "gaussian", "--radius", str(f.rx) + "," + str(f.ry)};
    case Op::Unsharp: return {"--radius", str(f.rx), "--amount", f.amount};
    case Op::Warp:
        return {"--limit", str(f.limit), "--iterations", str(f.iterations), "--strength",
                str(f.strength), "--cubic", f.cubic};
    case Op::Wave: {
        std::vector<std::string> a = {"--frame", std::to_string(f.frame), "--rate", f.rate,
                                      "--fields", f.fieldMode};
        for (const WaveSpec& w : f.waves) a.insert(a.end(), {"--wave", w.text});
        return a;
    }
    case Op::Sharpen: return {f.sobel ? "--sobel" : "--laplacian", "--amount", f.amount};
    case Op::Detail: {
        std::vector<std::string> a = {"--amount", f.amount, "--threshold", str(f.detailThreshold), "--limit",
                                      str(f.limit), "--radius", str(f.rx)};
        if (f.weighted) a.push_back("--weighted");
        return a;
    }
    case Op::Denoise: break;
    }
    std::vector<std::string> a = {"--threshold", str(f.threshold), "--radius", str(f.rx)};
    if (f.fields) a.push_back("--fields");
    if (f.texture)
        a.insert(a.end(), {"--source", "texture", "--row-scale", str(f.rowScale), "--row-offset",
                           str(f.rowOffset)});
    if (f.sameParity) a.push_back("--same-parity");
    return a;
}

// The CPU module and the CPU runtime's array calls, found through the module's handle.
struct Runtime {
    F* funcs = nullptr;
    cudaChannelFormatDesc (*createChannelDesc)(int, int, int, int, int) = nullptr;
    int (*mallocArray)(cudaArray**, const cudaChannelFormatDesc*, size_t, size_t, unsigned) = nullptr;
    int (*memcpy2DToArray)(cudaArray*, size_t, size_t, const void*, size_t, size_t, size_t,
                           int) = nullptr;
    int (*freeArray)(cudaArray*) = nullptr;
};

const Runtime& Module() {
    static const Runtime r = [] {
        Runtime m;
        void* handle = dlopen(TVF2_CPU_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto find = [handle](const char* name, auto& fn) {
            fn = handle ? reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                              dlsym(handle, name))
                        : nullptr;
        };
        m.funcs = CpuModule();
        find("cudaCreateChannelDesc", m.createChannelDesc);
        find("cudaMallocArray", m.mallocArray);
        find("cudaMemcpy2DToArray", m.memcpy2DToArray);
        find("cudaFreeArray", m.freeArray);
        return m;
    }();
    return r;
}

// A weight table from the builder tvf2 uses, in device memory.
struct Table {
    Table(bool box, int size, int radius)
        : host(tvf2::BuildWeightTable(box ? tvf2::WindowShape::Box : tvf2::WindowShape::Gaussian,
                                      size, radius)),
          dev(host.size() * sizeof(float), host.data()),
          count(static_cast<int>(host.size())) {}
    std::vector<float> host;
    Dev dev;
    int count;
};

enum class Layout { P8, P16, C32, C32A, C64, C64A, YUY2, YUV32 };

// Detail as USAGE.md defines it, from the module's Gaussian blur of the frame (C32 or
// C64, tightly packed): frame minus blur in lanes 0-2; lane 3 the weight, the pixel's
// alpha lane scaled to 0..4095 and rounded (4095 at full scale).
std::vector<int16_t> DetailOf(const Filter& f, bool wide, int w, int h, const std::vector<uint8_t>& frame) {
    const Runtime& m = Module();
    const int pitch = static_cast<int>(frame.size()) / h;
    const Table ht(false, w, f.rx), vt(false, h, f.rx);
    const Dev src(frame.size(), frame.data()), blur(frame.size()), work(frame.size() * 2);
    EXPECT_EQ((m.funcs->*(wide ? &F::SeparableConvolve_C64 : &F::SeparableConvolve_C32))(
                  blur.p, src.p, w, h, pitch, pitch, ht.dev.Floats(), ht.count, vt.dev.Floats(), vt.count, work.p,
                  f.rx, f.rx),
              0);
    const uint8_t* b = static_cast<const uint8_t*>(blur.p);
    auto lane = [wide](const uint8_t* p, size_t i) {
        if (!wide) return int(p[i]);
        int16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return int(v);
    };
    std::vector<int16_t> d(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < d.size(); ++i) {
        if (i % 4 < 3) {
            d[i] = static_cast<int16_t>(lane(frame.data(), i) - lane(b, i));
        } else {
            const int full = wide ? 32767 : 255, a = std::max(0, lane(frame.data(), i));
            d[i] = static_cast<int16_t>((a * 4095 + full / 2) / full);
        }
    }
    return d;
}

int Denoise(const Filter& f, Layout l, int w, int h, int pitch, const std::vector<uint8_t>& frame,
            const Dev& src, const Dev& dst) {
    const Runtime& m = Module();
    if (!f.texture) {
        auto slot = l == Layout::C32    ? &F::SimilarityWeightedAverage_C32
                    : l == Layout::C32A ? &F::SimilarityWeightedAverage_C32A
                                        : &F::SimilarityWeightedAverage_YUV32;
        return (m.funcs->*slot)(dst.p, src.p, nullptr, w, h, pitch, pitch, f.threshold, f.rx,
                                f.fields);
    }
    auto slot = l == Layout::C32    ? &F::SimilarityWeightedAverageTex_C32
                : l == Layout::C32A ? &F::SimilarityWeightedAverageTex_C32A
                                    : &F::SimilarityWeightedAverageTex_YUV32;
    if (!m.createChannelDesc || !m.mallocArray || !m.memcpy2DToArray || !m.freeArray) {
        ADD_FAILURE() << "the CPU runtime's array calls are not found through the module";
        return -1;
    }
    const cudaChannelFormatDesc desc = m.createChannelDesc(8, 8, 8, 8, /*unsigned*/ 1);
    cudaArray* array = nullptr;
    EXPECT_EQ(m.mallocArray(&array, &desc, w, h, 0), 0);
    EXPECT_EQ(m.memcpy2DToArray(array, 0, 0, frame.data(), pitch, pitch, h, /*to device*/ 1), 0);
    const int status = (m.funcs->*slot)(dst.p, array, w, h, pitch, &desc, f.rowOffset,
                                        f.rowScale, f.threshold, f.rx, f.sameParity);
    m.freeArray(array);
    return status;
}

// Runs the filter's slot for the layout on a tightly packed frame in place, the way
// tvf2 does: the source uploaded (or copied into a CUDA array for denoise's texture
// source), the destination a device copy of it, the result downloaded.
void RunModule(const Filter& f, Layout l, int w, int h, std::vector<uint8_t>& frame) {
    const Runtime& m = Module();
    ASSERT_NE(m.funcs, nullptr) << "cannot load " << TVF2_CPU_MODULE;
    const int pitch = static_cast<int>(frame.size()) / h;
    const bool alpha = l == Layout::C32A || l == Layout::C64A;
    const Dev src(frame.size(), frame.data()), dst(frame.size());
    ASSERT_EQ(m.funcs->DeviceCopy2D(dst.p, pitch, src.p, pitch, pitch, h), 0);
    int status = -1;
    if (f.op == Op::Mosaic) {
        auto slot = l == Layout::C32 ? &F::Mosaic_C32 : alpha ? &F::Mosaic_C32A : &F::Mosaic_YUY2;
        status = (m.funcs->*slot)(h, w, f.cellH, f.cellW, f.offX, f.offY, src.p, pitch, dst.p,
                                  pitch);
    } else if (f.op == Op::Blur) {
        const Table ht(f.box, w, f.rx), vt(f.box, h, f.ry);
        const Dev work(static_cast<size_t>(w) * h * 16);  // enough for every layout
        auto slot = l == Layout::P8    ? &F::SeparableConvolve_P8
                    : l == Layout::P16 ? &F::SeparableConvolve_P16
                    : l == Layout::C32 ? &F::SeparableConvolve_C32
                    : l == Layout::C64 ? &F::SeparableConvolve_C64
                    : l == Layout::C32A ? &F::SeparableConvolveAlpha_C32A
                                        : &F::SeparableConvolveAlpha_C64A;
        status = (m.funcs->*slot)(dst.p, src.p, w, h, pitch, pitch, ht.dev.Floats(), ht.count,
                                  vt.dev.Floats(), vt.count, work.p, f.rx, f.ry);
    } else if (f.op == Op::Unsharp) {
        const Table ht(false, w, f.rx), vt(false, h, f.rx);
        const Dev mid(frame.size());
        auto slot = alpha ? &F::SeparableUnsharpMask_C32A : &F::SeparableUnsharpMask_C32;
        status = (m.funcs->*slot)(dst.p, pitch, src.p, pitch, mid.p, pitch, w, h, f.rx,
                                  f.amountUnits, ht.dev.Floats(), ht.count, vt.dev.Floats(),
                                  vt.count);
    } else if (f.op == Op::Warp) {
        // The edge source as tvf2 documents it: luma (29 B + 150 G + 77 R + 128) / 256,
        // in the low byte of a 16-bit plane, or in byte 0 beside the alpha in byte 3.
        const int edgeBytes = alpha ? 4 : 2;
        std::vector<uint8_t> edge(static_cast<size_t>(w) * h * edgeBytes, 0);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            const uint8_t* p = &frame[4 * i];
            edge[i * edgeBytes] = static_cast<uint8_t>((29 * p[0] + 150 * p[1] + 77 * p[2] + 128) / 256);
            if (alpha) edge[i * edgeBytes + 3] = p[3];
        }
        const Dev e(edge.size(), edge.data()), map(static_cast<size_t>(w) * h * 2), tmp(static_cast<size_t>(w) * h * 2);
        auto slot = alpha ? &F::DisplaceByEdgeGradient_C32A : &F::DisplaceByEdgeGradient_C32;
        status = (m.funcs->*slot)(dst.p, pitch, map.p, w * 2, tmp.p, w * 2, src.p, pitch, e.p,
                                  w * edgeBytes, w, h, f.limit, f.iterations, f.strength, f.cubicValue);
    } else if (f.op == Op::Wave) {
        WaveSpec v[3] = {};
        bool on[3] = {};
        for (size_t k = 0; k < f.waves.size(); ++k) v[k] = f.waves[k], on[k] = true;
        const std::string fields = f.fieldMode;
        status = m.funcs->RowWaveOffset_C32(
            w, h, dst.p, pitch, src.p, pitch, f.frame, f.rateValue, fields == "whole",
            fields != "bottom", on[0], v[0].shape, v[0].length, v[0].speed, v[0].amplitude, on[1],
            v[1].shape, v[1].length, v[1].speed, v[1].amplitude, on[2], v[2].shape, v[2].length,
            v[2].speed, v[2].amplitude);
    } else if (f.op == Op::Sharpen) {
        auto slot = f.sobel ? (alpha ? &F::AddEdgeMagnitude_C32A : &F::AddEdgeMagnitude_C32)
                            : (alpha ? &F::SharpenLaplacian_C32A : &F::SharpenLaplacian_C32);
        status = (m.funcs->*slot)(w, h, f.amountUnits, dst.p, pitch, src.p, pitch);
    } else if (f.op == Op::Detail) {
        const bool wide = l == Layout::C64;
        const std::vector<int16_t> d = DetailOf(f, wide, w, h, frame);
        const Dev det(d.size() * 2, d.data());
        auto slot = wide ? (f.weighted ? &F::AddDetailWeighted_C64 : &F::AddDetail_C64)
                         : (f.weighted ? &F::AddDetailWeighted_C32 : &F::AddDetail_C32);
        status = (m.funcs->*slot)(w, h, dst.p, pitch, src.p, pitch, det.p, w * 8,
                                  static_cast<float>(std::strtod(f.amount, nullptr)), f.detailThreshold, f.limit);
    } else {
        status = Denoise(f, l, w, h, pitch, frame, src, dst);
    }
    ASSERT_EQ(status, 0) << Command(f.op);
    std::memcpy(frame.data(), dst.p, frame.size());
}

enum Flags : unsigned {
    kPipe = 1,        // stdin to stdout
    kInterlaced = 2,  // an Adam7 PNG
    kReplace = 4,     // the output file exists already
    kDefaults = 8,    // no filter options: the defaults must be the Filter's
    kMildNoise = 16,  // samples 120 to 132, where denoise's default threshold decides
};

struct Case {
    const char* name;
    Filter filter;
    int width, height;
    int channels, depth;  // PNG
    const char* colour;   // YUV4MPEG2 C tag value ("" for none); null for PNG
    int frames;           // YUV4MPEG2 frames in the input
    int maxFrames;        // --frames when not 0
    unsigned flags;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

Case Png(const char* name, Filter f, int w, int h, int channels, int depth, unsigned flags = 0) {
    return Case{name, f, w, h, channels, depth, nullptr, 0, 0, flags};
}
Case Y4m(const char* name, Filter f, int w, int h, const char* colour, int frames = 3,
         int maxFrames = 0, unsigned flags = 0) {
    return Case{name, f, w, h, 0, 8, colour, frames, maxFrames, flags};
}

Filter Mosaic(int cellW, int cellH, int offX = 0, int offY = 0) {
    return Filter{Op::Mosaic, cellW, cellH, offX, offY};
}
Filter Blur(bool box, int rx, int ry) {
    return Filter{Op::Blur, 16, 16, 0, 0, box, rx, ry};
}
Filter Unsharp(int radius, const char* amount, int units) {
    return Filter{Op::Unsharp, 16, 16, 0, 0, false, radius, radius, amount, units};
}
Filter Linear(int threshold, int radius, bool fields) {
    return Filter{Op::Denoise, 16, 16, 0, 0, false, radius, radius, "1", 256, threshold, fields};
}
Filter Texture(int threshold, int radius, int rowScale, int rowOffset, bool sameParity) {
    Filter f = Linear(threshold, radius, false);
    f.texture = true, f.rowScale = rowScale, f.rowOffset = rowOffset, f.sameParity = sameParity;
    return f;
}
Filter Sharpen(bool sobel, const char* amount, int units) {
    Filter f{Op::Sharpen};
    f.sobel = sobel, f.amount = amount, f.amountUnits = units;
    return f;
}
Filter Detail(int radius, const char* amount, int threshold, int limit, bool weighted) {
    Filter f{Op::Detail};
    f.rx = radius, f.amount = amount, f.detailThreshold = threshold, f.limit = limit, f.weighted = weighted;
    return f;
}
Filter Defaults(Op op) {
    if (op == Op::Detail) return Detail(2, "0.5", 0, 32767, false);
    return Filter{op};
}
Filter Warp(int limit, int iterations, int strength, const char* cubic, float cubicValue) {
    Filter f{Op::Warp};
    f.limit = limit, f.iterations = iterations, f.strength = strength, f.cubic = cubic;
    f.cubicValue = cubicValue;
    return f;
}
// PNG pictures at rate 12.5 (--rate), streams at their own.
Filter Wave(std::vector<WaveSpec> waves, long long frame, const char* fields) {
    Filter f{Op::Wave};
    f.waves = std::move(waves), f.frame = frame, f.fieldMode = fields;
    f.rate = "12.5", f.rateValue = 12.5;
    return f;
}

// Blur works in the picture's own depth (P8/P16 for grey, else C32/C32A/C64/C64A), detail
// in C32 or C64; the other filters on 8 bits in C32, or C32A with alpha.
Picture ExpectedPicture(const Filter& f, const Picture& in) {
    const bool alpha = in.channels % 2 == 0, deep = in.depth == 16;
    if (f.op == Op::Blur) {
        const bool plane = in.channels == 1;
        const Layout l = plane   ? (deep ? Layout::P16 : Layout::P8)
                         : alpha ? (deep ? Layout::C64A : Layout::C32A)
                                 : (deep ? Layout::C64 : Layout::C32);
        std::vector<uint8_t> frame = PictureToLanes(in, plane);
        RunModule(f, l, in.width, in.height, frame);
        return LanesToPicture(frame, in, plane);
    }
    if (f.op == Op::Detail) {
        std::vector<uint8_t> frame = PictureToLanes(in, false);
        RunModule(f, deep ? Layout::C64 : Layout::C32, in.width, in.height, frame);
        return LanesToPicture(frame, in, false);
    }
    const Picture in8 = To8Bit(in);
    std::vector<uint8_t> frame = PictureToLanes(in8, false);
    RunModule(f, alpha ? Layout::C32A : Layout::C32, in.width, in.height, frame);
    return LanesToPicture(frame, in8, false);
}

// Mosaic through YUY2, denoise through YUV32; blur each plane, and unsharp, sharpen and
// detail the luma plane (chroma untouched), as grey pictures.
std::vector<uint8_t> ExpectedFrame(const Filter& f, const Stream& s, std::vector<uint8_t> frame) {
    std::vector<uint8_t> packed;
    if (f.op == Op::Warp || f.op == Op::Wave) {
        packed = FrameToRGB32(s, frame);
        RunModule(f, Layout::C32, s.width, s.height, packed);
        return RGB32ToFrame(s, packed);
    }
    if (f.op == Op::Mosaic) {
        packed = FrameToYUY2(s, frame);
        RunModule(f, Layout::YUY2, s.width, s.height, packed);
        return YUY2ToFrame(s, packed);
    }
    if (f.op == Op::Denoise) {
        packed = FrameToYUV32(s, frame);
        RunModule(f, Layout::YUV32, s.width, s.height, packed);
        return YUV32ToFrame(s, packed);
    }
    size_t at = 0;
    for (int p = 0; p < (f.op == Op::Blur ? 3 : 1); ++p) {
        Picture plane;
        plane.width = p == 0 ? s.width : s.chromaWidth;
        plane.height = p == 0 ? s.height : s.chromaHeight;
        plane.channels = 1;
        const auto from = frame.begin() + static_cast<long>(at);
        plane.samples.assign(from, from + static_cast<long>(plane.width) * plane.height);
        plane = ExpectedPicture(f, plane);
        std::copy(plane.samples.begin(), plane.samples.end(), from);
        at += plane.samples.size();
    }
    return frame;
}

void ExpectSamePicture(const Picture& got, const Picture& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.channels, want.channels);
    ASSERT_EQ(got.depth, want.depth);
    const auto diff = std::mismatch(got.samples.begin(), got.samples.end(), want.samples.begin());
    const size_t at = static_cast<size_t>(diff.first - got.samples.begin());
    EXPECT_EQ(at, got.samples.size())
        << "pixel " << at / want.channels << " channel " << at % want.channels << ": "
        << *diff.first << " instead of " << *diff.second;
}

uint32_t Seed(const char* name) {
    uint32_t h = 2166136261u;
    for (; *name; ++name) h = (h ^ static_cast<uint8_t>(*name)) * 16777619u;
    return h;
}

class Tvf2Filter : public ::testing::TestWithParam<Case> {};

TEST_P(Tvf2Filter, EqualsTheModuleOnTheConvertedFrame) {
    const Case& c = GetParam();
    ScratchDir dir;
    const bool png = c.colour == nullptr;
    const std::string inName = png ? "in.png" : "in.y4m", outName = png ? "out.png" : "out.y4m";
    const std::string in = dir.Path(inName), out = dir.Path(outName);
    Picture pic;
    Stream stream;
    if (png) {
        pic = RandomPicture(c.width, c.height, c.channels, c.depth, Seed(c.name));
        if (c.flags & kMildNoise)
            for (uint16_t& v : pic.samples) v = static_cast<uint16_t>(120 + v % 13);
        WritePicture(in, pic, (c.flags & kInterlaced) != 0);
    } else {
        stream = RandomStream(c.width, c.height, c.colour, c.frames, Seed(c.name));
        WriteFile(in, Serialise(stream));
    }
    if (c.flags & kReplace) WriteFile(out, "old");

    std::vector<std::string> args = {Command(c.filter.op), "--backend", "cpu"};
    if (!(c.flags & kDefaults)) {
        const std::vector<std::string> options = Options(c.filter);
        args.insert(args.end(), options.begin(), options.end());
    }
    if (c.maxFrames) args.insert(args.end(), {"--frames", std::to_string(c.maxFrames)});
    RunOptions o;
    if (c.flags & kPipe) o.stdinPath = in, o.stdoutPath = out;
    args.push_back(c.flags & kPipe ? "-" : in);
    args.push_back(c.flags & kPipe ? "-" : out);
    const RunResult r = RunTvf2(args, o);
    ASSERT_EQ(r.status, 0) << r.err;
    // Quiet: no warning without -v (16-bit input included), no progress line without a
    // terminal.
    EXPECT_EQ(r.err, "");

    if (png) {
        ExpectSamePicture(ReadPicture(out), ExpectedPicture(c.filter, pic));
    } else {
        Stream want = stream;
        const size_t frames = c.maxFrames ? std::min(c.maxFrames, c.frames) : c.frames;
        want.frames.resize(frames);
        want.frameParams.resize(frames);
        // A stream's frames count from 0 and run at the stream's rate (30000:1001), in
        // fields (It) unless --fields says otherwise.
        Filter per = c.filter;
        if (per.op == Op::Wave) {
            per.rateValue = 30000.0 / 1001.0;
            if (std::string(per.fieldMode) == "auto") per.fieldMode = "top";
        }
        for (size_t i = 0; i < want.frames.size(); ++i) {
            per.frame = static_cast<long long>(i);
            want.frames[i] = ExpectedFrame(per, stream, want.frames[i]);
        }
        const std::string got = ReadFile(out), bytes = Serialise(want);
        EXPECT_TRUE(got == bytes) << "the output differs from byte "
                                  << std::mismatch(got.begin(), got.end(), bytes.begin(),
                                                   bytes.end()).first - got.begin()
                                  << " of " << bytes.size();
    }
    // The output replaced any old file, and no temporary file is left beside it.
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{inName, outName}));
}

// Mosaic: 8x8 and 5x3 cells take the per-thread kernel form, 16x16 and 20x15 (256 pixels
// and more) the per-block form. Blur: radii 1 and 3 take the table forms of both passes,
// 20 the rings-only row pass for C32 and C32A, 30 the plain forms; 5 on 9x7 leaves no
// centre window. Denoise: random pixels are far apart, so large thresholds let enough
// members count; radius 21 on C32 takes the block-staged form.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Tvf2, Tvf2Filter,
    ::testing::Values(
        Png("mosaic_rgb8_cell8", Mosaic(8, 8), 37, 29, 3, 8),
        Png("mosaic_rgb8_cell5x3_offset", Mosaic(5, 3, 2, 1), 37, 29, 3, 8),
        Png("mosaic_rgb8_cell20x15_negative_offset", Mosaic(20, 15, -7, -3), 37, 29, 3, 8),
        Png("mosaic_grey8_cell4", Mosaic(4, 4), 37, 29, 1, 8),
        Png("mosaic_grey8_cell16", Mosaic(16, 16, 3, 0), 37, 29, 1, 8),
        Png("mosaic_rgba8_cell6x5", Mosaic(6, 5, 1, 2), 37, 29, 4, 8),
        Png("mosaic_rgba8_cell16", Mosaic(16, 16), 37, 29, 4, 8),
        Png("mosaic_greyalpha8_cell7", Mosaic(7, 7), 37, 29, 2, 8),
        Png("mosaic_rgb16_cell8", Mosaic(8, 8), 37, 29, 3, 16),
        Png("mosaic_rgba16_cell3", Mosaic(3, 3), 37, 29, 4, 16),
        Png("mosaic_grey16_cell16", Mosaic(16, 16), 37, 29, 1, 16),
        Png("mosaic_interlaced", Mosaic(6, 6), 21, 17, 3, 8, kInterlaced),
        Png("mosaic_png_stdin_to_stdout", Mosaic(4, 4), 19, 11, 3, 8, kPipe),
        Png("mosaic_default_cell_16", Defaults(Op::Mosaic), 40, 33, 3, 8, kDefaults),
        Png("mosaic_replaces_the_output", Mosaic(2, 2), 8, 8, 3, 8, kReplace),
        Y4m("mosaic_422_cell4", Mosaic(4, 4), 24, 14, "422"),
        Y4m("mosaic_422_cell20x16", Mosaic(20, 16, 2, -3), 40, 34, "422"),
        Y4m("mosaic_420jpeg_cell6x5", Mosaic(6, 5, 2, 1), 30, 20, "420jpeg"),
        Y4m("mosaic_420mpeg2_odd_height", Mosaic(4, 4), 18, 11, "420mpeg2"),
        Y4m("mosaic_420paldv", Mosaic(8, 8), 16, 8, "420paldv"),
        Y4m("mosaic_420", Mosaic(2, 2), 16, 8, "420"),
        Y4m("mosaic_444_cell6", Mosaic(6, 6), 22, 9, "444"),
        Y4m("mosaic_444_cell2", Mosaic(2, 2), 8, 4, "444", 2),
        Y4m("mosaic_no_colour_tag_is_420", Mosaic(4, 4), 12, 6, "", 1),
        Y4m("mosaic_y4m_stdin_to_stdout", Mosaic(8, 8), 32, 18, "420jpeg", 4, 0, kPipe),
        Y4m("mosaic_frames_stops_early", Mosaic(4, 4), 16, 8, "422", 5, 2),
        Y4m("mosaic_empty_stream", Defaults(Op::Mosaic), 8, 8, "422", 0, 0, kDefaults),
        Png("blur_rgb8", Blur(false, 3, 1), 23, 17, 3, 8),
        Png("blur_rgb8_large_radius", Blur(true, 20, 30), 70, 66, 3, 8),
        Png("blur_rgba8", Blur(false, 2, 2), 23, 17, 4, 8),
        Png("blur_rgba8_large_radius", Blur(false, 30, 20), 70, 66, 4, 8),
        Png("blur_grey8", Blur(true, 1, 3), 23, 17, 1, 8),
        Png("blur_greyalpha8", Blur(false, 0, 2), 23, 17, 2, 8),
        Png("blur_rgb16", Blur(false, 3, 1), 23, 17, 3, 16),
        Png("blur_rgba16", Blur(true, 2, 0), 23, 17, 4, 16),
        Png("blur_grey16", Blur(false, 3, 3), 23, 17, 1, 16),
        Png("blur_greyalpha16", Blur(false, 5, 5), 9, 7, 2, 16),
        Png("blur_defaults_gaussian_radius_2", Defaults(Op::Blur), 19, 13, 3, 8, kDefaults),
        Y4m("blur_420jpeg_planes", Blur(false, 2, 4), 17, 11, "420jpeg", 2),
        Png("unsharp_rgb8", Unsharp(2, "1.5", 384), 21, 15, 3, 8),
        Png("unsharp_rgba8", Unsharp(3, "0.75", 192), 21, 15, 4, 8),
        Png("unsharp_grey8", Unsharp(1, "2", 512), 21, 15, 1, 8),
        Png("unsharp_greyalpha8", Unsharp(2, "-0.5", -128), 21, 15, 2, 8),
        Png("unsharp_rgb16", Unsharp(2, "1", 256), 21, 15, 3, 16),
        Png("unsharp_rgb8_rounded_amount", Unsharp(25, "0.3", 77), 21, 15, 3, 8),
        Y4m("unsharp_422_luma_only", Unsharp(1, "0.5", 128), 16, 9, "422", 2),
        Png("denoise_rgb_linear", Linear(20000, 2, false), 37, 29, 3, 8),
        Png("denoise_rgb_linear_fields_odd_height", Linear(30000, 3, true), 23, 17, 3, 8),
        Png("denoise_grey_linear_radius21", Linear(4000, 21, false), 30, 26, 1, 8),
        Png("denoise_rgb_texture_same_parity", Texture(25000, 2, 1, 0, true), 21, 19, 3, 8),
        Png("denoise_rgb_texture_row_scale", Texture(25000, 1, 2, 1, false), 21, 19, 3, 8),
        Png("denoise_rgba_linear", Linear(30000, 1, false), 33, 21, 4, 8),
        Png("denoise_greyalpha_linear_fields", Linear(20000, 2, true), 17, 12, 2, 8),
        Png("denoise_rgba_texture", Texture(20000, 2, 1, 3, true), 26, 15, 4, 8),
        Png("denoise_defaults", Defaults(Op::Denoise), 24, 18, 3, 8, kDefaults | kMildNoise),
        Y4m("denoise_420jpeg_odd_linear", Linear(20000, 2, false), 15, 9, "420jpeg", 2),
        Y4m("denoise_422_texture", Texture(20000, 1, 1, 0, true), 16, 8, "422", 2),
        Y4m("denoise_444_linear_fields", Linear(20000, 2, true), 12, 7, "444", 2),
        Y4m("denoise_420mpeg2_odd_texture", Texture(30000, 3, 1, 0, false), 9, 11, "420mpeg2", 2),
        Png("warp_rgb8_even", Warp(255, 2, 1500, "-0.5", -0.5f), 24, 17, 3, 8),
        Png("warp_rgb8_odd_negative", Warp(90, 1, -2500, "-1", -1.0f), 23, 16, 3, 8),
        Png("warp_grey8_no_smoothing", Warp(200, 0, 900, "-0.75", -0.75f), 19, 14, 1, 8),
        Png("warp_rgba8", Warp(255, 3, 2000, "-0.5", -0.5f), 22, 15, 4, 8),
        Png("warp_greyalpha8_odd", Warp(128, 1, 1200, "0.25", 0.25f), 21, 18, 2, 8),
        Png("warp_rgb16_to_8", Warp(255, 2, 1500, "-0.5", -0.5f), 16, 12, 3, 16),
        Png("warp_defaults", Defaults(Op::Warp), 20, 13, 3, 8, kDefaults),
        Y4m("warp_420jpeg_rgb", Warp(255, 2, 1800, "-0.5", -0.5f), 18, 12, "420jpeg", 2),
        Y4m("warp_444_odd_rgb", Warp(160, 1, -1500, "-0.5", -0.5f), 15, 9, "444", 2),
        Png("wave_rgb8_one", Wave({{"cosine,0.25,1,40", 0, 0.25, 1, 40}}, 7, "whole"), 9, 31, 3, 8),
        Png("wave_grey8_three_bottom_first", Wave({{"triangle,0.3,-2,20", 1, 0.3, -2, 20}, {"2,0.1,0.5,-9", 2, 0.1, 0.5, -9}, {"falling,0.6,3,12.5", 4, 0.6, 3, 12.5}}, 123456789, "bottom"), 8, 40, 1, 8),
        Png("wave_rgb8_rising_top_first", Wave({{"rising,0.2,1.5,300", 3, 0.2, 1.5, 300}}, -4, "top"), 6, 25, 3, 8),
        Y4m("wave_420jpeg_stream_fields", Wave({{"cosine,0.3,2,30", 0, 0.3, 2, 30}, {"square,0.15,-1,10", 2, 0.15, -1, 10}}, 0, "auto"), 16, 24, "420jpeg", 3),
        Y4m("wave_422_whole", Wave({{"triangle,0.5,1,25", 1, 0.5, 1, 25}}, 0, "whole"), 12, 20, "422", 3),
        Png("sharpen_rgb8_laplacian", Sharpen(false, "1.5", 384), 21, 15, 3, 8),
        Png("sharpen_rgba8_laplacian", Sharpen(false, "-0.75", -192), 21, 15, 4, 8),
        Png("sharpen_grey8_sobel", Sharpen(true, "0.3", 77), 21, 15, 1, 8),
        Png("sharpen_rgba8_sobel", Sharpen(true, "2", 512), 21, 15, 4, 8),
        Png("sharpen_rgb16_sobel", Sharpen(true, "1", 256), 21, 15, 3, 16),
        Png("sharpen_defaults_laplacian_1", Defaults(Op::Sharpen), 19, 13, 3, 8, kDefaults),
        Y4m("sharpen_420jpeg_luma_only", Sharpen(true, "0.5", 128), 16, 9, "420jpeg", 2),
        Png("detail_rgb8", Detail(2, "1.5", 3, 40, false), 21, 15, 3, 8),
        Png("detail_rgba8_weighted", Detail(1, "3", 0, 100, true), 21, 15, 4, 8),
        Png("detail_grey8_negative_weighted", Detail(3, "-2", -5, 30, true), 21, 15, 1, 8),
        Png("detail_rgb16", Detail(2, "0.75", 200, 4000, false), 21, 15, 3, 16),
        Png("detail_greyalpha16_weighted", Detail(2, "1", 100, 8000, true), 21, 15, 2, 16),
        Png("detail_defaults", Defaults(Op::Detail), 19, 13, 3, 8, kDefaults),
        Y4m("detail_422_luma_only", Detail(1, "1", 2, 50, false), 16, 9, "422", 2)),
    CaseName());
// clang-format on

// Settings that change nothing must give the input back exactly: this checks the
// round trips on their own (subsampled chroma through YUV32, 16-bit full scale and zero
// through the signed lanes), independently of the module's arithmetic.
TEST(Tvf2Filter, NeutralSettingsGiveTheInputBack) {
    for (const char* colour : {"420jpeg", "422", "444"})
        for (const char* source : {"linear", "texture"}) {
            ScratchDir dir;
            const std::string bytes = Serialise(RandomStream(13, 7, colour, 3, 11));
            WriteFile(dir.Path("in.y4m"), bytes);
            const RunResult r = RunTvf2({"denoise", "--backend", "cpu", "--radius", "0", "--source",
                                         source, dir.Path("in.y4m"), dir.Path("out.y4m")});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(ReadFile(dir.Path("out.y4m")) == bytes) << colour << " " << source;
        }
    for (int channels = 1; channels <= 4; ++channels) {
        ScratchDir dir;
        // Full-scale and zero colour under opaque alpha.
        Picture in = RandomPicture(8, 6, channels, 16, 7);
        for (size_t i = 0; i < in.samples.size(); ++i) {
            const bool alpha = channels % 2 == 0 && i % channels == size_t(channels - 1);
            in.samples[i] = alpha || (i / channels + i / (8 * channels)) % 2 ? 65535 : 0;
        }
        WritePicture(dir.Path("in.png"), in);
        const RunResult r = RunTvf2({"blur", "--backend", "cpu", "--radius", "0",
                                     dir.Path("in.png"), dir.Path("out.png")});
        ASSERT_EQ(r.status, 0) << r.err;
        SCOPED_TRACE(channels);
        ExpectSamePicture(ReadPicture(dir.Path("out.png")), in);
    }
}

// With -v, the filters that work on 8 bits say so for a 16-bit picture, and only then.
TEST(Tvf2Filter, SixteenBitWarningWithVerbose) {
    ScratchDir dir;
    WritePicture(dir.Path("p16.png"), RandomPicture(12, 10, 3, 16, 6));
    WritePicture(dir.Path("p8.png"), RandomPicture(12, 10, 3, 8, 6));
    for (const char* command : {"mosaic", "unsharp", "sharpen"})
        for (const char* in : {"p16.png", "p8.png"}) {
            const RunResult r = RunTvf2(
                {command, "--backend", "cpu", "-v", dir.Path(in), dir.Path("out.png")});
            ASSERT_EQ(r.status, 0) << r.err;
            const bool warned = Contains(r.err, "tvf2: warning: ") && Contains(r.err, "16-bit");
            EXPECT_EQ(warned, in[1] == '1') << command << " " << in << ": " << r.err;
            EXPECT_EQ(ReadPicture(dir.Path("out.png")).depth, 8);
        }
}

}  // namespace
}  // namespace tvf2test
