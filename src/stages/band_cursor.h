// A worker's walk over one image's pixels in its band: the address of the
// band's first pixel, the step to the next pixel and the advance from just
// past a row's last pixel to the next row's first. Everything inline on raw
// pointers, so the loops stay as tight as written out by hand.
#pragma once

#include <cstdint>

#include "bands/bandjob.h"
#include "image/image.h"

template <typename Byte> struct BandCursorOf {
    // The band of `width` pixels per row starting at view pixel (x, y). A null
    // image (an absent optional layer) gives a null cursor that never moves.
    BandCursorOf(const CImageBaseClass* image, uint16_t x, uint16_t y, uint16_t width)
        : p(image ? image->PixelAddress(x, y) : nullptr),
          advance(image ? image->RowAdvance(width) : 0), step(image ? image->pixelStep : 0) {}
    // The band of a row or tile slice.
    BandCursorOf(const CImageBaseClass* image, const CJobSlice* slice)
        : BandCursorOf(image, uint16_t(slice->x), uint16_t(slice->y), slice->width) {}

    void Next() { p += step; }
    void NextRow() { p += advance; }
    Byte& operator*() const { return *p; }
    Byte& operator[](int i) const { return p[i]; }

    Byte* p;
    int32_t advance;
    uint32_t step;
};

// Cursor of an image the worker writes, and of one it only reads.
using BandCursor = BandCursorOf<uint8_t>;
using ConstBandCursor = BandCursorOf<const uint8_t>;

// A stage result stored in a byte: clamped to 0..255, then truncated toward zero.
inline uint8_t ClampToByte(double x) {
    if (x > 255.0) x = 255.0;
    if (x < 0.0) x = 0.0;
    return uint8_t(x);
}
