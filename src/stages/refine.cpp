// Backing colour refinement: the mean of the foreground pixels whose colour
// points in nearly the same direction as the picked colour.
#include <cmath>

#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

// Totals are 64-bit: a channel sum over a large frame (an 8K screen) does not
// fit in 32 bits.
struct RefineContext {
    CKeyer* keyer;
    uint64_t sumRed;
    uint64_t sumGreen;
    uint64_t sumBlue;
    uint64_t count;
};

int RefineWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    RefineContext* ctx = static_cast<RefineContext*>(slice->context);
    const CKeyer* keyer = ctx->keyer;
    const double rc = keyer->params.separationColor[0];
    const double gc = keyer->params.separationColor[1];
    const double bc = keyer->params.separationColor[2];
    const double lc = std::sqrt(rc * rc + gc * gc + bc * bc);

    const ConstBandRows fg(keyer->foregroundImage, slice);

    double sumRed = 0.0, sumGreen = 0.0, sumBlue = 0.0;
    uint64_t count = 0;
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* p = fg.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, p += fg.step) {
            const double r = p[0];
            const double g = p[1];
            const double b = p[2];
            const double cosine =
                (gc * g + rc * r + bc * b) / (std::sqrt(g * g + r * r + b * b) * lc);
            if (cosine > 0.95) {
                sumRed += r;
                sumGreen += g;
                sumBlue += b;
                ++count;
            }
        }
    }

    if (!slice->Lock()) return 0;
    ctx->sumRed += uint64_t(sumRed);
    ctx->sumGreen += uint64_t(sumGreen);
    ctx->sumBlue += uint64_t(sumBlue);
    ctx->count += count;
    return slice->Unlock() ? 1 : 0;
}

} // namespace

int CKeyer::RefineBackingColour(double* t) {
    params.separationColor[0] = t[2];
    params.separationColor[1] = t[1];
    params.separationColor[2] = t[0];
    if (foregroundImage == nullptr) return 0;

    RefineContext ctx{this, 0, 0, 0, 0};
    if (!RunRowBands(RefineWorker, &ctx, nullptr) || ctx.count == 0) return 0;

    t[0] = double(ctx.sumBlue / ctx.count);
    t[1] = double(ctx.sumGreen / ctx.count);
    t[2] = double(ctx.sumRed / ctx.count);
    return 1;
}
