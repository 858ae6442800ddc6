// Every class of bad input: one line "tvf2: ..." on stderr, exit status 2 for a bad
// command line and 1 for a failure while running, nothing on stdout, no new file in the
// directory (not even a temporary one) and an existing output file left as it was.
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <ostream>
#include <string>

namespace tvf2test {
namespace {

std::string Dirname(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// Inputs shared by the cases, made fresh in each test's directory.
void MakeInputs(const ScratchDir& dir) {
    WritePicture(dir.Path("rgb.png"), RandomPicture(20, 10, 3, 8, 1));
    WritePicture(dir.Path("rgba.png"), RandomPicture(20, 10, 4, 8, 2));
    WritePicture(dir.Path("three.png"), RandomPicture(20, 3, 3, 8, 5));
    const Stream good = RandomStream(16, 8, "422", 2, 3);
    const std::string goodBytes = Serialise(good);
    WriteFile(dir.Path("c422.y4m"), goodBytes);
    WriteFile(dir.Path("odd.y4m"), Serialise(RandomStream(15, 8, "422", 1, 4)));
    WriteFile(dir.Path("p10.y4m"),
              "YUV4MPEG2 W16 H8 F25:1 C420p10\nFRAME\n" + std::string(384, 'x'));
    WriteFile(dir.Path("mono.y4m"),
              "YUV4MPEG2 W16 H8 F25:1 Cmono\nFRAME\n" + std::string(128, 'x'));
    WriteFile(dir.Path("badw.y4m"), "YUV4MPEG2 Wabc H8 C422\n");
    WriteFile(dir.Path("now.y4m"), "YUV4MPEG2 H8 C422\n");
    WriteFile(dir.Path("noeol.y4m"), "YUV4MPEG2 W16 H8 C422");
    WriteFile(dir.Path("truncframe.y4m"), goodBytes.substr(0, goodBytes.size() - 10));
    WriteFile(dir.Path("badframe.y4m"), "YUV4MPEG2 W16 H8 C422\nFRAMX\n" + std::string(256, 'x'));
    WriteFile(dir.Path("text.png"), "this is not a picture\n");
    WriteFile(dir.Path("empty.png"), "");
    const std::string png = ReadFile(dir.Path("rgb.png"));
    WriteFile(dir.Path("trunc.png"), png.substr(0, png.size() / 2));
    std::string corrupt = png;
    const size_t idat = corrupt.find("IDAT");
    corrupt[idat + 12] = static_cast<char>(corrupt[idat + 12] ^ 0x55);
    WriteFile(dir.Path("corrupt.png"), corrupt);
    WriteFile(dir.Path("notelf.so"), "not a shared object\n");
    // A valid PNG whose header claims 100000x100000 pixels (IHDR patched, CRC redone).
    std::string huge = png;
    const size_t ihdr = huge.find("IHDR");
    const unsigned char dims[8] = {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0};
    huge.replace(ihdr + 4, 8, reinterpret_cast<const char*>(dims), 8);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(huge.data() + ihdr), 17);  // type + 13 bytes
    for (int i = 0; i < 4; ++i) huge[ihdr + 17 + i] = static_cast<char>(crc >> (24 - 8 * i));
    WriteFile(dir.Path("huge.png"), huge);
    // Within the size limit, but far more than the file holds: refused before allocating.
    std::string claims = png;
    const unsigned char big[8] = {0, 0, 0x3E, 0x80, 0, 0, 0x3E, 0x80};  // 16000x16000
    claims.replace(ihdr + 4, 8, reinterpret_cast<const char*>(big), 8);
    const uLong crc2 = crc32(0, reinterpret_cast<const Bytef*>(claims.data() + ihdr), 17);
    for (int i = 0; i < 4; ++i) claims[ihdr + 17 + i] = static_cast<char>(crc2 >> (24 - 8 * i));
    WriteFile(dir.Path("claims.png"), claims);
    WriteFile(dir.Path("claims.y4m"), "YUV4MPEG2 W16000 H16000 C444\nFRAME\n" + std::string(100, 'x'));
    WriteFile(dir.Path("huge.y4m"), "YUV4MPEG2 W100000 H100000 C444\nFRAME\n");
    WriteFile(dir.Path("out.png"), "keep me");
    WriteFile(dir.Path("out.y4m"), "keep me");
}

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;  // "@x" is the file x in the test's directory
    int status;
    const char* message;            // part of the message
    std::string stdinFile = "";     // "@x" as above
    const char* module = nullptr;  // TVF2_MODULE
};

// Test names and failure messages show the case by its name.
void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class Tvf2Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Tvf2Errors, OneLineStatusAndNoOutput) {
    const ErrorCase& ec = GetParam();
    ScratchDir dir;
    MakeInputs(dir);
    const std::vector<std::string> before = dir.Entries();
    std::vector<std::string> args;
    for (const std::string& a : ec.args) {
        std::string v = a;
        if (!v.empty() && v[0] == '@') v = dir.Path(v.substr(1));
        size_t at = v.find("$RUNTIME");
        if (at != std::string::npos)
            v.replace(at, 8, Dirname(TVF2_CPU_MODULE) + "/libtvf2_cudart_cpu.so");
        args.push_back(v);
    }
    RunOptions o;
    if (!ec.stdinFile.empty()) o.stdinPath = dir.Path(ec.stdinFile.substr(1));
    o.module = ec.module;
    const RunResult r = RunTvf2(args, o);
    EXPECT_EQ(r.status, ec.status) << r.err;
    EXPECT_EQ(r.err.compare(0, 6, "tvf2: "), 0) << r.err;
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "more than one line: " << r.err;
    EXPECT_NE(r.err.find(ec.message), std::string::npos) << "got: " << r.err;
    EXPECT_EQ(r.out, "");
    // Nothing new in the directory: no output, no temporary file; the old output kept.
    EXPECT_EQ(dir.Entries(), before);
    EXPECT_EQ(ReadFile(dir.Path("out.png")), "keep me");
    EXPECT_EQ(ReadFile(dir.Path("out.y4m")), "keep me");
}

