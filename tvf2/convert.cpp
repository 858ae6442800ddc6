#include "convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tvf2 {
namespace {

inline uint8_t Avg2(int a, int b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

}  // namespace

Image To8Bit(const Image& img) {
    if (img.bitDepth == 8) return img;
    Image out;
    out.width = img.width;
    out.height = img.height;
    out.channels = img.channels;
    out.bitDepth = 8;
    const size_t samples = static_cast<size_t>(img.width) * img.height * img.channels;
    out.data.resize(samples);
    const uint8_t* in = img.data.data();
    for (size_t i = 0; i < samples; ++i) {
        uint16_t v;
        std::memcpy(&v, in + 2 * i, 2);
        // 65535 is odd, so v * 255 / 65535 is never exactly half way between integers.
        out.data[i] = static_cast<uint8_t>((v * 255u + 32767u) / 65535u);
    }
    return out;
}

void ImageToC32(const Image& img, uint8_t* dst, size_t pitch) {
    const int n = img.channels;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = img.data.data() + y * img.RowBytes();
        uint8_t* d = dst + y * pitch;
        for (int x = 0; x < img.width; ++x, s += n, d += 4) {
            if (img.IsGrey()) {
                d[0] = d[1] = d[2] = s[0];
                d[3] = n == 2 ? s[1] : 255;
            } else {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = n == 4 ? s[3] : 255;
            }
        }
    }
}

void C32ToImage(const uint8_t* src, size_t pitch, Image& img) {
    const int n = img.channels;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* d = img.data.data() + y * img.RowBytes();
        for (int x = 0; x < img.width; ++x, s += 4, d += n) {
            if (img.IsGrey()) {
                d[0] = s[1];
                if (n == 2) d[1] = s[3];
            } else {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (n == 4) d[3] = s[3];
            }
        }
    }
}

void ImageToC64(const Image& img, uint8_t* dst, size_t pitch) {
    const int n = img.channels;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* row = img.data.data() + y * img.RowBytes();
        uint8_t* d = dst + y * pitch;
        for (int x = 0; x < img.width; ++x, d += 8) {
            uint16_t s[4];
            std::memcpy(s, row + 2 * n * x, 2 * n);
            int16_t lanes[4];
            if (img.IsGrey()) {
                lanes[0] = lanes[1] = lanes[2] = SampleToLane16(s[0]);
                lanes[3] = n == 2 ? SampleToLane16(s[1]) : 32767;
            } else {
                lanes[0] = SampleToLane16(s[2]);
                lanes[1] = SampleToLane16(s[1]);
                lanes[2] = SampleToLane16(s[0]);
                lanes[3] = n == 4 ? SampleToLane16(s[3]) : 32767;
            }
            std::memcpy(d, lanes, 8);
        }
    }
}

void C64ToImage(const uint8_t* src, size_t pitch, Image& img) {
    const int n = img.channels;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* row = img.data.data() + y * img.RowBytes();
        for (int x = 0; x < img.width; ++x, s += 8) {
            int16_t lanes[4];
            std::memcpy(lanes, s, 8);
            uint16_t d[4];
            if (img.IsGrey()) {
                d[0] = Lane16ToSample(lanes[1]);
                d[1] = Lane16ToSample(lanes[3]);
            } else {
                d[0] = Lane16ToSample(lanes[2]);
                d[1] = Lane16ToSample(lanes[1]);
                d[2] = Lane16ToSample(lanes[0]);
                d[3] = Lane16ToSample(lanes[3]);
            }
            std::memcpy(row + 2 * n * x, d, 2 * n);
        }
    }
}

void ImageToPlane(const Image& img, uint8_t* dst, size_t pitch) {
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = img.data.data() + y * img.RowBytes();
        uint8_t* d = dst + y * pitch;
        if (img.bitDepth == 8) {
            std::memcpy(d, s, img.width);
            continue;
        }
        for (int x = 0; x < img.width; ++x) {
            uint16_t v;
            std::memcpy(&v, s + 2 * x, 2);
            const int16_t lane = SampleToLane16(v);
            std::memcpy(d + 2 * x, &lane, 2);
        }
    }
}

void PlaneToImage(const uint8_t* src, size_t pitch, Image& img) {
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* d = img.data.data() + y * img.RowBytes();
        if (img.bitDepth == 8) {
            std::memcpy(d, s, img.width);
            continue;
        }
        for (int x = 0; x < img.width; ++x) {
            int16_t lane;
            std::memcpy(&lane, s + 2 * x, 2);
            const uint16_t v = Lane16ToSample(lane);
            std::memcpy(d + 2 * x, &v, 2);
        }
    }
}

void PlaneToC32(const uint8_t* plane, size_t planePitch, int width, int height, uint8_t* dst,
                size_t pitch) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = plane + y * planePitch;
        uint8_t* d = dst + y * pitch;
        for (int x = 0; x < width; ++x, d += 4) {
            d[0] = d[1] = d[2] = s[x];
            d[3] = 255;
        }
    }
}

void C32ToPlane(const uint8_t* src, size_t pitch, int width, int height, uint8_t* plane,
                size_t planePitch) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* d = plane + y * planePitch;
        for (int x = 0; x < width; ++x) d[x] = s[4 * x + 1];
    }
}

