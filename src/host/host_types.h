// Our own declarations of the host structures, callbacks and constants the
// effect uses, binary-identical to the host's published layout:
//  - 32-bit Windows: the 32-bit-era layout, packed to 2 bytes (short
//    rectangles and points, qd_globals in the in data, get_platform_refs in
//    the utility callbacks, 32-bit handle sizes);
//  - 64-bit Windows: the 64-bit-era layout with natural alignment.
// Every other 64-bit target (Linux x86_64 in particular) uses the 64-bit
// Windows layout and 32-bit x86 Linux the 32-bit one, so the stand-in host
// and the real host see the same bytes.
// Sizes and offsets are checked at compile time at the end of this header.
#pragma once

#include <cstddef>
#include <cstdint>

#if (defined(_WIN32) && !defined(_WIN64)) || defined(__i386__)
#define ORVO_HOST_W32 1
#else
#define ORVO_HOST_W32 0
#endif

#if ORVO_HOST_W32
#pragma pack(push, 2)
#endif

extern "C" {

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef char A_char;
typedef uint8_t A_u_char;

typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_long PF_Fixed; // 16.16, signed
typedef A_long PF_ParamValue;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_Quality;
typedef A_long PF_Field;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_WorldFlags;
typedef A_short PF_ValueDisplayFlags;
typedef char PF_Boolean;
typedef void* PF_ProgPtr;
typedef void** PF_Handle;
#if ORVO_HOST_W32
typedef A_long PF_HandleSize;
#else
typedef uint64_t PF_HandleSize;
#endif

struct PF_Pixel {
    A_u_char alpha;
    A_u_char red;
    A_u_char green;
    A_u_char blue;
};

struct PF_SpecVersion {
    A_short major;
    A_short minor;
};

struct PF_RationalScale {
    A_long num;
    A_u_long den;
};

#if ORVO_HOST_W32
struct PF_Rect {
    A_short top;
    A_short left;
    A_short bottom;
    A_short right;
};
struct PF_Point {
    A_short v;
    A_short h;
};
#else
struct PF_Rect {
    A_long left;
    A_long top;
    A_long right;
    A_long bottom;
};
struct PF_Point {
    A_long h;
    A_long v;
};
#endif

struct PF_SoundFormatInfo {
    double rate;
    A_short num_channels;
    A_short format;
    A_short sample_size;
};

struct PF_SoundWorld {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
};

// A frame: the output, params[0] and every layer parameter value. Pixels are
// alpha, red, green, blue bytes; a null `data` means no layer is chosen.
struct PF_LayerDef {
#if ORVO_HOST_W32
    A_long reserved0;
    A_long reserved1;
#else
    void* reserved0;
    void* reserved1;
#endif
    PF_WorldFlags world_flags;
    PF_Pixel* data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
#if ORVO_HOST_W32
    A_long platform_ref;
    A_long reserved[8];
#else
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
#endif
    A_long dephault; // 0 no layer, -1 this layer
};
typedef PF_LayerDef PF_EffectWorld;

struct PF_SliderDef {
    PF_ParamValue value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_ParamValue valid_min;
    PF_ParamValue valid_max;
    PF_ParamValue slider_min;
    PF_ParamValue slider_max;
    PF_ParamValue dephault;
};

struct PF_FixedSliderDef {
    PF_Fixed value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_Fixed valid_min;
    PF_Fixed valid_max;
    PF_Fixed slider_min;
    PF_Fixed slider_max;
    PF_Fixed dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
};

struct PF_CheckBoxDef {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
};

struct PF_ColorDef {
    PF_Pixel value;
    PF_Pixel dephault;
};

struct PF_PointDef {
    PF_Fixed x_value;
    PF_Fixed y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault; // percent of the layer width, 16.16
    PF_Fixed y_dephault; // percent of the layer height, 16.16
};

struct PF_PopupDef {
    PF_ParamValue value; // 1-based
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr; // choices joined by '|'
    } u;
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
};

