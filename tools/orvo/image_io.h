// Still images through OpenImageIO (PNG, JPEG, TIFF, EXR, DPX, ...).
#pragma once

#include <string>

#include "frame.h"

namespace orvo {

// What a frame is used for decides how its channels fill the host's pixel.
enum class FrameRole {
    kColour, // foreground, background: RGB(A), alpha 255 when the file has none
    kMatte,  // key-in: alpha = the file's alpha, or its first channel when it has none
};

// Reads a still as 8 bits per channel; throws a usage error naming the file
// when it is missing, unreadable, truncated or corrupt.
Frame ReadImage(const std::string& path, FrameRole role);

// Writes RGBA (RGB for formats without alpha) to a temporary name and renames
// it to `path` when complete; throws a failure naming the file otherwise.
void WriteImage(const std::string& path, const Frame& frame);

} // namespace orvo
