#include "params.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>
#include <algorithm>

#include <nlohmann/json.hpp>

#include "errors.h"
#include "host/params.h"
#include "text.h"

namespace orvo {

namespace {

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
    case PF_Param_LAYER:
        return "layer";
    case PF_Param_SLIDER:
        return "slider";
    case PF_Param_FIX_SLIDER:
        return "decimal";
    case PF_Param_CHECKBOX:
        return "checkbox";
    case PF_Param_COLOR:
        return "colour";
    case PF_Param_POINT:
        return "point";
    case PF_Param_POPUP:
        return "popup";
    }
    return "type " + std::to_string(type);
}

// The registered ranges and defaults, by type.
int32_t ValidMin(const ParamInfo& p) {
    return p.type == PF_Param_FIX_SLIDER ? p.def.u.fd.valid_min : p.def.u.sd.valid_min;
}
int32_t ValidMax(const ParamInfo& p) {
    return p.type == PF_Param_FIX_SLIDER ? p.def.u.fd.valid_max : p.def.u.sd.valid_max;
}
int32_t SliderMin(const ParamInfo& p) {
    return p.type == PF_Param_FIX_SLIDER ? p.def.u.fd.slider_min : p.def.u.sd.slider_min;
}
int32_t SliderMax(const ParamInfo& p) {
    return p.type == PF_Param_FIX_SLIDER ? p.def.u.fd.slider_max : p.def.u.sd.slider_max;
}
int32_t Default(const ParamInfo& p) {
    switch (p.type) {
    case PF_Param_SLIDER:
        return p.def.u.sd.dephault;
    case PF_Param_FIX_SLIDER:
        return p.def.u.fd.dephault;
    case PF_Param_CHECKBOX:
        return p.def.u.bd.dephault;
    case PF_Param_POPUP:
        return p.def.u.pd.dephault;
    }
    return 0;
}
// Point defaults: percentages of the frame in 16.16.
int32_t PointDefaultX(const ParamInfo& p) {
    return p.def.u.td.x_dephault;
}
int32_t PointDefaultY(const ParamInfo& p) {
    return p.def.u.td.y_dephault;
}

// Edits (insert, delete, replace, swap of neighbours) from a to b.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
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

std::string SnakeName(const ParamInfo& p) {
    const ParamRow* row = FindParamRow(p.index);
    return row ? row->key : "";
}

std::string Closest(const std::string& word, const std::vector<std::string>& candidates) {
    const std::string w = Lower(Trim(word));
    std::string best;
    size_t bestDistance = std::string::npos;
    for (const std::string& c : candidates) {
        size_t d = EditDistance(w, Lower(c));
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    // A typo: at most a third of the word wrong (and at least one edit allowed).
    const size_t allowed = std::max<size_t>(1, std::max(w.size(), best.size()) / 3);
    return bestDistance <= allowed ? best : "";
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
    std::string c = Closest(word, candidates);
    return c.empty() ? "" : " (did you mean \"" + c + "\"?)";
}

ParamSet::ParamSet(std::vector<ParamInfo> infos) : infos_(std::move(infos)) {
    values_.resize(infos_.size());
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamInfo& p = infos_[i];
        ParamValue& v = values_[i];
        switch (p.type) {
        case PF_Param_COLOR:
            v.colour[0] = p.def.u.cd.dephault.alpha;
            v.colour[1] = p.def.u.cd.dephault.red;
            v.colour[2] = p.def.u.cd.dephault.green;
            v.colour[3] = p.def.u.cd.dephault.blue;
            break;
        case PF_Param_POINT:
            v.pointSet = false;
            break;
        default:
            v.value = Default(p);
            break;
        }
        // A batch user wants the whole frame keyed, and the composite.
        if (p.index == ParamCrop) v.value = 0;
        if (p.index == ParamShow) v.value = ShowComposite;
    }
}

std::vector<std::string> ParamSet::AllNames() const {
    std::vector<std::string> names;
    for (const ParamInfo& p : infos_) {
        names.push_back(p.name);
        names.push_back(SnakeName(p));
    }
    return names;
}

int ParamSet::FindIndex(int index) const {
    for (size_t i = 0; i < infos_.size(); ++i)
        if (infos_[i].index == index) return int(i);
    return -1;
}

int ParamSet::Find(const std::string& name) const {
    std::string key = Lower(Trim(name));
    for (size_t i = 0; i < infos_.size(); ++i)
        if (Lower(infos_[i].name) == key || SnakeName(infos_[i]) == key) return int(i);
    return -1;
}

