// Transparency matte: grades the foreground side of the separation mask. The
// closer a pixel's chromaticity lies to the transparency colour, the more of
// the backing shows through it; backing pixels (matte 0) stay untouched.
#include <cmath>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

int GradeTransparencyWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const KeyerParams params(keyer->params);
    // The similarity of each channel stands on its own, so they are taken in
    // channel order; the ranking must still name channels.
    for (int i = 0; i < 3; ++i)
        if (keyer->channelOrder[i] < 0 || keyer->channelOrder[i] > 2) return 0;

    // Transparency colour by channel index (0 blue, 1 green, 2 red).
    double tc[3];
    tc[kChannelBlue] = params.transparencyColor[2];
    tc[kChannelGreen] = params.transparencyColor[1];
    tc[kChannelRed] = params.transparencyColor[0];
    const double tcSum = tc[kChannelBlue] + tc[kChannelRed] + tc[kChannelGreen];
    const double threshold = params.transparencyThreshold;
    const double strength = params.transparencyStrength;

    const ConstBandRows fg(keyer->foregroundImage, slice);
    const BandRows matte(keyer->matteImage, slice);
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* src = fg.Row(row);
        uint8_t* dst = matte.Row(row);
        for (int32_t x = 0; x < slice->width; ++x) {
            uint8_t& a = dst[x * matte.step];
            if (a == 0) continue;
            double c[3];
            LoadChannels(src + x * fg.step, c);
            const double s = c[kChannelRed] + c[kChannelGreen] + c[kChannelBlue];

            double rel[3];
            for (int i = 0; i < 3; ++i) {
                const double d = s * tc[i];
                double ri;
                if (d > 1e-8)
                    ri = 1.0 - std::fabs(c[i] / d - 1.0);
                else
                    ri = (tc[i] == 0.0 && c[i] == 0.0) ? 1.0 : 0.0;
                if (ri < 0.0) ri = 0.0;
                rel[i] = ri;
            }

            double m;
            if (tcSum > 1e-8)
                m = (tc[kChannelGreen] * rel[kChannelGreen] + tc[kChannelRed] * rel[kChannelRed] +
                     tc[kChannelBlue] * rel[kChannelBlue]) /
                    tcSum;
            else
                m = (rel[kChannelGreen] + rel[kChannelRed] + rel[kChannelBlue]) / 3.0;

            double v = 0.0;
            if (m > threshold && 1.0 - threshold > 1e-8)
                v = std::sqrt((m - threshold) / (1.0 - threshold)) * m;
            v = v * strength;

            if (v >= 1.0)
                a = 0;
            else if (v <= 0.008)
                a = 255;
            else
                a = (uint8_t)((1.0 - v) * 255.0);
        }
    }
    return 1;
}

} // namespace

int CKeyer::GradeTransparency() {
    if (!foregroundImage || !matteImage) return 0;
    RECT band = BandRect();
    if (IsRectEmpty(&band)) return 1;

    if (!RunRowBands(GradeTransparencyWorker, this, &band)) return 0;

    InvalidateMatte();
    return 1;
}