struct PF_ParamDef {
    union {
        A_long id;
        A_long change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[32];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
};

struct PF_InteractCallbacks {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    void* register_ui;
    void* checkout_layer_audio;
    void* checkin_layer_audio;
    void* get_audio_data;
    void* reserved_str[3]; // 32-bit words on W32, pointers on W64: pointer-sized either way
    void* reserved[10];
};

struct PF_ANSICallbacks {
    double (*atan)(double);
    double (*atan2)(double, double);
    double (*ceil)(double);
    double (*cos)(double);
    double (*exp)(double);
    double (*fabs)(double);
    double (*floor)(double);
    double (*fmod)(double, double);
    double (*hypot)(double, double);
    double (*log)(double);
    double (*log10)(double);
    double (*pow)(double, double);
    double (*sin)(double);
    double (*sqrt)(double);
    double (*tan)(double);
    int (*sprintf)(A_char* dst, const A_char* format, ...);
    A_char* (*strcpy)(A_char* dst, const A_char* src);
    double (*asin)(double);
    double (*acos)(double);
    A_long ansi_procs[1];
};

// Colour-space conversions (not used by the effect; they fix the layout).
struct PF_ColorCallbacks {
    void* RGBtoHLS;
    void* HLStoRGB;
    void* RGBtoYIQ;
    void* YIQtoRGB;
    void* Luminance;
    void* Hue;
    void* Lightness;
    void* Saturation;
};

typedef PF_Err (*PF_CopyFunc)(PF_ProgPtr effect_ref, PF_LayerDef* src, PF_LayerDef* dst,
                              PF_Rect* src_rect, PF_Rect* dst_rect);

struct PF_UtilCallbacks {
    void* begin_sampling;
    void* subpixel_sample;
    void* area_sample;
    void* get_batch_func;
    void* end_sampling;
    void* composite_rect;
    void* blend;
    void* convolve;
    PF_CopyFunc copy;
    void* fill;
    void* gaussian_kernel;
    void* iterate;
    void* premultiply;
    void* premultiply_color;
    void* new_world;
#if ORVO_HOST_W32
    void* get_platform_refs;
#endif
    void* dispose_world;
    void* iterate_origin;
    void* iterate_lut;
    void* transfer_rect;
    void* transform_world;
    PF_Handle (*host_new_handle)(PF_HandleSize size);
    void* (*host_lock_handle)(PF_Handle handle);
    void (*host_unlock_handle)(PF_Handle handle);
    void (*host_dispose_handle)(PF_Handle handle);
    void* get_callback_addr;
    void* app;
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    void* get_platform_data;
#if ORVO_HOST_W32
    void* get_cgraf_data;
#endif
    // Size in bytes of a handle's block (a host may leave it null).
    PF_HandleSize (*host_get_handle_size)(PF_Handle handle);
};

struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
#if ORVO_HOST_W32
    void* qd_globals;
#endif
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    void* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
};

struct PF_OutData {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[256];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
};

// The effect's entry: command, in data, out data, parameter array (index 0 the
// input layer), output frame, extra (unused). Default calling convention.
typedef PF_Err (*PF_EffectEntry)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                 PF_ParamDef* params[], PF_LayerDef* output, void* extra);

} // extern "C"

#if ORVO_HOST_W32
#pragma pack(pop)
#endif

