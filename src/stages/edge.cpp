// Transparency edge: finds the boundaries between transparent and
// non-transparent matte pixels along rows and columns, records in the edge
// image each non-transparent pixel's distance from the nearest boundary (up to
// the edge depth) and marks transparent pixels within reach of a boundary,
// then caps the matte near boundaries by the edge profile.
//
// Three passes, each finished over the whole band before the next starts:
// clear the edge image, scan rows and columns, apply the caps. The scans
// write into rows of other slices: marks only ever store 1 on transparent
// pixels, distances only lower the value of non-transparent pixels (taking
// the minimum atomically), so the result does not depend on how the band is
// sliced or in which order the slices run.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

static_assert(sizeof(std::atomic<uint8_t>) == sizeof(uint8_t),
              "edge bytes are updated in place as atomic bytes");

struct EdgeContext {
    uint8_t* matte; // address of frame pixel (0, 0)
    ptrdiff_t matteStep;
    ptrdiff_t matteStride;
    uint8_t* edge; // address of frame pixel (0, 0)
    ptrdiff_t edgeStep;
    ptrdiff_t edgeStride;
    int32_t width;
    int32_t height;
    int32_t reach; // E: how far transparent pixels are marked
    int32_t depth; // D: how far distances are recorded
    CImageBaseClass* matteImage;
    CImageBaseClass* edgeImage;
    const uint8_t* profile;
};

inline std::atomic<uint8_t>* AtomicByte(uint8_t* p) {
    return reinterpret_cast<std::atomic<uint8_t>*>(p);
}

// Marks a transparent pixel near a boundary.
inline void Mark(uint8_t* p) {
    AtomicByte(p)->store(1, std::memory_order_relaxed);
}

// Records distance k unless the pixel already holds a smaller one (0 = none).
inline void RecordDistance(uint8_t* p, uint8_t k) {
    std::atomic<uint8_t>* cell = AtomicByte(p);
    uint8_t old = cell->load(std::memory_order_relaxed);
    while (old == 0 || old > k) {
        if (cell->compare_exchange_weak(old, k, std::memory_order_relaxed)) break;
    }
}

int EdgeClearWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgeContext* ctx = static_cast<const EdgeContext*>(slice->context);
    const uint16_t width = slice->width;
    BandCursor dst(ctx->edgeImage, slice);
    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col, dst.Next())
            *dst = 0;
        dst.NextRow();
    }
    return 1;
}

int EdgeScanWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgeContext* ctx = static_cast<const EdgeContext*>(slice->context);
    const int32_t w = ctx->width;
    const int32_t h = ctx->height;
    const int32_t reach = ctx->reach;
    const int32_t depth = ctx->depth;
    const uint8_t* matte = ctx->matte;
    const ptrdiff_t ms = ctx->matteStep;
    const ptrdiff_t mr = ctx->matteStride;
    uint8_t* edge = ctx->edge;
    const ptrdiff_t es = ctx->edgeStep;
    const ptrdiff_t er = ctx->edgeStride;
    auto matteAt = [=](int32_t x, int32_t y) { return matte[y * mr + x * ms]; };
    auto edgeAt = [=](int32_t x, int32_t y) { return edge + (y * er + x * es); };

    const int32_t x0 = slice->x;
    const int32_t x1 = slice->x + slice->width - 1;
    const int32_t y0 = slice->y;
    const int32_t y1 = slice->y + slice->rows - 1;

    // Row scan: boundaries between horizontal neighbours.
    for (int32_t y = y0; y <= y1; ++y) {
        const int32_t top = y - std::min(reach, y);
        const int32_t bottom = y + std::min(reach, h - 1 - y);
        for (int32_t x = x0; x <= x1; ++x) {
            const uint8_t cur = matteAt(x, y);
            const uint8_t prev = x > 0 ? matteAt(x - 1, y) : cur;
            if (prev != 0 && cur == 0) {
                // Opaque to transparent: mark to the right, distances to the left.
                const int32_t last = x + std::min(reach, w - 1 - x) - 1;
                for (int32_t yy = top; yy <= bottom; ++yy)
                    for (int32_t xx = x; xx <= last; ++xx)
                        if (matteAt(xx, yy) == 0) Mark(edgeAt(xx, yy));
                const int32_t walk = std::min(depth, x);
                for (int32_t k = 1; k <= walk; ++k) {
                    if (matteAt(x - k, y) == 0) break;
                    RecordDistance(edgeAt(x - k, y), (uint8_t)k);
                }
            } else if (prev == 0 && cur != 0) {
                // Transparent to opaque: mark to the left, distances to the right.
                const int32_t first = x - std::min(reach, x);
                for (int32_t yy = top; yy <= bottom; ++yy)
                    for (int32_t xx = first; xx < x; ++xx)
                        if (matteAt(xx, yy) == 0) Mark(edgeAt(xx, yy));
                const int32_t walk = std::min(depth, w - 1 - x);
                for (int32_t k = 1; k <= walk; ++k) {
                    if (matteAt(x + k - 1, y) == 0) break;
                    RecordDistance(edgeAt(x + k - 1, y), (uint8_t)k);
                }
            }
        }
    }

    // Column scan: boundaries between vertical neighbours; marks stay in the
    // column itself.
    for (int32_t y = y0; y <= y1; ++y) {
        const int32_t above = y;
        const int32_t below = h - 1 - y;
        for (int32_t x = x0; x <= x1; ++x) {
            const uint8_t cur = matteAt(x, y);
            const uint8_t prev = y > 0 ? matteAt(x, y - 1) : cur;
            if (prev != 0 && cur == 0) {
                // Opaque to transparent: mark downward, distances upward.
                const int32_t last = y + std::min(reach, below) - 1;
                for (int32_t yy = y; yy <= last; ++yy)
                    if (matteAt(x, yy) == 0) Mark(edgeAt(x, yy));
                const int32_t walk = std::min(depth, above);
                for (int32_t k = 1; k <= walk; ++k) {
                    if (matteAt(x, y - k) == 0) break;
                    RecordDistance(edgeAt(x, y - k), (uint8_t)k);
                }
            } else if (prev == 0 && cur != 0) {
                // Transparent to opaque: mark the transparent run above,
                // distances downward.
                const int32_t run = std::min(reach, above);
                for (int32_t k = 1; k <= run; ++k) {
                    if (matteAt(x, y - k) != 0) break;
                    Mark(edgeAt(x, y - k));
                }
                const int32_t walk = std::min(depth, below);
                for (int32_t k = 1; k <= walk; ++k) {
                    if (matteAt(x, y + k - 1) == 0) break;
                    RecordDistance(edgeAt(x, y + k - 1), (uint8_t)k);
                }
            }
        }
    }
    return 1;
}

int EdgeApplyWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgeContext* ctx = static_cast<const EdgeContext*>(slice->context);
    uint8_t profile[11];
    std::copy(ctx->profile, ctx->profile + 11, profile);
    const uint16_t width = slice->width;
    BandCursor dst(ctx->matteImage, slice);
    ConstBandCursor dist(ctx->edgeImage, slice);
    for (uint16_t row = 0; row < slice->rows; ++row) {
        for (uint16_t col = 0; col < width; ++col, dst.Next(), dist.Next()) {
            // Non-transparent pixels hold distances of at most the depth (<= 10).
            const uint8_t a = *dst;
            const uint8_t d = *dist;
            if (a != 0 && d != 0 && profile[d] < a) *dst = profile[d];
        }
        dst.NextRow();
        dist.NextRow();
    }
    return 1;
}

} // namespace

int CKeyer::SoftenEdge() {
    if (!matteImage || !edgeImage) return 0;

    EdgeContext ctx;
    ctx.matteImage = matteImage;
    ctx.edgeImage = edgeImage;
    ctx.matte = matteImage->PixelAddress(0, 0);
    ctx.matteStep = (ptrdiff_t)matteImage->pixelStep;
    ctx.matteStride = (ptrdiff_t)matteImage->rowStride;
    ctx.edge = edgeImage->PixelAddress(0, 0);
    ctx.edgeStep = (ptrdiff_t)edgeImage->pixelStep;
    ctx.edgeStride = (ptrdiff_t)edgeImage->rowStride;
    ctx.width = width;
    ctx.height = height;
    ctx.profile = edgeProfile;

    // Reach grows with the frame: 2 up to 431 lines, 4 at 576, 7 at 1080.
    const int32_t filterReach = std::max(filterWidth / 2, filterHeight / 2) + 1;
    const int32_t frameReach = 4 * std::min(width, height) / 576;
    ctx.reach = std::max(std::max(2, filterReach), frameReach);

    // Depth: whole pixels of the edge, never past the profile's last entry.
    const double edgeDepth = params.transparencyEdge;
    if (edgeDepth >= 10.0)
        ctx.depth = 10;
    else if (edgeDepth >= 1.0)
        ctx.depth = (int32_t)edgeDepth;
    else
        ctx.depth = 0;

    RECT band = BandRect();
    if (!RunRowBands(EdgeClearWorker, &ctx, &band)) return 0;
    if (!RunRowBands(EdgeScanWorker, &ctx, &band)) return 0;
    return RunRowBands(EdgeApplyWorker, &ctx, &band);
}
