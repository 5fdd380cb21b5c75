// Shading limits, the shading ratio, the float window's fixed addition order
// and the smoothing of the ratio over clean backing pixels.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "keyer/keyer.h"
#include "stages/shading.h"
#include "support/keyer_frames.h"

namespace {

using Triple = std::array<double, 3>;

struct ShadingFixture : KeyedFrames {
    ShadingFixture(int w, int h, uint8_t r, uint8_t g, uint8_t b) : KeyedFrames(w, h) {
        keyer.SetBackingColour(b, g, r, 0);
    }
    ShadingLimits Limits() {
        ShadingLimits l;
        EXPECT_EQ(keyer.ComputeShadingLimits(l), 1);
        return l;
    }
    double Ratio(uint8_t r, uint8_t g, uint8_t b) {
        const uint8_t rgb[3] = {r, g, b};
        return ShadingRatioOfBytes(Limits(), rgb, keyer.channelOrder[0], keyer.channelOrder[2]);
    }
    float Buffer(int x, int y) const { return keyer.shadingBuffer[y * width + x]; }
};

Triple T(const double* t) {
    return {t[0], t[1], t[2]};
}

} // namespace

TEST(ShadingLimits, Values) {
    ShadingFixture f(4, 4, 0, 255, 0);
    ShadingLimits l = f.Limits();
    // Shadow level floor(255 * 0.8 + 0.5), light level floor(255 * 1 + 0 + 0.5),
    // shadow sum 3 * 85 * 0.8, light sum (765 - 255) * 1 + 255.
    EXPECT_EQ((std::vector<double>{l.shadowLevel, l.lightLevel, l.shadowSum, l.lightSum}),
              (std::vector<double>{204, 255, 204, 765}));
    EXPECT_DOUBLE_EQ(l.reflectionSum, 0.35 * 765);
    // Tints (blue, green, red): shadow (63.75, 72.25, 63.75), light (4.25, 8.5,
    // 4.25) over the mean 85.
    EXPECT_EQ(T(l.shadowTint), (Triple{0.75, 0.85, 0.75}));
    EXPECT_EQ(T(l.lightTint), (Triple{0.05, 0.1, 0.05}));
}

TEST(ShadingRatio, BackingColourIsOneForEveryPercentage) {
    const uint8_t backings[][3] = {{0, 255, 0},     {40, 200, 60}, {30, 60, 220},
                                   {128, 128, 128}, {250, 3, 7},   {1, 2, 3}};
    const double percents[] = {0.0, 0.01, 0.33, 0.5, 0.8, 0.99, 1.0};
    for (const auto& k : backings) {
        ShadingFixture f(2, 2, k[0], k[1], k[2]);
        KeyerParams& p = f.keyer.params;
        for (double sc : percents)
            for (double sb : percents)
                for (double lc : percents)
                    for (double lb : percents) {
                        p.shadowChroma = sc, p.shadowBrightness = sb;
                        p.lightChroma = lc, p.lightBrightness = lb;
                        ASSERT_EQ(f.Ratio(k[0], k[1], k[2]), 1.0)
                            << int(k[0]) << "," << int(k[1]) << "," << int(k[2]) << " " << sc << " "
                            << sb << " " << lc << " " << lb;
                    }
    }
}

