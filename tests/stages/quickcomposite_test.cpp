// Quick composite: hard switch between foreground and background.
#include <gtest/gtest.h>

#include <array>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

typedef std::array<int, 3> Rgb;

// A 5 x 3 frame separated against green; every third pixel is green backing,
// the others carry assorted non-green colours (foreground).
struct QuickFixture {
    KeyerFrames frames;
    CKeyer keyer;

    explicit QuickFixture(bool keyInLayer) : frames(5, 3, keyInLayer) {
        keyer.hasKeyIn = keyInLayer ? 1 : 0;
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.params.separationColor[1] = 200.0;
        keyer.params.separationLevel = 50.0;
        keyer.params.separationDeviation = 0.5;
        keyer.channelOrder[0] = kChannelGreen;
        keyer.channelOrder[1] = kChannelBlue;
        keyer.channelOrder[2] = kChannelRed;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                if (IsForeground(x, y))
                    KeyerFrames::SetRgb(frames.Fg(x, y), 100 + 20 * x, 7 * y, 200 - 30 * x);
                else
                    KeyerFrames::SetRgb(frames.Fg(x, y), 0, 190 + y, 0);
                KeyerFrames::SetRgb(frames.Bg(x, y), 1 + x, 2 + y, 3);
                KeyerFrames::SetRgb(frames.Out(x, y), 99, 99, 99);
            }
    }
    static bool IsForeground(int x, int y) { return (x + 5 * y) % 3 != 0; }
    Rgb Out(int x, int y) {
        return {frames.Out(x, y)[1], frames.Out(x, y)[2], frames.Out(x, y)[3]};
    }
    Rgb Fg(int x, int y) { return {frames.Fg(x, y)[1], frames.Fg(x, y)[2], frames.Fg(x, y)[3]}; }
    Rgb Bg(int x, int y) { return {frames.Bg(x, y)[1], frames.Bg(x, y)[2], frames.Bg(x, y)[3]}; }
};

TEST(QuickComposite, ForegroundOverBackgroundWithoutBlending) {
    QuickFixture f(false);
    f.keyer.separationDirty = f.keyer.compositeDirty = f.keyer.spillShadowDirty = 0;
    f.keyer.keyInDirty = 0;
    ASSERT_NE(f.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool fg = QuickFixture::IsForeground(x, y);
            EXPECT_EQ(f.frames.Matte(x, y), fg ? 1 : 0);
            EXPECT_EQ(f.Out(x, y), fg ? f.Fg(x, y) : f.Bg(x, y)) << x << "," << y;
        }
    EXPECT_EQ(f.keyer.separationDirty, 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
}

TEST(QuickComposite, EqualsForegroundOnBackgroundView) {
    QuickFixture quick(false);
    ASSERT_NE(quick.keyer.RenderQuickComposite(), 0);
    QuickFixture view(false);
    view.keyer.separationView = 0;
    ASSERT_NE(view.keyer.RenderSeparationView(), 0);
    EXPECT_EQ(quick.frames.out, view.frames.out);
}

TEST(QuickComposite, KeyInMatteShowsTheBackground) {
    QuickFixture f(true);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            f.frames.KeyIn(x, y)[0] = x == 1 ? 0 : 1;
    ASSERT_NE(f.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool fg = QuickFixture::IsForeground(x, y) && x == 1;
            EXPECT_EQ(f.Out(x, y), fg ? f.Fg(x, y) : f.Bg(x, y)) << x << "," << y;
        }
}

TEST(QuickComposite, CropLimitsTheBandAndAnEmptyOneShowsTheBackground) {
    QuickFixture f(false);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 1, 1, 4, 3);
    ASSERT_NE(f.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 1;
            const Rgb expected = !inside                            ? Rgb{99, 99, 99}
                                 : QuickFixture::IsForeground(x, y) ? f.Fg(x, y)
                                                                    : f.Bg(x, y);
            EXPECT_EQ(f.Out(x, y), expected) << x << "," << y;
        }

    QuickFixture g(false);
    g.keyer.cropEnabled = 1;
    SetRect(&g.keyer.cropRect, 2, 0, 3, 2); // one column: no band
    ASSERT_NE(g.keyer.RenderQuickComposite(), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool inside = x == 2 && y < 2;
            EXPECT_EQ(g.Out(x, y), inside ? g.Bg(x, y) : (Rgb{99, 99, 99})) << x << "," << y;
        }
}

} // namespace
