// The image buffer: creation, addressing, copies, fills, lines, resizing and
// the field layout, with the reason code of every failure.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "image/image.h"

// The out-of-memory test asks for an impossible block; under AddressSanitizer
// that must come back as a null result, as it does without it.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// An owned image of `w` x `h` pixels whose byte i holds (i * 7 + seed) & 0xFF.
void MakePattern(CImageBaseClass& image, uint32_t w, uint32_t h, uint32_t bpp, int seed = 0) {
    ASSERT_EQ(image.Create(w, h, bpp, nullptr), 1);
    for (size_t i = 0; i < (size_t)w * h * bpp; ++i)
        image.pixels[i] = (uint8_t)(i * 7 + seed);
    ASSERT_EQ(image.SetUndefined(0), 1);
}

uint8_t ByteAt(const CImageBaseClass& image, int x, int y, int c = 0) {
    return image.pixels[(size_t)y * image.rowStride + (size_t)x * image.bytesPerPixel + c];
}

int CountBytes(const CImageBaseClass& image, uint8_t value) {
    int count = 0;
    for (size_t i = 0; i < (size_t)image.rowStride * (image.bounds.bottom - image.bounds.top); ++i)
        count += image.pixels[i] == value;
    return count;
}

// Owned 1-byte image whose frame row r holds the value 10 + r in every pixel.
void MakeRows(CImageBaseClass& image, uint32_t w, uint32_t h) {
    ASSERT_EQ(image.Create(w, h, 1, nullptr), 1);
    for (uint32_t r = 0; r < h; ++r)
        for (uint32_t x = 0; x < w; ++x)
            image.pixels[r * w + x] = (uint8_t)(10 + r);
    image.SetUndefined(0);
}

} // namespace

TEST(ImageCreate, DefaultState) {
    CImageBaseClass image;
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.bytesPerPixel, 0);
    EXPECT_EQ(image.componentCount, 0);
    EXPECT_EQ(image.componentStep, 1u);
    EXPECT_EQ(image.fieldMode, 0u);
    EXPECT_EQ(image.fieldOrder, 1);
    EXPECT_EQ(image.ownsPixels, 0u);
    EXPECT_EQ(image.undefined, 1u);
    EXPECT_TRUE(IsRectEmpty(&image.bounds));
    EXPECT_EQ(image.scratchPixel, nullptr);
    EXPECT_EQ(image.GetRuntimeClass(), &CImageBaseClass::classCImageBaseClass);
}

TEST(ImageCreate, OwnedMemoryIsZeroFilled) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(7, 5, 3, nullptr), 1);
    EXPECT_EQ(image.ownsPixels, 1u);
    EXPECT_EQ(image.undefined, 1u);
    EXPECT_EQ(image.rowStride, 21u);
    EXPECT_EQ(image.rowGap, 0u);
    EXPECT_EQ(image.pixelStep, 3u);
    EXPECT_EQ(image.componentCount, 3);
    EXPECT_EQ(image.componentOffset, 0);
    EXPECT_EQ(image.view.right, 7);
    EXPECT_EQ(image.view.bottom, 5);
    EXPECT_EQ(image.viewAtOrigin.right, 7);
    EXPECT_EQ(CountBytes(image, 0), 7 * 5 * 3);
}

