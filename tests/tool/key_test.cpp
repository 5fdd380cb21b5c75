// `orvo key` in this process: the checks made before any frame is rendered,
// the automatic choices (key colour, background fitting), what is written
// when a run fails, and frames through the real plug-in module.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <filesystem>
#include <fstream>

#include "effect.h"
#include "errors.h"
#include "fit.h"
#include "image_io.h"
#include "key.h"
#include "progress.h"
#include "tool_support.h"
#include "video_io.h"

using namespace tooltest;
using orvo::Frame;
using orvo::KeyOptions;

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
    KeyOptions Still(const std::string& out) const {
        KeyOptions o;
        o.fg = dir / "fg.png";
        o.bg = dir / "bg.png";
        o.out = dir / out;
        return o;
    }
    KeyOptions Sequence(const std::string& out) const {
        KeyOptions o = Still(out);
        o.fg = dir / "fg.%04d.png";
        return o;
    }
    bool NoTemporaries() const {
        for (const std::string& f : dir.Files())
            if (Contains(f, "orvo-tmp") || Contains(f, "orvo-probe")) return false;
        return true;
    }
};

TEST(ToolKey, RefusedBeforeRenderingNamingTheProblem) {
    Shot s;
    std::string bytes = ReadBytes(s.dir / "bg.png");
    std::ofstream(s.dir / "cut.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    WritePng(s.dir / "small.png", Solid(20, 10, 255, 255, 255), 1);
    WritePng(s.dir / "short.png", Solid(128, 30, 1, 2, 3), 3);
    WritePng(s.dir / "grey.png", Solid(128, 40, 120, 120, 120), 3);
    std::filesystem::create_directory(s.dir / "sub");
    std::ofstream(s.dir / "sub/file") << "x";
    struct Case {
        const char* what;
        std::function<void(KeyOptions&)> change;
        std::string expect;
    } cases[] = {
        {"missing input", [&](KeyOptions& o) { o.fg = s.dir / "nope.png"; }, s.dir / "nope.png"},
        {"cut PNG", [&](KeyOptions& o) { o.bg = s.dir / "cut.png"; }, s.dir / "cut.png"},
        {"no folder", [&](KeyOptions& o) { o.out = s.dir / "no/such/out.png"; },
         "the folder \"" + s.dir / "no/such" + "\" does not exist"},
        {"folder is a file", [&](KeyOptions& o) { o.out = s.dir / "sub/file/out.png"; },
         "\"" + s.dir / "sub/file" + "\" is not a folder"},
        {"unknown extension", [&](KeyOptions& o) { o.out = s.dir / "out.xyz"; },
         "cannot write \"" + s.dir / "out.xyz" + "\": no image format for the extension \"xyz\""},
        {"key-in size", [&](KeyOptions& o) { o.keyIn = s.dir / "small.png"; },
         "cannot use \"" + s.dir / "small.png" +
             "\" as key-in: it is 20x10, the foreground 128x40"},
        {"height only, not fitted",
         [&](KeyOptions& o) {
             o.bg = s.dir / "short.png";
             o.bgFit = "NONE";
         },
         "it is 128x30, the foreground 128x40; the effect needs the same size"},
        {"key colour nowhere", [&](KeyOptions& o) { o.sets = {"Chroma Color=0,0,255"}; },
         "\"Chroma Color\" 0,0,255 matches no part of the first frame of \"" + s.dir / "fg.png" +
             "\"; the automatic choice is 60,"},
        {"no backing to measure", [&](KeyOptions& o) { o.fg = s.dir / "grey.png"; },
         "no backing colour found in the first frame of \"" + s.dir / "grey.png" + "\""},
        {"bad fit", [&](KeyOptions& o) { o.bgFit = "covr"; }, "(did you mean \"cover\"?)"},
        {"bad resolution", [&](KeyOptions& o) { o.resolution = "hlf"; }, "did you mean \"half\""},
        {"bad view", [&](KeyOptions& o) { o.show = "Nothing"; },
         "\"Show\" takes a number from 1 to 11"},
        {"value out of range", [&](KeyOptions& o) { o.sets = {"Transp. Strength=151"}; },
         "\"Transp. Strength\" takes a number from 0 to 150"},
        {"layer by value", [&](KeyOptions& o) { o.sets = {"Background=x.png"}; }, "--bg"},
        {"preset not JSON", [&](KeyOptions& o) { o.preset = s.dir / "cut.png"; },
         "cannot read preset \"" + s.dir / "cut.png" + "\": not valid JSON"},
        {"frames of a still", [&](KeyOptions& o) { o.frames = "1-2"; }, "--frames needs"},
        {"frame missing",
         [&](KeyOptions& o) {
             o.fg = s.dir / "fg.%04d.png";
             o.out = s.dir / "x.%04d.png";
             o.frames = "2-5";
         },
         s.dir / "fg.0004.png"},
        {"frames into one still", [&](KeyOptions& o) { o.fg = s.dir / "fg.%04d.png"; },
         "is one image but the foreground has 3 frames"},
        {"output over an input",
         [&](KeyOptions& o) {
             o.out = s.dir / "../" + std::filesystem::path(s.dir.path()).filename().string() +
                     "/bg.png";
         },
         "refusing to write output"},
        {"sequence over its input",
         [&](KeyOptions& o) {
             o.fg = s.dir / "fg.%04d.png";
             o.out = s.dir / "fg.####.png";
         },
         "refusing to write output"},
        {"preset over an input", [&](KeyOptions& o) { o.savePreset = s.dir / "bg.png"; },
         "refusing to write preset"},
    };
    const std::string fgBytes = ReadBytes(s.dir / "fg.png");
    for (const Case& c : cases) {
        KeyOptions o = s.Still("out.png");
        c.change(o);
        KeyRun r = Key(o);
        EXPECT_EQ(r.status, 2) << c.what << ": " << r.error;
        EXPECT_TRUE(Contains(r.error, c.expect)) << c.what << ": " << r.error;
        EXPECT_FALSE(r.Noted("frame in")) << c.what; // nothing was rendered
    }
    EXPECT_EQ(s.dir.Files().size(), 10u); // nothing new: 3 + 2 + cut, small, short, grey, sub
    EXPECT_EQ(ReadBytes(s.dir / "fg.png"), fgBytes);
    EXPECT_EQ(ReadBytes(s.dir / "bg.png"), bytes);
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, EffectMessageStopsTheRunAndWritesNothingMore) {
    Shot s;
    // A background sequence whose second frame has another height: with
    // --bg-fit none the effect reports its size message on frame 2.
    WritePng(s.dir / "bgs.0001.png", s.background, 3);
    WritePng(s.dir / "bgs.0002.png", Solid(128, 30, 90, 60, 200), 3);
    WritePng(s.dir / "bgs.0003.png", s.background, 3);
    KeyOptions o = s.Sequence("out.%04d.png");
    o.bg = s.dir / "bgs.%04d.png";
    o.bgFit = "none";
    KeyRun r = Key(o);
    EXPECT_EQ(r.status, 3) << r.error;
    EXPECT_TRUE(r.Noted("frame 2: the effect reports: FG, BG and optional KeyIn must have the "
                        "same size!"));
    EXPECT_TRUE(r.Noted("stopped at frame 2"));
    EXPECT_TRUE(Exists(s.dir / "out.0001.png"));
    EXPECT_FALSE(Exists(s.dir / "out.0002.png"));
    EXPECT_FALSE(Exists(s.dir / "out.0003.png"));
    // A video output stops there too and never appears under its name.
    o.out = s.dir / "clip.mov";
    r = Key(o);
    EXPECT_EQ(r.status, 3) << r.error;
    EXPECT_FALSE(Exists(s.dir / "clip.mov"));
    EXPECT_FALSE(Exists(s.dir / "clip.partial.mov"));
    // Fitted (the default), the same backgrounds key every frame.
    o.bgFit = "cover";
    o.out = s.dir / "fit.%04d.png";
    r = Key(o);
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_TRUE(Exists(s.dir / "fit.0003.png"));
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, FailureMidSequenceKeepsTheFramesDone) {
    Shot s;
    std::ofstream(s.dir / "fg.0002.png", std::ios::trunc) << "broken";
    KeyOptions o = s.Sequence("out.%04d.png");
    o.show = "Foreground";
    KeyRun r = Key(o);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.error, "frame 2")) << r.error;
    EXPECT_TRUE(Contains(r.error, s.dir / "fg.0002.png")) << r.error;
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "out.0001.png"), s.frames[0]));
    EXPECT_FALSE(Exists(s.dir / "out.0002.png"));
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, ViewsSequencesAndVideoThroughThePlugin) {
    Shot s;
    KeyOptions o = s.Still("fg-view.png");
    o.show = "1";
    ASSERT_EQ(Key(o).status, 0);
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "fg-view.png"), s.frames[0]));
    o = s.Still("bg-view.png");
    o.show = "background";
    ASSERT_EQ(Key(o).status, 0);
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "bg-view.png"), s.background));
    // Half resolution: the frames reach the effect at half size.
    o = s.Still("half.tif");
    o.show = "Foreground";
    o.resolution = "Half";
    ASSERT_EQ(Key(o).status, 0);
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "half.tif"), orvo::Downscale(s.frames[0], 2)));
    // A sequence, with progress lines and the summary in a log.
    o = s.Sequence("seq.####.png");
    o.show = "Foreground";
    KeyRun r = Key(o);
    ASSERT_EQ(r.status, 0) << r.error;
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(SamePixels(ReadBack(s.dir / ("seq.000" + std::to_string(i) + ".png")),
                               s.frames[size_t(i - 1)]));
    EXPECT_TRUE(r.Noted("frame 1/3"));
    EXPECT_TRUE(r.Noted("frame 3/3"));
    EXPECT_TRUE(r.Noted("3 frames in "));
    // A range keeps the input's numbers.
    o = s.Sequence("part.%02d.png");
    o.show = "Foreground";
    o.frames = "2-3";
    ASSERT_EQ(Key(o).status, 0);
    EXPECT_FALSE(Exists(s.dir / "part.01.png"));
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "part.03.png"), s.frames[2]));
    // Sequence -> .mov (lossless, alpha) -> sequence comes back exact.
    o = s.Sequence("clip.mov");
    o.show = "Foreground";
    ASSERT_EQ(Key(o).status, 0);
    o.fg = s.dir / "clip.mov";
    o.out = s.dir / "back.%04d.png";
    ASSERT_EQ(Key(o).status, 0);
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(SamePixels(ReadBack(s.dir / ("back.000" + std::to_string(i) + ".png")),
                               s.frames[size_t(i - 1)]));
    EXPECT_FALSE(Exists(s.dir / "back.0004.png"));
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, OutputAppearsOnlyWhenComplete) {
    Shot s;
    const std::string out = s.dir / "out.png";
    WritePng(out, Solid(4, 4, 1, 2, 3), 3);
    const std::string before = ReadBytes(out);
    KeyOptions o = s.Still("out.png");
    o.sets = {"Show=99"};
    EXPECT_EQ(Key(o).status, 2);
    EXPECT_EQ(ReadBytes(out), before);
    o.keyIn = s.dir / "nobg.png";
    o.sets.clear();
    EXPECT_EQ(Key(o).status, 2);
    EXPECT_EQ(ReadBytes(out), before);
    o = s.Still("out.png");
    o.bg.clear(); // no background: the effect's message, exit 3
    EXPECT_EQ(Key(o).status, 3);
    EXPECT_EQ(ReadBytes(out), before);
    o = s.Still("out.png");
    o.show = "Foreground";
    ASSERT_EQ(Key(o).status, 0);
    EXPECT_TRUE(SamePixels(ReadBack(out), s.frames[0]));
    EXPECT_TRUE(s.NoTemporaries());
}

