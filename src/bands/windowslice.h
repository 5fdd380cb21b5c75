// CWindowSlice: a band slice with a sliding neighbourhood window of an odd
// number of columns and rows over one source image. The window's rows live
// in a ring, each window column keeps a running sum per component and
// windowSums their total, so that moving the window by one pixel or one row
// costs one column or one row.
//
// Preparation (on the launching thread, before any worker starts) copies every
// pixel the window will need from outside the band's own rows: the rows above
// and below the band and the pixels beside it. A worker may therefore write
// its results into the source in place.
#pragma once

#include <cstdint>

#include "bands/bandjob.h"

struct WindowRow {
    uint8_t* start;
    uint8_t* cursor; // read position within the row
    WindowRow* next; // the next row downwards; the last points back to the first
};

struct WindowColumn {
    uint32_t* sums;     // one running sum per component
    WindowColumn* next; // the column to the right; the last points back to the first
};

class CWindowSlice : public CJobSlice {
  public:
    explicit CWindowSlice(JobHandle* mutexRef);
    ~CWindowSlice() override;

    // Prepares the window of size (columns, rows) over source for the band
    // geometry already set; 1 success, 0 failure. Fails when the window is
    // already prepared (and frees it), for a null source, a source whose
    // componentStep is not 1, a window size that is not odd and positive or is
    // 1 x 1, an empty band, a window row too long for memory, and memory
    // exhaustion.
    int PrepareWindow(CImageBaseClass* image, SIZE size);
    void FreeWindow();

    // At the first pixel of an output row: sums the whole window.
    void StartRow() {
        for (uint16_t c = 0; c < components; ++c)
            windowSums[c] = 0;
        for (int32_t i = 0; i < windowWidth; ++i) {
            LoadColumn(columnHead);
            for (uint16_t c = 0; c < components; ++c)
                windowSums[c] += columnHead->sums[c];
            columnHead = columnHead->next;
        }
    }

    // For every following pixel: the leftmost column leaves the window and the
    // column under the row cursors enters it on the right.
    void StepColumn() {
        WindowColumn* column = columnHead;
        for (uint16_t c = 0; c < components; ++c)
            windowSums[c] -= column->sums[c];
        LoadColumn(column);
        for (uint16_t c = 0; c < components; ++c)
            windowSums[c] += column->sums[c];
        columnHead = column->next;
    }

    // At the end of an output row, with the address of the next output row's
    // first pixel in the source: moves the window down one row. 0 once it
    // has moved as far as the band allows.
    int AdvanceRow(const uint8_t* nextRow);

    uint32_t contiguous;
    CImageBaseClass* source;
    uint8_t* windowRows;
    uint8_t* leftEdges;
    uint8_t* rightEdges;
    uint8_t* bottomRows;
    uint8_t* leftEdgeCursor;
    uint8_t* rightEdgeCursor;
    // 32 bits: a row of a band 65 535 pixels wide does not fit in 16.
    uint32_t rowBytes;
    int32_t windowWidth;
    int32_t windowHeight;
    uint16_t halfWidth;
    uint16_t halfHeight;
    uint16_t innerRows;
    uint16_t bottomRowCount;
    uint16_t advanceLimit;
    uint16_t advanceCount;
    uint16_t components;
    WindowRow* rowRing;
    WindowRow* ringHead;
    WindowRow* ringCentre;
    WindowRow* ringTail;
    WindowColumn* columnRing;
    WindowColumn* columnHead;
    uint32_t* windowSums;
    double inverseArea;
    uint32_t sourceRowGap;
    uint32_t sourceRowStride;
    uint32_t sourcePixelStep;
    uint32_t sourceComponentStep;
    uint16_t sourceComponentCount;
    uint32_t windowReady;

  private:
    // Clears the column's sums and adds the pixel under each row cursor,
    // moving every cursor on by one pixel.
    void LoadColumn(WindowColumn* column) {
        uint32_t* sums = column->sums;
        for (uint16_t c = 0; c < components; ++c)
            sums[c] = 0;
        WindowRow* row = ringHead;
        for (int32_t r = 0; r < windowHeight; ++r) {
            const uint8_t* pixel = row->cursor;
            for (uint16_t c = 0; c < components; ++c)
                sums[c] += pixel[c];
            row->cursor += components;
            row = row->next;
        }
    }

    int LoadWindow();
    // Copies the row at image offset `offset` from the band's first row into
    // a window row: middle part and side pixels.
    void CopyRow(const uint8_t* bandStart, int32_t offset, uint8_t* row) const;
    void CopyPixels(const uint8_t* from, uint32_t count, uint8_t* to) const;
};
