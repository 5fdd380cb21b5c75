// The orvo program end to end: commands, exit statuses, messages, file
// handling, and frames through the real plug-in module.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "image_io.h"
#include "tool_support.h"
#include "video_io.h"

using namespace tooltest;
using orvo::Frame;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool SamePixels(const Frame& a, const Frame& b) {
    return a.width == b.width && a.height == b.height && a.px == b.px;
}

// A 3-frame plate sequence name.0001.png .. name.0003.png and a background.
struct Shot {
    ScratchDir dir;
    std::vector<Frame> frames;
    Frame background = Solid(128, 40, 90, 60, 200);
    Shot() {
        for (int i = 0; i < 3; ++i) {
            frames.push_back(GreenPlate(128, 40, i * 3));
            WritePng(dir / ("fg." + std::string("000") + std::to_string(i + 1) + ".png"),
                     frames.back(), 3);
        }
        WritePng(dir / "fg.png", frames[0], 3);
        WritePng(dir / "bg.png", background, 3);
    }
};

TEST(ToolCommands, ParamsListsAllFortyInOrder) {
    RunResult r = RunOrvo({"params"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line); // header
    int count = 0;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_EQ(std::stoi(line), count) << line;
        rows.push_back(line);
    }
    ASSERT_EQ(count, 40);
    EXPECT_TRUE(Contains(rows[0], "Background"));
    EXPECT_TRUE(Contains(rows[5], "Crop") && Contains(rows[5], "off"));
    EXPECT_TRUE(Contains(rows[7], "Crop Size (pixel)") && Contains(rows[7], "40..400") &&
                Contains(rows[7], "40..200"));
    EXPECT_TRUE(Contains(rows[14], "Transp. Strength") && Contains(rows[14], "0..150"));
    EXPECT_TRUE(Contains(rows[25], "FG Ligth Color") && Contains(rows[25], "5,5,11"));
    EXPECT_TRUE(Contains(rows[29], "Refl.Suppress Red"));
    EXPECT_TRUE(Contains(rows[39], "FG CC Color"));
}

TEST(ToolCommands, AboutAndUsage) {
    RunResult r = RunOrvo({"about"});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Orvo for AE, v1.0\nChromakey with shadows, color corrections"))
        << r.out;
    EXPECT_EQ(RunOrvo({}).status, 2);
    EXPECT_EQ(RunOrvo({"frobnicate"}).status, 2);
    EXPECT_EQ(RunOrvo({"key", "--fg", "x.png"}).status, 2); // no -o
    EXPECT_EQ(RunOrvo({"--help"}).status, 0);
}

TEST(ToolKey, BadValuesAndNamesAreRefusedWithTheRange) {
    Shot s;
    const std::string out = s.dir / "out.png";
    struct Case {
        std::string set, expect;
    } cases[] = {
        {"Transp. Strength=151", "\"Transp. Strength\" takes a number from 0 to 150"},
        {"Crop Size (pixel)=20", "\"Crop Size (pixel)\" takes an integer from 40 to 400"},
        {"Show=12", "\"Show\" takes a number from 1 to 11"},
        {"Chroma Color=300,0,0", "\"Chroma Color\" takes R,G,B"},
        {"Smooth BG Shadow=maybe", "\"Smooth BG Shadow\" takes on, off"},
        {"Separation Level=1.5", "\"Separation Level\" takes an integer from -50 to 50"},
        {"Chroma Colour=1,2,3", "unknown parameter \"Chroma Colour\""},
        {"Background=bg.png", "--bg"},
    };
    for (const Case& c : cases) {
        RunResult r = RunOrvo(
            {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--set", c.set});
        EXPECT_EQ(r.status, 2) << c.set;
        EXPECT_TRUE(Contains(r.err, c.expect)) << c.set << ": " << r.err;
        EXPECT_FALSE(Exists(out)) << c.set;
    }
    RunResult r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out,
                           "--show", "Nothing"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "\"Show\"")) << r.err;
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "-o", out, "--resolution", "double"});
    EXPECT_EQ(r.status, 2);
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--set",
                 "Crop Position=128,5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "x 0 to 127, y 0 to 39")) << r.err;
    EXPECT_FALSE(Exists(out));
}

