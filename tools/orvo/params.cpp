#include "params.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <nlohmann/json.hpp>

#include "errors.h"

namespace orvo {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitComma(const std::string& s) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == ',') {
            parts.push_back(Trim(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(Trim(cur));
    return parts;
}

// Whole-string integer; false on anything else (including "5.0" and overflow).
bool ParseInt(const std::string& text, long long* out) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0') return false;
    *out = v;
    return true;
}

// Whole-string finite decimal number ("12", "-0.5", "1e2"); no hex, inf or nan.
bool ParseDecimal(const std::string& text, double* out) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    for (char c : s)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E'))
            return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

std::string TypeName(int type) {
    switch (type) {
    case kParamLayer:
        return "layer";
    case kParamSlider:
        return "slider";
    case kParamFixed:
        return "decimal";
    case kParamCheckbox:
        return "checkbox";
    case kParamColour:
        return "colour";
    case kParamPoint:
        return "point";
    case kParamPopup:
        return "popup";
    }
    return "type " + std::to_string(type);
}

std::string ColourText(const uint8_t argb[4]) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d,%d,%d", argb[1], argb[2], argb[3]);
    return buf;
}

std::string NumberText(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

[[noreturn]] void Refuse(const ParamInfo& p, const std::string& shown, const std::string& why) {
    std::string msg = "bad value " + shown + " for \"" + p.name + "\"";
    if (!why.empty()) msg += " (" + why + ")";
    msg += ": \"" + p.name + "\" takes " + ParamSet::Range(p);
    throw UsageError(msg);
}

} // namespace

std::string FormatFixed(int32_t v) {
    return NumberText(double(v) / 65536.0);
}

bool ToFixed(double v, int32_t* out) {
    double r = std::round(v * 65536.0); // std::round: halves away from zero
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return false;
    *out = int32_t(r);
    return true;
}

ParamSet::ParamSet(std::vector<ParamInfo> infos) : infos_(std::move(infos)) {
    values_.resize(infos_.size());
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamInfo& p = infos_[i];
        ParamValue& v = values_[i];
        switch (p.type) {
        case kParamColour:
            for (int k = 0; k < 4; ++k)
                v.colour[k] = p.colour[k];
            break;
        case kParamPoint:
            v.pointSet = false;
            break;
        default:
            v.value = p.dephault;
            break;
        }
        // A batch user wants the whole frame keyed: the crop starts off here.
        if (p.type == kParamCheckbox && Lower(p.name) == "crop") v.value = 0;
    }
}

int ParamSet::Find(const std::string& name) const {
    std::string key = Lower(Trim(name));
    for (size_t i = 0; i < infos_.size(); ++i)
        if (Lower(infos_[i].name) == key) return int(i);
    return -1;
}

const ParamInfo& ParamSet::Info(const std::string& name) const {
    int i = Find(name);
    if (i < 0) throw UsageError("unknown parameter \"" + name + "\" (`orvo params` lists them)");
    return infos_[size_t(i)];
}

const ParamValue& ParamSet::Value(const std::string& name) const {
    Info(name);
    return values_[size_t(Find(name))];
}

ParamValue& ParamSet::MutableValue(const std::string& name) {
    Info(name);
    return values_[size_t(Find(name))];
}

std::string ParamSet::Range(const ParamInfo& p) {
    switch (p.type) {
    case kParamLayer:
        return "a layer, given with --bg or --key-in, not --set";
    case kParamSlider:
        return "an integer from " + std::to_string(p.validMin) + " to " +
               std::to_string(p.validMax);
    case kParamFixed:
        return "a number from " + FormatFixed(p.validMin) + " to " + FormatFixed(p.validMax);
    case kParamCheckbox:
        return "on, off, 1, 0, true or false";
    case kParamColour:
        return "R,G,B with each 0 to 255, or #RRGGBB";
    case kParamPoint:
        return "x,y in pixels of the full-resolution frame, inside the frame";
    case kParamPopup: {
        std::string s = "a number from 1 to " + std::to_string(p.choices.size()) + " or one of ";
        for (size_t k = 0; k < p.choices.size(); ++k) {
            if (k) s += ", ";
            s += "\"" + p.choices[k] + "\"";
        }
        return s;
    }
    }
    return "no value (unsupported parameter type)";
}

