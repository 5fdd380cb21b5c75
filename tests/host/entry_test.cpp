// Command dispatch of the entry point: about, global set-up, the sequence
// record's life cycle and the commands that do nothing.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

class Entry : public ::testing::Test {
  protected:
    void SetUp() override { host.BindEntry(EffectMain); }
    uint8_t* Record() { return static_cast<uint8_t*>(*host.SequenceHandle()); }
    harness::Host host;
};

} // namespace

TEST_F(Entry, AboutText) {
    std::string text;
    EXPECT_EQ(host.About(&text), 0);
    EXPECT_EQ(text, "Orvo for AE, v1.0\r\nChromakey with shadows, color corrections\n"
                    "and natural color spill replacements.\n\n"
                    "Apply to the foreground layer and choose the background layer.");
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(Entry, GlobalSetupDeclaresFlagsAndVersion) {
    EXPECT_EQ(host.GlobalSetup(), 0);
    EXPECT_EQ(host.GlobalOutFlags(), 0x800);
    EXPECT_EQ(host.Version(), 0x00080600u);
    EXPECT_EQ(kEffectVersion, (1u << 19) | (3u << 9)); // version 1, release stage
}

TEST_F(Entry, SequenceSetupCreatesAClearedSixteenByteRecordAndSetdownDisposesIt) {
    EXPECT_EQ(host.SequenceSetdown(), 0); // a null handle: nothing to do
    EXPECT_EQ(host.OutData().sequence_data, nullptr);
    EXPECT_EQ(host.SequenceSetup(), 0);
    PF_Handle handle = host.SequenceHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(host.OutData().sequence_data, handle);
    EXPECT_EQ(host.OutData().flat_sdata_size, 16);
    EXPECT_EQ(host.HandleBytes(handle), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(host.LiveHandles(), 1u);
    EXPECT_EQ(host.SequenceSetdown(), 0);
    EXPECT_EQ(host.OutData().sequence_data, nullptr);
    EXPECT_EQ(host.LiveHandles(), 0u);
    EXPECT_TRUE(host.HandleBytes(handle).empty());
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(Entry, SequenceSetupWithoutAHandleFails) {
    host.FailNewHandle(true);
    EXPECT_EQ(host.SequenceSetup(), -108);
    EXPECT_EQ(host.OutData().sequence_data, nullptr);
    EXPECT_EQ(host.SequenceHandle(), nullptr);
    EXPECT_EQ(host.LiveHandles(), 0u);
}

TEST_F(Entry, ResetupClearsBytesZeroToTen) {
    EXPECT_EQ(host.SequenceResetup(), 0); // without a record: nothing to do
    EXPECT_EQ(host.LiveHandles(), 0u);
    ASSERT_EQ(host.SequenceSetup(), 0);
    for (int i = 0; i < 16; ++i)
        Record()[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(host.SequenceResetup(), 0);
    std::vector<uint8_t> expected(16, 0);
    for (int i = 11; i < 16; ++i)
        expected[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(host.HandleBytes(host.SequenceHandle()), expected);
    EXPECT_EQ(host.LiveHandles(), 1u);
    EXPECT_TRUE(host.Problems().empty()); // locked and unlocked in balance
}

TEST_F(Entry, FullCommandSequenceLeavesNothingBehind) {
    EXPECT_EQ(host.Setup(), 0);
    EXPECT_EQ(host.NumParams(), kParamCount);
    EXPECT_EQ(host.SequenceResetup(), 0);
    EXPECT_EQ(host.Teardown(), 0);
    EXPECT_EQ(host.LiveHandles(), 0u);
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(Entry, IgnoredAndUnknownCommandsReturnZeroAndTouchNothing) {
    ASSERT_EQ(host.SequenceSetup(), 0);
    std::vector<uint8_t> before = host.HandleBytes(host.SequenceHandle());
    for (PF_Cmd cmd : {2, 3, 7, 9, 10, 12, 13, 24, 1000, 0x7FFFFFFF, -1, -108}) {
        SCOPED_TRACE("command " + std::to_string(cmd));
        EXPECT_EQ(host.Command(cmd), 0);
        const PF_OutData& out = host.OutData();
        EXPECT_EQ((std::vector<long long>{out.out_flags, out.num_params, out.my_version,
                                          out.return_msg[0]}),
                  (std::vector<long long>{0, 0, 0, 0}));
        EXPECT_EQ(out.sequence_data, host.SequenceHandle());
    }
    EXPECT_EQ(host.HandleBytes(host.SequenceHandle()), before);
    EXPECT_EQ(host.LiveHandles(), 1u);
    EXPECT_TRUE(host.Problems().empty());
}

TEST(SequenceRecordLayout, BytesOfTheRecord) {
    EXPECT_EQ(
        (std::vector<size_t>{offsetof(SequenceRecord, keyBlue), offsetof(SequenceRecord, keyRed),
                             offsetof(SequenceRecord, backingBlue),
                             offsetof(SequenceRecord, backingRed), sizeof(SequenceRecord)}),
        (std::vector<size_t>{8, 10, 11, 13, 16}));
}
