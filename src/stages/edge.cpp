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
//
// Boundaries are rare, so the scans compare sixteen pixels at a time for a
// change between zero and nonzero and act only where one is found. They
// gather where the subject is: the scan runs over balanced bands, whose strips
// the slots take as they free (row bands in the straightforward form).
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bands/bandjob.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

// Edge bytes that another slice may write at the same time are accessed
// atomically through the compiler's builtins, on the plain bytes.
inline void AtomicStore(uint8_t* p, uint8_t v) {
    __atomic_store_n(p, v, __ATOMIC_RELAXED);
}

// Lowers *p to k unless it holds a smaller nonzero value (0 = none).
inline void AtomicLower(uint8_t* p, uint8_t k) {
    uint8_t old = __atomic_load_n(p, __ATOMIC_RELAXED);
    while ((old == 0 || old > k) &&
           !__atomic_compare_exchange_n(p, &old, k, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
}

// The matte and edge images addressed by frame position, and the frame's
// reach and depth.
struct EdgePlane {
    const uint8_t* matte; // frame pixel (0, 0)
    ptrdiff_t matteStep;
    ptrdiff_t matteStride;
    uint8_t* edge; // frame pixel (0, 0)
    ptrdiff_t edgeStep;
    ptrdiff_t edgeStride;
    int32_t width;
    int32_t height;
    int32_t reach; // E: how far transparent pixels are marked
    int32_t depth; // D: how far distances are recorded
    CImageBaseClass* matteImage;
    CImageBaseClass* edgeImage;
    uint8_t profile[11];
};

// One frame row or column of both images: pixel i at matte[i * matteStep].
struct Line {
    const uint8_t* matte;
    ptrdiff_t matteStep;
    uint8_t* edge;
    ptrdiff_t edgeStep;
    int32_t length;

    bool Opaque(int32_t i) const { return matte[i * matteStep] != 0; }
    uint8_t* Edge(int32_t i) const { return edge + i * edgeStep; }
};

Line Row(const EdgePlane& pl, int32_t y) {
    return {pl.matte + y * pl.matteStride, pl.matteStep, pl.edge + y * pl.edgeStride, pl.edgeStep,
            pl.width};
}

Line Column(const EdgePlane& pl, int32_t x) {
    return {pl.matte + x * pl.matteStep, pl.matteStride, pl.edge + x * pl.edgeStep, pl.edgeStride,
            pl.height};
}

// The pixels on one side of the boundary just before position i of a line:
// the side after starts at i and has room for the pixels past i, the side
// before starts at i - 1 and has room for the pixels before i.
struct Side {
    int32_t first;
    int32_t dir;
    int32_t room;
};

Side After(int32_t i, int32_t length) {
    return {i, 1, length - 1 - i};
}

Side Before(int32_t i) {
    return {i - 1, -1, i};
}

// Marks up to `count` transparent pixels of a side with 1, skipping opaque
// ones or, with stopAtOpaque, ending at the first.
void MarkTransparent(const Line& line, const Side& side, int32_t count, bool stopAtOpaque) {
    for (int32_t k = 0, i = side.first; k < count; ++k, i += side.dir) {
        if (!line.Opaque(i))
            AtomicStore(line.Edge(i), 1);
        else if (stopAtOpaque)
            break;
    }
}

// Gives the k-th opaque pixel of a side (k from 1) distance k, up to `count`
// pixels, ending at the first transparent one.
void RecordDistances(const Line& line, const Side& side, int32_t count) {
    for (int32_t k = 1, i = side.first; k <= count; ++k, i += side.dir) {
        if (!line.Opaque(i)) break;
        AtomicLower(line.Edge(i), uint8_t(k));
    }
}

// The last row a row boundary in row y marks.
inline int32_t LastMarkedRow(const EdgePlane& pl, int32_t y) {
    return y + std::min(pl.reach, pl.height - 1 - y);
}

// A boundary between positions i - 1 and i of `line`; opaqueBefore tells
// which side is transparent. Row boundaries mark a block of rows around the
// line (`reach` lines to each side, clipped to the frame), those from
// markFrom on; column boundaries mark the column only, and the transparent
// run above a transparent-to-opaque step ends at its first opaque pixel.
void Boundary(const EdgePlane& pl, bool alongRow, int32_t lineIndex, int32_t i, bool opaqueBefore,
              int32_t markFrom = 0) {
    const Line line = alongRow ? Row(pl, lineIndex) : Column(pl, lineIndex);
    const Side after = After(i, line.length);
    const Side before = Before(i);
    const Side& clear = opaqueBefore ? after : before;
    const Side& solid = opaqueBefore ? before : after;
    const int32_t marks = std::min(pl.reach, clear.room);
    if (alongRow) {
        const int32_t top = std::max(lineIndex - std::min(pl.reach, lineIndex), markFrom);
        const int32_t bottom = LastMarkedRow(pl, lineIndex);
        for (int32_t y = top; y <= bottom; ++y)
            MarkTransparent(Row(pl, y), clear, marks, false);
    } else {
        MarkTransparent(line, clear, marks, !opaqueBefore);
    }
    RecordDistances(line, solid, std::min(pl.depth, solid.room));
}

// Calls found(i, opaqueBefore) for every i in 0..n-1 where cur[i] and
// prev[i] differ in being zero or not; both step by `step` bytes.
template <typename Found>
void ForEachChange(const uint8_t* cur, const uint8_t* prev, ptrdiff_t step, int32_t n,
                   Found found) {
    int32_t i = 0;
#if defined(__SSE2__)
    if (step == 1) {
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
            unsigned bits = unsigned(
                _mm_movemask_epi8(_mm_xor_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero))));
            while (bits != 0) {
                const int32_t j = i + __builtin_ctz(bits);
                found(j, prev[j] != 0);
                bits &= bits - 1;
            }
        }
    }
