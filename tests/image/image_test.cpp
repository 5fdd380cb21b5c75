// The image buffer as the render path uses it: creation and geometry,
// addressing through the view and the component selection, copies and fills
// of rectangles, resizing, and the reason code of every failure.
#include <gtest/gtest.h>

#include <functional>
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

uint8_t ByteAt(const CImageBaseClass& image, int x, int y, int c = 0) {
    return image.pixels[(size_t)y * image.rowStride + (size_t)x * image.bytesPerPixel + c];
}

int CountBytes(const CImageBaseClass& image, uint8_t value) {
    int count = 0;
    for (size_t i = 0; i < (size_t)image.rowStride * image.bounds.bottom; ++i)
        count += image.pixels[i] == value;
    return count;
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
    ASSERT_EQ(image.Create(7, 5, 3, nullptr), 1);
    EXPECT_EQ(L(image.ownsPixels, image.undefined, image.rowStride, image.pixelStep,
                image.componentCount, image.view.right, image.view.bottom),
              L(1, 1, 21, 3, 3, 7, 5));
    EXPECT_EQ(CountBytes(image, 0), 7 * 5 * 3); // owned memory starts zeroed

    // A host frame of 656 pixels of 4 bytes, red to blue selected, walked as
    // the workers do: a 10-pixel band advances to the next row by RowAdvance.
    std::vector<uint8_t> frame(2624 * 480, 0xAB);
    CImageBaseClass host;
    ASSERT_EQ(host.Create(2624 / 4, 480, 4, frame.data()), 1);
    host.SelectComponents(3, 1);
    EXPECT_EQ(L(host.ownsPixels, host.ViewWidth(), host.ViewHeight(1), host.rowStride,
                host.RowAdvance(656), host.RowAdvance(10)),
              L(0, 656, 480, 2624, 0, 2624 - 40));
    EXPECT_EQ(host.PixelAddress(0, 0), frame.data() + 1);
    EXPECT_EQ(host.PixelAddress(2, 1) - host.PixelAddress(0, 0), 2624 + 8);
    host.Release(); // caller memory is left alone
    EXPECT_EQ(L(host.pixels != nullptr, host.undefined, frame[0]), L(0, 1, 0xAB));
}

TEST(ImageErrors, EveryFailureReturnsZeroAndLeavesItsReason) {
    CImageBaseClass empty, a, b, narrow, shorter, one, blank, other, wrapped;
    MakePattern(a, 6, 4, 3);
    MakePattern(b, 6, 4, 3, 1);
    b.SelectComponents(1, 0);
    MakePattern(narrow, 5, 4, 3);
    MakePattern(shorter, 6, 3, 3);
    MakePattern(one, 6, 5, 1);
    MakePattern(other, 6, 5, 3);
    ASSERT_EQ(blank.Create(6, 5, 1, nullptr), 1);
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
        {CALL(one.FillRect(&tooWide, v, 0, 0)), kImageRectOutside},
        {CALL(one.FillRect(&tooDeep, v, 0, 0)), kImageRectOutside},
        {CALL(one.FillRect(&negative, v, 0, 0)), kImageRectOutside},
        {CALL(empty.FillRect(&zero, v, 0, 0)), kImageNoMemory},
        {CALL(empty.SetUndefined(0)), kImageNoMemory}, {CALL(wrapped.Resize(10, 4, 0)), 0},
        {CALL(wrapped.Resize(20, 2, 1)), kImageForcedResize}, {CALL(empty.Resize(4, 4, 1)), 0},
        {CALL(empty.Resize(4, 4, 0)), 0}, {CALL(other.Resize(5, 6, 1)), kImageForcedResize},
        {CALL(other.Resize(0, 5, 0)), kImageBadSize},
        {CALL(other.Resize(5, 65536, 0)), kImageBadSize},
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
}

