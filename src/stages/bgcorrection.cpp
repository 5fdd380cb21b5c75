// Background colour correction: brightness, desaturate, saturate, hue and
// blend applied to the background layer, written into the keyer's corrected
// background (a stage) or into the output (the "Color Corrected BG" view).
#include <new>

#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "platform/memory.h"
#include "stages/band_cursor.h"

namespace {

enum BgCorrectionMode {
    kBgNone = 0,
    kBgBrightness = 1,
    kBgDesaturate = 2,
    kBgSaturate = 3,
    kBgHue = 4,
    kBgBlend = 5,
};

struct CorrectionContext {
    CKeyer* keyer;
    CImageBaseClass* target;
};

// The slice's correction: the mode and its amounts.
struct CorrectionSetup {
    explicit CorrectionSetup(const KeyerParams& p)
        : mode(p.bgCorrectionMode), s(p.bgCorrectionStrength), b(p.bgCorrectionBrightness),
          cr(p.bgCorrectionColor[0]), cg(p.bgCorrectionColor[1]), cb(p.bgCorrectionColor[2]) {}
    int32_t mode;
    double s, b;       // strength, brightness
    double cr, cg, cb; // target colour, red, green, blue
};

// Corrects one background pixel (red, green, blue bytes) into dst.
inline void CorrectPixel(const CorrectionSetup& c, const uint8_t* src, uint8_t* dst) {
    const double s = c.s;
    double r = src[0];
    double g = src[1];
    double bl = src[2];
    if (s != 0.0) {
        switch (c.mode) {
        case kBgDesaturate: {
            const double l = 0.299 * r + 0.114 * bl + 0.587 * g;
            r = (l - r) * s + r;
            g = (l - g) * s + g;
            bl = (l - bl) * s + bl;
            break;
        }
        case kBgSaturate: {
            const double m = (bl + g + r) * (1.0 / 3);
            r = r - (m - r) * s;
            g = g - (m - g) * s;
            bl = bl - (m - bl) * s;
            break;
        }
        case kBgHue: {
            const double m = (bl + g + r) * (1.0 / 3);
            const double tr = (c.cr - r) * s + r;
            const double tg = (c.cg - g) * s + g;
            const double tb = (c.cb - bl) * s + bl;
            const double mt = (tr + tb + tg) * (1.0 / 3);
            const double k = mt > 1e-8 ? m / mt : 0.0;
            r = k * tr;
            g = k * tg;
            bl = k * tb;
            break;
        }
        case kBgBlend:
            r = (c.cr - r) * s + r;
            g = (c.cg - g) * s + g;
            bl = (c.cb - bl) * s + bl;
            break;
        default:
            break;
        }
    }
    if (c.b != 0.0) {
        r = r * (1.0 + c.b);
        g = g * (1.0 + c.b);
        bl = bl * (1.0 + c.b);
    }
    dst[2] = ClampToByte(bl);
    dst[1] = ClampToByte(g);
    dst[0] = ClampToByte(r);
}

int CorrectWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CorrectionContext* ctx = static_cast<const CorrectionContext*>(slice->context);
    const CorrectionSetup setup(ctx->keyer->params);
    const ConstBandRows src(ctx->keyer->backgroundImage, slice);
    const BandRows dst(ctx->target, slice);
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* s = src.Row(row);
        uint8_t* d = dst.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, s += src.step, d += dst.step)
            CorrectPixel(setup, s, d);
    }
    return 1;
}

} // namespace

int CKeyer::CorrectBackground(CImageBaseClass* destination) {
    CImageBaseClass* target = destination;
    if (destination == nullptr) {
        target = correctedBackground;
        if (target != nullptr) target->SetUndefined(0);
        bgCorrectionDirty = 0;
    } else if (destination == outputImage) {
        compositeDirty = 1;
    }
    // Nothing to read from or write to before the frame's images are set.
    if (target == nullptr || backgroundImage == nullptr) return 0;

    const int32_t mode = params.bgCorrectionMode;
    const double s = params.bgCorrectionStrength;
    const double b = params.bgCorrectionBrightness;
    bool runs;
    if (mode == kBgNone)
        runs = false;
    else if (mode == kBgBrightness)
        runs = b != 0.0;
    else
        runs = s != 0.0 || b != 0.0;

    if (!runs) {
        if (destination != nullptr || mode != kBgNone) target->Copy(backgroundImage, 1);
        return 1;
    }

    RECT band = BandRect();
    CorrectionContext ctx{this, target};
    return RunRowBands(CorrectWorker, &ctx, &band);
}

int CKeyer::RenderCorrectedBackgroundView() {
    const int result = CorrectBackground(outputImage);
    compositeDirty = 1;
    return result;
}

int CKeyer::UpdateCorrectedBackground() {
    if (params.bgCorrectionMode != kBgNone) {
        int ok;
        if (ownCorrectedBackground == nullptr) {
            try {
                ownCorrectedBackground = new CImageBaseClass();
                ok = ownCorrectedBackground->Create(uint32_t(width), uint32_t(height), 3, nullptr);
            } catch (const std::bad_alloc&) {
                NoteAllocationFailure();
                ok = 0;
            }
        } else {
            ok = ownCorrectedBackground->Resize(uint32_t(width), uint32_t(height), 0);
        }
        if (!ok) {
            delete ownCorrectedBackground;
            ownCorrectedBackground = nullptr;
            correctedBackground = backgroundImage;
            params.bgCorrectionMode = kBgNone;
            return 0;
        }
        ownCorrectedBackground->SetUndefined(0);
        correctedBackground = ownCorrectedBackground;
    } else {
        delete ownCorrectedBackground;
        ownCorrectedBackground = nullptr;
        correctedBackground = backgroundImage;
    }
    bgCorrectionDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;
    return 1;
}
