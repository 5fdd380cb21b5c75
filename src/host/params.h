// The effect's parameters: their indices in the host's parameter array (index
// 0 is the layer the effect is applied to) and the values of the popups.
#pragma once

#include <cstdint>

#include "host/host_types.h"

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
    ParamCount = 41 // the input layer and the forty registered parameters
};

constexpr int32_t kRegisteredParamCount = 40;

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

// One row of the parameter table, as registered at parameter set-up. Numbers
// of fixed sliders and point defaults are 16.16 fixed point.
struct ParamRow {
    const char* name;
    PF_ParamType type;
    PF_ParamFlags flags;
    int32_t value;    // initial value (slider, fixed, checkbox, popup)
    int32_t validMin; // sliders
    int32_t validMax;
    int32_t sliderMin;
    int32_t sliderMax;
    int16_t precision;    // fixed sliders
    int16_t displayFlags; // fixed sliders
    PF_Pixel colour;      // colour value and default (alpha, red, green, blue)
    int16_t numChoices;   // popups
    const char* text;     // popup choices joined by '|', or the checkbox label
};

// The forty registered parameters, in order: row i is parameter index i + 1.
extern const ParamRow kParamTable[kRegisteredParamCount];

// Registers the forty parameters (command 4).
PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data);
