// The effect's parameters: one table row per parameter carries everything
// about it (index, display name, stable snake_case key, type, default, valid
// and slider range, choices, and how the host value becomes the snapshot
// value). Registration, the render's conversion, the tool and the tests all
// read these rows. Standard library only, so tools can include it as well
// (CMake target orvo_params).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "host/host_types.h"
#include "keyer/keyer_params.h"

enum ParamIndex : int32_t {
    ParamInput = 0, // the foreground layer, supplied by the host
    ParamBackground = 1,
    ParamKeyIn = 2,
    ParamKeyOut = 3,
    ParamChromaColor = 4,
    ParamShow = 5,
    ParamCrop = 6,
    ParamCropPosition = 7,
    ParamCropSize = 8,
    ParamSeparationLevel = 9,
    ParamSepDeviation = 10,
    ParamSepRedShift = 11,
    ParamSepGreenShift = 12,
    ParamSepBlueShift = 13,
    ParamTransparencyThreshold = 14,
    ParamTranspStrength = 15,
    ParamTranspEdge = 16,
    ParamTranspRedShift = 17,
    ParamTranspGreenShift = 18,
    ParamTranspBlueShift = 19,
    ParamShadowChroma = 20,
    ParamShadowBrightness = 21,
    ParamSmoothBgShadow = 22,
    ParamFgShadowColor = 23,
    ParamLightChroma = 24,
    ParamLightBrightness = 25,
    ParamFgLightColor = 26,
    ParamReflectionChroma = 27,
    ParamReflBrightness = 28,
    ParamReflStrength = 29,
    ParamReflSuppressRed = 30,
    ParamReflSuppressGreen = 31,
    ParamReflSuppressBlue = 32,
    ParamBgColorCorrection = 33,
    ParamBgCcStrength = 34,
    ParamBgCcBrightness = 35,
    ParamBgCcColor = 36,
    ParamFgColorCorrection = 37,
    ParamFgCcStrength = 38,
    ParamFgCcBrightness = 39,
    ParamFgCcColor = 40,
};

// The "Show" popup, 1-based as the host delivers it.
enum ShowMode : int32_t {
    ShowForeground = 1,
    ShowBackground = 2,
    ShowSepFgOnBg = 3,
    ShowSepBlackOnGray = 4,
    ShowSepBlackOnBg = 5,
    ShowSepFgOnBlack = 6,
    ShowTransparency = 7,
    ShowShadows = 8,
    ShowLights = 9,
    ShowCorrectedBg = 10,
    ShowComposite = 11
};

// The "Key Out" popup, 1-based.
enum KeyOutChoice : int32_t {
    KeyOutNone = 1,
    KeyOutKeyInPlusFg = 2,
    KeyOutKeyInMinusFg = 3,
    KeyOutFgMinusKeyIn = 4
};

// The "BG Color Correction" and "FG Color Correction" popups, 1-based.
enum CorrectionChoice : int32_t {
    CorrectionNone = 1,
    CorrectionBrightness = 2,
    CorrectionDesaturate = 3,
    CorrectionSaturate = 4,
    CorrectionHue = 5,
    CorrectionBlend = 6
};

// How a host value becomes a snapshot value.
enum class ParamConversion : uint8_t {
    None,       // not in the snapshot (layers, key colour, view, crop, smoothing)
    PopupIndex, // integer = popup value - 1
    Integer,    // number = slider value x scale
    Fixed,      // number = 16.16 value (fraction x 1/65535) x scale
    Shift,      // colour[channel] = value x scale + defaults' colour[channel], clamped to 0..upper
    Colour,     // colour = red, green, blue bytes
    Edge,       // number = value at the frame's resolution, at most 10
};

// One parameter. Numbers of fixed sliders and point defaults are 16.16.
struct ParamRow {
    ParamIndex index;
    const char* name; // as registered with the host and stored in projects
    const char* key;  // stable snake_case name for tools and presets
    PF_ParamType type;
    PF_ParamFlags flags;
    int32_t value;    // initial value (slider, fixed, checkbox, popup, point percent)
    int32_t validMin; // sliders
    int32_t validMax;
    int32_t sliderMin;
    int32_t sliderMax;
    int16_t precision;    // fixed sliders
    int16_t displayFlags; // fixed sliders
    PF_Pixel colour;      // colour value and default (alpha, red, green, blue)
    int16_t numChoices;   // popups
    const char* text;     // popup choices joined by '|', or the checkbox label

