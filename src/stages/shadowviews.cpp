// The "Shadows" and "Lights" views: paint where the foreground image is
// darker or lighter than the clean backing, from the shading ratio.
#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/shading.h"

// Walks the band of one slice and paints every pixel with the view's colour
// for its key-in value, shading ratio and matte.
template <typename PaintRatio>
static int ViewWorker(CJobSlice* slice, uint8_t neutral, PaintRatio paintRatio) {
    if (!slice->ready) return 0;
    CKeyer* keyer = static_cast<CKeyer*>(slice->context);
    ShadingLimits limits;
    if (!keyer->ComputeShadingLimits(limits)) return 0;
    ShadingRatioTable shading;
    shading.Build(limits, keyer->channelOrder[0], keyer->channelOrder[2]);

    const float* smoothed = keyer->smoothBgShadow ? keyer->shadingBuffer : nullptr;
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const ConstBandRows matte(keyer->matteImage, slice);
    const BandRows out(keyer->outputImage, slice);
    const ConstBandRows keyIn(keyer->KeyInLayer(), slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const float* ratio = SmoothedRatioRow(smoothed, keyer->width, slice->x, slice->y + row);
        const uint8_t* f = fg.Row(row);
        const uint8_t* m = matte.Row(row);
        const uint8_t* k = keyIn.Row(row);
        uint8_t* o = out.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, o += out.step) {
            if (k && k[x * keyIn.step] == 255) {
                PaintRgb(o, neutral, neutral, neutral);
            } else {
                const double r = ratio ? double(ratio[x]) : shading.RatioOfBytes(f + x * fg.step);
                paintRatio(o, r, m[x * matte.step]);
            }
        }
    }
    return 1;
}

static int ShadowsWorker(CJobSlice* slice) {
    return ViewWorker(slice, 255, [](uint8_t* out, double r, uint8_t m) {
        if (r < 1) {
            if (m != 0) {
                const uint8_t v = ClampToByte(255 * r);
                PaintRgb(out, v, v, v);
            } else {
                const double r2 = r * r;
                const uint8_t v = ClampToByte(255 * (r2 * r2));
                PaintRgb(out, v, v, 255);
            }
        } else {
            PaintRgb(out, 255, 255, 255);
        }
    });
}

static int LightsWorker(CJobSlice* slice) {
    return ViewWorker(slice, 100, [](uint8_t* out, double r, uint8_t m) {
        if (r > 1) {
            const double g = (r - 1) * 255;
            if (m != 0) {
                const uint8_t up = ClampToByte(100 + g);
                PaintRgb(out, up, up, ClampToByte(100 - g));
            } else {
                const uint8_t up = ClampToByte(100 + 4 * g);
                PaintRgb(out, up, ClampToByte(100 - 4 * g), up);
            }
        } else {
            PaintRgb(out, 100, 100, 100);
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
