// CImageBaseClass: the one image type. A block of pixels of a fixed byte size,
// owned or wrapping a caller's memory (a host frame), seen through a view
// rectangle, with a selection of the bytes of each pixel that copies and fills
// transfer, an undefined-content mark and an optional separated-fields layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/object.h"
#include "platform/rect.h"

// Reason of the last failed image operation (never reset). Per thread, since
// two frames may render on two host threads at once.
uint32_t& ImageErrorRef();
#define ImageError (ImageErrorRef())

enum ImageReason : uint32_t {
    kImageForcedResize = 2,
    kImageBadSize = 3,
    kImageOutOfMemory = 4,
    kImageViewMismatch = 5,
    kImageNoMemory = 6,
    kImageSameImage = 17,
    kImageHasMemory = 18,
    kImageLayoutMismatch = 19,
    kImageRectOutside = 23,
};

class CImageBaseClass : public CObject {
  public:
    CImageBaseClass();
    ~CImageBaseClass() override;
    // An image owns or wraps one pixel block; copies go through Copy/CopyRect.
    CImageBaseClass(const CImageBaseClass&) = delete;
    CImageBaseClass& operator=(const CImageBaseClass&) = delete;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCImageBaseClass;
    static CObject* CreateObject();

    // Virtual operations in slot order.
    virtual int Resize(uint32_t width, uint32_t height, int force);
    virtual void Release();
    virtual int CopyRect(CImageBaseClass* source, const RECT* rect, int singleField,
                         int fieldCoordinates);
    virtual int Copy(CImageBaseClass* source, int singleField);
    virtual int CopyOutsideRect(CImageBaseClass* source, const RECT* rect, int singleField,
                                int fieldCoordinates);
    virtual int FillRect(const RECT* rect, const uint8_t* value, int bothFields,
                         int fieldCoordinates);
    virtual int FillOutsideRect(const RECT* rect, const uint8_t* value, int bothFields,
                                int fieldCoordinates);
    virtual int Fill(const uint8_t* value, int bothFields);
    virtual int DrawLine(POINT first, POINT second, const uint8_t* value, int bothFields);
    virtual uint8_t* GetPixel(POINT point);

    // Gives the image its pixel block; null callerMemory means owned memory
    // (allocated zero-filled).
    int Create(uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint8_t* callerMemory);
    void SetView(const RECT* rect);
    void SelectComponents(uint16_t count, uint16_t offset);
    uint8_t* PixelAddress(uint16_t x, uint16_t y) const;
    int32_t RowAdvance(uint16_t n) const;
    uint16_t ViewHeight(int fieldAware) const;
    uint16_t ViewWidth() const { return (uint16_t)(view.right - view.left); }
    // Byte offset of the view's first pixel (wide enough for any block size).
    ptrdiff_t ViewOrigin(int fieldAware) const;
    void SetFieldMode(int on, int convert);
    int SetUndefined(int flag);
    int SplitFields(CImageBaseClass* source, int evenRowsToSecondHalf);
    int MergeFields(CImageBaseClass* source, int secondHalfFirst);

    // Fields, in order.
    uint32_t fieldMode;
    uint16_t fieldOrder;
    uint8_t* pixels;
    uint16_t bytesPerPixel;
    uint16_t componentOffset;
    uint32_t rowGap;
    uint32_t rowStride;
    uint32_t pixelStep;
    uint32_t componentStep;
    uint16_t componentCount;
    RECT view;
    RECT viewAtOrigin;
    uint32_t ownsPixels;
    uint32_t undefined;
    RECT bounds;
    uint8_t* scratchPixel;

  private:
    // Bytes of the owned pixel block (its bounds times the pixel size).
    size_t OwnedBytes() const;
    // First byte of the selected component of view pixel (0, 0) of the
    // addressed field (or the frame).
    uint8_t* ViewBase() const;
    // Address of view pixel (x, y) without clamping.
    uint8_t* At(int32_t x, int32_t y) const {
        return ViewBase() + (ptrdiff_t)y * rowStride + (ptrdiff_t)x * pixelStep;
    }
    // Whether a (non-empty) rectangle in view rows lies inside the view.
    bool InsideView(const RECT& rect) const;
    void FillRows(const RECT& rect, const uint8_t* value);
    void CopyRows(const CImageBaseClass* source, const RECT& rect);
    // Start of view row `row` of field half `half` (0 or 1) in separated layout,
    // or of frame row `row` (half < 0); whole pixels, no component offset.
    uint8_t* LayoutRow(int half, int32_t row) const;
    int ConvertLayout(int toFields);
};