// Commands.
constexpr PF_Cmd PF_Cmd_ABOUT = 0;
constexpr PF_Cmd PF_Cmd_GLOBAL_SETUP = 1;
constexpr PF_Cmd PF_Cmd_UNUSED_0 = 2;
constexpr PF_Cmd PF_Cmd_GLOBAL_SETDOWN = 3;
constexpr PF_Cmd PF_Cmd_PARAMS_SETUP = 4;
constexpr PF_Cmd PF_Cmd_SEQUENCE_SETUP = 5;
constexpr PF_Cmd PF_Cmd_SEQUENCE_RESETUP = 6;
constexpr PF_Cmd PF_Cmd_SEQUENCE_FLATTEN = 7;
constexpr PF_Cmd PF_Cmd_SEQUENCE_SETDOWN = 8;
constexpr PF_Cmd PF_Cmd_DO_DIALOG = 9;
constexpr PF_Cmd PF_Cmd_FRAME_SETUP = 10;
constexpr PF_Cmd PF_Cmd_RENDER = 11;
constexpr PF_Cmd PF_Cmd_FRAME_SETDOWN = 12;

// Parameter types.
constexpr PF_ParamType PF_Param_LAYER = 0;
constexpr PF_ParamType PF_Param_SLIDER = 1;
constexpr PF_ParamType PF_Param_FIX_SLIDER = 2;
constexpr PF_ParamType PF_Param_ANGLE = 3;
constexpr PF_ParamType PF_Param_CHECKBOX = 4;
constexpr PF_ParamType PF_Param_COLOR = 5;
constexpr PF_ParamType PF_Param_POINT = 6;
constexpr PF_ParamType PF_Param_POPUP = 7;

// Error codes.
constexpr PF_Err PF_Err_NONE = 0;
constexpr PF_Err PF_Err_OUT_OF_MEMORY = 4;
constexpr PF_Err PF_Err_INTERNAL_STRUCT_DAMAGED = 512;
constexpr PF_Err PF_Err_INVALID_INDEX = 513;
constexpr PF_Err PF_Err_UNRECOGNIZED_PARAM_TYPE = 514;
constexpr PF_Err PF_Err_INVALID_CALLBACK = 515;
constexpr PF_Err PF_Err_BAD_CALLBACK_PARAM = 516;

// Out flags.
constexpr PF_OutFlags PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100;
constexpr PF_OutFlags PF_OutFlag_I_WRITE_INPUT_BUFFER = 0x800;

constexpr PF_Quality PF_Quality_LO = 0;
constexpr PF_Quality PF_Quality_HI = 1;

constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_PERCENT = 1;

// Parameter flags.
constexpr PF_ParamFlags PF_ParamFlag_RESERVED1 = 1;
constexpr PF_ParamFlags PF_ParamFlag_RESERVED3 = 16; // formerly "separate": a line above
constexpr PF_ParamFlags PF_ParamFlag_COLLAPSE_TWIRLY = 32;
constexpr PF_ParamFlags PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY;

constexpr int PF_MAX_EFFECT_MSG_LEN = 255;
constexpr int PF_MAX_EFFECT_PARAM_NAME_LEN = 31;