TEST(ImageCreate, ReasonCodes) {
    CImageBaseClass image;
    ImageError = 0;
    EXPECT_EQ(image.Create(0, 10, 4, nullptr), 0);
    EXPECT_EQ(ImageError, 3u);
    ImageError = 0;
    EXPECT_EQ(image.Create(65536, 1, 1, nullptr), 0);
    EXPECT_EQ(ImageError, 3u);
    ImageError = 0;
    EXPECT_EQ(image.Create(10, 0, 1, nullptr), 0);
    EXPECT_EQ(ImageError, 3u);
    ImageError = 0;
    EXPECT_EQ(image.Create(10, 10, 0, nullptr), 0); // a pixel needs at least one byte
    EXPECT_EQ(ImageError, 3u);

    ImageError = 0;
    EXPECT_EQ(image.Create(65535, 65535, 65535, nullptr), 0);
    EXPECT_EQ(ImageError, 4u);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.ownsPixels, 0u);

    ASSERT_EQ(image.Create(4, 3, 2, nullptr), 1);
    uint8_t* before = image.pixels;
    std::vector<uint8_t> other(100);
    EXPECT_EQ(image.Create(5, 5, 4, other.data()), 0);
    EXPECT_EQ(ImageError, 18u);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.bytesPerPixel, 2);
    EXPECT_EQ(image.bounds.right, 4);
}

TEST(ImageCreate, WrapsAHostFrameWithPaddedRows) {
    std::vector<uint8_t> frame(2624 * 480, 0xAB);
    CImageBaseClass image;
    ASSERT_EQ(image.Create(2624 / 4, 480, 4, frame.data()), 1);
    image.SelectComponents(3, 1);
    EXPECT_EQ(image.ownsPixels, 0u);
    EXPECT_EQ(image.ViewWidth(), 656);
    EXPECT_EQ(image.ViewHeight(1), 480);
    EXPECT_EQ(image.rowStride, 2624u);
    EXPECT_EQ(image.PixelAddress(0, 0), frame.data() + 1);
    EXPECT_EQ(image.PixelAddress(0, 1) - image.PixelAddress(0, 0), 2624);
    EXPECT_EQ(image.RowAdvance(656), 0);
    EXPECT_EQ(image.RowAdvance(10), 2624 - 40);
    EXPECT_EQ(frame[0], 0xAB); // caller memory is left alone
    image.Release();
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.ownsPixels, 0u);
    EXPECT_EQ(image.bytesPerPixel, 0);
    EXPECT_EQ(image.componentCount, 0);
    EXPECT_EQ(image.undefined, 1u);
    EXPECT_EQ(image.view.right, 656); // the view stays until the next Create
    EXPECT_EQ(frame[2624 * 480 - 1], 0xAB);
}

TEST(ImageAddress, ClampsToTheLastPixelAndRow) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(10, 6, 2, nullptr), 1);
    uint8_t* base = image.pixels;
    EXPECT_EQ(image.PixelAddress(3, 2), base + 2 * 20 + 3 * 2);
    EXPECT_EQ(image.PixelAddress(500, 2), base + 2 * 20 + 9 * 2);
    EXPECT_EQ(image.PixelAddress(3, 60), base + 5 * 20 + 3 * 2);
    image.SetFieldMode(1, 0);
    EXPECT_EQ(image.PixelAddress(0, 9), base + 2 * 20); // last row of the first field
    image.fieldOrder = 2;
    EXPECT_EQ(image.PixelAddress(0, 0), base + 3 * 20);
    EXPECT_EQ(image.PixelAddress(0, 9), base + 5 * 20);
}

TEST(ImageAddress, BandWalkWithRowAdvance) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(8, 5, 3, nullptr), 1);
    image.SelectComponents(1, 2);
    // Walk a 3 x 2 band at (4, 1) the way the workers do.
    uint8_t* p = image.PixelAddress(4, 1);
    for (int row = 0; row < 2; ++row, p += image.RowAdvance(3))
        for (int x = 0; x < 3; ++x, p += image.pixelStep)
            *p = 1;
    EXPECT_EQ(CountBytes(image, 1), 6);
    for (int y = 1; y <= 2; ++y)
        for (int x = 4; x <= 6; ++x)
            EXPECT_EQ(ByteAt(image, x, y, 2), 1);
}

