// A window of device frames around a current frame, for filters that read the
// neighbouring frames of a stream: `before` frames before the current one and `after`
// frames after it.
//
// Frames are pushed in stream order and each is uploaded once, into a ring of
// before + after + 1 device frames. A frame becomes current once the `after` frames
// that follow it have been pushed, or the stream has ended; where the window reaches
// past either end of the stream it repeats the nearest frame (the first frame before
// the start, the last after the end). So every input frame is current exactly once, and
// a filter produces as many frames as it reads. A single picture is a stream of one
// frame: every entry of its window is that frame.
#ifndef TVF2_TOOL_FRAME_WINDOW_H
#define TVF2_TOOL_FRAME_WINDOW_H

#include "backend.h"
#include "filter_job.h"
#include "layout.h"

#include <memory>
#include <vector>

namespace tvf2 {

class FrameWindow {
public:
    // Frames of width x height pixels of bytesPerPixel bytes. before, after >= 0.
    FrameWindow(Backend& backend, int width, int height, int bytesPerPixel, int before, int after);
    FrameWindow(const FrameWindow&) = delete;
    FrameWindow& operator=(const FrameWindow&) = delete;

    int Before() const { return before_; }
    int After() const { return after_; }
    int Size() const { return before_ + after_ + 1; }

    // Uploads the next frame of the stream (rows of width * bytesPerPixel bytes, hostPitch
    // apart). Only while !Ready(): the ring holds no more than one window. Throws Failure.
    void Push(const void* host, size_t hostPitch);
    // No frame follows the ones pushed.
    void EndOfStream();

    // Whether the next frame to filter has its whole window on the device.
    bool Ready() const;
    // The window of the current frame (only while Ready()): Size() device frames in
    // stream order, the current frame at CurrentIndex(), repeated frames at the ends.
    const void* const* Frames() const { return frames_.data(); }
    const int* Pitches() const { return pitches_.data(); }
    int CurrentIndex() const { return before_; }
    const DeviceImage& Current() const;
    long long CurrentNumber() const { return current_; }  // 0 for the stream's first frame
    // The next frame becomes current.
    void Advance();

private:
    const DeviceImage& Held(long long number) const;  // frame `number`, which the ring holds
    void Gather();

    Backend& backend_;
    int width_, height_, bytesPerPixel_, before_, after_;
    std::vector<std::unique_ptr<DeviceImage>> ring_;  // frame n in entry n % Size()
    long long pushed_ = 0, current_ = 0;
    bool ended_ = false;
    std::vector<const void*> frames_;
    std::vector<int> pitches_;
};

// A filter of a frame together with its neighbours (the window-reading counterpart of
// FrameFilter).
class WindowFilter {
public:
    virtual ~WindowFilter() = default;
    virtual bool Supports(Layout layout) const = 0;
    // Checks the parameters against the input before any device work; throws UsageError.
    virtual void Check(Layout layout, int width, int height) const {
        (void)layout, (void)width, (void)height;
    }
    // The frames the window holds before and after the current one.
    virtual int Before() const = 0;
    virtual int After() const = 0;
    // Filters the window's current frame into dst, which holds a copy of it. Throws
    // Failure for a module status.
    virtual void Apply(Backend& backend, Layout layout, const FrameWindow& window,
                       DeviceImage& dst) = 0;
};

// Runs the job with a window of frames (a PNG picture is a window of one frame); the
// output has as many frames as the input (up to job.maxFrames). Throws Failure /
// UsageError.
void RunWindowJob(Context& context, const FilterJob& job, WindowFilter& filter);

}  // namespace tvf2

#endif
