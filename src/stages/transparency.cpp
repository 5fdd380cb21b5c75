// Transparency matte: grades the foreground side of the separation mask. The
// closer a pixel's chromaticity lies to the transparency colour, the more of
// the backing shows through it; backing pixels (matte 0) stay untouched.
#include <cmath>
#include <cstdint>
#include <emmintrin.h>

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

// The matte byte of grade v, stored in the matte.
inline uint8_t GradeByte(double v) {
    if (v >= 1.0) return 0;
    if (v <= 0.008) return 255;
    return (uint8_t)((1.0 - v) * 255.0);
}

// Grades band row `row` of the slice's matte, from column `from` on.
void GradeRow(const GradeSetup& gs, const CKeyer* keyer, const CJobSlice* slice, int32_t row,
              int32_t from = 0) {
    const double* tc = gs.tc;
    const double tcSum = gs.tcSum, threshold = gs.threshold, strength = gs.strength;
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const BandRows matte(keyer->matteImage, slice);
    const uint8_t* src = fg.Row(row);
    uint8_t* dst = matte.Row(row);
    for (int32_t x = from; x < slice->width; ++x) {
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

        a = GradeByte(v);
    }
}

// The grading constants as SSE2 constants, one value in both lanes, held
// by the row loop.
struct GradePairSetup {
    explicit GradePairSetup(const GradeSetup& gs)
        : weighted(gs.tcSum > 1e-8), steep(1.0 - gs.threshold > 1e-8),
          threshold(_mm_set1_pd(gs.threshold)), span(_mm_set1_pd(1.0 - gs.threshold)),
          strength(_mm_set1_pd(gs.strength)), tcSum(_mm_set1_pd(gs.tcSum)) {
        for (int i = 0; i < 3; ++i) {
            tc[i] = _mm_set1_pd(gs.tc[i]);
            tcZero[i] = _mm_castsi128_pd(_mm_set1_epi32(gs.tc[i] == 0.0 ? -1 : 0));
        }
    }
    bool weighted, steep;
    __m128d tc[3], tcZero[3], threshold, span, strength, tcSum;
};

// The grade v of GradeRow for two pixels, one per lane: each lane takes
// GradeRow's operations in the same order, both sides of each choice
// computed and the one GradeRow takes kept.
inline __m128d GradePair(const GradePairSetup& gp, const uint8_t* p0, const uint8_t* p1) {
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    const __m128d sign = _mm_set1_pd(-0.0);
    __m128d c[3];
    c[kChannelBlue] = _mm_set_pd(p1[2], p0[2]);
    c[kChannelGreen] = _mm_set_pd(p1[1], p0[1]);
    c[kChannelRed] = _mm_set_pd(p1[0], p0[0]);
    const __m128d s = _mm_add_pd(_mm_add_pd(c[kChannelRed], c[kChannelGreen]), c[kChannelBlue]);
    __m128d rel[3];
    for (int i = 0; i < 3; ++i) {
        const __m128d d = _mm_mul_pd(s, gp.tc[i]);
        const __m128d usable = _mm_cmpgt_pd(d, _mm_set1_pd(1e-8));
        const __m128d ratio =
            _mm_sub_pd(one, _mm_andnot_pd(sign, _mm_sub_pd(_mm_div_pd(c[i], d), one)));
        const __m128d both = _mm_and_pd(_mm_and_pd(gp.tcZero[i], _mm_cmpeq_pd(c[i], zero)), one);
        const __m128d ri = _mm_or_pd(_mm_and_pd(usable, ratio), _mm_andnot_pd(usable, both));
        rel[i] = _mm_andnot_pd(_mm_cmplt_pd(ri, zero), ri);
    }
    __m128d m;
    if (gp.weighted)
        m = _mm_div_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(gp.tc[kChannelGreen], rel[kChannelGreen]),
                                             _mm_mul_pd(gp.tc[kChannelRed], rel[kChannelRed])),
                                  _mm_mul_pd(gp.tc[kChannelBlue], rel[kChannelBlue])),
                       gp.tcSum);
    else
        m = _mm_div_pd(
            _mm_add_pd(_mm_add_pd(rel[kChannelGreen], rel[kChannelRed]), rel[kChannelBlue]),
            _mm_set1_pd(3.0));
    __m128d v = zero;
    const __m128d graded = _mm_cmpgt_pd(m, gp.threshold);
    // Most pixels lie below the threshold: no root for a pair of them.
    if (gp.steep && _mm_movemask_pd(graded) != 0)
        v = _mm_and_pd(
            graded, _mm_mul_pd(_mm_sqrt_pd(_mm_div_pd(_mm_sub_pd(m, gp.threshold), gp.span)), m));
    return _mm_mul_pd(v, gp.strength);
}

// GradeRow two pixels at a time; a pair of backing pixels is skipped.
void GradeRowInPairs(const GradeSetup& gs, const CKeyer* keyer, const CJobSlice* slice,
                     int32_t row) {
    const GradePairSetup gp(gs);
    const ConstBandRows fg(keyer->foregroundImage, slice);
    const BandRows matte(keyer->matteImage, slice);
    const uint8_t* src = fg.Row(row);
    uint8_t* dst = matte.Row(row);
    const int32_t width = slice->width;
    int32_t x = 0;
    for (; x + 1 < width; x += 2) {
        uint8_t& a0 = dst[x * matte.step];
        uint8_t& a1 = dst[(x + 1) * matte.step];
        if (a0 == 0 && a1 == 0) continue;
        const uint8_t* p0 = src + x * fg.step;
        const __m128d v = GradePair(gp, p0, p0 + fg.step);
        // GradeByte in both lanes: 0 from 1 on, 255 up to 0.008, else the
        // truncated (1 - v) * 255.
        const __m128i full = _mm_castpd_si128(_mm_cmple_pd(v, _mm_set1_pd(0.008)));
        const __m128i none = _mm_castpd_si128(_mm_cmpge_pd(v, _mm_set1_pd(1.0)));
        const __m128i scaled = _mm_shuffle_epi32(
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_sub_pd(_mm_set1_pd(1.0), v), _mm_set1_pd(255.0))),
            _MM_SHUFFLE(1, 1, 0, 0));
        const __m128i bytes =
            _mm_andnot_si128(none, _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(255)),
                                                _mm_andnot_si128(full, scaled)));
        if (a0 != 0) a0 = uint8_t(_mm_cvtsi128_si32(bytes));
        if (a1 != 0) a1 = uint8_t(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
    }
    if (x < width) GradeRow(gs, keyer, slice, row, x);
}

// Grades a row in pairs, or one pixel at a time in the straightforward form.
void GradeRows(const GradeSetup& gs, const CKeyer* keyer, const CJobSlice* slice, int32_t row) {
    if (keyer->straightforward)
        GradeRow(gs, keyer, slice, row);
    else
        GradeRowInPairs(gs, keyer, slice, row);
}

int GradeTransparencyWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    GradeSetup gs;
    if (!MakeGradeSetup(keyer, gs)) return 0;
    for (int32_t row = 0; row < slice->rows; ++row)
        GradeRows(gs, keyer, slice, row);
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
        if (grade) GradeRows(gs, keyer, slice, row);
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
