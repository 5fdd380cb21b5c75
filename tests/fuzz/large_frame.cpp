// Large-frame check: renders one frame of the given size through the stand-in
// host and the plug-in module, and prints the result, the time and the peak
// resident memory, before and after the render, as one line:
//
//     large_frame WIDTH HEIGHT [draft]
//
// The frames are a synthetic green-screen plate over a background (tiled);
// "Show" is "Composite" over the whole frame (high quality unless `draft`).
// Exit status: 0 when the render succeeded, 3 when it failed cleanly (an
// error code or a message, no host complaint, the output left as it was), 4
// when the host could not allocate its frames, 1 for anything else. Used by
// `make memory` (under a hard address-space limit for the too-big case).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "harness/harness.h"
#include "host/params.h"
#include "support/synthetic.h"

namespace {

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // ru_maxrss is in KiB on Linux
}

// Fills `frame` with copies of one 1920 x 1080 tile of `pattern` (a whole
// 16K frame of synthetic material takes minutes to compute).
template <typename Pattern> void Tile(harness::Frame& frame, Pattern pattern) {
    const int tw = std::min(frame.width, 1920), th = std::min(frame.height, 1080);
    harness::Frame tile(tw, th);
    pattern(tile.pixels.data(), tw, th, tile.rowbytes, 1);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; x += tw)
            std::memcpy(frame.Pixel(x, y), tile.Pixel(0, y % th),
                        size_t(std::min(tw, frame.width - x)) * 4);
}

int Run(int width, int height, bool draft) {
    harness::Host host;
    host.LoadModule(ORVO_MODULE_PATH);
    host.SetThreadCount(0); // one per processor
    if (host.Setup() != PF_Err_NONE) {
        std::fprintf(stderr, "large_frame: set-up failed\n");
        return 1;
    }
    harness::Frame fg(width, height), bg(width, height), out(width, height);
    Tile(fg, synthetic::GreenScreen);
    Tile(bg, synthetic::Background);
    host.SetLayer(ParamInput, &fg);
    host.SetLayer(ParamBackground, &bg);
    host.SetColor(ParamChromaColor, 40, 190, 60);
    host.SetPopup(ParamShow, ShowComposite);
    host.SetCheckbox(ParamCrop, false); // key the whole frame
    host.SetQuality(!draft);

    std::fill(out.pixels.begin(), out.pixels.end(), uint8_t(1)); // touch every page
    const double before = PeakMiB();
    const auto start = std::chrono::steady_clock::now();
    const harness::RenderResult r = host.Render(out);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const double after = PeakMiB();
    host.Teardown();

    std::printf("%dx%d %s: err %d%s%s, %.2f s, peak RSS %.1f MiB before the render (the host's "
                "three frames), %.1f MiB after (+%.1f MiB)\n",
                width, height, draft ? "draft" : "high quality", int(r.err),
                r.message.empty() ? "" : ", message: ", r.message.c_str(), seconds.count(), before,
                after, after - before);
    for (const std::string& p : host.Problems())
        std::printf("host complaint: %s\n", p.c_str());
    if (!host.Problems().empty()) return 1;
    if (r.err == PF_Err_NONE && r.message.empty()) return 0;
    // A refused frame must leave the output as the host cleared it.
    if (std::any_of(out.pixels.begin(), out.pixels.end(), [](uint8_t b) { return b != 0; })) {
        std::printf("the failed render wrote the output\n");
        return 1;
    }
    return 3;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: large_frame WIDTH HEIGHT [draft]\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const bool draft = argc > 3 && std::strcmp(argv[3], "draft") == 0;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
        std::fprintf(stderr, "large_frame: width and height must be 1 to 65535\n");
        return 2;
    }
    try {
        return Run(width, height, draft);
    } catch (const std::bad_alloc&) { // the host's own frames did not fit: nothing was rendered
        std::printf("%dx%d: the host could not allocate its frames\n", width, height);
        return 4;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "large_frame: %s\n", e.what());
        return 1;
    }
}
