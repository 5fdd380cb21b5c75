// The render driver through the stand-in host: trivial views, messages,
// layer validation, the backing-colour cache of the sequence record, the crop
// rectangle, the output alpha and the host's failures. Every test ends with
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
    // Brightens the background by half inside the crop (9 -> 13).
    void CropAndBrighten(double x, double y, int size) {
        fg.Fill(255, 0, 255, 0);
        bg.Fill(255, 9, 9, 9);
        host.SetCheckbox(ParamCrop, true);
        host.SetPoint(ParamCropPosition, x, y);
        host.SetSlider(ParamCropSize, size);
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
        kKeyIn4x8
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
        // clang-format on
    };
    for (const auto& c : cases) {
        Frames(c.width, 4, c.show);
        other = Frame(8, 4, 40); // 10 pixels per row
        other.Fill(255, 1, 2, 3);
        keyIn = c.layers == kKeyIn8x5 ? Frame(8, 5) : Frame(4, 8);
        host.SetLayer(ParamKeyIn, c.layers >= kKeyIn8x5 ? &keyIn : nullptr);
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

TEST_F(RenderTest, BackingColourIsCachedInTheSequenceRecord) {
    Frames(16, 8);
    fg.Fill(255, 20, 200, 30);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    host.Render(out);
    // Key blue, green, red at 8..10, the measured colour at 11..13.
    const std::vector<uint8_t> measured = {0, 255, 0, 30, 200, 20};
    std::vector<uint8_t> rec = Record();
    ASSERT_EQ(rec.size(), 16u);
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 8, rec.begin() + 14), measured);

    // Same key colour: the stored measurement is used, not measured again.
    fg.Fill(255, 10, 150, 10);
    host.Render(out);
    rec = Record();
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 8, rec.begin() + 14), measured);

    // Re-set-up clears the key colour, so the next frame measures again.
    ASSERT_EQ(host.SequenceResetup(), 0);
    rec = Record();
    EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + 11), std::vector<uint8_t>(11, 0));
    host.Render(out);
    rec = Record();
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 11, rec.begin() + 14),
              (std::vector<uint8_t>{10, 150, 10}));

    // No pixel near the key: black is stored, and passed on by later frames.
    ASSERT_EQ(host.SequenceResetup(), 0);
    fg.Fill(255, 255, 0, 0);
    host.Render(out);
    fg.Fill(255, 0, 255, 0);
    host.Render(out);
    rec = Record();
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 9, rec.begin() + 14),
              (std::vector<uint8_t>{255, 0, 0, 0, 0}));
}

TEST_F(RenderTest, OutputAlphaFollowsTheKeyOut) {
    Frames(16, 8, ShowComposite);
    fg.Fill(255, 0, 255, 0);
    host.SetQuality(false);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    host.SetPopup(ParamKeyOut, KeyOutKeyInPlusFg);
    host.Render(out);
    EXPECT_EQ(out.Pixel(3, 3)[0], 0) << "a key-out mode leaves the alpha to the stages";
    host.SetPopup(ParamKeyOut, 7); // outside the list: acts as "None"
    host.Render(out);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            ASSERT_EQ(out.Pixel(x, y)[0], 255);
    // Other views have opaque alpha whatever the key-out.
    host.SetPopup(ParamKeyOut, KeyOutFgMinusKeyIn);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.Render(out);
    EXPECT_TRUE(AllPixels(out, 255, 1, 2, 3));
}