// Compile-time checks of the layout against the published figures.
#define ORVO_CHECK_OFFSET(type, field, w32, w64)                                                   \
    static_assert(offsetof(type, field) == (ORVO_HOST_W32 ? (w32) : (w64)),                        \
                  "host layout: offset of " #type "::" #field)
#define ORVO_CHECK_SIZE(type, w32, w64)                                                            \
    static_assert(sizeof(type) == (ORVO_HOST_W32 ? (w32) : (w64)), "host layout: size of " #type)

static_assert(sizeof(void*) == (ORVO_HOST_W32 ? 4 : 8), "pointer size of the host layout");

ORVO_CHECK_SIZE(PF_Pixel, 4, 4);
ORVO_CHECK_SIZE(PF_SpecVersion, 4, 4);
ORVO_CHECK_SIZE(PF_RationalScale, 8, 8);
ORVO_CHECK_SIZE(PF_Rect, 8, 16);
ORVO_CHECK_SIZE(PF_Point, 4, 8);
ORVO_CHECK_SIZE(PF_SoundWorld, 22, 32);
ORVO_CHECK_SIZE(PF_HandleSize, 4, 8);

ORVO_CHECK_SIZE(PF_InteractCallbacks, 88, 176);
ORVO_CHECK_OFFSET(PF_InteractCallbacks, checkin_param, 4, 8);
ORVO_CHECK_OFFSET(PF_InteractCallbacks, add_param, 8, 16);
ORVO_CHECK_OFFSET(PF_InteractCallbacks, get_audio_data, 32, 64);
ORVO_CHECK_OFFSET(PF_InteractCallbacks, reserved_str, 36, 72);
ORVO_CHECK_OFFSET(PF_InteractCallbacks, reserved, 48, 96);

ORVO_CHECK_SIZE(PF_InData, 274, 408);
ORVO_CHECK_OFFSET(PF_InData, utils, 88, 176);
ORVO_CHECK_OFFSET(PF_InData, effect_ref, 92, 184);
ORVO_CHECK_OFFSET(PF_InData, quality, 96, 192);
ORVO_CHECK_OFFSET(PF_InData, version, 100, 196);
ORVO_CHECK_OFFSET(PF_InData, num_params, 112, 208);
ORVO_CHECK_OFFSET(PF_InData, what_fpu, 124, 220);
ORVO_CHECK_OFFSET(PF_InData, current_time, 132, 224);
ORVO_CHECK_OFFSET(PF_InData, time_step, 136, 228);
ORVO_CHECK_OFFSET(PF_InData, time_scale, 148, 240);
ORVO_CHECK_OFFSET(PF_InData, shutter_angle, 156, 248);
ORVO_CHECK_OFFSET(PF_InData, extent_hint, 168, 260);
ORVO_CHECK_OFFSET(PF_InData, output_origin_x, 176, 276);
ORVO_CHECK_OFFSET(PF_InData, downsample_x, 184, 284);
ORVO_CHECK_OFFSET(PF_InData, downsample_x.den, 188, 288);
ORVO_CHECK_OFFSET(PF_InData, downsample_y, 192, 292);
ORVO_CHECK_OFFSET(PF_InData, downsample_y.den, 196, 296);
ORVO_CHECK_OFFSET(PF_InData, pixel_aspect_ratio, 200, 300);
ORVO_CHECK_OFFSET(PF_InData, in_flags, 208, 308);
ORVO_CHECK_OFFSET(PF_InData, global_data, 212, 312);
ORVO_CHECK_OFFSET(PF_InData, sequence_data, 216, 320);
ORVO_CHECK_OFFSET(PF_InData, frame_data, 220, 328);
ORVO_CHECK_OFFSET(PF_InData, total_sampL, 232, 344);
ORVO_CHECK_OFFSET(PF_InData, src_snd, 236, 352);
ORVO_CHECK_OFFSET(PF_InData, pica_basicP, 258, 384);
ORVO_CHECK_OFFSET(PF_InData, pre_effect_source_origin_x, 262, 392);
ORVO_CHECK_OFFSET(PF_InData, pre_effect_source_origin_y, 266, 396);
ORVO_CHECK_OFFSET(PF_InData, shutter_phase, 270, 400);
#if ORVO_HOST_W32
ORVO_CHECK_OFFSET(PF_InData, qd_globals, 128, 0);
#endif

ORVO_CHECK_SIZE(PF_OutData, 362, 408);
ORVO_CHECK_OFFSET(PF_OutData, name, 4, 4);
ORVO_CHECK_OFFSET(PF_OutData, global_data, 36, 40);
ORVO_CHECK_OFFSET(PF_OutData, num_params, 40, 48);
ORVO_CHECK_OFFSET(PF_OutData, sequence_data, 44, 56);
ORVO_CHECK_OFFSET(PF_OutData, flat_sdata_size, 48, 64);
ORVO_CHECK_OFFSET(PF_OutData, frame_data, 52, 72);
ORVO_CHECK_OFFSET(PF_OutData, width, 56, 80);
ORVO_CHECK_OFFSET(PF_OutData, height, 60, 84);
ORVO_CHECK_OFFSET(PF_OutData, origin, 64, 88);
ORVO_CHECK_OFFSET(PF_OutData, out_flags, 68, 96);
ORVO_CHECK_OFFSET(PF_OutData, return_msg, 72, 100);
ORVO_CHECK_OFFSET(PF_OutData, start_sampL, 328, 356);
ORVO_CHECK_OFFSET(PF_OutData, dur_sampL, 332, 360);
ORVO_CHECK_OFFSET(PF_OutData, dest_snd, 336, 368);
ORVO_CHECK_OFFSET(PF_OutData, out_flags2, 358, 400);

ORVO_CHECK_SIZE(PF_ANSICallbacks, 80, 160);
ORVO_CHECK_OFFSET(PF_ANSICallbacks, sprintf, 60, 120);
ORVO_CHECK_OFFSET(PF_ANSICallbacks, strcpy, 64, 128);
ORVO_CHECK_OFFSET(PF_ANSICallbacks, asin, 68, 136);
ORVO_CHECK_OFFSET(PF_ANSICallbacks, acos, 72, 144);
ORVO_CHECK_OFFSET(PF_ANSICallbacks, ansi_procs, 76, 152);

ORVO_CHECK_OFFSET(PF_UtilCallbacks, get_batch_func, 12, 24);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, copy, 32, 64);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, new_world, 56, 112);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, dispose_world, 64, 120);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, transform_world, 80, 152);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, host_new_handle, 84, 160);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, host_lock_handle, 88, 168);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, host_unlock_handle, 92, 176);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, host_dispose_handle, 96, 184);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, get_callback_addr, 100, 192);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, app, 104, 200);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, ansi, 108, 208);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, ansi.sprintf, 168, 328);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, ansi.strcpy, 172, 336);
ORVO_CHECK_SIZE(PF_ColorCallbacks, 32, 64);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, colorCB, 188, 368);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, get_platform_data, 220, 432);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, host_get_handle_size, 228, 440);
#if ORVO_HOST_W32
ORVO_CHECK_OFFSET(PF_UtilCallbacks, get_platform_refs, 60, 0);
ORVO_CHECK_OFFSET(PF_UtilCallbacks, get_cgraf_data, 224, 0);
#endif

