// Separation mask: decides per foreground pixel whether it shows the backing
// (matte 0) or the foreground (matte 1). A pixel is backing when, after taking
// away a brightness-dependent share of the separation colour, its dominant
// channel still clearly leads, or when its colour points close enough to the
// direction of the separation colour.
#include <cmath>
#include <cstdint>
#include <emmintrin.h>

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

// The setup as SSE2 constants, one value in both lanes, held by the row
// loop (so that the mask stores cannot make it read them again).
struct PairSetup {
    explicit PairSetup(const Setup& ss)
        : k{_mm_set1_pd(ss.k[0]), _mm_set1_pd(ss.k[1]), _mm_set1_pd(ss.k[2])},
          level(_mm_set1_pd(ss.level)), below(_mm_set1_pd(ss.below)), above(_mm_set1_pd(ss.above)),
          dominance(_mm_castsi128_pd(_mm_set1_epi32(ss.dominanceTest ? -1 : 0))) {}
    __m128d k[3], level, below, above, dominance;
};

// The channels of two pixels, one pixel per lane, and their shares f of the
// separation colour.
struct PixelPair {
    __m128d v[3];
    __m128d f;
};

inline PixelPair LoadPair(const double* share, const uint8_t* a, const uint8_t* b) {
    PixelPair p;
    p.v[kChannelBlue] = _mm_set_pd(b[2], a[2]);
    p.v[kChannelGreen] = _mm_set_pd(b[1], a[1]);
    p.v[kChannelRed] = _mm_set_pd(b[0], a[0]);
    p.f = _mm_set_pd(share[b[0] + b[1] + b[2]], share[a[0] + a[1] + a[2]]);
    return p;
}

// Two pixels of four bytes, alpha first, widened to 16-bit words, as a pair.
// The same integers as LoadPair's.
inline PixelPair LoadWords(const double* share, __m128i words) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i p0 = _mm_unpacklo_epi16(words, zero), p1 = _mm_unpackhi_epi16(words, zero);
    const __m128i ar = _mm_unpacklo_epi32(p0, p1); // alpha 0, alpha 1, red 0, red 1
    const __m128i gb = _mm_unpackhi_epi32(p0, p1); // green 0, green 1, blue 0, blue 1
    PixelPair p;
    p.v[kChannelRed] = _mm_cvtepi32_pd(_mm_unpackhi_epi64(ar, ar));
    p.v[kChannelGreen] = _mm_cvtepi32_pd(gb);
    p.v[kChannelBlue] = _mm_cvtepi32_pd(_mm_unpackhi_epi64(gb, gb));
    // red 0, green 0 + blue 0, red 1, green 1 + blue 1; then the byte sums.
    const __m128i parts = _mm_madd_epi16(words, _mm_set_epi16(1, 1, 1, 0, 1, 1, 1, 0));
    const __m128i sums = _mm_add_epi32(parts, _mm_shuffle_epi32(parts, _MM_SHUFFLE(2, 3, 0, 1)));
    p.f = _mm_set_pd(share[_mm_cvtsi128_si32(_mm_srli_si128(sums, 8))],
                     share[_mm_cvtsi128_si32(sums)]);
    return p;
}

// SeparatePixel for two pixels at once, one per lane of SSE2 doubles: each
// lane takes the very operations of SeparatePixel, without branches. The
// cosine test compares the squared cosine (the sum of squares is an exact
// integer) with bounds of the squared limit. Returns the foreground lanes as
// bits 0 and 1, and in `open` the lanes between the bounds, which are left
// to SeparatePixel.
template <typename Rank>
inline int SeparatePair(const PairSetup& ps, const Rank& rank, const PixelPair& p, int& open) {
    const __m128d zero = _mm_setzero_pd();
    __m128d q[3];
    for (int c = 0; c < 3; ++c)
        q[c] = _mm_sub_pd(p.v[c], _mm_mul_pd(ps.k[c], p.f));
    const __m128d lead = q[rank.dominant];
    __m128d backing = _mm_and_pd(
        _mm_and_pd(ps.dominance, _mm_cmpge_pd(lead, ps.level)),
        _mm_and_pd(_mm_cmplt_pd(q[rank.middle], lead), _mm_cmplt_pd(q[rank.smallest], lead)));
    open = 0;
    // Two backing pixels (most of a backing's area) need no cosine test.
    if (_mm_movemask_pd(backing) == 3) return 0;

    const __m128d G = p.v[kChannelGreen], R = p.v[kChannelRed], B = p.v[kChannelBlue];
    const __m128d sq = _mm_add_pd(_mm_add_pd(_mm_mul_pd(G, G), _mm_mul_pd(B, B)), _mm_mul_pd(R, R));
    const __m128d dot =
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(ps.k[kChannelGreen], G), _mm_mul_pd(ps.k[kChannelRed], R)),
                   _mm_mul_pd(ps.k[kChannelBlue], B));
    const __m128d dot2 = _mm_mul_pd(dot, dot);
    backing = _mm_or_pd(backing, _mm_cmpeq_pd(sq, zero)); // black counts as backing
    const __m128d below =
        _mm_or_pd(_mm_cmple_pd(dot, zero), _mm_cmplt_pd(dot2, _mm_mul_pd(ps.below, sq)));
    const __m128d above = _mm_cmpgt_pd(dot2, _mm_mul_pd(ps.above, sq));
    open = 3 & ~_mm_movemask_pd(_mm_or_pd(backing, _mm_or_pd(below, above)));
    return _mm_movemask_pd(_mm_andnot_pd(backing, below));
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

