// Command dispatch of the entry point: about, global set-up, the sequence
// record's life cycle and the commands that do nothing.
#include <string>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

class Entry : public ::testing::Test {
  protected:
    void SetUp() override { host.BindEntry(EffectMain); }
    void TearDown() override { EXPECT_TRUE(host.Problems().empty()) << host.Problems().front(); }
    harness::Host host;
};

} // namespace

TEST_F(Entry, AboutAndGlobalSetup) {
    std::string text;
    EXPECT_EQ(host.About(&text), 0);
    EXPECT_EQ(text, "Orvo for AE, v1.0\r\nChromakey with shadows, color corrections\n"
                    "and natural color spill replacements.\n\n"
                    "Apply to the foreground layer and choose the background layer.");
    EXPECT_EQ(host.GlobalSetup(), 0);
    EXPECT_EQ(host.GlobalOutFlags(), 0x800);
    EXPECT_EQ(host.Version(), 0x00080600u); // version 1, release stage
}

TEST_F(Entry, SequenceRecordLifeCycle) {
    EXPECT_EQ(host.SequenceSetdown(), 0); // a null handle: nothing to do
    EXPECT_EQ(host.SequenceResetup(), 0);
    EXPECT_EQ(host.LiveHandles(), 0u);
    host.FailNewHandle(true); // no handle: the set-up fails
    EXPECT_EQ(host.SequenceSetup(), -108);
    EXPECT_EQ(host.SequenceHandle(), nullptr);
    host.FailNewHandle(false);

    EXPECT_EQ(host.SequenceSetup(), 0); // a cleared 16-byte record
    PF_Handle handle = host.SequenceHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(host.OutData().sequence_data, handle);
    EXPECT_EQ(host.OutData().flat_sdata_size, 16);
    EXPECT_EQ(host.HandleBytes(handle), std::vector<uint8_t>(16, 0));
    // Re-set-up clears bytes 0..10 (the key colour), keeping the measured one.
    uint8_t* record = static_cast<uint8_t*>(*handle);
    for (int i = 0; i < 16; ++i)
        record[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(host.SequenceResetup(), 0);
    std::vector<uint8_t> expected(16, 0);
    for (int i = 11; i < 16; ++i)
        expected[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(host.HandleBytes(handle), expected);
    EXPECT_EQ(
        (std::vector<size_t>{offsetof(SequenceRecord, keyBlue), offsetof(SequenceRecord, keyRed),
                             offsetof(SequenceRecord, backingBlue),
                             offsetof(SequenceRecord, backingRed), sizeof(SequenceRecord)}),
        (std::vector<size_t>{8, 10, 11, 13, 16}));

    // Ignored and unknown commands return 0 and touch nothing.
    for (PF_Cmd cmd : {2, 3, 7, 9, 10, 12, 13, 24, 1000, 0x7FFFFFFF, -1, -108}) {
        EXPECT_EQ(host.Command(cmd), 0) << cmd;
        const PF_OutData& out = host.OutData();
        EXPECT_EQ((std::vector<long long>{out.out_flags, out.num_params, out.my_version,
                                          out.return_msg[0], out.sequence_data == handle}),
                  (std::vector<long long>{0, 0, 0, 0, 1}))
            << cmd;
    }
    EXPECT_EQ(host.HandleBytes(handle), expected);
    EXPECT_EQ(host.SequenceSetdown(), 0);
    EXPECT_EQ(host.OutData().sequence_data, nullptr);
    EXPECT_EQ(host.LiveHandles(), 0u);
}
