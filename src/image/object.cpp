// The root class, runtime class records, the registry of creatable classes and
// the little-endian word archive.
#include "image/object.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <utility>

#include "image/image.h"
#include "image/wipes.h"

const CRuntimeClass CObject::classCObject = {"CObject", 0xFFFF, nullptr};

CObject* CRuntimeClass::CreateObject() const {
    if (createObject == nullptr) return nullptr;
    try {
        return createObject();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

// The module's runtime classes. The image subsystem's own classes are listed
// here directly, so that creation by name works even when the linker drops an
// object file whose only reference is its load-time registration.
std::vector<const CRuntimeClass*>& Records() {
    static std::vector<const CRuntimeClass*> records = {
        &CObject::classCObject,
        &CImageBaseClass::classCImageBaseClass,
        &CWipes::classCWipes,
    };
    return records;
}

} // namespace

void CRuntimeClassRegistry::Register(const CRuntimeClass* record) {
    if (record == nullptr || record->className == nullptr) return;
    std::vector<const CRuntimeClass*>& records = Records();
    for (const CRuntimeClass* known : records) {
        // The first record of a name stays; registering it again changes nothing.
        if (known == record || std::strcmp(known->className, record->className) == 0) return;
    }
    records.push_back(record);
}

const CRuntimeClass* CRuntimeClassRegistry::Find(const char* className) {
    if (className == nullptr) return nullptr;
    for (const CRuntimeClass* known : Records()) {
        if (std::strcmp(known->className, className) == 0) return known;
    }
    return nullptr;
}

CObject* CRuntimeClassRegistry::CreateObject(const char* className) {
    const CRuntimeClass* record = Find(className);
    return record != nullptr ? record->CreateObject() : nullptr;
}

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

CObject::~CObject() {}

void CObject::Serialize(CArchive&) {}

void CObject::AssertValid() const {}

void CObject::Dump() const {}

bool CObject::IsKindOf(const CRuntimeClass* record) const {
    if (record == nullptr) return false;
    return record == &classCObject || GetRuntimeClass() == record;
}

CArchive::CArchive() : mode(store) {}

CArchive::CArchive(std::vector<uint8_t> bytes) : mode(load), buffer(std::move(bytes)) {}

void CArchive::WriteU32(uint32_t value) {
    if (mode != store) throw CArchiveException(CArchiveException::readOnly);
    for (int shift = 0; shift < 32; shift += 8)
        buffer.push_back((uint8_t)(value >> shift));
}

void CArchive::WriteI32(int32_t value) {
    WriteU32((uint32_t)value);
}

uint32_t CArchive::ReadU32() {
    if (mode != load) throw CArchiveException(CArchiveException::writeOnly);
    if (buffer.size() - readPos < 4) throw CArchiveEndOfFile();
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= (uint32_t)buffer[readPos + i] << (8 * i);
    readPos += 4;
    return value;
}

int32_t CArchive::ReadI32() {
    return (int32_t)ReadU32();
}

bool CArchive::SaveToFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(buffer.data()), (std::streamsize)buffer.size());
    out.close();
    return !out.fail();
}

bool CArchive::LoadFromFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    try {
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        if (in.bad()) return false;
        bytes.swap(data);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
