// A shot through submit, tasks, assembly, status and resume in this process,
// with the real plug-in and a scheduler stand-in; and the Slurm engine's
// commands against stand-in sbatch, squeue and scancel programs.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "effect.h"
#include "errors.h"
#include "farm.h"
#include "farm_job.h"
#include "key.h"
#include "subprocess.h"
#include "tool/tool_support.h"

namespace fs = std::filesystem;
using namespace orvo;
using tooltest::Contains;
using tooltest::ReadBytes;
using tooltest::ScratchDir;
using tooltest::WriteBytes;

namespace {

// Submissions are remembered; the queue is whatever the test puts in it.
class FakeEngine : public FarmEngine {
  public:
    FarmSubmitResult Submit(const FarmJob&, const std::vector<int>& chunks, bool dryRun) override {
        FarmSubmitResult r;
        r.commands = {"submit"};
        if (dryRun) return r;
        submitted.push_back(chunks);
        if (!chunks.empty()) r.arrayId = std::to_string(next++);
        r.assemblyId = std::to_string(next++);
        return r;
    }
    std::vector<QueueEntry> Queue(const FarmJob&) override { return queue; }
    void Cancel(const std::vector<std::string>&) override {}
    std::string TaskLog(const FarmJob& job, const std::string& id, int chunk) const override {
        return job.Path("logs/" + id + "_" + std::to_string(chunk));
    }
    std::string AssemblyLog(const FarmJob& job, const std::string& id) const override {
        return job.Path("logs/" + id);
    }
    std::vector<std::vector<int>> submitted;
    std::vector<QueueEntry> queue;
    int next = 100;
};

constexpr int kW = 48, kH = 32, kFrames = 6;

std::string Numbered(const std::string& pattern, int n) {
    char name[64];
    std::snprintf(name, sizeof name, pattern.c_str(), n);
    return name;
}

class FarmFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ORVO_PLUGIN", ORVO_TEST_PLUGIN, 1);
        for (const char* sub : {"in", "one", "farm"})
            fs::create_directories(dir / sub);
        // A green backing whose shade drifts from frame to frame, so that
        // measuring the backing again on a later frame gives another colour.
        for (int n = 1; n <= kFrames; ++n) {
            orvo::Frame f = tooltest::GreenPlate(kW, kH, n % 5);
            for (size_t i = 0; i < f.px.size(); i += 4)
                if (f.px[i + 2] > 150)
                    f.px[i + 1] = uint8_t(40 + 12 * n), f.px[i + 3] = uint8_t(110 - 9 * n);
            tooltest::WritePng(dir / Numbered("in/plate.%04d.png", n), f, 3);
        }
        tooltest::WritePng(dir / "in/sky.png", tooltest::Solid(kW, kH, 200, 120, 60), 3);
        key.fg = dir / "in/plate.%04d.png";
        key.bg = dir / "in/sky.png";
        key.quiet = true; // no "Chroma Color": the first frame decides it for the whole shot
    }

    // `orvo key` on one machine into one/.
    void RenderOneMachine() {
        KeyOptions o = key;
        o.out = dir / "one/c.%04d.png";
        Effect effect(ORVO_TEST_PLUGIN);
        ASSERT_EQ(RunKey(o, effect), kExitOk);
    }
    FarmSubmitOptions Options() {
        FarmSubmitOptions s;
        s.key = key;
        s.key.out = dir / "farm/c.%04d.png";
        s.jobDir = jobDir;
        s.chunk = 2;
        s.orvo = "/usr/local/bin/orvo";
        return s;
    }
    void Submit() {
        Effect effect(ORVO_TEST_PLUGIN);
        ASSERT_EQ(FarmSubmit(Options(), effect, engine), kExitOk);
    }
    // What a node does for one task, in a fresh process's state.
    int Task(int chunk) {
        Effect effect(ORVO_TEST_PLUGIN);
        return FarmTask(jobDir, chunk, effect);
    }
    std::string Frame(const std::string& sub, int n) {
        return dir / Numbered(sub + "/c.%04d.png", n);
    }
    // Frames of farm/ that differ from one/.
    std::vector<int> Differing() {
        std::vector<int> out;
        for (int n = 1; n <= kFrames; ++n)
            if (ReadBytes(Frame("farm", n)) != ReadBytes(Frame("one", n))) out.push_back(n);
        return out;
    }
    std::string Status() {
        testing::internal::CaptureStdout();
        FarmStatus(jobDir, engine);
        return testing::internal::GetCapturedStdout();
    }

    ScratchDir dir;
    std::string jobDir = dir / "job";
    KeyOptions key;
    FakeEngine engine;
};

