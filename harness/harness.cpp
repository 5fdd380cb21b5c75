#include "harness/harness.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/win32.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace harness {

Frame::Frame(int w, int h, int rb) : width(w), height(h), rowbytes(rb ? rb : w * 4) {
    if (w < 0 || h < 0 || rowbytes < w * 4) throw Error("frame: bad size or row bytes");
    pixels.assign(size_t(rowbytes) * size_t(h), 0);
}

void Frame::Fill(uint8_t alpha, uint8_t red, uint8_t green, uint8_t blue) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = Pixel(x, y);
            p[0] = alpha;
            p[1] = red;
            p[2] = green;
            p[3] = blue;
        }
}

namespace {
thread_local Host* g_current = nullptr; // the host whose command is running

const char* CommandName(PF_Cmd cmd) {
    static const char* const names[] = {"about",
                                        "global set-up",
                                        "unused",
                                        "global set-down",
                                        "parameter set-up",
                                        "sequence set-up",
                                        "sequence re-set-up",
                                        "sequence flatten",
                                        "sequence set-down",
                                        "dialog",
                                        "frame set-up",
                                        "render"};
    return cmd >= 0 && cmd <= 11 ? names[cmd] : "command";
}

std::string MessageText(const char* msg, size_t size) {
    size_t n = 0;
    while (n < size && msg[n] != 0)
        ++n;
    return std::string(msg, n);
}

std::string HandleText(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", handle);
    return text;
}
} // namespace

// Handle storage and the callbacks handed to the effect.
struct Host::Impl {
    struct HandleRecord {
        void* master = nullptr; // the PF_Handle points here
        size_t size = 0;
        int locks = 0;
        bool live = true;
        bool testMade = false; // made by NewHandle, not by the effect
    };
    std::map<PF_Handle, std::unique_ptr<HandleRecord>> handles;
    std::vector<PF_ParamDef> delivered; // the records of the running command
    std::vector<PF_ParamDef*> pointers;

    static Host* FromRef(PF_ProgPtr ref) { return static_cast<Host*>(ref); }

    HandleRecord* Find(PF_Handle handle) {
        auto it = handles.find(handle);
        return it == handles.end() ? nullptr : it->second.get();
    }

    PF_Handle Allocate(size_t size, bool testMade) {
        auto record = std::make_unique<HandleRecord>();
        record->master = std::calloc(size ? size : 1, 1);
        if (!record->master) return nullptr;
        record->size = size;
        record->testMade = testMade;
        PF_Handle handle = &record->master;
        handles[handle] = std::move(record);
        return handle;
    }

    static PF_Handle NewHandle(PF_HandleSize size) {
        Host* host = g_current;
        if (!host || host->failNewHandle_) return nullptr;
        if (uint64_t(size) > (uint64_t(1) << 32)) return nullptr;
        return host->impl_->Allocate(size_t(size), false);
    }

    static void* LockHandle(PF_Handle handle) {
        Host* host = g_current;
        if (!host) return nullptr;
        HandleRecord* r = host->impl_->Find(handle);
        if (!r || !r->live) {
            host->NoteProblem("lock of " + std::string(r ? "a disposed" : "an unknown") +
                              " handle " + HandleText(handle));
            return nullptr;
        }
        ++r->locks;
        return r->master;
    }

    static void UnlockHandle(PF_Handle handle) {
        Host* host = g_current;
        if (!host) return;
        HandleRecord* r = host->impl_->Find(handle);
        if (!r || !r->live) {
            host->NoteProblem("unlock of " + std::string(r ? "a disposed" : "an unknown") +
                              " handle " + HandleText(handle));
            return;
        }
        if (r->locks == 0) {
            host->NoteProblem("unlock of a handle that is not locked");
            return;
        }
        --r->locks;
    }

    static void DisposeHandle(PF_Handle handle) {
        Host* host = g_current;
        if (!host) return;
        host->DisposeHandle(handle);
    }

