// The farm's bookkeeping: chunks, the job description, per-frame records and
// how a chunk's state follows from records and queue.
#include <filesystem>
#include <functional>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "errors.h"
#include "farm_job.h"
#include "tool/tool_support.h"

using namespace orvo;
using tooltest::Contains;

namespace {

std::string Chunks(const std::vector<FarmChunk>& chunks) {
    std::string s;
    for (const FarmChunk& c : chunks)
        s += (s.empty() ? "" : " ") + std::to_string(c.first) + "-" + std::to_string(c.last);
    return s;
}

TEST(FarmChunks, SplitByCountNeverAcrossAGapEveryFrameOnce) {
    const struct {
        std::vector<int> frames;
        int size;
        const char* expected;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 4, "1-4 5-8 9-10"},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 4, "1-4 5-8"},
        {{1, 2, 3}, 10, "1-3"},
        {{7}, 4, "7-7"},
        {{1, 2, 3, 5, 6, 9}, 4, "1-3 5-6 9-9"}, // gaps in a sequence on disk
        {{1, 2, 3, 4, 5, 6}, 1, "1-1 2-2 3-3 4-4 5-5 6-6"},
        {{}, 4, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Chunks(SplitChunks(c.frames, c.size)), c.expected) << "size " << c.size;
    // A long shot with gaps: every frame in exactly one chunk, none too long.
    std::vector<int> frames;
    for (int n = 1; n <= 997; ++n)
        if (n % 37 != 0) frames.push_back(n * 2 > 900 ? n + 50 : n);
    for (int size : {1, 3, 4, 16, 100, 2000}) {
        std::vector<int> seen;
        for (const FarmChunk& c : SplitChunks(frames, size)) {
            EXPECT_LE(c.count(), size);
            for (int n = c.first; n <= c.last; ++n)
                seen.push_back(n);
        }
        EXPECT_EQ(seen, frames) << "size " << size;
    }
    const std::pair<int, int> sizes[] = {{1, 1},  {3, 3},   {4, 4},     {24, 4},
                                         {48, 4}, {400, 4}, {1000, 10}, {10000, 100}};
    for (const auto& [count, size] : sizes)
        EXPECT_EQ(DefaultChunkSize(count), size) << count << " frames";
}

FarmJob SampleJob(const std::string& dir) {
    FarmJob job;
    job.dir = dir;
    job.name = "orvo-shot-abc123";
    job.key.fg = "/shots/plate.%04d.png";
    job.key.bg = "/shots/sky.jpg";
    job.key.out = job.output = "/out/comp.mov";
    job.key.sets = {"Chroma Color=58,192,82", "Transp. Strength=120"};
    job.key.draft = true;
    job.key.resolution = "half";
    job.video = true;
    job.target = dir + "/frames/frame.%08d.png";
    job.rate = "24000/1001";
    job.frames = {1, 2, 3, 5, 6};
    job.chunks = SplitChunks(job.frames, 2);
    job.record = {0, 0, 0, 0, 0, 0, 0, 0, 82, 192, 58, 79, 190, 61, 0, 255};
    job.orvo = "/opt/orvo/bin/orvo";
    job.partition = "render";
    job.sbatch = {"--mem=4G", "--qos=night"};
    job.submissions = {{1.5e9, "41", "42", {0, 1, 2}}, {1.5e9 + 60, "50", "51", {1}}};
    return job;
}

