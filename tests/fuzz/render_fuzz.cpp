// Render fuzzing: the input bytes become a frame and parameter values, the
// plug-in module renders them through the stand-in host under AddressSanitizer
// and UndefinedBehaviorSanitizer, and every render must keep the host
// contract: no host complaint, a known error code, the output untouched by a
// failed render, the background and key-in layers as they were, and the same
// bytes again from one thread.
//
// Input layout (a missing byte reads as 0, so a short input means defaults;
// tests/fuzz/seeds.py writes seeds in it):
//   width - 1, height - 1, flags, threads, row padding, record (1 byte each);
//   with a foreign record, its bytes (record % 24 of them)
//   per registered parameter: mode (0 keeps the value, 1-191 a valid value,
//   192-255 any value), then its value: 4 bytes (a colour 3, or 4 with its
//   alpha when not valid); a point is two such values, x and y
//   the rest: bytes written over the foreground's pixels
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"
#include "support/synthetic.h"

namespace {

enum Flag { kDraft = 1, kNoBackground = 2, kOtherSize = 4, kKeyIn = 8, kForeignRecord = 16 };
// Flags bits 5-7: the factors hosts use, and what none sends (an enlargement,
// a zero denominator, negative and zero numerators).
constexpr PF_RationalScale kDownsample[][2] = {{{1, 1}, {1, 1}}, {{1, 2}, {1, 2}}, {{1, 4}, {1, 4}},
                                               {{2, 3}, {2, 3}}, {{1, 2}, {1, 4}}, {{2, 1}, {2, 1}},
                                               {{1, 0}, {1, 1}}, {{-1, 2}, {0, 1}}};
[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "render_fuzz: %s\n", what.c_str());
    std::abort();
}

struct Bytes {
    const uint8_t *at, *end;
    uint8_t U8() { return at < end ? *at++ : 0; }
};

// Mode 0: nothing; a valid mode: a value from lo to hi; otherwise any value.
bool Pick(Bytes& in, int32_t lo, int32_t hi, int32_t* value) {
    const uint8_t mode = in.U8();
    if (mode == 0) return false;
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8)
        v |= uint32_t(in.U8()) << shift;
    *value = mode >= 192 ? int32_t(v) : int32_t(lo + int64_t(v % (int64_t(hi) - lo + 1)));
    return true;
}

void SetParam(harness::Host& host, const harness::ParamInfo& p, Bytes& in, int w, int h) {
    const PF_ParamDef& def = p.def;
    int32_t v, y;
    if (p.type == PF_Param_SLIDER && Pick(in, def.u.sd.valid_min, def.u.sd.valid_max, &v))
        host.SetSlider(p.index, v);
    if (p.type == PF_Param_FIX_SLIDER && Pick(in, def.u.fd.valid_min, def.u.fd.valid_max, &v))
        host.SetFixed(p.index, v);
    if (p.type == PF_Param_POPUP && Pick(in, 1, def.u.pd.num_choices, &v))
        host.SetPopup(p.index, v);
    if (p.type == PF_Param_CHECKBOX && Pick(in, 0, 1, &v)) // any stored value, not only 0 and 1
        const_cast<PF_ParamDef&>(host.Value(p.index)).u.bd.value = v;
    if (p.type == PF_Param_POINT && Pick(in, -8 * 65536, (w + 8) << 16, &v) &&
        Pick(in, -8 * 65536, (h + 8) << 16, &y))
        host.SetPointFixed(p.index, v, y);
    if (p.type != PF_Param_COLOR) return;
    if (const uint8_t mode = in.U8()) {
        const uint8_t r = in.U8(), g = in.U8(), b = in.U8();
        host.SetColor(p.index, r, g, b, mode < 192 ? 255 : in.U8());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    harness::Host probe; // registers the module's coverage before the first input
    probe.LoadModule(ORVO_MODULE_PATH);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, data + size};
    const int w = 1 + in.U8(), h = 1 + in.U8() % 144, flags = in.U8(), threads = 1 + in.U8() % 8;
    const int rowbytes = w * 4 + in.U8() % 41, record = in.U8();
    harness::Host host;
    host.LoadModule(ORVO_MODULE_PATH);
    host.SetThreadCount(uint32_t(threads));
    if (host.Setup() != PF_Err_NONE || !host.Problems().empty()) Fail("set-up failed");
    if (flags & kForeignRecord) { // another version's or effect's record: any size, any bytes
        host.DisposeHandle(host.SequenceHandle());
        host.SetSequenceHandle(host.NewHandle(size_t(record % 24)));
        for (int i = 0; i < record % 24; ++i)
            static_cast<uint8_t*>(*host.SequenceHandle())[i] = in.U8();
    }
    harness::Frame fg(w, h, rowbytes), bg(flags & kOtherSize ? w / 2 + 1 : w, h, rowbytes),
        keyIn(w, h, rowbytes), out = fg;
    synthetic::GreenScreen(fg.pixels.data(), w, h, rowbytes);
    synthetic::Background(bg.pixels.data(), bg.width, h, rowbytes);
    synthetic::KeyInMatte(keyIn.pixels.data(), w, h, rowbytes);
    for (const harness::ParamInfo& p : host.Params())
        SetParam(host, p, in, w, h);
    for (size_t i = 0; in.at < in.end && i < fg.pixels.size(); ++i)
        fg.pixels[i] = in.U8();
    host.SetLayer(ParamInput, &fg);
    host.SetLayer(ParamBackground, flags & kNoBackground ? nullptr : &bg);
    host.SetLayer(ParamKeyIn, flags & kKeyIn ? &keyIn : nullptr);
    host.SetQuality(!(flags & kDraft));
    host.ForceDownsample(kDownsample[flags >> 5][0], kDownsample[flags >> 5][1]);
    const harness::Frame original[3] = {fg, bg, keyIn}; // the effect may write its input layer
    auto render = [&] {
        fg = original[0];
        const harness::RenderResult r = host.Render(out);
        for (const std::string& p : host.Problems())
            Fail("host contract broken: " + p);
        if (r.err != PF_Err_NONE && r.err != kErrNoHandle && r.err != PF_Err_OUT_OF_MEMORY &&
            (r.err < PF_Err_INTERNAL_STRUCT_DAMAGED || r.err > PF_Err_BAD_CALLBACK_PARAM))
            Fail("render returned unknown error " + std::to_string(r.err));
        const bool refused = r.err || (r.outFlags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        if (refused &&
            std::any_of(out.pixels.begin(), out.pixels.end(), [](uint8_t b) { return b; }))
            Fail("a refused render (" + r.message + ") wrote the output");
        if (bg.pixels != original[1].pixels || keyIn.pixels != original[2].pixels)
            Fail("render changed the background or key-in layer");
        return out.pixels;
    };
    const std::vector<uint8_t> first = render();
    host.SetThreadCount(1);
    if (threads > 1 && render() != first)
        Fail("one thread gave other bytes than " + std::to_string(threads));
    if (host.Teardown() != PF_Err_NONE || !host.Problems().empty()) Fail("set-down failed");
    return 0;
}