TEST_F(FarmFlow, ChunksRenderedApartGiveTheBytesOfOneRunAndAKilledTaskIsResumed) {
    RenderOneMachine();
    Submit();
    // The first frame was rendered at submit; chunk 0 still lacks frame 2.
    ASSERT_EQ(engine.submitted, (std::vector<std::vector<int>>{{0, 1, 2}}));
    EXPECT_TRUE(fs::exists(Frame("farm", 1)));
    EXPECT_FALSE(fs::exists(Frame("farm", 2)));
    EXPECT_TRUE(Contains(Status(), "chunks: 0 done, 0 running, 0 pending, 3 failed"))
        << "submitted, but gone from the queue without a trace";
    // Tasks in any order, each in a fresh effect.
    for (int c : {2, 0, 1})
        EXPECT_EQ(Task(c), kExitOk) << "chunk " << c;

    // Chunk 1 (frames 3, 4) as a task killed after frame 3 leaves it: frame 4
    // never published, the attempt still marked running.
    FarmJob job = LoadJob(jobDir);
    fs::remove(Frame("farm", 4));
    fs::remove(RecordPath(job, 4));
    ChunkAttempt killed;
    killed.state = "running";
    WriteAttempt(job, 1, killed);
    const auto frame3Time = fs::last_write_time(Frame("farm", 3));
    // What the killed task was writing stays under a temporary name, until the assembly.
    WriteBytes(dir / "farm/.c.0004.orvo-tmp-4242-0.png", "half a frame");
    WriteBytes(dir / "farm/.notes.orvo-tmp-4242-1.txt", "not the job's");
    std::string status = Status();
    for (const std::string& part :
         {std::string("chunks: 2 done, 0 running, 0 pending, 1 failed"),
          std::string("failed chunk 1 (frames 3-4): the task stopped after 1 of 2 frames"),
          job.Path("logs/100_1")})
        EXPECT_TRUE(Contains(status, part)) << status;
    EXPECT_TRUE(Contains(tooltest::Thrown([&] { FarmAssemble(jobDir); }).second, "chunks 1:"))
        << "assembled with a frame missing";
    testing::internal::CaptureStderr();
    EXPECT_EQ(FarmWait(jobDir, engine, 0.05), kExitFailure);
    const std::string waited = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(waited, "chunks 1 failed")) << waited;

    // Resume refuses while the job still runs, then submits chunk 1 alone.
    engine.queue = {QueueEntry{"101", -1, QueuePhase::kRunning, "RUNNING", "n1", ""}};
    EXPECT_THROW(FarmResume(jobDir, engine, false), ToolError);
    engine.queue.clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(FarmResume(jobDir, engine, false), kExitOk);
    ASSERT_EQ(engine.submitted.size(), 2u);
    EXPECT_EQ(engine.submitted[1], std::vector<int>{1});
    EXPECT_EQ(Task(1), kExitOk);
    EXPECT_EQ(fs::last_write_time(Frame("farm", 3)), frame3Time) << "frame 3 rendered again";
    EXPECT_EQ(FarmAssemble(jobDir), kExitOk);
    EXPECT_EQ(Differing(), std::vector<int>{});
    EXPECT_FALSE(fs::exists(dir / "farm/.c.0004.orvo-tmp-4242-0.png"));
    EXPECT_TRUE(fs::exists(dir / "farm/.notes.orvo-tmp-4242-1.txt"));
    EXPECT_EQ(FarmWait(jobDir, engine, 0.05), kExitOk);
    EXPECT_EQ(FarmResume(jobDir, engine, false), kExitOk); // complete: nothing to submit
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(engine.submitted.size(), 2u);
    status = Status();
    EXPECT_TRUE(Contains(status, "chunks: 3 done") && Contains(status, "assembly: done")) << status;

    // The tasks depend on the sequence record kept from the first frame: a
    // chunk started from the record as set-up leaves it measures again and
    // gives other bytes (this is what the comparisons above guard).
    job = LoadJob(jobDir);
    const std::vector<uint8_t> setUp(job.record.size(), 0);
    ASSERT_NE(job.record, setUp);
    job.record = setUp;
    SaveJob(job);
    fs::remove(RecordPath(job, 5));
    fs::remove(RecordPath(job, 6));
    EXPECT_EQ(Task(2), kExitOk);
    EXPECT_EQ(Differing(), (std::vector<int>{5, 6}));
    Effect effect(ORVO_TEST_PLUGIN);
    EXPECT_THROW(effect.SetSequenceRecord({1, 2, 3}), ToolError); // not the effect's size
}

