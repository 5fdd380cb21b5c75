// The orvo program as a user runs it: one process start per way it can end
// (exit 0, 1, 2 and 3, help and version). Everything else about `orvo key`
// is tested in this process (key_test.cpp).
#include <gtest/gtest.h>

#include <sstream>

#include "tool_support.h"

using namespace tooltest;

namespace {

struct Still {
    ScratchDir dir;
    Still() {
        WritePng(dir / "fg.png", GreenPlate(128, 40), 3);
        WritePng(dir / "bg.png", Solid(256, 80, 90, 60, 200), 3);
    }
};

TEST(ToolProgram, KeysAStillWithItsOwnChoicesAndSaysSo) {
    Still s;
    RunResult r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "out.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The automatic choices and the summary, one line each, on stderr.
    EXPECT_TRUE(Contains(r.err, "orvo: key colour ")) << r.err;
    EXPECT_TRUE(Contains(
        r.err,
        "is 256x80, the foreground 128x40: scaled to cover the frame, centred (--bg-fit cover;"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "orvo: 1 frame in ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "fps) -> " + s.dir / "out.png")) << r.err;
    EXPECT_EQ(r.out, "");
    // The composite: the backing gave way to the background.
    orvo::Frame comp = ReadBack(s.dir / "out.png");
    ASSERT_EQ(comp.width, 128);
    EXPECT_NEAR(comp.pixel(100, 5)[3], 200, 8);
}

TEST(ToolProgram, ListsParametersWithSnakeNames) {
    RunResult r = RunOrvo({"params"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_TRUE(Contains(line, "snake_name")) << line;
    int count = 0;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) {
        EXPECT_EQ(std::stoi(line), ++count) << line;
        rows.push_back(line);
    }
    ASSERT_EQ(count, 40);
    EXPECT_TRUE(Contains(rows[7], "Crop Size (pixel)") && Contains(rows[7], "40..400") &&
                Contains(rows[7], "40..200"));
    EXPECT_TRUE(Contains(rows[14], "Transp. Strength") && Contains(rows[14], "transp_strength"));
    EXPECT_TRUE(Contains(rows[4], "11 (Composite)") && Contains(rows[4], "effect's own is 1"))
        << rows[4];
    EXPECT_TRUE(Contains(rows[25], "FG Ligth Color") && Contains(rows[25], "fg_light_color"));
}

TEST(ToolProgram, HelpVersionAndAbout) {
    RunResult r = RunOrvo({"KEY", "--help"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"--bg-fit", "11  Composite   (the default)", "Separ. Black on Gray",
                             "#RRGGBB", "x,y in pixels", "Exit status:", "3 the effect reported"})
        EXPECT_TRUE(Contains(r.out, part)) << part << "\n" << r.out;
    r = RunOrvo({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "orvo 1.0")) << r.out;
    r = RunOrvo({"about"});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Orvo for AE, v1.0\nChromakey with shadows, color corrections"))
        << r.out;
}

TEST(ToolProgram, BadUsageExitsTwoWithASuggestion) {
    RunResult r = RunOrvo({"kye", "--fg", "x.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "unknown command \"kye\" (did you mean \"key\"?)")) << r.err;
    Still s;
    r = RunOrvo({"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "out.png",
                 "--set", "Transp. Strenght=120"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "did you mean \"Transp. Strength\"")) << r.err;
    EXPECT_FALSE(Exists(s.dir / "out.png"));
}

TEST(ToolProgram, EffectMessageExitsThreeAndWritesNothing) {
    Still s;
    WritePng(s.dir / "out.png", Solid(4, 4, 1, 2, 3), 3);
    const std::string before = ReadBytes(s.dir / "out.png");
    RunResult r = RunOrvo({"key", "--fg", s.dir / "fg.png", "-o", s.dir / "out.png"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Contains(r.err, "You first have to select the background layer!")) << r.err;
    EXPECT_EQ(ReadBytes(s.dir / "out.png"), before);
}

TEST(ToolProgram, MissingPluginExitsOne) {
    Still s;
    RunResult r = RunOrvo(
        {"key", "--fg", s.dir / "fg.png", "--bg", s.dir / "bg.png", "-o", s.dir / "out.png"},
        s.dir / "nowhere.so");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "cannot load the plug-in \"" + s.dir / "nowhere.so")) << r.err;
    EXPECT_FALSE(Exists(s.dir / "out.png"));
}

} // namespace
