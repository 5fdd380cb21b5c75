// Band jobs: area set-up, band and tile splits, thread limits, slot use and
// totals merged under the job's lock.
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bands/bandjob.h"

namespace {

SIZE Size(int32_t cx, int32_t cy) {
    SIZE size;
    size.cx = cx;
    size.cy = cy;
    return size;
}

RECT Rect(int32_t l, int32_t t, int32_t r, int32_t b) {
    RECT rect;
    rect.left = l;
    rect.top = t;
    rect.right = r;
    rect.bottom = b;
    return rect;
}

// What the workers saw: a count per image pixel (workers write disjoint
// pixels), which threads ran them, and the order of the slices on the caller.
struct Coverage {
    Coverage(int32_t w, int32_t h) : width(w), height(h), hits((size_t)(w * h), 0) {}
    int32_t width;
    int32_t height;
    std::vector<uint8_t> hits;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> onCaller{0};
    std::atomic<int> elsewhere{0};
    std::atomic<int> notReady{0};
    std::vector<int32_t> callerOrder; // x of each slice run on the caller

    void Note() {
        if (std::this_thread::get_id() == caller)
            ++onCaller;
        else
            ++elsewhere;
    }
    void Mark(int32_t x0, int32_t y0, int32_t w, int32_t h) {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x)
                ++hits[(size_t)(y * width + x)];
    }
    // 1 inside the inclusive rectangle, 0 outside, for every pixel.
    bool ExactlyOnce(int32_t l, int32_t t, int32_t r, int32_t b) const {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                int expected = (x >= l && x <= r && y >= t && y <= b) ? 1 : 0;
                if (hits[(size_t)(y * width + x)] != expected) return false;
            }
        return true;
    }
};

int MarkBand(CJobSlice* slice) {
    Coverage* cover = static_cast<Coverage*>(slice->context);
    if (!slice->ready) {
        ++cover->notReady;
        return 0;
    }
    cover->Note();
    if (std::this_thread::get_id() == cover->caller) cover->callerOrder.push_back(slice->x);
    cover->Mark(slice->x, slice->y, slice->width, slice->rows);
    return 1;
}

// Walks tilesY rows of tilesX tiles, the border tiles clipped.
int MarkTiles(CJobSlice* slice) {
    Coverage* cover = static_cast<Coverage*>(slice->context);
    if (!slice->ready) return 0;
    cover->Note();
    if (std::this_thread::get_id() == cover->caller) cover->callerOrder.push_back(slice->x);
    int32_t y = slice->y;
    for (int ty = 0; ty < slice->tilesY; ++ty) {
        int32_t h = ty == 0 ? slice->firstTileHeight
                            : (ty == slice->tilesY - 1 ? slice->lastTileHeight : slice->rows);
        int32_t x = slice->x;
        for (int tx = 0; tx < slice->tilesX; ++tx) {
            int32_t w = tx == 0 ? slice->firstTileWidth
                                : (tx == slice->tilesX - 1 ? slice->lastTileWidth : slice->width);
            cover->Mark(x, y, w, h);
            x += w;
        }
        y += h;
    }
    return 1;
}

bool AllSlotsFree(const CBandJob& job) {
    for (uint16_t i = 0; i < job.threadSlots; ++i)
        if (job.threads[i].load() != nullptr) return false;
    return true;
}

// ------------------------------------------------------------------- SetArea

TEST(AreaJob, SetAreaNormalisesTheCallersRectangle) {
    CRowBandJob job(1);
    SIZE size = Size(100, 100);
    RECT rect = Rect(50, 40, 10, 20);
    job.SetArea(&size, &rect);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 50);
    EXPECT_EQ(rect.bottom, 40);
    EXPECT_EQ(job.left, 10);
    EXPECT_EQ(job.top, 20);
    EXPECT_EQ(job.right, 50);
    EXPECT_EQ(job.bottom, 40);
}

