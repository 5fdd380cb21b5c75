// Render and stage timings at 1920 x 1080, reported in ms per frame.
//   make bench                      (all)
//   build-bench/bench/orvo_bench --benchmark_filter=Render
// ORVO_BENCH_MODULE names another build of the module for the renders (an
// earlier one, to compare the two in one run).
#include <benchmark/benchmark.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "harness/harness.h"
#include "host/params.h"
#include "keyer/keyer.h"
#include "support/keyer_frames.h"
#include "support/synthetic.h"

namespace {

constexpr int kWidth = 1920;

const char* ModulePath() {
    const char* other = std::getenv("ORVO_BENCH_MODULE");
    return other && *other ? other : ORVO_MODULE_PATH;
}
constexpr int kHeight = 1080;

// One host with the module loaded and HD frames, shared by the render runs.
struct RenderFixture {
    harness::Host host;
    harness::Frame fg{kWidth, kHeight}, bg{kWidth, kHeight}, out{kWidth, kHeight};

    RenderFixture() {
        host.LoadModule(ModulePath());
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

// One render command, as the host sends it. (Host::Render also clears the
// output first, which is the stand-in host's doing, not the effect's.)
PF_Err RenderCommand(harness::Host& host, harness::Frame& out) {
    return host.Command(PF_Cmd_RENDER, &out);
}

void BM_Render(benchmark::State& state) {
    RenderFixture& f = Fixture();
    f.host.SetPopup(ParamShow, int32_t(state.range(0)));
    f.host.SetQuality(state.range(1) != 0);
    for (auto _ : state) {
        PF_Err err = RenderCommand(f.host, f.out);
        benchmark::DoNotOptimize(err);
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

// --- The real plate: plate-green-1920x1080.png over background-lake-sunset-1080p.jpg,
// key colour 58,192,82, Crop off; scale 2 and 4 repeat every pixel 2 x 2 or 4 x 4 times.

// An image file as alpha, red, green, blue bytes at `scale` times its size.
harness::Frame LoadFrame(const std::string& name, int scale) {
    const std::string path = std::string(ORVO_SHARED_DATA) + "/" + name;
    OIIO::ImageBuf image(path);
    if (!image.read(0, 0, true, OIIO::TypeDesc::UINT8))
        throw std::runtime_error("cannot read " + path);
    const OIIO::ROI size = image.roi();
    const int width = size.width(), height = size.height();
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    image.get_pixels(OIIO::ROI(0, width, 0, height, 0, 1, 0, 3), OIIO::TypeDesc::UINT8, rgb.data());
    harness::Frame frame(width * scale, height * scale);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* s = &rgb[(size_t(y / scale) * width + x / scale) * 3];
            uint8_t* p = frame.Pixel(x, y);
            p[0] = 255;
            p[1] = s[0];
            p[2] = s[1];
            p[3] = s[2];
        }
    return frame;
}

struct PlateFixture {
    harness::Host host;
    harness::Frame fg, bg, out;

    explicit PlateFixture(int scale)
        : fg(LoadFrame("plate-green-1920x1080.png", scale)),
          bg(LoadFrame("background-lake-sunset-1080p.jpg", scale)), out(fg.width, fg.height) {
        host.LoadModule(ModulePath());
        host.Setup();
        host.SetLayer(0, &fg);
        host.SetLayer(ParamBackground, &bg);
        host.SetColor(ParamChromaColor, 58, 192, 82);
        host.SetCheckbox(ParamCrop, false);
    }
};

PlateFixture& Plate(int scale) {
    static std::unique_ptr<PlateFixture> fixtures[5];
    if (!fixtures[scale]) fixtures[scale] = std::make_unique<PlateFixture>(scale);
    return *fixtures[scale];
}

// Sets the plug-in's thread count for the run (0: one per processor).
void UseThreads(harness::Host& host, int threads) {
    host.SetThreadCount(uint32_t(threads));
}

// Render of the real plate: show, high quality, threads, scale.
void BM_Plate(benchmark::State& state) {
    PlateFixture& f = Plate(int(state.range(3)));
    f.host.SetPopup(ParamShow, int32_t(state.range(0)));
    f.host.SetQuality(state.range(1) != 0);
    UseThreads(f.host, int(state.range(2)));
    for (auto _ : state) {
        PF_Err err = RenderCommand(f.host, f.out);
        benchmark::DoNotOptimize(err);
    }
    UseThreads(f.host, 0);
}

// The keyer of the real plate, ready for its stages.
struct PlateStageFixture {
    KeyerFrames frames{kWidth, kHeight};
    CKeyer keyer;

    PlateStageFixture() {
        const harness::Frame fg = LoadFrame("plate-green-1920x1080.png", 1);
        const harness::Frame bg = LoadFrame("background-lake-sunset-1080p.jpg", 1);
        frames.fg = fg.pixels;
        frames.bg = bg.pixels;
        frames.Attach(keyer);
        keyer.SetBackingColour(82, 192, 58, 1);
        keyer.Update(1);
    }
};

PlateStageFixture& PlateStages() {
    static PlateStageFixture fixture;
    return fixture;
}

// One stage on the real plate; range(0) is the thread count.
template <typename Stage> void RunPlateStage(benchmark::State& state, Stage stage) {
    CKeyer& k = PlateStages().keyer;
    k.threadCount = uint16_t(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(stage(k));
    k.threadCount = 0;
}

void BM_PlateSeparate(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.Separate(); });
}
void BM_PlateGradeTransparency(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.GradeTransparency(); });
}
void BM_PlateSoftenEdge(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.SoftenEdge(); });
}
void BM_PlateFillUnderlay(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.FillUnderlay(); });
}
void BM_PlateSmoothUnderlay(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.SmoothUnderlay(); });
}
void BM_PlateComposite(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.Composite(); });
}
void BM_PlateCorrectBackground(benchmark::State& s) {
    RunPlateStage(s, [](CKeyer& k) { return k.CorrectBackground(k.outputImage); });
}

} // namespace

// Real plate: the full composite at 1 and 2 threads, the draft composite and
// every view, then 3840 x 2160 and 7680 x 4320 (pixels repeated). CPU is the
// whole process's, all threads together.
BENCHMARK(BM_Plate)
    ->ArgNames({"show", "high", "threads", "scale"})
    ->Args({ShowComposite, 1, 1, 1})
    ->Args({ShowComposite, 1, 2, 1})
    ->Args({ShowComposite, 0, 2, 1})
    ->ArgsProduct({benchmark::CreateDenseRange(ShowForeground, ShowCorrectedBg, 1), {1}, {2}, {1}})
    ->Args({ShowComposite, 1, 2, 2})
    ->Args({ShowComposite, 1, 2, 4})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_PlateSeparate)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateGradeTransparency)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateSoftenEdge)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateFillUnderlay)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateSmoothUnderlay)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateComposite)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlateCorrectBackground)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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
