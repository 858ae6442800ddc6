// tvf2 temporal: every output frame of a YUV4MPEG2 stream equals the CPU module called
// directly on the converted frame and its window of neighbours, built here by hand
// (the nearest frame repeated past either end of the stream); a PNG picture, its own
// only neighbour, comes back unchanged; the stream keeps its frame count.
#include "module/TarvoVideoFilter2.h"
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace tvf2test {
namespace {

using F = ICUDAKernelFuncSet_TarvoVideoFilter2;

// Frames that differ from the first by a little noise, with a patch that moves, so that
// some areas average across frames and some keep the current frame.
Stream NoisyStream(int w, int h, const std::string& colour, int frames, uint32_t seed) {
    Stream s = RandomStream(w, h, colour, frames, seed);
    std::mt19937 rng(seed);
    for (int i = 1; i < frames; ++i)
        for (size_t j = 0; j < s.frames[i].size(); ++j) {
            const bool moved = j < s.LumaBytes() && int(j % w) / 3 == i;
            s.frames[i][j] = moved ? uint8_t(rng()) : uint8_t(std::clamp(int(s.frames[0][j]) + int(rng() % 7) - 3, 0, 255));
        }
    return s;
}

// The output tvf2 must write: each frame through MultiFrameSimilarityAverage_YUV32 with
// the converted frames `before` and `after` it as references, in stream order.
Stream Expected(const Stream& in, int T, int refs, bool fields) {
    const int before = (refs + 1) / 2, after = refs / 2, n = int(in.frames.size());
    const int w = in.width, h = in.height, pitch = 4 * w;
    std::vector<std::vector<uint8_t>> yuv;
    for (const auto& f : in.frames) yuv.push_back(FrameToYUV32(in, f));
    Stream out = in;
    for (int t = 0; t < n; ++t) {
        std::vector<std::unique_ptr<Dev>> held;
        std::vector<const void*> ptrs;
        std::vector<int> pitches;
        for (int k = t - before; k <= t + after; ++k) {
            if (k == t) continue;
            const int c = std::clamp(k, 0, n - 1);
            held.emplace_back(new Dev(yuv[c].size(), yuv[c].data()));
            ptrs.push_back(held.back()->p);
            pitches.push_back(pitch);
        }
        Dev src(yuv[t].size(), yuv[t].data()), dst(yuv[t].size(), yuv[t].data()), scratch(12 * refs + 1);
        EXPECT_EQ(CpuModule()->MultiFrameSimilarityAverage_YUV32(dst.p, src.p, ptrs.data(), refs, w, h, pitch, pitch,
                                                                 pitches.data(), T, fields, nullptr, scratch.p),
                  0);
        std::vector<uint8_t> result(yuv[t].size());
        std::memcpy(result.data(), dst.p, result.size());
        out.frames[t] = YUV32ToFrame(in, result);
    }
    return out;
}

// Streams shorter and longer than the window, with and without fields, subsampled and
// full chroma; --frames 0 leaves the stream as it was (up to the chroma round trip).
TEST(Tvf2Temporal, StreamEqualsTheModuleOverTheWindow) {
    ASSERT_NE(CpuModule(), nullptr) << "cannot load " << TVF2_CPU_MODULE;
    struct Case {
        const char* colour;
        int w, h, frames, refs, T;
        bool fields;
    } cases[] = {{"444", 13, 9, 6, 3, 900, false}, {"420jpeg", 10, 7, 5, 2, 400, true},
                 {"444", 9, 6, 3, 8, 2000, false},  {"422", 8, 5, 1, 4, 700, true},
                 {"444", 7, 4, 4, 0, 500, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.colour) + " frames " + std::to_string(c.frames) + " refs " + std::to_string(c.refs));
        ScratchDir dir;
        const Stream in = NoisyStream(c.w, c.h, c.colour, c.frames, 40 + c.refs);
        WriteFile(dir.Path("in.y4m"), Serialise(in));
        std::vector<std::string> args = {"temporal", "--backend", "cpu", "--threshold", std::to_string(c.T), "--frames",
                                         std::to_string(c.refs), dir.Path("in.y4m"), dir.Path("out.y4m")};
        if (c.fields) args.insert(args.begin() + 1, "--fields");
        const RunResult r = RunTvf2(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string out = ReadFile(dir.Path("out.y4m"));
        EXPECT_TRUE(out == Serialise(Expected(in, c.T, c.refs, c.fields)));
        // Without neighbours the frames come back as they were; with them, averaged.
        EXPECT_EQ(out == Serialise(in), c.refs == 0 || c.frames == 1);
    }
}

// A picture is a window of one frame: every reference is the picture itself, which
// weighs as much as it, so the colours (and alpha) come back unchanged.
TEST(Tvf2Temporal, PictureComesBackUnchanged) {
    for (int channels : {3, 4}) {
        ScratchDir dir;
        const Picture in = RandomPicture(11, 6, channels, 8, 5);
        WritePicture(dir.Path("in.png"), in);
        const RunResult r = RunTvf2({"temporal", "--backend", "cpu", "--frames", "4", "--fields", dir.Path("in.png"),
                                     dir.Path("out.png")});
        ASSERT_EQ(r.status, 0) << r.err;
        const Picture out = ReadPicture(dir.Path("out.png"));
        EXPECT_EQ(out.samples, in.samples) << channels;
    }
}

TEST(Tvf2Temporal, RefusesWhatTheModuleCannotDo) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), Serialise(RandomStream(8, 4, "444", 2, 3)));
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {{{"--frames", "21"}, "--frames: 21 is out of range"},
                 {{"--threshold", "0"}, "--threshold: 0 is out of range"},
                 {{"--threshold", "1000000", "--frames", "20"}, "too large for YUV32"}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"temporal", "--backend", "cpu"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {dir.Path("in.y4m"), dir.Path("out.y4m")});
        const RunResult r = RunTvf2(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.y4m"});  // no output left behind
}

}  // namespace
}  // namespace tvf2test
