// Window slices: preparation, failures, and a window band job that writes
// the window mean in place, checked against a brute-force mean taken from a
// copy of the image.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "bands/bandjob.h"
#include "bands/windowslice.h"
#include "image/image.h"

namespace {

SIZE Size(int32_t cx, int32_t cy) {
    SIZE size;
    size.cx = cx;
    size.cy = cy;
    return size;
}

RECT Rect(int32_t l, int32_t t, int32_t r, int32_t b) {
    RECT rect;
    rect.left = l;
    rect.top = t;
    rect.right = r;
    rect.bottom = b;
    return rect;
}

void FillRandom(CImageBaseClass& image, uint32_t seed) {
    size_t bytes = (size_t)image.rowStride * (size_t)(image.bounds.bottom - image.bounds.top);
    for (size_t i = 0; i < bytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        image.pixels[i] = (uint8_t)(seed >> 16);
    }
}

// Writes the window mean of each selected component over its pixel, rounded
// half up, the way the smoothing stage does.
int MeanInPlace(CJobSlice* base) {
    if (!base->ready) return 0;
    CWindowSlice* slice = static_cast<CWindowSlice*>(base);
    CImageBaseClass* image = static_cast<CImageBaseClass*>(slice->context);
    uint8_t* pixel = image->PixelAddress((uint16_t)slice->x, (uint16_t)slice->y);
    const int32_t advance = image->RowAdvance(slice->width);
    for (;;) {
        for (uint16_t i = 0; i < slice->width; ++i) {
            if (i == 0)
                slice->StartRow();
            else
                slice->StepColumn();
            for (uint16_t c = 0; c < slice->components; ++c)
                pixel[c] = (uint8_t)(uint32_t)(slice->windowSums[c] * slice->inverseArea + 0.5);
            pixel += image->pixelStep;
        }
        pixel += advance;
        if (!slice->AdvanceRow(pixel)) break;
    }
    return 1;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// The mean of every pixel of the inclusive area, taken from `original`, with
// coordinates outside [lo, hi] repeating the nearest row or column inside.
std::vector<uint8_t> BruteForceMean(const std::vector<uint8_t>& original,
                                    const CImageBaseClass& image, RECT area, RECT reach, int32_t ww,
                                    int32_t wh) {
    std::vector<uint8_t> expected = original;
    const double inverse = 1.0 / (ww * wh);
    const uint32_t step = image.pixelStep;
    const uint32_t stride = image.rowStride;
    for (int32_t y = area.top; y <= area.bottom; ++y)
        for (int32_t x = area.left; x <= area.right; ++x)
            for (uint16_t c = 0; c < image.componentCount; ++c) {
                uint32_t sum = 0;
                for (int32_t dy = -wh / 2; dy <= wh / 2; ++dy)
                    for (int32_t dx = -ww / 2; dx <= ww / 2; ++dx) {
                        int32_t sx = Clamp(x + dx, reach.left, reach.right);
                        int32_t sy = Clamp(y + dy, reach.top, reach.bottom);
                        sum += original[sy * stride + sx * step + image.componentOffset + c];
                    }
                expected[y * stride + x * step + image.componentOffset + c] =
                    (uint8_t)(uint32_t)(sum * inverse + 0.5);
            }
    return expected;
}

struct MeanCase {
    int32_t imageWidth, imageHeight;
    uint16_t bytesPerPixel, componentCount, componentOffset;
    RECT area; // inclusive
    uint32_t innerMarginsOnly;
    int32_t ww, wh;
};

// Runs the mean job with 1..maxSlots slots and compares with the brute force.
void CheckMean(const MeanCase& mc, uint16_t maxSlots = 8) {
    for (uint16_t slots = 1; slots <= maxSlots; ++slots) {
        SCOPED_TRACE(testing::Message() << slots << " slots");
        CImageBaseClass image;
        ASSERT_EQ(image.Create((uint32_t)mc.imageWidth, (uint32_t)mc.imageHeight, mc.bytesPerPixel,
                               nullptr),
                  1);
        image.SelectComponents(mc.componentCount, mc.componentOffset);
        FillRandom(image, 777u + slots);
        size_t bytes = (size_t)image.rowStride * (size_t)mc.imageHeight;
        std::vector<uint8_t> original(image.pixels, image.pixels + bytes);

        RECT reach =
            mc.innerMarginsOnly ? mc.area : Rect(0, 0, mc.imageWidth - 1, mc.imageHeight - 1);
        std::vector<uint8_t> expected =
            BruteForceMean(original, image, mc.area, reach, mc.ww, mc.wh);

        CWindowBandJob job(slots);
        job.kernelWidth = mc.ww;
        job.kernelHeight = mc.wh;
        job.innerMarginsOnly = mc.innerMarginsOnly;
        job.SetWindowSource(&image);
        SIZE size = Size(mc.imageWidth, mc.imageHeight);
        RECT area = mc.area;
        job.SetArea(&size, &area);
        job.SetProcedure(MeanInPlace, &image);
        ASSERT_EQ(job.Run(1), 1);
        for (uint16_t i = 0; i < job.sliceCount; ++i)
            ASSERT_EQ(job.slices[i]->ready, 1u);
        ASSERT_EQ(std::memcmp(image.pixels, expected.data(), bytes), 0);
    }
}

// ---------------------------------------------------------------- preparation

// A band of the image set by hand, as InitSlice would.
void SetBand(CWindowSlice& slice, int32_t x, int32_t y, uint16_t width, uint16_t rows, uint16_t lm,
             uint16_t rm, uint16_t tm, uint16_t bm) {
    slice.x = x;
    slice.y = y;
    slice.width = width;
    slice.rows = rows;
    slice.leftMargin = lm;
    slice.rightMargin = rm;
    slice.topMargin = tm;
    slice.bottomMargin = bm;
}

TEST(WindowSlice, NewSliceIsEmpty) {
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    EXPECT_EQ(slice.windowReady, 0u);
    EXPECT_EQ(slice.source, nullptr);
    EXPECT_EQ(slice.windowRows, nullptr);
    EXPECT_EQ(slice.windowSums, nullptr);
    EXPECT_EQ(slice.rowBytes, 0u);
    EXPECT_EQ(slice.sourceComponentStep, 1u);
    EXPECT_EQ(slice.tilesX, 1);
    EXPECT_EQ(slice.mutexRef, &mutex);
}

TEST(WindowSlice, SevenBySevenGeometry) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(100, 20, 3, nullptr), 1);
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 0, 100, 10, 0, 0, 0, 10);
    ASSERT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 1);
    EXPECT_EQ(slice.windowReady, 1u);
    EXPECT_EQ(slice.halfWidth, 3);
    EXPECT_EQ(slice.halfHeight, 3);
    EXPECT_DOUBLE_EQ(slice.inverseArea, 1.0 / 49);
    EXPECT_EQ(slice.innerRows, 6);
    EXPECT_EQ(slice.bottomRowCount, 3);
    EXPECT_EQ(slice.advanceLimit, 9);
    EXPECT_EQ(slice.rowBytes, 318u);
    EXPECT_EQ(slice.components, 3);
    EXPECT_EQ(slice.contiguous, 1u);
    EXPECT_EQ(slice.ringCentre, slice.ringHead + 3);
    EXPECT_EQ(slice.ringTail->next, slice.ringHead);
    EXPECT_EQ(slice.leftEdgeCursor, slice.leftEdges);

    // Preparing again frees the window and fails.
    EXPECT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 0);
    EXPECT_EQ(slice.windowReady, 0u);
    EXPECT_EQ(slice.windowRows, nullptr);
}