void ParamSet::SetAssignment(const std::string& assignment) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos)
        throw UsageError("--set \"" + assignment + "\": expected \"Parameter Name=value\"");
    Set(assignment.substr(0, eq), assignment.substr(eq + 1));
}

void ParamSet::Set(const std::string& name, const std::string& text) {
    int i = Find(name);
    if (i < 0)
        throw UsageError("unknown parameter \"" + Trim(name) +
                         "\" (`orvo params` lists the parameter names)");
    SetParsed(i, text, "\"" + text + "\"");
}

void ParamSet::SetParsed(int i, const std::string& text, const std::string& shown) {
    const ParamInfo& p = infos_[size_t(i)];
    ParamValue& v = values_[size_t(i)];
    std::string t = Trim(text);
    switch (p.type) {
    case kParamLayer:
        Refuse(p, shown, "");
    case kParamSlider: {
        long long n;
        if (!ParseInt(t, &n)) Refuse(p, shown, "not an integer");
        if (n < p.validMin || n > p.validMax) Refuse(p, shown, "out of range");
        v.value = int32_t(n);
        return;
    }
    case kParamFixed: {
        double d;
        int32_t f;
        if (!ParseDecimal(t, &d)) Refuse(p, shown, "not a number");
        if (!ToFixed(d, &f) || f < p.validMin || f > p.validMax) Refuse(p, shown, "out of range");
        v.value = f;
        return;
    }
    case kParamCheckbox: {
        std::string l = Lower(t);
        if (l == "on" || l == "1" || l == "true")
            v.value = 1;
        else if (l == "off" || l == "0" || l == "false")
            v.value = 0;
        else
            Refuse(p, shown, "");
        return;
    }
    case kParamColour: {
        uint8_t rgb[3];
        if (!t.empty() && t[0] == '#') {
            if (t.size() != 7) Refuse(p, shown, "malformed");
            for (int k = 0; k < 3; ++k) {
                std::string hex = t.substr(1 + 2 * k, 2);
                if (!std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                    !std::isxdigit(static_cast<unsigned char>(hex[1])))
                    Refuse(p, shown, "malformed");
                rgb[k] = uint8_t(std::strtol(hex.c_str(), nullptr, 16));
            }
        } else {
            std::vector<std::string> parts = SplitComma(t);
            if (parts.size() != 3) Refuse(p, shown, "malformed");
            for (int k = 0; k < 3; ++k) {
                long long n;
                if (!ParseInt(parts[size_t(k)], &n)) Refuse(p, shown, "malformed");
                if (n < 0 || n > 255) Refuse(p, shown, "out of range");
                rgb[k] = uint8_t(n);
            }
        }
        v.colour[0] = 255;
        v.colour[1] = rgb[0];
        v.colour[2] = rgb[1];
        v.colour[3] = rgb[2];
        return;
    }
    case kParamPoint: {
        std::vector<std::string> parts = SplitComma(t);
        double x, y;
        if (parts.size() != 2 || !ParseDecimal(parts[0], &x) || !ParseDecimal(parts[1], &y))
            Refuse(p, shown, "malformed");
        if (x < 0 || y < 0) Refuse(p, shown, "out of range");
        v.x = x;
        v.y = y;
        v.pointSet = true;
        return;
    }
    case kParamPopup: {
        long long n;
        if (ParseInt(t, &n)) {
            if (n < 1 || n > (long long)p.choices.size()) Refuse(p, shown, "out of range");
            v.value = int32_t(n);
            return;
        }
        for (size_t k = 0; k < p.choices.size(); ++k) {
            if (Lower(p.choices[k]) == Lower(t)) {
                v.value = int32_t(k + 1);
                return;
            }
        }
        Refuse(p, shown, "no such choice");
    }
    }
    Refuse(p, shown, "unsupported parameter type");
}

