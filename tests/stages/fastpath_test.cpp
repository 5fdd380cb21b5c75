// The fast forms of the underlay fill and smoothing, the separation and the
// grading in pairs, the draft composite in whole pixels, and the separation
// and grading in one pass, against their straightforward forms on random frames: sizes,
// crops, mattes with and without partly opaque pixels, any thread count.
// Balanced bands cover the band once and soften the edge as row bands do.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"
#include "support/synthetic.h"

namespace {

struct Shape {
    int w, h;
    RECT crop;        // right and bottom exclusive; all zero: crop off
    int partialShare; // in 16ths of the foreground pixels
};

// Random blobs of foreground with soft and hard borders, a rim around them,
// random background, corrected background and underlay bytes.
struct RandomFrames : KeyedFrames {
    RandomFrames(const Shape& s, uint32_t seed, bool keyInLayer = false)
        : KeyedFrames(s.w, s.h, keyInLayer) {
        synthetic::Lcg rng(seed);
        std::vector<int> cx, cy, r;
        for (int k = 0; k < 1 + int(rng.Next() % 6); ++k) {
            cx.push_back(int(rng.Next() % uint32_t(s.w)));
            cy.push_back(int(rng.Next() % uint32_t(s.h)));
            r.push_back(1 + int(rng.Next() % uint32_t(1 + s.w / 3)));
        }
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x) {
                SetRgb(Bg(x, y), uint8_t(rng.Next()), uint8_t(rng.Next()), uint8_t(rng.Next()));
                SetUnder(x, y, uint8_t(rng.Next()), uint8_t(rng.Next()), uint8_t(rng.Next()));
                int m = 0;
                for (size_t k = 0; k < cx.size(); ++k) {
                    const int dx = x - cx[k], dy = y - cy[k];
                    if (dx * dx + dy * dy <= r[k] * r[k]) m = 255;
                }
                if (m && int(rng.Next() % 16) < s.partialShare) m = 1 + int(rng.Next() % 254);
                Matte(x, y) = uint8_t(m);
            }
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                Edge(x, y) = Matte(x, y) == 0 && rng.Next() % 3 != 0 ? uint8_t(rng.Next()) : 0;
        // Foreground colours near the backing (40, 190, 60) and anywhere.
        synthetic::Lcg colours(seed);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x) {
                const uint8_t a = uint8_t(colours.Next()), b = uint8_t(colours.Next());
                if (colours.Next() % 2)
                    SetRgb(Fg(x, y), a, b, uint8_t(colours.Next()));
                else
                    SetRgb(Fg(x, y), uint8_t(20 + a % 50), uint8_t(140 + b % 100),
                           uint8_t(30 + a % 60));
            }
        keyer.SetBackingColour(60, 190, 40, 0);
        if (s.crop.right > 0) {
            keyer.cropEnabled = 1;
            keyer.cropRect = s.crop;
        }
    }
};

const Shape kShapes[] = {
    {64, 48, {0, 0, 0, 0}, 0},        {64, 48, {0, 0, 0, 0}, 4},
    {97, 61, {0, 0, 0, 0}, 8},        {203, 117, {0, 0, 0, 0}, 2},
    {97, 61, {7, 5, 90, 50}, 4},      {160, 90, {33, 2, 151, 89}, 16},
    {31, 200, {0, 0, 0, 0}, 3},       {12, 9, {0, 0, 0, 0}, 5},
    {6, 6, {0, 0, 0, 0}, 5},          {300, 7, {0, 0, 0, 0}, 1},
    {50, 40, {10, 10, 12, 30}, 2},    {192, 144, {96, 72, 156, 132}, 3},
    {192, 144, {48, 36, 108, 96}, 3}, {192, 144, {24, 18, 84, 78}, 3},
    {2400, 6, {0, 0, 0, 0}, 3}, // more cell columns than 64 per frame row
};

// The underlay after one stage with the given form and thread count.
template <class Stage>
std::vector<uint8_t> Run(const Shape& s, uint32_t seed, int straightforward, uint16_t threads,
                         Stage stage) {
    RandomFrames f(s, seed);
    f.keyer.straightforward = straightforward;
    f.keyer.threadCount = threads;
    EXPECT_EQ(stage(f.keyer), 1);
    std::vector<uint8_t> result = f.Underlay();
    result.push_back(uint8_t(f.keyer.compositeDirty * 2 + f.keyer.spillShadowDirty));
    return result;
}

template <class Stage> void ExpectFastEqualsStraightforward(Stage stage) {
    for (const Shape& s : kShapes)
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message()
                         << s.w << "x" << s.h << " crop " << s.crop.left << "," << s.crop.top << ","
                         << s.crop.right << "," << s.crop.bottom << " seed " << seed);
            const std::vector<uint8_t> plain = Run(s, seed, 1, 1, stage);
            for (uint16_t threads : {1, 2, 3, 8})
                EXPECT_EQ(Run(s, seed, 0, threads, stage), plain) << threads << " threads";
        }
}