#endif
    for (; i < n; ++i) {
        const bool before = prev[i * step] != 0;
        if (before != (cur[i * step] != 0)) found(i, before);
    }
}

int EdgeClearWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgePlane* pl = static_cast<const EdgePlane*>(slice->context);
    const BandRows edge(pl->edgeImage, slice);
    for (int32_t row = 0; row < slice->rows; ++row) {
        uint8_t* e = edge.Row(row);
        if (edge.step == 1)
            std::memset(e, 0, slice->width);
        else
            for (int32_t x = 0; x < slice->width; ++x)
                e[x * edge.step] = 0;
    }
    return 1;
}

int EdgeScanWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgePlane& pl = *static_cast<const EdgePlane*>(slice->context);
    const int32_t x0 = slice->x;
    const int32_t y0 = slice->y;
    const int32_t y1 = slice->y + slice->rows - 1;
    // The first frame column has no left neighbour and gives no row boundary.
    const int32_t first = std::max(x0, 1);
    const int32_t columns = x0 + slice->width - first;

    // A side of the foreground that runs down the rows gives a row boundary
    // at the same place, facing the same way, row after row. Its marks in
    // all but the last of its rows were made for the row before, by this
    // slice: only that last row is left. last[i] is 2 * row + opaqueBefore
    // of the latest row boundary at column first + i.
    std::vector<int32_t> last;
    try {
        last.assign(size_t(columns > 0 ? columns : 0), INT32_MIN);
    } catch (const std::bad_alloc&) {
        last.clear(); // every boundary marks all its rows
    }
    for (int32_t y = y0; y <= y1; ++y) {
        const uint8_t* m = Row(pl, y).matte;
        ForEachChange(m + first * pl.matteStep, m + (first - 1) * pl.matteStep, pl.matteStep,
                      columns, [&](int32_t i, bool opaqueBefore) {
                          const int32_t code = 2 * y + (opaqueBefore ? 1 : 0);
                          int32_t markFrom = 0;
                          if (!last.empty()) {
                              if (last[size_t(i)] == code - 2)
                                  markFrom = LastMarkedRow(pl, y - 1) + 1;
                              last[size_t(i)] = code;
                          }
                          Boundary(pl, true, y, first + i, opaqueBefore, markFrom);
                      });
    }
    // Likewise the first frame row gives no column boundary.
    for (int32_t y = std::max(y0, 1); y <= y1; ++y) {
        const uint8_t* m = Row(pl, y).matte + x0 * pl.matteStep;
        ForEachChange(
            m, m - pl.matteStride, pl.matteStep, slice->width,
            [&](int32_t i, bool opaqueBefore) { Boundary(pl, false, x0 + i, y, opaqueBefore); });
    }
    return 1;
}

