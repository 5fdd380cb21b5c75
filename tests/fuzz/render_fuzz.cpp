// Render fuzzing: the input bytes choose a frame size, row padding, which
// layers exist and how big they are, their pixels, every parameter value
// (within the registered ranges and beyond them), quality, downsample factor
// (a zero denominator included), thread count and the sequence record the
// host hands back (the effect's own, a foreign one of any bytes, a short one,
// with or without the handle-size callback), and the plug-in module renders
// it through the stand-in host under AddressSanitizer and
// UndefinedBehaviorSanitizer. After every render the host must have no
// complaint, the result must be a known error code, a failed render must
// leave the output untouched, the layers the effect checks out must be left
// as they were, and a render repeated with the same settings must give the
// same bytes.
//
// Input layout (bytes read from the front; a missing byte reads as 0, so a
// short input means "defaults"; tests/fuzz/seeds.py writes seeds in it):
//   frame    width (2), height (1), flags (1), downsample (1), threads (1),
//            record (1)
//   layers   per layer (input, background, key-in, output): shape (1),
//            padding (1), pattern (1), seed (1)
//   params   per registered parameter: mode (1) and its value bytes
//   pokes    count (1), then x (2), y (1), layer (1), pixel (4) each
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"
#include "support/synthetic.h"

namespace {

using harness::Frame;

// Bounds that keep one input at a few milliseconds under the sanitizers
// while covering both sides of the small-frame threshold (120 pixels).
constexpr int kMaxWidth = 256, kMaxHeight = 144, kMaxPadding = 40, kMaxPokes = 64;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "render_fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// Reads the input from the front; past the end every read is 0.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() { return uint16_t(U8() | U8() << 8); }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    // A value from lo to hi inclusive (64-bit arithmetic, any int32 range).
    int32_t Range(int32_t lo, int32_t hi) {
        if (hi <= lo) return lo;
        return int32_t(int64_t(lo) + int64_t(U32() % (uint64_t(int64_t(hi) - lo) + 1)));
    }

  private:
    const uint8_t* data_;
    size_t size_, pos_ = 0;
};

// A value a host never sends for a parameter whose valid range is lo..hi.
int32_t OutOfRange(Bytes& in, int32_t lo, int32_t hi) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const int32_t picks[] = {lo == kMin ? lo : lo - 1, hi == kMax ? hi : hi + 1, kMin, kMax, -1, 0};
    const uint8_t k = in.U8() % 7;
    return k < std::size(picks) ? picks[k] : int32_t(in.U32());
}

// Sets parameter `info` from the input. Mode 0 keeps the current value,
// modes 1-191 pick a value the definition allows, 192-255 one it does not.
void SetParam(harness::Host& host, const harness::ParamInfo& info, Bytes& in, int width,
              int height) {
    const uint8_t mode = in.U8();
    if (mode == 0) return;
    const bool valid = mode < 192;
    auto pick = [&](int32_t lo, int32_t hi) {
        return valid ? in.Range(lo, hi) : OutOfRange(in, lo, hi);
    };
    const PF_ParamDef& def = info.def;
    switch (info.type) {
    case PF_Param_SLIDER:
        host.SetSlider(info.index, pick(def.u.sd.valid_min, def.u.sd.valid_max));
        break;
    case PF_Param_FIX_SLIDER:
        host.SetFixed(info.index, pick(def.u.fd.valid_min, def.u.fd.valid_max));
        break;
    case PF_Param_CHECKBOX:
        if (valid)
            host.SetCheckbox(info.index, mode & 1);
        else // a stored non-zero other than 1
            const_cast<PF_ParamDef&>(host.Value(info.index)).u.bd.value = OutOfRange(in, 0, 1);
        break;
    case PF_Param_COLOR: {
        const uint8_t r = in.U8(), g = in.U8(), b = in.U8();
        host.SetColor(info.index, r, g, b, valid ? 255 : in.U8());
        break;
    }
    case PF_Param_POINT: {
        // Valid: anywhere on the frame or a little beyond, with a fraction.
        const int32_t margin = valid ? 8 * 65536 : 0;
        const int32_t x = pick(-margin, width * 65536 + margin);
        host.SetPointFixed(info.index, x, pick(-margin, height * 65536 + margin));
        break;
    }
    case PF_Param_POPUP:
        host.SetPopup(info.index, pick(1, def.u.pd.num_choices));
        break;
    default:
        break; // layers are chosen with the frames
    }
}

