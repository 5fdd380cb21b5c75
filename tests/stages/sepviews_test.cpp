// Separation and transparency views: colours by matte value and view index.
#include <gtest/gtest.h>

#include <array>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

typedef std::array<int, 3> Rgb;

// A 4 x 2 frame separated against green: green pixels are backing, red and
// blue ones foreground. Output colours start at 99, the output alpha at 42.
struct ViewFixture {
    KeyerFrames frames;
    CKeyer keyer;

    ViewFixture() : frames(4, 2) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.params.separationColor[1] = 200.0;
        keyer.params.separationLevel = 50.0;
        keyer.params.separationDeviation = 0.5;
        keyer.channelOrder[0] = kChannelGreen;
        keyer.channelOrder[1] = kChannelBlue;
        keyer.channelOrder[2] = kChannelRed;
        const Rgb fg[2][4] = {{{0, 200, 0}, {200, 0, 0}, {0, 0, 200}, {0, 150, 0}},
                              {{200, 0, 0}, {0, 200, 0}, {0, 180, 0}, {0, 0, 200}}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) {
                KeyerFrames::SetRgb(frames.Fg(x, y), fg[y][x][0], fg[y][x][1], fg[y][x][2]);
                KeyerFrames::SetRgb(frames.Bg(x, y), 10 + x, 20 + y, 30);
                KeyerFrames::SetRgb(frames.Out(x, y), 99, 99, 99);
                frames.Out(x, y)[0] = 42;
            }
    }
    static bool IsForeground(int x, int y) {
        return (y == 0 && (x == 1 || x == 2)) || (y == 1 && (x == 0 || x == 3));
    }
    Rgb Out(int x, int y) {
        return {frames.Out(x, y)[1], frames.Out(x, y)[2], frames.Out(x, y)[3]};
    }
    Rgb Fg(int x, int y) { return {frames.Fg(x, y)[1], frames.Fg(x, y)[2], frames.Fg(x, y)[3]}; }
    Rgb Bg(int x, int y) { return {frames.Bg(x, y)[1], frames.Bg(x, y)[2], frames.Bg(x, y)[3]}; }
};

TEST(SeparationView, ColourTables) {
    const Rgb black = {0, 0, 0}, grey = {160, 160, 160};
    for (int view = 0; view < 4; ++view) {
        ViewFixture f;
        f.keyer.separationView = view;
        f.keyer.separationDirty = f.keyer.keyInDirty = 0;
        ASSERT_NE(f.keyer.RenderSeparationView(), 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) {
                const bool fg = ViewFixture::IsForeground(x, y);
                EXPECT_EQ(f.frames.Matte(x, y), fg ? 1 : 0);
                Rgb expected;
                switch (view) {
                case 0:
                    expected = fg ? f.Fg(x, y) : f.Bg(x, y);
                    break;
                case 1:
                    expected = fg ? black : grey;
                    break;
                case 2:
                    expected = fg ? black : f.Bg(x, y);
                    break;
                default:
                    expected = fg ? f.Fg(x, y) : black;
                    break;
                }
                EXPECT_EQ(f.Out(x, y), expected) << "view " << view << " at " << x << "," << y;
                EXPECT_EQ(f.frames.Out(x, y)[0], 42);
            }
        // The matte holds only the separation mask now.
        EXPECT_EQ(f.keyer.separationDirty, 1);
        EXPECT_EQ(f.keyer.keyInDirty, 1);
    }
}

TEST(SeparationView, OtherIndexWritesNothingAndCropLimitsTheBand) {
    ViewFixture f;
    f.keyer.separationView = 4;
    ASSERT_NE(f.keyer.RenderSeparationView(), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(f.Out(x, y), (Rgb{99, 99, 99}));

    ViewFixture g;
    g.keyer.separationView = 1;
    g.keyer.cropEnabled = 1;
    SetRect(&g.keyer.cropRect, 1, 0, 3, 2); // columns 1 and 2
    ASSERT_NE(g.keyer.RenderSeparationView(), 0);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(g.Out(0, y), (Rgb{99, 99, 99}));
        EXPECT_EQ(g.Out(3, y), (Rgb{99, 99, 99}));
    }
    EXPECT_EQ(g.Out(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(g.Out(1, 1), (Rgb{160, 160, 160}));
}

// Transparency colour red, threshold 0, strength 0.498: red pixels grade to
// (1 - 0.498) * 255 = 128.01 -> 128, blue ones keep 255, green is backing.
struct TransparencyViewFixture : ViewFixture {
    TransparencyViewFixture(double backingBlue) {
        keyer.params.transparencyColor[0] = 1.0;
        keyer.params.transparencyThreshold = 0.0;
        keyer.params.transparencyStrength = 0.498;
        keyer.params.transparencyEdge = 0.0;
        keyer.defaultParams.separationColor[2] = backingBlue;
    }
};

TEST(TransparencyView, Colours) {
    TransparencyViewFixture f(123.9);
    f.keyer.separationDirty = f.keyer.keyInDirty = 1;
    f.keyer.compositeDirty = f.keyer.spillShadowDirty = 0;
    ASSERT_NE(f.keyer.RenderTransparencyView(), 0);
    EXPECT_EQ(f.frames.Matte(1, 0), 128);
    EXPECT_EQ(f.frames.Matte(2, 0), 255);
    EXPECT_EQ(f.Out(1, 0), (Rgb{0, 127, 127})); // red: matte 128
    EXPECT_EQ(f.Out(2, 0), (Rgb{0, 0, 0}));     // blue: matte 255
    EXPECT_EQ(f.Out(0, 0), (Rgb{0, 0, 123}));   // backing
    EXPECT_EQ(f.Out(3, 1), (Rgb{0, 0, 0}));
    EXPECT_EQ(f.Out(1, 1), (Rgb{0, 0, 123}));
    EXPECT_EQ(f.frames.Out(1, 0)[0], 42);
    EXPECT_EQ(f.keyer.separationDirty, 0);
    EXPECT_EQ(f.keyer.keyInDirty, 0);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
}

TEST(TransparencyView, GreenBackingShowsTransparentAreasBlack) {
    TransparencyViewFixture f(0.0);
    ASSERT_NE(f.keyer.RenderTransparencyView(), 0);
    EXPECT_EQ(f.Out(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(f.Out(1, 0), (Rgb{0, 127, 127}));
}

TEST(TransparencyView, RunsTheEdgeStageOfTheChain) {
    TransparencyViewFixture f(50.0);
    f.keyer.params.transparencyStrength = 0.0; // foreground stays 255
    f.keyer.params.transparencyEdge = 1.0;     // caps 255 to 231 at distance 1
    ASSERT_NE(f.keyer.RenderTransparencyView(), 0);
    // (1, 0) has backing on its left: distance 1, capped to 231.
    EXPECT_EQ(f.frames.Matte(1, 0), 231);
    EXPECT_EQ(f.Out(1, 0), (Rgb{0, 24, 24}));
    EXPECT_EQ(f.keyer.edgeProfile[1], 231);
}

} // namespace