    ParamConversion conversion;
    double KeyerParams::*number;       // Integer, Fixed, Edge
    double (KeyerParams::*colours)[3]; // Shift, Colour
    int32_t KeyerParams::*integer;     // PopupIndex
    int channel;                       // Shift: 0 red, 1 green, 2 blue
    double scale;                      // Integer, Fixed, Shift
    double upper;                      // Shift
    // When set, the value counts only while this mode is not 0; otherwise a
    // number becomes 0 and a colour stays as it was.
    int32_t KeyerParams::*gate;
};

namespace param_rows {

constexpr int32_t Fx(int32_t units) {
    return units * 65536;
}
constexpr PF_Pixel kNoColour{0, 0, 0, 0};

// Parameter flags as registered: a line above the parameter, twirled up.
constexpr PF_ParamFlags kNoFlags = 0;
constexpr PF_ParamFlags kReserved1 = PF_ParamFlag_RESERVED1;
constexpr PF_ParamFlags kLine = PF_ParamFlag_RESERVED3;
constexpr PF_ParamFlags kTwirledUp = PF_ParamFlag_START_COLLAPSED;
constexpr PF_ParamFlags kLineTwirledUp = kLine | kTwirledUp;
constexpr PF_Pixel Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return PF_Pixel{255, red, green, blue};
}

inline constexpr char kKeyOutChoices[] = "None|KeyIn plus FG|KeyIn minus FG|FG minus KeyIn";
inline constexpr char kShowChoices[] =
    "Foreground|Background|Separ. FG on BG|Separ. Black on Gray|Separ. Black on BG|"
    "Separ. FG on Black|Transparency|Shadows|Lights|Color Corrected BG|Composite";
inline constexpr char kCorrectionChoices[] = "None|Brightness|Desaturate|Saturate|Hue|Blend";

