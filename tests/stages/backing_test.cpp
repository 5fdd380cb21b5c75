// Backing colour: channel ranking, default colours, the black backing, the
// refinement of a picked colour (also on an 8K frame) and field mode.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

using Triple = std::array<double, 3>;
using Order = std::array<int, 3>;
Triple T(const double* t) {
    return {t[0], t[1], t[2]};
}
Order OrderOf(const CKeyer& k) {
    return {k.channelOrder[0], k.channelOrder[1], k.channelOrder[2]};
}
Rgb Backing(CKeyer& keyer) {
    uint8_t r = 0, g = 0, b = 0;
    keyer.GetBackingColour(&r, &g, &b);
    return Rgb{r, g, b};
}
// A keyer reading a foreground image directly, as at the first render.
struct DirectFg {
    CImageBaseClass fg;
    CKeyer keyer;
    DirectFg(int w, int h, int bytes, uint8_t* data, int keyerHeight) {
        EXPECT_EQ(fg.Create(w, h, bytes, data), 1);
        fg.SetUndefined(0);
        keyer.foregroundImage = &fg;
        keyer.width = w;
        keyer.height = keyerHeight;
    }
};

} // namespace

// Ties go to green, then blue, then red; (200, 100, 150) gives chromaticity
// over 450 and light 0.1 and 0.05 of the mean 150. A black backing fails to
// plain defaults.
TEST(BackingColour, RankingDefaultsAndTheBlackBacking) {
    KeyedFrames f(4, 4);
    const struct {
        int b, g, r;
        Order order;
    } cases[] = {{0, 255, 0, {kChannelGreen, kChannelBlue, kChannelRed}},
                 {128, 128, 128, {kChannelBlue, kChannelGreen, kChannelRed}},
                 {10, 90, 90, {kChannelGreen, kChannelRed, kChannelBlue}},
                 {150, 100, 200, {kChannelRed, kChannelBlue, kChannelGreen}}};
    for (const auto& c : cases) {
        ASSERT_EQ(f.keyer.SetBackingColour(c.b, c.g, c.r, 0), 1);
        EXPECT_EQ(OrderOf(f.keyer), c.order) << c.r << "," << c.g << "," << c.b;
    }
    const KeyerParams& d = f.keyer.defaultParams;
    EXPECT_EQ(T(d.transparencyColor), (Triple{200.0 / 450, 100.0 / 450, 150.0 / 450}));
    EXPECT_EQ(T(d.lightColor), (Triple{15, 7.5, 7.5}));
    EXPECT_EQ(f.keyer.SetBackingColour(0, 0, 0, 0), 0);
    EXPECT_EQ(OrderOf(f.keyer), (Order{0, 1, 2}));
    for (const double* t : {d.separationColor, d.backingChromaticity, d.shadowColor})
        EXPECT_EQ(T(t), (Triple{0, 0, 0}));
    f.keyer.defaultParams.separationColor[0] = 199.9; // truncated toward zero
    f.keyer.defaultParams.separationColor[2] = 255.0;
    EXPECT_EQ(Backing(f.keyer), (Rgb{199, 0, 255}));
}

TEST(BackingRefinement, PickedColourMeasuresTheScreen) {
    KeyedFrames f(9, 7);
    f.FillFg(20, 200, 30);
    ASSERT_EQ(f.keyer.SetBackingColour(0, 255, 0, 1), 1);
    EXPECT_EQ(Backing(f.keyer), (Rgb{20, 200, 30}));
    EXPECT_EQ(T(f.keyer.defaultParams.backingChromaticity), (Triple{0.08, 0.8, 0.12}));

    // 10 pixels of blue 100 and 1 of 101: the mean is the whole quotient 100.
    KeyedFrames g(11, 1);
    g.FillFg(0, 0, 100);
    KeyerFrames::SetRgb(g.Fg(6, 0), 0, 0, 101);
    double t[3] = {255, 0, 0};
    ASSERT_EQ(g.keyer.RefineBackingColour(t), 1);
    EXPECT_EQ(T(t), (Triple{100, 0, 0}));
    EXPECT_EQ(T(g.keyer.params.separationColor), (Triple{0, 0, 255})); // the pick stays

    // Red (cos 0) and black pixels do not count: the mean of the green ones.
    f.FillFg(255, 0, 0);
    for (int y = 0; y < 7; ++y) {
        KeyerFrames::SetRgb(f.Fg(1, y), 0, 0, 0);
        KeyerFrames::SetRgb(f.Fg(2, y), 10, 100, 0);
        KeyerFrames::SetRgb(f.Fg(3, y), 20, 140, 10);
    }
    double u[3] = {0, 255, 0};
    ASSERT_EQ(f.keyer.RefineBackingColour(u), 1);
    EXPECT_EQ(T(u), (Triple{5, 120, 15})); // blue, green, red
}

TEST(BackingRefinement, FieldModeAndEightKFrames) {
    // Rows 0..3 blue 100, rows 4..7 blue 200; the keyer has the field height 4.
    std::vector<uint8_t> data(5 * 8 * 3, 0);
    for (int i = 0; i < 40; ++i)
        data[i * 3 + 2] = i < 20 ? 100 : 200;
    DirectFg d(5, 8, 3, data.data(), 4);
    d.fg.SetFieldMode(1, 0);
    ASSERT_EQ(d.keyer.SetBackingColour(255, 0, 0, 1), 1);
    EXPECT_EQ(Backing(d.keyer), (Rgb{0, 0, 150}));
    EXPECT_EQ(d.keyer.SetBackingColour(0, 0, 255, 1), 0); // restored on failure too
    EXPECT_EQ(d.fg.fieldMode, 1u);
    EXPECT_EQ(d.keyer.height, 4);

    // 7680 x 4320 of grey 200 sums to 6.6e9 per channel. One byte per pixel,
    // each pixel reading its byte and the next two; two spare bytes at the end.
    std::vector<uint8_t> grey(size_t(7680) * 4320 + 2, 200);
    DirectFg big(7680, 4320, 1, grey.data(), 4320);
    double t[3] = {255, 255, 255};
    ASSERT_EQ(big.keyer.RefineBackingColour(t), 1);
    EXPECT_EQ(T(t), (Triple{200, 200, 200}));
}