TEST(FarmJobDescription, RoundTripsEveryFieldThroughTheFolderAndRefusesDamage) {
    const FarmJob a = SampleJob("/jobs/shot");
    const nlohmann::json good = JobToJson(a);
    const FarmJob b = JobFromJson(nlohmann::json::parse(good.dump()), "job.json");
    auto fields = [](const FarmJob& j) {
        return std::tie(j.name, j.key.fg, j.key.bg, j.key.sets, j.key.draft, j.key.resolution,
                        j.output, j.video, j.target, j.rate, j.frames, j.record, j.orvo,
                        j.partition, j.sbatch);
    };
    EXPECT_TRUE(fields(a) == fields(b));
    EXPECT_EQ(Chunks(b.chunks), "1-2 3-3 5-6");
    ASSERT_EQ(b.submissions.size(), 2u);
    EXPECT_EQ(b.submissions[1].assemblyId, "51");
    // The chunk's latest submission is the one that counts.
    EXPECT_EQ(b.LastSubmissionOf(1)->arrayId, "50");
    EXPECT_EQ(b.LastSubmissionOf(2)->arrayId, "41");
    EXPECT_EQ(b.ChunkFrames(2), (std::vector<int>{5, 6}));
    EXPECT_TRUE(b.ChunkFrames(3).empty());

    const std::function<void(nlohmann::json&)> damages[] = {
        [](nlohmann::json& j) { j.erase("orvo_farm_job"); }, // not ours
        [](nlohmann::json& j) { j["orvo_farm_job"] = 2; },   // a later format
        [](nlohmann::json& j) { j.erase("chunks"); },
        [](nlohmann::json& j) {
            j["chunks"][0] = {5, 2};
        },                                                      // backwards
        [](nlohmann::json& j) { j["sequence_record"] = "zz"; }, // not hex
        [](nlohmann::json& j) { j["sequence_record"] = "abc"; },
        [](nlohmann::json& j) { j["submissions"][0]["chunks"] = {9}; }, // an unknown chunk
        [](nlohmann::json& j) { j["frames"] = {"a"}; },
        [](nlohmann::json& j) { j = nlohmann::json::array(); },
    };
    for (size_t i = 0; i < std::size(damages); ++i) {
        nlohmann::json j = good;
        damages[i](j);
        const auto [code, what] = tooltest::Thrown([&] { JobFromJson(j, "/jobs/shot/job.json"); });
        EXPECT_EQ(code, kExitUsage) << "damage " << i << ": " << what;
        EXPECT_TRUE(Contains(what, "/jobs/shot/job.json")) << i << ": " << what;
    }
    // Through the folder: written whole, read back, and refused when damaged.
    tooltest::ScratchDir dir;
    tooltest::WriteBytes(dir / "job.json", "{ not json");
    EXPECT_TRUE(Contains(tooltest::Thrown([&] { LoadJob(dir.path()); }).second, "not valid JSON"));
    SaveJob(SampleJob(dir.path()));
    const FarmJob loaded = LoadJob(dir.path() + "/");
    EXPECT_EQ(loaded.dir, dir.path());
    EXPECT_EQ(loaded.name, "orvo-shot-abc123");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"job.json"}); // no temporary left
}

TEST(FarmRecords, AFrameCountsOnlyWhileItsFileMatchesItsRecord) {
    tooltest::ScratchDir dir;
    // The checksum is FNV-1a of the bytes.
    const std::pair<std::string, const char*> sums[] = {
        {"", "cbf29ce484222325"}, {"a", "af63dc4c8601ec8c"}, {"foobar", "85944171f73967e8"}};
    for (const auto& [bytes, sum] : sums) {
        tooltest::WriteBytes(dir / "f", bytes);
        uint64_t size = 99;
        EXPECT_EQ(FileChecksum(dir / "f", &size), sum) << '"' << bytes << '"';
        EXPECT_EQ(size, bytes.size());
    }
    EXPECT_EQ(FileChecksum(dir / "missing", nullptr), "");

    const FarmJob job = SampleJob(dir.path());
    std::filesystem::create_directories(dir / "frames");
    std::filesystem::create_directories(dir / "records");
    for (int n : {1, 2, 3, 5}) {
        tooltest::WriteBytes(job.FrameFile(n), "frame " + std::to_string(n * 111));
        FrameRecord r{n, true, job.FrameFile(n), 0, "", "", 0, 0};
        r.checksum = FileChecksum(r.file, &r.size);
        WriteRecord(job, r);
    }
    tooltest::WriteBytes(job.FrameFile(2), "frame 2!!"); // same size, other bytes
    tooltest::WriteBytes(job.FrameFile(3), "frame three, longer");
    std::filesystem::remove(job.FrameFile(5));
    const FrameRecord failed{6, false, "", 0, "", "the effect reports: FG, BG and optional KeyIn",
                             0, 0};
    WriteRecord(job, failed);
    // A record filed under another frame's name does not vouch for it, nor does a truncated one.
    std::filesystem::copy_file(RecordPath(job, 1), RecordPath(job, 8));
    tooltest::WriteBytes(RecordPath(job, 9), "{\"frame\":9,\"result\":\"ok\",\"fi");
    const struct {
        int frame;
        bool recorded, verified;
    } cases[] = {{1, true, true},  {2, true, false},  {3, true, false},  {5, true, false},
                 {6, true, false}, {7, false, false}, {8, false, false}, {9, false, false}};
    for (const auto& c : cases) {
        FrameRecord r;
        const bool recorded = ReadRecord(job, c.frame, &r);
        EXPECT_EQ(recorded, c.recorded) << "frame " << c.frame;
        EXPECT_EQ(recorded && FrameVerified(job, c.frame, r), c.verified) << "frame " << c.frame;
    }
    FrameRecord r;
    ASSERT_TRUE(ReadRecord(job, 6, &r));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, failed.message);
}

