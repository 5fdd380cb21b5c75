// `orvo farm` on a real two-node Slurm cluster on this machine (started and
// stopped by scripts/farm-cluster.sh around the suite), compared with
// `orvo key` on one machine: a 24-frame sequence, a video, a task killed
// mid-chunk then resumed. Checks made before submitting, dry runs and the
// scheduler's commands are tested in this process (farm_flow_test.cpp).
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool/tool_support.h"

namespace fs = std::filesystem;
using tooltest::Contains;
using tooltest::ReadBytes;
using tooltest::RunOrvo;
using tooltest::RunProgram;
using tooltest::RunResult;

namespace {

constexpr int kFrames = 24;
const std::string kCluster = std::string(ORVO_SOURCE_DIR) + "/scripts/farm-cluster.sh";
const std::string kShared = std::string(ORVO_SOURCE_DIR) + "/../shared/data";

class FarmCluster : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch = new tooltest::ScratchDir();
        // The cluster's munge daemon runs as its own user and must reach its folder.
        fs::permissions(scratch->path(), fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
        RunResult r = RunProgram({kCluster, "start", At("cluster")});
        started = r.status == 0;
        ASSERT_TRUE(started) << r.err;
        setenv("SLURM_CONF", At("cluster/slurm.conf").c_str(), 1);
        // A 24-frame plate sequence and a 12-frame video of it with sound, at 320x180.
        for (const char* sub : {"in", "one", "seq", "kill"})
            fs::create_directories(At(sub));
        ASSERT_TRUE(tooltest::Ffmpeg("-i " + kShared + "/seq-green-960x540/frame.%04d.png " +
                                     "-vf scale=320:180 " + At("in/plate.%04d.png")));
        ASSERT_TRUE(tooltest::Ffmpeg("-i " + kShared + "/background-lake-sunset-1080p.jpg " +
                                     "-vf scale=320:180 " + At("in/sky.png")));
        ASSERT_TRUE(tooltest::Ffmpeg(
            "-framerate 24 -i " + At("in/plate.%04d.png") +
            " -f lavfi -i sine=frequency=440:duration=0.5 -frames:v 12 -c:v libx264 -pix_fmt "
            "yuv420p -color_primaries bt709 -color_trc bt709 -colorspace bt709 -c:a aac "
            "-shortest " +
            At("in/plate.mp4")));
        r = RunOrvo(Key("key", "one/c.%04d.png"));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() {
        if (!scratch) return;
        RunProgram({kCluster, "stop", At("cluster")});
        delete scratch;
        scratch = nullptr;
    }
    void SetUp() override {
        if (!started) GTEST_SKIP() << "no cluster";
    }

    static std::string At(const std::string& name) { return *scratch / name; }
    // `orvo key` or `orvo farm submit` (with `extra`) of the shot, writing `out`.
    static std::vector<std::string> Key(const std::string& cmd, const std::string& out,
                                        std::vector<std::string> extra = {},
                                        const std::string& fg = "in/plate.%04d.png") {
        std::vector<std::string> args = {"--fg", At(fg),  "--bg",  At("in/sky.png"),
                                         "-o",   At(out), "--set", "Chroma Color=58,192,82",
                                         "-q"};
        args.insert(args.begin(), cmd);
        if (cmd == "submit") args.insert(args.begin(), "farm");
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    static std::string FrameName(const std::string& dir, int n) {
        char name[32];
        std::snprintf(name, sizeof name, "/c.%04d.png", n);
        return At(dir + name);
    }
    // Frames of `dir` that differ from the one-machine render (missing ones included).
    static std::vector<int> Differing(const std::string& dir) {
        std::vector<int> out;
        for (int n = 1; n <= kFrames; ++n)
            if (!tooltest::Exists(FrameName(dir, n)) ||
                ReadBytes(FrameName(dir, n)) != ReadBytes(FrameName("one", n)))
                out.push_back(n);
        return out;
    }
    static RunResult Wait(const std::string& job) {
        return RunOrvo({"farm", "wait", At(job), "--interval", "0.5"});
    }
    // The decoded frames' checksums, and the streams a video holds.
    static std::string VideoFacts(const std::string& video) {
        RunResult frames = RunProgram(
            {"ffmpeg", "-v", "error", "-i", At(video), "-map", "0:v", "-f", "framemd5", "-"});
        RunResult streams = RunProgram({"ffprobe", "-v", "error", "-show_entries",
                                        "stream=codec_type,codec_name,r_frame_rate,color_space,"
                                        "color_primaries,sample_rate:format_tags",
                                        "-of", "compact", At(video)});
        EXPECT_EQ(frames.status + streams.status, 0) << frames.err << streams.err;
        std::string kept;
        std::istringstream lines(frames.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != '#') kept += line + "\n";
        return kept + streams.out;
    }

    static tooltest::ScratchDir* scratch;
    static bool started;
};

tooltest::ScratchDir* FarmCluster::scratch = nullptr;
bool FarmCluster::started = false;

TEST_F(FarmCluster, SequenceIsByteIdenticalToOneMachine) {
    RunResult r =
        RunOrvo(Key("submit", "seq/c.%04d.png", {"--job-dir", At("job-seq"), "--chunk", "6"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "submitted 4 tasks as job array")) << r.out;
    r = Wait("job-seq");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing("seq"), std::vector<int>{});
    r = RunOrvo({"farm", "status", At("job-seq")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "chunks: 4 done, 0 running, 0 pending, 0 failed") &&
                Contains(r.out, "frames per second so far"))
        << r.out;
    // Every task ended well, and both nodes took part.
    for (int c = 0; c < 4; ++c) {
        std::ifstream in(At("job-seq/chunks/" + std::to_string(c) + ".json"));
        const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        EXPECT_EQ(j.is_object() ? j.value("state", "") : "", "done") << "chunk " << c;
    }
    std::ifstream in(At("job-seq/job.json"));
    r = RunProgram({"squeue", "--noheader", "--array", "--states=all",
                    "--name=" + nlohmann::json::parse(in).value("name", ""), "--format=%N"});
    std::set<std::string> nodes;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        nodes.insert(line);
    EXPECT_TRUE(nodes.count("n1") && nodes.count("n2")) << r.out;
}

TEST_F(FarmCluster, VideoDecodesToTheFramesOfOneMachine) {
    RunResult r = RunOrvo(Key("key", "one.mov", {}, "in/plate.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunOrvo(
        Key("submit", "farm.mov", {"--job-dir", At("job-video"), "--chunk", "6"}, "in/plate.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = Wait("job-video");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string one = VideoFacts("one.mov");
    EXPECT_TRUE(Contains(one, "codec_name=aac")) << one;
    EXPECT_EQ(VideoFacts("farm.mov"), one);
    // The intermediate frames are gone once the video is complete.
    EXPECT_TRUE(fs::is_empty(At("job-video/frames")));
}

TEST_F(FarmCluster, KilledTaskLeavesNoDamagedFrameAndResumeFinishes) {
    RunResult r =
        RunOrvo(Key("submit", "kill/c.%04d.png", {"--job-dir", At("job-kill"), "--chunk", "12"}));
    ASSERT_EQ(r.status, 0) << r.err;
    // Kill the task of chunk 1 while it renders.
    int killed = 0;
    for (int i = 0; i < 600 && !killed; ++i) {
        std::ifstream in(At("job-kill/chunks/1.json"));
        const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        if (j.is_object() && j.value("state", "") == "running" && j.value("pid", 0) > 0 &&
            tooltest::Exists(FrameName("kill", 14)))
            ::kill(killed = j.value("pid", 0), SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(killed, 0) << "chunk 1 never ran";
    r = Wait("job-kill");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "failed chunk 1 (frames 13-24)")) << r.err;
    // No damaged frame: whatever is under a final name is whole.
    for (int n : Differing("kill"))
        EXPECT_FALSE(tooltest::Exists(FrameName("kill", n))) << "frame " << n << " damaged";
    r = RunOrvo({"farm", "resume", At("job-kill")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "submitted 1 tasks")) << r.out;
    r = Wait("job-kill");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing("kill"), std::vector<int>{});
}

} // namespace
