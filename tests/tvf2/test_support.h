// Helpers of the tvf2 end-to-end tests: running the executable, scratch directories,
// PNG and YUV4MPEG2 files, and the CPU module called directly.
#ifndef TVF2_TESTS_TVF2_TEST_SUPPORT_H
#define TVF2_TESTS_TVF2_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class ICUDAKernelFuncSet_TarvoVideoFilter2;

namespace tvf2test {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // stdout (empty when it went to a file)
    std::string err;  // stderr
};

struct RunOptions {
    std::string stdinPath;                   // empty: /dev/null
    std::string stdoutPath;                  // empty: captured into RunResult::out
    std::map<std::string, std::string> env;  // added to the environment (TVF2_MODULE is removed)
};

// Runs tvf2 with these arguments (without the program name).
RunResult RunTvf2(const std::vector<std::string>& args, const RunOptions& options = {});

// A fresh directory, removed with its contents at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& Dir() const { return dir_; }
    std::vector<std::string> Entries() const;  // names in the directory, sorted, hidden ones too

private:
    std::string dir_;
};

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Deterministic pseudo-random bytes.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : s_(seed) {}
    uint32_t Next() {
        s_ = s_ * 1664525u + 1013904223u;
        return s_ >> 8;
    }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }

private:
    uint32_t s_;
};

// A PNG picture: samples in PNG order (grey, grey+alpha, RGB, RGBA), one value each.
struct Picture {
    int width = 0, height = 0, channels = 3, depth = 8;
    std::vector<uint16_t> samples;
    uint16_t& At(int x, int y, int c) {
        return samples[(static_cast<size_t>(y) * width + x) * channels + c];
    }
    uint16_t At(int x, int y, int c) const {
        return samples[(static_cast<size_t>(y) * width + x) * channels + c];
    }
};

Picture RandomPicture(int width, int height, int channels, int depth, uint32_t seed);
// Writes with libpng; `interlaced` writes Adam7. Fails the test on error.
void WritePicture(const std::string& path, const Picture& pic, bool interlaced = false);
// Reads with libpng without transformations (16-bit samples in host order).
Picture ReadPicture(const std::string& path);

// A YUV4MPEG2 stream built in memory.
struct Stream {
    int width = 0, height = 0;
    std::string colour;  // C tag value: "444", "422", "420jpeg", ...
    int chromaWidth = 0, chromaHeight = 0;
    std::string headerParams;  // after "YUV4MPEG2"
    std::vector<std::string> frameParams;
    std::vector<std::vector<uint8_t>> frames;  // Y, U, V planes
    size_t LumaBytes() const { return static_cast<size_t>(width) * height; }
    size_t ChromaBytes() const { return static_cast<size_t>(chromaWidth) * chromaHeight; }
};

Stream RandomStream(int width, int height, const std::string& colour, int frames, uint32_t seed);
std::string Serialise(const Stream& s);
// Parses a whole stream; fails the test when it is malformed.
Stream ParseStream(const std::string& bytes);

// The CPU module, loaded once as a host loads it (dlopen + GetFuncSet). Fails the test
// and returns null funcs when it cannot be loaded. Its device memory is host memory, and
// its handle also finds the CPU runtime's own calls (cudaMallocArray, ...).
struct CpuModule {
    void* handle = nullptr;
    ICUDAKernelFuncSet_TarvoVideoFilter2* funcs = nullptr;
};
const CpuModule& LoadCpuModule();

// The CPU module running one mosaic on a tightly packed
// frame of 4 (C32, C32A) or 2 (YUY2) bytes a pixel, the way tvf2 does: upload, device
// copy to the destination, mosaic, download. Returns the module's status.
enum class Layout { C32, C32A, YUY2 };
int ModuleMosaic(Layout layout, int width, int height, int cellW, int cellH, int offX, int offY,
                 std::vector<uint8_t>& frame);

}  // namespace tvf2test

#endif