TEST(AreaJob, SetAreaClipsToTheImage) {
    CRowBandJob job(1);
    SIZE size = Size(100, 80);
    RECT rect = Rect(-5, -3, 200, 150);
    job.SetArea(&size, &rect);
    EXPECT_EQ(job.imageWidth, 100);
    EXPECT_EQ(job.imageHeight, 80);
    EXPECT_EQ(job.left, 0);
    EXPECT_EQ(job.top, 0);
    EXPECT_EQ(job.right, 99);
    EXPECT_EQ(job.bottom, 79);
    // Only normalised, not clipped, in the caller's copy.
    EXPECT_EQ(rect.left, -5);
    EXPECT_EQ(rect.right, 200);
}

TEST(AreaJob, SetAreaWithoutSizeChangesNothing) {
    CRowBandJob job(1);
    EXPECT_EQ(job.imageWidth, 1);
    EXPECT_EQ(job.right, 1);
    EXPECT_EQ(job.bottom, 1);
    RECT rect = Rect(3, 4, 5, 6);
    job.SetArea(nullptr, &rect);
    SIZE noWidth = Size(0, 10);
    job.SetArea(&noWidth, &rect);
    EXPECT_EQ(job.imageWidth, 1);
    EXPECT_EQ(job.imageHeight, 1);
    EXPECT_EQ(job.left, 0);
    EXPECT_EQ(job.right, 1);

    SIZE size = Size(64, 48);
    job.SetArea(&size, nullptr);
    EXPECT_EQ(job.left, 0);
    EXPECT_EQ(job.top, 0);
    EXPECT_EQ(job.right, 63);
    EXPECT_EQ(job.bottom, 47);
}

TEST(AreaJob, AreaGeometry) {
    CRowBandJob job(2);
    SIZE size = Size(100, 100);
    RECT rect = Rect(10, 20, 50, 41);
    job.SetArea(&size, &rect);
    Coverage cover(100, 100);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.areaWidth, 41);
    EXPECT_EQ(job.areaHeight, 22);
    EXPECT_EQ(job.areaPixels, 41 * 22);
    EXPECT_EQ(job.centreX, 30);
    EXPECT_EQ(job.centreY, 30);
    EXPECT_EQ(job.prepared, 0u); // cleared by OnEnd
    EXPECT_TRUE(cover.ExactlyOnce(10, 20, 50, 41));
}

TEST(AreaJob, AreaOutsideTheImageProcessesNothing) {
    CRowBandJob job(2);
    SIZE size = Size(20, 20);
    RECT rect = Rect(30, 5, 40, 10); // clipped to right 19 < left 30
    job.SetArea(&size, &rect);
    Coverage cover(20, 20);
    job.SetProcedure(MarkBand, &cover);
    EXPECT_EQ(job.Run(1), 1);
    EXPECT_GT(cover.notReady.load(), 0);
    EXPECT_EQ(cover.onCaller.load() + cover.elsewhere.load(), 0);
    EXPECT_TRUE(cover.ExactlyOnce(1, 1, 0, 0));
}

// ------------------------------------------------------------------ row bands

struct BandExpect {
    int32_t y, rows, top, bottom;
};

