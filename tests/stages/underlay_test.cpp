// Underlay fill: the raised backing colour, frames without foreground or rim,
// the level series of a 100 x 60 band against a model of the
// tile grid and rim totals beyond 32 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// Backing (40, 200, 60), raised to (95, 255, 115); underlay bytes start at 1.
struct UnderlayFixture : KeyedFrames {
    UnderlayFixture(int w, int h, Rgb backing = {40, 200, 60}) : KeyedFrames(w, h) {
        keyer.SetBackingColour(backing.b, backing.g, backing.r, 0);
        FillUnder(1, 1, 1);
        keyer.compositeDirty = keyer.spillShadowDirty = 0;
    }
    // A soft-edged blob with a rim two pixels wide over a background gradient.
    void DrawBlob() {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                SetRgb(Bg(x, y), uint8_t(x * 2), uint8_t(255 - y * 3),
                       uint8_t((x * 7 + y * 5) % 256));
                const double dx = (x - width * 0.45) / (width * 0.3),
                             dy = (y - height * 0.55) / (height * 0.3);
                const double d = std::sqrt(dx * dx + dy * dy);
                Matte(x, y) = uint8_t(d < 0.8 ? 255 : d < 1.0 ? int((1.0 - d) * 1200) : 0);
            }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int dy = -2; dy <= 2 && Matte(x, y) == 0; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) {
                        const int xx = x + dx, yy = y + dy;
                        if (xx >= 0 && yy >= 0 && xx < width && yy < height && Matte(xx, yy) != 0)
                            Edge(x, y) = 1;
                    }
    }
};

// An independent model of the fill over the whole frame (no crop) with the
// tile sizes given explicitly; colours red, green, blue, 3 bytes per pixel.
struct Model {
    int w, h;
    std::vector<uint8_t> matte, edge, bg, under;

    explicit Model(UnderlayFixture& f) : w(f.width), h(f.height) {
        for (int i = 0; i < w * h; ++i) {
            matte.push_back(f.matte.pixels[i]);
            edge.push_back(f.keyer.edgeImage->pixels[i]);
            for (int c = 0; c < 3; ++c)
                bg.push_back(f.bg[i * 4 + 1 + c]);
        }
    }
    std::vector<uint8_t> Fill(const std::vector<int>& sizes) {
        const double raised[3] = {95, 255, 115};
        double sum[3] = {0, 0, 0}, nf = 0, nr = 0;
        for (int i = 0; i < w * h; ++i) {
            nf += matte[i] != 0;
            nr += matte[i] == 0 && edge[i] != 0;
            for (int c = 0; c < 3 && matte[i] == 0 && edge[i] != 0; ++c)
                sum[c] += bg[i * 3 + c];
        }
        const double f = nf / (double(w) * h);
        under = bg;
        for (int i = 0; i < w * h; ++i)
            for (int c = 0; c < 3 && matte[i] != 0; ++c)
                under[i * 3 + c] = uint8_t((sum[c] / nr) * (1 - f) + raised[c] * f);
        for (int t : sizes) {
            // Tiles of t x t centred on the frame (an odd count), clipped at its borders.
            const int cols = t < w ? (w + t - 1) / t | 1 : 1,
                      rows = t < h ? (h + t - 1) / t | 1 : 1;
            const int gx = t < w ? (w - 1) / 2 - (cols / 2) * t - t / 2 : 0;
            const int gy = t < h ? (h - 1) / 2 - (rows / 2) * t - t / 2 : 0;
            for (int j = 0; j < rows; ++j)
                for (int i = 0; i < cols; ++i)
                    Tile(std::max(0, gx + i * t), std::max(0, gy + j * t),
                         std::min(w - 1, gx + i * t + t - 1), std::min(h - 1, gy + j * t + t - 1));
        }
        return under;
    }
    // Mean of the tile's foreground, pulled toward its rim by the share of
    // non-foreground pixels; partial pixels mix with the background.
    void Tile(int x0, int y0, int x1, int y1) {
        double nt = 0, ne = 0, u[3] = {0, 0, 0}, e[3] = {0, 0, 0};
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int i = y * w + x;
                double* s = matte[i] != 0 ? (++nt, u) : edge[i] != 0 ? (++ne, e) : nullptr;
                for (int c = 0; c < 3 && s; ++c)
                    s[c] += under[i * 3 + c];
            }
        if (nt == 0) return;
        const double a = double(x1 - x0 + 1) * (y1 - y0 + 1);
        double m[3];
        for (int c = 0; c < 3; ++c) {
            m[c] = u[c] / nt;
            if (nt < a && ne > 0) m[c] = m[c] + (e[c] / ne - m[c]) * ((a - nt) / a);
        }
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int i = y * w + x;
                const double t = matte[i] / 255.0;
                for (int c = 0; c < 3 && matte[i] != 0; ++c)
                    under[i * 3 + c] = matte[i] == 255
                                           ? uint8_t(m[c])
                                           : uint8_t(bg[i * 3 + c] * (1 - t) + m[c] * t);
            }
    }
};

} // namespace

