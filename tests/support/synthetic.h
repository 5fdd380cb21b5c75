// Deterministic synthetic green-screen material: a lit backing with a
// gradient and noise, a soft-edged subject with spill, a shadow and a lit
// patch on the backing, a colourful background and a soft key-in matte.
// Frames are 4-byte alpha, red, green, blue pixels, rows `rowbytes` apart.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace synthetic {

// Small deterministic generator (the same numbers on every platform).
struct Lcg {
    uint32_t state;
    explicit Lcg(uint32_t seed) : state(seed * 2654435761u + 1u) {}
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int Noise(int amplitude) { return int(Next() % uint32_t(2 * amplitude + 1)) - amplitude; }
};

inline uint8_t Byte(double v) {
    return uint8_t(std::min(255.0, std::max(0.0, v)));
}

inline void Put(uint8_t* p, double r, double g, double b) {
    p[0] = 255, p[1] = Byte(r), p[2] = Byte(g), p[3] = Byte(b);
}

// The green-screen plate. The backing colour is about (40, 190, 60).
inline void GreenScreen(uint8_t* data, int width, int height, int rowbytes, uint32_t seed = 1) {
    Lcg rng(seed);
    const double cx = width * 0.45, cy = height * 0.55;
    const double rx = width * 0.18, ry = height * 0.32;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = data + size_t(y) * rowbytes + size_t(x) * 4;
            // Backing, lit from the left, with sensor noise.
            double light = 1.08 - 0.18 * x / width;
            double r = 40 * light, g = 190 * light, b = 60 * light;
            // A lit patch top left and the subject's shadow on the floor.
            if (x < width / 5 && y < height / 4) r *= 1.2, g *= 1.2, b *= 1.2;
            double sx = (x - (cx + rx * 0.9)) / (rx * 0.9),
                   sy = (y - height * 0.85) / (height * 0.1);
            double shadow = sx * sx + sy * sy;
            const double k = shadow < 1.0 ? 0.55 + 0.45 * shadow : 1.0;
            if (shadow < 1.0) r *= k, g *= k, b *= k;
            r += rng.Noise(3), g += rng.Noise(4), b += rng.Noise(3);
            // The subject: an ellipse with a 3-pixel soft edge and green spill.
            double dx = (x - cx) / rx, dy = (y - cy) / ry;
            double d = std::sqrt(dx * dx + dy * dy);
            double edge = (1.0 - d) * rx / 3.0; // pixels inside the outline / 3
            if (edge > 0) {
                double a = std::min(1.0, edge);
                double sr = 200 - 60 * dy, sg = 150 - 40 * dy, sb = 120 + 30 * dx;
                if (std::fmod(std::floor((x + y) / 7.0), 3.0) == 0) sr = 60, sg = 70, sb = 160;
                double spill = edge < 2.0 ? 35 * (2.0 - edge) : 0.0;
                r = r * (1 - a) + sr * a;
                g = g * (1 - a) + (sg + spill) * a;
                b = b * (1 - a) + sb * a;
            }
            Put(p, r, g, b);
        }
    }
}

// A background photo stand-in: diagonal colour gradients with texture.
inline void Background(uint8_t* data, int width, int height, int rowbytes, uint32_t seed = 2) {
    Lcg rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = data + size_t(y) * rowbytes + size_t(x) * 4;
            double u = double(x) / width, v = double(y) / height;
            Put(p, 230 * u + 20 + rng.Noise(6), 120 + 80 * v * (1 - u) + rng.Noise(6),
                200 * (1 - v) + 30 * std::sin(x * 0.2) + rng.Noise(6));
        }
}

// A key-in matte in the alpha bytes: a soft-edged rectangle over the
// subject's lower left; colour bytes grey.
inline void KeyInMatte(uint8_t* data, int width, int height, int rowbytes) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = data + size_t(y) * rowbytes + size_t(x) * 4;
            double dx = std::min(x - width * 0.25, width * 0.5 - x);
            double dy = std::min(y - height * 0.6, height * 0.95 - y);
            double a = std::min(dx, dy) / 4.0;
            p[0] = Byte(255 * std::max(0.0, std::min(1.0, a)));
            p[1] = p[2] = p[3] = 128;
        }
}

} // namespace synthetic
