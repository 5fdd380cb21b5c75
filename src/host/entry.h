// The effect's entry point. The plug-in module exports it under the name
// `main`; inside the project it is called EffectMain, because the compiler
// treats any function named main as the program's start.
#pragma once

#include <cstdint>

#include "host/host_types.h"

// Error returned when the host gives no handle for the sequence record.
constexpr PF_Err kErrNoHandle = -108;

// The packed version number: version 1, subversion 0, bug-fix 0, release, build 0.
constexpr A_u_long kEffectVersion = 0x00080600;

// The 16-byte record per effect instance, held in a host handle. It holds no
// pointers, so it is flat for the host.
struct SequenceRecord {
    uint8_t reserved[8]; // zero
    uint8_t keyBlue;     // last key colour the render saw
    uint8_t keyGreen;
    uint8_t keyRed;
    uint8_t backingBlue; // backing colour measured for that key colour
    uint8_t backingGreen;
    uint8_t backingRed;
    uint8_t unused[2];
};
static_assert(sizeof(SequenceRecord) == 16, "the sequence record is 16 bytes");

// Whether `handle` can hold the record: a handle the host reports shorter
// holds something else (another layout, a foreign or flattened record). A
// host that cannot tell sizes is trusted.
bool HoldsSequenceRecord(const PF_InData* in_data, PF_Handle handle);

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);
