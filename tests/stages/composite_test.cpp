// The full composite: backing pixels with shadow and light, the key-in
// override, reflections and spill, partial transparency, each foreground
// correction mode, the edge weights, smoothing, a black backing; thread-count
// independence of the whole chain.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"
#include "support/synthetic.h"

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

TEST(Composite, BackingPixelsShowTheShadedUnderlay) {
    CompositeFixture f(4, 2);
    f.keyer.params.lightChroma = 60.0 / 215; // light level 100
    f.FillUnder(100, 150, 50);
    EXPECT_EQ(f.Pixel({40, 200, 60}, 0), (Rgb{100, 150, 50})); // lit like the backing
    // Shadow: q_s = 100 / 160 = 150 / 240 = 0.625.
    EXPECT_EQ(f.Pixel({20, 100, 30}, 0), (Rgb{62, 93, 31}));
    // Light: q_l = 100 / 200, h = 1.5; each channel gains 0.5 * green 150.
    EXPECT_EQ(f.Pixel({200, 255, 60}, 0), (Rgb{175, 225, 125}));
    EXPECT_EQ(f.Out(0, 0)[0], 7); // the output's alpha is never written
    EXPECT_EQ(f.keyer.compositeDirty, 0);
}

TEST(Composite, KeyInShowsTheUnderlayUnchanged) {
    CompositeFixture f(3, 1, true);
    f.FillUnder(100, 150, 50);
    f.FillFg(20, 100, 30);
    const uint8_t keyIn[3] = {255, 254, 255};
    for (int x = 0; x < 3; ++x)
        f.KeyIn(x, 0)[0] = keyIn[x];
    f.Matte(2, 0) = 255;
    ASSERT_EQ(f.keyer.Composite(), 1);
    EXPECT_EQ(f.OutRgb(0, 0), (Rgb{100, 150, 50})); // no shadow applied
    EXPECT_EQ(f.OutRgb(1, 0), (Rgb{62, 93, 31}));
    EXPECT_EQ(f.OutRgb(2, 0), (Rgb{100, 150, 50})); // foreground too
}

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
        {0, 1.0, 0.5, {1, 2, 3}, 0, 0, 0, {200, 100, 50}, 255, 0, {200, 100, 50}},
        // Hue on white (h = 1): tinted halfway to blue, mean 170 scaled to 255.
        {4, 0.5, 0, {0, 0, 255}, 0, 0, 0, {255, 255, 255}, 255, 0, {191, 191, 255}},
        {4, 1.0, 0, {0, 0, 0}, 0, 0, 0, {255, 255, 255}, 255, 0, {0, 0, 0}},
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

TEST(Composite, ChromaticityWeightAndFullCorrections) {
    CompositeFixture f(2, 2);
    f.Isolate();
    f.keyer.params.reflectionColor[1] = 0;
    f.keyer.params.reflectionChroma = 0.5;
    f.keyer.params.reflectionStrength = 1; // r about 0.37: less backing colour
    const Rgb weighted = f.Pixel({85, 85, 85}, 255);
    EXPECT_LT(weighted.g, 173);
    EXPECT_GT(weighted.g, 85);

    // Black (s = 0): no spill replacement, r = 1, h = 0.
    CompositeFixture g(2, 2);
    g.FillUnder(90, 80, 70);
    EXPECT_EQ(g.Pixel({0, 0, 0}, 255), (Rgb{0, 0, 0}));
    g.Correct(5, 0.5, 0.0, {100, 50, 10});
    EXPECT_EQ(g.Pixel({0, 0, 0}, 255), (Rgb{50, 25, 5}));
    // The backing's own colour: r = 1 - (sum of C) <= 1e-8, spill term 0.
    g.FillUnder(40, 200, 60);
    g.Correct(5, 1.0, 0.0);
    EXPECT_EQ(g.Pixel({40, 200, 60}, 255), (Rgb{40, 200, 60}));
}

TEST(Composite, SmoothedRatioIsReadFromTheBuffer) {
    CompositeFixture f(5, 5);
    f.FillUnder(200, 100, 50);
    KeyerFrames::SetRgb(f.Fg(2, 2), 0, 0, 0); // ratio 0 among ones
    ASSERT_EQ(f.keyer.Composite(), 1);
    EXPECT_EQ(f.OutRgb(2, 2), (Rgb{0, 0, 0}));
    EXPECT_EQ(f.OutRgb(1, 1), (Rgb{200, 100, 50}));
    ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
    ASSERT_EQ(f.keyer.Composite(), 1);
    for (int y = 0; y < 5; ++y) // the 3 x 3 mean 8/9 around the black pixel
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.OutRgb(x, y),
                      InRect(RECT{1, 1, 4, 4}, x, y) ? (Rgb{177, 88, 44}) : (Rgb{200, 100, 50}));

    // Smoothing on without its buffer fails the composite, writing nothing.
    CompositeFixture g(4, 4);
    g.keyer.smoothBgShadow = 1;
    g.keyer.compositeDirty = 1;
    EXPECT_EQ(g.keyer.Composite(), 0);
    EXPECT_EQ(g.keyer.compositeDirty, 1);
    EXPECT_EQ(g.OutRgb(0, 0), (Rgb{7, 7, 7}));
    g.keyer.smoothBgShadow = 0;
}

TEST(Composite, BlackBackingWritesNothing) {
    CompositeFixture black(4, 4, false, {0, 0, 0});
    EXPECT_EQ(black.keyer.Composite(), 1);
    EXPECT_EQ(black.out, std::vector<uint8_t>(black.out.size(), 7));
}

TEST(Stages, SameResultForAnyThreadCount) {
    // The whole chain on synthetic material with a key-in layer, a soft edge,
    // both smoothings and a hue correction: matte, underlay, ratios and output.
    ExpectSameForAnyThreadCount([](uint16_t threads) {
        const int w = 97, h = 61;
        KeyedFrames f(w, h, true);
        f.keyer.threadCount = threads;
        synthetic::GreenScreen(f.fg.data(), w, h, w * 4);
        synthetic::Background(f.bg.data(), w, h, w * 4);
        synthetic::KeyInMatte(f.keyIn.data(), w, h, w * 4);
        f.keyer.SetKeyInMode(kKeyInPlusFg);
        EXPECT_EQ(f.keyer.SetBackingColour(60, 190, 40, 1), 1);
        KeyerParams p = f.keyer.params;
        p.transparencyEdge = 3.7;
        p.fgCorrectionMode = 4;
        p.fgCorrectionStrength = 0.6;
        p.fgCorrectionColor[0] = 200;
        EXPECT_EQ(f.keyer.SetParams(p), 1);
        EXPECT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
        EXPECT_EQ(f.keyer.Update(1), 1);
        std::vector<float> result(f.out.begin(), f.out.end());
        result.insert(result.end(), f.matte.pixels, f.matte.pixels + w * h);
        for (uint8_t v : f.Underlay())
            result.push_back(v);
        result.insert(result.end(), f.keyer.shadingBuffer, f.keyer.shadingBuffer + w * h);
        return result;
    });
}
