// The separation mask of one slice, row by row, for the workers that write
// it: the separation itself and the quick composite, which keys each row
// right after separating it.
#pragma once

#include <cstdint>

#include "bands/bandjob.h"
#include "keyer/keyer.h"

class SliceSeparation {
  public:
    // Takes the keyer's snapshot and ranking. Not Valid() when the slice
    // cannot be separated (a black separation colour or a ranking naming no
    // channel); the matte is then left as it is.
    SliceSeparation(const CKeyer* keyer, const CJobSlice* slice);
    bool Valid() const { return rowFunction != nullptr; }
    // Writes the mask of band row `row`.
    void Row(int32_t row) const { rowFunction(*this, row); }

    struct Setup {
        double k[3]; // separation colour by channel
        double kNorm;
        double level;
        double cosineLimit;
        double below, above; // bounds of the squared cosine test in pairs
        bool dominanceTest;
        int32_t dominant, middle, smallest;
    };

  private:
    using RowFunction = void (*)(const SliceSeparation&, int32_t);
    template <typename Rank, bool Pairs> static void RowOf(const SliceSeparation& s, int32_t row);

    Setup setup;
    const CKeyer* keyer;
    const CJobSlice* slice;
    RowFunction rowFunction = nullptr;
    bool quads = false; // four-byte pixels, alpha first: loaded four at a time
};
