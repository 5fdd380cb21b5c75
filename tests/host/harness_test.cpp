// The stand-in host itself: what it delivers to an effect and what it catches.
// A scripted effect forwards set-up commands to the real entry and runs the
// test's script for render.
#include <cstring>
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
        g_render = nullptr;
        g_other = nullptr;
        host.BindEntry(Scripted);
        ASSERT_EQ(host.Setup(), 0);
    }
    void TearDown() override {
        g_render = nullptr;
        g_other = nullptr;
    }
    harness::Host host;
};

bool Contains(const std::vector<std::string>& list, const std::string& part) {
    for (const std::string& s : list)
        if (s.find(part) != std::string::npos) return true;
    return false;
}

PF_Err Checkout(PF_InData* in, PF_ParamIndex index, PF_ParamDef* def) {
    return in->inter.checkout_param(in->effect_ref, index, in->current_time, in->time_step,
                                    in->time_scale, def);
}

template <class... T> std::vector<long long> L(T... values) {
    return {(long long)values...};
}

} // namespace

TEST_F(StandIn, LayersAreDeliveredWithTheirRowBytes) {
    harness::Frame fg(5, 3, 32), bg(5, 3);
    host.SetLayer(0, &fg);
    host.SetLayer(ParamBackground, &bg);
    bool ran = false;
    g_render = [&](PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef* output) {
        ran = true;
        EXPECT_EQ(params[0]->u.ld.data, reinterpret_cast<PF_Pixel*>(fg.pixels.data()));
        EXPECT_EQ(L(params[0]->u.ld.rowbytes, params[0]->u.ld.width, params[0]->u.ld.height,
                    in->num_params, output->width, output->rowbytes),
                  L(32, 5, 3, 41, 4, 24));
        PF_ParamDef layer, keyIn;
        EXPECT_EQ(Checkout(in, ParamBackground, &layer), 0);
        EXPECT_EQ(layer.u.ld.data, reinterpret_cast<PF_Pixel*>(bg.pixels.data()));
        EXPECT_EQ(layer.u.ld.rowbytes, 20);
        EXPECT_EQ(Checkout(in, ParamKeyIn, &keyIn), 0);
        EXPECT_EQ(keyIn.u.ld.data, nullptr); // no layer chosen
        in->inter.checkin_param(in->effect_ref, &keyIn);
        in->inter.checkin_param(in->effect_ref, &layer);
        return 0;
    };
    harness::Frame out(4, 2, 24);
    EXPECT_EQ(host.Render(out).err, 0);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(StandIn, UnbalancedCheckoutsAreReported) {
    g_render = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_ParamDef layer;
        Checkout(in, ParamBackground, &layer);
        return 0;
    };
    harness::Frame out(2, 2);
    host.Render(out);
    ASSERT_EQ(host.Problems().size(), 1u);
    EXPECT_NE(host.Problems()[0].find("not checked in"), std::string::npos);

    host.ClearProblems();
    g_render = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_ParamDef layer{};
        in->inter.checkin_param(in->effect_ref, &layer);
        return 0;
    };
    host.Render(out);
    EXPECT_TRUE(Contains(host.Problems(), "checkin without a checkout"));
}

TEST_F(StandIn, CheckoutFailuresAndBadIndicesReturnCodes) {
    host.FailCheckout(ParamKeyIn, 517);
    PF_Err first = -1, second = -1, bad = -1;
    g_render = [&](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_ParamDef def;
        first = Checkout(in, ParamBackground, &def);
        second = Checkout(in, ParamKeyIn, &def);
        bad = Checkout(in, 41, &def);
        in->inter.checkin_param(in->effect_ref, &def);
        return 0;
    };
    harness::Frame out(2, 2);
    host.Render(out);
    EXPECT_EQ(L(first, second, bad), L(0, 517, PF_Err_INVALID_INDEX));
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(StandIn, LeakedAndTwiceDisposedHandlesAreReported) {
    ASSERT_EQ(host.Teardown(), 0); // the real record of SetUp
    g_other = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*) {
        out->sequence_data = in->utils->host_new_handle(16);
        in->utils->host_new_handle(8); // never disposed
        return 0;
    };
    ASSERT_EQ(host.SequenceSetup(), 0);
    g_other = nullptr;
    EXPECT_EQ(host.SequenceSetdown(), 0);
    EXPECT_TRUE(Contains(host.Problems(), "1 handle(s) leaked"));

    host.ClearProblems();
    g_other = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_Handle h = in->utils->host_new_handle(4);
        in->utils->host_dispose_handle(h);
        in->utils->host_dispose_handle(h);
        return 0;
    };
    host.Command(PF_Cmd_DO_DIALOG);
    EXPECT_TRUE(Contains(host.Problems(), "disposed twice"));

    host.ClearProblems();
    g_other = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_Handle h = in->utils->host_new_handle(4);
        in->utils->host_lock_handle(h);
        in->utils->host_dispose_handle(h);
        return 0;
    };
    host.Command(PF_Cmd_DO_DIALOG);
    EXPECT_TRUE(Contains(host.Problems(), "disposed while locked"));
}

