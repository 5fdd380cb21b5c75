// The "Shadows" and "Lights" views: paint where the foreground image is
// darker or lighter than the clean backing, from the shading ratio.
#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/shading.h"

static inline void Paint(uint8_t* out, uint8_t red, uint8_t green, uint8_t blue) {
    out[0] = red;
    out[1] = green;
    out[2] = blue;
}

// Walks the band of one slice and paints every pixel with the view's colour
// for its key-in value, shading ratio and matte.
template <typename PaintRatio>
static int ViewWorker(CJobSlice* slice, uint8_t neutral, PaintRatio paintRatio) {
    if (!slice->ready) return 0;
    CKeyer* keyer = static_cast<CKeyer*>(slice->context);
    ShadingLimits limits;
    if (!keyer->ComputeShadingLimits(limits)) return 0;
    const int32_t dominant = keyer->channelOrder[0];
    const int32_t smallest = keyer->channelOrder[2];

    const uint16_t x0 = uint16_t(slice->x);
    const uint16_t y0 = uint16_t(slice->y);
    const uint16_t w = slice->width;
    const float* smoothed = keyer->smoothBgShadow ? keyer->shadingBuffer : nullptr;
    ConstBandCursor fg(keyer->foregroundImage, slice);
    ConstBandCursor matte(keyer->matteImage, slice);
    BandCursor out(keyer->outputImage, slice);
    ConstBandCursor keyIn(keyer->hasKeyIn ? keyer->keyInMatte : nullptr, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const float* ratioRow = SmoothedRatioRow(smoothed, keyer->width, x0, y0 + row);
        for (int32_t col = 0; col < w; ++col) {
            if (keyIn.p && *keyIn == 255) {
                Paint(out.p, neutral, neutral, neutral);
            } else {
                const double r = ratioRow ? double(ratioRow[col])
                                          : ShadingRatioOfBytes(limits, fg.p, dominant, smallest);
                paintRatio(out.p, r, *matte);
            }
            fg.Next();
            matte.Next();
            out.Next();
            keyIn.Next();
        }
        fg.NextRow();
        matte.NextRow();
        out.NextRow();
        keyIn.NextRow();
    }
    return 1;
}

static int ShadowsWorker(CJobSlice* slice) {
    return ViewWorker(slice, 255, [](uint8_t* out, double r, uint8_t m) {
        if (r < 1) {
            if (m != 0) {
                const uint8_t v = ClampToByte(255 * r);
                Paint(out, v, v, v);
            } else {
                const double r2 = r * r;
                const uint8_t v = ClampToByte(255 * (r2 * r2));
                Paint(out, v, v, 255);
            }
        } else {
            Paint(out, 255, 255, 255);
        }
    });
}

static int LightsWorker(CJobSlice* slice) {
    return ViewWorker(slice, 100, [](uint8_t* out, double r, uint8_t m) {
        if (r > 1) {
            const double g = (r - 1) * 255;
            if (m != 0) {
                const uint8_t up = ClampToByte(100 + g);
                Paint(out, up, up, ClampToByte(100 - g));
            } else {
                const uint8_t up = ClampToByte(100 + 4 * g);
                Paint(out, up, ClampToByte(100 - 4 * g), up);
            }
        } else {
            Paint(out, 100, 100, 100);
        }
    });
}

// Shared dispatch: brings the background correction and the separation chain
// up to date, then paints the band (or only the neutral crop rectangle when
// the band is empty).
static int RenderShadingView(CKeyer* keyer, WorkerProcedure worker, uint8_t neutral) {
    if (keyer->bgCorrectionDirty) keyer->CorrectBackground(nullptr);
    if (keyer->separationDirty) keyer->RunSeparationChain();

    RECT band = keyer->BandRect();
    if (IsRectEmpty(&band)) {
        const uint8_t colour[3] = {neutral, neutral, neutral};
        return keyer->outputImage->FillRect(&keyer->cropRect, colour, 0, 0);
    }
    if (keyer->smoothBgShadow && !keyer->SmoothShadingRatio()) return 0;

    if (!keyer->RunRowBands(worker, keyer, &band)) return 0;
    keyer->compositeDirty = 1;
    return 1;
}

int CKeyer::RenderShadowsView() {
    return RenderShadingView(this, ShadowsWorker, 255);
}

int CKeyer::RenderLightsView() {
    return RenderShadingView(this, LightsWorker, 100);
}
