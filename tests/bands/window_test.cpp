// Window slices: preparation and its failures, and a window band job that
// writes the window mean in place, checked against a brute-force mean taken
// from a copy of the image for any slot count.
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "bands/bandjob.h"
#include "bands/windowslice.h"
#include "image/image.h"

namespace {

template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
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
    do {
        for (uint16_t i = 0; i < slice->width; ++i, pixel += image->pixelStep) {
            if (i == 0)
                slice->StartRow();
            else
                slice->StepColumn();
            for (uint16_t c = 0; c < slice->components; ++c)
                pixel[c] = (uint8_t)(uint32_t)(slice->windowSums[c] * slice->inverseArea + 0.5);
        }
        pixel += advance;
    } while (slice->AdvanceRow(pixel));
    return 1;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

struct MeanCase {
    int32_t imageWidth, imageHeight;
    uint16_t bytesPerPixel, componentCount, componentOffset;
    RECT area; // inclusive
    uint32_t innerMarginsOnly;
    int32_t ww, wh;
};

// The mean of every pixel of the area, taken from `original`, with
// coordinates outside the reach repeating the nearest row or column inside.
std::vector<uint8_t> BruteForceMean(const std::vector<uint8_t>& original,
                                    const CImageBaseClass& image, const MeanCase& mc) {
    const RECT reach =
        mc.innerMarginsOnly ? mc.area : RECT{0, 0, mc.imageWidth - 1, mc.imageHeight - 1};
    std::vector<uint8_t> expected = original;
    const double inverse = 1.0 / (mc.ww * mc.wh);
    const uint32_t step = image.pixelStep, stride = image.rowStride;
    for (int32_t y = mc.area.top; y <= mc.area.bottom; ++y)
        for (int32_t x = mc.area.left; x <= mc.area.right; ++x)
            for (uint16_t c = image.componentOffset; c < image.componentOffset + mc.componentCount;
                 ++c) {
                uint32_t sum = 0;
                for (int32_t dy = -mc.wh / 2; dy <= mc.wh / 2; ++dy)
                    for (int32_t dx = -mc.ww / 2; dx <= mc.ww / 2; ++dx)
                        sum += original[Clamp(y + dy, reach.top, reach.bottom) * stride +
                                        Clamp(x + dx, reach.left, reach.right) * step + c];
                expected[y * stride + x * step + c] = (uint8_t)(uint32_t)(sum * inverse + 0.5);
            }
    return expected;
}

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
        std::vector<uint8_t> expected =
            BruteForceMean(std::vector<uint8_t>(image.pixels, image.pixels + bytes), image, mc);

        CWindowBandJob job(slots);
        job.kernelWidth = mc.ww;
        job.kernelHeight = mc.wh;
        job.innerMarginsOnly = mc.innerMarginsOnly;
        job.SetWindowSource(&image);
        SIZE size{mc.imageWidth, mc.imageHeight};
        RECT area = mc.area;
        job.SetArea(&size, &area);
        job.SetProcedure(MeanInPlace, &image);
        ASSERT_EQ(job.Run(1), 1);
        for (uint16_t i = 0; i < job.sliceCount; ++i)
            ASSERT_EQ(job.slices[i]->ready, 1u);
        ASSERT_EQ(std::memcmp(image.pixels, expected.data(), bytes), 0);
    }
}

// A band of the image set by hand, as InitSlice would (no side margins).
void SetBand(CWindowSlice& s, int32_t x, int32_t y, uint16_t width, uint16_t rows, uint16_t top = 0,
             uint16_t bottom = 0) {
    std::tie(s.x, s.y, s.width, s.rows, s.topMargin, s.bottomMargin) =
        std::make_tuple(x, y, width, rows, top, bottom);
}

} // namespace