ORVO_CHECK_SIZE(PF_LayerDef, 76, 120);
ORVO_CHECK_OFFSET(PF_LayerDef, reserved1, 4, 8);
ORVO_CHECK_OFFSET(PF_LayerDef, world_flags, 8, 16);
ORVO_CHECK_OFFSET(PF_LayerDef, data, 12, 24);
ORVO_CHECK_OFFSET(PF_LayerDef, rowbytes, 16, 32);
ORVO_CHECK_OFFSET(PF_LayerDef, width, 20, 36);
ORVO_CHECK_OFFSET(PF_LayerDef, height, 24, 40);
ORVO_CHECK_OFFSET(PF_LayerDef, extent_hint, 28, 44);
ORVO_CHECK_OFFSET(PF_LayerDef, platform_ref, 36, 64);
ORVO_CHECK_OFFSET(PF_LayerDef, dephault, 72, 116);
#if ORVO_HOST_W32
ORVO_CHECK_OFFSET(PF_LayerDef, reserved, 40, 0);
#else
ORVO_CHECK_OFFSET(PF_LayerDef, reserved_long1, 0, 72);
ORVO_CHECK_OFFSET(PF_LayerDef, reserved_long4, 0, 80);
ORVO_CHECK_OFFSET(PF_LayerDef, pix_aspect_ratio, 0, 88);
ORVO_CHECK_OFFSET(PF_LayerDef, reserved_long2, 0, 96);
ORVO_CHECK_OFFSET(PF_LayerDef, origin_x, 0, 104);
ORVO_CHECK_OFFSET(PF_LayerDef, origin_y, 0, 108);
ORVO_CHECK_OFFSET(PF_LayerDef, reserved_long3, 0, 112);
#endif

