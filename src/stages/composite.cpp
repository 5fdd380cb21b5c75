// The full-quality composite: backing pixels show the corrected background
// with the backing's shadows and lights; foreground pixels keep their colour
// with the backing spill replaced by the underlay, mixed with the background
// where partly transparent, and colour-corrected in proportion to how surely
// they are foreground.
#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/shading.h"

namespace {

enum FgCorrectionMode {
    kFgNone = 0,
    kFgBrightness = 1,
    kFgDesaturate = 2,
    kFgSaturate = 3,
    kFgHue = 4,
    kFgBlend = 5,
};

inline double Clamp255(double x) {
    if (x > 255.0) return 255.0;
    if (x < 0.0) return 0.0;
    return x;
}

// Ratio of a chromaticity component to the backing's: the smaller over the
// larger, so 1 where they agree.
inline double Likeness(double x, double c) {
    return x < c ? x / c : c / x;
}

// Everything a slice needs besides the pixels, taken once per slice.
// Colours are indexed by channel: 0 = blue, 1 = green, 2 = red.
struct CompositeSetup {
    ShadingLimits limits;
    int32_t dom, mid, min;
    double chroma[3];
    double backing[3];
    double refl[3];
    double cc[3];
    double rs, rc, k, b;
    int32_t mode;
    bool chromaUsable;
    const double* edgeWeights;
};

// Composes one pixel that is not in a key-in region; the result (before the
// final clamp) is left in px, indexed by channel. ratio points at the smoothed
// shading ratio, or is null to compute the ratio from the pixel.
inline void ComposePixel(const CompositeSetup& cs, const uint8_t* fg, uint8_t a, uint8_t d,
                         const uint8_t* under, const uint8_t* bg, const float* ratio, double* px) {
    const int32_t dom = cs.dom, mid = cs.mid, min = cs.min;
    px[0] = fg[2];
    px[1] = fg[1];
    px[2] = fg[0];
    const double s = px[2] + px[1] + px[0];

    // Shading ratio.
    const double h = ratio ? double(*ratio) : ShadingRatio(cs.limits, px, s, dom, min);

    double q[3] = {double(under[2]), double(under[1]), double(under[0])};

    // Backing: the underlay with the backing's shadow or light.
    if (a == 0) {
        if (h < 1) {
            for (int c = 0; c < 3; ++c)
                q[c] = q[c] * h;
        } else if (h > 1) {
            const double gain = (h - 1) * q[dom];
            for (int c = 0; c < 3; ++c)
                q[c] = q[c] + gain;
        }
        px[0] = q[0];
        px[1] = q[1];
        px[2] = q[2];
        return;
    }

    // Reflection weight: how far the pixel's chromaticity is from the
    // backing's, capped near the edge and scaled by the opacity.
    double r;
    if (px[dom] <= 1e-8 || s <= 1e-8 || !cs.chromaUsable) {
        r = 1;
    } else {
        double x[3];
        x[dom] = Likeness(px[dom] / s, cs.chroma[dom]);
        x[mid] = Likeness((px[mid] / s) * x[dom], cs.chroma[mid]);
        x[min] = Likeness((px[min] / s) * x[mid] * x[dom], cs.chroma[min]);
        r = 1 - (x[1] * cs.chroma[1] + x[2] * cs.chroma[2] + x[0] * cs.chroma[0]) * cs.rs;
        if (r < 0) r = 0;
    }
    if (d != 0) {
        const double weight = cs.edgeWeights[d < 11 ? d : 10];
        if (weight < r) r = weight;
    }
    const double tau = a == 255 ? 0.0 : 1 - a / 255.0;
    r = (1 - tau) * r;

    // Underlay pulled toward the backing colour by the reflection.
    if (r > 0) {
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + (cs.backing[c] - q[c]) * r * cs.rc;
    }

    // Shadow and light tints.
    if (h < 1) {
        for (int c = 0; c < 3; ++c)
            q[c] = (cs.limits.shadowTint[c] * (1 - h) + h) * q[c];
    } else if (h > 1) {
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + cs.limits.lightTint[c] * (h - 1) * 255;
    }

    // Dark pixels reflect their dominant channel.
    const double lr = cs.limits.reflectionSum;
    if (s < lr) {
        const double gain = (1 - s / lr) * px[dom];
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + gain;
    }

    // Spill replacement, strongest at mid brightness.
    const double f = (765 - s) * s / 146306.25;
    const double e = 255 - (px[dom] - f * cs.refl[dom]);
    if (e > 0) {
        const double m1 = 255 - (px[mid] - f * cs.refl[mid]);
        const double m2 = 255 - (px[min] - f * cs.refl[min]);
        const double m = m1 < m2 ? m1 : m2;
        if (m >= 0) {
            const double g = (f / e) * m;
            for (int c = 0; c < 3; ++c)
                px[c] = px[c] + (q[c] - cs.refl[c]) * g;
        }
    }

    // Partial transparency: mix with the (shadowed) corrected background.
    if (a != 255) {
        double back[3] = {double(bg[2]), double(bg[1]), double(bg[0])};
        if (h < 1) {
            for (int c = 0; c < 3; ++c)
                back[c] = back[c] * h;
        }
        for (int c = 0; c < 3; ++c)
            px[c] = px[c] + (back[c] - px[c]) * tau;
    }

    if (r <= 1e-8) return;
    const double p0[3] = {px[0], px[1], px[2]};

    // Foreground colour correction.
    if (cs.mode != kFgNone) {
        const double k = cs.k;
        if (k != 0) {
            switch (cs.mode) {
            case kFgDesaturate: {
                const double y = 0.299 * px[2] + 0.587 * px[1] + 0.114 * px[0];
                for (int c = 0; c < 3; ++c)
                    px[c] = px[c] + (y - px[c]) * k;
                break;
            }
            case kFgSaturate: {
                const double mean = (px[2] + px[1] + px[0]) / 3;
                for (int c = 0; c < 3; ++c)
                    px[c] = px[c] - (mean - px[c]) * k;
                break;
            }
            case kFgHue: {
                const double mean = (px[2] + px[1] + px[0]) / 3;
                for (int c = 0; c < 3; ++c)
                    px[c] = px[c] + (cs.cc[c] - px[c]) * k;
                const double tinted = (px[2] + px[1] + px[0]) / 3;
                if (tinted <= 1e-8) {
                    px[0] = px[1] = px[2] = 0;
                } else {
                    for (int c = 0; c < 3; ++c)
                        px[c] = px[c] * mean / tinted;
                }
                break;
            }
            case kFgBlend:
                for (int c = 0; c < 3; ++c)
                    px[c] = px[c] + (cs.cc[c] - px[c]) * k;
                break;
            default:
                break;
            }
        }
        if (cs.b != 0) {
            for (int c = 0; c < 3; ++c)
                px[c] = px[c] * (1 + cs.b);
        }
        for (int c = 0; c < 3; ++c)
            px[c] = Clamp255(px[c]);
    }

    // The correction applies in proportion to r.
    if (r < 1) {
        for (int c = 0; c < 3; ++c)
            px[c] = p0[c] + (px[c] - p0[c]) * r;
    }
}

int CompositeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    CKeyer* keyer = static_cast<CKeyer*>(slice->context);
    const KeyerParams p = keyer->params;
    CompositeSetup cs;
    if (!keyer->ComputeShadingLimits(cs.limits)) return 0;
    cs.dom = keyer->channelOrder[0];
    cs.mid = keyer->channelOrder[1];
    cs.min = keyer->channelOrder[2];
    const double* sep = keyer->defaultParams.separationColor;
    for (int c = 0; c < 3; ++c) {
        cs.chroma[c] = p.backingChromaticity[2 - c];
        cs.backing[c] = sep[2 - c];
        cs.refl[c] = p.reflectionColor[2 - c];
        cs.cc[c] = p.fgCorrectionColor[2 - c];
    }
    cs.rs = p.reflectionStrength;
    cs.rc = p.reflectionChroma;
    cs.k = p.fgCorrectionStrength;
    cs.b = p.fgCorrectionBrightness;
    cs.mode = p.fgCorrectionMode;
    cs.chromaUsable = cs.chroma[2] > 1e-8 && cs.chroma[1] > 1e-8 && cs.chroma[0] > 1e-8;
    cs.edgeWeights = keyer->edgeWeights;

