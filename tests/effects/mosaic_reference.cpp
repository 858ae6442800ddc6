#include "mosaic_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tvf2test {
namespace {

// Mean rounded half up as the device computes it: single-precision quotient plus one
// half, converted toward zero (NaN converts to 0), clamped to a byte.
uint8_t Mean(float sum, float count) {
    float q = sum / count + 0.5f;
    if (std::isnan(q)) return 0;
    long long v = static_cast<long long>(q);
    return static_cast<uint8_t>(std::min(255LL, std::max(0LL, v)));
}

struct Cell {
    int x0, y0, cols, rows;  // clipped
};

template <class F>
void ForEachCell(const MosaicParams& p, int width, int height, F f) {
    for (long long j = 0; p.offY + j * p.cellH < height; ++j) {
        long long ys = p.offY + j * p.cellH, ye = ys + p.cellH;
        int y0 = static_cast<int>(std::max(ys, 0LL)), y1 = static_cast<int>(std::min<long long>(ye, height));
        for (long long i = 0; p.offX + i * p.cellW < width; ++i) {
            long long xs = p.offX + i * p.cellW, xe = xs + p.cellW;
            int x0 = static_cast<int>(std::max(xs, 0LL)), x1 = static_cast<int>(std::min<long long>(xe, width));
            if (x1 > x0 && y1 > y0) f(Cell{x0, y0, x1 - x0, y1 - y0});
        }
    }
}

void Put(uint8_t* p, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    p[0] = b0;
    p[1] = b1;
    p[2] = b2;
    p[3] = b3;
}

void CellC32(bool perBlock, const Cell& c, const HostFrame& src, HostFrame& dst) {
    long long s[3] = {0, 0, 0};
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; ++x)
            for (int k = 0; k < 3; ++k) s[k] += src.px(x, y)[k];
    const float n = static_cast<float>(c.cols * c.rows);
    uint8_t m[3];
    for (int k = 0; k < 3; ++k) m[k] = Mean(static_cast<float>(s[k]), n);
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; ++x)
            Put(dst.px(x, y), m[0], m[1], m[2], perBlock ? 0 : dst.px(x, y)[3]);
}

// Per-thread: float sums of the integer products, added pixel by pixel in row order.
void CellC32AThread(const Cell& c, const HostFrame& src, HostFrame& dst) {
    float s[3] = {0, 0, 0};
    long long alpha = 0;
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; ++x) {
            const uint8_t* p = src.px(x, y);
            for (int k = 0; k < 3; ++k) s[k] += static_cast<float>(p[k] * p[3]);
            alpha += p[3];
        }
    uint8_t out[4] = {0, 0, 0, 0};
    if (alpha > 0) {
        for (int k = 0; k < 3; ++k) out[k] = Mean(s[k], static_cast<float>(alpha));
        out[3] = Mean(static_cast<float>(alpha), static_cast<float>(c.cols * c.rows));
    }
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; ++x) Put(dst.px(x, y), out[0], out[1], out[2], out[3]);
}

// Per-block: the cell's pixels, in row order, are taken 256 at a time; each group's
// sum is exact (below 2^24) and is added to a float total, one group after another.
void CellC32ABlock(const Cell& c, const HostFrame& src, HostFrame& dst) {
    const long long n = static_cast<long long>(c.cols) * c.rows;
    float total[4] = {0, 0, 0, 0};
    long long group[4] = {0, 0, 0, 0};
    for (long long k = 0; k < n; ++k) {
        const uint8_t* p = src.px(c.x0 + static_cast<int>(k % c.cols), c.y0 + static_cast<int>(k / c.cols));
        for (int ch = 0; ch < 3; ++ch) group[ch] += p[ch] * p[3];
        group[3] += p[3];
        if (k % 256 == 255 || k == n - 1) {
            for (int ch = 0; ch < 4; ++ch) {
                total[ch] += static_cast<float>(group[ch]);
                group[ch] = 0;
            }
        }
    }
    uint8_t out[4];
    for (int ch = 0; ch < 3; ++ch) out[ch] = Mean(total[ch], total[3]);
    out[3] = Mean(total[3], static_cast<float>(n));
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; ++x) Put(dst.px(x, y), out[0], out[1], out[2], out[3]);
}

// Both forms: integer sums over the pairs; chroma doubled so the count is in pixels.
void CellYUY2(const Cell& c, const HostFrame& src, HostFrame& dst) {
    long long sy = 0, su = 0, sv = 0;
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; x += 2) {
            const uint8_t* p = src.row(y) + x * 2;
            sy += p[0] + p[2];
            su += p[1];
            sv += p[3];
        }
    const float n = static_cast<float>(c.cols * c.rows);
    const uint8_t my = Mean(static_cast<float>(sy), n), mu = Mean(static_cast<float>(2 * su), n),
                  mv = Mean(static_cast<float>(2 * sv), n);
    for (int y = c.y0; y < c.y0 + c.rows; ++y)
        for (int x = c.x0; x < c.x0 + c.cols; x += 2) Put(dst.row(y) + x * 2, my, mu, my, mv);
}

}  // namespace

bool MosaicUsesBlocks(const MosaicParams& p) {
    return static_cast<long long>(p.cellW) * p.cellH >= 256;
}

void MosaicReference(RefLayout layout, const MosaicParams& p, const HostFrame& src,
                     HostFrame& dst) {
    const bool perBlock = MosaicUsesBlocks(p);
    const int width = layout == RefLayout::YUY2 ? src.width * 2 : src.width;  // pixels
    ForEachCell(p, width, src.height, [&](const Cell& c) {
        switch (layout) {
        case RefLayout::C32: CellC32(perBlock, c, src, dst); break;
        case RefLayout::C32A:
            perBlock ? CellC32ABlock(c, src, dst) : CellC32AThread(c, src, dst);
            break;
        case RefLayout::YUY2: CellYUY2(c, src, dst); break;
        }
    });
}

}  // namespace tvf2test