void CheckBands(int innerMarginsOnly, const BandExpect (&expect)[4]) {
    CRowBandJob job(4);
    job.innerMarginsOnly = (uint32_t)innerMarginsOnly;
    SIZE size = Size(30, 12);
    RECT rect = Rect(5, 0, 24, 9); // 10 rows from row 0
    job.SetArea(&size, &rect);
    Coverage cover(30, 12);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.bandRows, 2);
    EXPECT_EQ(job.bandRowsPlusOne, 3);
    EXPECT_EQ(job.bandRemainder, 2);
    ASSERT_EQ(job.sliceCount, 4);
    for (int i = 0; i < 4; ++i) {
        const CJobSlice* slice = job.slices[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(slice->ready, 1u);
        EXPECT_EQ(slice->x, 5);
        EXPECT_EQ(slice->width, 20);
        EXPECT_EQ(slice->y, expect[i].y);
        EXPECT_EQ(slice->rows, expect[i].rows);
        EXPECT_EQ(slice->topMargin, expect[i].top);
        EXPECT_EQ(slice->bottomMargin, expect[i].bottom);
        EXPECT_EQ(slice->leftMargin, innerMarginsOnly ? 0 : 5);
        EXPECT_EQ(slice->rightMargin, innerMarginsOnly ? 0 : 5);
        EXPECT_EQ(slice->tilesX, 1);
        EXPECT_EQ(slice->tilesY, 1);
    }
    EXPECT_TRUE(cover.ExactlyOnce(5, 0, 24, 9));
    EXPECT_EQ(cover.elsewhere.load(), 4);
    EXPECT_TRUE(AllSlotsFree(job));
}

TEST(RowBandJob, TenRowsOnFourSlotsWithImageMargins) {
    // Margins are the distances to the image edges (image 12 rows high).
    CheckBands(0, {{0, 3, 0, 9}, {3, 3, 3, 6}, {6, 2, 6, 4}, {8, 2, 8, 2}});
}

TEST(RowBandJob, TenRowsOnFourSlotsWithInnerMarginsOnly) {
    CheckBands(1, {{0, 3, 0, 9}, {3, 3, 3, 6}, {6, 2, 6, 4}, {8, 2, 8, 0}});
}

TEST(RowBandJob, ThreeRowsLimitEightSlotsToThree) {
    CRowBandJob job(8);
    SIZE size = Size(16, 3);
    job.SetArea(&size, nullptr);
    Coverage cover(16, 3);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.threadSlots, 3);
    ASSERT_EQ(job.sliceCount, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(job.slices[i]->y, i);
        EXPECT_EQ(job.slices[i]->rows, 1);
    }
    EXPECT_EQ(cover.elsewhere.load(), 3);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 15, 2));
}

TEST(KernelBandJob, KernelSevenOnTwentyRowsGivesTwoBands) {
    CKernelBandJob job(8);
    job.kernelWidth = 7;
    job.kernelHeight = 7;
    SIZE size = Size(10, 20);
    job.SetArea(&size, nullptr);
    Coverage cover(10, 20);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.threadSlots, 2);
    ASSERT_EQ(job.sliceCount, 2);
    EXPECT_EQ(job.slices[0]->rows, 10);
    EXPECT_EQ(job.slices[1]->y, 10);
    EXPECT_EQ(job.slices[1]->rows, 10);
    EXPECT_EQ(cover.elsewhere.load(), 2);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 9, 19));
}

TEST(KernelBandJob, KernelSevenOnFiveRowsRunsOnTheCaller) {
    CKernelBandJob job(8);
    job.kernelWidth = 7;
    job.kernelHeight = 7;
    SIZE size = Size(10, 5);
    job.SetArea(&size, nullptr);
    Coverage cover(10, 5);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.threadSlots, 1);
    ASSERT_EQ(job.sliceCount, 1);
    EXPECT_EQ(job.slices[0]->rows, 5);
    EXPECT_EQ(cover.onCaller.load(), 1);
    EXPECT_EQ(cover.elsewhere.load(), 0);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 9, 4));
}

TEST(KernelBandJob, KernelHeightZeroCountsAsOne) {
    CKernelBandJob job(4);
    SIZE size = Size(4, 3);
    job.SetArea(&size, nullptr);
    EXPECT_EQ(job.GetThreadLimit(), 3);
}

// ---------------------------------------------------------------------- tiles

