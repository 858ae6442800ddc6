#include "test_support.h"

#include "module/TarvoVideoFilter2.h"

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

// libpng with setjmp: no C++ objects with destructors in these two functions.
bool WritePngRaw(FILE* f, int w, int h, int colourType, int depth, bool interlaced,
                 png_bytepp rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PngHeader {
    png_uint_32 w = 0, h = 0;
    int colourType = 0, depth = 0, channels = 0;
};

// First call (rows == null) reads the header; the caller then allocates and calls again
// on a fresh file with rows.
bool ReadPngRaw(FILE* f, PngHeader* hdr, png_bytepp rows) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    hdr->w = png_get_image_width(png, info);
    hdr->h = png_get_image_height(png, info);
    hdr->colourType = png_get_color_type(png, info);
    hdr->depth = png_get_bit_depth(png, info);
    hdr->channels = png_get_channels(png, info);
    if (rows) {
        if (hdr->depth == 16) png_set_swap(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_read_image(png, rows);
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

int ColourType(int channels) {
    switch (channels) {
    case 1: return PNG_COLOR_TYPE_GRAY;
    case 2: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 3: return PNG_COLOR_TYPE_RGB;
    default: return PNG_COLOR_TYPE_RGB_ALPHA;
    }
}

}  // namespace

RunResult RunTvf2(const std::vector<std::string>& args, const RunOptions& options) {
    const std::string outPath = options.stdoutPath.empty() ? MakeTempFile() : options.stdoutPath;
    const std::string errPath = MakeTempFile();
    const std::string inPath = options.stdinPath.empty() ? "/dev/null" : options.stdinPath;

    std::vector<std::string> argStrings;
    argStrings.push_back(TVF2_EXE);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TVF2_MODULE=", 12) != 0) envStrings.push_back(*e);
    for (const auto& kv : options.env) envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(&e[0]);
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

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
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
    Lcg rng(seed);
    p.samples.resize(static_cast<size_t>(width) * height * channels);
    for (uint16_t& s : p.samples)
        s = static_cast<uint16_t>(depth == 16 ? rng.Next() & 0xFFFF : rng.Byte());
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
    const bool ok = WritePngRaw(f, pic.width, pic.height, ColourType(pic.channels), pic.depth,
                                interlaced, rows.data());
    std::fclose(f);
    ASSERT_TRUE(ok) << "libpng could not write " << path;
}

Picture ReadPicture(const std::string& path) {
    Picture p;
    PngHeader hdr;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot open " << path;
        return p;
    }
    bool ok = ReadPngRaw(f, &hdr, nullptr);
    std::fclose(f);
    if (!ok || hdr.colourType == PNG_COLOR_TYPE_PALETTE || hdr.depth < 8) {
        ADD_FAILURE() << path << ": not a PNG tvf2 should write";
        return p;
    }
    p.width = static_cast<int>(hdr.w);
    p.height = static_cast<int>(hdr.h);
    p.channels = hdr.channels;
    p.depth = hdr.depth;
    const size_t bps = p.depth / 8;
    const size_t rowBytes = static_cast<size_t>(p.width) * p.channels * bps;
    std::vector<uint8_t> raw(rowBytes * p.height);
    std::vector<png_bytep> rows(p.height);
    for (int y = 0; y < p.height; ++y) rows[y] = raw.data() + y * rowBytes;
    f = std::fopen(path.c_str(), "rb");
    ok = f && ReadPngRaw(f, &hdr, rows.data());
    if (f) std::fclose(f);
    if (!ok) {
        ADD_FAILURE() << path << ": cannot decode";
        return p;
    }
    p.samples.resize(static_cast<size_t>(p.width) * p.height * p.channels);
    for (size_t i = 0; i < p.samples.size(); ++i) {
        if (bps == 2)
            std::memcpy(&p.samples[i], &raw[2 * i], 2);
        else
            p.samples[i] = raw[i];
    }
    return p;
}

namespace {

void ChromaSize(int w, int h, const std::string& colour, int* cw, int* ch) {
    *cw = colour == "444" ? w : (w + 1) / 2;
    *ch = colour.compare(0, 3, "420") == 0 ? (h + 1) / 2 : h;
}

}  // namespace

Stream RandomStream(int width, int height, const std::string& colour, int frames, uint32_t seed) {
    Stream s;
    s.width = width;
    s.height = height;
    s.colour = colour;
    ChromaSize(width, height, colour, &s.chromaWidth, &s.chromaHeight);
    s.headerParams = " W" + std::to_string(width) + " H" + std::to_string(height) +
                     " F30000:1001 Ip A1:1 C" + colour + " XTEST=yes";
    Lcg rng(seed);
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> data(s.LumaBytes() + 2 * s.ChromaBytes());
        for (uint8_t& b : data) b = rng.Byte();
        s.frames.push_back(data);
        s.frameParams.push_back("");
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

Stream ParseStream(const std::string& bytes) {
    Stream s;
    size_t nl = bytes.find('\n');
    if (bytes.compare(0, 9, "YUV4MPEG2") != 0 || nl == std::string::npos) {
        ADD_FAILURE() << "not a YUV4MPEG2 stream";
        return s;
    }
    s.headerParams = bytes.substr(9, nl - 9);
    s.colour = "420jpeg";
    std::istringstream tokens(s.headerParams);
    std::string t;
    while (tokens >> t) {
        if (t[0] == 'W') s.width = std::stoi(t.substr(1));
        if (t[0] == 'H') s.height = std::stoi(t.substr(1));
        if (t[0] == 'C') s.colour = t.substr(1);
    }
    ChromaSize(s.width, s.height, s.colour, &s.chromaWidth, &s.chromaHeight);
    const size_t frameBytes = s.LumaBytes() + 2 * s.ChromaBytes();
    size_t at = nl + 1;
    while (at < bytes.size()) {
        nl = bytes.find('\n', at);
        if (bytes.compare(at, 5, "FRAME") != 0 || nl == std::string::npos ||
            nl + 1 + frameBytes > bytes.size()) {
            ADD_FAILURE() << "malformed frame " << s.frames.size() + 1;
            return s;
        }
        s.frameParams.push_back(bytes.substr(at + 5, nl - at - 5));
        s.frames.emplace_back(bytes.begin() + nl + 1, bytes.begin() + nl + 1 + frameBytes);
        at = nl + 1 + frameBytes;
    }
    return s;
}

const CpuModule& LoadCpuModule() {
    static const CpuModule m = [] {
        CpuModule c;
        c.handle = dlopen(TVF2_CPU_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!c.handle) return c;
        auto get = reinterpret_cast<PFN_GetFuncSet>(dlsym(c.handle, "GetFuncSet"));
        if (get) get(&c.funcs);
        return c;
    }();
    if (!m.funcs) ADD_FAILURE() << "cannot load " << TVF2_CPU_MODULE;
    return m;
}

int ModuleMosaic(Layout layout, int width, int height, int cellW, int cellH, int offX, int offY,
                 std::vector<uint8_t>& frame) {
    ICUDAKernelFuncSet_TarvoVideoFilter2* fs = LoadCpuModule().funcs;
    if (!fs) return -1;
    const int bpp = layout == Layout::YUY2 ? 2 : 4;
    const int pitch = width * bpp;
    const size_t bytes = static_cast<size_t>(pitch) * height;
    void* src = nullptr;
    void* dst = nullptr;
    if (fs->DeviceMalloc(&src, bytes) != 0 || fs->DeviceMalloc(&dst, bytes) != 0) {
        ADD_FAILURE() << "DeviceMalloc failed";
        return -1;
    }
    // The CPU module's device memory is host memory.
    std::memcpy(src, frame.data(), bytes);
    int status = fs->DeviceCopy2D(dst, pitch, src, pitch, pitch, height);
    if (status == 0) {
        switch (layout) {
        case Layout::C32:
            status =
                fs->Mosaic_C32(height, width, cellH, cellW, offX, offY, src, pitch, dst, pitch);
            break;
        case Layout::C32A:
            status =
                fs->Mosaic_C32A(height, width, cellH, cellW, offX, offY, src, pitch, dst, pitch);
            break;
        case Layout::YUY2:
            status =
                fs->Mosaic_YUY2(height, width, cellH, cellW, offX, offY, src, pitch, dst, pitch);
            break;
        }
    }
    std::memcpy(frame.data(), dst, bytes);
    fs->DeviceFree(src);
    fs->DeviceFree(dst);
    return status;
}

}  // namespace tvf2test