TEST(WindowSlice, FourRowBandTakesEveryNewRowFromBottomRows) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(8, 8, 1, nullptr), 1);
    for (int y = 0; y < 8; ++y)
        std::memset(image.pixels + y * 8, 10 * y, 8);
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 2, 8, 4, 0, 0, 2, 2); // rows 2..5, two rows above and below
    ASSERT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 1);
    EXPECT_EQ(slice.innerRows, 0);
    EXPECT_EQ(slice.bottomRowCount, 3);
    EXPECT_EQ(slice.advanceLimit, 3);
    EXPECT_EQ(slice.leftEdges, nullptr);
    // Window rows: image rows 0,0,1,2,3,4,5 (top repeats beyond the margin).
    const uint8_t rowsAbove[7] = {0, 0, 10, 20, 30, 40, 50};
    for (int r = 0; r < 7; ++r)
        EXPECT_EQ(slice.windowRows[r * slice.rowBytes + 3], rowsAbove[r]) << r;
    // Rows entering below: 6, 7, then 7 again (bottom margin 2).
    EXPECT_EQ(slice.bottomRows[0 * slice.rowBytes], 60);
    EXPECT_EQ(slice.bottomRows[1 * slice.rowBytes], 70);
    EXPECT_EQ(slice.bottomRows[2 * slice.rowBytes], 70);
    // The source may change now: the window reads only its copies.
    std::memset(image.pixels, 0xFF, 64);
    const uint8_t* next = image.pixels;
    for (int move = 0; move < 3; ++move)
        EXPECT_EQ(slice.AdvanceRow(next), 1);
    EXPECT_EQ(slice.AdvanceRow(next), 0);
    EXPECT_EQ(slice.advanceCount, 3);
    EXPECT_EQ(slice.ringTail->start[0], 70);
}

