// Progress of multi-frame work on stderr: frames done / total, speed, time left.
#pragma once

#include <chrono>

namespace orvo {

class Progress {
  public:
    // Shown only when `enabled` and stderr is a terminal.
    Progress(int total, bool enabled);
    ~Progress();
    void FrameDone();
    void End();

  private:
    int total_, done_ = 0;
    bool active_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace orvo
