// The effect's parameters as the tool sees them: the definitions the plug-in
// registers at parameter set-up (read straight from its registration records),
// the values of one run, and the text and JSON forms a user writes them in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "harness/harness.h"

namespace orvo {

// One parameter definition: the record the plug-in passed to add_param.
using ParamInfo = harness::ParamInfo;

// The stable snake_case name of a parameter ("transp_strength" for "Transp.
// Strength"), from the effect's parameter table.
std::string SnakeName(const ParamInfo& p);

// The value of one parameter for a run. Points are kept in pixels of the
// full-resolution frame until the frame size and the downsample factor are known.
struct ParamValue {
    int32_t value = 0;                  // slider, fixed slider (16.16), checkbox, popup
    uint8_t colour[4] = {255, 0, 0, 0}; // alpha, red, green, blue
    double x = 0.0, y = 0.0;            // point, full-resolution pixels
    bool pointSet = false;              // false: the host's default (a share of the frame)
    bool given = false;                 // set by the user (--set, --show or a preset)
};

// Text of a 16.16 value with its trailing zeros removed ("75", "0.5").
std::string FormatFixed(int32_t v);
// round(v * 65536), halves away from zero; false when out of the 32-bit range.
bool ToFixed(double v, int32_t* out);

// The closest of `candidates` to `word` (case-insensitive edit distance), or
// "" when none is close enough to be a plausible typo.
std::string Closest(const std::string& word, const std::vector<std::string>& candidates);
// " (did you mean \"x\"?)" for Closest(), or "".
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

class ParamSet {
  public:
    ParamSet() = default;
    // Defaults are the effect's own, except two this tool changes for batch
    // use: "Crop" starts off and "Show" starts at the composite.
    explicit ParamSet(std::vector<ParamInfo> infos);

    const std::vector<ParamInfo>& infos() const { return infos_; }
    const std::vector<ParamValue>& values() const { return values_; }

    // Position in infos() of the parameter with this display or snake_case
    // name (case-insensitive), or -1.
    int Find(const std::string& name) const;
    // Position of the parameter registered at host index `index`, or -1.
    int FindIndex(int index) const;
    const ParamInfo& Info(const std::string& name) const; // throws a usage error when unknown
    const ParamValue& Value(const std::string& name) const;
    ParamValue& MutableValue(const std::string& name);
    ParamValue& MutableAt(int i) { return values_[size_t(i)]; }

    // "Name=value" as given to --set; throws a usage error (exit 2) naming the
    // parameter and its valid range on an unknown name, bad or out-of-range value.
    void SetAssignment(const std::string& assignment);
    void Set(const std::string& name, const std::string& text);
    // A preset value: number, bool, string (as --set), [r,g,b] or [x,y].
    void SetJson(const std::string& name, const nlohmann::json& value);

    // Presets: {"orvo_preset": 1, "parameters": {name: value, ...}}.
    nlohmann::ordered_json ToPreset() const;
    void ApplyPreset(const nlohmann::json& preset, const std::string& fileName);

    // Point value in 16.16 pixels of the downsampled frame. A point outside the
    // frame is sent as it is (the host sends such points too); only a point
    // beyond what 16.16 can hold is refused (usage error).
    void PointFixed(int i, int fullWidth, int fullHeight, int downsample, int32_t* x,
                    int32_t* y) const;
    // "" or a one-line note that a point set by the user lies outside the frame.
    std::string PointsOutside(int fullWidth, int fullHeight) const;

    // Readable description of the valid values ("an integer from 40 to 400").
    static std::string Range(const ParamInfo& p);
    // The text form of a value, as --set accepts it.
    std::string FormatValue(int i) const;

    // The table `orvo params` prints.
    std::string Listing() const;

  private:
    void SetParsed(int i, const std::string& text, const std::string& shown);
    std::vector<std::string> AllNames() const;
    std::vector<ParamInfo> infos_;
    std::vector<ParamValue> values_;
};

} // namespace orvo
