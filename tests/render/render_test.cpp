// The render driver through the stand-in host: trivial views, messages,
// layer validation, the backing-colour cache of the sequence record, the crop
// on a small output, the alpha by key-out and the host's failures. Every test ends with
// the host's contract checks (no problems left behind).
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"
#include "host/render.h"

namespace {

using harness::Frame;
const char* const kSizeMessage = "FG, BG and optional KeyIn must have the same size!";

struct RenderTest : ::testing::Test {
    harness::Host host;
    Frame fg, bg, out;
    Frame keyIn, other; // further layers; members so they outlive the host's set-down

    void SetUp() override {
        host.BindEntry(EffectMain);
        ASSERT_EQ(host.Setup(), 0);
    }
    void TearDown() override {
        host.Teardown();
        EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
    }
    // Foreground (10, 20, 30), background (1, 2, 3) attached, view `show`.
    void Frames(int w, int h, int show = ShowCorrectedBg) {
        fg = Frame(w, h);
        bg = Frame(w, h);
        out = Frame(w, h);
        fg.Fill(255, 10, 20, 30);
        bg.Fill(255, 1, 2, 3);
        host.SetLayer(0, &fg);
        host.SetLayer(ParamBackground, &bg);
        host.SetPopup(ParamShow, show);
    }
    std::vector<uint8_t> Record() { return host.HandleBytes(host.SequenceHandle()); }
    static bool AllPixels(const Frame& f, uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const uint8_t* p = f.Pixel(x, y);
                if (p[0] != a || p[1] != r || p[2] != g || p[3] != b) return false;
            }
        return true;
    }
    // Brightens the background by half (9 -> 13) inside a crop from (50, 2).
    void CropAndBrighten() {
        bg.Fill(255, 9, 9, 9);
        host.SetCheckbox(ParamCrop, true);
        host.SetPoint(ParamCropPosition, 50, 2);
        host.SetPopup(ParamBgColorCorrection, CorrectionBrightness);
        host.SetSlider(ParamBgCcBrightness, 50);
    }
};

TEST_F(RenderTest, TrivialViewsAndRefusedLayers) {
    enum Layers {
        kAsIs,
        kNoBackground,
        kBackgroundAlpha7,
        kBackgroundRowOf10,
        kKeyIn8x5,
        kKeyIn4x8,
        kCropBrightened
    };
    const struct {
        const char* what;
        int show, width;
        Layers layers;
        const char* message; // null: no message
        uint8_t pixel[4];
    } cases[] = {
        // clang-format off
        {"foreground", ShowForeground, 8, kAsIs, nullptr, {255, 10, 20, 30}},
        {"background", ShowBackground, 200, kAsIs, nullptr, {255, 1, 2, 3}},
        {"background without its layer", ShowBackground, 200, kNoBackground, nullptr, {255, 10, 20, 30}},
        {"background on a small output", ShowBackground, 120, kAsIs, nullptr, {255, 10, 20, 30}},
        {"corrected background, no correction: opaque", ShowCorrectedBg, 16, kBackgroundAlpha7, nullptr, {255, 1, 2, 3}},
        {"background of another row length: grey", ShowCorrectedBg, 8, kBackgroundRowOf10, nullptr, {255, 128, 128, 128}},
        {"missing background", ShowComposite, 8, kNoBackground, "You first have to select the background layer!", {0, 0, 0, 0}},
        {"key-in of another height", ShowCorrectedBg, 8, kKeyIn8x5, kSizeMessage, {0, 0, 0, 0}},
        {"key-in of the same pixel count, other shape", ShowCorrectedBg, 8, kKeyIn4x8, kSizeMessage, {0, 0, 0, 0}},
        {"a small output ignores the crop", ShowCorrectedBg, 120, kCropBrightened, nullptr, {255, 13, 13, 13}}, // last: it sets the crop
        // clang-format on
    };
    for (const auto& c : cases) {
        Frames(c.width, 4, c.show);
        other = Frame(8, 4, 40); // 10 pixels per row
        other.Fill(255, 1, 2, 3);
        keyIn = c.layers == kKeyIn8x5 ? Frame(8, 5) : Frame(4, 8);
        host.SetLayer(ParamKeyIn,
                      c.layers == kKeyIn8x5 || c.layers == kKeyIn4x8 ? &keyIn : nullptr);
        if (c.layers == kCropBrightened) CropAndBrighten();
        if (c.layers == kNoBackground) host.SetLayer(ParamBackground, nullptr);
        if (c.layers == kBackgroundAlpha7) bg.Fill(7, 1, 2, 3);
        if (c.layers == kBackgroundRowOf10) host.SetLayer(ParamBackground, &other);
        harness::RenderResult r = host.Render(out);
        EXPECT_EQ(r.err, 0) << c.what;
        EXPECT_EQ(r.outFlags, c.message ? PF_OutFlag_DISPLAY_ERROR_MESSAGE : 0) << c.what;
        EXPECT_EQ(r.message, c.message ? c.message : "") << c.what;
        EXPECT_TRUE(AllPixels(out, c.pixel[0], c.pixel[1], c.pixel[2], c.pixel[3])) << c.what;
    }
}

