// The forty parameter records as the effect registers them, compared byte for
// byte with records built here from the published parameter table.
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

constexpr int32_t F(int32_t units) {
    return units << 16;
}

PF_ParamDef Blank(const char* name, PF_ParamType type, PF_ParamFlags flags) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    std::strcpy(def.name, name);
    def.param_type = type;
    def.flags = flags;
    return def;
}
PF_ParamDef Layer(const char* name, PF_ParamFlags flags) {
    return Blank(name, PF_Param_LAYER, flags);
}
PF_ParamDef Popup(const char* name, short count) {
    PF_ParamDef def = Blank(name, PF_Param_POPUP, 16);
    def.u.pd.value = def.u.pd.dephault = 1;
    def.u.pd.num_choices = count;
    return def;
}
PF_ParamDef Colour(const char* name, PF_ParamFlags flags, uint8_t r, uint8_t g, uint8_t b) {
    PF_ParamDef def = Blank(name, PF_Param_COLOR, flags);
    def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, r, g, b};
    return def;
}
PF_ParamDef Check(const char* name, int on) {
    PF_ParamDef def = Blank(name, PF_Param_CHECKBOX, 48);
    def.u.bd.value = on;
    def.u.bd.dephault = char(on);
    return def;
}
PF_ParamDef Slider(const char* name, PF_ParamFlags flags, int32_t v, int32_t vmin, int32_t vmax,
                   int32_t smin, int32_t smax) {
    PF_ParamDef def = Blank(name, PF_Param_SLIDER, flags);
    PF_SliderDef& sd = def.u.sd;
    std::tie(sd.value, sd.dephault, sd.valid_min, sd.valid_max, sd.slider_min, sd.slider_max) =
        std::make_tuple(v, v, vmin, vmax, smin, smax);
    return def;
}
PF_ParamDef Fixed(const char* name, PF_ParamFlags flags, int32_t v, int32_t vmax, int32_t smax,
                  short precision) {
    PF_ParamDef def = Blank(name, PF_Param_FIX_SLIDER, flags);
    PF_FixedSliderDef& fd = def.u.fd;
    std::tie(fd.value, fd.dephault, fd.valid_max, fd.slider_max, fd.precision, fd.display_flags) =
        std::make_tuple(F(v), F(v), F(vmax), F(smax), precision, 1);
    return def;
}

struct Expected {
    PF_ParamDef def;
    std::string text;
};

std::vector<Expected> ExpectedTable() {
    const std::string keyOut = "None|KeyIn plus FG|KeyIn minus FG|FG minus KeyIn";
    const std::string show = "Foreground|Background|Separ. FG on BG|Separ. Black on Gray|"
                             "Separ. Black on BG|Separ. FG on Black|Transparency|Shadows|Lights|"
                             "Color Corrected BG|Composite";
    const std::string cc = "None|Brightness|Desaturate|Saturate|Hue|Blend";
    PF_ParamDef point = Blank("Crop Position", PF_Param_POINT, 16);
    point.u.td.x_value = point.u.td.y_value = 0x00280000;
    point.u.td.x_dephault = point.u.td.y_dephault = 0x00280000;
    point.u.td.restrict_bounds = 1;
    return {
        {Layer("Background", 0), ""},
        {Layer("Key In", 1), ""},
        {Popup("Key Out", 4), keyOut},
        {Colour("Chroma Color", 16, 86, 112, 200), ""},
        {Popup("Show", 11), show},
        {Check("Crop", 1), "Crop"},
        {point, ""},
        {Slider("Crop Size (pixel)", 32, 200, 40, 400, 40, 200), ""},
        {Slider("Separation Level", 48, 0, -50, 50, -50, 50), ""},
        {Fixed("Sep. Deviation", 32, 0, 100, 100, 2), ""},
        {Slider("Sep. Red Shift", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Sep. Green Shift", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Sep. Blue Shift", 32, 0, -255, 255, -127, 127), ""},
        {Fixed("Transparency Threshold", 48, 75, 100, 100, 0), ""},
        {Fixed("Transp. Strength", 32, 100, 150, 100, 2), ""},
        {Slider("Transp. Edge (pixel)", 32, 0, 0, 10, 0, 10), ""},
        {Slider("Transp. Red Shift", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Transp. Green Shift", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Transp. Blue Shift", 32, 0, -255, 255, -127, 127), ""},
        {Fixed("Shadow Chroma", 32, 80, 100, 100, 2), ""},
        {Fixed("Shadow Brightness", 32, 80, 100, 100, 2), ""},
        {Check("Smooth BG Shadow", 0), "Smooth BG Shadow"},
        {Colour("FG Shadow Color", 0, 82, 82, 93), ""},
        {Fixed("Light Chroma", 48, 100, 100, 100, 2), ""},
        {Fixed("Light Brightness", 32, 100, 100, 100, 2), ""},
        {Colour("FG Ligth Color", 0, 5, 5, 11), ""},
        {Fixed("Reflection Chroma", 48, 75, 100, 100, 2), ""},
        {Fixed("Refl. Brightness", 32, 35, 100, 100, 2), ""},
        {Fixed("Refl. Strength", 32, 100, 100, 100, 2), ""},
        {Slider("Refl.Suppress Red", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Refl.Suppress Green", 32, 0, -255, 255, -127, 127), ""},
        {Slider("Refl.Suppress Blue", 32, 0, -255, 255, -127, 127), ""},
        {Popup("BG Color Correction", 6), cc},
        {Slider("BG CC Strength", 32, 0, 0, 100, 0, 100), ""},
        {Slider("BG CC Brightness", 32, 0, -100, 100, -100, 100), ""},
        {Colour("BG CC Color", 0, 0, 0, 0), ""},
        {Popup("FG Color Correction", 6), cc},
        {Slider("FG CC Strength", 32, 0, 0, 100, 0, 100), ""},
        {Slider("FG CC Brightness", 32, 0, -100, 100, -100, 100), ""},
        {Colour("FG CC Color", 0, 0, 0, 0), ""},
    };
}

class ParamSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        host.BindEntry(EffectMain);
        ASSERT_EQ(host.ParamsSetup(), 0);
    }
    harness::Host host;
};

} // namespace