ORVO_CHECK_SIZE(PF_SliderDef, 88, 88);
ORVO_CHECK_SIZE(PF_FixedSliderDef, 92, 92);
ORVO_CHECK_SIZE(PF_CheckBoxDef, 12, 16);
ORVO_CHECK_SIZE(PF_ColorDef, 8, 8);
ORVO_CHECK_SIZE(PF_PointDef, 20, 20);
ORVO_CHECK_SIZE(PF_PopupDef, 12, 16);
ORVO_CHECK_SIZE(PF_ParamDefUnion, 92, 120);

ORVO_CHECK_SIZE(PF_ParamDef, 148, 176);
ORVO_CHECK_OFFSET(PF_ParamDef, ui_flags, 4, 4);
ORVO_CHECK_OFFSET(PF_ParamDef, ui_width, 8, 8);
ORVO_CHECK_OFFSET(PF_ParamDef, ui_height, 10, 10);
ORVO_CHECK_OFFSET(PF_ParamDef, param_type, 12, 12);
ORVO_CHECK_OFFSET(PF_ParamDef, name, 16, 16);
ORVO_CHECK_OFFSET(PF_ParamDef, flags, 48, 48);
ORVO_CHECK_OFFSET(PF_ParamDef, unused, 52, 52);
ORVO_CHECK_OFFSET(PF_ParamDef, u, 56, 56);
ORVO_CHECK_OFFSET(PF_ParamDef, u.ld.data, 68, 80);
ORVO_CHECK_OFFSET(PF_ParamDef, u.ld.rowbytes, 72, 88);
ORVO_CHECK_OFFSET(PF_ParamDef, u.ld.width, 76, 92);
ORVO_CHECK_OFFSET(PF_ParamDef, u.ld.height, 80, 96);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.value, 56, 56);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.value_str, 60, 60);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.value_desc, 92, 92);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.valid_min, 124, 124);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.valid_max, 128, 128);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.slider_min, 132, 132);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.slider_max, 136, 136);
ORVO_CHECK_OFFSET(PF_ParamDef, u.sd.dephault, 140, 140);
ORVO_CHECK_OFFSET(PF_ParamDef, u.fd.dephault, 140, 140);
ORVO_CHECK_OFFSET(PF_ParamDef, u.fd.precision, 144, 144);
ORVO_CHECK_OFFSET(PF_ParamDef, u.fd.display_flags, 146, 146);
ORVO_CHECK_OFFSET(PF_ParamDef, u.bd.dephault, 60, 60);
ORVO_CHECK_OFFSET(PF_ParamDef, u.bd.u.nameptr, 64, 64);
ORVO_CHECK_OFFSET(PF_ParamDef, u.cd.value, 56, 56);
ORVO_CHECK_OFFSET(PF_ParamDef, u.cd.dephault, 60, 60);
ORVO_CHECK_OFFSET(PF_ParamDef, u.td.x_value, 56, 56);
ORVO_CHECK_OFFSET(PF_ParamDef, u.td.y_value, 60, 60);
ORVO_CHECK_OFFSET(PF_ParamDef, u.td.restrict_bounds, 67, 67);
ORVO_CHECK_OFFSET(PF_ParamDef, u.td.x_dephault, 68, 68);
ORVO_CHECK_OFFSET(PF_ParamDef, u.td.y_dephault, 72, 72);
ORVO_CHECK_OFFSET(PF_ParamDef, u.pd.num_choices, 60, 60);
ORVO_CHECK_OFFSET(PF_ParamDef, u.pd.dephault, 62, 62);
ORVO_CHECK_OFFSET(PF_ParamDef, u.pd.u.namesptr, 64, 64);

#undef ORVO_CHECK_OFFSET
#undef ORVO_CHECK_SIZE