TEST(ShadingRatio, HandComputedValues) {
    // Green backing; defaults are sc 0.8, sb 0.8, lc 1, lb 1.
    const struct {
        double sc, sb, lc, lb;
        Rgb pixel;
        double expected;
    } cases[] = {
        {0.8, 0.8, 1, 1, {0, 0, 0}, 0.0}, // q_s = 0 / 204
        {0.8, 0.8, 1, 1, {0, 102, 0}, 0.5},
        {0.8, 0.8, 1, 1, {0, 51, 0}, 0.25},
        {0.8, 0.8, 1, 1, {255, 255, 255}, 1.0}, // lc = lb = 1: nothing passes 255, 765
        {0.8, 0.8, 0.5, 1, {255, 255, 255}, 1.0 - 128.0 / 255 + 1.0}, // level 128
        {0.8, 0.8, 1, 0, {0, 255, 255}, 1.0 - 255.0 / 510 + 1.0},     // light sum 255
        {0, 0, 1, 1, {0, 40, 0}, 1.0}, // shadow chroma 0: level 0, no shadow
        {0, 0, 1, 1, {0, 0, 0}, 1.0},
        {0, 0.8, 1, 1, {0, 40, 0}, 40.0 / 204}, // only the shadow sum darkens
    };
    for (const auto& c : cases) {
        ShadingFixture f(2, 2, 0, 255, 0);
        KeyerParams& p = f.keyer.params;
        p.shadowChroma = c.sc, p.shadowBrightness = c.sb;
        p.lightChroma = c.lc, p.lightBrightness = c.lb;
        EXPECT_DOUBLE_EQ(f.Ratio(uint8_t(c.pixel.r), uint8_t(c.pixel.g), uint8_t(c.pixel.b)),
                         c.expected)
            << c.pixel << " sc " << c.sc << " sb " << c.sb << " lc " << c.lc << " lb " << c.lb;
    }
}

TEST(FloatWindow, SizesAndFixedAdditionOrder) {
    for (auto size : {std::array<int, 2>{1, 1}, {4, 3}, {3, 0}, {-3, 3}})
        EXPECT_FALSE(CFloatWindow(size[0], size[1], 5).IsValid()) << size[0] << "x" << size[1];
    EXPECT_TRUE(CFloatWindow(1, 3, 5).IsValid());
    // Columns sum from the oldest row down: 1 + 1e8 loses the 1 before -1e8
    // cancels (bottom-up would give 1).
    CFloatWindow column(1, 3, 1);
    for (float v : {1.0f, 1e8f, -1e8f}) {
        column.PushRow();
        column.Newest()[0] = v;
    }
    EXPECT_EQ(column.FirstMean(), 0.0f);
    // Window sums run left to right and subtract before adding: (1e8 - 1e8) + 1.
    CFloatWindow row(3, 1, 5);
    row.PushRow();
    const float values[5] = {1e8f, 0.0f, 0.0f, 1.0f, 2.0f};
    std::copy(values, values + 5, row.Newest());
    EXPECT_EQ(row.FirstMean(), 1e8f * (1.0f / 3));
    EXPECT_EQ(row.NextMean(), 1.0f * (1.0f / 3));
    EXPECT_EQ(row.NextMean(), 3.0f * (1.0f / 3));
}

TEST(SmoothShadingRatio, MeansOnCleanBackingInsideTheCrop) {
    // Green levels 51 k give ratios k / 4 on the green backing (level 204).
    const uint8_t levels[5] = {0, 51, 102, 153, 255};
    const int w = 8, h = 7;
    ShadingFixture f(w, h, 0, 255, 0);
    ASSERT_EQ(f.keyer.SetSmoothBgShadow(1), 1);
    std::fill(f.keyer.shadingBuffer, f.keyer.shadingBuffer + w * h, -1.0f);
    std::vector<float> ratio(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int k = (x * 3 + y * 2) % 5;
            KeyerFrames::SetRgb(f.Fg(x, y), 0, levels[k], 0);
            ratio[y * w + x] = float(k) * 0.25f;
        }
    f.Matte(3, 2) = 200; // foreground
    f.Edge(4, 3) = 1;    // near an edge
    // Band columns 1..6, rows 0..5: columns 0 and 7 and row 6 stay -1 but
    // are read by the band's border pixels; the frame's first row is kept.
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 1, 0, 7, 6);
    ASSERT_EQ(f.keyer.SmoothShadingRatio(), 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool outside = x == 0 || x == 7 || y == 6;
            const bool kept = y == 0 || (x == 3 && y == 2) || (x == 4 && y == 3);
            float sum = 0; // exact for these dyadic values in any order
            for (int dy = -1; dy <= 1 && !kept && !outside; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += ratio[(y + dy) * w + x + dx];
            EXPECT_EQ(f.Buffer(x, y), outside ? -1.0f
                                      : kept  ? ratio[y * w + x]
                                              : sum * (1.0f / 9.0f))
                << x << "," << y;
        }
}
