// Edge profile tables and the transparency edge: marks, distances, caps, the
// reach by frame size and independence of the slicing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// --- edge profile ---

void ExpectTables(double e, const std::vector<int>& profile, const std::vector<double>& weights) {
    CKeyer keyer;
    keyer.BuildEdgeProfile(e);
    for (int d = 0; d < 11; ++d) {
        EXPECT_EQ(keyer.edgeProfile[d], profile[d]) << "e " << e << " d " << d;
        EXPECT_DOUBLE_EQ(keyer.edgeWeights[d], weights[d]) << "e " << e << " d " << d;
    }
}

TEST(EdgeProfile, Tables) {
    ExpectTables(0.0, {0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
                 {0.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0});
    ExpectTables(1.0, {0, 231, 243, 249, 252, 253, 254, 254, 254, 254, 254},
                 {0.0, 0.76, 0.88, 0.94, 0.97, 0.98, 0.99, 0.99, 0.99, 0.99, 0.99});
    ExpectTables(3.0, {0, 184, 219, 237, 246, 250, 252, 253, 254, 254, 254},
                 {0.0, 0.33, 0.64, 0.82, 0.91, 0.95, 0.97, 0.98, 0.99, 0.99, 0.99});
    ExpectTables(10.0, {0, 55, 136, 195, 225, 240, 247, 251, 253, 254, 254},
                 {0.0, 0.33, 0.33, 0.4, 0.7, 0.85, 0.92, 0.96, 0.98, 0.99, 0.99});
}

TEST(EdgeProfile, AnyPositiveEdgeStaysBelow255) {
    for (double e : {0.001, 0.5, 2.2, 5.5, 9.99}) {
        CKeyer keyer;
        keyer.BuildEdgeProfile(e);
        for (int d = 1; d < 11; ++d)
            EXPECT_LE(keyer.edgeProfile[d], 254) << e << " " << d;
        EXPECT_GE(keyer.edgeProfile[1], 55);
    }
}

TEST(EdgeProfile, NegativeEdgeIsClampedToTheByteRange) {
    CKeyer keyer;
    keyer.BuildEdgeProfile(-3.0);
    for (int d = 1; d < 11; ++d)
        EXPECT_EQ(keyer.edgeProfile[d], 255) << d;
}

// --- transparency edge ---

// Matte patterns: '.' = 0, '#' = 255. Edge images: '0'..'9', 'A' = 10.
struct EdgeFixture {
    KeyerFrames frames;
    CKeyer keyer;

    EdgeFixture(int w, int h, double edge) : frames(w, h) {
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.params.transparencyEdge = edge;
        keyer.BuildEdgeProfile(edge);
    }
    void SetMatte(const std::vector<std::string>& rows) {
        for (int y = 0; y < frames.height; ++y)
            for (int x = 0; x < frames.width; ++x)
                frames.Matte(x, y) = rows[y][x] == '#' ? 255 : 0;
    }
    uint8_t& Edge(int x, int y) {
        return keyer.edgeImage->pixels[size_t(y) * keyer.edgeImage->rowStride + x];
    }
    void ExpectEdge(const std::vector<std::string>& rows) {
        for (int y = 0; y < frames.height; ++y) {
            std::string got;
            for (int x = 0; x < frames.width; ++x) {
                const int d = Edge(x, y);
                got += d == 10 ? 'A' : (char)('0' + d);
            }
            EXPECT_EQ(got, rows[y]) << "row " << y;
        }
    }
};

// Sets ORVO_THREADS for the keyer's band jobs and restores it afterwards.
class ScopedThreadCount {
  public:
    explicit ScopedThreadCount(int count) {
        const char* old = std::getenv("ORVO_THREADS");
        hadValue = old != nullptr;
        if (old) previous = old;
        setenv("ORVO_THREADS", std::to_string(count).c_str(), 1);
    }
    ~ScopedThreadCount() {
        if (hadValue)
            setenv("ORVO_THREADS", previous.c_str(), 1);
        else
            unsetenv("ORVO_THREADS");
    }

  private:
    bool hadValue = false;
    std::string previous;
};

TEST(SoftenEdge, RowDistancesFromBothSidesAndMarks) {
    EdgeFixture f(12, 1, 3.0); // depth 3, reach 2
    f.SetMatte({"...#####...."});
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    f.ExpectEdge({"011123211100"});
    const int matte[] = {0, 0, 0, 184, 219, 237, 219, 184, 0, 0, 0, 0};
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(f.frames.Matte(x, 0), matte[x]) << x;
}

TEST(SoftenEdge, DepthZeroMarksWithoutCapping) {
    EdgeFixture f(8, 6, 0.0);
    const std::vector<std::string> pattern = {"........", "........", "...###..",
                                              "...###..", "........", "........"};
    f.SetMatte(pattern);
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    // Row steps mark blocks of reach 2 (rows and columns clipped to the frame:
    // only one column right of the block exists); column steps mark the
    // column itself (only one row below the block is within reach).
    f.ExpectEdge({"01111110", "01111110", "01100010", "01100010", "01111110", "01100010"});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(f.frames.Matte(x, y), pattern[y][x] == '#' ? 255 : 0);
}

TEST(SoftenEdge, LoneOpaquePixelGetsDistanceOne) {
    EdgeFixture f(7, 7, 1.0);
    f.SetMatte({".......", ".......", ".......", "...#...", ".......", ".......", "......."});
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    f.ExpectEdge({"0000000", "0111110", "0111110", "0111110", "0111110", "0111110", "0000000"});
    EXPECT_EQ(f.frames.Matte(3, 3), 231);
    // Each scan alone gives it distance 1 even with a deeper edge.
    EdgeFixture row(7, 1, 3.0);
    row.SetMatte({"...#..."});
    ASSERT_NE(row.keyer.SoftenEdge(), 0);
    EXPECT_EQ(row.Edge(3, 0), 1);
    EXPECT_EQ(row.frames.Matte(3, 0), 184);
    EdgeFixture column(1, 7, 3.0);
    column.SetMatte({".", ".", ".", "#", ".", ".", "."});
    ASSERT_NE(column.keyer.SoftenEdge(), 0);
    EXPECT_EQ(column.Edge(0, 3), 1);
    EXPECT_EQ(column.frames.Matte(0, 3), 184);
}

TEST(SoftenEdge, BoundaryAtTheLastColumnGivesNoDistance) {
    EdgeFixture f(6, 4, 3.0);
    f.SetMatte({".....#", ".....#", ".....#", ".....#"});
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    f.ExpectEdge({"000110", "000110", "000110", "000110"});
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(f.frames.Matte(5, y), 255);
    // One column further in, the walk reaches the boundary column only.
    EdgeFixture g(6, 4, 3.0);
    g.SetMatte({"....##", "....##", "....##", "....##"});
    ASSERT_NE(g.keyer.SoftenEdge(), 0);
    g.ExpectEdge({"001110", "001110", "001110", "001110"});
    EXPECT_EQ(g.frames.Matte(4, 2), 184);
    EXPECT_EQ(g.frames.Matte(5, 2), 255);
}

// Width of the band of marks left of a vertical transparent-to-opaque
// boundary: the reach E.
int MeasuredReach(int w, int h) {
    EdgeFixture f(w, h, 0.0);
    const int boundary = w / 2;
    for (int y = 0; y < h; ++y)
        for (int x = boundary; x < w; ++x)
            f.frames.Matte(x, y) = 255;
    EXPECT_NE(f.keyer.SoftenEdge(), 0);
    int marked = 0;
    for (int x = 0; x < boundary; ++x)
        marked += f.Edge(x, h / 2);
    EXPECT_EQ(f.Edge(boundary - marked, h / 2 - 1), 1);
    EXPECT_EQ(f.Edge(boundary - marked - 1, h / 2 - 1), 0);
    return marked;
}

TEST(SoftenEdge, ReachGrowsWithTheFrame) {
    EXPECT_EQ(MeasuredReach(720, 576), 4);
    EXPECT_EQ(MeasuredReach(500, 431), 2);
    EXPECT_EQ(MeasuredReach(64, 64), 2);
    EXPECT_EQ(MeasuredReach(600, 432), 3);
    EXPECT_EQ(MeasuredReach(1920, 1080), 7);
}

// Blobs and speckles of assorted matte values.
std::vector<uint8_t> MixedMatte(int w, int h) {
    std::vector<uint8_t> m(size_t(w) * h, 0);
    uint32_t seed = 12345;
    auto next = [&]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x - w / 3, dy = y - h / 2;
            const bool blob = dx * dx + dy * dy < 100 || (x > 2 * w / 3 && y > 5 && y < h - 8);
            const bool speck = next() % 9 == 0;
            if (blob != speck) m[size_t(y) * w + x] = (uint8_t)(60 + next() % 196);
        }
    return m;
}