TEST(TileJob, GridOfThirtyOnHundredWithFourSlots) {
    CTileJob job(4);
    job.tileWidth = 30;
    job.tileHeight = 30;
    SIZE size = Size(100, 100);
    job.SetArea(&size, nullptr);
    Coverage cover(100, 100);
    job.SetProcedure(MarkTiles, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.tileColumns, 5);
    EXPECT_EQ(job.tileRows, 5);
    EXPECT_EQ(job.tileCount, 25);
    EXPECT_EQ(job.groupMode, 0u);
    ASSERT_EQ(job.sliceCount, 25);
    const int32_t xs[5] = {0, 4, 34, 64, 94};
    const int32_t ws[5] = {4, 30, 30, 30, 6};
    for (int i = 0; i < 25; ++i) {
        const CJobSlice* slice = job.slices[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(slice->x, xs[i % 5]);
        EXPECT_EQ(slice->y, xs[i / 5]);
        EXPECT_EQ(slice->width, ws[i % 5]);
        EXPECT_EQ(slice->rows, ws[i / 5]);
        EXPECT_EQ(slice->firstTileWidth, ws[i % 5]);
        EXPECT_EQ(slice->firstTileHeight, ws[i / 5]);
        EXPECT_EQ(slice->tilesX, 1);
        EXPECT_EQ(slice->tilesY, 1);
    }
    EXPECT_EQ(cover.elsewhere.load(), 25);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 99));
    EXPECT_TRUE(AllSlotsFree(job));
}

TEST(TileJob, GridOfThirtyOnHundredWithTwoSlotsGroupsTileRows) {
    CTileJob job(2);
    job.tileWidth = 30;
    job.tileHeight = 30;
    SIZE size = Size(100, 100);
    job.SetArea(&size, nullptr);
    Coverage cover(100, 100);
    job.SetProcedure(MarkTiles, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.groupMode, 1u);
    EXPECT_EQ(job.groupColumns, 5);
    EXPECT_EQ(job.groupRows, 2);
    EXPECT_EQ(job.groupRemainder, 1);
    ASSERT_EQ(job.sliceCount, 2);
    const CJobSlice* first = job.slices[0];
    const CJobSlice* second = job.slices[1];
    EXPECT_EQ(first->x, 0);
    EXPECT_EQ(first->y, 0);
    EXPECT_EQ(first->tilesX, 5);
    EXPECT_EQ(first->tilesY, 3);
    EXPECT_EQ(first->width, 30);
    EXPECT_EQ(first->rows, 30);
    EXPECT_EQ(first->firstTileWidth, 4);
    EXPECT_EQ(first->lastTileWidth, 6);
    EXPECT_EQ(first->firstTileHeight, 4);
    EXPECT_EQ(first->lastTileHeight, 30);
    EXPECT_EQ(second->x, 0);
    EXPECT_EQ(second->y, 64);
    EXPECT_EQ(second->tilesY, 2);
    EXPECT_EQ(second->firstTileHeight, 30);
    EXPECT_EQ(second->lastTileHeight, 6);
    EXPECT_EQ(second->lastTileWidth, 6);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 99));
}

TEST(TileJob, SecondRunWithOtherTileSizeRecomputesTheGrid) {
    CTileJob job(4);
    job.tileWidth = 30;
    job.tileHeight = 30;
    SIZE size = Size(100, 100);
    RECT rect = Rect(0, 0, 99, 99);
    job.SetArea(&size, &rect);
    Coverage firstCover(100, 100);
    job.SetProcedure(MarkTiles, &firstCover);
    ASSERT_EQ(job.Run(1), 1);
    ASSERT_EQ(job.sliceCount, 25);
    EXPECT_TRUE(AllSlotsFree(job));

    job.tileWidth = 50;
    job.tileHeight = 50;
    Coverage cover(100, 100);
    job.SetProcedure(MarkTiles, &cover);
    ASSERT_EQ(job.Run(1), 1);
    // 100 / 50 = 2, made odd: 3 tiles from 49 - 50 - 25 = -26.
    EXPECT_EQ(job.tileColumns, 3);
    EXPECT_EQ(job.tileRows, 3);
    ASSERT_EQ(job.sliceCount, 9);
    const int32_t xs[3] = {0, 24, 74};
    const int32_t ws[3] = {24, 50, 26};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(job.slices[i]->x, xs[i % 3]);
        EXPECT_EQ(job.slices[i]->width, ws[i % 3]);
        EXPECT_EQ(job.slices[i]->rows, ws[i / 3]);
    }
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 99));
    EXPECT_TRUE(AllSlotsFree(job));
}

