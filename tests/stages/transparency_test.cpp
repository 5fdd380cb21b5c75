// Transparency matte: chromaticity similarity graded into alpha.
#include <gtest/gtest.h>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// A keyer on a 2 x 2 frame; the transparency colour is pure green.
struct TransparencyFixture {
    KeyerFrames frames;
    CKeyer keyer;

    TransparencyFixture() : frames(2, 2) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        SetColour(0.0, 1.0, 0.0);
        keyer.params.transparencyThreshold = 0.0;
        keyer.params.transparencyStrength = 1.0;
        keyer.channelOrder[0] = kChannelGreen;
        keyer.channelOrder[1] = kChannelBlue;
        keyer.channelOrder[2] = kChannelRed;
    }
    void SetColour(double r, double g, double b) {
        keyer.params.transparencyColor[0] = r;
        keyer.params.transparencyColor[1] = g;
        keyer.params.transparencyColor[2] = b;
    }
    // Grades one pixel at (1, 1) with the given matte value; returns the result.
    int Grade(uint8_t r, uint8_t g, uint8_t b, uint8_t matte = 1) {
        KeyerFrames::SetRgb(frames.Fg(1, 1), r, g, b);
        frames.Matte(1, 1) = matte;
        EXPECT_NE(keyer.GradeTransparency(), 0);
        return frames.Matte(1, 1);
    }
};

TEST(Transparency, ChromaticityOfTheColourBecomesTransparent) {
    TransparencyFixture f;
    EXPECT_EQ(f.Grade(0, 200, 0), 0); // m = 1, v = 1
    f.SetColour(0.25, 0.5, 0.25);
    EXPECT_EQ(f.Grade(50, 100, 50), 0);
    EXPECT_EQ(f.Grade(50, 100, 50, 255), 0); // any nonzero matte value is graded
}

// (20, 180, 0) against green: r_G = 1 - |180/200 - 1| = 0.9, red carries no
// weight: m = 0.9. With threshold 0.5: v = sqrt(0.4 / 0.5) * 0.9 = 0.804984,
// alpha = 0.195016 * 255 = 49.73 -> 49; at strength 0.5: 152.36 -> 152.
TEST(Transparency, GradedValuesAreTruncated) {
    TransparencyFixture f;
    f.keyer.params.transparencyThreshold = 0.5;
    EXPECT_EQ(f.Grade(20, 180, 0), 49);
    f.keyer.params.transparencyStrength = 0.5;
    EXPECT_EQ(f.Grade(20, 180, 0), 152);
    // m = 0.9 <= threshold 0.9: no transparency.
    f.keyer.params.transparencyThreshold = 0.9;
    EXPECT_EQ(f.Grade(20, 180, 0), 255);
}

TEST(Transparency, ThresholdHundredOrStrengthZeroKeepOpaque) {
    TransparencyFixture f;
    f.keyer.params.transparencyThreshold = 1.0;
    EXPECT_EQ(f.Grade(0, 200, 0), 255);
    EXPECT_EQ(f.Grade(20, 180, 0), 255);
    f.keyer.params.transparencyThreshold = 0.0;
    f.keyer.params.transparencyStrength = 0.0;
    EXPECT_EQ(f.Grade(0, 200, 0), 255);
    EXPECT_EQ(f.Grade(20, 180, 0), 255);
}

TEST(Transparency, BlackForegroundStaysOpaque) {
    TransparencyFixture f;
    f.keyer.params.transparencyStrength = 1.5;
    EXPECT_EQ(f.Grade(0, 0, 0), 255);
    f.SetColour(0.3, 0.4, 0.3);
    EXPECT_EQ(f.Grade(0, 0, 0), 255);
}

TEST(Transparency, BackingPixelsAreUntouched) {
    TransparencyFixture f;
    EXPECT_EQ(f.Grade(0, 200, 0, 0), 0);
    f.frames.FillFg(0, 200, 0);
    f.frames.Matte(0, 0) = 0;
    f.frames.Matte(1, 0) = 3;
    f.frames.Matte(0, 1) = 0;
    f.frames.Matte(1, 1) = 0;
    ASSERT_NE(f.keyer.GradeTransparency(), 0);
    EXPECT_EQ(f.frames.Matte(0, 0), 0);
    EXPECT_EQ(f.frames.Matte(1, 0), 0); // graded: m = 1
    EXPECT_EQ(f.frames.Matte(0, 1), 0);
}

TEST(Transparency, LargestGradedValueIs252) {
    TransparencyFixture f;
    // m = 1 and threshold 0 give v = strength.
    f.keyer.params.transparencyStrength = 0.008;
    EXPECT_EQ(f.Grade(0, 200, 0), 255);
    f.keyer.params.transparencyStrength = 0.0081;
    EXPECT_EQ(f.Grade(0, 200, 0), 252); // 0.9919 * 255 = 252.93
    f.keyer.params.transparencyStrength = 0.5;
    EXPECT_EQ(f.Grade(0, 200, 0), 127); // 127.5
    f.keyer.params.transparencyStrength = 1.5;
    EXPECT_EQ(f.Grade(0, 200, 0), 0); // v >= 1
}

// A black transparency colour weighs the channels equally: (0, 100, 0) has
// r = (1, 0, 1) for red, green, blue, m = 2/3, v = sqrt(2/3) * 2/3 = 0.544331,
// alpha = 0.455669 * 255 = 116.2 -> 116.
TEST(Transparency, BlackTransparencyColourAveragesTheChannels) {
    TransparencyFixture f;
    f.SetColour(0.0, 0.0, 0.0);
    EXPECT_EQ(f.Grade(0, 100, 0), 116);
}

TEST(Transparency, EmptyCropDoesNothing) {
    TransparencyFixture f;
    f.frames.FillFg(0, 200, 0);
    f.frames.Matte(1, 1) = 1;
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 1, 0, 2, 2); // one column
    f.keyer.separationDirty = f.keyer.keyInDirty = 0;
    EXPECT_NE(f.keyer.GradeTransparency(), 0);
    EXPECT_EQ(f.frames.Matte(1, 1), 1);
    EXPECT_EQ(f.keyer.separationDirty, 0);
    EXPECT_EQ(f.keyer.keyInDirty, 0);
    // A regular run sets the chain's flags.
    f.keyer.cropEnabled = 0;
    EXPECT_NE(f.keyer.GradeTransparency(), 0);
    EXPECT_EQ(f.frames.Matte(1, 1), 0);
    EXPECT_EQ(f.keyer.separationDirty, 1);
    EXPECT_EQ(f.keyer.keyInDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
}

} // namespace