TEST(ImageCopy, ReasonCodes) {
    CImageBaseClass empty, a, b, narrow, shorter;
    MakePattern(a, 6, 4, 3);
    MakePattern(b, 6, 4, 3, 1);
    MakePattern(narrow, 5, 4, 3);
    MakePattern(shorter, 6, 3, 3);
    ImageError = 0;
    EXPECT_EQ(empty.Copy(&a, 0), 0);
    EXPECT_EQ(ImageError, 6u);
    ImageError = 0;
    EXPECT_EQ(a.Copy(&empty, 0), 0);
    EXPECT_EQ(ImageError, 6u);
    ImageError = 0;
    EXPECT_EQ(a.Copy(&a, 0), 1);
    EXPECT_EQ(ImageError, 0u);
    EXPECT_EQ(a.Copy(&narrow, 0), 0);
    EXPECT_EQ(ImageError, 5u);
    ImageError = 0;
    EXPECT_EQ(a.Copy(&shorter, 0), 0);
    EXPECT_EQ(ImageError, 5u);
    b.SelectComponents(1, 0);
    ImageError = 0;
    EXPECT_EQ(a.Copy(&b, 0), 0);
    EXPECT_EQ(ImageError, 19u);
    EXPECT_EQ(ByteAt(a, 1, 0), 21); // unchanged pattern
}

TEST(ImageCopy, UndefinedSourceCopiesNothing) {
    CImageBaseClass source, dest;
    ASSERT_EQ(source.Create(4, 4, 1, nullptr), 1); // undefined after Create
    source.pixels[0] = 99;
    ASSERT_EQ(dest.Create(4, 4, 1, nullptr), 1);
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 1u);
    EXPECT_EQ(dest.pixels[0], 0);
    dest.SetUndefined(0);
    RECT rect = {0, 0, 2, 2};
    EXPECT_EQ(dest.CopyRect(&source, &rect, 0, 0), 1);
    EXPECT_EQ(dest.undefined, 1u);
    EXPECT_EQ(dest.pixels[0], 0);
}