template <typename Rank, bool Pairs>
void SliceSeparation::RowOf(const SliceSeparation& s, int32_t row) {
    static const ShareTable share;
    const Rank rank(s.setup);
    const ConstBandRows fg(s.keyer->foregroundImage, s.slice);
    const BandRows matte(s.keyer->matteImage, s.slice);
    const uint8_t* src = fg.Row(row);
    uint8_t* dst = matte.Row(row);
    const int32_t width = s.slice->width;
    int32_t x = 0;
    if (Pairs) {
        const PairSetup ps(s.setup);
        const double* f = share.f;
        // The mask bytes of pixels i and i + 1 of src and dst.
        auto pair = [&](const PixelPair& p, int32_t i) {
            int open;
            const int foreground = SeparatePair(ps, rank, p, open);
            dst[i * matte.step] = uint8_t(foreground & 1);
            dst[(i + 1) * matte.step] = uint8_t(foreground >> 1);
            if (open & 1) dst[i * matte.step] = SeparatePixel(s.setup, rank, f, src + i * fg.step);
            if (open & 2)
                dst[(i + 1) * matte.step] =
                    SeparatePixel(s.setup, rank, f, src + (i + 1) * fg.step);
        };
        if (s.quads) {
            // Four pixels per load: src - 1 is pixel 0's alpha.
            const __m128i zero = _mm_setzero_si128();
            for (; x + 3 < width; x += 4, src += 16, dst += 4 * matte.step) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src - 1));
                pair(LoadWords(f, _mm_unpacklo_epi8(bytes, zero)), 0);
                pair(LoadWords(f, _mm_unpackhi_epi8(bytes, zero)), 2);
            }
        }
        for (; x + 1 < width; x += 2, src += 2 * fg.step, dst += 2 * matte.step)
            pair(LoadPair(f, src, src + fg.step), 0);
    }
    for (; x < width; ++x, src += fg.step, dst += matte.step)
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

    // The squared cosine limit times the separation colour's squared norm,
    // widened by far more than the rounding of either side: a squared dot
    // product below `below` (above `above`) times the sum of squares gives a
    // cosine below (above) the limit.
    const double limit = ss.cosineLimit * ss.kNorm;
    ss.below = limit * limit * (1.0 - 1e-9);
    ss.above = limit * limit * (1.0 + 1e-9);
    // Two pixels at a time where the bounds hold: a positive, finite limit.
    const bool pairs = !keyer->straightforward && ss.cosineLimit > 0.0 && std::isfinite(ss.above);
    // Four pixels per load from frames of four-byte pixels, alpha first.
    const CImageBaseClass* fg = keyer->foregroundImage;
    quads = fg && fg->pixelStep == 4 && fg->componentOffset == 1;

    // The six rankings compiled in; any other (a channel named twice) as read.
    static const RowFunction fixed[2][3][3] = {
        {
            {nullptr, RowOf<FixedRanking<0, 1>, false>, RowOf<FixedRanking<0, 2>, false>},
            {RowOf<FixedRanking<1, 0>, false>, nullptr, RowOf<FixedRanking<1, 2>, false>},
            {RowOf<FixedRanking<2, 0>, false>, RowOf<FixedRanking<2, 1>, false>, nullptr},
        },
        {
            {nullptr, RowOf<FixedRanking<0, 1>, true>, RowOf<FixedRanking<0, 2>, true>},
            {RowOf<FixedRanking<1, 0>, true>, nullptr, RowOf<FixedRanking<1, 2>, true>},
            {RowOf<FixedRanking<2, 0>, true>, RowOf<FixedRanking<2, 1>, true>, nullptr},
        },
    };
    rowFunction = fixed[pairs][ss.dominant][ss.middle];
    if (!rowFunction || ss.smallest != 3 - ss.dominant - ss.middle)
        rowFunction = pairs ? RowOf<Ranking, true> : RowOf<Ranking, false>;
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
