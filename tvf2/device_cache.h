// Device memory that a filter keeps from frame to frame: frame buffers, work areas and
// weight tables. Each is allocated (a table also built and uploaded) on first use and
// found again by its role and size, so a stream allocates once for every plane size it
// has, not once a frame.
#ifndef TVF2_TOOL_DEVICE_CACHE_H
#define TVF2_TOOL_DEVICE_CACHE_H

#include "backend.h"
#include "convolution/weight_table.h"

#include <map>
#include <memory>
#include <string>

namespace tvf2 {

// The module takes any radius from 0 up; tvf2 stops at 1000, where a table already has
// three million entries and every output sample reads 2001 samples in each pass. A
// larger radius is a typing mistake rather than a blur.
constexpr int kMaxConvRadius = 1000;

// Untyped device memory from DeviceMalloc (work areas, tables), released by DeviceFree.
class DeviceBuffer {
public:
    DeviceBuffer(Backend& backend, size_t bytes);
    ~DeviceBuffer();
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;

    void* Data() const { return data_; }
    size_t Bytes() const { return bytes_; }

private:
    Backend& backend_;
    void* data_ = nullptr;
    size_t bytes_;
};

struct DeviceWeights {
    const float* data;
    int count;
};

class DeviceCache {
public:
    explicit DeviceCache(Backend& backend) : backend_(backend) {}

    // Throws Failure when the frame or its work areas would not fit the module's 32-bit
    // offsets (2 GiB), or for a DeviceMalloc status.
    DeviceImage& Image(const std::string& role, int width, int height, int bytesPerPixel);
    // A work area of `images` images of `imageBytes` bytes each.
    void* Work(const std::string& role, int images, long long imageBytes);
    // The table of a line of n samples for a window of radius r (weight_table.h).
    DeviceWeights Weights(WindowShape shape, int n, int r);

private:
    Backend& backend_;
    std::map<std::string, std::unique_ptr<DeviceImage>> images_;
    std::map<std::string, std::unique_ptr<DeviceBuffer>> buffers_;
};

}  // namespace tvf2

#endif
