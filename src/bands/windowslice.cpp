// Window slice: preparation of the window buffers and the row move.
#include "bands/windowslice.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "image/image.h"
#include "platform/memory.h"

namespace {

// Largest buffer the window allocates in one piece.
constexpr uint64_t kMaxBuffer = (uint64_t)PTRDIFF_MAX / 2;

uint8_t* AllocateBytes(uint64_t count) {
    uint8_t* bytes = nullptr;
    if (count > 0 && count <= kMaxBuffer) bytes = new (std::nothrow) uint8_t[(size_t)count];
    if (!bytes) NoteAllocationFailure();
    return bytes;
}

// A ring or sum table of `count` entries, or null (the failure counted).
template <typename T> T* AllocateArray(size_t count) {
    T* items = new (std::nothrow) T[count];
    if (!items) NoteAllocationFailure();
    return items;
}

int32_t Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}

} // namespace

CWindowSlice::CWindowSlice(JobHandle* mutexRef)
    : CJobSlice(mutexRef), contiguous(0), source(nullptr), windowRows(nullptr), leftEdges(nullptr),
      rightEdges(nullptr), bottomRows(nullptr), leftEdgeCursor(nullptr), rightEdgeCursor(nullptr),
      rowBytes(0), windowWidth(0), windowHeight(0), halfWidth(0), halfHeight(0), innerRows(0),
      bottomRowCount(0), advanceLimit(0), advanceCount(0), components(0), rowRing(nullptr),
      ringHead(nullptr), ringCentre(nullptr), ringTail(nullptr), columnRing(nullptr),
      columnHead(nullptr), windowSums(nullptr), inverseArea(0.0), sourceRowGap(0),
      sourceRowStride(0), sourcePixelStep(0), sourceComponentStep(1), sourceComponentCount(0),
      windowReady(0) {}

CWindowSlice::~CWindowSlice() {
    FreeWindow();
    delete[] windowSums;
    windowSums = nullptr;
}

void CWindowSlice::FreeWindow() {
    delete[] rowRing;
    rowRing = ringHead = ringCentre = ringTail = nullptr;
    if (columnRing) {
        for (int32_t i = 0; i < windowWidth; ++i)
            delete[] columnRing[i].sums;
        delete[] columnRing;
    }
    columnRing = columnHead = nullptr;
    delete[] windowRows;
    delete[] leftEdges;
    delete[] rightEdges;
    delete[] bottomRows;
    windowRows = leftEdges = rightEdges = bottomRows = nullptr;
    leftEdgeCursor = rightEdgeCursor = nullptr;
    windowReady = 0;
}

