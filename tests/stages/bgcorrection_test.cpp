// Background colour correction: each mode on hand-computed pixels, the
// stage and view targets, the crop.
#include <gtest/gtest.h>

#include <array>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

using Rgb = std::array<int, 3>;

// A keyer over a frame whose background is one colour.
struct CorrectionFixture {
    KeyerFrames frames;
    CKeyer keyer;

    CorrectionFixture(int w, int h, Rgb bg) : frames(w, h) {
        frames.FillBg(uint8_t(bg[0]), uint8_t(bg[1]), uint8_t(bg[2]));
        EXPECT_EQ(frames.Attach(keyer), 1);
    }
    void Set(int mode, double s, double b, Rgb colour = {0, 0, 0}) {
        KeyerParams p;
        p.bgCorrectionMode = mode;
        p.bgCorrectionStrength = s;
        p.bgCorrectionBrightness = b;
        for (int i = 0; i < 3; ++i)
            p.bgCorrectionColor[i] = colour[i];
        ASSERT_EQ(keyer.SetParams(p), 1);
    }
    // Renders the view and returns output pixel (x, y).
    Rgb View(int x = 0, int y = 0) {
        EXPECT_EQ(keyer.RenderCorrectedBackgroundView(), 1);
        const uint8_t* px = frames.Out(x, y);
        return Rgb{px[1], px[2], px[3]};
    }
};

} // namespace

TEST(BgCorrection, Blend) {
    CorrectionFixture f(5, 4, {100, 50, 200});
    KeyerParams p;
    p.bgCorrectionMode = 5;
    p.bgCorrectionStrength = 1.0;
    p.bgCorrectionColor[0] = 10.7;
    p.bgCorrectionColor[1] = 200.2;
    p.bgCorrectionColor[2] = 30.9;
    ASSERT_EQ(f.keyer.SetParams(p), 1);
    EXPECT_EQ(f.View(4, 3), (Rgb{10, 200, 30}));
    EXPECT_EQ(f.frames.Out(2, 2)[0], 0); // the output's alpha is not touched
    // Halfway: (C - X) * s + X = 50, 152.5, 100.
    f.Set(5, 0.5, 0.0, {0, 255, 0});
    EXPECT_EQ(f.View(1, 1), (Rgb{50, 152, 100}));
}

TEST(BgCorrection, DesaturateFollowsTheWrittenOperationOrder) {
    // L = 0.299 R + 0.114 B + 0.587 G is 24.999999999999996 for (11, 3, 175);
    // (L - X) * 1 + X then reaches 25 for blue only.
    CorrectionFixture f(4, 2, {11, 3, 175});
    f.Set(2, 1.0, 0.0);
    EXPECT_EQ(f.View(3, 1), (Rgb{24, 24, 25}));
    // For (1, 183, 20) L is 109.99999999999999 in this order (110 when the
    // green term is added before the blue one).
    CorrectionFixture g(4, 2, {1, 183, 20});
    g.Set(2, 1.0, 0.0);
    EXPECT_EQ(g.View(), (Rgb{109, 109, 109}));
}

TEST(BgCorrection, SaturateAndHue) {
    CorrectionFixture f(2, 2, {200, 100, 0});
    f.Set(3, 1.0, 0.0);
    EXPECT_EQ(f.View(), (Rgb{255, 100, 0})); // M = 100: 300 and -100 clamp

    CorrectionFixture h(3, 2, {100, 50, 200});
    // Tinted (177.5, 25, 100), mean 100.8333, scaled by 116.6667 / 100.8333.
    h.Set(4, 0.5, 0.0, {255, 0, 0});
    EXPECT_EQ(h.View(2, 1), (Rgb{205, 28, 115}));
    h.Set(4, 0.5, 0.2, {255, 0, 0}); // then brightness: 1.2 times that
    EXPECT_EQ(h.View(2, 1), (Rgb{246, 34, 138}));
    h.Set(4, 1.0, 0.0, {0, 0, 0}); // black colour: M' = 0, k = 0
    EXPECT_EQ(h.View(1, 0), (Rgb{0, 0, 0}));
}

