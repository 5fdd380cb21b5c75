// The render command: checks out the layers, answers the trivial views with the
// host's copy, wraps the host frames as images without copying them, builds
// the keyer of this frame, converts the parameters into its snapshot and runs
// the keyer operation that serves "Show". The stages write straight into the
// output frame. The driver's own passes over whole frames (the saved copy, the
// opaque alpha, clearing the work images' kept blocks) run as band jobs too.
//
// A frame that runs short of memory anywhere (image creation, a stage, a band
// job on any worker thread) ends with PF_Err_OUT_OF_MEMORY and the output
// frame as the host handed it: the output is saved before the first pass
// writes it and put back when the frame fails.
#include "host/render.h"

#include <atomic>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <new>
#include <stdexcept>

#include "bands/bandjob.h"
#include "host/entry.h"
#include "host/params.h"
#include "image/blockpool.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "platform/memory.h"
#include "platform/threads.h"

namespace {

const char kNoBackgroundMessage[] = "You first have to select the background layer!";
const char kSizeMessage[] = "FG, BG and optional KeyIn must have the same size!";

// Thread count chosen by SetRenderThreadCount; 0 = one per processor.
std::atomic<uint32_t> requestedThreads{0};

uint16_t RenderThreads() {
    uint32_t count = requestedThreads.load();
    if (count == 0) count = ProcessorCount();
    return uint16_t(count > 0xFFFF ? 0xFFFF : count == 0 ? 1 : count);
}

// Lowers a value above `upper` to it, then raises a value below 0 to 0.
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

// The sequence record under a lock of its handle, or null when there is none
// or the handle is too short to hold it (a record of another layout): such a
// record is treated as empty and left alone. A host that cannot tell a
// handle's size is trusted to hand back the record it was given.
class LockedRecord {
  public:
    explicit LockedRecord(PF_InData* in) : in_(in) {
        if (!HoldsSequenceRecord(in, in->sequence_data)) return;
        void* bytes = in->utils->host_lock_handle(in->sequence_data);
        locked_ = true;
        record_ = static_cast<SequenceRecord*>(bytes);
    }
    ~LockedRecord() {
        if (locked_) in_->utils->host_unlock_handle(in_->sequence_data);
    }
    LockedRecord(const LockedRecord&) = delete;
    LockedRecord& operator=(const LockedRecord&) = delete;
    SequenceRecord* get() const { return record_; }

  private:
    PF_InData* in_;
    bool locked_ = false;
    SequenceRecord* record_ = nullptr;
};

// A pixel's four bytes as one word with only the alpha byte (byte 0) set.
uint32_t OpaqueAlphaWord() {
    const uint8_t bytes[4] = {255, 0, 0, 0};
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The driver's own passes over the rows of the output frame, run as band
// jobs like the stages' passes: its saved copy, and the opaque alpha.
struct OutputRows {
    uint8_t* data;
    size_t rowBytes;
    int32_t width;
    uint8_t* copy;                    // null: no copy
    bool opaque;                      // alpha 255 as well
    uint8_t* rowDone;                 // per row: 1 once done; may be null
    std::atomic<int32_t> rowsDone{0}; // rows the slices finished
};

// Alpha 255 in the first `width` pixels of a row (the alpha is byte 0 of a
// pixel), as FillRect on the alpha component writes it: four pixels at a
// time by setting every alpha bit.
void OpaqueRow(uint8_t* p, int32_t width) {
    const __m128i alpha = _mm_set1_epi32(int32_t(OpaqueAlphaWord()));
    int32_t x = 0;
    for (; x + 3 < width; x += 4) {
        __m128i* four = reinterpret_cast<__m128i*>(p + size_t(x) * 4);
        _mm_storeu_si128(four, _mm_or_si128(_mm_loadu_si128(four), alpha));
    }
    for (; x < width; ++x)
        p[size_t(x) * 4] = 255;
}

// The slice's rows one by one: the copy of the row, then (when asked) its
// opaque alpha, while the row is in the cache.
int OutputRowsWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    OutputRows* rows = static_cast<OutputRows*>(slice->context);
    for (int32_t y = slice->y; y < slice->y + slice->rows; ++y) {
        const size_t first = size_t(uint32_t(y)) * rows->rowBytes;
        if (rows->copy) std::memcpy(rows->copy + first, rows->data + first, rows->rowBytes);
        if (rows->opaque) OpaqueRow(rows->data + first, rows->width);
    }
    if (rows->rowDone) std::memset(rows->rowDone + slice->y, 1, slice->rows);
    rows->rowsDone += slice->rows;
    return 1;
}

// Runs worker over every row of the output frame; true when every row was
// done (a slice left out for want of a thread is not).
bool RunOutputRows(const PF_LayerDef& output, OutputRows& rows) {
    CRowBandJob job(RenderThreads());
    SIZE size{int32_t(RowPixels(output)), output.height};
    if (size.cx < 1 || size.cy < 1) return false;
    // A frame wider than its rows is left to FillRect, which refuses it.
    if (rows.opaque && output.width > size.cx) return false;
    job.SetArea(&size, nullptr);
    job.SetProcedure(OutputRowsWorker, &rows);
    return job.Run(1) != 0 && rows.rowsDone.load() == output.height;
}

// Kept blocks that must come back zeroed (the frame's work images) are
// cleared by a band job too.
void ClearBlockInBands(void* block, size_t bytes) {
    ClearBytesInBands(block, bytes, RenderThreads());
}

// A copy of the output frame's bytes, put back when the frame fails. Its
// block is kept from frame to frame like the work images.
class SavedOutput {
  public:
    SavedOutput() = default;
    SavedOutput(const SavedOutput&) = delete;
    SavedOutput& operator=(const SavedOutput&) = delete;
    ~SavedOutput() { GiveBlock(copy_, bytes_); }