TEST_F(FarmFlow, AFrameTheEffectRefusesFailsItsChunkWithTheMessage) {
    // A background sequence whose frame 4 is shorter, kept as it is: the
    // effect reports its size message on that frame.
    for (int n = 1; n <= kFrames; ++n)
        tooltest::WritePng(dir / Numbered("in/sky.%04d.png", n),
                           tooltest::Solid(kW, n == 4 ? kH - 2 : kH, 200, 120, 60), 3);
    key.bg = dir / "in/sky.%04d.png";
    key.bgFit = "none";
    Submit();
    EXPECT_EQ(Task(0), kExitOk);
    EXPECT_EQ(tooltest::Thrown([&] { Task(1); }).first, kExitEffect);
    const std::string status = Status();
    EXPECT_TRUE(Contains(status, "failed chunk 1 (frames 3-4) at frame 4: frame 4: the effect "
                                 "reports: FG, BG and optional KeyIn must have the same size!"))
        << status;
    EXPECT_TRUE(fs::exists(Frame("farm", 3)));
    EXPECT_FALSE(fs::exists(Frame("farm", 4)));
    EXPECT_THROW(FarmAssemble(jobDir), ToolError);
}

// The checks orvo key makes (key_test.cpp) run first, as for the missing
// background; the others are the farm's own.
TEST_F(FarmFlow, SubmitChecksBeforeWritingAnything) {
    const struct {
        std::function<void(FarmSubmitOptions&)> change;
        const char* says;
    } cases[] = {
        {[&](FarmSubmitOptions& s) { s.key.bg = dir / "in/none.png"; }, "none.png"},
        {[&](FarmSubmitOptions& s) { s.key.fg = dir / "in/sky.png"; }, "is a still"},
        {[&](FarmSubmitOptions& s) { s.key.out = dir / "c.png"; }, "is one image"},
        {[](FarmSubmitOptions& s) { s.chunk = -3; }, "--chunk"},
        {[&](FarmSubmitOptions& s) { s.key.out = dir / "in/plate.%04d.png"; }, "is an input"},
    };
    for (const auto& c : cases) {
        FarmSubmitOptions s = Options();
        c.change(s);
        Effect effect(ORVO_TEST_PLUGIN);
        const auto [code, what] = tooltest::Thrown([&] { FarmSubmit(s, effect, engine); });
        EXPECT_EQ(code, kExitUsage) << c.says;
        EXPECT_TRUE(Contains(what, c.says)) << what;
        EXPECT_FALSE(fs::exists(jobDir)) << c.says << ": a job folder was left";
    }
    EXPECT_TRUE(engine.submitted.empty());
    // A dry run writes the job folder, renders nothing and submits nothing.
    FarmSubmitOptions s = Options();
    s.dryRun = true;
    testing::internal::CaptureStdout();
    Effect effect(ORVO_TEST_PLUGIN);
    EXPECT_EQ(FarmSubmit(s, effect, engine), kExitOk);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStdout(), "submit"));
    EXPECT_TRUE(fs::is_empty(dir / "farm") && engine.submitted.empty());
    EXPECT_TRUE(Contains(Status(), "3 not submitted"));
}

// Stand-in sbatch, squeue and scancel: they log their arguments and answer
// from files, so the Slurm engine runs its real commands.
class SlurmCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir / "bin");
        const std::string log = dir / "sbatch.log";
        Script("sbatch", "echo \"$*\" >> '" + log + "'\nn=$(wc -l < '" + log +
                             "')\n[ \"$n\" = \"${FAIL_AT:-0}\" ] && { echo 'sbatch: error: "
                             "Batch job submission failed: Invalid partition' >&2; exit 1; }\n"
                             "echo \"$((700 + n));cluster\"\n");
        Script("squeue",
               "echo \"$*\" > '" + (dir / "squeue.log") + "'\ncat '" + (dir / "queue.txt") + "'\n");
        Script("scancel", "echo \"$*\" >> '" + (dir / "scancel.log") + "'\n");
        Script("orvo", "printf '%s|' \"$@\"\n");
        setenv("PATH", (dir.path() + "/bin:" + oldPath).c_str(), 1);
        job.dir = dir / "job 'one'";
        job.name = "orvo-shot-abc123";
        job.orvo = dir / "bin/orvo";
        job.partition = "night";
        job.sbatch = {"--mem=2G"};
        job.chunks = SplitChunks({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 2);
        fs::create_directories(job.Path("scripts"));
    }
    void TearDown() override { setenv("PATH", oldPath.c_str(), 1); }
    void Script(const std::string& name, const std::string& body) {
        WriteBytes(dir / ("bin/" + name), "#!/bin/sh\n" + body);
        fs::permissions(dir / ("bin/" + name), fs::perms::owner_all);
    }
    std::vector<std::string> Lines(const std::string& name) {
        std::ifstream in(dir / name);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    ScratchDir dir;
    const std::string oldPath = std::getenv("PATH");
    FarmJob job;
    std::unique_ptr<FarmEngine> engine = MakeSlurmEngine();
};

