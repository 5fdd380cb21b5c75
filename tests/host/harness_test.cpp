// The stand-in host itself: the contract breaches it catches, so that an
// empty Problems() after a render means something. A scripted effect forwards set-up commands to
// the real entry and runs the test's script for render and other commands.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/entry.h"
#include "host/params.h"

namespace {

using Script = std::function<PF_Err(PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*)>;
Script g_render;
Script g_other; // commands other than parameter set-up and render

extern "C" PF_Err Scripted(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                           PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_RENDER && g_render) return g_render(in, out, params, output);
    if (cmd != PF_Cmd_PARAMS_SETUP && g_other) return g_other(in, out, params, output);
    return EffectMain(cmd, in, out, params, output, extra);
}

class StandIn : public ::testing::Test {
  protected:
    void SetUp() override {
        g_render = g_other = nullptr;
        host.BindEntry(Scripted);
        ASSERT_EQ(host.Setup(), 0);
    }
    void TearDown() override { g_render = g_other = nullptr; }
    // The problems `script` leaves when run as the given command.
    std::string ProblemsOf(PF_Cmd cmd, Script script) {
        host.ClearProblems();
        (cmd == PF_Cmd_RENDER ? g_render : g_other) = std::move(script);
        harness::Frame out(2, 2);
        if (cmd == PF_Cmd_RENDER)
            host.Render(out);
        else
            host.Command(cmd);
        g_render = g_other = nullptr;
        std::string all;
        for (const std::string& p : host.Problems())
            all += p + ";";
        return all;
    }
    harness::Host host;
};

PF_Err Checkout(PF_InData* in, PF_ParamIndex index, PF_ParamDef* def) {
    return in->inter.checkout_param(in->effect_ref, index, in->current_time, in->time_step,
                                    in->time_scale, def);
}

} // namespace

TEST_F(StandIn, ContractBreachesAreReported) {
    using Body = PF_Err (*)(PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*);
    const struct {
        PF_Cmd cmd;
        Body body;
        const char* problem;
    } breaches[] = {
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) -> PF_Err {
             PF_ParamDef layer;
             Checkout(in, ParamBackground, &layer);
             return 0;
         },
         "not checked in"},
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) -> PF_Err {
             PF_ParamDef layer{};
             in->inter.checkin_param(in->effect_ref, &layer);
             return 0;
         },
         "checkin without a checkout"},
        {PF_Cmd_DO_DIALOG,
         [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) -> PF_Err {
             PF_Handle h = in->utils->host_new_handle(4);
             in->utils->host_dispose_handle(h);
             in->utils->host_dispose_handle(h);
             return 0;
         },
         "disposed twice"},
        {PF_Cmd_DO_DIALOG,
         [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) -> PF_Err {
             PF_Handle h = in->utils->host_new_handle(4);
             in->utils->host_lock_handle(h);
             in->utils->host_dispose_handle(h);
             return 0;
         },
         "disposed while locked"},
        {PF_Cmd_RENDER,
         [](PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*) -> PF_Err {
             std::string text(300, 'x');
             in->utils->ansi.sprintf(out->return_msg, "%s", text.c_str());
             out->out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
             return 0;
         },
         "return_msg overflow"},
    };
    for (const auto& b : breaches)
        EXPECT_NE(ProblemsOf(b.cmd, b.body).find(b.problem), std::string::npos) << b.problem;

    // A handle never disposed is a leak at sequence set-down.
    ASSERT_EQ(host.Teardown(), 0);
    host.ClearProblems();
    g_other = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*) {
        out->sequence_data = in->utils->host_new_handle(16);
        in->utils->host_new_handle(8);
        return 0;
    };
    ASSERT_EQ(host.SequenceSetup(), 0);
    g_other = nullptr;
    EXPECT_EQ(host.SequenceSetdown(), 0);
    ASSERT_EQ(host.Problems().size(), 1u);
    EXPECT_NE(host.Problems()[0].find("1 handle(s) leaked"), std::string::npos);
}
