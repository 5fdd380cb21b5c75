#include "fit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "errors.h"
#include "params.h"
#include "text.h"

namespace orvo {

namespace {

// Source taps and weights of one output column (or row).
struct Taps {
    int first = 0;
    std::vector<double> weights;
};

// Output pixel i covers source coordinates around (i + 0.5 - offset) / scale;
// outside [0, sourceSize) the pixel takes no source (weights empty).
std::vector<Taps> MakeTaps(int outSize, int sourceSize, double scale, double offset) {
    std::vector<Taps> taps(static_cast<size_t>(outSize));
    const double radius = std::max(1.0, 1.0 / scale);
    for (int i = 0; i < outSize; ++i) {
        const double centre = (i + 0.5 - offset) / scale;
        if (centre < 0.0 || centre >= sourceSize) continue;
        const double c = centre - 0.5;
        int lo = int(std::floor(c - radius)) + 1, hi = int(std::ceil(c + radius)) - 1;
        lo = std::max(lo, 0);
        hi = std::min(hi, sourceSize - 1);
        Taps& t = taps[size_t(i)];
        t.first = lo;
        double sum = 0.0;
        for (int s = lo; s <= hi; ++s) {
            double w = 1.0 - std::fabs(s - c) / radius;
            if (w < 0.0) w = 0.0;
            t.weights.push_back(w);
            sum += w;
        }
        if (sum <= 0.0) { // a source narrower than the filter: nearest pixel
            t.first = std::min(sourceSize - 1, std::max(0, int(centre)));
            t.weights.assign(1, 1.0);
            sum = 1.0;
        }
        for (double& w : t.weights)
            w /= sum;
    }
    return taps;
}

uint8_t ToByte(double v) {
    return uint8_t(std::min(255.0, std::max(0.0, std::round(v))));
}

// Resamples `in` to width x height with the given scales and offsets (in
// output pixels); output pixels outside the scaled picture are opaque black.
Frame Resample(const Frame& in, int width, int height, double sx, double sy, double ox, double oy) {
    const std::vector<Taps> cols = MakeTaps(width, in.width, sx, ox);
    const std::vector<Taps> rows = MakeTaps(height, in.height, sy, oy);
    // Horizontal pass into doubles, then vertical pass into bytes.
    std::vector<double> mid(size_t(width) * size_t(in.height) * 4, 0.0);
    for (int y = 0; y < in.height; ++y) {
        const uint8_t* src = in.pixel(0, y);
        double* dst = &mid[size_t(y) * size_t(width) * 4];
        for (int x = 0; x < width; ++x, dst += 4) {
            const Taps& t = cols[size_t(x)];
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const uint8_t* p = src + size_t(t.first + int(k)) * 4;
                for (int c = 0; c < 4; ++c)
                    dst[c] += t.weights[k] * p[c];
            }
        }
    }
    Frame out(width, height);
    for (int y = 0; y < height; ++y) {
        const Taps& t = rows[size_t(y)];
        for (int x = 0; x < width; ++x) {
            uint8_t* d = out.pixel(x, y);
            d[0] = 255; // bars: opaque black
            if (t.weights.empty() || cols[size_t(x)].weights.empty()) continue;
            double acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const double* m = &mid[(size_t(t.first + int(k)) * size_t(width) + size_t(x)) * 4];
                for (int c = 0; c < 4; ++c)
                    acc[c] += t.weights[k] * m[c];
            }
            for (int c = 0; c < 4; ++c)
                d[c] = ToByte(acc[c]);
        }
    }
    return out;
}

} // namespace

namespace {

// Each fit with its name on the command line.
const struct {
    BgFit fit;
    const char* name;
} kFitNames[] = {{BgFit::kCover, "cover"},
                 {BgFit::kContain, "contain"},
                 {BgFit::kStretch, "stretch"},
                 {BgFit::kNone, "none"}};

} // namespace

BgFit ParseBgFit(const std::string& text) {
    const std::string lower = Lower(text);
    std::vector<std::string> names;
    for (const auto& f : kFitNames) {
        if (lower == f.name) return f.fit;
        names.push_back(f.name);
    }
    throw UsageError("--bg-fit \"" + text + "\": expected cover, contain, stretch or none" +
                     DidYouMean(text, names));
}

const char* BgFitName(BgFit fit) {
    for (const auto& f : kFitNames)
        if (f.fit == fit) return f.name;
    return "none";
}

const char* BgFitDescription(BgFit fit) {
    switch (fit) {
    case BgFit::kCover:
        return "scaled to cover the frame, centred";
    case BgFit::kContain:
        return "scaled to fit inside the frame, black bars";
    case BgFit::kStretch:
        return "stretched to the frame";
    case BgFit::kNone:
        break;
    }
    return "left as it is";
}

Frame FitBackground(const Frame& bg, int width, int height, BgFit fit) {
    if (FitKeepsBackground(bg, width, height, fit)) return bg;
    const double sx = double(width) / bg.width, sy = double(height) / bg.height;
    if (fit == BgFit::kStretch) return Resample(bg, width, height, sx, sy, 0.0, 0.0);
    const double s = fit == BgFit::kCover ? std::max(sx, sy) : std::min(sx, sy);
    // Centred: the scaled picture's middle on the frame's middle.
    const double ox = (width - bg.width * s) / 2.0, oy = (height - bg.height * s) / 2.0;
    return Resample(bg, width, height, s, s, ox, oy);
}

} // namespace orvo
