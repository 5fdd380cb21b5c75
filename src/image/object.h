// The root class of every object of the plug-in, its runtime class records,
// creation by class name, and the small archive used to store records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CObject;
class CArchive;

// Runtime class record: the class name, its schema number (0xFFFF when the
// class cannot be stored) and a factory for creation by name (or null).
struct CRuntimeClass {
    const char* className;
    uint32_t schema;
    CObject* (*createObject)();

    CObject* CreateObject() const;
};

// Registry of the module's runtime classes, filled when the library is loaded.
class CRuntimeClassRegistry {
  public:
    static void Register(const CRuntimeClass* record);
    static const CRuntimeClass* Find(const char* className);
    // Creates a registered class by name; null when unknown or not creatable.
    static CObject* CreateObject(const char* className);
};

// Registers a runtime class record at load time.
struct CRuntimeClassRegistration {
    explicit CRuntimeClassRegistration(const CRuntimeClass* record) {
        CRuntimeClassRegistry::Register(record);
    }
};

// The root's virtual operations come first in every class, in this order.
class CObject {
  public:
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    virtual void Serialize(CArchive& archive);
    virtual void AssertValid() const;
    virtual void Dump() const;

    // True for the object's own class record and for the root's record (the
    // records carry no base class, and no class derives from another but the
    // root).
    bool IsKindOf(const CRuntimeClass* record) const;

    static const CRuntimeClass classCObject;
};

// Raised by loading a record with an unknown version (cause 7: bad schema),
// and by writing to a loading archive (cause 2) or reading from a storing one
// (cause 4).
class CArchiveException {
  public:
    enum Cause { none = 0, readOnly = 2, writeOnly = 4, badSchema = 7 };
    explicit CArchiveException(int cause) : m_cause(cause) {}
    int m_cause;
};

// Raised when an archive ends before a value could be read.
class CArchiveEndOfFile {};

// Little-endian 32-bit words stored to or loaded from a byte buffer.
class CArchive {
  public:
    enum Mode { store = 0, load = 1 };
    // Storing archive writing into an empty buffer.
    CArchive();
    // Loading archive reading the given bytes.
    explicit CArchive(std::vector<uint8_t> bytes);

    bool IsStoring() const { return mode == store; }
    bool IsLoading() const { return mode == load; }

    void WriteU32(uint32_t value); // throws CArchiveException(readOnly) when loading
    void WriteI32(int32_t value);
    uint32_t ReadU32(); // throws CArchiveEndOfFile when fewer than 4 bytes remain
    int32_t ReadI32();  // and CArchiveException(writeOnly) when storing

    const std::vector<uint8_t>& Bytes() const { return buffer; }

    // File round trip of the archive's bytes; false on an I/O failure.
    bool SaveToFile(const std::string& path) const;
    static bool LoadFromFile(const std::string& path, std::vector<uint8_t>& bytes);

  private:
    Mode mode;
    std::vector<uint8_t> buffer;
    size_t readPos = 0;
};
