#include "convolution_reference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tvf2test {
namespace {

typedef std::array<float, 4> Px;  // lanes as exact floats

// Float to int toward zero as the device converts: NaN 0, out of range saturated.
int Trunc(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return 2147483647;
    if (v < -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(v);
}
uint8_t Low8(int v) { return static_cast<uint8_t>(v & 255); }
int16_t Sat16(int v) { return static_cast<int16_t>(std::min(32767, std::max(-32768, v))); }

// Plain sums of `lanes` lanes.
struct Plain {
    int lanes;
    Px v{};
    void Tap(float w, const Px& s) {
        for (int i = 0; i < lanes; ++i) v[i] = std::fma(w, s[i], v[i]);
    }
    void Pair(float w, const Px& l, const Px& r) {
        for (int i = 0; i < lanes; ++i) v[i] = std::fma(w, l[i] + r[i], v[i]);
    }
};

// Alpha-weighted colour sums and the weighted alpha, which starts at `start`.
struct Alpha {
    float start;
    Px s{};
    float a = start;
    void Tap(float w, const Px& x) {
        for (int i = 0; i < 3; ++i) s[i] = std::fma(w * x[i], x[3], s[i]);
        a = std::fma(w, x[3], a);
    }
    void Pair(float w, const Px& l, const Px& r) {
        for (int i = 0; i < 3; ++i) s[i] = std::fma(w, std::fma(l[i], l[3], r[i] * r[3]), s[i]);
        a = std::fma(w, l[3] + r[3], a);
    }
};

template <class Acc, class Get>
void Apply(Acc& acc, const RefWindow& win, int p, int r, const std::vector<float>& w, Get get) {
    if (win.centre) {
        for (int j = 0; j < r; ++j) acc.Pair(w[win.first + j], get(p - r + j), get(p + r - j));
        acc.Tap(w[win.first + r], get(p));
    } else {
        for (int t = win.lo; t <= win.hi; ++t) acc.Tap(w[win.first + t - win.lo], get(t));
    }
}

// A frame of float lanes (the layouts' samples or the planes' float work area).
struct Image {
    int w, h;
    std::vector<Px> px;
    Px& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
    const Px& at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Image Read(ConvRef layout, const HostFrame& f) {
    Image im{f.width, f.height, std::vector<Px>(static_cast<size_t>(f.width) * f.height)};
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const uint8_t* p = f.px(x, y);
            Px& v = im.at(x, y);
            switch (layout) {
            case ConvRef::C32:
            case ConvRef::C32A:
                for (int i = 0; i < 4; ++i) v[i] = p[i];
                break;
            case ConvRef::C64:
            case ConvRef::C64A:
                for (int i = 0; i < 4; ++i) {
                    int16_t s;
                    std::memcpy(&s, p + 2 * i, 2);
                    v[i] = s;
                }
                break;
            case ConvRef::P8: v[0] = p[0]; break;
            case ConvRef::P16: {
                int16_t s;
                std::memcpy(&s, p, 2);
                v[0] = s;
                break;
            }
            }
        }
    return im;
}

void Write16(uint8_t* p, int i, int16_t v) { std::memcpy(p + 2 * i, &v, 2); }

// One pass along rows (columns = false) or columns of `in`. Put(x, y, acc, sample).
template <class MakeAcc, class Put>
void Pass(const Image& in, bool columns, int r, const std::vector<float>& w, MakeAcc make, Put put) {
    const int n = columns ? in.h : in.w, lines = columns ? in.w : in.h;
    const std::vector<RefWindow> wins = RefWindows(n, r);
    for (int l = 0; l < lines; ++l)
        for (int p = 0; p < n; ++p) {
            auto get = [&](int t) -> const Px& { return columns ? in.at(l, t) : in.at(t, l); };
            auto acc = make();
            Apply(acc, wins[p], p, r, w, get);
            columns ? put(l, p, acc, get(p)) : put(p, l, acc, get(p));
        }
}

// The 8-bit and 16-bit frames after one pass, kept as float lanes for the next.
void SeparableImpl(ConvRef layout, const Image& src, const std::vector<float>& hTable, int hR,
                   const std::vector<float>& vTable, int vR, HostFrame& dst) {
    const int w = src.w, h = src.h;
    Image mid{w, h, std::vector<Px>(src.px.size())};
    const bool plane = layout == ConvRef::P8 || layout == ConvRef::P16;
    const bool alpha = layout == ConvRef::C32A || layout == ConvRef::C64A;
    const bool wide = layout == ConvRef::C64 || layout == ConvRef::C64A;
    // The C64A row pass without shared memory (its rings would not fit) scales the sum
    // as it is; every other C64A pass truncates it to a whole number first.
    const bool rowsUntruncated = 64LL * (2 * hR + 1) * 8 >= 12288;

    // Converts a finished sum to lane values (as floats) for the layout.
    auto convert = [&](const Plain& acc, const Px& centre) {
        Px o{};
        for (int i = 0; i < 3; ++i) o[i] = wide ? Sat16(Trunc(acc.v[i])) : Low8(Trunc(acc.v[i] + 0.5f));
        o[3] = centre[3];  // carried through unfiltered
        return o;
    };
    auto convertAlpha = [&](const Alpha& acc, bool truncateSums) {
        const float inv = 1.0f / acc.a;
        Px o{};
        for (int i = 0; i < 3; ++i)
            o[i] = wide ? Sat16(Trunc((truncateSums ? float(Trunc(acc.s[i])) : acc.s[i]) * inv))
                        : Low8(Trunc(std::fma(acc.s[i], inv, 0.5f)));
        o[3] = wide ? Sat16(Trunc(acc.a)) : Low8(Trunc(acc.a + 0.5f));
        return o;
    };
    const float start = 0x1p-52f;

    if (alpha) {
        Pass(src, false, hR, hTable, [&] { return Alpha{start}; },
             [&](int x, int y, const Alpha& acc, const Px&) { mid.at(x, y) = convertAlpha(acc, !rowsUntruncated); });
    } else {
        Pass(src, false, hR, hTable, [&] { return Plain{plane ? 1 : 3}; },
             [&](int x, int y, const Plain& acc, const Px& c) { mid.at(x, y) = plane ? Px{acc.v[0]} : convert(acc, c); });
    }

    auto store = [&](int x, int y, const Px& v) {
        uint8_t* p = dst.px(x, y);
        switch (layout) {
        case ConvRef::C32:
        case ConvRef::C32A:
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v[i]);
            break;
        case ConvRef::C64:
        case ConvRef::C64A:
            for (int i = 0; i < 4; ++i) Write16(p, i, static_cast<int16_t>(v[i]));
            break;
        case ConvRef::P8: p[0] = static_cast<uint8_t>(v[0]); break;
        case ConvRef::P16: Write16(p, 0, static_cast<int16_t>(v[0])); break;
        }
    };
    if (alpha) {
        Pass(mid, true, vR, vTable, [&] { return Alpha{start}; },
             [&](int x, int y, const Alpha& acc, const Px&) { store(x, y, convertAlpha(acc, true)); });
    } else if (plane) {
        Pass(mid, true, vR, vTable, [&] { return Plain{1}; }, [&](int x, int y, const Plain& acc, const Px&) {
            const float s = acc.v[0];
            store(x, y, Px{layout == ConvRef::P8 ? float(Low8(Trunc(s + 0.5f))) : float(Sat16(Trunc(s)))});
        });
    } else {
        Pass(mid, true, vR, vTable, [&] { return Plain{3}; },
             [&](int x, int y, const Plain& acc, const Px& c) { store(x, y, convert(acc, c)); });
    }
}

}  // namespace

