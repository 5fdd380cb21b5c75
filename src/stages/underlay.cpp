// Underlay fill: the background colours carried in under the foreground.
// Outside the foreground the underlay is the corrected background; inside it
// is seeded with a fill colour from the foreground's rim and then refined by a
// coarse-to-fine series of tile means.
//
// Every tile of every level is a block of the cells cut by the union of all
// levels' grid lines. The fast form therefore reads the pixels once, counting
// and summing per cell, takes each level's tile totals as sums of cells, and
// writes the pixels once with the finest level's means. Only the partly
// opaque pixels, whose blended bytes depend on the previous level's mean, are
// visited once per level. The tile passes over the pixels stay as the
// straightforward form.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bands/bandjob.h"
#include "image/blockpool.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "platform/memory.h"
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
    const ConstBandRows matte(keyer->matteImage, slice);
    const ConstBandRows edge(keyer->edgeImage, slice);
    const ConstBandRows bg(keyer->backgroundImage, slice);

    uint64_t red = 0, green = 0, blue = 0, foreground = 0, rim = 0;
    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* m = matte.Row(row);
        const uint8_t* e = edge.Row(row);
        const uint8_t* b = bg.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, m += matte.step, e += edge.step, b += bg.step) {
            if (*m != 0) {
                ++foreground;
            } else if (*e != 0) {
                ++rim;
                red += b[0];
                green += b[1];
                blue += b[2];
            }
        }
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
    const ConstBandRows matte(keyer->matteImage, slice);
    const BandRows under(keyer->underlayImage, slice);
    const uint8_t red = ctx->colour[0], green = ctx->colour[1], blue = ctx->colour[2];

    for (int32_t row = 0; row < slice->rows; ++row) {
        const uint8_t* m = matte.Row(row);
        uint8_t* u = under.Row(row);
        for (int32_t x = 0; x < slice->width; ++x, m += matte.step, u += under.step)
            if (*m != 0) PaintRgb(u, red, green, blue);
    }
    return 1;
}

// The mean of a tile of tw x th pixels from its totals: the mean underlay
// colour of its foreground pixels (inside of them, channel sums u), drawn
// toward the mean of its rim pixels (rim of them, sums e) by the share of
// pixels outside the foreground.
void TileMean(uint64_t inside, const uint64_t* u, uint64_t rim, const uint64_t* e, uint16_t tw,
              uint16_t th, double* mean) {
    const double a = double(uint32_t(tw) * uint32_t(th));
    const double nt = double(inside);
    for (int c = 0; c < 3; ++c)
        mean[c] = double(u[c]) / nt;
    if (nt < a && rim > 0) {
        const double weight = (a - nt) / a;
        const double ne = double(rim);
        for (int c = 0; c < 3; ++c)
            mean[c] = mean[c] + (double(e[c]) / ne - mean[c]) * weight;
    }
}