TEST(FastForms, UnderlayFillByCellsEqualsTheTilePasses) {
    ExpectFastEqualsStraightforward([](CKeyer& k) { return k.FillUnderlay(); });
}

TEST(FastForms, UnderlaySmoothingByRowSumsEqualsTheWindowWalk) {
    ExpectFastEqualsStraightforward([](CKeyer& k) { return k.SmoothUnderlay(); });
}

// Separation and grading in one pass against the two passes, on foregrounds
// of backing-like and random colours.
TEST(FastForms, SeparationAndGradingInOnePassEqualTheTwoPasses) {
    for (const Shape& s : kShapes)
        for (uint32_t seed = 1; seed <= 2; ++seed) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " seed " << seed);
            auto matte = [&](bool onePass, uint16_t threads) {
                RandomFrames f(s, seed);
                f.keyer.threadCount = threads;
                if (onePass) {
                    EXPECT_EQ(f.keyer.SeparateAndGrade(), 1);
                } else {
                    EXPECT_EQ(f.keyer.Separate(), 1);
                    EXPECT_EQ(f.keyer.GradeTransparency(), 1);
                }
                return std::vector<uint8_t>(f.matte.pixels, f.matte.pixels + s.w * s.h);
            };
            const std::vector<uint8_t> twoPasses = matte(false, 1);
            for (uint16_t threads : {1, 2, 3})
                EXPECT_EQ(matte(true, threads), twoPasses) << threads << " threads";
        }
}

// The separation two pixels at a time against one pixel at a time, over
// separation colours, levels (with and without the dominance test),
// deviations (0 puts every multiple of the colour on the cosine limit; 1 and
// beyond give a limit of 0 and none) and every ranking, a channel named
// twice included. Every third pixel is a multiple of (4, 19, 6) or black.
TEST(FastForms, SeparationInPairsEqualsOnePixelAtATime) {
    const double colours[][3] = {{4, 19, 6}, {200, 30, 90}, {12.5, 80.25, 230}};
    const double levels[] = {0, 20, 60};
    const double deviations[] = {0, 0.05, 0.5, 1, 1.5};
    const int32_t rankings[][3] = {{1, 0, 2}, {1, 2, 0}, {0, 1, 2}, {0, 2, 1},
                                   {2, 0, 1}, {2, 1, 0}, {1, 1, 0}};
    const Shape shapes[] = {kShapes[3], kShapes[4], kShapes[7]};
    for (const Shape& s : shapes)
        for (size_t c = 0; c < std::size(colours); ++c)
            for (double level : levels)
                for (double deviation : deviations) {
                    auto matte = [&](int straightforward) {
                        RandomFrames f(s, uint32_t(c + 1));
                        for (int i = 0; i < s.w * s.h; i += 3) {
                            const int t = i % 14; // 0: black
                            f.SetRgb(f.Fg(i % s.w, i / s.w), uint8_t(4 * t), uint8_t(19 * t),
                                     uint8_t(6 * t));
                        }
                        f.keyer.straightforward = straightforward;
                        for (int k = 0; k < 3; ++k)
                            f.keyer.params.separationColor[k] = colours[c][k];
                        f.keyer.params.separationLevel = level;
                        f.keyer.params.separationDeviation = deviation;
                        std::vector<uint8_t> bytes;
                        for (const auto& ranking : rankings) {
                            std::copy(ranking, ranking + 3, f.keyer.channelOrder);
                            EXPECT_EQ(f.keyer.Separate(), 1);
                            bytes.insert(bytes.end(), f.matte.pixels, f.matte.pixels + s.w * s.h);
                        }
                        return bytes;
                    };
                    EXPECT_EQ(matte(0), matte(1))
                        << s.w << "x" << s.h << " colour " << c << " level " << level
                        << " deviation " << deviation;
                }
}

// The grading two pixels at a time against one at a time, over transparency
// colours (channels of 0, all 0, small shares), thresholds (from 1 on
// nothing is graded) and strengths, on foregrounds with black, single-channel
// pixels and pixels of the colour (25, 50, 25) exactly.
TEST(FastForms, GradingInPairsEqualsOnePixelAtATime) {
    const double colours[][3] = {{40, 190, 60},  {0, 120, 0},       {0, 0, 0},
                                 {255, 3.5, 90}, {0.25, 0.5, 0.25}, {0.001, 0.6, 0.0004}};
    const double thresholds[] = {0, 0.3, 0.75, 1 - 1e-9, 1, 1.2};
    const double strengths[] = {0.4, 1, 2.5};
    const Shape shapes[] = {kShapes[1], kShapes[5], kShapes[7]};
    for (const Shape& s : shapes)
        for (size_t c = 0; c < std::size(colours); ++c)
            for (double threshold : thresholds) {
                auto matte = [&](int straightforward) {
                    RandomFrames f(s, uint32_t(c + 3));
                    for (int i = 0; i < s.w * s.h; i += 4) {
                        const uint8_t t = uint8_t(i % 9); // (25, 50, 25) t times, or black
                        f.SetRgb(f.Fg(i % s.w, i / s.w), 0, uint8_t(i % 3 ? i : 0), 0);
                        if (i % 8 == 0) f.SetRgb(f.Fg(i % s.w, i / s.w), 25 * t, 50 * t, 25 * t);
                    }
                    f.keyer.straightforward = straightforward;
                    std::copy(colours[c], colours[c] + 3, f.keyer.params.transparencyColor);
                    f.keyer.params.transparencyThreshold = threshold;
                    std::vector<uint8_t> bytes;
                    for (double strength : strengths) {
                        f.keyer.params.transparencyStrength = strength;
                        EXPECT_EQ(f.keyer.GradeTransparency(), 1);
                        bytes.insert(bytes.end(), f.matte.pixels, f.matte.pixels + s.w * s.h);
                    }
                    return bytes;
                };
                EXPECT_EQ(matte(0), matte(1))
                    << s.w << "x" << s.h << " colour " << c << " threshold " << threshold;
            }
}

