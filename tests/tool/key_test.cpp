// `orvo key` in this process: the checks made before any frame is rendered,
// what stays on disk when a run fails part-way, the automatic choices (key
// colour, background fitting), and frames through the real plug-in module.
#include <gtest/gtest.h>

#include <filesystem>

#include "fit.h"
#include "key.h"
#include "tool_support.h"

using namespace tooltest;
using orvo::Frame;

namespace {

bool SamePixels(const Frame& a, const Frame& b) {
    return a.width == b.width && a.height == b.height && a.px == b.px;
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
    bool NoTemporaries() const {
        for (const std::string& f : dir.Files())
            if (Contains(f, "orvo-tmp") || Contains(f, "orvo-probe")) return false;
        return true;
    }
};

TEST(ToolKey, RefusedBeforeRenderingNamingTheProblem) {
    Shot s;
    const std::string bytes = ReadBytes(s.dir / "bg.png");
    WriteBytes(s.dir / "cut.png", bytes.substr(0, bytes.size() / 2));
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
        {"bgFit=covr", "(did you mean \"cover\"?)"},
        {"resolution=hlf", "did you mean \"half\""},
        {"preset=cut.png", "cannot read preset \"" + d + "/cut.png\": not valid JSON"},
        {"frames=1-2", "--frames needs"},
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
    EXPECT_EQ(ReadBytes(s.dir / "bg.png"), bytes);
    EXPECT_EQ(ReadBytes(s.dir / "out.png"), "an earlier result");
}

TEST(ToolKey, AFailurePartWayKeepsTheFramesDoneAndNoVideo) {
    Shot s;
    WriteBytes(s.dir / "broken.0001.png", ReadBytes(s.dir / "fg.0001.png"));
    WriteBytes(s.dir / "broken.0002.png", "broken");
    WritePng(s.dir / "grows.0001.png", s.frames[0], 3);
    WritePng(s.dir / "grows.0002.png", GreenPlate(140, 40), 3);
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
        {"show=Foreground;fg=grows.%04d.png", 2,
         s.dir / "grows.0002.png\": frame 2 is 140x40, the first frame 128x40"},
    };
    for (const auto& c : cases)
        for (const char* out : {"out.%04d.png", "clip.mov"}) {
            const KeyRun r =
                s.Key("fg=fg.%04d.png;bg=bgs.%04d.png;out=" + std::string(out) + ";" + c.fields);
            EXPECT_EQ(r.status, c.status) << c.fields << " " << out << ": " << r.error;
            EXPECT_TRUE(r.Says(c.says)) << c.fields << " " << out << ": " << r.error;
        }
    // Frame 1 of the sequence stays, whole; nothing after it, no video under
    // its name (a bad input keeps the part done as clip.partial.mov), no temporaries.
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "out.0001.png"), s.frames[0]));
    EXPECT_FALSE(Exists(s.dir / "out.0002.png"));
    EXPECT_FALSE(Exists(s.dir / "clip.mov"));
    EXPECT_TRUE(s.NoTemporaries());
    EXPECT_EQ(s.Key("fg=fg.%04d.png;bg=bgs.%04d.png;out=fit.%04d.png").status, 0);
    EXPECT_TRUE(Exists(s.dir / "fit.0003.png"));
}

TEST(ToolKey, ViewsSequencesAndVideoThroughThePlugin) {
    Shot s;
    const struct {
        std::string fields, out; // `out`: the files to read back, numbered from `first`
        int first;
        std::vector<Frame> want;
    } cases[] = {
        {"show=1;out=fg-view.png", "fg-view.png", 0, {s.frames[0]}},
        {"show=background;out=bg-view.png", "bg-view.png", 0, {s.background}},
        // Half resolution: the frames reach the effect at half size.
        {"show=Foreground;resolution=Half;out=half.tif",
         "half.tif",
         0,
         {orvo::Downscale(s.frames[0], 2)}},
        {"show=Foreground;fg=fg.%04d.png;out=seq.####.png", "seq.%04d.png", 1, s.frames},
        // A range keeps the input's numbers.
        {"show=Foreground;fg=fg.%04d.png;frames=2-3;out=part.%02d.png",
         "part.%02d.png",
         2,
         {s.frames[1], s.frames[2]}},
        // A sequence to .mov (lossless, alpha) and back comes back exact.
        {"show=Foreground;fg=fg.%04d.png;out=clip.mov", "", 0, {}},
        {"show=Foreground;fg=clip.mov;out=back.%04d.png", "back.%04d.png", 1, s.frames},
    };
    for (const auto& c : cases) {
        const KeyRun r = s.Key(c.fields);
        ASSERT_EQ(r.status, 0) << c.fields << ": " << r.error;
        EXPECT_TRUE(c.want.empty() || r.Says(std::to_string(c.want.size()) + " frame"));
        for (size_t i = 0; i < c.want.size(); ++i) {
            char name[64];
            std::snprintf(name, sizeof name, c.out.c_str(), c.first + int(i));
            EXPECT_TRUE(SamePixels(ReadBack(s.dir / name), c.want[i])) << name;
        }
    }
    EXPECT_FALSE(Exists(s.dir / "part.01.png") || Exists(s.dir / "back.0004.png"));
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, KeyInMatteAndPointsOutsideTheFrame) {
    Shot s;
    Frame matte = Solid(128, 40, 0, 0, 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x)
            matte.pixel(x, y)[1] = 255; // left half white
    WritePng(s.dir / "matte.png", matte, 1);
    ASSERT_EQ(s.Key("keyIn=matte.png;set=Key Out=KeyIn plus FG").status, 0);
    const Frame keyOut = ReadBack(s.dir / "out.png");
    EXPECT_EQ(keyOut.pixel(100, 5)[0], 0);
    EXPECT_NE(keyOut.pixel(5, 5)[0], 0);
    // A crop point dragged off the frame is sent as it is, with a note.
    const KeyRun r = s.Key("set=Crop=on;set=Crop Position=-20,300");
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_TRUE(r.Says("\"Crop Position\" -20,300 lies outside the 128x40 frame"));
}

