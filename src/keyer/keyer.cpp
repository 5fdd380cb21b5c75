// The keyer's state: construction and destruction, taking the frame's images,
// the shading buffer and the stage flags.
#include "keyer/keyer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <new>

#include "platform/memory.h"

// --- CKeyer ---

CKeyer::CKeyer()
    : keyInMode(kNoKeyOut), hasKeyIn(0), cropEnabled(0), cropRect{0, 0, 0, 0},
      shadingBuffer(nullptr), shadingBufferCount(0), filterWidth(3), filterHeight(3),
      bgCorrectionDirty(1), separationDirty(1), spillShadowDirty(1), compositeDirty(1),
      keyInDirty(1), separationView(3),
      smoothBgShadow(0), channelOrder{0, 1, 2}, edgeProfile{}, edgeWeights{}, matteImage(nullptr),
      keyInMatte(nullptr), keyOutMatte(nullptr), edgeImage(nullptr), foregroundImage(nullptr),
      backgroundImage(nullptr), outputImage(nullptr), correctedBackground(nullptr),
      ownCorrectedBackground(nullptr), underlayImage(nullptr), width(1), height(1), threadCount(0),
      straightforward(0), workImages(1) {
    edgeImage = new CImageBaseClass();
    edgeImage->Create(1, 1, 1, nullptr);
    try {
        underlayImage = new CImageBaseClass();
    } catch (...) {
        delete edgeImage; // a constructor that throws runs no destructor
        throw;
    }
    underlayImage->Create(1, 1, 3, nullptr);

    defaultParams.SetDefaults();
    params = defaultParams;
    UpdateCorrectedBackground();

    if (params.transparencyEdge > 10.0) {
        params.transparencyEdge = 10.0;
        separationDirty = 1;
    }

    AllocateShadingBuffer(0);
    InvalidateMatte();
    InvalidateBackground();
    UpdateCorrectedBackground();
}

CKeyer::~CKeyer() {
    delete edgeImage;
    delete underlayImage;
    delete ownCorrectedBackground;
    delete[] shadingBuffer;
}

int CKeyer::SetImages(CImageBaseClass* matte, CImageBaseClass* keyOut, CImageBaseClass* keyIn,
                      CImageBaseClass* background, CImageBaseClass* foreground,
                      CImageBaseClass* output) {
    if (matte == nullptr || background == nullptr || foreground == nullptr || output == nullptr)
        return 0;
    const uint16_t h = matte->ViewHeight(1);
    const uint16_t w = matte->ViewWidth();
    auto sameSize = [w, h](const CImageBaseClass* image) {
        return image != nullptr && image->ViewHeight(1) == h && image->ViewWidth() == w;
    };
    if (!sameSize(background) || !sameSize(foreground) || !sameSize(output)) return 0;
    if (keyInMode != kNoKeyOut && !sameSize(keyOut)) return 0;
    if (hasKeyIn && !sameSize(keyIn)) return 0;

    if (w != width || h != height) {
        InvalidateMatte();
        InvalidateBackground();
    }
    width = w;
    height = h;
    matteImage = matte;
    keyOutMatte = keyOut;
    keyInMatte = keyIn;
    backgroundImage = background;
    foregroundImage = foreground;
    outputImage = output;

    if (workImages) {
        if (!edgeImage->Resize(uint32_t(width), uint32_t(height), 0)) return 0;
        if (!underlayImage->Resize(uint32_t(width), uint32_t(height), 0)) return 0;
    }
    edgeImage->SetUndefined(0);
    underlayImage->SetUndefined(0);

    if (!UpdateCorrectedBackground()) return 0;
    return AllocateShadingBuffer(smoothBgShadow);
}

// Allocates, keeps, reallocates or frees the shading buffer for the wanted
// state. On failure the buffer is absent and smoothing is off.
int CKeyer::AllocateShadingBuffer(int on) {
    if (!on) {
        if (smoothBgShadow || shadingBuffer != nullptr) {
            delete[] shadingBuffer;
            shadingBuffer = nullptr;
            shadingBufferCount = 0;
            smoothBgShadow = 0;
        }
        return 1;
    }
    const size_t wanted = size_t(uint32_t(width)) * size_t(uint32_t(height));
    if (smoothBgShadow && shadingBuffer != nullptr && size_t(shadingBufferCount) == wanted)
        return 1;
    delete[] shadingBuffer;
    shadingBuffer = nullptr;
    shadingBufferCount = 0;
    // The count is a 32-bit member: a larger frame cannot be held.
    if (wanted > size_t(INT32_MAX)) {
        NoteAllocationFailure();
        smoothBgShadow = 0;
        return 0;
    }
    try {
        // Zero-filled: a one-row band can read entries that no pass wrote.
        shadingBuffer = new float[wanted]();
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        shadingBuffer = nullptr;
        smoothBgShadow = 0;
        return 0;
    }
    shadingBufferCount = int32_t(wanted);
    return 1;
}

