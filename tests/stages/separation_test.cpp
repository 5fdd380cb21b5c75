// Separation mask: dominance test, angle test, the colour and crop edge cases.
#include <gtest/gtest.h>

#include <cstring>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// A keyer on frames of the given size with a green separation colour
// (0, 200, 0) and green ranked dominant, blue middle, red smallest.
struct SeparationFixture {
    KeyerFrames frames;
    CKeyer keyer;

    SeparationFixture(int w, int h) : frames(w, h) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.params.separationColor[0] = 0.0;
        keyer.params.separationColor[1] = 200.0;
        keyer.params.separationColor[2] = 0.0;
        keyer.params.separationLevel = 50.0;
        keyer.params.separationDeviation = 0.5;
        keyer.channelOrder[0] = kChannelGreen;
        keyer.channelOrder[1] = kChannelBlue;
        keyer.channelOrder[2] = kChannelRed;
    }
    void FillMatte(uint8_t value) {
        for (int y = 0; y < frames.height; ++y)
            for (int x = 0; x < frames.width; ++x)
                frames.Matte(x, y) = value;
    }
    void ClearFlags() {
        keyer.separationDirty = keyer.spillShadowDirty = keyer.compositeDirty = 0;
        keyer.keyInDirty = 0;
    }
    // Separates one pixel colour (at (0, 0) of a 2 x 2 frame) and returns its mask.
    int SeparateOne(uint8_t r, uint8_t g, uint8_t b) {
        KeyerFrames::SetRgb(frames.Fg(0, 0), r, g, b);
        frames.Matte(0, 0) = 9;
        EXPECT_NE(keyer.Separate(), 0);
        return frames.Matte(0, 0);
    }
};

TEST(Separation, BlackSeparationColourLeavesTheMatte) {
    SeparationFixture f(6, 5);
    f.frames.FillFg(200, 30, 40);
    f.FillMatte(7);
    f.keyer.params.separationColor[1] = 0.0;
    f.ClearFlags();
    // Every worker returns at once; the job, and so the stage, succeeds.
    EXPECT_NE(f.keyer.Separate(), 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(f.frames.Matte(x, y), 7);
    EXPECT_EQ(f.keyer.separationDirty, 1);
    EXPECT_EQ(f.keyer.keyInDirty, 1);
    // A tiny but nonzero colour still separates: |K| = 1e-6 >= 1e-8.
    f.keyer.params.separationColor[1] = 1e-6;
    EXPECT_NE(f.keyer.Separate(), 0);
    EXPECT_EQ(f.frames.Matte(0, 0), 1);
    // With an empty band there is no slice to fail: success, nothing runs.
    f.FillMatte(7);
    f.keyer.params.separationColor[1] = 0.0;
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 20, 20, 30, 30);
    EXPECT_NE(f.keyer.Separate(), 0);
    EXPECT_EQ(f.frames.Matte(0, 0), 7);
}

