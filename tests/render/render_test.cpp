// The render driver through the stand-in host: trivial views, messages,
// layer validation, the backing-colour cache of the sequence record, the
// parameter conversions, the crop rectangle and the output alpha.
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
    void Frames(int w, int h) {
        fg = Frame(w, h);
        bg = Frame(w, h);
        out = Frame(w, h);
        host.SetLayer(0, &fg);
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
};

TEST_F(RenderTest, ForegroundViewNeedsNoBackground) {
    Frames(8, 4);
    fg.Fill(255, 10, 20, 30);
    host.SetPopup(ParamShow, ShowForeground);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.outFlags, 0);
    EXPECT_TRUE(AllPixels(out, 255, 10, 20, 30));
}

TEST_F(RenderTest, BackgroundViewFallsBackToForeground) {
    Frames(200, 4);
    fg.Fill(255, 10, 20, 30);
    bg.Fill(255, 1, 2, 3);
    host.SetPopup(ParamShow, ShowBackground);
    host.Render(out);
    EXPECT_TRUE(AllPixels(out, 255, 10, 20, 30)) << "no background layer";

    host.SetLayer(ParamBackground, &bg);
    host.Render(out);
    EXPECT_TRUE(AllPixels(out, 255, 1, 2, 3));

    Frames(120, 4); // a small output shows the foreground
    fg.Fill(255, 10, 20, 30);
    bg.Fill(255, 1, 2, 3);
    host.SetLayer(ParamBackground, &bg);
    host.Render(out);
    EXPECT_TRUE(AllPixels(out, 255, 10, 20, 30));
}

TEST_F(RenderTest, MissingBackgroundIsReported) {
    Frames(8, 4);
    host.SetPopup(ParamShow, ShowComposite);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.outFlags, 0x100);
    EXPECT_EQ(r.message, "You first have to select the background layer!");
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
}

TEST_F(RenderTest, SizeMismatchIsReportedAndOutputUntouched) {
    Frames(8, 4);
    host.SetLayer(ParamBackground, &bg);
    keyIn = Frame(8, 5);
    host.SetLayer(ParamKeyIn, &keyIn);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.outFlags, 0x100);
    EXPECT_EQ(r.message, "FG, BG and optional KeyIn must have the same size!");
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));

    // Same pixel count, other shape: refused as well rather than keyed.
    other = Frame(4, 8);
    host.SetLayer(ParamKeyIn, &other);
    r = host.Render(out);
    EXPECT_EQ(r.outFlags, 0x100);
    EXPECT_EQ(r.message, "FG, BG and optional KeyIn must have the same size!");
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
}

TEST_F(RenderTest, BackgroundOfAnotherRowLengthBecomesGrey) {
    Frames(8, 4);
    other = Frame(8, 4, 40); // 10 pixels per row
    other.Fill(255, 1, 2, 3);
    host.SetLayer(ParamBackground, &other);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.outFlags, 0);
    EXPECT_TRUE(AllPixels(out, 255, 128, 128, 128));
}

TEST_F(RenderTest, CorrectedBackgroundViewWithoutCorrectionIsTheBackground) {
    Frames(16, 6);
    bg.Fill(7, 40, 50, 60);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetCheckbox(ParamCrop, false);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 0);
    EXPECT_TRUE(AllPixels(out, 255, 40, 50, 60));
}

TEST_F(RenderTest, BackingColourIsCachedInTheSequenceRecord) {
    Frames(16, 8);
    fg.Fill(255, 20, 200, 30);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    host.Render(out);
    std::vector<uint8_t> rec = Record();
    ASSERT_EQ(rec.size(), 16u);
    EXPECT_EQ(rec[8], 0);   // key blue
    EXPECT_EQ(rec[9], 255); // key green
    EXPECT_EQ(rec[10], 0);  // key red
    EXPECT_EQ(rec[11], 30); // measured blue
    EXPECT_EQ(rec[12], 200);
    EXPECT_EQ(rec[13], 20);

    // Same key colour: the stored measurement is used, not measured again.
    fg.Fill(255, 10, 150, 10);
    host.Render(out);
    rec = Record();
    EXPECT_EQ(rec[11], 30);
    EXPECT_EQ(rec[12], 200);
    EXPECT_EQ(rec[13], 20);

    // Re-set-up clears the key colour, so the next frame measures again.
    ASSERT_EQ(host.SequenceResetup(), 0);
    rec = Record();
    for (int i = 0; i <= 10; ++i)
        EXPECT_EQ(rec[i], 0) << i;
    host.Render(out);
    rec = Record();
    EXPECT_EQ(rec[11], 10);
    EXPECT_EQ(rec[12], 150);
    EXPECT_EQ(rec[13], 10);
}

