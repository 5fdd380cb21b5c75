// Band jobs: every pixel of the area exactly once for every kind of job, area
// shape and slot count, with a count merged under the job's lock; the band
// and tile splits worked out by hand; jobs in a forked child.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "bands/bandjob.h"

namespace {

// Values compared as one list, so a mismatch shows them all.
template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
}

// What the workers saw: a count per image pixel (workers write disjoint
// pixels) and how many slices ran on the caller, elsewhere, or were not ready.
struct Coverage {
    Coverage(int32_t w, int32_t h) : width(w), height(h), hits((size_t)(w * h), 0) {}
    int32_t width, height;
    std::vector<uint8_t> hits;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> onCaller{0}, elsewhere{0}, notReady{0};
    int merged = 0; // counted under the job's lock

    bool Note(const CJobSlice* slice) {
        if (!slice->ready) return ++notReady, false;
        ++(std::this_thread::get_id() == caller ? onCaller : elsewhere);
        return true;
    }
    void Mark(int32_t x0, int32_t y0, int32_t w, int32_t h) {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x)
                ++hits[(size_t)(y * width + x)];
    }
    // 1 inside the inclusive rectangle, 0 outside, for every pixel.
    bool ExactlyOnce(int32_t l, int32_t t, int32_t r, int32_t b) const {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (hits[(size_t)(y * width + x)] != (x >= l && x <= r && y >= t && y <= b))
                    return false;
        return true;
    }
};

int MarkBand(CJobSlice* slice) {
    Coverage* cover = static_cast<Coverage*>(slice->context);
    if (!cover->Note(slice)) return 0;
    cover->Mark(slice->x, slice->y, slice->width, slice->rows);
    if (!slice->Lock()) return 0;
    ++cover->merged;
    return slice->Unlock() ? 1 : 0;
}

// Walks tilesY rows of tilesX tiles, the border tiles clipped.
int MarkTiles(CJobSlice* slice) {
    Coverage* cover = static_cast<Coverage*>(slice->context);
    if (!cover->Note(slice) || !slice->Lock()) return 0;
    ++cover->merged;
    slice->Unlock();
    for (int ty = 0, y = slice->y, h = 0; ty < slice->tilesY; ++ty, y += h) {
        h = ty == 0 ? slice->firstTileHeight
                    : (ty == slice->tilesY - 1 ? slice->lastTileHeight : slice->rows);
        for (int tx = 0, x = slice->x, w = 0; tx < slice->tilesX; ++tx, x += w) {
            w = tx == 0 ? slice->firstTileWidth
                        : (tx == slice->tilesX - 1 ? slice->lastTileWidth : slice->width);
            cover->Mark(x, y, w, h);
        }
    }
    return 1;
}

bool AllSlotsFree(const CBandJob& job) {
    for (uint16_t i = 0; i < job.threadSlots; ++i)
        if (job.threads[i].load() != nullptr) return false;
    return true;
}

// Sets the area (rect null: the whole image) and runs `worker` over `cover`.
int RunOver(CAreaJob& job, Coverage& cover, RECT* rect = nullptr,
            WorkerProcedure worker = MarkBand) {
    SIZE size{cover.width, cover.height};
    job.SetArea(&size, rect);
    job.SetProcedure(worker, &cover);
    return job.Run(1);
}

} // namespace

// Row bands, kernel bands and tiles of several sizes over whole images,
// inner areas, reversed and overhanging rectangles and areas of fewer rows
// than slots: each pixel of the clipped area once, every slice counted under
// the job's lock, no slot left busy.
TEST(BandJob, EveryPixelOfTheAreaExactlyOnce) {
    const struct {
        int32_t w, h;
        bool whole;
        RECT rect, area; // area: the clipped, inclusive rectangle
    } shapes[] = {
        {100, 80, true, {}, {0, 0, 99, 79}},
        {100, 80, false, {50, 40, 10, 20}, {10, 20, 50, 40}},
        {100, 80, false, {-5, -3, 200, 150}, {0, 0, 99, 79}},
        {30, 12, false, {5, 0, 24, 9}, {5, 0, 24, 9}},
        {16, 3, true, {}, {0, 0, 15, 2}},
        {37, 29, false, {2, 1, 35, 26}, {2, 1, 35, 26}},
        {1, 1, true, {}, {0, 0, 0, 0}},
        {20, 20, false, {30, 5, 40, 10}, {1, 1, 0, 0}},
    };
    const int tiles[] = {0, -1, 1, 7, 30, 64}; // 0: row bands; -1: kernel bands of 7
    for (const auto& s : shapes)
        for (int tile : tiles)
            for (uint16_t slots : {1, 2, 3, 4, 8}) {
                SCOPED_TRACE(testing::Message()
                             << s.w << "x" << s.h << " rect " << s.rect.left << "," << s.rect.top
                             << " tile " << tile << ", " << slots << " slots");
                CRowBandJob rows(slots);
                CKernelBandJob kernel(slots);
                CTileJob tileJob(slots);
                kernel.kernelWidth = kernel.kernelHeight = 7;
                tileJob.tileWidth = tileJob.tileHeight = tile;
                CAreaJob& job = tile == 0    ? (CAreaJob&)rows
                                : tile == -1 ? (CAreaJob&)kernel
                                             : tileJob;
                Coverage cover(s.w, s.h);
                RECT rect = s.rect;
                ASSERT_EQ(
                    RunOver(job, cover, s.whole ? nullptr : &rect, tile > 0 ? MarkTiles : MarkBand),
                    1);
                EXPECT_TRUE(
                    cover.ExactlyOnce(s.area.left, s.area.top, s.area.right, s.area.bottom));
                EXPECT_EQ(cover.merged, cover.onCaller + cover.elsewhere);
                EXPECT_TRUE(AllSlotsFree(job));
                EXPECT_EQ(job.prepared, 0u);
            }
}

