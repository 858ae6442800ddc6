#include "reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tvf2test {
namespace {

uint8_t Avg2(int a, int b) {
    return static_cast<uint8_t>((a + b + 1) / 2);
}

// The chroma sample that pixel (x, y) of the stream belongs to.
size_t ChromaIndex(const Stream& s, int x, int y) {
    const int cx = s.chromaWidth < s.width ? x / 2 : x;
    const int cy = s.chromaHeight < s.height ? y / 2 : y;
    return static_cast<size_t>(cy) * s.chromaWidth + cx;
}

}  // namespace

Picture To8Bit(const Picture& p) {
    if (p.depth == 8) return p;
    Picture q = p;
    q.depth = 8;
    for (uint16_t& v : q.samples) v = static_cast<uint16_t>(std::floor(v * 255.0 / 65535.0 + 0.5));
    return q;
}

std::vector<uint8_t> PictureToLanes(const Picture& p, bool plane) {
    const int lanes = plane ? 1 : 4, bytes = p.depth / 8;
    const int full = p.depth == 16 ? 65535 : 255;
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * lanes * bytes);
    uint8_t* d = out.data();
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            int v[4];
            if (p.channels <= 2) {
                v[0] = v[1] = v[2] = p.At(x, y, 0);
                v[3] = p.channels == 2 ? p.At(x, y, 1) : full;
            } else {
                v[0] = p.At(x, y, 2), v[1] = p.At(x, y, 1), v[2] = p.At(x, y, 0);
                v[3] = p.channels == 4 ? p.At(x, y, 3) : full;
            }
            for (int k = 0; k < lanes; ++k, d += bytes) {
                if (bytes == 1) {
                    *d = static_cast<uint8_t>(v[k]);
                } else {
                    const int16_t s = static_cast<int16_t>(v[k] / 2);
                    std::memcpy(d, &s, 2);
                }
            }
        }
    return out;
}

Picture LanesToPicture(const std::vector<uint8_t>& bytes, const Picture& like, bool plane) {
    Picture p = like;
    const int lanes = plane ? 1 : 4;
    auto lane = [&](size_t pixel, int k) -> uint16_t {
        const size_t at = (pixel * lanes + k) * (p.depth / 8);
        if (p.depth == 8) return bytes[at];
        int16_t s;
        std::memcpy(&s, &bytes[at], 2);
        return s <= 0 ? 0 : static_cast<uint16_t>(s * 2 + s / 16384);
    };
    for (size_t i = 0; i < static_cast<size_t>(p.width) * p.height; ++i) {
        uint16_t* d = &p.samples[i * p.channels];
        if (p.channels <= 2) {
            d[0] = lane(i, plane ? 0 : 1);
            if (p.channels == 2) d[1] = lane(i, 3);
        } else {
            d[0] = lane(i, 2), d[1] = lane(i, 1), d[2] = lane(i, 0);
            if (p.channels == 4) d[3] = lane(i, 3);
        }
    }
    return p;
}

std::vector<uint8_t> FrameToYUV32(const Stream& s, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out(s.LumaBytes() * 4);
    const uint8_t* U = frame.data() + s.LumaBytes();
    const uint8_t* V = U + s.ChromaBytes();
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            uint8_t* d = &out[(static_cast<size_t>(y) * s.width + x) * 4];
            d[0] = frame[static_cast<size_t>(y) * s.width + x];
            d[1] = U[ChromaIndex(s, x, y)];
            d[2] = V[ChromaIndex(s, x, y)];
            d[3] = 255;
        }
    return out;
}

