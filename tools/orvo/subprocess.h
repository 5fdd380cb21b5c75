// A child program with one of its standard streams connected to us through a
// pipe; its error output goes to a temporary file we read when it fails.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace orvo {

class Subprocess {
  public:
    enum class Pipe { kReadStdout, kWriteStdin, kNone };

    Subprocess() = default;
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // Starts argv[0] (searched in PATH); false with a message when it cannot start.
    bool Start(const std::vector<std::string>& argv, Pipe pipe, std::string* error);
    // Reads up to n bytes, retrying until n or end of stream; returns the count read.
    size_t Read(void* data, size_t n);
    // Writes all n bytes; false when the child stopped reading.
    bool Write(const void* data, size_t n);
    // Closes our end of the pipe and waits; returns the exit status (-1 on a signal).
    int Wait();
    // Ends the child at once (used when we give up on it).
    void Kill();
    // What the child wrote to its error output from byte `from` on, on one line.
    std::string ErrorText(size_t from = 0) const;
    // How many bytes the child has written to its error output so far.
    size_t ErrorSize() const;

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string errPath_;
};

// Runs a program to the end, collecting its standard output; returns its exit status.
int RunCapture(const std::vector<std::string>& argv, std::string* out, std::string* err);

} // namespace orvo
