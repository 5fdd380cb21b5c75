// Edge profile tables and the transparency edge: marks, distances, caps, the
// reach by frame size and independence of the slicing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// Matte patterns: '.' = 0, '#' = 255. Edge rows: '0'..'9', 'A' = 10.
struct EdgeFixture : KeyedFrames {
    EdgeFixture(int w, int h, double edge, const std::vector<std::string>& rows = {})
        : KeyedFrames(w, h) {
        keyer.params.transparencyEdge = edge;
        keyer.BuildEdgeProfile(std::min(edge, 10.0));
        for (int y = 0; y < int(rows.size()); ++y)
            for (int x = 0; x < w; ++x)
                Matte(x, y) = rows[y][x] == '#' ? 255 : 0;
    }
    std::vector<std::string> EdgeRows() {
        std::vector<std::string> rows(height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                rows[y] += "0123456789A"[Edge(x, y)];
        return rows;
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
        {3.0,
         {0, 184, 219, 237, 246, 250, 252, 253, 254, 254, 254},
         {0, 0.33, 0.64, 0.82, 0.91, 0.95, 0.97, 0.98, 0.99, 0.99, 0.99}},
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
    // Any positive edge stays within 55..254; a negative one clamps to 255.
    for (double e : {0.001, 0.5, 2.2, 5.5, 9.99, -3.0}) {
        CKeyer keyer;
        keyer.BuildEdgeProfile(e);
        for (int d = 1; d < 11; ++d) {
            EXPECT_LE(keyer.edgeProfile[d], e < 0 ? 255 : 254) << e << " " << d;
            EXPECT_GE(keyer.edgeProfile[d], e < 0 ? 255 : 55) << e << " " << d;
        }
    }
}

TEST(SoftenEdge, MarksDistancesAndCaps) {
    // Depth = the edge (held at 10), reach 2 on small frames; opaque pixels
    // are capped to the profile of their distance.
    const struct {
        double edge;
        std::vector<std::string> matte, edges;
    } cases[] = {
        {3.0, {"...#####...."}, {"011123211100"}}, // distances from both sides
        // Depth 0 marks without capping: row steps mark reach-2 blocks clipped
        // to the frame, column steps the column itself.
        {0.0,
         {"........", "........", "...###..", "...###..", "........", "........"},
         {"01111110", "01111110", "01100010", "01100010", "01111110", "01100010"}},
        {1.0, // a lone opaque pixel gets distance 1
         {".......", ".......", ".......", "...#...", ".......", ".......", "......."},
         {"0000000", "0111110", "0111110", "0111110", "0111110", "0111110", "0000000"}},
        {3.0, {"...#..."}, {"0111110"}}, // each scan alone gives distance 1 too
        {3.0, {".", ".", ".", "#", ".", ".", "."}, {"0", "1", "1", "1", "1", "1", "0"}},
        // A boundary at the last column gives no distance; one column further
        // in, the walk reaches the boundary column only.
        {3.0, {".....#", ".....#", ".....#"}, {"000110", "000110", "000110"}},
        {3.0, {"....##", "....##", "....##"}, {"001110", "001110", "001110"}},
        {25.0, {"..##########################.."}, {"11123456789A000000A98765432110"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "edge " << c.edge << " " << c.matte[0]);
        const int w = int(c.matte[0].size()), h = int(c.matte.size());
        EdgeFixture f(w, h, c.edge, c.matte);
        ASSERT_NE(f.keyer.SoftenEdge(), 0);
        EXPECT_EQ(f.EdgeRows(), c.edges);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int d = f.Edge(x, y);
                EXPECT_EQ(f.Matte(x, y), c.matte[y][x] != '#' ? 0
                                         : d                  ? f.keyer.edgeProfile[d]
                                                              : 255)
                    << x << "," << y;
            }
    }
    // The caps by hand for depth 3 and 10.
    EdgeFixture f(12, 1, 3.0, {"...#####...."});
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    EXPECT_EQ((std::vector<int>{f.Matte(3, 0), f.Matte(4, 0), f.Matte(5, 0)}),
              (std::vector<int>{184, 219, 237}));
    EdgeFixture g(30, 1, 25.0, {"..##########################.."});
    ASSERT_NE(g.keyer.SoftenEdge(), 0);
    EXPECT_EQ((std::vector<int>{g.Matte(2, 0), g.Matte(11, 0), g.Matte(12, 0)}),
              (std::vector<int>{55, 254, 255}));
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