TEST(Separation, SuccessWritesBothValuesAndSetsFlags) {
    SeparationFixture f(5, 7);
    f.frames.FillFg(0, 180, 0);
    KeyerFrames::SetRgb(f.frames.Fg(4, 6), 200, 10, 10);
    f.FillMatte(9);
    f.ClearFlags();
    ASSERT_NE(f.keyer.Separate(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.frames.Matte(x, y), (x == 4 && y == 6) ? 1 : 0);
    EXPECT_EQ(f.keyer.separationDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.keyInDirty, 1);
}

TEST(Separation, DeviationZeroKeepsOnlyTheExactDirection) {
    SeparationFixture f(2, 2);
    f.keyer.params.separationDeviation = 0.0; // cosine limit 1
    EXPECT_EQ(f.SeparateOne(0, 100, 0), 0);
    EXPECT_EQ(f.SeparateOne(0, 255, 0), 0);
    EXPECT_EQ(f.SeparateOne(1, 255, 0), 1);
    EXPECT_EQ(f.SeparateOne(0, 250, 3), 1);
}

TEST(Separation, DeviationHundredCallsEverythingBacking) {
    SeparationFixture f(2, 2);
    f.keyer.params.separationDeviation = 1.0; // cosine limit 0
    EXPECT_EQ(f.SeparateOne(255, 0, 0), 0);
    EXPECT_EQ(f.SeparateOne(0, 0, 255), 0);
    EXPECT_EQ(f.SeparateOne(255, 0, 255), 0);
    EXPECT_EQ(f.SeparateOne(17, 99, 201), 0);
}

// (20, 250, 30) after taking away f = 465 * 300 / 195075 = 0.7151 times the
// separation colour: q = (20, 106.98, 30), green leads. (20, 150, 30): f =
// 0.5793, q_G = 34.147. Their cosines to the separation colour, 0.98976 and
// 0.97231, lie below the limit 0.99^0.1 = 0.998995: the angle test says
// foreground.
TEST(Separation, DominanceTestNeedsTheLevelAndALead) {
    SeparationFixture f(2, 2);
    f.keyer.params.separationDeviation = 0.01;
    f.keyer.params.separationLevel = 50.0;
    EXPECT_EQ(f.SeparateOne(20, 250, 30), 1); // level 50: angle test only
    f.keyer.params.separationLevel = 49.0;
    EXPECT_EQ(f.SeparateOne(20, 250, 30), 0);
    f.keyer.params.separationLevel = 34.0;
    EXPECT_EQ(f.SeparateOne(20, 150, 30), 0);
    f.keyer.params.separationLevel = 35.0;
    EXPECT_EQ(f.SeparateOne(20, 150, 30), 1);
}

TEST(Separation, DominanceUsesTheChannelOrder) {
    SeparationFixture f(2, 2);
    f.keyer.params.separationDeviation = 0.01;
    f.keyer.params.separationLevel = 0.0;
    // Red ranked dominant: red (20) does not lead, so only the angle decides.
    f.keyer.channelOrder[0] = kChannelRed;
    f.keyer.channelOrder[2] = kChannelGreen;
    EXPECT_EQ(f.SeparateOne(20, 250, 30), 1);
    // Blue dominant. (100, 100, 100): q = (100, -43.02, 100), red ties blue,
    // no lead; the angle test (cosine 0.577 < 1) says foreground.
    f.keyer.channelOrder[0] = kChannelBlue;
    f.keyer.channelOrder[1] = kChannelGreen;
    f.keyer.channelOrder[2] = kChannelRed;
    f.keyer.params.separationDeviation = 0.0;
    EXPECT_EQ(f.SeparateOne(100, 100, 100), 1);
    // (90, 100, 120): blue leads with 120 >= 0: backing.
    EXPECT_EQ(f.SeparateOne(90, 100, 120), 0);
}

TEST(Separation, BlackPixelsAreBacking) {
    SeparationFixture f(2, 2);
    f.keyer.params.separationDeviation = 0.0;
    f.keyer.params.separationLevel = 50.0;
    EXPECT_EQ(f.SeparateOne(0, 0, 0), 0);
    f.keyer.params.separationLevel = -10.0; // q all 0: no lead, angle test
    EXPECT_EQ(f.SeparateOne(0, 0, 0), 0);
}

TEST(Separation, CropLimitsTheBandToTheCropRectangle) {
    SeparationFixture f(8, 7);
    f.frames.FillFg(200, 10, 10); // foreground everywhere
    f.FillMatte(5);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 2, 1, 6, 5);
    ASSERT_NE(f.keyer.Separate(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 5;
            EXPECT_EQ(f.frames.Matte(x, y), inside ? 1 : 5) << x << "," << y;
        }
}

TEST(Separation, OnePixelWideCropClearsTheCropRectangle) {
    SeparationFixture f(8, 7);
    f.frames.FillFg(200, 10, 10);
    f.FillMatte(5);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 3, 2, 4, 6);
    f.ClearFlags();
    EXPECT_NE(f.keyer.Separate(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x == 3 && y >= 2 && y < 6;
            EXPECT_EQ(f.frames.Matte(x, y), inside ? 0 : 5) << x << "," << y;
        }
    // No work was done, so no flag changes.
    EXPECT_EQ(f.keyer.separationDirty, 0);
    EXPECT_EQ(f.keyer.keyInDirty, 0);
    EXPECT_EQ(f.keyer.compositeDirty, 0);
}

TEST(Separation, CropOutsideTheFrameChangesNothing) {
    SeparationFixture f(8, 7);
    f.frames.FillFg(200, 10, 10);
    f.FillMatte(5);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 20, 20, 30, 30);
    EXPECT_NE(f.keyer.Separate(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(f.frames.Matte(x, y), 5);
}

} // namespace