TEST(ToolKey, KeyInMatteAndPointsOutsideTheFrame) {
    Shot s;
    Frame matte = Solid(128, 40, 0, 0, 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x)
            matte.pixel(x, y)[1] = 255; // left half white
    WritePng(s.dir / "matte.png", matte, 1);
    KeyOptions o = s.Still("keyout.png");
    o.keyIn = s.dir / "matte.png";
    o.sets = {"Key Out=KeyIn plus FG"};
    KeyRun r = Key(o);
    ASSERT_EQ(r.status, 0) << r.error;
    Frame keyOut = ReadBack(s.dir / "keyout.png");
    EXPECT_EQ(keyOut.pixel(100, 5)[0], 0);
    EXPECT_NE(keyOut.pixel(5, 5)[0], keyOut.pixel(100, 5)[0]);
    // A crop point dragged off the frame is sent as it is, with a note.
    o = s.Still("crop.png");
    o.sets = {"Crop=on", "Crop Position=-20,300"};
    r = Key(o);
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_TRUE(r.Noted("\"Crop Position\" -20,300 lies outside the 128x40 frame"));
}

TEST(ToolKey, AutomaticKeyColourIsStoredInThePreset) {
    Shot s;
    KeyOptions o = s.Still("a.png");
    o.savePreset = s.dir / "look.json";
    o.sets = {"transp_strength=120.5"};
    KeyRun r = Key(o);
    ASSERT_EQ(r.status, 0) << r.error;
    uint8_t rgb[3];
    ASSERT_TRUE(orvo::MeasureKeyColour(s.frames[0], rgb));
    const std::string colour =
        std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]);
    EXPECT_TRUE(r.Noted("key colour " + colour + " measured from the first frame"));
    const std::string preset = ReadBytes(s.dir / "look.json");
    EXPECT_TRUE(Contains(preset, "\"Chroma Color\": \"" + colour + "\"")) << preset;
    EXPECT_TRUE(Contains(preset, "\"Transp. Strength\": 120.5")) << preset;
    EXPECT_TRUE(Contains(preset, "\"Show\": \"Composite\"")) << preset;
    // The preset keys the same picture, and measures nothing.
    KeyOptions again = s.Still("b.png");
    again.preset = s.dir / "look.json";
    r = Key(again);
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_FALSE(r.Noted("measured"));
    EXPECT_EQ(ReadBytes(s.dir / "a.png"), ReadBytes(s.dir / "b.png"));
}

