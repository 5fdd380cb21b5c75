// Root object, runtime class registry, archive and the CWipes record.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
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
    EXPECT_EQ(Rect(*static_cast<CWipes*>(wipes.get())), (std::vector<int32_t>{0, 0, 1, 1}));

    std::unique_ptr<CObject> image(CRuntimeClassRegistry::CreateObject("CImageBaseClass"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetRuntimeClass()->schema, 0xFFFFu);
    EXPECT_EQ(static_cast<CImageBaseClass*>(image.get())->pixels, nullptr);
    for (const char* name : {"CObject", "CWipe", (const char*)nullptr}) // CObject: no factory
        EXPECT_EQ(CRuntimeClassRegistry::CreateObject(name), nullptr) << (name ? name : "null");
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

TEST(Wipes, NewResetAndAssignClipToTheUnitLimit) {
    CWipes wipes;
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{0, 0, 1, 1}));
    wipes.rect = {3, 4, 5, 6};
    wipes.Reset();
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{0, 0, 1, 1}));

    const struct {
        RECT in;
        std::vector<int32_t> out;
    } cases[] = {
        {{10, 20, 5, 8}, {0, 0, 0, 0}},     // normalised to (5, 8, 10, 20): misses the limit
        {{-5, -5, 100, 100}, {0, 0, 1, 1}}, // covers it
        {{1, 1, -3, -2}, {0, 0, 1, 1}},     // normalises to (-3, -2, 1, 1)
        {{1, 0, 640, 480}, {0, 0, 0, 0}},   // misses the top-left pixel
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.in.left << "," << c.in.top << "," << c.in.right << "," << c.in.bottom);
        EXPECT_EQ(wipes.Assign(&c.in), &wipes.rect);
        EXPECT_EQ(Rect(wipes), c.out);
    }
}

TEST(Wipes, IsEqual) {
    CWipes a, b;
    a.rect = {0, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&a), 1);
    EXPECT_EQ(a.IsEqual(&b), 0);
    b.rect = {0, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&b), 1);
    b.rect.bottom = 1;
    EXPECT_EQ(a.IsEqual(&b), 0);
    b.rect = {-1, 0, 0, 0};
    EXPECT_EQ(a.IsEqual(&b), 0);
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
}

TEST(Wipes, BadVersionOrShortArchiveKeepsTheRect) {
    CWipes wipes;
    wipes.rect = {5, 6, 7, 8};
    for (uint32_t version : {0u, 2u}) {
        CArchive in(Words({version, 1, 2, 3, 4}));
        EXPECT_EQ(Cause([&] { wipes.Serialize(in); }), 7) << "version " << version; // bad schema
    }
    CArchive cut(Words({1, 1, 2}));
    EXPECT_THROW(wipes.Serialize(cut), CArchiveEndOfFile);
    CArchive empty(std::vector<uint8_t>{});
    EXPECT_THROW(wipes.Serialize(empty), CArchiveEndOfFile);
    EXPECT_EQ(Rect(wipes), (std::vector<int32_t>{5, 6, 7, 8}));
}