// How a layer relates to the input frame.
enum Shape { kAbsent, kSameSize, kOtherWidth, kOtherHeight, kOtherSize, kShapeCount };

struct LayerChoice {
    Shape shape = kSameSize;
    int padding = 0; // extra row bytes (not always a multiple of 4)
    uint8_t pattern = 0, seed = 0;
};

LayerChoice ReadLayer(Bytes& in) {
    LayerChoice s;
    s.shape = Shape(in.U8() % kShapeCount);
    // Mostly whole pixels of padding; sometimes a byte count a host would not use.
    const uint8_t pad = in.U8();
    s.padding = pad < 224 ? (pad % (kMaxPadding / 4 + 1)) * 4 : pad % (kMaxPadding + 1);
    s.pattern = in.U8();
    s.seed = in.U8();
    return s;
}

void FillPattern(Frame& f, uint8_t pattern, uint8_t seed) {
    uint8_t* d = f.pixels.data();
    switch (pattern % 8) {
    case 0:
        return synthetic::GreenScreen(d, f.width, f.height, f.rowbytes, seed);
    case 1:
        return synthetic::Background(d, f.width, f.height, f.rowbytes, seed);
    case 2:
        return synthetic::KeyInMatte(d, f.width, f.height, f.rowbytes);
    case 3: { // noise in every byte, padding included
        synthetic::Lcg rng(seed);
        for (uint8_t& b : f.pixels)
            b = uint8_t(rng.Next());
        return;
    }
    case 4: // one flat colour
        return f.Fill(uint8_t(seed * 37), seed, uint8_t(255 - seed), uint8_t(seed * 5));
    case 5: // extremes: a checker of black and white, alpha 0 or 255
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                std::memset(f.Pixel(x, y), ((x ^ y ^ seed) & 1) ? 255 : 0, 4);
        return;
    case 6: // pure key-like green
        return f.Fill(255, 0, 255, 0);
    default: // all zero
        return;
    }
}

// The frame `choice` asks for beside an input of width x height; null if absent.
std::unique_ptr<Frame> MakeLayer(const LayerChoice& choice, int width, int height) {
    if (choice.shape == kAbsent) return nullptr;
    auto other = [&](int size, int limit) {
        const int o = 1 + (size + 1 + choice.seed) % limit;
        return o == size ? (size % limit) + 1 : o;
    };
    const int w =
        choice.shape == kOtherWidth || choice.shape == kOtherSize ? other(width, kMaxWidth) : width;
    const int h = choice.shape == kOtherHeight || choice.shape == kOtherSize
                      ? other(height, kMaxHeight)
                      : height;
    auto f = std::make_unique<Frame>(w, h, w * 4 + choice.padding);
    FillPattern(*f, choice.pattern, choice.seed);
    return f;
}

constexpr PF_Err kKnownResults[] = {PF_Err_NONE,
                                    kErrNoHandle,
                                    PF_Err_OUT_OF_MEMORY,
                                    PF_Err_INTERNAL_STRUCT_DAMAGED,
                                    PF_Err_INVALID_INDEX,
                                    PF_Err_UNRECOGNIZED_PARAM_TYPE,
                                    PF_Err_INVALID_CALLBACK,
                                    PF_Err_BAD_CALLBACK_PARAM};

void CheckProblems(const harness::Host& host, const char* when) {
    if (host.Problems().empty()) return;
    std::string text = std::string("host contract broken after ") + when + ":";
    for (const std::string& p : host.Problems())
        text += "\n  " + p;
    Fail(text);
}

