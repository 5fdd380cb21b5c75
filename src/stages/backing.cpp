// Backing colour analysis: turns the backing colour into the colour defaults
// of the keyer (backing colour, chromaticity, channel ranking, default shadow
// and light colours), optionally measuring it in the foreground first.
#include "image/image.h"
#include "keyer/keyer.h"
#include "stages/band_cursor.h"

namespace {

// Position of a channel index (0 blue, 1 green, 2 red) in a red, green,
// blue colour triple.
inline int TriplePosition(int32_t channel) {
    return 2 - channel;
}

// Puts the keyer back to plain defaults, as at the start of a new backing.
void ResetBackingState(CKeyer& keyer) {
    keyer.channelOrder[0] = 0;
    keyer.channelOrder[1] = 1;
    keyer.channelOrder[2] = 2;
    keyer.defaultParams.SetDefaults();
    keyer.SetParams(keyer.defaultParams);
    if (keyer.params.transparencyEdge > 10.0) {
        keyer.params.transparencyEdge = 10.0;
        keyer.separationDirty = 1;
    }
    keyer.AllocateShadingBuffer(0);
    keyer.InvalidateMatte();
    keyer.InvalidateBackground();
}

// Switches a field-mode foreground to frame rows for the length of the
// operation, and back (with the keyer's height) when it goes out of scope.
class FrameRowsScope {
  public:
    explicit FrameRowsScope(CKeyer& keyer)
        : keyer_(keyer), image_(nullptr), savedHeight_(keyer.height) {
        CImageBaseClass* fg = keyer.foregroundImage;
        if (fg != nullptr && fg->fieldMode) {
            image_ = fg;
            fg->SetFieldMode(0, 0);
            keyer.height = fg->ViewHeight(0);
        }
    }
    ~FrameRowsScope() {
        if (image_ != nullptr) {
            image_->SetFieldMode(1, 0);
            keyer_.height = savedHeight_;
        }
    }
    FrameRowsScope(const FrameRowsScope&) = delete;
    FrameRowsScope& operator=(const FrameRowsScope&) = delete;

  private:
    CKeyer& keyer_;
    CImageBaseClass* image_;
    int32_t savedHeight_;
};

} // namespace

int CKeyer::SetBackingColour(uint8_t blue, uint8_t green, uint8_t red, int refine) {
    FrameRowsScope frameRows(*this);

    double t[3] = {double(blue), double(green), double(red)};
    if (refine && !RefineBackingColour(t)) return 0;

    ResetBackingState(*this);

    const double r = t[2];
    const double g = t[1];
    const double b = t[0];
    double* colours[4] = {defaultParams.separationColor, defaultParams.reflectionColor,
                          defaultParams.bgCorrectionColor, defaultParams.fgCorrectionColor};
    for (double* colour : colours) {
        colour[0] = r;
        colour[1] = g;
        colour[2] = b;
    }

    // Each comparison gives the larger channel a point; a tie goes to the
    // smaller index (blue before green before red).
    int points[3] = {0, 0, 0};
    ++points[b >= g ? kChannelBlue : kChannelGreen];
    ++points[g >= r ? kChannelGreen : kChannelRed];
    ++points[b >= r ? kChannelBlue : kChannelRed];
    for (int32_t channel = 0; channel < 3; ++channel)
        channelOrder[2 - points[channel]] = channel;

    const double sum = r + g + b;
    if (sum < 1e-8) {
        ResetBackingState(*this);
        return 0;
    }

    const double chroma[3] = {r / sum, g / sum, b / sum};
    const double mean = sum / 3;
    for (int i = 0; i < 3; ++i) {
        defaultParams.transparencyColor[i] = chroma[i];
        defaultParams.backingChromaticity[i] = chroma[i];
        defaultParams.shadowColor[i] = 0.75 * mean;
        defaultParams.lightColor[i] = 0.05 * mean;
    }
    const int dominant = TriplePosition(channelOrder[0]);
    defaultParams.shadowColor[dominant] = 0.85 * mean;
    defaultParams.lightColor[dominant] = 0.1 * mean;
    params = defaultParams;
    return 1;
}

void CKeyer::GetBackingColour(uint8_t* red, uint8_t* green, uint8_t* blue) {
    *red = ClampToByte(defaultParams.separationColor[0]);
    *green = ClampToByte(defaultParams.separationColor[1]);
    *blue = ClampToByte(defaultParams.separationColor[2]);
}
