// One 8-bit frame in the host's pixel layout: alpha, red, green, blue bytes,
// rows packed without padding (row length = width * 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;

    Frame() = default;
    Frame(int w, int h) : width(w), height(h), px(size_t(w) * size_t(h) * 4, 0) {}

    bool empty() const { return width <= 0 || height <= 0; }
    int rowBytes() const { return width * 4; }
    uint8_t* pixel(int x, int y) { return px.data() + (size_t(y) * size_t(width) + x) * 4; }
    const uint8_t* pixel(int x, int y) const {
        return px.data() + (size_t(y) * size_t(width) + x) * 4;
    }
};

// Box-filter reduction by an integer factor; the result is ceil(w / f) by
// ceil(h / f), edge blocks averaged over the pixels they cover. Factor 1 copies.
Frame Downscale(const Frame& in, int factor);

} // namespace orvo