struct DownsampleFactor {
    PF_RationalScale x, y;
};
// The factors hosts use, an uneven pair, and what no host sends: an
// enlargement, zero denominators, a zero or negative numerator.
constexpr DownsampleFactor kDownsample[] = {
    {{1, 1}, {1, 1}},   {{1, 2}, {1, 2}}, {{1, 3}, {1, 3}}, {{1, 4}, {1, 4}}, {{1, 8}, {1, 8}},
    {{1, 16}, {1, 16}}, {{2, 3}, {2, 3}}, {{1, 2}, {1, 4}}, {{2, 1}, {2, 1}}, {{1, 0}, {1, 1}},
    {{1, 1}, {1, 0}},   {{0, 1}, {0, 1}}, {{-1, 2}, {1, 2}}};
constexpr uint32_t kThreads[] = {1, 2, 3, 8};

const char* g_module = nullptr;
bool g_verbose = false; // ORVO_FUZZ_VERBOSE: one line per render (for reproducers)

// What the flags byte asks for.
enum Flag {
    kDraft = 1,          // low quality
    kRepeat = 2,         // render twice and compare
    kResetup = 4,        // a sequence re-set-up between the renders
    kOtherKey = 8,       // change the key colour before the second render
    kForeignRecord = 16, // replace the sequence record with RecordSize() bytes
    kNoHandleSize = 32,  // the host offers no handle-size callback
};

// Everything one input decides, read from its front in this order.
struct Case {
    explicit Case(Bytes& in)
        : width(1 + in.U16() % kMaxWidth), height(1 + in.U8() % kMaxHeight), flags(in.U8()),
          downsample(kDownsample[in.U8() % std::size(kDownsample)]),
          threads(kThreads[in.U8() % std::size(kThreads)]), recordSeed(in.U8()) {
        for (LayerChoice* l : {&input, &background, &keyIn, &output})
            *l = ReadLayer(in);
        // The input is always there at its own size; the output matches it, as
        // a host allocates it, except in one case of eight.
        input.shape = kSameSize;
        if (output.shape == kAbsent || (output.seed & 7) != 0) output.shape = kSameSize;
    }
    // A host that cannot tell a handle's size is trusted to hand back a
    // record of the effect's size; one that can may hand back any size.
    int RecordSize() const {
        return flags & kNoHandleSize ? int(sizeof(SequenceRecord)) : recordSeed % 24;
    }
    const int width, height;
    const uint8_t flags;
    const DownsampleFactor downsample;
    const uint32_t threads;
    const uint8_t recordSeed;
    LayerChoice input, background, keyIn, output;
};

void Poke(Bytes& in, Frame* frames[], size_t count) {
    const int pokes = in.U8() % (kMaxPokes + 1);
    for (int i = 0; i < pokes; ++i) {
        const int x = in.U16(), y = in.U8();
        Frame* f = frames[in.U8() % count];
        const uint8_t px[4] = {in.U8(), in.U8(), in.U8(), in.U8()};
        if (f && f->width > 0 && f->height > 0)
            std::memcpy(f->Pixel(x % f->width, y % f->height), px, 4);
    }
}