// Key blue, green, red at bytes 8..10, the measured colour at 11..13; the
// same key reuses the measurement, re-set-up clears the key, a frame with no
// pixel near the key stores black and later frames pass it on.
TEST_F(RenderTest, BackingColourIsCachedInTheSequenceRecord) {
    Frames(16, 8);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    const struct {
        bool resetup;
        uint8_t r, g, b;
        std::vector<uint8_t> bytes8to13;
    } frames[] = {{false, 20, 200, 30, {0, 255, 0, 30, 200, 20}},
                  {false, 10, 150, 10, {0, 255, 0, 30, 200, 20}},
                  {true, 10, 150, 10, {0, 255, 0, 10, 150, 10}},
                  {true, 255, 0, 0, {0, 255, 0, 0, 0, 0}},
                  {false, 0, 255, 0, {0, 255, 0, 0, 0, 0}}};
    for (const auto& f : frames) {
        if (f.resetup) {
            ASSERT_EQ(host.SequenceResetup(), 0);
            const std::vector<uint8_t> cleared = Record();
            EXPECT_EQ(cleared[8] + cleared[9] + cleared[10], 0);
        }
        fg.Fill(255, f.r, f.g, f.b);
        host.Render(out);
        const std::vector<uint8_t> rec = Record();
        ASSERT_EQ(rec.size(), 16u);
        EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 8, rec.begin() + 14), f.bytes8to13);
    }
}

// A key-out mode leaves the alpha to the stages, also without a key-in
// layer; a value outside the list acts as "None": the output is opaque.
TEST_F(RenderTest, OutputAlphaFollowsTheKeyOut) {
    Frames(16, 8, ShowComposite);
    fg.Fill(255, 0, 255, 0);
    host.SetQuality(false);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    host.SetPopup(ParamKeyOut, KeyOutKeyInPlusFg);
    host.Render(out);
    EXPECT_EQ(out.Pixel(3, 3)[0], 0);
    host.SetPopup(ParamKeyOut, 7);
    host.Render(out);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            ASSERT_EQ(out.Pixel(x, y)[0], 255);
}

