#include "tool_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include "effect.h"
#include "errors.h"
#include "image_io.h"
#include "progress.h"
#include "subprocess.h"

namespace fs = std::filesystem;

namespace tooltest {

ScratchDir::ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "orvo-tool-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : "";
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult RunProgram(const std::vector<std::string>& argv) {
    RunResult r;
    r.status = orvo::RunCapture(argv, &r.out, &r.err);
    return r;
}

RunResult RunOrvo(const std::vector<std::string>& args, const std::string& plugin) {
    setenv("ORVO_PLUGIN", plugin.empty() ? ORVO_TEST_PLUGIN : plugin.c_str(), 1);
    std::vector<std::string> argv = {ORVO_TEST_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

bool Ffmpeg(const std::string& args) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    std::istringstream words(args);
    for (std::string w; words >> w;)
        argv.push_back(w);
    return RunProgram(argv).status == 0;
}

orvo::Effect& SharedEffect() {
    static orvo::Effect effect(ORVO_TEST_PLUGIN);
    return effect;
}

bool KeyRun::Says(const std::string& part) const {
    return Contains(error, part) ||
           std::any_of(notes.begin(), notes.end(), [&](auto& n) { return Contains(n, part); });
}

KeyRun Key(const orvo::KeyOptions& options) {
    KeyRun run;
    int status = 0;
    orvo::SetNoteSink([&](const std::string& line) { run.notes.push_back(line); });
    std::tie(run.status, run.error) =
        Thrown([&] { status = orvo::RunKey(options, SharedEffect()); });
    orvo::SetNoteSink(nullptr);
    if (run.status < 0) run.status = status;
    return run;
}

orvo::KeyOptions Options(const ScratchDir& dir, const std::string& fields) {
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

orvo::Frame GreenPlate(int w, int h, int seed) {
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

orvo::Frame Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    orvo::Frame f(w, h);
    for (size_t i = 0; i < f.px.size(); i += 4)
        f.px[i] = 255, f.px[i + 1] = r, f.px[i + 2] = g, f.px[i + 3] = b;
    return f;
}

orvo::Frame Noise(int w, int h) {
    orvo::Frame f(w, h);
    for (size_t i = 0; i < f.px.size(); ++i)
        f.px[i] = uint8_t((i * 2654435761u) >> 13);
    return f;
}

void WritePng(const std::string& path, const orvo::Frame& f, int channels) {
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

orvo::Frame ReadBack(const std::string& path) {
    return orvo::ReadImage(path, orvo::FrameRole::kColour);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

} // namespace tooltest