TEST_F(StandIn, HandleSizesAreToldForLiveHandlesOnly) {
    static std::vector<long long> sizes;
    sizes.clear();
    g_other = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        PF_UtilCallbacks* u = in->utils;
        PF_Handle h = u->host_new_handle(13);
        sizes.push_back((long long)u->host_get_handle_size(h));
        sizes.push_back((long long)u->host_get_handle_size(in->sequence_data));
        u->host_dispose_handle(h);
        sizes.push_back((long long)u->host_get_handle_size(h));
        return 0;
    };
    host.Command(PF_Cmd_DO_DIALOG);
    EXPECT_EQ(sizes, L(13, 16, 0));
    EXPECT_TRUE(Contains(host.Problems(), "size of a disposed handle"));

    host.ClearProblems();
    host.OfferHandleSize(false);
    g_other = [](PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*) {
        return in->utils->host_get_handle_size == nullptr ? 0 : 1;
    };
    EXPECT_EQ(host.Command(PF_Cmd_DO_DIALOG), 0);
    host.OfferHandleSize(true);
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(StandIn, CopyHonoursEachFramesRowBytes) {
    harness::Frame fg(3, 2, 20);
    for (size_t i = 0; i < fg.pixels.size(); ++i)
        fg.pixels[i] = 0xEE; // padding too
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 4; ++c)
                fg.Pixel(x, y)[c] = uint8_t(y * 100 + x * 10 + c);
    host.SetLayer(0, &fg);
    g_render = [](PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef* output) {
        return in->utils->copy(in->effect_ref, &params[0]->u.ld, output, nullptr, nullptr);
    };
    harness::Frame out(3, 2, 16 + 8);
    out.pixels.assign(out.pixels.size(), 0x55); // cleared by Render
    EXPECT_EQ(host.Render(out).err, 0);
    EXPECT_EQ(host.CopyCalls(), 1);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(out.Pixel(x, y)[c], y * 100 + x * 10 + c) << x << "," << y << "," << c;
        for (int b = 12; b < 24; ++b)
            EXPECT_EQ(out.pixels[size_t(y) * 24 + b], 0);
    }
    host.FailCopy(7);
    EXPECT_EQ(host.Render(out).err, 7);
}

TEST_F(StandIn, OutputIsClearedAndMessagesSurfaceOnlyWithTheFlag) {
    bool clear = false;
    A_long flags = 0x100;
    g_render = [&](PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef* output) {
        clear = true;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(output->data);
        for (int i = 0; i < output->rowbytes * output->height; ++i)
            clear = clear && p[i] == 0;
        in->utils->ansi.sprintf(out->return_msg, "No %s here!", "background");
        out->out_flags = flags;
        return 0;
    };
    harness::Frame out(4, 4);
    out.pixels.assign(out.pixels.size(), 0x55);
    harness::RenderResult r = host.Render(out);
    EXPECT_TRUE(clear);
    EXPECT_EQ(r.outFlags, 0x100);
    EXPECT_EQ(r.message, "No background here!");
    flags = 0;
    r = host.Render(out);
    EXPECT_EQ(r.message, "");
}

TEST_F(StandIn, OverlongMessagesAreCutAndReported) {
    g_render = [](PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*) {
        std::string text(300, 'x');
        in->utils->ansi.sprintf(out->return_msg, "%s", text.c_str());
        out->out_flags = 0x100;
        return 0;
    };
    harness::Frame out(1, 1);
    harness::RenderResult r = host.Render(out);
    EXPECT_EQ(r.message.size(), 255u);
    EXPECT_TRUE(Contains(host.Problems(), "return_msg overflow"));
}

