#include "reference.h"

#include <algorithm>
#include <cmath>

namespace tvf2test {
namespace {

int RoundedMean(long long sum, long long count) {
    const int v = static_cast<int>(static_cast<float>(sum) / static_cast<float>(count) + 0.5f);
    return std::min(std::max(v, 0), 255);
}

// Calls f(x0, x1, y0, y1) for every cell of the lattice, clipped to the frame.
template <class F>
void ForEachCell(int width, int height, const Cells& c, F f) {
    for (long long y = c.offY; y < height; y += c.cellH) {
        const int y0 = static_cast<int>(std::max(0LL, y));
        const int y1 = static_cast<int>(std::min<long long>(height, y + c.cellH));
        for (long long x = c.offX; x < width; x += c.cellW) {
            const int x0 = static_cast<int>(std::max(0LL, x));
            const int x1 = static_cast<int>(std::min<long long>(width, x + c.cellW));
            if (x1 > x0 && y1 > y0) f(x0, x1, y0, y1);
        }
    }
}

uint8_t Avg2(int a, int b) {
    return static_cast<uint8_t>((a + b + 1) / 2);
}

}  // namespace

void MosaicC32(std::vector<uint8_t>& frame, int width, int height, const Cells& c) {
    ForEachCell(width, height, c, [&](int x0, int x1, int y0, int y1) {
        long long sum[3] = {0, 0, 0};
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                for (int k = 0; k < 3; ++k)
                    sum[k] += frame[(static_cast<size_t>(y) * width + x) * 4 + k];
        const long long count = static_cast<long long>(x1 - x0) * (y1 - y0);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                for (int k = 0; k < 3; ++k)
                    frame[(static_cast<size_t>(y) * width + x) * 4 + k] =
                        static_cast<uint8_t>(RoundedMean(sum[k], count));
    });
}

void MosaicYUY2(std::vector<uint8_t>& frame, int width, int height, const Cells& c) {
    const size_t pitch = static_cast<size_t>(width) * 2;
    ForEachCell(width, height, c, [&](int x0, int x1, int y0, int y1) {
        long long sy = 0, su = 0, sv = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; x += 2) {
                const uint8_t* p = &frame[y * pitch + x * 2];
                sy += p[0] + p[2];
                su += p[1];
                sv += p[3];
            }
        const long long pixels = static_cast<long long>(x1 - x0) * (y1 - y0);
        const uint8_t ly = static_cast<uint8_t>(RoundedMean(sy, pixels));
        const uint8_t lu = static_cast<uint8_t>(RoundedMean(2 * su, pixels));
        const uint8_t lv = static_cast<uint8_t>(RoundedMean(2 * sv, pixels));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; x += 2) {
                uint8_t* p = &frame[y * pitch + x * 2];
                p[0] = p[2] = ly;
                p[1] = lu;
                p[3] = lv;
            }
    });
}

std::vector<uint8_t> PictureToC32(const Picture& p) {
    std::vector<uint8_t> f(static_cast<size_t>(p.width) * p.height * 4);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            uint8_t* d = &f[(static_cast<size_t>(y) * p.width + x) * 4];
            if (p.channels <= 2) {
                d[0] = d[1] = d[2] = static_cast<uint8_t>(p.At(x, y, 0));
                d[3] = p.channels == 2 ? static_cast<uint8_t>(p.At(x, y, 1)) : 255;
            } else {
                d[0] = static_cast<uint8_t>(p.At(x, y, 2));
                d[1] = static_cast<uint8_t>(p.At(x, y, 1));
                d[2] = static_cast<uint8_t>(p.At(x, y, 0));
                d[3] = p.channels == 4 ? static_cast<uint8_t>(p.At(x, y, 3)) : 255;
            }
        }
    return f;
}

