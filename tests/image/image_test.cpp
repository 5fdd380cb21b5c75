// The image buffer as the render path uses it: copies and fills of rectangles
// short of the frame edge, resizing when the frame size changes, and failed
// calls that change nothing; and field splitting.
#include <gtest/gtest.h>

#include <iterator>
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

} // namespace

TEST(Image, FailedCallsReturnZeroAndChangeNothing) {
    CImageBaseClass fresh, empty, a, narrow, one;
    MakePattern(a, 6, 4, 3);
    MakePattern(narrow, 5, 4, 3);
    MakePattern(one, 6, 5, 1);
    const uint8_t v = 9;
    const RECT tooWide = {0, 0, 7, 2}, negative = {-1, 0, 2, 2}, tooDeep = {2, 1, 5, 6};
    // clang-format off
    const int results[] = {
        fresh.Create(0, 10, 4, nullptr), fresh.Create(65536, 1, 1, nullptr),
        fresh.Create(65535, 65535, 65535, nullptr), empty.Copy(&a, 0), a.Copy(&narrow, 0),
        a.Copy(&one, 0), a.CopyRect(&one, &tooWide, 0, 0), one.CopyRect(&a, &negative, 0, 0),
        one.FillRect(&tooWide, &v, 0, 0), one.FillRect(&tooDeep, &v, 0, 0),
        one.FillRect(&negative, &v, 0, 0), a.Resize(5, 6, 1), a.Resize(0, 5, 0)};
    // clang-format on
    EXPECT_EQ(std::vector<int>(std::begin(results), std::end(results)), std::vector<int>(13, 0));
    EXPECT_EQ(
        L(fresh.pixels == nullptr, a.pixels[3], a.ViewWidth(), a.ViewHeight(0), one.pixels[7]),
        L(1, 21, 6, 4, 49));
}

// Rectangles right and bottom exclusive; a flat or reversed one writes nothing
// and leaves the image undefined.
TEST(Image, CopyAndFillRectangles) {
    const RECT inner = {1, 1, 4, 3}, corner = {5, 4, 6, 5}, flat = {3, 3, 3, 4},
               reversed = {2, 1, 1, 3};
    const struct {
        bool fill;
        RECT rect, written;
        uint32_t undefined;
    } cases[] = {{false, inner, inner, 0}, {false, corner, corner, 0}, {false, flat, {}, 1},
                 {true, inner, inner, 1},  {true, corner, corner, 1},  {true, reversed, {}, 1}};
    CImageBaseClass source;
    MakePattern(source, 6, 5, 1, 100);
    const uint8_t seven = 7;
    for (const auto& c : cases) {
        const RECT& r = c.written;
        CImageBaseClass dest;
        ASSERT_EQ(dest.Create(6, 5, 1, nullptr), 1);
        const int ok =
            c.fill ? dest.FillRect(&c.rect, &seven, 0, 1) : dest.CopyRect(&source, &c.rect, 0, 1);
        EXPECT_EQ(L(ok, dest.undefined), L(1, c.undefined));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                EXPECT_EQ(dest.pixels[y * 6 + x], !in      ? 0
                                                  : c.fill ? 7
                                                           : source.pixels[y * 6 + x])
                    << c.fill << " " << c.rect.left << "," << c.rect.top << ": " << x << "," << y;
            }
    }
}

// Memory is kept for the same pixel count only; caller memory never moves.
TEST(Image, ResizeWhenTheFrameSizeChanges) {
    CImageBaseClass image, one, wrapped;
    MakePattern(image, 100, 50, 3);
    const uint8_t* before = image.pixels;
    ASSERT_EQ(image.Resize(50, 100, 0), 1);
    EXPECT_EQ(L(image.pixels == before, image.undefined, image.rowStride, image.pixels[14999]),
              L(1, 0, 150, uint8_t(14999 * 7)));
    ASSERT_EQ(image.Resize(30, 20, 0), 1); // another count: zeroed and undefined
    EXPECT_EQ(L(image.ViewWidth(), image.ViewHeight(0), image.rowStride, image.undefined,
                image.pixels[1799]),
              L(30, 20, 90, 1, 0));
    ASSERT_EQ(one.Create(1, 1, 1, nullptr) + one.Resize(64, 48, 1), 2); // forced: may grow
    EXPECT_EQ(L(one.rowStride, one.pixels[64 * 48 - 1]), L(64, 0));
    std::vector<uint8_t> memory(4, 0x11);
    ASSERT_EQ(wrapped.Create(1, 4, 1, memory.data()) + wrapped.Resize(2, 2, 1), 2);
    EXPECT_EQ(L(wrapped.pixels == memory.data(), wrapped.rowStride), L(1, 2));
}

// (Field conversion is not reached by the effect, which only sets the flag.)
TEST(Image, SplitFieldsPutsEvenRowsInTheFirstHalf) {
    CImageBaseClass source, dest;
    MakePattern(source, 1, 4, 1); // rows 0, 7, 14, 21
    ASSERT_EQ(dest.Create(1, 4, 1, nullptr), 1);
    dest.SetFieldMode(1, 0);
    ASSERT_EQ(dest.SplitFields(&source, 0), 1);
    EXPECT_EQ(std::vector<uint8_t>(dest.pixels, dest.pixels + 4),
              (std::vector<uint8_t>{0, 14, 7, 21}));
}
