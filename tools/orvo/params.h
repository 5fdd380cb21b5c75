// The effect's parameters as the tool sees them: the definitions the plug-in
// registers at parameter set-up, the values of one run, and the text and JSON
// forms a user writes them in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace orvo {

// Parameter type codes, as registered with the host.
enum ParamType {
    kParamLayer = 0,
    kParamSlider = 1,
    kParamFixed = 2,
    kParamCheckbox = 4,
    kParamColour = 5,
    kParamPoint = 6,
    kParamPopup = 7,
};

// One parameter definition, read from the record the plug-in registered.
struct ParamInfo {
    int index = 0; // position in the host's parameter array (1..40)
    std::string name;
    int type = kParamLayer;
    int32_t flags = 0;
    // Slider and fixed slider (fixed: 16.16 values).
    int32_t validMin = 0, validMax = 0, sliderMin = 0, sliderMax = 0;
    int32_t dephault = 0; // slider, fixed slider, checkbox, popup
    int precision = 0, displayFlags = 0;
    // Colour default: alpha, red, green, blue.
    uint8_t colour[4] = {0, 0, 0, 0};
    // Point default: percentages of the frame in 16.16.
    int32_t xDephault = 0, yDephault = 0;
    bool restrictBounds = false;
    std::vector<std::string> choices; // popup
};

// The value of one parameter for a run. Points are kept in pixels of the
// full-resolution frame until the frame size and the downsample factor are known.
struct ParamValue {
    int32_t value = 0;                  // slider, fixed slider (16.16), checkbox, popup
    uint8_t colour[4] = {255, 0, 0, 0}; // alpha, red, green, blue
    double x = 0.0, y = 0.0;            // point, full-resolution pixels
    bool pointSet = false;              // false: the host's default (a share of the frame)
};

// Text of a 16.16 value with its trailing zeros removed ("75", "0.5").
std::string FormatFixed(int32_t v);
// round(v * 65536), halves away from zero; false when out of the 32-bit range.
bool ToFixed(double v, int32_t* out);

class ParamSet {
  public:
    // Defaults are the effect's own, except "Crop", which starts off in this tool.
    explicit ParamSet(std::vector<ParamInfo> infos);

    const std::vector<ParamInfo>& infos() const { return infos_; }
    const std::vector<ParamValue>& values() const { return values_; }

    // Position in infos() of the parameter named `name` (case-insensitive), or -1.
    int Find(const std::string& name) const;
    const ParamInfo& Info(const std::string& name) const; // throws a usage error when unknown
    const ParamValue& Value(const std::string& name) const;
    ParamValue& MutableValue(const std::string& name);

    // "Name=value" as given to --set; throws a usage error (exit 2) naming the
    // parameter and its valid range on an unknown name, bad or out-of-range value.
    void SetAssignment(const std::string& assignment);
    void Set(const std::string& name, const std::string& text);
    // A preset value: number, bool, string (as --set), [r,g,b] or [x,y].
    void SetJson(const std::string& name, const nlohmann::json& value);

    // Presets: {"orvo_preset": 1, "parameters": {name: value, ...}}.
    nlohmann::ordered_json ToPreset() const;
    void ApplyPreset(const nlohmann::json& preset, const std::string& fileName);

    // Point value in 16.16 pixels of the downsampled frame, checked against the
    // full-resolution frame (throws a usage error when outside it).
    void PointFixed(int i, int fullWidth, int fullHeight, int downsample, int32_t* x,
                    int32_t* y) const;

    // Readable description of the valid values ("an integer from 40 to 400").
    static std::string Range(const ParamInfo& p);
    // The text form of a value, as --set accepts it.
    std::string FormatValue(int i) const;

    // The table `orvo params` prints.
    std::string Listing() const;

  private:
    void SetParsed(int i, const std::string& text, const std::string& shown);
    std::vector<ParamInfo> infos_;
    std::vector<ParamValue> values_;
};

} // namespace orvo
