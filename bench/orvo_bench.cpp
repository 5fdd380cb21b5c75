// Render and stage timings at 1920 x 1080, reported in ms per frame.
//   make bench                      (all)
//   build-bench/bench/orvo_bench --benchmark_filter=Render
#include <benchmark/benchmark.h>

#include <memory>

#include "harness/harness.h"
#include "host/params.h"
#include "keyer/keyer.h"
#include "support/keyer_frames.h"
#include "support/synthetic.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// One host with the module loaded and HD frames, shared by the render runs.
struct RenderFixture {
    harness::Host host;
    harness::Frame fg{kWidth, kHeight}, bg{kWidth, kHeight}, out{kWidth, kHeight};

    RenderFixture() {
        host.LoadModule(ORVO_MODULE_PATH);
        host.Setup();
        synthetic::GreenScreen(fg.pixels.data(), kWidth, kHeight, fg.rowbytes);
        synthetic::Background(bg.pixels.data(), kWidth, kHeight, bg.rowbytes);
        host.SetLayer(0, &fg);
        host.SetLayer(ParamBackground, &bg);
        host.SetColor(ParamChromaColor, 40, 190, 60);
        host.SetCheckbox(ParamCrop, false);
    }
};

RenderFixture& Fixture() {
    static RenderFixture fixture;
    return fixture;
}

void BM_Render(benchmark::State& state) {
    RenderFixture& f = Fixture();
    f.host.SetPopup(ParamShow, int32_t(state.range(0)));
    f.host.SetQuality(state.range(1) != 0);
    for (auto _ : state) {
        harness::RenderResult r = f.host.Render(f.out);
        benchmark::DoNotOptimize(r.err);
    }
}

// The keyer of one HD frame, ready for its stages.
struct StageFixture {
    KeyerFrames frames{kWidth, kHeight};
    CKeyer keyer;

    StageFixture() {
        synthetic::GreenScreen(frames.fg.data(), kWidth, kHeight, kWidth * 4);
        synthetic::Background(frames.bg.data(), kWidth, kHeight, kWidth * 4);
        frames.Attach(keyer);
        keyer.SetBackingColour(60, 190, 40, 1);
        KeyerParams p = keyer.params;
        p.transparencyEdge = 3;
        keyer.SetParams(p);
        keyer.Update(1);
    }
};

StageFixture& Stages() {
    static StageFixture fixture;
    return fixture;
}

template <typename Stage> void RunStage(benchmark::State& state, Stage stage) {
    CKeyer& k = Stages().keyer;
    for (auto _ : state)
        benchmark::DoNotOptimize(stage(k));
}

void BM_Separate(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.Separate(); });
}
void BM_GradeTransparency(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.GradeTransparency(); });
}
void BM_SoftenEdge(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.SoftenEdge(); });
}
void BM_FillUnderlay(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.FillUnderlay(); });
}
void BM_SmoothUnderlay(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.SmoothUnderlay(); });
}
void BM_Composite(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.Composite(); });
}
void BM_CorrectBackground(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) { return k.CorrectBackground(k.outputImage); });
}
void BM_RefineBackingColour(benchmark::State& s) {
    RunStage(s, [](CKeyer& k) {
        double t[3] = {60, 190, 40};
        return k.RefineBackingColour(t);
    });
}

} // namespace

BENCHMARK(BM_Render)
    ->ArgNames({"show", "high"})
    ->ArgsProduct({benchmark::CreateDenseRange(ShowForeground, ShowComposite, 1), {1}})
    ->Args({ShowComposite, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Separate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GradeTransparency)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SoftenEdge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillUnderlay)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmoothUnderlay)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Composite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CorrectBackground)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RefineBackingColour)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
