// The stage controller: the nine steps in data order on every call, the flag
// rules, failing steps, and the keyed frame.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// The steps Update runs; a step listed in failing is skipped and fails.
std::vector<int> recorded, failing;

int RecordStep(CKeyer*, int step) {
    recorded.push_back(step);
    for (int f : failing)
        if (f == step) return 0;
    return 1;
}

// Backing (0, 255, 0) around a red square over a (50, 60, 70) background.
struct ControllerFixture : KeyedFrames {
    explicit ControllerFixture(std::vector<int> fail = {}) : KeyedFrames(24, 20) {
        recorded.clear();
        failing = fail;
        CKeyer::updateStepHook = RecordStep;
        FillFg(0, 255, 0);
        FillBg(50, 60, 70);
        for (int y = 6; y < 14; ++y)
            for (int x = 8; x < 16; ++x)
                SetRgb(Fg(x, y), 200, 30, 40);
        keyer.SetBackingColour(0, 255, 0, 0);
    }
    ~ControllerFixture() { CKeyer::updateStepHook = nullptr; }
};

const std::vector<int> kAllSteps = {1, 2, 3, 4, 5, 6, 7, 8, 9};

} // namespace

TEST(Update, RunsTheNineStepsInOrderOnEveryCall) {
    ControllerFixture f;
    for (int call = 0; call < 2; ++call) {
        recorded.clear();
        ASSERT_EQ(f.keyer.Update(1), 1);
        EXPECT_EQ(recorded, kAllSteps);
        EXPECT_EQ(Flags(f.keyer), 0);
    }
    // The frame is keyed: clean backing shows the background, the subject red.
    EXPECT_EQ(f.OutRgb(1, 1), (Rgb{50, 60, 70}));
    EXPECT_GT(f.OutRgb(12, 10).r, 150);
    EXPECT_LT(f.OutRgb(12, 10).g, 100);
    EXPECT_EQ(f.Matte(12, 10), 255);
    EXPECT_EQ(f.Matte(1, 1), 0);
    // Other requests do nothing.
    recorded.clear();
    EXPECT_EQ(f.keyer.Update(0), 0);
    EXPECT_EQ(f.keyer.Update(2), 0);
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(Flags(f.keyer), 0);
}

TEST(Update, FailingSteps) {
    // failing steps, steps run, flags after, result.
    const struct {
        std::vector<int> fail, steps;
        int flags, result;
    } cases[] = {
        {{7}, {1, 2, 3, 4, 5, 6, 7, 9}, 100, 1}, // no smoothing; composite runs
        {{8}, kAllSteps, 100, 1},                // the underlay flag stays
        {{1, 2, 4}, kAllSteps, 10000, 1},        // chain results are not looked at
        {{9}, kAllSteps, 10, 0},                 // the result is the composite's
    };
    for (const auto& c : cases) {
        ControllerFixture f(c.fail);
        const uint8_t stale[3] = {11, 22, 33};
        RECT all{0, 0, 24, 20};
        f.keyer.underlayImage->FillRect(&all, stale, 0, 0);
        EXPECT_EQ(f.keyer.Update(1), c.result) << c.fail[0];
        EXPECT_EQ(recorded, c.steps) << c.fail[0];
        EXPECT_EQ(Flags(f.keyer), c.flags) << c.fail[0];
        if (c.fail[0] == 7) { // the composite used the underlay as it was
            EXPECT_EQ(f.OutRgb(1, 1), (Rgb{11, 22, 33}));
        }
    }
}