    static PF_HandleSize GetHandleSize(PF_Handle handle) {
        Host* host = g_current;
        if (!host) return 0;
        HandleRecord* r = host->impl_->Find(handle);
        if (!r || !r->live) {
            host->NoteProblem("size of " + std::string(r ? "a disposed" : "an unknown") +
                              " handle " + HandleText(handle));
            return 0;
        }
        return PF_HandleSize(r->size);
    }

    static PF_Err Checkout(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_ParamDef* param) {
        Host* host = FromRef(ref);
        if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
        Impl& impl = *host->impl_;
        if (index < 0 || size_t(index) >= impl.delivered.size()) return PF_Err_INVALID_INDEX;
        if (index == host->failCheckoutIndex_ && host->failCheckoutErr_ != 0)
            return host->failCheckoutErr_;
        if (what_time != host->inData_.current_time || time_step != host->inData_.time_step ||
            time_scale != host->inData_.time_scale)
            host->NoteProblem("checkout of parameter " + std::to_string(index) +
                              " at another time than the current one");
        *param = impl.delivered[size_t(index)];
        ++host->checkouts_;
        return PF_Err_NONE;
    }

    static PF_Err Checkin(PF_ProgPtr ref, PF_ParamDef* param) {
        Host* host = FromRef(ref);
        if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
        if (host->checkouts_ <= 0) {
            host->NoteProblem("checkin without a checkout");
            return PF_Err_NONE;
        }
        --host->checkouts_;
        return PF_Err_NONE;
    }

    static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
        Host* host = FromRef(ref);
        if (!host || !def) return PF_Err_BAD_CALLBACK_PARAM;
        ++host->addParamCalls_;
        if (host->failAddParamAt_ == host->addParamCalls_ && host->failAddParamErr_ != 0)
            return host->failAddParamErr_;
        if (index != -1)
            host->NoteProblem("add_param with index " + std::to_string(index) + " instead of -1");
        ParamInfo info;
        info.index = int(host->params_.size()) + 1;
        info.def = *def;
        if (std::memchr(def->name, 0, sizeof def->name) == nullptr) {
            host->NoteProblem("parameter " + std::to_string(info.index) +
                              ": name without terminator");
            info.name.assign(def->name, sizeof def->name);
        } else {
            info.name = def->name;
        }
        info.type = def->param_type;
        info.flags = def->flags;
        if (def->param_type == PF_Param_CHECKBOX) {
            if (def->u.bd.u.nameptr) info.text = def->u.bd.u.nameptr;
            info.def.u.bd.u.nameptr = nullptr;
        } else if (def->param_type == PF_Param_POPUP) {
            if (def->u.pd.u.namesptr) info.text = def->u.pd.u.namesptr;
            info.def.u.pd.u.namesptr = nullptr;
            size_t start = 0;
            while (true) {
                size_t bar = info.text.find('|', start);
                info.choices.push_back(info.text.substr(start, bar - start));
                if (bar == std::string::npos) break;
                start = bar + 1;
            }
        }
        host->params_.push_back(std::move(info));
        return PF_Err_NONE;
    }

    static PF_Err Abort(PF_ProgPtr) { return PF_Err_NONE; }
    static PF_Err Progress(PF_ProgPtr, A_long, A_long) { return PF_Err_NONE; }

    static PF_Err Copy(PF_ProgPtr ref, PF_LayerDef* src, PF_LayerDef* dst, PF_Rect* srcRect,
                       PF_Rect* dstRect) {
        Host* host = FromRef(ref);
        if (!host) return PF_Err_BAD_CALLBACK_PARAM;
        ++host->copyCalls_;
        if (host->failCopy_ != 0) return host->failCopy_;
        if (!src || !dst || !src->data || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
        long sx = 0, sy = 0, w = src->width, h = src->height, dx = 0, dy = 0;
        if (srcRect) {
            sx = srcRect->left;
            sy = srcRect->top;
            w = long(srcRect->right) - srcRect->left;
            h = long(srcRect->bottom) - srcRect->top;
        }
        if (dstRect) {
            dx = dstRect->left;
            dy = dstRect->top;
            long dw = long(dstRect->right) - dstRect->left;
            long dh = long(dstRect->bottom) - dstRect->top;
            if (dw < w) w = dw;
            if (dh < h) h = dh;
        }
        if (sx < 0 || sy < 0 || dx < 0 || dy < 0) return PF_Err_BAD_CALLBACK_PARAM;
        // Clip to both frames; each row is addressed with its frame's row bytes.
        if (w > src->width - sx) w = src->width - sx;
        if (h > src->height - sy) h = src->height - sy;
        if (w > dst->width - dx) w = dst->width - dx;
        if (h > dst->height - dy) h = dst->height - dy;
        for (long y = 0; y < h; ++y) {
            const uint8_t* s = reinterpret_cast<const uint8_t*>(src->data) +
                               (sy + y) * long(src->rowbytes) + sx * 4;
            uint8_t* d =
                reinterpret_cast<uint8_t*>(dst->data) + (dy + y) * long(dst->rowbytes) + dx * 4;
            std::memmove(d, s, size_t(w) * 4);
        }
        return PF_Err_NONE;
    }

    static int Sprintf(A_char* dst, const A_char* format, ...) {
        va_list args;
        va_start(args, format);
        Host* host = g_current;
        int n;
        if (host && dst == host->outData_.return_msg) {
            // The one buffer whose size the host knows: refuse to overrun it.
            n = std::vsnprintf(dst, sizeof host->outData_.return_msg, format, args);
            if (n >= int(sizeof host->outData_.return_msg))
                host->NoteProblem("return_msg overflow: " + std::to_string(n) + " characters");
        } else {
            n = std::vsprintf(dst, format, args);
        }
        va_end(args);
        return n;
    }

    static A_char* Strcpy(A_char* dst, const A_char* src) { return std::strcpy(dst, src); }
};

