// A shot through submit, tasks, assembly, status and resume in this process,
// with the real plug-in and a scheduler stand-in; and the Slurm engine's
// queue reading and refusals against stand-in squeue, sbatch and scancel.
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "farm.h"
#include "farm_engine.h"
#include "farm_job.h"
#include "tool/tool_support.h"

namespace fs = std::filesystem;
using namespace orvo;
using namespace tooltest;

namespace {

// Submissions are remembered; the queue is whatever the test puts in it.
class FakeEngine : public FarmEngine {
  public:
    FarmSubmitResult Submit(const FarmJob&, const std::vector<int>& chunks, bool dryRun) override {
        if (!dryRun) submitted.push_back(chunks);
        return {"100", "101", {"submit"}};
    }
    std::vector<QueueEntry> Queue(const FarmJob&) override { return queue; }
    void Cancel(const std::vector<std::string>&) override {}
    std::string TaskLog(const FarmJob&, const std::string&, int) const override { return ""; }
    std::string AssemblyLog(const FarmJob&, const std::string&) const override { return ""; }
    std::vector<std::vector<int>> submitted;
    std::vector<QueueEntry> queue;
};

std::string Numbered(const std::string& pattern, int n) {
    char name[64];
    std::snprintf(name, sizeof name, pattern.c_str(), n);
    return name;
}

// Six 48x32 frames of a green backing whose shade drifts from frame to frame,
// so that a task measuring the backing again on its first frame gives other
// bytes than one run measuring it once; no "Chroma Color" set.
class FarmFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ORVO_PLUGIN", ORVO_TEST_PLUGIN, 1);
        for (const char* sub : {"in", "one", "farm"})
            fs::create_directories(dir / sub);
        for (int n = 1; n <= 6; ++n) {
            orvo::Frame f = GreenPlate(48, 32, n % 5);
            for (size_t i = 0; i < f.px.size(); i += 4)
                if (f.px[i + 2] > 150)
                    f.px[i + 1] = uint8_t(40 + 12 * n), f.px[i + 3] = uint8_t(110 - 9 * n);
            WritePng(dir / Numbered("in/plate.%04d.png", n), f, 3);
        }
        WritePng(dir / "in/sky.png", Solid(48, 32, 200, 120, 60), 3);
        options.key.fg = dir / "in/plate.%04d.png";
        options.key.bg = dir / "in/sky.png";
        options.key.out = dir / "farm/c.%04d.png";
        options.key.quiet = true;
        options.jobDir = dir / "job";
        options.chunk = 2;
        options.orvo = "/usr/local/bin/orvo";
    }
    int Submit(const FarmSubmitOptions& o) {
        Effect effect(ORVO_TEST_PLUGIN);
        return FarmSubmit(o, effect, engine);
    }
    int Task(int chunk) { // what a node does, in a fresh process's state
        Effect effect(ORVO_TEST_PLUGIN);
        return FarmTask(options.jobDir, chunk, effect);
    }
    std::string Status() {
        testing::internal::CaptureStdout();
        FarmStatus(options.jobDir, engine);
        return testing::internal::GetCapturedStdout();
    }

    ScratchDir dir;
    FarmSubmitOptions options;
    FakeEngine engine;
};

TEST_F(FarmFlow, ChunksRenderedApartInAnyOrderGiveTheBytesOfOneRun) {
    KeyOptions one = options.key;
    one.out = dir / "one/c.%04d.png";
    Effect effect(ORVO_TEST_PLUGIN);
    ASSERT_EQ(RunKey(one, effect), kExitOk);
    ASSERT_EQ(Submit(options), kExitOk);
    ASSERT_EQ(engine.submitted, (std::vector<std::vector<int>>{{0, 1, 2}}));
    EXPECT_TRUE(Contains(Status(), "chunks: 0 done, 0 running, 0 pending, 3 failed"))
        << "submitted, but gone from the queue without a trace";
    for (int c : {2, 0, 1})
        EXPECT_EQ(Task(c), kExitOk) << "chunk " << c;
    // Resume refuses while the job still runs; complete, it submits nothing.
    engine.queue = {QueueEntry{"100", 1, QueuePhase::kRunning, "RUNNING", "n1", ""}};
    EXPECT_THROW(FarmResume(options.jobDir, engine, false), ToolError);
    engine.queue.clear();
    EXPECT_EQ(FarmAssemble(options.jobDir), kExitOk);
    EXPECT_EQ(FarmResume(options.jobDir, engine, false) + engine.submitted.size(), 1u);
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(ReadBytes(dir / Numbered("farm/c.%04d.png", n)),
                  ReadBytes(dir / Numbered("one/c.%04d.png", n)))
            << "frame " << n;
    EXPECT_TRUE(Contains(Status(), "assembly: done"));
}