TEST(ImageCopy, WholePixelsAndSelectedComponents) {
    CImageBaseClass source, dest;
    MakePattern(source, 5, 3, 3);
    ASSERT_EQ(dest.Create(5, 3, 3, nullptr), 1);
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    EXPECT_EQ(std::vector<uint8_t>(dest.pixels, dest.pixels + 45),
              std::vector<uint8_t>(source.pixels, source.pixels + 45));

    // Red, green, blue of a 4-byte frame into a 3-byte image.
    std::vector<uint8_t> frame(5 * 3 * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = (uint8_t)(200 + i);
    CImageBaseClass host;
    ASSERT_EQ(host.Create(5, 3, 4, frame.data()), 1);
    host.SelectComponents(3, 1);
    host.SetUndefined(0);
    EXPECT_EQ(dest.Copy(&host, 0), 1);
    EXPECT_EQ(ByteAt(dest, 0, 0, 0), 201);
    EXPECT_EQ(ByteAt(dest, 4, 2, 2), (uint8_t)(200 + (2 * 5 + 4) * 4 + 3));

    // And alpha alone from a 1-byte matte.
    CImageBaseClass matte;
    MakePattern(matte, 5, 3, 1, 50);
    host.SelectComponents(1, 0);
    EXPECT_EQ(host.Copy(&matte, 0), 1);
    EXPECT_EQ(frame[(1 * 5 + 2) * 4], matte.pixels[7]);
    EXPECT_EQ(frame[(1 * 5 + 2) * 4 + 1], (uint8_t)(200 + 29));
}

TEST(ImageCopy, CopyRectAndOutside) {
    CImageBaseClass source, dest, other;
    MakePattern(source, 6, 5, 1, 100);
    ASSERT_EQ(dest.Create(6, 5, 1, nullptr), 1);
    RECT zero = {0, 0, 0, 0};
    RECT empty = {3, 3, 3, 4};
    EXPECT_EQ(dest.CopyRect(&source, &zero, 0, 0), 1);
    EXPECT_EQ(dest.CopyRect(&source, &empty, 0, 0), 1);
    EXPECT_EQ(dest.undefined, 1u);
    EXPECT_EQ(CountBytes(dest, 0), 30);

    RECT wide = {0, 0, 7, 2};
    RECT negative = {-1, 0, 2, 2};
    ImageError = 0;
    EXPECT_EQ(dest.CopyRect(&source, &wide, 0, 0), 0);
    EXPECT_EQ(ImageError, 23u);
    ImageError = 0;
    EXPECT_EQ(dest.CopyRect(&source, &negative, 0, 0), 0);
    EXPECT_EQ(ImageError, 23u);
    ImageError = 0;
    EXPECT_EQ(dest.CopyOutsideRect(&source, &wide, 0, 0), 0);
    EXPECT_EQ(ImageError, 5u);
    MakePattern(other, 6, 5, 3);
    ImageError = 0;
    EXPECT_EQ(dest.CopyRect(&other, &zero, 0, 0), 0); // component counts first
    EXPECT_EQ(ImageError, 19u);
    EXPECT_EQ(CountBytes(dest, 0), 30);

    RECT inner = {1, 1, 4, 3};
    EXPECT_EQ(dest.CopyRect(&source, &inner, 0, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    EXPECT_EQ(CountBytes(dest, 0), 30 - 6);
    for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(ByteAt(dest, x, y), ByteAt(source, x, y));

    CImageBaseClass outside;
    ASSERT_EQ(outside.Create(6, 5, 1, nullptr), 1);
    EXPECT_EQ(outside.CopyOutsideRect(&source, &inner, 0, 0), 1);
    EXPECT_EQ(outside.undefined, 0u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool in = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(ByteAt(outside, x, y), in ? 0 : ByteAt(source, x, y)) << x << "," << y;
        }
    CImageBaseClass whole;
    ASSERT_EQ(whole.Create(6, 5, 1, nullptr), 1);
    EXPECT_EQ(whole.CopyOutsideRect(&source, &zero, 0, 0), 1); // means Copy
    EXPECT_EQ(std::vector<uint8_t>(whole.pixels, whole.pixels + 30),
              std::vector<uint8_t>(source.pixels, source.pixels + 30));
}

TEST(ImageFill, FillRectBoundsAndUndefinedMark) {
    CImageBaseClass image, empty;
    ASSERT_EQ(image.Create(5, 4, 3, nullptr), 1);
    const uint8_t value[3] = {1, 2, 3};
    RECT zero = {0, 0, 0, 0};
    RECT emptyRect = {2, 1, 1, 3};
    RECT tooWide = {0, 0, 6, 1};
    EXPECT_EQ(image.FillRect(&zero, value, 0, 0), 1);
    EXPECT_EQ(image.FillRect(&emptyRect, value, 0, 0), 1);
    ImageError = 0;
    EXPECT_EQ(image.FillRect(&tooWide, value, 0, 0), 0);
    EXPECT_EQ(ImageError, 23u);
    EXPECT_EQ(CountBytes(image, 0), 60);
    ImageError = 0;
    EXPECT_EQ(empty.FillRect(&zero, value, 0, 0), 0);
    EXPECT_EQ(ImageError, 6u);

    RECT rect = {1, 2, 5, 4};
    EXPECT_EQ(image.FillRect(&rect, value, 0, 0), 1);
    EXPECT_EQ(image.undefined, 1u); // the caller clears it
    EXPECT_EQ(CountBytes(image, 0), 60 - 24);
    EXPECT_EQ(ByteAt(image, 4, 3, 2), 3);
    EXPECT_EQ(ByteAt(image, 1, 2, 0), 1);

    // Only the selected component is written.
    image.SelectComponents(1, 1);
    const uint8_t nine = 9;
    RECT corner = {0, 0, 1, 1};
    EXPECT_EQ(image.FillRect(&corner, &nine, 0, 0), 1);
    EXPECT_EQ(ByteAt(image, 0, 0, 0), 0);
    EXPECT_EQ(ByteAt(image, 0, 0, 1), 9);
    EXPECT_EQ(ByteAt(image, 0, 0, 2), 0);
}

TEST(ImageFill, FillOutsideRectAndFill) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(6, 5, 1, nullptr), 1);
    const uint8_t seven = 7;
    RECT inner = {2, 1, 5, 4};
    EXPECT_EQ(image.FillOutsideRect(&inner, &seven, 0, 0), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool in = x >= 2 && x < 5 && y >= 1 && y < 4;
            EXPECT_EQ(ByteAt(image, x, y), in ? 0 : 7) << x << "," << y;
        }
    RECT outside = {2, 1, 5, 6};
    ImageError = 0;
    EXPECT_EQ(image.FillOutsideRect(&outside, &seven, 0, 0), 0);
    EXPECT_EQ(ImageError, 23u);
    RECT zero = {0, 0, 0, 0};
    const uint8_t one = 1;
    EXPECT_EQ(image.FillOutsideRect(&zero, &one, 0, 0), 1); // means Fill
    EXPECT_EQ(CountBytes(image, 1), 30);
    CImageBaseClass empty;
    ImageError = 0;
    EXPECT_EQ(empty.Fill(&one, 0), 0);
    EXPECT_EQ(ImageError, 6u);
    ImageError = 0;
    EXPECT_EQ(empty.FillOutsideRect(&inner, &one, 0, 0), 0);
    EXPECT_EQ(ImageError, 6u);
}

TEST(ImageDraw, DrawLineCounts) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(120, 20, 1, nullptr), 1);
    const uint8_t v = 5;
    EXPECT_EQ(image.DrawLine({0, 5}, {100, 5}, &v, 0), 1);
    EXPECT_EQ(CountBytes(image, 5), 99);
    EXPECT_EQ(ByteAt(image, 0, 5), 5);
    EXPECT_EQ(ByteAt(image, 98, 5), 5);
    EXPECT_EQ(ByteAt(image, 99, 5), 0);

    const uint8_t w = 6;
    EXPECT_EQ(image.DrawLine({3, 3}, {4, 3}, &w, 0), 1);
    EXPECT_EQ(image.DrawLine({3, 3}, {3, 3}, &w, 0), 1);
    EXPECT_EQ(CountBytes(image, 6), 0);
    ImageError = 0;
    EXPECT_EQ(image.DrawLine({0, 0}, {5, 5}, &w, 0), 0);
    EXPECT_EQ(image.DrawLine({0, 0}, {121, 0}, &w, 0), 0);
    EXPECT_EQ(image.DrawLine({0, -1}, {0, 4}, &w, 0), 0);
    EXPECT_EQ(ImageError, 0u); // no reason for these
    EXPECT_EQ(CountBytes(image, 6), 0);

    // Vertical, on the extended column x = width: clamped to the last column.
    EXPECT_EQ(image.DrawLine({120, 20}, {120, 10}, &w, 0), 1);
    EXPECT_EQ(CountBytes(image, 6), 9);
    EXPECT_EQ(ByteAt(image, 119, 10), 6);
    EXPECT_EQ(ByteAt(image, 119, 18), 6);
    EXPECT_EQ(ByteAt(image, 119, 19), 0);

    CImageBaseClass empty;
    ImageError = 0;
    EXPECT_EQ(empty.DrawLine({0, 0}, {1, 0}, &v, 0), 0);
    EXPECT_EQ(ImageError, 6u);
}

