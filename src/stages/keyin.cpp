// Key-in combination: takes the key-in layer's matte out of the foreground
// matte (a hold-out for every view) and, in a key-out mode, writes the
// key-out matte that combines the two as the mode asks.
#include <algorithm>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"

namespace {

int CombineKeyInWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const int32_t mode = keyer->keyInMode;
    const bool hasKeyIn = keyer->hasKeyIn != 0;
    // Modes other than the three key-out modes write no key-out matte.
    const bool keyOut = mode >= kKeyInPlusFg && mode <= kFgMinusKeyIn;

    const uint16_t x = (uint16_t)slice->x;
    const uint16_t y = (uint16_t)slice->y;
    const uint16_t width = slice->width;
    const CImageBaseClass* matte = keyer->matteImage;
    uint8_t* dst = matte->PixelAddress(x, y);
    const int32_t dstAdvance = matte->RowAdvance(width);
    const uint32_t dstStep = matte->pixelStep;

    const uint8_t* in = nullptr;
    int32_t inAdvance = 0;
    uint32_t inStep = 0;
    if (hasKeyIn) {
        in = keyer->keyInMatte->PixelAddress(x, y);
        inAdvance = keyer->keyInMatte->RowAdvance(width);
        inStep = keyer->keyInMatte->pixelStep;
    }
    uint8_t* out = nullptr;
    int32_t outAdvance = 0;
    uint32_t outStep = 0;
    if (keyOut) {
        out = keyer->keyOutMatte->PixelAddress(x, y);
        outAdvance = keyer->keyOutMatte->RowAdvance(width);
        outStep = keyer->keyOutMatte->pixelStep;
    }

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            const int a = *dst;
            const int k = hasKeyIn ? *in : 0;
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
                *dst = (uint8_t)reduced;
            }
            if (keyOut) {
                int o;
                if (!hasKeyIn || mode == kFgMinusKeyIn)
                    o = reduced;
                else if (mode == kKeyInPlusFg)
                    o = std::max(a, k);
                else
                    o = std::max(k - a, 0);
                *out = (uint8_t)o;
                out += outStep;
            }
            dst += dstStep;
            in += inStep;
        }
        dst += dstAdvance;
        in += inAdvance;
        out += outAdvance;
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
            CRowBandJob job(0);
            SIZE size;
            size.cx = width;
            size.cy = height;
            job.SetArea(&size, &area);
            job.SetProcedure(CombineKeyInWorker, this);
            if (!job.Run(1)) return 0;
        }
    }
    separationDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;
    keyInDirty = 0;
    return 1;
}
