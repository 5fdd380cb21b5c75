// `orvo farm` on a real two-node Slurm cluster on this machine (started and
// stopped by scripts/farm-cluster.sh around the suite), compared with
// `orvo key` on one machine: a 24-frame sequence, a video, a task killed
// mid-chunk then resumed, and a dry run.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "subprocess.h"
#include "tool/tool_support.h"

namespace fs = std::filesystem;
using tooltest::ReadBytes;
using tooltest::RunOrvo;
using tooltest::RunResult;

namespace {

constexpr int kFrames = 24;
const std::string kShared = std::string(ORVO_SOURCE_DIR) + "/../shared/data";

RunResult RunProgram(const std::vector<std::string>& argv) {
    RunResult r;
    r.status = orvo::RunCapture(argv, &r.out, &r.err);
    return r;
}

class FarmCluster : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch = new tooltest::ScratchDir();
        const std::string cluster = *scratch / "cluster";
        // The cluster's munge daemon runs as its own user and must reach its folder.
        fs::permissions(scratch->path(), fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
        RunResult r = RunProgram(
            {std::string(ORVO_SOURCE_DIR) + "/scripts/farm-cluster.sh", "start", cluster});
        started = r.status == 0;
        ASSERT_TRUE(started) << r.err;
        setenv("SLURM_CONF", (cluster + "/slurm.conf").c_str(), 1);

        // A 24-frame plate sequence and a 12-frame video of it with sound, at 320x180.
        fs::create_directories(*scratch / "in");
        r = RunProgram({"ffmpeg", "-v", "error", "-i",
                        kShared + "/seq-green-960x540/frame.%04d.png", "-vf", "scale=320:180",
                        *scratch / "in/plate.%04d.png"});
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunProgram({"ffmpeg", "-v", "error", "-i",
                        kShared + "/background-lake-sunset-1080p.jpg", "-vf", "scale=320:180",
                        *scratch / "in/sky.png"});
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunProgram({"ffmpeg",
                        "-v",
                        "error",
                        "-framerate",
                        "24",
                        "-i",
                        *scratch / "in/plate.%04d.png",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=frequency=440:duration=0.5",
                        "-frames:v",
                        "12",
                        "-c:v",
                        "libx264",
                        "-pix_fmt",
                        "yuv420p",
                        "-color_primaries",
                        "bt709",
                        "-color_trc",
                        "bt709",
                        "-colorspace",
                        "bt709",
                        "-c:a",
                        "aac",
                        "-shortest",
                        *scratch / "in/plate.mp4"});
        ASSERT_EQ(r.status, 0) << r.err;

        fs::create_directories(*scratch / "one");
        r = RunOrvo(Key("one/c.%04d.png"));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() {
        if (scratch) {
            RunProgram({std::string(ORVO_SOURCE_DIR) + "/scripts/farm-cluster.sh", "stop",
                        *scratch / "cluster"});
            delete scratch;
            scratch = nullptr;
        }
    }
    void SetUp() override {
        if (!started) GTEST_SKIP() << "no cluster";
    }

    // `orvo key` options of the shot, writing `out` (under the scratch folder).
    static std::vector<std::string> Key(const std::string& out, const std::string& cmd = "key",
                                        const std::string& fg = "in/plate.%04d.png") {
        std::vector<std::string> args = {
            "--fg",   *scratch / fg,  "--bg",  *scratch / "in/sky.png",
            "-o",     *scratch / out, "--set", "Chroma Color=58,192,82",
            "--show", "Composite",    "-q"};
        if (cmd == "key")
            args.insert(args.begin(), "key");
        else
            args.insert(args.begin(), {"farm", "submit"});
        return args;
    }

    static std::string FrameName(const std::string& dir, int n) {
        char name[32];
        std::snprintf(name, sizeof name, "/c.%04d.png", n);
        return *scratch / (dir + name);
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

    static std::string FrameMd5(const std::string& video) {
        RunResult r = RunProgram(
            {"ffmpeg", "-v", "error", "-i", video, "-map", "0:v", "-f", "framemd5", "-"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string kept;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != '#') kept += line + "\n";
        return kept;
    }

    static std::string Streams(const std::string& video) {
        RunResult r = RunProgram({"ffprobe", "-v", "error", "-show_entries",
                                  "stream=codec_type,codec_name,r_frame_rate,color_space,"
                                  "color_primaries,sample_rate:format_tags",
                                  "-of", "compact", video});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    static tooltest::ScratchDir* scratch;
    static bool started;
};

tooltest::ScratchDir* FarmCluster::scratch = nullptr;
bool FarmCluster::started = false;

TEST_F(FarmCluster, SequenceIsByteIdenticalToOneMachine) {
    fs::create_directories(*scratch / "seq");
    std::vector<std::string> submit = Key("seq/c.%04d.png", "submit");
    submit.insert(submit.end(), {"--job-dir", *scratch / "job-seq", "--chunk", "6"});
    RunResult r = RunOrvo(submit);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("submitted 4 tasks as job array"), std::string::npos) << r.out;
    r = RunOrvo({"farm", "wait", *scratch / "job-seq", "--interval", "0.5"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing("seq"), std::vector<int>{});
    r = RunOrvo({"farm", "status", *scratch / "job-seq"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("chunks: 4 done, 0 running, 0 pending, 0 failed"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("frames per second so far"), std::string::npos) << r.out;
    // Every task ended well, and both nodes took part.
    for (int c = 0; c < 4; ++c) {
        std::ifstream in(*scratch / ("job-seq/chunks/" + std::to_string(c) + ".json"));
        nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        EXPECT_EQ(j.is_object() ? j.value("state", "") : "", "done") << "chunk " << c;
    }
    std::ifstream in(*scratch / "job-seq/job.json");
    const std::string name = nlohmann::json::parse(in).value("name", "");
    r = RunProgram(
        {"squeue", "--noheader", "--array", "--states=all", "--name=" + name, "--format=%N"});
    std::set<std::string> nodes;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        nodes.insert(line);
    EXPECT_TRUE(nodes.count("n1") && nodes.count("n2")) << r.out;
}

TEST_F(FarmCluster, VideoDecodesToTheFramesOfOneMachine) {
    RunResult r = RunOrvo(Key("one.mov", "key", "in/plate.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> submit = Key("farm.mov", "submit", "in/plate.mp4");
    submit.insert(submit.end(), {"--job-dir", *scratch / "job-video", "--chunk", "6"});
    r = RunOrvo(submit);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunOrvo({"farm", "wait", *scratch / "job-video", "--interval", "0.5"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string one = FrameMd5(*scratch / "one.mov");
    EXPECT_FALSE(one.empty());
    EXPECT_EQ(FrameMd5(*scratch / "farm.mov"), one);
    EXPECT_EQ(Streams(*scratch / "farm.mov"), Streams(*scratch / "one.mov"));
    // The intermediate frames are gone once the video is complete.
    EXPECT_TRUE(fs::is_empty(*scratch / "job-video/frames"));
}

TEST_F(FarmCluster, KilledTaskLeavesNoDamagedFrameAndResumeFinishes) {
    fs::create_directories(*scratch / "kill");
    std::vector<std::string> submit = Key("kill/c.%04d.png", "submit");
    const std::string job = *scratch / "job-kill";
    submit.insert(submit.end(), {"--job-dir", job, "--chunk", "12"});
    RunResult r = RunOrvo(submit);
    ASSERT_EQ(r.status, 0) << r.err;

    // Kill the task of chunk 1 while it renders.
    int killed = 0;
    for (int i = 0; i < 600 && !killed; ++i) {
        std::ifstream in(job + "/chunks/1.json");
        nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        if (j.is_object() && j.value("state", "") == "running" && j.value("pid", 0) > 0 &&
            tooltest::Exists(FrameName("kill", 14))) {
            killed = j.value("pid", 0);
            ::kill(killed, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(killed, 0) << "chunk 1 never ran";
    r = RunOrvo({"farm", "wait", job, "--interval", "0.5"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("failed chunk 1 (frames 13-24)"), std::string::npos) << r.err;
    // No damaged frame: whatever is under a final name is whole.
    for (int n : Differing("kill"))
        EXPECT_FALSE(tooltest::Exists(FrameName("kill", n))) << "frame " << n << " damaged";

    r = RunOrvo({"farm", "resume", job});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("submitted 1 tasks"), std::string::npos) << r.out;
    r = RunOrvo({"farm", "wait", job, "--interval", "0.5"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing("kill"), std::vector<int>{});
}

TEST_F(FarmCluster, DryRunWritesTheJobAndSubmitsNothing) {
    std::vector<std::string> submit = Key("dry/c.%04d.png", "submit");
    const std::string job = *scratch / "job-dry";
    fs::create_directories(*scratch / "dry");
    submit.insert(submit.end(), {"--job-dir", job, "--dry-run", "--sbatch=--mem=1G"});
    RunResult r = RunOrvo(submit);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("sbatch --parsable"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--array=0-5 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--mem=1G"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(*scratch / "dry")) << "a dry run rendered into the output";
    EXPECT_TRUE(tooltest::Exists(job + "/scripts/task.sh"));
    r = RunOrvo({"farm", "status", job});
    EXPECT_NE(r.out.find("6 not submitted"), std::string::npos) << r.out;
    r = RunProgram({"squeue", "--noheader", "--states=all", "--format=%j"});
    EXPECT_EQ(r.out.find("job-dry"), std::string::npos) << r.out;
}

TEST_F(FarmCluster, BadInputFailsAsOrvoKeyDoesBeforeAnySubmission) {
    std::vector<std::string> key = Key("bad/c.%04d.png");
    std::vector<std::string> submit = Key("bad/c.%04d.png", "submit");
    for (auto* args : {&key, &submit})
        for (std::string& a : *args)
            if (a == *scratch / "in/sky.png") a = *scratch / "in/missing.png";
    submit.insert(submit.end(), {"--job-dir", *scratch / "job-bad"});
    fs::create_directories(*scratch / "bad");
    const RunResult k = RunOrvo(key), s = RunOrvo(submit);
    EXPECT_EQ(k.status, 2);
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.err, k.err);
    EXPECT_FALSE(fs::exists(*scratch / "job-bad"));
}

} // namespace