TEST(ToolKey, MeasuredKeyColourIsTheBackingsTypicalColour) {
    // Backing pixels (60, 190..206, 80); a red square; a little grey noise.
    Frame plate = GreenPlate(128, 40);
    for (int x = 0; x < 128; ++x)
        plate.pixel(x, 0)[1] = plate.pixel(x, 0)[2] = plate.pixel(x, 0)[3] = 128;
    uint8_t rgb[3];
    ASSERT_TRUE(orvo::MeasureKeyColour(plate, rgb));
    EXPECT_EQ(rgb[0], 60);
    EXPECT_NEAR(rgb[1], 198, 2);
    EXPECT_EQ(rgb[2], 80);
    // A backing colour matches the backing and not the red square.
    EXPECT_EQ(orvo::PixelsMatchingKey(Solid(8, 8, 60, 190, 80), rgb), 64u);
    const uint8_t red[3] = {200, 40, 30};
    EXPECT_EQ(orvo::PixelsMatchingKey(Solid(8, 8, 60, 190, 80), red), 0u);
    // Nothing strongly saturated: nothing measured.
    EXPECT_FALSE(orvo::MeasureKeyColour(Solid(16, 16, 120, 130, 110), rgb));
    EXPECT_FALSE(orvo::MeasureKeyColour(Solid(16, 16, 20, 40, 20), rgb)); // dark
}