TEST(ImagePixel, GetPixelInsideAndOutside) {
    CImageBaseClass image;
    MakePattern(image, 4, 3, 4);
    image.SelectComponents(3, 1);
    const uint8_t* p = image.GetPixel({2, 1});
    ASSERT_EQ(p, image.scratchPixel);
    const int base = (1 * 4 + 2) * 4;
    EXPECT_EQ(p[0], (uint8_t)((base + 1) * 7));
    EXPECT_EQ(p[2], (uint8_t)((base + 3) * 7));
    for (POINT outside : {POINT{4, 0}, POINT{0, 3}, POINT{-1, 0}}) {
        image.GetPixel({2, 1});
        p = image.GetPixel(outside);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 0);
    }
    image.Release();
    EXPECT_EQ(image.GetPixel({0, 0}), nullptr); // no memory, nothing read
}

TEST(ImageState, SetUndefined) {
    CImageBaseClass image;
    ImageError = 0;
    EXPECT_EQ(image.SetUndefined(0), 0);
    EXPECT_EQ(ImageError, 6u);
    EXPECT_EQ(image.SetUndefined(1), 1);
    ASSERT_EQ(image.Create(2, 2, 1, nullptr), 1);
    EXPECT_EQ(image.SetUndefined(0), 1);
    EXPECT_EQ(image.undefined, 0u);
}

