// The orvo program as a user runs it, one process start per way it can end;
// then `orvo key` in this process: the checks made before any frame is
// rendered, what stays on disk when a run fails part-way, background fitting.
#include <gtest/gtest.h>

#include <filesystem>

#include "fit.h"
#include "key.h"
#include "tool_support.h"

using namespace tooltest;
using orvo::Frame;

namespace {

TEST(ToolProgram, EveryExitPathOnce) {
    ScratchDir d;
    const std::string fg = d / "fg.png", bg = d / "bg.png", out = d / "out.png", kept = d / "kept";
    WritePng(fg, GreenPlate(128, 40), 3);
    WritePng(bg, Solid(256, 80, 90, 60, 200), 3);
    WriteBytes(kept + ".png", "an earlier result");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says; // in stdout or stderr
        std::string plugin = "";
    } cases[] = {
        {{"key", "--fg", fg, "--bg", bg, "-o", out},
         0,
         "is 256x80, the foreground 128x40: scaled to cover the frame, centred"},
        {{"params"}, 0, "transp_strength"},
        {{"KEY", "--help"}, 0, "11  Composite   (the default)"}, // the views come from the plug-in
        {{"--version"}, 0, "orvo 1.0"},
        {{"about"}, 0, "Orvo for AE, v1.0\nChromakey with shadows, color corrections"},
        {{"kye"}, 2, "unknown command \"kye\" (did you mean \"key\"?)"},
        {{"key", "--fg", fg, "--bg", bg}, 2, "Run with --help"},
        {{"key", "--fg", fg, "--bg", bg, "-o", kept + ".png", "--set", "Transp. Strenght=1"},
         2,
         "did you mean \"Transp. Strength\""},
        {{"key", "--fg", fg, "-o", kept + ".png"},
         3,
         "You first have to select the background layer!"},
        {{"key", "--fg", fg, "--bg", bg, "-o", kept + ".png"},
         1,
         "cannot load the plug-in \"" + d / "none.so",
         d / "none.so"},
        {{"farm", "wait", d / "nojob"}, 2, "holds no farm job"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunOrvo(c.args, c.plugin);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.says << "\n" << r.err;
        EXPECT_TRUE(Contains(r.out + r.err, c.says)) << r.out << r.err;
    }
    // The still was keyed over the background, and no failed run touched its output.
    orvo::Frame comp = ReadBack(out);
    ASSERT_EQ(comp.width, 128);
    EXPECT_NEAR(comp.pixel(100, 5)[3], 200, 8);
    EXPECT_EQ(ReadBytes(kept + ".png"), "an earlier result");
    EXPECT_EQ(d.Files(), (std::vector<std::string>{"bg.png", "fg.png", "kept.png", "out.png"}));
}

// A 3-frame plate sequence fg.0001.png .. fg.0003.png, the first frame as
// fg.png, and a background of the same size.
struct Shot {
    ScratchDir dir;
    std::vector<Frame> frames;
    Frame background = Solid(128, 40, 90, 60, 200);
    Shot() {
        for (int i = 0; i < 3; ++i) {
            frames.push_back(GreenPlate(128, 40, i * 3));
            WritePng(dir / ("fg.000" + std::to_string(i + 1) + ".png"), frames.back(), 3);
        }
        WritePng(dir / "fg.png", frames[0], 3);
        WritePng(dir / "bg.png", background, 3);
    }
    // `orvo key` of fg.png over bg.png into out.png, changed by `fields` (see Options).
    KeyRun Key(const std::string& fields) const {
        return tooltest::Key(Options(dir, "fg=fg.png;bg=bg.png;out=out.png;" + fields));
    }
};

TEST(ToolKey, RefusedBeforeRenderingNamingTheProblem) {
    Shot s;
    WriteBytes(s.dir / "cut.json", "{\"parameters\": {");
    WriteBytes(s.dir / "out.png", "an earlier result");
    WritePng(s.dir / "small.png", Solid(20, 10, 255, 255, 255), 1);
    WritePng(s.dir / "short.png", Solid(128, 30, 1, 2, 3), 3);
    WritePng(s.dir / "grey.png", Solid(128, 40, 120, 120, 120), 3);
    std::filesystem::create_directory(s.dir / "sub");
    WriteBytes(s.dir / "sub/file", "x");
    const auto before = s.dir.Files();
    const std::string d = s.dir.path(), name = std::filesystem::path(d).filename();
    const std::pair<std::string, std::string> cases[] = {
        {"keyIn=nokey.png", d + "/nokey.png"},
        {"out=no/such/out.png", "the folder \"" + d + "/no/such\" does not exist"},
        {"out=sub/file/out.png", "\"" + d + "/sub/file\" is not a folder"},
        {"out=out.xyz", "cannot write \"" + d + "/out.xyz\": no image format for the extension"},
        {"out=out.mp4;codec=prores", "--codec prores needs a .mov output"},
        {"keyIn=small.png", "as key-in: it is 20x10, the foreground 128x40"},
        {"bg=short.png;bgFit=NONE",
         "it is 128x30, the foreground 128x40; the effect needs the same"},
        {"set=Chroma Color=0,0,255", "\"Chroma Color\" 0,0,255 matches no part of the first frame "
                                     "of \"" +
                                         d + "/fg.png\"; the automatic choice is 60,"},
        {"fg=grey.png", "no backing colour found in the first frame of \"" + d + "/grey.png\""},
        {"preset=cut.json", "cannot read preset \"" + d + "/cut.json\": not valid JSON"},
        {"fg=fg.%04d.png;frames=2-5", d + "/fg.0004.png"},
        {"fg=fg.%04d.png", "is one image but the foreground has 3 frames"},
        {"out=../" + name + "/bg.png", "refusing to write output"},
        {"fg=fg.%04d.png;out=fg.####.png", "refusing to write output"},
        {"savePreset=bg.png", "refusing to write preset"},
    };
    for (const auto& [fields, says] : cases) {
        const KeyRun r = s.Key(fields);
        EXPECT_EQ(r.status, 2) << fields << ": " << r.error;
        EXPECT_TRUE(Contains(r.error, says)) << fields << ": " << r.error;
        EXPECT_FALSE(r.Says("frame in")) << fields; // nothing was rendered
    }
    EXPECT_EQ(s.dir.Files(), before);
    EXPECT_EQ(ReadBytes(s.dir / "out.png"), "an earlier result");
}

TEST(ToolKey, AFailurePartWayKeepsTheFramesDoneAndNoVideo) {
    Shot s;
    WriteBytes(s.dir / "broken.0001.png", ReadBytes(s.dir / "fg.0001.png"));
    WriteBytes(s.dir / "broken.0002.png", "broken");
    // Backgrounds whose second frame is shorter: the effect refuses frame 2
    // unless the background is fitted (the default).
    for (int n = 1; n <= 3; ++n)
        WritePng(s.dir / ("bgs.000" + std::to_string(n) + ".png"),
                 Solid(128, n == 2 ? 30 : 40, 90, 60, 200), 3);
    const struct {
        std::string fields;
        int status;
        std::string says;
    } cases[] = {
        {"bgFit=none", 3,
         "frame 2: the effect reports: FG, BG and optional KeyIn must have the same"},
        {"show=Foreground;fg=broken.%04d.png", 2, s.dir / "broken.0002.png"},
    };
    for (const auto& c : cases)
        for (const char* out : {"out.%04d.png", "clip.mov"}) {
            const KeyRun r =
                s.Key("fg=fg.%04d.png;bg=bgs.%04d.png;out=" + std::string(out) + ";" + c.fields);
            EXPECT_EQ(r.status, c.status) << c.fields << " " << out << ": " << r.error;
            EXPECT_TRUE(r.Says(c.says)) << c.fields << " " << out << ": " << r.error;
        }
    // Frame 1 of the sequence stays, whole; nothing after it, no video under
    // its name, no temporaries.
    EXPECT_EQ(ReadBack(s.dir / "out.0001.png").px, s.frames[0].px);
    EXPECT_FALSE(Exists(s.dir / "out.0002.png") || Exists(s.dir / "clip.mov"));
    for (const std::string& f : s.dir.Files())
        EXPECT_FALSE(Contains(f, "orvo-tmp") || Contains(f, "orvo-probe")) << f;
}

TEST(ToolKey, BackgroundsAreFittedToTheForeground) {
    // A 4x2 background, columns 10, 20, 30, 40 in red.
    Frame bg(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            bg.pixel(x, y)[0] = 255, bg.pixel(x, y)[1] = uint8_t(10 * (x + 1));
    using orvo::BgFit;
    const struct {
        BgFit fit;
        int w, h, x, y, red;
    } cases[] = {
        {BgFit::kCover, 2, 2, 1, 1, 30},  // the middle columns, cropped, not scaled
        {BgFit::kContain, 4, 4, 2, 0, 0}, // opaque black bars above and below
        // A tent two source pixels wide each side: output 0 centres on source
        // 0.5, weights 0.75, 0.75, 0.25 on 10, 20, 30 -> 30 / 1.75 = 17.1.
        {BgFit::kStretch, 2, 2, 0, 0, 17},
        // Upscaled (cover is stretch here): edges kept, the middle interpolated.
        {BgFit::kCover, 8, 4, 2, 0, 18}, // 1.25 source pixels in: 10 + 0.75 * 10
    };
    for (const auto& c : cases) {
        const Frame f = orvo::FitBackground(bg, c.w, c.h, c.fit);
        ASSERT_EQ(f.width * 10 + f.height, c.w * 10 + c.h);
        EXPECT_TRUE(f.pixel(c.x, c.y)[0] == 255 && f.pixel(c.x, c.y)[1] == c.red)
            << BgFitName(c.fit) << " " << c.w << " " << c.x << ": " << int(f.pixel(c.x, c.y)[1]);
    }
    // None, and a background already the size, are left alone.
    EXPECT_EQ(orvo::FitBackground(bg, 2, 2, BgFit::kNone).px, bg.px);
    EXPECT_EQ(orvo::FitBackground(bg, 4, 2, BgFit::kContain).px, bg.px);
}

} // namespace
