// Band jobs: area set-up, band and tile splits, thread limits, slot use and
// totals merged under the job's lock.
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
// pixels), which threads ran them, and the order of the slices on the caller.
struct Coverage {
    Coverage(int32_t w, int32_t h) : width(w), height(h), hits((size_t)(w * h), 0) {}
    int32_t width, height;
    std::vector<uint8_t> hits;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> onCaller{0}, elsewhere{0}, notReady{0};
    std::vector<int32_t> callerOrder; // x of each slice run on the caller

    // Counts the slice's thread; false for a slice that is not ready.
    bool Note(const CJobSlice* slice) {
        if (!slice->ready) return ++notReady, false;
        if (std::this_thread::get_id() != caller) return ++elsewhere, true;
        ++onCaller;
        callerOrder.push_back(slice->x);
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
    return 1;
}

// Walks tilesY rows of tilesX tiles, the border tiles clipped.
int MarkTiles(CJobSlice* slice) {
    Coverage* cover = static_cast<Coverage*>(slice->context);
    if (!cover->Note(slice)) return 0;
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

// A tile job of the given tile size and slot count over `cover`.
int RunTiles(CTileJob& job, int32_t tile, Coverage& cover, RECT* rect = nullptr) {
    job.tileWidth = job.tileHeight = tile;
    return RunOver(job, cover, rect, MarkTiles);
}

} // namespace

TEST(AreaJob, SetAreaNormalisesAndClips) {
    CRowBandJob job(1);
    SIZE size{100, 80};
    RECT rect{50, 40, 10, 20};
    job.SetArea(&size, &rect);
    EXPECT_EQ(L(rect.left, rect.top, rect.right, rect.bottom), L(10, 20, 50, 40));
    EXPECT_EQ(L(job.left, job.top, job.right, job.bottom), L(10, 20, 50, 40));
    rect = {-5, -3, 200, 150};
    job.SetArea(&size, &rect);
    EXPECT_EQ(L(job.imageWidth, job.imageHeight, job.left, job.top, job.right, job.bottom),
              L(100, 80, 0, 0, 99, 79));
    EXPECT_EQ(L(rect.left, rect.right), L(-5, 200)); // the caller's copy is not clipped
}

TEST(AreaJob, SetAreaWithoutSizeChangesNothing) {
    CRowBandJob job(1);
    RECT rect{3, 4, 5, 6};
    SIZE noWidth{0, 10}, size{64, 48};
    job.SetArea(nullptr, &rect);
    job.SetArea(&noWidth, &rect);
    EXPECT_EQ(L(job.imageWidth, job.imageHeight, job.left, job.right, job.bottom),
              L(1, 1, 0, 1, 1));
    job.SetArea(&size, nullptr);
    EXPECT_EQ(L(job.left, job.top, job.right, job.bottom), L(0, 0, 63, 47));
}

TEST(AreaJob, AreaGeometryAndAreaOutsideTheImage) {
    CRowBandJob job(2);
    Coverage cover(100, 100);
    RECT rect{10, 20, 50, 41};
    ASSERT_EQ(RunOver(job, cover, &rect), 1);
    EXPECT_EQ(L(job.areaWidth, job.areaHeight, job.areaPixels, job.centreX, job.centreY),
              L(41, 22, 41 * 22, 30, 30));
    EXPECT_EQ(job.prepared, 0u); // cleared by OnEnd
    EXPECT_TRUE(cover.ExactlyOnce(10, 20, 50, 41));

    CRowBandJob outside(2);
    Coverage none(20, 20);
    rect = {30, 5, 40, 10}; // clipped to right 19 < left 30
    EXPECT_EQ(RunOver(outside, none, &rect), 1);
    EXPECT_GT(none.notReady.load(), 0);
    EXPECT_EQ(none.onCaller.load() + none.elsewhere.load(), 0);
    EXPECT_TRUE(none.ExactlyOnce(1, 1, 0, 0));
}

// 10 rows on 4 slots: 3, 3, 2, 2 rows at 0, 3, 6, 8. Margins are the
// distances to the image edges (image 12 rows high), or to the area's.
TEST(RowBandJob, TenRowsOnFourSlots) {
    const int32_t ys[4] = {0, 3, 6, 8}, rows[4] = {3, 3, 2, 2}, tops[4] = {0, 3, 6, 8};
    const int32_t bottoms[2][4] = {{9, 6, 4, 2}, {9, 6, 4, 0}};
    for (int inner = 0; inner <= 1; ++inner) {
        SCOPED_TRACE(inner ? "inner margins only" : "image margins");
        CRowBandJob job(4);
        job.innerMarginsOnly = (uint32_t)inner;
        Coverage cover(30, 12);
        RECT rect{5, 0, 24, 9};
        ASSERT_EQ(RunOver(job, cover, &rect), 1);
        EXPECT_EQ(L(job.bandRows, job.bandRowsPlusOne, job.bandRemainder), L(2, 3, 2));
        ASSERT_EQ(job.sliceCount, 4);
        for (int i = 0; i < 4; ++i) {
            const CJobSlice* s = job.slices[i];
            EXPECT_EQ(L(s->ready, s->x, s->width, s->y, s->rows, s->topMargin, s->bottomMargin,
                        s->leftMargin, s->rightMargin, s->tilesX, s->tilesY),
                      L(1, 5, 20, ys[i], rows[i], tops[i], bottoms[inner][i], inner ? 0 : 5,
                        inner ? 0 : 5, 1, 1))
                << "slice " << i;
        }
        EXPECT_TRUE(cover.ExactlyOnce(5, 0, 24, 9));
        EXPECT_EQ(cover.elsewhere.load(), 4);
        EXPECT_TRUE(AllSlotsFree(job));
    }
}

// Slot limits: a row band per row at most; a kernel band at least as high as
// the kernel (height 0 counts as 1); one slot runs on the caller.
TEST(RowBandJob, ThreadLimits) {
    CRowBandJob job(8);
    Coverage cover(16, 3);
    ASSERT_EQ(RunOver(job, cover), 1);
    EXPECT_EQ(L(job.threadSlots, job.sliceCount, cover.elsewhere.load()), L(3, 3, 3));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(L(job.slices[i]->y, job.slices[i]->rows), L(i, 1));
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 15, 2));

    for (int32_t height : {20, 5}) {
        SCOPED_TRACE(height);
        CKernelBandJob kernel(8);
        kernel.kernelWidth = kernel.kernelHeight = 7;
        Coverage area(10, height);
        ASSERT_EQ(RunOver(kernel, area), 1);
        const int bands = height == 20 ? 2 : 1;
        EXPECT_EQ(L(kernel.threadSlots, kernel.sliceCount), L(bands, bands));
        for (int i = 0; i < kernel.sliceCount; ++i)
            EXPECT_EQ(L(kernel.slices[i]->y, kernel.slices[i]->rows), L(i * 10, height / bands));
        EXPECT_EQ(L(area.onCaller.load(), area.elsewhere.load()),
                  bands == 1 ? L(1, 0) : L(0, bands)); // one slot: no thread
        EXPECT_TRUE(area.ExactlyOnce(0, 0, 9, height - 1));
    }
    CKernelBandJob flat(4);
    SIZE size{4, 3};
    flat.SetArea(&size, nullptr);
    EXPECT_EQ(flat.GetThreadLimit(), 3);
}

