// Quick composite for draft renders: a hard switch between foreground and
// background by the separation mask alone, with the key-in layer as hold-out.
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"

namespace {

int QuickCompositeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const bool hasKeyIn = keyer->hasKeyIn != 0;

    const uint16_t x = (uint16_t)slice->x;
    const uint16_t y = (uint16_t)slice->y;
    const uint16_t width = slice->width;
    const CImageBaseClass* matteImage = keyer->matteImage;
    const CImageBaseClass* fgImage = keyer->foregroundImage;
    const CImageBaseClass* bgImage = keyer->backgroundImage;
    const CImageBaseClass* outImage = keyer->outputImage;
    const uint8_t* matte = matteImage->PixelAddress(x, y);
    const int32_t matteAdvance = matteImage->RowAdvance(width);
    const uint32_t matteStep = matteImage->pixelStep;
    const uint8_t* fg = fgImage->PixelAddress(x, y);
    const int32_t fgAdvance = fgImage->RowAdvance(width);
    const uint32_t fgStep = fgImage->pixelStep;
    const uint8_t* bg = bgImage->PixelAddress(x, y);
    const int32_t bgAdvance = bgImage->RowAdvance(width);
    const uint32_t bgStep = bgImage->pixelStep;
    uint8_t* out = outImage->PixelAddress(x, y);
    const int32_t outAdvance = outImage->RowAdvance(width);
    const uint32_t outStep = outImage->pixelStep;
    const uint8_t* keyIn = nullptr;
    int32_t keyInAdvance = 0;
    uint32_t keyInStep = 0;
    if (hasKeyIn) {
        keyIn = keyer->keyInMatte->PixelAddress(x, y);
        keyInAdvance = keyer->keyInMatte->RowAdvance(width);
        keyInStep = keyer->keyInMatte->pixelStep;
    }

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            const uint8_t k = hasKeyIn ? *keyIn : 0;
            const uint8_t* src = (*matte != 0 && k == 0) ? fg : bg;
            out[0] = src[0];
            out[1] = src[1];
            out[2] = src[2];
            matte += matteStep;
            fg += fgStep;
            bg += bgStep;
            out += outStep;
            keyIn += keyInStep;
        }
        matte += matteAdvance;
        fg += fgAdvance;
        bg += bgAdvance;
        out += outAdvance;
        keyIn += keyInAdvance;
    }
    return 1;
}

} // namespace

int CKeyer::RenderQuickComposite() {
    if (!Separate()) return 0;
    if (!matteImage || !foregroundImage || !backgroundImage || !outputImage) return 0;
    if (hasKeyIn && !keyInMatte) return 0;

    RECT band = BandRect();
    if (IsRectEmpty(&band)) {
        if (cropEnabled) outputImage->CopyRect(backgroundImage, &cropRect, 0, 0);
        return 1;
    }

    CRowBandJob job(0);
    SIZE size;
    size.cx = width;
    size.cy = height;
    job.SetArea(&size, &band);
    job.SetProcedure(QuickCompositeWorker, this);
    if (!job.Run(1)) return 0;

    // The matte holds only the separation mask.
    separationDirty = 1;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
