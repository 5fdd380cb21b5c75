#include "host/params.h"

#include <cstring>

namespace {

constexpr int32_t Fx(int32_t units) {
    return units * 65536;
}

constexpr PF_Pixel kNoColour{0, 0, 0, 0};
constexpr PF_Pixel Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return PF_Pixel{255, red, green, blue};
}

const char kKeyOutChoices[] = "None|KeyIn plus FG|KeyIn minus FG|FG minus KeyIn";
const char kShowChoices[] = "Foreground|Background|Separ. FG on BG|Separ. Black on Gray|"
                            "Separ. Black on BG|Separ. FG on Black|Transparency|Shadows|Lights|"
                            "Color Corrected BG|Composite";
const char kCorrectionChoices[] = "None|Brightness|Desaturate|Saturate|Hue|Blend";

// Rows by kind; unused fields stay zero.
constexpr ParamRow Layer(const char* name, PF_ParamFlags flags) {
    return ParamRow{name, PF_Param_LAYER, flags, 0, 0, 0, 0, 0, 0, 0, kNoColour, 0, nullptr};
}
constexpr ParamRow Popup(const char* name, int16_t count, const char* choices) {
    return ParamRow{name, PF_Param_POPUP, 16, 1, 0, 0, 0, 0, 0, 0, kNoColour, count, choices};
}
constexpr ParamRow Colour(const char* name, PF_ParamFlags flags, PF_Pixel colour) {
    return ParamRow{name, PF_Param_COLOR, flags, 0, 0, 0, 0, 0, 0, 0, colour, 0, nullptr};
}
constexpr ParamRow Checkbox(const char* name, PF_ParamFlags flags, int32_t on) {
    return ParamRow{name, PF_Param_CHECKBOX, flags, on, 0, 0, 0, 0, 0, 0, kNoColour, 0, name};
}
constexpr ParamRow Point(const char* name, PF_ParamFlags flags, int32_t percent) {
    return ParamRow{name, PF_Param_POINT, flags, Fx(percent), 0, 0, 0, 0, 0,
                    0,    kNoColour,      0,     nullptr};
}
constexpr ParamRow Slider(const char* name, PF_ParamFlags flags, int32_t value, int32_t validMin,
                          int32_t validMax, int32_t sliderMin, int32_t sliderMax) {
    return ParamRow{name,      PF_Param_SLIDER, flags, value, validMin,  validMax,
                    sliderMin, sliderMax,       0,     0,     kNoColour, 0,
                    nullptr};
}
constexpr ParamRow Shift(const char* name) {
    return Slider(name, 32, 0, -255, 255, -127, 127);
}
constexpr ParamRow Fixed(const char* name, PF_ParamFlags flags, int32_t value, int32_t validMax,
                         int32_t sliderMax, int16_t precision) {
    return ParamRow{name,      PF_Param_FIX_SLIDER,
                    flags,     Fx(value),
                    0,         Fx(validMax),
                    0,         Fx(sliderMax),
                    precision, PF_ValueDisplayFlag_PERCENT,
                    kNoColour, 0,
                    nullptr};
}
constexpr ParamRow Percent(const char* name, PF_ParamFlags flags, int32_t value) {
    return Fixed(name, flags, value, 100, 100, 2);
}

} // namespace