// The draft composite four whole pixels at a time against byte copies, with
// and without a key-in layer holding pixels out: the output's alpha bytes
// stay, every other byte comes from the foreground or the background.
TEST(FastForms, QuickCompositeInWholePixelsEqualsByteCopies) {
    for (const Shape& s : kShapes)
        for (bool keyIn : {false, true}) {
            auto composite = [&](int straightforward) {
                RandomFrames f(s, 5, keyIn);
                synthetic::Lcg rng(7);
                for (std::vector<uint8_t>* bytes : {&f.out, &f.keyIn})
                    for (uint8_t& b : *bytes)
                        b = rng.Next() % 4 ? uint8_t(rng.Next()) : 0;
                f.keyer.straightforward = straightforward;
                EXPECT_EQ(f.keyer.RenderQuickComposite(), 1);
                return f.out;
            };
            EXPECT_EQ(composite(0), composite(1)) << s.w << "x" << s.h << " key-in " << keyIn;
        }
}

// Every pixel of the band exactly once, none outside, on any thread count.
TEST(FastForms, BalancedBandsCoverTheBandOnce) {
    struct Hits {
        int width;
        std::vector<std::atomic<int>> count;
    };
    std::vector<Shape> shapes(std::begin(kShapes), std::end(kShapes));
    for (int w = 60; w <= 80; ++w) // grids that span the area exactly, or not
        shapes.push_back({w, 30, {0, 0, 0, 0}, 0});
    for (const Shape& s : shapes)
        for (uint16_t threads : {1, 2, 3, 8}) {
            RandomFrames f(s, 1);
            f.keyer.threadCount = threads;
            Hits hits{s.w, std::vector<std::atomic<int>>(size_t(s.w * s.h))};
            RECT band = f.keyer.BandRect();
            const RECT expected = band;
            ASSERT_EQ(f.keyer.RunBalancedBands(
                          [](CJobSlice* slice) {
                              Hits* h = static_cast<Hits*>(slice->context);
                              for (int y = slice->y; y < slice->y + slice->rows; ++y)
                                  for (int x = slice->x; x < slice->x + slice->width; ++x)
                                      ++h->count[size_t(y * h->width + x)];
                              return 1;
                          },
                          &hits, &band),
                      1);
            int wrong = 0;
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const bool inside = x >= expected.left && x <= expected.right &&
                                        y >= expected.top && y <= expected.bottom;
                    wrong += hits.count[size_t(y * s.w + x)] != (inside ? 1 : 0);
                }
            EXPECT_EQ(wrong, 0) << s.w << "x" << s.h << " crop " << s.crop.left << "," << s.crop.top
                                << " " << threads << " threads";
        }
}

// The edge scan over balanced bands against row bands: matte and edge bytes.
TEST(FastForms, EdgeSofteningOverBalancedBandsEqualsRowBands) {
    for (const Shape& s : kShapes)
        for (uint32_t seed = 1; seed <= 2; ++seed) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " seed " << seed);
            auto soften = [&](int straightforward, uint16_t threads) {
                RandomFrames f(s, seed);
                f.keyer.straightforward = straightforward;
                f.keyer.threadCount = threads;
                f.keyer.params.transparencyEdge = 3 + seed;
                f.keyer.BuildEdgeProfile(3 + seed);
                EXPECT_EQ(f.keyer.SoftenEdge(), 1);
                std::vector<uint8_t> bytes(f.matte.pixels, f.matte.pixels + s.w * s.h);
                for (int y = 0; y < s.h; ++y)
                    for (int x = 0; x < s.w; ++x)
                        bytes.push_back(f.Edge(x, y));
                return bytes;
            };
            const std::vector<uint8_t> rows = soften(1, 1);
            for (uint16_t threads : {1, 2, 3, 8})
                EXPECT_EQ(soften(0, threads), rows) << threads << " threads";
        }
}

} // namespace
