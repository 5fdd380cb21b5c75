// The plug-in property list (PiPL) as the host reads it from a Windows
// module's resources, and a reader for the resource in a PE file, so the
// built .aex can be inspected on any system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

// A four-character code as the host stores it: the big-endian reading of the
// characters ('eFKT' = 0x65464B54).
constexpr uint32_t FourCC(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}
std::string FourCCText(uint32_t code);

struct PiplProperty {
    uint32_t vendor = 0; // '8BIM'
    uint32_t key = 0;
    uint32_t id = 0;
    uint32_t length = 0;       // as stored
    std::vector<uint8_t> data; // `length` bytes
};

struct Pipl {
    uint16_t prefix = 0; // 1 on Windows
    uint32_t version = 0;
    std::vector<PiplProperty> properties; // in stored order
    size_t byteSize = 0;                  // bytes consumed by the parse

    const PiplProperty* Find(uint32_t key) const;
    // Decoded values; Error if the property is missing or malformed.
    uint32_t Code(uint32_t key) const;              // a 4-byte code ('kind')
    std::string PascalString(uint32_t key) const;   // 'name', 'catg', 'eMNA'
    std::string CString(uint32_t key) const;        // 'wx86', '8664'
    uint32_t Word32(uint32_t key) const;            // 'eVER', 'eGLO', 'aeFL'
    uint16_t Word16(uint32_t key, int index) const; // 'ePVR', 'eSVR' (0 major, 1 minor), 'eINF'
    bool empty() const { return properties.empty(); }
};

// Parses the Windows PiPL bytes (16-bit prefix, version, count, properties).
// Throws harness::Error on malformed data.
Pipl ParsePipl(const uint8_t* bytes, size_t size);

// Checks what the host checks before it calls an effect: kind 'eFKT', PiPL
// version 2.x, effect interface version ('eSVR') 11..13 major, and an entry name for the
// module's architecture ('8664' when `win64`, else 'wx86'). Returns the entry
// name; throws harness::Error with the reason otherwise.
std::string CheckEffectPipl(const Pipl& pipl, bool win64);

// Reads the raw bytes of a resource (type given by name, e.g. "PIPL"; id;
// language, 0 for any) out of a PE file (.aex/.dll). Throws harness::Error
// if the file is not a PE image or has no such resource.
std::vector<uint8_t> ReadPeResource(const std::string& path, const std::string& typeName,
                                    uint16_t id, uint16_t language);

// Whether the PE file is a 64-bit (x86_64) image.
bool PeIs64Bit(const std::string& path);

// The names in a PE file's export table.
std::vector<std::string> ReadPeExports(const std::string& path);

} // namespace harness
