// The module's exported entry on ELF systems: the symbol is named `main`
// through an assembler name; the version script exports it and the thread
// count control of the stand-in host, nothing else. (Windows exports
// EffectMain as `main` through AEORVO.def.)
#include "host/entry.h"
#include "host/render.h"

// Threads of every later render (0: one per processor); for the stand-in host,
// whose tests and tools choose the count explicitly.
extern "C" void orvo_set_thread_count(uint32_t count) {
    SetRenderThreadCount(count);
}

extern "C" PF_Err OrvoModuleEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                  PF_ParamDef* params[], PF_LayerDef* output,
                                  void* extra) __asm__("main");

extern "C" PF_Err OrvoModuleEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                  PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    return EffectMain(cmd, in_data, out_data, params, output, extra);
}