int ConvBytesPerPixel(ConvRef layout) {
    switch (layout) {
    case ConvRef::C32:
    case ConvRef::C32A: return 4;
    case ConvRef::C64:
    case ConvRef::C64A: return 8;
    case ConvRef::P8: return 1;
    case ConvRef::P16: return 2;
    }
    return 0;
}

std::vector<RefWindow> RefWindows(int n, int r) {
    std::vector<RefWindow> wins(std::max(n, 0));
    const bool hasCentre = n >= 2 * r + 1;
    // Border windows in position order own consecutive entries; the centre block sits
    // between the left border positions (p < r) and the right ones.
    int next = 0;
    for (int p = 0; p < n; ++p) {
        const bool centre = hasCentre && p >= r && p < n - r;
        if (centre) continue;
        if (hasCentre && p == n - r) next += 2 * r + 1;
        const int lo = std::max(0, p - r), hi = std::min(n - 1, p + r);
        wins[p] = RefWindow{false, next, lo, hi};
        next += hi - lo + 1;
    }
    if (hasCentre) {
        int leftEntries = 0;
        for (int p = 0; p < r; ++p) leftEntries += std::min(n - 1, p + r) - std::max(0, p - r) + 1;
        for (int p = r; p < n - r; ++p) wins[p] = RefWindow{true, leftEntries, p - r, p + r};
    }
    return wins;
}

