// `orvo farm` on a real two-node Slurm cluster on this machine (started and
// stopped by scripts/farm-cluster.sh around the test), compared with `orvo
// key` on one machine: a 24-frame sequence in two tasks, one killed
// mid-chunk, then resumed. The scheduler's commands, dry runs and the checks
// made before submitting are tested in this process (farm_flow_test.cpp).
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool/tool_support.h"

namespace fs = std::filesystem;
using namespace tooltest;

namespace {

const std::string kCluster = std::string(ORVO_SOURCE_DIR) + "/scripts/farm-cluster.sh";
const std::string kShared = std::string(ORVO_SOURCE_DIR) + "/../shared/data";

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

TEST(FarmCluster, KilledTaskLeavesNoDamagedFrameAndResumeGivesTheBytesOfOneMachine) {
    ScratchDir dir;
    // The cluster's munge daemon runs as its own user and must reach its folder.
    fs::permissions(dir.path(), fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
    RunResult r = RunProgram({kCluster, "start", dir / "cluster"});
    ASSERT_EQ(r.status, 0) << r.err;
    struct Stop {
        std::string at;
        ~Stop() { RunProgram({kCluster, "stop", at}); }
    } stop{dir / "cluster"};
    setenv("SLURM_CONF", (dir / "cluster/slurm.conf").c_str(), 1);
    // A 24-frame plate sequence at 320x180, keyed on one machine into one/.
    for (const char* sub : {"in", "one", "farm"})
        fs::create_directories(dir / sub);
    ASSERT_TRUE(Ffmpeg("-i " + kShared + "/seq-green-960x540/frame.%04d.png -vf scale=320:180 " +
                       dir / "in/plate.%04d.png"));
    ASSERT_TRUE(Ffmpeg("-i " + kShared + "/background-lake-sunset-1080p.jpg -vf scale=320:180 " +
                       dir / "in/sky.png"));
    auto key = [&](const std::string& out) {
        return std::vector<std::string>{
            "--fg",  dir / "in/plate.%04d.png", "--bg", dir / "in/sky.png", "-o", dir / out,
            "--set", "Chroma Color=58,192,82",  "-q"};
    };
    std::vector<std::string> args = key("one/c.%04d.png");
    args.insert(args.begin(), "key");
    ASSERT_EQ((r = RunOrvo(args)).status, 0) << r.err;
    // Each frame of farm/ against one/: '=' the same, '-' missing, 'x' damaged.
    auto compare = [&] {
        std::string out;
        for (int n = 1; n <= 24; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/c.%04d.png", n);
            const std::string farm = dir / "farm" + name, one = dir / "one" + name;
            out += !Exists(farm) ? '-' : ReadBytes(farm) == ReadBytes(one) ? '=' : 'x';
        }
        return out;
    };

    args = key("farm/c.%04d.png");
    args.insert(args.begin(), {"farm", "submit"});
    args.insert(args.end(), {"--job-dir", dir / "job", "--chunk", "12"});
    ASSERT_EQ((r = RunOrvo(args)).status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "submitted 2 tasks as job array")) << r.out;
    // Kill the task of chunk 1 while it renders.
    int killed = 0;
    for (int i = 0; i < 600 && !killed; ++i) {
        const nlohmann::json j = ReadJson(dir / "job/chunks/1.json");
        if (j.is_object() && j.value("state", "") == "running" && j.value("pid", 0) > 0 &&
            Exists(dir / "farm/c.0014.png"))
            ::kill(killed = j.value("pid", 0), SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(killed, 0) << "chunk 1 never ran";
    const std::vector<std::string> wait = {"farm", "wait", dir / "job", "--interval", "0.5"};
    r = RunOrvo(wait);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "failed chunk 1 (frames 13-24)")) << r.err;
    // No damaged frame: whatever is under a final name is whole.
    const std::string frames = compare();
    EXPECT_TRUE(Contains(frames, "-") && !Contains(frames, "x")) << frames;
    ASSERT_EQ((r = RunOrvo({"farm", "resume", dir / "job"})).status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "submitted 1 tasks")) << r.out;
    EXPECT_EQ((r = RunOrvo(wait)).status, 0) << r.out << r.err;
    EXPECT_EQ(compare(), std::string(24, '='));
    r = RunOrvo({"farm", "status", dir / "job"});
    EXPECT_TRUE(Contains(r.out, "chunks: 2 done, 0 running, 0 pending, 0 failed")) << r.out;
    // The scheduler spread the tasks: both nodes took part.
    const std::string name = ReadJson(dir / "job/job.json").value("name", "");
    r = RunProgram(
        {"squeue", "--noheader", "--array", "--states=all", "--name=" + name, "--format=%N"});
    EXPECT_TRUE(Contains(r.out, "n1") && Contains(r.out, "n2")) << r.out;
}

} // namespace