TEST_F(FarmFlow, AFrameTheEffectRefusesFailsItsChunkWithTheMessage) {
    // A background sequence whose frame 4 is shorter, kept as it is.
    for (int n = 1; n <= 6; ++n)
        WritePng(dir / Numbered("in/sky.%04d.png", n), Solid(48, n == 4 ? 30 : 32, 200, 120, 60),
                 3);
    options.key.bg = dir / "in/sky.%04d.png";
    options.key.bgFit = "none";
    ASSERT_EQ(Submit(options), kExitOk);
    EXPECT_EQ(Task(0), kExitOk);
    EXPECT_EQ(Thrown([&] { Task(1); }).first, kExitEffect);
    EXPECT_TRUE(Contains(Status(), "failed chunk 1 (frames 3-4) at frame 4: frame 4: the effect "
                                   "reports: FG, BG and optional KeyIn must have the same size!"));
    EXPECT_TRUE(Exists(dir / "farm/c.0003.png") && !Exists(dir / "farm/c.0004.png"));
    EXPECT_THROW(FarmAssemble(options.jobDir), ToolError);
}

// The checks orvo key makes (key_test.cpp) come first, as for the missing
// background; the others are the farm's own. A dry run writes the job folder
// and nothing else.
TEST_F(FarmFlow, SubmitChecksBeforeWritingAnything) {
    const std::pair<std::function<void(FarmSubmitOptions&)>, const char*> cases[] = {
        {[&](FarmSubmitOptions& s) { s.key.bg = dir / "in/none.png"; }, "none.png"},
        {[&](FarmSubmitOptions& s) { s.key.fg = dir / "in/sky.png"; }, "is a still"},
        {[](FarmSubmitOptions& s) { s.chunk = -3; }, "--chunk"},
        {[&](FarmSubmitOptions& s) { s.key.out = dir / "in/plate.%04d.png"; }, "is an input"},
    };
    for (const auto& [change, says] : cases) {
        FarmSubmitOptions s = options;
        change(s);
        const auto [code, what] = Thrown([&] { Submit(s); });
        EXPECT_TRUE(code == kExitUsage && Contains(what, says)) << code << " " << what;
        EXPECT_FALSE(fs::exists(options.jobDir)) << says << ": a job folder was left";
    }
    options.dryRun = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Submit(options), kExitOk);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStdout(), "submit"));
    EXPECT_TRUE(fs::is_empty(dir / "farm") && engine.submitted.empty());
    EXPECT_TRUE(Contains(Status(), "3 not submitted"));
}

// Stand-in sbatch (refusing its second call), squeue and scancel.
TEST(SlurmCommands, QueueLinesBecomeEntriesAndARefusedAssemblyCancelsItsArray) {
    ScratchDir dir;
    fs::create_directories(dir / "bin");
    const std::pair<const char*, std::string> scripts[] = {
        {"sbatch", "echo >> '" + dir / "calls" + "'; [ $(wc -l < '" + dir / "calls" +
                       "') = 2 ] && " +
                       "{ echo 'sbatch: error: Invalid partition' >&2; exit 1; }; echo 701\n"},
        {"squeue", "cat '" + dir / "queue.txt" + "'\n"},
        {"scancel", "echo \"$*\" >> '" + dir / "scancel.log" + "'\n"}};
    for (const auto& [name, body] : scripts) {
        WriteBytes(dir / ("bin/" + std::string(name)), "#!/bin/sh\n" + body);
        fs::permissions(dir / ("bin/" + std::string(name)), fs::perms::owner_all);
    }
    const std::string path = std::getenv("PATH");
    setenv("PATH", (dir / "bin:" + path).c_str(), 1);
    FarmJob job;
    job.dir = dir.path();
    job.chunks = SplitChunks({1, 2, 3, 4}, 2);
    fs::create_directories(job.Path("scripts"));
    std::unique_ptr<FarmEngine> engine = MakeSlurmEngine();
    EXPECT_TRUE(Contains(Thrown([&] {
                             engine->Submit(job, {0, 1}, false);
                         }).second,
                         "Invalid partition"));
    EXPECT_EQ(ReadBytes(dir / "scancel.log"), "701\n");
    WriteBytes(dir / "queue.txt", "701_1|RUNNING|n2|None\n701_[2-5]|PENDING||Resources\n"
                                  "701_3|NODE_FAIL|n1|None\n702|PENDING||Dependency\ngarbage\n");
    std::string got; // job_index phase (0 pending, 1 running, 2 completed, 3 failed) state node
    for (const QueueEntry& e : engine->Queue(job))
        got += e.jobId + "_" + std::to_string(e.arrayIndex) + " " + std::to_string(int(e.phase)) +
               " " + e.state + " " + e.node + "\n";
    EXPECT_EQ(got, "701_1 1 RUNNING n2\n701_3 3 NODE_FAIL n1\n702_-1 0 PENDING \n");
    fs::remove(dir / "bin/squeue");
    EXPECT_THROW(engine->Queue(job), ToolError); // no scheduler to ask
    setenv("PATH", path.c_str(), 1);
}

} // namespace
