// The image buffer: creation and geometry, addressing, copies and fills
// through the view and the component selection, lines, single pixels,
// resizing, the separated-fields layout and the reason code of every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "image/image.h"

// The out-of-memory case asks for an impossible block; under AddressSanitizer
// that must come back as a null result, as it does without it.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// Values compared as one list, so a mismatch shows them all.
template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
}

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

} // namespace

TEST(ImageCreate, OwnedAndWrappedGeometry) {
    CImageBaseClass image;
    EXPECT_EQ(L(image.pixels != nullptr, image.bytesPerPixel, image.componentOffset,
                image.componentCount, image.componentStep, image.rowGap, image.rowStride,
                image.pixelStep, image.fieldMode, image.fieldOrder, image.ownsPixels,
                image.undefined),
              L(0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1));
    for (const RECT& r : {image.view, image.viewAtOrigin, image.bounds})
        EXPECT_EQ(L(r.left, r.top, r.right, r.bottom), L(0, 0, 0, 0));
    EXPECT_EQ(image.GetRuntimeClass(), &CImageBaseClass::classCImageBaseClass);
    ASSERT_EQ(image.Create(7, 5, 3, nullptr), 1);
    EXPECT_EQ(L(image.ownsPixels, image.undefined, image.rowStride, image.rowGap, image.pixelStep,
                image.componentCount, image.componentOffset, image.view.right, image.view.bottom),
              L(1, 1, 21, 0, 3, 3, 0, 7, 5));
    EXPECT_EQ(CountBytes(image, 0), 7 * 5 * 3); // owned memory starts zeroed

    // A host frame of 656 pixels of 4 bytes, red to blue selected.
    std::vector<uint8_t> frame(2624 * 480, 0xAB);
    CImageBaseClass host;
    ASSERT_EQ(host.Create(2624 / 4, 480, 4, frame.data()), 1);
    host.SelectComponents(3, 1);
    EXPECT_EQ(L(host.ownsPixels, host.ViewWidth(), host.ViewHeight(1), host.rowStride,
                host.RowAdvance(656), host.RowAdvance(10)),
              L(0, 656, 480, 2624, 0, 2624 - 40));
    EXPECT_EQ(host.PixelAddress(0, 0), frame.data() + 1);
    EXPECT_EQ(host.PixelAddress(0, 1) - host.PixelAddress(0, 0), 2624);
    host.Release(); // caller memory is left alone
    EXPECT_EQ(L(host.pixels != nullptr, host.bytesPerPixel, host.undefined, frame[0]),
              L(0, 0, 1, 0xAB));
}

