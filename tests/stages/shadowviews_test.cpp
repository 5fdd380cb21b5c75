// The "Shadows" and "Lights" views: colours by ratio and matte, the key-in
// override, a black backing, an empty band, smoothing and flags.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "stages/shading.h"
#include "support/keyer_frames.h"

namespace {

// A green-backing keyer whose separation chain counts as done, so the matte
// is set by hand. Light chroma 100/255 makes the light level 100: red 200 on
// green 255 has ratio 1.5, green 102 ratio 0.5. Output bytes start at 7.
struct ViewFixture : KeyedFrames {
    ViewFixture(int w, int h, bool keyIn = false, uint8_t backingGreen = 255)
        : KeyedFrames(w, h, keyIn) {
        keyer.SetBackingColour(0, backingGreen, 0, 0);
        keyer.params.lightChroma = 100.0 / 255;
        ClearFlags(keyer);
        FillFg(0, 255, 0);
        std::fill(out.begin(), out.end(), 7);
    }
};

} // namespace

TEST(ShadingViews, ColoursByRatioAndMatte) {
    const struct {
        bool lights;
        Rgb fg;
        int matte;
        Rgb expected;
    } cases[] = {
        {false, {0, 255, 0}, 0, {255, 255, 255}},     // lit like the backing
        {false, {0, 102, 0}, 0, {15, 15, 255}},       // trunc(255 * 0.5^4)
        {false, {0, 102, 0}, 255, {127, 127, 127}},   // foreground: trunc(255 * 0.5)
        {false, {200, 255, 200}, 0, {255, 255, 255}}, // ratio 1.5
        {false, {0, 0, 0}, 0, {0, 0, 255}},           // ratio 0
        {false, {0, 0, 0}, 9, {0, 0, 0}},
        {true, {0, 255, 0}, 0, {100, 100, 100}},
        {true, {200, 255, 200}, 255, {227, 227, 0}}, // g = 127.5
        {true, {200, 255, 200}, 0, {255, 0, 255}},   // 4 g clamps both ways
        {true, {0, 102, 0}, 0, {100, 100, 100}},
        // Ratio 2 - 100/110: g = 23.18, 100 + 4 g = 192.7, 100 - 4 g = 7.27.
        {true, {110, 255, 110}, 0, {192, 7, 192}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.lights ? "lights " : "shadows ") << c.fg << " matte " << c.matte);
        ViewFixture f(3, 2);
        KeyerFrames::SetRgb(f.Fg(1, 0), uint8_t(c.fg.r), uint8_t(c.fg.g), uint8_t(c.fg.b));
        f.Matte(1, 0) = uint8_t(c.matte);
        ASSERT_EQ(c.lights ? f.keyer.RenderLightsView() : f.keyer.RenderShadowsView(), 1);
        EXPECT_EQ(f.OutRgb(1, 0), c.expected);
        EXPECT_EQ(f.Out(1, 0)[0], 7); // the alpha byte belongs to the render driver
        EXPECT_EQ(f.keyer.compositeDirty, 1);
    }
}

TEST(ShadingViews, KeyIn255PaintsTheNeutralColour) {
    ViewFixture f(3, 2, true);
    KeyerFrames::SetRgb(f.Fg(0, 0), 0, 102, 0);
    KeyerFrames::SetRgb(f.Fg(1, 0), 0, 102, 0);
    KeyerFrames::SetRgb(f.Fg(2, 0), 200, 255, 200);
    const uint8_t keyIn[3] = {255, 254, 255};
    for (int x = 0; x < 3; ++x)
        f.KeyIn(x, 0)[0] = keyIn[x];
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(f.OutRgb(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(f.OutRgb(1, 0), (Rgb{15, 15, 255}));
    ASSERT_EQ(f.keyer.RenderLightsView(), 1);
    EXPECT_EQ(f.OutRgb(1, 0), (Rgb{100, 100, 100}));
    EXPECT_EQ(f.OutRgb(2, 0), (Rgb{100, 100, 100}));
}

TEST(ShadingViews, BlackBackingAndAnEmptyBand) {
    ViewFixture black(4, 4, false, 0); // black backing: the band stays unpainted
    EXPECT_EQ(black.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(black.keyer.RenderLightsView(), 1);
    EXPECT_EQ(black.out, std::vector<uint8_t>(black.out.size(), 7));
    // A one-column crop (an empty band) paints the crop rectangle with the
    // neutral colour.
    ViewFixture f(6, 5);
    f.keyer.cropEnabled = 1;
    f.keyer.cropRect = RECT{2, 1, 3, 4};
    ASSERT_EQ(f.keyer.RenderLightsView(), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(f.OutRgb(x, y),
                      InRect(f.keyer.cropRect, x, y) ? (Rgb{100, 100, 100}) : (Rgb{7, 7, 7}))
                << x << "," << y;
}

TEST(ShadingViews, SmoothingAndADirtyChain) {
    ViewFixture f(5, 5);
    ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
    KeyerFrames::SetRgb(f.Fg(2, 2), 0, 0, 0); // one ratio 0 among ones
    ASSERT_EQ(f.keyer.RenderShadowsView(), 1);
    const double r = 8.0f * (1.0f / 9);
    const int v = int(255 * ((r * r) * (r * r)));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.OutRgb(x, y),
                      InRect(RECT{1, 1, 4, 4}, x, y) ? (Rgb{v, v, 255}) : (Rgb{255, 255, 255}))
                << x << "," << y;

    // A dirty separation runs the chain first.
    ViewFixture g(6, 6);
    KeyerFrames::SetRgb(g.Fg(3, 3), 250, 20, 30); // clearly not backing
    g.Matte(0, 0) = 77;                           // stale
    g.keyer.separationDirty = g.keyer.keyInDirty = 1;
    ASSERT_EQ(g.keyer.RenderShadowsView(), 1);
    EXPECT_EQ(Flags(g.keyer), 110);
    EXPECT_EQ(g.Matte(0, 0), 0);
    EXPECT_NE(g.Matte(3, 3), 0);
}

TEST(ShadingRatioTable, GivesTheRatioOfEveryPixel) {
    // Limits that put every comparison on both sides, a black backing's
    // negative light limits, and ones that no byte pixel reaches.
    const ShadingLimits limits[] = {
        {160, 100, 240, 500, 0, {}, {}},
        {37.5, 254.5, 0.5, 764.5, 0, {}, {}},
        {0, -3, -1, -2, 0, {}, {}},
        {300, 300, 900, 900, 0, {}, {}},
    };
    for (const ShadingLimits& l : limits)
        for (int dominant = 0; dominant < 3; ++dominant) {
            const int smallest = 2 - dominant;
            ShadingRatioTable table;
            table.Build(l, dominant, smallest);
            uint32_t seed = 7;
            for (int i = 0; i < 60000; ++i) {
                seed = seed * 1664525u + 1013904223u;
                const uint8_t rgb[3] = {uint8_t(seed >> 8), uint8_t(seed >> 16),
                                        uint8_t(seed >> 24)};
                const double expected = ShadingRatioOfBytes(l, rgb, dominant, smallest);
                const double got = table.RatioOfBytes(rgb);
                ASSERT_TRUE(got == expected || (got != got && expected != expected))
                    << l.shadowLevel << " " << int(rgb[0]) << "," << int(rgb[1]) << ","
                    << int(rgb[2]) << ": " << got << " vs " << expected;
            }
        }
}