TEST_F(RenderTest, KeyColourWithoutMatchStoresBlack) {
    Frames(16, 8);
    fg.Fill(255, 255, 0, 0);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetColor(ParamChromaColor, 0, 255, 0);
    host.Render(out);
    std::vector<uint8_t> rec = Record();
    EXPECT_EQ(rec[9], 255);
    EXPECT_EQ(rec[11], 0);
    EXPECT_EQ(rec[12], 0);
    EXPECT_EQ(rec[13], 0);

    // Later frames pass the stored black on; the record keeps it.
    fg.Fill(255, 0, 255, 0);
    host.Render(out);
    rec = Record();
    EXPECT_EQ(rec[12], 0);
}

TEST_F(RenderTest, KeyOutOutsideTheListActsAsNone) {
    Frames(16, 8);
    fg.Fill(255, 0, 255, 0);
    bg.Fill(255, 9, 9, 9);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowComposite);
    host.SetQuality(false);
    host.SetColor(ParamChromaColor, 0, 255, 0);

    host.SetPopup(ParamKeyOut, KeyOutKeyInPlusFg);
    host.Render(out);
    EXPECT_EQ(out.Pixel(3, 3)[0], 0) << "a key-out mode leaves the alpha to the stages";

    host.SetPopup(ParamKeyOut, 7);
    host.Render(out);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            ASSERT_EQ(out.Pixel(x, y)[0], 255);
}

TEST_F(RenderTest, OtherViewsHaveOpaqueAlphaWhateverTheKeyOut) {
    Frames(16, 8);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamKeyOut, KeyOutFgMinusKeyIn);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.Render(out);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            ASSERT_EQ(out.Pixel(x, y)[0], 255);
}

TEST(RenderConversions, FixedValues) {
    EXPECT_DOUBLE_EQ(FixedToDouble(0x00010000) * 0.01, 0.01);
    EXPECT_EQ(FixedToDouble(0x0000FFFF), 1.0); // 65535 * 1/65535
    EXPECT_EQ(FixedToDouble(0x0000FFFF) * 0.01, FixedToDouble(0x00010000) * 0.01);
    EXPECT_NEAR(FixedToDouble(0x004B8000) * 0.01, 0.7550000763, 5e-11);
    EXPECT_NE(FixedToDouble(0x004B8000) * 0.01, 0.755);
    EXPECT_EQ(FixedToDouble(int32_t(0xFFFF0000)), -1.0); // sign of the integer part kept
}

TEST(RenderConversions, TransparencyEdgeFollowsTheResolution) {
    EXPECT_EQ(ScaleTransparencyEdge(7, {1, 1}, 640, 640), 7.0);
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 2}, 320, 640), 2.5);
    EXPECT_EQ(ScaleTransparencyEdge(7, {1, 3}, 240, 720), 7.0 / 3.0);
    EXPECT_EQ(ScaleTransparencyEdge(6, {2, 1}, 1280, 640), 10.0) << "at most 10";
    // A thumbnail scales by its width over the background layer's.
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 1}, 96, 1920), 0.25);
    EXPECT_EQ(ScaleTransparencyEdge(5, {1, 1}, 120, 0), 0.0);
}

TEST(RenderConversions, CropRectangleFollowsDownsampling) {
    PF_PointDef pos{};
    pos.x_value = 10 << 16;
    pos.y_value = 20 << 16;
    RECT r = CropRectangle(pos, 200, {1, 2}, {1, 2}, 640, 360);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 110);
    EXPECT_EQ(r.bottom, 120);

    // Clipped to the output.
    pos.x_value = 300 << 16;
    pos.y_value = (300 << 16) + 0x8000; // fractions round toward minus infinity
    r = CropRectangle(pos, 200, {1, 1}, {1, 1}, 320, 400);
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.top, 300);
    EXPECT_EQ(r.bottom, 400);

    pos.x_value = -(3 << 16) - 1; // just below -3
    r = CropRectangle(pos, 40, {1, 1}, {1, 1}, 320, 400);
    EXPECT_EQ(r.left, -4);
    EXPECT_EQ(r.right, 36);
}

TEST_F(RenderTest, CropOutsideShowsTheForeground) {
    Frames(200, 150);
    fg.Fill(255, 0, 255, 0);
    bg.Fill(255, 9, 9, 9);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetCheckbox(ParamCrop, true);
    host.SetPoint(ParamCropPosition, 50, 40);
    host.SetSlider(ParamCropSize, 60);
    host.SetPopup(ParamBgColorCorrection, CorrectionBrightness);
    host.SetSlider(ParamBgCcBrightness, 50);
    host.Render(out);
    EXPECT_EQ(out.Pixel(10, 10)[2], 255) << "outside: foreground";
    EXPECT_EQ(out.Pixel(70, 60)[2], 13) << "inside: 9 brightened by 50 %";
    EXPECT_EQ(out.Pixel(109, 99)[2], 13) << "last pixel inside the crop";
    EXPECT_EQ(out.Pixel(110, 99)[2], 255);
    EXPECT_EQ(out.Pixel(109, 100)[2], 255);
}

} // namespace

