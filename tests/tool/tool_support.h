// Helpers for the tool and farm tests: a scratch folder, small test pictures,
// `orvo key` in this process, and the built `orvo` program. The including
// test defines ORVO_TEST_EXE and ORVO_TEST_PLUGIN.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include "effect.h"
#include "errors.h"
#include "frame.h"
#include "image_io.h"
#include "key.h"
#include "progress.h"
#include "subprocess.h"

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
    ScratchDir() {
        std::string tmpl = std::filesystem::temp_directory_path() / "orvo-tool-test-XXXXXX";
        path_ = mkdtemp(tmpl.data()) ? tmpl : "";
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Files() const { // names, sorted
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

struct RunResult {
    int status = -1;
    std::string out, err;
};
// Runs a program (argv[0] looked up on PATH).
inline RunResult RunProgram(const std::vector<std::string>& argv) {
    RunResult r;
    r.status = orvo::RunCapture(argv, &r.out, &r.err);
    return r;
}
// Runs the orvo program of this build with ORVO_PLUGIN set to this build's
// module, or to `plugin` when given.
inline RunResult RunOrvo(std::vector<std::string> args, const std::string& plugin = "") {
    setenv("ORVO_PLUGIN", plugin.empty() ? ORVO_TEST_PLUGIN : plugin.c_str(), 1);
    args.insert(args.begin(), ORVO_TEST_EXE);
    return RunProgram(args);
}
// ffmpeg quietly, overwriting, with `args` split at spaces; true when it succeeded.
inline bool Ffmpeg(const std::string& args) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    std::istringstream words(args);
    for (std::string w; words >> w;)
        argv.push_back(w);
    return RunProgram(argv).status == 0;
}

// The plug-in module of this build, loaded once for the in-process tests.
inline orvo::Effect& SharedEffect() {
    static orvo::Effect effect(ORVO_TEST_PLUGIN);
    return effect;
}

// `orvo key` in this process: the exit status it would have, its error
// message and its notes (choices, warnings, the effect's message, summary).
struct KeyRun {
    int status = -1;
    std::string error;
    std::vector<std::string> notes;
    bool Says(const std::string& part) const { // the error or some note contains `part`
        return Contains(error, part) ||
               std::any_of(notes.begin(), notes.end(), [&](auto& n) { return Contains(n, part); });
    }
};
inline KeyRun Key(const orvo::KeyOptions& options) {
    KeyRun run;
    int status = 0;
    orvo::SetNoteSink([&](const std::string& line) { run.notes.push_back(line); });
    std::tie(run.status, run.error) =
        Thrown([&] { status = orvo::RunKey(options, SharedEffect()); });
    orvo::SetNoteSink(nullptr);
    if (run.status < 0) run.status = status;
    return run;
}
// Options from "name=value;..." (fg, bg, keyIn, out, preset, savePreset: file
// names in `dir`; show, bgFit, resolution, frames, codec; set, repeatable).
inline orvo::KeyOptions Options(const ScratchDir& dir, const std::string& fields) {
    orvo::KeyOptions o;
    std::map<std::string, std::string*> files = {
        {"fg", &o.fg},   {"bg", &o.bg},         {"keyIn", &o.keyIn},
        {"out", &o.out}, {"preset", &o.preset}, {"savePreset", &o.savePreset}};
    std::map<std::string, std::string*> words = {{"show", &o.show},
                                                 {"bgFit", &o.bgFit},
                                                 {"frames", &o.frames},
                                                 {"codec", &o.codec},
                                                 {"resolution", &o.resolution}};
    std::istringstream in(fields);
    for (std::string field; std::getline(in, field, ';');) {
        const std::string name = field.substr(0, field.find('=')),
                          value = field.substr(name.size() + 1);
        if (name == "set")
            o.sets.push_back(value);
        else if (files.count(name))
            *files[name] = value.empty() || value[0] == '/' ? value : dir / value;
        else
            *words.at(name) = value;
    }
    return o;
}

// A w x h green backing with a red square in the middle, moved by `seed`.
inline orvo::Frame GreenPlate(int w, int h, int seed = 0) {
    orvo::Frame f(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.pixel(x, y);
            const bool square =
                x >= w / 4 + seed && x < w / 2 + seed && y >= h / 4 && y < h * 3 / 4;
            p[0] = 255;
            p[1] = square ? 200 : 60;
            p[2] = square ? 40 : uint8_t(190 + (x + y) % 17);
            p[3] = square ? 30 : 80;
        }
    return f;
}
inline orvo::Frame Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    orvo::Frame f(w, h);
    for (size_t i = 0; i < f.px.size(); i += 4)
        f.px[i] = 255, f.px[i + 1] = r, f.px[i + 2] = g, f.px[i + 3] = b;
    return f;
}
// Writes an RGB (3), RGBA (4) or grey (1 channel) PNG directly through OpenImageIO.
inline void WritePng(const std::string& path, const orvo::Frame& f, int channels) {
    std::vector<uint8_t> data;
    for (size_t i = 0; i < f.px.size(); i += 4) {
        for (int c = 1; c <= (channels == 1 ? 1 : 3); ++c)
            data.push_back(f.px[i + size_t(c)]);
        if (channels == 4) data.push_back(f.px[i]);
    }
    auto out = OIIO::ImageOutput::create(path);
    out->open(path, OIIO::ImageSpec(f.width, f.height, channels, OIIO::TypeDesc::UINT8));
    out->write_image(OIIO::TypeDesc::UINT8, data.data());
    out->close();
}
inline orvo::Frame ReadBack(const std::string& path) { // a still in the host layout
    return orvo::ReadImage(path, orvo::FrameRole::kColour);
}
inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace tooltest
