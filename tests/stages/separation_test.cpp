// Separation mask: dominance and angle tests on hand-computed pixels, and the
// same mask for every channel ranking. (Crops are in crop_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// Separation colour (0, 200, 0), level 50, deviation 50 %, green ranked first.
struct SeparationFixture : KeyedFrames {
    SeparationFixture(int w, int h) : KeyedFrames(w, h) {
        SeparateGreen();
        FillFg(200, 10, 10); // foreground everywhere
        FillMatte(5);
    }
};

const std::array<int, 3> kGreen{kChannelGreen, kChannelBlue, kChannelRed},
    kRed{kChannelRed, kChannelBlue, kChannelGreen}, kBlue{kChannelBlue, kChannelGreen, kChannelRed};

} // namespace

TEST(Separation, PixelByPixel) {
    // (20, 250, 30): f = 465 * 300 / 195075, q = (20, 106.98, 30), green leads
    // by 76.98; (20, 150, 30): q_G leads by 34.147. Both cosines (0.98976,
    // 0.97231) lie below 0.99^0.1 for deviation 1 %: the angle says foreground.
    const struct {
        double deviation, level;
        std::array<int, 3> order;
        Rgb fg;
        int expected;
    } cases[] = {
        {0.0, 50, kGreen, {0, 100, 0}, 0}, // deviation 0: only the exact direction
        {0.0, 50, kGreen, {1, 255, 0}, 1},
        {0.0, 50, kGreen, {0, 250, 3}, 1},
        {1.0, 50, kGreen, {255, 0, 0}, 0}, // deviation 100: everything backing
        {1.0, 50, kGreen, {17, 99, 201}, 0},
        {0.01, 50, kGreen, {20, 250, 30}, 1}, // level 50: the angle test only
        {0.01, 34, kGreen, {20, 150, 30}, 0},
        {0.01, 35, kGreen, {20, 150, 30}, 1},
        {0.01, 0, kRed, {20, 250, 30}, 1}, // red (20) does not lead: angle decides
        // Blue first: (100, 100, 100) has q = (100, -43.02, 100), no lead, and
        // cosine 0.577 < 1; (90, 100, 120) has blue leading.
        {0.0, 0, kBlue, {100, 100, 100}, 1},
        {0.0, 0, kBlue, {90, 100, 120}, 0},
        // Red leads (q = (200, 104.7, 0)) but a ranking naming blue twice
        // never compares it: backing; ranked properly the angle decides.
        {0.0, 0, {kChannelGreen, kChannelBlue, kChannelBlue}, {200, 250, 0}, 0},
        {0.0, 0, kGreen, {200, 250, 0}, 1},
        {0.0, 50, kGreen, {0, 0, 0}, 0}, // black is backing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fg << " deviation " << c.deviation << " level "
                                        << c.level << " first " << c.order[0]);
        SeparationFixture f(2, 2);
        f.keyer.params.separationDeviation = c.deviation;
        f.keyer.params.separationLevel = c.level;
        for (int i = 0; i < 3; ++i)
            f.keyer.channelOrder[i] = c.order[i];
        KeyerFrames::SetRgb(f.Fg(0, 0), uint8_t(c.fg.r), uint8_t(c.fg.g), uint8_t(c.fg.b));
        EXPECT_NE(f.keyer.Separate(), 0);
        EXPECT_EQ(f.Matte(0, 0), c.expected);
    }
}

TEST(Separation, EveryRankingSeparatesAlike) {
    // With a whole-numbered separation colour the arithmetic is exact up to
    // the final division, so swapping the channels of the frame, the colour
    // and the ranking together gives the same mask. A ranking that names a
    // channel twice never passes the dominance test: the angle test decides.
    const int w = 67, h = 9;
    std::vector<uint8_t> pixels(size_t(w) * h * 3);
    uint32_t seed = 99;
    for (size_t i = 0; i < pixels.size(); i += 3) {
        seed = seed * 1664525u + 1013904223u;
        const int g = 100 + int(seed >> 25); // near the backing half the time
        pixels[i] = uint8_t(seed >> 24 & 1 ? 40 + (seed >> 8 & 15) : seed >> 8);
        pixels[i + 1] = uint8_t(seed >> 24 & 2 ? g : seed >> 16);
        pixels[i + 2] = uint8_t(seed >> 24 & 4 ? 60 + (seed >> 12 & 31) : seed >> 4);
    }
    const double colour[3] = {40, 190, 60};
    auto mask = [&](const int* perm, std::array<int, 3> order, double level) {
        SeparationFixture f(w, h);
        f.keyer.params.separationLevel = level;
        f.keyer.params.separationDeviation = 0.02;
        for (int i = 0; i < 3; ++i) {
            f.keyer.params.separationColor[i] = colour[perm[i]];
            f.keyer.channelOrder[i] = order[i];
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = &pixels[(size_t(y) * w + x) * 3];
                KeyerFrames::SetRgb(f.Fg(x, y), p[perm[0]], p[perm[1]], p[perm[2]]);
            }
        EXPECT_NE(f.keyer.Separate(), 0);
        return std::vector<uint8_t>(f.matte.pixels, f.matte.pixels + w * h);
    };
    const int same[3] = {0, 1, 2};
    const std::vector<uint8_t> base = mask(same, kGreen, 20);
    EXPECT_NE(std::count(base.begin(), base.end(), 0), 0);
    EXPECT_NE(std::count(base.begin(), base.end(), 1), 0);
    int perm[3] = {0, 1, 2};
    do {
        // Channel index c sits at byte 2 - c; find where each old byte went.
        std::array<int, 3> order;
        for (int j = 0; j < 3; ++j) {
            const int oldByte = 2 - kGreen[j];
            order[j] = 2 - int(std::find(perm, perm + 3, oldByte) - perm);
        }
        SCOPED_TRACE(testing::Message() << "ranking " << order[0] << order[1] << order[2]);
        EXPECT_EQ(mask(perm, order, 20), base);
    } while (std::next_permutation(perm, perm + 3));
    EXPECT_EQ(mask(same, {1, 1, 1}, 0), mask(same, kGreen, 50));
    EXPECT_NE(mask(same, kGreen, 0), mask(same, kGreen, 50));
}
