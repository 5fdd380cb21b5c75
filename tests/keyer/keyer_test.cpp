// The keyer's state: snapshot assignment, construction, taking the frame's
// images, the shading buffer, the flags and the band rectangle.
#include <gtest/gtest.h>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

void ClearFlags(CKeyer& keyer) {
    keyer.bgCorrectionDirty = keyer.separationDirty = keyer.spillShadowDirty = 0;
    keyer.compositeDirty = keyer.keyInDirty = 0;
}

// Flags as a five-digit pattern: bg, separation, spill, composite, key-in.
int Flags(const CKeyer& k) {
    return k.bgCorrectionDirty * 10000 + k.separationDirty * 1000 + k.spillShadowDirty * 100 +
           k.compositeDirty * 10 + k.keyInDirty;
}

} // namespace

TEST(KeyerParams, AssignmentCopiesAndMarks) {
    KeyerParams p, q;
    EXPECT_EQ(p.assigned, 0);
    EXPECT_EQ(p.transparencyThreshold, 0.75);
    EXPECT_EQ(p.reflectionBrightness, 0.35);
    q.backingChromaticity[2] = 0.25;
    q.fgCorrectionMode = 4;
    q.transparencyEdge = 7.0;
    p = q;
    EXPECT_EQ(p.assigned, 1);
    EXPECT_EQ(p.backingChromaticity[2], 0.25);
    EXPECT_EQ(p.fgCorrectionMode, 4);
    EXPECT_EQ(p.transparencyEdge, 7.0);
    const KeyerParams& same = q;
    q = same; // nothing happens, not even the mark
    EXPECT_EQ(q.assigned, 0);
    p.SetDefaults();
    EXPECT_EQ(p.assigned, 0);
    EXPECT_EQ(p.backingChromaticity[2], 0.0);
    EXPECT_EQ(p.transparencyStrength, 1.0);
}

TEST(Keyer, ConstructionState) {
    CKeyer keyer;
    EXPECT_EQ(keyer.keyInMode, 3);
    EXPECT_EQ(Flags(keyer), 11111);
    EXPECT_EQ(keyer.separationView, 3);
    EXPECT_EQ(keyer.filterWidth, 3);
    EXPECT_EQ(keyer.channelOrder[2], 2);
    EXPECT_EQ(keyer.width, 1);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);
    EXPECT_EQ(keyer.correctedBackground, nullptr);
    EXPECT_EQ(keyer.edgeImage->bytesPerPixel, 1);
    EXPECT_EQ(keyer.underlayImage->bytesPerPixel, 3);
    EXPECT_EQ(keyer.params.assigned, 1);
}

TEST(Keyer, SetImagesStoresImagesAndResizesWorkImages) {
    KeyerFrames frames(7, 5);
    CKeyer keyer;
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
    EXPECT_EQ(keyer.underlayImage->undefined, 0u);

    // The same size again marks only what the corrected background feeds.
    ClearFlags(keyer);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(Flags(keyer), 10110);
}

TEST(Keyer, SetImagesRejectsSizeMismatchAndStoresNothing) {
    KeyerFrames frames(6, 4);
    KeyerFrames other(4, 6); // same pixel count, other shape
    CKeyer keyer;
    ClearFlags(keyer);
    EXPECT_EQ(keyer.SetImages(&frames.matte, &frames.outAlpha, &frames.keyInImage, &other.bgImage,
                              &frames.fgImage, &frames.outImage),
              0);
    EXPECT_EQ(keyer.SetImages(&frames.matte, &frames.outAlpha, &frames.keyInImage, &frames.bgImage,
                              &frames.fgImage, &other.outImage),
              0);
    EXPECT_EQ(keyer.width, 1);
    EXPECT_EQ(keyer.backgroundImage, nullptr);
    EXPECT_EQ(Flags(keyer), 0);

    // The key mattes count only when used: key-out mode, key-in layer.
    EXPECT_EQ(keyer.SetImages(&frames.matte, &other.outAlpha, &other.keyInImage, &frames.bgImage,
                              &frames.fgImage, &frames.outImage),
              1);
    keyer.keyInMode = kKeyInPlusFg;
    EXPECT_EQ(keyer.SetImages(&frames.matte, &other.outAlpha, &frames.keyInImage, &frames.bgImage,
                              &frames.fgImage, &frames.outImage),
              0);
    keyer.keyInMode = kNoKeyOut;
    keyer.hasKeyIn = 1;
    EXPECT_EQ(keyer.SetImages(&frames.matte, &frames.outAlpha, &other.keyInImage, &frames.bgImage,
                              &frames.fgImage, &frames.outImage),
              0);
    // A missing image is refused rather than dereferenced.
    EXPECT_EQ(keyer.SetImages(&frames.matte, &frames.outAlpha, nullptr, &frames.bgImage,
                              &frames.fgImage, &frames.outImage),
              0);
}

TEST(Keyer, ShadingBufferFollowsSmoothingAndFrameSize) {
    KeyerFrames frames(5, 3);
    CKeyer keyer;
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(keyer.SetSmoothBgShadow(0), 1);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);

    ASSERT_EQ(keyer.SetSmoothBgShadow(1), 1);
    EXPECT_EQ(keyer.smoothBgShadow, 1);
    ASSERT_EQ(keyer.shadingBufferCount, 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(keyer.shadingBuffer[i], 0.0f) << i;

    // The current value, and images of the same size, keep the buffer.
    keyer.shadingBuffer[3] = 2.5f;
    EXPECT_EQ(keyer.SetSmoothBgShadow(1), 1);
    ASSERT_EQ(frames.Attach(keyer), 1);
    EXPECT_EQ(keyer.shadingBuffer[3], 2.5f);
    // A new size gets a buffer of that size.
    KeyerFrames larger(8, 6);
    ASSERT_EQ(larger.Attach(keyer), 1);
    ASSERT_EQ(keyer.shadingBufferCount, 48);
    EXPECT_EQ(keyer.shadingBuffer[3], 0.0f);

    EXPECT_EQ(keyer.SetSmoothBgShadow(0), 1);
    EXPECT_EQ(keyer.smoothBgShadow, 0);
    EXPECT_EQ(keyer.shadingBuffer, nullptr);
    EXPECT_EQ(keyer.shadingBufferCount, 0);
}

TEST(Keyer, SetParamsManagesTheOwnCorrectedBackground) {
    KeyerFrames frames(4, 3);
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
    EXPECT_EQ(keyer.ownCorrectedBackground->undefined, 0u);

    KeyerFrames larger(9, 2); // resized with the frame
    ASSERT_EQ(larger.Attach(keyer), 1);
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

    RECT r = keyer.BandRect();
    EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 19 && r.bottom == 9);
    // The stored crop is exclusive at right and bottom, the band inclusive.
    keyer.cropEnabled = 1;
    keyer.cropRect = RECT{2, 3, 8, 7};
    r = keyer.BandRect();
    EXPECT_TRUE(r.left == 2 && r.top == 3 && r.right == 7 && r.bottom == 6);
    keyer.cropRect = RECT{-5, 4, 40, 30};
    r = keyer.BandRect();
    EXPECT_TRUE(r.left == 0 && r.top == 4 && r.right == 19 && r.bottom == 9);
    // A crop one pixel wide leaves nothing (a one-column band counts as empty).
    keyer.cropRect = RECT{5, 2, 6, 8};
    r = keyer.BandRect();
    EXPECT_TRUE(IsRectEmpty(&r));
}
