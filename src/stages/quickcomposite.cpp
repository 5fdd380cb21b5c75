// Quick composite for draft renders: a hard switch between foreground and
// background by the separation mask alone, with the key-in layer as hold-out.
// Each worker separates a row and keys it at once, while it is in the cache.
#include <cstdint>
#include <emmintrin.h>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/separation.h"

namespace {

// Whether the image is a frame of four-byte pixels seen from byte 1, so that
// a pixel's colour bytes follow its alpha.
bool ColourOfFourBytePixels(const CImageBaseClass* image) {
    return image->pixelStep == 4 && image->componentOffset == 1;
}

// Whether the pixel shows the foreground: separated as foreground and not
// held out by the key-in layer.
inline bool ShowsForeground(const uint8_t* m, const uint8_t* k, uint32_t kStep, int32_t x) {
    return m[x] != 0 && (!k || k[x * kStep] == 0);
}

// Keys one row of four-byte pixels (a matte of one byte per pixel) four
// pixels at a time: each output pixel keeps its alpha byte and takes the
// colour bytes of the chosen pixel.
void KeyWholePixels(const uint8_t* m, const uint8_t* f, const uint8_t* b, const uint8_t* k,
                    uint32_t kStep, uint8_t* o, int32_t width) {
    const uint8_t alphaBytes[16] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    const __m128i alpha = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphaBytes));
    int32_t x = 0;
    for (; x + 3 < width; x += 4) {
        const __m128i pick = _mm_set_epi32(
            -int(ShowsForeground(m, k, kStep, x + 3)), -int(ShowsForeground(m, k, kStep, x + 2)),
            -int(ShowsForeground(m, k, kStep, x + 1)), -int(ShowsForeground(m, k, kStep, x)));
        const __m128i* fp = reinterpret_cast<const __m128i*>(f + x * 4 - 1);
        const __m128i* bp = reinterpret_cast<const __m128i*>(b + x * 4 - 1);
        __m128i* op = reinterpret_cast<__m128i*>(o + x * 4 - 1);
        const __m128i colour = _mm_or_si128(_mm_and_si128(pick, _mm_loadu_si128(fp)),
                                            _mm_andnot_si128(pick, _mm_loadu_si128(bp)));
        _mm_storeu_si128(op, _mm_or_si128(_mm_and_si128(alpha, _mm_loadu_si128(op)),
                                          _mm_andnot_si128(alpha, colour)));
    }
    for (; x < width; ++x)
        CopyRgb(o + x * 4, ShowsForeground(m, k, kStep, x) ? f + x * 4 : b + x * 4);
}

int QuickCompositeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const SliceSeparation separation(keyer, slice);
    const ConstBandRows matte(keyer->matteImage, slice);
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const ConstBandRows bg(keyer->backgroundImage, slice);
    const BandRows out(keyer->outputImage, slice);
    const ConstBandRows keyIn(keyer->KeyInLayer(), slice);
    const bool whole = !keyer->straightforward && matte.step == 1 &&
                       ColourOfFourBytePixels(keyer->foregroundImage) &&
                       ColourOfFourBytePixels(keyer->backgroundImage) &&
                       ColourOfFourBytePixels(keyer->outputImage);

    for (int32_t row = 0; row < slice->rows; ++row) {
        // A slice that cannot be separated keys by the matte as it was.
        if (separation.Valid()) separation.Row(row);
        if (whole) {
            KeyWholePixels(matte.Row(row), fg.Row(row), bg.Row(row), keyIn.Row(row), keyIn.step,
                           out.Row(row), slice->width);
            continue;
        }
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
