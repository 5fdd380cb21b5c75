// Still images through OpenImageIO (PNG, JPEG, TIFF, EXR, DPX, ...).
//
// The effect works on straight (unassociated) 8-bit values, so 8-bit files
// are read and written exactly as their bytes: alpha is never associated on
// reading nor dissociated on writing. Deeper files are converted on purpose:
// 16-bit and display-referred float values are rounded to 8 bits, linear
// float values (EXR, HDR) are encoded to sRGB after dividing out their
// associated alpha. Linear formats are written linear in the same way back.
#pragma once

#include <string>

#include "frame.h"

namespace orvo {

// What a frame is used for decides how its channels fill the host's pixel.
enum class FrameRole {
    kColour, // foreground, background: RGB(A), alpha 255 when the file has none
    kMatte,  // key-in: alpha = the file's alpha, or its first channel when it has none
};

// What reading a still noticed, for the caller to tell the user.
struct ReadNotes {
    std::string conversion; // how deeper values became 8 bits (empty for 8-bit files)
    std::string damage;     // what the decoder complained about while still giving a picture
};

// Reads a still as 8 bits per channel; throws a usage error naming the file
// when it is missing, unreadable, truncated, corrupt or too large for memory.
Frame ReadImage(const std::string& path, FrameRole role, ReadNotes* notes = nullptr);

// Throws a usage error naming the file when no image format writes its extension.
void CheckImageOutput(const std::string& path);

// Writes RGBA (RGB for formats without alpha) to a temporary name and renames
// it to `path` when complete; otherwise (a full disk included) throws a usage
// error naming the file and leaves nothing under either name.
void WriteImage(const std::string& path, const Frame& frame);

// True for formats that hold scene-linear float values (EXR, HDR).
bool IsLinearFormat(const std::string& path);

// sRGB transfer: an 8-bit display value to linear light, and back (rounded).
float SrgbToLinear(uint8_t v);
uint8_t LinearToSrgb(float v);

} // namespace orvo