Host::Host() : impl_(std::make_unique<Impl>()) {
    PF_ANSICallbacks& a = utils_.ansi;
    a.atan = [](double x) { return std::atan(x); };
    a.atan2 = [](double y, double x) { return std::atan2(y, x); };
    a.ceil = [](double x) { return std::ceil(x); };
    a.cos = [](double x) { return std::cos(x); };
    a.exp = [](double x) { return std::exp(x); };
    a.fabs = [](double x) { return std::fabs(x); };
    a.floor = [](double x) { return std::floor(x); };
    a.fmod = [](double x, double y) { return std::fmod(x, y); };
    a.hypot = [](double x, double y) { return std::hypot(x, y); };
    a.log = [](double x) { return std::log(x); };
    a.log10 = [](double x) { return std::log10(x); };
    a.pow = [](double x, double y) { return std::pow(x, y); };
    a.sin = [](double x) { return std::sin(x); };
    a.sqrt = [](double x) { return std::sqrt(x); };
    a.tan = [](double x) { return std::tan(x); };
    a.sprintf = &Impl::Sprintf;
    a.strcpy = &Impl::Strcpy;
    a.asin = [](double x) { return std::asin(x); };
    a.acos = [](double x) { return std::acos(x); };
    utils_.copy = &Impl::Copy;
    utils_.host_new_handle = &Impl::NewHandle;
    utils_.host_lock_handle = &Impl::LockHandle;
    utils_.host_unlock_handle = &Impl::UnlockHandle;
    utils_.host_dispose_handle = &Impl::DisposeHandle;
    utils_.host_get_handle_size = &Impl::GetHandleSize;
    handleSize_ = utils_.host_get_handle_size;

    values_.resize(1);
    std::memset(&values_[0], 0, sizeof(PF_ParamDef));
    pointExplicit_.resize(1, false);
    layers_.resize(1, nullptr);
}