    // False when there is no memory for the copy. With `opaque`, the pass
    // that copies a row also makes its alpha 255; *opaqueDone tells whether
    // it did.
    bool Save(const PF_LayerDef& output, bool opaque, bool* opaqueDone) {
        *opaqueDone = false;
        bytes_ = size_t(uint32_t(output.rowbytes)) * size_t(uint32_t(output.height));
        copy_ = static_cast<uint8_t*>(TakeBlock(bytes_));
        if (!copy_) return false;
        data_ = reinterpret_cast<uint8_t*>(output.data);
        const size_t rowBytes = size_t(uint32_t(output.rowbytes));
        const size_t height = size_t(uint32_t(output.height));
        std::unique_ptr<uint8_t[]> rowDone(new (std::nothrow) uint8_t[height]());
        if (!rowDone) return false;
        OutputRows rows{data_, rowBytes, output.width, copy_, opaque, rowDone.get()};
        if (RunOutputRows(output, rows)) {
            *opaqueDone = opaque;
            return true;
        }
        // The rows of slices that did not run are copied here; their alpha
        // is left to the later pass.
        for (size_t y = 0; y < height; ++y)
            if (!rowDone[y]) std::memcpy(copy_ + y * rowBytes, data_ + y * rowBytes, rowBytes);
        return true;
    }
    void Restore() const {
        if (copy_) std::memcpy(data_, copy_, bytes_);
    }

