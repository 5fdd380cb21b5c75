// CWipes: a storable rectangle of the frame, clipped against a rectangle
// shared by the whole class.
#pragma once

#include <cstdint>

#include "image/object.h"
#include "platform/rect.h"

class CWipes : public CObject {
  public:
    CWipes();
    ~CWipes() override;

    const CRuntimeClass* GetRuntimeClass() const override;
    // Stored form: version word 1, then left, top, right, bottom (little-endian
    // 32-bit words). Loading an unknown version throws CArchiveException(badSchema);
    // a short archive throws CArchiveEndOfFile. Either leaves `rect` unchanged.
    void Serialize(CArchive& archive) override;
    void AssertValid() const override;
    void Dump() const override;

    // Virtual operations in slot order.
    // 1 when `other` is this record or holds the same four values, else 0.
    virtual int IsEqual(const CWipes* other) const;
    // Puts `rect` back to the class limit.
    virtual void Reset();

    // Copies the rectangle, normalises it and clips it to the class limit (an
    // empty result is (0, 0, 0, 0)).
    RECT* Assign(const RECT* source);

    int32_t GetLeft() const { return rect.left; }
    int32_t GetTop() const { return rect.top; }
    int32_t GetRight() const { return rect.right; }
    int32_t GetBottom() const { return rect.bottom; }

    static CObject* CreateObject();
    static const CRuntimeClass classCWipes;
    // Shared limit of every record: (0, 0, 1, 1).
    static RECT limitRect;

    RECT rect;
};