// 30 x 30 tiles on 100 x 100: 5 columns from -26 (an odd count, centred), so
// tiles start at 0, 4, 34, 64, 94 and are 4, 30, 30, 30, 6 wide.
TEST(TileJob, GridOfThirtyOnHundredWithFourSlots) {
    CTileJob job(4);
    Coverage cover(100, 100);
    ASSERT_EQ(RunTiles(job, 30, cover), 1);
    EXPECT_EQ(L(job.tileColumns, job.tileRows, job.tileCount, job.groupMode), L(5, 5, 25, 0));
    ASSERT_EQ(job.sliceCount, 25);
    const int32_t xs[5] = {0, 4, 34, 64, 94}, ws[5] = {4, 30, 30, 30, 6};
    for (int i = 0; i < 25; ++i) {
        const CJobSlice* s = job.slices[i];
        EXPECT_EQ(L(s->x, s->y, s->width, s->rows, s->firstTileWidth, s->firstTileHeight, s->tilesX,
                    s->tilesY),
                  L(xs[i % 5], xs[i / 5], ws[i % 5], ws[i / 5], ws[i % 5], ws[i / 5], 1, 1))
            << "slice " << i;
    }
    EXPECT_EQ(cover.elsewhere.load(), 25);
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 99));
    EXPECT_TRUE(AllSlotsFree(job));

    // Again with 50 x 50 tiles: 100 / 50 = 2, made odd: 3 tiles from -26.
    Coverage again(100, 100);
    RECT rect{0, 0, 99, 99};
    ASSERT_EQ(RunTiles(job, 50, again, &rect), 1);
    EXPECT_EQ(L(job.tileColumns, job.tileRows, job.sliceCount), L(3, 3, 9));
    const int32_t xs3[3] = {0, 24, 74}, ws3[3] = {24, 50, 26};
    for (int i = 0; i < job.sliceCount; ++i)
        EXPECT_EQ(L(job.slices[i]->x, job.slices[i]->width, job.slices[i]->rows),
                  L(xs3[i % 3], ws3[i % 3], ws3[i / 3]))
            << "slice " << i;
    EXPECT_TRUE(again.ExactlyOnce(0, 0, 99, 99));
    EXPECT_TRUE(AllSlotsFree(job));
}

