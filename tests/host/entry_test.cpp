// Command dispatch of the entry point, linked in and through the built
// module: about, global set-up, the sequence record's life cycle, the
// commands that do nothing, the module's exports and the loader's errors.
#include <cstdio>
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

TEST_F(Entry, AboutGlobalSetupAndTheSequenceRecordLifeCycle) {
    std::string text;
    EXPECT_EQ(host.About(&text), 0);
    EXPECT_EQ(text, "Orvo for AE, v1.0\r\nChromakey with shadows, color corrections\n"
                    "and natural color spill replacements.\n\n"
                    "Apply to the foreground layer and choose the background layer.");
    EXPECT_EQ((std::vector<long long>{host.GlobalSetup(), host.GlobalOutFlags(), host.Version()}),
              (std::vector<long long>{0, 0x800, 0x00080600})); // version 1, release stage

    EXPECT_EQ(host.SequenceSetdown() + host.SequenceResetup(), 0); // a null handle: nothing to do
    host.FailNewHandle(true);                                      // no handle: the set-up fails
    EXPECT_TRUE(host.SequenceSetup() == -108 && host.SequenceHandle() == nullptr);
    host.FailNewHandle(false);
    EXPECT_EQ(host.SequenceSetup(), 0); // a cleared 16-byte record
    PF_Handle handle = host.SequenceHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(host.OutData().sequence_data == handle && host.OutData().flat_sdata_size == 16);
    EXPECT_EQ(host.HandleBytes(handle), std::vector<uint8_t>(16, 0));
    // Re-set-up clears bytes 0..10 (the key colour), keeping the measured one.
    std::vector<uint8_t> expected(16, 0);
    for (int i = 0; i < 16; ++i)
        static_cast<uint8_t*>(*handle)[i] = uint8_t(0xA0 + i), expected[i] = i < 11 ? 0 : 0xA0 + i;
    EXPECT_EQ(host.SequenceResetup(), 0);
    EXPECT_EQ(host.HandleBytes(handle), expected);
    // Ignored and unknown commands return 0 and touch nothing.
    for (PF_Cmd cmd : {2, 3, 7, 9, 10, 12, 13, 24, 1000, 0x7FFFFFFF, -1, -108}) {
        const PF_OutData& out = host.OutData();
        EXPECT_EQ((std::vector<long long>{host.Command(cmd), out.out_flags, out.num_params,
                                          out.my_version, out.return_msg[0]}),
                  std::vector<long long>(5, 0))
            << cmd;
    }
    EXPECT_EQ(host.HandleBytes(handle), expected);
    EXPECT_EQ(host.SequenceSetdown(), 0);
    EXPECT_EQ(host.OutData().sequence_data, nullptr);
    EXPECT_EQ(host.LiveHandles(), 0u);
}

TEST(Module, ExportsMainAndTheThreadControlAndRunsThroughTheLoadedEntry) {
    std::string symbols;
    if (FILE* nm = popen("nm -D --defined-only -j " ORVO_MODULE_PATH, "r")) {
        for (int c; (c = std::fgetc(nm)) != EOF;)
            symbols += char(c);
        pclose(nm);
    }
    EXPECT_EQ(symbols, "main\norvo_set_thread_count\n");
    harness::Host host;
    EXPECT_THROW(host.LoadModule("/nonexistent/AEORVO.so"), harness::Error);
    try {
        host.LoadModule(ORVO_NO_ENTRY_MODULE_PATH);
        ADD_FAILURE() << "a module without main was accepted";
    } catch (const harness::Error& e) {
        EXPECT_NE(std::string(e.what()).find("no entry point 'main'"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(host.HasEntry());
    host.LoadModule(ORVO_MODULE_PATH);
    EXPECT_THROW(host.LoadModule(ORVO_MODULE_PATH), harness::Error); // already bound
    ASSERT_EQ(host.Setup(), 0);
    EXPECT_EQ(host.Params().size(), std::size(kParamTable));
    EXPECT_EQ((std::vector<PF_Err>{host.SequenceResetup(), host.Command(PF_Cmd_FRAME_SETUP),
                                   host.Teardown()}),
              (std::vector<PF_Err>(3, 0)));
    EXPECT_EQ(host.LiveHandles(), 0u);
    EXPECT_TRUE(host.Problems().empty());
}
