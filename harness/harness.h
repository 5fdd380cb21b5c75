// The stand-in host: loads the effect (a plug-in module or a linked-in entry
// function) and plays the host's side of the effect interface, so the effect
// can be driven by tests, the regression runs, the benchmark and the `orvo`
// command-line tool.
//
// Typical use:
//
//     harness::Host host;
//     host.LoadModule("build/src/host/AEORVO.so");   // or host.BindEntry(EffectMain)
//     host.Setup();                                   // global, parameter, sequence set-up
//     harness::Frame fg(1280, 720), bg(1280, 720), out(1280, 720);
//     ... fill fg and bg (alpha, red, green, blue bytes) ...
//     host.SetLayer(0, &fg);                          // the input layer
//     host.SetLayer(ParamBackground, &bg);
//     host.SetPopup(ParamShow, ShowComposite);
//     harness::RenderResult r = host.Render(out);     // r.err, r.outFlags, r.message
//     host.Teardown();                                // sequence set-down
//     if (!host.Problems().empty()) ...               // leaks, unbalanced checkouts, ...
//
// Parameter indices and popup values are in src/host/params.h.
//
// Every command method returns the effect's error code. Failures of the
// harness itself (a module that cannot be loaded, a bad index or a value of
// the wrong type) throw harness::Error. Misbehaviour of the effect towards
// the host (leaked or twice-disposed handles, unbalanced checkouts, bad
// handles passed in) is recorded in Problems() and never throws.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness/pipl.h"
#include "host/host_types.h"

namespace harness {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An 8-bit frame: 4 bytes per pixel in the order alpha, red, green, blue;
// rows `rowbytes` apart (rowbytes >= width * 4; any padding allowed).
struct Frame {
    int width = 0;
    int height = 0;
    int rowbytes = 0;
    std::vector<uint8_t> pixels; // rowbytes * height bytes

    Frame() = default;
    // rowbytes 0 means width * 4. Pixels (and padding) start as zero.
    Frame(int width, int height, int rowbytes = 0);

    uint8_t* Pixel(int x, int y) { return pixels.data() + size_t(y) * rowbytes + size_t(x) * 4; }
    const uint8_t* Pixel(int x, int y) const {
        return pixels.data() + size_t(y) * rowbytes + size_t(x) * 4;
    }
    void Fill(uint8_t alpha, uint8_t red, uint8_t green, uint8_t blue);
};

// One parameter as the effect registered it with add_param (index >= 1).
struct ParamInfo {
    int index = 0;
    PF_ParamDef def{}; // the record exactly as passed to add_param (text pointers cleared)
    std::string name;
    PF_ParamType type = 0;
    PF_ParamFlags flags = 0;
    std::string text;                 // popup: the choices joined by '|'; checkbox: the label
    std::vector<std::string> choices; // popup: the choices split at '|'
};

// The outcome of one render.
struct RenderResult {
    PF_Err err = 0;
    PF_OutFlags outFlags = 0;
    std::string message; // return_msg, filled only when out flag 0x100 is set
};

// The entry function of the effect.
using EntryFunc = PF_EffectEntry;

class Host {
  public:
    Host();
    ~Host(); // sets the sequence down if still set up, then unloads the module
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // --- Loading -----------------------------------------------------------
    // Loads a plug-in module (dlopen; LoadLibrary on Windows, where the entry
    // name comes from the module's PiPL after kind and version checks) and
    // binds its entry. Throws Error with a clear message on failure.
    void LoadModule(const std::string& path);
    // Binds a linked-in entry function (unit tests).
    void BindEntry(EntryFunc entry);
    bool HasEntry() const { return entry_ != nullptr; }
    // Threads the loaded module's renders use (0: one per processor) through
    // its `orvo_set_thread_count` export. Throws Error when the module has
    // none (a Windows module, or a linked-in entry).
    void SetThreadCount(uint32_t count);
    // The PiPL read from the loaded module (Windows only; empty elsewhere).
    const Pipl& ModulePipl() const { return pipl_; }

