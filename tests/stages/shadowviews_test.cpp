// The "Shadows" and "Lights" views: colours by ratio and matte, the key-in
// override, a failing black backing, the empty band, smoothing and flags.
#include <gtest/gtest.h>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// A green-backing keyer whose separation chain counts as done, so that the
// tests set the matte by hand. Light chroma 100/255 makes the light level
// 100, so a pixel with red 200 has ratio 1.5.
struct ViewFixture {
    KeyerFrames frames;
    CKeyer keyer;

    ViewFixture(int w, int h, bool keyIn = false, uint8_t backingGreen = 255)
        : frames(w, h, keyIn) {
        keyer.hasKeyIn = keyIn ? 1 : 0;
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.SetBackingColour(0, backingGreen, 0, 0);
        keyer.params.lightChroma = 100.0 / 255;
        keyer.bgCorrectionDirty = 0;
        keyer.separationDirty = 0;
        keyer.keyInDirty = 0;
        keyer.compositeDirty = 0;
        frames.FillFg(0, 255, 0);
        for (int i = 0; i < w * h; ++i)
            keyer.edgeImage->pixels[i] = 0;
        for (size_t i = 0; i < frames.out.size(); ++i)
            frames.out[i] = 7;
    }
    Rgb Out(int x, int y) {
        const uint8_t* p = frames.Out(x, y);
        return Rgb{p[1], p[2], p[3]};
    }
};

} // namespace

TEST(ShadowsView, ColoursByRatioAndMatte) {
    ViewFixture f(4, 3);
    KeyerFrames::SetRgb(f.frames.Fg(1, 0), 0, 102, 0);     // ratio 0.5, backing
    KeyerFrames::SetRgb(f.frames.Fg(2, 0), 0, 102, 0);     // ratio 0.5, foreground
    KeyerFrames::SetRgb(f.frames.Fg(3, 0), 200, 255, 200); // ratio 1.5
    KeyerFrames::SetRgb(f.frames.Fg(0, 1), 0, 0, 0);       // ratio 0, backing
    KeyerFrames::SetRgb(f.frames.Fg(1, 1), 0, 0, 0);       // ratio 0, foreground
    f.frames.Matte(2, 0) = 255;
    f.frames.Matte(1, 1) = 9;
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(f.Out(0, 0), (Rgb{255, 255, 255})); // lit like the backing
    EXPECT_EQ(f.Out(1, 0), (Rgb{15, 15, 255}));   // trunc(255 * 0.0625)
    EXPECT_EQ(f.Out(2, 0), (Rgb{127, 127, 127})); // trunc(255 * 0.5)
    EXPECT_EQ(f.Out(3, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(f.Out(0, 1), (Rgb{0, 0, 255}));
    EXPECT_EQ(f.Out(1, 1), (Rgb{0, 0, 0}));
    // The alpha byte belongs to the render driver.
    EXPECT_EQ(f.frames.Out(1, 0)[0], 7);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
}

TEST(LightsView, ColoursByRatioAndMatte) {
    ViewFixture f(4, 3);
    KeyerFrames::SetRgb(f.frames.Fg(1, 0), 200, 255, 200); // ratio 1.5, foreground
    KeyerFrames::SetRgb(f.frames.Fg(2, 0), 200, 255, 200); // ratio 1.5, backing
    KeyerFrames::SetRgb(f.frames.Fg(3, 0), 0, 102, 0);     // ratio 0.5
    KeyerFrames::SetRgb(f.frames.Fg(0, 1), 110, 255, 110); // ratio 2 - 100/110
    f.frames.Matte(1, 0) = 255;
    ASSERT_EQ(f.keyer.RenderLightsView(), 1);
    EXPECT_EQ(f.Out(0, 0), (Rgb{100, 100, 100}));
    EXPECT_EQ(f.Out(1, 0), (Rgb{227, 227, 0})); // g = 127.5
    EXPECT_EQ(f.Out(2, 0), (Rgb{255, 0, 255})); // 4 g clamps both ways
    EXPECT_EQ(f.Out(3, 0), (Rgb{100, 100, 100}));
    // g = (1 - 100/110) * 255 = 23.18..: 100 + 4 g = 192.7, 100 - 4 g = 7.27.
    EXPECT_EQ(f.Out(0, 1), (Rgb{192, 7, 192}));
}

TEST(ShadingViews, KeyIn255PaintsTheNeutralColour) {
    ViewFixture f(3, 2, true);
    KeyerFrames::SetRgb(f.frames.Fg(0, 0), 0, 102, 0);
    KeyerFrames::SetRgb(f.frames.Fg(1, 0), 0, 102, 0);
    KeyerFrames::SetRgb(f.frames.Fg(2, 0), 200, 255, 200);
    f.frames.KeyIn(0, 0)[0] = 255;
    f.frames.KeyIn(1, 0)[0] = 254;
    f.frames.KeyIn(2, 0)[0] = 255;
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(f.Out(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(f.Out(1, 0), (Rgb{15, 15, 255}));
    ASSERT_EQ(f.keyer.RenderLightsView(), 1);
    EXPECT_EQ(f.Out(2, 0), (Rgb{100, 100, 100}));
    EXPECT_EQ(f.Out(1, 0), (Rgb{100, 100, 100}));
}

TEST(ShadingViews, BlackBackingLeavesTheBandUnpainted) {
    ViewFixture f(4, 4, false, 0);
    EXPECT_EQ(f.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(f.keyer.RenderLightsView(), 1);
    for (uint8_t byte : f.frames.out)
        ASSERT_EQ(byte, 7);
}

TEST(ShadingViews, EmptyBandPaintsOnlyTheCropRectangle) {
    ViewFixture f(5, 5);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 2, 1, 3, 4); // one column wide
    ASSERT_EQ(f.keyer.RenderLightsView(), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool inside = x == 2 && y >= 1 && y < 4;
            EXPECT_EQ(f.Out(x, y), inside ? (Rgb{100, 100, 100}) : (Rgb{7, 7, 7}));
        }
    EXPECT_EQ(f.frames.Out(2, 2)[0], 7);
}

TEST(ShadingViews, CropPaintsOnlyTheBand) {
    ViewFixture f(6, 5);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 1, 1, 4, 3);
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(f.Out(x, y), inside ? (Rgb{255, 255, 255}) : (Rgb{7, 7, 7})) << x << "," << y;
        }
}

TEST(ShadingViews, SmoothingIsReadFromTheBuffer) {
    ViewFixture f(5, 5);
    ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
    KeyerFrames::SetRgb(f.frames.Fg(2, 2), 0, 0, 0); // one ratio 0 among ones
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    const double r = 8.0f * (1.0f / 9);
    const int v = int(255 * ((r * r) * (r * r)));
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(f.Out(x, y), (Rgb{v, v, 255})) << x << "," << y;
    EXPECT_EQ(f.Out(0, 0), (Rgb{255, 255, 255}));
}

TEST(ShadingViews, DirtySeparationRunsTheChainFirst) {
    ViewFixture f(6, 6);
    KeyerFrames::SetRgb(f.frames.Fg(3, 3), 250, 20, 30); // clearly not backing
    f.frames.Matte(0, 0) = 77;                           // stale
    f.keyer.separationDirty = 1;
    f.keyer.keyInDirty = 1;
    f.keyer.spillShadowDirty = 0;
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(f.keyer.separationDirty, 0);
    EXPECT_EQ(f.keyer.keyInDirty, 0);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.frames.Matte(0, 0), 0);
    EXPECT_NE(f.frames.Matte(3, 3), 0);
}
