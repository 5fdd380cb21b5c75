// The PiPL and exports of the built .aex files (given by ORVO_AEX64 /
// ORVO_AEX32; `make windows-check` sets them).
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "harness/pipl.h"
#include "host/entry.h"

using harness::FourCC;

namespace {

void CheckAex(const std::string& path, bool win64) {
    SCOPED_TRACE(path);
    ASSERT_EQ(harness::PeIs64Bit(path), win64);
    std::vector<uint8_t> bytes = harness::ReadPeResource(path, "PiPL", 16000, 1033);
    ASSERT_EQ(bytes.size(), 246u);
    const harness::Pipl pipl = harness::ParsePipl(bytes.data(), bytes.size());
    EXPECT_EQ((std::vector<size_t>{pipl.prefix, pipl.version, pipl.byteSize}),
              (std::vector<size_t>{1, 0, 246}));
    // Every property by key and length, in order, from the vendor "8BIM" with id 0.
    std::string keys;
    for (const harness::PiplProperty& p : pipl.properties)
        keys += harness::FourCCText(p.key) + ":" + std::to_string(p.length) +
                (p.vendor == FourCC("8BIM") && p.id == 0 ? " " : "(vendor?) ");
    const uint32_t code = win64 ? FourCC("8664") : FourCC("wx86");
    EXPECT_EQ(keys, "kind:4 name:8 catg:8 " + harness::FourCCText(code) +
                        ":8 ePVR:4 eSVR:4 eVER:4 eINF:2 eGLO:4 eMNA:8 aeFL:4 ");
    EXPECT_EQ(pipl.Code(FourCC("kind")), FourCC("eFKT"));
    EXPECT_EQ(pipl.PascalString(FourCC("name")) + "|" + pipl.PascalString(FourCC("catg")) + "|" +
                  pipl.PascalString(FourCC("eMNA")) + "|" + pipl.CString(code),
              "Orvo|Keying|Orvo|main");
    EXPECT_EQ((std::vector<uint32_t>{pipl.Word16(FourCC("ePVR"), 0), pipl.Word16(FourCC("ePVR"), 1),
                                     pipl.Word16(FourCC("eSVR"), 0), pipl.Word16(FourCC("eSVR"), 1),
                                     pipl.Word32(FourCC("eVER")), pipl.Word16(FourCC("eINF"), 0),
                                     pipl.Word32(FourCC("eGLO")), pipl.Word32(FourCC("aeFL"))}),
              (std::vector<uint32_t>{2, 0, 11, 0, kEffectVersion, 0,
                                     uint32_t(PF_OutFlag_I_WRITE_INPUT_BUFFER), 0}));
    EXPECT_EQ(harness::CheckEffectPipl(pipl, win64), "main");
    EXPECT_EQ(harness::ReadPeExports(path), std::vector<std::string>{"main"});
}

} // namespace

TEST(BuiltAex, PiplAndExportsOfTheWindowsModules) {
    int checked = 0;
    for (const char* variable : {"ORVO_AEX64", "ORVO_AEX32"})
        if (const char* path = std::getenv(variable); path && *path)
            CheckAex(path, variable == std::string("ORVO_AEX64")), ++checked;
    if (checked == 0)
        GTEST_SKIP() << "ORVO_AEX64 and ORVO_AEX32 not set (make windows-check sets them)";
}
