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

// Values compared as one list, so a mismatch shows them all.
template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
}

// The call fails (returns 0) and leaves `reason` (0: none) in ImageError.
#define EXPECT_FAILS(call, reason)                                                                 \
    do {                                                                                           \
        ImageError = 0;                                                                            \
        EXPECT_EQ((call), 0) << #call;                                                             \
        EXPECT_EQ(ImageError, uint32_t(reason)) << #call;                                          \
    } while (0)

// An owned image of `w` x `h` pixels whose byte i holds (i * 7 + seed) & 0xFF.
void MakePattern(CImageBaseClass& image, uint32_t w, uint32_t h, uint32_t bpp, int seed = 0) {
    ASSERT_EQ(image.Create(w, h, bpp, nullptr), 1);
    for (size_t i = 0; i < (size_t)w * h * bpp; ++i)
        image.pixels[i] = (uint8_t)(i * 7 + seed);
    ASSERT_EQ(image.SetUndefined(0), 1);
}

// Owned 1-byte image whose frame row r holds the value 10 + r in every pixel.
void MakeRows(CImageBaseClass& image, uint32_t w, uint32_t h) {
    ASSERT_EQ(image.Create(w, h, 1, nullptr), 1);
    for (uint32_t i = 0; i < w * h; ++i)
        image.pixels[i] = (uint8_t)(10 + i / w);
    image.SetUndefined(0);
}

uint8_t ByteAt(const CImageBaseClass& image, int x, int y, int c = 0) {
    return image.pixels[(size_t)y * image.rowStride + (size_t)x * image.bytesPerPixel + c];
}

std::vector<uint8_t> Bytes(const CImageBaseClass& image) {
    return {image.pixels,
            image.pixels + (size_t)image.rowStride * (image.bounds.bottom - image.bounds.top)};
}

int CountBytes(const CImageBaseClass& image, uint8_t value) {
    int count = 0;
    for (uint8_t b : Bytes(image))
        count += b == value;
    return count;
}

// Byte 0 of pixel x of frame rows 0..rows-1.
std::vector<long long> Column(const CImageBaseClass& image, int x, int rows) {
    std::vector<long long> column;
    for (int y = 0; y < rows; ++y)
        column.push_back(ByteAt(image, x, y));
    return column;
}

// Every pixel of a 1-byte image: `in` inside the rectangle, `out` elsewhere.
template <class In, class Out>
void ExpectInsideOutside(const CImageBaseClass& image, RECT r, In in, Out out) {
    for (int y = 0; y < image.bounds.bottom; ++y)
        for (int x = 0; x < image.bounds.right; ++x) {
            const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            EXPECT_EQ(ByteAt(image, x, y), inside ? in(x, y) : out(x, y)) << x << "," << y;
        }
}

} // namespace

TEST(ImageCreate, DefaultStateAndZeroFilledOwnedMemory) {
    CImageBaseClass image;
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.scratchPixel, nullptr);
    EXPECT_EQ(L(image.bytesPerPixel, image.componentCount, image.componentStep, image.fieldMode,
                image.fieldOrder, image.ownsPixels, image.undefined, IsRectEmpty(&image.bounds)),
              L(0, 0, 1, 0, 1, 0, 1, 1));
    EXPECT_EQ(image.GetRuntimeClass(), &CImageBaseClass::classCImageBaseClass);
    ASSERT_EQ(image.Create(7, 5, 3, nullptr), 1);
    EXPECT_EQ(L(image.ownsPixels, image.undefined, image.rowStride, image.rowGap, image.pixelStep,
                image.componentCount, image.componentOffset, image.view.right, image.view.bottom,
                image.viewAtOrigin.right),
              L(1, 1, 21, 0, 3, 3, 0, 7, 5, 7));
    EXPECT_EQ(CountBytes(image, 0), 7 * 5 * 3);
}

