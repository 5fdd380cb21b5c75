// The storable rectangle record: creation by name through the runtime class
// registry, clipping to the class-wide limit, equality, and its twenty-byte
// stored form in a little-endian archive.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "image/image.h"
#include "image/object.h"
#include "image/wipes.h"

namespace {

std::vector<int32_t> Rect(const CWipes& w) {
    return {w.GetLeft(), w.GetTop(), w.GetRight(), w.GetBottom()};
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    CArchive archive;
    for (uint32_t word : words)
        archive.WriteU32(word);
    return archive.Bytes();
}

// The cause of the CArchiveException the call raises (-1: none raised).
int Cause(const std::function<void()>& call) {
    try {
        call();
    } catch (const CArchiveException& e) {
        return e.m_cause;
    }
    return -1;
}

// A class of the tests' own, registered at run time.
class CProbe : public CObject {
  public:
    const CRuntimeClass* GetRuntimeClass() const override { return &classCProbe; }
    static CObject* Create() { return new CProbe; }
    static const CRuntimeClass classCProbe;
};
const CRuntimeClass CProbe::classCProbe = {"CProbe", 3, &CProbe::Create};

} // namespace

TEST(Archive, LittleEndianWordsShortArchiveAndWrongDirection) {
    CArchive out;
    EXPECT_TRUE(out.IsStoring());
    out.WriteU32(0x04030201u);
    out.WriteI32(-2);
    EXPECT_EQ(out.Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Cause([&] { out.ReadU32(); }), CArchiveException::writeOnly);

    CArchive in(out.Bytes());
    EXPECT_TRUE(in.IsLoading());
    EXPECT_EQ(in.ReadU32(), 0x04030201u);
    EXPECT_EQ(in.ReadI32(), -2);
    EXPECT_THROW(in.ReadU32(), CArchiveEndOfFile);
    EXPECT_EQ(Cause([&] { in.WriteU32(1); }), CArchiveException::readOnly);
    CArchive shortIn(std::vector<uint8_t>{1, 2, 3});
    EXPECT_THROW(shortIn.ReadU32(), CArchiveEndOfFile);
}

TEST(Registry, CreatesRegisteredClassesByNameOnce) {
    const struct {
        const char* name;
        const CRuntimeClass* record; // null: not creatable
        uint32_t schema;
    } classes[] = {{"CWipes", &CWipes::classCWipes, 1},
                   {"CImageBaseClass", &CImageBaseClass::classCImageBaseClass, 0xFFFF},
                   {"CObject", nullptr, 0}, // no factory
                   {"CWipe", nullptr, 0},
                   {nullptr, nullptr, 0}};
    for (const auto& c : classes) {
        std::unique_ptr<CObject> object(CRuntimeClassRegistry::CreateObject(c.name));
        SCOPED_TRACE(c.name ? c.name : "null");
        ASSERT_EQ(object != nullptr, c.record != nullptr);
        if (!object) continue;
        EXPECT_EQ(object->GetRuntimeClass(), c.record);
        EXPECT_STREQ(c.record->className, c.name);
        EXPECT_EQ(c.record->schema, c.schema);
        EXPECT_TRUE(object->IsKindOf(c.record));
        EXPECT_TRUE(object->IsKindOf(&CObject::classCObject));
        EXPECT_FALSE(object->IsKindOf(&CProbe::classCProbe));
    }

    // Registered by name, the first record of a name wins.
    EXPECT_EQ(CRuntimeClassRegistry::Find("CProbe"), nullptr);
    CRuntimeClassRegistry::Register(&CProbe::classCProbe);
    CRuntimeClassRegistry::Register(&CProbe::classCProbe);
    static const CRuntimeClass impostor = {"CWipes", 9, nullptr};
    CRuntimeClassRegistry::Register(&impostor);
    EXPECT_EQ(CRuntimeClassRegistry::Find("CProbe"), &CProbe::classCProbe);
    EXPECT_EQ(CRuntimeClassRegistry::Find("CWipes"), &CWipes::classCWipes);
    std::unique_ptr<CObject> probe(CRuntimeClassRegistry::CreateObject("CProbe"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->GetRuntimeClass(), &CProbe::classCProbe);
}

TEST(Wipes, NewResetAssignAndIsEqual) {
    CWipes wipes;
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{0, 0, 1, 1}));
    wipes.rect = {3, 4, 5, 6};
    wipes.Reset();
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{0, 0, 1, 1}));

    // Assign normalises, then clips to the unit limit.
    const struct {
        RECT in;
        std::vector<int32_t> out;
    } assigned[] = {
        {{10, 20, 5, 8}, {0, 0, 0, 0}},     // (5, 8, 10, 20) misses the limit
        {{-5, -5, 100, 100}, {0, 0, 1, 1}}, // covers it
        {{1, 1, -3, -2}, {0, 0, 1, 1}},     // normalises to (-3, -2, 1, 1)
        {{1, 0, 640, 480}, {0, 0, 0, 0}}    // misses the top-left pixel
    };
    for (const auto& c : assigned) {
        SCOPED_TRACE(testing::Message()
                     << c.in.left << "," << c.in.top << "," << c.in.right << "," << c.in.bottom);
        EXPECT_EQ(wipes.Assign(&c.in), &wipes.rect);
        EXPECT_EQ(Rect(wipes), c.out);
    }

    // Equal when every value is: (0, 0, 0, 0) against one changed value.
    const struct {
        RECT other;
        int equal;
    } compared[] = {{{0, 0, 0, 0}, 1}, {{0, 0, 1, 1}, 0}, {{-1, 0, 0, 0}, 0},
                    {{0, 1, 0, 0}, 0}, {{0, 0, 1, 0}, 0}, {{0, 0, 0, 1}, 0}};
    CWipes a, b;
    a.rect = {0, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&a), 1);
    for (const auto& c : compared) {
        b.rect = c.other;
        EXPECT_EQ(a.IsEqual(&b), c.equal)
            << c.other.left << "," << c.other.top << "," << c.other.right << "," << c.other.bottom;
    }
}

TEST(Wipes, StoresAndLoadsTheTwentyByteRecord) {
    CWipes wipes;
    wipes.rect = {1, 2, 3, 4};
    CArchive out;
    wipes.Serialize(out);
    EXPECT_EQ(out.Bytes(),
              (std::vector<uint8_t>{1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}));

    std::unique_ptr<CObject> object(CRuntimeClassRegistry::CreateObject("CWipes"));
    ASSERT_NE(object, nullptr);
    CArchive in(Words({1, (uint32_t)-7, 40, 10, 20}));
    object->Serialize(in); // neither normalised nor clipped
    EXPECT_EQ(Rect(*static_cast<CWipes*>(object.get())), (std::vector<int32_t>{-7, 40, 10, 20}));

    // A bad version or a short archive keeps the rect.
    for (uint32_t version : {0u, 2u}) {
        CArchive bad(Words({version, 1, 2, 3, 4}));
        EXPECT_EQ(Cause([&] { wipes.Serialize(bad); }), CArchiveException::badSchema) << version;
    }
    CArchive cut(Words({1, 1, 2}));
    EXPECT_THROW(wipes.Serialize(cut), CArchiveEndOfFile);
    CArchive empty(std::vector<uint8_t>{});
    EXPECT_THROW(wipes.Serialize(empty), CArchiveEndOfFile);
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{1, 2, 3, 4}));
}
