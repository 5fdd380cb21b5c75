// The PiPL reader of the stand-in host, and the PiPL of the built .aex files
// (given by ORVO_AEX64 / ORVO_AEX32; `make windows-check` sets them).
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pipl.h"
#include "harness/harness.h"
#include "host/entry.h"

using harness::FourCC;

namespace {

// The two worked examples of the host's resource format: catg "Keying" and
// eVER 0x00080600, after the Windows header (prefix 1, version 0, 2 entries).
const std::vector<uint8_t> kSample = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,                         //
    0x4D, 0x49, 0x42, 0x38, 0x67, 0x74, 0x61, 0x63, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, //
    0x00, 0x00, 0x06, 0x4B, 0x65, 0x79, 0x69, 0x6E, 0x67, 0x00,                         //
    0x4D, 0x49, 0x42, 0x38, 0x52, 0x45, 0x56, 0x65, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, //
    0x00, 0x00, 0x00, 0x06, 0x08, 0x00};

void CheckAex(const std::string& path, bool win64) {
    SCOPED_TRACE(path);
    ASSERT_EQ(harness::PeIs64Bit(path), win64);
    std::vector<uint8_t> bytes = harness::ReadPeResource(path, "PiPL", 16000, 1033);
    ASSERT_EQ(bytes.size(), 246u);
    harness::Pipl pipl = harness::ParsePipl(bytes.data(), bytes.size());
    EXPECT_EQ(pipl.prefix, 1);
    EXPECT_EQ(pipl.version, 0u);
    const char* keys[] = {"kind", "name", "catg", win64 ? "8664" : "wx86",
                          "ePVR", "eSVR", "eVER", "eINF",
                          "eGLO", "eMNA", "aeFL"};
    const uint32_t lengths[] = {4, 8, 8, 8, 4, 4, 4, 2, 4, 8, 4};
    ASSERT_EQ(pipl.properties.size(), 11u);
    for (size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(harness::FourCCText(pipl.properties[i].key), keys[i]);
        EXPECT_EQ(pipl.properties[i].vendor, FourCC("8BIM"));
        EXPECT_EQ(pipl.properties[i].id, 0u);
        EXPECT_EQ(pipl.properties[i].length, lengths[i]) << keys[i];
    }
    EXPECT_EQ(pipl.byteSize, 246u);
    EXPECT_EQ(pipl.Code(FourCC("kind")), FourCC("eFKT"));
    EXPECT_EQ(pipl.PascalString(FourCC("name")), "Orvo");
    EXPECT_EQ(pipl.PascalString(FourCC("catg")), "Keying");
    EXPECT_EQ(pipl.CString(win64 ? FourCC("8664") : FourCC("wx86")), "main");
    EXPECT_EQ(pipl.Find(win64 ? FourCC("wx86") : FourCC("8664")), nullptr);
    EXPECT_EQ((std::vector<uint32_t>{pipl.Word16(FourCC("ePVR"), 0), pipl.Word16(FourCC("ePVR"), 1),
                                     pipl.Word16(FourCC("eSVR"), 0), pipl.Word16(FourCC("eSVR"), 1),
                                     pipl.Word32(FourCC("eVER")), pipl.Word16(FourCC("eINF"), 0),
                                     pipl.Word32(FourCC("eGLO")), pipl.Word32(FourCC("aeFL"))}),
              (std::vector<uint32_t>{2, 0, 11, 0, kEffectVersion, 0,
                                     uint32_t(PF_OutFlag_I_WRITE_INPUT_BUFFER), 0}));
    EXPECT_EQ(pipl.PascalString(FourCC("eMNA")), "Orvo");
    EXPECT_EQ(harness::CheckEffectPipl(pipl, win64), "main");
    EXPECT_EQ(harness::ReadPeExports(path), std::vector<std::string>{"main"});
}

} // namespace

TEST(PiplReader, ReadsTheWorkedExamples) {
    harness::Pipl pipl = harness::ParsePipl(kSample.data(), kSample.size());
    ASSERT_EQ(pipl.properties.size(), 2u);
    EXPECT_EQ(pipl.properties[0].key, FourCC("catg"));
    EXPECT_EQ(pipl.properties[0].vendor, FourCC("8BIM"));
    EXPECT_EQ(pipl.PascalString(FourCC("catg")), "Keying");
    EXPECT_EQ(pipl.Word32(FourCC("eVER")), 0x00080600u);
    EXPECT_EQ(pipl.byteSize, kSample.size());
}

TEST(BuiltAex, PiplAndExportsOfTheWindowsModules) {
    int checked = 0;
    for (const char* variable : {"ORVO_AEX64", "ORVO_AEX32"})
        if (const char* path = std::getenv(variable); path && *path) {
            CheckAex(path, variable == std::string("ORVO_AEX64"));
            ++checked;
        }
    if (checked == 0)
        GTEST_SKIP() << "ORVO_AEX64 and ORVO_AEX32 not set (make windows-check sets them)";
}
