// Underlay fill: the raised backing colour, frames without foreground or
// without rim, the seed colour, hand-computed tile passes, the level series
// of a 100 x 60 band against a model of the tile grid, the crop, thread-count
// independence and rim totals beyond 32 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
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

// A keyer with backing (40, 200, 60), raised to (95, 255, 115).
struct UnderlayFixture {
    KeyerFrames frames;
    CKeyer keyer;

    UnderlayFixture(int w, int h, uint8_t kr = 40, uint8_t kg = 200, uint8_t kb = 60)
        : frames(w, h) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.SetBackingColour(kb, kg, kr, 0);
        for (int i = 0; i < w * h; ++i) {
            keyer.edgeImage->pixels[i] = 0;
            for (int c = 0; c < 3; ++c)
                keyer.underlayImage->pixels[i * 3 + c] = 1;
        }
        keyer.compositeDirty = 0;
        keyer.spillShadowDirty = 0;
    }
    uint8_t& Edge(int x, int y) { return keyer.edgeImage->pixels[y * frames.width + x]; }
    Rgb Under(int x, int y) const {
        const uint8_t* p = keyer.underlayImage->pixels + (y * frames.width + x) * 3;
        return Rgb{p[0], p[1], p[2]};
    }
};

class ThreadCount {
  public:
    explicit ThreadCount(int n) { setenv("ORVO_THREADS", std::to_string(n).c_str(), 1); }
    ~ThreadCount() { unsetenv("ORVO_THREADS"); }
};

// An independent model of the fill over the whole frame (no crop), with the
// tile sizes given explicitly; images as plain arrays (colours red, green,
// blue, 3 bytes per pixel).
struct Model {
    int w, h;
    std::vector<uint8_t> matte, edge, bg, under;

    void Fill(const double raised[3], const std::vector<int>& sizes) {
        double sum[3] = {0, 0, 0};
        double nf = 0, nr = 0;
        for (int i = 0; i < w * h; ++i) {
            if (matte[i] != 0) {
                ++nf;
            } else if (edge[i] != 0) {
                ++nr;
                for (int c = 0; c < 3; ++c)
                    sum[c] += bg[i * 3 + c];
            }
        }
        uint8_t fill[3];
        const double f = nf / (double(w) * h);
        for (int c = 0; c < 3; ++c)
            fill[c] = uint8_t((sum[c] / nr) * (1 - f) + raised[c] * f);
        under = bg;
        for (int i = 0; i < w * h; ++i)
            if (matte[i] != 0)
                for (int c = 0; c < 3; ++c)
                    under[i * 3 + c] = fill[c];
        for (int t : sizes)
            Level(t);
    }

    // Tiles of t x t centred on the frame, clipped at its borders.
    void Level(int t) {
        int cols = 1, gx = 0, rows = 1, gy = 0;
        if (t < w) {
            cols = w / t + (w % t ? 1 : 0);
            if (cols % 2 == 0) ++cols;
            gx = (w - 1) / 2 - (cols / 2) * t - t / 2;
        }
        if (t < h) {
            rows = h / t + (h % t ? 1 : 0);
            if (rows % 2 == 0) ++rows;
            gy = (h - 1) / 2 - (rows / 2) * t - t / 2;
        }
        for (int j = 0; j < rows; ++j)
            for (int i = 0; i < cols; ++i) {
                const int x0 = std::max(0, gx + i * t), x1 = std::min(w - 1, gx + i * t + t - 1);
                const int y0 = std::max(0, gy + j * t), y1 = std::min(h - 1, gy + j * t + t - 1);
                Tile(x0, y0, x1, y1);
            }
    }

    void Tile(int x0, int y0, int x1, int y1) {
        double nt = 0, ne = 0, u[3] = {0, 0, 0}, e[3] = {0, 0, 0};
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int i = y * w + x;
                if (matte[i] != 0) {
                    ++nt;
                    for (int c = 0; c < 3; ++c)
                        u[c] += under[i * 3 + c];
                } else if (edge[i] != 0) {
                    ++ne;
                    for (int c = 0; c < 3; ++c)
                        e[c] += under[i * 3 + c];
                }
            }
        if (nt == 0) return;
        const double a = double(x1 - x0 + 1) * (y1 - y0 + 1);
        double m[3];
        for (int c = 0; c < 3; ++c)
            m[c] = u[c] / nt;
        if (nt < a && ne > 0)
            for (int c = 0; c < 3; ++c)
                m[c] = m[c] + (e[c] / ne - m[c]) * ((a - nt) / a);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int i = y * w + x;
                if (matte[i] == 0) continue;
                const double tt = matte[i] / 255.0;
                for (int c = 0; c < 3; ++c)
                    under[i * 3 + c] = matte[i] == 255
                                           ? uint8_t(m[c])
                                           : uint8_t(bg[i * 3 + c] * (1 - tt) + m[c] * tt);
            }
    }
};