TEST(ImageState, ErrorIsPerThread) {
    ImageError = 0;
    uint32_t seen = 1;
    std::thread worker([&seen] {
        CImageBaseClass image;
        image.Create(0, 0, 1, nullptr);
        seen = ImageError;
    });
    worker.join();
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(ImageError, 0u);
}

TEST(ImageResize, WrappedImages) {
    std::vector<uint8_t> frame(40 * 4, 0x11);
    CImageBaseClass image;
    ASSERT_EQ(image.Create(10, 4, 4, frame.data()), 1);
    ImageError = 0;
    EXPECT_EQ(image.Resize(20, 2, 0), 0);
    EXPECT_EQ(ImageError, 0u);
    EXPECT_EQ(image.view.right, 10);
    EXPECT_EQ(image.Resize(10, 4, 1), 1);
    EXPECT_EQ(image.pixels, frame.data());
    EXPECT_EQ(image.Resize(20, 2, 1), 0);
    EXPECT_EQ(ImageError, 2u);

    // Even one pixel wide, caller memory is never reallocated.
    std::vector<uint8_t> column(4, 0);
    CImageBaseClass thin;
    ASSERT_EQ(thin.Create(1, 4, 1, column.data()), 1);
    ImageError = 0;
    EXPECT_EQ(thin.Resize(8, 8, 1), 0);
    EXPECT_EQ(ImageError, 2u);
    EXPECT_EQ(thin.Resize(2, 2, 1), 1); // same pixel count: kept
    EXPECT_EQ(thin.pixels, column.data());
    EXPECT_EQ(thin.rowStride, 2u);

    CImageBaseClass empty;
    ImageError = 0;
    EXPECT_EQ(empty.Resize(4, 4, 1), 0);
    EXPECT_EQ(empty.Resize(4, 4, 0), 0);
    EXPECT_EQ(ImageError, 0u);
}

TEST(ImageResize, OwnedImages) {
    CImageBaseClass image;
    MakePattern(image, 100, 50, 3);
    uint8_t* before = image.pixels;
    const uint8_t sample = image.pixels[1234];
    EXPECT_EQ(image.Resize(50, 100, 0), 1);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.pixels[1234], sample);
    EXPECT_EQ(image.undefined, 0u);
    EXPECT_EQ(image.ViewWidth(), 50);
    EXPECT_EQ(image.ViewHeight(0), 100);
    EXPECT_EQ(image.rowStride, 150u);
    EXPECT_EQ(image.bounds.bottom, 100);

    ImageError = 0;
    EXPECT_EQ(image.Resize(0, 5, 0), 0);
    EXPECT_EQ(ImageError, 3u);
    EXPECT_EQ(image.Resize(5, 65536, 0), 0);
    EXPECT_EQ(ImageError, 3u);
    EXPECT_EQ(image.Resize(60, 100, 1), 0);
    EXPECT_EQ(ImageError, 2u);

    // A new pixel count reallocates zero-filled memory.
    EXPECT_EQ(image.Resize(30, 20, 0), 1);
    EXPECT_EQ(image.undefined, 1u);
    EXPECT_EQ(image.rowStride, 90u);
    EXPECT_EQ(image.view.right, 30);
    EXPECT_EQ(image.view.bottom, 20);
    EXPECT_EQ(CountBytes(image, 0), 30 * 20 * 3);

    // The keyer's 1 x 1 start: one pixel wide, so a forced resize may grow it.
    CImageBaseClass unit;
    ASSERT_EQ(unit.Create(1, 1, 1, nullptr), 1);
    EXPECT_EQ(unit.Resize(64, 48, 1), 1);
    EXPECT_EQ(unit.ViewWidth(), 64);
    EXPECT_EQ(unit.ViewHeight(0), 48);
}