void RunSliced(int threads, double edge, bool crop, std::vector<uint8_t>& matte,
               std::vector<uint8_t>& edges) {
    const int w = 41, h = 37;
    ScopedThreadCount count(threads);
    EdgeFixture f(w, h, edge);
    const std::vector<uint8_t> start = MixedMatte(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.frames.Matte(x, y) = start[size_t(y) * w + x];
    if (crop) {
        f.keyer.cropEnabled = 1;
        SetRect(&f.keyer.cropRect, 5, 4, 33, 30);
    }
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    matte.assign(size_t(w) * h, 0);
    edges.assign(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            matte[size_t(y) * w + x] = f.frames.Matte(x, y);
            edges[size_t(y) * w + x] = f.Edge(x, y);
        }

    // Inside the band the matte is capped by the profile at the recorded
    // distance; outside it stays as it was.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const bool inBand = !crop || (x >= 5 && x < 33 && y >= 4 && y < 30);
            uint8_t expected = start[i];
            if (inBand && start[i] != 0 && edges[i] != 0)
                expected = std::min(f.keyer.edgeProfile[edges[i]], start[i]);
            EXPECT_EQ(matte[i], expected) << x << "," << y;
        }
}

TEST(SoftenEdge, ResultDoesNotDependOnTheSlices) {
    for (double edge : {3.7, 10.0}) {
        for (bool crop : {false, true}) {
            std::vector<uint8_t> matte1, edges1;
            RunSliced(1, edge, crop, matte1, edges1);
            for (int threads : {2, 3, 8}) {
                std::vector<uint8_t> matte, edges;
                RunSliced(threads, edge, crop, matte, edges);
                EXPECT_EQ(matte, matte1) << threads << " slots, edge " << edge;
                EXPECT_EQ(edges, edges1) << threads << " slots, edge " << edge;
            }
            // Something was capped and distances reached the depth.
            EXPECT_NE(std::count(edges1.begin(), edges1.end(), 3), 0);
        }
    }
}

TEST(SoftenEdge, DepthAboveTheTableIsHeldAtTen) {
    EdgeFixture f(30, 1, 25.0);
    f.keyer.BuildEdgeProfile(10.0);
    f.SetMatte({"..##########################.."});
    ASSERT_NE(f.keyer.SoftenEdge(), 0);
    EXPECT_EQ(f.Edge(2, 0), 1);
    EXPECT_EQ(f.Edge(11, 0), 10);
    EXPECT_EQ(f.Edge(12, 0), 0);
    EXPECT_EQ(f.Edge(18, 0), 10);
    EXPECT_EQ(f.frames.Matte(11, 0), 254);
    EXPECT_EQ(f.frames.Matte(12, 0), 255);
    EXPECT_EQ(f.frames.Matte(2, 0), 55);
}

} // namespace
