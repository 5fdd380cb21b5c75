// The storable rectangle record.
#include "image/wipes.h"

#include <new>

const CRuntimeClass CWipes::classCWipes = {"CWipes", 1, &CWipes::CreateObject};

RECT CWipes::limitRect = {0, 0, 1, 1};

namespace {
// Load-time entry in the list of runtime classes (the registry also lists the
// record itself, see object.cpp).
const CRuntimeClassRegistration registerWipes(&CWipes::classCWipes);

// Version word of the stored form.
const uint32_t kWipesVersion = 1;
} // namespace

CObject* CWipes::CreateObject() {
    return new CWipes;
}

CWipes::CWipes() : rect(limitRect) {}

CWipes::~CWipes() {}

const CRuntimeClass* CWipes::GetRuntimeClass() const {
    return &classCWipes;
}

void CWipes::Serialize(CArchive& archive) {
    if (archive.IsStoring()) {
        archive.WriteU32(kWipesVersion);
        archive.WriteI32(rect.left);
        archive.WriteI32(rect.top);
        archive.WriteI32(rect.right);
        archive.WriteI32(rect.bottom);
        return;
    }
    uint32_t version = archive.ReadU32();
    if (version == 0 || version > kWipesVersion)
        throw CArchiveException(CArchiveException::badSchema);
    // Read everything before changing the record, so that a short archive
    // leaves it as it was. The values are taken as stored.
    RECT loaded;
    loaded.left = archive.ReadI32();
    loaded.top = archive.ReadI32();
    loaded.right = archive.ReadI32();
    loaded.bottom = archive.ReadI32();
    rect = loaded;
}

void CWipes::AssertValid() const {}

void CWipes::Dump() const {}

int CWipes::IsEqual(const CWipes* other) const {
    if (other == this) return 1;
    if (other == nullptr) return 0;
    return rect.left == other->rect.left && rect.top == other->rect.top &&
                   rect.right == other->rect.right && rect.bottom == other->rect.bottom
               ? 1
               : 0;
}

void CWipes::Reset() {
    rect = limitRect;
}

RECT* CWipes::Assign(const RECT* source) {
    RECT normal = *source;
    if (normal.right < normal.left) {
        int32_t swap = normal.left;
        normal.left = normal.right;
        normal.right = swap;
    }
    if (normal.bottom < normal.top) {
        int32_t swap = normal.top;
        normal.top = normal.bottom;
        normal.bottom = swap;
    }
    // An empty intersection leaves (0, 0, 0, 0).
    IntersectRect(&rect, &normal, &limitRect);
    return &rect;
}
