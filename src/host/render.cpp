// The render command: checks out the layers, answers the trivial views with the
// host's copy, wraps the host frames as images without copying them, builds
// the keyer of this frame, converts the parameters into its snapshot and runs
// the keyer operation that serves "Show". The stages write straight into the
// output frame.
#include "host/render.h"

#include <atomic>
#include <cstring>

#include "host/params.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "platform/threads.h"

namespace {

const char kNoBackgroundMessage[] = "You first have to select the background layer!";
const char kSizeMessage[] = "FG, BG and optional KeyIn must have the same size!";

constexpr PF_OutFlags kDisplayErrorMessage = 0x100;

// Thread count chosen by SetRenderThreadCount; 0 = one per processor.
std::atomic<uint32_t> requestedThreads{0};

uint16_t RenderThreads() {
    uint32_t count = requestedThreads.load();
    if (count == 0) count = ProcessorCount();
    return uint16_t(count > 0xFFFF ? 0xFFFF : count == 0 ? 1 : count);
}

double Clamp(double v, double upper) {
    if (v > upper) v = upper;
    if (v < 0.0) v = 0.0;
    return v;
}

void ColourBytes(const PF_Pixel& p, double* rgb) {
    rgb[0] = p.red;
    rgb[1] = p.green;
    rgb[2] = p.blue;
}

// Row length of a host frame in pixels (its row bytes, padding included).
uint32_t RowPixels(const PF_LayerDef& layer) {
    return uint32_t(layer.rowbytes) / 4;
}

bool Wrap(CImageBaseClass& image, const PF_LayerDef& layer, uint16_t count, uint16_t offset) {
    int ok = image.Create(RowPixels(layer), uint32_t(layer.height), 4,
                          reinterpret_cast<uint8_t*>(layer.data));
    image.SelectComponents(count, offset);
    return ok != 0;
}

bool SameViewSize(const CImageBaseClass& a, const CImageBaseClass& b) {
    return a.ViewWidth() == b.ViewWidth() && a.ViewHeight(1) == b.ViewHeight(1);
}

uint32_t ViewPixels(const CImageBaseClass& image) {
    return uint32_t(uint16_t(image.ViewHeight(0))) * uint32_t(uint16_t(image.ViewWidth()));
}

struct RenderContext {
    PF_InData* in;
    PF_OutData* out;
    PF_ParamDef** params;
    PF_LayerDef* output;
    PF_ParamDef background;
    PF_ParamDef keyIn;
};

// Fills the snapshot fields from the host's parameter values.
void ConvertParams(const RenderContext& rc, const CKeyer& keyer, KeyerParams& p) {
    PF_ParamDef** params = rc.params;
    const KeyerParams& d = keyer.defaultParams;
    auto slider = [&](int i) { return params[i]->u.sd.value; };
    auto fixed = [&](int i) { return FixedToDouble(params[i]->u.fd.value); };

    p.bgCorrectionMode = params[ParamBgColorCorrection]->u.pd.value - 1;
    p.fgCorrectionMode = params[ParamFgColorCorrection]->u.pd.value - 1;
    p.separationLevel = slider(ParamSeparationLevel);
    p.separationDeviation = fixed(ParamSepDeviation) * 0.01;
    for (int c = 0; c < 3; ++c)
        p.separationColor[c] = Clamp(slider(ParamSepRedShift + c) + d.separationColor[c], 255.0);
    p.transparencyThreshold = fixed(ParamTransparencyThreshold) * 0.01;
    p.transparencyStrength = fixed(ParamTranspStrength) * 0.01;

    p.transparencyEdge = ScaleTransparencyEdge(slider(ParamTranspEdge), rc.in->downsample_x,
                                               rc.output->width, rc.background.u.ld.width);

    for (int c = 0; c < 3; ++c)
        p.transparencyColor[c] =
            Clamp(slider(ParamTranspRedShift + c) * (1.0 / 255) + d.transparencyColor[c], 1.0);
    p.shadowChroma = fixed(ParamShadowChroma) * 0.01;
    p.shadowBrightness = fixed(ParamShadowBrightness) * 0.01;
    ColourBytes(params[ParamFgShadowColor]->u.cd.value, p.shadowColor);
    p.lightChroma = fixed(ParamLightChroma) * 0.01;
    p.lightBrightness = fixed(ParamLightBrightness) * 0.01;
    ColourBytes(params[ParamFgLightColor]->u.cd.value, p.lightColor);
    p.reflectionChroma = fixed(ParamReflectionChroma) * 0.01;
    p.reflectionBrightness = fixed(ParamReflBrightness) * 0.01;
    p.reflectionStrength = fixed(ParamReflStrength) * 0.01;
    for (int c = 0; c < 3; ++c)
        p.reflectionColor[c] =
            Clamp(slider(ParamReflSuppressRed + c) + d.reflectionColor[c], 255.0);

    // A colour correction's strength, brightness and colour; with its mode
    // "None" the strength and brightness are 0 and the colour stays as it is.
    auto correction = [&](int32_t mode, int strengthParam, int brightnessParam, int colourParam,
                          double& strength, double& brightness, double* colour) {
        if (mode != 0) {
            strength = slider(strengthParam) * 0.01;
            brightness = slider(brightnessParam) * 0.01;
            ColourBytes(params[colourParam]->u.cd.value, colour);
        } else {
            strength = 0.0;
            brightness = 0.0;
        }
    };
    correction(p.bgCorrectionMode, ParamBgCcStrength, ParamBgCcBrightness, ParamBgCcColor,
               p.bgCorrectionStrength, p.bgCorrectionBrightness, p.bgCorrectionColor);
    correction(p.fgCorrectionMode, ParamFgCcStrength, ParamFgCcBrightness, ParamFgCcColor,
               p.fgCorrectionStrength, p.fgCorrectionBrightness, p.fgCorrectionColor);
}

// Keys the frame once the layers are checked out and a background exists.
void KeyFrame(RenderContext& rc) {
    PF_InData* in = rc.in;
    PF_OutData* out = rc.out;
    PF_LayerDef* output = rc.output;
    PF_ParamDef** params = rc.params;
    const int32_t show = params[ParamShow]->u.pd.value;
    const bool small = output->width <= 120;
    const bool keyInPresent = rc.keyIn.u.ld.data != nullptr;
    const bool highQuality = in->quality == 1;
    const uint32_t rowPixels = RowPixels(*output);
    const uint32_t outHeight = uint32_t(output->height);

    CImageBaseClass foreground, background, outputImage, keyInImage, outputAlpha, matte;
    CKeyer keyer;
    KeyerParams snapshot;
    keyer.threadCount = RenderThreads();

    Wrap(foreground, params[ParamInput]->u.ld, 3, 1);
    Wrap(outputImage, *output, 3, 1);
    Wrap(outputAlpha, *output, 1, 0);
    if (RowPixels(rc.background.u.ld) == rowPixels) {
        Wrap(background, rc.background.u.ld, 3, 1);
    } else {
        // A background of another row length is replaced by mid-grey.
        background.Create(rowPixels, outHeight, 3, nullptr);
        background.SelectComponents(3, 0);
        const uint8_t grey[3] = {128, 128, 128};
        RECT all{0, 0, int32_t(rowPixels), int32_t(outHeight)};
        background.FillRect(&all, grey, 0, 0);
    }
    if (keyInPresent) {
        Wrap(keyInImage, rc.keyIn.u.ld, 4, 0);
    } else {
        // Without a key-in layer the keyer gets a matte of 255 it never reads.
        keyInImage.Create(rowPixels, outHeight, 1, nullptr);
        const uint8_t full = 255;
        RECT all{0, 0, output->width, output->height};
        keyInImage.FillRect(&all, &full, 0, 0);
    }
    matte.Create(rowPixels, outHeight, 1, nullptr);
    foreground.SetUndefined(0);
    background.SetUndefined(0);
    keyInImage.SetUndefined(0);
    keyInImage.SelectComponents(1, 0);

    // Layers must agree in size. Beyond the pixel counts, every image must
    // have the matte's width and height: the keyer would otherwise run its
    // stages on images it refused (or on a key-in layer of another shape).
    const uint32_t fgPixels = ViewPixels(foreground);
    bool sizesAgree = fgPixels == ViewPixels(background) && fgPixels == ViewPixels(keyInImage);
    if (sizesAgree) {
        sizesAgree = keyer.SetImages(&matte, &outputAlpha, &keyInImage, &background, &foreground,
                                     &outputImage) != 0 &&
                     (!keyInPresent || SameViewSize(keyInImage, matte));
    }
    if (!sizesAgree) {
        in->utils->ansi.sprintf(out->return_msg, kSizeMessage);
        out->out_flags += kDisplayErrorMessage;
        return;
    }

    if (keyer.hasKeyIn != int32_t(keyInPresent)) {
        keyer.hasKeyIn = keyInPresent;
        keyer.InvalidateMatte();
    }

    // The measured backing colour is cached in the sequence record and only
    // measured again when the key colour changes.
    uint8_t* record = static_cast<uint8_t*>(in->utils->host_lock_handle(in->sequence_data));
    if (record != nullptr) {
        const PF_Pixel key = params[ParamChromaColor]->u.cd.value;
        if (key.blue == record[8] && key.green == record[9] && key.red == record[10]) {
            keyer.SetBackingColour(record[11], record[12], record[13], 0);
        } else {
            keyer.SetBackingColour(key.blue, key.green, key.red, 1);
            record[8] = key.blue;
            record[9] = key.green;
            record[10] = key.red;
            keyer.GetBackingColour(&record[13], &record[12], &record[11]);
        }
        in->utils->host_unlock_handle(in->sequence_data);
    }

    int32_t keyInMode = kNoKeyOut;
    if (show == ShowComposite) {
        switch (params[ParamKeyOut]->u.pd.value) {
        case KeyOutNone:
            keyInMode = kNoKeyOut;
            break;
        case KeyOutKeyInPlusFg:
            keyInMode = kKeyInPlusFg;
            break;
        case KeyOutKeyInMinusFg:
            keyInMode = kKeyInMinusFg;
            break;
        case KeyOutFgMinusKeyIn:
            keyInMode = kFgMinusKeyIn;
            break;
        default:
            keyInMode = kNoKeyOut;
            break;
        }
    }
    keyer.SetKeyInMode(keyInMode);

    snapshot = keyer.params;
    ConvertParams(rc, keyer, snapshot);
    keyer.SetSmoothBgShadow(params[ParamSmoothBgShadow]->u.bd.value != 0);
    keyer.SetParams(snapshot);

    if (!small && params[ParamCrop]->u.bd.value != 0) {
        const RECT crop =
            CropRectangle(params[ParamCropPosition]->u.td, params[ParamCropSize]->u.sd.value,
                          in->downsample_x, in->downsample_y, output->width, output->height);
        if (keyer.cropEnabled != 1) {
            keyer.cropEnabled = 1;
            keyer.InvalidateMatte();
            keyer.InvalidateBackground();
        }
        if (!EqualRect(&keyer.cropRect, &crop)) {
            keyer.cropRect = crop;
            keyer.InvalidateMatte();
            keyer.InvalidateBackground();
        }
        // Outside the crop rectangle the output shows the foreground.
        outputImage.Copy(&foreground, 0);
    } else if (keyer.cropEnabled != 0) {
        keyer.cropEnabled = 0;
        keyer.InvalidateMatte();
        keyer.InvalidateBackground();
    }

    switch (show) {
    case ShowSepFgOnBg:
    case ShowSepBlackOnGray:
    case ShowSepBlackOnBg:
    case ShowSepFgOnBlack:
        keyer.separationView = show - ShowSepFgOnBg;
        keyer.RenderSeparationView();
        break;
    case ShowTransparency:
        keyer.RenderTransparencyView();
        break;
    case ShowShadows:
        keyer.RenderShadowsView();
        break;
    case ShowLights:
        keyer.RenderLightsView();
        break;
    case ShowCorrectedBg:
        keyer.RenderCorrectedBackgroundView();
        break;
    case ShowComposite:
        if (highQuality)
            keyer.Update(1);
        else
            keyer.RenderQuickComposite();
        break;
    default:
        break;
    }

    // Without a key-out mode the output is fully opaque; otherwise the alpha
    // the key-in stage wrote stays.
    if (keyInMode == kNoKeyOut) {
        const uint8_t opaque = 255;
        RECT all{0, 0, output->width, output->height};
        outputAlpha.FillRect(&all, &opaque, 0, 0);
    }
}

} // namespace