TEST_F(ParamSetup, EveryRecordMatchesTheTableByteForByte) {
    // The published records stay first and never change; rows appended to
    // the table later register after them.
    std::vector<Expected> table = ExpectedTable();
    ASSERT_EQ(host.Params().size(), size_t(kRegisteredParamCount));
    ASSERT_GE(host.Params().size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const harness::ParamInfo& got = host.Params()[i];
        SCOPED_TRACE("parameter " + std::to_string(i + 1) + " " + got.name);
        EXPECT_EQ(got.index, int(i) + 1);
        // The harness clears the text pointers in the recorded copy; every
        // other byte (including the ones that must stay zero) is compared.
        EXPECT_EQ(std::memcmp(&got.def, &table[i].def, sizeof(PF_ParamDef)), 0);
        EXPECT_STREQ(got.def.name, table[i].def.name);
        EXPECT_EQ(got.type, table[i].def.param_type);
        EXPECT_EQ(got.flags, table[i].def.flags);
        EXPECT_EQ(got.text, table[i].text);
    }
}

// The index constants of the rest of the plug-in against the registered
// names and choices, and the count growing from the host's.
TEST_F(ParamSetup, IndexConstantsNameTheRegisteredRecords) {
    const std::pair<const char*, int> names[] = {{"Background", ParamBackground},
                                                 {"Key In", ParamKeyIn},
                                                 {"Crop Position", ParamCropPosition},
                                                 {"Crop Size (pixel)", ParamCropSize},
                                                 {"Smooth BG Shadow", ParamSmoothBgShadow},
                                                 {"FG Ligth Color", ParamFgLightColor},
                                                 {"Refl.Suppress Blue", ParamReflSuppressBlue},
                                                 {"FG CC Color", ParamFgCcColor},
                                                 {"nothing", -1}};
    for (const auto& name : names)
        EXPECT_EQ(host.FindParam(name.first), name.second) << name.first;
    const std::vector<std::string>& show = host.Param(ParamShow).choices;
    EXPECT_EQ((std::vector<std::string>{
                  show[ShowForeground - 1], show[ShowSepBlackOnGray - 1], show[ShowCorrectedBg - 1],
                  show[ShowComposite - 1], host.Param(ParamKeyOut).choices[KeyOutFgMinusKeyIn - 1],
                  host.Param(ParamFgColorCorrection).choices[CorrectionBlend - 1]}),
              (std::vector<std::string>{"Foreground", "Separ. Black on Gray", "Color Corrected BG",
                                        "Composite", "FG minus KeyIn", "Blend"}));
}

TEST(ParamSetupCount, GrowsFromTheHostCountAndStopsAtAFailure) {
    for (A_long start : {1, 3}) {
        harness::Host host;
        host.BindEntry(EffectMain);
        host.SetHostParamCount(start);
        EXPECT_EQ(host.ParamsSetup(), 0);
        EXPECT_EQ(host.NumParams(), start + kRegisteredParamCount);
        EXPECT_EQ(host.AddParamCalls(), kRegisteredParamCount);
    }
    harness::Host host; // a failure on the third parameter is returned at once
    host.BindEntry(EffectMain);
    host.SetHostParamCount(1);
    host.FailAddParamAt(3, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.ParamsSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ((std::vector<long long>{host.NumParams(), host.AddParamCalls(),
                                      (long long)host.Params().size()}),
              (std::vector<long long>{1 + 2, 3, 2}));
    EXPECT_TRUE(host.Problems().empty());
}