// Rows by kind; fields a kind does not use stay zero.
constexpr ParamRow Row(ParamIndex index, const char* name, const char* key, PF_ParamType type,
                       PF_ParamFlags flags) {
    return ParamRow{index,   name,    key,     type, flags,     0,   0,       0,
                    0,       0,       0,       0,    kNoColour, 0,   nullptr, ParamConversion::None,
                    nullptr, nullptr, nullptr, 0,    0.0,       0.0, nullptr};
}
constexpr ParamRow Layer(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags) {
    return Row(index, name, key, PF_Param_LAYER, flags);
}
// Number of choices in a list joined by '|'.
constexpr int16_t ChoiceCount(const char* choices) {
    int16_t count = 1;
    for (const char* c = choices; *c; ++c)
        count = int16_t(count + (*c == '|'));
    return count;
}
constexpr ParamRow Popup(ParamIndex index, const char* name, const char* key, const char* choices,
                         int32_t KeyerParams::*mode = nullptr) {
    ParamRow r = Row(index, name, key, PF_Param_POPUP, kLine);
    r.value = 1;
    r.numChoices = ChoiceCount(choices);
    r.text = choices;
    if (mode) {
        r.conversion = ParamConversion::PopupIndex;
        r.integer = mode;
    }
    return r;
}
constexpr ParamRow Colour(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags,
                          PF_Pixel colour, double (KeyerParams::*field)[3] = nullptr,
                          int32_t KeyerParams::*gate = nullptr) {
    ParamRow r = Row(index, name, key, PF_Param_COLOR, flags);
    r.colour = colour;
    if (field) {
        r.conversion = ParamConversion::Colour;
        r.colours = field;
        r.gate = gate;
    }
    return r;
}
constexpr ParamRow Checkbox(ParamIndex index, const char* name, const char* key,
                            PF_ParamFlags flags, int32_t on) {
    ParamRow r = Row(index, name, key, PF_Param_CHECKBOX, flags);
    r.value = on;
    r.text = name;
    return r;
}
constexpr ParamRow Point(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags,
                         int32_t percent) {
    ParamRow r = Row(index, name, key, PF_Param_POINT, flags);
    r.value = Fx(percent);
    return r;
}
constexpr ParamRow Slider(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags,
                          int32_t value, int32_t validMin, int32_t validMax, int32_t sliderMin,
                          int32_t sliderMax) {
    ParamRow r = Row(index, name, key, PF_Param_SLIDER, flags);
    r.value = value;
    r.validMin = validMin;
    r.validMax = validMax;
    r.sliderMin = sliderMin;
    r.sliderMax = sliderMax;
    return r;
}
// A slider read as a number: value x scale (0 while the gate's mode is 0).
constexpr ParamRow Number(ParamRow r, double KeyerParams::*field, double scale,
                          int32_t KeyerParams::*gate = nullptr) {
    r.conversion = ParamConversion::Integer;
    r.number = field;
    r.scale = scale;
    r.gate = gate;
    return r;
}
// One channel of a colour shifted from the backing analysis' default.
constexpr ParamRow Shift(ParamIndex index, const char* name, const char* key,
                         double (KeyerParams::*field)[3], int channel, double scale, double upper) {
    ParamRow r = Slider(index, name, key, kTwirledUp, 0, -255, 255, -127, 127);
    r.conversion = ParamConversion::Shift;
    r.colours = field;
    r.channel = channel;
    r.scale = scale;
    r.upper = upper;
    return r;
}
constexpr ParamRow Fixed(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags,
                         int32_t value, int32_t validMax, int32_t sliderMax, int16_t precision,
                         double KeyerParams::*field) {
    ParamRow r = Row(index, name, key, PF_Param_FIX_SLIDER, flags);
    r.value = Fx(value);
    r.validMax = Fx(validMax);
    r.sliderMax = Fx(sliderMax);
    r.precision = precision;
    r.displayFlags = PF_ValueDisplayFlag_PERCENT;
    r.conversion = ParamConversion::Fixed;
    r.number = field;
    r.scale = 0.01;
    return r;
}
constexpr ParamRow Percent(ParamIndex index, const char* name, const char* key, PF_ParamFlags flags,
                           int32_t value, double KeyerParams::*field) {
    return Fixed(index, name, key, flags, value, 100, 100, 2, field);
}
constexpr ParamRow Edge(ParamRow r, double KeyerParams::*field) {
    r.conversion = ParamConversion::Edge;
    r.number = field;
    return r;
}

using P = KeyerParams;
constexpr double kByte = 255.0;
constexpr double kUnit = 1.0;

} // namespace param_rows

