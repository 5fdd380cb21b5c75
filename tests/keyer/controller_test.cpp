// The stage controller: the nine steps in data order on every call, the flag
// rules and failing steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// The steps Update runs; a step listed in failing is skipped and fails.
std::vector<int> recorded, failing;

int RecordStep(CKeyer*, int step) {
    recorded.push_back(step);
    return std::count(failing.begin(), failing.end(), step) ? 0 : 1;
}

const std::vector<int> kAllSteps = {1, 2, 3, 4, 5, 6, 7, 8, 9};

} // namespace

// Failing steps, steps run, flags after, result (twice for the first row).
TEST(Update, StepsInOrderOnEveryCallAndFailingSteps) {
    const struct {
        std::vector<int> fail, steps;
        int flags, result;
    } cases[] = {
        {{}, kAllSteps, 0, 1},
        {{7}, {1, 2, 3, 4, 5, 6, 7, 9}, 100, 1}, // no smoothing; composite runs
        {{8}, kAllSteps, 100, 1},                // the underlay flag stays
        {{1, 2, 4}, kAllSteps, 10000, 1},        // chain results are not looked at
        {{9}, kAllSteps, 10, 0},                 // the result is the composite's
    };
    CKeyer::updateStepHook = RecordStep;
    for (const auto& c : cases) {
        KeyedFrames f(24, 20);
        f.keyer.SetBackingColour(0, 255, 0, 0);
        failing = c.fail;
        for (int call = 0; call < (c.fail.empty() ? 2 : 1); ++call) {
            recorded.clear();
            EXPECT_EQ(f.keyer.Update(1), c.result) << c.steps.size();
            EXPECT_EQ(recorded, c.steps);
            EXPECT_EQ(Flags(f.keyer), c.flags);
        }
        recorded.clear(); // other requests do nothing
        EXPECT_EQ(f.keyer.Update(0) + f.keyer.Update(2), 0);
        EXPECT_TRUE(recorded.empty());
    }
    CKeyer::updateStepHook = nullptr;
}