    // --- Commands ----------------------------------------------------------
    // The about text is returned in `text` (the out data's return_msg).
    PF_Err About(std::string* text);
    PF_Err GlobalSetup(); // records out_flags and my_version
    // Records the parameter definitions in order and sets every current
    // value to its registered initial value. The host's count of parameters
    // passed in is HostParamCount() (1: the input layer).
    PF_Err ParamsSetup();
    PF_Err SequenceSetup();   // keeps the handle the effect returns
    PF_Err SequenceResetup(); // passes the kept handle
    PF_Err SequenceSetdown(); // passes the kept handle; the host forgets it
    // GlobalSetup, ParamsSetup and SequenceSetup; stops at the first error.
    PF_Err Setup();
    // SequenceSetdown when a sequence handle is held.
    PF_Err Teardown();
    // Renders one frame into `output`, which is cleared to zero first. The
    // layers set with SetLayer are the input (index 0) and the layer values.
    RenderResult Render(Frame& output);
    // Any command with the current in data, out data, parameters and output
    // (null output allowed). Out data is reset before the call except
    // sequence_data; see OutData().
    PF_Err Command(PF_Cmd cmd, Frame* output = nullptr);

    // Results of global set-up and parameter set-up.
    PF_OutFlags GlobalOutFlags() const { return globalOutFlags_; }
    A_u_long Version() const { return version_; }
    // num_params as the effect left it in the out data after parameter set-up.
    A_long NumParams() const { return numParams_; }

    // --- Parameters ----------------------------------------------------------
    const std::vector<ParamInfo>& Params() const { return params_; } // [0] is index 1
    const ParamInfo& Param(int index) const;                         // index 1..n
    int FindParam(const std::string& name) const;                    // index, or -1
    // The value record delivered for `index` (0 = input layer) at the next
    // render; a point not set explicitly shows its default here only during
    // a render (it depends on the input layer's size).
    const PF_ParamDef& Value(int index) const;

    // Setters check the parameter's type and throw Error on a mismatch.
    void SetSlider(int index, int32_t value);
    void SetFixed(int index, PF_Fixed value);    // raw 16.16
    void SetFixedUnits(int index, double value); // e.g. 75.0 -> 0x004B0000 (rounded)
    void SetCheckbox(int index, bool on);
    void SetColor(int index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255);
    // In pixels of the (downsampled) input frame; stored as 16.16 (rounded).
    void SetPoint(int index, double x, double y);
    void SetPointFixed(int index, PF_Fixed x, PF_Fixed y);
    // Back to the registered default: a percentage of the input layer's size.
    void ResetPoint(int index);
    void SetPopup(int index, int32_t value); // 1-based
    // index 0 = the input (foreground) layer; other indices must be layer
    // parameters ("Background", "Key In"). A null frame means no layer. The
    // frame is not copied: keep it alive while rendering (the destructor does
    // not touch it).
    void SetLayer(int index, Frame* frame);

    // --- Render settings ---------------------------------------------------
    void SetQuality(bool high) { quality_ = high ? PF_Quality_HI : PF_Quality_LO; }
    void SetDownsample(A_long xNum, A_u_long xDen, A_long yNum, A_u_long yDen);
    void SetTime(A_long currentTime, A_long timeStep, A_u_long timeScale);
    void SetHostParamCount(A_long count) { hostParamCount_ = count; }
    A_long HostParamCount() const { return hostParamCount_; }

