// The golden regression cases, shared by the golden test (Linux module, any
// thread count) and orvo_golden_check (the Windows plug-in, without
// GoogleTest): the case table, the synthetic frames every case renders, the
// output hash, the recorded-hash file and the count of differing pixels.
//
// Cases are named by view and setting (e.g. Composite_High_CropOn); every
// case keys the same 192x144 green-screen plate over the same background.
#pragma once

#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "harness/harness.h"
#include "host/params.h"
#include "support/synthetic.h"

namespace golden {

using harness::Frame;

constexpr int kWidth = 192;
constexpr int kHeight = 144;

struct Case {
    std::string name;
    std::function<void(harness::Host&)> configure;
    bool keyIn = false;
    int padding = 0; // extra bytes per row of every frame
};

inline uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

inline std::string Hex(uint64_t v) {
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

// Choice `number` (1-based) of a '|'-separated popup list as one CamelCase
// word: "Separ. FG on BG" -> "SeparFGOnBG".
inline std::string ChoiceName(std::string_view choices, int number) {
    for (int i = 1; i < number; ++i)
        choices.remove_prefix(choices.find('|') + 1);
    choices = choices.substr(0, choices.find('|'));
    std::string name;
    bool wordStart = true;
    for (char c : choices) {
        if (!std::isalnum((unsigned char)c)) {
            wordStart = true;
            continue;
        }
        name += wordStart ? (char)std::toupper((unsigned char)c) : c;
        wordStart = false;
    }
    return name;
}

inline std::string View(int show) {
    return ChoiceName(param_rows::kShowChoices, show);
}

inline std::vector<Case> Cases() {
    using param_rows::kCorrectionChoices;
    using param_rows::kKeyOutChoices;
    using Configure = std::function<void(harness::Host&)>;
    std::vector<Case> cases;
    // A case showing `show` with the further settings of `more`, with a key-in
    // layer and rows padded as `keyIn` and `padding` are at the time.
    bool keyIn = false;
    int padding = 0;
    auto add = [&](int show, std::string name, Configure more) {
        cases.push_back({View(show) + name,
                         [=](harness::Host& h) {
                             h.SetPopup(ParamShow, show);
                             more(h);
                         },
                         keyIn, padding});
    };
    auto crop = [](harness::Host& h, double x, double y) {
        h.SetCheckbox(ParamCrop, true);
        h.SetPoint(ParamCropPosition, x, y);
    };

    for (int show = ShowForeground; show <= ShowComposite; ++show)
        for (int high = 0; high < 2; ++high)
            for (int on = 0; on < 2; ++on)
                add(show, std::string(high ? "_High" : "_Draft") + (on ? "_CropOn" : "_CropOff"),
                    [=](harness::Host& h) {
                        h.SetQuality(high != 0);
                        if (on) crop(h, 40, 30);
                    });
    keyIn = true;
    for (int keyOut = KeyOutNone; keyOut <= KeyOutFgMinusKeyIn; ++keyOut)
        add(ShowComposite, "_KeyIn_" + ChoiceName(kKeyOutChoices, keyOut),
            [=](harness::Host& h) { h.SetPopup(ParamKeyOut, keyOut); });
    add(ShowComposite, "_KeyIn_" + ChoiceName(kKeyOutChoices, KeyOutKeyInPlusFg) + "_CropOn",
        [=](harness::Host& h) {
            h.SetPopup(ParamKeyOut, KeyOutKeyInPlusFg);
            crop(h, 30, 20);
        });
    add(ShowComposite, "_KeyIn_Draft", [](harness::Host& h) { h.SetQuality(false); });
    add(ShowTransparency, "_KeyIn", [](harness::Host&) {});
    keyIn = false;

    for (int mode = CorrectionBrightness; mode <= CorrectionBlend; ++mode) {
        for (int show : {int(ShowComposite), int(ShowCorrectedBg)})
            add(show, "_BgCc" + ChoiceName(kCorrectionChoices, mode), [=](harness::Host& h) {
                h.SetPopup(ParamBgColorCorrection, mode);
                h.SetSlider(ParamBgCcStrength, 60);
                h.SetSlider(ParamBgCcBrightness, 20);
                h.SetColor(ParamBgCcColor, 200, 120, 40);
            });
        add(ShowComposite, "_FgCc" + ChoiceName(kCorrectionChoices, mode), [=](harness::Host& h) {
            h.SetPopup(ParamFgColorCorrection, mode);
            h.SetSlider(ParamFgCcStrength, 70);
            h.SetSlider(ParamFgCcBrightness, -15);
            h.SetColor(ParamFgCcColor, 30, 90, 220);
        });
    }
    for (int show : {int(ShowComposite), int(ShowShadows), int(ShowLights)})
        add(show, "_SmoothBgShadow",
            [](harness::Host& h) { h.SetCheckbox(ParamSmoothBgShadow, true); });
    for (int edge : {3, 10})
        for (int show : {int(ShowComposite), int(ShowTransparency)})
            add(show, "_Edge" + std::to_string(edge),
                [=](harness::Host& h) { h.SetSlider(ParamTranspEdge, edge); });

    add(ShowComposite, "_SeparationTuned", [](harness::Host& h) {
        h.SetSlider(ParamSeparationLevel, -20);
        h.SetFixedUnits(ParamSepDeviation, 30);
        h.SetSlider(ParamSepGreenShift, -25);
        h.SetFixedUnits(ParamTransparencyThreshold, 40);
        h.SetFixedUnits(ParamTranspStrength, 120);
        h.SetSlider(ParamTranspRedShift, 12);
    });
    add(ShowComposite, "_ShadowsLightsTuned", [](harness::Host& h) {
        h.SetFixedUnits(ParamShadowChroma, 30);
        h.SetFixedUnits(ParamShadowBrightness, 95);
        h.SetFixedUnits(ParamLightChroma, 50);
        h.SetFixedUnits(ParamReflectionChroma, 20);
        h.SetFixedUnits(ParamReflStrength, 60);
        h.SetSlider(ParamReflSuppressBlue, 40);
    });
    add(ShowComposite, "_HalfResolution_CropOn", [](harness::Host& h) {
        h.SetDownsample(1, 2, 1, 2);
        h.SetCheckbox(ParamCrop, true);
        h.SetSlider(ParamCropSize, 120);
        h.SetSlider(ParamTranspEdge, 5); // 2.5 at half resolution
    });
    padding = 24;
    add(ShowComposite, "_PaddedRows", [](harness::Host&) {});
    return cases;
}

// The frames of one case: the synthetic inputs and the output, all with the
// case's row padding.
struct CaseFrames {
    explicit CaseFrames(const Case& c)
        : fg(kWidth, kHeight, Rowbytes(c)), bg(kWidth, kHeight, Rowbytes(c)),
          keyIn(kWidth, kHeight, Rowbytes(c)), out(kWidth, kHeight, Rowbytes(c)) {
        synthetic::GreenScreen(fg.pixels.data(), kWidth, kHeight, fg.rowbytes);
        synthetic::Background(bg.pixels.data(), kWidth, kHeight, bg.rowbytes);
        synthetic::KeyInMatte(keyIn.pixels.data(), kWidth, kHeight, keyIn.rowbytes);
    }
    static int Rowbytes(const Case& c) { return kWidth * 4 + c.padding; }

    Frame fg, bg, keyIn, out;
};

// Gives a set-up host the case's layers and settings; the case then renders
// into frames.out. The frames must outlive the render.
inline void Configure(harness::Host& host, const Case& c, CaseFrames& frames) {
    host.SetLayer(0, &frames.fg);
    host.SetLayer(ParamBackground, &frames.bg);
    if (c.keyIn) host.SetLayer(ParamKeyIn, &frames.keyIn);
    host.SetColor(ParamChromaColor, 40, 190, 60);
    host.SetCheckbox(ParamCrop, false);
    c.configure(host);
}

// The recorded hashes: one "NAME HASH" line per case.
inline std::map<std::string, std::string> LoadHashes(const std::string& path) {
    std::map<std::string, std::string> hashes;
    std::ifstream in(path);
    std::string name, hash;
    while (in >> name >> hash)
        hashes[name] = hash;
    return hashes;
}

// What differs between the rendered frame and the expected bytes.
inline std::string DescribeDifference(const Frame& rendered, const std::vector<uint8_t>& expected) {
    if (expected.size() != rendered.pixels.size())
        return "the kept frame has " + std::to_string(expected.size()) + " bytes, not " +
               std::to_string(rendered.pixels.size());
    size_t bytes = 0, pixels = 0;
    int firstX = -1, firstY = -1;
    for (int y = 0; y < rendered.height; ++y)
        for (int x = 0; x < rendered.width; ++x) {
            const size_t at = size_t(rendered.Pixel(x, y) - rendered.pixels.data());
            int differing = 0;
            for (int c = 0; c < 4; ++c)
                differing += rendered.pixels[at + c] != expected[at + c];
            bytes += differing;
            pixels += differing != 0;
            if (differing && firstX < 0) firstX = x, firstY = y;
        }
    size_t total = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        total += rendered.pixels[i] != expected[i];
    std::ostringstream s;
    s << pixels << " of " << rendered.width * rendered.height << " pixels and " << total
      << " bytes differ";
    if (total > bytes) s << " (" << total - bytes << " in row padding)";
    if (firstX >= 0) {
        const uint8_t* r = rendered.Pixel(firstX, firstY);
        const uint8_t* e = expected.data() + (r - rendered.pixels.data());
        s << "; first at (" << firstX << ", " << firstY << "): ARGB " << int(r[0]) << ' '
          << int(r[1]) << ' ' << int(r[2]) << ' ' << int(r[3]) << ", expected " << int(e[0]) << ' '
          << int(e[1]) << ' ' << int(e[2]) << ' ' << int(e[3]);
    }
    return s.str();
}

// Renders one case on a fresh host loading `module` (threads 0: the module's
// own count) into *out; an empty string, or what went wrong.
inline std::string RenderOne(const std::string& module, const Case& c, uint32_t threads,
                             Frame* out) {
    harness::Host host;
    host.LoadModule(module);
    if (threads) host.SetThreadCount(threads);
    if (PF_Err err = host.Setup()) return "set-up returned " + std::to_string(err);
    CaseFrames frames(c);
    Configure(host, c, frames);
    const harness::RenderResult r = host.Render(frames.out);
    if (r.err) return "render returned " + std::to_string(r.err);
    if (r.outFlags) return "render set out flags " + Hex(r.outFlags) + ": " + r.message;
    host.Teardown();
    if (!host.Problems().empty()) return "problem toward the host: " + host.Problems().front();
    *out = frames.out;
    return {};
}

// The difference from the frame kept at `path`, when it has the recorded hash.
inline std::string KeptDifference(const std::string& path, const Frame& frame,
                                  const std::string& recorded) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> kept{std::istreambuf_iterator<char>(in), {}};
    if (!in || Hex(Fnv1a(kept)) != recorded)
        return "no kept frame with the recorded hash at " + path;
    return DescribeDifference(frame, kept);
}

} // namespace golden
