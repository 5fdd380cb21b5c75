// The parameter snapshot the stages read: one plain aggregate, copied member
// by member by the compiler, so a field added here can never be left out of
// a copy. Colours are red, green, blue doubles.
#pragma once

#include <cstdint>

struct KeyerParams {
    double bgCorrectionColor[3] = {0.0, 0.0, 0.0};
    double bgCorrectionStrength = 0.0;
    double bgCorrectionBrightness = 0.0;
    int32_t bgCorrectionMode = 0;
    double separationColor[3] = {0.0, 0.0, 0.0};
    double separationLevel = 0.0;
    double separationDeviation = 0.0;
    double transparencyColor[3] = {0.0, 0.0, 0.0};
    double transparencyStrength = 1.0;
    double transparencyThreshold = 0.75;
    double shadowColor[3] = {0.0, 0.0, 0.0};
    double shadowChroma = 0.8;
    double shadowBrightness = 0.8;
    double lightColor[3] = {0.0, 0.0, 0.0};
    double lightChroma = 1.0;
    double lightBrightness = 1.0;
    double reflectionColor[3] = {0.0, 0.0, 0.0};
    double reflectionChroma = 0.75;
    double reflectionBrightness = 0.35;
    double reflectionStrength = 1.0;
    // No host parameter: the backing analysis writes it into the keyer's
    // defaults snapshot and every copy carries it on.
    double backingChromaticity[3] = {0.0, 0.0, 0.0};
    double fgCorrectionColor[3] = {0.0, 0.0, 0.0};
    double fgCorrectionStrength = 0.0;
    double fgCorrectionBrightness = 0.0;
    int32_t fgCorrectionMode = 0;
    // "Transp. Edge (pixel)" at the frame's resolution, at most 10.
    double transparencyEdge = 0.0;

    // Back to the defaults above.
    void SetDefaults() { *this = KeyerParams(); }
};