TEST_F(SlurmCommands, ArrayOfChunksThenAnAssemblyAfterAllOfThem) {
    // A dry run prints what a shell runs, even for a folder with a quote in its name.
    FarmSubmitResult r = engine->Submit(job, {0, 1, 3, 4, 5}, true);
    EXPECT_FALSE(fs::exists(dir / "sbatch.log"));
    ASSERT_EQ(r.commands.size(), 2u);
    const std::string shell =
        tooltest::RunProgram({"sh", "-c", "printf '%s|' " + r.commands[0].substr(7)}).out;
    EXPECT_TRUE(Contains(shell, "|--array=0-1,3-5|--output=" + job.dir + "/logs/task-%A_%a.log|"))
        << shell;
    EXPECT_TRUE(Contains(r.commands[1], "'--dependency=afterany:<array job id>'"));
    r = engine->Submit(job, {0, 1, 2, 5}, false);
    EXPECT_EQ(r.arrayId, "701");
    EXPECT_EQ(r.assemblyId, "702");
    const std::vector<std::string> calls = Lines("sbatch.log");
    ASSERT_EQ(calls.size(), 2u);
    const std::string common = "--parsable --job-name=orvo-shot-abc123 --chdir=" + job.dir +
                               " --partition=night --mem=2G ";
    EXPECT_EQ(calls[0], common + "--array=0-2,5 --output=" + job.dir + "/logs/task-%A_%a.log " +
                            job.dir + "/scripts/task.sh");
    EXPECT_EQ(calls[1], common + "--dependency=afterany:701 --output=" + job.dir +
                            "/logs/assembly-%j.log " + job.dir + "/scripts/assemble.sh");
    // The scripts run the tool with the folder intact, however it is spelt.
    setenv("SLURM_ARRAY_TASK_ID", "5", 1);
    tooltest::RunResult run = tooltest::RunProgram({"sh", job.Path("scripts/task.sh")});
    EXPECT_EQ(run.out, "farm|task|" + job.dir + "|5|") << run.err;
    unsetenv("SLURM_ARRAY_TASK_ID");
    run = tooltest::RunProgram({"sh", job.Path("scripts/assemble.sh")});
    EXPECT_EQ(run.out, "farm|assemble|" + job.dir + "|") << run.err;
    // Only the assembly when every chunk is complete.
    r = engine->Submit(job, {}, false);
    EXPECT_EQ(r.arrayId, "");
    EXPECT_FALSE(Contains(Lines("sbatch.log").back(), "--dependency"));
    // A refused assembly cancels the array it was to follow.
    setenv("FAIL_AT", "5", 1);
    EXPECT_TRUE(Contains(tooltest::Thrown([&] {
                             engine->Submit(job, {0, 1}, false);
                         }).second,
                         "Invalid partition"));
    unsetenv("FAIL_AT");
    EXPECT_EQ(Lines("scancel.log"), std::vector<std::string>{"704"});
}

TEST_F(SlurmCommands, QueueLinesBecomeEntries) {
    WriteBytes(dir / "queue.txt", "701_0|COMPLETED|n1|None\n701_1|RUNNING|n2|None\n"
                                  "701_[2-5]|PENDING||Resources\n701_2|PENDING||Resources\n"
                                  "701_3|NODE_FAIL|n1|None\n701_4|CANCELLED||None\n"
                                  "702|PENDING||Dependency\ngarbage\n");
    std::string got; // job_index phase (0 pending, 1 running, 2 completed, 3 failed) state node
    for (const QueueEntry& e : engine->Queue(job))
        got += e.jobId + "_" + std::to_string(e.arrayIndex) + " " + std::to_string(int(e.phase)) +
               " " + e.state + " " + e.node + "\n";
    EXPECT_EQ(got, "701_0 2 COMPLETED n1\n701_1 1 RUNNING n2\n701_2 0 PENDING \n"
                   "701_3 3 NODE_FAIL n1\n701_4 3 CANCELLED \n702_-1 0 PENDING \n");
    EXPECT_TRUE(Contains(Lines("squeue.log").at(0), "--name=orvo-shot-abc123"));
    fs::remove(dir / "bin/squeue");
    EXPECT_THROW(engine->Queue(job), ToolError); // no scheduler to ask
}

} // namespace
