// The render command (11): turns one frame of the input layer into the output.
#pragma once

#include "host/host_types.h"
#include "keyer/keyer_params.h"
#include "platform/rect.h"

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);

// Threads each render's passes use: 0 (the default) means one per processor.
void SetRenderThreadCount(uint32_t count);

// A host 16.16 value as the effect reads it: the fraction times 1/65535 (so
// 0xFFFF is one whole unit) plus the integer part with its sign.
double FixedToDouble(PF_Fixed value);

// "Transp. Edge (pixel)" at the frame's resolution: scaled by the horizontal
// downsampling, or for an output at most 120 pixels wide (a thumbnail) by the
// output's width over the background layer's; at most 10. Fractions are kept:
// the edge stage truncates them, the edge profile uses them as they are.
double ScaleTransparencyEdge(int32_t value, PF_RationalScale downsampleX, int32_t outputWidth,
                             int32_t backgroundWidth);

// Fills the snapshot fields from the host's parameter values (params[i] is
// parameter i), row by row of the parameter table: shifts start from the
// colours of `defaults`; the edge is scaled as ScaleTransparencyEdge says.
void ConvertParams(PF_ParamDef* const params[], const KeyerParams& defaults,
                   PF_RationalScale downsampleX, int32_t outputWidth, int32_t backgroundWidth,
                   KeyerParams& p);

// The crop rectangle (right and bottom exclusive) from the "Crop Position"
// point, the "Crop Size (pixel)" scaled by the downsampling, kept inside the
// output's width and height. Computed in 64 bits: a point far off the layer
// or a huge size never wraps; a zero denominator gives no extent.
RECT CropRectangle(const PF_PointDef& position, int32_t size, PF_RationalScale downsampleX,
                   PF_RationalScale downsampleY, int32_t width, int32_t height);
