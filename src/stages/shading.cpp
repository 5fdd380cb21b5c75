// Shading limits, the float sliding window and the optional 3 x 3 smoothing
// of the shading ratio over clean backing pixels ("Smooth BG Shadow").
#include "stages/shading.h"

#include <cmath>
#include <new>

#include "bands/bandjob.h"
#include "image/image.h"
#include "keyer/keyer.h"
#include "platform/memory.h"

int CKeyer::ComputeShadingLimits(ShadingLimits& limits) {
    // Backing colour indexed 0 = blue, 1 = green, 2 = red.
    const double* colour = defaultParams.separationColor;
    const double k[3] = {colour[2], colour[1], colour[0]};
    const int32_t d = channelOrder[0];
    const int32_t s = channelOrder[2];

    limits.reflectionSum = params.reflectionBrightness * 765;
    limits.shadowLevel = std::floor(k[d] * params.shadowChroma + 0.5);
    limits.lightLevel = std::floor((255 - k[s]) * params.lightChroma + k[s] + 0.5);

    const double m = (k[0] + k[2] + k[1]) * (1.0 / 3);
    if (m < 1e-8) return 0;

    limits.shadowSum = 3 * m * params.shadowBrightness;
    limits.lightSum = (765 - 3 * m) * params.lightBrightness + 3 * m;
    const double* shadow = params.shadowColor;
    const double* light = params.lightColor;
    for (int c = 0; c < 3; ++c) {
        limits.shadowTint[c] = shadow[2 - c] / m;
        limits.lightTint[c] = light[2 - c] / m;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// CFloatWindow

CFloatWindow::CFloatWindow(int32_t kwIn, int32_t khIn, int32_t nIn)
    : kw(kwIn), kh(khIn), n(nIn), buffer(nullptr), rows(nullptr), cursors(nullptr), order(nullptr),
      columns(nullptr), head(0), columnHead(0), windowSum(0.0f), factor(0.0f) {
    if (kw < 1 || kh < 1 || (kw & 1) == 0 || (kh & 1) == 0 || (kw == 1 && kh == 1) || n < 1) return;
    try {
        rows = new float*[size_t(kh)];
        cursors = new const float*[size_t(kh)];
        order = new int32_t[size_t(kh)];
        columns = new float[size_t(kw)];
        buffer = new float[size_t(kh) * size_t(n)];
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
        Release();
        return;
    }
    for (int32_t i = 0; i < kh; ++i) {
        rows[i] = buffer + size_t(i) * size_t(n);
        cursors[i] = rows[i];
        order[i] = i;
    }
    for (int32_t c = 0; c < kw; ++c)
        columns[c] = 0.0f;
    factor = 1.0f / float(kw * kh);
}

CFloatWindow::~CFloatWindow() {
    Release();
}

void CFloatWindow::Release() {
    delete[] buffer;
    delete[] columns;
    delete[] order;
    delete[] cursors;
    delete[] rows;
    buffer = nullptr;
    columns = nullptr;
    order = nullptr;
    cursors = nullptr;
    rows = nullptr;
}

void CFloatWindow::PushRow() {
    head = head + 1 == kh ? 0 : head + 1;
    int32_t index = head;
    for (int32_t k = 0; k < kh; ++k) {
        order[k] = index;
        cursors[index] = rows[index];
        index = index + 1 == kh ? 0 : index + 1;
    }
    columnHead = 0;
}

float CFloatWindow::ColumnSum() {
    float sum = 0.0f;
    for (int32_t k = 0; k < kh; ++k) {
        const int32_t index = order[k];
        sum = sum + *cursors[index];
        ++cursors[index];
    }
    return sum;
}

void CFloatWindow::First() {
    windowSum = 0.0f;
    for (int32_t c = 0; c < kw; ++c) {
        const float column = ColumnSum();
        columns[c] = column;
        windowSum = windowSum + column;
    }
    columnHead = 0;
}

void CFloatWindow::Next() {
    const float column = ColumnSum();
    windowSum = (windowSum - columns[columnHead]) + column;
    columns[columnHead] = column;
    columnHead = columnHead + 1 == kw ? 0 : columnHead + 1;
}

float CFloatWindow::Centre() const {
    return *(cursors[order[kh / 2]] - (kw / 2 + 1));
}

float CFloatWindow::FirstMean() {
    First();
    return windowSum * factor;
}

float CFloatWindow::NextMean() {
    Next();
    return windowSum * factor;
}

float CFloatWindow::FirstCentre() {
    First();
    return Centre();
}

float CFloatWindow::NextCentre() {
    Next();
    return Centre();
}

// ---------------------------------------------------------------------------
// Smoothing of the shading ratio

// Fills a window row with the shading ratios of n foreground pixels from p.
static void FillRatioRow(float* out, int32_t n, const uint8_t* p, uint32_t step,
                         const ShadingLimits& limits, int32_t dominant, int32_t smallest) {
    for (int32_t i = 0; i < n; ++i) {
        out[i] = float(ShadingRatioOfBytes(limits, p, dominant, smallest));
        p += step;
    }
}

static int SmoothWorker(CJobSlice* slice) {
    if (!slice->ready) return 0;
    CKeyer* keyer = static_cast<CKeyer*>(slice->context);
    ShadingLimits limits;
    if (!keyer->ComputeShadingLimits(limits)) return 0;
    const int32_t dominant = keyer->channelOrder[0];
    const int32_t smallest = keyer->channelOrder[2];

    const int32_t kw = keyer->filterWidth;
    const int32_t kh = keyer->filterHeight;
    const int32_t rx = kw / 2;
    const int32_t ry = kh / 2;
    const int32_t x0 = slice->x;
    const int32_t y0 = slice->y;
    const int32_t w = slice->width;
    const int32_t h = slice->rows;
    const int32_t lx = rx < slice->leftMargin ? rx : slice->leftMargin;
    const int32_t rr = rx < slice->rightMargin ? rx : slice->rightMargin;
    const int32_t ty = ry < slice->topMargin ? ry : slice->topMargin;
    const int32_t by = ry < slice->bottomMargin ? ry : slice->bottomMargin;
    int32_t mL = rx - lx;
    const int32_t mR = rx - rr;
    int32_t mT = ry - ty;
    int32_t mB = ry - by;
    // A band thinner than the kernel (only possible for a tiny area) writes
    // each of its rows once.
    if (mT > h) mT = h;
    if (mB > h - mT) mB = h - mT;
    if (mL > w) mL = w;
    const int32_t n = lx + w + rr;
    int32_t inner = w - mL - mR;
    if (inner < 0) inner = 0;

    CFloatWindow window(kw, kh, n);
    if (!window.IsValid()) return 0;

    const CImageBaseClass* fg = keyer->foregroundImage;
    const CImageBaseClass* matte = keyer->matteImage;
    const CImageBaseClass* edge = keyer->edgeImage;
    const uint32_t fgStep = fg->pixelStep;
    const uint32_t matteStep = matte->pixelStep;
    const uint32_t edgeStep = edge->pixelStep;
    float* const buffer = keyer->shadingBuffer;
    const size_t stride = size_t(keyer->width);

    int32_t nextRow = y0 - ty;
    auto fillNext = [&]() {
        const uint8_t* p = fg->PixelAddress(uint16_t(x0 - lx), uint16_t(nextRow));
        FillRatioRow(window.Newest(), n, p, fgStep, limits, dominant, smallest);
        ++nextRow;
    };
    auto copyMiddle = [&](int32_t y) {
        const float* middle = window.Middle() + lx;
        float* out = buffer + size_t(y) * stride + size_t(x0);
        for (int32_t i = 0; i < w; ++i)
            out[i] = middle[i];
    };

    for (int32_t k = 0; k < ty + ry; ++k) {
        window.PushRow();
        fillNext();
    }

    int32_t y = y0;
    for (int32_t k = 0; k < mT; ++k, ++y) {
        window.PushRow();
        fillNext();
        copyMiddle(y);
    }

    const int32_t interiorRows = h - mT - mB;
    for (int32_t k = 0; k < interiorRows; ++k, ++y) {
        window.PushRow();
        fillNext();
        const float* middle = window.Middle() + lx;
        float* out = buffer + size_t(y) * stride + size_t(x0);
        for (int32_t i = 0; i < mL; ++i)
            out[i] = middle[i];
        const uint8_t* m = matte->PixelAddress(uint16_t(x0 + mL), uint16_t(y));
        const uint8_t* e = edge->PixelAddress(uint16_t(x0 + mL), uint16_t(y));
        for (int32_t i = mL; i < mL + inner; ++i) {
            const bool clean = *m == 0 && *e == 0;
            if (i == mL)
                out[i] = clean ? window.FirstMean() : window.FirstCentre();
            else
                out[i] = clean ? window.NextMean() : window.NextCentre();
            m += matteStep;
            e += edgeStep;
        }
        for (int32_t i = mL + inner; i < w; ++i)
            out[i] = middle[i];
    }

    for (int32_t k = 0; k < mB; ++k, ++y) {
        window.PushRow();
        copyMiddle(y);
    }
    return 1;
}

int CKeyer::SmoothShadingRatio() {
    if (!smoothBgShadow) return 1;
    if (shadingBuffer == nullptr) return 0;
    RECT band = BandRect();
    if (IsRectEmpty(&band)) return 1;

    return RunKernelBands(SmoothWorker, this, &band, filterWidth, filterHeight);
}
