// The host values to snapshot conversion, row by row, and the crop rectangle
// under hostile positions, sizes and downsampling.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "host/params.h"
#include "host/render.h"

namespace {

// The registered initial value of every parameter, as the host delivers them.
struct Values {
    std::vector<PF_ParamDef> defs = std::vector<PF_ParamDef>(size_t(kParamCount));
    std::vector<PF_ParamDef*> pointers;
    Values() {
        for (PF_ParamDef& def : defs) {
            std::memset(&def, 0, sizeof def);
            pointers.push_back(&def);
        }
        for (const ParamRow& row : kParamTable) {
            PF_ParamDefUnion& u = defs[size_t(row.index)].u;
            if (row.type == PF_Param_COLOR)
                u.cd.value = row.colour;
            else
                u.sd.value = row.value; // slider, fixed, checkbox and popup alike
        }
    }
    PF_ParamDefUnion& operator[](int index) { return defs[size_t(index)].u; }
};

// Backing-derived colours the shifts start from.
KeyerParams Defaults() {
    KeyerParams d;
    const double sep[3] = {100, 120, 140}, transp[3] = {0.2, 0.5, 0.7}, refl[3] = {10, 250, 30};
    for (int c = 0; c < 3; ++c) {
        d.separationColor[c] = sep[c];
        d.transparencyColor[c] = transp[c];
        d.reflectionColor[c] = refl[c];
    }
    return d;
}

KeyerParams Convert(Values& v, PF_RationalScale downsample = {1, 1}, int32_t width = 640) {
    KeyerParams p;
    p.bgCorrectionColor[1] = 77; // left alone while the correction is "None"
    ConvertParams(v.pointers.data(), Defaults(), downsample, width, width, p);
    return p;
}

// Every field of two snapshots alike (doubles compared exactly).
void ExpectSame(const KeyerParams& a, const KeyerParams& b, const char* what) {
#define ORVO_SAME(f) EXPECT_EQ(a.f, b.f) << what << ": " #f
    for (int c = 0; c < 3; ++c) {
        ORVO_SAME(bgCorrectionColor[c]);
        ORVO_SAME(separationColor[c]);
        ORVO_SAME(transparencyColor[c]);
        ORVO_SAME(shadowColor[c]);
        ORVO_SAME(lightColor[c]);
        ORVO_SAME(reflectionColor[c]);
        ORVO_SAME(backingChromaticity[c]);
        ORVO_SAME(fgCorrectionColor[c]);
    }
    ORVO_SAME(bgCorrectionStrength);
    ORVO_SAME(bgCorrectionBrightness);
    ORVO_SAME(bgCorrectionMode);
    ORVO_SAME(separationLevel);
    ORVO_SAME(separationDeviation);
    ORVO_SAME(transparencyStrength);
    ORVO_SAME(transparencyThreshold);
    ORVO_SAME(shadowChroma);
    ORVO_SAME(shadowBrightness);
    ORVO_SAME(lightChroma);
    ORVO_SAME(lightBrightness);
    ORVO_SAME(reflectionChroma);
    ORVO_SAME(reflectionBrightness);
    ORVO_SAME(reflectionStrength);
    ORVO_SAME(fgCorrectionStrength);
    ORVO_SAME(fgCorrectionBrightness);
    ORVO_SAME(fgCorrectionMode);
    ORVO_SAME(transparencyEdge);
#undef ORVO_SAME
}

struct Case {
    const char* what;
    std::function<void(Values&)> set;         // host values apart from the defaults
    std::function<void(KeyerParams&)> expect; // the one change to the default result
};

TEST(ConvertParams, EachRowFillsItsOwnField) {
    Values base;
    const KeyerParams expectedBase = [] {
        KeyerParams e;
        e.bgCorrectionColor[1] = 77;
        for (int c = 0; c < 3; ++c) {
            e.separationColor[c] = Defaults().separationColor[c];
            e.transparencyColor[c] = Defaults().transparencyColor[c];
            e.reflectionColor[c] = Defaults().reflectionColor[c];
        }
        e.shadowColor[0] = e.shadowColor[1] = 82; // "FG Shadow Color" 82, 82, 93
        e.shadowColor[2] = 93;
        e.lightColor[0] = e.lightColor[1] = 5; // "FG Ligth Color" 5, 5, 11
        e.lightColor[2] = 11;
        // 16.16 percentages times 0.01, as converted.
        e.transparencyThreshold = 75 * 0.01;
        e.transparencyStrength = 100 * 0.01;
        e.shadowChroma = e.shadowBrightness = 80 * 0.01;
        e.lightChroma = e.lightBrightness = e.reflectionStrength = 100 * 0.01;
        e.reflectionChroma = 75 * 0.01;
        e.reflectionBrightness = 35 * 0.01;
        return e;
    }();
    ExpectSame(Convert(base), expectedBase, "the defaults");

    const std::vector<Case> cases = {
        {"level", [](Values& v) { v[ParamSeparationLevel].sd.value = -17; },
         [](KeyerParams& e) { e.separationLevel = -17.0; }},
        {"deviation 75.5 %", [](Values& v) { v[ParamSepDeviation].fd.value = 0x004B8000; },
         [](KeyerParams& e) { e.separationDeviation = (0x8000 * (1.0 / 65535) + 75) * 0.01; }},
        {"green separation shift", [](Values& v) { v[ParamSepGreenShift].sd.value = -30; },
         [](KeyerParams& e) { e.separationColor[1] = 90; }},
        {"red separation shift clamped", [](Values& v) { v[ParamSepRedShift].sd.value = 200; },
         [](KeyerParams& e) { e.separationColor[0] = 255; }},
        {"blue transparency shift", [](Values& v) { v[ParamTranspBlueShift].sd.value = 51; },
         [](KeyerParams& e) { e.transparencyColor[2] = 51 * (1.0 / 255) + 0.7; }},
        {"red transparency shift clamped at 0",
         [](Values& v) { v[ParamTranspRedShift].sd.value = -255; },
         [](KeyerParams& e) { e.transparencyColor[0] = 0.0; }},
        {"green reflection suppression", [](Values& v) { v[ParamReflSuppressGreen].sd.value = 9; },
         [](KeyerParams& e) { e.reflectionColor[1] = 255; }},
        {"blue reflection suppression", [](Values& v) { v[ParamReflSuppressBlue].sd.value = -31; },
         [](KeyerParams& e) { e.reflectionColor[2] = 0; }},
        {"threshold", [](Values& v) { v[ParamTransparencyThreshold].fd.value = 0x00010000; },
         [](KeyerParams& e) { e.transparencyThreshold = 0.01; }},
        {"strength", [](Values& v) { v[ParamTranspStrength].fd.value = 150 << 16; },
         [](KeyerParams& e) { e.transparencyStrength = 1.5; }},
        {"edge", [](Values& v) { v[ParamTranspEdge].sd.value = 7; },
         [](KeyerParams& e) { e.transparencyEdge = 7.0; }},
        {"shadow chroma", [](Values& v) { v[ParamShadowChroma].fd.value = 0x0000FFFF; },
         [](KeyerParams& e) { e.shadowChroma = 0.01; }},
        {"shadow brightness", [](Values& v) { v[ParamShadowBrightness].fd.value = 0; },
         [](KeyerParams& e) { e.shadowBrightness = 0.0; }},
        {"shadow colour",
         [](Values& v) {
             v[ParamFgShadowColor].cd.value = {0, 1, 2, 3};
         },
         [](KeyerParams& e) { e.shadowColor[0] = 1, e.shadowColor[1] = 2, e.shadowColor[2] = 3; }},
        {"light chroma", [](Values& v) { v[ParamLightChroma].fd.value = 50 << 16; },
         [](KeyerParams& e) { e.lightChroma = 0.5; }},
        {"light brightness", [](Values& v) { v[ParamLightBrightness].fd.value = 20 << 16; },
         [](KeyerParams& e) { e.lightBrightness = 0.2; }},
        {"light colour",
         [](Values& v) {
             v[ParamFgLightColor].cd.value = {9, 250, 0, 128};
         },
         [](KeyerParams& e) { e.lightColor[0] = 250, e.lightColor[1] = 0, e.lightColor[2] = 128; }},
        {"reflection chroma", [](Values& v) { v[ParamReflectionChroma].fd.value = 10 << 16; },
         [](KeyerParams& e) { e.reflectionChroma = 0.1; }},
        {"reflection brightness", [](Values& v) { v[ParamReflBrightness].fd.value = 90 << 16; },
         [](KeyerParams& e) { e.reflectionBrightness = 0.9; }},
        {"reflection strength", [](Values& v) { v[ParamReflStrength].fd.value = 30 << 16; },
         [](KeyerParams& e) { e.reflectionStrength = 0.3; }},
        {"BG correction off ignores its values",
         [](Values& v) {
             v[ParamBgCcStrength].sd.value = 40;
             v[ParamBgCcBrightness].sd.value = -20;
             v[ParamBgCcColor].cd.value = {255, 1, 2, 3};
         },
         [](KeyerParams&) {}},
        {"BG correction on",
         [](Values& v) {
             v[ParamBgColorCorrection].pd.value = CorrectionHue;
             v[ParamBgCcStrength].sd.value = 40;
             v[ParamBgCcBrightness].sd.value = -20;
             v[ParamBgCcColor].cd.value = {255, 1, 2, 3};
         },
         [](KeyerParams& e) {
             e.bgCorrectionMode = 4;
             e.bgCorrectionStrength = 40 * 0.01;
             e.bgCorrectionBrightness = -20 * 0.01;
             e.bgCorrectionColor[0] = 1, e.bgCorrectionColor[1] = 2, e.bgCorrectionColor[2] = 3;
         }},
        {"FG correction on",
         [](Values& v) {
             v[ParamFgColorCorrection].pd.value = CorrectionBlend;
             v[ParamFgCcStrength].sd.value = 100;
             v[ParamFgCcBrightness].sd.value = 3;
             v[ParamFgCcColor].cd.value = {255, 7, 8, 9};
         },
         [](KeyerParams& e) {
             e.fgCorrectionMode = 5;
             e.fgCorrectionStrength = 1.0;
             e.fgCorrectionBrightness = 3 * 0.01;
             e.fgCorrectionColor[0] = 7, e.fgCorrectionColor[1] = 8, e.fgCorrectionColor[2] = 9;
         }},
        {"values outside the snapshot",
         [](Values& v) {
             v[ParamShow].pd.value = ShowLights;
             v[ParamKeyOut].pd.value = KeyOutFgMinusKeyIn;
             v[ParamChromaColor].cd.value = {255, 1, 1, 1};
             v[ParamCrop].bd.value = 0;
             v[ParamCropSize].sd.value = 60;
             v[ParamSmoothBgShadow].bd.value = 1;
         },
         [](KeyerParams&) {}},
    };
    for (const Case& c : cases) {
        Values v;
        c.set(v);
        KeyerParams expected = expectedBase;
        c.expect(expected);
        ExpectSame(Convert(v), expected, c.what);
    }

    // The edge follows the horizontal downsampling: 9 at 2/3 is 6.
    Values v;
    v[ParamTranspEdge].sd.value = 9;
    EXPECT_EQ(Convert(v, {2, 3}).transparencyEdge, 6.0);

    // A damaged popup value wraps instead of overflowing (the sanitizer runs check it).
    Values damaged;
    damaged[ParamBgColorCorrection].pd.value = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Convert(damaged).bgCorrectionMode, std::numeric_limits<int32_t>::max());
}

