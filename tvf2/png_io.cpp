#include "png_io.h"

#include "errors.h"
#include "file_io.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

// libpng reports errors by longjmp to the setjmp of the caller. A longjmp must not jump
// over a C++ object that has a destructor, so the functions holding a setjmp below
// create no such objects themselves: everything they fill belongs to their caller,
// and the C++ error (Failure) is thrown by the caller after they return false.

namespace tvf2 {
namespace {

struct PngContext {
    InputFile* in = nullptr;
    OutputFile* out = nullptr;
    char message[256] = "";
};

extern "C" void OnPngError(png_structp png, png_const_charp msg) {
    auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(ctx->message, sizeof ctx->message, "%s", msg ? msg : "error");
    png_longjmp(png, 1);
}

// Warnings (an odd colour profile, say) do not stop the job and are not reported.
extern "C" void OnPngWarning(png_structp, png_const_charp) {}

extern "C" void OnPngRead(png_structp png, png_bytep data, size_t n) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    if (ctx->in->Read(data, n) != n)
        png_error(png, ctx->in->Failed() ? "read error" : "file is truncated");
}

extern "C" void OnPngWrite(png_structp png, png_bytep data, size_t n) {
    auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, n, ctx->out->Stream()) != n) {
        char why[128];
        std::snprintf(why, sizeof why, "%s", std::strerror(errno ? errno : EIO));
        png_error(png, why);
    }
}

extern "C" void OnPngFlush(png_structp) {}

// Fills img (owned by the caller) from the stream; false with ctx.message on error.
bool DecodePng(png_structp png, png_infop info, PngContext& ctx, Image& img,
               std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &ctx, OnPngRead);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (static_cast<long long>(width) * height > kMaxPixels) {
        std::snprintf(ctx.message, sizeof ctx.message,
                      "picture of %ux%u pixels is larger than tvf2 handles (%lld pixels)",
                      static_cast<unsigned>(width), static_cast<unsigned>(height), kMaxPixels);
        return false;
    }
    const int colour = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    // Deflate expands data at most 1032 times, so a file that cannot hold the rows its
    // header claims is refused before the picture is allocated.
    const long long fileSize = ctx.in->FileSize();
    const long long rawRow = (static_cast<long long>(width) * png_get_channels(png, info) * depth + 7) / 8 + 1;
    if (fileSize >= 0 && rawRow * height > 1032 * fileSize + 65536) {
        std::snprintf(ctx.message, sizeof ctx.message,
                      "file is truncated: its header claims %ux%u pixels, more than %lld bytes hold",
                      static_cast<unsigned>(width), static_cast<unsigned>(height), fileSize);
        return false;
    }
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_swap(png);  // PNG stores big-endian; keep host order
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    img.width = static_cast<int>(width);
    img.height = static_cast<int>(height);
    img.channels = png_get_channels(png, info);
    img.bitDepth = png_get_bit_depth(png, info);
    img.data.resize(img.RowBytes() * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = img.data.data() + y * img.RowBytes();
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

bool EncodePng(png_structp png, png_infop info, PngContext& ctx, const Image& img,
               std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    static const int kColourTypes[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                       PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    png_set_write_fn(png, &ctx, OnPngWrite, OnPngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(img.width),
                 static_cast<png_uint_32>(img.height), img.bitDepth, kColourTypes[img.channels],
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (img.bitDepth == 16) png_set_swap(png);
    rows.resize(static_cast<size_t>(img.height));
    for (int y = 0; y < img.height; ++y)
        rows[y] = const_cast<png_bytep>(img.data.data() + y * img.RowBytes());
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    return true;
}

// Frees libpng's structures however the caller leaves (return or exception).
struct ReadGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadGuard() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};
struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteGuard() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

bool IsPngSignature(const unsigned char* bytes, size_t n) {
    return n >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

Image ReadPng(InputFile& in) {
    PngContext ctx;
    ctx.in = &in;
    ReadGuard g;
    g.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
    if (g.png) g.info = png_create_info_struct(g.png);
    if (!g.info) throw Failure("cannot read " + in.Name() + ": libpng could not start");
    Image img;
    std::vector<png_bytep> rows;
    const bool ok = DecodePng(g.png, g.info, ctx, img, rows);
    if (!ok) throw Failure(in.Name() + ": bad PNG file: " + ctx.message);
    return img;
}

void WritePng(const Image& img, OutputFile& out) {
    PngContext ctx;
    ctx.out = &out;
    WriteGuard g;
    g.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
    if (g.png) g.info = png_create_info_struct(g.png);
    if (!g.info) throw Failure("cannot write " + out.Name() + ": libpng could not start");
    std::vector<png_bytep> rows;
    const bool ok = EncodePng(g.png, g.info, ctx, img, rows);
    if (!ok) throw Failure("cannot write " + out.Name() + ": " + ctx.message);
}

}  // namespace tvf2