// One tile: the mean underlay colour of its foreground pixels, drawn toward
// the mean of its rim pixels by the share of non-foreground pixels, replaces
// the foreground pixels (blended with the corrected background where the
// matte is partial).
void FillTile(const CKeyer* keyer, uint16_t x0, uint16_t y0, uint16_t tw, uint16_t th) {
    const CImageBaseClass* matteImage = keyer->matteImage;
    const CImageBaseClass* edgeImage = keyer->edgeImage;
    const CImageBaseClass* cbImage = keyer->correctedBackground;
    CImageBaseClass* underImage = keyer->underlayImage;
    const uint32_t ms = matteImage->pixelStep, es = edgeImage->pixelStep;
    const uint32_t cs = cbImage->pixelStep, us = underImage->pixelStep;
    // Row `row` of the tile in an image.
    auto tileRow = [x0, y0](const CImageBaseClass* image, int32_t row) {
        return image->PixelAddress(x0, y0) + ptrdiff_t(row) * ptrdiff_t(image->rowStride);
    };

    uint64_t inside = 0, rim = 0;
    uint64_t u[3] = {0, 0, 0};
    uint64_t e[3] = {0, 0, 0};
    for (int32_t row = 0; row < th; ++row) {
        const uint8_t* m = tileRow(matteImage, row);
        const uint8_t* d = tileRow(edgeImage, row);
        const uint8_t* p = tileRow(underImage, row);
        for (int32_t col = 0; col < tw; ++col, m += ms, d += es, p += us) {
            if (*m != 0) {
                ++inside;
                u[0] += p[0];
                u[1] += p[1];
                u[2] += p[2];
            } else if (*d != 0) {
                ++rim;
                e[0] += p[0];
                e[1] += p[1];
                e[2] += p[2];
            }
        }
    }
    if (inside == 0) return;

    double mean[3];
    TileMean(inside, u, rim, e, tw, th, mean);
    const uint8_t full[3] = {uint8_t(mean[0]), uint8_t(mean[1]), uint8_t(mean[2])};

    for (int32_t row = 0; row < th; ++row) {
        const uint8_t* m = tileRow(matteImage, row);
        const uint8_t* bg = tileRow(cbImage, row);
        uint8_t* p = tileRow(underImage, row);
        for (int32_t col = 0; col < tw; ++col, m += ms, bg += cs, p += us) {
            if (*m == 255) {
                PaintRgb(p, full[0], full[1], full[2]);
            } else if (*m != 0) {
                const double t = *m / 255.0;
                for (int c = 0; c < 3; ++c)
                    p[c] = uint8_t(double(bg[c]) * (1 - t) + mean[c] * t);
            }
        }
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

// --- The fast form: cells --------------------------------------------------

// Tile boundaries of one level along one axis of [first, end), laid out as
// the tile job lays them out and clipped to the axis: tile k covers
// [bounds[k], bounds[k + 1]), possibly empty at the ends. The grid may stop
// short of the end (an even tile size into an odd multiple of it): the
// coordinates from bounds.back() on are in no tile of the level, and their
// pixels keep what an earlier level gave them.
std::vector<int32_t> LevelBounds(int32_t first, int32_t end, int32_t tile) {
    const int32_t extent = end - first;
    const int32_t centre = (first + end - 1) / 2;
    int32_t count = 1;
    int32_t origin = first;
    if (tile < extent) {
        count = extent / tile + (extent % tile ? 1 : 0);
        if (count % 2 == 0) ++count;
        origin = centre - (count / 2) * tile - tile / 2;
    }
    std::vector<int32_t> bounds(size_t(count) + 1);
    for (int32_t k = 0; k <= count; ++k) {
        const int64_t at = int64_t(origin) + int64_t(k) * tile;
        bounds[size_t(k)] = int32_t(at < first ? first : at > end ? end : at);
    }
    return bounds;
}

// One axis of the levels: every level's tiles in cells, and for every
// coordinate its cell and its tile at each level.
struct LevelAxis {
    int32_t first = 0;
    std::vector<int32_t> cuts;                   // cell boundaries, ascending, from first to end
    std::vector<int32_t> cellOf;                 // per coordinate - first
    std::vector<std::vector<int32_t>> bounds;    // per level: tile boundaries
    std::vector<std::vector<int32_t>> tileCells; // per level: tile boundaries as cell indices
    std::vector<std::vector<int32_t>> tileOf;    // per level, per coordinate - first; -1: none

    LevelAxis(int32_t from, int32_t end, int32_t tile, int32_t levels) : first(from) {
        std::vector<uint8_t> cut(size_t(end - from) + 1, 0);
        for (int32_t level = 0; level < levels; ++level, tile /= 2) {
            bounds.push_back(LevelBounds(from, end, tile));
            for (int32_t b : bounds.back())
                cut[size_t(b - from)] = 1;
        }
        cut[0] = cut[size_t(end - from)] = 1;
        std::vector<int32_t> cellAt(cut.size(), 0);
        for (size_t i = 0; i < cut.size(); ++i) {
            if (cut[i]) cuts.push_back(from + int32_t(i));
            cellAt[i] = int32_t(cuts.size()) - 1;
        }
        cellOf.assign(cellAt.begin(), cellAt.end() - 1);
        for (const std::vector<int32_t>& b : bounds) {
            std::vector<int32_t> cells(b.size());
            for (size_t k = 0; k < b.size(); ++k)
                cells[k] = cellAt[size_t(b[k] - from)];
            tileCells.push_back(cells);
            std::vector<int32_t> of(size_t(end - from), -1);
            for (size_t k = 0; k + 1 < b.size(); ++k)
                for (int32_t c = b[k]; c < b[k + 1]; ++c)
                    of[size_t(c - from)] = int32_t(k);
            tileOf.push_back(of);
        }
    }
    int32_t Cells() const { return int32_t(cuts.size()) - 1; }
};

// Totals of one cell, then (after CellGrid::Integrate) of all cells above
// and left of it. Sums wrap at 2^32; a block's total taken from the
// integrated sums is exact whenever the true total is below 2^32.
struct CellSums {
    uint32_t inside; // matte not 0
    uint32_t full;   // matte 255
    uint32_t rim;    // matte 0 and edge not 0
    uint32_t e[3];   // corrected background at the rim pixels, red, green, blue
};

// A partly opaque pixel: where it is, its matte and its corrected background.
struct PartialPixel {
    uint16_t x, y;
    uint8_t m;
    uint8_t bg[3];
};

// The partly opaque pixels, one list per counting slice, each in row order;
// the lists in the order of their rows.
using PartialLists = std::vector<std::vector<PartialPixel>>;

struct CellGrid {
    LevelAxis xs, ys;
    int32_t stride; // cells per row of sums, plus one
    // (rows + 1) x (columns + 1), row 0 and column 0 zero. Row 0 is cleared
    // here, every other row by the counting slice that fills it.
    PooledArray<CellSums> sums;
    CellGrid(const RECT& area, int32_t tile, int32_t levels)
        : xs(area.left, area.right + 1, tile, levels), ys(area.top, area.bottom + 1, tile, levels),
          stride(xs.Cells() + 1), sums(size_t(stride) * size_t(ys.Cells() + 1), false) {
        ClearRow(-1);
    }
    // Clears the sums of cell row cy (row cy + 1 of sums, column 0 included).
    void ClearRow(int32_t cy) {
        std::fill_n(&sums[size_t(cy + 1) * size_t(stride)], size_t(stride), CellSums{});
    }

    CellSums& Cell(int32_t cx, int32_t cy) {
        return sums[size_t(cy + 1) * size_t(stride) + size_t(cx + 1)];
    }
    // A summed-area table in two steps: each cell row summed from the left
    // (by the slice that counted it), then the rows summed from the top.
    void IntegrateRow(int32_t cy) {
        CellSums* row = &Cell(0, cy);
        for (int32_t c = 1; c < stride - 1; ++c)
            Add(row[c], row[c - 1]);
    }
    // The second step for the columns [c0, c1) of sums.
    void IntegrateColumns(int32_t c0, int32_t c1) {
        const int32_t rows = ys.Cells() + 1;
        for (int32_t r = 2; r < rows; ++r) {
            CellSums* row = &sums[size_t(r) * size_t(stride)];
            const CellSums* above = row - stride;
            for (int32_t c = c0; c < c1; ++c)
                Add(row[c], above[c]);
        }
    }
    static void Add(CellSums& to, const CellSums& from) {
        to.inside += from.inside;
        to.full += from.full;
        to.rim += from.rim;
        for (int ch = 0; ch < 3; ++ch)
            to.e[ch] += from.e[ch];
    }
    // Totals of the cells [x0, x1) x [y0, y1).
    CellSums Block(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const {
        const CellSums& a = sums[size_t(y1) * size_t(stride) + size_t(x1)];
        const CellSums& b = sums[size_t(y0) * size_t(stride) + size_t(x1)];
        const CellSums& c = sums[size_t(y1) * size_t(stride) + size_t(x0)];
        const CellSums& d = sums[size_t(y0) * size_t(stride) + size_t(x0)];
        CellSums t;
        t.inside = a.inside - b.inside - c.inside + d.inside;
        t.full = a.full - b.full - c.full + d.full;
        t.rim = a.rim - b.rim - c.rim + d.rim;
        for (int ch = 0; ch < 3; ++ch)
            t.e[ch] = a.e[ch] - b.e[ch] - c.e[ch] + d.e[ch];
        return t;
    }
    // Rim sums of a block in 64 bits, cell by cell (for blocks whose rim
    // sums may reach 2^32).
    void WideRimSums(int32_t x0, int32_t x1, int32_t y0, int32_t y1, uint64_t* e) const {
        e[0] = e[1] = e[2] = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) {
                const CellSums cell = Block(x, x + 1, y, y + 1);
                for (int ch = 0; ch < 3; ++ch)
                    e[ch] += cell.e[ch];
            }
    }
};

// The counting pass of the fast form: the fill colour's totals, every
// cell's totals and the partly opaque pixels. A slice takes the cell rows
// that start within its rows, so that each cell has one writer.
struct CellContext {
    CKeyer* keyer;
    CellGrid* grid;
    uint64_t sum[3];
    uint64_t rimCount;
    PartialLists partial;
    int failed;
};

int CellWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    CellContext* ctx = static_cast<CellContext*>(slice->context);
    const CKeyer* keyer = ctx->keyer;
    CellGrid& grid = *ctx->grid;
    const LevelAxis& ys = grid.ys;
    const int32_t left = grid.xs.first;
    const int32_t w = slice->width;
    const int32_t* cellOf = grid.xs.cellOf.data();
    const CImageBaseClass* matteImage = keyer->matteImage;
    const CImageBaseClass* edgeImage = keyer->edgeImage;
    const CImageBaseClass* bgImage = keyer->backgroundImage;
    const CImageBaseClass* cbImage = keyer->correctedBackground;
    const uint32_t ms = matteImage->pixelStep, es = edgeImage->pixelStep;
    const uint32_t bs = bgImage->pixelStep, cs = cbImage->pixelStep;

    uint64_t red = 0, green = 0, blue = 0, rim = 0;
    std::vector<PartialPixel> partial;
    try {
        for (int32_t cy = 0; cy < ys.Cells(); ++cy) {
            if (ys.cuts[size_t(cy)] < slice->y || ys.cuts[size_t(cy)] >= slice->y + slice->rows)
                continue;
            grid.ClearRow(cy);
            CellSums* cells = &grid.Cell(0, cy);
            for (int32_t y = ys.cuts[size_t(cy)]; y < ys.cuts[size_t(cy) + 1]; ++y) {
                const uint8_t* m = matteImage->PixelAddress(uint16_t(left), uint16_t(y));
                const uint8_t* e = edgeImage->PixelAddress(uint16_t(left), uint16_t(y));
                const uint8_t* b = bgImage->PixelAddress(uint16_t(left), uint16_t(y));
                const uint8_t* cb = cbImage->PixelAddress(uint16_t(left), uint16_t(y));
                auto visit = [&](int32_t i) {
                    const uint8_t a = m[i * ms];
                    const uint8_t* c = cb + i * cs;
                    if (a != 0) {
                        CellSums& cell = cells[cellOf[i]];
                        ++cell.inside;
                        if (a == 255)
                            ++cell.full;
                        else
                            partial.push_back(PartialPixel{
                                uint16_t(left + i), uint16_t(y), a, {c[0], c[1], c[2]}});
                    } else if (e[i * es] != 0) {
                        CellSums& cell = cells[cellOf[i]];
                        ++cell.rim;
                        cell.e[0] += c[0];
                        cell.e[1] += c[1];
                        cell.e[2] += c[2];
                        const uint8_t* p = b + i * bs;
                        red += p[0];
                        green += p[1];
                        blue += p[2];
                        ++rim;
                    }
                };
                int32_t i = 0;
#if defined(__SSE2__)
                // Most of a frame is neither foreground nor rim: sixteen such
                // pixels are skipped at a time.
                if (ms == 1 && es == 1) {
                    const __m128i zero = _mm_setzero_si128();
                    for (; i + 16 <= w; i += 16) {
                        const __m128i any =
                            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + i)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + i)));
                        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) continue;
                        for (int32_t j = i; j < i + 16; ++j)
                            visit(j);
                    }
                }