TEST(ConvertParams, RowsNameEveryParameterOnce) {
    for (const ParamRow& row : kParamTable) {
        EXPECT_EQ(FindParamRow(row.index), &row);
        EXPECT_EQ(FindParamRowByKey(row.key), &row) << row.key;
        for (const char* c = row.key; *c; ++c)
            EXPECT_TRUE((*c >= 'a' && *c <= 'z') || *c == '_') << row.key;
    }
    EXPECT_EQ(FindParamRow(0), nullptr);
    EXPECT_EQ(FindParamRow(kRegisteredParamCount + 1), nullptr);
    EXPECT_EQ(FindParamRowByKey("Crop"), nullptr);
    EXPECT_EQ(FindParamRowByKey("crop_size")->index, ParamCropSize);
    EXPECT_STREQ(FindParamRowByKey("fg_light_color")->name, "FG Ligth Color");
}

TEST(CropRectangle, HostileValuesStayInRange) {
    struct Crop {
        const char* what;
        PF_Fixed x, y;
        int32_t size;
        PF_RationalScale dx, dy;
        RECT expected;
    };
    const Crop cases[] = {
        {"half resolution", 10 << 16, 20 << 16, 200, {1, 2}, {1, 2}, {10, 20, 110, 120}},
        {"clipped to the output", 600 << 16, 300 << 16, 200, {1, 1}, {1, 1}, {600, 300, 640, 360}},
        {"fractions round down", -(3 << 16) - 1, 0x8000, 40, {1, 1}, {1, 1}, {-4, 0, 36, 40}},
        {"point at the 16.16 maximum",
         INT32_MAX,
         INT32_MAX,
         400,
         {1, 1},
         {1, 1},
         {32767, 32767, 640, 360}},
        {"point at the 16.16 minimum",
         INT32_MIN,
         INT32_MIN,
         400,
         {1, 1},
         {1, 1},
         {-32768, -32768, -32368, -32368}},
        {"size times numerator past 32 bits",
         0,
         0,
         INT32_MAX,
         {4, 1},
         {INT32_MAX, 3},
         {0, 0, 640, 360}},
        {"negative size",
         100 << 16,
         100 << 16,
         INT32_MIN,
         {INT32_MAX, 1},
         {1, 1},
         {100, 100, INT32_MIN, -2147483548}},
        {"zero denominators", 5 << 16, 6 << 16, 200, {1, 0}, {1, 0}, {5, 6, 5, 6}},
    };
    for (const Crop& c : cases) {
        PF_PointDef pos{};
        pos.x_value = c.x;
        pos.y_value = c.y;
        const RECT r = CropRectangle(pos, c.size, c.dx, c.dy, 640, 360);
        EXPECT_EQ(r.left, c.expected.left) << c.what;
        EXPECT_EQ(r.top, c.expected.top) << c.what;
        EXPECT_EQ(r.right, c.expected.right) << c.what;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.what;
    }
}

} // namespace
