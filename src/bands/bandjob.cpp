// Band jobs: splitting an area into slices and running a worker on each,
// with at most threadSlots threads at a time.
//
// Thread handles belong to the launcher: a thread only runs its worker and
// ends, and the launcher closes the handle and frees the slot after a wait has
// seen the thread end (when it needs a slot, and at the end of Run). A wait
// therefore never covers a handle that is being closed, a slot is reused only
// after its thread has ended, and Run returns only after all its threads have
// ended.
#include "bands/bandjob.h"

#include <cstring>
#include <new>

#include "platform/memory.h"
#include "platform/threads.h"

namespace {

int32_t Max(int32_t a, int32_t b) {
    return a > b ? a : b;
}
int32_t Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}

// Slice i (from 1) of a job, marked not ready, for its InitSlice to fill in;
// null when there is no such slice or the job is not prepared.
CJobSlice* ClearedSlice(const CBandJob& job, int i) {
    if (i < 1 || i > job.sliceCount) return nullptr;
    CJobSlice* slice = job.slices[i - 1];
    slice->ready = 0;
    return job.prepared ? slice : nullptr;
}

} // namespace

// ---------------------------------------------------------------- CJobSlice

CJobSlice::CJobSlice(JobHandle* mutexRef)
    : context(nullptr), x(0), y(0), width(0), rows(0), leftMargin(0), rightMargin(0), topMargin(0),
      bottomMargin(0), tilesX(1), tilesY(1), firstTileWidth(0), lastTileWidth(0),
      firstTileHeight(0), lastTileHeight(0), ready(0), mutexRef(mutexRef) {}

CJobSlice::~CJobSlice() {}

int CJobSlice::Lock() {
    if (!mutexRef || !*mutexRef) return 0;
    switch (WaitForMutex(*mutexRef)) {
    case kMutexAcquired:
        return 1;
    case kMutexAbandoned:
        // The totals it guards may be half merged: give it back and report.
        ReleaseMutexHandle(*mutexRef);
        return 0;
    default:
        return 0;
    }
}

int CJobSlice::Unlock() {
    if (!mutexRef || !*mutexRef) return 0;
    return ReleaseMutexHandle(*mutexRef);
}

// ----------------------------------------------------------------- CBandJob

CBandJob::CBandJob(uint16_t threadCount)
    : worker(nullptr), threadSlots(0), sliceCount(0), threads(nullptr), slices(nullptr),
      handshake(0), startingSlot(0), startingSlice(1), context(nullptr), prepared(0),
      mutex(nullptr) {
    uint32_t count = threadCount ? threadCount : (ProcessorCount() & 0xFFFF);
    if (count == 0) count = 1;
    // One wait covers at most kMaxWaitHandles threads.
    if (count > kMaxWaitHandles) count = kMaxWaitHandles;
    threads = new (std::nothrow) std::atomic<JobHandle>[count];
    if (threads) {
        for (uint32_t i = 0; i < count; ++i)
            threads[i].store(nullptr);
        threadSlots = (uint16_t)count;
    } else {
        NoteAllocationFailure();
    }
    mutex = CreateUnnamedMutex();
}

CBandJob::~CBandJob() {
    // Only a run without waiting leaves threads behind. Windows ends them at
    // once; where a thread cannot be stopped it is waited for, since it still
    // uses the slices freed below.
    for (uint16_t i = 0; threads && i < threadSlots; ++i) {
        JobHandle thread = threads[i].load();
        if (!thread) continue;
        TerminateThreadHandle(thread, 0);
        WaitForAllThreads(&thread, 1);
        CloseWithRetry(thread);
        threads[i].store(nullptr);
    }
    delete[] threads;
    threads = nullptr;
    DestroySlices();
    if (mutex) CloseMutexHandle(mutex);
    mutex = nullptr;
}

void CBandJob::SetProcedure(WorkerProcedure procedure, void* ctx) {
    worker = procedure;
    context = ctx;
}

int CBandJob::InitSlice(int i) {
    ClearedSlice(*this, i);
    return (int)prepared;
}

uint16_t CBandJob::GetThreadLimit() {
    return 0;
}

uint16_t CBandJob::GetSliceCount() {
    return threadSlots;
}

void CBandJob::OnBegin() {
    prepared = 1;
}

void CBandJob::OnEnd() {
    prepared = 0;
}

CJobSlice* CBandJob::CreateSlice() {
    return new CJobSlice(&mutex);
}

void CBandJob::DestroySlices() {
    if (slices) {
        for (uint16_t i = 0; i < sliceCount; ++i)
            delete slices[i];
        delete[] slices;
    }
    slices = nullptr;
    sliceCount = 0;
}