    // --- Fault injection (tests) -----------------------------------------------
    // The n-th add_param call (1-based) of the next parameter set-ups fails
    // with `err` (0 disables).
    void FailAddParamAt(int n, PF_Err err);
    // host_new_handle returns null while set.
    void FailNewHandle(bool fail) { failNewHandle_ = fail; }
    // checkout_param of `index` fails with `err` (0 disables).
    void FailCheckout(int index, PF_Err err);
    // The copy callback fails with `err` (0 disables).
    void FailCopy(PF_Err err) { failCopy_ = err; }
    // Downsampling factors as a broken host might send them (no checks, a
    // zero denominator included).
    void ForceDownsample(PF_RationalScale x, PF_RationalScale y) {
        downsampleX_ = x;
        downsampleY_ = y;
    }
    // Whether the utility callbacks offer host_get_handle_size (a host may
    // leave it null); on by default.
    void OfferHandleSize(bool on) { utils_.host_get_handle_size = on ? handleSize_ : nullptr; }

    // --- Host state and checks ---------------------------------------------
    PF_InData& InData() { return inData_; }
    PF_OutData& OutData() { return outData_; } // as the effect left it after the last command
    PF_Handle SequenceHandle() const { return sequence_; }
    void SetSequenceHandle(PF_Handle handle) { sequence_ = handle; }
    // The bytes of a live handle (empty if it is not a live handle).
    std::vector<uint8_t> HandleBytes(PF_Handle handle) const;
    // A handle allocated as the host would (for tests); tracked like the others.
    PF_Handle NewHandle(size_t size);
    void DisposeHandle(PF_Handle handle);
    size_t LiveHandles() const;
    int OutstandingCheckouts() const { return checkouts_; }
    int AddParamCalls() const { return addParamCalls_; }
    int CopyCalls() const { return copyCalls_; }
    // Everything the effect did wrong toward the host so far: double or
    // foreign disposes, locks of unknown handles, unbalanced checkouts after
    // a command, lock counts left over, handles leaked at set-down.
    const std::vector<std::string>& Problems() const { return problems_; }
    void ClearProblems() { problems_.clear(); }

    struct Impl; // the callbacks' view of the host (internal)

  private:
    void ResetOutData();
    PF_Err Call(PF_Cmd cmd, PF_LayerDef* output);
    PF_ParamDef& ValueRef(int index, PF_ParamType type);
    void NoteProblem(const std::string& text);

    friend struct Impl;
    std::unique_ptr<Impl> impl_;
    EntryFunc entry_ = nullptr;
    void* module_ = nullptr;
    void (*setThreadCount_)(uint32_t) = nullptr;
    Pipl pipl_;

    PF_InData inData_{};
    PF_OutData outData_{};
    PF_UtilCallbacks utils_{};
    PF_HandleSize (*handleSize_)(PF_Handle) = nullptr;
    PF_Handle sequence_ = nullptr;

    std::vector<ParamInfo> params_;
    std::vector<PF_ParamDef> values_; // [0] input layer, then one per registered parameter
    std::vector<bool> pointExplicit_;
    std::vector<Frame*> layers_; // frame per layer index (nullptr = none)

    PF_Quality quality_ = PF_Quality_HI;
    PF_RationalScale downsampleX_{1, 1};
    PF_RationalScale downsampleY_{1, 1};
    A_long currentTime_ = 0;
    A_long timeStep_ = 1;
    A_u_long timeScale_ = 25;
    A_long hostParamCount_ = 1;

    PF_OutFlags globalOutFlags_ = 0;
    A_u_long version_ = 0;
    A_long numParams_ = 0;

    int failAddParamAt_ = 0;
    PF_Err failAddParamErr_ = 0;
    bool failNewHandle_ = false;
    int failCheckoutIndex_ = -1;
    PF_Err failCheckoutErr_ = 0;
    PF_Err failCopy_ = 0;

    int addParamCalls_ = 0;
    int checkouts_ = 0;
    int copyCalls_ = 0;
    std::vector<std::string> problems_;
};

// 16.16 helpers.
inline PF_Fixed ToFixed(double units) {
    double scaled = units * 65536.0;
    return PF_Fixed(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}
inline double FromFixed(PF_Fixed value) {
    return value / 65536.0;
}

} // namespace harness
