// The stand-in host itself: the contract breaches it catches, so that an
// empty Problems() after a render means something. A scripted effect forwards
// set-up commands to the real entry and runs the test's script otherwise.
#include <string>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

using Script = void (*)(PF_InData*, PF_OutData*);
Script g_script = nullptr; // run for g_command, every other command goes to the entry
PF_Cmd g_command = -1;

extern "C" PF_Err Scripted(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                           PF_LayerDef* output, void* extra) {
    if (!g_script || cmd != g_command) return EffectMain(cmd, in, out, params, output, extra);
    g_script(in, out);
    return 0;
}

} // namespace

TEST(StandIn, ContractBreachesAreReported) {
    const struct {
        PF_Cmd cmd;
        Script script;
        const char* problem;
    } breaches[] = {
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData*) {
             PF_ParamDef layer;
             in->inter.checkout_param(in->effect_ref, ParamBackground, in->current_time,
                                      in->time_step, in->time_scale, &layer);
         },
         "not checked in"},
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData*) {
             PF_ParamDef layer{};
             in->inter.checkin_param(in->effect_ref, &layer);
         },
         "checkin without a checkout"},
        {PF_Cmd_DO_DIALOG,
         [](PF_InData* in, PF_OutData*) {
             PF_Handle h = in->utils->host_new_handle(4);
             in->utils->host_dispose_handle(h);
             in->utils->host_dispose_handle(h);
         },
         "disposed twice"},
        {PF_Cmd_DO_DIALOG,
         [](PF_InData* in, PF_OutData*) {
             PF_Handle h = in->utils->host_new_handle(4);
             in->utils->host_lock_handle(h);
             in->utils->host_dispose_handle(h);
         },
         "disposed while locked"},
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData* out) {
             in->utils->ansi.sprintf(out->return_msg, "%s", std::string(300, 'x').c_str());
             out->out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
         },
         "return_msg overflow"},
        // A handle never disposed is a leak at sequence set-down.
        {PF_Cmd_SEQUENCE_SETUP,
         [](PF_InData* in, PF_OutData* out) {
             out->sequence_data = in->utils->host_new_handle(16);
             in->utils->host_new_handle(8);
         },
         "1 handle(s) leaked"},
    };
    for (const auto& b : breaches) {
        harness::Host host;
        host.BindEntry(Scripted);
        g_script = b.script, g_command = b.cmd;
        harness::Frame out(2, 2);
        ASSERT_EQ(host.Setup(), 0);
        if (b.cmd == PF_Cmd_RENDER)
            host.Render(out);
        else if (b.cmd != PF_Cmd_SEQUENCE_SETUP)
            host.Command(b.cmd);
        g_script = nullptr;
        host.Teardown();
        std::string all;
        for (const std::string& p : host.Problems())
            all += p + ";";
        EXPECT_NE(all.find(b.problem), std::string::npos) << b.problem << ": " << all;
        EXPECT_EQ(host.Problems().size(), 1u) << all;
    }
}