// A failed checkout of "Background" ends the render at once; one of "Key
// In" checks "Background" back in first. A failed copy of a trivial view
// passes its code on; a zero downsampling denominator refuses the keyed
// frame; without sequence data nothing happens (not even the missing-layer
// message). The output is left alone each time.
TEST_F(RenderTest, HostFailuresReturnTheirCodes) {
    Frames(8, 4, ShowForeground);
    auto render = [&] {
        const harness::RenderResult r = host.Render(out);
        return std::vector<long>{r.err, long(r.outFlags), host.OutstandingCheckouts(),
                                 AllPixels(out, 0, 0, 0, 0)};
    };
    for (PF_ParamIndex index : {ParamBackground, ParamKeyIn}) {
        host.FailCheckout(index, 517);
        EXPECT_EQ(render(), (std::vector<long>{517, 0, 0, 1}));
        host.FailCheckout(index, 0);
    }
    host.FailCopy(7);
    EXPECT_EQ(host.Render(out).err, 7);
    host.FailCopy(0);
    host.SetPopup(ParamShow, ShowComposite);
    for (auto [xDen, yDen] : {std::pair<A_u_long, A_u_long>{0, 1}, {1, 0}}) {
        host.ForceDownsample({1, xDen}, {1, yDen});
        EXPECT_EQ(render(), (std::vector<long>{PF_Err_INTERNAL_STRUCT_DAMAGED, 0, 0, 1}));
    }
    host.SetDownsample(1, 1, 1, 1);
    host.SetLayer(ParamBackground, nullptr);
    const PF_Handle sequence = host.SequenceHandle();
    host.SetSequenceHandle(nullptr);
    EXPECT_EQ(render(), (std::vector<long>{0, 0, 0, 1}));
    host.SetSequenceHandle(sequence);
}

// A sequence handle too short for the record (another layout, a foreign or
// flattened record) is never read or written: the backing is measured anew.
// A record of at least 16 bytes is used, and so is any record when the host
// cannot tell handle sizes.
TEST_F(RenderTest, ShortSequenceRecordsAreMeasuredAnewAndLeftAlone) {
    Frames(16, 8);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    fg.Fill(255, 20, 200, 30);
    host.Render(out); // the real record now holds the key and (20, 200, 30)
    fg.Fill(255, 10, 150, 10);
    const PF_Handle record = host.SequenceHandle();
    const struct {
        size_t bytes;
        bool sizeKnown, used;
    } sizes[] = {{0, true, false}, {13, true, false}, {15, true, false},
                 {16, true, true}, {32, true, true},  {16, false, true}};
    for (const auto& s : sizes) {
        std::vector<uint8_t> before = host.HandleBytes(record); // key and (20, 200, 30)
        before.resize(s.bytes, 0xAB);
        const PF_Handle handle = host.NewHandle(s.bytes);
        if (s.bytes > 0) std::memcpy(*handle, before.data(), s.bytes);
        host.SetSequenceHandle(handle);
        host.OfferHandleSize(s.sizeKnown);
        EXPECT_EQ(host.Render(out).err + host.SequenceResetup(), 0);
        host.OfferHandleSize(true);
        host.SetSequenceHandle(record);
        const std::vector<uint8_t> after = host.HandleBytes(handle);
        if (s.used) // re-set-up cleared the key; the stored measurement was used
            EXPECT_EQ(std::vector<int>({after[8] + after[9] + after[10], after[12]}),
                      std::vector<int>({0, 200}))
                << s.bytes;
        else
            EXPECT_EQ(after, before) << s.bytes << " bytes: left alone";
        host.DisposeHandle(handle);
    }
}

// Beyond the conversion rows (conversion_test.cpp): a negative fixed value,
// and the edge at other resolutions.
TEST(RenderConversions, FixedValuesAndTheEdgeByResolution) {
    EXPECT_EQ(FixedToDouble(int32_t(0xFFFF0000)), -1.0); // sign of the integer part kept
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 2}, 320, 640), 2.5);
    EXPECT_EQ(ScaleTransparencyEdge(7, {1, 3}, 240, 720), 7.0 / 3.0);
    EXPECT_EQ(ScaleTransparencyEdge(6, {2, 1}, 1280, 640), 10.0) << "at most 10";
    // A thumbnail scales by its width over the background layer's.
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 1}, 96, 1920), 0.25);
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 1}, 120, 0), 0.0);
}

} // namespace