Host::~Host() {
    // The caller's frames may already be gone: set-down needs none of them.
    std::fill(layers_.begin(), layers_.end(), nullptr);
    if (entry_ && sequence_) {
        try {
            SequenceSetdown();
        } catch (...) {
        }
    }
    for (auto& entry : impl_->handles)
        if (entry.second->live) std::free(entry.second->master);
    impl_->handles.clear();
#ifdef _WIN32
    if (module_) FreeLibrary(static_cast<HMODULE>(module_));
#else
    if (module_) dlclose(module_);
#endif
}

void Host::LoadModule(const std::string& path) {
    if (module_ || entry_) throw Error("a module or entry is already bound");
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        throw Error("cannot load module " + path + " (error " + std::to_string(GetLastError()) +
                    ")");
    try {
        HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(16000), "PIPL");
        if (!res) throw Error("module " + path + " has no PiPL resource (PiPL 16000)");
        HGLOBAL loaded = LoadResource(module, res);
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        DWORD size = SizeofResource(module, res);
        if (!bytes || size == 0) throw Error("module " + path + ": PiPL resource unreadable");
        pipl_ = ParsePipl(static_cast<const uint8_t*>(bytes), size);
        std::string name;
        try {
            name = CheckEffectPipl(pipl_, sizeof(void*) == 8);
        } catch (const Error& e) {
            throw Error("module " + path + ": " + e.what());
        }
        FARPROC proc = GetProcAddress(module, name.c_str());
        if (!proc)
            throw Error("module " + path + " does not export its entry point '" + name + "'");
        entry_ = reinterpret_cast<EntryFunc>(reinterpret_cast<void*>(proc));
    } catch (...) {
        FreeLibrary(module);
        throw;
    }
    module_ = module;
#else
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) throw Error("cannot open module " + path);
        char magic[2] = {0, 0};
        size_t got = std::fread(magic, 1, 2, f);
        std::fclose(f);
        if (got == 2 && magic[0] == 'M' && magic[1] == 'Z')
            throw Error("module " + path + " is a Windows module; it loads only on Windows");
    }
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // Like a host, keep the code mapped once loaded: worker threads' state and
    // the module's own statics stay valid until the process ends.
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) {
        const char* why = dlerror();
        throw Error("cannot load module " + path + ": " + (why ? why : "unknown error"));
    }
    dlerror();
    void* symbol = dlsym(module, "main");
    if (!symbol) {
        dlclose(module);
        throw Error("module " + path + " has no entry point 'main'");
    }
    entry_ = reinterpret_cast<EntryFunc>(symbol);
    setThreadCount_ = reinterpret_cast<void (*)(uint32_t)>(dlsym(module, "orvo_set_thread_count"));
    module_ = module;
#endif
}

void Host::SetThreadCount(uint32_t count) {
    if (!setThreadCount_) throw Error("the effect module has no thread-count control");
    setThreadCount_(count);
}

void Host::BindEntry(EntryFunc entry) {
    if (module_ || entry_) throw Error("a module or entry is already bound");
    if (!entry) throw Error("null entry function");
    entry_ = entry;
}

void Host::NoteProblem(const std::string& text) {
    problems_.push_back(text);
}

void Host::ResetOutData() {
    std::memset(&outData_, 0, sizeof outData_);
    outData_.sequence_data = sequence_;
}