// The forty registered parameters, in registration order: row i is parameter
// index i + 1. Names, types, ranges, defaults and order are what stored
// projects rely on.
inline constexpr ParamRow kParamTable[] = {
    // clang-format off
    param_rows::Layer(ParamBackground, "Background", "background", param_rows::kNoFlags),
    param_rows::Layer(ParamKeyIn, "Key In", "key_in", param_rows::kReserved1),
    param_rows::Popup(ParamKeyOut, "Key Out", "key_out", param_rows::kKeyOutChoices),
    param_rows::Colour(ParamChromaColor, "Chroma Color", "chroma_color", param_rows::kLine, param_rows::Rgb(86, 112, 200)),
    param_rows::Popup(ParamShow, "Show", "show", param_rows::kShowChoices),
    param_rows::Checkbox(ParamCrop, "Crop", "crop", param_rows::kLineTwirledUp, 1),
    param_rows::Point(ParamCropPosition, "Crop Position", "crop_position", param_rows::kLine, 40),
    param_rows::Slider(ParamCropSize, "Crop Size (pixel)", "crop_size", param_rows::kTwirledUp, 200, 40, 400, 40, 200),
    param_rows::Number(param_rows::Slider(ParamSeparationLevel, "Separation Level", "separation_level", param_rows::kLineTwirledUp, 0, -50, 50, -50, 50),
                       &param_rows::P::separationLevel, 1.0),
    param_rows::Percent(ParamSepDeviation, "Sep. Deviation", "sep_deviation", param_rows::kTwirledUp, 0, &param_rows::P::separationDeviation),
    param_rows::Shift(ParamSepRedShift, "Sep. Red Shift", "sep_red_shift", &param_rows::P::separationColor, 0, 1.0, param_rows::kByte),
    param_rows::Shift(ParamSepGreenShift, "Sep. Green Shift", "sep_green_shift", &param_rows::P::separationColor, 1, 1.0, param_rows::kByte),
    param_rows::Shift(ParamSepBlueShift, "Sep. Blue Shift", "sep_blue_shift", &param_rows::P::separationColor, 2, 1.0, param_rows::kByte),
    param_rows::Fixed(ParamTransparencyThreshold, "Transparency Threshold", "transparency_threshold", param_rows::kLineTwirledUp, 75, 100, 100, 0,
                      &param_rows::P::transparencyThreshold),
    param_rows::Fixed(ParamTranspStrength, "Transp. Strength", "transp_strength", param_rows::kTwirledUp, 100, 150, 100, 2,
                      &param_rows::P::transparencyStrength),
    param_rows::Edge(param_rows::Slider(ParamTranspEdge, "Transp. Edge (pixel)", "transp_edge", param_rows::kTwirledUp, 0, 0, 10, 0, 10),
                     &param_rows::P::transparencyEdge),
    param_rows::Shift(ParamTranspRedShift, "Transp. Red Shift", "transp_red_shift", &param_rows::P::transparencyColor, 0, 1.0 / 255, param_rows::kUnit),
    param_rows::Shift(ParamTranspGreenShift, "Transp. Green Shift", "transp_green_shift", &param_rows::P::transparencyColor, 1, 1.0 / 255, param_rows::kUnit),
    param_rows::Shift(ParamTranspBlueShift, "Transp. Blue Shift", "transp_blue_shift", &param_rows::P::transparencyColor, 2, 1.0 / 255, param_rows::kUnit),
    param_rows::Percent(ParamShadowChroma, "Shadow Chroma", "shadow_chroma", param_rows::kTwirledUp, 80, &param_rows::P::shadowChroma),
    param_rows::Percent(ParamShadowBrightness, "Shadow Brightness", "shadow_brightness", param_rows::kTwirledUp, 80, &param_rows::P::shadowBrightness),
    param_rows::Checkbox(ParamSmoothBgShadow, "Smooth BG Shadow", "smooth_bg_shadow", param_rows::kLineTwirledUp, 0),
    param_rows::Colour(ParamFgShadowColor, "FG Shadow Color", "fg_shadow_color", param_rows::kNoFlags, param_rows::Rgb(82, 82, 93), &param_rows::P::shadowColor),
    param_rows::Percent(ParamLightChroma, "Light Chroma", "light_chroma", param_rows::kLineTwirledUp, 100, &param_rows::P::lightChroma),
    param_rows::Percent(ParamLightBrightness, "Light Brightness", "light_brightness", param_rows::kTwirledUp, 100, &param_rows::P::lightBrightness),
    param_rows::Colour(ParamFgLightColor, "FG Ligth Color", "fg_light_color", param_rows::kNoFlags, param_rows::Rgb(5, 5, 11), &param_rows::P::lightColor),
    param_rows::Percent(ParamReflectionChroma, "Reflection Chroma", "reflection_chroma", param_rows::kLineTwirledUp, 75, &param_rows::P::reflectionChroma),
    param_rows::Percent(ParamReflBrightness, "Refl. Brightness", "refl_brightness", param_rows::kTwirledUp, 35, &param_rows::P::reflectionBrightness),
    param_rows::Percent(ParamReflStrength, "Refl. Strength", "refl_strength", param_rows::kTwirledUp, 100, &param_rows::P::reflectionStrength),
    param_rows::Shift(ParamReflSuppressRed, "Refl.Suppress Red", "refl_suppress_red", &param_rows::P::reflectionColor, 0, 1.0, param_rows::kByte),
    param_rows::Shift(ParamReflSuppressGreen, "Refl.Suppress Green", "refl_suppress_green", &param_rows::P::reflectionColor, 1, 1.0, param_rows::kByte),
    param_rows::Shift(ParamReflSuppressBlue, "Refl.Suppress Blue", "refl_suppress_blue", &param_rows::P::reflectionColor, 2, 1.0, param_rows::kByte),
    param_rows::Popup(ParamBgColorCorrection, "BG Color Correction", "bg_color_correction", param_rows::kCorrectionChoices,
                      &param_rows::P::bgCorrectionMode),
    param_rows::Number(param_rows::Slider(ParamBgCcStrength, "BG CC Strength", "bg_cc_strength", param_rows::kTwirledUp, 0, 0, 100, 0, 100),
                       &param_rows::P::bgCorrectionStrength, 0.01, &param_rows::P::bgCorrectionMode),
    param_rows::Number(param_rows::Slider(ParamBgCcBrightness, "BG CC Brightness", "bg_cc_brightness", param_rows::kTwirledUp, 0, -100, 100, -100, 100),
                       &param_rows::P::bgCorrectionBrightness, 0.01, &param_rows::P::bgCorrectionMode),
    param_rows::Colour(ParamBgCcColor, "BG CC Color", "bg_cc_color", param_rows::kNoFlags, param_rows::Rgb(0, 0, 0), &param_rows::P::bgCorrectionColor,
                       &param_rows::P::bgCorrectionMode),
    param_rows::Popup(ParamFgColorCorrection, "FG Color Correction", "fg_color_correction", param_rows::kCorrectionChoices,
                      &param_rows::P::fgCorrectionMode),
    param_rows::Number(param_rows::Slider(ParamFgCcStrength, "FG CC Strength", "fg_cc_strength", param_rows::kTwirledUp, 0, 0, 100, 0, 100),
                       &param_rows::P::fgCorrectionStrength, 0.01, &param_rows::P::fgCorrectionMode),
    param_rows::Number(param_rows::Slider(ParamFgCcBrightness, "FG CC Brightness", "fg_cc_brightness", param_rows::kTwirledUp, 0, -100, 100, -100, 100),
                       &param_rows::P::fgCorrectionBrightness, 0.01, &param_rows::P::fgCorrectionMode),
    param_rows::Colour(ParamFgCcColor, "FG CC Color", "fg_cc_color", param_rows::kNoFlags, param_rows::Rgb(0, 0, 0), &param_rows::P::fgCorrectionColor,
                       &param_rows::P::fgCorrectionMode),
    // clang-format on
};

