// tvf2's other commands and its module selection: --help, --version, list, sample,
// --backend / --module / TVF2_MODULE.
#include "reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace tvf2test {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Tvf2Commands, HelpAndVersion) {
    RunResult r = RunTvf2({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "usage: tvf2")) << r.out;
    EXPECT_TRUE(Contains(r.out, "mosaic")) << r.out;
    EXPECT_TRUE(Contains(r.out, "sample")) << r.out;
    r = RunTvf2({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.compare(0, 5, "tvf2 "), 0) << r.out;
    r = RunTvf2({"mosaic", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "usage: tvf2 mosaic")) << r.out;
    EXPECT_TRUE(Contains(r.out, "--cell WxH")) << r.out;
    EXPECT_TRUE(Contains(r.out, "--offset X,Y")) << r.out;
    EXPECT_TRUE(Contains(r.out, "--backend")) << r.out;
    r = RunTvf2({"sample", "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "usage: tvf2 sample")) << r.out;
}

TEST(Tvf2Commands, ListNamesOperationsLayoutsAndTheModule) {
    const RunResult r = RunTvf2({"list", "--module", TVF2_CPU_MODULE});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "mosaic")) << r.out;
    EXPECT_TRUE(Contains(r.out, "C32A")) << r.out;
    EXPECT_TRUE(Contains(r.out, "YUY2")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Backend: cpu")) << r.out;
    EXPECT_TRUE(Contains(r.out, std::string("Module:  ") + TVF2_CPU_MODULE)) << r.out;
}

TEST(Tvf2Commands, FindsTheModuleBesideItself) {
    const RunResult r = RunTvf2({"list", "--backend", "cpu"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "TarvoVideoFilter2_cpu.so")) << r.out;
}

TEST(Tvf2Commands, AutoBackendSaysWhichWithVerbose) {
    const RunResult r = RunTvf2({"-v", "list"});
    ASSERT_EQ(r.status, 0) << r.err;
    // cpu on a machine without a usable GPU or without the CUDA module, else cuda.
    EXPECT_TRUE(Contains(r.err, "tvf2: backend cpu, module ") ||
                Contains(r.err, "tvf2: backend cuda, module "))
        << r.err;
}

TEST(Tvf2Commands, ModuleFromTheEnvironment) {
    RunOptions o;
    o.env["TVF2_MODULE"] = TVF2_CPU_MODULE;
    const RunResult r = RunTvf2({"list", "-v"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, std::string("backend cpu, module ") + TVF2_CPU_MODULE)) << r.err;
    // --module wins over the environment.
    o.env["TVF2_MODULE"] = "/nonexistent/module.so";
    EXPECT_EQ(RunTvf2({"list", "--module", TVF2_CPU_MODULE}, o).status, 0);
    EXPECT_EQ(RunTvf2({"list"}, o).status, 1);
}

TEST(Tvf2Commands, GlobalOptionsBeforeTheCommand) {
    const RunResult r = RunTvf2({"--backend", "cpu", "-v", "list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "backend cpu")) << r.err;
}

TEST(Tvf2Commands, SamplePicture) {
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
    // The sample feeds the main job.
    r = RunTvf2({"mosaic", "--backend", "cpu", dir.Path("a.png"), dir.Path("m.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPicture(dir.Path("m.png")).depth, 8);
}

TEST(Tvf2Commands, SampleClip) {
    ScratchDir dir;
    const RunResult r = RunTvf2(
        {"sample", "--size", "32x16", "--frames", "3", "--chroma", "422", dir.Path("c.y4m")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream s = ParseStream(ReadFile(dir.Path("c.y4m")));
    EXPECT_EQ(s.width, 32);
    EXPECT_EQ(s.height, 16);
    EXPECT_EQ(s.colour, "422");
    EXPECT_EQ(s.frames.size(), 3u);
    // ... and goes through the mosaic.
    EXPECT_EQ(RunTvf2({"mosaic", "--backend", "cpu", dir.Path("c.y4m"), dir.Path("m.y4m")}).status,
              0);
    EXPECT_EQ(ParseStream(ReadFile(dir.Path("m.y4m"))).frames.size(), 3u);
}

TEST(Tvf2Commands, SampleClipOnStdout) {
    ScratchDir dir;
    RunOptions o;
    o.stdoutPath = dir.Path("c.y4m");
    const RunResult r = RunTvf2({"sample", "--size", "16x8", "--frames", "2", "-"}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    const Stream s = ParseStream(ReadFile(dir.Path("c.y4m")));
    EXPECT_EQ(s.colour, "420jpeg");
    EXPECT_EQ(s.frames.size(), 2u);
}

}  // namespace
}  // namespace tvf2test