// 10 rows on 4 slots: 3, 3, 2, 2 rows at 0, 3, 6, 8. Margins are the
// distances to the image edges (image 12 rows high), or to the area's.
TEST(BandJob, RowBandsAndTheirMarginsByHand) {
    const int32_t ys[4] = {0, 3, 6, 8}, rows[4] = {3, 3, 2, 2};
    const int32_t bottoms[2][4] = {{9, 6, 4, 2}, {9, 6, 4, 0}};
    for (int inner = 0; inner <= 1; ++inner) {
        CRowBandJob job(4);
        job.innerMarginsOnly = (uint32_t)inner;
        Coverage cover(30, 12);
        RECT rect{5, 0, 24, 9};
        ASSERT_EQ(RunOver(job, cover, &rect), 1);
        EXPECT_EQ(L(job.areaWidth, job.areaHeight, job.centreX, job.sliceCount), L(20, 10, 14, 4));
        for (int i = 0; i < 4; ++i) {
            const CJobSlice* s = job.slices[i];
            EXPECT_EQ(
                L(s->x, s->width, s->y, s->rows, s->topMargin, s->bottomMargin, s->leftMargin,
                  s->rightMargin),
                L(5, 20, ys[i], rows[i], ys[i], bottoms[inner][i], inner ? 0 : 5, inner ? 0 : 5))
                << "slice " << i << " inner " << inner;
        }
        EXPECT_EQ(cover.elsewhere.load(), 4);
    }
    // A row band per row at most; a kernel band at least as high as the
    // kernel; one slot runs on the caller.
    CRowBandJob three(8);
    Coverage flat(16, 3);
    ASSERT_EQ(RunOver(three, flat), 1);
    EXPECT_EQ(L(three.threadSlots, three.sliceCount, flat.elsewhere.load()), L(3, 3, 3));
    for (int32_t height : {20, 5}) {
        CKernelBandJob kernel(8);
        kernel.kernelWidth = kernel.kernelHeight = 7;
        Coverage area(10, height);
        ASSERT_EQ(RunOver(kernel, area), 1);
        const int bands = height == 20 ? 2 : 1;
        EXPECT_EQ(L(kernel.sliceCount, kernel.slices[bands - 1]->y, area.onCaller.load()),
                  L(bands, (bands - 1) * 10, bands == 1 ? 1 : 0));
    }
}

// 30 x 30 tiles on 100 x 100: 5 columns (an odd count) centred, so tiles
// start at 0, 4, 34, 64, 94 and are 4, 30, 30, 30, 6 wide.
TEST(BandJob, TileGridByHand) {
    CTileJob job(4);
    Coverage cover(100, 100);
    job.tileWidth = job.tileHeight = 30;
    ASSERT_EQ(RunOver(job, cover, nullptr, MarkTiles), 1);
    EXPECT_EQ(L(job.tileColumns, job.tileRows, job.sliceCount, job.GetThreadLimit()),
              L(5, 5, 25, 25));
    job.tileWidth = job.tileHeight = 1; // (100 / 1 + 2) squared slots at most
    EXPECT_EQ(job.GetThreadLimit(), uint16_t(102 * 102));
    const int32_t xs[5] = {0, 4, 34, 64, 94}, ws[5] = {4, 30, 30, 30, 6};
    for (int i = 0; i < 25; ++i) {
        const CJobSlice* s = job.slices[i];
        EXPECT_EQ(L(s->x, s->y, s->width, s->rows, s->firstTileWidth, s->firstTileHeight),
                  L(xs[i % 5], xs[i / 5], ws[i % 5], ws[i / 5], ws[i % 5], ws[i / 5]))
            << "slice " << i;
    }
}

#if !defined(_WIN32) && !defined(__SANITIZE_THREAD__)
// A child process made by fork has none of the parent's kept threads: its
// jobs start threads of their own (an alarm ends it if they hang).
TEST(BandJob, ForkedChildRunsJobsAfterTheParentKeptThreads) {
    Coverage before(16, 8);
    CRowBandJob parent(2);
    ASSERT_EQ(RunOver(parent, before), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        Coverage cover(16, 8);
        CRowBandJob job(2);
        _exit(RunOver(job, cover) == 1 && cover.ExactlyOnce(0, 0, 15, 7) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

// Every byte zero, for blocks of whole and part pieces, on any slot count.
TEST(BandJob, ClearBytesInBandsClearsEveryByte) {
    for (size_t bytes : {size_t(1), kClearPiece - 1, kClearPiece, 3 * kClearPiece + 17})
        for (uint16_t slots : {1, 2, 3, 8}) {
            std::vector<uint8_t> block(bytes + 1, 0xA5);
            ClearBytesInBands(block.data(), bytes, slots);
            EXPECT_EQ(std::count(block.begin(), block.end(), 0), std::ptrdiff_t(bytes))
                << bytes << " bytes, " << slots << " slots";
            EXPECT_EQ(block.back(), 0xA5); // nothing past the end
        }
}