#endif
                for (; i < w; ++i)
                    visit(i);
            }
            grid.IntegrateRow(cy);
        }
    } catch (const std::bad_alloc&) {
        // Not a failure of the fill: the tile passes take over.
        if (!slice->Lock()) return 0;
        ctx->failed = 1;
        slice->Unlock();
        return 0;
    }

    if (!slice->Lock()) return 0;
    ctx->sum[0] += red;
    ctx->sum[1] += green;
    ctx->sum[2] += blue;
    ctx->rimCount += rim;
    try {
        ctx->partial.push_back(std::move(partial));
    } catch (const std::bad_alloc&) {
        ctx->failed = 1;
    }
    return slice->Unlock() ? 1 : 0;
}

// The second step of the summed-area table over groups of columns: the job's
// rows are groups of `group` columns of sums.
struct ColumnContext {
    CellGrid* grid;
    int32_t group;
};

int ColumnWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const ColumnContext* ctx = static_cast<const ColumnContext*>(slice->context);
    const int32_t c0 = 1 + slice->y * ctx->group;
    const int32_t c1 = std::min(ctx->grid->stride, c0 + slice->rows * ctx->group);
    ctx->grid->IntegrateColumns(c0, c1);
    return 1;
}

// One level's tile means: mean[3] per tile and the bytes of an opaque pixel.
struct LevelMeans {
    int32_t columns = 0;
    std::unique_ptr<double[]> mean;  // 3 per tile
    std::unique_ptr<uint8_t[]> full; // 3 per tile
};

