// The keyer's state: construction, taking the frame's images, the shading
// buffer, the own corrected background, the flags and the band rectangle.
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

TEST(Keyer, ConstructionAndSetImages) {
    CKeyer keyer;
    EXPECT_EQ(L(keyer.keyInMode, Flags(keyer), keyer.separationView, keyer.width,
                keyer.shadingBuffer != nullptr, keyer.edgeImage->bytesPerPixel,
                keyer.underlayImage->bytesPerPixel),
              L(3, 11111, 3, 1, 0, 1, 3));
    KeyerFrames frames(7, 5);
    ClearFlags(keyer);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(L(keyer.width, keyer.height, keyer.matteImage == &frames.matte,
                keyer.keyOutMatte == &frames.outAlpha, keyer.foregroundImage == &frames.fgImage,
                keyer.outputImage == &frames.outImage, keyer.correctedBackground == &frames.bgImage,
                Flags(keyer), keyer.edgeImage->ViewWidth(), keyer.underlayImage->ViewHeight(0),
                keyer.underlayImage->rowStride),
              L(7, 5, 1, 1, 1, 1, 1, 11111, 7, 5, 21)); // a new size marks every stage
    // The same size again marks only what the corrected background feeds.
    ClearFlags(keyer);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(Flags(keyer), 10110);

    // Sizes must match (the same pixel count in another shape does not); the
    // key mattes count only when used: key-out mode, key-in layer.
    KeyerFrames a(6, 4), b(4, 6);
    CKeyer other;
    auto set = [&](CImageBaseClass* keyOut, CImageBaseClass* keyIn, CImageBaseClass* bg,
                   CImageBaseClass* out) {
        return other.SetImages(&a.matte, keyOut, keyIn, bg, &a.fgImage, out);
    };
    ClearFlags(other);
    EXPECT_EQ(set(&a.outAlpha, &a.keyInImage, &b.bgImage, &a.outImage), 0);
    EXPECT_EQ(set(&a.outAlpha, &a.keyInImage, &a.bgImage, &b.outImage), 0);
    EXPECT_EQ(L(other.width, other.backgroundImage != nullptr, Flags(other)), L(1, 0, 0));
    EXPECT_EQ(set(&b.outAlpha, &b.keyInImage, &a.bgImage, &a.outImage), 1);
    other.keyInMode = kKeyInPlusFg;
    EXPECT_EQ(set(&b.outAlpha, &a.keyInImage, &a.bgImage, &a.outImage), 0);
    other.keyInMode = kNoKeyOut;
    other.hasKeyIn = 1;
    EXPECT_EQ(set(&a.outAlpha, &b.keyInImage, &a.bgImage, &a.outImage), 0);
    EXPECT_EQ(set(&a.outAlpha, nullptr, &a.bgImage, &a.outImage), 0); // refused, not read
}

TEST(Keyer, ShadingBufferAndOwnCorrectedBackgroundFollowTheFrame) {
    KeyerFrames frames(5, 3), larger(8, 6);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ASSERT_EQ(keyer.SetSmoothBgShadow(1), 1);
    ASSERT_EQ(keyer.shadingBufferCount, 15);
    EXPECT_EQ(std::vector<float>(keyer.shadingBuffer, keyer.shadingBuffer + 15),
              std::vector<float>(15, 0.0f));
    // The same value, and images of the same size, keep the buffer.
    keyer.shadingBuffer[3] = 2.5f;
    EXPECT_EQ(keyer.SetSmoothBgShadow(1), 1);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(keyer.shadingBuffer[3], 2.5f);

    // A correction mode gives the keyer its own corrected background.
    KeyerParams p;
    p.bgCorrectionMode = 5;
    p.bgCorrectionStrength = 0.5;
    ClearFlags(keyer);
    ASSERT_EQ(keyer.SetParams(p), 1);
    EXPECT_EQ(L(keyer.params.bgCorrectionStrength == 0.5, Flags(keyer)), L(1, 10110));
    ASSERT_NE(keyer.ownCorrectedBackground, nullptr);
    EXPECT_EQ(keyer.correctedBackground, keyer.ownCorrectedBackground);
    EXPECT_EQ(keyer.ownCorrectedBackground->bytesPerPixel, 3);

    ASSERT_EQ(larger.Attach(keyer), 1); // a new size: a new buffer, a resized background
    ASSERT_EQ(keyer.shadingBufferCount, 48);
    EXPECT_EQ(keyer.shadingBuffer[3], 0.0f);
    EXPECT_EQ(
        L(keyer.ownCorrectedBackground->ViewWidth(), keyer.ownCorrectedBackground->ViewHeight(0)),
        L(8, 6));
    EXPECT_EQ(keyer.SetSmoothBgShadow(0), 1);
    EXPECT_EQ(L(keyer.smoothBgShadow, keyer.shadingBufferCount, keyer.shadingBuffer != nullptr),
              L(0, 0, 0));
    p.bgCorrectionMode = 0;
    ASSERT_EQ(keyer.SetParams(p), 1);
    EXPECT_EQ(keyer.ownCorrectedBackground, nullptr);
    EXPECT_EQ(keyer.correctedBackground, &larger.bgImage);
}

TEST(Keyer, InvalidationsAndBandRect) {
    KeyerFrames frames(20, 10);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    ClearFlags(keyer);
    keyer.InvalidateMatte();
    EXPECT_EQ(Flags(keyer), 1111);
    ClearFlags(keyer);
    keyer.InvalidateBackground();
    EXPECT_EQ(Flags(keyer), 10110);
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
