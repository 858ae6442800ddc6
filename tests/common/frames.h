// Test frames: host images with explicit pitches, random contents from fixed seeds, and
// device copies of them through the CUDA runtime API (real or CPU).
#ifndef TVF2_TESTS_COMMON_FRAMES_H
#define TVF2_TESTS_COMMON_FRAMES_H

#include <cuda_runtime.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tvf2test {

struct HostFrame {
    int width = 0, height = 0, bytesPerPixel = 4, pitch = 0;
    std::vector<uint8_t> bytes;  // height * pitch

    HostFrame() = default;
    HostFrame(int w, int h, int bpp, int padBytes)
        : width(w), height(h), bytesPerPixel(bpp), pitch(w * bpp + padBytes),
          bytes(static_cast<size_t>(h > 0 ? h : 0) * (w * bpp + padBytes), 0) {}

    uint8_t* row(int y) { return bytes.data() + static_cast<size_t>(y) * pitch; }
    const uint8_t* row(int y) const { return bytes.data() + static_cast<size_t>(y) * pitch; }
    uint8_t* px(int x, int y) { return row(y) + x * bytesPerPixel; }
    const uint8_t* px(int x, int y) const { return row(y) + x * bytesPerPixel; }
};

inline void FillRandom(HostFrame& f, uint32_t seed) {
    std::mt19937 rng(seed);
    for (auto& b : f.bytes) b = static_cast<uint8_t>(rng() >> 24);
}

// Random frame whose byte 3 (alpha) is 0 or 255 on a share of the pixels each, so
// that transparent and opaque pixels both occur in quantity.
inline void FillRandomAlpha(HostFrame& f, uint32_t seed) {
    FillRandom(f, seed);
    std::mt19937 rng(seed ^ 0x5bd1e995u);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            uint32_t r = rng() % 8;
            if (r == 0) f.px(x, y)[3] = 0;
            if (r == 1) f.px(x, y)[3] = 255;
        }
}

// Index of the first differing byte within the frame's rows (padding excluded), or -1.
inline long FirstDifference(const HostFrame& a, const HostFrame& b) {
    for (int y = 0; y < a.height; ++y)
        for (int i = 0; i < a.width * a.bytesPerPixel; ++i)
            if (a.row(y)[i] != b.row(y)[i]) return static_cast<long>(y) * a.pitch + i;
    return -1;
}

inline std::string DescribeDifference(const HostFrame& expected, const HostFrame& actual) {
    long at = FirstDifference(expected, actual);
    if (at < 0) return "identical";
    int y = static_cast<int>(at / expected.pitch), col = static_cast<int>(at % expected.pitch);
    return "first difference at x=" + std::to_string(col / expected.bytesPerPixel) +
           " y=" + std::to_string(y) + " byte " + std::to_string(col % expected.bytesPerPixel) +
           ": expected " + std::to_string(expected.bytes[at]) + ", got " +
           std::to_string(actual.bytes[at]);
}

// A device copy of a host frame (same pitch). Owns its allocation.
class DeviceFrame {
public:
    explicit DeviceFrame(const HostFrame& f) : pitch_(f.pitch), size_(f.bytes.size()) {
        if (cudaMalloc(&ptr_, size_ ? size_ : 1) != cudaSuccess) ptr_ = nullptr;
        if (ptr_ && size_) cudaMemcpy(ptr_, f.bytes.data(), size_, cudaMemcpyHostToDevice);
    }
    ~DeviceFrame() { cudaFree(ptr_); }
    DeviceFrame(const DeviceFrame&) = delete;
    DeviceFrame& operator=(const DeviceFrame&) = delete;

    void* get() const { return ptr_; }
    int pitch() const { return pitch_; }
    void download(HostFrame& f) const {
        cudaDeviceSynchronize();
        if (size_) cudaMemcpy(f.bytes.data(), ptr_, size_, cudaMemcpyDeviceToHost);
    }

private:
    void* ptr_ = nullptr;
    int pitch_;
    size_t size_;
};

}  // namespace tvf2test

#endif
