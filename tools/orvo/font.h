// A tiny built-in 5x7 bitmap font (with two rows for descenders) for
// labelling pictures.
#pragma once

#include <cstdint>
#include <string>

#include "frame.h"

namespace orvo {

constexpr int kGlyphWidth = 5, kGlyphHeight = 9, kGlyphAdvance = 6;

// Rows of the glyph of `c`, top first, bit 4 = leftmost column; characters
// outside printable ASCII give a hollow box.
const uint8_t* Glyph(char c);

// Width in pixels of `text` drawn at `scale`.
int TextWidth(const std::string& text, int scale);

// Draws `text` with its top-left corner at (x, y), each font pixel a
// scale x scale square, clipped to the frame; alpha is set to 255.
void DrawText(Frame* frame, int x, int y, const std::string& text, int scale, uint8_t red,
              uint8_t green, uint8_t blue);

} // namespace orvo