// Mean absolute difference per channel of two frames of the same size.
double MeanDifference(const Frame& a, const Frame& b) {
    double sum = 0;
    for (size_t i = 0; i < a.px.size(); ++i)
        sum += std::abs(int(a.px[i]) - int(b.px[i]));
    return sum / double(a.px.size());
}

TEST(ToolKey, AutomaticKeyColourKeysThePlatesLikeAnEyedropper) {
    const std::string data = std::string(ORVO_SHARED_DATA) + "/";
    if (!Exists(data + "plate-green-1280x720.png")) GTEST_SKIP() << "no shared plates";
    ScratchDir dir;
    struct Plate {
        const char *name, *eyedropped;
    } plates[] = {{"plate-green-1280x720.png", "58,192,82"},
                  {"plate-blue-1280x720.png", "58,100,209"}};
    for (const Plate& p : plates) {
        KeyOptions o;
        o.fg = data + p.name;
        o.bg = data + "background-lake-sunset-1080p.jpg";
        o.resolution = "third"; // the choice is made at full size; the comparison needs no more
        o.out = dir / "auto.png";
        KeyRun r = Key(o);
        ASSERT_EQ(r.status, 0) << r.error;
        ASSERT_TRUE(r.Noted("measured from the first frame"));
        o.out = dir / "eyedropped.png";
        o.sets = {std::string("Chroma Color=") + p.eyedropped};
        ASSERT_EQ(Key(o).status, 0);
        const double mad =
            MeanDifference(ReadBack(dir / "auto.png"), ReadBack(dir / "eyedropped.png"));
        EXPECT_LE(mad, 1.0) << p.name;
    }
}