PF_Err Host::Call(PF_Cmd cmd, PF_LayerDef* output) {
    if (!entry_) throw Error("no module loaded and no entry bound");
    const Frame* input = layers_[0];

    std::memset(&inData_, 0, sizeof inData_);
    inData_.inter.checkout_param = &Impl::Checkout;
    inData_.inter.checkin_param = &Impl::Checkin;
    inData_.inter.add_param = &Impl::AddParam;
    inData_.inter.abort = &Impl::Abort;
    inData_.inter.progress = &Impl::Progress;
    inData_.utils = &utils_;
    inData_.effect_ref = this;
    inData_.quality = quality_;
    inData_.version.major = ORVO_HOST_W32 ? 12 : 13;
    inData_.version.minor = ORVO_HOST_W32 ? 11 : 8;
    inData_.num_params = cmd == PF_Cmd_PARAMS_SETUP ? hostParamCount_ : A_long(values_.size());
    inData_.current_time = currentTime_;
    inData_.time_step = timeStep_;
    inData_.local_time_step = timeStep_;
    inData_.time_scale = timeScale_;
    inData_.width = input ? input->width : 0;
    inData_.height = input ? input->height : 0;
    inData_.extent_hint.left = 0;
    inData_.extent_hint.top = 0;
    inData_.extent_hint.right = decltype(inData_.extent_hint.right)(inData_.width);
    inData_.extent_hint.bottom = decltype(inData_.extent_hint.bottom)(inData_.height);
    inData_.downsample_x = downsampleX_;
    inData_.downsample_y = downsampleY_;
    inData_.pixel_aspect_ratio = PF_RationalScale{1, 1};
    inData_.sequence_data = sequence_;

    // The parameter records of this command: layers point at their frames,
    // points without an explicit value at their default share of the input.
    Impl& impl = *impl_;
    impl.delivered = values_;
    for (size_t i = 0; i < impl.delivered.size(); ++i) {
        PF_ParamDef& def = impl.delivered[i];
        if (i == 0 || def.param_type == PF_Param_LAYER) {
            A_long dephault = def.u.ld.dephault;
            std::memset(&def.u, 0, sizeof def.u);
            def.u.ld.dephault = dephault;
            Frame* frame = i < layers_.size() ? layers_[i] : nullptr;
            if (frame) {
                def.u.ld.data = reinterpret_cast<PF_Pixel*>(frame->pixels.data());
                def.u.ld.rowbytes = frame->rowbytes;
                def.u.ld.width = frame->width;
                def.u.ld.height = frame->height;
                def.u.ld.world_flags = 2; // writeable
                def.u.ld.extent_hint.right = decltype(def.u.ld.extent_hint.right)(frame->width);
                def.u.ld.extent_hint.bottom = decltype(def.u.ld.extent_hint.bottom)(frame->height);
            }
        } else if (def.param_type == PF_Param_POINT && !pointExplicit_[i]) {
            int64_t w = input ? input->width : 0, h = input ? input->height : 0;
            int64_t x = int64_t(def.u.td.x_dephault) * w, y = int64_t(def.u.td.y_dephault) * h;
            def.u.td.x_value = PF_Fixed((x >= 0 ? x + 50 : x - 50) / 100);
            def.u.td.y_value = PF_Fixed((y >= 0 ? y + 50 : y - 50) / 100);
        }
    }
    impl.pointers.clear();
    for (PF_ParamDef& def : impl.delivered)
        impl.pointers.push_back(&def);

    ResetOutData();
    checkouts_ = 0;
    Host* previous = g_current;
    g_current = this;
    PF_Err err = entry_(cmd, &inData_, &outData_, impl.pointers.data(), output, nullptr);
    g_current = previous;

    if (checkouts_ != 0)
        NoteProblem(std::to_string(checkouts_) + " parameter checkout(s) not checked in after " +
                    CommandName(cmd));
    checkouts_ = 0;
    for (auto& entry : impl.handles)
        if (entry.second->live && entry.second->locks != 0) {
            NoteProblem(std::string("handle left locked after ") + CommandName(cmd));
            entry.second->locks = 0;
        }
    return err;
}

PF_Err Host::Command(PF_Cmd cmd, Frame* output) {
    PF_LayerDef out{};
    if (output) {
        out.data = reinterpret_cast<PF_Pixel*>(output->pixels.data());
        out.rowbytes = output->rowbytes;
        out.width = output->width;
        out.height = output->height;
        out.world_flags = 2;
        out.extent_hint.right = decltype(out.extent_hint.right)(output->width);
        out.extent_hint.bottom = decltype(out.extent_hint.bottom)(output->height);
    }
    return Call(cmd, output ? &out : nullptr);
}