TEST_F(StandIn, PointDefaultIsAShareOfTheInputLayer) {
    harness::Frame fg(1280, 720);
    host.SetLayer(0, &fg);
    PF_Fixed x = 0, y = 0;
    g_render = [&](PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef*) {
        PF_ParamDef def;
        EXPECT_EQ(Checkout(in, ParamCropPosition, &def), 0);
        in->inter.checkin_param(in->effect_ref, &def);
        EXPECT_EQ(params[ParamCropPosition]->u.td.x_value, def.u.td.x_value);
        x = def.u.td.x_value;
        y = def.u.td.y_value;
        return 0;
    };
    harness::Frame out(8, 8);
    host.Render(out);
    EXPECT_EQ(L(x, y), L(512 << 16, 288 << 16)); // 40 % of 1280 x 720
    host.SetPoint(ParamCropPosition, 10.5, 20.25);
    host.Render(out);
    EXPECT_EQ(L(x, y), L(0x000A8000, 0x00144000));
    host.ResetPoint(ParamCropPosition);
    harness::Frame half(640, 360);
    host.SetLayer(0, &half);
    host.Render(out);
    EXPECT_EQ(L(x, y), L(256 << 16, 144 << 16));
}

TEST_F(StandIn, ValuesAndRenderSettingsAreDelivered) {
    host.SetSlider(ParamCropSize, 123);
    host.SetFixedUnits(ParamTransparencyThreshold, 75.5);
    host.SetCheckbox(ParamCrop, false);
    host.SetColor(ParamChromaColor, 1, 2, 3);
    host.SetPopup(ParamShow, ShowShadows);
    host.SetQuality(false);
    host.SetDownsample(1, 2, 1, 4);
    host.SetTime(50, 2, 30);
    g_render = [](PF_InData* in, PF_OutData*, PF_ParamDef** params, PF_LayerDef*) {
        const PF_Pixel& c = params[ParamChromaColor]->u.cd.value;
        EXPECT_EQ(L(params[ParamCropSize]->u.sd.value,
                    params[ParamTransparencyThreshold]->u.fd.value, params[ParamCrop]->u.bd.value,
                    c.alpha, c.red, c.green, c.blue, params[ParamShow]->u.pd.value, in->quality),
                  L(123, 0x004B8000, 0, 255, 1, 2, 3, ShowShadows, PF_Quality_LO));
        EXPECT_EQ(L(in->downsample_x.num, in->downsample_x.den, in->downsample_y.den,
                    in->current_time, in->time_step, in->time_scale),
                  L(1, 2, 4, 50, 2, 30));
        EXPECT_NE(in->sequence_data, nullptr);
        return 0;
    };
    harness::Frame out(2, 2);
    EXPECT_EQ(host.Render(out).err, 0);
    EXPECT_TRUE(host.Problems().empty());
}

TEST_F(StandIn, SettersCheckIndexAndType) {
    EXPECT_THROW(host.SetSlider(ParamShow, 1), harness::Error);
    EXPECT_THROW(host.SetPopup(ParamCropSize, 1), harness::Error);
    EXPECT_THROW(host.SetSlider(41, 1), harness::Error);
    EXPECT_THROW(host.SetSlider(0, 1), harness::Error);
    EXPECT_THROW(host.SetLayer(ParamShow, nullptr), harness::Error);
    EXPECT_THROW(host.Param(0), harness::Error);
    EXPECT_THROW(harness::Frame(4, 1, 12), harness::Error); // rowbytes below width * 4
    EXPECT_NO_THROW(host.SetLayer(ParamKeyIn, nullptr));
}

TEST(StandInLoading, EntryMustBeBoundAndTestMadeHandlesAreTracked) {
    harness::Host host;
    EXPECT_FALSE(host.HasEntry());
    EXPECT_THROW(host.GlobalSetup(), harness::Error);
    EXPECT_THROW(host.BindEntry(nullptr), harness::Error);
    PF_Handle h = host.NewHandle(12);
    EXPECT_EQ(host.HandleBytes(h), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(host.LiveHandles(), 1u);
    host.DisposeHandle(h);
    EXPECT_EQ(host.LiveHandles(), 0u);
    host.DisposeHandle(h);
    EXPECT_TRUE(Contains(host.Problems(), "disposed twice"));
}