void SetRenderThreadCount(uint32_t count) {
    requestedThreads.store(count);
}

double FixedToDouble(PF_Fixed value) {
    return double(uint32_t(value) & 0xFFFFu) * (1.0 / 65535) + double(value >> 16);
}

double ScaleTransparencyEdge(int32_t value, PF_RationalScale downsampleX, int32_t outputWidth,
                             int32_t backgroundWidth) {
    double scaled;
    if (outputWidth <= 120)
        scaled = backgroundWidth != 0 ? double(value) * outputWidth / backgroundWidth : 0.0;
    else
        scaled = double(value) * downsampleX.num / double(downsampleX.den);
    return scaled > 10.0 ? 10.0 : scaled;
}

RECT CropRectangle(const PF_PointDef& position, int32_t size, PF_RationalScale downsampleX,
                   PF_RationalScale downsampleY, int32_t width, int32_t height) {
    RECT r;
    r.left = position.x_value >> 16;
    r.top = position.y_value >> 16;
    r.right = r.left + int32_t(uint32_t(size * downsampleX.num) / downsampleX.den);
    if (r.right >= width) r.right = width;
    r.bottom = r.top + int32_t(uint32_t(size * downsampleY.num) / downsampleY.den);
    if (r.bottom >= height) r.bottom = height;
    return r;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
              PF_LayerDef* output) {
    if (in_data->sequence_data == nullptr) return PF_Err_NONE;

    RenderContext rc{in_data, out_data, params, output, {}, {}};
    PF_Err err =
        in_data->inter.checkout_param(in_data->effect_ref, ParamBackground, in_data->current_time,
                                      in_data->time_step, in_data->time_scale, &rc.background);
    if (err != PF_Err_NONE) return err;
    err = in_data->inter.checkout_param(in_data->effect_ref, ParamKeyIn, in_data->current_time,
                                        in_data->time_step, in_data->time_scale, &rc.keyIn);
    if (err != PF_Err_NONE) {
        in_data->inter.checkin_param(in_data->effect_ref, &rc.background);
        return err;
    }

    const int32_t show = params[ParamShow]->u.pd.value;
    const bool small = output->width <= 120;
    const bool backgroundPresent = rc.background.u.ld.data != nullptr;
    if (show == ShowForeground) {
        err = in_data->utils->copy(in_data->effect_ref, &params[ParamInput]->u.ld, output, nullptr,
                                   nullptr);
    } else if (show == ShowBackground) {
        PF_LayerDef* source =
            backgroundPresent && !small ? &rc.background.u.ld : &params[ParamInput]->u.ld;
        err = in_data->utils->copy(in_data->effect_ref, source, output, nullptr, nullptr);
    } else if (!backgroundPresent) {
        in_data->utils->ansi.sprintf(out_data->return_msg, kNoBackgroundMessage);
        out_data->out_flags = kDisplayErrorMessage;
    } else {
        KeyFrame(rc);
    }

    in_data->inter.checkin_param(in_data->effect_ref, &rc.keyIn);
    in_data->inter.checkin_param(in_data->effect_ref, &rc.background);
    return err;
}
