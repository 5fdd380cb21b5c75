// The image buffer: pixel block, view, component selection, field layout,
// copies, fills and the per-thread reason of the last failure.
#include "image/image.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "image/blockpool.h"
#include "platform/memory.h"

uint32_t& ImageErrorRef() {
    static thread_local uint32_t error = 0;
    return error;
}

const CRuntimeClass CImageBaseClass::classCImageBaseClass = {"CImageBaseClass", 0xFFFF,
                                                             &CImageBaseClass::CreateObject};

namespace {

const CRuntimeClassRegistration registerImage(&CImageBaseClass::classCImageBaseClass);

int Fail(uint32_t reason) {
    ImageError = reason;
    if (reason == kImageOutOfMemory) NoteAllocationFailure();
    return 0;
}

bool IsZeroRect(const RECT& rect) {
    return rect.left == 0 && rect.top == 0 && rect.right == 0 && rect.bottom == 0;
}

// A rectangle argument of null is taken as (0, 0, 0, 0).
RECT RectArgument(const RECT* rect) {
    RECT copy = {0, 0, 0, 0};
    if (rect != nullptr) copy = *rect;
    return copy;
}

// The field order that addresses the other field.
uint16_t OtherOrder(uint16_t order) {
    return order == 1 ? 2 : 1;
}

// Puts back an order saved before flipping it, when it was a valid one.
void RestoreOrder(uint16_t& order, uint16_t saved) {
    if (saved == 1 || saved == 2) order = saved;
}

// Runs op on the other field of image (and of source, when given), then
// puts the field orders back; gives op's result.
template <typename Op> int InOtherField(CImageBaseClass& image, CImageBaseClass* source, Op op) {
    const uint16_t ownOrder = image.fieldOrder;
    const uint16_t sourceOrder = source ? source->fieldOrder : 0;
    image.fieldOrder = OtherOrder(image.fieldOrder);
    if (source) source->fieldOrder = OtherOrder(source->fieldOrder);
    const int ok = op();
    RestoreOrder(image.fieldOrder, ownOrder);
    if (source) RestoreOrder(source->fieldOrder, sourceOrder);
    return ok;
}

// Whether two images have views of the same size (in rows of their fields).
bool SameViewSize(const CImageBaseClass& a, const CImageBaseClass& b) {
    return a.ViewWidth() == b.ViewWidth() &&
           a.ViewHeight((int)a.fieldMode) == b.ViewHeight((int)b.fieldMode);
}

// Takes a rectangle given in frame rows to rows of a field.
void ToFieldRows(RECT& rect) {
    rect.top /= 2;
    rect.bottom /= 2;
}

// The four rectangles of a view of width x height around area: above,
// left, right and below.
void BandsAround(const RECT& area, int32_t width, int32_t height, RECT* bands) {
    bands[0] = {0, 0, width, area.top};
    bands[1] = {0, area.top, area.left, area.bottom};
    bands[2] = {area.right, area.top, width, area.bottom};
    bands[3] = {0, area.bottom, width, height};
}

void Normalise(RECT& rect) {
    if (rect.right < rect.left) std::swap(rect.left, rect.right);
    if (rect.bottom < rect.top) std::swap(rect.top, rect.bottom);
}

// Copies `count` bytes of one pixel (the images may wrap the same memory).
inline void CopyPixel(uint8_t* dest, const uint8_t* source, uint16_t count) {
    for (uint16_t c = 0; c < count; ++c)
        dest[c] = source[c];
}

} // namespace

CImageBaseClass::CImageBaseClass()
    : fieldMode(0), fieldOrder(1), pixels(nullptr), bytesPerPixel(0), componentOffset(0), rowGap(0),
      rowStride(0), pixelStep(0), componentStep(1),
      componentCount(0), view{0, 0, 0, 0}, viewAtOrigin{0, 0, 0, 0}, ownsPixels(0),
      undefined(1), bounds{0, 0, 0, 0}, scratchPixel(nullptr) {}

CImageBaseClass::~CImageBaseClass() {
    CImageBaseClass::Release();
}