const ParamRow kParamTable[kRegisteredParamCount] = {
    Layer("Background", 0),
    Layer("Key In", 1),
    Popup("Key Out", 4, kKeyOutChoices),
    Colour("Chroma Color", 16, Rgb(86, 112, 200)),
    Popup("Show", 11, kShowChoices),
    Checkbox("Crop", 48, 1),
    Point("Crop Position", 16, 40),
    Slider("Crop Size (pixel)", 32, 200, 40, 400, 40, 200),
    Slider("Separation Level", 48, 0, -50, 50, -50, 50),
    Percent("Sep. Deviation", 32, 0),
    Shift("Sep. Red Shift"),
    Shift("Sep. Green Shift"),
    Shift("Sep. Blue Shift"),
    Fixed("Transparency Threshold", 48, 75, 100, 100, 0),
    Fixed("Transp. Strength", 32, 100, 150, 100, 2),
    Slider("Transp. Edge (pixel)", 32, 0, 0, 10, 0, 10),
    Shift("Transp. Red Shift"),
    Shift("Transp. Green Shift"),
    Shift("Transp. Blue Shift"),
    Percent("Shadow Chroma", 32, 80),
    Percent("Shadow Brightness", 32, 80),
    Checkbox("Smooth BG Shadow", 48, 0),
    Colour("FG Shadow Color", 0, Rgb(82, 82, 93)),
    Percent("Light Chroma", 48, 100),
    Percent("Light Brightness", 32, 100),
    Colour("FG Ligth Color", 0, Rgb(5, 5, 11)),
    Percent("Reflection Chroma", 48, 75),
    Percent("Refl. Brightness", 32, 35),
    Percent("Refl. Strength", 32, 100),
    Shift("Refl.Suppress Red"),
    Shift("Refl.Suppress Green"),
    Shift("Refl.Suppress Blue"),
    Popup("BG Color Correction", 6, kCorrectionChoices),
    Slider("BG CC Strength", 32, 0, 0, 100, 0, 100),
    Slider("BG CC Brightness", 32, 0, -100, 100, -100, 100),
    Colour("BG CC Color", 0, Rgb(0, 0, 0)),
    Popup("FG Color Correction", 6, kCorrectionChoices),
    Slider("FG CC Strength", 32, 0, 0, 100, 0, 100),
    Slider("FG CC Brightness", 32, 0, -100, 100, -100, 100),
    Colour("FG CC Color", 0, Rgb(0, 0, 0)),
};

namespace {

// Fills the value fields of one row into a cleared record.
void FillValue(const ParamRow& row, PF_ParamDef& def) {
    switch (row.type) {
    case PF_Param_LAYER:
        def.u.ld.dephault = 0; // no layer
        break;
    case PF_Param_SLIDER:
        def.u.sd.value = row.value;
        def.u.sd.valid_min = row.validMin;
        def.u.sd.valid_max = row.validMax;
        def.u.sd.slider_min = row.sliderMin;
        def.u.sd.slider_max = row.sliderMax;
        def.u.sd.dephault = row.value;
        break;
    case PF_Param_FIX_SLIDER:
        def.u.fd.value = row.value;
        def.u.fd.valid_min = row.validMin;
        def.u.fd.valid_max = row.validMax;
        def.u.fd.slider_min = row.sliderMin;
        def.u.fd.slider_max = row.sliderMax;
        def.u.fd.dephault = row.value;
        def.u.fd.precision = row.precision;
        def.u.fd.display_flags = row.displayFlags;
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.value = row.value;
        def.u.bd.dephault = PF_Boolean(row.value);
        def.u.bd.u.nameptr = row.text;
        break;
    case PF_Param_COLOR:
        def.u.cd.value = row.colour;
        def.u.cd.dephault = row.colour;
        break;
    case PF_Param_POINT:
        def.u.td.x_value = row.value;
        def.u.td.y_value = row.value;
        def.u.td.restrict_bounds = 1;
        def.u.td.x_dephault = row.value;
        def.u.td.y_dephault = row.value;
        break;
    case PF_Param_POPUP:
        def.u.pd.value = row.value;
        def.u.pd.num_choices = row.numChoices;
        def.u.pd.dephault = A_short(row.value);
        def.u.pd.u.namesptr = row.text;
        break;
    default:
        break;
    }
}

} // namespace

PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data) {
    out_data->num_params = in_data->num_params;
    PF_ParamDef def;
    for (const ParamRow& row : kParamTable) {
        std::memset(&def, 0, sizeof def);
        in_data->utils->ansi.strcpy(def.name, row.name);
        def.param_type = row.type;
        def.flags = row.flags;
        FillValue(row, def);
        PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (err != PF_Err_NONE) return err;
        ++out_data->num_params;
    }
    return PF_Err_NONE;
}