void FrameToYUY2(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch) {
    const int pairs = h.width / 2;
    const int cw = h.ChromaWidth();
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* ly = frame.Y() + static_cast<size_t>(y) * h.width;
        const int cy = h.chroma == Chroma::C420 ? y / 2 : y;
        const uint8_t* u = frame.U(h) + static_cast<size_t>(cy) * cw;
        const uint8_t* v = frame.V(h) + static_cast<size_t>(cy) * cw;
        uint8_t* d = dst + y * pitch;
        for (int i = 0; i < pairs; ++i, d += 4) {
            d[0] = ly[2 * i];
            d[2] = ly[2 * i + 1];
            if (h.chroma == Chroma::C444) {
                d[1] = Avg2(u[2 * i], u[2 * i + 1]);
                d[3] = Avg2(v[2 * i], v[2 * i + 1]);
            } else {
                d[1] = u[i];
                d[3] = v[i];
            }
        }
    }
}

void YUY2ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame) {
    const int pairs = h.width / 2;
    const int cw = h.ChromaWidth();
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* ly = frame.Y() + static_cast<size_t>(y) * h.width;
        for (int i = 0; i < pairs; ++i) {
            ly[2 * i] = s[4 * i];
            ly[2 * i + 1] = s[4 * i + 2];
        }
    }
    for (int cy = 0; cy < h.ChromaHeight(); ++cy) {
        uint8_t* u = frame.U(h) + static_cast<size_t>(cy) * cw;
        uint8_t* v = frame.V(h) + static_cast<size_t>(cy) * cw;
        if (h.chroma == Chroma::C420) {
            const uint8_t* a = src + (2 * cy) * pitch;
            const uint8_t* b = 2 * cy + 1 < h.height ? a + pitch : a;
            for (int i = 0; i < pairs; ++i) {
                u[i] = Avg2(a[4 * i + 1], b[4 * i + 1]);
                v[i] = Avg2(a[4 * i + 3], b[4 * i + 3]);
            }
        } else {
            const uint8_t* s = src + cy * pitch;
            for (int i = 0; i < pairs; ++i) {
                if (h.chroma == Chroma::C444) {
                    u[2 * i] = u[2 * i + 1] = s[4 * i + 1];
                    v[2 * i] = v[2 * i + 1] = s[4 * i + 3];
                } else {
                    u[i] = s[4 * i + 1];
                    v[i] = s[4 * i + 3];
                }
            }
        }
    }
}

void FrameToYUV32(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch) {
    const int sx = h.chroma == Chroma::C444 ? 0 : 1;  // log2 of the chroma subsampling
    const int sy = h.chroma == Chroma::C420 ? 1 : 0;
    const int cw = h.ChromaWidth();
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* ly = frame.Y() + static_cast<size_t>(y) * h.width;
        const uint8_t* u = frame.U(h) + static_cast<size_t>(y >> sy) * cw;
        const uint8_t* v = frame.V(h) + static_cast<size_t>(y >> sy) * cw;
        uint8_t* d = dst + y * pitch;
        for (int x = 0; x < h.width; ++x, d += 4) {
            d[0] = ly[x];
            d[1] = u[x >> sx];
            d[2] = v[x >> sx];
            d[3] = 255;
        }
    }
}

void YUV32ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame) {
    const int sx = h.chroma == Chroma::C444 ? 0 : 1;
    const int sy = h.chroma == Chroma::C420 ? 1 : 0;
    const int cw = h.ChromaWidth();
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* s = src + y * pitch;
        uint8_t* ly = frame.Y() + static_cast<size_t>(y) * h.width;
        for (int x = 0; x < h.width; ++x) ly[x] = s[4 * x];
    }
    for (int cy = 0; cy < h.ChromaHeight(); ++cy) {
        const int y0 = cy << sy, y1 = std::min((cy + 1) << sy, h.height);
        uint8_t* u = frame.U(h) + static_cast<size_t>(cy) * cw;
        uint8_t* v = frame.V(h) + static_cast<size_t>(cy) * cw;
        for (int cx = 0; cx < cw; ++cx) {
            const int x0 = cx << sx, x1 = std::min((cx + 1) << sx, h.width);
            int su = 0, sv = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    su += src[y * pitch + 4 * x + 1];
                    sv += src[y * pitch + 4 * x + 2];
                }
            const int n = (y1 - y0) * (x1 - x0);
            u[cx] = static_cast<uint8_t>((su + n / 2) / n);
            v[cx] = static_cast<uint8_t>((sv + n / 2) / n);
        }
    }
}

namespace {

uint8_t Byte(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

}  // namespace

void FrameToC32(const Y4mHeader& h, const Y4mFrame& frame, uint8_t* dst, size_t pitch) {
    FrameToYUV32(h, frame, dst, pitch);
    for (int y = 0; y < h.height; ++y)
        for (uint8_t* p = dst + y * pitch; p < dst + y * pitch + 4 * static_cast<size_t>(h.width); p += 4) {
            const int c = 298 * (p[0] - 16), d = p[1] - 128, e = p[2] - 128;
            p[0] = Byte((c + 516 * d + 128) >> 8);
            p[1] = Byte((c - 100 * d - 208 * e + 128) >> 8);
            p[2] = Byte((c + 409 * e + 128) >> 8);
        }
}

void C32ToFrame(const uint8_t* src, size_t pitch, const Y4mHeader& h, Y4mFrame& frame) {
    const size_t row = 4 * static_cast<size_t>(h.width);
    std::vector<uint8_t> yuv(row * h.height);
    for (int y = 0; y < h.height; ++y)
        for (size_t i = 0; i < row; i += 4) {
            const uint8_t* p = src + y * pitch + i;
            uint8_t* q = yuv.data() + y * row + i;
            const int b = p[0], g = p[1], r = p[2];
            q[0] = Byte(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
            q[1] = Byte(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            q[2] = Byte(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
            q[3] = 255;
        }
    YUV32ToFrame(yuv.data(), row, h, frame);
}

}  // namespace tvf2
