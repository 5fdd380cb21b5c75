// The full composite: backing pixels with shadow and light, the key-in
// override, the reflection weight, spill replacement, partial transparency,
// each foreground correction mode, the edge weights, smoothing, the crop, a
// black backing and thread-count independence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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

// Backing (40, 200, 60): dominant green, middle blue, smallest red; shadow
// level 160 and shadow sum 240 with the defaults. Foreground, underlay and
// background are set per test; the matte starts at 0 and the edge at 0.
struct CompositeFixture {
    KeyerFrames frames;
    CKeyer keyer;

    CompositeFixture(int w, int h, bool keyIn = false, uint8_t kr = 40, uint8_t kg = 200,
                     uint8_t kb = 60)
        : frames(w, h, keyIn) {
        keyer.hasKeyIn = keyIn ? 1 : 0;
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.SetBackingColour(kb, kg, kr, 0);
        for (int i = 0; i < w * h; ++i)
            keyer.edgeImage->pixels[i] = 0;
        FillUnder(0, 0, 0);
        frames.FillFg(kr, kg, kb);
        for (size_t i = 0; i < frames.out.size(); ++i)
            frames.out[i] = 7;
    }
    // Shading, dark reflections, the chromaticity weight and the spill
    // replacement switched off, so that one step can be seen on its own.
    void Isolate() {
        keyer.params.shadowChroma = 0;
        keyer.params.shadowBrightness = 0;
        keyer.params.reflectionBrightness = 0;
        keyer.params.reflectionStrength = 0;
        keyer.params.reflectionColor[0] = 0;
        keyer.params.reflectionColor[1] = -10000; // e < 0 wherever f > 0
        keyer.params.reflectionColor[2] = 0;
    }
    void Correct(int mode, double k, double b, double r = 0, double g = 0, double bl = 0) {
        keyer.params.fgCorrectionMode = mode;
        keyer.params.fgCorrectionStrength = k;
        keyer.params.fgCorrectionBrightness = b;
        keyer.params.fgCorrectionColor[0] = r;
        keyer.params.fgCorrectionColor[1] = g;
        keyer.params.fgCorrectionColor[2] = bl;
    }
    uint8_t* Under(int x, int y) {
        return keyer.underlayImage->pixels + (y * frames.width + x) * 3;
    }
    void SetUnder(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        Under(x, y)[0] = r;
        Under(x, y)[1] = g;
        Under(x, y)[2] = b;
    }
    void FillUnder(uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < frames.height; ++y)
            for (int x = 0; x < frames.width; ++x)
                SetUnder(x, y, r, g, b);
    }
    uint8_t& Edge(int x, int y) { return keyer.edgeImage->pixels[y * frames.width + x]; }
    Rgb Out(int x, int y) {
        const uint8_t* p = frames.Out(x, y);
        return Rgb{p[1], p[2], p[3]};
    }
    // Runs the composite on one foreground pixel at (0, 0) and returns it.
    Rgb Pixel(uint8_t r, uint8_t g, uint8_t b, uint8_t matte) {
        KeyerFrames::SetRgb(frames.Fg(0, 0), r, g, b);
        frames.Matte(0, 0) = matte;
        EXPECT_EQ(keyer.Composite(), 1);
        return Out(0, 0);
    }
};