int CKeyer::SetSmoothBgShadow(int on) {
    on = on ? 1 : 0;
    if (on == (smoothBgShadow ? 1 : 0)) return 1;
    if (!AllocateShadingBuffer(on)) return 0;
    smoothBgShadow = on;
    return 1;
}

int CKeyer::SetParams(const KeyerParams& snapshot) {
    params = snapshot;
    return UpdateCorrectedBackground();
}

void CKeyer::InvalidateMatte() {
    separationDirty = 1;
    keyInDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;
}

void CKeyer::InvalidateBackground() {
    bgCorrectionDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;
}

RECT CKeyer::BandRect() const {
    RECT band;
    SetRect(&band, 0, 0, width - 1, height - 1);
    if (cropEnabled) {
        RECT crop;
        // The last column and row inside; an end at the lowest int stays empty.
        auto last = [](int32_t end) { return end > INT32_MIN ? end - 1 : end; };
        SetRect(&crop, cropRect.left, cropRect.top, last(cropRect.right), last(cropRect.bottom));
        RECT frame = band;
        IntersectRect(&band, &frame, &crop);
    }
    return band;
}

// Every pass of the keyer: the job over the frame's band, run to its end.
int CKeyer::RunJob(CAreaJob& job, WorkerProcedure worker, void* context, RECT* band) const {
    SIZE size{width, height};
    job.SetArea(&size, band);
    job.SetProcedure(worker, context);
    return job.Run(1) ? 1 : 0;
}

int CKeyer::RunRowBands(WorkerProcedure worker, void* context, RECT* band) const {
    CRowBandJob job(threadCount);
    return RunJob(job, worker, context, band);
}

int CKeyer::RunKernelBands(WorkerProcedure worker, void* context, RECT* band, int32_t kernelWidth,
                           int32_t kernelHeight) const {
    CKernelBandJob job(threadCount);
    job.kernelWidth = kernelWidth;
    job.kernelHeight = kernelHeight;
    return RunJob(job, worker, context, band);
}

int CKeyer::RunWindowBands(WorkerProcedure worker, void* context, RECT* band,
                           CImageBaseClass* source, int32_t kernelWidth,
                           int32_t kernelHeight) const {
    CWindowBandJob job(threadCount);
    job.kernelWidth = kernelWidth;
    job.kernelHeight = kernelHeight;
    job.innerMarginsOnly = 1;
    job.SetWindowSource(source);
    return RunJob(job, worker, context, band);
}

namespace {

// A row band worker run over strips of a band: every slice takes the next
// strip not yet taken until none is left, so that a slot whose strips cost
// little takes more of them.
struct StripQueue {
    WorkerProcedure worker;
    void* context;
    int32_t left, top, width, rows;
    int32_t stripRows;
    std::atomic<int32_t> next{0};
};

int StripWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    StripQueue* queue = static_cast<StripQueue*>(slice->context);
    CJobSlice strip(slice->mutexRef);
    strip.context = queue->context;
    strip.ready = 1;
    strip.x = queue->left;
    strip.width = uint16_t(queue->width);
    for (;;) {
        const int32_t first = queue->next.fetch_add(queue->stripRows);
        if (first >= queue->rows) break;
        strip.y = queue->top + first;
        strip.rows = uint16_t(std::min(queue->stripRows, queue->rows - first));
        queue->worker(&strip); // as in a band job, the result is not evaluated
    }
    return 1;
}

} // namespace

int CKeyer::RunBalancedBands(WorkerProcedure worker, void* context, RECT* band) const {
    if (straightforward) return RunRowBands(worker, context, band);
    CRowBandJob job(threadCount);
    SIZE size{width, height};
    job.SetArea(&size, band);
    // The area as the job sees it (an empty one runs no worker).
    const int32_t w = job.right - job.left + 1, h = job.bottom - job.top + 1;
    StripQueue queue{worker, context, job.left, job.top, w, h, 0};
    // About 32 strips: a strip's set-up stays small beside its pixels, and
    // the slot that ends last waits for at most one strip.
    queue.stripRows = std::max(h / 32, 8);
    return RunJob(job, StripWorker, &queue, band);
}

int CKeyer::RunTileBands(WorkerProcedure worker, void* context, RECT* band,
                         int32_t tileSize) const {
    CTileJob job(threadCount);
    job.tileWidth = tileSize;
    job.tileHeight = tileSize;
    return RunJob(job, worker, context, band);
}