TEST(TileJob, OneSlotRunsEverySliceInTurnOnTheCaller) {
    CTileJob job(1);
    job.tileWidth = 30;
    job.tileHeight = 30;
    SIZE size = Size(100, 20); // one tile row: one slice per tile
    job.SetArea(&size, nullptr);
    Coverage cover(100, 20);
    job.SetProcedure(MarkTiles, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.groupMode, 0u);
    EXPECT_EQ(job.sliceCount, 5);
    EXPECT_EQ(cover.onCaller.load(), 5);
    EXPECT_EQ(cover.elsewhere.load(), 0);
    EXPECT_EQ(cover.callerOrder, (std::vector<int32_t>{0, 4, 34, 64, 94}));
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 19));
}

TEST(TileJob, TileLargerThanTheAreaIsOneTileAtTheAreaCorner) {
    CTileJob job(2);
    job.tileWidth = 64;
    job.tileHeight = 64;
    SIZE size = Size(100, 100);
    RECT rect = Rect(10, 20, 40, 50);
    job.SetArea(&size, &rect);
    Coverage cover(100, 100);
    job.SetProcedure(MarkTiles, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.tileCount, 1);
    ASSERT_EQ(job.sliceCount, 1);
    EXPECT_EQ(job.slices[0]->x, 10);
    EXPECT_EQ(job.slices[0]->width, 31);
    EXPECT_TRUE(cover.ExactlyOnce(10, 20, 40, 50));
}

TEST(TileJob, TileLimitAndMissingTileSize) {
    CTileJob job(8);
    SIZE size = Size(100, 100);
    job.SetArea(&size, nullptr);
    job.tileWidth = 30;
    job.tileHeight = 30;
    EXPECT_EQ(job.GetThreadLimit(), 25); // (100/30 + 2) squared
    job.tileWidth = 0;
    Coverage cover(100, 100);
    job.SetProcedure(MarkTiles, &cover);
    EXPECT_EQ(job.Run(1), 0);
    EXPECT_TRUE(cover.ExactlyOnce(1, 1, 0, 0));
}

// ------------------------------------------------------------- slots and runs

TEST(BandJob, SlotCountDefaultsAndBounds) {
    CBandJob fixed(3);
    EXPECT_EQ(fixed.threadSlots, 3);
    EXPECT_EQ(fixed.startingSlice.load(), 1);
    EXPECT_NE(fixed.mutex, nullptr);
    CBandJob many(200); // one wait covers at most 64 threads
    EXPECT_EQ(many.threadSlots, 64);
    CBandJob perProcessor(0);
    EXPECT_GE(perProcessor.threadSlots, 1);
}

TEST(BandJob, RunWithoutWorkerFails) {
    CRowBandJob job(2);
    SIZE size = Size(4, 4);
    job.SetArea(&size, nullptr);
    EXPECT_EQ(job.Run(1), 0);
}

TEST(BandJob, NewSliceDefaults) {
    CBandJob job(1);
    CJobSlice* slice = job.CreateSlice();
    EXPECT_EQ(slice->context, nullptr);
    EXPECT_EQ(slice->width, 0);
    EXPECT_EQ(slice->rows, 0);
    EXPECT_EQ(slice->tilesX, 1);
    EXPECT_EQ(slice->tilesY, 1);
    EXPECT_EQ(slice->ready, 0u);
    EXPECT_EQ(slice->mutexRef, &job.mutex);
    delete slice;
}

struct Totals {
    const uint32_t* values;
    int32_t stride;
    uint64_t sum = 0;
    uint32_t merges = 0;
};

