// The full composite: reflections and spill, partial transparency, each
// foreground correction mode and the edge weights on hand-computed pixels, and
// a black backing. (Backing pixels, the key-in override, smoothing and the
// thread-count independence of the whole chain are the golden cases'.)
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// Backing (40, 200, 60): green, blue, red ranked; shadow level 160 and shadow
// sum 240 with the defaults. Underlay black, foreground the backing colour,
// output bytes 7.
struct CompositeFixture : KeyedFrames {
    CompositeFixture(int w, int h, bool keyIn = false, Rgb backing = {40, 200, 60})
        : KeyedFrames(w, h, keyIn) {
        keyer.SetBackingColour(backing.b, backing.g, backing.r, 0);
        FillUnder(0, 0, 0);
        FillFg(uint8_t(backing.r), uint8_t(backing.g), uint8_t(backing.b));
        std::fill(out.begin(), out.end(), 7);
    }
    // Shading, dark reflections, the chromaticity weight and the spill
    // replacement off (e < 0 wherever f > 0), so one step shows on its own.
    void Isolate() {
        KeyerParams& p = keyer.params;
        p.shadowChroma = p.shadowBrightness = p.reflectionBrightness = 0;
        p.reflectionStrength = p.reflectionColor[0] = p.reflectionColor[2] = 0;
        p.reflectionColor[1] = -10000;
    }
    void Correct(int mode, double k, double b, std::array<double, 3> c = {0, 0, 0}) {
        keyer.params.fgCorrectionMode = mode;
        keyer.params.fgCorrectionStrength = k;
        keyer.params.fgCorrectionBrightness = b;
        for (int i = 0; i < 3; ++i)
            keyer.params.fgCorrectionColor[i] = c[i];
    }
    // Composites with foreground pixel (0, 0) set; returns its output.
    Rgb Pixel(Rgb fg, uint8_t matte) {
        SetRgb(Fg(0, 0), uint8_t(fg.r), uint8_t(fg.g), uint8_t(fg.b));
        Matte(0, 0) = matte;
        EXPECT_EQ(keyer.Composite(), 1);
        return OutRgb(0, 0);
    }
};

} // namespace

TEST(Composite, HandComputedForegroundPixels) {
    // With Isolate(); sc shadow chroma (level 200 sc), rc reflection chroma
    // with spill replacement on (RS = 0), rb reflection brightness; edge is the
    // pixel's distance with weight 0.25 at distance 2. Background (0, 50, 250).
    const struct {
        int mode;
        double k, b;
        std::array<double, 3> colour;
        double sc, rc, rb;
        Rgb fg;
        int matte, edge;
        Rgb expected;
    } cases[] = {
        {0, 0, 0, {}, 0, 0, 0, {200, 100, 50}, 255, 0, {200, 100, 50}},
        {2, 1.0, 0, {}, 0, 0, 0, {200, 100, 50}, 255, 0, {124, 124, 124}},  // Y = 124.2
        {3, 0.5, 0, {}, 0, 0, 0, {200, 100, 50}, 255, 0, {241, 91, 16}},    // A = 116.67
        {1, 0.7, 0.5, {}, 0, 0, 0, {200, 100, 50}, 255, 0, {255, 150, 75}}, // k unused
        {5, 1.0, -0.5, {100, 60, 20}, 0, 0, 0, {200, 100, 50}, 255, 0, {50, 30, 10}},
        // Hue on white (h = 1): tinted halfway to blue, mean 170 scaled to 255.
        {4, 0.5, 0, {0, 0, 255}, 0, 0, 0, {255, 255, 255}, 255, 0, {191, 191, 255}},
        // Hue order pin: (P * A) / A' gives 222.99999999999997 -> 222 (P * (A / A')
        // would give 223), and exactly 249 (the other way 248.99999999999997).
        {4, 0.25, 0, {38, 12, 188}, 0, 0, 0, {250, 179, 17}, 255, 0, {222, 155, 67}},
        {4, 0.6, 0, {176, 177, 111}, 0, 0, 0, {246, 236, 182}, 255, 0, {249, 244, 170}},
        // tau = 127/255: P + (B - P) * tau; a full blend to black mixed back by r.
        {0, 0, 0, {}, 0, 0, 0, {200, 100, 50}, 128, 0, {100, 75, 149}},
        {5, 1.0, 0, {0, 0, 0}, 0, 0, 0, {200, 100, 50}, 128, 0, {49, 37, 74}},
        {5, 1.0, 0, {0, 0, 0}, 0, 0, 0, {200, 100, 50}, 255, 2, {150, 75, 37}}, // r = 0.25
        // Shadow h = 80 / 160 behind a partial pixel: B * h = (0, 25, 125).
        {0, 0, 0, {}, 0.8, 0, 0, {50, 80, 40}, 128, 0, {25, 52, 82}},
        // Grey 85: f = g = 8/9, Q = (20, 100, 30), P = 85 + Q * 8/9.
        {0, 0, 0, {}, 0, 0.5, 0, {85, 85, 85}, 255, 0, {102, 173, 111}},
        // Shadow tints 0.75 / 0.85 / 0.75 at h = 0.53125: Q = 17.66, 92.97, 26.48.
        {0, 0, 0, {}, 0.8, 0.5, 0, {85, 85, 85}, 255, 0, {100, 167, 108}},
        // Reflection sum 267.75 > 255: Q gains (1 - 255/267.75) * 85 = 4.05.
        {0, 0, 0, {}, 0.8, 0.5, 0.35, {85, 85, 85}, 255, 0, {104, 171, 112}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " fg " << c.fg << " matte "
                                        << c.matte << " sc " << c.sc << " rc " << c.rc);
        CompositeFixture f(2, 2);
        f.Isolate();
        f.Correct(c.mode, c.k, c.b, c.colour);
        f.keyer.params.shadowChroma = c.sc;
        f.keyer.params.reflectionBrightness = c.rb;
        if (c.rc != 0) {
            f.keyer.params.reflectionColor[1] = 0;
            f.keyer.params.reflectionChroma = c.rc;
        }
        f.keyer.edgeWeights[2] = 0.25;
        f.Edge(0, 0) = uint8_t(c.edge);
        KeyerFrames::SetRgb(f.Bg(0, 0), 0, 50, 250);
        EXPECT_EQ(f.Pixel(c.fg, uint8_t(c.matte)), c.expected);
    }
}

TEST(Composite, BlackBackingWritesNothing) {
    CompositeFixture black(4, 4, false, {0, 0, 0});
    EXPECT_EQ(black.keyer.Composite(), 1);
    EXPECT_EQ(black.out, std::vector<uint8_t>(black.out.size(), 7));
}
