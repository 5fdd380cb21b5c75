// Large-frame check: renders one frame of the given size through the stand-in
// host and the plug-in module, and prints the result, the time and the peak
// resident memory before and after the render, as one line:
//
//     large_frame WIDTH HEIGHT
//
// A synthetic green-screen plate over a background (one 1920 x 1080 tile
// repeated: a whole 16K frame of it takes minutes to compute), "Composite"
// over the whole frame, high quality. Exit status: 0 when the render succeeded, 3 when it
// failed cleanly (an error code or a message, no host complaint, the output
// left as it was), 4 when the host could not allocate its frames, 1 for
// anything else. Used by `make memory` (under an address-space limit).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "harness/harness.h"
#include "host/params.h"
#include "support/synthetic.h"

namespace {

void Tile(harness::Frame& frame, void (*pattern)(uint8_t*, int, int, int, uint32_t)) {
    const int tw = std::min(frame.width, 1920), th = std::min(frame.height, 1080);
    harness::Frame tile(tw, th);
    pattern(tile.pixels.data(), tw, th, tile.rowbytes, 1);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; x += tw)
            std::memcpy(frame.Pixel(x, y), tile.Pixel(0, y % th),
                        size_t(std::min(tw, frame.width - x)) * 4);
}

} // namespace

int main(int argc, char** argv) try {
    const int width = argc > 2 ? std::atoi(argv[1]) : 0, height = argc > 2 ? std::atoi(argv[2]) : 0;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return std::fprintf(stderr, "usage: large_frame WIDTH HEIGHT (1 to 65535)\n"), 2;
    harness::Host host;
    host.LoadModule(ORVO_MODULE_PATH);
    host.SetThreadCount(0);                       // one per processor
    auto peakMiB = [usage = rusage{}]() mutable { // KiB on Linux
        return getrusage(RUSAGE_SELF, &usage), usage.ru_maxrss / 1024.0;
    };
    if (host.Setup() != PF_Err_NONE) return std::fprintf(stderr, "large_frame: set-up failed\n"), 1;
    harness::Frame fg(width, height), bg(width, height), out(width, height);
    Tile(fg, synthetic::GreenScreen);
    Tile(bg, synthetic::Background);
    host.SetLayer(ParamInput, &fg);
    host.SetLayer(ParamBackground, &bg);
    host.SetColor(ParamChromaColor, 40, 190, 60);
    host.SetPopup(ParamShow, ShowComposite);
    host.SetCheckbox(ParamCrop, false);
    out.Fill(1, 1, 1, 1); // touch every page
    const double before = peakMiB();
    const auto start = std::chrono::steady_clock::now();
    const harness::RenderResult r = host.Render(out);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    host.Teardown();
    // Before the render: the host's three frames.
    std::printf("%dx%d: err %d%s%s, %.2f s, peak RSS %.1f MiB before the render, %.1f MiB after\n",
                width, height, int(r.err),
                r.message.empty() ? "" : ", message: ", r.message.c_str(), seconds.count(), before,
                peakMiB());
    for (const std::string& p : host.Problems())
        std::printf("host complaint: %s\n", p.c_str());
    if (!host.Problems().empty()) return 1;
    // A refused frame must leave the output as the host cleared it.
    if (r.err == PF_Err_NONE && r.message.empty()) return 0;
    return std::any_of(out.pixels.begin(), out.pixels.end(), [](uint8_t b) { return b; }) ? 1 : 3;
} catch (const std::bad_alloc&) { // the host's own frames did not fit: nothing was rendered
    std::printf("the host could not allocate its frames\n");
    return 4;
} catch (const std::exception& e) {
    std::fprintf(stderr, "large_frame: %s\n", e.what());
    return 1;
}
