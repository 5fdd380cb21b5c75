// Backing colour: channel ranking, chromaticity and default colours, the
// black backing, the refinement of a picked colour in the foreground (also
// on an 8K frame) and the field-mode handling.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

void ExpectTriple(const double* t, double r, double g, double b) {
    EXPECT_DOUBLE_EQ(t[0], r);
    EXPECT_DOUBLE_EQ(t[1], g);
    EXPECT_DOUBLE_EQ(t[2], b);
}

void ExpectOrder(const CKeyer& keyer, int dominant, int middle, int smallest) {
    EXPECT_EQ(keyer.channelOrder[0], dominant);
    EXPECT_EQ(keyer.channelOrder[1], middle);
    EXPECT_EQ(keyer.channelOrder[2], smallest);
}

void ExpectBacking(CKeyer& keyer, int r, int g, int b) {
    uint8_t red = 0, green = 0, blue = 0;
    keyer.GetBackingColour(&red, &green, &blue);
    EXPECT_EQ(red, r);
    EXPECT_EQ(green, g);
    EXPECT_EQ(blue, b);
}

} // namespace

TEST(BackingColour, GreenBacking) {
    KeyerFrames frames(4, 4);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    keyer.keyInDirty = 0;
    keyer.separationDirty = 0;
    ASSERT_EQ(keyer.SetBackingColour(0, 255, 0, 0), 1);

    // Green dominant; blue and red tie at 0 and blue wins.
    ExpectOrder(keyer, kChannelGreen, kChannelBlue, kChannelRed);
    const KeyerParams& d = keyer.defaultParams;
    ExpectTriple(d.separationColor, 0, 255, 0);
    ExpectTriple(d.fgCorrectionColor, 0, 255, 0);
    ExpectTriple(d.transparencyColor, 0, 1, 0);
    ExpectTriple(d.backingChromaticity, 0, 1, 0);
    ExpectTriple(d.shadowColor, 63.75, 72.25, 63.75);
    ExpectTriple(d.lightColor, 4.25, 8.5, 4.25);
    ExpectTriple(keyer.params.backingChromaticity, 0, 1, 0); // params carries them
    EXPECT_EQ(keyer.separationDirty, 1);
    EXPECT_EQ(keyer.keyInDirty, 1);
    ExpectBacking(keyer, 0, 255, 0);
}

TEST(BackingColour, RankingTiesAndOrders) {
    CKeyer keyer;
    ASSERT_EQ(keyer.SetBackingColour(128, 128, 128, 0), 1);
    ExpectOrder(keyer, kChannelBlue, kChannelGreen, kChannelRed);
    ExpectTriple(keyer.defaultParams.shadowColor, 0.75 * 128, 0.75 * 128, 0.85 * 128);

    // Red 200 > blue 150 > green 100 (arguments are blue, green, red).
    ASSERT_EQ(keyer.SetBackingColour(150, 100, 200, 0), 1);
    ExpectOrder(keyer, kChannelRed, kChannelBlue, kChannelGreen);
    ExpectTriple(keyer.defaultParams.transparencyColor, 200.0 / 450, 100.0 / 450, 150.0 / 450);
    ExpectTriple(keyer.defaultParams.lightColor, 0.1 * 150, 0.05 * 150, 0.05 * 150);

    // Green ties red for first place: green wins; blue last.
    ASSERT_EQ(keyer.SetBackingColour(10, 90, 90, 0), 1);
    ExpectOrder(keyer, kChannelGreen, kChannelRed, kChannelBlue);
}

TEST(BackingColour, BlackBackingFailsToPlainDefaults) {
    KeyerFrames frames(3, 3);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ASSERT_EQ(keyer.SetBackingColour(0, 255, 0, 0), 1);
    EXPECT_EQ(keyer.SetBackingColour(0, 0, 0, 0), 0);
    ExpectOrder(keyer, 0, 1, 2);
    ExpectTriple(keyer.defaultParams.separationColor, 0, 0, 0);
    ExpectTriple(keyer.defaultParams.backingChromaticity, 0, 0, 0);
    ExpectTriple(keyer.defaultParams.shadowColor, 0, 0, 0);
    ExpectTriple(keyer.params.transparencyColor, 0, 0, 0);
    ExpectBacking(keyer, 0, 0, 0);

    keyer.defaultParams.separationColor[0] = 199.9; // truncated toward zero
    keyer.defaultParams.separationColor[1] = 0.99;
    keyer.defaultParams.separationColor[2] = 255.0;
    ExpectBacking(keyer, 199, 0, 255);
}

TEST(BackingColour, SwitchesSmoothingOffAndResetsTheSnapshot) {
    KeyerFrames frames(3, 3);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ASSERT_EQ(keyer.SetSmoothBgShadow(1), 1);
    KeyerParams p;
    p.bgCorrectionMode = 5;
    p.transparencyEdge = 25.0;
    ASSERT_EQ(keyer.SetParams(p), 1);
    ASSERT_NE(keyer.ownCorrectedBackground, nullptr);

    ASSERT_EQ(keyer.SetBackingColour(200, 20, 20, 0), 1);
    EXPECT_EQ(keyer.smoothBgShadow, 0);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);
    EXPECT_EQ(keyer.params.bgCorrectionMode, 0);
    EXPECT_EQ(keyer.params.transparencyEdge, 0.0);
    EXPECT_EQ(keyer.ownCorrectedBackground, nullptr);
    EXPECT_EQ(keyer.correctedBackground, &frames.bgImage);
}

