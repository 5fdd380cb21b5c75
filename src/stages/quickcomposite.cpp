// Quick composite for draft renders: a hard switch between foreground and
// background by the separation mask alone, with the key-in layer as hold-out.
// Each worker separates a row and keys it at once, while it is in the cache.
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/separation.h"

namespace {

int QuickCompositeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const SliceSeparation separation(keyer, slice);
    const ConstBandRows matte(keyer->matteImage, slice);
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const ConstBandRows bg(keyer->backgroundImage, slice);
    const BandRows out(keyer->outputImage, slice);
    const ConstBandRows keyIn(keyer->KeyInLayer(), slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        // A slice that cannot be separated keys by the matte as it was.
        if (separation.Valid()) separation.Row(row);
        const uint8_t* m = matte.Row(row);
        const uint8_t* f = fg.Row(row);
        const uint8_t* b = bg.Row(row);
        const uint8_t* k = keyIn.Row(row);
        uint8_t* o = out.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, o += out.step) {
            const bool foreground = m[x * matte.step] != 0 && (!k || k[x * keyIn.step] == 0);
            const uint8_t* src = foreground ? f + x * fg.step : b + x * bg.step;
            o[0] = src[0];
            o[1] = src[1];
            o[2] = src[2];
        }
    }
    return 1;
}

} // namespace

int CKeyer::RenderQuickComposite() {
    RECT band = BandRect();
    const bool layers = matteImage && foregroundImage && backgroundImage && outputImage &&
                        (!hasKeyIn || keyInMatte);
    // Without its layers, or with nothing to key, the separation runs on its own.
    if (!layers || IsRectEmpty(&band)) {
        if (!Separate() || !layers) return 0;
        if (cropEnabled) outputImage->CopyRect(backgroundImage, &cropRect, 0, 0);
        return 1;
    }

    if (!RunRowBands(QuickCompositeWorker, this, &band)) return 0;

    // The matte holds only the separation mask.
    InvalidateMatte();
    return 1;
}
