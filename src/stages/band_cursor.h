// A worker's view of one image's pixels in its band, and the byte helpers the
// stage workers share. BandRows gives the first pixel of each band row; pixel
// x of a row lies x * step bytes further.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bands/bandjob.h"
#include "image/image.h"

template <typename Byte> struct BandRowsOf {
    // The band of a row or tile slice. A null image (an absent optional layer)
    // gives null rows.
    BandRowsOf(const CImageBaseClass* image, const CJobSlice* slice)
        : first(image ? image->PixelAddress(uint16_t(slice->x), uint16_t(slice->y)) : nullptr),
          stride(image ? ptrdiff_t(image->rowStride) : 0), step(image ? image->pixelStep : 0) {}

    Byte* Row(int32_t row) const { return first ? first + row * stride : nullptr; }

    Byte* first;
    ptrdiff_t stride;
    uint32_t step;
};

// Rows of an image the worker writes, and of one it only reads.
using BandRows = BandRowsOf<uint8_t>;
using ConstBandRows = BandRowsOf<const uint8_t>;

// A value held to the byte range 0..255 (NaN gives 0).
inline double ClampTo255(double x) {
    if (!(x > 0.0)) return 0.0;
    if (x > 255.0) return 255.0;
    return x;
}

// A stage result stored in a byte: clamped to 0..255, then truncated toward zero.
inline uint8_t ClampToByte(double x) {
    return uint8_t(ClampTo255(x));
}

// Colour pixels are stored red, green, blue; inside the pixel functions they
// are doubles indexed by channel (kChannelBlue 0, kChannelGreen 1,
// kChannelRed 2), the order of the keyer's channel ranking.
inline void LoadChannels(const uint8_t* rgb, double* v) {
    v[0] = rgb[2];
    v[1] = rgb[1];
    v[2] = rgb[0];
}

inline void StoreChannels(const double* v, uint8_t* rgb) {
    rgb[0] = ClampToByte(v[2]);
    rgb[1] = ClampToByte(v[1]);
    rgb[2] = ClampToByte(v[0]);
}

// Paints a colour pixel, and copies one.
inline void PaintRgb(uint8_t* rgb, uint8_t red, uint8_t green, uint8_t blue) {
    rgb[0] = red;
    rgb[1] = green;
    rgb[2] = blue;
}

inline void CopyRgb(uint8_t* dst, const uint8_t* src) {
    PaintRgb(dst, src[0], src[1], src[2]);
}