TEST(ImageCreate, ReasonCodes) {
    CImageBaseClass image;
    EXPECT_FAILS(image.Create(0, 10, 4, nullptr), 3);
    EXPECT_FAILS(image.Create(65536, 1, 1, nullptr), 3);
    EXPECT_FAILS(image.Create(10, 0, 1, nullptr), 3);
    EXPECT_FAILS(image.Create(10, 10, 0, nullptr), 3); // a pixel needs at least one byte
    EXPECT_FAILS(image.Create(65535, 65535, 65535, nullptr), 4);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.ownsPixels, 0u);

    ASSERT_EQ(image.Create(4, 3, 2, nullptr), 1);
    uint8_t* before = image.pixels;
    std::vector<uint8_t> other(100);
    EXPECT_FAILS(image.Create(5, 5, 4, other.data()), 18);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(L(image.bytesPerPixel, image.bounds.right), L(2, 4));
}

TEST(ImageCreate, WrapsAHostFrameWithPaddedRows) {
    std::vector<uint8_t> frame(2624 * 480, 0xAB);
    CImageBaseClass image;
    ASSERT_EQ(image.Create(2624 / 4, 480, 4, frame.data()), 1);
    image.SelectComponents(3, 1);
    EXPECT_EQ(L(image.ownsPixels, image.ViewWidth(), image.ViewHeight(1), image.rowStride,
                image.RowAdvance(656), image.RowAdvance(10)),
              L(0, 656, 480, 2624, 0, 2624 - 40));
    EXPECT_EQ(image.PixelAddress(0, 0), frame.data() + 1);
    EXPECT_EQ(image.PixelAddress(0, 1) - image.PixelAddress(0, 0), 2624);
    image.Release();
    EXPECT_EQ(image.pixels, nullptr);
    // The view stays until the next Create; caller memory is left alone.
    EXPECT_EQ(L(image.ownsPixels, image.bytesPerPixel, image.componentCount, image.undefined,
                image.view.right, frame[0], frame[2624 * 480 - 1]),
              L(0, 0, 0, 1, 656, 0xAB, 0xAB));
}

TEST(ImageAddress, ClampsAndWalksABand) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(10, 6, 2, nullptr), 1);
    uint8_t* base = image.pixels;
    EXPECT_EQ(image.PixelAddress(3, 2), base + 2 * 20 + 3 * 2);
    EXPECT_EQ(image.PixelAddress(500, 2), base + 2 * 20 + 9 * 2); // last pixel
    EXPECT_EQ(image.PixelAddress(3, 60), base + 5 * 20 + 3 * 2);  // last row
    image.SetFieldMode(1, 0);
    EXPECT_EQ(image.PixelAddress(0, 9), base + 2 * 20); // last row of the first field
    image.fieldOrder = 2;
    EXPECT_EQ(image.PixelAddress(0, 0), base + 3 * 20);
    EXPECT_EQ(image.PixelAddress(0, 9), base + 5 * 20);

    // Walk a 3 x 2 band at (4, 1) of component 2 the way the workers do.
    CImageBaseClass band;
    ASSERT_EQ(band.Create(8, 5, 3, nullptr), 1);
    band.SelectComponents(1, 2);
    uint8_t* p = band.PixelAddress(4, 1);
    for (int row = 0; row < 2; ++row, p += band.RowAdvance(3))
        for (int x = 0; x < 3; ++x, p += band.pixelStep)
            *p = 1;
    EXPECT_EQ(CountBytes(band, 1), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ByteAt(band, 4 + i % 3, 1 + i / 3, 2), 1);
}