TEST(ImageErrors, EveryFailureReturnsZeroAndLeavesItsReason) {
    CImageBaseClass empty, a, b, narrow, shorter, one, blank, other, fields, frame, wide, deep,
        wrapped;
    MakePattern(a, 6, 4, 3);
    MakePattern(b, 6, 4, 3, 1);
    b.SelectComponents(1, 0);
    MakePattern(narrow, 5, 4, 3);
    MakePattern(shorter, 6, 3, 3);
    MakePattern(one, 6, 5, 1);
    MakePattern(other, 6, 5, 3);
    ASSERT_EQ(blank.Create(6, 5, 1, nullptr), 1);
    MakeRows(frame, 3, 4);
    ASSERT_EQ(fields.Create(3, 4, 1, nullptr), 1);
    ASSERT_EQ(wide.Create(3, 4, 2, nullptr), 1);
    ASSERT_EQ(deep.Create(3, 6, 1, nullptr), 1);
    for (CImageBaseClass* image : {&fields, &wide, &deep})
        image->SetFieldMode(1, 0);
    std::vector<uint8_t> memory(40 * 4), other40(100);
    ASSERT_EQ(wrapped.Create(10, 4, 4, memory.data()), 1);
    const uint8_t v[4] = {9, 9, 9, 9};
    const RECT zero = {0, 0, 0, 0}, inner = {1, 1, 4, 3}, tooWide = {0, 0, 7, 2},
               negative = {-1, 0, 2, 2}, tooDeep = {2, 1, 5, 6};
    auto fresh = [](uint32_t w, uint32_t h, uint32_t bpp) {
        CImageBaseClass image;
        return image.Create(w, h, bpp, nullptr);
    };

    // One row per failing call: its text, the call, the reason it leaves.
#define CALL(...) #__VA_ARGS__, [&] { return __VA_ARGS__; }
    const struct {
        const char* what;
        std::function<int()> call;
        uint32_t reason;
    } failures[] = {
        // clang-format off
        {CALL(fresh(0, 10, 4)), kImageBadSize}, {CALL(fresh(65536, 1, 1)), kImageBadSize},
        {CALL(fresh(10, 0, 1)), kImageBadSize}, {CALL(fresh(1, 65536, 1)), kImageBadSize},
        {CALL(fresh(10, 10, 0)), kImageBadSize}, {CALL(fresh(1, 1, 65536)), kImageBadSize},
        {CALL(fresh(65535, 65535, 65535)), kImageOutOfMemory},
        {CALL(a.Create(5, 5, 4, other40.data())), kImageHasMemory},
        {CALL(empty.Copy(&a, 0)), kImageNoMemory}, {CALL(a.Copy(&empty, 0)), kImageNoMemory},
        {CALL(a.Copy(&narrow, 0)), kImageViewMismatch},
        {CALL(a.Copy(&shorter, 0)), kImageViewMismatch},
        {CALL(a.Copy(&b, 0)), kImageLayoutMismatch},
        {CALL(blank.CopyRect(&one, &tooWide, 0, 0)), kImageRectOutside},
        {CALL(blank.CopyRect(&one, &negative, 0, 0)), kImageRectOutside},
        {CALL(a.CopyRect(&narrow, &inner, 0, 0)), kImageViewMismatch},
        {CALL(blank.CopyRect(&other, &zero, 0, 0)), kImageLayoutMismatch},
        {CALL(blank.CopyOutsideRect(&one, &tooWide, 0, 0)), kImageViewMismatch},
        {CALL(one.FillRect(&tooWide, v, 0, 0)), kImageRectOutside},
        {CALL(one.FillRect(&tooDeep, v, 0, 0)), kImageRectOutside},
        {CALL(one.FillRect(&negative, v, 0, 0)), kImageRectOutside},
        {CALL(empty.FillRect(&zero, v, 0, 0)), kImageNoMemory},
        {CALL(one.FillOutsideRect(&tooDeep, v, 0, 0)), kImageRectOutside},
        {CALL(empty.FillOutsideRect(&inner, v, 0, 0)), kImageNoMemory},
        {CALL(empty.Fill(v, 0)), kImageNoMemory}, {CALL(one.DrawLine({0, 0}, {2, 2}, v, 0)), 0},
        {CALL(one.DrawLine({0, 0}, {7, 0}, v, 0)), 0},
        {CALL(one.DrawLine({1, 6}, {1, 0}, v, 0)), 0},
        {CALL(one.DrawLine({0, -1}, {0, 4}, v, 0)), 0},
        {CALL(one.DrawLine({-1, 0}, {2, 0}, v, 0)), 0}, {CALL(one.DrawLine({2, 0}, {-1, 0}, v, 0)), 0},
        {CALL(one.DrawLine({1, 0}, {1, 6}, v, 0)), 0}, {CALL(one.DrawLine({1, 4}, {1, -1}, v, 0)), 0},
        {CALL(one.DrawLine({7, 1}, {0, 1}, v, 0)), 0},
        {CALL(empty.DrawLine({0, 0}, {1, 0}, v, 0)), kImageNoMemory},
        {CALL(empty.SetUndefined(0)), kImageNoMemory}, {CALL(wrapped.Resize(10, 4, 0)), 0},
        {CALL(wrapped.Resize(20, 2, 1)), kImageForcedResize}, {CALL(empty.Resize(4, 4, 1)), 0},
        {CALL(empty.Resize(4, 4, 0)), 0}, {CALL(other.Resize(5, 6, 1)), kImageForcedResize},
        {CALL(other.Resize(0, 5, 0)), kImageBadSize},
        {CALL(other.Resize(5, 65536, 0)), kImageBadSize},
        {CALL(fields.SplitFields(&fields, 0)), kImageSameImage},
        {CALL(fields.MergeFields(&fields, 0)), kImageSameImage},
        {CALL(fields.SplitFields(&empty, 0)), kImageNoMemory},
        {CALL(empty.MergeFields(&fields, 0)), kImageNoMemory},
        {CALL(wide.SplitFields(&frame, 0)), kImageLayoutMismatch},
        {CALL(deep.SplitFields(&frame, 0)), kImageLayoutMismatch},
        {CALL(frame.SplitFields(&fields, 0)), kImageLayoutMismatch},
        {CALL(fields.SplitFields(&deep, 0)), kImageLayoutMismatch},
        {CALL(fields.MergeFields(&frame, 0)), kImageLayoutMismatch},
        // clang-format on
    };
#undef CALL
    for (const auto& f : failures) {
        ImageError = 0;
        EXPECT_EQ(f.call(), 0) << f.what;
        EXPECT_EQ(ImageError, f.reason) << f.what;
    }
    // Failed calls changed nothing.
    EXPECT_EQ(L(a.pixels[3], a.bytesPerPixel, a.ViewWidth(), one.pixels[7], other.ViewWidth(),
                wrapped.ViewWidth(), wrapped.pixels == memory.data(), CountBytes(one, 9),
                CountBytes(blank, 0), blank.undefined),
              L(21, 3, 6, 49, 6, 10, 1, 0, 30, 1));
    ImageError = 0; // the valid calls work
    EXPECT_EQ(L(fields.SplitFields(&frame, 0), a.Copy(&a, 0), ImageError), L(1, 1, 0));
}