TEST(ToolKey, AutomaticKeyColourIsTheBackingsAndStoredInThePreset) {
    // Backing pixels (60, 190..206, 80); a red square; a row of grey.
    Frame plate = GreenPlate(128, 40);
    for (int x = 0; x < 128; ++x)
        plate.pixel(x, 0)[1] = plate.pixel(x, 0)[2] = plate.pixel(x, 0)[3] = 128;
    uint8_t rgb[3];
    ASSERT_TRUE(orvo::MeasureKeyColour(plate, rgb));
    EXPECT_EQ(rgb[0], 60);
    EXPECT_NEAR(rgb[1], 198, 2);
    EXPECT_EQ(rgb[2], 80);
    // It matches the backing and not the red square; nothing strongly
    // saturated (grey, dark) measures nothing.
    EXPECT_EQ(orvo::PixelsMatchingKey(Solid(8, 8, 60, 190, 80), rgb), 64u);
    const uint8_t red[3] = {200, 40, 30};
    EXPECT_EQ(orvo::PixelsMatchingKey(Solid(8, 8, 60, 190, 80), red), 0u);
    EXPECT_FALSE(orvo::MeasureKeyColour(Solid(16, 16, 120, 130, 110), rgb));
    EXPECT_FALSE(orvo::MeasureKeyColour(Solid(16, 16, 20, 40, 20), rgb));

    Shot s;
    KeyRun r = s.Key("out=a.png;savePreset=look.json;set=transp_strength=120.5");
    ASSERT_EQ(r.status, 0) << r.error;
    ASSERT_TRUE(orvo::MeasureKeyColour(s.frames[0], rgb));
    const std::string colour =
        std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]);
    EXPECT_TRUE(r.Says("key colour " + colour + " measured from the first frame"));
    const std::string preset = ReadBytes(s.dir / "look.json");
    for (const std::string& part :
         {"\"Chroma Color\": \"" + colour + "\"", std::string("\"Transp. Strength\": 120.5"),
          std::string("\"Show\": \"Composite\"")})
        EXPECT_TRUE(Contains(preset, part)) << preset;
    // The preset keys the same picture, and measures nothing.
    r = s.Key("out=b.png;preset=look.json");
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_FALSE(r.Says("measured"));
    EXPECT_EQ(ReadBytes(s.dir / "a.png"), ReadBytes(s.dir / "b.png"));
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
        {BgFit::kCover, 2, 2, 0, 0, 20}, // the middle columns, cropped, not scaled
        {BgFit::kCover, 2, 2, 1, 1, 30},
        {BgFit::kContain, 4, 4, 2, 0, 0}, // opaque black bars above and below
        {BgFit::kContain, 4, 4, 2, 1, 30},
        {BgFit::kContain, 4, 4, 2, 3, 0},
        // A tent two source pixels wide each side: output 0 centres on source
        // 0.5, weights 0.75, 0.75, 0.25 on 10, 20, 30 -> 30 / 1.75 = 17.1.
        {BgFit::kStretch, 2, 2, 0, 0, 17},
        {BgFit::kStretch, 2, 2, 1, 0, 33}, // 0.25, 0.75, 0.75 on 20, 30, 40
        // Upscaled (cover is stretch here): edges kept, the middle interpolated.
        {BgFit::kCover, 8, 4, 0, 0, 10},
        {BgFit::kCover, 8, 4, 7, 3, 40},
        {BgFit::kCover, 8, 4, 2, 0, 18}, // 1.25 source pixels in: 10 + 0.75 * 10
    };
    for (const auto& c : cases) {
        const Frame f = orvo::FitBackground(bg, c.w, c.h, c.fit);
        ASSERT_EQ(f.width * 10 + f.height, c.w * 10 + c.h);
        EXPECT_EQ(f.pixel(c.x, c.y)[0], 255) << BgFitName(c.fit) << " " << c.w << " " << c.x;
        EXPECT_EQ(f.pixel(c.x, c.y)[1], c.red) << BgFitName(c.fit) << " " << c.w << " " << c.x;
    }
    // None, and a background already the size, are left alone.
    EXPECT_TRUE(SamePixels(orvo::FitBackground(bg, 2, 2, BgFit::kNone), bg));
    EXPECT_TRUE(SamePixels(orvo::FitBackground(bg, 4, 2, BgFit::kContain), bg));
}

} // namespace