TEST(ImageCopy, ReasonCodes) {
    CImageBaseClass empty, a, b, narrow, shorter;
    MakePattern(a, 6, 4, 3);
    MakePattern(b, 6, 4, 3, 1);
    MakePattern(narrow, 5, 4, 3);
    MakePattern(shorter, 6, 3, 3);
    EXPECT_FAILS(empty.Copy(&a, 0), 6);
    EXPECT_FAILS(a.Copy(&empty, 0), 6);
    EXPECT_FAILS(a.Copy(&narrow, 0), 5);
    EXPECT_FAILS(a.Copy(&shorter, 0), 5);
    b.SelectComponents(1, 0);
    EXPECT_FAILS(a.Copy(&b, 0), 19);
    EXPECT_EQ(ByteAt(a, 1, 0), 21); // unchanged pattern
    ImageError = 0;
    EXPECT_EQ(a.Copy(&a, 0), 1);
    EXPECT_EQ(ImageError, 0u);
}

TEST(ImageCopy, UndefinedSourceCopiesNothing) {
    CImageBaseClass source, dest;
    ASSERT_EQ(source.Create(4, 4, 1, nullptr), 1); // undefined after Create
    source.pixels[0] = 99;
    ASSERT_EQ(dest.Create(4, 4, 1, nullptr), 1);
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(L(dest.undefined, dest.pixels[0]), L(1, 0));
    dest.SetUndefined(0);
    RECT rect = {0, 0, 2, 2};
    EXPECT_EQ(dest.CopyRect(&source, &rect, 0, 0), 1);
    EXPECT_EQ(L(dest.undefined, dest.pixels[0]), L(1, 0));
}

