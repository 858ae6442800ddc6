#include "test_support.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tvf2test {
namespace {

std::string TempBase() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// A temporary file path for captured output.
std::string MakeTempFile() {
    std::string pattern = TempBase() + "/tvf2-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd >= 0) close(fd);
    return buf.data();
}

// libpng with setjmp: no C++ objects with destructors in these two functions. 16-bit
// samples are swapped to host order, as the pictures hold them.
bool WritePngRaw(FILE* f, const Picture& p, int colourType, bool interlaced, png_bytepp rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, p.width, p.height, p.depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (p.depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Reads the header into p and the samples, as bytes, into *raw.
bool ReadPngRaw(FILE* f, Picture* p, std::vector<uint8_t>* raw, std::vector<png_bytep>* rows) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    p->width = static_cast<int>(png_get_image_width(png, info));
    p->height = static_cast<int>(png_get_image_height(png, info));
    p->channels = png_get_channels(png, info);
    p->depth = png_get_bit_depth(png, info);
    const bool usable = png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE && p->depth >= 8;
    if (usable) {
        const size_t rowBytes = static_cast<size_t>(p->width) * p->channels * p->depth / 8;
        raw->resize(rowBytes * p->height);
        rows->resize(p->height);
        for (int y = 0; y < p->height; ++y) (*rows)[y] = raw->data() + y * rowBytes;
        if (p->depth == 16) png_set_swap(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_read_image(png, rows->data());
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return usable;
}

// A fixed-seed linear congruential generator; callers take its high bits.
uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state;
}

void ChromaSize(Stream& s) {
    s.chromaWidth = s.colour == "444" ? s.width : (s.width + 1) / 2;
    s.chromaHeight = s.Is420() ? (s.height + 1) / 2 : s.height;
}

int ColourType(int channels) {
    const int types[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                         PNG_COLOR_TYPE_RGB_ALPHA};
    return types[channels];
}

}  // namespace

RunResult RunTvf2(const std::vector<std::string>& args, const RunOptions& options) {
    const std::string outPath = options.stdoutPath.empty() ? MakeTempFile() : options.stdoutPath;
    const std::string errPath = MakeTempFile();
    const std::string inPath = options.stdinPath.empty() ? "/dev/null" : options.stdinPath;

    std::vector<std::string> argStrings = {TVF2_EXE};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TVF2_MODULE=", 12) != 0) envStrings.push_back(*e);
    if (options.module) envStrings.push_back(std::string("TVF2_MODULE=") + options.module);
    std::vector<char*> argv, envp;
    for (std::string& a : argStrings) argv.push_back(&a[0]);
    for (std::string& e : envStrings) envp.push_back(&e[0]);
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, TVF2_EXE, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << TVF2_EXE << ": " << std::strerror(rc);
        return r;
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    if (options.stdoutPath.empty()) {
        r.out = ReadFile(outPath);
        unlink(outPath.c_str());
    }
    r.err = ReadFile(errPath);
    unlink(errPath.c_str());
    return r;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

ScratchDir::ScratchDir() {
    std::string pattern = TempBase() + "/tvf2-cli-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) ADD_FAILURE() << "mkdtemp failed";
    dir_ = buf.data();
}

ScratchDir::~ScratchDir() {
    for (const std::string& e : Entries()) unlink(Path(e).c_str());
    rmdir(dir_.c_str());
}

std::vector<std::string> ScratchDir::Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Picture RandomPicture(int width, int height, int channels, int depth, uint32_t seed) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.depth = depth;
    p.samples.resize(static_cast<size_t>(width) * height * channels);
    for (uint16_t& s : p.samples) s = static_cast<uint16_t>(Next(seed) >> (depth == 16 ? 16 : 24));
    return p;
}

void WritePicture(const std::string& path, const Picture& pic, bool interlaced) {
    const size_t bps = pic.depth / 8;
    const size_t rowBytes = static_cast<size_t>(pic.width) * pic.channels * bps;
    std::vector<uint8_t> raw(rowBytes * pic.height);
    for (size_t i = 0; i < pic.samples.size(); ++i) {
        if (bps == 2)
            std::memcpy(&raw[2 * i], &pic.samples[i], 2);
        else
            raw[i] = static_cast<uint8_t>(pic.samples[i]);
    }
    std::vector<png_bytep> rows(pic.height);
    for (int y = 0; y < pic.height; ++y) rows[y] = raw.data() + y * rowBytes;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    const bool ok = WritePngRaw(f, pic, ColourType(pic.channels), interlaced, rows.data());
    std::fclose(f);
    ASSERT_TRUE(ok) << "libpng could not write " << path;
}

Picture ReadPicture(const std::string& path) {
    Picture p;
    std::vector<uint8_t> raw;
    std::vector<png_bytep> rows;
    FILE* f = std::fopen(path.c_str(), "rb");
    const bool ok = f && ReadPngRaw(f, &p, &raw, &rows);
    if (f) std::fclose(f);
    if (!ok) {
        ADD_FAILURE() << path << ": not a PNG picture tvf2 should write";
        return Picture();
    }
    const size_t bps = p.depth / 8;
    p.samples.resize(raw.size() / bps);
    for (size_t i = 0; i < p.samples.size(); ++i) {
        if (bps == 2)
            std::memcpy(&p.samples[i], &raw[2 * i], 2);
        else
            p.samples[i] = raw[i];
    }
    return p;
}

Stream RandomStream(int width, int height, const std::string& colour, int frames, uint32_t seed) {
    Stream s;
    s.width = width;
    s.height = height;
    s.colour = colour;
    ChromaSize(s);
    s.headerParams = " W" + std::to_string(width) + " H" + std::to_string(height) +
                     " F30000:1001 It A10:11" + (colour.empty() ? "" : " C" + colour) +
                     " XCOLORRANGE=FULL";
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> data(s.LumaBytes() + 2 * s.ChromaBytes());
        for (uint8_t& b : data) b = static_cast<uint8_t>(Next(seed) >> 24);
        s.frames.push_back(data);
        s.frameParams.push_back(f == 1 ? " Ixyz XNOTE=1" : "");
    }
    return s;
}

std::string Serialise(const Stream& s) {
    std::string out = "YUV4MPEG2" + s.headerParams + "\n";
    for (size_t i = 0; i < s.frames.size(); ++i) {
        out += "FRAME" + s.frameParams[i] + "\n";
        out.append(reinterpret_cast<const char*>(s.frames[i].data()), s.frames[i].size());
    }
    return out;
}

ICUDAKernelFuncSet_TarvoVideoFilter2* CpuModule() {
    static ICUDAKernelFuncSet_TarvoVideoFilter2* const funcs = [] {
        ICUDAKernelFuncSet_TarvoVideoFilter2* f = nullptr;
        void* handle = dlopen(TVF2_CPU_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto get = handle ? reinterpret_cast<PFN_GetFuncSet>(dlsym(handle, "GetFuncSet")) : nullptr;
        if (get) get(&f);
        return f;
    }();
    return funcs;
}

Dev::Dev(size_t bytes, const void* from) {
    EXPECT_EQ(CpuModule()->DeviceMalloc(&p, bytes ? bytes : 1), 0);
    if (from && bytes) std::memcpy(p, from, bytes);
}

Dev::~Dev() { CpuModule()->DeviceFree(p); }

}  // namespace tvf2test