TEST(ImageFields, SplitFieldsOnFiveRows) {
    CImageBaseClass source, dest;
    MakeRows(source, 3, 5);
    ASSERT_EQ(dest.Create(3, 5, 1, nullptr), 1);
    std::fill(dest.pixels, dest.pixels + 15, 0xEE);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.SplitFields(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    const uint8_t expected[5] = {10, 12, 11, 13, 0xEE};
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(ByteAt(dest, 2, r), expected[r]) << r;
    EXPECT_EQ(ByteAt(source, 0, 4), 14);

    EXPECT_EQ(dest.SplitFields(&source, 1), 1);
    const uint8_t swapped[4] = {11, 13, 10, 12};
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(ByteAt(dest, 0, r), swapped[r]) << r;

    // Addressing by field: order 1 sees the first half, order 2 the second.
    EXPECT_EQ(*dest.PixelAddress(0, 1), 13);
    dest.fieldOrder = 2;
    EXPECT_EQ(*dest.PixelAddress(0, 1), 12);

    CImageBaseClass merged;
    ASSERT_EQ(merged.Create(3, 5, 1, nullptr), 1);
    EXPECT_EQ(merged.MergeFields(&dest, 1), 1);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(ByteAt(merged, 1, r), 10 + r) << r;
    EXPECT_EQ(ByteAt(merged, 1, 4), 0);
}

TEST(ImageFields, SplitAndMergeReasonCodes) {
    CImageBaseClass frame, fields, empty, wide, deep;
    MakeRows(frame, 3, 4);
    ASSERT_EQ(fields.Create(3, 4, 1, nullptr), 1);
    fields.SetFieldMode(1, 0);
    ASSERT_EQ(wide.Create(3, 4, 2, nullptr), 1);
    wide.SetFieldMode(1, 0);
    ASSERT_EQ(deep.Create(3, 6, 1, nullptr), 1);
    deep.SetFieldMode(1, 0);
    auto check = [](int result, uint32_t reason) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ImageError, reason);
        ImageError = 0;
    };
    ImageError = 0;
    check(fields.SplitFields(&fields, 0), 17);
    check(fields.MergeFields(&fields, 0), 17);
    check(fields.SplitFields(&empty, 0), 6);
    check(empty.MergeFields(&fields, 0), 6);
    check(wide.SplitFields(&frame, 0), 19);   // pixel size
    check(deep.SplitFields(&frame, 0), 19);   // height
    check(frame.SplitFields(&fields, 0), 19); // destination not in field mode
    check(fields.SplitFields(&deep, 0), 19);  // source in field mode
    check(fields.MergeFields(&frame, 0), 19); // source not in field mode
    EXPECT_EQ(fields.SplitFields(&frame, 0), 1);
}

