// The PiPL and exports of the built .aex files (given by ORVO_AEX64 /
// ORVO_AEX32; `make windows-check` sets them).
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pipl.h"
#include "harness/harness.h"
#include "host/entry.h"

using harness::FourCC;

namespace {

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
