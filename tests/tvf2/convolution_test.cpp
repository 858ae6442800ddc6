// tvf2 blur and tvf2 unsharp: every PNG colour type at 8 and 16 bits and YUV4MPEG2
// streams, compared with the CPU module called directly on the same frame, in the layout
// that tvf2 documents for the input, with tables from the same builder; and their
// parameter errors.
#include "convolution/weight_table.h"
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

namespace tvf2test {
namespace {

using tvf2::WindowShape;

ICUDAKernelFuncSet_TarvoVideoFilter2& Module() {
    static ICUDAKernelFuncSet_TarvoVideoFilter2* fs = [] {
        ICUDAKernelFuncSet_TarvoVideoFilter2* f = nullptr;
        void* lib = dlopen(TVF2_CPU_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto get = lib ? reinterpret_cast<PFN_GetFuncSet>(dlsym(lib, "GetFuncSet")) : nullptr;
        if (get) get(&f);
        return f;
    }();
    if (!fs) ADD_FAILURE() << "cannot load " << TVF2_CPU_MODULE;
    return *fs;
}

// Device memory of the CPU module, which is host memory: filled and read with memcpy.
class Dev {
public:
    explicit Dev(size_t bytes, const void* from = nullptr) {
        EXPECT_EQ(Module().DeviceMalloc(&p_, bytes), 0);
        if (from) std::memcpy(p_, from, bytes);
    }
    ~Dev() { Module().DeviceFree(p_); }
    void* p_ = nullptr;
};

// How tvf2 lays a picture out for the module: one plane (grey without alpha) or four
// lanes B, G, R, A (grey replicated, alpha full scale when absent); 16-bit samples as
// v >> 1 in signed lanes, back as (s << 1) | (s >> 14), negative as 0.
bool IsPlane(const Picture& p) {
    return p.channels == 1;
}
int LaneBytes(const Picture& p) {
    return p.depth / 8;
}
int PixelBytes(const Picture& p) {
    return (IsPlane(p) ? 1 : 4) * LaneBytes(p);
}

std::vector<uint8_t> ToModule(const Picture& p) {
    const int lanes = IsPlane(p) ? 1 : 4, full = p.depth == 16 ? 65535 : 255;
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * PixelBytes(p));
    uint8_t* d = out.data();
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            int v[4];
            if (p.channels <= 2) {
                v[0] = v[1] = v[2] = p.At(x, y, 0);
                v[3] = p.channels == 2 ? p.At(x, y, 1) : full;
            } else {
                v[0] = p.At(x, y, 2), v[1] = p.At(x, y, 1), v[2] = p.At(x, y, 0);
                v[3] = p.channels == 4 ? p.At(x, y, 3) : full;
            }
            for (int k = 0; k < lanes; ++k) {
                if (p.depth == 8) {
                    *d++ = static_cast<uint8_t>(v[k]);
                } else {
                    const int16_t s = static_cast<int16_t>(v[k] >> 1);
                    std::memcpy(d, &s, 2);
                    d += 2;
                }
            }
        }
    return out;
}

Picture FromModule(const std::vector<uint8_t>& bytes, const Picture& like) {
    Picture p = like;
    const int lanes = IsPlane(p) ? 1 : 4;
    auto lane = [&](size_t pixel, int k) -> uint16_t {
        const size_t at = (pixel * lanes + k) * LaneBytes(p);
        if (p.depth == 8) return bytes[at];
        int16_t s;
        std::memcpy(&s, &bytes[at], 2);
        return s <= 0 ? 0 : static_cast<uint16_t>((s << 1) | (s >> 14));
    };
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const size_t i = static_cast<size_t>(y) * p.width + x;
            if (p.channels <= 2) {
                p.At(x, y, 0) = lane(i, lanes == 1 ? 0 : 1);
                if (p.channels == 2) p.At(x, y, 1) = lane(i, 3);
            } else {
                p.At(x, y, 0) = lane(i, 2), p.At(x, y, 1) = lane(i, 1), p.At(x, y, 2) = lane(i, 0);
                if (p.channels == 4) p.At(x, y, 3) = lane(i, 3);
            }
        }
    return p;
}

typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*ConvolveSlot)(void*, const void*, int, int, int,
                                                                  int, const float*, int,
                                                                  const float*, int, void*, int,
                                                                  int);

