// The stage controller: the nine steps in data order on every call, the flag
// rules, a failing underlay fill or smoothing, a failing composite, and a
// whole keyed frame.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// Records the steps Update runs; a step listed in failing is skipped and
// counts as failed.
std::vector<int> recorded;
std::vector<int> failing;

int RecordStep(CKeyer*, int step) {
    recorded.push_back(step);
    for (int f : failing)
        if (f == step) return 0;
    return 1;
}

const std::vector<int> kAllSteps = {1, 2, 3, 4, 5, 6, 7, 8, 9};

// A green-screen frame: backing (0, 255, 0) around a red square, a grey-blue
// background; the controller's hook records the steps.
struct ControllerFixture {
    KeyerFrames frames;
    CKeyer keyer;

    ControllerFixture() : frames(24, 20) {
        recorded.clear();
        failing.clear();
        CKeyer::updateStepHook = RecordStep;
        frames.FillFg(0, 255, 0);
        frames.FillBg(50, 60, 70);
        for (int y = 6; y < 14; ++y)
            for (int x = 8; x < 16; ++x)
                KeyerFrames::SetRgb(frames.Fg(x, y), 200, 30, 40);
        EXPECT_EQ(frames.Attach(keyer), 1);
        keyer.SetBackingColour(0, 255, 0, 0);
    }
    ~ControllerFixture() { CKeyer::updateStepHook = nullptr; }

    void ExpectFlags(int bg, int sep, int spill, int comp, int keyIn) {
        EXPECT_EQ(keyer.bgCorrectionDirty, bg);
        EXPECT_EQ(keyer.separationDirty, sep);
        EXPECT_EQ(keyer.spillShadowDirty, spill);
        EXPECT_EQ(keyer.compositeDirty, comp);
        EXPECT_EQ(keyer.keyInDirty, keyIn);
    }
};

} // namespace

TEST(Update, RunsTheNineStepsInOrderOnEveryCall) {
    ControllerFixture f;
    ASSERT_EQ(f.keyer.Update(1), 1);
    EXPECT_EQ(recorded, kAllSteps);
    f.ExpectFlags(0, 0, 0, 0, 0);

    recorded.clear();
    ASSERT_EQ(f.keyer.Update(1), 1);
    EXPECT_EQ(recorded, kAllSteps);
    f.ExpectFlags(0, 0, 0, 0, 0);
}

TEST(Update, KeysTheFrame) {
    ControllerFixture f;
    CKeyer::updateStepHook = nullptr;
    ASSERT_EQ(f.keyer.Update(1), 1);
    // Clean backing shows the background; the subject keeps its red.
    const uint8_t* backing = f.frames.Out(1, 1);
    EXPECT_EQ(backing[1], 50);
    EXPECT_EQ(backing[2], 60);
    EXPECT_EQ(backing[3], 70);
    const uint8_t* subject = f.frames.Out(12, 10);
    EXPECT_GT(subject[1], 150);
    EXPECT_LT(subject[2], 100);
    EXPECT_EQ(f.frames.Matte(12, 10), 255);
    EXPECT_EQ(f.frames.Matte(1, 1), 0);
}

TEST(Update, FailedFillSkipsSmoothingButStillComposites) {
    ControllerFixture f;
    const uint8_t stale[3] = {11, 22, 33};
    RECT all{0, 0, 24, 20};
    f.keyer.underlayImage->FillRect(&all, stale, 0, 0);
    failing = {7};
    ASSERT_EQ(f.keyer.Update(1), 1);
    EXPECT_EQ(recorded, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 9}));
    f.ExpectFlags(0, 0, 1, 0, 0);
    // The composite wrote the backing pixels from the underlay as it was.
    const uint8_t* backing = f.frames.Out(1, 1);
    EXPECT_EQ(backing[1], 11);
    EXPECT_EQ(backing[2], 22);
    EXPECT_EQ(backing[3], 33);
}

TEST(Update, FailedSmoothingKeepsTheUnderlayFlag) {
    ControllerFixture f;
    failing = {8};
    ASSERT_EQ(f.keyer.Update(1), 1);
    EXPECT_EQ(recorded, kAllSteps);
    f.ExpectFlags(0, 0, 1, 0, 0);
}

TEST(Update, ChainResultsAreNotLookedAt) {
    ControllerFixture f;
    failing = {1, 2, 4};
    ASSERT_EQ(f.keyer.Update(1), 1);
    EXPECT_EQ(recorded, kAllSteps);
    // The skipped background correction did not clear its own flag.
    f.ExpectFlags(1, 0, 0, 0, 0);
}

TEST(Update, ResultIsTheComposites) {
    ControllerFixture f;
    failing = {9};
    EXPECT_EQ(f.keyer.Update(1), 0);
    EXPECT_EQ(recorded, kAllSteps);
    EXPECT_EQ(f.keyer.compositeDirty, 1);
}

TEST(Update, OtherRequestsDoNothing) {
    ControllerFixture f;
    f.keyer.compositeDirty = 0;
    EXPECT_EQ(f.keyer.Update(0), 0);
    EXPECT_EQ(f.keyer.Update(2), 0);
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(f.keyer.compositeDirty, 0);
}