int CWindowSlice::PrepareWindow(CImageBaseClass* image, SIZE size) {
    if (windowReady) {
        FreeWindow();
        return 0;
    }
    if (!image) return 0;
    source = image;
    sourceRowGap = image->rowGap;
    sourceRowStride = image->rowStride;
    sourcePixelStep = image->pixelStep;
    sourceComponentStep = image->componentStep;
    sourceComponentCount = image->componentCount;
    if (image->componentStep != 1 || !image->pixels) return 0;

    windowWidth = size.cx;
    windowHeight = size.cy;
    if (windowWidth < 1 || windowHeight < 1 || (windowWidth & 1) == 0 || (windowHeight & 1) == 0 ||
        (windowWidth == 1 && windowHeight == 1))
        return 0;
    // The half sizes are 16-bit, like every other count of the slice.
    if (windowWidth / 2 > 0xFFFF || windowHeight / 2 > 0xFFFF) return 0;
    if (width == 0 || rows == 0) return 0;

    // The band and the margins it may read must lie inside the source's view.
    if (x < (int32_t)leftMargin || y < (int32_t)topMargin ||
        (int64_t)x + width + rightMargin > (int64_t)image->ViewWidth() ||
        (int64_t)y + rows + bottomMargin > (int64_t)image->ViewHeight((int)image->fieldMode))
        return 0;

    halfWidth = (uint16_t)(windowWidth / 2);
    halfHeight = (uint16_t)(windowHeight / 2);
    inverseArea = 1.0 / (double)((int64_t)windowWidth * windowHeight);
    components = image->componentCount;
    contiguous = image->bytesPerPixel == image->componentCount ? 1 : 0;
    uint64_t bytes = ((uint64_t)width + 2u * halfWidth) * components;
    if (bytes > 0xFFFFFFFFu) return 0;
    rowBytes = (uint32_t)bytes;

    int32_t inner = (int32_t)rows - halfHeight - 1;
    innerRows = (uint16_t)(inner > 0 ? inner : 0);
    int32_t bottom = Min(halfHeight, (int32_t)rows - 1);
    bottomRowCount = (uint16_t)(bottom > 0 ? bottom : 0);
    advanceLimit = (uint16_t)(innerRows + bottomRowCount);
    advanceCount = 0;

    if (!LoadWindow()) {
        FreeWindow();
        return 0;
    }
    leftEdgeCursor = leftEdges;
    rightEdgeCursor = rightEdges;

    rowRing = AllocateArray<WindowRow>((size_t)windowHeight);
    if (!rowRing) {
        FreeWindow();
        return 0;
    }
    for (int32_t k = 0; k < windowHeight; ++k) {
        rowRing[k].start = rowRing[k].cursor = windowRows + (size_t)k * rowBytes;
        rowRing[k].next = &rowRing[(k + 1) % windowHeight];
    }
    ringHead = &rowRing[0];
    ringCentre = &rowRing[halfHeight];
    ringTail = &rowRing[windowHeight - 1];

    columnRing = AllocateArray<WindowColumn>((size_t)windowWidth);
    if (!columnRing) {
        FreeWindow();
        return 0;
    }
    for (int32_t k = 0; k < windowWidth; ++k) {
        columnRing[k].sums = nullptr;
        columnRing[k].next = &columnRing[(k + 1) % windowWidth];
    }
    for (int32_t k = 0; k < windowWidth; ++k) {
        columnRing[k].sums = AllocateArray<uint32_t>(components + 1u);
        if (!columnRing[k].sums) {
            FreeWindow();
            return 0;
        }
    }
    columnHead = &columnRing[0];

    uint32_t* sums = AllocateArray<uint32_t>(components + 1u);
    if (!sums) {
        FreeWindow();
        return 0;
    }
    delete[] windowSums;
    windowSums = sums;

    windowReady = 1;
    return 1;
}

void CWindowSlice::CopyPixels(const uint8_t* from, uint32_t count, uint8_t* to) const {
    if (contiguous) {
        std::memcpy(to, from, (size_t)count * components);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(to, from, components);
        to += components;
        from += sourcePixelStep;
    }
}

void CWindowSlice::CopyRow(const uint8_t* bandStart, int32_t offset, uint8_t* row) const {
    const uint8_t* from = bandStart + (std::ptrdiff_t)offset * (std::ptrdiff_t)sourceRowStride;
    const std::ptrdiff_t step = (std::ptrdiff_t)sourcePixelStep;
    CopyPixels(from, width, row + (size_t)halfWidth * components);
    for (int32_t j = 1; j <= halfWidth; ++j) {
        CopyPixels(from - Min(j, leftMargin) * step, 1, row + (size_t)(halfWidth - j) * components);
        CopyPixels(from + ((int32_t)width - 1 + Min(j, rightMargin)) * step, 1,
                   row + ((size_t)halfWidth + width + j - 1) * components);
    }
}