TEST(ImageAddress, ClampsToTheViewAndItsField) {
    CImageBaseClass image;
    ASSERT_EQ(image.Create(10, 6, 2, nullptr), 1);
    const struct {
        uint32_t fieldMode;
        uint16_t fieldOrder, x, y;
        ptrdiff_t offset;
    } cases[] = {{0, 1, 3, 2, 2 * 20 + 3 * 2},  {0, 1, 500, 2, 2 * 20 + 9 * 2}, // last pixel
                 {0, 1, 3, 60, 5 * 20 + 3 * 2},                                 // last row
                 {1, 1, 0, 9, 2 * 20}, // last row of field 1
                 {1, 2, 0, 0, 3 * 20},          {1, 2, 9, 9, 5 * 20 + 9 * 2}};
    for (const auto& c : cases) {
        image.fieldMode = c.fieldMode;
        image.fieldOrder = c.fieldOrder;
        EXPECT_EQ(image.PixelAddress(c.x, c.y) - image.pixels, c.offset)
            << c.fieldMode << "/" << c.fieldOrder << " " << c.x << "," << c.y;
    }

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

TEST(ImageCopy, RectanglesInsideAndOutside) {
    enum Op { kCopyRect, kCopyOutside, kFillRect, kFillOutside };
    enum Byte { kZero, kSource, kValue };
    const RECT zero = {0, 0, 0, 0}, inner = {1, 1, 4, 3}, all = {0, 0, 6, 5}, corner = {5, 4, 6, 5},
               flat = {3, 3, 3, 4}, reversed = {2, 1, 1, 3};
    const struct {
        Op op;
        RECT rect;
        Byte inside, outside;
        uint32_t undefined;
    } cases[] = {{kCopyRect, inner, kSource, kZero, 0},   {kCopyRect, all, kSource, kZero, 0},
                 {kCopyRect, corner, kSource, kZero, 0},  {kCopyRect, zero, kZero, kZero, 1},
                 {kCopyRect, flat, kZero, kZero, 1},      {kCopyOutside, inner, kZero, kSource, 0},
                 {kCopyOutside, zero, kZero, kSource, 0}, {kCopyOutside, corner, kZero, kSource, 0},
                 {kFillRect, inner, kValue, kZero, 1},    {kFillRect, corner, kValue, kZero, 1},
                 {kFillRect, reversed, kZero, kZero, 1},  {kFillOutside, inner, kZero, kValue, 1},
                 {kFillOutside, zero, kZero, kValue, 1},  {kFillOutside, corner, kZero, kValue, 1}};
    CImageBaseClass source;
    MakePattern(source, 6, 5, 1, 100);
    const uint8_t seven = 7;
    for (const auto& c : cases) {
        const RECT& r = c.rect;
        SCOPED_TRACE(testing::Message() << "op " << c.op << " rect " << r.left << "," << r.top
                                        << "," << r.right << "," << r.bottom);
        CImageBaseClass dest;
        ASSERT_EQ(dest.Create(6, 5, 1, nullptr), 1);
        // Field coordinates mean nothing in frame layout.
        const int ok = c.op == kCopyRect      ? dest.CopyRect(&source, &r, 0, 1)
                       : c.op == kCopyOutside ? dest.CopyOutsideRect(&source, &r, 0, 1)
                       : c.op == kFillRect    ? dest.FillRect(&r, &seven, 0, 1)
                                              : dest.FillOutsideRect(&r, &seven, 0, 1);
        EXPECT_EQ(L(ok, dest.undefined), L(1, c.undefined));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                const Byte want = in ? c.inside : c.outside;
                EXPECT_EQ(ByteAt(dest, x, y), want == kSource  ? ByteAt(source, x, y)
                                              : want == kValue ? 7
                                                               : 0)
                    << x << "," << y;
            }
    }
}

