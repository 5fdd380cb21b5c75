// The host values to snapshot conversion, row by row, and the crop rectangle
// under hostile positions, sizes and downsampling.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>
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

KeyerParams Convert(Values& v, PF_RationalScale downsample = {1, 1}) {
    KeyerParams p;
    p.bgCorrectionColor[1] = 77; // left alone while the correction is "None"
    ConvertParams(v.pointers.data(), Defaults(), downsample, 640, 640, p);
    return p;
}

// Every field of a snapshot in declaration order, so that a mismatch shows
// all of them.
std::vector<double> Fields(const KeyerParams& p) {
    std::vector<double> v;
    for (const double* a :
         {p.bgCorrectionColor, p.separationColor, p.transparencyColor, p.shadowColor, p.lightColor,
          p.reflectionColor, p.backingChromaticity, p.fgCorrectionColor})
        v.insert(v.end(), a, a + 3);
    v.insert(v.end(), {p.bgCorrectionStrength, p.bgCorrectionBrightness, double(p.bgCorrectionMode),
                       p.separationLevel, p.separationDeviation, p.transparencyStrength,
                       p.transparencyThreshold, p.shadowChroma, p.shadowBrightness, p.lightChroma,
                       p.lightBrightness, p.reflectionChroma, p.reflectionBrightness,
                       p.reflectionStrength, p.fgCorrectionStrength, p.fgCorrectionBrightness,
                       double(p.fgCorrectionMode), p.transparencyEdge});
    return v;
}

#define AT(field) offsetof(KeyerParams, field)

// One host value apart from the registered ones changes its own field only
// (none: the corrections are off, so their values are not read): clamped
// shifts, fractions of 16.16 values and the rows no golden case sets.
TEST(ConvertParams, EachRowFillsItsOwnField) {
    Values base;
    const KeyerParams converted = Convert(base);
    const size_t none = size_t(-1);
    const struct {
        int index;
        int32_t value;
        size_t field;
        double expected;
    } rows[] = {
        {ParamSepDeviation, 0x004B8000, AT(separationDeviation),
         (0x8000 * (1.0 / 65535) + 75) * 0.01},
        {ParamSepRedShift, 200, AT(separationColor[0]), 255}, // clamped
        {ParamTranspBlueShift, 51, AT(transparencyColor[2]), 51 * (1.0 / 255) + 0.7},
        {ParamTranspRedShift, -255, AT(transparencyColor[0]), 0.0}, // clamped at 0
        {ParamReflSuppressGreen, 9, AT(reflectionColor[1]), 255},
        {ParamReflSuppressBlue, -31, AT(reflectionColor[2]), 0},
        {ParamTransparencyThreshold, 0x00010000, AT(transparencyThreshold), 0.01},
        {ParamShadowChroma, 0x0000FFFF, AT(shadowChroma), 0.01},
        {ParamLightBrightness, 20 << 16, AT(lightBrightness), 0.2},
        {ParamReflBrightness, 90 << 16, AT(reflectionBrightness), 0.9},
        {ParamFgCcStrength, 100, none, 0},
        {ParamFgCcBrightness, 3, none, 0},
        {ParamBgCcStrength, 40, none, 0},
        {ParamBgCcBrightness, -20, none, 0},
    };
    for (const auto& r : rows) {
        Values v;
        v[r.index].sd.value = r.value;
        KeyerParams expected = converted;
        if (r.field != none)
            *reinterpret_cast<double*>(reinterpret_cast<char*>(&expected) + r.field) = r.expected;
        EXPECT_EQ(Fields(Convert(v)), Fields(expected)) << "parameter " << r.index;
    }
    // Colours and modes; the corrections' values once they are on.
    Values v;
    v[ParamFgShadowColor].cd.value = {0, 1, 2, 3};
    v[ParamBgColorCorrection].pd.value = CorrectionHue;
    v[ParamBgCcStrength].sd.value = 40;
    v[ParamBgCcColor].cd.value = {255, 4, 5, 6};
    v[ParamFgColorCorrection].pd.value = CorrectionBlend;
    v[ParamFgCcBrightness].sd.value = 3;
    KeyerParams expected = converted;
    expected.shadowColor[0] = 1, expected.shadowColor[1] = 2, expected.shadowColor[2] = 3;
    expected.bgCorrectionMode = 4, expected.bgCorrectionStrength = 0.4;
    expected.bgCorrectionColor[0] = 4, expected.bgCorrectionColor[1] = 5;
    expected.bgCorrectionColor[2] = 6, expected.fgCorrectionMode = 5;
    expected.fgCorrectionBrightness = 0.03;
    EXPECT_EQ(Fields(Convert(v)), Fields(expected));

    // The edge follows the horizontal downsampling: 9 at 2/3 is 6.
    v[ParamTranspEdge].sd.value = 9;
    EXPECT_EQ(Convert(v, {2, 3}).transparencyEdge, 6.0);
    // A damaged popup value wraps instead of overflowing (the sanitizer runs check it).
    Values damaged;
    damaged[ParamBgColorCorrection].pd.value = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Convert(damaged).bgCorrectionMode, std::numeric_limits<int32_t>::max());
}

TEST(CropRectangle, HostileValuesStayInRange) {
    const struct {
        const char* what;
        PF_Fixed x, y;
        int32_t size;
        PF_RationalScale dx, dy;
        RECT expected;
    } cases[] = {
        // clang-format off
        {"half and quarter resolution", 10 << 16, 20 << 16, 200, {1, 2}, {1, 4}, {10, 20, 110, 70}},
        {"clipped to the output", 600 << 16, 300 << 16, 200, {1, 1}, {1, 1}, {600, 300, 640, 360}},
        {"fractions round down", -(3 << 16) - 1, 0x8000, 40, {1, 1}, {1, 1}, {-4, 0, 36, 40}},
        {"16.16 maximum", INT32_MAX, INT32_MAX, 400, {1, 1}, {1, 1}, {32767, 32767, 640, 360}},
        {"16.16 minimum", INT32_MIN, INT32_MIN, 400, {1, 1}, {1, 1},
         {-32768, -32768, -32368, -32368}},
        {"size times numerator past 32 bits", 0, 0, INT32_MAX, {4, 1}, {INT32_MAX, 3},
         {0, 0, 640, 360}},
        {"negative size", 100 << 16, 100 << 16, INT32_MIN, {INT32_MAX, 1}, {1, 1},
         {100, 100, INT32_MIN, -2147483548}},
        {"zero denominators", 5 << 16, 6 << 16, 200, {1, 0}, {1, 0}, {5, 6, 5, 6}},
        // clang-format on
    };
    for (const auto& c : cases) {
        PF_PointDef pos{};
        pos.x_value = c.x;
        pos.y_value = c.y;
        const RECT r = CropRectangle(pos, c.size, c.dx, c.dy, 640, 360);
        EXPECT_EQ((std::vector<int32_t>{r.left, r.top, r.right, r.bottom}),
                  (std::vector<int32_t>{c.expected.left, c.expected.top, c.expected.right,
                                        c.expected.bottom}))
            << c.what;
    }
}

} // namespace