const ParamInfo& ParamSet::Info(const std::string& name) const {
    int i = Find(name);
    if (i < 0)
        throw UsageError("unknown parameter \"" + Trim(name) + "\"" + DidYouMean(name, AllNames()) +
                         " (`orvo params` lists them)");
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
    case PF_Param_LAYER:
        return "a layer, given with --bg or --key-in, not --set";
    case PF_Param_SLIDER:
        return "an integer from " + std::to_string(ValidMin(p)) + " to " +
               std::to_string(ValidMax(p));
    case PF_Param_FIX_SLIDER:
        return "a number from " + FormatFixed(ValidMin(p)) + " to " + FormatFixed(ValidMax(p));
    case PF_Param_CHECKBOX:
        return "on, off, 1, 0, true or false";
    case PF_Param_COLOR:
        return "R,G,B with each 0 to 255, or #RRGGBB";
    case PF_Param_POINT:
        return "x,y in pixels of the full-resolution frame (may lie outside it)";
    case PF_Param_POPUP: {
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
    Info(name); // an unknown name is refused here
    SetParsed(Find(name), text, "\"" + text + "\"");
}

void ParamSet::SetParsed(int i, const std::string& text, const std::string& shown) {
    const ParamInfo& p = infos_[size_t(i)];
    ParamValue& v = values_[size_t(i)];
    std::string t = Trim(text);
    switch (p.type) {
    case PF_Param_LAYER:
        Refuse(p, shown, "");
    case PF_Param_SLIDER: {
        long long n;
        if (!ParseInt(t, &n)) Refuse(p, shown, "not an integer");
        if (n < ValidMin(p) || n > ValidMax(p)) Refuse(p, shown, "out of range");
        v.value = int32_t(n);
        v.given = true;
        return;
    }
    case PF_Param_FIX_SLIDER: {
        double d;
        int32_t f;
        if (!ParseDecimal(t, &d)) Refuse(p, shown, "not a number");
        if (!ToFixed(d, &f) || f < ValidMin(p) || f > ValidMax(p)) Refuse(p, shown, "out of range");
        v.value = f;
        v.given = true;
        return;
    }
    case PF_Param_CHECKBOX: {
        std::string l = Lower(t);
        if (l == "on" || l == "1" || l == "true")
            v.value = 1;
        else if (l == "off" || l == "0" || l == "false")
            v.value = 0;
        else
            Refuse(p, shown, "");
        v.given = true;
        return;
    }
    case PF_Param_COLOR: {
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
        v.given = true;
        return;
    }
    case PF_Param_POINT: {
        std::vector<std::string> parts = SplitComma(t);
        double x, y;
        int32_t fx, fy;
        if (parts.size() != 2 || !ParseDecimal(parts[0], &x) || !ParseDecimal(parts[1], &y))
            Refuse(p, shown, "malformed");
        // Anywhere a 16.16 point can be: beyond that no host could send it.
        if (!ToFixed(x, &fx) || !ToFixed(y, &fy)) Refuse(p, shown, "beyond -32768 to 32767");
        v.x = x;
        v.y = y;
        v.pointSet = true;
        v.given = true;
        return;
    }
    case PF_Param_POPUP: {
        long long n;
        if (ParseInt(t, &n)) {
            if (n < 1 || n > (long long)p.choices.size()) Refuse(p, shown, "out of range");
            v.value = int32_t(n);
            v.given = true;
            return;
        }
        for (size_t k = 0; k < p.choices.size(); ++k) {
            if (Lower(p.choices[k]) == Lower(t)) {
                v.value = int32_t(k + 1);
                v.given = true;
                return;
            }
        }
        std::string hint = DidYouMean(t, p.choices);
        Refuse(p, shown, "no such choice" + (hint.empty() ? "" : hint.substr(1)));
    }
    }
    Refuse(p, shown, "unsupported parameter type");
}

void ParamSet::SetJson(const std::string& name, const nlohmann::json& j) {
    const int i = Find(name);
    const ParamInfo& p = Info(name);
    std::string shown = j.dump();
    std::string text;
    if (j.is_string()) {
        text = j.get<std::string>();
    } else if (j.is_boolean()) {
        if (p.type != PF_Param_CHECKBOX) Refuse(p, shown, "");
        text = j.get<bool>() ? "on" : "off";
    } else if (j.is_number_integer()) {
        text = std::to_string(j.get<long long>());
    } else if (j.is_number_float()) {
        if (p.type != PF_Param_FIX_SLIDER && p.type != PF_Param_POINT)
            Refuse(p, shown, "not an integer");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", j.get<double>());
        text = buf;
    } else if (j.is_array()) {
        if (p.type != PF_Param_COLOR && p.type != PF_Param_POINT) Refuse(p, shown, "malformed");
        for (size_t k = 0; k < j.size(); ++k) {
            if (!j[k].is_number()) Refuse(p, shown, "malformed");
            if (k) text += ",";
            if (j[k].is_number_integer()) {
                text += std::to_string(j[k].get<long long>());
            } else {
                if (p.type == PF_Param_COLOR) Refuse(p, shown, "malformed");
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
        case PF_Param_SLIDER:
            params[p.name] = v.value;
            break;
        case PF_Param_FIX_SLIDER:
            params[p.name] = double(v.value) / 65536.0;
            break;
        case PF_Param_CHECKBOX:
            params[p.name] = v.value != 0;
            break;
        case PF_Param_COLOR:
            params[p.name] = ColourText(v.colour);
            break;
        case PF_Param_POINT:
            // An unset point follows the frame size; it is not stored.
            if (v.pointSet) params[p.name] = NumberText(v.x) + "," + NumberText(v.y);
            break;
        case PF_Param_POPUP:
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
        int64_t w = int64_t(fullWidth) * PointDefaultX(p) / 100;
        int64_t h = int64_t(fullHeight) * PointDefaultY(p) / 100;
        *x = int32_t(w / downsample);
        *y = int32_t(h / downsample);
        return;
    }
    if (!ToFixed(v.x / downsample, x) || !ToFixed(v.y / downsample, y))
        throw UsageError("bad value \"" + NumberText(v.x) + "," + NumberText(v.y) + "\" for \"" +
                         p.name + "\": beyond what a point can hold");
}

std::string ParamSet::PointsOutside(int fullWidth, int fullHeight) const {
    std::string note;
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamValue& v = values_[i];
        if (infos_[i].type != PF_Param_POINT || !v.pointSet) continue;
        if (v.x >= 0 && v.y >= 0 && v.x <= fullWidth - 1 && v.y <= fullHeight - 1) continue;
        note += (note.empty() ? "" : "; ") + std::string("\"") + infos_[i].name + "\" " +
                NumberText(v.x) + "," + NumberText(v.y) + " lies outside the " +
                std::to_string(fullWidth) + "x" + std::to_string(fullHeight) +
                " frame (sent as it is, as a host would)";
    }
    return note;
}

std::string ParamSet::FormatValue(int i) const {
    const ParamInfo& p = infos_[size_t(i)];
    const ParamValue& v = values_[size_t(i)];
    switch (p.type) {
    case PF_Param_LAYER:
        return "";
    case PF_Param_SLIDER:
        return std::to_string(v.value);
    case PF_Param_FIX_SLIDER:
        return FormatFixed(v.value);
    case PF_Param_CHECKBOX:
        return v.value ? "on" : "off";
    case PF_Param_COLOR:
        return ColourText(v.colour);
    case PF_Param_POINT:
        if (!v.pointSet)
            return FormatFixed(PointDefaultX(p)) + "%," + FormatFixed(PointDefaultY(p)) +
                   "% of the frame";
        return NumberText(v.x) + "," + NumberText(v.y);
    case PF_Param_POPUP:
        if (v.value >= 1 && size_t(v.value) <= p.choices.size())
            return std::to_string(v.value) + " (" + p.choices[size_t(v.value - 1)] + ")";
        return std::to_string(v.value);
    }
    return "";
}

std::string ParamSet::Listing() const {
    std::ostringstream os;
    char buf[640];
    std::snprintf(buf, sizeof buf, "%-5s %-24s %-24s %-9s %-26s %-16s %s\n", "index", "name",
                  "snake_name", "type", "default", "valid", "slider / choices");
    os << buf;
    for (size_t i = 0; i < infos_.size(); ++i) {
        const ParamInfo& p = infos_[i];
        std::string dflt = FormatValue(int(i)), valid, extra;
        switch (p.type) {
        case PF_Param_LAYER:
            dflt = "none";
            extra = p.index == ParamBackground ? "set with --bg" : "set with --key-in";
            break;
        case PF_Param_SLIDER:
            valid = std::to_string(ValidMin(p)) + ".." + std::to_string(ValidMax(p));
            extra = std::to_string(SliderMin(p)) + ".." + std::to_string(SliderMax(p));
            break;
        case PF_Param_FIX_SLIDER:
            valid = FormatFixed(ValidMin(p)) + ".." + FormatFixed(ValidMax(p));
            extra = FormatFixed(SliderMin(p)) + ".." + FormatFixed(SliderMax(p));
            break;
        case PF_Param_CHECKBOX:
            valid = "on/off";
            break;
        case PF_Param_COLOR:
            valid = "R,G,B";
            if (p.index == ParamChromaColor) extra = "measured from the first frame unless set";
            break;
        case PF_Param_POINT:
            dflt =
                FormatFixed(PointDefaultX(p)) + "%," + FormatFixed(PointDefaultY(p)) + "% of frame";
            valid = "x,y pixels";
            extra = "in pixels of the full-resolution frame";
            break;
        case PF_Param_POPUP:
            valid = "1.." + std::to_string(p.choices.size());
            for (size_t k = 0; k < p.choices.size(); ++k) {
                if (k) extra += " | ";
                extra += std::to_string(k + 1) + " " + p.choices[k];
            }
            break;
        }
        if (p.type != PF_Param_COLOR && p.type != PF_Param_POINT && p.type != PF_Param_LAYER &&
            values_[i].value != Default(p)) {
            ParamSet registered;
            registered.infos_ = {p};
            registered.values_ = {values_[i]};
            registered.values_[0].value = Default(p);
            extra = "this tool's default; the effect's own is " + registered.FormatValue(0) +
                    (extra.empty() ? "" : "; " + extra);
        }
        std::snprintf(buf, sizeof buf, "%-5d %-24s %-24s %-9s %-26s %-16s %s", p.index,
                      p.name.c_str(), SnakeName(p).c_str(), TypeName(p.type).c_str(), dflt.c_str(),
                      valid.c_str(), extra.c_str());
        std::string line = buf;
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        os << line << "\n";
    }
    return os.str();
}

} // namespace orvo