PF_Err Host::About(std::string* text) {
    PF_Err err = Call(PF_Cmd_ABOUT, nullptr);
    if (text) {
        *text = MessageText(outData_.return_msg, sizeof outData_.return_msg);
    }
    return err;
}

PF_Err Host::GlobalSetup() {
    PF_Err err = Call(PF_Cmd_GLOBAL_SETUP, nullptr);
    globalOutFlags_ = outData_.out_flags;
    version_ = outData_.my_version;
    return err;
}

PF_Err Host::ParamsSetup() {
    params_.clear();
    addParamCalls_ = 0;
    values_.resize(1);
    pointExplicit_.assign(1, false);
    layers_.resize(1);
    PF_Err err = Call(PF_Cmd_PARAMS_SETUP, nullptr);
    numParams_ = outData_.num_params;
    for (const ParamInfo& info : params_) {
        values_.push_back(info.def);
        pointExplicit_.push_back(false);
        layers_.push_back(nullptr);
    }
    return err;
}

PF_Err Host::SequenceSetup() {
    PF_Err err = Call(PF_Cmd_SEQUENCE_SETUP, nullptr);
    sequence_ = outData_.sequence_data;
    if (sequence_) {
        Impl::HandleRecord* r = impl_->Find(sequence_);
        if (!r || !r->live) NoteProblem("sequence set-up returned a handle the host did not make");
    }
    return err;
}

PF_Err Host::SequenceResetup() {
    PF_Err err = Call(PF_Cmd_SEQUENCE_RESETUP, nullptr);
    sequence_ = outData_.sequence_data;
    return err;
}

PF_Err Host::SequenceSetdown() {
    PF_Err err = Call(PF_Cmd_SEQUENCE_SETDOWN, nullptr);
    sequence_ = nullptr;
    size_t leaked = 0;
    for (auto& entry : impl_->handles)
        if (entry.second->live && !entry.second->testMade) ++leaked;
    if (leaked) NoteProblem(std::to_string(leaked) + " handle(s) leaked at sequence set-down");
    return err;
}

PF_Err Host::Setup() {
    PF_Err err = GlobalSetup();
    if (err == PF_Err_NONE) err = ParamsSetup();
    if (err == PF_Err_NONE) err = SequenceSetup();
    return err;
}

PF_Err Host::Teardown() {
    return sequence_ ? SequenceSetdown() : PF_Err_NONE;
}

RenderResult Host::Render(Frame& output) {
    std::fill(output.pixels.begin(), output.pixels.end(), uint8_t(0));
    RenderResult result;
    result.err = Command(PF_Cmd_RENDER, &output);
    result.outFlags = outData_.out_flags;
    if (result.outFlags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) {
        result.message = MessageText(outData_.return_msg, sizeof outData_.return_msg);
    }
    return result;
}

const ParamInfo& Host::Param(int index) const {
    if (index < 1 || size_t(index) > params_.size())
        throw Error("no parameter with index " + std::to_string(index));
    return params_[size_t(index) - 1];
}

int Host::FindParam(const std::string& name) const {
    for (const ParamInfo& info : params_)
        if (info.name == name) return info.index;
    return -1;
}

const PF_ParamDef& Host::Value(int index) const {
    if (index < 0 || size_t(index) >= values_.size())
        throw Error("no parameter with index " + std::to_string(index));
    return values_[size_t(index)];
}

PF_ParamDef& Host::ValueRef(int index, PF_ParamType type) {
    if (index < 1 || size_t(index) >= values_.size())
        throw Error("no parameter with index " + std::to_string(index));
    PF_ParamDef& def = values_[size_t(index)];
    if (def.param_type != type)
        throw Error("parameter " + std::to_string(index) + " (\"" +
                    params_[size_t(index) - 1].name + "\") has type " +
                    std::to_string(def.param_type) + ", not " + std::to_string(type));
    return def;
}

