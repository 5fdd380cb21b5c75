// The orvo program as a user runs it: one process start per way it can end.
// Everything else about `orvo key` is tested in this process (key_test.cpp).
#include <gtest/gtest.h>

#include "tool_support.h"

using namespace tooltest;

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

} // namespace