TEST(ToolKey, MissingAndCorruptInputsAreNamed) {
    Shot s;
    const std::string out = s.dir / "out.png";
    RunResult r = RunOrvo({"key", "--fg", s.dir / "nope.png", "--bg", s.dir / "bg.png", "-o", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, s.dir / "nope.png")) << r.err;

    // A PNG cut in half.
    std::string bytes = ReadBytes(s.dir / "bg.png");
    std::ofstream(s.dir / "cut.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "cut.png", "-o", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, s.dir / "cut.png")) << r.err;
    std::ofstream(s.dir / "junk.png") << "not a picture";
    r = RunOrvo({"key", "--fg", s.dir / "junk.png", "--bg", s.dir / "bg.png", "-o", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, s.dir / "junk.png")) << r.err;
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--preset",
                 s.dir / "junk.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "junk.png")) << r.err;
    EXPECT_FALSE(Exists(out));
}

TEST(ToolKey, NeverWritesOverAnInput) {
    Shot s;
    const std::string fgBytes = ReadBytes(s.dir / "fg.png");
    const std::string bgBytes = ReadBytes(s.dir / "bg.png");
    RunResult r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "fg.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "refusing")) << r.err;
    // The same file under another spelling.
    r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o",
         s.dir / "../" + std::filesystem::path(s.dir.path()).filename().string() + "/bg.png"});
    EXPECT_EQ(r.status, 2);
    r = RunOrvo({"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "fg.####.png"});
    EXPECT_EQ(r.status, 2);
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "out.png",
                 "--save-preset", s.dir / "bg.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadBytes(s.dir / "fg.png"), fgBytes);
    EXPECT_EQ(ReadBytes(s.dir / "bg.png"), bgBytes);
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(SamePixels(ReadBack(s.dir / ("fg.000" + std::to_string(i) + ".png")),
                               s.frames[size_t(i - 1)]));
}

TEST(ToolKey, OutputAppearsOnlyWhenComplete) {
    Shot s;
    const std::string out = s.dir / "out.png";
    // An existing output survives a failed run untouched ...
    WritePng(out, Solid(4, 4, 1, 2, 3), 3);
    const std::string before = ReadBytes(out);
    RunResult r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--set", "Show=99"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadBytes(out), before);
    // ... is replaced by a successful one, and no temporary file is left.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--show",
                 "Foreground"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBack(out).width, 128);
    for (const std::string& f : s.dir.Files())
        EXPECT_FALSE(Contains(f, "orvo-tmp")) << f;
    // A folder that does not exist: exit 2, nothing written.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "no/such/dir/out.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "no/such/dir/out.png")) << r.err;
}

TEST(ToolKey, FailureMidSequenceKeepsTheFramesDone) {
    Shot s;
    std::ofstream(s.dir / "fg.0002.png", std::ios::trunc) << "broken";
    RunResult r = RunOrvo({"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o",
                           s.dir / "out.%04d.png", "--show", "Foreground", "--quiet"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "frame 2")) << r.err;
    EXPECT_TRUE(Contains(r.err, s.dir / "fg.0002.png")) << r.err;
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "out.0001.png"), s.frames[0]));
    EXPECT_FALSE(Exists(s.dir / "out.0002.png"));
    EXPECT_FALSE(Exists(s.dir / "out.0003.png"));
    for (const std::string& f : s.dir.Files())
        EXPECT_FALSE(Contains(f, "orvo-tmp")) << f;
}

TEST(ToolKey, StillToStillThroughThePlugin) {
    Shot s;
    const std::string out = s.dir / "out.png";
    RunResult r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--show", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(SamePixels(ReadBack(out), s.frames[0]));
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--show",
                 "Background"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(SamePixels(ReadBack(out), s.background));
    // The composite runs through the full stage order and is opaque without a key-out mode.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", out, "--set",
                 "Chroma Color=60,195,80", "--show", "Composite"});
    ASSERT_EQ(r.status, 0) << r.err;
    Frame comp = ReadBack(out);
    ASSERT_EQ(comp.width, 128);
    ASSERT_EQ(comp.height, 40);
    for (size_t i = 0; i < comp.px.size(); i += 4)
        ASSERT_EQ(comp.px[i], 255);
    // The backing gives way to the background; the red square stays red.
    const uint8_t* backing = comp.pixel(100, 5);
    EXPECT_NEAR(backing[1], 90, 8);
    EXPECT_NEAR(backing[2], 60, 8);
    EXPECT_NEAR(backing[3], 200, 8);
    const uint8_t* subject = comp.pixel(45, 20);
    EXPECT_GT(subject[1], 150);
    EXPECT_LT(subject[2], 80);
    // Half resolution: the frames reach the effect at half size.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "half.tif", "--show", "Foreground", "--resolution", "half"});
    ASSERT_EQ(r.status, 0) << r.err;
    Frame half = ReadBack(s.dir / "half.tif");
    EXPECT_EQ(half.width, 64);
    EXPECT_EQ(half.height, 20);
    EXPECT_TRUE(SamePixels(half, orvo::Downscale(s.frames[0], 2)));
}

TEST(ToolKey, ThreeFramePngSequence) {
    Shot s;
    RunResult r = RunOrvo({"key", "--fg", s.dir / "fg.####.png", "--bg", s.dir / "bg.png", "-o",
                           s.dir / "out.%04d.png", "--show", "Foreground"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(SamePixels(ReadBack(s.dir / ("out.000" + std::to_string(i) + ".png")),
                               s.frames[size_t(i - 1)]))
            << i;
    // A range: frames 2 and 3 only, numbered as in the input.
    r = RunOrvo({"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "part.%02d.png", "--show", "Foreground", "--frames", "2-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Exists(s.dir / "part.01.png"));
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "part.03.png"), s.frames[2]));
    r = RunOrvo({"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "x.%04d.png", "--frames", "2-5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "fg.0004.png")) << r.err;
    // Many frames into one still is refused.
    r = RunOrvo(
        {"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o", s.dir / "one.png"});
    EXPECT_EQ(r.status, 2);
}

