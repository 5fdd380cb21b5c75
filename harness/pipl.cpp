#include "harness/pipl.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "harness/harness.h"

namespace harness {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

// A whole PE file in memory with bounds-checked readers.
struct PeFile {
    std::string path;
    std::vector<uint8_t> bytes;
    bool pe64 = false;
    uint32_t exportRva = 0, exportSize = 0;
    uint32_t resourceRva = 0, resourceSize = 0;
    struct Section {
        uint32_t va, vsize, rawSize, rawOffset;
    };
    std::vector<Section> sections;

    [[noreturn]] void Fail(const std::string& what) const { throw Error(path + ": " + what); }
    const uint8_t* At(size_t offset, size_t size) const {
        if (offset > bytes.size() || size > bytes.size() - offset) Fail("truncated PE file");
        return bytes.data() + offset;
    }
    uint32_t U32(size_t offset) const { return Le32(At(offset, 4)); }
    uint16_t U16(size_t offset) const { return Le16(At(offset, 2)); }
    size_t Offset(uint32_t rva) const {
        for (const Section& s : sections) {
            uint32_t extent = s.vsize > s.rawSize ? s.vsize : s.rawSize;
            if (rva >= s.va && rva - s.va < extent) {
                if (rva - s.va >= s.rawSize) Fail("address outside the file data");
                return size_t(rva - s.va) + s.rawOffset;
            }
        }
        Fail("address in no section");
    }

    explicit PeFile(const std::string& file) : path(file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw Error("cannot open " + file);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') Fail("not a PE module");
        uint32_t pe = U32(0x3C);
        const uint8_t* sig = At(pe, 4);
        if (sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0) Fail("not a PE module");
        size_t coff = pe + 4;
        uint16_t sectionCount = U16(coff + 2);
        uint16_t optionalSize = U16(coff + 16);
        size_t opt = coff + 20;
        uint16_t magic = U16(opt);
        if (magic == 0x20B)
            pe64 = true;
        else if (magic != 0x10B)
            Fail("unknown PE optional header");
        size_t dirCountAt = opt + (pe64 ? 108 : 92);
        size_t dirs = dirCountAt + 4;
        uint32_t dirCount = U32(dirCountAt);
        if (dirCount > 0) {
            exportRva = U32(dirs);
            exportSize = U32(dirs + 4);
        }
        if (dirCount > 2) {
            resourceRva = U32(dirs + 16);
            resourceSize = U32(dirs + 20);
        }
        size_t sec = opt + optionalSize;
        for (uint16_t i = 0; i < sectionCount; ++i) {
            size_t h = sec + size_t(i) * 40;
            sections.push_back({U32(h + 12), U32(h + 8), U32(h + 16), U32(h + 20)});
        }
    }
};

std::string Upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string FourCCText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = char((code >> shift) & 0xFF);
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return text;
}

const PiplProperty* Pipl::Find(uint32_t key) const {
    for (const PiplProperty& p : properties)
        if (p.key == key) return &p;
    return nullptr;
}

namespace {
const PiplProperty& Need(const Pipl& pipl, uint32_t key, size_t minLength) {
    const PiplProperty* p = pipl.Find(key);
    if (!p) throw Error("PiPL has no '" + FourCCText(key) + "' property");
    if (p->data.size() < minLength)
        throw Error("PiPL property '" + FourCCText(key) + "' is too short");
    return *p;
}
} // namespace

uint32_t Pipl::Code(uint32_t key) const {
    const PiplProperty& p = Need(*this, key, 4);
    return Le32(p.data.data());
}

std::string Pipl::PascalString(uint32_t key) const {
    const PiplProperty& p = Need(*this, key, 1);
    size_t n = p.data[0];
    if (n + 1 > p.data.size())
        throw Error("PiPL property '" + FourCCText(key) + "': string longer than the data");
    return std::string(p.data.begin() + 1, p.data.begin() + 1 + n);
}

std::string Pipl::CString(uint32_t key) const {
    const PiplProperty& p = Need(*this, key, 1);
    std::string text;
    for (uint8_t c : p.data) {
        if (c == 0) return text;
        text += char(c);
    }
    throw Error("PiPL property '" + FourCCText(key) + "': string without terminator");
}

uint32_t Pipl::Word32(uint32_t key) const {
    const PiplProperty& p = Need(*this, key, 4);
    return Le32(p.data.data());
}

uint16_t Pipl::Word16(uint32_t key, int index) const {
    const PiplProperty& p = Need(*this, key, size_t(index) * 2 + 2);
    return Le16(p.data.data() + index * 2);
}