TEST(ImageCopy, WholePixelsAndSelectedComponents) {
    CImageBaseClass source, dest;
    MakePattern(source, 5, 3, 3);
    ASSERT_EQ(dest.Create(5, 3, 3, nullptr), 1);
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    EXPECT_EQ(Bytes(dest), Bytes(source));

    // Red, green, blue of a 4-byte frame into a 3-byte image.
    std::vector<uint8_t> frame(5 * 3 * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = (uint8_t)(200 + i);
    CImageBaseClass host;
    ASSERT_EQ(host.Create(5, 3, 4, frame.data()), 1);
    host.SelectComponents(3, 1);
    host.SetUndefined(0);
    EXPECT_EQ(dest.Copy(&host, 0), 1);
    EXPECT_EQ(L(ByteAt(dest, 0, 0, 0), ByteAt(dest, 4, 2, 2)),
              L(201, (uint8_t)(200 + (2 * 5 + 4) * 4 + 3)));

    // And alpha alone from a 1-byte matte.
    CImageBaseClass matte;
    MakePattern(matte, 5, 3, 1, 50);
    host.SelectComponents(1, 0);
    EXPECT_EQ(host.Copy(&matte, 0), 1);
    EXPECT_EQ(L(frame[(1 * 5 + 2) * 4], frame[(1 * 5 + 2) * 4 + 1]),
              L(matte.pixels[7], (uint8_t)(200 + 29)));
}

TEST(ImageCopy, CopyRectAndOutside) {
    CImageBaseClass source, dest, other;
    MakePattern(source, 6, 5, 1, 100);
    ASSERT_EQ(dest.Create(6, 5, 1, nullptr), 1);
    RECT zero = {0, 0, 0, 0}, empty = {3, 3, 3, 4}, inner = {1, 1, 4, 3};
    RECT wide = {0, 0, 7, 2}, negative = {-1, 0, 2, 2};
    EXPECT_EQ(dest.CopyRect(&source, &zero, 0, 0), 1);
    EXPECT_EQ(dest.CopyRect(&source, &empty, 0, 0), 1);
    EXPECT_EQ(dest.undefined, 1u);
    EXPECT_FAILS(dest.CopyRect(&source, &wide, 0, 0), 23);
    EXPECT_FAILS(dest.CopyRect(&source, &negative, 0, 0), 23);
    EXPECT_FAILS(dest.CopyOutsideRect(&source, &wide, 0, 0), 5);
    MakePattern(other, 6, 5, 3);
    EXPECT_FAILS(dest.CopyRect(&other, &zero, 0, 0), 19); // component counts first
    EXPECT_EQ(CountBytes(dest, 0), 30);

    auto zeroByte = [](int, int) { return 0; };
    auto sourceByte = [&](int x, int y) { return ByteAt(source, x, y); };
    EXPECT_EQ(dest.CopyRect(&source, &inner, 0, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    ExpectInsideOutside(dest, inner, sourceByte, zeroByte);

    CImageBaseClass outside, whole;
    ASSERT_EQ(outside.Create(6, 5, 1, nullptr), 1);
    EXPECT_EQ(outside.CopyOutsideRect(&source, &inner, 0, 0), 1);
    EXPECT_EQ(outside.undefined, 0u);
    ExpectInsideOutside(outside, inner, zeroByte, sourceByte);
    ASSERT_EQ(whole.Create(6, 5, 1, nullptr), 1);
    EXPECT_EQ(whole.CopyOutsideRect(&source, &zero, 0, 0), 1); // means Copy
    EXPECT_EQ(Bytes(whole), Bytes(source));
}

TEST(ImageFill, FillRectBoundsAndUndefinedMark) {
    CImageBaseClass image, empty;
    ASSERT_EQ(image.Create(5, 4, 3, nullptr), 1);
    const uint8_t value[3] = {1, 2, 3}, nine = 9;
    RECT zero = {0, 0, 0, 0}, emptyRect = {2, 1, 1, 3}, tooWide = {0, 0, 6, 1};
    RECT rect = {1, 2, 5, 4}, corner = {0, 0, 1, 1};
    EXPECT_EQ(image.FillRect(&zero, value, 0, 0), 1);
    EXPECT_EQ(image.FillRect(&emptyRect, value, 0, 0), 1);
    EXPECT_FAILS(image.FillRect(&tooWide, value, 0, 0), 23); // view width + 1
    EXPECT_EQ(CountBytes(image, 0), 60);
    EXPECT_FAILS(empty.FillRect(&zero, value, 0, 0), 6);

    EXPECT_EQ(image.FillRect(&rect, value, 0, 0), 1);
    EXPECT_EQ(image.undefined, 1u); // the caller clears it
    EXPECT_EQ(CountBytes(image, 0), 60 - 24);
    EXPECT_EQ(L(ByteAt(image, 4, 3, 2), ByteAt(image, 1, 2, 0)), L(3, 1));
    image.SelectComponents(1, 1); // only the selected component is written
    EXPECT_EQ(image.FillRect(&corner, &nine, 0, 0), 1);
    EXPECT_EQ(L(ByteAt(image, 0, 0, 0), ByteAt(image, 0, 0, 1), ByteAt(image, 0, 0, 2)),
              L(0, 9, 0));
}

TEST(ImageFill, FillOutsideRectAndFill) {
    CImageBaseClass image, empty;
    ASSERT_EQ(image.Create(6, 5, 1, nullptr), 1);
    const uint8_t seven = 7, one = 1;
    RECT inner = {2, 1, 5, 4}, outside = {2, 1, 5, 6}, zero = {0, 0, 0, 0};
    EXPECT_EQ(image.FillOutsideRect(&inner, &seven, 0, 0), 1);
    ExpectInsideOutside(
        image, inner, [](int, int) { return 0; }, [](int, int) { return 7; });
    EXPECT_FAILS(image.FillOutsideRect(&outside, &seven, 0, 0), 23);
    EXPECT_EQ(image.FillOutsideRect(&zero, &one, 0, 0), 1); // means Fill
    EXPECT_EQ(CountBytes(image, 1), 30);
    EXPECT_FAILS(empty.Fill(&one, 0), 6);
    EXPECT_FAILS(empty.FillOutsideRect(&inner, &one, 0, 0), 6);
}

TEST(ImageDraw, DrawLineCounts) {
    CImageBaseClass image, empty;
    ASSERT_EQ(image.Create(120, 20, 1, nullptr), 1);
    const uint8_t v = 5, w = 6;
    EXPECT_EQ(image.DrawLine({0, 5}, {100, 5}, &v, 0), 1);
    EXPECT_EQ(CountBytes(image, 5), 99);
    EXPECT_EQ(L(ByteAt(image, 0, 5), ByteAt(image, 98, 5), ByteAt(image, 99, 5)), L(5, 5, 0));

    EXPECT_EQ(image.DrawLine({3, 3}, {4, 3}, &w, 0), 1); // draws nothing
    EXPECT_EQ(image.DrawLine({3, 3}, {3, 3}, &w, 0), 1);
    EXPECT_FAILS(image.DrawLine({0, 0}, {5, 5}, &w, 0), 0); // fails without a reason
    EXPECT_FAILS(image.DrawLine({0, 0}, {121, 0}, &w, 0), 0);
    EXPECT_FAILS(image.DrawLine({0, -1}, {0, 4}, &w, 0), 0);
    EXPECT_EQ(CountBytes(image, 6), 0);

    // Vertical, on the extended column x = width: clamped to the last column.
    EXPECT_EQ(image.DrawLine({120, 20}, {120, 10}, &w, 0), 1);
    EXPECT_EQ(CountBytes(image, 6), 9);
    EXPECT_EQ(L(ByteAt(image, 119, 10), ByteAt(image, 119, 18), ByteAt(image, 119, 19)),
              L(6, 6, 0));
    EXPECT_FAILS(empty.DrawLine({0, 0}, {1, 0}, &v, 0), 6);
}

TEST(ImagePixel, GetPixelInsideAndOutside) {
    CImageBaseClass image;
    MakePattern(image, 4, 3, 4);
    image.SelectComponents(3, 1);
    const uint8_t* p = image.GetPixel({2, 1});
    ASSERT_EQ(p, image.scratchPixel);
    const int base = (1 * 4 + 2) * 4;
    EXPECT_EQ(L(p[0], p[2]), L((uint8_t)((base + 1) * 7), (uint8_t)((base + 3) * 7)));
    for (POINT outside : {POINT{4, 0}, POINT{0, 3}, POINT{-1, 0}}) {
        image.GetPixel({2, 1});
        p = image.GetPixel(outside);
        EXPECT_EQ(L(p[0], p[1], p[2]), L(0, 0, 0)) << outside.x << "," << outside.y;
    }
    image.Release();
    EXPECT_EQ(image.GetPixel({0, 0}), nullptr); // no memory, nothing read
}

TEST(ImageState, SetUndefinedAndPerThreadError) {
    CImageBaseClass image;
    EXPECT_FAILS(image.SetUndefined(0), 6);
    EXPECT_EQ(image.SetUndefined(1), 1);
    ASSERT_EQ(image.Create(2, 2, 1, nullptr), 1);
    EXPECT_EQ(image.SetUndefined(0), 1);
    EXPECT_EQ(image.undefined, 0u);

    ImageError = 0;
    uint32_t seen = 1;
    std::thread worker([&seen] {
        CImageBaseClass image;
        image.Create(0, 0, 1, nullptr);
        seen = ImageError;
    });
    worker.join();
    EXPECT_EQ(L(seen, ImageError), L(3, 0));
}

TEST(ImageResize, WrappedImages) {
    std::vector<uint8_t> frame(40 * 4, 0x11), column(4, 0);
    CImageBaseClass image, thin, empty;
    ASSERT_EQ(image.Create(10, 4, 4, frame.data()), 1);
    EXPECT_FAILS(image.Resize(20, 2, 0), 0);
    EXPECT_EQ(image.view.right, 10);
    EXPECT_EQ(image.Resize(10, 4, 1), 1);
    EXPECT_EQ(image.pixels, frame.data());
    EXPECT_FAILS(image.Resize(20, 2, 1), 2);

    // Even one pixel wide, caller memory is never reallocated.
    ASSERT_EQ(thin.Create(1, 4, 1, column.data()), 1);
    EXPECT_FAILS(thin.Resize(8, 8, 1), 2);
    EXPECT_EQ(thin.Resize(2, 2, 1), 1); // same pixel count: kept
    EXPECT_EQ(thin.pixels, column.data());
    EXPECT_EQ(thin.rowStride, 2u);
    EXPECT_FAILS(empty.Resize(4, 4, 1), 0);
    EXPECT_FAILS(empty.Resize(4, 4, 0), 0);
}

TEST(ImageResize, OwnedImages) {
    CImageBaseClass image, unit;
    MakePattern(image, 100, 50, 3);
    uint8_t* before = image.pixels;
    const uint8_t sample = image.pixels[1234];
    EXPECT_EQ(image.Resize(50, 100, 0), 1); // same pixel count: memory kept
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(L(image.pixels[1234], image.undefined, image.ViewWidth(), image.ViewHeight(0),
                image.rowStride, image.bounds.bottom),
              L(sample, 0, 50, 100, 150, 100));
    EXPECT_FAILS(image.Resize(0, 5, 0), 3);
    EXPECT_FAILS(image.Resize(5, 65536, 0), 3);
    EXPECT_FAILS(image.Resize(60, 100, 1), 2);

    // A new pixel count reallocates zero-filled memory.
    EXPECT_EQ(image.Resize(30, 20, 0), 1);
    EXPECT_EQ(L(image.undefined, image.rowStride, image.view.right, image.view.bottom),
              L(1, 90, 30, 20));
    EXPECT_EQ(CountBytes(image, 0), 30 * 20 * 3);

    // The keyer's 1 x 1 start: one pixel wide, so a forced resize may grow it.
    ASSERT_EQ(unit.Create(1, 1, 1, nullptr), 1);
    EXPECT_EQ(unit.Resize(64, 48, 1), 1);
    EXPECT_EQ(L(unit.ViewWidth(), unit.ViewHeight(0)), L(64, 48));
}

TEST(ImageFields, SplitFieldsOnFiveRows) {
    CImageBaseClass source, dest, merged;
    MakeRows(source, 3, 5);
    ASSERT_EQ(dest.Create(3, 5, 1, nullptr), 1);
    std::fill(dest.pixels, dest.pixels + 15, 0xEE);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.SplitFields(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    EXPECT_EQ(Column(dest, 2, 5), L(10, 12, 11, 13, 0xEE)); // the odd last row stays
    EXPECT_EQ(ByteAt(source, 0, 4), 14);
    EXPECT_EQ(dest.SplitFields(&source, 1), 1);
    EXPECT_EQ(Column(dest, 0, 4), L(11, 13, 10, 12));

    // Addressing by field: order 1 sees the first half, order 2 the second.
    EXPECT_EQ(*dest.PixelAddress(0, 1), 13);
    dest.fieldOrder = 2;
    EXPECT_EQ(*dest.PixelAddress(0, 1), 12);

    ASSERT_EQ(merged.Create(3, 5, 1, nullptr), 1);
    EXPECT_EQ(merged.MergeFields(&dest, 1), 1);
    EXPECT_EQ(Column(merged, 1, 5), L(10, 11, 12, 13, 0));
}

TEST(ImageFields, SplitMergeAndFieldModeReasonCodes) {
    CImageBaseClass frame, fields, empty, wide, deep;
    MakeRows(frame, 3, 4);
    ASSERT_EQ(fields.Create(3, 4, 1, nullptr), 1);
    ASSERT_EQ(wide.Create(3, 4, 2, nullptr), 1);
    ASSERT_EQ(deep.Create(3, 6, 1, nullptr), 1);
    for (CImageBaseClass* image : {&fields, &wide, &deep})
        image->SetFieldMode(1, 0);
    EXPECT_FAILS(fields.SplitFields(&fields, 0), 17);
    EXPECT_FAILS(fields.MergeFields(&fields, 0), 17);
    EXPECT_FAILS(fields.SplitFields(&empty, 0), 6);
    EXPECT_FAILS(empty.MergeFields(&fields, 0), 6);
    EXPECT_FAILS(wide.SplitFields(&frame, 0), 19);   // pixel size
    EXPECT_FAILS(deep.SplitFields(&frame, 0), 19);   // height
    EXPECT_FAILS(frame.SplitFields(&fields, 0), 19); // destination not in field mode
    EXPECT_FAILS(fields.SplitFields(&deep, 0), 19);  // source in field mode
    EXPECT_FAILS(fields.MergeFields(&frame, 0), 19); // source not in field mode
    EXPECT_EQ(fields.SplitFields(&frame, 0), 1);

    ImageError = 0; // a failed conversion keeps the layout
    empty.SetFieldMode(1, 1);
    EXPECT_EQ(L(ImageError, empty.fieldMode), L(4, 0));
}

TEST(ImageFields, SetFieldModeConvertRoundTrip) {
    for (uint32_t height : {6u, 7u}) {
        SCOPED_TRACE(height);
        CImageBaseClass image;
        MakeRows(image, 4, height);
        image.SetFieldMode(1, 1);
        EXPECT_EQ(L(image.fieldMode, image.ViewHeight(1)), L(1, height / 2));
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
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = (uint8_t)(i / 8 * 16 + i % 8);
    const std::vector<uint8_t> original = frame;
    CImageBaseClass image;
    ASSERT_EQ(image.Create(2, 4, 4, frame.data()), 1);
    image.SelectComponents(3, 1); // whole pixels move, whatever the selection
    image.SetFieldMode(1, 1);
    EXPECT_EQ(image.pixels, frame.data());
    EXPECT_EQ(image.undefined, 1u);
    const int order[4] = {0, 2, 1, 3};
    for (size_t i = 0; i < frame.size(); ++i)
        EXPECT_EQ(frame[i], original[order[i / 8] * 8 + i % 8]) << i;
    image.SetFieldMode(0, 1);
    EXPECT_EQ(frame, original);
    image.SetFieldMode(1, 0); // no conversion: only the flag
    EXPECT_EQ(image.fieldMode, 1u);
    EXPECT_EQ(frame, original);
}

TEST(ImageFields, CopiesAndFillsBothFields) {
    CImageBaseClass source, dest;
    MakeRows(source, 2, 6);
    source.SetFieldMode(1, 1);
    ASSERT_EQ(dest.Create(2, 6, 1, nullptr), 1);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.Copy(&source, 1), 1); // only the addressed (first) field
    EXPECT_EQ(L(CountBytes(dest, 0), dest.fieldOrder), L(6, 1));
    EXPECT_EQ(dest.Copy(&source, 0), 1);
    EXPECT_EQ(Bytes(dest), Bytes(source));

    // Frame rows 2..5 are field rows 1..2 of both fields: block rows 1, 2, 4, 5.
    const uint8_t v = 1, w = 2;
    RECT rows = {0, 2, 2, 6};
    EXPECT_EQ(dest.FillRect(&rows, &v, 1, 1), 1);
    EXPECT_EQ(dest.fieldOrder, 1);
    EXPECT_EQ(Column(dest, 1, 6), L(10, 1, 1, 11, 1, 1));
    EXPECT_EQ(dest.Fill(&w, 0), 1); // first field only
    EXPECT_EQ(CountBytes(dest, 2), 6);
    EXPECT_EQ(dest.DrawLine({0, 0}, {0, 3}, &v, 1), 1); // 2 pixels in each field
    EXPECT_EQ(Column(dest, 0, 6), L(1, 1, 2, 1, 1, 1));

    // GetPixel takes frame coordinates: row y / 2 of the addressed field.
    dest.fieldOrder = 2;
    EXPECT_EQ(*dest.GetPixel({1, 5}), ByteAt(dest, 1, 5));
}
