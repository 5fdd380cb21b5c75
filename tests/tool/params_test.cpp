// Parameter values as the tool parses them, checked against the definitions
// the real plug-in registers: one case per kind of value and of refusal,
// points, presets, and the tool's own defaults.
#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include "effect.h"
#include "params.h"
#include "tool_support.h"

using namespace orvo;
using tooltest::Contains;

namespace {

ParamSet Defaults() {
    return ParamSet(tooltest::SharedEffect().Params());
}

// A parameter's value as text: a number, a colour as R,G,B, a point as x,y.
std::string Got(const ParamSet& p, const std::string& name) {
    const ParamValue& v = p.Value(name);
    if (p.Info(name).type == PF_Param_COLOR)
        return std::to_string(v.colour[1]) + "," + std::to_string(v.colour[2]) + "," +
               std::to_string(v.colour[3]);
    return std::to_string(v.value) + (v.given ? "" : " (default)");
}

TEST(ToolParams, ValuesInEveryFormAndRefusalsNamingTheRange) {
    ParamSet p = Defaults();
    // The tool's own defaults: crop off, the composite view.
    EXPECT_EQ(Got(p, "Crop") + "|" + Got(p, "Show") + "|" + Got(p, "Chroma Color"),
              "0 (default)|11 (default)|86,112,200");
    const struct {
        const char *set, *name, *want;
    } accepted[] = {
        {"transp. strength=150", "Transp. Strength", "9830400"},       // any letter case; 16.16
        {"Sep. Deviation=12.34", "Sep. Deviation", "808714"},          // 808714.24, rounded
        {"Sep. Deviation=0.00000762939453125", "Sep. Deviation", "1"}, // a half, away from 0
        {"sep_red_shift=-255", "Sep. Red Shift", "-255"},              // snake_case names
        {"FG Ligth Color=#010203", "FG Ligth Color", "1,2,3"},         // the effect's own spelling
        {"FG_LIGHT_COLOR= 4, 5 ,6 ", "FG Ligth Color", "4,5,6"},       // spelt right in snake_case
        {"Crop Size (pixel)=400", "Crop Size (pixel)", "400"}, // valid max, beyond the slider's
        {"Show=Separ. Black on Gray", "Show", "4"},
    };
    for (const auto& c : accepted) {
        p.SetAssignment(c.set);
        EXPECT_EQ(Got(p, c.name), c.want) << c.set;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"FG Light Color=1,2,3",
         "unknown parameter \"FG Light Color\" (did you mean \"FG Ligth Color\"?)"},
        {"Crop Size (pixel)=100.0", "\"Crop Size (pixel)\" takes an integer from 40 to 400"},
        {"Transp. Strength=150.00001", "\"Transp. Strength\" takes a number from 0 to 150"},
        {"Chroma Color=256,0,0", "\"Chroma Color\""},
        {"Key Out=5", "a number from 1 to 4 or one of \"None\", \"KeyIn plus FG\""},
        {"Show=Separ.", "\"Show\""},                    // no prefixes
        {"Background=bg.png", "--bg"},                  // layers are not set by value
        {"Crop Position=40000,5", "\"Crop Position\""}, // beyond 16.16
    };
    const std::vector<ParamValue> before = p.values();
    for (const auto& [set, says] : refused) {
        const auto [code, message] = tooltest::Thrown([&] { p.SetAssignment(set); });
        EXPECT_TRUE(code == kExitUsage && Contains(message, says)) << set << ": " << message;
    }
    // Never clamped: a refused value leaves every value as it was.
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(p.values()[i].value == before[i].value &&
                    !std::memcmp(p.values()[i].colour, before[i].colour, 4))
            << p.infos()[i].name;
}

TEST(ToolParams, PointsAreFullResolutionPixelsAndPresetsRoundTripEveryValue) {
    ParamSet a = Defaults();
    for (const char* set : {"Sep. Deviation=0.3", "Crop=on", "Crop Position=101,51.5",
                            "Key Out=FG minus KeyIn", "BG CC Color=#102030", "Separation Level=-7"})
        a.SetAssignment(set);
    int32_t x, y; // 50.5 and 25.75 pixels of the half-size frame
    a.PointFixed(a.Find("Crop Position"), 1280, 720, 2, &x, &y);
    EXPECT_TRUE(x == 0x328000 && y == 0x19C000) << x << "," << y;
    const nlohmann::json j = nlohmann::json::parse(a.ToPreset().dump());
    EXPECT_EQ(j["parameters"]["Key Out"], "FG minus KeyIn");
    ParamSet b = Defaults();
    b.ApplyPreset(j, "test preset");
    for (size_t k = 0; k < a.values().size(); ++k) {
        const ParamValue &va = a.values()[k], &vb = b.values()[k];
        EXPECT_TRUE(va.value == vb.value && !std::memcmp(va.colour, vb.colour, 4) &&
                    va.pointSet == vb.pointSet && va.x == vb.x && va.y == vb.y)
            << a.infos()[k].name;
    }
    // Snake_case names in a bare preset; a bad value names the file and the parameter.
    b.ApplyPreset(nlohmann::json{{"refl_suppress_red", 7}}, "preset");
    EXPECT_EQ(b.Value("Refl.Suppress Red").value, 7);
    const std::string m =
        tooltest::Thrown([&] {
            b.ApplyPreset(nlohmann::json{{"parameters", {{"Transp. Strength", 151}}}},
                          "preset \"p\"");
        }).second;
    EXPECT_TRUE(Contains(m, "preset \"p\"") && Contains(m, "Transp. Strength")) << m;
}

} // namespace