namespace {

TEST_F(RenderTest, HostFailuresReturnTheirCodes) {
    Frames(8, 4);
    fg.Fill(255, 10, 20, 30);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowForeground);

    // A failed checkout of "Background" ends the render at once.
    host.FailCheckout(ParamBackground, 517);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.err, 517);
    EXPECT_EQ(r.outFlags, 0);
    EXPECT_EQ(host.CopyCalls(), 0);
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));

    // A failed checkout of "Key In" checks "Background" back in (the harness
    // reports unbalanced checkouts) and returns the code.
    host.FailCheckout(ParamKeyIn, 518);
    r = host.Render(out);
    EXPECT_EQ(r.err, 518);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.CopyCalls(), 0);
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
    host.FailCheckout(ParamKeyIn, 0);

    // The copy of the trivial views passes its code on.
    host.FailCopy(7);
    r = host.Render(out);
    EXPECT_EQ(r.err, 7);
    EXPECT_EQ(r.outFlags, 0);
    host.FailCopy(0);
    EXPECT_EQ(host.Render(out).err, 0);
    EXPECT_TRUE(AllPixels(out, 255, 10, 20, 30));
}

TEST_F(RenderTest, WithoutSequenceDataNothingHappens) {
    Frames(8, 4);
    host.SetPopup(ParamShow, ShowComposite); // would report the missing background
    const PF_Handle sequence = host.SequenceHandle();
    host.SetSequenceHandle(nullptr);
    harness::RenderResult r = host.Render(out);
    host.SetSequenceHandle(sequence);
    EXPECT_EQ(r.err, 0);
    EXPECT_EQ(r.outFlags, 0);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
}

TEST_F(RenderTest, CropScalesEachAxisByItsOwnDownsampling) {
    // Size 200 at x 1/2 and y 1/4 from (10, 20): columns 10..109, rows 20..69.
    Frames(300, 100);
    fg.Fill(255, 0, 255, 0);
    bg.Fill(255, 9, 9, 9);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetDownsample(1, 2, 1, 4);
    host.SetCheckbox(ParamCrop, true);
    host.SetPoint(ParamCropPosition, 10, 20);
    host.SetSlider(ParamCropSize, 200);
    host.SetPopup(ParamBgColorCorrection, CorrectionBrightness);
    host.SetSlider(ParamBgCcBrightness, 50);
    host.Render(out);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const bool inside = x >= 10 && x < 110 && y >= 20 && y < 70;
            ASSERT_EQ(out.Pixel(x, y)[2], inside ? 13 : 255) << x << "," << y; // 9 * 1.5
            ASSERT_EQ(out.Pixel(x, y)[0], 255) << x << "," << y;
        }
}

TEST_F(RenderTest, SmallOutputIgnoresTheCrop) {
    Frames(120, 6);
    fg.Fill(255, 0, 255, 0);
    bg.Fill(255, 9, 9, 9);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
    host.SetCheckbox(ParamCrop, true);
    host.SetPoint(ParamCropPosition, 50, 2);
    host.SetSlider(ParamCropSize, 40);
    host.SetPopup(ParamBgColorCorrection, CorrectionBrightness);
    host.SetSlider(ParamBgCcBrightness, 50);
    host.Render(out);
    EXPECT_TRUE(AllPixels(out, 255, 13, 13, 13)) << "the whole frame is corrected";
}

} // namespace

namespace {

// A sequence handle too short for the record (another layout, a foreign or
// flattened record) is never read or written: the backing is measured anew.
// A record of at least 16 bytes is used, and so is any record when the host
// cannot tell handle sizes.
TEST_F(RenderTest, ShortSequenceRecordsAreMeasuredAnewAndLeftAlone) {
    Frames(16, 8);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowCorrectedBg);
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
    EXPECT_TRUE(host.Problems().empty()) << host.Problems().front();
}

// A zero downsampling denominator refuses the keyed frame, output untouched.
TEST_F(RenderTest, ZeroDownsampleDenominatorIsRefused) {
    Frames(200, 8);
    host.SetLayer(ParamBackground, &bg);
    host.SetPopup(ParamShow, ShowComposite);
    for (auto [xDen, yDen] : {std::pair<A_u_long, A_u_long>{0, 1}, {1, 0}}) {
        host.ForceDownsample({1, xDen}, {1, yDen});
        harness::RenderResult r = host.Render(out);
        EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(r.outFlags, 0);
        EXPECT_TRUE(AllPixels(out, 0, 0, 0, 0));
    }
}

} // namespace