void Host::SetSlider(int index, int32_t value) {
    ValueRef(index, PF_Param_SLIDER).u.sd.value = value;
}

void Host::SetFixed(int index, PF_Fixed value) {
    ValueRef(index, PF_Param_FIX_SLIDER).u.fd.value = value;
}

void Host::SetFixedUnits(int index, double value) {
    SetFixed(index, ToFixed(value));
}

void Host::SetCheckbox(int index, bool on) {
    ValueRef(index, PF_Param_CHECKBOX).u.bd.value = on ? 1 : 0;
}

void Host::SetColor(int index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    ValueRef(index, PF_Param_COLOR).u.cd.value = PF_Pixel{alpha, red, green, blue};
}

void Host::SetPoint(int index, double x, double y) {
    SetPointFixed(index, ToFixed(x), ToFixed(y));
}

void Host::SetPointFixed(int index, PF_Fixed x, PF_Fixed y) {
    PF_ParamDef& def = ValueRef(index, PF_Param_POINT);
    def.u.td.x_value = x;
    def.u.td.y_value = y;
    pointExplicit_[size_t(index)] = true;
}

void Host::ResetPoint(int index) {
    ValueRef(index, PF_Param_POINT);
    pointExplicit_[size_t(index)] = false;
}

void Host::SetPopup(int index, int32_t value) {
    ValueRef(index, PF_Param_POPUP).u.pd.value = value;
}

void Host::SetLayer(int index, Frame* frame) {
    if (index != 0) ValueRef(index, PF_Param_LAYER);
    if (frame && (frame->rowbytes < frame->width * 4 ||
                  frame->pixels.size() < size_t(frame->rowbytes) * size_t(frame->height)))
        throw Error("layer frame: pixel buffer smaller than rowbytes * height");
    layers_[size_t(index)] = frame;
}

void Host::SetDownsample(A_long xNum, A_u_long xDen, A_long yNum, A_u_long yDen) {
    if (xNum <= 0 || yNum <= 0 || xDen == 0 || yDen == 0) throw Error("bad downsample factor");
    downsampleX_ = PF_RationalScale{xNum, xDen};
    downsampleY_ = PF_RationalScale{yNum, yDen};
}

void Host::SetTime(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    currentTime_ = currentTime;
    timeStep_ = timeStep;
    timeScale_ = timeScale;
}

void Host::FailAddParamAt(int n, PF_Err err) {
    failAddParamAt_ = n;
    failAddParamErr_ = err;
}

void Host::FailCheckout(int index, PF_Err err) {
    failCheckoutIndex_ = index;
    failCheckoutErr_ = err;
}

std::vector<uint8_t> Host::HandleBytes(PF_Handle handle) const {
    auto it = impl_->handles.find(handle);
    if (it == impl_->handles.end() || !it->second->live) return {};
    const uint8_t* p = static_cast<const uint8_t*>(it->second->master);
    return std::vector<uint8_t>(p, p + it->second->size);
}

PF_Handle Host::NewHandle(size_t size) {
    return impl_->Allocate(size, true);
}

void Host::DisposeHandle(PF_Handle handle) {
    Impl::HandleRecord* r = impl_->Find(handle);
    if (!r) {
        NoteProblem("dispose of an unknown handle " + HandleText(handle));
        return;
    }
    if (!r->live) {
        NoteProblem("handle disposed twice " + HandleText(handle));
        return;
    }
    if (r->locks != 0) NoteProblem("handle disposed while locked");
    std::free(r->master);
    r->master = nullptr;
    r->live = false; // the record stays, so a second dispose is recognised
}

size_t Host::LiveHandles() const {
    size_t n = 0;
    for (auto& entry : impl_->handles)
        if (entry.second->live) ++n;
    return n;
}

} // namespace harness
