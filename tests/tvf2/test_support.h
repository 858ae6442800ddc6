// Helpers of the tvf2 end-to-end tests: running the executable, scratch directories,
// and generated PNG pictures and YUV4MPEG2 streams.
#ifndef TVF2_TESTS_TVF2_TEST_SUPPORT_H
#define TVF2_TESTS_TVF2_TEST_SUPPORT_H

#include "module/TarvoVideoFilter2.h"

#include <cstdint>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tvf2test {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // stdout (empty when it went to a file)
    std::string err;  // stderr
};

struct RunOptions {
    std::string stdinPath;   // empty: /dev/null
    std::string stdoutPath;  // empty: captured into RunResult::out
    const char* module = nullptr;  // TVF2_MODULE (always removed from the environment otherwise)
};

// Runs tvf2 with these arguments (without the program name).
RunResult RunTvf2(const std::vector<std::string>& args, const RunOptions& options = {});

bool Contains(const std::string& text, const std::string& part);

// A fresh directory, removed with its contents at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> Entries() const;  // names in the directory, sorted, hidden ones too

private:
    std::string dir_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A PNG picture: samples in PNG order (grey, grey+alpha, RGB, RGBA), one value each.
struct Picture {
    int width = 0, height = 0, channels = 3, depth = 8;
    std::vector<uint16_t> samples;
    uint16_t At(int x, int y, int c) const {
        return samples[(static_cast<size_t>(y) * width + x) * channels + c];
    }
};

// Samples from a fixed-seed generator, over the whole range of the depth.
Picture RandomPicture(int width, int height, int channels, int depth, uint32_t seed);
// Writes with libpng; `interlaced` writes Adam7. Fails the test on error.
void WritePicture(const std::string& path, const Picture& pic, bool interlaced = false);
// Reads with libpng without transformations (16-bit samples in host order).
Picture ReadPicture(const std::string& path);

// A YUV4MPEG2 stream built in memory. colour is the C tag value ("444", "422",
// "420jpeg", ...), or empty for a header without one (which means 4:2:0).
struct Stream {
    int width = 0, height = 0;
    std::string colour;
    int chromaWidth = 0, chromaHeight = 0;
    std::string headerParams;  // after "YUV4MPEG2"
    std::vector<std::string> frameParams;
    std::vector<std::vector<uint8_t>> frames;  // Y, U, V planes
    bool Is420() const { return colour != "444" && colour != "422"; }
    size_t LumaBytes() const { return static_cast<size_t>(width) * height; }
    size_t ChromaBytes() const { return static_cast<size_t>(chromaWidth) * chromaHeight; }
};

// Random frames; the header carries more tags than W, H and C, and the second frame
// has parameters of its own, all of which tvf2 must pass through.
Stream RandomStream(int width, int height, const std::string& colour, int frames, uint32_t seed);
std::string Serialise(const Stream& s);

// The CPU module as a host loads it (dlopen + GetFuncSet), to compute what tvf2 must
// write; null when it cannot be loaded.
ICUDAKernelFuncSet_TarvoVideoFilter2* CpuModule();

// Device memory of the CPU module, which is host memory: filled and read with memcpy.
struct Dev {
    explicit Dev(size_t bytes, const void* from = nullptr);
    ~Dev();
    Dev(const Dev&) = delete;
    Dev& operator=(const Dev&) = delete;
    const float* Floats() const { return static_cast<const float*>(p); }
    void* p = nullptr;
};

// Names parameterised cases after their `name` field.
struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return std::string(info.param.name);
    }
};

}  // namespace tvf2test

#endif
