// Root object, runtime class registry, archive and the CWipes record.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/object.h"
#include "image/wipes.h"

namespace {

void ExpectRect(const CWipes& wipes, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    EXPECT_EQ(wipes.GetLeft(), left);
    EXPECT_EQ(wipes.GetTop(), top);
    EXPECT_EQ(wipes.GetRight(), right);
    EXPECT_EQ(wipes.GetBottom(), bottom);
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    CArchive archive;
    for (uint32_t word : words)
        archive.WriteU32(word);
    return archive.Bytes();
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

TEST(Archive, WordsAreLittleEndian) {
    CArchive out;
    EXPECT_TRUE(out.IsStoring());
    out.WriteU32(0x04030201u);
    out.WriteI32(-2);
    const std::vector<uint8_t> expected = {1, 2, 3, 4, 0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(out.Bytes(), expected);

    CArchive in(out.Bytes());
    EXPECT_TRUE(in.IsLoading());
    EXPECT_EQ(in.ReadU32(), 0x04030201u);
    EXPECT_EQ(in.ReadI32(), -2);
    EXPECT_THROW(in.ReadU32(), CArchiveEndOfFile);
}

TEST(Archive, ShortArchiveAndWrongDirection) {
    CArchive in(std::vector<uint8_t>{1, 2, 3});
    EXPECT_THROW(in.ReadU32(), CArchiveEndOfFile);
    try {
        in.WriteU32(1);
        FAIL() << "writing to a loading archive must throw";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::readOnly);
    }
    CArchive out;
    try {
        out.ReadU32();
        FAIL() << "reading from a storing archive must throw";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::writeOnly);
    }
}

TEST(Archive, FileRoundTrip) {
    const std::string path = ::testing::TempDir() + "orvo_archive_test.bin";
    CArchive out;
    out.WriteU32(0xDEADBEEFu);
    ASSERT_TRUE(out.SaveToFile(path));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(CArchive::LoadFromFile(path, bytes));
    EXPECT_EQ(bytes, out.Bytes());
    std::remove(path.c_str());
    EXPECT_FALSE(CArchive::LoadFromFile(path, bytes));
}

TEST(Registry, CreatesRegisteredClassesByName) {
    std::unique_ptr<CObject> wipes(CRuntimeClassRegistry::CreateObject("CWipes"));
    ASSERT_NE(wipes, nullptr);
    const CRuntimeClass* record = wipes->GetRuntimeClass();
    EXPECT_EQ(record, &CWipes::classCWipes);
    EXPECT_STREQ(record->className, "CWipes");
    EXPECT_EQ(record->schema, 1u);
    EXPECT_TRUE(wipes->IsKindOf(&CWipes::classCWipes));
    EXPECT_TRUE(wipes->IsKindOf(&CObject::classCObject));
    EXPECT_FALSE(wipes->IsKindOf(&CImageBaseClass::classCImageBaseClass));
    ExpectRect(*static_cast<CWipes*>(wipes.get()), 0, 0, 1, 1);

    std::unique_ptr<CObject> image(CRuntimeClassRegistry::CreateObject("CImageBaseClass"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetRuntimeClass()->schema, 0xFFFFu);
    EXPECT_EQ(static_cast<CImageBaseClass*>(image.get())->pixels, nullptr);

    EXPECT_EQ(CRuntimeClassRegistry::CreateObject("CObject"), nullptr); // no factory
    EXPECT_EQ(CRuntimeClassRegistry::CreateObject("CWipe"), nullptr);
    EXPECT_EQ(CRuntimeClassRegistry::CreateObject(nullptr), nullptr);
}

TEST(Registry, RegistersOnceByName) {
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

TEST(Wipes, NewAndResetHoldTheLimit) {
    CWipes wipes;
    ExpectRect(wipes, 0, 0, 1, 1);
    wipes.rect = {3, 4, 5, 6};
    wipes.Reset();
    ExpectRect(wipes, 0, 0, 1, 1);
}

TEST(Wipes, AssignNormalisesAndClipsToTheUnitLimit) {
    CWipes wipes;
    RECT reversed = {10, 20, 5, 8};
    EXPECT_EQ(wipes.Assign(&reversed), &wipes.rect);
    ExpectRect(wipes, 0, 0, 0, 0);

    RECT covering = {-5, -5, 100, 100};
    wipes.Assign(&covering);
    ExpectRect(wipes, 0, 0, 1, 1);

    RECT mirrored = {1, 1, -3, -2}; // normalises to (-3, -2, 1, 1)
    wipes.Assign(&mirrored);
    ExpectRect(wipes, 0, 0, 1, 1);

    RECT apart = {1, 0, 640, 480}; // misses the top-left pixel
    wipes.Assign(&apart);
    ExpectRect(wipes, 0, 0, 0, 0);
}

TEST(Wipes, IsEqual) {
    CWipes a;
    CWipes b;
    a.rect = {0, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&a), 1);
    EXPECT_EQ(a.IsEqual(&b), 0);
    b.rect = {0, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&b), 1);
    b.rect.bottom = 1;
    EXPECT_EQ(a.IsEqual(&b), 0);
    b.rect = {0, 0, 0, 0};
    b.rect.left = -1;
    EXPECT_EQ(a.IsEqual(&b), 0);
}

TEST(Wipes, StoresTheTwentyByteRecord) {
    CWipes wipes;
    wipes.rect = {1, 2, 3, 4};
    CArchive out;
    wipes.Serialize(out);
    const std::vector<uint8_t> expected = {0x01, 0, 0,    0, 0x01, 0, 0,    0, 0x02, 0,
                                           0,    0, 0x03, 0, 0,    0, 0x04, 0, 0,    0};
    EXPECT_EQ(out.Bytes(), expected);
}

TEST(Wipes, LoadsValuesAsStored) {
    std::unique_ptr<CObject> object(CRuntimeClassRegistry::CreateObject("CWipes"));
    ASSERT_NE(object, nullptr);
    CArchive in(Words({1, (uint32_t)-7, 40, 10, 20}));
    object->Serialize(in);
    ExpectRect(*static_cast<CWipes*>(object.get()), -7, 40, 10,
               20); // neither normalised nor clipped
}

TEST(Wipes, BadVersionRaisesBadSchema) {
    for (uint32_t version : {0u, 2u}) {
        CWipes wipes;
        wipes.rect = {5, 6, 7, 8};
        CArchive in(Words({version, 1, 2, 3, 4}));
        try {
            wipes.Serialize(in);
            FAIL() << "version " << version << " must be rejected";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.m_cause, 7);
        }
        ExpectRect(wipes, 5, 6, 7, 8);
    }
}

TEST(Wipes, ShortArchiveRaisesEndOfFileAndKeepsRect) {
    CWipes wipes;
    wipes.rect = {5, 6, 7, 8};
    CArchive in(Words({1, 1, 2}));
    EXPECT_THROW(wipes.Serialize(in), CArchiveEndOfFile);
    ExpectRect(wipes, 5, 6, 7, 8);
    CArchive empty(std::vector<uint8_t>{});
    EXPECT_THROW(wipes.Serialize(empty), CArchiveEndOfFile);
}