int CBandJob::CreateSlices(uint16_t count) {
    if (count == 0) return 0;
    DestroySlices();
    slices = new (std::nothrow) CJobSlice*[count];
    if (!slices) {
        NoteAllocationFailure();
        return 0;
    }
    for (uint16_t i = 0; i < count; ++i)
        slices[i] = nullptr;
    sliceCount = count;
    try {
        for (uint16_t i = 0; i < count; ++i)
            slices[i] = CreateSlice();
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        DestroySlices();
        return 0;
    }
    for (uint16_t i = 0; i < count; ++i) {
        if (!slices[i]) {
            DestroySlices();
            return 0;
        }
    }
    return 1;
}

void CBandJob::CloseWithRetry(JobHandle thread) {
    if (CloseThreadHandle(thread)) return;
    for (int attempt = 0; attempt < 10; ++attempt) {
        SleepMilliseconds(1);
        if (CloseThreadHandle(thread)) return;
    }
}

uint32_t CBandJob::ThreadMain(void* argument) {
    CBandJob* job = static_cast<CBandJob*>(argument);
    uint16_t slice = job->startingSlice.load();
    job->handshake.store(0); // the launcher may start the next slice
    return (uint32_t)job->worker(job->slices[slice - 1]);
}

int CBandJob::StartSliceThread() {
    uint16_t slot = threadSlots;
    for (uint16_t i = 0; i < threadSlots; ++i) {
        if (!threads[i].load()) {
            slot = i;
            break;
        }
    }
    if (slot == threadSlots) {
        // Every slot is busy: wait until one of its threads ends.
        JobHandle running[kMaxWaitHandles];
        for (uint16_t i = 0; i < threadSlots; ++i)
            running[i] = threads[i].load();
        int32_t ended = WaitForAnyThread(running, threadSlots);
        if (ended < 0 || ended >= threadSlots) return 0;
        slot = (uint16_t)ended;
        CloseWithRetry(running[slot]);
        threads[slot].store(nullptr);
    }
    startingSlot.store(slot);
    JobHandle thread = StartThread(ThreadMain, this);
    if (!thread) return 0;
    threads[slot].store(thread);
    return 1;
}

int CBandJob::EndThreads() {
    JobHandle running[kMaxWaitHandles];
    uint16_t slotOf[kMaxWaitHandles];
    uint32_t count = 0;
    for (uint16_t i = 0; i < threadSlots; ++i) {
        JobHandle thread = threads[i].load();
        if (thread) {
            slotOf[count] = i;
            running[count++] = thread;
        }
    }
    if (count == 0) return 1;
    if (WaitForAllThreads(running, count) != kWaitDone) return 0;
    for (uint32_t k = 0; k < count; ++k) {
        CloseWithRetry(running[k]);
        threads[slotOf[k]].store(nullptr);
    }
    return 1;
}

int CBandJob::Run(int wait) {
    if (!mutex || !threads || !worker) return 0;

    // Threads of an earlier run without waiting still use the slices about to
    // be replaced: let them end first.
    if (!EndThreads()) return 0;

    uint16_t limit = GetThreadLimit();
    if (limit >= 1 && limit < threadSlots) {
        std::atomic<JobHandle>* table = new (std::nothrow) std::atomic<JobHandle>[limit];
        if (table) {
            for (uint16_t i = 0; i < limit; ++i)
                table[i].store(nullptr);
            delete[] threads;
            threads = table;
            threadSlots = limit;
        }
    }

    OnBegin();
    uint16_t count = GetSliceCount();
    if (!CreateSlices(count)) return 0;
    for (uint16_t i = 1; i <= count; ++i) {
        slices[i - 1]->context = context;
        InitSlice(i);
    }

    handshake.store(0);
    for (uint16_t i = 1; i <= count; ++i) {
        if (threadSlots == 1) {
            worker(slices[i - 1]);
            continue;
        }
        while (handshake.load() != 0)
            SleepMilliseconds(0); // gives up the time slice only
        startingSlice.store(i);
        handshake.store(1);
        if (!StartSliceThread()) {
            handshake.store(0);
            break;
        }
    }
    OnEnd();

    if (wait && !EndThreads()) return 0;
    return 1;
}

// ------------------------------------------------------------------ CAreaJob

CAreaJob::CAreaJob(uint16_t threadCount)
    : CBandJob(threadCount), imageWidth(1), imageHeight(1), left(0), top(0), right(1), bottom(1),
      areaWidth(0), areaHeight(0), areaPixels(0), centreX(0), centreY(0), innerMarginsOnly(0) {}

CAreaJob::~CAreaJob() {}

