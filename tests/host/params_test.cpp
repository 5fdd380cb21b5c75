// The parameter records as the effect registers them: the forty published
// ones pinned byte for byte, the index constants, the count.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

// FNV-1a over a recorded record's bytes (text pointers cleared) and its choices.
uint64_t RecordHash(const harness::ParamInfo& p) {
    std::string bytes(reinterpret_cast<const char*>(&p.def), sizeof p.def);
    uint64_t h = 0xcbf29ce484222325u;
    for (unsigned char c : bytes + p.text)
        h = (h ^ c) * 0x100000001b3u;
    return h;
}

// What a failure shows of a record: its text and its value bytes (up to the last non-zero).
std::string Describe(const harness::ParamInfo& p) {
    std::string s = "type " + std::to_string(p.type) + " flags " + std::to_string(p.flags) +
                    " text \"" + p.text + "\" values",
                hex = "0123456789abcdef";
    const auto* u = reinterpret_cast<const unsigned char*>(&p.def.u);
    for (size_t i = 0; i < sizeof p.def.u; ++i)
        s += std::string(" ") + hex[u[i] >> 4] + hex[u[i] & 15];
    while (s.size() > 3 && s.compare(s.size() - 3, 3, " 00") == 0)
        s.resize(s.size() - 3);
    return s;
}

// The published records in registration order (64-bit layout), as first
// checked field by field against the published table: they never change;
// rows appended to the table later register after them.
constexpr uint64_t kPublished[] = {
    0xd86c95e20fdad395u, 0x4e94c93d7a03d2f2u, 0x42ad6e5e674e54f8u, 0x385cf211cfd220c9u,
    0x92b57c5dd24c9901u, 0x765d0921660fd649u, 0x8a3bc7b07e3d4783u, 0x1b17bbb7b591895fu,
    0xa7e0dd5e44087906u, 0x43492e83123b3b3du, 0xdf94a2d67a434425u, 0xadc6d08314f02e11u,
    0xa64f0287ea0f41f6u, 0x7c8020f8784901c7u, 0xf9b95e4b4f0804dbu, 0xd762c68e51d94db6u,
    0x2282da5b50f426f1u, 0x6b51aa3a2a33fc9du, 0x3299d53018b285dcu, 0x36535d2e76801dd6u,
    0xc7d1b1fb3e5b1f7du, 0x5291ff1cb3de3f25u, 0x66bcaacdaf4f5f36u, 0x5e9d6ba4b38f3f0au,
    0x634413a1f41e8553u, 0xfcc78d700ce21320u, 0x180a084505f4e7b3u, 0x86105e0799bfc532u,
    0x4abefb5a2626d330u, 0x986e89d675dcf6b9u, 0x218a646edc03e6a5u, 0xff67b5de03a6fac0u,
    0x5f3bfde86ed7dc47u, 0xf9177ddcd2bbcbb4u, 0x3ca14580dc718806u, 0x71e4d0a1949c3b28u,
    0x71aea1a9b22488abu, 0x96d6100f98fcf440u, 0x4cba80c303671aeau, 0x1a65f08bae38710cu};

class ParamSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        host.BindEntry(EffectMain);
        ASSERT_EQ(host.ParamsSetup(), 0);
    }
    harness::Host host;
};

} // namespace

TEST_F(ParamSetup, PublishedRecordsAreUnchangedByteForByte) {
    ASSERT_EQ(host.Params().size(), size_t(kRegisteredParamCount));
    ASSERT_GE(host.Params().size(), std::size(kPublished));
    for (size_t i = 0; i < std::size(kPublished); ++i) {
        const harness::ParamInfo& got = host.Params()[i];
        EXPECT_EQ(got.index, int(i) + 1);
        EXPECT_EQ(RecordHash(got), kPublished[i])
            << "record " << i + 1 << " \"" << got.name << "\" changed: " << Describe(got);
    }
}

// The index constants the rest of the plug-in uses name the registered
// records and choices.
TEST_F(ParamSetup, IndexConstantsNameTheRegisteredRecords) {
    for (const ParamRow& row : kParamTable)
        EXPECT_EQ(host.FindParam(row.name), row.index) << row.name;
    EXPECT_EQ(host.FindParam("nothing"), -1);
    const std::vector<std::string>& show = host.Param(ParamShow).choices;
    EXPECT_EQ((std::vector<std::string>{
                  show[ShowForeground - 1], show[ShowSepBlackOnGray - 1], show[ShowCorrectedBg - 1],
                  show[ShowComposite - 1], host.Param(ParamKeyOut).choices[KeyOutFgMinusKeyIn - 1],
                  host.Param(ParamFgColorCorrection).choices[CorrectionBlend - 1]}),
              (std::vector<std::string>{"Foreground", "Separ. Black on Gray", "Color Corrected BG",
                                        "Composite", "FG minus KeyIn", "Blend"}));
}

// The count grows from the host's own parameters; a failure is returned at once.
TEST(ParamSetupCount, GrowsFromTheHostCountAndStopsAtAFailure) {
    for (int failAt : {0, 3}) {
        harness::Host host;
        host.BindEntry(EffectMain);
        host.SetHostParamCount(3);
        if (failAt) host.FailAddParamAt(failAt, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(host.ParamsSetup(), failAt ? PF_Err_INTERNAL_STRUCT_DAMAGED : 0);
        const int added = failAt ? failAt - 1 : kRegisteredParamCount;
        EXPECT_EQ((std::vector<long long>{host.NumParams(), host.AddParamCalls(),
                                          (long long)host.Params().size()}),
                  (std::vector<long long>{3 + added, failAt ? failAt : added, added}));
        EXPECT_TRUE(host.Problems().empty());
    }
}
