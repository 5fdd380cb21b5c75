// Separation mask: decides per foreground pixel whether it shows the backing
// (matte 0) or the foreground (matte 1). A pixel is backing when, after taking
// away a brightness-dependent share of the separation colour, its dominant
// channel still clearly leads, or when its colour points close enough to the
// direction of the separation colour.
#include <cmath>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

int SeparateWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const KeyerParams params(keyer->params);
    const int32_t dominant = keyer->channelOrder[0];
    const int32_t middle = keyer->channelOrder[1];
    const int32_t smallest = keyer->channelOrder[2];
    if (dominant < 0 || dominant > 2 || middle < 0 || middle > 2 || smallest < 0 || smallest > 2)
        return 0;

    const double kR = params.separationColor[0];
    const double kG = params.separationColor[1];
    const double kB = params.separationColor[2];
    const double kNorm = std::sqrt(kG * kG + kR * kR + kB * kB);
    if (kNorm < 1e-8) return 0;
    const double level = params.separationLevel;
    const double cosineLimit = std::pow(1.0 - params.separationDeviation, 0.1);
    const bool dominanceTest = level < 50.0;

    const uint16_t width = slice->width;
    ConstBandCursor src(keyer->foregroundImage, slice);
    BandCursor dst(keyer->matteImage, slice);

    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col, src.Next(), dst.Next()) {
            const double r = src[0];
            const double g = src[1];
            const double b = src[2];
            if (dominanceTest) {
                const double s = g + r + b;
                const double f = (765.0 - s) * s / 195075.0;
                double q[3];
                q[kChannelBlue] = b - kB * f;
                q[kChannelGreen] = g - kG * f;
                q[kChannelRed] = r - kR * f;
                const double lead = q[dominant];
                if (lead >= level && q[middle] < lead && q[smallest] < lead) {
                    *dst = 0;
                    continue;
                }
            }
            const double n = std::sqrt(g * g + b * b + r * r);
            if (n < 1e-8) {
                *dst = 0; // black counts as backing
                continue;
            }
            const double c = (kG * g + kR * r + kB * b) / (n * kNorm);
            *dst = c < cosineLimit ? 1 : 0;
        }
        src.NextRow();
        dst.NextRow();
    }
    return 1;
}

} // namespace

int CKeyer::Separate() {
    if (!foregroundImage || !matteImage) return 0;
    RECT band = BandRect();
    if (IsRectEmpty(&band)) {
        if (cropEnabled) {
            const uint8_t zero = 0;
            matteImage->FillRect(&cropRect, &zero, 0, 0);
        }
        return 1;
    }

    if (!RunRowBands(SeparateWorker, this, &band)) return 0;

    InvalidateMatte();
    return 1;
}
