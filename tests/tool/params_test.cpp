// Parameter values as the tool parses them, checked against the definitions
// the real plug-in registers.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include <nlohmann/json.hpp>

#include "effect.h"
#include "errors.h"
#include "params.h"
#include "tool_support.h"

using namespace orvo;
using tooltest::Contains;

namespace {

ParamSet Defaults() {
    return ParamSet(tooltest::SharedEffect().Params());
}

// The message of the usage error `f` throws ("" when it throws none).
template <class F> std::string UsageMessage(F f) {
    const auto [code, message] = tooltest::Thrown(f);
    EXPECT_EQ(code, message.empty() ? -1 : kExitUsage) << message;
    return message;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text)
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    return parts;
}

// A parameter's value as one number: a colour as 0xRRGGBB.
int64_t Got(const ParamSet& p, const std::string& name) {
    const ParamValue& v = p.Value(name);
    if (p.Info(name).type != PF_Param_COLOR) return v.value;
    return v.colour[1] << 16 | v.colour[2] << 8 | v.colour[3];
}

TEST(ToolParams, FixedValuesRoundHalfAwayFromZeroAndSuggestionsAreForTypos) {
    const struct {
        double v;
        int32_t fixed;
    } cases[] = {{75.5, 0x004B8000}, {0.3, 19661}, {0.5 / 65536, 1}, {-0.5 / 65536, -1}};
    for (const auto& c : cases) {
        int32_t v;
        ASSERT_TRUE(ToFixed(c.v, &v));
        EXPECT_EQ(v, c.fixed) << c.v;
    }
    int32_t v;
    EXPECT_FALSE(ToFixed(40000.0, &v)); // beyond 16.16
    EXPECT_EQ(FormatFixed(0x004B8000), "75.5");
    EXPECT_EQ(FormatFixed(75 << 16), "75");
    // Suggestions are for typos only.
    const std::vector<std::string> words = {"key", "params", "about", "demo"};
    const struct {
        const char *typed, *expect;
    } typos[] = {{"kye", "key"},   {"Key", "key"}, {"parms", "params"}, {"abuot", "about"},
                 {"dmeo", "demo"}, {"render", ""}, {"k", ""},           {"", ""}};
    for (const auto& c : typos)
        EXPECT_EQ(Closest(c.typed, words), c.expect) << c.typed;
    EXPECT_EQ(DidYouMean("kye", words), " (did you mean \"key\"?)");
    EXPECT_EQ(DidYouMean("xyz", words), "");
}

TEST(ToolParams, DefaultsAreTheEffectsExceptCropAndShowAndTheListingSaysSo) {
    const ParamSet p = Defaults();
    // Off and the composite in the tool; the effect's own defaults (on, the
    // foreground) are checked with its registration in tests/host.
    EXPECT_EQ(p.Value("Crop").value, 0);
    EXPECT_EQ(p.Value("Show").value, 11);
    EXPECT_EQ(p.Value("Transparency Threshold").value, 75 << 16);
    EXPECT_EQ(Got(p, "Chroma Color"), 0x5670C8);
    EXPECT_FALSE(p.Value("Chroma Color").given);
    EXPECT_FALSE(p.Value("Crop Position").pointSet);
    // The listing: a heading, then one numbered row per parameter.
    std::istringstream listing(p.Listing());
    std::vector<std::string> rows;
    for (std::string line; std::getline(listing, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), p.infos().size() + 1);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(std::stoul(rows[i]), i) << rows[i];
    const std::pair<int, const char*> parts[] = {
        {0, "snake_name"},
        {5, "11 (Composite)"},
        {5, "the effect's own is 1 (Foreground); 1 Foreground | 2 Back"},
        {6, "this tool's default; the effect's own is on"},
        {8, "Crop Size (pixel)        crop_size"},
        {8, "40..400          40..200"},
        {26, "FG Ligth Color           fg_light_color"}};
    for (const auto& [row, part] : parts)
        EXPECT_TRUE(Contains(rows[size_t(row)], part)) << rows[size_t(row)];
}

