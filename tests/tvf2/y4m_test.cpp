// tvf2 mosaic on YUV4MPEG2 streams: 4:4:4, 4:2:2 and 4:2:0, files and pipes, header
// and FRAME lines kept, --frames, checked against the reference through the documented
// chroma conversions and against the module's Mosaic_YUY2.
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tvf2test {
namespace {

// The stream tvf2 must write: each frame through YUY2, the mosaic, and back.
Stream Expected(const Stream& in, const Cells& c, size_t frames) {
    Stream out = in;
    out.frames.resize(frames);
    out.frameParams.resize(frames);
    for (std::vector<uint8_t>& f : out.frames) {
        std::vector<uint8_t> yuy2 = FrameToYUY2(in, f);
        std::vector<uint8_t> viaModule = yuy2;
        MosaicYUY2(yuy2, in.width, in.height, c);
        // The reference and the module agree on the same frame.
        EXPECT_EQ(ModuleMosaic(Layout::YUY2, in.width, in.height, c.cellW, c.cellH, c.offX, c.offY,
                               viaModule),
                  0);
        EXPECT_EQ(viaModule, yuy2);
        f = YUY2ToFrame(in, yuy2);
    }
    return out;
}

void ExpectSameStream(const Stream& got, const Stream& want) {
    EXPECT_EQ(got.headerParams, want.headerParams);
    ASSERT_EQ(got.frames.size(), want.frames.size());
    for (size_t i = 0; i < want.frames.size(); ++i) {
        EXPECT_EQ(got.frameParams[i], want.frameParams[i]) << "frame " << i;
        ASSERT_EQ(got.frames[i], want.frames[i]) << "frame " << i;
    }
}

struct StreamCase {
    const char* name;
    std::string colour;
    int width, height;
    Cells cells;
};

// Test names and failure messages show the case by its name.
void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class Y4mMosaic : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Y4mMosaic, FileToFileMatchesTheReference) {
    const StreamCase& sc = GetParam();
    ScratchDir dir;
    const Stream in = RandomStream(sc.width, sc.height, sc.colour, 3, 99);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    const RunResult r =
        RunTvf2({"mosaic", "--backend", "cpu", "--cell",
                 std::to_string(sc.cells.cellW) + "x" + std::to_string(sc.cells.cellH), "--offset",
                 std::to_string(sc.cells.offX) + "," + std::to_string(sc.cells.offY),
                 dir.Path("in.y4m"), dir.Path("out.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ExpectSameStream(ParseStream(ReadFile(dir.Path("out.y4m"))), Expected(in, sc.cells, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Tvf2, Y4mMosaic,
    ::testing::Values(StreamCase{"c422_cell4", "422", 24, 14, {4, 4, 0, 0}},
                      StreamCase{"c422_cell20x16", "422", 40, 34, {20, 16, 2, -3}},
                      StreamCase{"c420jpeg_cell6x5", "420jpeg", 30, 20, {6, 5, 2, 1}},
                      StreamCase{"c420mpeg2_odd_height", "420mpeg2", 18, 11, {4, 4, 0, 0}},
                      StreamCase{"c420paldv", "420paldv", 16, 8, {8, 8, 0, 0}},
                      StreamCase{"c420", "420", 16, 8, {2, 2, 0, 0}},
                      StreamCase{"c444_cell6", "444", 22, 9, {6, 6, 0, 0}}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST(Tvf2Y4m, PipeThroughStdinAndStdout) {
    ScratchDir dir;
    const Stream in = RandomStream(32, 18, "420jpeg", 4, 7);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    RunOptions o;
    o.stdinPath = dir.Path("in.y4m");
    o.stdoutPath = dir.Path("out.y4m");
    const RunResult r = RunTvf2({"mosaic", "--backend", "cpu", "--cell", "8", "-", "-"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameStream(ParseStream(ReadFile(dir.Path("out.y4m"))), Expected(in, {8, 8, 0, 0}, 4));
}

TEST(Tvf2Y4m, FramesStopsEarly) {
    ScratchDir dir;
    const Stream in = RandomStream(16, 8, "422", 5, 3);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    const RunResult r = RunTvf2({"mosaic", "--backend", "cpu", "--frames", "2", "-c", "4",
                                 dir.Path("in.y4m"), dir.Path("out.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameStream(ParseStream(ReadFile(dir.Path("out.y4m"))), Expected(in, {4, 4, 0, 0}, 2));
}

TEST(Tvf2Y4m, FrameParametersAndHeaderAreKept) {
    ScratchDir dir;
    Stream in = RandomStream(8, 4, "444", 2, 4);
    in.headerParams = " W8 H4 F25:1 It A10:11 C444 XCOLORRANGE=FULL";
    in.frameParams[1] = " Ixyz XNOTE=1";
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    ASSERT_EQ(
        RunTvf2({"mosaic", "--backend", "cpu", "-c", "2", dir.Path("in.y4m"), dir.Path("out.y4m")})
            .status,
        0);
    ExpectSameStream(ParseStream(ReadFile(dir.Path("out.y4m"))), Expected(in, {2, 2, 0, 0}, 2));
}

TEST(Tvf2Y4m, NoColourTagMeans420) {
    ScratchDir dir;
    Stream in = RandomStream(12, 6, "420jpeg", 1, 5);
    in.headerParams = " W12 H6 F25:1";
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    ASSERT_EQ(
        RunTvf2({"mosaic", "--backend", "cpu", "-c", "4", dir.Path("in.y4m"), dir.Path("out.y4m")})
            .status,
        0);
    ExpectSameStream(ParseStream(ReadFile(dir.Path("out.y4m"))), Expected(in, {4, 4, 0, 0}, 1));
}

TEST(Tvf2Y4m, EmptyStreamGivesTheHeaderOnly) {
    ScratchDir dir;
    const Stream in = RandomStream(8, 8, "422", 0, 1);
    WriteFile(dir.Path("in.y4m"), Serialise(in));
    ASSERT_EQ(
        RunTvf2({"mosaic", "--backend", "cpu", dir.Path("in.y4m"), dir.Path("out.y4m")}).status, 0);
    EXPECT_EQ(ReadFile(dir.Path("out.y4m")), Serialise(in));
}

TEST(Tvf2Y4m, ProgressLineWhenAsked) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), Serialise(RandomStream(8, 8, "422", 3, 1)));
    const RunResult r = RunTvf2({"mosaic", "--backend", "cpu", "--progress", "-c", "4",
                                 dir.Path("in.y4m"), dir.Path("out.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("frame 3/3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("fps"), std::string::npos) << r.err;
}

TEST(Tvf2Y4m, QuietWithoutATerminal) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), Serialise(RandomStream(8, 8, "422", 3, 1)));
    const RunResult r =
        RunTvf2({"mosaic", "--backend", "cpu", "-c", "4", dir.Path("in.y4m"), dir.Path("out.y4m")});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tvf2test