TEST(BackingRefinement, PickedGreenMeasuresTheScreen) {
    KeyerFrames frames(9, 7);
    frames.FillFg(20, 200, 30);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ASSERT_EQ(keyer.SetBackingColour(0, 255, 0, 1), 1);
    ExpectBacking(keyer, 20, 200, 30);
    ExpectTriple(keyer.defaultParams.backingChromaticity, 20.0 / 250, 200.0 / 250, 30.0 / 250);
    ExpectOrder(keyer, kChannelGreen, kChannelBlue, kChannelRed);
}

TEST(BackingRefinement, MeanIsAWholeNumberOfCountedPixels) {
    // 10 pixels of blue 100 and 1 of blue 101 average 100 (quotient only).
    KeyerFrames frames(11, 1);
    frames.FillFg(0, 0, 100);
    KeyerFrames::SetRgb(frames.Fg(6, 0), 0, 0, 101);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    double t[3] = {255, 0, 0};
    ASSERT_EQ(keyer.RefineBackingColour(t), 1);
    ExpectTriple(t, 100, 0, 0);
    ExpectTriple(keyer.params.separationColor, 0, 0, 255); // the pick stays here
}

TEST(BackingRefinement, OnlyPixelsNearThePickCount) {
    KeyerFrames frames(6, 6);
    frames.FillFg(255, 0, 0); // cos 0 for a green pick
    for (int y = 0; y < 6; ++y) {
        KeyerFrames::SetRgb(frames.Fg(1, y), 0, 0, 0); // black: never counted
        KeyerFrames::SetRgb(frames.Fg(2, y), 10, 100, 0);
        KeyerFrames::SetRgb(frames.Fg(3, y), 20, 140, 10);
    }
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    double t[3] = {0, 255, 0};
    ASSERT_EQ(keyer.RefineBackingColour(t), 1);
    ExpectTriple(t, 5, 120, 15); // blue, green, red
}

TEST(BackingRefinement, NothingQualifyingLeavesTheKeyerUnchanged) {
    KeyerFrames frames(5, 5);
    frames.FillFg(255, 0, 0);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ASSERT_EQ(keyer.SetBackingColour(10, 20, 30, 0), 1);

    double t[3] = {0, 255, 0};
    EXPECT_EQ(keyer.RefineBackingColour(t), 0);
    ExpectTriple(t, 0, 255, 0);

    keyer.separationDirty = 0;
    EXPECT_EQ(keyer.SetBackingColour(0, 255, 0, 1), 0);
    EXPECT_EQ(keyer.SetBackingColour(0, 0, 0, 1), 0); // black pick counts nothing
    ExpectTriple(keyer.defaultParams.separationColor, 30, 20, 10);
    ExpectOrder(keyer, kChannelRed, kChannelGreen, kChannelBlue);
    EXPECT_EQ(keyer.separationDirty, 0);
}

TEST(BackingRefinement, FieldModeForegroundIsMeasuredOverAllRows) {
    // Rows 0..3 blue 100, rows 4..7 blue 200; the keyer's height is the field
    // height 4, but the measurement covers all 8 frame rows.
    const int w = 5, h = 8;
    std::vector<uint8_t> data(size_t(w) * h * 3, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            data[(size_t(y) * w + x) * 3 + 2] = y < 4 ? 100 : 200;
    CImageBaseClass fg;
    ASSERT_EQ(fg.Create(w, h, 3, data.data()), 1);
    fg.SetUndefined(0);
    fg.SetFieldMode(1, 0);
    CKeyer keyer;
    keyer.foregroundImage = &fg;
    keyer.width = w;
    keyer.height = h / 2;

    ASSERT_EQ(keyer.SetBackingColour(255, 0, 0, 1), 1);
    ExpectBacking(keyer, 0, 0, 150);
    EXPECT_EQ(fg.fieldMode, 1u);
    EXPECT_EQ(keyer.height, 4);

    // Restored on the failing path too.
    EXPECT_EQ(keyer.SetBackingColour(0, 0, 255, 1), 0);
    EXPECT_EQ(fg.fieldMode, 1u);
    EXPECT_EQ(keyer.height, 4);
}

TEST(BackingRefinement, UniformEightKScreenDoesNotOverflow) {
    // 7680 x 4320 pixels of grey 200: each channel sums to 6.6e9, beyond 32
    // bits. To keep memory low the frame has one byte per pixel and each pixel
    // reads its own byte and the next two (a uniform buffer is a uniform grey
    // screen); two spare bytes cover the last pixel.
    const int w = 7680, h = 4320;
    std::vector<uint8_t> data(size_t(w) * h + 2, 200);
    CImageBaseClass fg;
    ASSERT_EQ(fg.Create(w, h, 1, data.data()), 1);
    fg.SetUndefined(0);
    CKeyer keyer;
    keyer.foregroundImage = &fg;
    keyer.width = w;
    keyer.height = h;

    double t[3] = {255, 255, 255};
    ASSERT_EQ(keyer.RefineBackingColour(t), 1);
    ExpectTriple(t, 200, 200, 200);
}