TEST(WindowSlice, PreparationFailures) {
    CImageBaseClass image, empty;
    ASSERT_EQ(image.Create(16, 16, 3, nullptr), 1);
    void* mutex = nullptr;
    for (SIZE size : {SIZE{1, 1}, SIZE{4, 7}, SIZE{7, 0}, SIZE{-3, 3}, SIZE{7, 4}}) {
        CWindowSlice slice(&mutex);
        SetBand(slice, 0, 0, 16, 16);
        EXPECT_EQ(slice.PrepareWindow(&image, size), 0) << size.cx << "x" << size.cy;
        EXPECT_EQ(slice.windowReady, 0u);
        EXPECT_EQ(slice.windowRows, nullptr);
    }
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 0, 16, 16);
    EXPECT_EQ(slice.PrepareWindow(nullptr, SIZE{7, 7}), 0);
    SetBand(slice, 4, 0, 16, 16); // reaching past the source's view
    EXPECT_EQ(slice.PrepareWindow(&image, SIZE{7, 7}), 0);
    SetBand(slice, 0, 0, 16, 0); // empty
    EXPECT_EQ(slice.PrepareWindow(&image, SIZE{7, 7}), 0);
    SetBand(slice, 0, 0, 1, 1); // a source without memory
    EXPECT_EQ(slice.PrepareWindow(&empty, SIZE{3, 3}), 0);
    SetBand(slice, 0, 0, 16, 16); // non-square windows are fine
    EXPECT_EQ(slice.PrepareWindow(&image, SIZE{1, 3}), 1);
    EXPECT_EQ(L(slice.halfWidth, slice.halfHeight, slice.rowBytes, slice.components),
              L(0, 1, 48, 3));
    // Preparing again frees the window and fails.
    EXPECT_EQ(slice.PrepareWindow(&image, SIZE{7, 7}), 0);
    EXPECT_EQ(L(slice.windowReady, slice.windowRows == nullptr), L(0, 1));
}

TEST(WindowBandJob, FailedPreparationOrNoSourceLeavesTheBandsUnprocessed) {
    for (SIZE size : {SIZE{1, 1}, SIZE{4, 7}, SIZE{7, 0}, SIZE{-3, 3}, SIZE{3, 3}}) {
        const bool noSource = size.cx == 3;
        SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy);
        CImageBaseClass image;
        ASSERT_EQ(image.Create(20, 30, 3, nullptr), 1);
        FillRandom(image, 5);
        std::vector<uint8_t> before(image.pixels, image.pixels + 20 * 30 * 3);
        CWindowBandJob job(noSource ? 1 : 2);
        job.kernelWidth = size.cx;
        job.kernelHeight = size.cy;
        job.SetWindowSource(noSource ? nullptr : &image); // null is ignored: still no source
        EXPECT_EQ(job.windowSource, noSource ? nullptr : &image);
        SIZE imageSize{20, 30};
        job.SetArea(&imageSize, nullptr);
        job.SetProcedure(MeanInPlace, &image);
        EXPECT_EQ(job.Run(1), 1);
        ASSERT_GE(job.sliceCount, 1);
        for (uint16_t i = 0; i < job.sliceCount; ++i)
            EXPECT_EQ(job.slices[i]->ready, 0u);
        EXPECT_EQ(std::memcmp(image.pixels, before.data(), before.size()), 0);
    }
}

// Inner margins only (1): the window repeats the area's edges; otherwise it
// reads the image around the area.
TEST(WindowBandJob, MeanInPlaceMatchesBruteForce) {
    const MeanCase cases[] = {
        {37, 64, 3, 3, 0, {0, 0, 36, 63}, 1, 7, 7}, // whole image
        {40, 70, 3, 3, 0, {3, 5, 30, 66}, 1, 7, 7}, // inner area, edges repeated
        {40, 70, 3, 3, 0, {3, 5, 30, 66}, 0, 7, 7}, // inner area, image around
        {33, 60, 4, 3, 1, {2, 1, 31, 58}, 1, 7, 7}, // red, green, blue of 4-byte pixels
        {30, 64, 1, 1, 0, {0, 0, 29, 63}, 1, 5, 3}, // non-square window
        {20, 10, 3, 3, 0, {0, 4, 19, 5}, 1, 7, 7},  // two rows: band shorter than half
        {20, 10, 3, 3, 0, {0, 4, 19, 5}, 0, 7, 7},  // the window
        {20, 10, 3, 3, 0, {0, 7, 19, 8}, 0, 7, 7},  // one row below the band
        {20, 1, 3, 3, 0, {0, 0, 19, 0}, 0, 7, 7},   // single-row image
    };
    for (const MeanCase& mc : cases) {
        SCOPED_TRACE(testing::Message()
                     << mc.imageWidth << "x" << mc.imageHeight << " area " << mc.area.left << ","
                     << mc.area.top << " inner " << mc.innerMarginsOnly);
        CheckMean(mc);
    }
}

TEST(WindowBandJob, RowsWiderThanSixteenBits) {
    // (65535 + 6) x 3 bytes per window row.
    CImageBaseClass image;
    ASSERT_EQ(image.Create(65535, 2, 3, nullptr), 1);
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    SetBand(slice, 0, 0, 65535, 2);
    ASSERT_EQ(slice.PrepareWindow(&image, SIZE{7, 7}), 1);
    EXPECT_EQ(slice.rowBytes, 196623u);
    CheckMean({65535, 2, 3, 3, 0, {0, 0, 65534, 1}, 1, 7, 7}, 2);
}
