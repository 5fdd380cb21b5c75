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
}

Effect::~Effect() = default;

std::string Effect::About() {
    std::string text;
    PF_Err err = host_->About(&text);
    if (err != 0)
        throw Failure("the plug-in failed the about command (error " + std::to_string(err) + ")");
    return text;
}

std::vector<ParamInfo> Effect::Params() const {
    std::vector<ParamInfo> out;
    for (const harness::ParamInfo& h : host_->Params()) {
        ParamInfo p;
        p.index = h.index;
        p.name = h.name;
        p.type = h.type;
        p.flags = h.flags;
        const PF_ParamDefUnion& u = h.def.u;
        switch (h.type) {
        case kParamSlider:
            p.validMin = u.sd.valid_min;
            p.validMax = u.sd.valid_max;
            p.sliderMin = u.sd.slider_min;
            p.sliderMax = u.sd.slider_max;
            p.dephault = u.sd.dephault;
            break;
        case kParamFixed:
            p.validMin = u.fd.valid_min;
            p.validMax = u.fd.valid_max;
            p.sliderMin = u.fd.slider_min;
            p.sliderMax = u.fd.slider_max;
            p.dephault = u.fd.dephault;
            p.precision = u.fd.precision;
            p.displayFlags = u.fd.display_flags;
            break;
        case kParamCheckbox:
            p.dephault = u.bd.dephault;
            break;
        case kParamColour:
            p.colour[0] = u.cd.dephault.alpha;
            p.colour[1] = u.cd.dephault.red;
            p.colour[2] = u.cd.dephault.green;
            p.colour[3] = u.cd.dephault.blue;
            break;
        case kParamPoint:
            p.xDephault = u.td.x_dephault;
            p.yDephault = u.td.y_dephault;
            p.restrictBounds = u.td.restrict_bounds != 0;
            break;
        case kParamPopup:
            p.dephault = u.pd.dephault;
            p.choices = h.choices;
            break;
        default:
            break;
        }
        out.push_back(std::move(p));
    }
    return out;
}

Effect::Result Effect::Render(const Frame& fg, const Frame* bg, const Frame* keyIn,
                              const ParamSet& params, int fullWidth, int fullHeight, int factor,
                              bool draft, int frameIndex, Frame* out) {
    harness::Frame hfg, hbg, hki, hout(fg.width, fg.height);
    ToHost(fg, &hfg);
    if (bg) ToHost(*bg, &hbg);
    if (keyIn) ToHost(*keyIn, &hki);
    const std::vector<ParamInfo>& infos = params.infos();
    const std::vector<ParamValue>& values = params.values();
    try {
        for (size_t i = 0; i < infos.size(); ++i) {
            const ParamInfo& p = infos[i];
            const ParamValue& v = values[i];
            switch (p.type) {
            case kParamSlider:
                host_->SetSlider(p.index, v.value);
                break;
            case kParamFixed:
                host_->SetFixed(p.index, v.value);
                break;
            case kParamCheckbox:
                host_->SetCheckbox(p.index, v.value != 0);
                break;
            case kParamColour:
                host_->SetColor(p.index, v.colour[1], v.colour[2], v.colour[3], v.colour[0]);
                break;
            case kParamPoint:
                if (v.pointSet) {
                    int32_t x, y;
                    params.PointFixed(int(i), fullWidth, fullHeight, factor, &x, &y);
                    host_->SetPointFixed(p.index, x, y);
                } else {
                    host_->ResetPoint(p.index); // the host's share of the frame
                }
                break;
            case kParamPopup:
                host_->SetPopup(p.index, v.value);
                break;
            default:
                break;
            }
        }
        host_->SetLayer(0, &hfg);
        host_->SetLayer(ParamBackground, bg ? &hbg : nullptr);
        host_->SetLayer(ParamKeyIn, keyIn ? &hki : nullptr);
        host_->SetQuality(!draft);
        host_->SetDownsample(1, A_u_long(factor), 1, A_u_long(factor));
        host_->SetTime(frameIndex, 1, 24);
    } catch (const harness::Error& e) {
        throw Failure(std::string("the stand-in host refused a setting: ") + e.what());
    }
    harness::RenderResult r = host_->Render(hout);
    try {
        // The frames are ours and about to go: the host must not keep them.
        host_->SetLayer(0, nullptr);
        host_->SetLayer(ParamBackground, nullptr);
        host_->SetLayer(ParamKeyIn, nullptr);
    } catch (const harness::Error&) {
    }
    out->width = hout.width;
    out->height = hout.height;
    out->px.resize(size_t(hout.width) * size_t(hout.height) * 4);
    for (int y = 0; y < hout.height; ++y)
        std::copy(hout.Pixel(0, y), hout.Pixel(0, y) + size_t(hout.width) * 4, out->pixel(0, y));
    Result res;
    res.err = r.err;
    if (r.outFlags & 0x100) res.message = r.message;
    return res;
}

std::vector<uint8_t> Effect::SequenceRecord() const {
    return host_->HandleBytes(host_->SequenceHandle());
}

void Effect::SetSequenceRecord(const std::vector<uint8_t>& bytes) {
    if (!host_->SetHandleBytes(host_->SequenceHandle(), bytes))
        throw Failure(
            "cannot restore the effect's sequence record: " + std::to_string(bytes.size()) +
            " bytes given, the effect keeps " + std::to_string(SequenceRecord().size()));
}

} // namespace orvo