class ThreadCount {
  public:
    explicit ThreadCount(int n) { setenv("ORVO_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv("ORVO_THREADS"); }
};

} // namespace

TEST(Composite, BackingPixelsShowTheShadedUnderlay) {
    CompositeFixture f(4, 2);
    f.keyer.params.lightChroma = 60.0 / 215; // light level 100
    f.FillUnder(100, 150, 50);
    // Lit like the backing: h = 1, the underlay itself.
    EXPECT_EQ(f.Pixel(40, 200, 60, 0), (Rgb{100, 150, 50}));
    // Shadow: q_s = 100 / 160 = 150 / 240 = 0.625.
    EXPECT_EQ(f.Pixel(20, 100, 30, 0), (Rgb{62, 93, 31}));
    // Light: q_l = 100 / 200, h = 1.5; each channel gains 0.5 * green 150.
    EXPECT_EQ(f.Pixel(200, 255, 60, 0), (Rgb{175, 225, 125}));
    // The output's alpha byte is never written here.
    EXPECT_EQ(f.frames.Out(0, 0)[0], 7);
    EXPECT_EQ(f.keyer.compositeDirty, 0);
}

TEST(Composite, KeyInShowsTheUnderlayUnchanged) {
    CompositeFixture f(3, 1, true);
    f.FillUnder(100, 150, 50);
    for (int x = 0; x < 3; ++x)
        KeyerFrames::SetRgb(f.frames.Fg(x, 0), 20, 100, 30);
    f.frames.KeyIn(0, 0)[0] = 255;
    f.frames.KeyIn(1, 0)[0] = 254;
    f.frames.KeyIn(2, 0)[0] = 255;
    f.frames.Matte(2, 0) = 255;
    ASSERT_EQ(f.keyer.Composite(), 1);
    EXPECT_EQ(f.Out(0, 0), (Rgb{100, 150, 50})); // no shadow applied
    EXPECT_EQ(f.Out(1, 0), (Rgb{62, 93, 31}));
    EXPECT_EQ(f.Out(2, 0), (Rgb{100, 150, 50})); // foreground too
}

TEST(Composite, ReflectionStrengthZeroPullsTheUnderlayByTheWholeChroma) {
    CompositeFixture f(2, 2);
    f.Isolate();
    f.keyer.params.reflectionColor[1] = 0; // spill replacement on, RS = 0
    f.keyer.params.reflectionChroma = 0.5;
    // Grey 85: f = 510 * 255 / 146306.25 = 8/9, e = m = 170, g = 8/9.
    // r = 1: Q = (0 + 40 * 0.5, 200 * 0.5, 60 * 0.5) = (20, 100, 30);
    // P = 85 + Q * 8/9 = (102.8, 173.9, 111.7).
    EXPECT_EQ(f.Pixel(85, 85, 85, 255), (Rgb{102, 173, 111}));
    // With the chromaticity weight on, r falls (about 0.37) and less of the
    // backing colour comes in.
    f.keyer.params.reflectionStrength = 1;
    const Rgb weighted = f.Pixel(85, 85, 85, 255);
    EXPECT_LT(weighted.g, 173);
    EXPECT_GT(weighted.g, 85);
}

TEST(Composite, BlackPixelGetsTheFullCorrection) {
    CompositeFixture f(2, 2);
    f.FillUnder(90, 80, 70);
    // s = 0: no spill replacement, r = 1 whatever the strength; h = 0.
    EXPECT_EQ(f.Pixel(0, 0, 0, 255), (Rgb{0, 0, 0}));
    f.Correct(5, 0.5, 0.0, 100, 50, 10);
    EXPECT_EQ(f.Pixel(0, 0, 0, 255), (Rgb{50, 25, 5}));
}

TEST(Composite, CorrectionModes) {
    CompositeFixture f(2, 2);
    f.Isolate();
    // (200, 100, 50) with h = 1, no spill, r = 1.
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{200, 100, 50}));
    // Desaturate: Y = 59.8 + 58.7 + 5.7 = 124.2.
    f.Correct(2, 1.0, 0.0);
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{124, 124, 124}));
    // Saturate: A = 116.67; 241.67, 91.67, 16.67.
    f.Correct(3, 0.5, 0.0);
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{241, 91, 16}));
    // Brightness: the strength changes no colour, the brightness scales.
    f.Correct(1, 0.7, 0.5);
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{255, 150, 75}));
    // Blend at full strength with a brightness of -50 %.
    f.Correct(5, 1.0, -0.5, 100, 60, 20);
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{50, 30, 10}));
    // None ignores strength and brightness.
    f.Correct(0, 1.0, 0.5, 1, 2, 3);
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{200, 100, 50}));
}