void SeparableReference(ConvRef layout, const HostFrame& src, const std::vector<float>& hTable,
                        int hR, const std::vector<float>& vTable, int vR, HostFrame& dst) {
    SeparableImpl(layout, Read(layout, src), hTable, hR, vTable, vR, dst);
}

void UnsharpReference(bool alpha, const HostFrame& src, const std::vector<float>& hTable,
                      const std::vector<float>& vTable, int r, int amount, HostFrame& mid,
                      HostFrame& dst) {
    const Image in = Read(ConvRef::C32, src);
    const float start = 0x1p-23f;
    // Pass 1: rounded, low 8 bits; with alpha the colours divided by the weighted alpha.
    if (alpha) {
        Pass(in, false, r, hTable, [&] { return Alpha{start}; }, [&](int x, int y, const Alpha& acc, const Px&) {
            uint8_t* p = mid.px(x, y);
            for (int i = 0; i < 3; ++i) p[i] = Low8(Trunc(acc.s[i] / acc.a + 0.5f));
            p[3] = Low8(Trunc(acc.a + 0.5f));
        });
    } else {
        Pass(in, false, r, hTable, [&] { return Plain{3}; }, [&](int x, int y, const Plain& acc, const Px&) {
            for (int i = 0; i < 3; ++i) mid.px(x, y)[i] = Low8(Trunc(acc.v[i] + 0.5f));
        });
    }
    // Pass 2: the blurred value, unrounded, pushed away from by o + (o - b) * f.
    const Image blurred = Read(ConvRef::C32, mid);
    const float f = static_cast<float>(amount) * 0.00390625f;
    auto blend = [&](float o, float b) {
        return static_cast<uint8_t>(std::min(255, std::max(0, Trunc(std::fma(o - b, f, o) + 0.5f))));
    };
    if (alpha) {
        Pass(blurred, true, r, vTable, [&] { return Alpha{start}; }, [&](int x, int y, const Alpha& acc, const Px&) {
            const uint8_t* o = src.px(x, y);
            uint8_t* p = dst.px(x, y);
            uint8_t out[4];
            for (int i = 0; i < 3; ++i) out[i] = blend(o[i], acc.s[i] / acc.a);
            out[3] = blend(o[3], acc.a);
            std::memcpy(p, out, 4);
        });
    } else {
        Pass(blurred, true, r, vTable, [&] { return Plain{3}; }, [&](int x, int y, const Plain& acc, const Px&) {
            const uint8_t* o = src.px(x, y);
            uint8_t out[3];
            for (int i = 0; i < 3; ++i) out[i] = blend(o[i], acc.v[i]);
            std::memcpy(dst.px(x, y), out, 3);
        });
    }
}

}  // namespace tvf2test