TEST(TileJob, GridOfThirtyOnHundredWithTwoSlotsGroupsTileRows) {
    CTileJob job(2);
    Coverage cover(100, 100);
    ASSERT_EQ(RunTiles(job, 30, cover), 1);
    EXPECT_EQ(L(job.groupMode, job.groupColumns, job.groupRows, job.groupRemainder), L(1, 5, 2, 1));
    ASSERT_EQ(job.sliceCount, 2);
    const CJobSlice* a = job.slices[0];
    const CJobSlice* b = job.slices[1];
    EXPECT_EQ(L(a->x, a->y, a->tilesX, a->tilesY, a->width, a->rows, a->firstTileWidth,
                a->lastTileWidth, a->firstTileHeight, a->lastTileHeight),
              L(0, 0, 5, 3, 30, 30, 4, 6, 4, 30));
    EXPECT_EQ(L(b->x, b->y, b->tilesY, b->firstTileHeight, b->lastTileHeight, b->lastTileWidth),
              L(0, 64, 2, 30, 6, 6));
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 99, 99));
}

TEST(TileJob, OneSlotSmallAreasAndTileLimits) {
    CTileJob one(1); // one tile row: one slice per tile, in turn on the caller
    Coverage row(100, 20);
    ASSERT_EQ(RunTiles(one, 30, row), 1);
    EXPECT_EQ(L(one.groupMode, one.sliceCount, row.onCaller.load(), row.elsewhere.load()),
              L(0, 5, 5, 0));
    EXPECT_EQ(row.callerOrder, (std::vector<int32_t>{0, 4, 34, 64, 94}));
    EXPECT_TRUE(row.ExactlyOnce(0, 0, 99, 19));

    CTileJob big(2); // a tile larger than the area: one tile at the area corner
    Coverage corner(100, 100);
    RECT rect{10, 20, 40, 50};
    ASSERT_EQ(RunTiles(big, 64, corner, &rect), 1);
    EXPECT_EQ(L(big.tileCount, big.sliceCount, big.slices[0]->x, big.slices[0]->width),
              L(1, 1, 10, 31));
    EXPECT_TRUE(corner.ExactlyOnce(10, 20, 40, 50));

    CTileJob limit(8);
    SIZE size{100, 100};
    limit.SetArea(&size, nullptr);
    limit.tileWidth = limit.tileHeight = 30;
    EXPECT_EQ(limit.GetThreadLimit(), 25);  // (100/30 + 2) squared
    limit.tileWidth = limit.tileHeight = 1; // the smallest tile
    EXPECT_EQ(limit.GetThreadLimit(), 102 * 102);
    Coverage nothing(100, 100);
    limit.tileWidth = 0;
    limit.SetProcedure(MarkTiles, &nothing);
    EXPECT_EQ(limit.Run(1), 0);
    EXPECT_TRUE(nothing.ExactlyOnce(1, 1, 0, 0));
}

TEST(BandJob, SlotsSlicesAndRunsWithoutWorker) {
    CBandJob fixed(3), many(200), perProcessor(0);
    EXPECT_EQ(L(fixed.threadSlots, fixed.startingSlice.load()), L(3, 1));
    EXPECT_NE(fixed.mutex, nullptr);
    EXPECT_EQ(many.threadSlots, 64); // one wait covers at most 64 threads
    EXPECT_GE(perProcessor.threadSlots, 1);

    CJobSlice* slice = fixed.CreateSlice();
    EXPECT_EQ(slice->context, nullptr);
    EXPECT_EQ(L(slice->width, slice->rows, slice->tilesX, slice->tilesY, slice->ready),
              L(0, 0, 1, 1, 0));
    EXPECT_EQ(slice->mutexRef, &fixed.mutex);
    delete slice;

    Coverage cover(1, 1); // base slices are never ready
    fixed.SetProcedure(MarkBand, &cover);
    ASSERT_EQ(fixed.Run(1), 1);
    EXPECT_EQ(cover.notReady.load(), 3);

    CRowBandJob job(2);
    SIZE size{4, 4};
    job.SetArea(&size, nullptr);
    EXPECT_EQ(job.Run(1), 0);
}

namespace {

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

} // namespace

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
        SIZE size{w, h};
        RECT rect{3, 4, 60, 50};
        job.SetArea(&size, &rect);
        for (int run = 0; run < 12; ++run) {
            Totals totals{values.data(), w};
            job.SetProcedure(SumBand, &totals);
            ASSERT_EQ(job.Run(1), 1);
            EXPECT_EQ(L(totals.sum, totals.merges), L(expected, slots))
                << slots << " slots, run " << run;
            EXPECT_TRUE(AllSlotsFree(job));
        }
    }
}

