// Fitting a background to the foreground's frame size: scale to cover (centred
// crop), scale to fit inside (black bars), stretch, or leave it as it is.
#pragma once

#include <string>

#include "frame.h"

namespace orvo {

enum class BgFit { kCover, kContain, kStretch, kNone };

// "cover", "contain", "stretch", "none" in any letter case; throws a usage
// error with a suggestion otherwise.
BgFit ParseBgFit(const std::string& text);
const char* BgFitName(BgFit fit);
// What the fit does, for the line that tells the user ("scaled to cover the frame, centred").
const char* BgFitDescription(BgFit fit);

// `bg` brought to `width` x `height` the way `fit` says; kNone and a frame of
// that size already are returned unchanged. Resampling is a separable
// triangle filter, widened when shrinking so every source pixel counts.
Frame FitBackground(const Frame& bg, int width, int height, BgFit fit);

// True when fitting `bg` to the frame leaves it as it is (same size, or no fit).
inline bool FitKeepsBackground(const Frame& bg, int width, int height, BgFit fit) {
    return fit == BgFit::kNone || (bg.width == width && bg.height == height);
}

} // namespace orvo
