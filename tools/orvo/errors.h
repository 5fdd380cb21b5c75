// Failures the tool reports to the user, with the exit status they map to.
#pragma once

#include <stdexcept>
#include <string>

namespace orvo {

enum ExitCode {
    kExitOk = 0,
    kExitFailure = 1, // anything not covered below (I/O errors writing output, plug-in load)
    kExitUsage = 2,   // bad command line, bad parameter value, missing or corrupt input
    kExitEffect = 3,  // the effect reported a message
};

class ToolError : public std::runtime_error {
  public:
    ToolError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// Bad usage or bad input: exit 2.
inline ToolError UsageError(const std::string& message) {
    return ToolError(kExitUsage, message);
}
// Any other failure: exit 1.
inline ToolError Failure(const std::string& message) {
    return ToolError(kExitFailure, message);
}

} // namespace orvo