TEST_F(RenderTest, CropRectangleOnTheFrame) {
    const struct {
        int w, h;
        double x, y;
        int size, xDen, yDen;
        RECT inside; // right and bottom exclusive
    } cases[] = {
        {200, 150, 50, 40, 60, 1, 1, {50, 40, 110, 100}},
        // Each axis scales by its own downsampling: 200 at 1/2 and 1/4.
        {300, 100, 10, 20, 200, 2, 4, {10, 20, 110, 70}},
        {120, 6, 50, 2, 40, 1, 1, {0, 0, 120, 6}}, // a small output ignores the crop
    };
    for (const auto& c : cases) {
        Frames(c.w, c.h);
        CropAndBrighten(c.x, c.y, c.size);
        host.SetDownsample(1, c.xDen, 1, c.yDen);
        host.Render(out);
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                const bool in = x >= c.inside.left && x < c.inside.right && y >= c.inside.top &&
                                y < c.inside.bottom;
                ASSERT_EQ(out.Pixel(x, y)[2], in ? 13 : 255) << c.w << ": " << x << "," << y;
                ASSERT_EQ(out.Pixel(x, y)[0], 255) << x << "," << y;
            }
    }
}

TEST_F(RenderTest, HostFailuresReturnTheirCodes) {
    Frames(8, 4, ShowForeground);
    // A failed checkout of "Background" ends the render at once; one of "Key
    // In" checks "Background" back in first.
    for (PF_ParamIndex index : {ParamBackground, ParamKeyIn}) {
        host.FailCheckout(index, 517);
        harness::RenderResult r = host.Render(out);
        host.FailCheckout(index, 0);
        EXPECT_EQ(r.err, 517);
        EXPECT_EQ(r.outFlags, 0);
        EXPECT_EQ(host.OutstandingCheckouts(), 0);
        EXPECT_EQ(host.CopyCalls(), 0);
        EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
    }
    host.FailCopy(7); // the copy of the trivial views passes its code on
    EXPECT_EQ(host.Render(out).err, 7);
    host.FailCopy(0);
    EXPECT_EQ(host.Render(out).err, 0);
    EXPECT_TRUE(AllPixels(out, 255, 10, 20, 30));

    // A zero downsampling denominator refuses the keyed frame, output untouched.
    host.SetPopup(ParamShow, ShowComposite);
    for (auto [xDen, yDen] : {std::pair<A_u_long, A_u_long>{0, 1}, {1, 0}}) {
        host.ForceDownsample({1, xDen}, {1, yDen});
        harness::RenderResult r = host.Render(out);
        EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(r.outFlags, 0);
        EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
    }
    // Without sequence data nothing happens (not even the missing-layer message).
    host.SetDownsample(1, 1, 1, 1);
    host.SetLayer(ParamBackground, nullptr);
    const PF_Handle sequence = host.SequenceHandle();
    host.SetSequenceHandle(nullptr);
    harness::RenderResult r = host.Render(out);
    host.SetSequenceHandle(sequence);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.outFlags, 0);
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
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

    struct Size {
        size_t bytes;
        bool sizeKnown;
        bool used;
    };
    for (Size s :
         {Size{0, true, false}, Size{4, true, false}, Size{13, true, false}, Size{15, true, false},
          Size{16, true, true}, Size{32, true, true}, Size{16, false, true}}) {
        const PF_Handle handle = host.NewHandle(s.bytes);
        std::vector<uint8_t> before(s.bytes, 0xAB);
        if (s.bytes >= 16) {
            before = host.HandleBytes(record); // key and measured (20, 200, 30)
            before.resize(s.bytes, 0xAB);
        }
        if (s.bytes > 0) std::memcpy(*handle, before.data(), s.bytes);
        host.SetSequenceHandle(handle);
        host.OfferHandleSize(s.sizeKnown);
        EXPECT_EQ(host.Render(out).err, 0);
        EXPECT_EQ(host.SequenceResetup(), 0);
        host.OfferHandleSize(true);
        host.SetSequenceHandle(record);
        if (s.used) {
            EXPECT_EQ(out.Pixel(0, 0)[0], 255) << s.bytes;
            std::vector<uint8_t> after = host.HandleBytes(handle);
            EXPECT_EQ(after[8] + after[9] + after[10], 0)
                << s.bytes << ": re-set-up clears the key";
            EXPECT_EQ(after[12], 200) << s.bytes << ": the stored measurement was used";
        } else {
            EXPECT_EQ(host.HandleBytes(handle), before) << s.bytes << " bytes: left alone";
        }
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
