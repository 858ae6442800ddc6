#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace tvf2 {

bool ProgressWanted(bool forced) {
    return forced || isatty(STDERR_FILENO) == 1;
}

Progress::Progress(bool enabled, long long total)
    : enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress::~Progress() {
    if (drawn_) std::fputc('\n', stderr);
}

void Progress::Update(long long done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    Draw(done, false);
}

void Progress::Finish(long long done) {
    if (!enabled_) return;
    Draw(done, true);
    std::fputc('\n', stderr);
    drawn_ = false;
}

void Progress::Draw(long long done, bool final) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fps = seconds > 0 ? done / seconds : 0.0;
    char line[160];
    int n = std::snprintf(line, sizeof line, "\rtvf2: frame %lld", done);
    if (total_ >= 0) n += std::snprintf(line + n, sizeof line - n, "/%lld", total_);
    n += std::snprintf(line + n, sizeof line - n, ", %.1f fps", fps);
    if (!final && total_ > done && fps > 0) {
        const long long left = static_cast<long long>((total_ - done) / fps + 0.5);
        n += std::snprintf(line + n, sizeof line - n, ", ETA %lld:%02lld", left / 60, left % 60);
    }
    std::fprintf(stderr, "%s   ", line);  // the blanks clear a longer previous line
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace tvf2