// No foreground: the corrected background, and the flags set. Foreground but
// no rim: the raised colour (40, 200, 60) + 55 everywhere, the flags unchanged.
TEST(FillUnderlay, NoForegroundOrNoRim) {
    UnderlayFixture f(12, 9), g(10, 8);
    f.DrawBlob();
    f.FillMatte(0);
    const std::vector<uint8_t> background = Model(f).Fill({});
    g.FillBg(1, 2, 3);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 5; ++x)
            g.Matte(x, y) = 255;
    ASSERT_EQ(f.keyer.FillUnderlay() + g.keyer.FillUnderlay(), 2);
    EXPECT_EQ(f.Underlay(), background);
    for (int i = 0; i < 80; ++i)
        ASSERT_EQ(g.UnderRgb(i % 10, i / 10), (Rgb{95, 255, 115})) << i;
    EXPECT_EQ(std::vector<int>({f.keyer.compositeDirty, f.keyer.spillShadowDirty,
                                g.keyer.compositeDirty, g.keyer.spillShadowDirty}),
              std::vector<int>({1, 1, 0, 0}));
}

// The tile sizes follow the frame's shorter side: 5 * 2^(L-1), ..., 10, 5.
TEST(FillUnderlay, TileSizesFromTheShorterSide) {
    const struct {
        int w, h;
        std::vector<int> tiles;
    } cases[] = {{100, 60, {80, 40, 20, 10, 5}}, {60, 7, {10, 5}}, {6, 6, {5}}};
    for (const auto& c : cases) {
        UnderlayFixture f(c.w, c.h);
        f.DrawBlob();
        Model model(f);
        ASSERT_EQ(f.keyer.FillUnderlay(), 1);
        EXPECT_EQ(f.Underlay(), model.Fill(c.tiles)) << c.w << "x" << c.h;
    }
    // The model tells the series apart: one level fewer or more differs.
    UnderlayFixture f(100, 60);
    f.DrawBlob();
    Model model(f);
    EXPECT_NE(model.Fill({80, 40, 20, 10, 5}), model.Fill({40, 20, 10, 5}));
    EXPECT_NE(model.Fill({80, 40, 20, 10, 5}), model.Fill({160, 80, 40, 20, 10, 5}));
}

TEST(FillUnderlay, RimTotalsBeyond32Bits) {
    // 2057 x 8192 white rim pixels sum to 4 296 990 720 per channel, beyond 32
    // bits. One foreground row on top, green backing raised to (0, 255, 0): rim
    // mean and raised colour agree in green, so every mean keeps green 255; a
    // wrapped total would seed green near 0.
    const int w = 8192, h = 2058;
    CImageBaseClass bg, matte;
    CKeyer keyer;
    if (!bg.Create(w, h, 3, nullptr) || !matte.Create(w, h, 1, nullptr))
        GTEST_SKIP() << "not enough memory";
    const uint8_t white[3] = {255, 255, 255};
    RECT all{0, 0, w, h};
    bg.FillRect(&all, white, 0, 0);
    bg.SetUndefined(0);
    matte.SetUndefined(0);
    for (int i = 0; i < w * h; ++i)
        matte.pixels[i] = i < w ? 255 : 0;
    if (!keyer.SetImages(&matte, &bg, &bg, &bg, &bg, &bg)) GTEST_SKIP() << "not enough memory";
    keyer.SetBackingColour(0, 255, 0, 0);
    for (int i = 0; i < w * h; ++i)
        keyer.edgeImage->pixels[i] = i < w ? 0 : 1;
    ASSERT_EQ(keyer.FillUnderlay(), 1);
    for (int x = 0; x < w; ++x) {
        ASSERT_EQ(keyer.underlayImage->pixels[x * 3 + 1], 255) << x;
        ASSERT_GE(keyer.underlayImage->pixels[x * 3], 254) << x;
    }
}