    const uint16_t x0 = uint16_t(slice->x);
    const uint16_t y0 = uint16_t(slice->y);
    const uint16_t w = slice->width;
    const float* smoothed = keyer->smoothBgShadow ? keyer->shadingBuffer : nullptr;
    ConstBandCursor fg(keyer->foregroundImage, slice);
    ConstBandCursor matte(keyer->matteImage, slice);
    ConstBandCursor edge(keyer->edgeImage, slice);
    ConstBandCursor under(keyer->underlayImage, slice);
    ConstBandCursor bg(keyer->correctedBackground, slice);
    BandCursor out(keyer->outputImage, slice);
    ConstBandCursor keyIn(keyer->hasKeyIn ? keyer->keyInMatte : nullptr, slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const float* ratio = SmoothedRatioRow(smoothed, keyer->width, x0, y0 + row);
        for (int32_t col = 0; col < w; ++col) {
            if (keyIn.p && *keyIn == 255) {
                // A key-in region shows the underlay unchanged.
                out[0] = under[0];
                out[1] = under[1];
                out[2] = under[2];
            } else {
                double px[3];
                ComposePixel(cs, fg.p, *matte, *edge, under.p, bg.p, ratio ? ratio + col : nullptr,
                             px);
                out[0] = uint8_t(Clamp255(px[2]));
                out[1] = uint8_t(Clamp255(px[1]));
                out[2] = uint8_t(Clamp255(px[0]));
            }
            fg.Next();
            matte.Next();
            edge.Next();
            under.Next();
            bg.Next();
            out.Next();
            keyIn.Next();
        }
        fg.NextRow();
        matte.NextRow();
        edge.NextRow();
        under.NextRow();
        bg.NextRow();
        out.NextRow();
        keyIn.NextRow();
    }
    return 1;
}

} // namespace

int CKeyer::Composite() {
    RECT band = BandRect();
    if (smoothBgShadow && !SmoothShadingRatio()) return 0;
    if (!RunRowBands(CompositeWorker, this, &band)) return 0;
    compositeDirty = 0;
    return 1;
}
