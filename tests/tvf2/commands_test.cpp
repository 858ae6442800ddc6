// tvf2's commands besides the filters and its module selection: --help, --version, list,
// sample, --backend / --module / TVF2_MODULE, the progress line.
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tvf2test {
namespace {

struct OutputCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> out;  // parts of stdout; "^x": stdout starts with x
    std::vector<std::string> err;  // parts of stderr
    const char* module = nullptr;  // TVF2_MODULE
};

void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class Tvf2Output : public ::testing::TestWithParam<OutputCase> {};

TEST_P(Tvf2Output, SucceedsAndSays) {
    const OutputCase& c = GetParam();
    RunOptions o;
    o.module = c.module;
    const RunResult r = RunTvf2(c.args, o);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& part : c.out) {
        if (part[0] == '^')
            EXPECT_EQ(r.out.compare(0, part.size() - 1, part.substr(1)), 0) << r.out;
        else
            EXPECT_TRUE(Contains(r.out, part)) << part << " not in: " << r.out;
    }
    for (const std::string& part : c.err) EXPECT_TRUE(Contains(r.err, part)) << r.err;
}

const std::string kModule = TVF2_CPU_MODULE;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Tvf2, Tvf2Output,
    ::testing::Values(
        OutputCase{"help", {"--help"}, {"^usage: tvf2", "blur", "denoise", "detail", "mosaic", "sample", "sharpen", "unsharp"}, {}},
        OutputCase{"version", {"--version"}, {"^tvf2 "}, {}},
        OutputCase{"mosaic_help", {"mosaic", "--help"}, {"^usage: tvf2 mosaic", "--cell WxH", "--offset X,Y", "--backend"}, {}},
        OutputCase{"sample_help", {"sample", "-h"}, {"^usage: tvf2 sample"}, {}},
        OutputCase{"blur_help", {"blur", "--help"}, {"^usage: tvf2 blur", "--radius R|RX,RY"}, {}},
        OutputCase{"unsharp_help", {"unsharp", "--help"}, {"^usage: tvf2 unsharp", "--amount A"}, {}},
        OutputCase{"sharpen_help", {"sharpen", "--help"}, {"^usage: tvf2 sharpen", "--sobel", "--amount A"}, {}},
        OutputCase{"detail_help", {"detail", "--help"}, {"^usage: tvf2 detail", "--weighted", "--limit L"}, {}},
        OutputCase{"list", {"list", "--module", kModule}, {"mosaic", "blur", "unsharp", "denoise", "C32A", "YUY2", "Backend: cpu", "Module:  " + kModule}, {}},
        OutputCase{"module_beside_tvf2", {"list", "--backend", "cpu"}, {"TarvoVideoFilter2_cpu.so"}, {}},
        // cpu on a machine without a usable GPU or without the CUDA module, else cuda.
        OutputCase{"auto_backend_with_verbose", {"-v", "list"}, {}, {"tvf2: backend c", ", module "}},
        OutputCase{"module_from_environment", {"list", "-v"}, {}, {"tvf2: backend cpu, module " + kModule}, TVF2_CPU_MODULE},
        OutputCase{"module_option_wins_over_environment", {"list", "--module", kModule}, {"Module:  " + kModule}, {}, "/nonexistent/module.so"},
        OutputCase{"global_options_before_the_command", {"--backend", "cpu", "-v", "list"}, {}, {"tvf2: backend cpu"}}),
    CaseName());
// clang-format on

TEST(Tvf2Commands, SampleMakesInputsTheFiltersTake) {
    ScratchDir dir;
    RunResult r = RunTvf2({"sample", "--size", "64x40", dir.Path("s.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    Picture p = ReadPicture(dir.Path("s.png"));
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(p.height, 40);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.depth, 8);
    r = RunTvf2({"sample", "--size", "30x20", "--alpha", "--depth", "16", dir.Path("a.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    p = ReadPicture(dir.Path("a.png"));
    EXPECT_EQ(p.channels, 4);
    EXPECT_EQ(p.depth, 16);
    EXPECT_EQ(p.At(0, 0, 3), 0);  // the clear corner
    r = RunTvf2({"mosaic", "--backend", "cpu", dir.Path("a.png"), dir.Path("m.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPicture(dir.Path("m.png")).depth, 8);

    // Clips: the header names the size and chroma, the frames carry no parameters.
    r = RunTvf2({"sample", "--size", "32x16", "--frames", "3", "--chroma", "422", dir.Path("c.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string clip = ReadFile(dir.Path("c.y4m"));
    const std::string header = clip.substr(0, clip.find('\n') + 1);
    EXPECT_TRUE(Contains(header, "YUV4MPEG2 W32 H16 ") && Contains(header, " C422")) << header;
    EXPECT_EQ(clip.size(), header.size() + 3 * (6 + 32 * 16 * 2));
    r = RunTvf2({"mosaic", "--backend", "cpu", dir.Path("c.y4m"), dir.Path("m.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.Path("m.y4m")).size(), clip.size());

    RunOptions o;
    o.stdoutPath = dir.Path("piped.y4m");
    r = RunTvf2({"sample", "--size", "16x8", "--frames", "2", "-"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string piped = ReadFile(dir.Path("piped.y4m"));
    EXPECT_TRUE(Contains(piped.substr(0, piped.find('\n')), " C420jpeg")) << piped.substr(0, 60);
    EXPECT_EQ(piped.size(), piped.find('\n') + 1 + 2 * (6 + 16 * 8 * 3 / 2));
}

TEST(Tvf2Commands, ProgressLineWhenAsked) {
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), Serialise(RandomStream(8, 8, "422", 3, 1)));
    const RunResult r = RunTvf2({"mosaic", "--backend", "cpu", "--progress", "-c", "4",
                                 dir.Path("in.y4m"), dir.Path("out.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "frame 3/3")) << r.err;
    EXPECT_TRUE(Contains(r.err, "fps")) << r.err;
}

}  // namespace
}  // namespace tvf2test