Picture C32ToPicture(const std::vector<uint8_t>& f, const Picture& like) {
    Picture p = like;
    p.depth = 8;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* s = &f[(static_cast<size_t>(y) * p.width + x) * 4];
            if (p.channels <= 2) {
                p.At(x, y, 0) = s[1];
                if (p.channels == 2) p.At(x, y, 1) = s[3];
            } else {
                p.At(x, y, 0) = s[2];
                p.At(x, y, 1) = s[1];
                p.At(x, y, 2) = s[0];
                if (p.channels == 4) p.At(x, y, 3) = s[3];
            }
        }
    return p;
}

Picture To8Bit(const Picture& p) {
    Picture q = p;
    q.depth = 8;
    for (uint16_t& v : q.samples) v = static_cast<uint16_t>((v * 255.0) / 65535.0 + 0.5);
    return q;
}

std::vector<uint8_t> FrameToYUY2(const Stream& s, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out(static_cast<size_t>(s.width) * s.height * 2);
    const uint8_t* Y = frame.data();
    const uint8_t* U = Y + s.LumaBytes();
    const uint8_t* V = U + s.ChromaBytes();
    const bool c444 = s.colour == "444", c420 = s.colour.compare(0, 3, "420") == 0;
    for (int y = 0; y < s.height; ++y) {
        const int cy = c420 ? y / 2 : y;
        for (int i = 0; i < s.width / 2; ++i) {
            uint8_t* d = &out[(static_cast<size_t>(y) * s.width + 2 * i) * 2];
            d[0] = Y[y * s.width + 2 * i];
            d[2] = Y[y * s.width + 2 * i + 1];
            const size_t c = static_cast<size_t>(cy) * s.chromaWidth;
            d[1] = c444 ? Avg2(U[c + 2 * i], U[c + 2 * i + 1]) : U[c + i];
            d[3] = c444 ? Avg2(V[c + 2 * i], V[c + 2 * i + 1]) : V[c + i];
        }
    }
    return out;
}

std::vector<uint8_t> YUY2ToFrame(const Stream& s, const std::vector<uint8_t>& yuy2) {
    std::vector<uint8_t> frame(s.LumaBytes() + 2 * s.ChromaBytes());
    uint8_t* Y = frame.data();
    uint8_t* U = Y + s.LumaBytes();
    uint8_t* V = U + s.ChromaBytes();
    const bool c444 = s.colour == "444", c420 = s.colour.compare(0, 3, "420") == 0;
    const size_t pitch = static_cast<size_t>(s.width) * 2;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) Y[y * s.width + x] = yuy2[y * pitch + x * 2];
    for (int cy = 0; cy < s.chromaHeight; ++cy)
        for (int i = 0; i < s.width / 2; ++i) {
            const size_t c = static_cast<size_t>(cy) * s.chromaWidth;
            if (c420) {
                const int r0 = 2 * cy, r1 = std::min(2 * cy + 1, s.height - 1);
                U[c + i] = Avg2(yuy2[r0 * pitch + 4 * i + 1], yuy2[r1 * pitch + 4 * i + 1]);
                V[c + i] = Avg2(yuy2[r0 * pitch + 4 * i + 3], yuy2[r1 * pitch + 4 * i + 3]);
            } else if (c444) {
                U[c + 2 * i] = U[c + 2 * i + 1] = yuy2[cy * pitch + 4 * i + 1];
                V[c + 2 * i] = V[c + 2 * i + 1] = yuy2[cy * pitch + 4 * i + 3];
            } else {
                U[c + i] = yuy2[cy * pitch + 4 * i + 1];
                V[c + i] = yuy2[cy * pitch + 4 * i + 3];
            }
        }
    return frame;
}

namespace {

// The chroma sample that pixel (x, y) of the stream belongs to.
size_t ChromaIndex(const Stream& s, int x, int y) {
    const int cx = s.chromaWidth < s.width ? x / 2 : x;
    const int cy = s.chromaHeight < s.height ? y / 2 : y;
    return static_cast<size_t>(cy) * s.chromaWidth + cx;
}

}  // namespace

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

}  // namespace tvf2test
