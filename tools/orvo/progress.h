// What the tool tells the user on stderr while it works: one-line notes
// ("orvo: ..."), and the progress of multi-frame work (frames done / total,
// speed, time left), redrawn in place on a terminal and as plain lines in a log.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace orvo {

// Prints "orvo: <line>" on stderr (or hands `line` to the sink set below).
void Note(const std::string& line);
// Tests collect the notes instead of printing them; an empty function restores stderr.
void SetNoteSink(std::function<void(const std::string&)> sink);

class Progress {
  public:
    // Nothing is shown unless `enabled`. On a terminal one line is redrawn per
    // frame; otherwise a line is written at most every `logInterval` seconds
    // (and for the last frame), so logs show progress without flooding.
    Progress(int total, bool enabled, double logInterval = 5.0);
    ~Progress();
    void FrameDone();
    void End();
    int done() const { return done_; }
    double seconds() const;

  private:
    int total_, done_ = 0;
    bool enabled_, terminal_;
    double logInterval_, lastLogged_ = -1.0;
    std::chrono::steady_clock::time_point start_;
};

} // namespace orvo