TEST(ImageCopy, SelectedComponentsAndUndefinedSources) {
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

    // Alpha alone from a 1-byte matte; the other bytes stay.
    CImageBaseClass matte;
    MakePattern(matte, 5, 3, 1, 50);
    host.SelectComponents(1, 0);
    EXPECT_EQ(host.Copy(&matte, 0), 1);
    EXPECT_EQ(L(frame[(1 * 5 + 2) * 4], frame[(1 * 5 + 2) * 4 + 1]),
              L(matte.pixels[7], (uint8_t)(200 + 29)));
    // A fill writes only the selected byte.
    const uint8_t nine = 9;
    RECT first = {0, 0, 2, 1};
    host.SelectComponents(1, 2);
    EXPECT_EQ(host.FillRect(&first, &nine, 0, 0), 1);
    EXPECT_EQ(L(frame[1], frame[2], frame[3], frame[6], frame[10]), L(201, 9, 203, 9, 210));

    // An undefined source copies nothing and marks the destination undefined.
    CImageBaseClass blank;
    ASSERT_EQ(blank.Create(5, 3, 3, nullptr), 1);
    RECT rect = {0, 0, 2, 2};
    const uint8_t kept = dest.pixels[0];
    for (int op : {0, 1, 2}) {
        dest.SetUndefined(0);
        EXPECT_EQ(op == 0   ? dest.Copy(&blank, 0)
                  : op == 1 ? dest.CopyRect(&blank, &rect, 0, 0)
                            : dest.CopyOutsideRect(&blank, &rect, 0, 0),
                  1);
        EXPECT_EQ(L(dest.undefined, dest.pixels[0]), L(1, kept));
    }
}

TEST(ImageDraw, LinesStopOnePixelShortOfTheSecondPoint) {
    const struct {
        POINT first, second;
        int drawn;
        POINT start, end; // first and last pixel written
    } cases[] = {
        {{0, 5}, {100, 5}, 99, {0, 5}, {98, 5}},
        {{100, 5}, {0, 5}, 99, {0, 5}, {98, 5}},
        {{3, 3}, {4, 3}, 0, {}, {}},
        {{3, 3}, {3, 3}, 0, {}, {}},
        {{119, 0}, {119, 20}, 19, {119, 0}, {119, 18}},
        {{120, 20}, {120, 10}, 9, {119, 10}, {119, 18}} // the extra column clamps
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.first.x << "," << c.first.y << " to " << c.second.x << "," << c.second.y);
        CImageBaseClass image;
        ASSERT_EQ(image.Create(120, 20, 1, nullptr), 1);
        const uint8_t v = 5;
        EXPECT_EQ(image.DrawLine(c.first, c.second, &v, 0), 1);
        EXPECT_EQ(CountBytes(image, 5), c.drawn);
        if (c.drawn) {
            EXPECT_EQ(L(ByteAt(image, c.start.x, c.start.y), ByteAt(image, c.end.x, c.end.y)),
                      L(5, 5));
        }
    }
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

