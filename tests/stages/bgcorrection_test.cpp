// Background colour correction: each mode on hand-computed pixels.
#include <gtest/gtest.h>

#include <array>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

void SetCorrection(CKeyer& keyer, int mode, double s, double b,
                   std::array<double, 3> c = {0, 0, 0}) {
    KeyerParams p;
    p.bgCorrectionMode = mode;
    p.bgCorrectionStrength = s;
    p.bgCorrectionBrightness = b;
    for (int i = 0; i < 3; ++i)
        p.bgCorrectionColor[i] = c[i];
    ASSERT_EQ(keyer.SetParams(p), 1);
}

} // namespace

TEST(BgCorrection, ModesOnAUniformBackground) {
    const struct {
        Rgb bg;
        int mode;
        double s, b;
        std::array<double, 3> colour;
        Rgb expected;
    } cases[] = {
        {{100, 50, 200}, 0, 0.0, 0.0, {0, 0, 0}, {100, 50, 200}}, // none: a copy
        {{100, 50, 200}, 1, 0.0, 0.5, {0, 0, 0}, {150, 75, 255}}, // brightness
        {{100, 50, 200}, 1, 1.0, 0.1, {0, 0, 0}, {110, 55, 220}}, // s does not count
        {{7, 8, 9}, 1, 0.7, 0.0, {0, 0, 0}, {7, 8, 9}},           // b = 0: a copy
        {{100, 50, 200}, 2, 0.3, -1.0, {0, 0, 0}, {0, 0, 0}},     // b = -100 %: black
        // L = 0.299 R + 0.114 B + 0.587 G in this order: 24.999999999999996 for
        // (11, 3, 175), (L - X) * 1 + X reaches 25 for blue only; 109.99999999999999
        // for (1, 183, 20) (110 with green added before blue).
        {{11, 3, 175}, 2, 1.0, 0.0, {0, 0, 0}, {24, 24, 25}},
        {{1, 183, 20}, 2, 1.0, 0.0, {0, 0, 0}, {109, 109, 109}},
        {{200, 100, 0}, 3, 1.0, 0.0, {0, 0, 0}, {255, 100, 0}}, // M = 100: 300, -100 clamp
        // Hue: tinted (177.5, 25, 100), scaled by mean 116.67 / 100.83; then 1.2 times.
        {{100, 50, 200}, 4, 0.5, 0.0, {255, 0, 0}, {205, 28, 115}},
        {{100, 50, 200}, 4, 0.5, 0.2, {255, 0, 0}, {246, 34, 138}},
        {{100, 50, 200}, 4, 1.0, 0.0, {0, 0, 0}, {0, 0, 0}}, // black hue: M' = 0
        // Blend: (C - X) * s + X, the colour truncated.
        {{100, 50, 200}, 5, 1.0, 0.0, {10.7, 200.2, 30.9}, {10, 200, 30}},
        {{100, 50, 200}, 5, 0.5, 0.0, {0, 255, 0}, {50, 152, 100}},
        {{4, 5, 6}, 5, 0.0, 0.0, {255, 255, 255}, {4, 5, 6}}, // s = b = 0: a copy
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << " s " << c.s << " b " << c.b << " bg " << c.bg);
        KeyedFrames f(4, 3);
        f.FillBg(uint8_t(c.bg.r), uint8_t(c.bg.g), uint8_t(c.bg.b));
        SetCorrection(f.keyer, c.mode, c.s, c.b, c.colour);
        ASSERT_EQ(f.keyer.RenderCorrectedBackgroundView(), 1);
        EXPECT_EQ(f.OutRgb(3, 2), c.expected);
        EXPECT_EQ(f.OutRgb(0, 0), c.expected);
        EXPECT_EQ(f.Out(1, 1)[0], 0); // the output's alpha is not touched
    }
}
