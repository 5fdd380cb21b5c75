// Helpers for the tool and farm tests: a scratch folder, small test pictures,
// `orvo key` in this process, and the built `orvo` program.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "errors.h"
#include "frame.h"
#include "key.h"

namespace tooltest {

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The exit code and message of the ToolError `f` throws; -1 and "" when it throws none.
template <class F> std::pair<int, std::string> Thrown(F f) {
    try {
        f();
    } catch (const orvo::ToolError& e) {
        return {e.code(), e.what()};
    }
    return {-1, ""};
}

// A fresh folder under the system's temporary folder, removed at destruction.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Files() const; // names, sorted

  private:
    std::string path_;
};

struct RunResult {
    int status = -1;
    std::string out, err;
};
// Runs a program (argv[0] looked up on PATH).
RunResult RunProgram(const std::vector<std::string>& argv);
// Runs the orvo program of this build with ORVO_PLUGIN set to this build's
// module, or to `plugin` when given.
RunResult RunOrvo(const std::vector<std::string>& args, const std::string& plugin = "");
// ffmpeg quietly, overwriting, with `args` split at spaces (so paths without
// spaces); true when it succeeded.
bool Ffmpeg(const std::string& args);

// The plug-in module of this build, loaded once for the in-process tests.
orvo::Effect& SharedEffect();

// `orvo key` in this process: the exit status it would have, its error
// message and its notes (choices, warnings, the effect's message, summary).
struct KeyRun {
    int status = -1;
    std::string error;
    std::vector<std::string> notes;
    bool Says(const std::string& part) const; // the error or some note contains `part`
};
KeyRun Key(const orvo::KeyOptions& options);
// Options from "name=value;..." (fg, bg, keyIn, out, preset, savePreset: file
// names in `dir`; show, bgFit, resolution, frames, codec; set, repeatable).
orvo::KeyOptions Options(const ScratchDir& dir, const std::string& fields);

// A w x h green backing with a red square in the middle, moved by `seed`.
orvo::Frame GreenPlate(int w, int h, int seed = 0);
orvo::Frame Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b);
// Bytes that do not compress (every channel, alpha included).
orvo::Frame Noise(int w, int h);
// Writes an RGB (3), RGBA (4) or grey (1 channel) PNG directly through OpenImageIO.
void WritePng(const std::string& path, const orvo::Frame& f, int channels);
orvo::Frame ReadBack(const std::string& path); // a still in the host layout
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

} // namespace tooltest