// A soft-edged blob with a rim two pixels wide and a background gradient.
void DrawBlob(UnderlayFixture& f) {
    const int w = f.frames.width, h = f.frames.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            KeyerFrames::SetRgb(f.frames.Bg(x, y), uint8_t(x * 2), uint8_t(255 - y * 3),
                                uint8_t((x * 7 + y * 5) % 256));
            const double dx = (x - w * 0.45) / (w * 0.3), dy = (y - h * 0.55) / (h * 0.3);
            const double d = std::sqrt(dx * dx + dy * dy);
            const int m = d < 0.8 ? 255 : d < 1.0 ? int((1.0 - d) * 1200) : 0;
            f.frames.Matte(x, y) = uint8_t(m);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (f.frames.Matte(x, y) != 0) continue;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx >= 0 && yy >= 0 && xx < w && yy < h && f.frames.Matte(xx, yy) != 0)
                        f.Edge(x, y) = 1;
                }
        }
}

Model ModelOf(UnderlayFixture& f) {
    Model model{f.frames.width, f.frames.height, {}, {}, {}, {}};
    const int n = model.w * model.h;
    for (int i = 0; i < n; ++i) {
        model.matte.push_back(f.frames.matte.pixels[i]);
        model.edge.push_back(f.keyer.edgeImage->pixels[i]);
        for (int c = 0; c < 3; ++c)
            model.bg.push_back(f.frames.bg[i * 4 + 1 + c]);
    }
    return model;
}

} // namespace

TEST(FillUnderlay, NoForegroundLeavesTheCorrectedBackground) {
    UnderlayFixture f(12, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x) {
            KeyerFrames::SetRgb(f.frames.Bg(x, y), uint8_t(x * 20), uint8_t(y * 25), 77);
            if (x == 3) f.Edge(x, y) = 1;
        }
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(f.Under(x, y), (Rgb{x * 20, y * 25, 77}));
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
}

TEST(FillUnderlay, NoRimFillsTheBandWithTheRaisedBackingColour) {
    UnderlayFixture f(10, 8);
    f.frames.FillBg(1, 2, 3);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            f.frames.Matte(x, y) = x < 5 ? 255 : 0;
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);
    // (40, 200, 60) + 55 in every channel.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(f.Under(x, y), (Rgb{95, 255, 115}));
    EXPECT_EQ(f.keyer.compositeDirty, 0);
    EXPECT_EQ(f.keyer.spillShadowDirty, 0);
}

TEST(FillUnderlay, SmallBandKeepsTheSeedColour) {
    // 6 x 5: n = 4, so no tile pass. Foreground 2 x 2, rim 4 pixels.
    UnderlayFixture f(6, 5);
    f.frames.FillBg(10, 20, 30);
    for (int y = 1; y < 3; ++y)
        for (int x = 2; x < 4; ++x)
            f.frames.Matte(x, y) = 255;
    KeyerFrames::SetRgb(f.frames.Bg(0, 0), 50, 60, 70); // not rim: not counted
    f.Edge(1, 1) = f.Edge(4, 1) = f.Edge(1, 2) = f.Edge(4, 2) = 1;
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);
    // f = 4 / 30: 10 * 26/30 + 95 * 4/30 = 21.33, 20 * 26/30 + 255 * 4/30 = 51.33,
    // 30 * 26/30 + 115 * 4/30 = 41.33.
    for (int y = 1; y < 3; ++y)
        for (int x = 2; x < 4; ++x)
            EXPECT_EQ(f.Under(x, y), (Rgb{21, 51, 41}));
    EXPECT_EQ(f.Under(0, 0), (Rgb{50, 60, 70}));
    EXPECT_EQ(f.Under(5, 4), (Rgb{10, 20, 30}));
    EXPECT_EQ(f.Under(1, 1), (Rgb{10, 20, 30}));
    EXPECT_EQ(f.keyer.compositeDirty, 1);
}

