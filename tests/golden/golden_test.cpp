// Golden regression renders: synthetic green-screen frames keyed through the
// real plug-in module for every view, both qualities, crop on and off, a
// key-in layer, every colour-correction mode and shadow smoothing. Output
// bytes are hashed and compared with the recorded hashes, and every render
// must give the same bytes with 1, 2, 3 and 8 thread slots. Cases are named
// by view and setting (e.g. Composite_High_CropOn).
//
// A mismatch writes the rendered frame to <build>/golden-failures/NAME.pam
// and, when a frame with the recorded hash was kept by an earlier passing run
// (<build>/golden-frames/NAME.bytes), counts the differing pixels and bytes
// and shows the first differing pixel.
//
// To record new hashes after an intended change of the output:
//   ORVO_GOLDEN_UPDATE=1 test_golden   (rewrites golden_hashes.txt)
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
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

namespace {

using harness::Frame;
namespace fs = std::filesystem;

constexpr int kWidth = 192;
constexpr int kHeight = 144;

struct Case {
    std::string name;
    std::function<void(harness::Host&)> configure;
    bool keyIn = false;
    int padding = 0; // extra bytes per row of every frame
};

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

std::string Hex(uint64_t v) {
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

// Choice `number` (1-based) of a '|'-separated popup list as one CamelCase
// word: "Separ. FG on BG" -> "SeparFGOnBG".
std::string ChoiceName(std::string_view choices, int number) {
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

std::string View(int show) {
    return ChoiceName(param_rows::kShowChoices, show);
}

std::vector<Case> Cases() {
    using param_rows::kCorrectionChoices;
    using param_rows::kKeyOutChoices;
    using Configure = std::function<void(harness::Host&)>;
    std::vector<Case> cases;
    // A case showing `show` with the further settings of `more`.
    auto add = [&](int show, std::string name, Configure more, bool keyIn = false,
                   int padding = 0) {
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
    for (int keyOut = KeyOutNone; keyOut <= KeyOutFgMinusKeyIn; ++keyOut)
        add(
            ShowComposite, "_KeyIn_" + ChoiceName(kKeyOutChoices, keyOut),
            [=](harness::Host& h) { h.SetPopup(ParamKeyOut, keyOut); }, true);
    add(
        ShowComposite, "_KeyIn_" + ChoiceName(kKeyOutChoices, KeyOutKeyInPlusFg) + "_CropOn",
        [=](harness::Host& h) {
            h.SetPopup(ParamKeyOut, KeyOutKeyInPlusFg);
            crop(h, 30, 20);
        },
        true);
    add(
        ShowComposite, "_KeyIn_Draft", [](harness::Host& h) { h.SetQuality(false); }, true);
    add(
        ShowTransparency, "_KeyIn", [](harness::Host&) {}, true);

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
    add(
        ShowComposite, "_PaddedRows", [](harness::Host&) {}, false, 24);
    return cases;
}

// Renders one case on a fresh host with the given thread count.
Frame RenderCase(const Case& c, uint32_t threads = 2) {
    harness::Host host;
    host.LoadModule(ORVO_MODULE_PATH);
    host.SetThreadCount(threads);
    EXPECT_EQ(host.Setup(), 0);
    const int rowbytes = kWidth * 4 + c.padding;
    Frame fg(kWidth, kHeight, rowbytes), bg(kWidth, kHeight, rowbytes),
        out(kWidth, kHeight, rowbytes), keyIn(kWidth, kHeight, rowbytes);
    synthetic::GreenScreen(fg.pixels.data(), kWidth, kHeight, rowbytes);
    synthetic::Background(bg.pixels.data(), kWidth, kHeight, rowbytes);
    synthetic::KeyInMatte(keyIn.pixels.data(), kWidth, kHeight, rowbytes);
    host.SetLayer(0, &fg);
    host.SetLayer(ParamBackground, &bg);
    if (c.keyIn) host.SetLayer(ParamKeyIn, &keyIn);
    host.SetColor(ParamChromaColor, 40, 190, 60);
    host.SetCheckbox(ParamCrop, false);
    c.configure(host);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 0) << c.name;
    EXPECT_EQ(r.outFlags, 0) << c.name << ": " << r.message;
    host.Teardown();
    EXPECT_TRUE(host.Problems().empty()) << c.name;
    return out;
}

uint64_t RenderHash(const Case& c, uint32_t threads) {
    return Fnv1a(RenderCase(c, threads).pixels);
}

std::map<std::string, std::string> LoadHashes() {
    std::map<std::string, std::string> hashes;
    std::ifstream in(ORVO_GOLDEN_FILE);
    std::string name, hash;
    while (in >> name >> hash)
        hashes[name] = hash;
    return hashes;
}

// Frames of cases that matched their recorded hash, kept to compare against
// when a later render differs.
fs::path KeptFrame(const std::string& name) {
    return fs::path(ORVO_GOLDEN_OUTPUT_DIR) / "golden-frames" / (name + ".bytes");
}

void WriteFile(const fs::path& path, const std::string& header, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << header;
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

// The frame as a PAM file (RGB_ALPHA, any viewer or `convert` reads it).
fs::path WriteFailedFrame(const std::string& name, const Frame& frame) {
    std::vector<uint8_t> rgba;
    rgba.reserve(size_t(frame.width) * frame.height * 4);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* p = frame.Pixel(x, y); // alpha, red, green, blue
            rgba.insert(rgba.end(), {p[1], p[2], p[3], p[0]});
        }
    std::ostringstream header;
    header << "P7\nWIDTH " << frame.width << "\nHEIGHT " << frame.height
           << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    const fs::path path = fs::path(ORVO_GOLDEN_OUTPUT_DIR) / "golden-failures" / (name + ".pam");
    WriteFile(path, header.str(), rgba);
    return path;
}

// What differs between the rendered frame and the expected bytes.
std::string DescribeDifference(const Frame& rendered, const std::vector<uint8_t>& expected) {
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

// The report of a frame whose hash is not the recorded one.
std::string DescribeMismatch(const std::string& name, const Frame& frame,
                             const std::string& recorded) {
    std::ostringstream s;
    s << name << ": hash " << Hex(Fnv1a(frame.pixels)) << ", recorded " << recorded << "; ";
    std::ifstream in(KeptFrame(name), std::ios::binary);
    const std::vector<uint8_t> kept{std::istreambuf_iterator<char>(in), {}};
    if (in && Hex(Fnv1a(kept)) == recorded)
        s << DescribeDifference(frame, kept);
    else
        s << "no kept frame with the recorded hash (" << KeptFrame(name).string()
          << " is written by a passing run), so the difference cannot be counted";
    s << "; rendered frame written to " << WriteFailedFrame(name, frame).string();
    return s.str();
}

// Thread slots of the recorded-hash renders: 2 unless ORVO_GOLDEN_THREADS says
// otherwise (the emulated 32-bit run uses 1, where thread hand-offs are slow;
// the bytes do not depend on the count, see below).
uint32_t GoldenThreads() {
    const char* text = std::getenv("ORVO_GOLDEN_THREADS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? uint32_t(n) : 2;
}

TEST(Golden, RendersMatchRecordedHashes) {
    std::map<std::string, Frame> rendered;
    for (const Case& c : Cases())
        rendered[c.name] = RenderCase(c, GoldenThreads());
    if (std::getenv("ORVO_GOLDEN_UPDATE")) {
        std::ofstream out(ORVO_GOLDEN_FILE);
        for (const auto& [name, frame] : rendered)
            out << name << ' ' << Hex(Fnv1a(frame.pixels)) << '\n';
        GTEST_SKIP() << "recorded " << rendered.size() << " hashes";
    }
    std::map<std::string, std::string> recorded = LoadHashes();
    for (const auto& [name, hash] : recorded)
        EXPECT_TRUE(rendered.count(name)) << "recorded case " << name << " is not rendered";
    for (const auto& [name, frame] : rendered) {
        auto it = recorded.find(name);
        if (it == recorded.end()) {
            ADD_FAILURE() << name << " has no recorded hash";
        } else if (Hex(Fnv1a(frame.pixels)) != it->second) {
            ADD_FAILURE() << DescribeMismatch(name, frame, it->second);
        } else {
            WriteFile(KeptFrame(name), "", frame.pixels);
        }
    }
}

TEST(Golden, MismatchReportCountsTheDifferingPixels) {
    // The report itself, on a frame with row padding and two changed pixels.
    Frame expected(5, 3, 24);
    for (size_t i = 0; i < expected.pixels.size(); ++i)
        expected.pixels[i] = uint8_t(i * 7);
    Frame rendered = expected;
    rendered.Pixel(3, 0)[2] ^= 1;
    rendered.Pixel(1, 2)[0] ^= 1;
    rendered.Pixel(1, 2)[3] ^= 1;
    rendered.pixels[23] ^= 1; // padding after the first row
    EXPECT_EQ(DescribeDifference(rendered, expected.pixels),
              "2 of 15 pixels and 4 bytes differ (1 in row padding); first at (3, 0): ARGB 84 91 "
              "99 105, expected 84 91 98 105");
    EXPECT_EQ(DescribeDifference(expected, expected.pixels), "0 of 15 pixels and 0 bytes differ");
    EXPECT_EQ(DescribeDifference(expected, {1, 2}), "the kept frame has 2 bytes, not 72");
    EXPECT_EQ(ChoiceName(param_rows::kShowChoices, ShowSepFgOnBg), "SeparFGOnBG");
}

TEST(Golden, BytesDoNotDependOnTheThreadCount) {
    std::map<std::string, uint64_t> one;
    for (const Case& c : Cases())
        one[c.name] = RenderHash(c, 1);
    for (uint32_t threads : {2u, 3u, 8u})
        for (const Case& c : Cases())
            EXPECT_EQ(RenderHash(c, threads), one[c.name])
                << c.name << " with " << threads << " threads";
}

} // namespace
