// The keyer's state: snapshot assignment, construction, taking the frame's
// images, the shading buffer, the own corrected background, the flags and
// the band rectangle.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <climits>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

std::array<int, 4> Band(const CKeyer& keyer) {
    const RECT r = keyer.BandRect();
    return {r.left, r.top, r.right, r.bottom};
}

} // namespace

TEST(KeyerParams, CopiesEveryFieldAndResets) {
    KeyerParams p, q;
    EXPECT_EQ(p.transparencyThreshold, 0.75);
    EXPECT_EQ(p.reflectionBrightness, 0.35);
    // Every byte of a snapshot set apart from the defaults survives a copy.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&q);
    for (size_t i = 0; i < sizeof q; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    p = q;
    EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);
    const KeyerParams copied(q);
    EXPECT_EQ(std::memcmp(&copied, &q, sizeof q), 0);
    p.SetDefaults();
    EXPECT_EQ(p.backingChromaticity[2], 0.0);
    EXPECT_EQ(p.transparencyEdge, 0.0);
    EXPECT_EQ(p.transparencyStrength, 1.0);
    EXPECT_EQ(p.fgCorrectionMode, 0);
}

TEST(Keyer, ConstructionAndSetImages) {
    CKeyer keyer;
    EXPECT_EQ(keyer.keyInMode, 3);
    EXPECT_EQ(Flags(keyer), 11111);
    EXPECT_EQ(keyer.separationView, 3);
    EXPECT_EQ(keyer.width, 1);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);
    EXPECT_EQ(keyer.edgeImage->bytesPerPixel, 1);
    EXPECT_EQ(keyer.underlayImage->bytesPerPixel, 3);

    KeyerFrames frames(7, 5);
    ClearFlags(keyer);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(keyer.width, 7);
    EXPECT_EQ(keyer.height, 5);
    EXPECT_EQ(keyer.matteImage, &frames.matte);
    EXPECT_EQ(keyer.keyOutMatte, &frames.outAlpha);
    EXPECT_EQ(keyer.foregroundImage, &frames.fgImage);
    EXPECT_EQ(keyer.outputImage, &frames.outImage);
    EXPECT_EQ(keyer.correctedBackground, &frames.bgImage);
    EXPECT_EQ(Flags(keyer), 11111); // a new size marks every stage
    EXPECT_EQ(keyer.edgeImage->ViewWidth(), 7);
    EXPECT_EQ(keyer.underlayImage->ViewHeight(0), 5);
    EXPECT_EQ(keyer.underlayImage->rowStride, 21u);
    // The same size again marks only what the corrected background feeds.
    ClearFlags(keyer);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(Flags(keyer), 10110);
}

TEST(Keyer, SetImagesRejectsSizeMismatchAndStoresNothing) {
    KeyerFrames a(6, 4), b(4, 6); // same pixel count, other shape
    CKeyer keyer;
    auto set = [&](CImageBaseClass* keyOut, CImageBaseClass* keyIn, CImageBaseClass* bg,
                   CImageBaseClass* out) {
        return keyer.SetImages(&a.matte, keyOut, keyIn, bg, &a.fgImage, out);
    };
    ClearFlags(keyer);
    EXPECT_EQ(set(&a.outAlpha, &a.keyInImage, &b.bgImage, &a.outImage), 0);
    EXPECT_EQ(set(&a.outAlpha, &a.keyInImage, &a.bgImage, &b.outImage), 0);
    EXPECT_EQ(keyer.width, 1);
    EXPECT_EQ(keyer.backgroundImage, nullptr);
    EXPECT_EQ(Flags(keyer), 0);
    // The key mattes count only when used: key-out mode, key-in layer.
    EXPECT_EQ(set(&b.outAlpha, &b.keyInImage, &a.bgImage, &a.outImage), 1);
    keyer.keyInMode = kKeyInPlusFg;
    EXPECT_EQ(set(&b.outAlpha, &a.keyInImage, &a.bgImage, &a.outImage), 0);
    keyer.keyInMode = kNoKeyOut;
    keyer.hasKeyIn = 1;
    EXPECT_EQ(set(&a.outAlpha, &b.keyInImage, &a.bgImage, &a.outImage), 0);
    EXPECT_EQ(set(&a.outAlpha, nullptr, &a.bgImage, &a.outImage), 0); // refused, not read
}

TEST(Keyer, ShadingBufferFollowsSmoothingAndFrameSize) {
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
    ASSERT_EQ(larger.Attach(keyer), 1); // a new size, a new buffer
    ASSERT_EQ(keyer.shadingBufferCount, 48);
    EXPECT_EQ(keyer.shadingBuffer[3], 0.0f);
    EXPECT_EQ(keyer.SetSmoothBgShadow(0), 1);
    EXPECT_EQ(keyer.smoothBgShadow, 0);
    EXPECT_EQ(keyer.shadingBufferCount, 0);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);
}

TEST(Keyer, SetParamsManagesTheOwnCorrectedBackground) {
    KeyerFrames frames(4, 3), larger(9, 2);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    KeyerParams p;
    p.bgCorrectionMode = 5;
    p.bgCorrectionStrength = 0.5;
    ClearFlags(keyer);
    ASSERT_EQ(keyer.SetParams(p), 1);
    EXPECT_EQ(keyer.params.bgCorrectionStrength, 0.5);
    EXPECT_EQ(Flags(keyer), 10110);
    ASSERT_NE(keyer.ownCorrectedBackground, nullptr);
    EXPECT_EQ(keyer.correctedBackground, keyer.ownCorrectedBackground);
    EXPECT_EQ(keyer.ownCorrectedBackground->bytesPerPixel, 3);
    ASSERT_EQ(larger.Attach(keyer), 1); // resized with the frame
    EXPECT_EQ(keyer.ownCorrectedBackground->ViewWidth(), 9);
    EXPECT_EQ(keyer.ownCorrectedBackground->ViewHeight(0), 2);
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
    EXPECT_EQ(Band(keyer), (std::array<int, 4>{0, 0, 19, 9}));
    keyer.cropEnabled = 1;
    keyer.cropRect = RECT{2, 3, 8, 7};
    EXPECT_EQ(Band(keyer), (std::array<int, 4>{2, 3, 7, 6}));
    keyer.cropRect = RECT{-5, 4, 40, 30};
    EXPECT_EQ(Band(keyer), (std::array<int, 4>{0, 4, 19, 9}));
    keyer.cropRect = RECT{5, 2, 6, 8}; // one pixel wide: an empty band
    const RECT r = keyer.BandRect();
    EXPECT_TRUE(IsRectEmpty(&r));
    // Ends at the lowest int (a crop dragged far off the frame) stay empty
    // instead of wrapping round to the whole frame.
    for (RECT far : {RECT{0, 0, INT32_MIN, 5}, RECT{0, 0, 5, INT32_MIN},
                     RECT{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}}) {
        keyer.cropRect = far;
        const RECT band = keyer.BandRect();
        EXPECT_TRUE(IsRectEmpty(&band)) << far.left << ' ' << far.right << ' ' << far.bottom;
    }
}