namespace {
int LockAndLeave(CJobSlice* slice) {
    auto* first = static_cast<std::atomic<int>*>(slice->context);
    return first->fetch_add(1) == 0 ? slice->Lock() : 1; // the first never unlocks
}

} // namespace

TEST(BandJob, LockReportsAndReleasesAnAbandonedMutex) {
    CBandJob job(2);
    std::atomic<int> first{0};
    job.SetProcedure(LockAndLeave, &first);
    ASSERT_EQ(job.Run(1), 1);
    ASSERT_EQ(L(job.sliceCount, first.load()), L(2, 2));
    // The thread ended holding the mutex: the next Lock gets it abandoned,
    // gives it back and fails; after that it is acquired normally.
    EXPECT_EQ(job.slices[0]->Lock(), 0);
    EXPECT_EQ(job.slices[0]->Lock(), 1);
    EXPECT_NE(job.slices[0]->Unlock(), 0);
    EXPECT_EQ(job.slices[0]->Unlock(), 0); // not held any more
}

TEST(BandJob, RunWithoutWaitingEndsItsThreadsBeforeTheNextRun) {
    Coverage cover(40, 40);
    {
        CRowBandJob job(4);
        SIZE size{40, 40};
        RECT top{0, 0, 39, 19}, bottom{0, 20, 39, 39};
        job.SetArea(&size, &top);
        job.SetProcedure(MarkBand, &cover);
        ASSERT_EQ(job.Run(0), 1);
        job.SetArea(&size, &bottom);
        ASSERT_EQ(job.Run(0), 1); // replaces the slices the first run used
    }                             // the destructor waits for the second run's threads
    EXPECT_TRUE(cover.ExactlyOnce(0, 0, 39, 39));
    EXPECT_EQ(cover.elsewhere.load(), 8);
}

namespace {

// Slices that a system thread ran after an earlier one, over all runs.
std::atomic<int> reusedThreads{0};

int MarkOnReusedThread(CJobSlice* slice) {
    thread_local int slicesHere = 0;
    if (MarkBand(slice) && ++slicesHere > 1) ++reusedThreads;
    return 1;
}

} // namespace

// Many short passes, as a frame runs them: every band exactly once in every
// run, every slot free after it, and the system threads of earlier passes
// run the later ones (off Windows, where each start creates a thread).
TEST(BandJob, RepeatedRunsCoverEveryBandOnceOnKeptThreads) {
    reusedThreads = 0;
    for (uint16_t slots = 1; slots <= 6; ++slots) {
        CRowBandJob kept(slots);
        for (int run = 0; run < 8; ++run) {
            CRowBandJob fresh(slots);
            for (CRowBandJob* job : {&kept, &fresh}) {
                Coverage cover(37, 29);
                RECT rect{2, 1, 35, 26};
                ASSERT_EQ(RunOver(*job, cover, &rect, MarkOnReusedThread), 1);
                EXPECT_TRUE(cover.ExactlyOnce(2, 1, 35, 26)) << slots << " slots, run " << run;
                EXPECT_EQ(L(cover.elsewhere.load(), cover.notReady.load()),
                          L(slots == 1 ? 0 : slots, 0));
                EXPECT_TRUE(AllSlotsFree(*job));
            }
        }
    }
#ifndef _WIN32
    EXPECT_GT(reusedThreads.load(), 0);
#endif
}

#if !defined(_WIN32) && !defined(__SANITIZE_THREAD__)
// A child process made by fork has none of the parent's kept threads: its
// jobs start threads of their own (an alarm ends it if they hang).
TEST(BandJob, ForkedChildRunsJobsAfterTheParentKeptThreads) {
    for (int round = 0; round < 2; ++round) {
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
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
}
#endif

// Every byte zero, for blocks of whole and part pieces, on any slot count.
TEST(BandJob, ClearBytesInBandsClearsEveryByte) {
    for (size_t bytes : {size_t(1), kClearPiece - 1, kClearPiece, 3 * kClearPiece + 17}) {
        std::vector<uint8_t> block(bytes + 1, 0xA5);
        for (uint16_t slots : {1, 2, 3, 8}) {
            std::fill(block.begin(), block.end() - 1, uint8_t(0xA5));
            ClearBytesInBands(block.data(), bytes, slots);
            EXPECT_EQ(std::count(block.begin(), block.end(), 0), std::ptrdiff_t(bytes))
                << bytes << " bytes, " << slots << " slots";
            EXPECT_EQ(block.back(), 0xA5); // nothing past the end
        }
    }
}