TEST(BgCorrection, Brightness) {
    CorrectionFixture f(3, 2, {100, 50, 200});
    f.Set(1, 0.0, 0.5);
    EXPECT_EQ(f.View(), (Rgb{150, 75, 255}));
    f.Set(1, 1.0, 0.1); // the strength does not count in this mode
    EXPECT_EQ(f.View(), (Rgb{110, 55, 220}));
    f.Set(2, 0.3, -1.0); // -100 percent: black in any mode
    EXPECT_EQ(f.View(), (Rgb{0, 0, 0}));
}

TEST(BgCorrection, NoCorrectionCopiesTheBackground) {
    CorrectionFixture f(3, 2, {100, 50, 200});
    KeyerFrames::SetRgb(f.frames.Bg(2, 1), 1, 2, 3);
    f.Set(0, 0.0, 0.0);
    EXPECT_EQ(f.View(0, 0), (Rgb{100, 50, 200}));
    EXPECT_EQ(f.View(2, 1), (Rgb{1, 2, 3}));
    // Brightness mode with b = 0, and any mode with s = b = 0: a plain copy.
    f.frames.FillBg(7, 8, 9);
    f.Set(1, 0.7, 0.0);
    EXPECT_EQ(f.View(1, 1), (Rgb{7, 8, 9}));
    f.frames.FillBg(4, 5, 6);
    f.Set(5, 0.0, 0.0, {255, 255, 255});
    EXPECT_EQ(f.View(1, 1), (Rgb{4, 5, 6}));
}

TEST(BgCorrection, CropLeavesTheOutsideUntouched) {
    CorrectionFixture f(6, 5, {100, 50, 200});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            KeyerFrames::SetRgb(f.frames.Out(x, y), 9, 9, 9);
    f.keyer.cropEnabled = 1;
    f.keyer.cropRect = RECT{1, 2, 4, 4};
    f.Set(5, 1.0, 0.0, {0, 255, 0});
    ASSERT_EQ(f.keyer.RenderCorrectedBackgroundView(), 1);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 2 && y < 4;
            const uint8_t* px = f.frames.Out(x, y);
            EXPECT_EQ(px[1], inside ? 0 : 9) << x << "," << y;
            EXPECT_EQ(px[2], inside ? 255 : 9) << x << "," << y;
        }
    }
}

TEST(BgCorrection, StageTarget) {
    CorrectionFixture f(4, 3, {100, 50, 200});
    // Without a mode the stage writes nothing: the background is read as is.
    f.Set(0, 0.0, 0.0);
    ASSERT_EQ(f.keyer.CorrectBackground(nullptr), 1);
    EXPECT_EQ(f.keyer.bgCorrectionDirty, 0);

    f.Set(5, 1.0, 0.0, {1, 2, 3});
    CImageBaseClass* own = f.keyer.ownCorrectedBackground;
    ASSERT_NE(own, nullptr);
    f.keyer.compositeDirty = 0;
    ASSERT_EQ(f.keyer.CorrectBackground(nullptr), 1);
    EXPECT_EQ(f.keyer.bgCorrectionDirty, 0);
    EXPECT_EQ(f.keyer.compositeDirty, 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint8_t* px = own->PixelAddress(uint16_t(x), uint16_t(y));
            EXPECT_EQ(Rgb({px[0], px[1], px[2]}), (Rgb{1, 2, 3}));
        }
    }
    EXPECT_EQ(f.frames.Bg(3, 2)[1], 100);
    EXPECT_EQ(f.frames.Out(3, 2)[1], 0);
    // Writing the output marks the composite as gone.
    EXPECT_EQ(f.keyer.RenderCorrectedBackgroundView(), 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);

    // A keyer without images fails instead of touching null images.
    CKeyer empty;
    EXPECT_EQ(empty.CorrectBackground(nullptr), 0);
    EXPECT_EQ(empty.RenderCorrectedBackgroundView(), 0);
}
