// Shading limits, the shading ratio, the float window's fixed addition order
// and the smoothing of the ratio over clean backing pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "keyer/keyer.h"
#include "stages/shading.h"
#include "support/keyer_frames.h"

namespace {

// A keyer over w x h frames with the given backing colour.
struct ShadingFixture {
    KeyerFrames frames;
    CKeyer keyer;

    ShadingFixture(int w, int h, uint8_t r, uint8_t g, uint8_t b, bool keyed = true)
        : frames(w, h) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        if (keyed) keyer.SetBackingColour(b, g, r, 0);
        ClearEdge();
    }
    void ClearEdge() {
        for (int i = 0; i < frames.width * frames.height; ++i)
            keyer.edgeImage->pixels[i] = 0;
    }
    uint8_t& Edge(int x, int y) { return keyer.edgeImage->pixels[y * frames.width + x]; }
    float Buffer(int x, int y) const { return keyer.shadingBuffer[y * frames.width + x]; }
    double Ratio(uint8_t r, uint8_t g, uint8_t b) {
        ShadingLimits limits;
        EXPECT_EQ(keyer.ComputeShadingLimits(limits), 1);
        const uint8_t rgb[3] = {r, g, b};
        return ShadingRatioOfBytes(limits, rgb, keyer.channelOrder[0], keyer.channelOrder[2]);
    }
    void StartSmoothing() { ASSERT_EQ(keyer.SetSmoothBgShadow(1), 1); }
};

// Ratio of a green-backing (0, 255, 0) pixel (0, g, 0) with the default
// shadow limits (level 204, sum 204): exact dyadic values for g = 51 k.
const uint8_t kQuarter = 51, kHalf = 102, kThreeQuarter = 153;

// A 3 x 3 mean as the smoothing computes it.
float Mean9(float a, float b, float c, float d, float e, float f, float g, float h, float i) {
    // Exact for the dyadic values used below, so the order does not matter.
    const float sum = a + b + c + d + e + f + g + h + i;
    return sum * (1.0f / 9.0f);
}

