// Parameter values as the tool parses them, checked against the definitions
// the real plug-in registers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "effect.h"
#include "errors.h"
#include "params.h"

using namespace orvo;

namespace {

ParamSet Defaults() {
    static Effect effect(ORVO_TEST_PLUGIN);
    return ParamSet(effect.Params());
}

// The message of the usage error `f` throws ("" when it does not throw one).
template <class F> std::string UsageMessage(F f) {
    try {
        f();
    } catch (const ToolError& e) {
        EXPECT_EQ(e.code(), kExitUsage);
        return e.what();
    }
    return "";
}

TEST(ToolParams, FixedValuesRoundHalfAwayFromZero) {
    int32_t v;
    ASSERT_TRUE(ToFixed(75.5, &v));
    EXPECT_EQ(v, 0x004B8000);
    ASSERT_TRUE(ToFixed(0.3, &v)); // 19660.8 -> 19661
    EXPECT_EQ(v, 19661);
    ASSERT_TRUE(ToFixed(0.5 / 65536, &v)); // exactly half a step -> 1
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(ToFixed(-0.5 / 65536, &v)); // -0.5 steps -> -1, not 0
    EXPECT_EQ(v, -1);
    EXPECT_FALSE(ToFixed(40000.0, &v)); // beyond 16.16
    EXPECT_EQ(FormatFixed(0x004B8000), "75.5");
    EXPECT_EQ(FormatFixed(75 << 16), "75");
}

TEST(ToolParams, DefaultsAreTheEffectsExceptCropAndShow) {
    ParamSet p = Defaults();
    ASSERT_EQ(p.infos().size(), 40u);
    EXPECT_EQ(p.Value("Crop").value, 0);            // off in the tool
    EXPECT_EQ(p.Info("Crop").def.u.bd.dephault, 1); // on in the effect
    EXPECT_EQ(p.Value("Show").value, 11);           // the composite in the tool
    EXPECT_EQ(p.Info("Show").def.u.pd.dephault, 1); // the foreground in the effect
    EXPECT_EQ(p.Value("Transparency Threshold").value, 75 << 16);
    EXPECT_EQ(p.Value("Crop Size (pixel)").value, 200);
    EXPECT_FALSE(p.Value("Chroma Color").given);
    const ParamValue& chroma = p.Value("Chroma Color");
    EXPECT_EQ(chroma.colour[1], 86);
    EXPECT_EQ(chroma.colour[2], 112);
    EXPECT_EQ(chroma.colour[3], 200);
    EXPECT_FALSE(p.Value("Crop Position").pointSet);
}

TEST(ToolParams, NamesMatchCaseInsensitivelyAndExactly) {
    ParamSet p = Defaults();
    p.SetAssignment("transp. strength=150");
    EXPECT_EQ(p.Value("Transp. Strength").value, 150 << 16);
    p.SetAssignment("FG Ligth Color=1,2,3"); // the effect's own spelling
    EXPECT_EQ(p.Value("FG Ligth Color").colour[3], 3);
    std::string m = UsageMessage([&] { p.SetAssignment("FG Light Color=1,2,3"); });
    EXPECT_NE(m.find("unknown parameter \"FG Light Color\" (did you mean \"FG Ligth Color\"?)"),
              std::string::npos)
        << m;
    // Stable snake_case names work beside the display names, in --set and presets.
    p.SetAssignment("transp_strength=120");
    EXPECT_EQ(p.Value("Transp. Strength").value, 120 << 16);
    EXPECT_TRUE(p.Value("Transp. Strength").given);
    p.SetAssignment("crop_size=300");
    EXPECT_EQ(p.Value("Crop Size (pixel)").value, 300);
    p.SetAssignment("FG_LIGHT_COLOR=4,5,6"); // the key spells it right
    EXPECT_EQ(p.Value("FG Ligth Color").colour[1], 4);
    p.ApplyPreset(nlohmann::json{{"refl_suppress_red", 7}}, "preset");
    EXPECT_EQ(p.Value("Refl.Suppress Red").value, 7);
    m = UsageMessage([&] { p.SetAssignment("sep_deviaton=1"); });
    EXPECT_NE(m.find("did you mean \"sep_deviation\""), std::string::npos) << m;
    m = UsageMessage([&] { p.SetAssignment("zzzz=1"); });
    EXPECT_EQ(m.find("did you mean"), std::string::npos) << m; // nothing close
    m = UsageMessage([&] { p.SetAssignment("Transp. Strength"); });
    EXPECT_NE(m.find("Parameter Name=value"), std::string::npos) << m;
}

TEST(ToolParams, SlidersTakeIntegersInsideTheValidRange) {
    ParamSet p = Defaults();
    p.Set("Crop Size (pixel)", "400"); // valid max, beyond the slider max 200
    EXPECT_EQ(p.Value("Crop Size (pixel)").value, 400);
    p.Set("Sep. Red Shift", "-255");
    EXPECT_EQ(p.Value("Sep. Red Shift").value, -255);
    std::string m = UsageMessage([&] { p.Set("Crop Size (pixel)", "401"); });
    EXPECT_NE(m.find("\"Crop Size (pixel)\" takes an integer from 40 to 400"), std::string::npos)
        << m;
    EXPECT_EQ(p.Value("Crop Size (pixel)").value, 400); // never clamped, left as it was
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Size (pixel)", "39"); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Size (pixel)", "100.0"); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Size (pixel)", "1e2"); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Size (pixel)", ""); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Size (pixel)", "99999999999999999999"); }), "");
}