// The tiles of one level along an axis, cut by the tiles of the level
// before: the pieces (tile, earlier tile or -1 where there is none, cells
// [c0, c1)).
struct Piece {
    int32_t tile, earlier, c0, c1;
};

std::vector<Piece> Pieces(const std::vector<int32_t>& tiles, const std::vector<int32_t>& earlier) {
    std::vector<Piece> pieces;
    size_t j = 0;
    for (size_t k = 0; k + 1 < tiles.size(); ++k) {
        int32_t at = tiles[k];
        while (at < tiles[k + 1]) {
            while (j + 1 < earlier.size() && earlier[j + 1] <= at)
                ++j;
            int32_t to = tiles[k + 1];
            int32_t from = -1;
            if (j + 1 < earlier.size()) {
                from = int32_t(j);
                if (earlier[j + 1] < to) to = earlier[j + 1];
            }
            pieces.push_back(Piece{int32_t(k), from, at, to});
            at = to;
        }
    }
    return pieces;
}

// The level whose tile last covered pixel (x, y), looking back from `level`,
// with that tile in *tile; -1 when none did (the pixel holds the seed).
int32_t LastCover(const CellGrid& grid, const std::vector<LevelMeans>& means, int32_t level,
                  int32_t x, int32_t y, size_t* tile) {
    for (; level >= 0; --level) {
        const int32_t tx = grid.xs.tileOf[size_t(level)][size_t(x - grid.xs.first)];
        const int32_t ty = grid.ys.tileOf[size_t(level)][size_t(y - grid.ys.first)];
        if (tx >= 0 && ty >= 0) {
            *tile = size_t(ty) * size_t(means[size_t(level)].columns) + size_t(tx);
            return level;
        }
    }
    return -1;
}