// Renders and applies the checks every render must pass.
harness::RenderResult CheckedRender(harness::Host& host, Frame& out, const Frame* background,
                                    const Frame* keyIn) {
    const std::vector<uint8_t> bgBefore = background ? background->pixels : std::vector<uint8_t>();
    const std::vector<uint8_t> keyInBefore = keyIn ? keyIn->pixels : std::vector<uint8_t>();
    const harness::RenderResult r = host.Render(out);
    if (g_verbose)
        std::fprintf(stderr, "render %dx%d show %d quality %d: err %d flags %#x %s\n", out.width,
                     out.height, int(host.Value(ParamShow).u.pd.value), int(host.InData().quality),
                     int(r.err), unsigned(r.outFlags), r.message.c_str());
    CheckProblems(host, "render");
    if (std::find(std::begin(kKnownResults), std::end(kKnownResults), r.err) ==
        std::end(kKnownResults))
        Fail("render returned unknown error " + std::to_string(r.err));
    const bool untouched =
        std::all_of(out.pixels.begin(), out.pixels.end(), [](uint8_t b) { return b == 0; });
    if (r.err != PF_Err_NONE && !untouched)
        Fail("render failed with " + std::to_string(r.err) + " but wrote the output");
    if ((r.outFlags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) && !untouched)
        Fail("render refused the frame (" + r.message + ") but wrote the output");
    if (background && background->pixels != bgBefore) Fail("render changed the background layer");
    if (keyIn && keyIn->pixels != keyInBefore) Fail("render changed the key-in layer");
    return r;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    g_module = std::getenv("ORVO_FUZZ_MODULE");
    if (!g_module || !*g_module) g_module = ORVO_MODULE_PATH;
    g_verbose = std::getenv("ORVO_FUZZ_VERBOSE") != nullptr;
    // Loaded once here so its coverage counters are registered before the
    // first input; every host below shares the mapping.
    harness::Host probe;
    probe.LoadModule(g_module);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    const Case c(in);
    harness::Host host;
    host.LoadModule(g_module);
    host.SetThreadCount(c.threads);
    host.OfferHandleSize(!(c.flags & kNoHandleSize));
    if (host.Setup() != PF_Err_NONE) Fail("set-up failed");
    CheckProblems(host, "set-up");
    if (c.flags & kForeignRecord) {
        // A record of another version or another effect: any size, any bytes.
        host.DisposeHandle(host.SequenceHandle());
        PF_Handle record = host.NewHandle(size_t(c.RecordSize()));
        synthetic::Lcg rng(c.recordSeed);
        for (int i = 0; i < c.RecordSize(); ++i)
            static_cast<uint8_t*>(*record)[i] = uint8_t(rng.Next());
        host.SetSequenceHandle(record);
    }

    std::unique_ptr<Frame> input = MakeLayer(c.input, c.width, c.height);
    std::unique_ptr<Frame> background = MakeLayer(c.background, c.width, c.height);
    std::unique_ptr<Frame> keyIn = MakeLayer(c.keyIn, c.width, c.height);
    std::unique_ptr<Frame> out = MakeLayer(c.output, c.width, c.height);
    for (const harness::ParamInfo& info : host.Params())
        SetParam(host, info, in, c.width, c.height);
    Frame* frames[] = {input.get(), background.get(), keyIn.get()};
    Poke(in, frames, std::size(frames));
    host.SetLayer(ParamInput, input.get());
    host.SetLayer(ParamBackground, background.get());
    host.SetLayer(ParamKeyIn, keyIn.get());
    host.SetQuality(!(c.flags & kDraft));
    host.ForceDownsample(c.downsample.x, c.downsample.y);

    // The effect may write its input layer, so a repeat starts from a copy.
    const Frame original = *input;
    const harness::RenderResult first = CheckedRender(host, *out, background.get(), keyIn.get());
    if (c.flags & kRepeat) {
        const std::vector<uint8_t> firstBytes = out->pixels;
        if (c.flags & kResetup) {
            if (host.SequenceResetup() != PF_Err_NONE) Fail("sequence re-set-up failed");
            CheckProblems(host, "sequence re-set-up");
        }
        if (c.flags & kOtherKey) {
            // Another key colour and back: the cached backing colour is
            // measured again and must come out the same.
            const PF_Pixel key = host.Value(ParamChromaColor).u.cd.value;
            host.SetColor(ParamChromaColor, uint8_t(key.red ^ 0x80), key.green, key.blue);
            *input = original;
            CheckedRender(host, *out, background.get(), keyIn.get());
            host.SetColor(ParamChromaColor, key.red, key.green, key.blue, key.alpha);
        }
        *input = original;
        const harness::RenderResult second =
            CheckedRender(host, *out, background.get(), keyIn.get());
        if (second.err != first.err || second.outFlags != first.outFlags ||
            second.message != first.message)
            Fail("the same render gave another result");
        if (out->pixels != firstBytes) Fail("the same render gave other bytes");
    }
    if (host.Teardown() != PF_Err_NONE) Fail("sequence set-down failed");
    CheckProblems(host, "sequence set-down");
    return 0;
}
