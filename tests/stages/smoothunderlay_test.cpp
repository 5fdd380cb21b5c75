// Underlay smoothing: uniform areas, partial mattes toward the corrected
// background, untouched backing pixels, the band's repeated borders, the crop,
// an empty band, and thread-count independence of the in-place pass.
#include <gtest/gtest.h>

#include <algorithm>
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

struct SmoothFixture {
    KeyerFrames frames;
    CKeyer keyer;

    SmoothFixture(int w, int h) : frames(w, h) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.SetBackingColour(0, 255, 0, 0);
        keyer.compositeDirty = 0;
        keyer.spillShadowDirty = 0;
    }
    uint8_t* Under(int x, int y) {
        return keyer.underlayImage->pixels + (y * frames.width + x) * 3;
    }
    Rgb UnderRgb(int x, int y) {
        const uint8_t* p = Under(x, y);
        return Rgb{p[0], p[1], p[2]};
    }
    void FillUnder(uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < frames.height; ++y)
            for (int x = 0; x < frames.width; ++x) {
                Under(x, y)[0] = r;
                Under(x, y)[1] = g;
                Under(x, y)[2] = b;
            }
    }
    // Fills underlay, matte and background with a deterministic pattern.
    void Pattern(uint32_t seed) {
        for (int y = 0; y < frames.height; ++y)
            for (int x = 0; x < frames.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    Under(x, y)[c] = uint8_t(seed >> 24);
                }
                seed = seed * 1664525u + 1013904223u;
                const uint32_t k = (seed >> 24) % 4;
                frames.Matte(x, y) = k == 0 ? 0 : k == 1 ? 255 : uint8_t(seed >> 16);
                KeyerFrames::SetRgb(frames.Bg(x, y), uint8_t(x * 9), uint8_t(y * 13),
                                    uint8_t(x + y));
            }
    }
};

class ThreadCount {
  public:
    explicit ThreadCount(int n) { setenv("ORVO_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv("ORVO_THREADS"); }
};

// Expected underlay after smoothing over the inclusive band (l, t)-(r, b):
// 7 x 7 means of the values before the pass, the window clamped to the band.
std::vector<uint8_t> Expected(SmoothFixture& f, int l, int t, int r, int b) {
    const int w = f.frames.width;
    const std::vector<uint8_t> before(f.keyer.underlayImage->pixels,
                                      f.keyer.underlayImage->pixels + w * f.frames.height * 3);
    std::vector<uint8_t> after = before;
    for (int y = t; y <= b; ++y)
        for (int x = l; x <= r; ++x) {
            const uint8_t m = f.frames.Matte(x, y);
            if (m == 0) continue;
            uint32_t sum[3] = {0, 0, 0};
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx) {
                    const int yy = std::clamp(y + dy, t, b), xx = std::clamp(x + dx, l, r);
                    for (int c = 0; c < 3; ++c)
                        sum[c] += before[(yy * w + xx) * 3 + c];
                }
            const uint8_t* bg = f.frames.Bg(x, y) + 1;
            for (int c = 0; c < 3; ++c) {
                const uint8_t mean = uint8_t(uint32_t(sum[c] * (1.0 / 49) + 0.5));
                double v = mean;
                if (m != 255) v = (bg[c] - double(mean)) * (m * (-1.0 / 255) + 1.0) + mean;
                after[(y * w + x) * 3 + c] = uint8_t(std::clamp(v, 0.0, 255.0));
            }
        }
    return after;
}

std::vector<uint8_t> Underlay(SmoothFixture& f) {
    return std::vector<uint8_t>(f.keyer.underlayImage->pixels,
                                f.keyer.underlayImage->pixels +
                                    f.frames.width * f.frames.height * 3);
}

} // namespace

TEST(SmoothUnderlay, UniformAreaKeepsOpaquePixelsAndBlendsPartialOnes) {
    SmoothFixture f(12, 10);
    f.FillUnder(37, 180, 222);
    f.frames.FillBg(200, 10, 100);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x)
            f.frames.Matte(x, y) = 255;
    f.frames.Matte(2, 7) = 1;
    f.frames.Matte(0, 9) = 1;
    f.frames.Matte(6, 2) = 0;
    f.Under(6, 2)[0] = 99; // a backing pixel with another colour
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    // Far from (6, 2): the mean of 49 equal bytes is the byte.
    EXPECT_EQ(f.UnderRgb(0, 0), (Rgb{37, 180, 222}));
    EXPECT_EQ(f.UnderRgb(11, 9), (Rgb{37, 180, 222}));
    // Matte 1: t = 254/255, (C - A) * t + A = 199.36, 10.67, 100.48.
    EXPECT_EQ(f.UnderRgb(2, 7), (Rgb{199, 10, 100}));
    EXPECT_EQ(f.UnderRgb(0, 9), (Rgb{199, 10, 100}));
    // Matte 0 is never written.
    EXPECT_EQ(f.UnderRgb(6, 2), (Rgb{99, 180, 222}));
    // Its neighbours see 48 x 37 + 99 = 1875: 1875 / 49 = 38.27 rounds to 38.
    EXPECT_EQ(f.UnderRgb(7, 3), (Rgb{38, 180, 222}));
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
}

TEST(SmoothUnderlay, MeansRoundHalfUp) {
    SmoothFixture f(9, 9);
    f.FillUnder(10, 10, 10);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            f.frames.Matte(x, y) = 255;
    // Red sum 49 * 10 + 25 = 515: 10.51 rounds to 11; green + 24 = 10.49 to 10.
    for (int k = 0; k < 25; ++k)
        f.Under(2 + k % 5, 2 + k / 5)[0] = 11;
    for (int k = 0; k < 24; ++k)
        f.Under(2 + k % 5, 2 + k / 5)[1] = 11;
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(f.UnderRgb(4, 4), (Rgb{11, 10, 10}));
}

TEST(SmoothUnderlay, MatchesClampedWindowMeansOverTheWholeFrame) {
    SmoothFixture f(23, 19);
    f.Pattern(7);
    const std::vector<uint8_t> expected = Expected(f, 0, 0, 22, 18);
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(Underlay(f), expected);
}

TEST(SmoothUnderlay, CropWindowStaysInsideTheBand) {
    SmoothFixture f(20, 16);
    f.Pattern(99);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 4, 3, 15, 13); // band (4, 3)-(14, 12)
    const std::vector<uint8_t> expected = Expected(f, 4, 3, 14, 12);
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(Underlay(f), expected);
}

TEST(SmoothUnderlay, OneColumnBandDoesNothing) {
    SmoothFixture f(10, 10);
    f.Pattern(3);
    const std::vector<uint8_t> before = Underlay(f);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 4, 0, 5, 10);
    ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
    EXPECT_EQ(Underlay(f), before);
    EXPECT_EQ(f.keyer.compositeDirty, 0);
    EXPECT_EQ(f.keyer.spillShadowDirty, 0);
}

TEST(SmoothUnderlay, SameResultForAnyThreadCount) {
    for (int threads : {1, 2, 3, 8}) {
        ThreadCount count(threads);
        SmoothFixture f(61, 58);
        f.Pattern(2024);
        const std::vector<uint8_t> expected = Expected(f, 0, 0, 60, 57);
        ASSERT_EQ(f.keyer.SmoothUnderlay(), 1);
        EXPECT_EQ(Underlay(f), expected) << threads << " threads";
    }
}
