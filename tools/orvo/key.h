// `orvo key`: keys a foreground (still, sequence or video) over a background.
// PlanKey decides everything a run needs and checks every input and output
// before a frame is rendered; RenderFrames renders a range of the plan.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit.h"
#include "frame.h"
#include "media.h"
#include "params.h"

namespace orvo {

class Effect;

struct KeyOptions {
    std::string fg, bg, keyIn, out;
    std::string show;              // --show VIEW (empty: not given)
    bool draft = false;            // host quality low
    std::vector<std::string> sets; // --set "Name=value", in order
    std::string preset, savePreset;
    std::string frames; // --frames A-B (empty: all)
    std::string resolution = "full";
    std::string bgFit = "cover"; // --bg-fit cover|contain|stretch|none
    std::string codec;           // --codec png|prores (empty: by the output's extension)
    bool quiet = false;
};

// Everything a run decided before rendering: the final parameter values
// (the automatic key colour included), the frames, the fitting and the files.
struct KeyPlan {
    KeyOptions options;
    ParamSet params;
    int factor = 1;                  // downsample of --resolution
    FrameRange range;                // --frames, or unset for all frames
    int total = -1;                  // frames to render; -1 when a video does not say
    std::vector<int> numbers;        // their numbers when known up front
    int width = 0, height = 0;       // full-resolution foreground frame
    BgFit fit = BgFit::kCover;       // applied to backgrounds of another size
    bool keyColourMeasured = false;  // "Chroma Color" was measured, not given
    std::string rate = "24/1";       // frame rate of a video output
    std::vector<std::string> inputs; // every file read, never written
    // Called with each frame's number once the output has taken it (a
    // sequence frame's file is then complete); may be empty.
    std::function<void(int number)> frameWritten;
};

// What RenderFrames did.
struct KeyResult {
    int status = 0; // 0, or 3 when the effect reported its message (nothing more written)
    int frames = 0; // frames rendered and written
    double seconds = 0.0;
    int messageFrame = 0; // status 3: the frame and the effect's message
    std::string message;
};

// Downsample factor of --resolution (full 1, half 2, third 3, quarter 4, any
// letter case); throws a usage error.
int ResolutionFactor(const std::string& name);

// Reads a preset file into `params` (a usage error names the file on failure).
void LoadPreset(const std::string& path, ParamSet* params);
// Writes the values of `params` as a preset, atomically.
void SavePreset(const std::string& path, const ParamSet& params);

// The key colour an eyedropper on the backing would pick: the typical colour of
// the dominant hue among strongly saturated pixels. False when the frame has
// no strongly saturated area.
bool MeasureKeyColour(const Frame& frame, uint8_t rgb[3]);
// Pixels whose colour points within the effect's backing cone (cosine above
// 0.95) of `rgb`: what the effect's refinement of that key colour would count.
size_t PixelsMatchingKey(const Frame& frame, const uint8_t rgb[3]);

// Option precedence (effect defaults < preset < --set < --show), every check
// of inputs and outputs, and the automatic choices (key colour, background
// fitting); prints the choices it made. Throws ToolError on bad input.
KeyPlan PlanKey(const KeyOptions& options, Effect& effect);
// Renders `range` of the plan (unset: the plan's own frames) and writes it.
// Uses the effect's sequence record as it stands. Throws ToolError.
KeyResult RenderFrames(const KeyPlan& plan, Effect& effect, FrameRange range);

// PlanKey, the preset, a fresh sequence, RenderFrames and the summary line;
// returns the exit status (0, or 3 when the effect reported a message).
int RunKey(const KeyOptions& options, Effect& effect);

} // namespace orvo
