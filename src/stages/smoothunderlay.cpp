// Underlay smoothing: every foreground pixel of the underlay becomes the mean
// of its 7 x 7 neighbourhood, drawn toward the corrected background where the
// foreground is only partly opaque. Written in place; the window slices hold
// the pre-pass values of every neighbour they read.
//
// The 49 bytes of a channel sum to at most 12 495, so the sums fit in 16 bits
// and are exact in any order: the fast worker sums whole rows at once (the
// seven ring rows into column sums kept up to date row by row, then seven
// column sums per pixel) and reads the byte means from a table filled with
// the expression the window walk uses. The window walk stays as the
// straightforward form, for windows of other shapes and for comparison.
#include <memory>
#include <new>
#include <vector>

#include "bands/bandjob.h"
#include "bands/windowslice.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

constexpr int32_t kWindow = 7;
constexpr uint32_t kLargestSum = kWindow * kWindow * 255;

// The new underlay bytes (red, green, blue at p) of a foreground pixel with
// matte m, from the window means; bg is the corrected background pixel.
inline void SmoothPixel(uint8_t* p, const uint8_t* bg, uint8_t m, uint8_t red, uint8_t green,
                        uint8_t blue) {
    if (m == 255) {
        p[2] = blue;
        p[1] = green;
        p[0] = red;
        return;
    }
    const double t = m * (-1.0 / 255) + 1.0;
    const double xb = (bg[2] - double(blue)) * t + blue;
    const double xg = (bg[1] - double(green)) * t + green;
    const double xr = (bg[0] - double(red)) * t + red;
    p[2] = ClampToByte(xb);
    p[1] = ClampToByte(xg);
    p[0] = ClampToByte(xr);
}

// Window means rounded half up; sums[] are red, green, blue.
inline uint8_t WindowMean(uint32_t sum, double inverseArea) {
    return uint8_t(uint32_t(sum * inverseArea + 0.5));
}

// The slice's rows of the three layers a worker reads or writes.
struct Layers {
    Layers(const CKeyer* keyer, const CJobSlice* slice)
        : matte(keyer->matteImage, slice), under(keyer->underlayImage, slice),
          bg(keyer->correctedBackground, slice) {}
    ConstBandRows matte;
    BandRows under;
    ConstBandRows bg;
};

int SmoothUnderlayWindowWorker(CJobSlice* jobSlice) {
    if (!jobSlice->ready) return 0;
    CWindowSlice* slice = static_cast<CWindowSlice*>(jobSlice);
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const uint16_t w = slice->width;
    const double inverseArea = slice->inverseArea;
    const uint32_t* sums = slice->windowSums;
    const Layers layers(keyer, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* matte = layers.matte.Row(row);
        uint8_t* under = layers.under.Row(row);
        const uint8_t* bg = layers.bg.Row(row);
        for (int32_t col = 0; col < w;
             ++col, matte += layers.matte.step, under += layers.under.step, bg += layers.bg.step) {
            if (col == 0)
                slice->StartRow();
            else
                slice->StepColumn();
            if (*matte != 0)
                SmoothPixel(under, bg, *matte, WindowMean(sums[0], inverseArea),
                            WindowMean(sums[1], inverseArea), WindowMean(sums[2], inverseArea));
        }
        // The window takes its next bottom row relative to the next row's start.
        if (!slice->AdvanceRow(layers.under.Row(row + 1))) break;
    }
    return 1;
}

// Whole-row sums over the slice's ring of seven padded rows of three bytes
// per pixel.
struct RowSums {
    std::vector<uint16_t> columns; // per padded byte: the sum of the seven ring rows
    std::vector<uint16_t> window;  // per output byte: the sum of seven columns
    uint8_t mean[kLargestSum + 1]; // byte mean of every possible window sum

    RowSums(const CWindowSlice& slice)
        : columns(slice.rowBytes, 0), window(size_t(slice.width) * 3, 0) {
        for (uint32_t s = 0; s <= kLargestSum; ++s)
            mean[s] = WindowMean(s, slice.inverseArea);
    }

    template <int Sign> void AddRow(const uint8_t* row) {
        uint16_t* c = columns.data();
        const size_t n = columns.size();
        for (size_t i = 0; i < n; ++i)
            c[i] = uint16_t(c[i] + Sign * row[i]);
    }

    void SumWindows() {
        const uint16_t* c = columns.data();
        uint16_t* s = window.data();
        const size_t n = window.size();
        for (size_t i = 0; i < n; ++i)
            s[i] =
                uint16_t(c[i] + c[i + 3] + c[i + 6] + c[i + 9] + c[i + 12] + c[i + 15] + c[i + 18]);
    }
};

// The fast form for a 7 x 7 window over three bytes per pixel. The column
// sums follow the ring: the row leaving at the top is taken out before the
// window moves, the row entering at the bottom added after.
int SmoothUnderlayRowWorker(CJobSlice* jobSlice) {
    if (!jobSlice->ready) return 0;
    CWindowSlice* slice = static_cast<CWindowSlice*>(jobSlice);
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    std::unique_ptr<RowSums> sums;
    try {
        sums.reset(new RowSums(*slice));
    } catch (const std::bad_alloc&) {
        // No room for the row sums: the window walk needs none.
        return SmoothUnderlayWindowWorker(jobSlice);
    }
    const uint16_t w = slice->width;
    const uint8_t* mean = sums->mean;
    const Layers layers(keyer, slice);

    const WindowRow* ring = slice->ringHead;
    for (int32_t k = 0; k < kWindow; ++k, ring = ring->next)
        sums->AddRow<1>(ring->start);

    for (int32_t row = 0; row < slice->rows; ++row) {
        sums->SumWindows();
        const uint16_t* s = sums->window.data();
        const uint8_t* matte = layers.matte.Row(row);
        uint8_t* under = layers.under.Row(row);
        const uint8_t* bg = layers.bg.Row(row);
        for (int32_t x = 0; x < w; ++x, s += 3, matte += layers.matte.step,
                     under += layers.under.step, bg += layers.bg.step)
            if (*matte != 0) SmoothPixel(under, bg, *matte, mean[s[0]], mean[s[1]], mean[s[2]]);
        sums->AddRow<-1>(slice->ringHead->start);
        if (!slice->AdvanceRow(layers.under.Row(row + 1))) break;
        sums->AddRow<1>(slice->ringTail->start);
    }
    return 1;
}

} // namespace

int CKeyer::SmoothUnderlay() {
    RECT band = BandRect();
    if (IsRectEmpty(&band)) return 1;

    const bool rowSums =
        !straightforward && underlayImage->componentCount == 3 && underlayImage->bytesPerPixel == 3;
    WorkerProcedure worker = rowSums ? SmoothUnderlayRowWorker : SmoothUnderlayWindowWorker;
    if (!RunWindowBands(worker, this, &band, underlayImage, kWindow, kWindow)) return 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
