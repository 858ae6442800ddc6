#include "frame_window.h"

#include "errors.h"

#include <algorithm>

namespace tvf2 {

FrameWindow::FrameWindow(Backend& backend, int width, int height, int bytesPerPixel, int before,
                         int after)
    : backend_(backend),
      width_(width),
      height_(height),
      bytesPerPixel_(bytesPerPixel),
      before_(std::max(before, 0)),
      after_(std::max(after, 0)),
      ring_(static_cast<size_t>(Size())),
      frames_(static_cast<size_t>(Size())),
      pitches_(static_cast<size_t>(Size())) {}

void FrameWindow::Push(const void* host, size_t hostPitch) {
    if (ended_ || Ready()) throw Failure("internal error: frame pushed into a full window");
    std::unique_ptr<DeviceImage>& slot = ring_[static_cast<size_t>(pushed_ % Size())];
    // A stream shorter than the window allocates only the frames it has.
    if (!slot) slot.reset(new DeviceImage(backend_, width_, height_, bytesPerPixel_));
    backend_.Upload(slot->Data(), slot->Pitch(), host, hostPitch, slot->RowBytes(), height_);
    ++pushed_;
    if (Ready()) Gather();
}

void FrameWindow::EndOfStream() {
    ended_ = true;
    if (Ready()) Gather();
}

bool FrameWindow::Ready() const {
    return current_ < pushed_ && (ended_ || pushed_ > current_ + after_);
}

const DeviceImage& FrameWindow::Held(long long number) const {
    return *ring_[static_cast<size_t>(number % Size())];
}

const DeviceImage& FrameWindow::Current() const {
    if (!Ready()) throw Failure("internal error: no current frame in the window");
    return Held(current_);
}

// The window's pointers and pitches, each neighbour clamped to the frames that exist.
void FrameWindow::Gather() {
    const long long last = pushed_ - 1;
    for (int i = 0; i < Size(); ++i) {
        const long long n = std::min(std::max(current_ - before_ + i, 0LL), last);
        frames_[i] = Held(n).Data();
        pitches_[i] = Held(n).Pitch();
    }
}

void FrameWindow::Advance() {
    if (!Ready()) throw Failure("internal error: the window has no current frame to pass");
    ++current_;
    if (Ready()) Gather();
}

}  // namespace tvf2
