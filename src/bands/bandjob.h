// Band jobs: a pass over an image rectangle split into slices (bands of rows,
// kernel bands, window bands or tiles), each run by a worker procedure on a
// thread of its own, at most one running thread per processor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/rect.h"

class CImageBaseClass;
class CJobSlice;

// Worker procedure: processes one slice; nonzero = success (not evaluated).
typedef int (*WorkerProcedure)(CJobSlice* slice);

// Thread and mutex handles of the platform seam (platform/threads.h).
typedef void* JobHandle;

// One unit of work, owned by its job.
class CJobSlice {
  public:
    explicit CJobSlice(JobHandle* mutexRef);
    virtual ~CJobSlice();

    // 1 when the job's mutex is held (normal acquisition), else 0.
    int Lock();
    // Nonzero when the mutex was released.
    int Unlock();

    void* context;
    int32_t x;
    int32_t y;
    uint16_t width;
    uint16_t rows;
    uint16_t leftMargin;
    uint16_t rightMargin;
    uint16_t topMargin;
    uint16_t bottomMargin;
    uint16_t tilesX;
    uint16_t tilesY;
    uint16_t firstTileWidth;
    uint16_t lastTileWidth;
    uint16_t firstTileHeight;
    uint16_t lastTileHeight;
    uint32_t ready;
    JobHandle* mutexRef;
};

class CBandJob {
  public:
    // threadCount 0: one slot per processor.
    explicit CBandJob(uint16_t threadCount);
    ~CBandJob();
    CBandJob(const CBandJob&) = delete;
    CBandJob& operator=(const CBandJob&) = delete;

    void SetProcedure(WorkerProcedure procedure, void* ctx);
    int Run(int wait);

    // Virtual operations in slot order.
    virtual int InitSlice(int i);
    virtual uint16_t GetThreadLimit();
    virtual uint16_t GetSliceCount();
    virtual void OnBegin();
    virtual void OnEnd();
    virtual CJobSlice* CreateSlice();

    WorkerProcedure worker;
    uint16_t threadSlots;
    uint16_t sliceCount;
    std::atomic<JobHandle>* threads;
    CJobSlice** slices;
    std::atomic<uint32_t> handshake;
    std::atomic<uint16_t> startingSlot;
    std::atomic<uint16_t> startingSlice;
    void* context;
    uint32_t prepared;
    JobHandle mutex;

  private:
    static uint32_t ThreadMain(void* job);
    int CreateSlices(uint16_t count);
    void DestroySlices();
    // Starts a thread for the slice named in startingSlice; 0 on failure.
    int StartSliceThread();
    // Waits for every thread in the slot table, closes the handles and frees
    // the slots; 0 when the wait failed (the slots then stay as they are).
    int EndThreads();
    static void CloseWithRetry(JobHandle thread);
};

class CAreaJob : public CBandJob {
  public:
    explicit CAreaJob(uint16_t threadCount);
    ~CAreaJob();

    // size: (width, height); rect: inclusive rectangle or null for the whole
    // image. The caller's rectangle is normalised in place.
    void SetArea(const SIZE* size, RECT* rect);

    void OnBegin() override;

    int32_t imageWidth;
    int32_t imageHeight;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t areaWidth;
    int32_t areaHeight;
    int32_t areaPixels;
    int32_t centreX;
    int32_t centreY;
    uint32_t innerMarginsOnly;
};

class CRowBandJob : public CAreaJob {
  public:
    explicit CRowBandJob(uint16_t threadCount);
    ~CRowBandJob();

    int InitSlice(int i) override;
    uint16_t GetThreadLimit() override;
    void OnBegin() override;

    int32_t bandRows;
    int32_t bandRowsPlusOne;
    int32_t bandRemainder;
};

class CKernelBandJob : public CRowBandJob {
  public:
    explicit CKernelBandJob(uint16_t threadCount);
    ~CKernelBandJob();

    uint16_t GetThreadLimit() override;

    int32_t kernelWidth;
    int32_t kernelHeight;
};

class CWindowBandJob : public CKernelBandJob {
  public:
    explicit CWindowBandJob(uint16_t threadCount);
    ~CWindowBandJob();

    void SetWindowSource(CImageBaseClass* image);

    int InitSlice(int i) override;
    CJobSlice* CreateSlice() override;

    CImageBaseClass* windowSource;
};

class CTileJob : public CAreaJob {
  public:
    explicit CTileJob(uint16_t threadCount);
    ~CTileJob();

    int InitSlice(int i) override;
    uint16_t GetThreadLimit() override;
    uint16_t GetSliceCount() override;
    void OnBegin() override;

    int32_t tileWidth;
    int32_t tileHeight;
    int32_t gridX;
    int32_t gridY;
    int32_t tileColumns;
    int32_t tileRows;
    int32_t tileCount;
    uint32_t groupMode;
    int32_t groupColumns;
    int32_t groupRows;
    int32_t groupRowsPlusOne;
    int32_t groupRemainder;
};

// Sets `bytes` bytes at `block` to zero with a row band job of threadCount
// slots over pieces of kClearPiece bytes; what a job leaves undone (a slice
// that found no thread) is cleared on the calling thread.
constexpr size_t kClearPiece = size_t(1) << 16;
void ClearBytesInBands(void* block, size_t bytes, uint16_t threadCount);
