// The module's exported entry on ELF systems: the symbol is named `main`
// through an assembler name, and the version script keeps it the only
// exported symbol. (Windows exports EffectMain as `main` through AEORVO.def.)
#include "host/entry.h"

extern "C" PF_Err OrvoModuleEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                  PF_ParamDef* params[], PF_LayerDef* output,
                                  void* extra) __asm__("main");

extern "C" PF_Err OrvoModuleEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                  PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    return EffectMain(cmd, in_data, out_data, params, output, extra);
}
