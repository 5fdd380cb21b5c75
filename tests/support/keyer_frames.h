// Frames for keyer and stage tests, wrapped the way the render driver wraps
// host frames: 4-byte alpha, red, green, blue pixels; colour views select
// bytes 1..3, alpha views byte 0; the matte is a private 1-byte image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "image/image.h"
#include "keyer/keyer.h"

// A colour triple that prints itself in failure messages.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// The dirty flags as a five-digit pattern: bg, separation, spill, composite, key-in.
inline int Flags(const CKeyer& k) {
    return k.bgCorrectionDirty * 10000 + k.separationDirty * 1000 + k.spillShadowDirty * 100 +
           k.compositeDirty * 10 + k.keyInDirty;
}
inline void ClearFlags(CKeyer& k) {
    k.bgCorrectionDirty = k.separationDirty = k.spillShadowDirty = k.compositeDirty = k.keyInDirty =
        0;
}

// Runs render(threads) with 1, 2, 3 and 8 band slots (the render sets its
// keyer's threadCount) and expects the same result.
template <class Render> void ExpectSameForAnyThreadCount(Render render) {
    const auto first = render(uint16_t(1));
    for (uint16_t n : {2, 3, 8})
        EXPECT_EQ(render(n), first) << n << " slots";
}

struct KeyerFrames {
    int width;
    int height;
    std::vector<uint8_t> fg, bg, out, keyIn; // alpha, red, green, blue per pixel
    CImageBaseClass fgImage, bgImage, outImage, outAlpha, keyInImage, matte;

    KeyerFrames(int w, int h, bool withKeyInLayer = false)
        : width(w), height(h), fg(size_t(w) * h * 4, 0), bg(size_t(w) * h * 4, 0),
          out(size_t(w) * h * 4, 0), keyIn(size_t(w) * h * 4, 0) {
        for (size_t i = 0; i < fg.size(); i += 4)
            fg[i] = bg[i] = 255;
        Wrap(fgImage, fg, 3, 1);
        Wrap(bgImage, bg, 3, 1);
        Wrap(outImage, out, 3, 1);
        Wrap(outAlpha, out, 1, 0);
        if (withKeyInLayer) {
            Wrap(keyInImage, keyIn, 1, 0);
        } else {
            keyInImage.Create(w, h, 1, nullptr);
            std::fill(keyInImage.pixels, keyInImage.pixels + w * h, 255);
            keyInImage.SetUndefined(0);
        }
        matte.Create(w, h, 1, nullptr);
        matte.SetUndefined(0);
    }

    void Wrap(CImageBaseClass& image, std::vector<uint8_t>& data, uint16_t count, uint16_t offset) {
        image.Create(uint32_t(width), uint32_t(height), 4, data.data());
        image.SelectComponents(count, offset);
        image.SetUndefined(0);
    }

    // Hands the images to the keyer as the render driver does.
    int Attach(CKeyer& keyer) {
        return keyer.SetImages(&matte, &outAlpha, &keyInImage, &bgImage, &fgImage, &outImage);
    }

    uint8_t* Fg(int x, int y) { return &fg[(size_t(y) * width + x) * 4]; }
    uint8_t* Bg(int x, int y) { return &bg[(size_t(y) * width + x) * 4]; }
    uint8_t* Out(int x, int y) { return &out[(size_t(y) * width + x) * 4]; }
    uint8_t* KeyIn(int x, int y) { return &keyIn[(size_t(y) * width + x) * 4]; }
    uint8_t& Matte(int x, int y) { return matte.pixels[size_t(y) * width + x]; }
    Rgb OutRgb(int x, int y) { return RgbOf(Out(x, y)); }

    static Rgb RgbOf(const uint8_t* p) { return Rgb{p[1], p[2], p[3]}; }
    static void SetRgb(uint8_t* pixel, uint8_t r, uint8_t g, uint8_t b) {
        pixel[1] = r, pixel[2] = g, pixel[3] = b;
    }
    static void FillRgb(std::vector<uint8_t>& frame, uint8_t r, uint8_t g, uint8_t b) {
        for (size_t i = 0; i < frame.size(); i += 4)
            SetRgb(&frame[i], r, g, b);
    }
    void FillFg(uint8_t r, uint8_t g, uint8_t b) { FillRgb(fg, r, g, b); }
    void FillBg(uint8_t r, uint8_t g, uint8_t b) { FillRgb(bg, r, g, b); }
    void FillMatte(uint8_t value) { std::fill(matte.pixels, matte.pixels + width * height, value); }
};

// Frames with a keyer attached (and told whether there is a key-in layer);
// the keyer's edge image starts at 0.
struct KeyedFrames : KeyerFrames {
    CKeyer keyer;

    KeyedFrames(int w, int h, bool keyInLayer = false) : KeyerFrames(w, h, keyInLayer) {
        keyer.hasKeyIn = keyInLayer ? 1 : 0;
        EXPECT_EQ(Attach(keyer), 1);
        std::fill(keyer.edgeImage->pixels, keyer.edgeImage->pixels + w * h, 0);
    }
    // Green dominant, blue middle, red smallest, as a green backing ranks them.
    void RankGreen() {
        keyer.channelOrder[0] = kChannelGreen, keyer.channelOrder[1] = kChannelBlue;
        keyer.channelOrder[2] = kChannelRed;
    }
    // Separation against green (0, 200, 0) at level 50, deviation 50 %.
    void SeparateGreen() {
        KeyerParams& p = keyer.params;
        p.separationColor[0] = p.separationColor[2] = 0.0, p.separationColor[1] = 200.0;
        p.separationLevel = 50.0, p.separationDeviation = 0.5;
        RankGreen();
    }
    uint8_t& Edge(int x, int y) { return keyer.edgeImage->pixels[size_t(y) * width + x]; }
    uint8_t* Under(int x, int y) {
        return keyer.underlayImage->pixels + (size_t(y) * width + x) * 3;
    }
    Rgb UnderRgb(int x, int y) { return Rgb{Under(x, y)[0], Under(x, y)[1], Under(x, y)[2]}; }
    void SetUnder(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = Under(x, y);
        p[0] = r, p[1] = g, p[2] = b;
    }
    void FillUnder(uint8_t r, uint8_t g, uint8_t b) {
        for (int i = 0; i < width * height; ++i)
            SetUnder(i % width, i / width, r, g, b);
    }
    std::vector<uint8_t> Underlay() const {
        return std::vector<uint8_t>(keyer.underlayImage->pixels,
                                    keyer.underlayImage->pixels + size_t(width) * height * 3);
    }
};
