// Edge profile: the alpha cap and the composite weight by distance (0..10
// pixels) from the foreground boundary. The softening starts at 23.67 alpha
// steps per edge pixel one pixel inside and halves with every further pixel.
#include <cmath>
#include <cstdint>

#include "keyer/keyer.h"
#include "stages/band_cursor.h"

void CKeyer::BuildEdgeProfile(double e) {
    // The double one unit in the last place below 71/3 (bits 0x4037AAAAAAAAAAAA).
    const double a = e * 23.666666666666664;
    edgeProfile[0] = 0;
    edgeWeights[0] = 0.0;
    for (int i = 0; i < 10; ++i) {
        const int d = i + 1;
        double v = std::pow(2.0, (double)-i) * a;
        if (v > 200.0) v = 200.0;
        const uint8_t profile = ClampToByte(255.0 - v);
        edgeProfile[d] = profile;
        double weight = (double)((int)profile - 255) * 0.01 + 1.0;
        if (weight < 0.33) weight = 0.33;
        edgeWeights[d] = weight;
    }
}
