// Quick composite for draft renders: a hard switch between foreground and
// background by the separation mask alone, with the key-in layer as hold-out.
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

int QuickCompositeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const bool hasKeyIn = keyer->hasKeyIn != 0;

    const uint16_t width = slice->width;
    ConstBandCursor matte(keyer->matteImage, slice);
    ConstBandCursor fg(keyer->foregroundImage, slice);
    ConstBandCursor bg(keyer->backgroundImage, slice);
    BandCursor out(keyer->outputImage, slice);
    ConstBandCursor keyIn(hasKeyIn ? keyer->keyInMatte : nullptr, slice);

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            const uint8_t k = hasKeyIn ? *keyIn : 0;
            const uint8_t* src = (*matte != 0 && k == 0) ? fg.p : bg.p;
            out[0] = src[0];
            out[1] = src[1];
            out[2] = src[2];
            matte.Next();
            fg.Next();
            bg.Next();
            out.Next();
            keyIn.Next();
        }
        matte.NextRow();
        fg.NextRow();
        bg.NextRow();
        out.NextRow();
        keyIn.NextRow();
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

    if (!RunRowBands(QuickCompositeWorker, this, &band)) return 0;

    // The matte holds only the separation mask.
    separationDirty = 1;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