  private:
    uint8_t* copy_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

// The key-in mode "Show" and "Key Out" ask for: a key-out only in the composite.
int32_t KeyInModeFor(int32_t show, int32_t keyOut) {
    if (show != ShowComposite) return kNoKeyOut;
    switch (keyOut) {
    case KeyOutKeyInPlusFg:
        return kKeyInPlusFg;
    case KeyOutKeyInMinusFg:
        return kKeyInMinusFg;
    case KeyOutFgMinusKeyIn:
        return kFgMinusKeyIn;
    default: // "None" and anything out of range
        return kNoKeyOut;
    }
}

// Runs the keyer operation that serves "Show".
void RenderView(CKeyer& keyer, int32_t show, bool highQuality) {
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
}

// Keys the frame once the layers are checked out and a background exists.
// Returns the render's error code.
PF_Err KeyFrame(RenderContext& rc, SavedOutput& saved) {
    PF_InData* in = rc.in;
    PF_OutData* out = rc.out;
    PF_LayerDef* output = rc.output;
    PF_ParamDef** params = rc.params;
    const uint64_t failuresBefore = AllocationFailureCount();
    auto shortOfMemory = [failuresBefore] { return AllocationFailureCount() != failuresBefore; };

    // A zero downsampling denominator cannot scale anything: refused.
    if (in->downsample_x.den == 0 || in->downsample_y.den == 0)
        return PF_Err_INTERNAL_STRUCT_DAMAGED;

    const int32_t show = params[ParamShow]->u.pd.value;
    const bool small = output->width <= 120;
    const bool keyInPresent = rc.keyIn.u.ld.data != nullptr;
    const bool highQuality = in->quality == PF_Quality_HI;
    const uint32_t rowPixels = RowPixels(*output);
    const uint32_t outHeight = uint32_t(output->height);

    SetBlockClearer(ClearBlockInBands);
    CImageBaseClass foreground, background, outputImage, keyInImage, outputAlpha, matte;
    CKeyer keyer;
    KeyerParams snapshot;
    keyer.threadCount = RenderThreads();
    // The draft composite reads neither the edge nor the underlay image.
    keyer.workImages = show == ShowComposite && !highQuality ? 0 : 1;

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
    matte.Create(rowPixels, outHeight, 1, nullptr);
    if (keyInPresent) {
        Wrap(keyInImage, rc.keyIn.u.ld, 4, 0);
    } else {
        // Without a key-in layer the keyer gets a key-in matte of the frame's
        // size that it never reads or writes; it lends the matte's bytes
        // rather than having its own.
        keyInImage.Create(rowPixels, outHeight, 1, matte.pixels);
    }
    foreground.SetUndefined(0);
    background.SetUndefined(0);
    keyInImage.SetUndefined(0);
    keyInImage.SelectComponents(1, 0);
    // An image that could not get its pixels is not a size mismatch.
    if (shortOfMemory()) return PF_Err_OUT_OF_MEMORY;

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
    if (shortOfMemory()) return PF_Err_OUT_OF_MEMORY;
    if (!sizesAgree) {
        in->utils->ansi.sprintf(out->return_msg, kSizeMessage);
        out->out_flags += PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        return PF_Err_NONE;
    }

    if (keyer.hasKeyIn != int32_t(keyInPresent)) {
        keyer.hasKeyIn = keyInPresent;
        keyer.InvalidateMatte();
    }

    // The measured backing colour is cached in the sequence record and only
    // measured again when the key colour changes. A colour measured short of
    // memory is not stored.
    {
        const PF_Pixel key = params[ParamChromaColor]->u.cd.value;
        LockedRecord locked(in);
        SequenceRecord* record = locked.get();
        if (record != nullptr && key.blue == record->keyBlue && key.green == record->keyGreen &&
            key.red == record->keyRed) {
            keyer.SetBackingColour(record->backingBlue, record->backingGreen, record->backingRed,
                                   0);
        } else {
            keyer.SetBackingColour(key.blue, key.green, key.red, 1);
            if (shortOfMemory()) return PF_Err_OUT_OF_MEMORY;
            if (record != nullptr) {
                record->keyBlue = key.blue;
                record->keyGreen = key.green;
                record->keyRed = key.red;
                keyer.GetBackingColour(&record->backingRed, &record->backingGreen,
                                       &record->backingBlue);
            }
        }
    }

    const int32_t keyInMode = KeyInModeFor(show, params[ParamKeyOut]->u.pd.value);
    keyer.SetKeyInMode(keyInMode);

    snapshot = keyer.params;
    ConvertParams(params, keyer.defaultParams, in->downsample_x, output->width,
                  rc.background.u.ld.width, snapshot);
    keyer.SetSmoothBgShadow(params[ParamSmoothBgShadow]->u.bd.value != 0);
    keyer.SetParams(snapshot);
    if (shortOfMemory()) return PF_Err_OUT_OF_MEMORY;

    // From here on the passes write the output frame. Without a key-out mode
    // the output is fully opaque, and no pass reads or writes its alpha (nor
    // the key-in layer's, absent): the pass that saves the frame fills it.
    bool opaqueDone = false;
    if (!saved.Save(*output, keyInMode == kNoKeyOut && !keyInPresent, &opaqueDone))
        return PF_Err_OUT_OF_MEMORY;

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

    RenderView(keyer, show, highQuality);

    // Without a key-out mode the output is fully opaque; otherwise the alpha
    // the key-in stage wrote stays.
    if (keyInMode == kNoKeyOut && !opaqueDone) {
        OutputRows rows{reinterpret_cast<uint8_t*>(output->data),
                        size_t(uint32_t(output->rowbytes)),
                        output->width,
                        nullptr,
                        true,
                        nullptr};
        if (!RunOutputRows(*output, rows)) {
            const uint8_t opaque = 255;
            RECT all{0, 0, output->width, output->height};
            outputAlpha.FillRect(&all, &opaque, 0, 0);
        }
    }
    if (shortOfMemory()) {
        saved.Restore();
        return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
}

// KeyFrame, with an allocation that throws ending the frame like any other.
PF_Err KeyFrameGuarded(RenderContext& rc) {
    SavedOutput saved;
    try {
        return KeyFrame(rc, saved);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    NoteAllocationFailure();
    saved.Restore();
    return PF_Err_OUT_OF_MEMORY;
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
        scaled =
            downsampleX.den != 0 ? double(value) * downsampleX.num / double(downsampleX.den) : 0.0;
    return scaled > 10.0 ? 10.0 : scaled;
}

void ConvertParams(PF_ParamDef* const params[], const KeyerParams& defaults,
                   PF_RationalScale downsampleX, int32_t outputWidth, int32_t backgroundWidth,
                   KeyerParams& p) {
    for (const ParamRow& row : kParamTable) {
        const PF_ParamDefUnion& u = params[row.index]->u;
        // A colour correction's values count only while its mode is not "None".
        const bool off = row.gate != nullptr && p.*row.gate == 0;
        switch (row.conversion) {
        case ParamConversion::None:
            break;
        case ParamConversion::PopupIndex:
            // 1-based on the host; wraps rather than overflows for a damaged INT32_MIN.
            p.*row.integer = int32_t(uint32_t(u.pd.value) - 1u);
            break;
        case ParamConversion::Integer:
            p.*row.number = off ? 0.0 : u.sd.value * row.scale;
            break;
        case ParamConversion::Fixed:
            p.*row.number = FixedToDouble(u.fd.value) * row.scale;
            break;
        case ParamConversion::Shift:
            (p.*row.colours)[row.channel] =
                Clamp(u.sd.value * row.scale + (defaults.*row.colours)[row.channel], row.upper);
            break;
        case ParamConversion::Colour:
            if (!off) ColourBytes(u.cd.value, p.*row.colours);
            break;
        case ParamConversion::Edge:
            p.*row.number =
                ScaleTransparencyEdge(u.sd.value, downsampleX, outputWidth, backgroundWidth);
            break;
        }
    }
}

RECT CropRectangle(const PF_PointDef& position, int32_t size, PF_RationalScale downsampleX,
                   PF_RationalScale downsampleY, int32_t width, int32_t height) {
    // The size at the frame's resolution; nothing for a zero denominator.
    auto scaled = [size](PF_RationalScale s) -> int64_t {
        return s.den != 0 ? int64_t(size) * s.num / int64_t(s.den) : 0;
    };
    // left + extent, lowered to `limit` and kept in the 32-bit range.
    auto end = [](int32_t start, int64_t extent, int32_t limit) {
        int64_t e = int64_t(start) + extent;
        if (e >= limit) e = limit;
        if (e < INT32_MIN) e = INT32_MIN;
        return int32_t(e);
    };
    RECT r;
    r.left = position.x_value >> 16;
    r.top = position.y_value >> 16;
    r.right = end(r.left, scaled(downsampleX), width);
    r.bottom = end(r.top, scaled(downsampleY), height);
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
        out_data->out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    } else {
        err = KeyFrameGuarded(rc);
    }

    in_data->inter.checkin_param(in_data->effect_ref, &rc.keyIn);
    in_data->inter.checkin_param(in_data->effect_ref, &rc.background);
    return err;
}
