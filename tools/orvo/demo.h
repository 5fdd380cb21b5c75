// `orvo demo`: keys the bundled green-screen sample and writes the composite
// and a labelled sheet of all eleven views.
#pragma once

#include <string>
#include <vector>

#include "frame.h"

namespace orvo {

class Effect;

// The folder of the bundled sample: $ORVO_DATA, else the project's data/.
std::string FindDataDir();

// One entry of a view's colour key: a swatch of the colour and what it means.
struct Swatch {
    uint8_t red, green, blue;
    std::string meaning;
};

// Tiles `views` (already reduced) in rows of `columns`, each with its label
// above it and its colour key (if any) below it, on a dark sheet.
Frame TileViews(const std::vector<Frame>& views, const std::vector<std::string>& labels,
                const std::vector<std::vector<Swatch>>& keys, int columns);

// Returns the exit status (3 when the effect reported a message).
int RunDemo(const std::string& dir, Effect& effect);

} // namespace orvo
