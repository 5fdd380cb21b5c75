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

// Ratio of a chromaticity component to the backing's: the smaller over the
// larger, so 1 where they agree.
inline double Likeness(double x, double c) {
    return x < c ? x / c : c / x;
}

// Everything a slice needs besides the pixels, taken once per slice. Colours
// are indexed by channel (0 blue, 1 green, 2 red); the tables hold, by byte
// sum or matte value, doubles computed by the very expressions the steps use.
struct CompositeSetup {
    ShadingLimits limits;
    ShadingRatioTable shading;
    int32_t dom, mid, min;
    double chroma[3];
    double backing[3];
    double refl[3];
    double cc[3];
    double rs, rc, k, b;
    int32_t mode;
    bool chromaUsable;
    const double* edgeWeights;
    double spillShare[766];   // f = (765 - s) * s / 146306.25
    double darkShare[766];    // 1 - s / Lr, where s < Lr
    double transparency[256]; // tau = 1 - a / 255, 0 for a = 255
};

// Backing pixel (matte 0): the underlay q with the backing's shadow or light.
inline void BackingPixel(const CompositeSetup& cs, double h, double* q) {
    if (h < 1) {
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] * h;
    } else if (h > 1) {
        const double gain = (h - 1) * q[cs.dom];
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + gain;
    }
}

// Reflection weight: how far the pixel's chromaticity is from the backing's,
// capped near the edge (distance d) and scaled by the opacity 1 - tau.
inline double ReflectionWeight(const CompositeSetup& cs, const double* px, double s, uint8_t d,
                               double tau) {
    double r;
    if (px[cs.dom] <= 1e-8 || s <= 1e-8 || !cs.chromaUsable) {
        r = 1;
    } else {
        double x[3];
        x[cs.dom] = Likeness(px[cs.dom] / s, cs.chroma[cs.dom]);
        x[cs.mid] = Likeness((px[cs.mid] / s) * x[cs.dom], cs.chroma[cs.mid]);
        x[cs.min] = Likeness((px[cs.min] / s) * x[cs.mid] * x[cs.dom], cs.chroma[cs.min]);
        r = 1 - (x[1] * cs.chroma[1] + x[2] * cs.chroma[2] + x[0] * cs.chroma[0]) * cs.rs;
        if (r < 0) r = 0;
    }
    if (d != 0) {
        const double weight = cs.edgeWeights[d < 11 ? d : 10];
        if (weight < r) r = weight;
    }
    return (1 - tau) * r;
}

// The colour that replaces the spill: the underlay q pulled toward the
// backing colour by the reflection, with the shadow or light tint, and the
// dominant channel of dark pixels reflected.
inline void SpillColour(const CompositeSetup& cs, const double* px, int sum, double h, double r,
                        double* q) {
    if (r > 0) {
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + (cs.backing[c] - q[c]) * r * cs.rc;
    }
    if (h < 1) {
        for (int c = 0; c < 3; ++c)
            q[c] = (cs.limits.shadowTint[c] * (1 - h) + h) * q[c];
    } else if (h > 1) {
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + cs.limits.lightTint[c] * (h - 1) * 255;
    }
    if (sum < cs.limits.reflectionSum) {
        const double gain = cs.darkShare[sum] * px[cs.dom];
        for (int c = 0; c < 3; ++c)
            q[c] = q[c] + gain;
    }
}

// Spill replacement, strongest at mid brightness: the backing's share of the
// pixel gives way to the spill colour q.
inline void ReplaceSpill(const CompositeSetup& cs, double f, const double* q, double* px) {
    const double e = 255 - (px[cs.dom] - f * cs.refl[cs.dom]);
    if (e > 0) {
        const double m1 = 255 - (px[cs.mid] - f * cs.refl[cs.mid]);
        const double m2 = 255 - (px[cs.min] - f * cs.refl[cs.min]);
        const double m = m1 < m2 ? m1 : m2;
        if (m >= 0) {
            const double g = (f / e) * m;
            for (int c = 0; c < 3; ++c)
                px[c] = px[c] + (q[c] - cs.refl[c]) * g;
        }
    }
}

