// Helpers for the tool tests: a scratch folder, small test pictures, and
// running the built `orvo` program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"
#include "key.h"

namespace tooltest {

// Whether `part` occurs in `text`.
inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fresh folder under the system's temporary folder, removed at destruction.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

  private:
    std::string path_;
};

struct RunResult {
    int status = -1;
    std::string out, err;
};
// Runs the orvo program with `args` (and ORVO_PLUGIN pointing at the module of
// this build, or at `plugin` when given).
RunResult RunOrvo(const std::vector<std::string>& args, const std::string& plugin = "");

// The plug-in module of this build, loaded once for the in-process tests.
orvo::Effect& SharedEffect();

// `orvo key` in this process: the exit status it would have, the error
// message it would print, and the notes (choices, warnings, summary).
struct KeyRun {
    int status = -1;
    std::string error;
    std::vector<std::string> notes;
    bool Noted(const std::string& part) const; // some note contains `part`
};
KeyRun Key(const orvo::KeyOptions& options);

// A w x h frame of a green backing with a red square in the middle; `seed`
// shifts the square so frames of a sequence differ.
orvo::Frame GreenPlate(int w, int h, int seed = 0);
// A frame filled with one colour (alpha 255).
orvo::Frame Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b);
// Writes an RGB (3-channel) or grey (1-channel) PNG directly through OpenImageIO.
void WritePng(const std::string& path, const orvo::Frame& f, int channels);
// Reads a PNG back in the host layout.
orvo::Frame ReadBack(const std::string& path);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);

} // namespace tooltest