TEST(ToolParams, DecimalsAreSentAsRoundedFixedPoint) {
    ParamSet p = Defaults();
    p.Set("Sep. Deviation", "12.34"); // 808714.24 -> 808714
    EXPECT_EQ(p.Value("Sep. Deviation").value, 808714);
    p.Set("Transp. Strength", "150");
    EXPECT_EQ(p.Value("Transp. Strength").value, 150 << 16);
    std::string m = UsageMessage([&] { p.Set("Transp. Strength", "150.00001"); });
    EXPECT_NE(m.find("\"Transp. Strength\" takes a number from 0 to 150"), std::string::npos) << m;
    EXPECT_NE(UsageMessage([&] { p.Set("Sep. Deviation", "-0.01"); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Sep. Deviation", "nan"); }), "");
    EXPECT_NE(UsageMessage([&] { p.Set("Sep. Deviation", "0x10"); }), "");
}

TEST(ToolParams, CheckboxColourAndPopupForms) {
    ParamSet p = Defaults();
    for (const char* on : {"on", "ON", "1", "true"}) {
        p.Set("Crop", "off");
        p.Set("Crop", on);
        EXPECT_EQ(p.Value("Crop").value, 1) << on;
    }
    for (const char* off : {"off", "0", "False"}) {
        p.Set("Crop", "on");
        p.Set("Crop", off);
        EXPECT_EQ(p.Value("Crop").value, 0) << off;
    }
    EXPECT_NE(UsageMessage([&] { p.Set("Crop", "yes"); }), "");

    p.Set("Chroma Color", "#3CC850");
    const ParamValue& c = p.Value("Chroma Color");
    EXPECT_EQ(c.colour[0], 255);
    EXPECT_EQ(c.colour[1], 0x3C);
    EXPECT_EQ(c.colour[2], 0xC8);
    EXPECT_EQ(c.colour[3], 0x50);
    p.Set("Chroma Color", " 10, 20 ,30 ");
    EXPECT_EQ(p.Value("Chroma Color").colour[2], 20);
    for (const char* bad : {"256,0,0", "1,2", "1,2,3,4", "#12345", "#GG0000", "a,b,c", "-1,0,0"})
        EXPECT_NE(UsageMessage([&] { p.Set("Chroma Color", bad); }), "") << bad;

    p.Set("Show", "Separ. Black on Gray");
    EXPECT_EQ(p.Value("Show").value, 4);
    p.Set("Show", "composite");
    EXPECT_EQ(p.Value("Show").value, 11);
    p.Set("Key Out", "3");
    EXPECT_EQ(p.Value("Key Out").value, 3);
    std::string m = UsageMessage([&] { p.Set("Key Out", "5"); });
    EXPECT_NE(m.find("a number from 1 to 4 or one of \"None\", \"KeyIn plus FG\""),
              std::string::npos)
        << m;
    EXPECT_NE(UsageMessage([&] { p.Set("Show", "Separ."); }), ""); // no prefixes
    m = UsageMessage([&] { p.Set("Show", "Transparancy"); });
    EXPECT_NE(m.find("did you mean \"Transparency\""), std::string::npos) << m;
    EXPECT_NE(UsageMessage([&] { p.Set("Show", "0"); }), "");
}

TEST(ToolParams, LayersAreNotSetByValue) {
    ParamSet p = Defaults();
    std::string m = UsageMessage([&] { p.Set("Background", "bg.png"); });
    EXPECT_NE(m.find("--bg"), std::string::npos) << m;
}

TEST(ToolParams, PointsAreFullResolutionPixels) {
    ParamSet p = Defaults();
    const int i = p.Find("Crop Position");
    int32_t x, y;
    // Not set: the host's 40 % of the frame, in pixels of the downsampled frame.
    p.PointFixed(i, 1280, 720, 1, &x, &y);
    EXPECT_EQ(x, 512 << 16);
    EXPECT_EQ(y, 288 << 16);
    p.PointFixed(i, 1280, 720, 2, &x, &y);
    EXPECT_EQ(x, 256 << 16);
    EXPECT_EQ(y, 144 << 16);
    p.Set("Crop Position", "101,51.5");
    p.PointFixed(i, 1280, 720, 2, &x, &y);
    EXPECT_EQ(x, 0x328000); // 50.5 pixels of the half-size frame
    EXPECT_EQ(y, 0x19C000); // 25.75
    // Anywhere a host could send: outside the frame too, with a note.
    EXPECT_EQ(p.PointsOutside(1280, 720), "");
    p.Set("Crop Position", "1280,-10");
    p.PointFixed(i, 1280, 720, 1, &x, &y);
    EXPECT_EQ(x, 1280 << 16);
    EXPECT_EQ(y, -(10 << 16));
    EXPECT_NE(p.PointsOutside(1280, 720).find("\"Crop Position\" 1280,-10 lies outside the "
                                              "1280x720 frame"),
              std::string::npos);
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Position", "40000,5"); }), ""); // beyond 16.16
    EXPECT_NE(UsageMessage([&] { p.Set("Crop Position", "5"); }), "");
}

TEST(ToolParams, PresetsRoundTripEveryValue) {
    ParamSet a = Defaults();
    a.Set("Sep. Deviation", "0.3");
    a.Set("Crop", "on");
    a.Set("Crop Position", "12.5,7");
    a.Set("Key Out", "FG minus KeyIn");
    a.Set("BG CC Color", "#102030");
    a.Set("Separation Level", "-7");
    nlohmann::json j = nlohmann::json::parse(a.ToPreset().dump());
    EXPECT_EQ(j["parameters"]["Key Out"], "FG minus KeyIn");
    EXPECT_EQ(j["parameters"]["Crop"], true);

    ParamSet b = Defaults();
    b.ApplyPreset(j, "test preset");
    for (size_t i = 0; i < a.values().size(); ++i) {
        EXPECT_EQ(a.values()[i].value, b.values()[i].value) << a.infos()[i].name;
        EXPECT_EQ(std::memcmp(a.values()[i].colour, b.values()[i].colour, 4), 0);
        EXPECT_EQ(a.values()[i].pointSet, b.values()[i].pointSet);
        EXPECT_EQ(a.values()[i].x, b.values()[i].x);
        EXPECT_EQ(a.values()[i].y, b.values()[i].y);
    }
    // A bad value in a preset names the file and the parameter.
    ParamSet c = Defaults();
    std::string m = UsageMessage([&] {
        c.ApplyPreset(nlohmann::json{{"parameters", {{"Transp. Strength", 151}}}}, "preset \"p\"");
    });
    EXPECT_NE(m.find("preset \"p\""), std::string::npos) << m;
    EXPECT_NE(m.find("Transp. Strength"), std::string::npos) << m;
    EXPECT_NE(UsageMessage([&] {
                  c.ApplyPreset(nlohmann::json{{"Separation Level", 1.5}}, "preset");
              }),
              "");
}

TEST(ToolParams, ListingNamesTheToolsOwnDefaults) {
    ParamSet p = Defaults();
    std::string text = p.Listing();
    EXPECT_NE(text.find("1 Foreground | 2 Background"), std::string::npos);
    EXPECT_NE(text.find("this tool's default; the effect's own is on"), std::string::npos);
    EXPECT_NE(text.find("this tool's default; the effect's own is 1 (Foreground)"),
              std::string::npos);
}

TEST(ToolParams, SuggestionsAreForTyposOnly) {
    const std::vector<std::string> words = {"key", "params", "about", "demo"};
    struct Case {
        const char *typed, *expect;
    } cases[] = {{"kye", "key"},   {"Key", "key"}, {"parms", "params"}, {"abuot", "about"},
                 {"dmeo", "demo"}, {"render", ""}, {"k", ""},           {"", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(Closest(c.typed, words), c.expect) << c.typed;
    EXPECT_EQ(DidYouMean("kye", words), " (did you mean \"key\"?)");
    EXPECT_EQ(DidYouMean("xyz", words), "");
}

} // namespace
