// Transparency matte: chromaticity similarity graded into alpha.
#include <gtest/gtest.h>

#include <array>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

TEST(Transparency, GradedValues) {
    // Pixel (1, 1) of a 2 x 2 frame graded with transparency colour tc,
    // threshold thr and strength k; green ranked first.
    const struct {
        std::array<double, 3> tc;
        double thr, k;
        Rgb fg;
        int matte, expected;
    } cases[] = {
        {{0, 1, 0}, 0, 1, {0, 200, 0}, 1, 0}, // the colour's chromaticity: m = v = 1
        {{0.25, 0.5, 0.25}, 0, 1, {50, 100, 50}, 1, 0},
        {{0.25, 0.5, 0.25}, 0, 1, {50, 100, 50}, 255, 0}, // any nonzero matte value
        // (20, 180, 0): r_G = 1 - |180/200 - 1| = 0.9 = m. Threshold 0.5:
        // v = sqrt(0.4 / 0.5) * 0.9 = 0.804984, 0.195016 * 255 = 49.73 -> 49;
        // strength 0.5: 152.36 -> 152; threshold 0.9 >= m: opaque.
        {{0, 1, 0}, 0.5, 1, {20, 180, 0}, 1, 49},
        {{0, 1, 0}, 0.5, 0.5, {20, 180, 0}, 1, 152},
        {{0, 1, 0}, 0.9, 1, {20, 180, 0}, 1, 255},
        {{0, 1, 0}, 1, 1, {0, 200, 0}, 1, 255}, // threshold 100 keeps 255
        {{0, 1, 0}, 1, 1, {20, 180, 0}, 1, 255},
        {{0, 1, 0}, 0, 0, {0, 200, 0}, 1, 255}, // strength 0 keeps 255
        {{0, 1, 0}, 0, 0, {20, 180, 0}, 1, 255},
        {{0, 1, 0}, 0, 1.5, {0, 0, 0}, 1, 255}, // black foreground stays opaque
        {{0.3, 0.4, 0.3}, 0, 1.5, {0, 0, 0}, 1, 255},
        {{0, 1, 0}, 0, 1, {0, 200, 0}, 0, 0}, // backing is not graded
        // m = 1, threshold 0: v = strength; the largest graded value is 252.
        {{0, 1, 0}, 0, 0.008, {0, 200, 0}, 1, 255},
        {{0, 1, 0}, 0, 0.0081, {0, 200, 0}, 1, 252}, // 252.93
        {{0, 1, 0}, 0, 0.5, {0, 200, 0}, 1, 127},
        {{0, 1, 0}, 0, 1.5, {0, 200, 0}, 1, 0}, // v >= 1
        // A black colour weighs channels equally: (0, 100, 0) has r = (1, 0, 1),
        // m = 2/3, v = sqrt(2/3) * 2/3 = 0.544331, 0.455669 * 255 = 116.2.
        {{0, 0, 0}, 0, 1, {0, 100, 0}, 1, 116},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fg << " colour " << c.tc[0] << "," << c.tc[1] << ","
                                        << c.tc[2] << " thr " << c.thr << " k " << c.k);
        KeyedFrames f(2, 2);
        f.RankGreen();
        for (int i = 0; i < 3; ++i)
            f.keyer.params.transparencyColor[i] = c.tc[i];
        f.keyer.params.transparencyThreshold = c.thr;
        f.keyer.params.transparencyStrength = c.k;
        KeyerFrames::SetRgb(f.Fg(1, 1), uint8_t(c.fg.r), uint8_t(c.fg.g), uint8_t(c.fg.b));
        f.Matte(1, 1) = uint8_t(c.matte);
        EXPECT_NE(f.keyer.GradeTransparency(), 0);
        EXPECT_EQ(f.Matte(1, 1), c.expected);
    }
}
