// Separation and transparency views: show the matte right after the
// separation (four ways of painting foreground and backing) or after the
// whole separation chain (black = opaque, cyan-grey = partly transparent,
// the backing's blue = transparent).
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"

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

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            const bool foreground = *matte != 0;
            switch (view) {
            case kViewFgOnBg:
                CopyColour(out, foreground ? fg : bg);
                break;
            case kViewBlackOnGray:
                if (foreground)
                    SetColour(out, 0, 0, 0);
                else
                    SetColour(out, 160, 160, 160);
                break;
            case kViewBlackOnBg:
                if (foreground)
                    SetColour(out, 0, 0, 0);
                else
                    CopyColour(out, bg);
                break;
            default:
                if (foreground)
                    CopyColour(out, fg);
                else
                    SetColour(out, 0, 0, 0);
                break;
            }
            matte += matteStep;
            fg += fgStep;
            bg += bgStep;
            out += outStep;
        }
        matte += matteAdvance;
        fg += fgAdvance;
        bg += bgAdvance;
        out += outAdvance;
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

    const uint16_t x = (uint16_t)slice->x;
    const uint16_t y = (uint16_t)slice->y;
    const uint16_t width = slice->width;
    const CImageBaseClass* matteImage = keyer->matteImage;
    const CImageBaseClass* outImage = keyer->outputImage;
    const uint8_t* matte = matteImage->PixelAddress(x, y);
    const int32_t matteAdvance = matteImage->RowAdvance(width);
    const uint32_t matteStep = matteImage->pixelStep;
    uint8_t* out = outImage->PixelAddress(x, y);
    const int32_t outAdvance = outImage->RowAdvance(width);
    const uint32_t outStep = outImage->pixelStep;

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col, matte += matteStep, out += outStep) {
            const uint8_t m = *matte;
            if (m != 0) {
                const uint8_t level = (uint8_t)(255 - m);
                SetColour(out, 0, level, level);
            } else {
                SetColour(out, 0, 0, blue);
            }
        }
        matte += matteAdvance;
        out += outAdvance;
    }
    return 1;
}

int RunViewJob(CKeyer* keyer, WorkerProcedure worker) {
    RECT band = keyer->BandRect();
    CRowBandJob job(0);
    SIZE size;
    size.cx = keyer->width;
    size.cy = keyer->height;
    job.SetArea(&size, &band);
    job.SetProcedure(worker, keyer);
    return job.Run(1);
}

} // namespace

int CKeyer::RenderSeparationView() {
    if (bgCorrectionDirty) CorrectBackground(nullptr);
    Separate();
    if (!matteImage || !foregroundImage || !backgroundImage || !outputImage) return 0;
    if (!RunViewJob(this, SeparationViewWorker)) return 0;
    // The matte now holds only the separation mask.
    separationDirty = 1;
    keyInDirty = 1;
    return 1;
}

int CKeyer::RenderTransparencyView() {
    Separate();
    GradeTransparency();
    CombineKeyIn();
    BuildEdgeProfile(params.transparencyEdge);
    SoftenEdge();
    separationDirty = 0;
    keyInDirty = 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
    if (!matteImage || !outputImage) return 0;
    if (!RunViewJob(this, TransparencyViewWorker)) return 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
