// tvf2 denoise on PNG pictures and YUV4MPEG2 streams, from linear memory and through
// textures: the output equals what the CPU module gives for the same converted frame
// when called directly, and a radius of 0 gives the input back exactly.
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

// The runtime's channel format descriptor, with its layout (no CUDA header here).
struct cudaChannelFormatDesc {
    int x, y, z, w;
    int f;
};

namespace tvf2test {
namespace {

enum class Slot { C32, C32A, YUV32 };

struct Denoise {
    int T = 256, radius = 2;
    bool fields = false, texture = false;
    int rowScale = 1, rowOffset = 0;
    bool sameParity = false;
};

// The CPU runtime's array calls, found through the module's handle.
struct ArrayCalls {
    cudaChannelFormatDesc (*createChannelDesc)(int, int, int, int, int);
    int (*mallocArray)(cudaArray**, const cudaChannelFormatDesc*, size_t, size_t, unsigned);
    int (*memcpy2DToArray)(cudaArray*, size_t, size_t, const void*, size_t, size_t, size_t, int);
    int (*freeArray)(cudaArray*);
};

ArrayCalls FindArrayCalls(void* handle) {
    ArrayCalls a;
    a.createChannelDesc =
        reinterpret_cast<decltype(a.createChannelDesc)>(dlsym(handle, "cudaCreateChannelDesc"));
    a.mallocArray = reinterpret_cast<decltype(a.mallocArray)>(dlsym(handle, "cudaMallocArray"));
    a.memcpy2DToArray =
        reinterpret_cast<decltype(a.memcpy2DToArray)>(dlsym(handle, "cudaMemcpy2DToArray"));
    a.freeArray = reinterpret_cast<decltype(a.freeArray)>(dlsym(handle, "cudaFreeArray"));
    return a;
}

// One packed frame of 4-byte pixels through the module's slot, as a host would call it:
// the source in device memory (or a CUDA array filled from the host), the destination a
// copy of the source. Returns the slot's status.
int ModuleDenoise(Slot slot, const Denoise& d, int width, int height, std::vector<uint8_t>& frame) {
    const CpuModule& m = LoadCpuModule();
    if (!m.funcs) return -1;
    using F = ICUDAKernelFuncSet_TarvoVideoFilter2;
    F& f = *m.funcs;
    const int pitch = width * 4;
    const size_t bytes = frame.size();
    void* src = nullptr;
    void* dst = nullptr;
    EXPECT_EQ(f.DeviceMalloc(&src, bytes), 0);
    EXPECT_EQ(f.DeviceMalloc(&dst, bytes), 0);
    std::memcpy(src, frame.data(), bytes);  // device memory is host memory here
    std::memcpy(dst, frame.data(), bytes);
    int status;
    if (!d.texture) {
        auto call = slot == Slot::C32    ? &F::SimilarityWeightedAverage_C32
                    : slot == Slot::C32A ? &F::SimilarityWeightedAverage_C32A
                                         : &F::SimilarityWeightedAverage_YUV32;
        status = (f.*call)(dst, src, nullptr, width, height, pitch, pitch, d.T, d.radius, d.fields);
    } else {
        auto call = slot == Slot::C32    ? &F::SimilarityWeightedAverageTex_C32
                    : slot == Slot::C32A ? &F::SimilarityWeightedAverageTex_C32A
                                         : &F::SimilarityWeightedAverageTex_YUV32;
        const ArrayCalls a = FindArrayCalls(m.handle);
        if (!a.createChannelDesc || !a.mallocArray || !a.memcpy2DToArray || !a.freeArray) {
            ADD_FAILURE() << "the CPU runtime's array calls are not found through the module";
            return -1;
        }
        const cudaChannelFormatDesc desc = a.createChannelDesc(8, 8, 8, 8, /*unsigned*/ 1);
        cudaArray* array = nullptr;
        EXPECT_EQ(a.mallocArray(&array, &desc, width, height, 0), 0);
        EXPECT_EQ(a.memcpy2DToArray(array, 0, 0, frame.data(), pitch, pitch, height,
                                    /*host to device*/ 1),
                  0);
        status = (f.*call)(dst, array, width, height, pitch, &desc, d.rowOffset, d.rowScale, d.T,
                           d.radius, d.sameParity);
        a.freeArray(array);
    }
    std::memcpy(frame.data(), dst, bytes);
    f.DeviceFree(src);
    f.DeviceFree(dst);
    return status;
}

std::vector<std::string> Args(const Denoise& d) {
    std::vector<std::string> a = {"denoise", "--backend", "cpu"};
    a.insert(a.end(), {"--threshold", std::to_string(d.T), "--radius", std::to_string(d.radius)});
    if (d.fields) a.push_back("--fields");
    if (d.texture) {
        a.insert(a.end(), {"--source", "texture", "--row-scale", std::to_string(d.rowScale),
                           "--row-offset", std::to_string(d.rowOffset)});
        if (d.sameParity) a.push_back("--same-parity");
    }
    return a;
}

struct DenoiseCase {
    const char* name;
    int width, height;
    int channels;        // PNG: 1 to 4
    const char* colour;  // YUV4MPEG2 C tag value; null for PNG
    Denoise d;
};

void PrintTo(const DenoiseCase& c, std::ostream* os) {
    *os << c.name;
}

Denoise Texture(int T, int radius, int rowScale, int rowOffset, bool sameParity) {
    Denoise d;
    d.T = T;
    d.radius = radius;
    d.texture = true;
    d.rowScale = rowScale;
    d.rowOffset = rowOffset;
    d.sameParity = sameParity;
    return d;
}
Denoise Linear(int T, int radius, bool fields) {
    Denoise d;
    d.T = T;
    d.radius = radius;
    d.fields = fields;
    return d;
}

class Tvf2Denoise : public ::testing::TestWithParam<DenoiseCase> {};

TEST_P(Tvf2Denoise, MatchesTheModule) {
    const DenoiseCase& c = GetParam();
    ScratchDir dir;
    std::vector<std::string> args = Args(c.d);
    if (!c.colour) {
        const Picture in = RandomPicture(c.width, c.height, c.channels, 8, 77 + c.channels);
        WritePicture(dir.Path("in.png"), in);
        args.insert(args.end(), {dir.Path("in.png"), dir.Path("out.png")});
        const RunResult r = RunTvf2(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<uint8_t> f = PictureToC32(in);
        const Slot slot = c.channels % 2 == 0 ? Slot::C32A : Slot::C32;
        ASSERT_EQ(ModuleDenoise(slot, c.d, c.width, c.height, f), 0);
        const Picture want = C32ToPicture(f, in), got = ReadPicture(dir.Path("out.png"));
        ASSERT_EQ(got.channels, want.channels);
        EXPECT_EQ(got.samples, want.samples);
    } else {
        const Stream in = RandomStream(c.width, c.height, c.colour, 2, 99);
        WriteFile(dir.Path("in.y4m"), Serialise(in));
        args.insert(args.end(), {dir.Path("in.y4m"), dir.Path("out.y4m")});
        const RunResult r = RunTvf2(args);
        ASSERT_EQ(r.status, 0) << r.err;
        Stream want = in;
        for (std::vector<uint8_t>& frame : want.frames) {
            std::vector<uint8_t> f = FrameToYUV32(in, frame);
            ASSERT_EQ(ModuleDenoise(Slot::YUV32, c.d, c.width, c.height, f), 0);
            frame = YUV32ToFrame(in, f);
        }
        EXPECT_TRUE(ReadFile(dir.Path("out.y4m")) == Serialise(want));
    }
    EXPECT_EQ(dir.Entries().size(), 2u);
}

// Random pixels are far apart, so large thresholds let enough members count. r = 21 on
// C32 takes the module's block-staged form; the others its tiles or the texture.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Tvf2, Tvf2Denoise,
    ::testing::Values(
        DenoiseCase{"rgb_linear", 37, 29, 3, nullptr, Linear(20000, 2, false)},
        DenoiseCase{"rgb_linear_fields_odd_height", 23, 17, 3, nullptr, Linear(30000, 3, true)},
        DenoiseCase{"grey_linear_radius21", 30, 26, 1, nullptr, Linear(4000, 21, false)},
        DenoiseCase{"rgb_texture_same_parity", 21, 19, 3, nullptr, Texture(25000, 2, 1, 0, true)},
        DenoiseCase{"rgb_texture_row_scale", 21, 19, 3, nullptr, Texture(25000, 1, 2, 1, false)},
        DenoiseCase{"rgba_linear", 33, 21, 4, nullptr, Linear(30000, 1, false)},
        DenoiseCase{"greyalpha_linear_fields", 17, 12, 2, nullptr, Linear(20000, 2, true)},
        DenoiseCase{"rgba_texture", 26, 15, 4, nullptr, Texture(20000, 2, 1, 3, true)},
        DenoiseCase{"y4m420_odd_linear", 15, 9, 0, "420jpeg", Linear(20000, 2, false)},
        DenoiseCase{"y4m422_texture", 16, 8, 0, "422", Texture(20000, 1, 1, 0, true)},
        DenoiseCase{"y4m444_linear_fields", 12, 7, 0, "444", Linear(20000, 2, true)},
        DenoiseCase{"y4m420_odd_texture", 9, 11, 0, "420mpeg2", Texture(30000, 3, 1, 0, false)}),
    [](const ::testing::TestParamInfo<DenoiseCase>& info) { return std::string(info.param.name); });
// clang-format on

// Mild noise (samples 120 to 132), so that the default threshold decides which pixels count.
TEST(Tvf2DenoiseDefaults, ThresholdAndRadius) {
    ScratchDir dir;
    Picture in = RandomPicture(24, 18, 3, 8, 5);
    for (uint16_t& v : in.samples) v = static_cast<uint16_t>(120 + v % 13);
    WritePicture(dir.Path("in.png"), in);
    const RunResult r =
        RunTvf2({"denoise", "--backend", "cpu", dir.Path("in.png"), dir.Path("o.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> f = PictureToC32(in);
    ASSERT_EQ(ModuleDenoise(Slot::C32, Denoise(), in.width, in.height, f), 0);
    EXPECT_EQ(ReadPicture(dir.Path("o.png")).samples, C32ToPicture(f, in).samples);
}

// With radius 0 every pixel keeps its value, so the stream must come back byte for byte:
// this checks the YUV32 conversion on its own, odd sizes and subsampled chroma included.
TEST(Tvf2DenoiseYUV32, RadiusZeroGivesTheStreamBack) {
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
}

}  // namespace
}  // namespace tvf2test