// The slot for a frame of `pixelBytes` bytes a pixel (8-bit or 16-bit lanes), and
// whether it weights by alpha.
ConvolveSlot SlotFor(int pixelBytes, bool alpha) {
    typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
    switch (pixelBytes) {
    case 1: return &F::SeparableConvolve_P8;
    case 2: return &F::SeparableConvolve_P16;
    case 4: return alpha ? &F::SeparableConvolveAlpha_C32A : &F::SeparableConvolve_C32;
    default: return alpha ? &F::SeparableConvolveAlpha_C64A : &F::SeparableConvolve_C64;
    }
}

// The module's blur of a tightly packed frame, with tables from the builder.
void ModuleBlur(std::vector<uint8_t>& frame, int w, int h, int pixelBytes, bool alpha,
                WindowShape shape, int rx, int ry) {
    const std::vector<float> ht = tvf2::BuildWeightTable(shape, w, rx);
    const std::vector<float> vt = tvf2::BuildWeightTable(shape, h, ry);
    const int pitch = w * pixelBytes;
    Dev src(frame.size(), frame.data()), dst(frame.size());
    Dev dh(ht.size() * 4, ht.data()), dv(vt.size() * 4, vt.data());
    Dev work(static_cast<size_t>(w) * h * 16);  // enough for every layout
    const int status = (Module().*SlotFor(pixelBytes, alpha))(
        dst.p_, src.p_, w, h, pitch, pitch, static_cast<const float*>(dh.p_),
        static_cast<int>(ht.size()), static_cast<const float*>(dv.p_), static_cast<int>(vt.size()),
        work.p_, rx, ry);
    ASSERT_EQ(status, 0);
    std::memcpy(frame.data(), dst.p_, frame.size());
}

// The module's unsharp mask of a tightly packed C32 / C32A frame.
void ModuleUnsharp(std::vector<uint8_t>& frame, int w, int h, bool alpha, int r, int amount) {
    const std::vector<float> ht = tvf2::BuildWeightTable(WindowShape::Gaussian, w, r);
    const std::vector<float> vt = tvf2::BuildWeightTable(WindowShape::Gaussian, h, r);
    const int pitch = w * 4;
    Dev src(frame.size(), frame.data()), dst(frame.size()), mid(frame.size());
    Dev dh(ht.size() * 4, ht.data()), dv(vt.size() * 4, vt.data());
    auto slot = alpha ? &ICUDAKernelFuncSet_TarvoVideoFilter2::SeparableUnsharpMask_C32A
                      : &ICUDAKernelFuncSet_TarvoVideoFilter2::SeparableUnsharpMask_C32;
    const int status =
        (Module().*slot)(dst.p_, pitch, src.p_, pitch, mid.p_, pitch, w, h, r, amount,
                         static_cast<const float*>(dh.p_), static_cast<int>(ht.size()),
                         static_cast<const float*>(dv.p_), static_cast<int>(vt.size()));
    ASSERT_EQ(status, 0);
    std::memcpy(frame.data(), dst.p_, frame.size());
}

void ExpectSamePicture(const Picture& got, const Picture& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.channels, want.channels);
    ASSERT_EQ(got.depth, want.depth);
    for (size_t i = 0; i < want.samples.size(); ++i)
        ASSERT_EQ(got.samples[i], want.samples[i])
            << "pixel " << i / want.channels << " channel " << i % want.channels;
}

RunResult Tvf2(std::vector<std::string> args, const std::string& in, const std::string& out) {
    args.insert(args.begin() + 1, {"--backend", "cpu"});
    args.push_back(in);
    args.push_back(out);
    return RunTvf2(args);
}

struct PngCase {
    const char* name;
    int channels, depth, width, height;
    const char* kind;  // --kind
    int rx, ry;
};

void PrintTo(const PngCase& c, std::ostream* os) {
    *os << c.name;
}

class PngBlur : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngBlur, MatchesTheModuleInTheInputsLayout) {
    const PngCase& c = GetParam();
    ScratchDir dir;
    const Picture in = RandomPicture(c.width, c.height, c.channels, c.depth, 500 + c.channels);
    WritePicture(dir.Path("in.png"), in);
    const std::string radius =
        c.rx == c.ry ? std::to_string(c.rx) : std::to_string(c.rx) + "," + std::to_string(c.ry);
    const RunResult r = Tvf2({"blur", "--kind", c.kind, "--radius", radius}, dir.Path("in.png"),
                             dir.Path("out.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<uint8_t> frame = ToModule(in);
    const WindowShape shape =
        std::string(c.kind) == "box" ? WindowShape::Box : WindowShape::Gaussian;
    ModuleBlur(frame, c.width, c.height, PixelBytes(in), in.channels % 2 == 0, shape, c.rx, c.ry);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), FromModule(frame, in));
}