// Fills the window rows, the edge buffers and the bottom rows from the source
// as it is now. Rows beyond the top margin repeat the topmost available row;
// rows beyond the band and its bottom margin repeat the lowest available one,
// also for bands shorter than halfHeight + 1 rows.
int CWindowSlice::LoadWindow() {
    windowRows = AllocateBytes((uint64_t)windowHeight * rowBytes);
    if (!windowRows) return 0;
    if (bottomRowCount > 0) {
        bottomRows = AllocateBytes((uint64_t)bottomRowCount * rowBytes);
        if (!bottomRows) return 0;
    }
    const uint64_t edgeBytes = (uint64_t)innerRows * halfWidth * components;
    if (edgeBytes > 0) {
        leftEdges = AllocateBytes(edgeBytes);
        rightEdges = AllocateBytes(edgeBytes);
        if (!leftEdges || !rightEdges) return 0;
    }

    const uint8_t* bandStart = source->PixelAddress((uint16_t)x, (uint16_t)y);
    const int32_t lowest = (int32_t)rows - 1 + bottomMargin;
    const int32_t hh = halfHeight;

    for (int32_t k = 1; k <= hh; ++k)
        CopyRow(bandStart, -Min(k, topMargin), windowRows + (size_t)(hh - k) * rowBytes);
    for (int32_t r = 0; r <= hh; ++r)
        CopyRow(bandStart, Min(r, lowest), windowRows + (size_t)(hh + r) * rowBytes);

    if (edgeBytes > 0) {
        const std::ptrdiff_t step = (std::ptrdiff_t)sourcePixelStep;
        uint8_t* left = leftEdges;
        uint8_t* right = rightEdges;
        for (int32_t d = hh + 1; d <= hh + innerRows; ++d) {
            const uint8_t* from = bandStart + (std::ptrdiff_t)d * (std::ptrdiff_t)sourceRowStride;
            for (int32_t j = halfWidth; j >= 1; --j) {
                CopyPixels(from - Min(j, leftMargin) * step, 1, left);
                left += components;
            }
            for (int32_t j = 1; j <= halfWidth; ++j) {
                CopyPixels(from + ((int32_t)width - 1 + Min(j, rightMargin)) * step, 1, right);
                right += components;
            }
        }
    }

    for (int32_t k = 1; k <= bottomRowCount; ++k)
        CopyRow(bandStart, Min(hh + innerRows + k, lowest),
                bottomRows + (size_t)(k - 1) * rowBytes);
    return 1;
}

int CWindowSlice::AdvanceRow(const uint8_t* nextRow) {
    if (!windowReady || advanceCount >= advanceLimit) return 0;
    ringHead = ringHead->next;
    ringCentre = ringCentre->next;
    ringTail = ringTail->next;
    for (int32_t k = 0; k < windowHeight; ++k)
        rowRing[k].cursor = rowRing[k].start;
    columnHead = &columnRing[0];
    ++advanceCount;

    uint8_t* row = ringTail->start;
    if (advanceCount <= innerRows) {
        const size_t sideBytes = (size_t)halfWidth * components;
        if (sideBytes > 0) {
            std::memcpy(row, leftEdgeCursor, sideBytes);
            std::memcpy(row + sideBytes + (size_t)width * components, rightEdgeCursor, sideBytes);
            leftEdgeCursor += sideBytes;
            rightEdgeCursor += sideBytes;
        }
        CopyPixels(nextRow + (std::ptrdiff_t)halfHeight * (std::ptrdiff_t)sourceRowStride, width,
                   row + sideBytes);
    } else {
        std::memcpy(row, bottomRows + (size_t)(advanceCount - innerRows - 1) * rowBytes, rowBytes);
    }
    return 1;
}

// ------------------------------------------------------- window band job

int CWindowBandJob::InitSlice(int i) {
    if (!CRowBandJob::InitSlice(i)) return 0;
    CWindowSlice* slice = dynamic_cast<CWindowSlice*>(slices[i - 1]);
    if (!slice) {
        slices[i - 1]->ready = 0;
        return 0;
    }
    slice->ready = 0;
    SIZE size;
    size.cx = kernelWidth;
    size.cy = kernelHeight;
    if (!slice->PrepareWindow(windowSource, size)) return 0;
    slice->ready = 1;
    return 1;
}

CJobSlice* CWindowBandJob::CreateSlice() {
    return new CWindowSlice(&mutex);
}