const CRuntimeClass* CImageBaseClass::GetRuntimeClass() const {
    return &classCImageBaseClass;
}

CObject* CImageBaseClass::CreateObject() {
    try {
        return new CImageBaseClass;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Memory and geometry

int CImageBaseClass::Create(uint32_t width, uint32_t height, uint32_t newBytesPerPixel,
                            uint8_t* callerMemory) {
    if (pixels != nullptr) return Fail(kImageHasMemory);
    if (width == 0 || height == 0 || width > 65535 || height > 65535) return Fail(kImageBadSize);
    // A pixel must have at least one byte and its size must fit the u16 field.
    if (newBytesPerPixel == 0 || newBytesPerPixel > 65535) return Fail(kImageBadSize);

    if (callerMemory == nullptr) {
        // Owned memory starts zeroed: later passes read pixels that no pass
        // wrote (around a crop rectangle, for instance).
        const uint64_t size = (uint64_t)width * height * newBytesPerPixel;
        void* block = nullptr;
        if (size <= (uint64_t)SIZE_MAX) block = TakeZeroedBlock((size_t)size);
        if (block == nullptr) {
            pixels = nullptr;
            ownsPixels = 0;
            return Fail(kImageOutOfMemory);
        }
        pixels = static_cast<uint8_t*>(block);
        ownsPixels = 1;
    } else {
        pixels = callerMemory;
        ownsPixels = 0;
    }
    SetRect(&bounds, 0, 0, (int)width, (int)height);
    undefined = 1;

    if (newBytesPerPixel != bytesPerPixel || scratchPixel == nullptr) {
        std::free(scratchPixel);
        scratchPixel = static_cast<uint8_t*>(std::calloc(newBytesPerPixel, 1));
        if (scratchPixel == nullptr) {
            CImageBaseClass::Release();
            return Fail(kImageOutOfMemory);
        }
    }
    bytesPerPixel = (uint16_t)newBytesPerPixel;
    SetView(&bounds);
    componentOffset = 0;
    componentCount = bytesPerPixel;
    return 1;
}

void CImageBaseClass::SetView(const RECT* rect) {
    if (rect == nullptr || IsZeroRect(*rect) || IsRectEmpty(rect)) return;
    RECT wanted = *rect;
    Normalise(wanted);
    Normalise(bounds);
    RECT clipped;
    IntersectRect(&clipped, &wanted, &bounds);
    view = clipped;
    viewAtOrigin = view;
    OffsetRect(&viewAtOrigin, -view.left, -view.top);
    pixelStep = bytesPerPixel;
    componentStep = 1;
    rowStride = (uint32_t)(bounds.right - bounds.left) * bytesPerPixel;
    rowGap = (uint32_t)((bounds.right - bounds.left) - (view.right - view.left)) * bytesPerPixel;
}

size_t CImageBaseClass::OwnedBytes() const {
    return (size_t)(bounds.right - bounds.left) * (size_t)(bounds.bottom - bounds.top) *
           bytesPerPixel;
}

void CImageBaseClass::Release() {
    if (ownsPixels) GiveBlock(pixels, OwnedBytes());
    pixels = nullptr;
    SetRectEmpty(&bounds);
    bytesPerPixel = 0;
    undefined = 1;
    ownsPixels = 0;
    std::free(scratchPixel);
    scratchPixel = nullptr;
    componentOffset = 0;
    componentCount = 0;
}

int CImageBaseClass::Resize(uint32_t width, uint32_t height, int force) {
    if (!ownsPixels && !force) return 0;
    const uint32_t viewWidth = (uint32_t)(view.right - view.left);
    const uint32_t viewHeight = (uint32_t)(view.bottom - view.top);
    const uint64_t viewCount = (uint64_t)viewWidth * viewHeight;
    if (force) {
        if (pixels == nullptr) return 0;
        if (viewWidth != 1 && (width != viewWidth || height != viewHeight))
            return Fail(kImageForcedResize);
        // Caller memory is never reallocated.
        if (!ownsPixels && (uint64_t)width * height != viewCount) return Fail(kImageForcedResize);
    }
    if (width == 0 || height == 0 || width > 65535 || height > 65535) return Fail(kImageBadSize);

    if (viewCount != (uint64_t)width * height) {
        if (ownsPixels) GiveBlock(pixels, OwnedBytes());
        pixels = nullptr;
        ownsPixels = 0;
        if (!Create(width, height, bytesPerPixel, nullptr)) return Fail(kImageOutOfMemory);
    }
    SetRect(&bounds, 0, 0, (int)width, (int)height);
    view = bounds;
    SetView(&bounds);
    return 1;
}

uint8_t* CImageBaseClass::ViewBase() const {
    ptrdiff_t offset = ViewOrigin((int)fieldMode);
    if (fieldMode && fieldOrder == 2)
        offset += (ptrdiff_t)((bounds.bottom - bounds.top) / 2) * rowStride;
    offset += (ptrdiff_t)componentOffset * componentStep;
    return pixels + offset;
}

ptrdiff_t CImageBaseClass::ViewOrigin(int fieldAware) const {
    const int32_t top = fieldAware ? view.top / 2 : view.top;
    return (ptrdiff_t)view.left * pixelStep + (ptrdiff_t)rowStride * top;
}

uint8_t* CImageBaseClass::PixelAddress(uint16_t x, uint16_t y) const {
    if (pixels == nullptr) return nullptr;
    const uint16_t width = ViewWidth();
    const uint16_t height = ViewHeight((int)fieldMode);
    if (x > (uint16_t)(width - 1)) x = (uint16_t)(width - 1);
    if (y > (uint16_t)(height - 1)) y = (uint16_t)(height - 1);
    return At(x, y);
}

int32_t CImageBaseClass::RowAdvance(uint16_t n) const {
    return (int32_t)((int64_t)rowStride - (int64_t)pixelStep * n);
}

uint16_t CImageBaseClass::ViewHeight(int fieldAware) const {
    int32_t height = view.bottom - view.top;
    if (fieldAware && fieldMode) height /= 2;
    return (uint16_t)height;
}

void CImageBaseClass::SelectComponents(uint16_t count, uint16_t offset) {
    componentCount = count;
    componentOffset = offset;
}

int CImageBaseClass::SetUndefined(int flag) {
    if (flag == 0 && pixels == nullptr) return Fail(kImageNoMemory);
    undefined = (uint32_t)flag;
    return 1;
}

bool CImageBaseClass::InsideView(const RECT& rect) const {
    const int32_t width = ViewWidth();
    const int32_t height = ViewHeight((int)fieldMode);
    return rect.left >= 0 && rect.top >= 0 && rect.right <= width && rect.bottom <= height &&
           rect.right - rect.left <= width && rect.bottom - rect.top <= height;
}

// ---------------------------------------------------------------------------
// Copies

void CImageBaseClass::CopyRows(const CImageBaseClass* source, const RECT& rect) {
    const int32_t columns = rect.right - rect.left;
    if (columns <= 0 || rect.bottom <= rect.top) return;
    const bool wholePixels =
        componentCount == bytesPerPixel && source->componentCount == source->bytesPerPixel;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        uint8_t* dest = At(rect.left, y);
        const uint8_t* from = source->At(rect.left, y);
        if (wholePixels) {
            std::memmove(dest, from, (size_t)columns * pixelStep);
            continue;
        }
        for (int32_t x = 0; x < columns; ++x) {
            CopyPixel(dest, from, componentCount);
            dest += pixelStep;
            from += source->pixelStep;
        }
    }
}

int CImageBaseClass::Copy(CImageBaseClass* source, int singleField) {
    if (source == nullptr || pixels == nullptr || source->pixels == nullptr)
        return Fail(kImageNoMemory);
    if (source == this) return 1;
    if (componentCount != source->componentCount) return Fail(kImageLayoutMismatch);
    if (!SameViewSize(*this, *source)) return Fail(kImageViewMismatch);
    if (source->undefined) {
        undefined = 1;
        return 1;
    }
    // The other field first; its result is not needed.
    if (fieldMode && !singleField) InOtherField(*this, source, [&] { return Copy(source, 1); });
    const RECT all = {0, 0, ViewWidth(), ViewHeight((int)fieldMode)};
    CopyRows(source, all);
    undefined = 0;
    return 1;
}

int CImageBaseClass::CopyRect(CImageBaseClass* source, const RECT* rect, int singleField,
                              int fieldCoordinates) {
    if (source == nullptr) return Fail(kImageNoMemory);
    if (componentCount != source->componentCount) return Fail(kImageLayoutMismatch);
    if (source == this) return 1;
    if (pixels == nullptr || source->pixels == nullptr) return Fail(kImageNoMemory);
    if (!SameViewSize(*this, *source)) return Fail(kImageViewMismatch);
    if (source->undefined) {
        undefined = 1;
        return 1;
    }
    RECT area = RectArgument(rect);
    if (IsZeroRect(area) || IsRectEmpty(&area)) return 1;
    if (fieldMode && fieldCoordinates) ToFieldRows(area);
    if (!InsideView(area)) return Fail(kImageRectOutside);
    if (fieldMode && !singleField)
        InOtherField(*this, source, [&] { return CopyRect(source, &area, 1, 0); });
    CopyRows(source, area);
    undefined = 0;
    return 1;
}

int CImageBaseClass::CopyOutsideRect(CImageBaseClass* source, const RECT* rect, int singleField,
                                     int fieldCoordinates) {
    if (source == nullptr) return Fail(kImageNoMemory);
    if (componentCount != source->componentCount) return Fail(kImageLayoutMismatch);
    if (source == this) return 1;
    if (pixels == nullptr || source->pixels == nullptr) return Fail(kImageNoMemory);
    if (source->undefined) {
        undefined = 1;
        return 1;
    }
    RECT area = RectArgument(rect);
    if (fieldMode && fieldCoordinates) ToFieldRows(area);
    if (IsZeroRect(area) || IsRectEmpty(&area)) return Copy(source, singleField);
    if (!SameViewSize(*this, *source) || !InsideView(area)) return Fail(kImageViewMismatch);

    RECT bands[4];
    BandsAround(area, ViewWidth(), ViewHeight((int)fieldMode), bands);
    for (const RECT& band : bands) {
        if (!CopyRect(source, &band, singleField, 0)) return 0;
    }
    undefined = 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Fills and drawing

void CImageBaseClass::FillRows(const RECT& rect, const uint8_t* value) {
    const int32_t columns = rect.right - rect.left;
    if (columns <= 0 || rect.bottom <= rect.top) return;
    uint8_t* first = At(rect.left, rect.top);
    uint8_t* dest = first;
    for (int32_t x = 0; x < columns; ++x) {
        CopyPixel(dest, value, componentCount);
        dest += pixelStep;
    }
    const bool wholePixels = componentCount == bytesPerPixel;
    for (int32_t y = rect.top + 1; y < rect.bottom; ++y) {
        dest = At(rect.left, y);
        if (wholePixels) {
            // Whole pixels: the first row is the pattern of every other row.
            std::memcpy(dest, first, (size_t)columns * pixelStep);
            continue;
        }
        for (int32_t x = 0; x < columns; ++x) {
            CopyPixel(dest, value, componentCount);
            dest += pixelStep;
        }
    }
}

int CImageBaseClass::FillRect(const RECT* rect, const uint8_t* value, int bothFields,
                              int fieldCoordinates) {
    if (pixels == nullptr) return Fail(kImageNoMemory);
    RECT area = RectArgument(rect);
    if (fieldMode && fieldCoordinates) ToFieldRows(area);
    if (IsZeroRect(area) || IsRectEmpty(&area)) return 1;
    if (!InsideView(area)) return Fail(kImageRectOutside);
    if (fieldMode && bothFields &&
        !InOtherField(*this, nullptr, [&] { return FillRect(&area, value, 0, 0); }))
        return 0;
    FillRows(area, value);
    return 1;
}

int CImageBaseClass::FillOutsideRect(const RECT* rect, const uint8_t* value, int bothFields,
                                     int fieldCoordinates) {
    if (pixels == nullptr) return Fail(kImageNoMemory);
    RECT area = RectArgument(rect);
    if (fieldMode && fieldCoordinates) ToFieldRows(area);
    if (IsZeroRect(area) || IsRectEmpty(&area)) return Fill(value, bothFields);
    if (!InsideView(area)) return Fail(kImageRectOutside);

    RECT bands[4];
    BandsAround(area, ViewWidth(), ViewHeight((int)fieldMode), bands);
    for (const RECT& band : bands) {
        if (!FillRect(&band, value, bothFields, 0)) return 0;
    }
    return 1;
}

int CImageBaseClass::Fill(const uint8_t* value, int bothFields) {
    if (pixels == nullptr) return Fail(kImageNoMemory);
    if (fieldMode && bothFields && !InOtherField(*this, nullptr, [&] { return Fill(value, 0); }))
        return 0;
    const RECT all = {0, 0, ViewWidth(), ViewHeight((int)fieldMode)};
    FillRect(&all, value, 0, 0);
    return 1;
}

int CImageBaseClass::DrawLine(POINT first, POINT second, const uint8_t* value, int bothFields) {
    if (pixels == nullptr) return Fail(kImageNoMemory);
    if (first.x != second.x && first.y != second.y) return 0;
    const bool horizontal = first.x != second.x;
    const int32_t width = ViewWidth();
    const int32_t height = ViewHeight((int)fieldMode);
    // The view extended by one pixel to the right and bottom.
    if (first.x < 0 || first.x > width || first.y < 0 || first.y > height) return 0;
    if (second.x < 0 || second.x > width || second.y < 0 || second.y > height) return 0;
    if (fieldMode && bothFields &&
        !InOtherField(*this, nullptr, [&] { return DrawLine(first, second, value, 0); }))
        return 0;
    // A view without rows or columns (a field of a one-row view) has no pixel
    // to draw on.
    if (width == 0 || height == 0) return 1;
    int32_t x = first.x < second.x ? first.x : second.x;
    int32_t y = first.y < second.y ? first.y : second.y;
    if (x > width - 1) x = width - 1;
    if (y > height - 1) y = height - 1;
    const int32_t length = horizontal ? std::abs(first.x - second.x) : std::abs(first.y - second.y);
    if (length < 2) return 1;
    uint8_t* dest = At(x, y);
    const ptrdiff_t step = horizontal ? (ptrdiff_t)pixelStep : (ptrdiff_t)rowStride;
    for (int32_t i = 0; i < length - 1; ++i) {
        CopyPixel(dest, value, componentCount);
        dest += step;
    }
    return 1;
}

uint8_t* CImageBaseClass::GetPixel(POINT point) {
    if (scratchPixel == nullptr) return nullptr;
    // The scratch pixel holds bytesPerPixel bytes, whatever the selection.
    const uint16_t count = componentCount < bytesPerPixel ? componentCount : bytesPerPixel;
    if (pixels != nullptr && PtInRect(&viewAtOrigin, point)) {
        const int32_t row = fieldMode ? point.y / 2 : point.y;
        std::memcpy(scratchPixel, At(point.x, row), count);
    } else {
        std::memset(scratchPixel, 0, count);
    }
    return scratchPixel;
}

// ---------------------------------------------------------------------------
// Field layout

uint8_t* CImageBaseClass::LayoutRow(int half, int32_t row) const {
    ptrdiff_t offset = (ptrdiff_t)view.left * pixelStep;
    if (half < 0) {
        offset += (ptrdiff_t)(view.top + row) * rowStride;
    } else {
        offset += (ptrdiff_t)(view.top / 2 + row) * rowStride;
        if (half == 1) offset += (ptrdiff_t)((bounds.bottom - bounds.top) / 2) * rowStride;
    }
    return pixels + offset;
}

int CImageBaseClass::SplitFields(CImageBaseClass* source, int evenRowsToSecondHalf) {
    if (source == this) return Fail(kImageSameImage);
    if (source == nullptr || pixels == nullptr || source->pixels == nullptr)
        return Fail(kImageNoMemory);
    if (ViewWidth() != source->ViewWidth() || ViewHeight(0) != source->ViewHeight(0) ||
        bytesPerPixel != source->bytesPerPixel || source->fieldMode || !fieldMode)
        return Fail(kImageLayoutMismatch);
    const int evenHalf = evenRowsToSecondHalf ? 1 : 0;
    const size_t rowBytes = (size_t)ViewWidth() * pixelStep;
    const int32_t pairs = ViewHeight(0) / 2;
    for (int32_t k = 0; k < pairs; ++k) {
        std::memmove(LayoutRow(evenHalf, k), source->LayoutRow(-1, 2 * k), rowBytes);
        std::memmove(LayoutRow(1 - evenHalf, k), source->LayoutRow(-1, 2 * k + 1), rowBytes);
    }
    undefined = source->undefined;
    return 1;
}

int CImageBaseClass::MergeFields(CImageBaseClass* source, int secondHalfFirst) {
    if (source == this) return Fail(kImageSameImage);
    if (source == nullptr || pixels == nullptr || source->pixels == nullptr)
        return Fail(kImageNoMemory);
    if (ViewWidth() != source->ViewWidth() || ViewHeight(0) != source->ViewHeight(0) ||
        bytesPerPixel != source->bytesPerPixel || !source->fieldMode || fieldMode)
        return Fail(kImageLayoutMismatch);
    const int evenHalf = secondHalfFirst ? 1 : 0;
    const size_t rowBytes = (size_t)ViewWidth() * pixelStep;
    const int32_t pairs = ViewHeight(0) / 2;
    for (int32_t k = 0; k < pairs; ++k) {
        std::memmove(LayoutRow(-1, 2 * k), source->LayoutRow(evenHalf, k), rowBytes);
        std::memmove(LayoutRow(-1, 2 * k + 1), source->LayoutRow(1 - evenHalf, k), rowBytes);
    }
    undefined = source->undefined;
    return 1;
}

// Rearranges the view's rows between frame and separated-fields layout through
// a temporary image. The row left over by an odd height keeps its place, so a
// round trip restores every row.
int CImageBaseClass::ConvertLayout(int toFields) {
    CImageBaseClass temp;
    const uint16_t width = ViewWidth();
    const uint16_t height = ViewHeight(0);
    if (!temp.Create(width, height, bytesPerPixel, nullptr)) return 0;
    temp.SetUndefined(0);
    const uint32_t savedMode = fieldMode;
    int ok;
    if (toFields) {
        fieldMode = 0;
        temp.fieldMode = 1;
        ok = temp.SplitFields(this, 0);
    } else {
        fieldMode = 1;
        temp.fieldMode = 0;
        ok = temp.MergeFields(this, 0);
    }
    if (ok) {
        const size_t rowBytes = (size_t)width * pixelStep;
        if (height & 1)
            std::memmove(temp.LayoutRow(-1, height - 1), LayoutRow(-1, height - 1), rowBytes);
        if (ownsPixels && EqualRect(&view, &bounds)) {
            // Same geometry: take the new block; the old one goes with the temporary.
            std::swap(pixels, temp.pixels);
        } else {
            // Caller memory (or a partial view) receives the rearranged rows, whole pixels.
            for (int32_t row = 0; row < height; ++row)
                std::memmove(LayoutRow(-1, row), temp.LayoutRow(-1, row), rowBytes);
        }
    }
    fieldMode = savedMode;
    return ok;
}

void CImageBaseClass::SetFieldMode(int on, int convert) {
    const uint32_t wanted = on ? 1 : 0;
    if (wanted == fieldMode) return;
    if (convert && !ConvertLayout((int)wanted)) {
        ImageError = kImageOutOfMemory;
        return;
    }
    fieldMode = wanted;
}
