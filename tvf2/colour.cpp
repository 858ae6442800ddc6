#include "colour.h"

#include "errors.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tvf2 {
namespace {

int Clamp8(int v) { return std::min(std::max(v, 0), 255); }

// (v + 2^15) >> 16 with an arithmetic (flooring) shift: v / 65536 rounded half up.
int Fixed16(long v) { return static_cast<int>((v + 32768) >> 16); }

}  // namespace

double ParseDecimal(const std::string& what, const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0' || errno == ERANGE ||
        text.find_first_not_of("0123456789.+-eE") != std::string::npos || !std::isfinite(d))
        throw UsageError(what + ": '" + text + "' is not a number");
    return d;
}

Yuv8 RgbToYuvFull(Rgb8 c) {
    return Yuv8{Clamp8(Fixed16(19595L * c.r + 38470L * c.g + 7471L * c.b)),
                Clamp8(128 + Fixed16(-11059L * c.r - 21709L * c.g + 32768L * c.b)),
                Clamp8(128 + Fixed16(32768L * c.r - 27439L * c.g - 5329L * c.b))};
}

Rgb8 YuvToRgbFull(Yuv8 c) {
    const long u = c.u - 128, v = c.v - 128;
    return Rgb8{Clamp8(c.y + Fixed16(91881L * v)), Clamp8(c.y + Fixed16(-22554L * u - 46802L * v)),
                Clamp8(c.y + Fixed16(116130L * u))};
}

Yuv8 RgbToYuvLimited(Rgb8 c) {
    auto q = [](double v) { return Clamp8(static_cast<int>(std::floor(v + 0.5))); };
    const double r = c.r, g = c.g, b = c.b;
    return Yuv8{q(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
                q(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
                q(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

ColourArg ParseColour(const std::string& what, const std::string& text) {
    ColourArg c;
    const size_t comma = text.find(',');
    if (comma != std::string::npos) {
        const size_t second = text.find(',', comma + 1);
        if (second == std::string::npos || text.find(',', second + 1) != std::string::npos)
            throw UsageError(what + ": '" + text + "' is not Y,U,V or RRGGBB");
        c.isRgb = false;
        c.y = ParseDecimal(what, text.substr(0, comma));
        c.u = ParseDecimal(what, text.substr(comma + 1, second - comma - 1));
        c.v = ParseDecimal(what, text.substr(second + 1));
        return c;
    }
    std::string hex = text;
    if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(what + ": '" + text + "' is not RRGGBB (hexadecimal) or Y,U,V");
    const long rgb = std::strtol(hex.c_str(), nullptr, 16);
    c.rgb = Rgb8{static_cast<int>(rgb >> 16 & 255), static_cast<int>(rgb >> 8 & 255),
                 static_cast<int>(rgb & 255)};
    return c;
}

void ColourToYuv(const ColourArg& c, bool stream, double& y, double& u, double& v) {
    if (!c.isRgb) {
        y = c.y, u = c.u, v = c.v;
        return;
    }
    const Yuv8 t = stream ? RgbToYuvLimited(c.rgb) : RgbToYuvFull(c.rgb);
    y = t.y, u = t.u, v = t.v;
}

void ImageToYUV32(const Image& img, uint8_t* dst, size_t pitch) {
    const int n = img.channels;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = img.data.data() + y * img.RowBytes();
        uint8_t* d = dst + y * pitch;
        for (int x = 0; x < img.width; ++x, s += n, d += 4) {
            const Rgb8 c = img.IsGrey() ? Rgb8{s[0], s[0], s[0]} : Rgb8{s[0], s[1], s[2]};
            const Yuv8 t = RgbToYuvFull(c);
            d[0] = static_cast<uint8_t>(t.y);
            d[1] = static_cast<uint8_t>(t.u);
            d[2] = static_cast<uint8_t>(t.v);
            d[3] = img.HasAlpha() ? s[n - 1] : 255;
        }
    }
}

void YUV32ToImage(const uint8_t* src, size_t pitch, const uint8_t* before, const Image& original,
                  Image& out) {
    const int n = original.channels, m = out.channels;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* s = src + y * pitch;
        const uint8_t* b = before + y * pitch;
        const uint8_t* o = original.data.data() + y * original.RowBytes();
        uint8_t* d = out.data.data() + y * out.RowBytes();
        for (int x = 0; x < out.width; ++x, s += 4, b += 4, o += n, d += m) {
            if (out.IsGrey()) {
                d[0] = s[0];  // full-range luma of a grey is the grey itself
            } else {
                Rgb8 c;
                if (s[0] == b[0] && s[1] == b[1] && s[2] == b[2])
                    c = original.IsGrey() ? Rgb8{o[0], o[0], o[0]} : Rgb8{o[0], o[1], o[2]};
                else
                    c = YuvToRgbFull(Yuv8{s[0], s[1], s[2]});
                d[0] = static_cast<uint8_t>(c.r);
                d[1] = static_cast<uint8_t>(c.g);
                d[2] = static_cast<uint8_t>(c.b);
            }
            if (out.HasAlpha()) d[m - 1] = s[3];
        }
    }
}

}  // namespace tvf2
