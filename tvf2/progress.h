// A progress line for video on stderr: frames done, frame rate and, when the frame
// count is known, the time left. Shown only where a person watches (stderr is a
// terminal) or when asked for; redrawn at most four times a second.
#ifndef TVF2_TOOL_PROGRESS_H
#define TVF2_TOOL_PROGRESS_H

#include <chrono>

namespace tvf2 {

class Progress {
public:
    // total: frames expected, or -1 if unknown.
    Progress(bool enabled, long long total);
    ~Progress();  // ends the line if one was drawn (also when a frame failed)
    void Update(long long done);
    void Finish(long long done);

private:
    void Draw(long long done, bool final);
    bool enabled_;
    bool drawn_ = false;
    long long total_;
    std::chrono::steady_clock::time_point start_, last_;
};

// Whether progress should be shown: forced, or stderr is a terminal.
bool ProgressWanted(bool forced);

}  // namespace tvf2

#endif