int SumBand(CJobSlice* slice) {
    if (!slice->ready) return 0;
    Totals* totals = static_cast<Totals*>(slice->context);
    uint64_t sum = 0;
    for (int32_t y = slice->y; y < slice->y + slice->rows; ++y)
        for (int32_t x = slice->x; x < slice->x + slice->width; ++x)
            sum += totals->values[y * totals->stride + x];
    if (!slice->Lock()) return 0;
    totals->sum += sum;
    ++totals->merges;
    return slice->Unlock() ? 1 : 0;
}

TEST(BandJob, TotalsMergedUnderTheLockAreExact) {
    const int32_t w = 67, h = 53;
    std::vector<uint32_t> values((size_t)(w * h));
    uint32_t seed = 12345;
    for (uint32_t& v : values) {
        seed = seed * 1664525u + 1013904223u;
        v = seed >> 8; // large values: the total needs more than 32 bits
    }
    uint64_t expected = 0;
    for (int32_t y = 4; y <= 50; ++y)
        for (int32_t x = 3; x <= 60; ++x)
            expected += values[(size_t)(y * w + x)];
    for (uint16_t slots = 1; slots <= 8; ++slots) {
        CRowBandJob job(slots);
        SIZE size = Size(w, h);
        RECT rect = Rect(3, 4, 60, 50);
        job.SetArea(&size, &rect);
        for (int run = 0; run < 12; ++run) {
            Totals totals;
            totals.values = values.data();
            totals.stride = w;
            job.SetProcedure(SumBand, &totals);
            ASSERT_EQ(job.Run(1), 1);
            EXPECT_EQ(totals.sum, expected) << slots << " slots, run " << run;
            EXPECT_EQ(totals.merges, slots);
            EXPECT_TRUE(AllSlotsFree(job));
        }
    }
}

struct Abandon {
    std::atomic<int> first{0};
};

int LockAndLeave(CJobSlice* slice) {
    Abandon* state = static_cast<Abandon*>(slice->context);
    if (state->first.fetch_add(1) == 0) return slice->Lock(); // never unlocked
    return 1;
}

TEST(BandJob, LockReportsAndReleasesAnAbandonedMutex) {
    CBandJob job(2);
    Abandon state;
    job.SetProcedure(LockAndLeave, &state);
    ASSERT_EQ(job.Run(1), 1);
    ASSERT_EQ(job.sliceCount, 2);
    EXPECT_EQ(state.first.load(), 2);
    // The thread ended holding the mutex: the next Lock gets it abandoned,
    // gives it back and fails; after that it is acquired normally.
    EXPECT_EQ(job.slices[0]->Lock(), 0);
    EXPECT_EQ(job.slices[0]->Lock(), 1);
    EXPECT_NE(job.slices[0]->Unlock(), 0);
    EXPECT_EQ(job.slices[0]->Unlock(), 0); // not held any more
}

TEST(BandJob, BaseSlicesAreNeverReady) {
    CBandJob job(3);
    Coverage cover(1, 1);
    job.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(job.Run(1), 1);
    EXPECT_EQ(cover.notReady.load(), 3);
}

TEST(BandJob, RunWithoutWaitingEndsItsThreadsBeforeTheNextRun) {
    Coverage cover(40, 40);
    {
        CRowBandJob job(4);
        SIZE size = Size(40, 40);
        RECT top = Rect(0, 0, 39, 19);
        job.SetArea(&size, &top);
        job.SetProcedure(MarkBand, &cover);
        ASSERT_EQ(job.Run(0), 1);
        RECT bottom = Rect(0, 20, 39, 39);
        job.SetArea(&size, &bottom);
        ASSERT_EQ(job.Run(0), 1); // replaces the slices the first run used
    }                             // the destructor waits for the second run's threads
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 39, 39));
    EXPECT_EQ(cover.elsewhere.load(), 8);
}

} // namespace
