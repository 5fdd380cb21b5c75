// Separation and transparency views: show the matte right after the
// separation (four ways of painting foreground and backing) or after the
// whole separation chain (black = opaque, cyan-grey = partly transparent,
// the backing's blue = transparent).
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

enum SeparationViewIndex {
    kViewFgOnBg = 0,
    kViewBlackOnGray = 1,
    kViewBlackOnBg = 2,
    kViewFgOnBlack = 3,
};

int SeparationViewWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const int32_t view = keyer->separationView;
    if (view < kViewFgOnBg || view > kViewFgOnBlack) return 1; // nothing to show

    const ConstBandRows matte(keyer->matteImage, slice);
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const ConstBandRows bg(keyer->backgroundImage, slice);
    const BandRows out(keyer->outputImage, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* m = matte.Row(row);
        const uint8_t* f = fg.Row(row);
        const uint8_t* b = bg.Row(row);
        uint8_t* o = out.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, o += out.step) {
            const bool foreground = m[x * matte.step] != 0;
            const uint8_t* fgPixel = f + x * fg.step;
            const uint8_t* bgPixel = b + x * bg.step;
            switch (view) {
            case kViewFgOnBg:
                CopyRgb(o, foreground ? fgPixel : bgPixel);
                break;
            case kViewBlackOnGray:
                if (foreground)
                    PaintRgb(o, 0, 0, 0);
                else
                    PaintRgb(o, 160, 160, 160);
                break;
            case kViewBlackOnBg:
                if (foreground)
                    PaintRgb(o, 0, 0, 0);
                else
                    CopyRgb(o, bgPixel);
                break;
            default:
                if (foreground)
                    CopyRgb(o, fgPixel);
                else
                    PaintRgb(o, 0, 0, 0);
                break;
            }
        }
    }
    return 1;
}

int TransparencyViewWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    // The backing colour's blue, truncated to a byte.
    const double backingBlue = keyer->defaultParams.separationColor[2];
    const uint8_t blue = ClampToByte(backingBlue);

    const ConstBandRows matte(keyer->matteImage, slice);
    const BandRows out(keyer->outputImage, slice);
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* m = matte.Row(row);
        uint8_t* o = out.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, o += out.step) {
            const uint8_t a = m[x * matte.step];
            if (a != 0) {
                const uint8_t level = (uint8_t)(255 - a);
                PaintRgb(o, 0, level, level);
            } else {
                PaintRgb(o, 0, 0, blue);
            }
        }
    }
    return 1;
}

} // namespace

int CKeyer::RenderSeparationView() {
    if (bgCorrectionDirty) CorrectBackground(nullptr);
    Separate();
    if (!matteImage || !foregroundImage || !backgroundImage || !outputImage) return 0;
    RECT band = BandRect();
    if (!RunRowBands(SeparationViewWorker, this, &band)) return 0;
    // The matte now holds only the separation mask.
    separationDirty = 1;
    keyInDirty = 1;
    return 1;
}

int CKeyer::RenderTransparencyView() {
    RunSeparationChain();
    if (!matteImage || !outputImage) return 0;
    RECT band = BandRect();
    if (!RunRowBands(TransparencyViewWorker, this, &band)) return 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
