// A property of every stage and view under a crop: pixels outside the crop
// keep their bytes in the output, the matte and the underlay, while inside it
// the stage writes. (The key-in combination, whose band also takes the crop's
// right column and bottom row, is checked in keyin_test.)
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "keyer/keyer.h"
#include "support/keyer_frames.h"
#include "support/synthetic.h"

namespace {

const struct {
    const char* name;
    std::function<int(CKeyer&)> run;
} kStages[] = {
    {"separation", [](CKeyer& k) { return k.Separate(); }},
    {"transparency", [](CKeyer& k) { return k.GradeTransparency(); }},
    {"edge", [](CKeyer& k) { return k.SoftenEdge(); }},
    {"underlay fill", [](CKeyer& k) { return k.FillUnderlay(); }},
    {"underlay smoothing", [](CKeyer& k) { return k.SmoothUnderlay(); }},
    {"composite", [](CKeyer& k) { return k.Composite(); }},
    {"separation view", [](CKeyer& k) { return k.RenderSeparationView(); }},
    {"transparency view", [](CKeyer& k) { return k.RenderTransparencyView(); }},
    {"quick composite", [](CKeyer& k) { return k.RenderQuickComposite(); }},
    {"shadows view", [](CKeyer& k) { return k.RenderShadowsView(); }},
    {"lights view", [](CKeyer& k) { return k.RenderLightsView(); }},
    {"corrected background view", [](CKeyer& k) { return k.RenderCorrectedBackgroundView(); }},
};

// Synthetic material with a soft matte, edge marks and a patterned underlay,
// output bytes 7, a transparency edge and a background correction.
struct CropFrames : KeyedFrames {
    explicit CropFrames(const RECT& crop) : KeyedFrames(40, 30) {
        synthetic::GreenScreen(fg.data(), width, height, width * 4);
        synthetic::Background(bg.data(), width, height, width * 4);
        std::fill(out.begin(), out.end(), 7);
        keyer.SetBackingColour(60, 190, 40, 0);
        KeyerParams p = keyer.params;
        p.transparencyEdge = 3;
        p.bgCorrectionMode = 5;
        p.bgCorrectionStrength = 0.5;
        p.bgCorrectionColor[0] = 200;
        EXPECT_EQ(keyer.SetParams(p), 1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int d = (x - 20) * (x - 20) + (y - 15) * (y - 15);
                Matte(x, y) = uint8_t(d < 40 ? 255 : d < 80 ? 3 * (80 - d) : 0);
                Edge(x, y) = uint8_t(d >= 80 && d < 120);
                SetUnder(x, y, uint8_t(x * 5), uint8_t(y * 7), uint8_t(x + y));
            }
        keyer.cropEnabled = 1;
        keyer.cropRect = crop;
    }
    // Output, matte and underlay bytes of pixel (x, y).
    std::vector<uint8_t> Bytes(int x, int y) {
        std::vector<uint8_t> b(Out(x, y), Out(x, y) + 4);
        b.push_back(Matte(x, y));
        b.insert(b.end(), Under(x, y), Under(x, y) + 3);
        return b;
    }
};

} // namespace

TEST(Crop, EveryStageKeepsThePixelsOutsideTheCrop) {
    const RECT crop{9, 7, 31, 24};
    for (const auto& stage : kStages) {
        SCOPED_TRACE(stage.name);
        CropFrames before(crop), f(crop);
        ASSERT_EQ(stage.run(f.keyer), 1);
        int changedInside = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                if (x >= crop.left && x < crop.right && y >= crop.top && y < crop.bottom)
                    changedInside += f.Bytes(x, y) != before.Bytes(x, y);
                else
                    ASSERT_EQ(f.Bytes(x, y), before.Bytes(x, y)) << x << "," << y;
            }
        EXPECT_GT(changedInside, 0);
    }
}
