#include "tool_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = mkdtemp(buf.data());
    path_ = made ? made : "";
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

RunResult RunOrvo(const std::vector<std::string>& args, const std::string& plugin) {
    setenv("ORVO_PLUGIN", plugin.empty() ? ORVO_TEST_PLUGIN : plugin.c_str(), 1);
    std::vector<std::string> argv = {ORVO_TEST_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r;
    r.status = orvo::RunCapture(argv, &r.out, &r.err);
    return r;
}

orvo::Effect& SharedEffect() {
    static orvo::Effect effect(ORVO_TEST_PLUGIN);
    return effect;
}

bool KeyRun::Noted(const std::string& part) const {
    for (const std::string& n : notes)
        if (n.find(part) != std::string::npos) return true;
    return false;
}

KeyRun Key(const orvo::KeyOptions& options) {
    KeyRun run;
    orvo::SetNoteSink([&](const std::string& line) { run.notes.push_back(line); });
    try {
        run.status = orvo::RunKey(options, SharedEffect());
    } catch (const orvo::ToolError& e) {
        run.status = e.code();
        run.error = e.what();
    }
    orvo::SetNoteSink(nullptr);
    return run;
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
    for (size_t i = 0; i < f.px.size(); i += 4) {
        f.px[i] = 255;
        f.px[i + 1] = r;
        f.px[i + 2] = g;
        f.px[i + 3] = b;
    }
    return f;
}

void WritePng(const std::string& path, const orvo::Frame& f, int channels) {
    auto out = OIIO::ImageOutput::create(path);
    OIIO::ImageSpec layout(f.width, f.height, channels, OIIO::TypeDesc::UINT8);
    std::vector<uint8_t> data;
    for (size_t i = 0; i < f.px.size(); i += 4) {
        if (channels == 1) {
            data.push_back(f.px[i + 1]);
        } else {
            for (int c = 1; c <= 3; ++c)
                data.push_back(f.px[i + size_t(c)]);
            if (channels == 4) data.push_back(f.px[i]);
        }
    }
    out->open(path, layout);
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

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

} // namespace tooltest
