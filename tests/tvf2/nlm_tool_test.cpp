// tvf2 nlm on YUV4MPEG2 streams and PNG pictures: the output equals the CPU module,
// called directly as a host calls it (dlopen + GetFuncSet), over windows of frames
// converted as tvf2 documents it, with the first and last frames repeated where a
// window reaches past the stream, and the coefficient derived from the strength as
// documented; as many frames out as in; through pipes; with --frames.
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace tvf2test {
namespace {

using F = ICUDAKernelFuncSet_TarvoVideoFilter2;

struct Settings {
    int search, patch, temporal;
    const char* strength;
    double strengthValue;
};

std::vector<std::string> Options(const Settings& s) {
    return {"--search", std::to_string(s.search), "--patch", std::to_string(s.patch), "--temporal",
            std::to_string(s.temporal), "--strength", s.strength};
}

// Filters frame `current` of a stream of 4-byte frames (tightly packed) with the window
// around it, repeating the first and last frames past the ends.
std::vector<uint8_t> Filter(const Settings& s, bool alpha, const std::vector<std::vector<uint8_t>>& frames, int current,
                            int w, int h) {
    F* m = CpuModule();
    EXPECT_NE(m, nullptr) << "cannot load " << TVF2_CPU_MODULE;
    const int n = 2 * s.temporal + 1, last = static_cast<int>(frames.size()) - 1;
    std::vector<std::unique_ptr<Dev>> dev;
    std::vector<const void*> pointers;
    std::vector<int> pitches(n, 4 * w);
    for (int f = 0; f < n; ++f) {
        const std::vector<uint8_t>& src = frames[std::clamp(current - s.temporal + f, 0, last)];
        dev.push_back(std::make_unique<Dev>(src.size()));
        std::memcpy(dev.back()->p, src.data(), src.size());
        pointers.push_back(dev.back()->p);
    }
    const double side = 2.0 * s.patch + 1;
    const std::vector<float> coefficients(n, static_cast<float>(1.0 / (s.strengthValue * s.strengthValue * side * side)));
    Dev dst(frames[current].size()), params(16 * n);
    std::memcpy(dst.p, frames[current].data(), frames[current].size());
    const auto slot = alpha ? &F::NonLocalMeans_C32A : &F::NonLocalMeans_C32;
    EXPECT_EQ((m->*slot)(w, h, s.search, s.patch, s.temporal, coefficients.data(), dst.p, 4 * w, pointers.data(),
                         pitches.data(), params.p, 0),
              0);
    std::vector<uint8_t> out(frames[current].size());
    std::memcpy(out.data(), dst.p, out.size());
    return out;
}

Stream Expected(const Settings& s, const Stream& in) {
    std::vector<std::vector<uint8_t>> yuv32;
    for (const auto& f : in.frames) yuv32.push_back(FrameToYUV32(in, f));
    Stream want = in;
    for (size_t i = 0; i < in.frames.size(); ++i)
        want.frames[i] = YUV32ToFrame(in, Filter(s, false, yuv32, static_cast<int>(i), in.width, in.height));
    return want;
}

void ExpectSameBytes(const std::string& got, const std::string& want) {
    EXPECT_TRUE(got == want) << "the output differs from byte "
                             << std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin()
                             << " of " << want.size();
}

// Streams longer and shorter than the window (T = 2 over 3 frames repeats both ends in
// one window), every chroma format, a fixed-radius and a run-time form, one frame.
TEST(Tvf2Nlm, StreamsEqualTheModuleOverWindows) {
    const struct {
        Settings s;
        const char* colour;
        int w, h, frames;
    } cases[] = {{{2, 1, 1, "12", 12.0}, "420jpeg", 14, 10, 5},
                 {{1, 2, 2, "7.5", 7.5}, "444", 9, 7, 3},
                 {{3, 0, 1, "20", 20.0}, "422", 12, 6, 1},
                 {{2, 2, 0, "30", 30.0}, "420mpeg2", 10, 9, 2}};
    for (const auto& c : cases) {
        ScratchDir dir;
        const Stream in = RandomStream(c.w, c.h, c.colour, c.frames, 40u + c.frames);
        WriteFile(dir.Path("in.y4m"), Serialise(in));
        std::vector<std::string> args = {"nlm", "--backend", "cpu"};
        const std::vector<std::string> options = Options(c.s);
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {dir.Path("in.y4m"), dir.Path("out.y4m")});
        const RunResult r = RunTvf2(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        SCOPED_TRACE(c.colour);
        ExpectSameBytes(ReadFile(dir.Path("out.y4m")), Serialise(Expected(c.s, in)));
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.y4m", "out.y4m"}));
    }
}

// stdin to stdout with the defaults (S 2, P 1, T 1, strength 8); --frames stops reading,
// so the last frame written is the last of the window's stream.
TEST(Tvf2Nlm, PipeDefaultsAndFrameLimit) {
    ScratchDir dir;
    const Stream in = RandomStream(12, 8, "420jpeg", 4, 77);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    RunOptions o;
    o.stdinPath = dir.Path("in.y4m"), o.stdoutPath = dir.Path("out.y4m");
    RunResult r = RunTvf2({"nlm", "--backend", "cpu", "-", "-"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameBytes(ReadFile(dir.Path("out.y4m")), Serialise(Expected({2, 1, 1, "8", 8.0}, in)));

    r = RunTvf2({"nlm", "--backend", "cpu", "--frames", "2", "-t", "1", dir.Path("in.y4m"), dir.Path("two.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    Stream first = in;
    first.frames.resize(2);
    first.frameParams.resize(2);
    ExpectSameBytes(ReadFile(dir.Path("two.y4m")), Serialise(Expected({2, 1, 1, "8", 8.0}, first)));
}

// A picture is a window of one frame: C32 without alpha, C32A with it.
TEST(Tvf2Nlm, PicturesEqualTheModule) {
    for (int channels : {3, 4, 1, 2}) {
        ScratchDir dir;
        const Picture in = RandomPicture(13, 11, channels, 8, 90u + channels);
        WritePicture(dir.Path("in.png"), in);
        const Settings s{2, 1, 1, "40", 40.0};
        std::vector<std::string> args = {"nlm", "--backend", "cpu"};
        const std::vector<std::string> options = Options(s);
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {dir.Path("in.png"), dir.Path("out.png")});
        const RunResult r = RunTvf2(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const bool alpha = channels % 2 == 0;
        const std::vector<uint8_t> lanes = PictureToLanes(in, false);
        const Picture want = LanesToPicture(Filter(s, alpha, {lanes}, 0, 13, 11), in, false);
        const Picture got = ReadPicture(dir.Path("out.png"));
        EXPECT_EQ(got.samples, want.samples) << channels << " channels";
        EXPECT_NE(got.samples, in.samples) << "the filter changed nothing";
    }
}

}  // namespace
}  // namespace tvf2test