void CAreaJob::SetArea(const SIZE* size, RECT* rect) {
    if (!size || size->cx < 1 || size->cy < 1) return;
    imageWidth = size->cx;
    imageHeight = size->cy;
    if (!rect) {
        left = 0;
        top = 0;
        right = imageWidth - 1;
        bottom = imageHeight - 1;
        return;
    }
    if (rect->right < rect->left) {
        int32_t t = rect->left;
        rect->left = rect->right;
        rect->right = t;
    }
    if (rect->top > rect->bottom) {
        int32_t t = rect->top;
        rect->top = rect->bottom;
        rect->bottom = t;
    }
    right = Min(rect->right, imageWidth - 1);
    bottom = Min(rect->bottom, imageHeight - 1);
    left = Max(rect->left, 0);
    top = Max(rect->top, 0);
}

void CAreaJob::OnBegin() {
    CBandJob::OnBegin();
    areaWidth = right - left + 1;
    areaHeight = bottom - top + 1;
    areaPixels = areaWidth * areaHeight;
    centreX = (left + right) / 2;
    centreY = (top + bottom) / 2;
    // An area wholly outside the image leaves nothing to fill in.
    if (areaWidth < 1 || areaHeight < 1) prepared = 0;
}

// --------------------------------------------------------------- CRowBandJob

CRowBandJob::CRowBandJob(uint16_t threadCount)
    : CAreaJob(threadCount), bandRows(0), bandRowsPlusOne(0), bandRemainder(0) {}

CRowBandJob::~CRowBandJob() {}

uint16_t CRowBandJob::GetThreadLimit() {
    return (uint16_t)(bottom - top + 1);
}

void CRowBandJob::OnBegin() {
    CAreaJob::OnBegin();
    bandRows = areaHeight / threadSlots;
    bandRowsPlusOne = bandRows + 1;
    bandRemainder = areaHeight % threadSlots;
}

int CRowBandJob::InitSlice(int i) {
    CJobSlice* slice = ClearedSlice(*this, i);
    if (!slice) return 0;
    int32_t start = (i - 1) * bandRowsPlusOne - Max(i - 1 - bandRemainder, 0);
    int32_t firstRow = top + start;
    slice->x = left;
    slice->y = firstRow;
    slice->width = (uint16_t)areaWidth;
    slice->rows = (uint16_t)(i <= bandRemainder ? bandRowsPlusOne : bandRows);
    if (!innerMarginsOnly) {
        slice->leftMargin = (uint16_t)left;
        slice->rightMargin = (uint16_t)(imageWidth - right - 1);
        slice->topMargin = (uint16_t)firstRow;
        slice->bottomMargin = (uint16_t)(imageHeight - slice->rows - firstRow);
    } else {
        slice->leftMargin = 0;
        slice->rightMargin = 0;
        slice->topMargin = (uint16_t)(i == 1 ? 0 : firstRow);
        slice->bottomMargin =
            (uint16_t)(i == sliceCount ? 0 : imageHeight - slice->rows - firstRow);
    }
    slice->ready = 1;
    return 1;
}

// ------------------------------------------------------------ CKernelBandJob

CKernelBandJob::CKernelBandJob(uint16_t threadCount)
    : CRowBandJob(threadCount), kernelWidth(0), kernelHeight(0) {}

CKernelBandJob::~CKernelBandJob() {}

uint16_t CKernelBandJob::GetThreadLimit() {
    int32_t kernel = kernelHeight & 0xFFFF;
    if (kernel < 1) kernel = 1;
    int32_t limit = (bottom - top + 1) / kernel;
    return (uint16_t)(limit > 1 ? limit : 1);
}

// ------------------------------------------------------------ CWindowBandJob

CWindowBandJob::CWindowBandJob(uint16_t threadCount)
    : CKernelBandJob(threadCount), windowSource(nullptr) {}

CWindowBandJob::~CWindowBandJob() {}

void CWindowBandJob::SetWindowSource(CImageBaseClass* image) {
    if (image) windowSource = image;
}

// InitSlice and CreateSlice of the window job live with the window slice
// (bands/windowslice.cpp).

// ------------------------------------------------------------------ CTileJob

CTileJob::CTileJob(uint16_t threadCount)
    : CAreaJob(threadCount), tileWidth(0), tileHeight(0), gridX(0), gridY(0), tileColumns(0),
      tileRows(0), tileCount(0), groupMode(0), groupColumns(0), groupRows(0), groupRowsPlusOne(0),
      groupRemainder(0) {}

CTileJob::~CTileJob() {}

uint16_t CTileJob::GetThreadLimit() {
    if (tileWidth < 1 || tileHeight < 1) return 0;
    uint32_t limit =
        (uint32_t)(imageHeight / tileHeight + 2) * (uint32_t)(imageWidth / tileWidth + 2);
    return (uint16_t)limit;
}

uint16_t CTileJob::GetSliceCount() {
    return (uint16_t)(groupMode ? threadSlots : tileCount);
}