TEST(Composite, HueKeepsTheMeanAndBlackensAZeroMean) {
    CompositeFixture f(2, 2);
    f.Isolate();
    // White: s = 765, so f = 0 and h = 1. Mean 255; tinted halfway to blue
    // (127.5, 127.5, 255), mean 170; scaled by 255/170 and clamped.
    f.Correct(4, 0.5, 0.0, 0, 0, 255);
    EXPECT_EQ(f.Pixel(255, 255, 255, 255), (Rgb{191, 191, 255}));
    f.Correct(4, 1.0, 0.0, 0, 0, 0);
    EXPECT_EQ(f.Pixel(255, 255, 255, 255), (Rgb{0, 0, 0}));
}

TEST(Composite, HueScalesByTheMeanBeforeDividingByTheNewMean) {
    CompositeFixture f(2, 2);
    f.Isolate();
    // (250, 179, 17) tinted a quarter toward (38, 12, 188): red 197, mean
    // A = 446 / 3, A' = 394 / 3. Red (197 * A) / A' is 222.99999999999997
    // and truncates to 222; 197 * (A / A') would give exactly 223.
    f.Correct(4, 0.25, 0.0, 38, 12, 188);
    EXPECT_EQ(f.Pixel(250, 179, 17, 255), (Rgb{222, 155, 67}));
    // (246, 236, 182) tinted 60 % toward (176, 177, 111): red 204, A' = 544 / 3;
    // exactly 249 this way, 248.99999999999997 the other way.
    f.Correct(4, 0.6, 0.0, 176, 177, 111);
    EXPECT_EQ(f.Pixel(246, 236, 182, 255), (Rgb{249, 244, 170}));
}

TEST(Composite, PartialTransparencyMixesTheBackground) {
    CompositeFixture f(2, 2);
    f.Isolate();
    KeyerFrames::SetRgb(f.frames.Bg(0, 0), 0, 50, 250);
    // tau = 127/255: P + (B - P) * tau = 100.39, 75.10, 149.61.
    EXPECT_EQ(f.Pixel(200, 100, 50, 128), (Rgb{100, 75, 149}));
    // r = 128/255 mixes a full blend to black back with P0: P0 * 127/255.
    f.Correct(5, 1.0, 0.0, 0, 0, 0);
    EXPECT_EQ(f.Pixel(200, 100, 50, 128), (Rgb{49, 37, 74}));
}

TEST(Composite, ShadowedBackgroundBehindPartialPixels) {
    CompositeFixture f(2, 2);
    f.Isolate();
    f.keyer.params.shadowChroma = 0.8; // shadow level 160
    KeyerFrames::SetRgb(f.frames.Bg(0, 0), 0, 50, 250);
    // h = 80 / 160 = 0.5, so B * h = (0, 25, 125); tau = 127/255.
    EXPECT_EQ(f.Pixel(50, 80, 40, 128), (Rgb{25, 52, 82}));
}

TEST(Composite, ShadowTintAndDarkReflectionReachTheSpill) {
    CompositeFixture f(2, 2);
    f.Isolate();
    f.keyer.params.reflectionColor[1] = 0; // RS = 0: g = f = 8/9 for grey 85
    f.keyer.params.reflectionChroma = 0.5; // Q = (20, 100, 30) before tinting
    f.keyer.params.shadowChroma = 0.8;     // h = 85 / 160 = 0.53125
    // Tints 0.75 (red, blue) and 0.85 (green): Q = 17.66, 92.97, 26.48.
    EXPECT_EQ(f.Pixel(85, 85, 85, 255), (Rgb{100, 167, 108}));
    // Reflection sum 267.75 > s = 255: Q gains (1 - 255/267.75) * 85 = 4.05.
    f.keyer.params.reflectionBrightness = 0.35;
    EXPECT_EQ(f.Pixel(85, 85, 85, 255), (Rgb{104, 171, 112}));
}

TEST(Composite, EdgeWeightCapsTheCorrection) {
    CompositeFixture f(2, 2);
    f.Isolate();
    f.Correct(5, 1.0, 0.0, 0, 0, 0);
    f.keyer.edgeWeights[2] = 0.25;
    f.Edge(0, 0) = 2;
    // r = 0.25: P0 + (0 - P0) * 0.25.
    EXPECT_EQ(f.Pixel(200, 100, 50, 255), (Rgb{150, 75, 37}));
}

