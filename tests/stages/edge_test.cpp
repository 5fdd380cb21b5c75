// Edge profile tables and the transparency edge: the reach by frame size, and
// marks, distances and caps against a model of the boundary rules for any
// slicing, crop and thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

struct EdgeFixture : KeyedFrames {
    EdgeFixture(int w, int h, double edge) : KeyedFrames(w, h) {
        keyer.params.transparencyEdge = edge;
        keyer.BuildEdgeProfile(std::min(edge, 10.0));
    }
};

// Width of the band of marks left of a vertical boundary: the reach E.
int MeasuredReach(int w, int h) {
    EdgeFixture f(w, h, 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = w / 2; x < w; ++x)
            f.Matte(x, y) = 255;
    EXPECT_NE(f.keyer.SoftenEdge(), 0);
    int marked = 0;
    for (int x = 0; x < w / 2; ++x)
        marked += f.Edge(x, h / 2);
    return marked;
}

} // namespace

TEST(EdgeProfile, Tables) {
    const struct {
        double e;
        int profile[11];
        double weights[11];
    } tables[] = {
        {0.0,
         {0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {1.0,
         {0, 231, 243, 249, 252, 253, 254, 254, 254, 254, 254},
         {0, 0.76, 0.88, 0.94, 0.97, 0.98, 0.99, 0.99, 0.99, 0.99, 0.99}},
        {10.0,
         {0, 55, 136, 195, 225, 240, 247, 251, 253, 254, 254},
         {0, 0.33, 0.33, 0.4, 0.7, 0.85, 0.92, 0.96, 0.98, 0.99, 0.99}},
    };
    for (const auto& t : tables) {
        CKeyer keyer;
        keyer.BuildEdgeProfile(t.e);
        for (int d = 0; d < 11; ++d) {
            EXPECT_EQ(keyer.edgeProfile[d], t.profile[d]) << "e " << t.e << " d " << d;
            EXPECT_DOUBLE_EQ(keyer.edgeWeights[d], t.weights[d]) << "e " << t.e << " d " << d;
        }
    }
}

TEST(SoftenEdge, ReachGrowsWithTheFrame) {
    EXPECT_EQ(
        (std::vector<int>{MeasuredReach(720, 576), MeasuredReach(500, 431), MeasuredReach(64, 64),
                          MeasuredReach(600, 432), MeasuredReach(1920, 1080)}),
        (std::vector<int>{4, 2, 2, 3, 7}));
}

namespace {

// The edge image and the capped matte as the boundary rules read, pixel by
// pixel over the band (inclusive columns bx0..bx1, rows by0..by1).
std::vector<uint8_t> ReferenceEdge(std::vector<uint8_t> m, int w, int h, RECT band, int reach,
                                   int depth, const uint8_t* profile) {
    std::vector<uint8_t> e(m.size(), 0);
    auto opaque = [&](int x, int y) { return m[size_t(y) * w + x] != 0; };
    auto mark = [&](int x, int y) {
        if (!opaque(x, y)) e[size_t(y) * w + x] = 1;
    };
    auto lower = [&](int x, int y, int k) {
        uint8_t& v = e[size_t(y) * w + x];
        if (v == 0 || v > k) v = uint8_t(k);
    };
    for (int y = band.top; y <= band.bottom; ++y)
        for (int x = std::max<int>(band.left, 1); x <= band.right; ++x) {
            const bool before = opaque(x - 1, y);
            if (before == opaque(x, y)) continue;
            for (int yy = y - std::min(reach, y); yy <= y + std::min(reach, h - 1 - y); ++yy) {
                if (before)
                    for (int xx = x; xx < x + std::min(reach, w - 1 - x); ++xx)
                        mark(xx, yy);
                else
                    for (int xx = x - std::min(reach, x); xx < x; ++xx)
                        mark(xx, yy);
            }
            if (before)
                for (int k = 1; k <= std::min(depth, x) && opaque(x - k, y); ++k)
                    lower(x - k, y, k);
            else
                for (int k = 1; k <= std::min(depth, w - 1 - x) && opaque(x + k - 1, y); ++k)
                    lower(x + k - 1, y, k);
        }
    for (int y = std::max<int>(band.top, 1); y <= band.bottom; ++y)
        for (int x = band.left; x <= band.right; ++x) {
            const bool before = opaque(x, y - 1);
            if (before == opaque(x, y)) continue;
            if (before) {
                for (int yy = y; yy < y + std::min(reach, h - 1 - y); ++yy)
                    mark(x, yy);
                for (int k = 1; k <= std::min(depth, y) && opaque(x, y - k); ++k)
                    lower(x, y - k, k);
            } else {
                for (int k = 1; k <= std::min(reach, y) && !opaque(x, y - k); ++k)
                    mark(x, y - k);
                for (int k = 1; k <= std::min(depth, h - 1 - y) && opaque(x, y + k - 1); ++k)
                    lower(x, y + k - 1, k);
            }
        }
    for (int y = band.top; y <= band.bottom; ++y)
        for (int x = band.left; x <= band.right; ++x) {
            uint8_t& a = m[size_t(y) * w + x];
            const uint8_t d = e[size_t(y) * w + x];
            if (a != 0 && d != 0) a = std::min(a, profile[d]);
        }
    m.insert(m.end(), e.begin(), e.end());
    return m;
}

} // namespace

TEST(SoftenEdge, MatchesTheBoundaryRulesForAnySlicing) {
    // Blobs, runs, speckles and top rows in whole stripes of assorted matte values,
    // frames narrower and wider than the sixteen-pixel scan, with and without
    // a crop; 1008 lines give a reach (7) that spans the stripes above the crop.
    const struct {
        int w, h;
        double edge;
        bool cropped;
        int reach;
    } cases[] = {
        {41, 37, 3.7, false, 2}, {41, 37, 10.0, true, 2},    {7, 40, 2.0, false, 2},
        {100, 33, 0.0, true, 2}, {1008, 1008, 5.0, true, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.w << "x" << c.h << " edge " << c.edge << " crop " << c.cropped);
        const int w = c.w, h = c.h;
        std::vector<uint8_t> start(size_t(w) * h, 0);
        uint32_t seed = 12345;
        auto next = [&] { return ((seed = seed * 1103515245u + 12345u) >> 16) & 0x7FFF; };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int dx = x - w / 3, dy = y - h / 2;
                const bool blob = dx * dx + dy * dy < w * h / 16 ||
                                  (x > 2 * w / 3 && y > 5 && y < h - 8) || (x / 5 + y) % 23 == 0;
                if (y < 10) // whole stripes: no row boundaries
                    start[size_t(y) * w + x] = y % 2 == 0 && y < 8 ? 200 : 0;
                else if (blob != (next() % 9 == 0))
                    start[size_t(y) * w + x] = uint8_t(1 + next() % 255);
            }
        const RECT crop{5, 4, w - 3, h - 6};
        const RECT band = c.cropped ? RECT{crop.left, crop.top, crop.right - 1, crop.bottom - 1}
                                    : RECT{0, 0, w - 1, h - 1};
        EdgeFixture ref(1, 1, c.edge);
        const std::vector<uint8_t> expected = ReferenceEdge(
            start, w, h, band, c.reach, std::min(int(c.edge), 10), ref.keyer.edgeProfile);
        ExpectSameForAnyThreadCount([&](uint16_t threads) {
            EdgeFixture f(w, h, c.edge);
            f.keyer.threadCount = threads;
            std::copy(start.begin(), start.end(), f.matte.pixels);
            f.keyer.cropEnabled = c.cropped;
            f.keyer.cropRect = crop;
            EXPECT_NE(f.keyer.SoftenEdge(), 0);
            std::vector<uint8_t> result(f.matte.pixels, f.matte.pixels + w * h);
            result.insert(result.end(), f.keyer.edgeImage->pixels,
                          f.keyer.edgeImage->pixels + w * h);
            EXPECT_TRUE(result == expected);
            return result;
        });
    }
}
