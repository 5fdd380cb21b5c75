// Key-in combination: takes the key-in layer's matte out of the foreground
// matte (a hold-out for every view) and, in a key-out mode, writes the
// key-out matte that combines the two as the mode asks.
#include <algorithm>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

int CombineKeyInWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const int32_t mode = keyer->keyInMode;
    const bool hasKeyIn = keyer->hasKeyIn != 0;
    // Modes other than the three key-out modes write no key-out matte.
    const bool keyOut = mode >= kKeyInPlusFg && mode <= kFgMinusKeyIn;

    const BandRows matte(keyer->matteImage, slice);
    const ConstBandRows keyIn(keyer->KeyInLayer(), slice);
    const BandRows keyOutMatte(keyOut ? keyer->keyOutMatte : nullptr, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        uint8_t* dst = matte.Row(row);
        const uint8_t* in = keyIn.Row(row);
        uint8_t* out = keyOutMatte.Row(row);
        for (int32_t x = 0; x < slice->width; ++x) {
            uint8_t& m = dst[x * matte.step];
            const int a = m;
            const int k = hasKeyIn ? in[x * keyIn.step] : 0;
            int reduced = a;
            if (hasKeyIn && a != 0) {
                if (k == 255)
                    reduced = 0;
                else if (k == 0)
                    reduced = a;
                else if (a == 255)
                    reduced = 255; // an opaque foreground pixel stays opaque
                else
                    reduced = std::max(a - k, 0);
                m = (uint8_t)reduced;
            }
            if (keyOut) {
                int o;
                if (!hasKeyIn || mode == kFgMinusKeyIn)
                    o = reduced;
                else if (mode == kKeyInPlusFg)
                    o = std::max(a, k);
                else
                    o = std::max(k - a, 0);
                out[x * keyOutMatte.step] = (uint8_t)o;
            }
        }
    }
    return 1;
}

} // namespace

void CKeyer::SetKeyInMode(int32_t mode) {
    keyInMode = mode;
    keyInDirty = 1;
}

int CKeyer::CombineKeyIn() {
    if (hasKeyIn || keyInMode != kNoKeyOut) {
        const bool keyOut = keyInMode >= kKeyInPlusFg && keyInMode <= kFgMinusKeyIn;
        if (!matteImage || (hasKeyIn && !keyInMatte) || (keyOut && !keyOutMatte)) return 0;

        // The crop rectangle is taken with its right column and bottom row
        // included, clipped to the frame.
        RECT area;
        if (cropEnabled)
            area = cropRect;
        else
            SetRect(&area, 0, 0, width - 1, height - 1);
        if (area.right < area.left) std::swap(area.left, area.right);
        if (area.bottom < area.top) std::swap(area.top, area.bottom);
        const bool hasPixels =
            std::max<int32_t>(area.left, 0) <= std::min<int32_t>(area.right, width - 1) &&
            std::max<int32_t>(area.top, 0) <= std::min<int32_t>(area.bottom, height - 1);
        // A crop rectangle wholly outside the frame leaves nothing to combine.
        if (hasPixels) {
            if (!RunRowBands(CombineKeyInWorker, this, &area)) return 0;
        }
    }
    separationDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;
    keyInDirty = 0;
    return 1;
}