Pipl ParsePipl(const uint8_t* bytes, size_t size) {
    auto need = [&](size_t offset, size_t n) {
        if (offset > size || n > size - offset) throw Error("PiPL data truncated");
    };
    Pipl pipl;
    need(0, 10);
    pipl.prefix = Le16(bytes);
    pipl.version = Le32(bytes + 2);
    uint32_t count = Le32(bytes + 6);
    if (pipl.prefix != 1) throw Error("PiPL data does not start with the Windows prefix 1");
    if (count > 1000) throw Error("PiPL property count implausible");
    size_t at = 10;
    for (uint32_t i = 0; i < count; ++i) {
        need(at, 16);
        PiplProperty p;
        p.vendor = Le32(bytes + at);
        p.key = Le32(bytes + at + 4);
        p.id = Le32(bytes + at + 8);
        p.length = Le32(bytes + at + 12);
        need(at + 16, p.length);
        p.data.assign(bytes + at + 16, bytes + at + 16 + p.length);
        size_t padded = (size_t(p.length) + 3) / 4 * 4;
        at += 16 + padded;
        pipl.properties.push_back(std::move(p));
    }
    // The last property's padding may be cut off by the resource size.
    pipl.byteSize = at < size ? at : size;
    return pipl;
}

std::string CheckEffectPipl(const Pipl& pipl, bool win64) {
    uint32_t kind = pipl.Code(FourCC("kind"));
    if (kind != FourCC("eFKT"))
        throw Error("PiPL kind is '" + FourCCText(kind) + "', not an effect ('eFKT')");
    if (pipl.Word16(FourCC("ePVR"), 0) != 2)
        throw Error("PiPL version " + std::to_string(pipl.Word16(FourCC("ePVR"), 0)) +
                    " is not supported (2 expected)");
    uint16_t interfaceVersion = pipl.Word16(FourCC("eSVR"), 0);
    if (interfaceVersion < 11 || interfaceVersion > 13)
        throw Error("effect interface version " + std::to_string(interfaceVersion) +
                    " is not supported");
    uint32_t key = win64 ? FourCC("8664") : FourCC("wx86");
    if (!pipl.Find(key))
        throw Error(std::string("PiPL has no ") + (win64 ? "64-bit" : "32-bit") +
                    " entry point property ('" + FourCCText(key) + "')");
    std::string entry = pipl.CString(key);
    if (entry.empty()) throw Error("PiPL entry point name is empty");
    return entry;
}

std::vector<uint8_t> ReadPeResource(const std::string& path, const std::string& typeName,
                                    uint16_t id, uint16_t language) {
    PeFile pe(path);
    if (pe.resourceRva == 0) pe.Fail("no resources");
    size_t base = pe.Offset(pe.resourceRva);

    // Entries of one directory level: (name or id, offset-to-data).
    struct Entry {
        bool named;
        std::string name;
        uint32_t id;
        uint32_t target;
    };
    auto entries = [&](uint32_t dirOffset) {
        std::vector<Entry> list;
        size_t dir = base + dirOffset;
        uint32_t total = uint32_t(pe.U16(dir + 12)) + pe.U16(dir + 14);
        for (uint32_t i = 0; i < total; ++i) {
            size_t e = dir + 16 + size_t(i) * 8;
            uint32_t name = pe.U32(e);
            Entry entry{(name & 0x80000000u) != 0, "", name & 0xFFFF, pe.U32(e + 4)};
            if (entry.named) {
                size_t s = base + (name & 0x7FFFFFFF);
                uint16_t len = pe.U16(s);
                for (uint16_t k = 0; k < len; ++k)
                    entry.name += char(pe.U16(s + 2 + k * 2u));
            }
            list.push_back(entry);
        }
        return list;
    };
    auto subdir = [&](const Entry& e) {
        if (!(e.target & 0x80000000u)) pe.Fail("malformed resource directory");
        return e.target & 0x7FFFFFFF;
    };

    std::string wanted = Upper(typeName);
    for (const Entry& type : entries(0)) {
        if (!type.named || Upper(type.name) != wanted) continue;
        for (const Entry& name : entries(subdir(type))) {
            if (name.named || name.id != id) continue;
            for (const Entry& lang : entries(subdir(name))) {
                if (language != 0 && lang.id != language) continue;
                if (lang.target & 0x80000000u) pe.Fail("malformed resource directory");
                size_t data = base + lang.target;
                uint32_t rva = pe.U32(data);
                uint32_t size = pe.U32(data + 4);
                const uint8_t* p = pe.At(pe.Offset(rva), size);
                return std::vector<uint8_t>(p, p + size);
            }
            pe.Fail("resource " + typeName + " " + std::to_string(id) + " has no language " +
                    std::to_string(language));
        }
        pe.Fail("no resource " + typeName + " with id " + std::to_string(id));
    }
    pe.Fail("no resource of type " + typeName);
}

bool PeIs64Bit(const std::string& path) {
    return PeFile(path).pe64;
}

std::vector<std::string> ReadPeExports(const std::string& path) {
    PeFile pe(path);
    std::vector<std::string> names;
    if (pe.exportRva == 0) return names;
    size_t dir = pe.Offset(pe.exportRva);
    uint32_t count = pe.U32(dir + 24);
    uint32_t namesRva = pe.U32(dir + 32);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = pe.Offset(pe.U32(pe.Offset(namesRva) + size_t(i) * 4));
        std::string name;
        for (;; ++at) {
            char c = char(*pe.At(at, 1));
            if (c == 0) break;
            name += c;
        }
        names.push_back(name);
    }
    return names;
}

} // namespace harness
