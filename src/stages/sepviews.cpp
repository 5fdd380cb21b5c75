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

inline void CopyColour(uint8_t* dst, const uint8_t* src) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
}

inline void SetColour(uint8_t* dst, uint8_t red, uint8_t green, uint8_t blue) {
    dst[0] = red;
    dst[1] = green;
    dst[2] = blue;
}

int SeparationViewWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const int32_t view = keyer->separationView;
    if (view < kViewFgOnBg || view > kViewFgOnBlack) return 1; // nothing to show

    const uint16_t width = slice->width;
    ConstBandCursor matte(keyer->matteImage, slice);
    ConstBandCursor fg(keyer->foregroundImage, slice);
    ConstBandCursor bg(keyer->backgroundImage, slice);
    BandCursor out(keyer->outputImage, slice);

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            const bool foreground = *matte != 0;
            switch (view) {
            case kViewFgOnBg:
                CopyColour(out.p, foreground ? fg.p : bg.p);
                break;
            case kViewBlackOnGray:
                if (foreground)
                    SetColour(out.p, 0, 0, 0);
                else
                    SetColour(out.p, 160, 160, 160);
                break;
            case kViewBlackOnBg:
                if (foreground)
                    SetColour(out.p, 0, 0, 0);
                else
                    CopyColour(out.p, bg.p);
                break;
            default:
                if (foreground)
                    CopyColour(out.p, fg.p);
                else
                    SetColour(out.p, 0, 0, 0);
                break;
            }
            matte.Next();
            fg.Next();
            bg.Next();
            out.Next();
        }
        matte.NextRow();
        fg.NextRow();
        bg.NextRow();
        out.NextRow();
    }
    return 1;
}

int TransparencyViewWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    // The backing colour's blue, truncated to a byte.
    const double backingBlue = keyer->defaultParams.separationColor[2];
    uint8_t blue = 0;
    if (backingBlue >= 255.0)
        blue = 255;
    else if (backingBlue > 0.0)
        blue = (uint8_t)backingBlue;

    const uint16_t width = slice->width;
    ConstBandCursor matte(keyer->matteImage, slice);
    BandCursor out(keyer->outputImage, slice);

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col, matte.Next(), out.Next()) {
            const uint8_t m = *matte;
            if (m != 0) {
                const uint8_t level = (uint8_t)(255 - m);
                SetColour(out.p, 0, level, level);
            } else {
                SetColour(out.p, 0, 0, blue);
            }
        }
        matte.NextRow();
        out.NextRow();
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