// Radii 1 and 3 take the table forms of both passes, 20 the rings-only form of the row
// pass for C32 and C32A, 30 the plain forms; 5 on a 9x7 picture leaves no centre window.
INSTANTIATE_TEST_SUITE_P(
    Tvf2, PngBlur,
    ::testing::Values(PngCase{"rgb8", 3, 8, 23, 17, "gaussian", 3, 1},
                      PngCase{"rgb8_large_radius", 3, 8, 70, 66, "box", 20, 30},
                      PngCase{"rgba8", 4, 8, 23, 17, "gaussian", 2, 2},
                      PngCase{"rgba8_large_radius", 4, 8, 70, 66, "gaussian", 30, 20},
                      PngCase{"grey8", 1, 8, 23, 17, "box", 1, 3},
                      PngCase{"greyalpha8", 2, 8, 23, 17, "gaussian", 0, 2},
                      PngCase{"rgb16", 3, 16, 23, 17, "gaussian", 3, 1},
                      PngCase{"rgba16", 4, 16, 23, 17, "box", 2, 0},
                      PngCase{"grey16", 1, 16, 23, 17, "gaussian", 3, 3},
                      PngCase{"greyalpha16", 2, 16, 9, 7, "gaussian", 5, 5}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(Tvf2Blur, SixteenBitFullScaleAndZeroSurvive) {
    ScratchDir dir;
    Picture in = RandomPicture(8, 6, 1, 16, 7);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) in.At(x, y, 0) = x < 4 ? 65535 : 0;
    WritePicture(dir.Path("in.png"), in);
    ASSERT_EQ(Tvf2({"blur", "--radius", "0"}, dir.Path("in.png"), dir.Path("out.png")).status, 0);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), in);
}

TEST(Tvf2Blur, DefaultsAreGaussianOfRadius2) {
    ScratchDir dir;
    const Picture in = RandomPicture(19, 13, 3, 8, 8);
    WritePicture(dir.Path("in.png"), in);
    ASSERT_EQ(Tvf2({"blur"}, dir.Path("in.png"), dir.Path("out.png")).status, 0);
    std::vector<uint8_t> frame = ToModule(in);
    ModuleBlur(frame, 19, 13, 4, false, WindowShape::Gaussian, 2, 2);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), FromModule(frame, in));
}

// Each plane on its own at its own size, as P8.
TEST(Tvf2Blur, StreamPlanesMatchTheModule) {
    ScratchDir dir;
    const Stream in = RandomStream(17, 11, "420jpeg", 2, 31);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    const RunResult r = Tvf2({"blur", "--radius", "2,4"}, dir.Path("in.y4m"), dir.Path("out.y4m"));
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream out = ParseStream(ReadFile(dir.Path("out.y4m")));
    EXPECT_EQ(out.headerParams, in.headerParams);
    ASSERT_EQ(out.frames.size(), 2u);
    for (size_t f = 0; f < 2; ++f) {
        std::vector<uint8_t> want;
        const uint8_t* plane = in.frames[f].data();
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? in.width : in.chromaWidth;
            const int h = p == 0 ? in.height : in.chromaHeight;
            std::vector<uint8_t> one(plane, plane + static_cast<size_t>(w) * h);
            plane += one.size();
            ModuleBlur(one, w, h, 1, false, WindowShape::Gaussian, 2, 4);
            want.insert(want.end(), one.begin(), one.end());
        }
        EXPECT_EQ(out.frames[f], want) << "frame " << f;
    }
}

struct UnsharpCase {
    const char* name;
    int channels, depth;
    int radius;
    const char* amount;
    int units;  // the amount in 1/256
};

void PrintTo(const UnsharpCase& c, std::ostream* os) {
    *os << c.name;
}

class PngUnsharp : public ::testing::TestWithParam<UnsharpCase> {};

TEST_P(PngUnsharp, MatchesTheModuleOnC32) {
    const UnsharpCase& c = GetParam();
    ScratchDir dir;
    const Picture in = RandomPicture(21, 15, c.channels, c.depth, 700 + c.channels);
    WritePicture(dir.Path("in.png"), in);
    const RunResult r =
        Tvf2({"unsharp", "-v", "--radius", std::to_string(c.radius), "--amount", c.amount},
             dir.Path("in.png"), dir.Path("out.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("16-bit") != std::string::npos, c.depth == 16) << r.err;
    const Picture in8 = c.depth == 16 ? To8Bit(in) : in;
    std::vector<uint8_t> frame = PictureToC32(in8);
    ModuleUnsharp(frame, in.width, in.height, in.channels % 2 == 0, c.radius, c.units);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), C32ToPicture(frame, in8));
}