std::vector<uint8_t> YUV32ToFrame(const Stream& s, const std::vector<uint8_t>& yuv32) {
    std::vector<uint8_t> frame(s.LumaBytes() + 2 * s.ChromaBytes());
    std::vector<int> sumU(s.ChromaBytes()), sumV(s.ChromaBytes()), count(s.ChromaBytes());
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const uint8_t* p = &yuv32[(static_cast<size_t>(y) * s.width + x) * 4];
            frame[static_cast<size_t>(y) * s.width + x] = p[0];
            const size_t c = ChromaIndex(s, x, y);
            sumU[c] += p[1];
            sumV[c] += p[2];
            ++count[c];
        }
    uint8_t* U = frame.data() + s.LumaBytes();
    uint8_t* V = U + s.ChromaBytes();
    for (size_t c = 0; c < s.ChromaBytes(); ++c) {
        U[c] = static_cast<uint8_t>(std::floor(static_cast<double>(sumU[c]) / count[c] + 0.5));
        V[c] = static_cast<uint8_t>(std::floor(static_cast<double>(sumV[c]) / count[c] + 0.5));
    }
    return frame;
}

// A YUY2 pair carries the rounded mean of its two pixels' YUV32 chroma: the two samples
// of 4:4:4, the one sample both pixels share otherwise.
std::vector<uint8_t> FrameToYUY2(const Stream& s, const std::vector<uint8_t>& frame) {
    const std::vector<uint8_t> yuv = FrameToYUV32(s, frame);
    std::vector<uint8_t> out(s.LumaBytes() * 2);
    for (size_t i = 0; i < s.LumaBytes(); i += 2) {
        const uint8_t* a = &yuv[4 * i];
        const uint8_t* b = a + 4;
        uint8_t* d = &out[2 * i];
        d[0] = a[0], d[1] = Avg2(a[1], b[1]), d[2] = b[0], d[3] = Avg2(a[2], b[2]);
    }
    return out;
}

// Each pair's chroma on both its pixels, then the means of YUV32ToFrame: 4:2:2 comes back
// as it is, 4:2:0 as the rounded mean of two rows (the last row alone at an odd height),
// 4:4:4 duplicated.
std::vector<uint8_t> YUY2ToFrame(const Stream& s, const std::vector<uint8_t>& yuy2) {
    std::vector<uint8_t> yuv(s.LumaBytes() * 4);
    for (size_t i = 0; i < s.LumaBytes(); ++i) {
        const uint8_t* pair = &yuy2[2 * (i & ~static_cast<size_t>(1))];
        yuv[4 * i] = yuy2[2 * i], yuv[4 * i + 1] = pair[1], yuv[4 * i + 2] = pair[3];
    }
    return YUV32ToFrame(s, yuv);
}

namespace {

uint8_t Clamped(double v) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, v))); }

// (sum + 128) / 256 rounded toward minus infinity.
double Steps(int sum) { return std::floor((sum + 128) / 256.0); }

}  // namespace

std::vector<uint8_t> FrameToRGB32(const Stream& s, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out = FrameToYUV32(s, frame);
    for (size_t i = 0; i < out.size(); i += 4) {
        const int y = out[i] - 16, u = out[i + 1] - 128, v = out[i + 2] - 128;
        out[i + 0] = Clamped(Steps(298 * y + 516 * u));
        out[i + 1] = Clamped(Steps(298 * y - 100 * u - 208 * v));
        out[i + 2] = Clamped(Steps(298 * y + 409 * v));
    }
    return out;
}

std::vector<uint8_t> RGB32ToFrame(const Stream& s, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> yuv(rgb.size());
    for (size_t i = 0; i < rgb.size(); i += 4) {
        const int b = rgb[i], g = rgb[i + 1], r = rgb[i + 2];
        yuv[i + 0] = Clamped(Steps(66 * r + 129 * g + 25 * b) + 16);
        yuv[i + 1] = Clamped(Steps(-38 * r - 74 * g + 112 * b) + 128);
        yuv[i + 2] = Clamped(Steps(112 * r - 94 * g - 18 * b) + 128);
        yuv[i + 3] = 255;
    }
    return YUV32ToFrame(s, yuv);
}

}  // namespace tvf2test
