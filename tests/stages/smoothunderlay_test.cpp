// Underlay smoothing against clamped window means: partial mattes toward the
// corrected background, untouched backing pixels, rounding, the band's
// repeated borders, the crop and an empty band.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

struct SmoothFixture : KeyedFrames {
    SmoothFixture(int w, int h, uint32_t seed = 0) : KeyedFrames(w, h) {
        keyer.SetBackingColour(0, 255, 0, 0);
        keyer.compositeDirty = keyer.spillShadowDirty = 0;
        FillMatte(255);
        if (seed == 0) return;
        // A deterministic pattern in underlay, matte and background.
        auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                SetUnder(x, y, uint8_t(next() >> 8), uint8_t(next() >> 8), uint8_t(next() >> 8));
                const uint32_t k = next();
                Matte(x, y) = (k >> 8) % 4 == 0 ? 0 : (k >> 8) % 4 == 1 ? 255 : uint8_t(k);
                SetRgb(Bg(x, y), uint8_t(x * 9), uint8_t(y * 13), uint8_t(x + y));
            }
    }
    // The underlay expected after smoothing over the inclusive band: 7 x 7
    // means of the values before, the window clamped to the band, mixed toward
    // the background by 1 - matte / 255.
    std::vector<uint8_t> Expected(int l, int t, int r, int b) {
        const std::vector<uint8_t> before = Underlay();
        std::vector<uint8_t> after = before;
        for (int y = t; y <= b; ++y)
            for (int x = l; x <= r; ++x) {
                const uint8_t m = Matte(x, y);
                if (m == 0) continue;
                for (int c = 0; c < 3; ++c) {
                    uint32_t sum = 0;
                    for (int dy = -3; dy <= 3; ++dy)
                        for (int dx = -3; dx <= 3; ++dx)
                            sum += before[(std::clamp(y + dy, t, b) * width +
                                           std::clamp(x + dx, l, r)) *
                                              3 +
                                          c];
                    const double mean = uint8_t(uint32_t(sum * (1.0 / 49) + 0.5));
                    const double bg = Bg(x, y)[1 + c];
                    const double v =
                        m == 255 ? mean : (bg - mean) * (m * (-1.0 / 255) + 1.0) + mean;
                    after[(y * width + x) * 3 + c] = uint8_t(std::clamp(v, 0.0, 255.0));
                }
            }
        return after;
    }
};

} // namespace

TEST(SmoothUnderlay, MatchesClampedWindowMeansWithAndWithoutCrop) {
    SmoothFixture f(23, 19, 7);
    std::vector<uint8_t> expected = f.Expected(0, 0, 22, 18);
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(f.Underlay(), expected);

    SmoothFixture g(20, 16, 99);
    g.keyer.cropEnabled = 1;
    SetRect(&g.keyer.cropRect, 4, 3, 15, 13); // band (4, 3)-(14, 12)
    expected = g.Expected(4, 3, 14, 12);
    ASSERT_EQ(g.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(g.Underlay(), expected);

    SmoothFixture one(10, 10, 3); // a one-column band does nothing
    expected = one.Underlay();
    one.keyer.cropEnabled = 1;
    SetRect(&one.keyer.cropRect, 4, 0, 5, 10);
    ASSERT_EQ(one.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(one.Underlay(), expected);
    EXPECT_EQ(one.keyer.compositeDirty + one.keyer.spillShadowDirty, 0);
}