TEST(ToolKey, BackgroundsAreFittedToTheForeground) {
    // A 4x2 background, columns 10, 20, 30, 40 in red.
    Frame bg(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t* p = bg.pixel(x, y);
            p[0] = 255;
            p[1] = uint8_t(10 * (x + 1));
            p[2] = p[3] = 0;
        }
    // Cover 2x2: the middle two columns, cropped and not scaled.
    Frame cover = orvo::FitBackground(bg, 2, 2, orvo::BgFit::kCover);
    ASSERT_EQ(cover.width, 2);
    EXPECT_EQ(cover.pixel(0, 0)[1], 20);
    EXPECT_EQ(cover.pixel(1, 1)[1], 30);
    // Contain 4x4: the picture in the middle rows, opaque black bars above and below.
    Frame contain = orvo::FitBackground(bg, 4, 4, orvo::BgFit::kContain);
    EXPECT_EQ(contain.pixel(2, 0)[0], 255);
    EXPECT_EQ(contain.pixel(2, 0)[1], 0);
    EXPECT_EQ(contain.pixel(2, 1)[1], 30);
    EXPECT_EQ(contain.pixel(2, 3)[1], 0);
    // Stretch 2x2: a tent two source pixels wide each side; output 0 centres
    // on source 0.5: weights 0.75, 0.75, 0.25 on 10, 20, 30 -> 30 / 1.75 = 17.1.
    Frame stretch = orvo::FitBackground(bg, 2, 2, orvo::BgFit::kStretch);
    EXPECT_EQ(stretch.pixel(0, 0)[1], 17);
    EXPECT_EQ(stretch.pixel(1, 0)[1], 33); // 0.25, 0.75, 0.75 on 20, 30, 40
    // Upscaled 8x4 (cover = stretch here): edges kept, middle interpolated.
    Frame up = orvo::FitBackground(bg, 8, 4, orvo::BgFit::kCover);
    EXPECT_EQ(up.pixel(0, 0)[1], 10);
    EXPECT_EQ(up.pixel(7, 3)[1], 40);
    EXPECT_EQ(up.pixel(2, 0)[1], 18); // 1.25 source pixels in: 10 + 0.75 * 10, rounded
    // None, and a background already the size, are left alone.
    EXPECT_TRUE(SamePixels(orvo::FitBackground(bg, 2, 2, orvo::BgFit::kNone), bg));
    EXPECT_TRUE(SamePixels(orvo::FitBackground(bg, 4, 2, orvo::BgFit::kContain), bg));
    EXPECT_EQ(orvo::ParseBgFit("Stretch"), orvo::BgFit::kStretch);
}

TEST(ToolKey, ASplitRunGivesTheSameBytesAsOneRun) {
    // What a farm does: measure on the first frame, keep the effect's sequence
    // record, and render later frames from it in another sequence.
    Shot s;
    orvo::Effect& effect = SharedEffect();
    KeyOptions o = s.Sequence("whole.%04d.png");
    o.quiet = true;
    ASSERT_EQ(Key(o).status, 0);
    orvo::KeyPlan plan = orvo::PlanKey(o, effect);
    plan.options.out = s.dir / "part.%04d.png";
    effect.RestartSequence();
    orvo::FrameRange first{true, 1, 1};
    ASSERT_EQ(orvo::RenderFrames(plan, effect, first).frames, 1);
    const std::vector<uint8_t> record = effect.SequenceRecord();
    ASSERT_EQ(record.size(), 16u);
    EXPECT_NE(record[9], 0); // the key colour's green is stored
    effect.RestartSequence();
    EXPECT_NE(effect.SequenceRecord(), record); // a fresh sequence has measured nothing
    effect.SetSequenceRecord(record);
    orvo::FrameRange rest{true, 2, 3};
    orvo::KeyResult r = orvo::RenderFrames(plan, effect, rest);
    EXPECT_EQ(r.frames, 2);
    for (const char* n : {"0001", "0002", "0003"})
        EXPECT_EQ(ReadBytes(s.dir / ("part." + std::string(n) + ".png")),
                  ReadBytes(s.dir / ("whole." + std::string(n) + ".png")))
            << n;
    EXPECT_THROW(effect.SetSequenceRecord({1, 2, 3}), orvo::ToolError);
}

} // namespace
