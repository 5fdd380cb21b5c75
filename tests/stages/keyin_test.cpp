// Key-in combination: hold-out of the key-in matte and the key-out modes.
#include <gtest/gtest.h>

#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"

namespace {

// One row of matte values a over key-in values k; output alpha 77 before.
struct KeyInFixture : KeyedFrames {
    KeyInFixture(const std::vector<int>& a, const std::vector<int>& k, bool layer, int mode)
        : KeyedFrames(int(a.size()), 1, layer) {
        for (int x = 0; x < width; ++x) {
            Matte(x, 0) = uint8_t(a[x]);
            KeyIn(x, 0)[0] = uint8_t(k[x]);
            Out(x, 0)[0] = 77;
        }
        keyer.SetKeyInMode(mode);
        EXPECT_NE(keyer.CombineKeyIn(), 0);
    }
    std::vector<int> Mattes() {
        std::vector<int> v;
        for (int x = 0; x < width; ++x)
            v.push_back(Matte(x, 0));
        return v;
    }
    std::vector<int> KeyOut() {
        std::vector<int> v;
        for (int x = 0; x < width; ++x)
            v.push_back(Out(x, 0)[0]);
        return v;
    }
};

} // namespace

TEST(KeyIn, HoldOutAndKeyOutModes) {
    // k 255 clears a = 255; k 128 keeps 255, turns 200 into 72 and 100 into 0;
    // k 0 keeps a; a = 0 stays 0.
    KeyInFixture hold({255, 255, 200, 100, 90, 0, 130}, {255, 128, 128, 128, 0, 200, 30}, true,
                      kNoKeyOut);
    EXPECT_EQ(hold.Mattes(), (std::vector<int>{0, 255, 72, 0, 90, 0, 100}));
    EXPECT_EQ(hold.KeyOut(), std::vector<int>(7, 77)); // mode 3 writes no key-out

    const std::vector<int> a = {0, 40, 255, 200, 0}, k = {90, 90, 90, 128, 0};
    const struct {
        int mode;
        std::vector<int> keyOut;
    } modes[] = {{kKeyInPlusFg, {90, 90, 255, 200, 0}}, // max(a, k)
                 {kKeyInMinusFg, {90, 50, 0, 0, 0}},    // k - a, at least 0
                 {kFgMinusKeyIn, {0, 0, 255, 72, 0}}};  // the reduced matte
    for (const auto& m : modes) {
        KeyInFixture f(a, k, true, m.mode);
        EXPECT_EQ(f.KeyOut(), m.keyOut) << "mode " << m.mode;
        EXPECT_EQ(f.Mattes(), (std::vector<int>{0, 0, 255, 72, 0})) << "mode " << m.mode;
    }
    CKeyer keyer;
    keyer.keyInDirty = 0;
    keyer.SetKeyInMode(kKeyInMinusFg);
    EXPECT_EQ(keyer.keyInMode, 1);
    EXPECT_EQ(keyer.keyInDirty, 1);
}