TEST(FillUnderlay, TwoLevelsOnASevenPixelSquare) {
    // n = 6: tiles of 10 (the whole frame) and then 5 (a centred 5 x 5 tile
    // with 1-pixel border tiles). Foreground 3 x 3 in the middle, one pixel of
    // it partly transparent; rim the ring around it. Backing (200, 40, 60),
    // raised (255, 95, 115), far from the rim colours.
    UnderlayFixture f(7, 7, 200, 40, 60);
    double rimSum[3] = {0, 0, 0};
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) {
            KeyerFrames::SetRgb(f.frames.Bg(x, y), uint8_t(x * 30), 100, uint8_t(200 - y * 20));
            const bool inner = x >= 2 && x <= 4 && y >= 2 && y <= 4;
            const bool ring = !inner && x >= 1 && x <= 5 && y >= 1 && y <= 5;
            if (inner) f.frames.Matte(x, y) = 255;
            if (ring) {
                f.Edge(x, y) = 1;
                rimSum[0] += x * 30;
                rimSum[1] += 100;
                rimSum[2] += 200 - y * 20;
            }
        }
    f.frames.Matte(4, 4) = 128;
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);

    const double raised[3] = {255, 95, 115};
    const double t = 128 / 255.0;
    const double c44[3] = {120, 100, 120}; // background at (4, 4)
    double rim[3], seed[3], m1[3], m2[3];
    int full1[3], part1[3], full2[3], part2[3];
    for (int c = 0; c < 3; ++c) {
        rim[c] = rimSum[c] / 16;
        const double ff = 9.0 / 49;
        seed[c] = double(int(rim[c] * (1 - ff) + raised[c] * ff));
        // Level 1: the whole 7 x 7 frame.
        m1[c] = seed[c] + (rim[c] - seed[c]) * (40.0 / 49);
        full1[c] = int(m1[c]);
        part1[c] = int(c44[c] * (1 - t) + m1[c] * t);
        // Level 2: the centre tile (1..5) holds all foreground and rim.
        m2[c] = (8.0 * full1[c] + part1[c]) / 9;
        m2[c] = m2[c] + (rim[c] - m2[c]) * (16.0 / 25);
        full2[c] = int(m2[c]);
        part2[c] = int(c44[c] * (1 - t) + m2[c] * t);
    }
    EXPECT_EQ(f.Under(2, 2), (Rgb{full2[0], full2[1], full2[2]}));
    EXPECT_EQ(f.Under(3, 4), (Rgb{full2[0], full2[1], full2[2]}));
    EXPECT_EQ(f.Under(4, 4), (Rgb{part2[0], part2[1], part2[2]}));
    EXPECT_EQ(f.Under(0, 6), (Rgb{0, 100, 80}));
    EXPECT_EQ(f.Under(1, 3), (Rgb{30, 100, 140}));
    // The two levels moved the value on: a single level would differ.
    EXPECT_FALSE((Rgb{full1[0], full1[1], full1[2]}) == (Rgb{full2[0], full2[1], full2[2]}));
}

TEST(FillUnderlay, HundredBySixtyRunsTileSizes80To5) {
    UnderlayFixture f(100, 60);
    DrawBlob(f);
    Model expected = ModelOf(f);
    const double raised[3] = {95, 255, 115};
    expected.Fill(raised, {80, 40, 20, 10, 5});
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);
    const std::vector<uint8_t> actual(f.keyer.underlayImage->pixels,
                                      f.keyer.underlayImage->pixels + 100 * 60 * 3);
    EXPECT_EQ(actual, expected.under);

    // The model tells the series apart: one level fewer or more differs.
    Model fewer = ModelOf(f), more = ModelOf(f);
    fewer.Fill(raised, {40, 20, 10, 5});
    more.Fill(raised, {160, 80, 40, 20, 10, 5});
    EXPECT_NE(actual, fewer.under);
    EXPECT_NE(actual, more.under);
}

TEST(FillUnderlay, CropKeepsOutsidePixels) {
    UnderlayFixture f(20, 16);
    DrawBlob(f);
    f.keyer.cropEnabled = 1;
    SetRect(&f.keyer.cropRect, 3, 2, 15, 12);
    ASSERT_EQ(f.keyer.FillUnderlay(), 1);
    int changed = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 15 && y >= 2 && y < 12;
            if (!inside) {
                EXPECT_EQ(f.Under(x, y), (Rgb{1, 1, 1})) << x << "," << y;
            } else if (!(f.Under(x, y) == Rgb{1, 1, 1})) {
                ++changed;
            }
        }
    EXPECT_EQ(changed, 12 * 10);
}

TEST(FillUnderlay, SameResultForAnyThreadCount) {
    std::vector<uint8_t> first;
    for (int threads : {1, 2, 3, 8}) {
        ThreadCount count(threads);
        UnderlayFixture f(131, 77);
        DrawBlob(f);
        ASSERT_EQ(f.keyer.FillUnderlay(), 1);
        std::vector<uint8_t> result(f.keyer.underlayImage->pixels,
                                    f.keyer.underlayImage->pixels + 131 * 77 * 3);
        if (first.empty())
            first = result;
        else
            EXPECT_EQ(result, first) << threads << " threads";
    }
}

TEST(FillUnderlay, RimTotalsBeyond32Bits) {
    // 2057 x 8192 = 16 850 944 white rim pixels sum to 4 296 990 720 per
    // channel, more than 32 bits hold. One foreground row on top, green
    // backing (raised (0, 255, 0)): the rim mean and the raised colour agree
    // in green, so the seed and every tile mean keep green at 255. A wrapped
    // total would seed green near 0 and never get it back to 255.
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
    const uint8_t* under = keyer.underlayImage->pixels;
    for (int x = 0; x < w; ++x) {
        ASSERT_EQ(under[x * 3 + 1], 255) << x;
        ASSERT_GE(under[x * 3], 254) << x;
    }
}