class ThreadCount {
  public:
    explicit ThreadCount(int n) { setenv("ORVO_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv("ORVO_THREADS"); }
};

} // namespace

TEST(ShadingLimits, GreenBackingWithDefaults) {
    ShadingFixture f(4, 4, 0, 255, 0);
    ShadingLimits l;
    ASSERT_EQ(f.keyer.ComputeShadingLimits(l), 1);
    EXPECT_EQ(l.shadowLevel, 204.0); // floor(255 * 0.8 + 0.5)
    EXPECT_EQ(l.lightLevel, 255.0);  // floor(255 * 1 + 0 + 0.5)
    EXPECT_EQ(l.shadowSum, 204.0);   // 3 * 85 * 0.8
    EXPECT_EQ(l.lightSum, 765.0);    // (765 - 255) * 1 + 255
    EXPECT_DOUBLE_EQ(l.reflectionSum, 0.35 * 765);
    // Tints indexed blue, green, red: default shadow colour (63.75, 72.25,
    // 63.75) and light colour (4.25, 8.5, 4.25) over the mean 85.
    EXPECT_DOUBLE_EQ(l.shadowTint[0], 0.75);
    EXPECT_DOUBLE_EQ(l.shadowTint[1], 0.85);
    EXPECT_DOUBLE_EQ(l.shadowTint[2], 0.75);
    EXPECT_DOUBLE_EQ(l.lightTint[0], 0.05);
    EXPECT_DOUBLE_EQ(l.lightTint[1], 0.1);
    EXPECT_DOUBLE_EQ(l.lightTint[2], 0.05);
}

TEST(ShadingLimits, TintsFollowChannelIndices) {
    ShadingFixture f(4, 4, 40, 200, 60);
    f.keyer.params.shadowColor[0] = 10; // red
    f.keyer.params.shadowColor[2] = 30; // blue
    f.keyer.params.lightColor[0] = 50;
    ShadingLimits l;
    ASSERT_EQ(f.keyer.ComputeShadingLimits(l), 1);
    EXPECT_DOUBLE_EQ(l.shadowTint[2], 10 / 100.0);
    EXPECT_DOUBLE_EQ(l.shadowTint[0], 30 / 100.0);
    EXPECT_DOUBLE_EQ(l.lightTint[2], 50 / 100.0);
}

TEST(ShadingLimits, BlackBackingFailsAfterWritingTheLevels) {
    ShadingFixture f(4, 4, 0, 0, 0);
    ShadingLimits l;
    l.shadowSum = -7;
    l.lightSum = -7;
    l.shadowTint[0] = -7;
    EXPECT_EQ(f.keyer.ComputeShadingLimits(l), 0);
    EXPECT_EQ(l.shadowLevel, 0.0);
    EXPECT_EQ(l.lightLevel, 255.0);
    EXPECT_DOUBLE_EQ(l.reflectionSum, 0.35 * 765);
    EXPECT_EQ(l.shadowSum, -7);
    EXPECT_EQ(l.lightSum, -7);
    EXPECT_EQ(l.shadowTint[0], -7);
}

TEST(ShadingRatio, BackingColourIsOneForEveryPercentage) {
    const uint8_t backings[][3] = {{0, 255, 0},     {40, 200, 60}, {30, 60, 220},
                                   {128, 128, 128}, {250, 3, 7},   {1, 2, 3}};
    const double percents[] = {0.0, 0.01, 0.33, 0.5, 0.8, 0.99, 1.0};
    for (const auto& k : backings) {
        ShadingFixture f(2, 2, k[0], k[1], k[2]);
        for (double sc : percents)
            for (double sb : percents)
                for (double lc : percents)
                    for (double lb : percents) {
                        f.keyer.params.shadowChroma = sc;
                        f.keyer.params.shadowBrightness = sb;
                        f.keyer.params.lightChroma = lc;
                        f.keyer.params.lightBrightness = lb;
                        ASSERT_EQ(f.Ratio(k[0], k[1], k[2]), 1.0)
                            << int(k[0]) << "," << int(k[1]) << "," << int(k[2]) << " " << sc << " "
                            << sb << " " << lc << " " << lb;
                    }
    }
}

TEST(ShadingRatio, HandComputedValues) {
    ShadingFixture f(2, 2, 0, 255, 0);
    // Black: q_s = 0 / 204, q_l = 1.
    EXPECT_EQ(f.Ratio(0, 0, 0), 0.0);
    EXPECT_EQ(f.Ratio(0, kHalf, 0), 0.5);
    EXPECT_EQ(f.Ratio(0, kQuarter, 0), 0.25);
    // White on green with lc = lb = 1: level 255 and sum 765 are not passed.
    EXPECT_EQ(f.Ratio(255, 255, 255), 1.0);
    // A lower light level: 128 / 255 subtracted.
    f.keyer.params.lightChroma = 0.5;
    EXPECT_DOUBLE_EQ(f.Ratio(255, 255, 255), 1.0 - 128.0 / 255 + 1.0);
    // The light sum caps q_l: lb = 0 gives light sum 255, S = 510.
    f.keyer.params.lightChroma = 1.0;
    f.keyer.params.lightBrightness = 0.0;
    EXPECT_DOUBLE_EQ(f.Ratio(0, 255, 255), 1.0 - 255.0 / 510 + 1.0);
}

TEST(ShadingRatio, ShadowChromaZero) {
    ShadingFixture f(2, 2, 0, 255, 0);
    f.keyer.params.shadowChroma = 0;
    f.keyer.params.shadowBrightness = 0;
    ShadingLimits l;
    ASSERT_EQ(f.keyer.ComputeShadingLimits(l), 1);
    EXPECT_EQ(l.shadowLevel, 0.0);
    EXPECT_EQ(f.Ratio(0, 40, 0), 1.0);
    EXPECT_EQ(f.Ratio(0, 0, 0), 1.0);
    // Only the shadow sum can still darken: 40 / 204.
    f.keyer.params.shadowBrightness = 0.8;
    EXPECT_DOUBLE_EQ(f.Ratio(0, 40, 0), 40.0 / 204);
}

TEST(FloatWindow, RejectsInvalidSizes) {
    EXPECT_FALSE(CFloatWindow(1, 1, 5).IsValid());
    EXPECT_FALSE(CFloatWindow(4, 3, 5).IsValid());
    EXPECT_FALSE(CFloatWindow(3, 0, 5).IsValid());
    EXPECT_FALSE(CFloatWindow(-3, 3, 5).IsValid());
    EXPECT_TRUE(CFloatWindow(3, 3, 5).IsValid());
    EXPECT_TRUE(CFloatWindow(1, 3, 5).IsValid());
}

TEST(FloatWindow, NineOnesGiveExactlyOne) {
    CFloatWindow window(3, 3, 6);
    for (int k = 0; k < 3; ++k) {
        window.PushRow();
        for (int i = 0; i < 6; ++i)
            window.Newest()[i] = 1.0f;
    }
    EXPECT_EQ(window.FirstMean(), 1.0f);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(window.NextMean(), 1.0f);
}

TEST(FloatWindow, ColumnSumsRunFromTheOldestRowDown) {
    // 1 + 1e8 loses the 1 before -1e8 cancels: 0 top-down, 1 bottom-up.
    CFloatWindow window(1, 3, 1);
    const float values[3] = {1.0f, 1e8f, -1e8f};
    for (float v : values) {
        window.PushRow();
        window.Newest()[0] = v;
    }
    EXPECT_EQ(window.FirstMean(), 0.0f);
}

TEST(FloatWindow, WindowSumsRunLeftToRightAndSubtractFirst) {
    CFloatWindow window(3, 1, 5);
    window.PushRow();
    const float row[5] = {1e8f, 0.0f, 0.0f, 1.0f, 2.0f};
    for (int i = 0; i < 5; ++i)
        window.Newest()[i] = row[i];
    EXPECT_EQ(window.FirstMean(), 1e8f * (1.0f / 3));
    // (1e8 - 1e8) + 1 keeps the 1; adding before subtracting would lose it.
    EXPECT_EQ(window.NextMean(), 1.0f * (1.0f / 3));
    EXPECT_EQ(window.NextMean(), 3.0f * (1.0f / 3));
}

TEST(FloatWindow, RingKeepsTheLastRowsAndCentreReadsTheMiddle) {
    CFloatWindow window(3, 3, 4);
    for (int k = 0; k < 5; ++k) {
        window.PushRow();
        for (int i = 0; i < 4; ++i)
            window.Newest()[i] = float(k * 10 + i);
    }
    // Rows 2, 3, 4 remain; the middle row is 3.
    EXPECT_EQ(window.Middle()[0], 30.0f);
    EXPECT_EQ(window.FirstCentre(), 31.0f);
    EXPECT_EQ(window.NextCentre(), 32.0f);
    // Rewound by the next push: rows 3, 4, 5.
    window.PushRow();
    for (int i = 0; i < 4; ++i)
        window.Newest()[i] = float(50 + i);
    // Columns 0..2 of rows 3..5: sum 3 * (30 + 40 + 50) + 3 * 3 = 369.
    EXPECT_EQ(window.FirstMean(), 369.0f * (1.0f / 9));
    EXPECT_EQ(window.NextCentre(), 42.0f);
}

TEST(SmoothShadingRatio, OffDoesNothingAndMissingBufferFails) {
    ShadingFixture f(6, 6, 0, 255, 0);
    EXPECT_EQ(f.keyer.SmoothShadingRatio(), 1);
    EXPECT_EQ(f.keyer.shadingBuffer, nullptr);
    f.keyer.smoothBgShadow = 1; // on, but without its buffer
    EXPECT_EQ(f.keyer.SmoothShadingRatio(), 0);
    f.keyer.smoothBgShadow = 0;
}

TEST(SmoothShadingRatio, MeansOnCleanBackingOnly) {
    const int w = 7, h = 6;
    ShadingFixture f(w, h, 0, 255, 0);
    f.StartSmoothing();
    // Green levels giving ratios 0, 0.25, 0.5, 0.75 and 1 in a pattern.
    const uint8_t levels[5] = {0, kQuarter, kHalf, kThreeQuarter, 255};
    std::vector<float> ratio(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int k = (x * 3 + y * 2) % 5;
            KeyerFrames::SetRgb(f.frames.Fg(x, y), 0, levels[k], 0);
            ratio[y * w + x] = float(k) * 0.25f;
        }
    f.frames.Matte(3, 2) = 200; // foreground
    f.Edge(4, 3) = 1;           // near an edge
    ASSERT_EQ(f.keyer.SmoothShadingRatio(), 1);

    auto at = [&](int x, int y) { return ratio[y * w + x]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const bool kept = border || (x == 3 && y == 2) || (x == 4 && y == 3);
            const float expected = kept ? at(x, y)
                                        : Mean9(at(x - 1, y - 1), at(x, y - 1), at(x + 1, y - 1),
                                                at(x - 1, y), at(x, y), at(x + 1, y),
                                                at(x - 1, y + 1), at(x, y + 1), at(x + 1, y + 1));
            EXPECT_EQ(f.Buffer(x, y), expected) << x << "," << y;
        }
}

TEST(SmoothShadingRatio, CropWritesOnlyTheBandButReadsAround) {
    const int w = 8, h = 8;
    ShadingFixture f(w, h, 0, 255, 0);
    f.StartSmoothing();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            KeyerFrames::SetRgb(f.frames.Fg(x, y), 0, x < 2 ? 0 : 255, 0);
    for (int i = 0; i < w * h; ++i)
        f.keyer.shadingBuffer[i] = -1.0f;
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 2, 2, 6, 6); // band columns and rows 2..5
    ASSERT_EQ(f.keyer.SmoothShadingRatio(), 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x < 2 || x > 5 || y < 2 || y > 5) {
                EXPECT_EQ(f.Buffer(x, y), -1.0f) << x << "," << y;
            }
        }
    // Column 2 sees the black column 1: three of nine ratios are 0.
    EXPECT_EQ(f.Buffer(2, 3), 6.0f * (1.0f / 9));
    EXPECT_EQ(f.Buffer(3, 3), 1.0f);
}

