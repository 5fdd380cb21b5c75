// Running short of memory: every allocation of a render may fail (the test
// process's operator new and calloc fail the n-th one while the effect runs).
// A render then returns 0
// with the very bytes of an unhindered render, or PF_Err_OUT_OF_MEMORY with
// the output frame as it was; the backing colour measured short of memory is
// never cached.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"
#include "support/synthetic.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVO_SANITIZED 1
#else
#define ORVO_SANITIZED 0
#endif

namespace faults {

std::atomic<bool> armed{false};
std::atomic<long> count{0};
std::atomic<long> failAt{0}; // the one allocation that fails (0: none)
std::atomic<long> every{0};  // or every n-th one (0: off)
thread_local bool renderThread = false;

bool ShouldFail() {
    if (!armed.load(std::memory_order_relaxed)) return false;
    const long n = count.fetch_add(1) + 1;
    const long e = every.load();
    return e > 0 ? n % e == 0 : n == failAt.load();
}

// The entry as the host sees it, with the faults armed only inside a render.
PF_Err Entry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
             void* extra) {
    if (cmd == PF_Cmd_RENDER) {
        count = 0;
        armed = true;
        renderThread = true;
    }
    const PF_Err err = EffectMain(cmd, in, out, params, output, extra);
    armed = false;
    renderThread = false;
    return err;
}

} // namespace faults

// Every plain form is replaced, so that no allocation of one kind is freed
// by another (sanitizers replace the forms left out).
void* Allocate(std::size_t size) noexcept {
    return faults::ShouldFail() ? nullptr : std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

#if !ORVO_SANITIZED
// Image pixels come from calloc, on the thread that renders. (Worker threads
// are left alone: the C library gives up at once when it cannot register a
// thread's destructors.)
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* calloc(size_t count, size_t size) {
    if (faults::renderThread && faults::ShouldFail()) return nullptr;
    return __libc_calloc(count, size);
}
#endif

namespace {

using harness::Frame;

// A keyed shot that reaches every allocating pass: a composite at high
// quality with a key-in layer, the crop, shadow smoothing and both colour
// corrections.
struct Shot {
    harness::Host host;
    Frame fg, bg, keyIn, out;

    explicit Shot(int w, int h) : fg(w, h), bg(w, h), keyIn(w, h), out(w, h) {
        host.BindEntry(faults::Entry);
        if (host.Setup() != 0) throw harness::Error("set-up failed");
        synthetic::GreenScreen(fg.pixels.data(), w, h, fg.rowbytes);
        synthetic::Background(bg.pixels.data(), w, h, bg.rowbytes);
        synthetic::KeyInMatte(keyIn.pixels.data(), w, h, keyIn.rowbytes);
        host.SetLayer(0, &fg);
        host.SetLayer(ParamBackground, &bg);
        host.SetLayer(ParamKeyIn, &keyIn);
        host.SetPopup(ParamShow, ShowComposite);
        host.SetPopup(ParamKeyOut, KeyOutKeyInMinusFg);
        host.SetColor(ParamChromaColor, 40, 190, 60);
        host.SetCheckbox(ParamCrop, true);
        host.SetPoint(ParamCropPosition, 4, 3);
        host.SetSlider(ParamCropSize, 400);
        host.SetCheckbox(ParamSmoothBgShadow, true);
        host.SetSlider(ParamTranspEdge, 3);
        host.SetPopup(ParamBgColorCorrection, CorrectionSaturate);
        host.SetSlider(ParamBgCcStrength, 40);
        host.SetPopup(ParamFgColorCorrection, CorrectionBlend);
        host.SetSlider(ParamFgCcStrength, 30);
    }
    ~Shot() { host.Teardown(); }

    // Renders over an output holding `pattern`, with the backing colour
    // measured anew; the bytes of the output afterwards.
    PF_Err Render(uint8_t pattern) {
        host.SequenceResetup();
        std::fill(out.pixels.begin(), out.pixels.end(), pattern);
        return host.Command(PF_Cmd_RENDER, &out);
    }
    bool Untouched(uint8_t pattern) const {
        for (uint8_t b : out.pixels)
            if (b != pattern) return false;
        return true;
    }
};

TEST(RenderMemory, EveryFailedAllocationEndsTheFrameCleanly) {
    Shot shot(128, 64);
    ASSERT_EQ(shot.Render(0x5A), 0);
    const std::vector<uint8_t> reference = shot.out.pixels;
    const long allocations = faults::count.load();
    ASSERT_GT(allocations, 20);

    // Fail the n-th allocation for every n the render makes (and a few more,
    // as worker threads interleave), then every n-th for some n.
    int failed = 0;
    auto check = [&](const char* what, long n) {
        const PF_Err err = shot.Render(0x5A);
        if (err == PF_Err_OUT_OF_MEMORY) {
            ++failed;
            EXPECT_TRUE(shot.Untouched(0x5A)) << what << n << ": output written";
        } else {
            ASSERT_EQ(err, 0) << what << n;
            EXPECT_TRUE(shot.out.pixels == reference) << what << n << ": other bytes";
        }
        faults::failAt = 0;
        faults::every = 0;
        // Nothing measured short of memory was kept for the next frame.
        shot.host.Command(PF_Cmd_RENDER, &shot.out);
        EXPECT_TRUE(shot.out.pixels == reference) << what << n << ": the next frame differs";
    };
    // (Sanitized builds, ten times slower, take every seventh.)
    const long step = ORVO_SANITIZED ? 7 : 1;
    for (long n = 1; n <= allocations + 8; n += step) {
        faults::failAt = n;
        check("allocation ", n);
    }
    for (long n : {2, 3, 5, 17}) {
        faults::every = n;
        check("every ", n);
    }
    EXPECT_GE(failed, allocations / step / 2) << "most allocations are needed";
    EXPECT_TRUE(shot.host.Problems().empty()) << shot.host.Problems().front();
}

} // namespace
