// Underlay fill: the background colours carried in under the foreground.
// Outside the foreground the underlay is the corrected background; inside it
// is seeded with a fill colour from the foreground's rim and then refined by a
// coarse-to-fine series of tile means.
#include <cmath>

#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

// Totals of the counting pass. 64-bit, so that the rim sums of very large
// frames cannot overflow.
struct CountContext {
    CKeyer* keyer;
    uint64_t sum[3]; // red, green, blue of the background at rim pixels
    uint64_t foregroundCount;
    uint64_t rimCount;
};

// Seed pass context: the fill colour for every foreground pixel.
struct SeedContext {
    CKeyer* keyer;
    uint8_t colour[3]; // red, green, blue
};

int CountWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    CountContext* ctx = static_cast<CountContext*>(slice->context);
    const CKeyer* keyer = ctx->keyer;
    const uint16_t w = slice->width;
    ConstBandCursor matte(keyer->matteImage, slice);
    ConstBandCursor edge(keyer->edgeImage, slice);
    ConstBandCursor bg(keyer->backgroundImage, slice);

    uint64_t red = 0, green = 0, blue = 0, foreground = 0, rim = 0;
    for (int32_t row = 0; row < slice->rows; ++row) {
        for (int32_t col = 0; col < w; ++col) {
            if (*matte != 0) {
                ++foreground;
            } else if (*edge != 0) {
                ++rim;
                red += bg[0];
                green += bg[1];
                blue += bg[2];
            }
            matte.Next();
            edge.Next();
            bg.Next();
        }
        matte.NextRow();
        edge.NextRow();
        bg.NextRow();
    }

    if (!slice->Lock()) return 0;
    ctx->sum[0] += red;
    ctx->sum[1] += green;
    ctx->sum[2] += blue;
    ctx->foregroundCount += foreground;
    ctx->rimCount += rim;
    return slice->Unlock() ? 1 : 0;
}

int SeedWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const SeedContext* ctx = static_cast<const SeedContext*>(slice->context);
    const CKeyer* keyer = ctx->keyer;
    const uint16_t w = slice->width;
    ConstBandCursor matte(keyer->matteImage, slice);
    BandCursor under(keyer->underlayImage, slice);
    const uint8_t red = ctx->colour[0], green = ctx->colour[1], blue = ctx->colour[2];

    for (int32_t row = 0; row < slice->rows; ++row) {
        for (int32_t col = 0; col < w; ++col) {
            if (*matte != 0) {
                under[0] = red;
                under[1] = green;
                under[2] = blue;
            }
            matte.Next();
            under.Next();
        }
        matte.NextRow();
        under.NextRow();
    }
    return 1;
}

// One tile: the mean underlay colour of its foreground pixels, drawn toward
// the mean of its rim pixels by the share of non-foreground pixels, replaces
// the foreground pixels (blended with the corrected background where the
// matte is partial).
void FillTile(const CKeyer* keyer, uint16_t x0, uint16_t y0, uint16_t tw, uint16_t th) {
    uint64_t inside = 0, rim = 0;
    uint64_t u[3] = {0, 0, 0};
    uint64_t e[3] = {0, 0, 0};
    {
        ConstBandCursor matte(keyer->matteImage, x0, y0, tw);
        ConstBandCursor edge(keyer->edgeImage, x0, y0, tw);
        ConstBandCursor under(keyer->underlayImage, x0, y0, tw);
        for (int32_t row = 0; row < th; ++row) {
            for (int32_t col = 0; col < tw; ++col) {
                if (*matte != 0) {
                    ++inside;
                    u[0] += under[0];
                    u[1] += under[1];
                    u[2] += under[2];
                } else if (*edge != 0) {
                    ++rim;
                    e[0] += under[0];
                    e[1] += under[1];
                    e[2] += under[2];
                }
                matte.Next();
                edge.Next();
                under.Next();
            }
            matte.NextRow();
            edge.NextRow();
            under.NextRow();
        }
    }
    if (inside == 0) return;

    const double a = double(uint32_t(tw) * uint32_t(th));
    const double nt = double(inside);
    double mean[3];
    for (int c = 0; c < 3; ++c)
        mean[c] = double(u[c]) / nt;
    if (nt < a && rim > 0) {
        const double weight = (a - nt) / a;
        const double ne = double(rim);
        for (int c = 0; c < 3; ++c)
            mean[c] = mean[c] + (double(e[c]) / ne - mean[c]) * weight;
    }
    const uint8_t full[3] = {uint8_t(mean[0]), uint8_t(mean[1]), uint8_t(mean[2])};

    ConstBandCursor matte(keyer->matteImage, x0, y0, tw);
    BandCursor under(keyer->underlayImage, x0, y0, tw);
    ConstBandCursor bg(keyer->correctedBackground, x0, y0, tw);
    for (int32_t row = 0; row < th; ++row) {
        for (int32_t col = 0; col < tw; ++col) {
            const uint8_t m = *matte;
            if (m == 255) {
                under[0] = full[0];
                under[1] = full[1];
                under[2] = full[2];
            } else if (m != 0) {
                const double t = m / 255.0;
                for (int c = 0; c < 3; ++c)
                    under[c] = uint8_t(double(bg[c]) * (1 - t) + mean[c] * t);
            }
            matte.Next();
            under.Next();
            bg.Next();
        }
        matte.NextRow();
        under.NextRow();
        bg.NextRow();
    }
}

int TileWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const CKeyer* keyer = static_cast<const CKeyer*>(slice->context);
    int32_t y = slice->y;
    for (int32_t j = 0; j < slice->tilesY; ++j) {
        const uint16_t th = j == 0                   ? slice->firstTileHeight
                            : j == slice->tilesY - 1 ? slice->lastTileHeight
                                                     : slice->rows;
        int32_t x = slice->x;
        for (int32_t i = 0; i < slice->tilesX; ++i) {
            const uint16_t tw = i == 0                   ? slice->firstTileWidth
                                : i == slice->tilesX - 1 ? slice->lastTileWidth
                                                         : slice->width;
            if (tw > 0 && th > 0) FillTile(keyer, uint16_t(x), uint16_t(y), tw, th);
            x += tw;
        }
        y += th;
    }
    return 1;
}

} // namespace

int CKeyer::FillUnderlay() {
    RECT band = BandRect();
    const RECT area = band;

    // Counting pass.
    CountContext count{this, {0, 0, 0}, 0, 0};
    if (!RunRowBands(CountWorker, &count, &band)) return 0;

    // Backing colour raised so that its largest channel is 255.
    const double* k = defaultParams.separationColor;
    double largest = k[0];
    if (k[1] > largest) largest = k[1];
    if (k[2] > largest) largest = k[2];
    double raised[3];
    for (int c = 0; c < 3; ++c)
        raised[c] = k[c] + (255 - largest);

    SeedContext seed{this, {0, 0, 0}};
    RECT exclusive;
    SetRect(&exclusive, area.left, area.top, area.right + 1, area.bottom + 1);
    if (count.foregroundCount == 0) {
        for (int c = 0; c < 3; ++c)
            seed.colour[c] = uint8_t(raised[c]);
    } else if (count.rimCount == 0) {
        // Foreground without any rim: nothing to carry in.
        for (int c = 0; c < 3; ++c)
            seed.colour[c] = uint8_t(raised[c]);
        underlayImage->FillRect(&exclusive, seed.colour, 0, 0);
        return 1;
    } else {
        // Pixel count of the band rectangle, in 64 bits: a full 65535 x 65535
        // frame does not fit the job's 32-bit count.
        const double areaPixels =
            double(int64_t(area.right - area.left + 1) * int64_t(area.bottom - area.top + 1));
        const double f = double(count.foregroundCount) / areaPixels;
        const double rim = double(count.rimCount);
        for (int c = 0; c < 3; ++c)
            seed.colour[c] = uint8_t((double(count.sum[c]) / rim) * (1 - f) + raised[c] * f);
    }

    // Levels of the tile passes: sizes 5 * 2^(L-1), ..., 10, 5.
    const int32_t n = area.right - area.left < area.bottom - area.top ? area.right - area.left
                                                                      : area.bottom - area.top;
    int32_t levels = 0;
    int32_t tile = 0;
    if (n >= 5) {
        levels = int32_t(std::ceil(std::log(0.2 * n) / std::log(2.0))) + 1;
        tile = 5 << (levels - 1);
    }

    underlayImage->CopyRect(correctedBackground, &exclusive, 1, 0);

    // Seed pass.
    if (!RunRowBands(SeedWorker, &seed, &band)) return 0;

    // Tile passes, coarse to fine.
    for (int32_t level = 1; level <= levels; ++level) {
        RECT tileArea = area;
        if (!RunTileBands(TileWorker, this, &tileArea, tile)) return 0;
        tile /= 2;
    }

    compositeDirty = 1;
    spillShadowDirty = 1;
    return 1;
}