void ParamSet::SetJson(const std::string& name, const nlohmann::json& j) {
    int i = Find(name);
    if (i < 0) throw UsageError("unknown parameter \"" + name + "\"");
    const ParamInfo& p = infos_[size_t(i)];
    std::string shown = j.dump();
    std::string text;
    if (j.is_string()) {
        text = j.get<std::string>();
    } else if (j.is_boolean()) {
        if (p.type != kParamCheckbox) Refuse(p, shown, "");
        text = j.get<bool>() ? "on" : "off";
    } else if (j.is_number_integer()) {
        text = std::to_string(j.get<long long>());
    } else if (j.is_number_float()) {
        if (p.type != kParamFixed && p.type != kParamPoint) Refuse(p, shown, "not an integer");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", j.get<double>());
        text = buf;
    } else if (j.is_array()) {
        if (p.type != kParamColour && p.type != kParamPoint) Refuse(p, shown, "malformed");
        for (size_t k = 0; k < j.size(); ++k) {
            if (!j[k].is_number()) Refuse(p, shown, "malformed");
            if (k) text += ",";
            if (j[k].is_number_integer()) {
                text += std::to_string(j[k].get<long long>());
            } else {
                if (p.type == kParamColour) Refuse(p, shown, "malformed");
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.17g", j[k].get<double>());
                text += buf;
            }
        }
    } else {
        Refuse(p, shown, "malformed");
    }
    SetParsed(i, text, shown);
}

nlohmann::ordered_json ParamSet::ToPreset() const {
    // In the effect's parameter order; colours and points in their --set form.
    nlohmann::ordered_json params = nlohmann::ordered_json::object();
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamInfo& p = infos_[i];
        const ParamValue& v = values_[i];
        switch (p.type) {
        case kParamSlider:
            params[p.name] = v.value;
            break;
        case kParamFixed:
            params[p.name] = double(v.value) / 65536.0;
            break;
        case kParamCheckbox:
            params[p.name] = v.value != 0;
            break;
        case kParamColour:
            params[p.name] = ColourText(v.colour);
            break;
        case kParamPoint:
            // An unset point follows the frame size; it is not stored.
            if (v.pointSet) params[p.name] = NumberText(v.x) + "," + NumberText(v.y);
            break;
        case kParamPopup:
            if (v.value >= 1 && size_t(v.value) <= p.choices.size())
                params[p.name] = p.choices[size_t(v.value - 1)];
            else
                params[p.name] = v.value;
            break;
        default:
            break;
        }
    }
    return nlohmann::ordered_json{{"orvo_preset", 1}, {"parameters", params}};
}

void ParamSet::ApplyPreset(const nlohmann::json& preset, const std::string& fileName) {
    const nlohmann::json* params = &preset;
    if (preset.is_object() && preset.contains("parameters")) params = &preset["parameters"];
    if (!params->is_object())
        throw UsageError(fileName + ": not an orvo preset (expected an object of parameters)");
    for (auto it = params->begin(); it != params->end(); ++it) {
        if (it.key() == "orvo_preset") continue;
        try {
            SetJson(it.key(), it.value());
        } catch (const ToolError& e) {
            throw UsageError(fileName + ": " + e.what());
        }
    }
}