// The last pass of the fast form: every pixel of the area written once.
struct WriteContext {
    const CKeyer* keyer;
    const CellGrid* grid;
    const std::vector<LevelMeans>* means; // of every level
    uint8_t seed[3];
};

int WriteWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const WriteContext* ctx = static_cast<const WriteContext*>(slice->context);
    const CKeyer* keyer = ctx->keyer;
    const CellGrid& grid = *ctx->grid;
    const std::vector<LevelMeans>& means = *ctx->means;
    const int32_t finest = int32_t(means.size()) - 1;
    const int32_t w = slice->width;
    const CImageBaseClass* matteImage = keyer->matteImage;
    const CImageBaseClass* cbImage = keyer->correctedBackground;
    CImageBaseClass* underImage = keyer->underlayImage;
    const uint32_t ms = matteImage->pixelStep, cs = cbImage->pixelStep;
    const uint32_t us = underImage->pixelStep;
    for (int32_t y = slice->y; y < slice->y + slice->rows; ++y) {
        const uint8_t* m = matteImage->PixelAddress(uint16_t(slice->x), uint16_t(y));
        const uint8_t* cb = cbImage->PixelAddress(uint16_t(slice->x), uint16_t(y));
        uint8_t* u = underImage->PixelAddress(uint16_t(slice->x), uint16_t(y));
        for (int32_t i = 0; i < w; ++i, m += ms, cb += cs, u += us) {
            if (*m == 0) {
                u[0] = cb[0];
                u[1] = cb[1];
                u[2] = cb[2];
                continue;
            }
            size_t tile = 0;
            const int32_t level = LastCover(grid, means, finest, slice->x + i, y, &tile);
            if (level < 0) {
                u[0] = ctx->seed[0];
                u[1] = ctx->seed[1];
                u[2] = ctx->seed[2];
            } else if (*m == 255) {
                const uint8_t* full = &means[size_t(level)].full[tile * 3];
                u[0] = full[0];
                u[1] = full[1];
                u[2] = full[2];
            } else {
                const double* mean = &means[size_t(level)].mean[tile * 3];
                const double t = *m / 255.0;
                for (int c = 0; c < 3; ++c)
                    u[c] = uint8_t(double(cb[c]) * (1 - t) + mean[c] * t);
            }
        }
    }
    return 1;
}

} // namespace

