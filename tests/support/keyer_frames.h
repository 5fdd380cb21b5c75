// Frames for keyer and stage tests, wrapped the way the render driver wraps
// host frames: 4-byte alpha, red, green, blue pixels; colour views select
// bytes 1..3, alpha views byte 0; the matte is a private 1-byte image.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "keyer/keyer.h"

struct KeyerFrames {
    int width;
    int height;
    std::vector<uint8_t> fg, bg, out, keyIn;  // alpha, red, green, blue per pixel
    CImageBaseClass fgImage, bgImage, outImage, outAlpha, keyInImage, matte;

    KeyerFrames(int w, int h, bool withKeyInLayer = false)
        : width(w), height(h), fg(size_t(w) * h * 4, 0), bg(size_t(w) * h * 4, 0),
          out(size_t(w) * h * 4, 0), keyIn(size_t(w) * h * 4, 0) {
        for (size_t i = 0; i < fg.size(); i += 4) fg[i] = bg[i] = 255;
        Wrap(fgImage, fg, 3, 1);
        Wrap(bgImage, bg, 3, 1);
        Wrap(outImage, out, 3, 1);
        Wrap(outAlpha, out, 1, 0);
        if (withKeyInLayer) {
            Wrap(keyInImage, keyIn, 1, 0);
        } else {
            keyInImage.Create(w, h, 1, nullptr);
            const uint8_t full = 255;
            RECT all{0, 0, w, h};
            keyInImage.FillRect(&all, &full, 0, 0);
            keyInImage.SetUndefined(0);
        }
        matte.Create(w, h, 1, nullptr);
        matte.SetUndefined(0);
    }

    void Wrap(CImageBaseClass& image, std::vector<uint8_t>& data, uint16_t count,
              uint16_t offset) {
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

    static void SetRgb(uint8_t* pixel, uint8_t r, uint8_t g, uint8_t b) {
        pixel[1] = r;
        pixel[2] = g;
        pixel[3] = b;
    }
    void FillFg(uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) SetRgb(Fg(x, y), r, g, b);
    }
    void FillBg(uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) SetRgb(Bg(x, y), r, g, b);
    }
};
