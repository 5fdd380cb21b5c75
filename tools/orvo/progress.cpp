#include "progress.h"

#include <cstdio>

#include <unistd.h>

namespace orvo {

Progress::Progress(int total, bool enabled)
    : total_(total), active_(enabled && isatty(2)), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    End();
}

void Progress::FrameDone() {
    ++done_;
    if (!active_) return;
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double fps = secs > 0 ? done_ / secs : 0.0;
    if (total_ > 0) {
        int left = fps > 0 ? int((total_ - done_) / fps + 0.5) : 0;
        std::fprintf(stderr, "\rframe %d/%d  %.1f fps  %d:%02d left   ", done_, total_, fps,
                     left / 60, left % 60);
    } else {
        std::fprintf(stderr, "\rframe %d  %.1f fps   ", done_, fps);
    }
    std::fflush(stderr);
}

void Progress::End() {
    if (active_ && done_ > 0) std::fprintf(stderr, "\n");
    active_ = false;
}

} // namespace orvo