// Registered parameters, and the host's whole array (the input layer first).
inline constexpr int32_t kRegisteredParamCount = int32_t(std::size(kParamTable));
inline constexpr int32_t kParamCount = kRegisteredParamCount + 1;

// The row of parameter `index` (1..kRegisteredParamCount), or null.
constexpr const ParamRow* FindParamRow(int32_t index) {
    return index >= 1 && index <= kRegisteredParamCount ? &kParamTable[index - 1] : nullptr;
}

// The row whose snake_case key is `key`, or null.
constexpr const ParamRow* FindParamRowByKey(std::string_view key) {
    for (const ParamRow& row : kParamTable)
        if (key == row.key) return &row;
    return nullptr;
}

namespace param_rows {
// Row i is index i + 1; a gated row comes after the popup that sets its gate.
constexpr bool RowsInOrder() {
    for (int32_t i = 0; i < kRegisteredParamCount; ++i) {
        const ParamRow& row = kParamTable[i];
        if (row.index != i + 1) return false;
        if (row.gate == nullptr) continue;
        bool gateSetEarlier = false;
        for (int32_t j = 0; j < i; ++j)
            gateSetEarlier = gateSetEarlier || kParamTable[j].integer == row.gate;
        if (!gateSetEarlier) return false;
    }
    return true;
}
} // namespace param_rows
static_assert(param_rows::RowsInOrder(), "parameter rows out of order");

// Registers the parameters (command 4).
PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data);
