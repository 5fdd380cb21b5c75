// Key-in combination: hold-out of the key-in matte and the key-out modes.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// One row of pixels: matte values a and key-in values k side by side.
struct KeyInFixture {
    KeyerFrames frames;
    CKeyer keyer;

    KeyInFixture(const std::vector<int>& a, const std::vector<int>& k, bool layer)
        : frames((int)a.size(), 2, layer) {
        keyer.hasKeyIn = layer ? 1 : 0;
        EXPECT_EQ(frames.Attach(keyer), 1);
        for (int x = 0; x < frames.width; ++x)
            for (int y = 0; y < 2; ++y) {
                frames.Matte(x, y) = (uint8_t)a[x];
                frames.KeyIn(x, y)[0] = (uint8_t)k[x];
                frames.Out(x, y)[0] = 77; // output alpha before the stage
            }
    }
    int Matte(int x) { return frames.Matte(x, 1); }
    int KeyOut(int x) { return frames.Out(x, 1)[0]; }
};

TEST(KeyIn, SetKeyInModeStoresAndMarksTheChain) {
    CKeyer keyer;
    keyer.keyInDirty = 0;
    keyer.SetKeyInMode(kKeyInMinusFg);
    EXPECT_EQ(keyer.keyInMode, 1);
    EXPECT_EQ(keyer.keyInDirty, 1);
}

TEST(KeyIn, HoldOutReducesTheMatteInEveryMode) {
    // k 255 clears even a = 255; k 128 keeps 255, turns 200 into 72, 100 into 0;
    // k 0 keeps the value; a = 0 stays 0.
    KeyInFixture f({255, 255, 200, 100, 90, 0, 130}, {255, 128, 128, 128, 0, 200, 30}, true);
    f.keyer.SetKeyInMode(kNoKeyOut);
    EXPECT_NE(f.keyer.CombineKeyIn(), 0);
    const int expected[] = {0, 255, 72, 0, 90, 0, 100};
    for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(f.Matte(x), expected[x]) << x;
        EXPECT_EQ(f.KeyOut(x), 77) << x; // mode 3 writes no key-out matte
    }
}

TEST(KeyIn, KeyOutModes) {
    const std::vector<int> a = {0, 40, 255, 200, 0};
    const std::vector<int> k = {90, 90, 90, 128, 0};
    {
        KeyInFixture f(a, k, true);
        f.keyer.SetKeyInMode(kKeyInPlusFg); // the larger of a and k
        ASSERT_NE(f.keyer.CombineKeyIn(), 0);
        const int expected[] = {90, 90, 255, 200, 0};
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.KeyOut(x), expected[x]) << x;
    }
    {
        KeyInFixture f(a, k, true);
        f.keyer.SetKeyInMode(kKeyInMinusFg); // k - a, at least 0
        ASSERT_NE(f.keyer.CombineKeyIn(), 0);
        const int expected[] = {90, 50, 0, 0, 0};
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.KeyOut(x), expected[x]) << x;
        const int matte[] = {0, 0, 255, 72, 0};
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.Matte(x), matte[x]) << x;
    }
    {
        KeyInFixture f(a, k, true);
        f.keyer.SetKeyInMode(kFgMinusKeyIn); // the reduced matte
        ASSERT_NE(f.keyer.CombineKeyIn(), 0);
        const int expected[] = {0, 0, 255, 72, 0};
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(f.KeyOut(x), expected[x]) << x;
    }
}

TEST(KeyIn, WithoutLayerKeyOutIsTheMatte) {
    // The private key-in image holds 255 everywhere; it must not be read.
    KeyInFixture f({0, 40, 255}, {255, 255, 255}, false);
    f.keyer.SetKeyInMode(kKeyInMinusFg);
    ASSERT_NE(f.keyer.CombineKeyIn(), 0);
    const int expected[] = {0, 40, 255};
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(f.Matte(x), expected[x]);
        EXPECT_EQ(f.KeyOut(x), expected[x]);
    }
}

TEST(KeyIn, WithoutLayerAndKeyOutOnlyTheFlagsChange) {
    KeyInFixture f({0, 40, 255}, {255, 255, 255}, false);
    f.keyer.SetKeyInMode(kNoKeyOut);
    f.keyer.separationDirty = f.keyer.spillShadowDirty = f.keyer.compositeDirty = 0;
    ASSERT_NE(f.keyer.CombineKeyIn(), 0);
    EXPECT_EQ(f.Matte(0), 0);
    EXPECT_EQ(f.Matte(1), 40);
    EXPECT_EQ(f.Matte(2), 255);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(f.KeyOut(x), 77);
    EXPECT_EQ(f.keyer.separationDirty, 1);
    EXPECT_EQ(f.keyer.spillShadowDirty, 1);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
    EXPECT_EQ(f.keyer.keyInDirty, 0);
}

TEST(KeyIn, CropIncludesItsRightColumnAndBottomRow) {
    KeyerFrames frames(6, 5, true);
    CKeyer keyer;
    keyer.hasKeyIn = 1;
    ASSERT_EQ(frames.Attach(keyer), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            frames.Matte(x, y) = 200;
            frames.KeyIn(x, y)[0] = 255;
        }
    keyer.cropEnabled = 1;
    SetRect(&keyer.cropRect, 1, 1, 3, 3);
    keyer.SetKeyInMode(kNoKeyOut);
    ASSERT_NE(keyer.CombineKeyIn(), 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 3;
            EXPECT_EQ(frames.Matte(x, y), inside ? 0 : 200) << x << "," << y;
        }
    // A crop reaching past the frame is clipped; one wholly outside does nothing.
    SetRect(&keyer.cropRect, 4, 3, 9, 9);
    ASSERT_NE(keyer.CombineKeyIn(), 0);
    EXPECT_EQ(frames.Matte(5, 4), 0);
    EXPECT_EQ(frames.Matte(3, 4), 200);
    SetRect(&keyer.cropRect, -9, -9, -3, -3);
    keyer.keyInDirty = 1;
    ASSERT_NE(keyer.CombineKeyIn(), 0);
    EXPECT_EQ(frames.Matte(0, 0), 200);
    EXPECT_EQ(keyer.keyInDirty, 0);
}

} // namespace