TEST(SmoothShadingRatio, BlackBackingLeavesTheBuffer) {
    ShadingFixture f(6, 6, 0, 0, 0);
    f.StartSmoothing();
    for (int i = 0; i < 36; ++i)
        f.keyer.shadingBuffer[i] = 7.0f;
    EXPECT_EQ(f.keyer.SmoothShadingRatio(), 1);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(f.keyer.shadingBuffer[i], 7.0f);
}

TEST(SmoothShadingRatio, SameResultForAnyThreadCount) {
    const int w = 37, h = 41;
    std::vector<float> first;
    for (int threads : {1, 2, 3, 8}) {
        ThreadCount count(threads);
        ShadingFixture f(w, h, 20, 230, 40);
        f.StartSmoothing();
        uint32_t seed = 12345;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245u + 12345u;
                const uint8_t g = uint8_t(120 + (seed >> 16) % 136);
                const uint8_t r = uint8_t(10 + (seed >> 8) % 40);
                KeyerFrames::SetRgb(f.frames.Fg(x, y), r, g, uint8_t(255 - g));
                f.frames.Matte(x, y) = (x * y) % 11 == 3 ? 255 : 0;
            }
        ASSERT_EQ(f.keyer.SmoothShadingRatio(), 1);
        std::vector<float> result(f.keyer.shadingBuffer, f.keyer.shadingBuffer + w * h);
        if (first.empty())
            first = result;
        else
            EXPECT_EQ(result, first) << threads << " threads";
    }
}
