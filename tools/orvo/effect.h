// The real plug-in module, loaded and driven through the stand-in host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "harness/harness.h"
#include "params.h"

namespace orvo {

// Where the plug-in module is: $ORVO_PLUGIN, else AEORVO.so next to the
// executable, else the path of the build that made this tool.
std::string FindPluginModule();

class Effect {
  public:
    // Loads the module and runs global, parameter and sequence set-up (one
    // sequence per run, as the host does for one layer). Throws a failure.
    explicit Effect(const std::string& modulePath);
    ~Effect();

    std::string About();
    // The parameters as the effect registered them, indices 1..40.
    const std::vector<ParamInfo>& Params() const;

    // The effect's sequence record (the bytes of its sequence handle): it
    // carries the key colour and the backing colour measured for it from frame
    // to frame. Setting it restores a record read before, byte for byte
    // (a failure when the size differs from the live record's).
    std::vector<uint8_t> SequenceRecord() const;
    void SetSequenceRecord(const std::vector<uint8_t>& bytes);
    // A fresh sequence, as for a new layer: nothing measured yet.
    void RestartSequence();

    struct Result {
        int err = 0;
        std::string message; // non-empty when the effect asked the host to show it
    };
    // Renders one frame: `out` is cleared to zero and filled as the effect
    // leaves it. `bg` and `keyIn` may be null (no layer chosen). Points of
    // `params` are converted for a frame `fullWidth` x `fullHeight` before the
    // downsample `factor` (the frames given here are already downsampled).
    Result Render(const Frame& fg, const Frame* bg, const Frame* keyIn, const ParamSet& params,
                  int fullWidth, int fullHeight, int factor, bool draft, int frameIndex,
                  Frame* out);

  private:
    std::unique_ptr<harness::Host> host_;
    // The host-side layers and output, kept from frame to frame so that their
    // memory is reused instead of faulted in afresh for every frame.
    harness::Frame hostFg_, hostBg_, hostKeyIn_, hostOut_;
};

} // namespace orvo