TEST(Composite, BackingChromaticityGetsNoCorrection) {
    CompositeFixture f(2, 2);
    f.FillUnder(40, 200, 60);
    f.Correct(5, 1.0, 0.0, 0, 0, 0);
    // A foreground pixel of the backing's own colour: every x is 1, so
    // r = 1 - (sum of C) <= 1e-8; the spill term is (Q - RS) * g = 0.
    EXPECT_EQ(f.Pixel(40, 200, 60, 255), (Rgb{40, 200, 60}));
}

TEST(Composite, SmoothedRatioIsReadFromTheBuffer) {
    CompositeFixture f(5, 5);
    f.FillUnder(200, 100, 50);
    KeyerFrames::SetRgb(f.frames.Fg(2, 2), 0, 0, 0); // ratio 0 among ones
    ASSERT_EQ(f.keyer.Composite(), 1);
    EXPECT_EQ(f.Out(2, 2), (Rgb{0, 0, 0}));
    EXPECT_EQ(f.Out(1, 1), (Rgb{200, 100, 50}));

    ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
    ASSERT_EQ(f.keyer.Composite(), 1);
    // The 3 x 3 mean 8/9 around the black pixel: 177.8, 88.9, 44.4.
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(f.Out(x, y), (Rgb{177, 88, 44})) << x << "," << y;
    EXPECT_EQ(f.Out(0, 0), (Rgb{200, 100, 50}));
}

TEST(Composite, FailedSmoothingFailsTheComposite) {
    CompositeFixture f(4, 4);
    f.keyer.smoothBgShadow = 1; // on, but without its buffer
    f.keyer.compositeDirty = 1;
    EXPECT_EQ(f.keyer.Composite(), 0);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.Out(0, 0), (Rgb{7, 7, 7}));
    f.keyer.smoothBgShadow = 0;
}

TEST(Composite, CropLeavesOutsidePixels) {
    CompositeFixture f(6, 5);
    f.FillUnder(1, 2, 3);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 1, 1, 4, 3);
    ASSERT_EQ(f.keyer.Composite(), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(f.Out(x, y), inside ? (Rgb{1, 2, 3}) : (Rgb{7, 7, 7})) << x << "," << y;
        }
}

TEST(Composite, BlackBackingWritesNothing) {
    CompositeFixture f(4, 4, false, 0, 0, 0);
    f.keyer.compositeDirty = 1;
    EXPECT_EQ(f.keyer.Composite(), 1);
    for (uint8_t byte : f.frames.out)
        ASSERT_EQ(byte, 7);
}

TEST(Composite, SameResultForAnyThreadCount) {
    const int w = 53, h = 47;
    std::vector<uint8_t> first;
    for (int threads : {1, 2, 3, 8}) {
        ThreadCount count(threads);
        CompositeFixture f(w, h, true);
        ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
        f.Correct(4, 0.6, 0.1, 200, 120, 40);
        for (int i = 0; i < 11; ++i)
            f.keyer.edgeWeights[i] = i == 0 ? 0 : 0.3 + i * 0.07;
        uint32_t seed = 77;
        auto next = [&seed]() {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 24;
        };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                KeyerFrames::SetRgb(f.frames.Fg(x, y), uint8_t(next()), uint8_t(next()),
                                    uint8_t(next()));
                KeyerFrames::SetRgb(f.frames.Bg(x, y), uint8_t(x * 4), uint8_t(y * 5), 90);
                f.SetUnder(x, y, uint8_t(next()), uint8_t(next()), uint8_t(next()));
                const uint32_t k = next() % 4;
                f.frames.Matte(x, y) = k == 0 ? 0 : k == 1 ? 255 : uint8_t(next());
                f.Edge(x, y) = uint8_t(next() % 12 < 3 ? next() % 11 : 0);
                f.frames.KeyIn(x, y)[0] = next() % 9 == 0 ? 255 : 0;
            }
        ASSERT_EQ(f.keyer.Composite(), 1);
        std::vector<uint8_t> result = f.frames.out;
        if (first.empty())
            first = result;
        else
            EXPECT_EQ(result, first) << threads << " threads";
    }
}
