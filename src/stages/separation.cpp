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

// Per-slice constants; colours indexed by channel.
struct SeparationSetup {
    double k[3];
    double kNorm;
    double level;
    double cosineLimit;
    bool dominanceTest;
};

// The backing's channel ranking, known when compiled (the six orders) or not.
template <int D, int M> struct FixedRanking {
    static constexpr int dominant = D, middle = M, smallest = 3 - D - M;
};
struct Ranking {
    int32_t dominant, middle, smallest;
};

// 0 (backing) or 1 (foreground) for the pixel's bytes.
template <typename Rank>
inline uint8_t SeparatePixel(const SeparationSetup& ss, const Rank& rank, const double* share,
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

template <typename Rank>
void SeparateBand(const SeparationSetup& ss, const Rank& rank, const CKeyer* keyer,
                  const CJobSlice* slice) {
    static const ShareTable share;
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const BandRows matte(keyer->matteImage, slice);
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* src = fg.Row(row);
        uint8_t* dst = matte.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, src += fg.step, dst += matte.step)
            *dst = SeparatePixel(ss, rank, share.f, src);
    }
}

template <int D, int M>
void SeparateFixed(const SeparationSetup& ss, const CKeyer* keyer, const CJobSlice* slice) {
    SeparateBand(ss, FixedRanking<D, M>(), keyer, slice);
}

int SeparateWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    const KeyerParams params(keyer->params);
    const Ranking rank{keyer->channelOrder[0], keyer->channelOrder[1], keyer->channelOrder[2]};
    for (int32_t c : {rank.dominant, rank.middle, rank.smallest})
        if (c < 0 || c > 2) return 0;

    SeparationSetup ss;
    ss.k[kChannelRed] = params.separationColor[0];
    ss.k[kChannelGreen] = params.separationColor[1];
    ss.k[kChannelBlue] = params.separationColor[2];
    const double kR = ss.k[kChannelRed], kG = ss.k[kChannelGreen], kB = ss.k[kChannelBlue];
    ss.kNorm = std::sqrt(kG * kG + kR * kR + kB * kB);
    if (ss.kNorm < 1e-8) return 0;
    ss.level = params.separationLevel;
    ss.cosineLimit = std::pow(1.0 - params.separationDeviation, 0.1);
    ss.dominanceTest = ss.level < 50.0;

    // The six rankings compiled in; any other (a channel named twice) as read.
    using Band = void (*)(const SeparationSetup&, const CKeyer*, const CJobSlice*);
    static const Band fixed[3][3] = {
        {nullptr, SeparateFixed<0, 1>, SeparateFixed<0, 2>},
        {SeparateFixed<1, 0>, nullptr, SeparateFixed<1, 2>},
        {SeparateFixed<2, 0>, SeparateFixed<2, 1>, nullptr},
    };
    const Band band = fixed[rank.dominant][rank.middle];
    if (band && rank.smallest == 3 - rank.dominant - rank.middle) {
        band(ss, keyer, slice);
        return 1;
    }
    SeparateBand(ss, rank, keyer, slice);
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
