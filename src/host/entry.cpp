#include "host/entry.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "host/params.h"
#include "host/render.h"
#include "image/blockpool.h"

namespace {

const char kTitle[] = "Orvo for AE";
const char kDescription[] = "\nChromakey with shadows, color corrections\n"
                            "and natural color spill replacements.\n\n"
                            "Apply to the foreground layer and choose the background layer.";

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d\r%s", kTitle, 1, 0,
                                 kDescription);
    return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_OutData* out_data) {
    out_data->out_flags |= PF_OutFlag_I_WRITE_INPUT_BUFFER;
    out_data->my_version = kEffectVersion;
    return PF_Err_NONE;
}

// Clears the first `count` bytes of the record held in `handle`.
void ClearRecord(PF_InData* in_data, PF_Handle handle, size_t count) {
    void* bytes = in_data->utils->host_lock_handle(handle);
    if (bytes) std::memset(bytes, 0, count);
    in_data->utils->host_unlock_handle(handle);
}

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_Handle handle = in_data->utils->host_new_handle(sizeof(SequenceRecord));
    out_data->sequence_data = handle;
    if (!handle) return kErrNoHandle;
    // The whole record is cleared, so the measured colour (bytes 11-13) is
    // never read uninitialised when the first key colour is pure black.
    ClearRecord(in_data, handle, sizeof(SequenceRecord));
    out_data->flat_sdata_size = sizeof(SequenceRecord);
    return PF_Err_NONE;
}

PF_Err SequenceResetup(PF_InData* in_data) {
    // Bytes 0-10 (up to the last key colour) are cleared, so the next render
    // measures the backing colour again. A handle too short for the record
    // holds something else: the render treats it as empty and so is it left.
    PF_Handle handle = in_data->sequence_data;
    if (handle == nullptr || !HoldsSequenceRecord(in_data, handle)) return PF_Err_NONE;
    ClearRecord(in_data, handle, offsetof(SequenceRecord, backingBlue));
    return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->sequence_data) {
        in_data->utils->host_lock_handle(in_data->sequence_data);
        in_data->utils->host_unlock_handle(in_data->sequence_data);
        in_data->utils->host_dispose_handle(in_data->sequence_data);
    }
    out_data->sequence_data = nullptr;
    // The work images kept between frames go with the sequence.
    ReleaseBlocks();
    return PF_Err_NONE;
}

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
        return About(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
        return GlobalSetup(out_data);
    case PF_Cmd_PARAMS_SETUP:
        return SetupParams(in_data, out_data);
    case PF_Cmd_SEQUENCE_SETUP:
        return SequenceSetup(in_data, out_data);
    case PF_Cmd_SEQUENCE_RESETUP:
        return SequenceResetup(in_data);
    case PF_Cmd_SEQUENCE_SETDOWN:
        return SequenceSetdown(in_data, out_data);
    case PF_Cmd_RENDER:
        return Render(in_data, out_data, params, output);
    default:
        // 2, 3, 7, 9, 10 are accepted and do nothing; so is everything above 11.
        return PF_Err_NONE;
    }
}

} // namespace

bool HoldsSequenceRecord(const PF_InData* in_data, PF_Handle handle) {
    auto size = in_data->utils->host_get_handle_size;
    // Compared in the callback's own type: a negative 32-bit size is short.
    return size == nullptr || size(handle) >= PF_HandleSize(sizeof(SequenceRecord));
}

// Nothing is thrown across to the host: an allocation that throws ends the
// command with the out-of-memory code.
extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* /*extra*/) {
    try {
        return Dispatch(cmd, in_data, out_data, params, output);
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
