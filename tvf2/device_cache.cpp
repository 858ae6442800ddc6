#include "device_cache.h"

#include "errors.h"

#include <climits>
#include <vector>

namespace tvf2 {
namespace {

// The module forms offsets within a frame or work area in 32-bit arithmetic.
void RequireBelow2GiB(long long bytes, int width, int height) {
    if (bytes > INT_MAX)
        throw Failure("frame of " + std::to_string(width) + "x" + std::to_string(height) +
                      " pixels is too large for the module");
}

std::string Key(const std::string& role, long long a, long long b, long long c) {
    return role + ":" + std::to_string(a) + ":" + std::to_string(b) + ":" + std::to_string(c);
}

}  // namespace

DeviceBuffer::DeviceBuffer(Backend& backend, size_t bytes) : backend_(backend), bytes_(bytes) {
    // DeviceMalloc of 0 bytes may hand back a null pointer, which every slot refuses.
    Backend::Check(backend.Funcs().DeviceMalloc(&data_, bytes == 0 ? 1 : bytes), "DeviceMalloc");
}

DeviceBuffer::~DeviceBuffer() {
    if (data_) backend_.Funcs().DeviceFree(data_);
}

DeviceImage& DeviceCache::Image(const std::string& role, int width, int height, int bytesPerPixel) {
    std::unique_ptr<DeviceImage>& slot = images_[Key(role, width, height, bytesPerPixel)];
    if (!slot) {
        const long long pitch = (static_cast<long long>(width) * bytesPerPixel + 255) / 256 * 256;
        RequireBelow2GiB(pitch * height, width, height);
        slot.reset(new DeviceImage(backend_, width, height, bytesPerPixel));
    }
    return *slot;
}

void* DeviceCache::Work(const std::string& role, int images, long long imageBytes) {
    if (imageBytes > INT_MAX)
        throw Failure("a work area of " + std::to_string(imageBytes) +
                      " bytes is too large for the module");
    std::unique_ptr<DeviceBuffer>& slot = buffers_[Key(role, images, imageBytes, 0)];
    if (!slot) slot.reset(new DeviceBuffer(backend_, static_cast<size_t>(images * imageBytes)));
    return slot->Data();
}

DeviceWeights DeviceCache::Weights(WindowShape shape, int n, int r) {
    const std::string key = Key(shape == WindowShape::Box ? "box" : "gaussian", n, r, 0);
    std::unique_ptr<DeviceBuffer>& slot = buffers_[key];
    if (!slot) {
        const std::vector<float> table = BuildWeightTable(shape, n, r);
        const size_t bytes = table.size() * sizeof(float);
        slot.reset(new DeviceBuffer(backend_, bytes));
        backend_.Upload(slot->Data(), bytes, table.data(), bytes, bytes, 1);
    }
    return DeviceWeights{static_cast<const float*>(slot->Data()),
                         static_cast<int>(slot->Bytes() / sizeof(float))};
}

}  // namespace tvf2