TEST(ToolKey, VideoRoundTripWithFfmpeg) {
    Shot s;
    // Sequence -> .mov (PNG codec: lossless, with alpha) -> sequence.
    RunResult r = RunOrvo({"key", "--fg", s.dir / "fg.%04d.png", "--bg", s.dir / "bg.png", "-o",
                           s.dir / "clip.mov", "--show", "Foreground", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunOrvo({"key", "--fg", s.dir / "clip.mov", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "back.%04d.png", "--show", "Foreground"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(SamePixels(ReadBack(s.dir / ("back.000" + std::to_string(i) + ".png")),
                               s.frames[size_t(i - 1)]))
            << i;
    EXPECT_FALSE(Exists(s.dir / "back.0004.png"));
    // .mp4 is H.264 without alpha: three frames of the same size come back.
    r = RunOrvo({"key", "--fg", s.dir / "clip.mov", "--bg", s.dir / "bg.png", "-o",
                 s.dir / "clip.mp4", "--show", "Background", "--frames", "2-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    orvo::VideoReader mp4(s.dir / "clip.mp4");
    Frame f;
    int frames = 0;
    while (mp4.Next(&f, false)) {
        ++frames;
        EXPECT_EQ(f.width, 128);
        EXPECT_NEAR(f.pixel(20, 20)[3], 200, 6); // the blue of the background, lossy
    }
    EXPECT_EQ(frames, 2);
    for (const std::string& name : s.dir.Files())
        EXPECT_FALSE(Contains(name, "orvo-tmp")) << name;
}

TEST(ToolKey, GreyscaleKeyInMatte) {
    Shot s;
    Frame matte = Solid(128, 40, 0, 0, 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x)
            matte.pixel(x, y)[1] = 255; // left half white
    WritePng(s.dir / "matte.png", matte, 1);
    // The first channel of a greyscale file becomes the key-in alpha.
    Frame read = orvo::ReadImage(s.dir / "matte.png", orvo::FrameRole::kMatte);
    EXPECT_EQ(read.pixel(3, 3)[0], 255);
    EXPECT_EQ(read.pixel(100, 3)[0], 0);
    RunResult r =
        RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "--key-in",
                 s.dir / "matte.png", "-o", s.dir / "keyout.png", "--set", "Chroma Color=60,195,80",
                 "--set", "Key Out=KeyIn plus FG", "--show", "Composite"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The key-out alpha follows the matte: where it is black only the
    // foreground's own matte counts (none on the backing); where it is white it differs.
    Frame keyOut = ReadBack(s.dir / "keyout.png");
    ASSERT_EQ(keyOut.width, 128);
    EXPECT_EQ(keyOut.pixel(100, 5)[0], 0);
    EXPECT_NE(keyOut.pixel(5, 5)[0], keyOut.pixel(100, 5)[0]);
}

TEST(ToolKey, EffectMessagesExitThree) {
    Shot s;
    // No background layer.
    RunResult r =
        RunOrvo({"key", "--fg", s.dir / "fg.png", "-o", s.dir / "nobg.png", "--show", "Composite"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Contains(r.err, "You first have to select the background layer!")) << r.err;
    // The output is written as the host leaves it: cleared, untouched by the effect.
    Frame nobg = orvo::ReadImage(s.dir / "nobg.png", orvo::FrameRole::kColour);
    EXPECT_EQ(nobg.width, 128);
    for (uint8_t b : nobg.px)
        ASSERT_EQ(b, 0);
    // A key-in of another size.
    WritePng(s.dir / "small.png", Solid(20, 10, 255, 255, 255), 1);
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "--key-in",
                 s.dir / "small.png", "-o", s.dir / "size.png", "--show", "Transparency"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Contains(r.err, "FG, BG and optional KeyIn must have the same size!")) << r.err;
    EXPECT_TRUE(Exists(s.dir / "size.png"));
    // Foreground needs no background: no message.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "-o", s.dir / "fgonly.png"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ToolKey, PresetsSaveAndLoad) {
    Shot s;
    RunResult r =
        RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "a.png",
                 "--set", "Chroma Color=#3CC350", "--set", "Transp. Strength=120.5", "--show",
                 "Background", "--save-preset", s.dir / "look.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string preset = ReadBytes(s.dir / "look.json");
    EXPECT_TRUE(Contains(preset, "\"Transp. Strength\": 120.5")) << preset;
    EXPECT_TRUE(Contains(preset, "\"Show\": \"Background\"")) << preset;
    // Loaded again, and overridden from the command line.
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "b.png",
                 "--preset", s.dir / "look.json", "--save-preset", s.dir / "again.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(s.dir / "again.json"), preset);
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "b.png"), s.background));
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "c.png",
                 "--preset", s.dir / "look.json", "--show", "Foreground"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(SamePixels(ReadBack(s.dir / "c.png"), s.frames[0]));
}

} // namespace