void ParamSet::PointFixed(int i, int fullWidth, int fullHeight, int downsample, int32_t* x,
                          int32_t* y) const {
    const ParamInfo& p = infos_[size_t(i)];
    const ParamValue& v = values_[size_t(i)];
    if (!v.pointSet) {
        // The host's default: the stored percentages of the frame.
        int64_t w = int64_t(fullWidth) * p.xDephault / 100;
        int64_t h = int64_t(fullHeight) * p.yDephault / 100;
        *x = int32_t(w / downsample);
        *y = int32_t(h / downsample);
        return;
    }
    if (p.restrictBounds && (v.x > fullWidth - 1 || v.y > fullHeight - 1)) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "x 0 to %d, y 0 to %d", fullWidth - 1, fullHeight - 1);
        throw UsageError("bad value \"" + NumberText(v.x) + "," + NumberText(v.y) + "\" for \"" +
                         p.name + "\" (outside the " + std::to_string(fullWidth) + "x" +
                         std::to_string(fullHeight) + " frame): \"" + p.name +
                         "\" takes x,y in pixels of the full-resolution frame, " + buf);
    }
    if (!ToFixed(v.x / downsample, x) || !ToFixed(v.y / downsample, y))
        throw UsageError("bad value for \"" + p.name + "\": out of range");
}

std::string ParamSet::FormatValue(int i) const {
    const ParamInfo& p = infos_[size_t(i)];
    const ParamValue& v = values_[size_t(i)];
    switch (p.type) {
    case kParamLayer:
        return "";
    case kParamSlider:
        return std::to_string(v.value);
    case kParamFixed:
        return FormatFixed(v.value);
    case kParamCheckbox:
        return v.value ? "on" : "off";
    case kParamColour:
        return ColourText(v.colour);
    case kParamPoint:
        if (!v.pointSet)
            return FormatFixed(p.xDephault) + "%," + FormatFixed(p.yDephault) + "% of the frame";
        return NumberText(v.x) + "," + NumberText(v.y);
    case kParamPopup:
        if (v.value >= 1 && size_t(v.value) <= p.choices.size())
            return std::to_string(v.value) + " (" + p.choices[size_t(v.value - 1)] + ")";
        return std::to_string(v.value);
    }
    return "";
}

std::string ParamSet::Listing() const {
    std::ostringstream os;
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-5s %-24s %-9s %-26s %-16s %s\n", "index", "name", "type",
                  "default", "valid", "slider / choices");
    os << buf;
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamInfo& p = infos_[i];
        std::string dflt, valid, extra;
        switch (p.type) {
        case kParamLayer:
            dflt = "none";
            extra = Lower(p.name) == "background" ? "set with --bg" : "set with --key-in";
            break;
        case kParamSlider:
            dflt = FormatValue(int(i));
            valid = std::to_string(p.validMin) + ".." + std::to_string(p.validMax);
            extra = std::to_string(p.sliderMin) + ".." + std::to_string(p.sliderMax);
            break;
        case kParamFixed:
            dflt = FormatValue(int(i));
            valid = FormatFixed(p.validMin) + ".." + FormatFixed(p.validMax);
            extra = FormatFixed(p.sliderMin) + ".." + FormatFixed(p.sliderMax);
            break;
        case kParamCheckbox:
            dflt = FormatValue(int(i));
            valid = "on/off";
            if (values_[i].value != p.dephault)
                extra = std::string("the effect's own default is ") + (p.dephault ? "on" : "off") +
                        "; off in this tool";
            break;
        case kParamColour:
            dflt = FormatValue(int(i));
            valid = "R,G,B";
            break;
        case kParamPoint:
            dflt = FormatFixed(p.xDephault) + "%," + FormatFixed(p.yDephault) + "% of frame";
            valid = "x,y pixels";
            extra = "in pixels of the full-resolution frame";
            break;
        case kParamPopup:
            dflt = FormatValue(int(i));
            valid = "1.." + std::to_string(p.choices.size());
            for (size_t k = 0; k < p.choices.size(); ++k) {
                if (k) extra += " | ";
                extra += std::to_string(k + 1) + " " + p.choices[k];
            }
            break;
        }
        std::snprintf(buf, sizeof buf, "%-5d %-24s %-9s %-26s %-16s %s", p.index, p.name.c_str(),
                      TypeName(p.type).c_str(), dflt.c_str(), valid.c_str(), extra.c_str());
        std::string line = buf;
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        os << line << "\n";
    }
    return os.str();
}

} // namespace orvo
