#include "progress.h"

#include <cstdio>

#include <unistd.h>

namespace orvo {

namespace {

std::function<void(const std::string&)>& NoteSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

} // namespace

void Note(const std::string& line) {
    if (NoteSink()) {
        NoteSink()(line);
        return;
    }
    std::fprintf(stderr, "orvo: %s\n", line.c_str());
    std::fflush(stderr);
}

void SetNoteSink(std::function<void(const std::string&)> sink) {
    NoteSink() = std::move(sink);
}

Progress::Progress(int total, bool enabled, double logInterval)
    : total_(total), enabled_(enabled), terminal_(enabled && !NoteSink() && isatty(2)),
      logInterval_(logInterval), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    End();
}

double Progress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::FrameDone() {
    ++done_;
    if (!enabled_) return;
    const double secs = seconds();
    const double fps = secs > 0 ? done_ / secs : 0.0;
    char text[160];
    if (total_ > 0) {
        int left = fps > 0 ? int((total_ - done_) / fps + 0.5) : 0;
        std::snprintf(text, sizeof text, "frame %d/%d  %.1f fps  %d:%02d left", done_, total_, fps,
                      left / 60, left % 60);
    } else {
        std::snprintf(text, sizeof text, "frame %d  %.1f fps", done_, fps);
    }
    if (terminal_) {
        std::fprintf(stderr, "\r%s   ", text);
        std::fflush(stderr);
        return;
    }
    const bool last = total_ > 0 && done_ == total_;
    if (lastLogged_ < 0 || secs - lastLogged_ >= logInterval_ || last) {
        lastLogged_ = secs;
        Note(text);
    }
}

void Progress::End() {
    if (terminal_ && done_ > 0) std::fprintf(stderr, "\n");
    terminal_ = false;
    enabled_ = false;
}

} // namespace orvo
