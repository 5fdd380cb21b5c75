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
#include "stages/separation.h"

namespace {

// The share f of the separation colour taken away, by the byte sum s: 0 at
// black and white, 0.75 at mid grey.
struct ShareTable {
    double f[766];
    ShareTable() {
        for (int i = 0; i < 766; ++i) {
            const double s = i;
            f[i] = (765.0 - s) * s / 195075.0;
        }
    }
};

using Setup = SliceSeparation::Setup;

// The backing's channel ranking, known when compiled (the six orders) or read
// from the setup.
template <int D, int M> struct FixedRanking {
    explicit FixedRanking(const Setup&) {}
    static constexpr int dominant = D, middle = M, smallest = 3 - D - M;
};
struct Ranking {
    explicit Ranking(const Setup& ss)
        : dominant(ss.dominant), middle(ss.middle), smallest(ss.smallest) {}
    int32_t dominant, middle, smallest;
};

// 0 (backing) or 1 (foreground) for the pixel's bytes.
template <typename Rank>
inline uint8_t SeparatePixel(const Setup& ss, const Rank& rank, const double* share,
                             const uint8_t* rgb) {
    double v[3];
    LoadChannels(rgb, v);
    if (ss.dominanceTest) {
        const double f = share[rgb[0] + rgb[1] + rgb[2]];
        double q[3];
        for (int c = 0; c < 3; ++c)
            q[c] = v[c] - ss.k[c] * f;
        const double lead = q[rank.dominant];
        if (lead >= ss.level && q[rank.middle] < lead && q[rank.smallest] < lead) return 0;
    }
    const double G = v[kChannelGreen], R = v[kChannelRed], B = v[kChannelBlue];
    const double n = std::sqrt(G * G + B * B + R * R);
    if (n < 1e-8) return 0; // black counts as backing
    const double c =
        (ss.k[kChannelGreen] * G + ss.k[kChannelRed] * R + ss.k[kChannelBlue] * B) / (n * ss.kNorm);
    return c < ss.cosineLimit ? 1 : 0;
}

int SeparateWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const SliceSeparation separation(static_cast<const CKeyer*>(slice->context), slice);
    if (!separation.Valid()) return 0;
    for (int32_t row = 0; row < slice->rows; ++row)
        separation.Row(row);
    return 1;
}

} // namespace

template <typename Rank> void SliceSeparation::RowOf(const SliceSeparation& s, int32_t row) {
    static const ShareTable share;
    const Rank rank(s.setup);
    const ConstBandRows fg(s.keyer->foregroundImage, s.slice);
    const BandRows matte(s.keyer->matteImage, s.slice);
    const uint8_t* src = fg.Row(row);
    uint8_t* dst = matte.Row(row);
    for (int32_t x = 0; x < s.slice->width; ++x, src += fg.step, dst += matte.step)
        *dst = SeparatePixel(s.setup, rank, share.f, src);
}

SliceSeparation::SliceSeparation(const CKeyer* keyerIn, const CJobSlice* sliceIn)
    : keyer(keyerIn), slice(sliceIn) {
    const KeyerParams params(keyer->params);
    Setup& ss = setup;
    ss.dominant = keyer->channelOrder[0];
    ss.middle = keyer->channelOrder[1];
    ss.smallest = keyer->channelOrder[2];
    for (int32_t c : {ss.dominant, ss.middle, ss.smallest})
        if (c < 0 || c > 2) return;

    ss.k[kChannelRed] = params.separationColor[0];
    ss.k[kChannelGreen] = params.separationColor[1];
    ss.k[kChannelBlue] = params.separationColor[2];
    const double kR = ss.k[kChannelRed], kG = ss.k[kChannelGreen], kB = ss.k[kChannelBlue];
    ss.kNorm = std::sqrt(kG * kG + kR * kR + kB * kB);
    if (ss.kNorm < 1e-8) return;
    ss.level = params.separationLevel;
    ss.cosineLimit = std::pow(1.0 - params.separationDeviation, 0.1);
    ss.dominanceTest = ss.level < 50.0;

    // The six rankings compiled in; any other (a channel named twice) as read.
    static const RowFunction fixed[3][3] = {
        {nullptr, RowOf<FixedRanking<0, 1>>, RowOf<FixedRanking<0, 2>>},
        {RowOf<FixedRanking<1, 0>>, nullptr, RowOf<FixedRanking<1, 2>>},
        {RowOf<FixedRanking<2, 0>>, RowOf<FixedRanking<2, 1>>, nullptr},
    };
    rowFunction = fixed[ss.dominant][ss.middle];
    if (!rowFunction || ss.smallest != 3 - ss.dominant - ss.middle) rowFunction = RowOf<Ranking>;
}

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
