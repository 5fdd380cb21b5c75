#include "effect.h"

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "errors.h"
#include "harness/harness.h"
#include "host/params.h"

namespace fs = std::filesystem;

namespace orvo {

namespace {

std::string ExecutableDir() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

// Copies our frame into a harness frame (packed rows).
void ToHost(const Frame& f, harness::Frame* h) {
    h->width = f.width;
    h->height = f.height;
    h->rowbytes = f.width * 4;
    h->pixels = f.px;
}

} // namespace

std::string FindPluginModule() {
    if (const char* env = std::getenv("ORVO_PLUGIN"); env && *env) return env;
    std::string dir = ExecutableDir();
    std::error_code ec;
    if (!dir.empty() && fs::exists(fs::path(dir) / "AEORVO.so", ec))
        return (fs::path(dir) / "AEORVO.so").string();
#ifdef ORVO_PLUGIN_PATH
    return ORVO_PLUGIN_PATH;
#else
    return "AEORVO.so";
#endif
}

Effect::Effect(const std::string& modulePath) : host_(std::make_unique<harness::Host>()) {
    try {
        host_->LoadModule(modulePath);
    } catch (const std::exception& e) {
        throw Failure("cannot load the plug-in \"" + modulePath + "\": " + e.what() +
                      " (set ORVO_PLUGIN to its path)");
    }
    PF_Err err = host_->Setup();
    if (err != 0) throw Failure("the plug-in failed to set up (error " + std::to_string(err) + ")");
    // ORVO_THREADS limits the effect's worker threads (unset: one per processor).
    if (const char* env = std::getenv("ORVO_THREADS"); env && *env) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (*end != '\0' || n < 1 || n > 1024)
            throw UsageError(std::string("ORVO_THREADS=\"") + env +
                             "\": expected a whole number from 1 to 1024");
        try {
            host_->SetThreadCount(uint32_t(n));
        } catch (const harness::Error& e) {
            throw Failure(std::string("cannot set the thread count: ") + e.what());
        }
    }
}

Effect::~Effect() = default;

std::string Effect::About() {
    std::string text;
    PF_Err err = host_->About(&text);
    if (err != 0)
        throw Failure("the plug-in failed the about command (error " + std::to_string(err) + ")");
    return text;
}

const std::vector<ParamInfo>& Effect::Params() const {
    return host_->Params();
}

std::vector<uint8_t> Effect::SequenceRecord() const {
    return host_->HandleBytes(host_->SequenceHandle());
}

void Effect::SetSequenceRecord(const std::vector<uint8_t>& bytes) {
    PF_Handle handle = host_->SequenceHandle();
    const size_t size = host_->HandleBytes(handle).size();
    if (size == 0 || size != bytes.size())
        throw Failure("cannot restore the effect's sequence record: it holds " +
                      std::to_string(size) + " bytes, the saved one " +
                      std::to_string(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(*handle));
}

void Effect::RestartSequence() {
    PF_Err err = host_->SequenceSetdown();
    if (err == 0) err = host_->SequenceSetup();
    if (err != 0)
        throw Failure("the plug-in failed to set up a new sequence (error " + std::to_string(err) +
                      ")");
}

Effect::Result Effect::Render(const Frame& fg, const Frame* bg, const Frame* keyIn,
                              const ParamSet& params, int fullWidth, int fullHeight, int factor,
                              bool draft, int frameIndex, Frame* out) {
    ToHost(fg, &hostFg_);
    if (bg) ToHost(*bg, &hostBg_);
    if (keyIn) ToHost(*keyIn, &hostKeyIn_);
    // A cleared output, as a new frame would be.
    hostOut_.width = fg.width;
    hostOut_.height = fg.height;
    hostOut_.rowbytes = fg.width * 4;
    hostOut_.pixels.assign(size_t(hostOut_.rowbytes) * size_t(fg.height), 0);
    const std::vector<ParamInfo>& infos = params.infos();
    const std::vector<ParamValue>& values = params.values();
    try {
        for (size_t i = 0; i < infos.size(); ++i) {
            const ParamInfo& p = infos[i];
            const ParamValue& v = values[i];
            switch (p.type) {
            case PF_Param_SLIDER:
                host_->SetSlider(p.index, v.value);
                break;
            case PF_Param_FIX_SLIDER:
                host_->SetFixed(p.index, v.value);
                break;
            case PF_Param_CHECKBOX:
                host_->SetCheckbox(p.index, v.value != 0);
                break;
            case PF_Param_COLOR:
                host_->SetColor(p.index, v.colour[1], v.colour[2], v.colour[3], v.colour[0]);
                break;
            case PF_Param_POINT:
                if (v.pointSet) {
                    int32_t x, y;
                    params.PointFixed(int(i), fullWidth, fullHeight, factor, &x, &y);
                    host_->SetPointFixed(p.index, x, y);
                } else {
                    host_->ResetPoint(p.index); // the host's share of the frame
                }
                break;
            case PF_Param_POPUP:
                host_->SetPopup(p.index, v.value);
                break;
            default:
                break;
            }
        }
        host_->SetLayer(0, &hostFg_);
        host_->SetLayer(ParamBackground, bg ? &hostBg_ : nullptr);
        host_->SetLayer(ParamKeyIn, keyIn ? &hostKeyIn_ : nullptr);
        host_->SetQuality(!draft);
        host_->SetDownsample(1, A_u_long(factor), 1, A_u_long(factor));
        host_->SetTime(frameIndex, 1, 24);
    } catch (const harness::Error& e) {
        throw Failure(std::string("the stand-in host refused a setting: ") + e.what());
    }
    harness::RenderResult r = host_->Render(hostOut_);
    try {
        // The frames are ours and about to go: the host must not keep them.
        host_->SetLayer(0, nullptr);
        host_->SetLayer(ParamBackground, nullptr);
        host_->SetLayer(ParamKeyIn, nullptr);
    } catch (const harness::Error&) {
    }
    const harness::Frame& h = hostOut_;
    out->width = h.width;
    out->height = h.height;
    if (h.rowbytes == h.width * 4) {
        // Packed rows: the output takes the pixels, the host the old buffer.
        out->px.swap(hostOut_.pixels);
    } else {
        out->px.resize(size_t(h.width) * size_t(h.height) * 4);
        for (int y = 0; y < h.height; ++y)
            std::copy(h.Pixel(0, y), h.Pixel(0, y) + size_t(h.width) * 4, out->pixel(0, y));
    }
    Result res;
    res.err = r.err;
    if (r.outFlags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) res.message = r.message;
    return res;
}

} // namespace orvo