TEST(WindowSlice, PreparationFailures) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(16, 16, 3, nullptr), 1);
    void* mutex = nullptr;
    for (SIZE size : {Size(1, 1), Size(4, 7), Size(7, 0), Size(-3, 3), Size(7, 4)}) {
        CWindowSlice slice(&mutex);
        SetBand(slice, 0, 0, 16, 16, 0, 0, 0, 0);
        EXPECT_EQ(slice.PrepareWindow(&image, size), 0) << size.cx << "x" << size.cy;
        EXPECT_EQ(slice.windowReady, 0u);
        EXPECT_EQ(slice.windowRows, nullptr);
    }
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 0, 16, 16, 0, 0, 0, 0);
    EXPECT_EQ(slice.PrepareWindow(nullptr, Size(7, 7)), 0);
    // A band reaching past the source's view.
    SetBand(slice, 4, 0, 16, 16, 0, 0, 0, 0);
    EXPECT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 0);
    // An empty band.
    SetBand(slice, 0, 0, 16, 0, 0, 0, 0, 0);
    EXPECT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 0);
    // A source without memory.
    CImageBaseClass empty;
    SetBand(slice, 0, 0, 1, 1, 0, 0, 0, 0);
    EXPECT_EQ(slice.PrepareWindow(&empty, Size(3, 3)), 0);
    // Non-square windows are fine.
    SetBand(slice, 0, 0, 16, 16, 0, 0, 0, 0);
    EXPECT_EQ(slice.PrepareWindow(&image, Size(1, 3)), 1);
    EXPECT_EQ(slice.halfWidth, 0);
    EXPECT_EQ(slice.rowBytes, 48u);
}

TEST(WindowBandJob, FailedPreparationLeavesTheBandsUnprocessed) {
    for (SIZE size : {Size(1, 1), Size(4, 7), Size(7, 0), Size(-3, 3)}) {
        CImageBaseClass image;
        ASSERT_EQ(image.Create(20, 30, 3, nullptr), 1);
        FillRandom(image, 5);
        std::vector<uint8_t> before(image.pixels, image.pixels + 20 * 30 * 3);
        CWindowBandJob job(2);
        job.kernelWidth = size.cx;
        job.kernelHeight = size.cy;
        job.SetWindowSource(&image);
        SIZE imageSize = Size(20, 30);
        job.SetArea(&imageSize, nullptr);
        job.SetProcedure(MeanInPlace, &image);
        EXPECT_EQ(job.Run(1), 1);
        for (uint16_t i = 0; i < job.sliceCount; ++i)
            EXPECT_EQ(job.slices[i]->ready, 0u);
        EXPECT_EQ(std::memcmp(image.pixels, before.data(), before.size()), 0);
    }
}

TEST(WindowBandJob, WithoutSourceNothingIsProcessed) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(10, 10, 1, nullptr), 1);
    CWindowBandJob job(1);
    job.kernelWidth = 3;
    job.kernelHeight = 3;
    job.SetWindowSource(nullptr); // ignored: still no source
    EXPECT_EQ(job.windowSource, nullptr);
    SIZE size = Size(10, 10);
    job.SetArea(&size, nullptr);
    job.SetProcedure(MeanInPlace, &image);
    EXPECT_EQ(job.Run(1), 1);
    EXPECT_EQ(job.slices[0]->ready, 0u);
}

// ---------------------------------------------------------------- mean in place

TEST(WindowBandJob, MeanOverWholeImageMatchesBruteForce) {
    CheckMean({37, 64, 3, 3, 0, Rect(0, 0, 36, 63), 1, 7, 7});
}

TEST(WindowBandJob, MeanOverInnerAreaRepeatsTheAreaEdges) {
    CheckMean({40, 70, 3, 3, 0, Rect(3, 5, 30, 66), 1, 7, 7});
}

TEST(WindowBandJob, MeanOverInnerAreaReadsTheImageAround) {
    CheckMean({40, 70, 3, 3, 0, Rect(3, 5, 30, 66), 0, 7, 7});
}

TEST(WindowBandJob, MeanOfSelectedComponentsOfWiderPixels) {
    // Red, green, blue of alpha-red-green-blue pixels: copied pixel by pixel.
    CheckMean({33, 60, 4, 3, 1, Rect(2, 1, 31, 58), 1, 7, 7});
}

TEST(WindowBandJob, NonSquareWindow) {
    CheckMean({30, 64, 1, 1, 0, Rect(0, 0, 29, 63), 1, 5, 3});
}

TEST(WindowBandJob, BandShorterThanHalfWindowRepeatsItsLowestRow) {
    // Two rows: one band on the caller; with inner margins only the window
    // repeats the band's own rows, otherwise it reads the image rows around.
    CheckMean({20, 10, 3, 3, 0, Rect(0, 4, 19, 5), 1, 7, 7});
    CheckMean({20, 10, 3, 3, 0, Rect(0, 4, 19, 5), 0, 7, 7});
    CheckMean({20, 10, 3, 3, 0, Rect(0, 7, 19, 8), 0, 7, 7}); // one row below the band
    CheckMean({20, 1, 3, 3, 0, Rect(0, 0, 19, 0), 0, 7, 7});  // single-row image
}

TEST(WindowBandJob, RowsWiderThanSixteenBits) {
    // (65535 + 6) x 3 bytes per window row.
    CImageBaseClass image;
    ASSERT_EQ(image.Create(65535, 2, 3, nullptr), 1);
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 0, 65535, 2, 0, 0, 0, 0);
    ASSERT_EQ(slice.PrepareWindow(&image, Size(7, 7)), 1);
    EXPECT_EQ(slice.rowBytes, 196623u);

    CheckMean({65535, 2, 3, 3, 0, Rect(0, 0, 65534, 1), 1, 7, 7}, 2);
}

} // namespace
