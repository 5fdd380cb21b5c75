// Window band jobs: a job that writes the window mean in place, checked against a brute-force mean
// taken from a copy of the image for any slot count.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "bands/bandjob.h"
#include "bands/windowslice.h"
#include "image/image.h"

namespace {

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

// Runs the 7 x 7 mean over the inclusive area of a 3-byte image, its edges
// repeated as the smoothing stage has them, with 1..maxSlots slots and
// compares each result with a brute-force mean of a copy of the image.
void CheckMean(int32_t w, int32_t h, RECT area, uint16_t maxSlots = 8) {
    for (uint16_t slots = 1; slots <= maxSlots; ++slots) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " area " << area.left << "," << area.top
                                        << ", " << slots << " slots");
        CImageBaseClass image;
        ASSERT_EQ(image.Create((uint32_t)w, (uint32_t)h, 3, nullptr), 1);
        FillRandom(image, 777u + slots);
        const size_t bytes = (size_t)w * h * 3;
        const std::vector<uint8_t> original(image.pixels, image.pixels + bytes);
        std::vector<uint8_t> expected = original;
        for (int32_t y = area.top; y <= area.bottom; ++y)
            for (int32_t x = area.left; x <= area.right; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint32_t sum = 0;
                    for (int32_t dy = -3; dy <= 3; ++dy)
                        for (int32_t dx = -3; dx <= 3; ++dx)
                            sum += original[(Clamp(y + dy, area.top, area.bottom) * w +
                                             Clamp(x + dx, area.left, area.right)) *
                                                3 +
                                            c];
                    expected[(y * w + x) * 3 + c] = (uint8_t)(uint32_t)(sum * (1.0 / 49) + 0.5);
                }
        CWindowBandJob job(slots);
        job.kernelWidth = job.kernelHeight = 7;
        job.innerMarginsOnly = 1;
        job.SetWindowSource(&image);
        SIZE size{w, h};
        RECT rect = area;
        job.SetArea(&size, &rect);
        job.SetProcedure(MeanInPlace, &image);
        ASSERT_EQ(job.Run(1), 1);
        ASSERT_EQ(std::memcmp(image.pixels, expected.data(), bytes), 0);
    }
}

} // namespace

TEST(WindowBandJob, MeanInPlaceMatchesBruteForce) {
    CheckMean(37, 64, {0, 0, 36, 63});        // whole image
    CheckMean(40, 70, {3, 5, 30, 66});        // inner area
    CheckMean(20, 10, {0, 4, 19, 5});         // two rows: bands shorter than half the window
    CheckMean(20, 1, {0, 0, 19, 0});          // a single row
    CheckMean(65535, 2, {0, 0, 65534, 1}, 2); // window rows of more than 16 bits
}

// (65535 + 6) x 3 bytes per window row: the row length is not a 16-bit total.
TEST(WindowSlice, RowsWiderThanSixteenBits) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(65535, 2, 3, nullptr), 1);
    void* mutex = nullptr;
    CWindowSlice slice(&mutex);
    slice.width = 65535;
    slice.rows = 2;
    ASSERT_EQ(slice.PrepareWindow(&image, SIZE{7, 7}), 1);
    EXPECT_EQ(slice.rowBytes, 196623u);
}
