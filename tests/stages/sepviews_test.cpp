// The transparency view: colours by matte value and the backing's blue. (The
// separation views and the quick composite are the golden cases'.)
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// A 4 x 3 frame separated against green: green pixels are backing, red and
// blue ones foreground. Output colours start at 99, the output alpha at 42.
struct ViewFixture : KeyedFrames {
    ViewFixture() : KeyedFrames(4, 3) {
        SeparateGreen();
        const Rgb fg[3][4] = {{{0, 200, 0}, {200, 0, 0}, {0, 0, 200}, {0, 150, 0}},
                              {{200, 0, 0}, {0, 200, 0}, {0, 180, 0}, {0, 0, 200}},
                              {{0, 0, 200}, {0, 255, 0}, {200, 0, 0}, {0, 190, 0}}};
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                SetRgb(Fg(x, y), uint8_t(fg[y][x].r), uint8_t(fg[y][x].g), uint8_t(fg[y][x].b));
                SetRgb(Bg(x, y), uint8_t(10 + x), uint8_t(20 + y), 30);
                SetRgb(Out(x, y), 99, 99, 99);
                Out(x, y)[0] = 42;
            }
    }
};

} // namespace

TEST(TransparencyView, Colours) {
    // Transparency colour red, threshold 0, strength 0.498: red pixels grade to
    // (1 - 0.498) * 255 = 128.01 -> 128, blue ones keep 255; backing shows the
    // backing's blue truncated (123.9 -> 123), black for a green backing.
    for (double backingBlue : {123.9, 0.0}) {
        ViewFixture f;
        f.keyer.params.transparencyColor[0] = 1.0;
        f.keyer.params.transparencyThreshold = 0.0;
        f.keyer.params.transparencyStrength = 0.498;
        f.keyer.params.transparencyEdge = 0.0;
        f.keyer.defaultParams.separationColor[2] = backingBlue;
        ClearFlags(f.keyer);
        f.keyer.separationDirty = f.keyer.keyInDirty = 1;
        ASSERT_NE(f.keyer.RenderTransparencyView(), 0);
        const int blue = int(backingBlue);
        EXPECT_EQ(f.Matte(1, 0), 128);
        EXPECT_EQ(f.Matte(2, 0), 255);
        EXPECT_EQ(f.OutRgb(1, 0), (Rgb{0, 127, 127})); // matte 128
        EXPECT_EQ(f.OutRgb(2, 0), (Rgb{0, 0, 0}));     // matte 255
        EXPECT_EQ(f.OutRgb(3, 1), (Rgb{0, 0, 0}));
        EXPECT_EQ(f.OutRgb(0, 0), (Rgb{0, 0, blue}));
        EXPECT_EQ(f.OutRgb(1, 1), (Rgb{0, 0, blue}));
        EXPECT_EQ(f.Out(1, 0)[0], 42);
        EXPECT_EQ(Flags(f.keyer), 110);
        // Strength 0 keeps 255, and the edge stage caps it to 231 at distance 1.
        f.keyer.params.transparencyStrength = 0.0;
        f.keyer.params.transparencyEdge = 1.0;
        f.keyer.separationDirty = f.keyer.keyInDirty = 1;
        ASSERT_NE(f.keyer.RenderTransparencyView(), 0);
        EXPECT_EQ(f.Matte(1, 0), 231);
        EXPECT_EQ(f.OutRgb(1, 0), (Rgb{0, 24, 24}));
    }
}