INSTANTIATE_TEST_SUITE_P(Tvf2, PngUnsharp,
                         ::testing::Values(UnsharpCase{"rgb8", 3, 8, 2, "1.5", 384},
                                           UnsharpCase{"rgba8", 4, 8, 3, "0.75", 192},
                                           UnsharpCase{"grey8", 1, 8, 1, "2", 512},
                                           UnsharpCase{"greyalpha8", 2, 8, 2, "-0.5", -128},
                                           UnsharpCase{"rgb16", 3, 16, 2, "1", 256},
                                           UnsharpCase{"rgb8_rounded_amount", 3, 8, 25, "0.3", 77}),
                         [](const ::testing::TestParamInfo<UnsharpCase>& info) {
                             return std::string(info.param.name);
                         });

// Luma through C32, chroma untouched.
TEST(Tvf2Unsharp, StreamLumaOnly) {
    ScratchDir dir;
    const Stream in = RandomStream(16, 9, "422", 2, 41);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    const RunResult r = Tvf2({"unsharp", "--radius", "1", "--amount", "0.5"}, dir.Path("in.y4m"),
                             dir.Path("out.y4m"));
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream out = ParseStream(ReadFile(dir.Path("out.y4m")));
    ASSERT_EQ(out.frames.size(), 2u);
    for (size_t f = 0; f < 2; ++f) {
        Picture luma;
        luma.width = in.width, luma.height = in.height, luma.channels = 1;
        luma.samples.assign(in.frames[f].begin(), in.frames[f].begin() + in.LumaBytes());
        std::vector<uint8_t> frame = PictureToC32(luma);
        ModuleUnsharp(frame, in.width, in.height, false, 1, 128);
        std::vector<uint8_t> want = in.frames[f];
        const Picture sharp = C32ToPicture(frame, luma);
        std::copy(sharp.samples.begin(), sharp.samples.end(), want.begin());
        EXPECT_EQ(out.frames[f], want) << "frame " << f;
    }
}

TEST(Tvf2Convolution, ListedAndHelped) {
    RunResult r = RunTvf2({"list", "--module", TVF2_CPU_MODULE});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("blur"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unsharp"), std::string::npos) << r.out;
    r = RunTvf2({"blur", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--radius R|RX,RY"), std::string::npos) << r.out;
    r = RunTvf2({"unsharp", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--amount A"), std::string::npos) << r.out;
}

TEST(Tvf2Convolution, BadParametersAreOneLineWithStatus2AndNoOutput) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"blur", "--radius", "-1"}, "--radius: -1 is out of range (0 to 1000)"},
        {{"blur", "--radius", "1001"}, "--radius: 1001 is out of range (0 to 1000)"},
        {{"blur", "--radius", "2,-3"}, "--radius: -3 is out of range"},
        {{"blur", "--radius", "2x3"}, "--radius: '2x3' is not an integer"},
        {{"blur", "--radius", "2,"}, "--radius: '2,' is not a point"},
        {{"blur", "--kind", "median"}, "--kind: 'median' is not one of gaussian, box"},
        {{"unsharp", "--radius", "-2"}, "--radius: -2 is out of range"},
        {{"unsharp", "--radius", "1,1"}, "--radius: '1,1' is not an integer"},
        {{"unsharp", "--amount", "lots"}, "--amount: 'lots' is not a number"},
        {{"unsharp", "--amount", "nan"}, "--amount: 'nan' is not a number"},
        {{"unsharp", "--amount", "65"}, "--amount: 65 is out of range (-64 to 64)"},
    };
    ScratchDir dir;
    WritePicture(dir.Path("in.png"), RandomPicture(8, 8, 3, 8, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        const RunResult r = Tvf2(c.args, dir.Path("in.png"), dir.Path("out.png"));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.compare(0, 6 + std::strlen(c.message), std::string("tvf2: ") + c.message),
                  0)
            << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
    }
}

// A module that cannot run the job: status 1, nothing written.
TEST(Tvf2Convolution, ModuleFailureLeavesNoOutput) {
    ScratchDir dir;
    WritePicture(dir.Path("in.png"), RandomPicture(8, 8, 3, 8, 1));
    for (const char* op : {"blur", "unsharp"}) {
        const RunResult r =
            RunTvf2({op, "--module", dir.Path("none.so"), dir.Path("in.png"), dir.Path("out.png")});
        EXPECT_EQ(r.status, 1) << op;
        EXPECT_NE(r.err.find("tvf2: module not found"), std::string::npos) << r.err;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
    }
}

}  // namespace
}  // namespace tvf2test
