// The "Shadows" and "Lights" views: colours by ratio and matte, and the
// ratio table against the ratio of every pixel.
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