// Foreground colour correction by mode, brightness and clamp, applied in
// proportion to the reflection weight r.
inline void CorrectForeground(const CompositeSetup& cs, double r, double* px) {
    if (r <= 1e-8) return;
    const double p0[3] = {px[0], px[1], px[2]};
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
            px[c] = ClampTo255(px[c]);
    }
    if (r < 1) {
        for (int c = 0; c < 3; ++c)
            px[c] = p0[c] + (px[c] - p0[c]) * r;
    }
}

// Composes one pixel that is not in a key-in region and writes it. ratio
// points at the smoothed shading ratio, or is null to compute the ratio from
// the pixel.
inline void ComposePixel(const CompositeSetup& cs, const uint8_t* fg, uint8_t a, uint8_t d,
                         const uint8_t* under, const uint8_t* bg, const float* ratio,
                         uint8_t* out) {
    const int v[3] = {fg[2], fg[1], fg[0]};
    const int sum = v[0] + v[1] + v[2];
    const double h = ratio ? double(*ratio) : cs.shading.Ratio(v, sum);

    if (a == 0) {
        if (h == 1) {
            CopyRgb(out, under); // lit like the backing: the underlay as it is
            return;
        }
        double q[3];
        LoadChannels(under, q);
        BackingPixel(cs, h, q);
        StoreChannels(q, out);
        return;
    }
    double px[3], q[3];
    LoadChannels(fg, px);
    LoadChannels(under, q);
    const double s = sum;
    const double tau = cs.transparency[a];
    const double r = ReflectionWeight(cs, px, s, d, tau);
    SpillColour(cs, px, sum, h, r, q);
    ReplaceSpill(cs, cs.spillShare[sum], q, px);

    // Partial transparency: mix with the (shadowed) corrected background.
    if (a != 255) {
        double back[3];
        LoadChannels(bg, back);
        if (h < 1) {
            for (int c = 0; c < 3; ++c)
                back[c] = back[c] * h;
        }
        for (int c = 0; c < 3; ++c)
            px[c] = px[c] + (back[c] - px[c]) * tau;
    }

    CorrectForeground(cs, r, px);
    StoreChannels(px, out);
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
    cs.shading.Build(cs.limits, cs.dom, cs.min);
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
    const double lr = cs.limits.reflectionSum;
    for (int i = 0; i < 766; ++i) {
        const double s = i;
        cs.spillShare[i] = (765 - s) * s / 146306.25;
        cs.darkShare[i] = s < lr ? 1 - s / lr : 0.0;
    }
    for (int a = 0; a < 256; ++a)
        cs.transparency[a] = a == 255 ? 0.0 : 1 - a / 255.0;

    const float* smoothed = keyer->smoothBgShadow ? keyer->shadingBuffer : nullptr;
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const ConstBandRows matte(keyer->matteImage, slice);
    const ConstBandRows edge(keyer->edgeImage, slice);
    const ConstBandRows under(keyer->underlayImage, slice);
    const ConstBandRows bg(keyer->correctedBackground, slice);
    const BandRows out(keyer->outputImage, slice);
    const ConstBandRows keyIn(keyer->KeyInLayer(), slice);

    for (int32_t row = 0; row < slice->rows; ++row) {
        const float* ratio = SmoothedRatioRow(smoothed, keyer->width, slice->x, slice->y + row);
        const uint8_t* f = fg.Row(row);
        const uint8_t* m = matte.Row(row);
        const uint8_t* e = edge.Row(row);
        const uint8_t* u = under.Row(row);
        const uint8_t* b = bg.Row(row);
        const uint8_t* k = keyIn.Row(row);
        uint8_t* o = out.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, o += out.step, u += under.step) {
            if (k && k[x * keyIn.step] == 255) {
                CopyRgb(o, u); // a key-in region shows the underlay unchanged
                continue;
            }
            ComposePixel(cs, f + x * fg.step, m[x * matte.step], e[x * edge.step], u,
                         b + x * bg.step, ratio ? ratio + x : nullptr, o);
        }
    }
    return 1;
}

} // namespace

int CKeyer::Composite() {
    RECT band = BandRect();
    if (smoothBgShadow && !SmoothShadingRatio()) return 0;
    // Foreground pixels cost many times what backing pixels do: balanced bands.
    if (!RunBalancedBands(CompositeWorker, this, &band)) return 0;
    compositeDirty = 0;
    return 1;
}