TEST(ImageResize, KeepsMemoryForTheSamePixelCountOnly) {
    const struct {
        bool wrapped;
        uint32_t w, h, bpp, toW, toH;
        int force;
        bool sameMemory;
        uint32_t rowStride;
    } cases[] = {
        {false, 100, 50, 3, 50, 100, 0, true, 150}, // same pixel count: memory kept
        {false, 100, 50, 3, 30, 20, 0, false, 90},  // new count: zeroed memory
        {false, 1, 1, 1, 64, 48, 1, false, 64},     // one pixel wide: a forced resize may grow
        {true, 10, 4, 4, 10, 4, 1, true, 40},
        {true, 1, 4, 1, 2, 2, 1, true, 2} // caller memory is never reallocated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.toW << "x" << c.toH);
        std::vector<uint8_t> memory(c.w * c.h * c.bpp, 0x11);
        CImageBaseClass image;
        if (c.wrapped) {
            ASSERT_EQ(image.Create(c.w, c.h, c.bpp, memory.data()), 1);
            image.SetUndefined(0);
        } else {
            MakePattern(image, c.w, c.h, c.bpp);
        }
        const uint8_t* before = image.pixels;
        const uint8_t sample = image.pixels[c.w * c.h * c.bpp - 1];
        EXPECT_EQ(image.Resize(c.toW, c.toH, c.force), 1);
        EXPECT_EQ(L(image.ViewWidth(), image.ViewHeight(0), image.bounds.right, image.bounds.bottom,
                    image.rowStride),
                  L(c.toW, c.toH, c.toW, c.toH, c.rowStride));
        if (c.sameMemory)
            EXPECT_EQ(
                L(image.pixels == before, image.undefined, image.pixels[c.w * c.h * c.bpp - 1]),
                L(1, 0, sample));
        else
            EXPECT_EQ(L(image.undefined, CountBytes(image, 0)), L(1, c.toW * c.toH * c.bpp));
    }
}

TEST(ImageFields, SplitAndMergeFiveRows) {
    CImageBaseClass source, dest, merged;
    MakeRows(source, 3, 5);
    ASSERT_EQ(dest.Create(3, 5, 1, nullptr), 1);
    std::fill(dest.pixels, dest.pixels + 15, 0xEE);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.SplitFields(&source, 0), 1);
    EXPECT_EQ(dest.undefined, 0u);
    EXPECT_EQ(Column(dest, 2, 5), L(10, 12, 11, 13, 0xEE)); // the odd last row stays
    EXPECT_EQ(dest.SplitFields(&source, 1), 1);
    EXPECT_EQ(Column(dest, 0, 4), L(11, 13, 10, 12));
    EXPECT_EQ(*dest.PixelAddress(0, 1), 13); // order 1 addresses the first half
    dest.fieldOrder = 2;
    EXPECT_EQ(*dest.PixelAddress(0, 1), 12);

    ASSERT_EQ(merged.Create(3, 5, 1, nullptr), 1);
    EXPECT_EQ(merged.MergeFields(&dest, 1), 1);
    EXPECT_EQ(Column(merged, 1, 5), L(10, 11, 12, 13, 0));
    ImageError = 0; // a failed conversion keeps the layout
    CImageBaseClass empty;
    empty.SetFieldMode(1, 1);
    EXPECT_EQ(L(ImageError, empty.fieldMode), L(kImageOutOfMemory, 0));
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

    // Caller memory is rearranged in place, whole pixels whatever the selection.
    std::vector<uint8_t> frame(2 * 4 * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = (uint8_t)(i / 8 * 16 + i % 8);
    const std::vector<uint8_t> original = frame;
    CImageBaseClass image;
    ASSERT_EQ(image.Create(2, 4, 4, frame.data()), 1);
    image.SelectComponents(3, 1);
    image.SetFieldMode(1, 1);
    EXPECT_EQ(image.pixels, frame.data());
    const int order[4] = {0, 2, 1, 3};
    for (size_t i = 0; i < frame.size(); ++i)
        EXPECT_EQ(frame[i], original[order[i / 8] * 8 + i % 8]) << i;
    image.SetFieldMode(0, 1);
    EXPECT_EQ(frame, original);
    image.SetFieldMode(1, 0); // no conversion: only the flag
    EXPECT_EQ(L(image.fieldMode, frame == original), L(1, 1));
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