TEST(ToolParams, ValuesInEveryFormAndRefusalsNamingTheRange) {
    ParamSet p = Defaults();
    const struct {
        const char* set;
        const char* name;
        int64_t want;
    } accepted[] = {
        {"transp. strength=150", "Transp. Strength", 150 << 16}, // any letter case
        {"transp_strength=120", "Transp. Strength", 120 << 16},  // snake_case names
        {"FG Ligth Color=1,2,3", "FG Ligth Color", 0x010203},    // the effect's own spelling
        {"FG_LIGHT_COLOR=4,5,6", "FG Ligth Color", 0x040506},    // spelt right in snake_case
        {"crop_size=300", "Crop Size (pixel)", 300},
        {"Crop Size (pixel)=400", "Crop Size (pixel)", 400}, // valid max, beyond the slider's
        {"Sep. Red Shift=-255", "Sep. Red Shift", -255},
        {"Sep. Deviation=12.34", "Sep. Deviation", 808714}, // 808714.24 rounded
        {"Crop=ON", "Crop", 1},
        {"Crop=0", "Crop", 0},
        {"Crop=true", "Crop", 1},
        {"Crop=False", "Crop", 0},
        {"Chroma Color=#3CC850", "Chroma Color", 0x3CC850},
        {"Chroma Color= 10, 20 ,30 ", "Chroma Color", 0x0A141E},
        {"Show=Separ. Black on Gray", "Show", 4},
        {"Show=composite", "Show", 11},
        {"Key Out=3", "Key Out", 3},
    };
    for (const auto& c : accepted) {
        p.SetAssignment(c.set);
        EXPECT_EQ(Got(p, c.name), c.want) << c.set;
        EXPECT_TRUE(p.Value(c.name).given) << c.set;
    }
    // Refused values, each "Name=value|value|..." with a part of the message.
    const std::pair<const char*, const char*> refused[] = {
        {"FG Light Color=1,2,3",
         "unknown parameter \"FG Light Color\" (did you mean \"FG Ligth Color\"?)"},
        {"sep_deviaton=1", "did you mean \"sep_deviation\""},
        {"Transp. Strength", "Parameter Name=value"},
        {"Crop Size (pixel)=401|39|100.0|1e2||99999999999999999999",
         "\"Crop Size (pixel)\" takes an integer from 40 to 400"},
        {"Transp. Strength=150.00001", "\"Transp. Strength\" takes a number from 0 to 150"},
        {"Sep. Deviation=-0.01|nan|0x10", "\"Sep. Deviation\" takes a number"},
        {"Crop=yes", "\"Crop\""},
        {"Chroma Color=256,0,0|1,2|1,2,3,4|#12345|#GG0000|a,b,c|-1,0,0", "\"Chroma Color\""},
        {"Key Out=5", "a number from 1 to 4 or one of \"None\", \"KeyIn plus FG\""},
        {"Show=Separ.|0", "\"Show\""}, // no prefixes
        {"Show=Transparancy", "did you mean \"Transparency\""},
        {"Background=bg.png", "--bg"},                    // layers are not set by value
        {"Crop Position=40000,5|5", "\"Crop Position\""}, // beyond 16.16; one number
    };
    const std::vector<ParamValue> before = p.values();
    for (const auto& [set, says] : refused) {
        const std::string text = set, name = text.substr(0, text.find('=') + 1);
        for (const std::string& v : Split(text.substr(name.size()), '|')) {
            const std::string m = UsageMessage([&] { p.SetAssignment(name + v); });
            EXPECT_TRUE(Contains(m, says)) << name << v << ": " << m;
        }
    }
    // Never clamped: a refused value leaves every value as it was.
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(p.values()[i].value, before[i].value) << p.infos()[i].name;
        EXPECT_EQ(std::memcmp(p.values()[i].colour, before[i].colour, 4), 0);
    }
}

TEST(ToolParams, PointsAreFullResolutionPixelsAndPresetsRoundTripEveryValue) {
    ParamSet p = Defaults();
    const int i = p.Find("Crop Position");
    int32_t x, y;
    // Not set: the host's 40 % of the frame, in pixels of the downsampled frame.
    p.PointFixed(i, 1280, 720, 2, &x, &y);
    EXPECT_EQ(x, 256 << 16);
    EXPECT_EQ(y, 144 << 16);
    p.Set("Crop Position", "101,51.5");
    p.PointFixed(i, 1280, 720, 2, &x, &y);
    EXPECT_EQ(x, 0x328000); // 50.5 pixels of the half-size frame
    EXPECT_EQ(y, 0x19C000); // 25.75
    EXPECT_EQ(p.PointsOutside(1280, 720), "");
    // Anywhere a host could send: outside the frame too, with a note.
    p.Set("Crop Position", "1280,-10");
    p.PointFixed(i, 1280, 720, 1, &x, &y);
    EXPECT_EQ(x, 1280 << 16);
    EXPECT_EQ(y, -(10 << 16));
    EXPECT_TRUE(Contains(p.PointsOutside(1280, 720),
                         "\"Crop Position\" 1280,-10 lies outside the 1280x720 frame"));
    ParamSet a = Defaults();
    for (const char* set : {"Sep. Deviation=0.3", "Crop=on", "Crop Position=12.5,7",
                            "Key Out=FG minus KeyIn", "BG CC Color=#102030", "Separation Level=-7"})
        a.SetAssignment(set);
    const nlohmann::json j = nlohmann::json::parse(a.ToPreset().dump());
    EXPECT_EQ(j["parameters"]["Key Out"], "FG minus KeyIn");
    EXPECT_EQ(j["parameters"]["Crop"], true);
    ParamSet b = Defaults();
    b.ApplyPreset(j, "test preset");
    for (size_t i = 0; i < a.values().size(); ++i) {
        const ParamValue &va = a.values()[i], &vb = b.values()[i];
        EXPECT_TRUE(va.value == vb.value && !std::memcmp(va.colour, vb.colour, 4) &&
                    va.pointSet == vb.pointSet && va.x == vb.x && va.y == vb.y)
            << a.infos()[i].name;
    }
    // Snake_case names in a bare preset; a bad value names the file and the parameter.
    b.ApplyPreset(nlohmann::json{{"refl_suppress_red", 7}}, "preset");
    EXPECT_EQ(b.Value("Refl.Suppress Red").value, 7);
    std::string m = UsageMessage([&] {
        b.ApplyPreset(nlohmann::json{{"parameters", {{"Transp. Strength", 151}}}}, "preset \"p\"");
    });
    EXPECT_TRUE(Contains(m, "preset \"p\"") && Contains(m, "Transp. Strength")) << m;
    m = UsageMessage([&] { b.ApplyPreset(nlohmann::json{{"Separation Level", 1.5}}, "preset"); });
    EXPECT_TRUE(Contains(m, "Separation Level")) << m;
}

} // namespace