TEST(FarmStatus, ChunkStateFromRecordsQueueAndAttempt) {
    auto entry = [](QueuePhase phase, const char* state) {
        return QueueEntry{"41", 0, phase, state, "", ""};
    };
    auto attempt = [](const char* state, const char* message = "", int frame = 0) {
        ChunkAttempt a;
        a.state = state;
        a.message = message;
        a.frame = frame;
        return a;
    };
    const QueueEntry pending = entry(QueuePhase::kPending, "PENDING"),
                     running = entry(QueuePhase::kRunning, "RUNNING"),
                     completed = entry(QueuePhase::kCompleted, "COMPLETED"),
                     nodeFail = entry(QueuePhase::kFailed, "NODE_FAIL");
    const ChunkAttempt started = attempt("running"), done = attempt("done"),
                       failed = attempt("failed", "the effect reported a message", 14);
    using S = ChunkState;
    const struct {
        const char* what;
        int framesDone;
        const QueueEntry* queued;
        const ChunkAttempt* attempt;
        bool submitted;
        ChunkState state;
        const char* why; // a part of the explanation
        int frame;
    } cases[] = {
        {"all frames recorded", 4, nullptr, nullptr, true, S::kDone, "", 0},
        {"recorded, still listed", 4, &running, &done, true, S::kDone, "", 0},
        {"waiting in the queue", 0, &pending, nullptr, true, S::kPending, "", 0},
        {"resubmitted after a failure", 1, &pending, &failed, true, S::kPending, "", 0},
        {"running", 2, &running, &started, true, S::kRunning, "", 0},
        {"running, no record yet", 0, &running, nullptr, true, S::kRunning, "", 0},
        {"failed, still ending", 1, &running, &failed, true, S::kFailed, "reported a message", 14},
        {"failed, gone", 1, nullptr, &failed, true, S::kFailed, "reported a message", 14},
        {"node lost", 2, &nodeFail, &started, true, S::kFailed, "ended NODE_FAIL after 2 of 4", 0},
        {"cancelled before starting", 0, &nodeFail, nullptr, true, S::kFailed, "before it started",
         0},
        {"killed, gone", 3, nullptr, &started, true, S::kFailed, "stopped after 3 of 4 frames", 0},
        {"ended well, frames vanished", 3, &completed, &done, true, S::kFailed,
         "missing or changed", 0},
        {"never started, gone", 0, nullptr, nullptr, true, S::kFailed, "without starting", 0},
        {"never submitted", 0, nullptr, nullptr, false, S::kNotSubmitted, "", 0},
    };
    for (const auto& c : cases) {
        const ChunkStatus s = ClassifyChunk(c.framesDone, 4, c.queued, c.attempt, c.submitted);
        EXPECT_EQ(ChunkStateName(s.state), std::string(ChunkStateName(c.state))) << c.what;
        EXPECT_TRUE(Contains(s.why, c.why)) << c.what << ": " << s.why;
        EXPECT_EQ(s.frame, c.frame) << c.what;
    }
}

} // namespace