TEST(ImageCopy, RectanglesAndSelectedComponents) {
    const RECT inner = {1, 1, 4, 3}, all = {0, 0, 6, 5}, corner = {5, 4, 6, 5}, flat = {3, 3, 3, 4},
               reversed = {2, 1, 1, 3};
    const struct {
        bool fill;
        RECT rect, written; // written: the pixels that change
        uint32_t undefined;
    } cases[] = {{false, inner, inner, 0}, {false, all, all, 0},    {false, corner, corner, 0},
                 {false, flat, {}, 1},     {true, inner, inner, 1}, {true, corner, corner, 1},
                 {true, reversed, {}, 1}};
    CImageBaseClass source;
    MakePattern(source, 6, 5, 1, 100);
    const uint8_t seven = 7;
    for (const auto& c : cases) {
        const RECT& r = c.written;
        SCOPED_TRACE(testing::Message()
                     << "fill " << c.fill << " rect " << c.rect.left << "," << c.rect.top << ","
                     << c.rect.right << "," << c.rect.bottom);
        CImageBaseClass dest;
        ASSERT_EQ(dest.Create(6, 5, 1, nullptr), 1);
        // Field coordinates mean nothing in frame layout.
        const int ok =
            c.fill ? dest.FillRect(&c.rect, &seven, 0, 1) : dest.CopyRect(&source, &c.rect, 0, 1);
        EXPECT_EQ(L(ok, dest.undefined), L(1, c.undefined));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                EXPECT_EQ(ByteAt(dest, x, y), !in      ? 0
                                              : c.fill ? 7
                                                       : ByteAt(source, x, y))
                    << x << "," << y;
            }
    }

    // Red, green, blue of a 4-byte frame into a 3-byte image, and back into
    // the frame's alpha alone from a 1-byte matte; a fill writes only the
    // selected byte.
    std::vector<uint8_t> frame(5 * 3 * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = (uint8_t)(200 + i);
    CImageBaseClass host, dest, matte;
    ASSERT_EQ(host.Create(5, 3, 4, frame.data()), 1);
    host.SelectComponents(3, 1);
    host.SetUndefined(0);
    ASSERT_EQ(dest.Create(5, 3, 3, nullptr), 1);
    EXPECT_EQ(dest.Copy(&host, 0), 1);
    EXPECT_EQ(L(dest.undefined, ByteAt(dest, 0, 0, 0), ByteAt(dest, 4, 2, 2)),
              L(0, 201, (uint8_t)(200 + (2 * 5 + 4) * 4 + 3)));
    MakePattern(matte, 5, 3, 1, 50);
    host.SelectComponents(1, 0);
    EXPECT_EQ(host.Copy(&matte, 0), 1);
    EXPECT_EQ(L(frame[(1 * 5 + 2) * 4], frame[(1 * 5 + 2) * 4 + 1]),
              L(matte.pixels[7], (uint8_t)(200 + 29)));
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
    for (int op : {0, 1}) {
        dest.SetUndefined(0);
        EXPECT_EQ(op == 0 ? dest.Copy(&blank, 0) : dest.CopyRect(&blank, &rect, 0, 0), 1);
        EXPECT_EQ(L(dest.undefined, dest.pixels[0]), L(1, kept));
    }
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

TEST(ImageAddress, FieldModeAddressesHalfTheRows) {
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
        image.SetFieldMode(int(c.fieldMode), 0); // the flag only, as the backing pass does
        image.fieldOrder = c.fieldOrder;
        EXPECT_EQ(image.PixelAddress(c.x, c.y) - image.pixels, c.offset)
            << c.fieldMode << "/" << c.fieldOrder << " " << c.x << "," << c.y;
        EXPECT_EQ(image.ViewHeight(1), c.fieldMode ? 3 : 6);
    }
}

TEST(ImageFields, SplitPutsEvenRowsInTheFirstHalf) {
    CImageBaseClass source, dest;
    MakePattern(source, 3, 5, 1); // row r starts with 21 r
    ASSERT_EQ(dest.Create(3, 5, 1, nullptr), 1);
    dest.SetFieldMode(1, 0);
    EXPECT_EQ(dest.SplitFields(&source, 0), 1);
    EXPECT_EQ(L(ByteAt(dest, 0, 0), ByteAt(dest, 0, 1), ByteAt(dest, 0, 2), ByteAt(dest, 0, 3)),
              L(0, 42, 21, 63));
}