namespace {

// The backing colour raised so that its largest channel is 255.
void RaisedBacking(const double* k, double* raised) {
    double largest = k[0];
    if (k[1] > largest) largest = k[1];
    if (k[2] > largest) largest = k[2];
    for (int c = 0; c < 3; ++c)
        raised[c] = k[c] + (255 - largest);
}

// The seed colour from the counting totals. False for a foreground without
// any rim: nothing to carry in, and the whole area takes the raised backing
// colour (in colour).
bool SeedColour(uint64_t foreground, uint64_t rimCount, const uint64_t* sum, const RECT& area,
                const double* raised, uint8_t* colour) {
    if (foreground == 0 || rimCount == 0) {
        for (int c = 0; c < 3; ++c)
            colour[c] = uint8_t(raised[c]);
        return foreground == 0;
    }
    // Pixel count of the band rectangle, in 64 bits: a full 65535 x 65535
    // frame does not fit the job's 32-bit count.
    const double areaPixels =
        double(int64_t(area.right - area.left + 1) * int64_t(area.bottom - area.top + 1));
    const double f = double(foreground) / areaPixels;
    const double rim = double(rimCount);
    for (int c = 0; c < 3; ++c)
        colour[c] = uint8_t((double(sum[c]) / rim) * (1 - f) + raised[c] * f);
    return true;
}

void MarkDone(CKeyer& keyer) {
    keyer.compositeDirty = 1;
    keyer.spillShadowDirty = 1;
}

// The straightforward form: copy, seed, then one tile pass per level.
int FillByTiles(CKeyer& keyer, const RECT& area, const double* raised, int32_t levels,
                int32_t tile) {
    RECT band = area;
    CountContext count{&keyer, {0, 0, 0}, 0, 0};
    if (!keyer.RunRowBands(CountWorker, &count, &band)) return 0;

    SeedContext seed{&keyer, {0, 0, 0}};
    RECT exclusive;
    SetRect(&exclusive, area.left, area.top, area.right + 1, area.bottom + 1);
    if (!SeedColour(count.foregroundCount, count.rimCount, count.sum, area, raised, seed.colour)) {
        keyer.underlayImage->FillRect(&exclusive, seed.colour, 0, 0);
        return 1;
    }

    keyer.underlayImage->CopyRect(keyer.correctedBackground, &exclusive, 1, 0);
    band = area;
    if (!keyer.RunRowBands(SeedWorker, &seed, &band)) return 0;
    for (int32_t level = 1; level <= levels; ++level) {
        band = area;
        if (!keyer.RunTileBands(TileWorker, &keyer, &band, tile)) return 0;
        tile /= 2;
    }
    MarkDone(keyer);
    return 1;
}

// Whether the fast form gives the very bytes of the straightforward one
// here: the copy of the corrected background into the underlay would take
// place, and the area is at least two pixels each way.
bool CellsApply(const CKeyer& keyer, const RECT& area) {
    const CImageBaseClass* under = keyer.underlayImage;
    const CImageBaseClass* cb = keyer.correctedBackground;
    if (area.right <= area.left || area.bottom <= area.top) return false;
    if (!under || !cb || !keyer.matteImage || !keyer.edgeImage || !keyer.backgroundImage)
        return false;
    if (!under->pixels || !cb->pixels || cb->undefined || under->fieldMode || cb->fieldMode ||
        keyer.matteImage->fieldMode || keyer.edgeImage->fieldMode ||
        keyer.backgroundImage->fieldMode)
        return false;
    if (under->componentCount != 3 || cb->componentCount != 3) return false;
    return under->ViewWidth() == cb->ViewWidth() && under->ViewHeight(0) == cb->ViewHeight(0) &&
           area.right < under->ViewWidth() && area.bottom < under->ViewHeight(0) &&
           area.left >= 0 && area.top >= 0;
}

// Totals of the tiles of one level in the tile rows [firstRow, endRow) from
// the cells, and their means.
void LevelFromCells(const CellGrid& grid, size_t level, const uint8_t* seed, const uint64_t* u,
                    int32_t firstRow, int32_t endRow, LevelMeans& out) {
    const std::vector<int32_t>& bx = grid.xs.bounds[level];
    const std::vector<int32_t>& by = grid.ys.bounds[level];
    const std::vector<int32_t>& cx = grid.xs.tileCells[level];
    const std::vector<int32_t>& cy = grid.ys.tileCells[level];
    const int32_t columns = int32_t(bx.size()) - 1;
    for (int32_t j = firstRow; j < endRow; ++j) {
        const int32_t th = by[size_t(j) + 1] - by[size_t(j)];
        if (th <= 0) continue;
        for (int32_t i = 0; i < columns; ++i) {
            const int32_t tw = bx[size_t(i) + 1] - bx[size_t(i)];
            if (tw <= 0) continue;
            const int32_t x0 = cx[size_t(i)], x1 = cx[size_t(i) + 1];
            const int32_t y0 = cy[size_t(j)], y1 = cy[size_t(j) + 1];
            const CellSums s = grid.Block(x0, x1, y0, y1);
            if (s.inside == 0) continue;
            const size_t t = size_t(j) * size_t(columns) + size_t(i);
            uint64_t sums[3];
            for (int c = 0; c < 3; ++c)
                sums[c] = seed ? uint64_t(s.inside) * seed[c] : u[t * 3 + size_t(c)];
            uint64_t e[3] = {s.e[0], s.e[1], s.e[2]};
            if (uint64_t(s.rim) * 255 > 0xFFFFFFFFu) grid.WideRimSums(x0, x1, y0, y1, e);
            double* mean = &out.mean[t * 3];
            TileMean(s.inside, sums, s.rim, e, uint16_t(tw), uint16_t(th), mean);
            for (int c = 0; c < 3; ++c)
                out.full[t * 3 + size_t(c)] = uint8_t(mean[c]);
        }
    }
}

// The underlay sums of the tiles of a level in the tile rows [firstRow,
// endRow) from the levels before: their opaque pixels hold the bytes of the
// tile that last covered them, their partly opaque pixels the blend with
// that tile's mean (the seed colour where no tile covered them yet).
void SumsFromEarlierLevels(const CellGrid& grid, size_t level, const std::vector<LevelMeans>& means,
                           const uint8_t* seed, const PartialLists& partial, int32_t firstRow,
                           int32_t endRow, uint64_t* u) {
    const int32_t columns = int32_t(grid.xs.bounds[level].size()) - 1;
    const LevelMeans& earlier = means[level - 1];
    const std::vector<Piece> px = Pieces(grid.xs.tileCells[level], grid.xs.tileCells[level - 1]);
    const std::vector<Piece> py = Pieces(grid.ys.tileCells[level], grid.ys.tileCells[level - 1]);
    auto add = [&](size_t t, uint32_t n, const uint8_t* bytes) {
        for (int c = 0; c < 3; ++c)
            u[t * 3 + size_t(c)] += uint64_t(n) * bytes[c];
    };
    for (const Piece& yp : py) {
        if (yp.tile < firstRow || yp.tile >= endRow) continue;
        for (const Piece& xp : px) {
            const size_t t = size_t(yp.tile) * size_t(columns) + size_t(xp.tile);
            if (xp.earlier >= 0 && yp.earlier >= 0) {
                const uint32_t n = grid.Block(xp.c0, xp.c1, yp.c0, yp.c1).full;
                const size_t e = size_t(yp.earlier) * size_t(earlier.columns) + size_t(xp.earlier);
                if (n) add(t, n, &earlier.full[e * 3]);
                continue;
            }
            // Cells the level before left alone: each from the level that last covered it.
            for (int32_t cy = yp.c0; cy < yp.c1; ++cy)
                for (int32_t cx = xp.c0; cx < xp.c1; ++cx) {
                    const uint32_t n = grid.Block(cx, cx + 1, cy, cy + 1).full;
                    if (n == 0) continue;
                    size_t e = 0;
                    const int32_t from =
                        LastCover(grid, means, int32_t(level) - 1, grid.xs.cuts[size_t(cx)],
                                  grid.ys.cuts[size_t(cy)], &e);
                    add(t, n, from < 0 ? seed : &means[size_t(from)].full[e * 3]);
                }
        }
    }

    double share[256], rest[256];
    for (int m = 0; m < 256; ++m) {
        share[m] = m / 255.0;
        rest[m] = 1 - share[m];
    }
    const int32_t left = grid.xs.first, top = grid.ys.first;
    const int32_t* tileX = grid.xs.tileOf[level].data();
    const int32_t* tileY = grid.ys.tileOf[level].data();
    // The partly opaque pixels (in row order) of these rows of tiles.
    const std::vector<int32_t>& by = grid.ys.bounds[level];
    const int32_t fromY = by[size_t(firstRow)], toY = by[size_t(endRow)];
    for (const std::vector<PartialPixel>& list : partial) {
        if (list.empty() || list.back().y < fromY) continue;
        if (list.front().y >= toY) break;
        auto it = std::lower_bound(list.begin(), list.end(), fromY,
                                   [](const PartialPixel& p, int32_t y) { return p.y < y; });
        for (; it != list.end() && it->y < toY; ++it) {
            const PartialPixel& p = *it;
            const int32_t tx = tileX[p.x - left], ty = tileY[p.y - top];
            if (tx < 0 || ty < 0) continue;
            const size_t t = size_t(ty) * size_t(columns) + size_t(tx);
            size_t e = 0;
            const int32_t from = LastCover(grid, means, int32_t(level) - 1, p.x, p.y, &e);
            if (from < 0) {
                add(t, 1, seed);
                continue;
            }
            const double* mean = &means[size_t(from)].mean[e * 3];
            for (int c = 0; c < 3; ++c)
                u[t * 3 + size_t(c)] += uint8_t(double(p.bg[c]) * rest[p.m] + mean[c] * share[p.m]);
        }
    }
}

// One level of the fast form, run over bands of tile rows.
struct LevelContext {
    const CellGrid* grid;
    size_t level;
    std::vector<LevelMeans>* means;
    const uint8_t* seed;
    const PartialLists* partial;
    uint64_t* sums; // 3 per tile of the level
    std::atomic<int> failed;
};

int LevelWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    LevelContext* ctx = static_cast<LevelContext*>(slice->context);
    const int32_t first = slice->y, end = slice->y + slice->rows;
    // This slice's tile rows start from zero, as fresh arrays would.
    LevelMeans& out = (*ctx->means)[ctx->level];
    const size_t from = size_t(first) * size_t(out.columns) * 3;
    const size_t count = size_t(end - first) * size_t(out.columns) * 3;
    std::fill_n(&out.mean[from], count, 0.0);
    std::fill_n(&out.full[from], count, uint8_t(0));
    std::fill_n(&ctx->sums[from], count, uint64_t(0));
    try {
        if (ctx->level > 0)
            SumsFromEarlierLevels(*ctx->grid, ctx->level, *ctx->means, ctx->seed, *ctx->partial,
                                  first, end, ctx->sums);
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        ctx->failed = 1;
        return 0;
    }
    LevelFromCells(*ctx->grid, ctx->level, ctx->level == 0 ? ctx->seed : nullptr, ctx->sums, first,
                   end, out);
    return 1;
}