// Caps the matte by the profile at the distance. Non-transparent pixels hold
// distances of at most the depth (<= 10).
int EdgeApplyWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    const EdgePlane* pl = static_cast<const EdgePlane*>(slice->context);
    uint8_t profile[11];
    std::copy(pl->profile, pl->profile + 11, profile);
    const BandRows matte(pl->matteImage, slice);
    const ConstBandRows edge(pl->edgeImage, slice);
    const int32_t width = slice->width;
    for (int32_t row = 0; row < slice->rows; ++row) {
        uint8_t* m = matte.Row(row);
        const uint8_t* e = edge.Row(row);
        int32_t x = 0;
#if defined(__SSE2__)
        // Most of the edge image is 0: skip sixteen such pixels at a time.
        if (matte.step == 1 && edge.step == 1) {
            const __m128i zero = _mm_setzero_si128();
            for (; x + 16 <= width; x += 16) {
                const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + x));
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(d, zero)) == 0xFFFF) continue;
                for (int32_t i = x; i < x + 16; ++i)
                    if (m[i] != 0 && e[i] != 0 && profile[e[i]] < m[i]) m[i] = profile[e[i]];
            }
        }
#endif
        for (; x < width; ++x) {
            uint8_t& a = m[x * matte.step];
            const uint8_t d = e[x * edge.step];
            if (a != 0 && d != 0 && profile[d] < a) a = profile[d];
        }
    }
    return 1;
}

} // namespace

int CKeyer::SoftenEdge() {
    if (!matteImage || !edgeImage) return 0;

    EdgePlane pl;
    pl.matteImage = matteImage;
    pl.edgeImage = edgeImage;
    pl.matte = matteImage->PixelAddress(0, 0);
    pl.matteStep = (ptrdiff_t)matteImage->pixelStep;
    pl.matteStride = (ptrdiff_t)matteImage->rowStride;
    pl.edge = edgeImage->PixelAddress(0, 0);
    pl.edgeStep = (ptrdiff_t)edgeImage->pixelStep;
    pl.edgeStride = (ptrdiff_t)edgeImage->rowStride;
    pl.width = width;
    pl.height = height;
    std::copy(edgeProfile, edgeProfile + 11, pl.profile);

    // Reach grows with the frame: 2 up to 431 lines, 4 at 576, 7 at 1080.
    const int32_t filterReach = std::max(filterWidth / 2, filterHeight / 2) + 1;
    const int32_t frameReach = 4 * std::min(width, height) / 576;
    pl.reach = std::max(std::max(2, filterReach), frameReach);

    // Depth: whole pixels of the edge, never past the profile's last entry.
    const double edgeDepth = params.transparencyEdge;
    if (edgeDepth >= 10.0)
        pl.depth = 10;
    else if (edgeDepth >= 1.0)
        pl.depth = (int32_t)edgeDepth;
    else
        pl.depth = 0;

    RECT band = BandRect();
    if (!RunRowBands(EdgeClearWorker, &pl, &band)) return 0;
    if (!RunBalancedBands(EdgeScanWorker, &pl, &band)) return 0;
    return RunRowBands(EdgeApplyWorker, &pl, &band);
}