TEST(ImageFields, SetFieldModeConvertRoundTrip) {
    for (uint32_t height : {6u, 7u}) {
        CImageBaseClass image;
        MakeRows(image, 4, height);
        image.SetFieldMode(1, 1);
        EXPECT_EQ(image.fieldMode, 1u);
        EXPECT_EQ(image.ViewHeight(1), height / 2);
        for (uint16_t k = 0; k < height / 2; ++k) {
            image.fieldOrder = 1;
            EXPECT_EQ(*image.PixelAddress(3, k), 10 + 2 * k);
            image.fieldOrder = 2;
            EXPECT_EQ(*image.PixelAddress(3, k), 11 + 2 * k);
        }
        image.fieldOrder = 1;
        image.SetFieldMode(0, 1);
        EXPECT_EQ(image.fieldMode, 0u);
        for (uint32_t r = 0; r < height; ++r)
            EXPECT_EQ(ByteAt(image, 0, r), 10 + r) << r;
    }
}

TEST(ImageFields, SetFieldModeConvertsCallerMemory) {
    std::vector<uint8_t> frame(2 * 4 * 4);
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 8; ++i)
            frame[r * 8 + i] = (uint8_t)(r * 16 + i);
    const std::vector<uint8_t> original = frame;
    CImageBaseClass image;
    ASSERT_EQ(image.Create(2, 4, 4, frame.data()), 1);
    image.SelectComponents(3, 1); // whole pixels move, whatever the selection
    image.SetFieldMode(1, 1);
    EXPECT_EQ(image.pixels, frame.data());
    EXPECT_EQ(image.undefined, 1u);
    const int order[4] = {0, 2, 1, 3};
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(frame[r * 8 + i], original[order[r] * 8 + i]);
    image.SetFieldMode(0, 1);
    EXPECT_EQ(frame, original);
    image.SetFieldMode(1, 0); // no conversion: only the flag
    EXPECT_EQ(image.fieldMode, 1u);
    EXPECT_EQ(frame, original);
}

TEST(ImageFields, SetFieldModeFailureKeepsTheLayout) {
    CImageBaseClass empty;
    ImageError = 0;
    empty.SetFieldMode(1, 1);
    EXPECT_EQ(ImageError, 4u);
    EXPECT_EQ(empty.fieldMode, 0u);
}

TEST(ImageFields, CopiesAndFillsBothFields) {
    CImageBaseClass source, dest;
    MakeRows(source, 2, 6);
    source.SetFieldMode(1, 1);
    ASSERT_EQ(dest.Create(2, 6, 1, nullptr), 1);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.Copy(&source, 1), 1); // only the addressed (first) field
    EXPECT_EQ(CountBytes(dest, 0), 6);
    EXPECT_EQ(dest.fieldOrder, 1);
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(std::vector<uint8_t>(dest.pixels, dest.pixels + 12),
              std::vector<uint8_t>(source.pixels, source.pixels + 12));

    // Frame rows 2..5 are field rows 1..2 of both fields: block rows 1, 2, 4, 5.
    const uint8_t v = 1;
    RECT rows = {0, 2, 2, 6};
    EXPECT_EQ(dest.FillRect(&rows, &v, 1, 1), 1);
    EXPECT_EQ(dest.fieldOrder, 1);
    const uint8_t expected[6] = {10, 1, 1, 11, 1, 1};
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(ByteAt(dest, 1, r), expected[r]) << r;

    const uint8_t w = 2;
    EXPECT_EQ(dest.Fill(&w, 0), 1); // first field only
    EXPECT_EQ(CountBytes(dest, 2), 6);
    EXPECT_EQ(dest.DrawLine({0, 0}, {0, 3}, &v, 1), 1); // 2 pixels in each field
    EXPECT_EQ(ByteAt(dest, 0, 0), 1);
    EXPECT_EQ(ByteAt(dest, 0, 1), 1);
    EXPECT_EQ(ByteAt(dest, 0, 3), 1);
    EXPECT_EQ(ByteAt(dest, 0, 4), 1);
    EXPECT_EQ(ByteAt(dest, 0, 2), 2);

    // GetPixel takes frame coordinates: row y / 2 of the addressed field.
    dest.fieldOrder = 2;
    EXPECT_EQ(*dest.GetPixel({1, 5}), ByteAt(dest, 1, 5));
}
