// Transparency and quick-composite views: colours by matte value, the key-in
// matte, an empty band. (The four separation views are the golden cases'.)
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// A 4 x 3 frame separated against green: green pixels are backing, red and
// blue ones foreground. Output colours start at 99, the output alpha at 42.
struct ViewFixture : KeyedFrames {
    explicit ViewFixture(bool keyIn = false) : KeyedFrames(4, 3, keyIn) {
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
    bool IsForeground(int x, int y) { return FgRgb(x, y).g == 0; }
};

const Rgb kUntouched{99, 99, 99};

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

TEST(QuickComposite, ForegroundOverBackgroundWithoutBlending) {
    ViewFixture f;
    ClearFlags(f.keyer);
    ASSERT_NE(f.keyer.RenderQuickComposite(), 0);
    EXPECT_EQ(Flags(f.keyer), 1111);
    // The same matte and bytes as the "Separ. FG on BG" view.
    ViewFixture view;
    view.keyer.separationView = 0;
    view.keyer.separationDirty = view.keyer.keyInDirty = 0;
    ASSERT_NE(view.keyer.RenderSeparationView(), 0);
    // The matte now holds only the separation mask.
    EXPECT_EQ(view.keyer.separationDirty + view.keyer.keyInDirty, 2);
    EXPECT_EQ(f.out, view.out);
    view.keyer.separationView = 4; // no such view: succeeds, writes nothing
    ASSERT_NE(view.keyer.RenderSeparationView(), 0);
    EXPECT_EQ(f.out, view.out);
    EXPECT_EQ(std::vector<uint8_t>(f.matte.pixels, f.matte.pixels + 12),
              std::vector<uint8_t>(view.matte.pixels, view.matte.pixels + 12));
    // Without a background the separation runs on its own and the view fails.
    ViewFixture alone;
    alone.keyer.backgroundImage = nullptr;
    EXPECT_EQ(alone.keyer.RenderQuickComposite(), 0);
    EXPECT_EQ(alone.Matte(1, 0) + alone.Matte(0, 0), 1);
    // A black separation colour separates nothing: the matte as it was decides.
    ViewFixture black;
    for (double& c : black.keyer.params.separationColor)
        c = 0;
    black.FillMatte(0);
    black.Matte(2, 1) = 7;
    ASSERT_NE(black.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(black.OutRgb(x, y), x == 2 && y == 1 ? black.FgRgb(x, y) : black.BgRgb(x, y));
}

TEST(QuickComposite, KeyInAndCrop) {
    ViewFixture f(true); // key-in 1 except in column 1: the background there
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            f.KeyIn(x, y)[0] = x == 1 ? 0 : 1;
    ASSERT_NE(f.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool fg = f.IsForeground(x, y) && x == 1;
            EXPECT_EQ(f.OutRgb(x, y), fg ? f.FgRgb(x, y) : f.BgRgb(x, y)) << x << "," << y;
        }
    // A one-column crop (an empty band) shows the background in it.
    ViewFixture g;
    g.keyer.cropEnabled = 1;
    g.keyer.cropRect = RECT{2, 0, 3, 2};
    ASSERT_NE(g.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(g.OutRgb(x, y), InRect(g.keyer.cropRect, x, y) ? g.BgRgb(x, y) : kUntouched)
                << x << "," << y;
}
