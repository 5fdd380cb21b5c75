// The keyer's state: taking the frame's images, the shading buffer and the
// own corrected background across frame sizes, and the band rectangle.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
}

std::vector<long long> Band(const CKeyer& keyer) {
    const RECT r = keyer.BandRect();
    return L(r.left, r.top, r.right, r.bottom);
}

} // namespace

// Images of the same size keep the keyer's buffers and mark what the
// corrected background feeds; a new size marks every stage, and gives a new
// shading buffer and a resized own corrected background. Sizes must match:
// the same pixel count in another shape does not.
TEST(Keyer, BuffersFollowTheFrameSize) {
    KeyerFrames frames(5, 3), larger(8, 6), other(6, 8);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer) + keyer.SetSmoothBgShadow(1), 2);
    keyer.shadingBuffer[3] = 2.5f;
    KeyerParams p;
    p.bgCorrectionMode = 5;
    ClearFlags(keyer);
    ASSERT_EQ(keyer.SetParams(p) + keyer.SetSmoothBgShadow(1) + frames.Attach(keyer), 3);
    EXPECT_EQ(L(keyer.shadingBufferCount, keyer.shadingBuffer[3] == 2.5f, Flags(keyer),
                keyer.correctedBackground == keyer.ownCorrectedBackground),
              L(15, 1, 10110, 1));
    ClearFlags(keyer);
    ASSERT_EQ(larger.Attach(keyer), 1);
    const CImageBaseClass* own = keyer.ownCorrectedBackground;
    EXPECT_EQ(L(keyer.shadingBufferCount, keyer.shadingBuffer[3] == 0.0f, Flags(keyer),
                own->ViewWidth(), own->ViewHeight(0), keyer.underlayImage->rowStride),
              L(48, 1, 11111, 8, 6, 24));
    EXPECT_EQ(keyer.SetImages(&larger.matte, &larger.outAlpha, &larger.keyInImage, &other.bgImage,
                              &larger.fgImage, &larger.outImage),
              0);
    p.bgCorrectionMode = 0;
    ASSERT_EQ(keyer.SetParams(p), 1);
    EXPECT_EQ(
        L(keyer.ownCorrectedBackground == nullptr, keyer.correctedBackground == &larger.bgImage),
        L(1, 1));
}

TEST(Keyer, BandRect) {
    KeyerFrames frames(20, 10);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    // The stored crop is exclusive at right and bottom, the band inclusive.
    EXPECT_EQ(Band(keyer), L(0, 0, 19, 9));
    keyer.cropEnabled = 1;
    keyer.cropRect = RECT{2, 3, 8, 7};
    EXPECT_EQ(Band(keyer), L(2, 3, 7, 6));
    keyer.cropRect = RECT{-5, 4, 40, 30};
    EXPECT_EQ(Band(keyer), L(0, 4, 19, 9));
    // One pixel wide, or ends at the lowest int (a crop dragged far off the
    // frame): empty instead of wrapping round to the whole frame.
    for (RECT empty : {RECT{5, 2, 6, 8}, RECT{0, 0, INT32_MIN, 5}, RECT{0, 0, 5, INT32_MIN},
                       RECT{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}}) {
        keyer.cropRect = empty;
        const RECT band = keyer.BandRect();
        EXPECT_TRUE(IsRectEmpty(&band)) << empty.left << ' ' << empty.right << ' ' << empty.bottom;
    }
}
