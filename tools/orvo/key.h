// `orvo key`: keys a foreground (still, sequence or video) over a background.
#pragma once

#include <string>
#include <vector>

namespace orvo {

class Effect;
class ParamSet;

struct KeyOptions {
    std::string fg, bg, keyIn, out;
    std::string show;              // --show VIEW (empty: not given)
    bool draft = false;            // host quality low
    std::vector<std::string> sets; // --set "Name=value", in order
    std::string preset, savePreset;
    std::string frames; // --frames A-B (empty: all)
    std::string resolution = "full";
    bool quiet = false;
};

// Downsample factor of --resolution (full 1, half 2, third 3, quarter 4); throws a usage error.
int ResolutionFactor(const std::string& name);

// Reads a preset file into `params` (a usage error names the file on failure).
void LoadPreset(const std::string& path, ParamSet* params);
// Writes the values of `params` as a preset, atomically.
void SavePreset(const std::string& path, const ParamSet& params);

// Runs the whole job; returns the exit status (0, or 3 when the effect
// reported a message). Throws ToolError for the other outcomes.
int RunKey(const KeyOptions& options, Effect& effect);

} // namespace orvo