// The fast form. Its cell table takes about 4 bytes per pixel and the list of
// partly opaque pixels 8 bytes per such pixel; where that much memory is not
// to be had, the tile passes do the work instead (nothing is written before).
int FillByCells(CKeyer& keyer, const RECT& area, const double* raised, int32_t levels,
                int32_t tile) {
    std::unique_ptr<CellGrid> table;
    CellContext ctx{&keyer, nullptr, {0, 0, 0}, 0, {}, 0};
    bool counted = false;
    try {
        table.reset(new CellGrid(area, tile > 0 ? tile : 1, levels));
        ctx.grid = table.get();
        RECT band = area;
        if (!keyer.RunRowBands(CellWorker, &ctx, &band)) return 0;
        if (!ctx.failed) {
            // The slices' lists cover disjoint runs of rows: put in row order.
            std::sort(ctx.partial.begin(), ctx.partial.end(),
                      [](const std::vector<PartialPixel>& a, const std::vector<PartialPixel>& b) {
                          return !b.empty() && (a.empty() || a.front().y < b.front().y);
                      });
            counted = true;
        }
    } catch (const std::bad_alloc&) {
    }
    if (!counted) {
        table.reset();
        PartialLists().swap(ctx.partial);
        return FillByTiles(keyer, area, raised, levels, tile);
    }

    CellGrid& grid = *table;
    try {
        // At least 64 columns to a group, and no more groups than the frame
        // has rows (the job's rows).
        const int32_t columns = grid.stride - 1;
        const int32_t group = std::max(64, (columns + keyer.height - 1) / keyer.height);
        ColumnContext integrate{&grid, group};
        RECT groups;
        SetRect(&groups, 0, 0, 0, (columns + group - 1) / group - 1);
        if (!keyer.RunRowBands(ColumnWorker, &integrate, &groups)) return 0;
        const uint32_t foreground = grid.Block(0, grid.xs.Cells(), 0, grid.ys.Cells()).inside;

        WriteContext write{&keyer, &grid, nullptr, {0, 0, 0}};
        if (!SeedColour(foreground, ctx.rimCount, ctx.sum, area, raised, write.seed)) {
            RECT exclusive;
            SetRect(&exclusive, area.left, area.top, area.right + 1, area.bottom + 1);
            keyer.underlayImage->FillRect(&exclusive, write.seed, 0, 0);
            return 1;
        }

        std::vector<LevelMeans> means(static_cast<size_t>(levels));
        size_t most = 0; // tiles of the level with the most
        for (size_t l = 0; l < means.size(); ++l)
            most = std::max(most, (grid.xs.bounds[l].size() - 1) * (grid.ys.bounds[l].size() - 1));
        // Each level's slices clear their own tile rows of these.
        std::unique_ptr<uint64_t[]> u(new uint64_t[most * 3]);
        LevelContext level{&grid, 0, &means, write.seed, &ctx.partial, u.get(), {0}};
        for (; level.level < means.size(); ++level.level) {
            const size_t columns = grid.xs.bounds[level.level].size() - 1;
            const size_t rows = grid.ys.bounds[level.level].size() - 1;
            means[level.level].columns = int32_t(columns);
            means[level.level].mean.reset(new double[columns * rows * 3]);
            means[level.level].full.reset(new uint8_t[columns * rows * 3]);
            // Bands of tile rows: a level never has more tile rows than the
            // frame has rows.
            RECT tileRows;
            SetRect(&tileRows, 0, 0, 0, int32_t(rows) - 1);
            if (!keyer.RunRowBands(LevelWorker, &level, &tileRows) || level.failed) return 0;
        }
        write.means = &means;
        RECT band = area;
        if (!keyer.RunRowBands(WriteWorker, &write, &band)) return 0;
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        return 0;
    }
    keyer.underlayImage->undefined = 0;
    MarkDone(keyer);
    return 1;
}

} // namespace

int CKeyer::FillUnderlay() {
    const RECT area = BandRect();
    double raised[3];
    RaisedBacking(defaultParams.separationColor, raised);

    // Levels of the tile passes: sizes 5 * 2^(L-1), ..., 10, 5.
    const int32_t n = area.right - area.left < area.bottom - area.top ? area.right - area.left
                                                                      : area.bottom - area.top;
    int32_t levels = 0;
    int32_t tile = 0;
    if (n >= 5) {
        levels = int32_t(std::ceil(std::log(0.2 * n) / std::log(2.0))) + 1;
        tile = 5 << (levels - 1);
    }

    if (!straightforward && CellsApply(*this, area))
        return FillByCells(*this, area, raised, levels, tile);
    return FillByTiles(*this, area, raised, levels, tile);
}