namespace {

// Odd number of tiles covering `extent`, and the grid origin that centres
// them on `centre`.
void TileAxis(int32_t extent, int32_t tile, int32_t centre, int32_t first, int32_t* count,
              int32_t* origin) {
    if (tile < extent) {
        int32_t n = extent / tile;
        if (extent % tile) ++n;
        if (n % 2 == 0) ++n;
        *count = n;
        *origin = centre - (n / 2) * tile - tile / 2;
    } else {
        *count = 1;
        *origin = first;
    }
}

} // namespace

void CTileJob::OnBegin() {
    CAreaJob::OnBegin();
    groupMode = 0;
    if (tileWidth < 1 || tileHeight < 1) {
        // No grid: the run creates no slices and fails.
        tileColumns = tileRows = tileCount = 0;
        prepared = 0;
        return;
    }
    TileAxis(areaWidth, tileWidth, centreX, left, &tileColumns, &gridX);
    TileAxis(areaHeight, tileHeight, centreY, top, &tileRows, &gridY);
    tileCount = tileColumns * tileRows;
    // One slice per tile, unless there are few tile rows per slot or more
    // tiles than slices can be counted (then whole tile rows per slot).
    if (2 * (int32_t)threadSlots > tileRows && tileCount <= 0xFFFF) return;
    groupMode = 1;
    groupColumns = tileColumns;
    groupRows = tileRows / threadSlots;
    groupRowsPlusOne = groupRows + 1;
    groupRemainder = tileRows % threadSlots;
}

int CTileJob::InitSlice(int i) {
    CJobSlice* slice = ClearedSlice(*this, i);
    if (!slice) return 0;
    const int32_t tw = tileWidth;
    const int32_t th = tileHeight;
    int32_t tileLeft = Max(left, gridX);
    int32_t tileTop = Max(top, gridY);
    int32_t tileRight = Min(gridX + tw - 1, right);
    int32_t tileBottom = Min(gridY + th - 1, bottom);
    uint16_t clippedWidth = (uint16_t)(tileRight - tileLeft + 1);
    uint16_t clippedHeight = (uint16_t)(tileBottom - tileTop + 1);
    slice->x = tileLeft;
    slice->y = tileTop;
    if (!groupMode) {
        slice->width = slice->firstTileWidth = clippedWidth;
        slice->rows = slice->firstTileHeight = clippedHeight;
        slice->tilesX = 1;
        slice->tilesY = 1;
        if (i % tileColumns != 0) {
            gridX += tw;
        } else {
            gridY += th;
            gridX -= (tileColumns - 1) * tw;
        }
    } else {
        slice->tilesX = (uint16_t)groupColumns;
        slice->tilesY = (uint16_t)(i <= groupRemainder ? groupRowsPlusOne : groupRows);
        slice->width = (uint16_t)tw;
        slice->rows = (uint16_t)th;
        slice->firstTileWidth = clippedWidth;
        slice->firstTileHeight = clippedHeight;
        int32_t lastX = gridX + (slice->tilesX - 1) * tw;
        int32_t lastY = gridY + (slice->tilesY - 1) * th;
        slice->lastTileWidth = (uint16_t)(Min(lastX + tw - 1, right) - lastX + 1);
        slice->lastTileHeight = (uint16_t)(Min(lastY + th - 1, bottom) - lastY + 1);
        gridY += slice->tilesY * th;
    }
    slice->ready = 1;
    return 1;
}

// ------------------------------------------------------------ clearing bytes

namespace {

struct ClearContext {
    uint8_t* bytes;
    size_t size;
    std::atomic<size_t> piecesDone{0};
};

// The job's rows are pieces of the block.
int ClearWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    ClearContext* clear = static_cast<ClearContext*>(slice->context);
    const size_t from = size_t(uint32_t(slice->y)) * kClearPiece;
    size_t to = (size_t(uint32_t(slice->y)) + slice->rows) * kClearPiece;
    if (to > clear->size) to = clear->size;
    std::memset(clear->bytes + from, 0, to - from);
    clear->piecesDone += slice->rows;
    return 1;
}

} // namespace

void ClearBytesInBands(void* block, size_t bytes, uint16_t threadCount) {
    if (!block || bytes == 0) return;
    ClearContext clear{static_cast<uint8_t*>(block), bytes};
    const size_t pieces = (bytes + kClearPiece - 1) / kClearPiece;
    // A slice holds at most 65535 pieces.
    if (pieces <= 0xFFFF) {
        CRowBandJob job(threadCount);
        SIZE size{1, int32_t(pieces)};
        job.SetArea(&size, nullptr);
        job.SetProcedure(ClearWorker, &clear);
        if (job.Run(1) && clear.piecesDone.load() == pieces) return;
    }
    std::memset(block, 0, bytes);
}
