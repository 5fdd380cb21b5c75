// Transparency matte: grades the foreground side of the separation mask. The
// closer a pixel's chromaticity lies to the transparency colour, the more of
// the backing shows through it; backing pixels (matte 0) stay untouched.
#include <cmath>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"
#include "stages/separation.h"

namespace {

// The grading constants of a slice: the transparency colour by channel index
// (0 blue, 1 green, 2 red), its sum, the threshold and the strength.
struct GradeSetup {
    double tc[3];
    double tcSum;
    double threshold;
    double strength;
};

// False when the keyer's ranking names no channel: the slice is not graded.
bool MakeGradeSetup(const CKeyer* keyer, GradeSetup& gs) {
    // The similarity of each channel stands on its own, so they are taken in
    // channel order; the ranking must still name channels.
    for (int i = 0; i < 3; ++i)
        if (keyer->channelOrder[i] < 0 || keyer->channelOrder[i] > 2) return false;
    const KeyerParams params(keyer->params);
    gs.tc[kChannelBlue] = params.transparencyColor[2];
    gs.tc[kChannelGreen] = params.transparencyColor[1];
    gs.tc[kChannelRed] = params.transparencyColor[0];
    gs.tcSum = gs.tc[kChannelBlue] + gs.tc[kChannelRed] + gs.tc[kChannelGreen];
    gs.threshold = params.transparencyThreshold;
    gs.strength = params.transparencyStrength;
    return true;
}

// Grades band row `row` of the slice's matte.
void GradeRow(const GradeSetup& gs, const CKeyer* keyer, const CJobSlice* slice, int32_t row) {
    const double* tc = gs.tc;
    const double tcSum = gs.tcSum, threshold = gs.threshold, strength = gs.strength;
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const BandRows matte(keyer->matteImage, slice);
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

int GradeTransparencyWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    GradeSetup gs;
    if (!MakeGradeSetup(keyer, gs)) return 0;
    for (int32_t row = 0; row < slice->rows; ++row)
        GradeRow(gs, keyer, slice, row);
    return 1;
}

// Separation and grading in one pass: each row is graded right after it is
// separated, while it is in the cache. A slice that cannot be separated is
// graded on the matte as it was, as the two passes would.
int SeparateAndGradeWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const SliceSeparation separation(keyer, slice);
    GradeSetup gs;
    const bool grade = MakeGradeSetup(keyer, gs);
    for (int32_t row = 0; row < slice->rows; ++row) {
        if (separation.Valid()) separation.Row(row);
        if (grade) GradeRow(gs, keyer, slice, row);
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

int CKeyer::SeparateAndGrade() {
    if (!foregroundImage || !matteImage) return 0;
    RECT band = BandRect();
    // Nothing to grade: the separation alone (it clears the crop rectangle).
    if (IsRectEmpty(&band)) return Separate();

    if (!RunRowBands(SeparateAndGradeWorker, this, &band)) return 0;

    InvalidateMatte();
    return 1;
}