const std::vector<std::string> kCpu = {"--backend", "cpu"};

std::vector<std::string> Cpu(std::vector<std::string> args) {
    args.insert(args.begin() + 1, kCpu.begin(), kCpu.end());
    return args;
}

// One case a line: the tables read better than any automatic layout.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Usage, Tvf2Errors,
    ::testing::Values(
        ErrorCase{"no_command", {}, 2, "no command given"},
        ErrorCase{"unknown_command", {"frobnicate", "@rgb.png", "@out.png"}, 2, "unknown command 'frobnicate'"},
        ErrorCase{"unknown_option", {"mosaic", "--size", "4", "@rgb.png", "@out.png"}, 2, "unknown option '--size'"},
        ErrorCase{"missing_arguments", {"mosaic", "@rgb.png"}, 2, "missing arguments"},
        ErrorCase{"too_many_arguments", {"mosaic", "@rgb.png", "@out.png", "@x.png"}, 2, "too many arguments"},
        ErrorCase{"option_without_value", {"mosaic", "@rgb.png", "@out.png", "--cell"}, 2, "needs a value"},
        ErrorCase{"cell_zero", {"mosaic", "--cell", "0", "@rgb.png", "@out.png"}, 2, "--cell: 0 is out of range"},
        ErrorCase{"cell_negative", {"mosaic", "--cell", "4x-2", "@rgb.png", "@out.png"}, 2, "--cell: -2 is out of range"},
        ErrorCase{"cell_malformed", {"mosaic", "--cell", "8y8", "@rgb.png", "@out.png"}, 2, "'8y8' is not a size"},
        ErrorCase{"cell_half", {"mosaic", "--cell", "8x", "@rgb.png", "@out.png"}, 2, "'8x' is not a size"},
        ErrorCase{"cell_overflow", {"mosaic", "--cell", "99999999999", "@rgb.png", "@out.png"}, 2, "out of range"},
        ErrorCase{"offset_malformed", {"mosaic", "--offset", "3", "@rgb.png", "@out.png"}, 2, "'3' is not a point"},
        ErrorCase{"offset_whole_cell_outside", {"mosaic", "--cell", "4", "--offset", "-4,0", "@rgb.png", "@out.png"}, 2, "negative offset"},
        ErrorCase{"offset_past_frame", {"mosaic", "--offset", "0,10", "@rgb.png", "@out.png"}, 2, "outside the 20x10 frame"},
        ErrorCase{"frames_zero", {"mosaic", "--frames", "0", "@c422.y4m", "@out.y4m"}, 2, "--frames: 0 is out of range"},
        ErrorCase{"backend_unknown", {"mosaic", "--backend", "gpu", "@rgb.png", "@out.png"}, 2, "'gpu' is not one of auto, cuda, cpu"},
        ErrorCase{"backend_contradicts_module", {"mosaic", "--backend", "cuda", "--module", TVF2_CPU_MODULE, "@rgb.png", "@out.png"}, 2, "is a CPU module"},
        ErrorCase{"y4m_odd_cell_width", Cpu({"mosaic", "--cell", "5x4", "@c422.y4m", "@out.y4m"}), 2, "must be even"},
        ErrorCase{"y4m_odd_offset", Cpu({"mosaic", "--offset", "1,0", "@c422.y4m", "@out.y4m"}), 2, "must be even"},
        ErrorCase{"y4m_to_png_name", Cpu({"mosaic", "@c422.y4m", "@out.png"}), 2, "name the output .y4m"},
        ErrorCase{"png_to_y4m_name", Cpu({"mosaic", "@rgb.png", "@out.y4m"}), 2, "name the output .png"},
        ErrorCase{"warp_cubic_not_a_number", {"warp", "--cubic", "nan", "@rgb.png", "@out.png"}, 2, "--cubic: 'nan' is not a number"},
        ErrorCase{"warp_limit_above_a_byte", {"warp", "--limit", "256", "@rgb.png", "@out.png"}, 2, "--limit: 256 is out of range"},
        ErrorCase{"warp_three_rows", Cpu({"warp", "@three.png", "@out.png"}), 2, "too small to warp"},
        ErrorCase{"wave_missing", {"wave", "@rgb.png", "@out.png"}, 2, "at least one --wave"},
        ErrorCase{"wave_four", {"wave", "-w", "0,1,1,1", "-w", "0,1,1,1", "-w", "0,1,1,1", "-w", "0,1,1,1", "@rgb.png", "@out.png"}, 2, "at most three"},
        ErrorCase{"wave_shape_unknown", {"wave", "--wave", "sine,1,1,1", "@rgb.png", "@out.png"}, 2, "unknown shape 'sine'"},
        ErrorCase{"wave_malformed", {"wave", "--wave", "cosine,1,1", "@rgb.png", "@out.png"}, 2, "is not SHAPE,WAVELENGTH,SPEED,AMPLITUDE"},
        ErrorCase{"wave_rate_zero", {"wave", "--wave", "cosine,1,1,1", "--rate", "0", "@rgb.png", "@out.png"}, 2, "--rate: 0 is out of range"},
        ErrorCase{"wave_fields_unknown", {"wave", "--wave", "cosine,1,1,1", "--fields", "odd", "@rgb.png", "@out.png"}, 2, "--fields: 'odd'"},
        ErrorCase{"wave_alpha_png", Cpu({"wave", "--wave", "cosine,1,1,1", "@rgba.png", "@out.png"}), 1, "no C32A form"},
        ErrorCase{"sample_bad_size", {"sample", "--size", "0x5", "@out.png"}, 2, "--size: 0 is out of range"},
        ErrorCase{"sample_bad_depth", {"sample", "--depth", "12", "@out.png"}, 2, "not 8 or 16"}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Input, Tvf2Errors,
    ::testing::Values(
        ErrorCase{"missing_file", Cpu({"mosaic", "@nothere.png", "@out.png"}), 1, "cannot open"},
        ErrorCase{"directory", Cpu({"mosaic", "@", "@out.png"}), 1, "is a directory"},
        ErrorCase{"not_an_image", Cpu({"mosaic", "@text.png", "@out.png"}), 1, "not a PNG picture or a YUV4MPEG2 stream"},
        ErrorCase{"empty_file", Cpu({"mosaic", "@empty.png", "@out.png"}), 1, "input is empty"},
        ErrorCase{"truncated_png", Cpu({"mosaic", "@trunc.png", "@out.png"}), 1, "bad PNG file"},
        ErrorCase{"corrupt_png", Cpu({"mosaic", "@corrupt.png", "@out.png"}), 1, "bad PNG file"},
        ErrorCase{"png_too_large", Cpu({"mosaic", "@huge.png", "@out.png"}), 1, "larger than tvf2 handles"},
        ErrorCase{"y4m_too_large", Cpu({"mosaic", "@huge.y4m", "@out.y4m"}), 1, "larger than tvf2 handles"},
        ErrorCase{"png_claims_more_than_file", Cpu({"mosaic", "@claims.png", "@out.png"}), 1, "its header claims 16000x16000 pixels"},
        ErrorCase{"y4m_claims_more_than_input", Cpu({"mosaic", "@claims.y4m", "@out.y4m"}), 1, "truncated YUV4MPEG2 stream: frame 1"},
        ErrorCase{"y4m_10_bit", Cpu({"mosaic", "@p10.y4m", "@out.y4m"}), 1, "unsupported YUV4MPEG2 colour space C420p10"},
        ErrorCase{"y4m_mono", Cpu({"mosaic", "@mono.y4m", "@out.y4m"}), 1, "unsupported YUV4MPEG2 colour space Cmono"},
        ErrorCase{"y4m_bad_width", Cpu({"mosaic", "@badw.y4m", "@out.y4m"}), 1, "bad YUV4MPEG2 header"},
        ErrorCase{"y4m_no_width", Cpu({"mosaic", "@now.y4m", "@out.y4m"}), 1, "no width"},
        ErrorCase{"y4m_header_without_newline", Cpu({"mosaic", "@noeol.y4m", "@out.y4m"}), 1, "bad YUV4MPEG2 header"},
        ErrorCase{"y4m_truncated_frame", Cpu({"mosaic", "@truncframe.y4m", "@out.y4m"}), 1, "truncated YUV4MPEG2 stream: frame 2"},
        ErrorCase{"y4m_bad_frame_marker", Cpu({"mosaic", "@badframe.y4m", "@out.y4m"}), 1, "frame 1 does not start with FRAME"},
        ErrorCase{"y4m_odd_width", Cpu({"mosaic", "@odd.y4m", "@out.y4m"}), 1, "frame width 15 is odd"},
        ErrorCase{"stdin_not_an_image", Cpu({"mosaic", "-", "@out.png"}), 1, "stdin: not a PNG picture", "@text.png"},
        ErrorCase{"output_directory_missing", Cpu({"mosaic", "@rgb.png", "@missing/out.png"}), 1, "cannot write"},
        ErrorCase{"output_is_a_directory", Cpu({"mosaic", "@rgb.png", "@"}), 1, "directory"}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Module, Tvf2Errors,
    ::testing::Values(
        ErrorCase{"status_from_Mosaic_C32", Cpu({"mosaic", "--unchecked", "--cell", "0", "@rgb.png", "@out.png"}), 1,
                  "module returned status 11 (invalid value) from Mosaic_C32"},
        ErrorCase{"status_from_Mosaic_C32A", Cpu({"mosaic", "--unchecked", "--offset", "-20,0", "@rgba.png", "@out.png"}), 1,
                  "module returned status 11 (invalid value) from Mosaic_C32A"},
        ErrorCase{"status_from_Mosaic_YUY2", Cpu({"mosaic", "--unchecked", "--cell", "3x4", "@c422.y4m", "@out.y4m"}), 1,
                  "module returned status 11 (invalid value) from Mosaic_YUY2"},
        ErrorCase{"empty_lattice", Cpu({"mosaic", "--unchecked", "--cell", "4", "--offset", "100,0", "@rgb.png", "@out.png"}), 1,
                  "module returned status 9 (invalid configuration) from Mosaic_C32"},
        ErrorCase{"module_missing", {"mosaic", "--module", "@none.so", "@rgb.png", "@out.png"}, 1, "module not found"},
        ErrorCase{"module_not_loadable", {"mosaic", "--module", "@notelf.so", "@rgb.png", "@out.png"}, 1, "cannot load module"},
        ErrorCase{"module_without_GetFuncSet", {"mosaic", "--module", "$RUNTIME", "@rgb.png", "@out.png"}, 1, "no GetFuncSet export"},
        ErrorCase{"list_with_missing_module", {"list", "--module", "@none.so"}, 1, "module not found"},
        ErrorCase{"list_with_missing_module_from_env", {"list"}, 1, "module not found", "", "/nonexistent/module.so"},
        ErrorCase{"blur_with_missing_module", {"blur", "--module", "@none.so", "@rgb.png", "@out.png"}, 1, "module not found"},
        ErrorCase{"unsharp_with_missing_module", {"unsharp", "--module", "@none.so", "@rgb.png", "@out.png"}, 1, "module not found"}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Denoise, Tvf2Errors,
    ::testing::Values(
        ErrorCase{"threshold_zero", Cpu({"denoise", "--threshold", "0", "@rgb.png", "@out.png"}), 2, "--threshold: 0 is out of range"},
        ErrorCase{"threshold_negative", Cpu({"denoise", "-t", "-5", "@rgb.png", "@out.png"}), 2, "--threshold: -5 is out of range"},
        ErrorCase{"radius_negative", Cpu({"denoise", "--radius", "-1", "@rgb.png", "@out.png"}), 2, "--radius: -1 is out of range"},
        ErrorCase{"radius_too_large", Cpu({"denoise", "--radius", "1001", "@rgb.png", "@out.png"}), 2, "--radius: 1001 is out of range"},
        ErrorCase{"source_unknown", Cpu({"denoise", "--source", "array", "@rgb.png", "@out.png"}), 2, "'array' is not one of linear, texture"},
        ErrorCase{"row_scale_without_texture", Cpu({"denoise", "--row-scale", "2", "@rgb.png", "@out.png"}), 2, "--row-scale applies to --source texture only"},
        ErrorCase{"same_parity_without_texture", Cpu({"denoise", "--same-parity", "@c422.y4m", "@out.y4m"}), 2, "--same-parity applies to --source texture only"},
        ErrorCase{"fields_with_texture", Cpu({"denoise", "--source", "texture", "--fields", "@rgb.png", "@out.png"}), 2, "--fields applies to --source linear only"},
        ErrorCase{"row_scale_zero", Cpu({"denoise", "--source", "texture", "--row-scale", "0", "@rgb.png", "@out.png"}), 2, "--row-scale: 0 is out of range"},
        ErrorCase{"row_offset_past_frame", Cpu({"denoise", "--source", "texture", "--row-offset", "10", "@rgb.png", "@out.png"}), 2, "past the last row of the 20x10 frame"},
        ErrorCase{"sums_overflow_C32", Cpu({"denoise", "-t", "400000", "-r", "2", "@rgb.png", "@out.png"}), 2, "too large for C32:"},
        ErrorCase{"sums_overflow_C32A", Cpu({"denoise", "-t", "33026", "-r", "0", "@rgba.png", "@out.png"}), 2, "too large for C32A"},
        ErrorCase{"sums_overflow_YUV32", Cpu({"denoise", "-t", "100000", "-r", "5", "@c422.y4m", "@out.y4m"}), 2, "too large for YUV32"},
        ErrorCase{"nlm_search_too_large", Cpu({"nlm", "--search", "17", "@rgb.png", "@out.png"}), 2, "--search: 17 is out of range"},
        ErrorCase{"nlm_patch_negative", Cpu({"nlm", "--patch", "-1", "@c422.y4m", "@out.y4m"}), 2, "--patch: -1 is out of range"},
        ErrorCase{"nlm_temporal_too_large", Cpu({"nlm", "-t", "9", "@rgb.png", "@out.png"}), 2, "--temporal: 9 is out of range"},
        ErrorCase{"nlm_strength_zero", Cpu({"nlm", "--strength", "0", "@rgb.png", "@out.png"}), 2, "--strength: 0 is out of range"},
        ErrorCase{"nlm_strength_text", Cpu({"nlm", "--strength", "nan", "@rgba.png", "@out.png"}), 2, "--strength: 'nan' is not a number"},
        ErrorCase{"nlm_status_from_C32", Cpu({"nlm", "--budget", "2", "@rgb.png", "@out.png"}), 1,
                  "module returned status 11 (invalid value) from NonLocalMeans_C32"},
        ErrorCase{"status_from_C32", Cpu({"denoise", "--unchecked", "-t", "0", "@rgb.png", "@out.png"}), 1,
                  "module returned status 11 (invalid value) from SimilarityWeightedAverage_C32"},
        ErrorCase{"status_from_Tex_C32A", Cpu({"denoise", "--unchecked", "-r", "-1", "--source", "texture", "@rgba.png", "@out.png"}), 1,
                  "module returned status 11 (invalid value) from SimilarityWeightedAverageTex_C32A"},
        ErrorCase{"status_from_YUV32", Cpu({"denoise", "--unchecked", "-t", "0", "@c422.y4m", "@out.y4m"}), 1,
                  "module returned status 11 (invalid value) from SimilarityWeightedAverage_YUV32"}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Convolution, Tvf2Errors,
    ::testing::Values(
        ErrorCase{"blur_radius_negative", Cpu({"blur", "--radius", "-1", "@rgb.png", "@out.png"}), 2, "--radius: -1 is out of range (0 to 1000)"},
        ErrorCase{"blur_radius_too_large", Cpu({"blur", "--radius", "1001", "@rgb.png", "@out.png"}), 2, "--radius: 1001 is out of range (0 to 1000)"},
        ErrorCase{"blur_radius_y_negative", Cpu({"blur", "--radius", "2,-3", "@rgb.png", "@out.png"}), 2, "--radius: -3 is out of range"},
        ErrorCase{"blur_radius_malformed", Cpu({"blur", "--radius", "2x3", "@rgb.png", "@out.png"}), 2, "--radius: '2x3' is not an integer"},
        ErrorCase{"blur_radius_half", Cpu({"blur", "--radius", "2,", "@rgb.png", "@out.png"}), 2, "--radius: '2,' is not a point"},
        ErrorCase{"blur_kind_unknown", Cpu({"blur", "--kind", "median", "@rgb.png", "@out.png"}), 2, "--kind: 'median' is not one of gaussian, box"},
        ErrorCase{"unsharp_radius_negative", Cpu({"unsharp", "--radius", "-2", "@rgb.png", "@out.png"}), 2, "--radius: -2 is out of range"},
        ErrorCase{"unsharp_radius_pair", Cpu({"unsharp", "--radius", "1,1", "@rgb.png", "@out.png"}), 2, "--radius: '1,1' is not an integer"},
        ErrorCase{"unsharp_amount_not_a_number", Cpu({"unsharp", "--amount", "lots", "@rgb.png", "@out.png"}), 2, "--amount: 'lots' is not a number"},
        ErrorCase{"unsharp_amount_nan", Cpu({"unsharp", "--amount", "nan", "@rgb.png", "@out.png"}), 2, "--amount: 'nan' is not a number"},
        ErrorCase{"unsharp_amount_too_large", Cpu({"unsharp", "--amount", "65", "@rgb.png", "@out.png"}), 2, "--amount: 65 is out of range (-64 to 64)"},
        ErrorCase{"sharpen_both_kinds", Cpu({"sharpen", "--laplacian", "--sobel", "@rgb.png", "@out.png"}), 2, "--laplacian and --sobel exclude each other"},
        ErrorCase{"sharpen_amount_too_small", Cpu({"sharpen", "--amount", "-64.5", "@rgb.png", "@out.png"}), 2, "--amount: -64.5 is out of range (-64 to 64)"},
        ErrorCase{"detail_amount_inf", Cpu({"detail", "--amount", "inf", "@rgb.png", "@out.png"}), 2, "--amount: 'inf' is not a number"},
        ErrorCase{"detail_limit_negative", Cpu({"detail", "--limit", "-1", "@rgb.png", "@out.png"}), 2, "--limit: -1 is out of range (0 to 32767)"},
        ErrorCase{"detail_threshold_too_large", Cpu({"detail", "--threshold", "32768", "@rgb.png", "@out.png"}), 2, "--threshold: 32768 is out of range (-32768 to 32767)"}),
    CaseName());

// clang-format on

// The module failing in the middle of a stream (the CPU runtime told to fail its n-th
// allocation, texture object or launch): one line naming the failure, no output file.
TEST(Tvf2ModuleFailure, MidStreamOneLineAndNoOutput) {
    const struct {
        const char* failure;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"launch:2", Cpu({"mosaic", "--cell", "4", "@c422.y4m", "@new.y4m"}), "status 7"},
        {"launch:2", Cpu({"blur", "--radius", "2", "@c422.y4m", "@new.y4m"}), "status 7"},
        {"texture:2", Cpu({"denoise", "--source", "texture", "@c422.y4m", "@new.y4m"}), "status 2"},
        {"alloc:1", Cpu({"mosaic", "@rgb.png", "@new.png"}), "status 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.failure) + " " + c.args[0]);
        ScratchDir dir;
        MakeInputs(dir);
        const std::vector<std::string> before = dir.Entries();
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a[0] == '@' ? dir.Path(a.substr(1)) : a);
        setenv("TVF2_CPU_FAIL", c.failure, 1);
        const RunResult r = RunTvf2(args);
        unsetenv("TVF2_CPU_FAIL");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err.compare(0, 6, "tvf2: "), 0) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "more than one line: " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(dir.Entries(), before);
    }
}

}  // namespace
}  // namespace tvf2test
