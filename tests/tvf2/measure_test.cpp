// tvf2 measure end to end: the totals it prints against the sequential reference of the
// measurement on the frames converted by the independent reference of tvf2's
// conversions (semi-planar 4:2:0 written out here from the documented rules).
#include "../measure/energy_reference.h"
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace tvf2test {
namespace {

typedef std::array<int, 9> Matrix;
const Matrix kIdentity = {16384, 0, 0, 0, 16384, 0, 0, 0, 16384};

std::string MatrixArg(const Matrix& m) {
    std::string s;
    for (int v : m) s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

// A: rows y and y + 1, B: row y, over the first height - 1 rows.
int64_t Expected(EnergyRefLayout layout, int width, int height, const std::vector<uint8_t> planes[4],
                 const int pitches[4], bool halved, const Matrix& m, int t) {
    EnergyRefArgs a{};
    for (int k = 0; k < 4; ++k) a.plane[k] = {planes[k].data(), pitches[k]};
    a.width = width;
    a.height = height - 1;
    a.halved = halved;
    for (int k = 0; k < 9; ++k) a.m[k] = m[k];
    a.threshold = t;
    return EnergyReference(layout, a);
}

int64_t ExpectedPictures(const Picture& a, const Picture& b, const Matrix& m, int t) {
    const std::vector<uint8_t> planes[4] = {PictureToLanes(a, false), PictureToLanes(b, false), {}, {}};
    const int bpp = a.depth == 16 ? 8 : 4;
    const int pitches[4] = {a.width * bpp, a.width * bpp, 0, 0};
    return Expected(a.depth == 16 ? EnergyRefLayout::C64 : EnergyRefLayout::C32, a.width, a.height,
                    planes, pitches, false, m, t);
}

// 4:2:0 as the slot sees it: the luma plane as it is; chroma interleaved U V. Halved:
// the chroma rows as they are, A's last one repeated; otherwise image row y takes
// chroma row y / 2.
std::vector<uint8_t> Chroma420(const Stream& s, const std::vector<uint8_t>& f, bool halved, bool isA) {
    const int rows = halved ? s.chromaHeight + (isA ? 1 : 0) : s.height;
    std::vector<uint8_t> out;
    for (int r = 0; r < rows; ++r) {
        const int c = halved ? std::min(r, s.chromaHeight - 1) : r / 2;
        for (int i = 0; i < s.chromaWidth; ++i) {
            out.push_back(f[s.LumaBytes() + c * s.chromaWidth + i]);
            out.push_back(f[s.LumaBytes() + s.ChromaBytes() + c * s.chromaWidth + i]);
        }
    }
    return out;
}

int64_t ExpectedFrames(const Stream& s, const std::vector<uint8_t>& fa, const std::vector<uint8_t>& fb,
                       bool halved, const Matrix& m, int t) {
    if (!s.Is420()) {
        const std::vector<uint8_t> planes[4] = {FrameToYUY2(s, fa), FrameToYUY2(s, fb), {}, {}};
        const int pitches[4] = {s.width * 2, s.width * 2, 0, 0};
        return Expected(EnergyRefLayout::YUY2, s.width, s.height, planes, pitches, false, m, t);
    }
    const std::vector<uint8_t> planes[4] = {
        std::vector<uint8_t>(fa.begin(), fa.begin() + s.LumaBytes()),
        std::vector<uint8_t>(fb.begin(), fb.begin() + s.LumaBytes()), Chroma420(s, fa, halved, true),
        Chroma420(s, fb, halved, false)};
    const int pitches[4] = {s.width, s.width, 2 * s.chromaWidth, 2 * s.chromaWidth};
    return Expected(EnergyRefLayout::SemiPlanar8, s.width, s.height, planes, pitches, halved, m, t);
}

std::vector<std::string> Args(std::vector<std::string> args, const Matrix& m, int t) {
    args.insert(args.begin(), {"measure", "--backend", "cpu", "--matrix", MatrixArg(m), "--threshold",
                               std::to_string(t)});
    return args;
}

// The matrices and thresholds of the cases: the default, then mixed signs and a
// threshold that drops part of the squares.
const Matrix kMixed = {20000, -3000, 0, -16384, 9000, 700, 0, 4000, -12000};

TEST(Tvf2Measure, PicturesMatchTheReference) {
    ScratchDir dir;
    struct PictureCase {
        int width, height, channels, depth;
    } cases[] = {{23, 17, 3, 8}, {9, 2, 1, 8}, {31, 12, 4, 16}, {16, 16, 4, 8}, {5, 7, 1, 16}};
    uint32_t seed = 40;
    for (const auto& c : cases) {
        const Picture a = RandomPicture(c.width, c.height, c.channels, c.depth, seed++);
        const Picture b = RandomPicture(c.width, c.height, c.channels, c.depth, seed++);
        WritePicture(dir.Path("a.png"), a);
        WritePicture(dir.Path("b.png"), b);
        for (int t : {0, 90}) {
            const RunResult r = RunTvf2(Args({dir.Path("a.png"), dir.Path("b.png")}, kMixed, t));
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "0 " + std::to_string(ExpectedPictures(a, b, kMixed, t)) + "\n")
                << c.width << "x" << c.height << " channels " << c.channels << " depth " << c.depth;
        }
    }
    // The default matrix is the identity, the default threshold 0.
    const Picture a = RandomPicture(12, 6, 3, 8, 1), b = RandomPicture(12, 6, 3, 8, 2);
    WritePicture(dir.Path("a.png"), a);
    WritePicture(dir.Path("b.png"), b);
    const RunResult r = RunTvf2({"measure", "--backend", "cpu", "--csv", dir.Path("a.png"), dir.Path("b.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "frame,total\n0," + std::to_string(ExpectedPictures(a, b, kIdentity, 0)) + "\n");
}

struct StreamCase {
    const char* name;
    int width, height;
    const char* colour;
    bool halved;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class Tvf2MeasureStreams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Tvf2MeasureStreams, FrameByFrameAndConsecutive) {
    const StreamCase& c = GetParam();
    ScratchDir dir;
    const Stream a = RandomStream(c.width, c.height, c.colour, 3, 7);
    const Stream b = RandomStream(c.width, c.height, c.colour, 3, 8);
    WriteFile(dir.Path("a.y4m"), Serialise(a));
    WriteFile(dir.Path("b.y4m"), Serialise(b));
    const std::vector<std::string> halved = c.halved ? std::vector<std::string>{"--halved"} : std::vector<std::string>{};

    std::vector<std::string> args = {dir.Path("a.y4m"), dir.Path("b.y4m")};
    args.insert(args.end(), halved.begin(), halved.end());
    RunResult r = RunTvf2(Args(args, kMixed, 40));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want;
    for (int f = 0; f < 3; ++f)
        want += std::to_string(f) + " " + std::to_string(ExpectedFrames(a, a.frames[f], b.frames[f], c.halved, kMixed, 40)) + "\n";
    EXPECT_EQ(r.out, want);

    // One stream against its next frame, from stdin, as CSV.
    args = {"--consecutive", "--csv", "-"};
    args.insert(args.end(), halved.begin(), halved.end());
    RunOptions o;
    o.stdinPath = dir.Path("a.y4m");
    r = RunTvf2(Args(args, kIdentity, 0), o);
    ASSERT_EQ(r.status, 0) << r.err;
    want = "frame,total\n";
    for (int f = 0; f < 2; ++f)
        want += std::to_string(f) + "," + std::to_string(ExpectedFrames(a, a.frames[f], a.frames[f + 1], c.halved, kIdentity, 0)) + "\n";
    EXPECT_EQ(r.out, want);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Tvf2, Tvf2MeasureStreams,
    ::testing::Values(
        StreamCase{"c422", 18, 9, "422", false},
        StreamCase{"c444", 10, 6, "444", false},
        StreamCase{"c420_even_height", 16, 10, "420jpeg", false},
        StreamCase{"c420_even_height_halved", 16, 10, "420jpeg", true},
        StreamCase{"c420_odd_size_halved", 15, 11, "420mpeg2", true},
        StreamCase{"c420_odd_size", 15, 11, "", false}),
    CaseName());
// clang-format on

// Failures print one line and no totals; streams of different lengths are measured up
// to the shorter one, then the run fails.
TEST(Tvf2Measure, RefusalsAndUnevenStreams) {
    ScratchDir dir;
    WritePicture(dir.Path("a.png"), RandomPicture(12, 6, 3, 8, 1));
    WritePicture(dir.Path("wide.png"), RandomPicture(13, 6, 3, 8, 2));
    WritePicture(dir.Path("deep.png"), RandomPicture(12, 6, 3, 16, 3));
    WritePicture(dir.Path("row.png"), RandomPicture(12, 1, 3, 8, 4));
    WriteFile(dir.Path("s3.y4m"), Serialise(RandomStream(16, 8, "422", 3, 5)));
    WriteFile(dir.Path("s2.y4m"), Serialise(RandomStream(16, 8, "422", 2, 6)));
    WriteFile(dir.Path("s420.y4m"), Serialise(RandomStream(16, 8, "420jpeg", 2, 6)));
    WriteFile(dir.Path("odd.y4m"), Serialise(RandomStream(15, 8, "422", 2, 6)));
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"a.png", "wide.png"}, 1, "differ in size or depth"},
        {{"a.png", "deep.png"}, 1, "differ in size or depth"},
        {{"row.png", "row.png"}, 1, "at least 2 rows"},
        {{"a.png", "s3.y4m"}, 1, "not both PNG pictures or both YUV4MPEG2 streams"},
        {{"s3.y4m", "s420.y4m"}, 1, "differ in frame size or chroma format"},
        {{"odd.y4m", "odd.y4m"}, 1, "needs an even width"},
        {{"--halved", "a.png", "a.png"}, 2, "--halved applies to 4:2:0"},
        {{"--halved", "s3.y4m", "s3.y4m"}, 2, "--halved applies to 4:2:0"},
        {{"--consecutive", "a.png"}, 2, "--consecutive needs a YUV4MPEG2 stream"},
        {{"--matrix", "1,2,3", "a.png", "a.png"}, 2, "nine integers"},
        {{"--matrix", "1,2,3,4,5,6,7,8,9,10", "a.png", "a.png"}, 2, "nine integers"},
        {{"--threshold", "x", "a.png", "a.png"}, 2, "--threshold"},
        {{"a.png"}, 2, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"measure", "--backend", "cpu"};
        for (const std::string& a : c.args) args.push_back(a.find('.') != std::string::npos ? dir.Path(a) : a);
        const RunResult r = RunTvf2(args);
        EXPECT_EQ(r.status, c.status) << args.back() << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
        EXPECT_EQ(r.out, "") << c.says;
    }
    const RunResult r = RunTvf2({"measure", "--backend", "cpu", dir.Path("s3.y4m"), dir.Path("s2.y4m")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "s2.y4m ended after 2 frames")) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
}

}  // namespace
}  // namespace tvf2test
