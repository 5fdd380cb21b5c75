// Underlay smoothing: every foreground pixel of the underlay becomes the mean
// of its 7 x 7 neighbourhood, drawn toward the corrected background where the
// foreground is only partly opaque. Written in place; the window slices hold
// the pre-pass values of every neighbour they read.
#include "bands/bandjob.h"
#include "bands/windowslice.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

static int SmoothUnderlayWorker(CJobSlice* jobSlice) {
    if (!jobSlice->ready) return 0;
    CWindowSlice* slice = static_cast<CWindowSlice*>(jobSlice);
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const uint16_t w = slice->width;
    const double inverseArea = slice->inverseArea;
    const uint32_t* sums = slice->windowSums;
    ConstBandCursor matte(keyer->matteImage, slice);
    BandCursor under(keyer->underlayImage, slice);
    ConstBandCursor bg(keyer->correctedBackground, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        for (int32_t col = 0; col < w; ++col) {
            if (col == 0)
                slice->StartRow();
            else
                slice->StepColumn();
            const uint8_t m = *matte;
            if (m != 0) {
                // Window means rounded half up; sums[] are red, green, blue.
                const uint8_t red = uint8_t(uint32_t(sums[0] * inverseArea + 0.5));
                const uint8_t green = uint8_t(uint32_t(sums[1] * inverseArea + 0.5));
                const uint8_t blue = uint8_t(uint32_t(sums[2] * inverseArea + 0.5));
                if (m == 255) {
                    under[2] = blue;
                    under[1] = green;
                    under[0] = red;
                } else {
                    const double t = m * (-1.0 / 255) + 1.0;
                    const double xb = (bg[2] - double(blue)) * t + blue;
                    const double xg = (bg[1] - double(green)) * t + green;
                    const double xr = (bg[0] - double(red)) * t + red;
                    under[2] = ClampToByte(xb);
                    under[1] = ClampToByte(xg);
                    under[0] = ClampToByte(xr);
                }
            }
            matte.Next();
            under.Next();
            bg.Next();
        }
        matte.NextRow();
        under.NextRow();
        bg.NextRow();
        // The window takes its next bottom row relative to the next row's start.
        if (!slice->AdvanceRow(under.p)) break;
    }
    return 1;
}

int CKeyer::SmoothUnderlay() {
    RECT band = BandRect();
    if (IsRectEmpty(&band)) return 1;

    if (!RunWindowBands(SmoothUnderlayWorker, this, &band, underlayImage, 7, 7)) return 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
