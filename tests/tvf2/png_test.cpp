// tvf2 mosaic on PNG pictures: every PNG colour type, 8 and 16 bits, files and pipes,
// checked against the independent reference (C32) and the module itself (C32A).
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tvf2test {
namespace {

std::string CellArg(const Cells& c) {
    return std::to_string(c.cellW) + "x" + std::to_string(c.cellH);
}
std::string OffsetArg(const Cells& c) {
    return std::to_string(c.offX) + "," + std::to_string(c.offY);
}

RunResult Mosaic(const std::string& in, const std::string& out, const Cells& c,
                 std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"mosaic",   "--backend", "cpu",       "--cell",
                                     CellArg(c), "--offset",  OffsetArg(c)};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(in);
    args.push_back(out);
    return RunTvf2(args);
}

// What tvf2 must write for an 8-bit picture without alpha: the reference mosaic.
Picture ExpectedOpaque(const Picture& in, const Cells& c) {
    std::vector<uint8_t> f = PictureToC32(in);
    MosaicC32(f, in.width, in.height, c);
    return C32ToPicture(f, in);
}

// With alpha: what the module gives for the same C32A frame.
Picture ExpectedFromModule(const Picture& in, const Cells& c) {
    std::vector<uint8_t> f = PictureToC32(in);
    EXPECT_EQ(ModuleMosaic(Layout::C32A, in.width, in.height, c.cellW, c.cellH, c.offX, c.offY, f),
              0);
    return C32ToPicture(f, in);
}

void ExpectSamePicture(const Picture& got, const Picture& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.channels, want.channels);
    ASSERT_EQ(got.depth, want.depth);
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int k = 0; k < want.channels; ++k)
                ASSERT_EQ(got.At(x, y, k), want.At(x, y, k))
                    << "pixel (" << x << ", " << y << ") channel " << k;
}

struct PngCase {
    const char* name;
    int channels, depth;
    Cells cells;
};

// Test names and failure messages show the case by its name.
void PrintTo(const PngCase& c, std::ostream* os) {
    *os << c.name;
}

class PngMosaic : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngMosaic, MatchesTheReferenceOrTheModule) {
    const PngCase& pc = GetParam();
    ScratchDir dir;
    const Picture in = RandomPicture(37, 29, pc.channels, pc.depth, 1234 + pc.channels);
    WritePicture(dir.Path("in.png"), in);
    const RunResult r = Mosaic(dir.Path("in.png"), dir.Path("out.png"), pc.cells);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // quiet without -v, even for 16-bit input
    const Picture in8 = pc.depth == 16 ? To8Bit(in) : in;
    const bool alpha = pc.channels == 2 || pc.channels == 4;
    const Picture want = alpha ? ExpectedFromModule(in8, pc.cells) : ExpectedOpaque(in8, pc.cells);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), want);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.png", "out.png"}));
}

// 8x8 and 5x3 cells take the per-thread kernel form, 16x16 and 20x15 (256 pixels and
// more) the per-block form.
INSTANTIATE_TEST_SUITE_P(
    Tvf2, PngMosaic,
    ::testing::Values(
        PngCase{"rgb8_cell8", 3, 8, {8, 8, 0, 0}},
        PngCase{"rgb8_cell5x3_offset", 3, 8, {5, 3, 2, 1}},
        PngCase{"rgb8_cell20x15_negative_offset", 3, 8, {20, 15, -7, -3}},
        PngCase{"grey8_cell4", 1, 8, {4, 4, 0, 0}}, PngCase{"grey8_cell16", 1, 8, {16, 16, 3, 0}},
        PngCase{"rgba8_cell6x5", 4, 8, {6, 5, 1, 2}}, PngCase{"rgba8_cell16", 4, 8, {16, 16, 0, 0}},
        PngCase{"greyalpha8_cell7", 2, 8, {7, 7, 0, 0}},
        PngCase{"rgb16_cell8", 3, 16, {8, 8, 0, 0}}, PngCase{"rgba16_cell3", 4, 16, {3, 3, 0, 0}},
        PngCase{"grey16_cell16", 1, 16, {16, 16, 0, 0}}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(Tvf2Png, GreyInputIsWrittenBackAsGrey) {
    ScratchDir dir;
    const Picture in = RandomPicture(16, 16, 1, 8, 5);
    WritePicture(dir.Path("g.png"), in);
    ASSERT_EQ(Mosaic(dir.Path("g.png"), dir.Path("o.png"), {4, 4, 0, 0}).status, 0);
    const Picture out = ReadPicture(dir.Path("o.png"));
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.depth, 8);
}

TEST(Tvf2Png, SixteenBitInputWarnsWithVerboseAndWritesEightBits) {
    ScratchDir dir;
    const Picture in = RandomPicture(12, 10, 3, 16, 6);
    WritePicture(dir.Path("in.png"), in);
    const RunResult r = Mosaic(dir.Path("in.png"), dir.Path("out.png"), {4, 4, 0, 0}, {"-v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("tvf2: warning: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("16-bit"), std::string::npos) << r.err;
    EXPECT_EQ(ReadPicture(dir.Path("out.png")).depth, 8);
}

TEST(Tvf2Png, InterlacedInputIsRead) {
    ScratchDir dir;
    const Picture in = RandomPicture(21, 17, 3, 8, 7);
    WritePicture(dir.Path("in.png"), in, /*interlaced=*/true);
    const Cells c{6, 6, 0, 0};
    ASSERT_EQ(Mosaic(dir.Path("in.png"), dir.Path("out.png"), c).status, 0);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), ExpectedOpaque(in, c));
}

TEST(Tvf2Png, StdinToStdout) {
    ScratchDir dir;
    const Picture in = RandomPicture(19, 11, 3, 8, 8);
    WritePicture(dir.Path("in.png"), in);
    RunOptions o;
    o.stdinPath = dir.Path("in.png");
    o.stdoutPath = dir.Path("out.png");
    const RunResult r = RunTvf2({"mosaic", "--backend", "cpu", "-c", "4", "-", "-"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), ExpectedOpaque(in, {4, 4, 0, 0}));
}

TEST(Tvf2Png, DefaultCellIs16x16) {
    ScratchDir dir;
    const Picture in = RandomPicture(40, 33, 3, 8, 9);
    WritePicture(dir.Path("in.png"), in);
    ASSERT_EQ(RunTvf2({"mosaic", "--backend=cpu", dir.Path("in.png"), dir.Path("out.png")}).status,
              0);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), ExpectedOpaque(in, {16, 16, 0, 0}));
}

TEST(Tvf2Png, ReplacesAnExistingOutput) {
    ScratchDir dir;
    const Picture in = RandomPicture(8, 8, 3, 8, 10);
    WritePicture(dir.Path("in.png"), in);
    WriteFile(dir.Path("out.png"), "old");
    ASSERT_EQ(Mosaic(dir.Path("in.png"), dir.Path("out.png"), {2, 2, 0, 0}).status, 0);
    ExpectSamePicture(ReadPicture(dir.Path("out.png")), ExpectedOpaque(in, {2, 2, 0, 0}));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.png", "out.png"}));
}

}  // namespace
}  // namespace tvf2test
