// The farm's bookkeeping: chunks, the job description, per-frame records and
// how a chunk's state follows from records and queue.
#include <fstream>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "errors.h"
#include "farm_job.h"
#include "tool/tool_support.h"

using namespace orvo;

namespace {

std::vector<int> Numbers(int first, int last) {
    std::vector<int> v;
    for (int n = first; n <= last; ++n)
        v.push_back(n);
    return v;
}

std::string Chunks(const std::vector<FarmChunk>& chunks) {
    std::string s;
    for (const FarmChunk& c : chunks)
        s += (s.empty() ? "" : " ") + std::to_string(c.first) + "-" + std::to_string(c.last);
    return s;
}

TEST(FarmChunks, SplitByCountNeverAcrossAGap) {
    const struct {
        std::vector<int> frames;
        int size;
        const char* expected;
    } cases[] = {
        {Numbers(1, 10), 4, "1-4 5-8 9-10"},
        {Numbers(1, 8), 4, "1-4 5-8"},
        {Numbers(1, 3), 10, "1-3"},
        {{7}, 4, "7-7"},
        {{1, 2, 3, 5, 6, 9}, 4, "1-3 5-6 9-9"}, // gaps in a sequence on disk
        {{1, 2, 3, 4, 5, 6}, 1, "1-1 2-2 3-3 4-4 5-5 6-6"},
        {{}, 4, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Chunks(SplitChunks(c.frames, c.size)), c.expected) << "size " << c.size;
}

TEST(FarmChunks, EveryFrameInExactlyOneChunk) {
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
}

TEST(FarmChunks, DefaultSize) {
    const struct {
        int frames, size;
    } cases[] = {{1, 1}, {3, 3}, {4, 4}, {24, 4}, {48, 4}, {400, 4}, {1000, 10}, {10000, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(DefaultChunkSize(c.frames), c.size) << c.frames << " frames";
}

FarmJob SampleJob(const std::string& dir) {
    FarmJob job;
    job.dir = dir;
    job.name = "orvo-shot-abc123";
    job.key.fg = "/shots/plate.%04d.png";
    job.key.bg = "/shots/sky.jpg";
    job.key.out = "/out/comp.mov";
    job.key.sets = {"Chroma Color=58,192,82", "Transp. Strength=120"};
    job.key.draft = true;
    job.key.resolution = "half";
    job.output = job.key.out;
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

TEST(FarmJobDescription, RoundTripsEveryField) {
    const FarmJob a = SampleJob("/jobs/shot");
    const FarmJob b = JobFromJson(nlohmann::json::parse(JobToJson(a).dump()), "job.json");
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.key.fg, a.key.fg);
    EXPECT_EQ(b.key.bg, a.key.bg);
    EXPECT_EQ(b.key.sets, a.key.sets);
    EXPECT_EQ(b.key.draft, a.key.draft);
    EXPECT_EQ(b.key.resolution, a.key.resolution);
    EXPECT_EQ(b.output, a.output);
    EXPECT_EQ(b.video, a.video);
    EXPECT_EQ(b.target, a.target);
    EXPECT_EQ(b.rate, a.rate);
    EXPECT_EQ(b.frames, a.frames);
    EXPECT_EQ(Chunks(b.chunks), "1-2 3-3 5-6");
    EXPECT_EQ(b.record, a.record);
    EXPECT_EQ(b.orvo, a.orvo);
    EXPECT_EQ(b.partition, a.partition);
    EXPECT_EQ(b.sbatch, a.sbatch);
    ASSERT_EQ(b.submissions.size(), 2u);
    EXPECT_EQ(b.submissions[1].arrayId, "50");
    EXPECT_EQ(b.submissions[1].assemblyId, "51");
    // The chunk's latest submission is the one that counts.
    EXPECT_EQ(b.LastSubmissionOf(1)->arrayId, "50");
    EXPECT_EQ(b.LastSubmissionOf(2)->arrayId, "41");
    EXPECT_EQ(b.ChunkFrames(2), (std::vector<int>{5, 6}));
    EXPECT_TRUE(b.ChunkFrames(3).empty());
}

TEST(FarmJobDescription, DamagedDescriptionsAreRefusedByName) {
    const nlohmann::json good = JobToJson(SampleJob("/jobs/shot"));
    const struct {
        const char* what;
        std::function<void(nlohmann::json&)> damage;
    } cases[] = {
        {"not ours", [](nlohmann::json& j) { j.erase("orvo_farm_job"); }},
        {"a later format", [](nlohmann::json& j) { j["orvo_farm_job"] = 2; }},
        {"no chunks", [](nlohmann::json& j) { j.erase("chunks"); }},
        {"chunk backwards",
         [](nlohmann::json& j) {
             j["chunks"][0] = {5, 2};
         }},
        {"record not hex", [](nlohmann::json& j) { j["sequence_record"] = "zz"; }},
        {"record odd length", [](nlohmann::json& j) { j["sequence_record"] = "abc"; }},
        {"unknown chunk submitted", [](nlohmann::json& j) { j["submissions"][0]["chunks"] = {9}; }},
        {"frames not numbers", [](nlohmann::json& j) { j["frames"] = {"a"}; }},
        {"not an object", [](nlohmann::json& j) { j = nlohmann::json::array(); }},
    };
    for (const auto& c : cases) {
        nlohmann::json j = good;
        c.damage(j);
        try {
            JobFromJson(j, "/jobs/shot/job.json");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ToolError& e) {
            EXPECT_EQ(e.code(), kExitUsage) << c.what;
            EXPECT_NE(std::string(e.what()).find("/jobs/shot/job.json"), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST(FarmJobDescription, LoadAndSaveThroughTheFolder) {
    tooltest::ScratchDir dir;
    EXPECT_THROW(LoadJob(dir.path()), ToolError); // no job yet
    std::ofstream(dir / "job.json") << "{ not json";
    try {
        LoadJob(dir.path());
        ADD_FAILURE() << "damaged job.json accepted";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("not valid JSON"), std::string::npos) << e.what();
    }
    SaveJob(SampleJob(dir.path()));
    FarmJob loaded = LoadJob(dir.path() + "/");
    EXPECT_EQ(loaded.dir, dir.path());
    EXPECT_EQ(loaded.name, "orvo-shot-abc123");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"job.json"}); // no temporary left
}

TEST(FarmRecords, ChecksumIsFnv1aOfTheBytes) {
    tooltest::ScratchDir dir;
    const struct {
        std::string bytes;
        const char* sum;
    } cases[] = {
        {"", "cbf29ce484222325"}, {"a", "af63dc4c8601ec8c"}, {"foobar", "85944171f73967e8"}};
    for (const auto& c : cases) {
        std::ofstream(dir / "f", std::ios::binary) << c.bytes;
        uint64_t size = 99;
        EXPECT_EQ(FileChecksum(dir / "f", &size), c.sum) << '"' << c.bytes << '"';
        EXPECT_EQ(size, c.bytes.size());
    }
    EXPECT_EQ(FileChecksum(dir / "missing", nullptr), "");
}

TEST(FarmRecords, AFrameCountsOnlyWhileItsFileMatchesItsRecord) {
    tooltest::ScratchDir dir;
    FarmJob job = SampleJob(dir.path());
    std::filesystem::create_directories(dir / "frames");
    std::filesystem::create_directories(dir / "records");
    auto writeFrame = [&](int n, const std::string& bytes) {
        std::ofstream(job.FrameFile(n), std::ios::binary) << bytes;
        FrameRecord r;
        r.frame = n;
        r.ok = true;
        r.file = job.FrameFile(n);
        r.checksum = FileChecksum(r.file, &r.size);
        WriteRecord(job, r);
    };
    writeFrame(1, "frame one");
    writeFrame(2, "frame two");
    writeFrame(3, "frame three");
    writeFrame(5, "frame five");
    std::ofstream(job.FrameFile(2), std::ios::binary) << "frame 2!!"; // same size, new bytes
    std::ofstream(job.FrameFile(3), std::ios::binary) << "frame three, longer";
    std::filesystem::remove(job.FrameFile(5));
    FrameRecord failed;
    failed.frame = 6;
    failed.message = "the effect reports: FG, BG and optional KeyIn must have the same size!";
    WriteRecord(job, failed);

    const struct {
        int frame;
        bool recorded, verified;
    } cases[] = {{1, true, true},  {2, true, false}, {3, true, false},
                 {5, true, false}, {6, true, false}, {7, false, false}};
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
    // A record filed under another frame's name does not vouch for it.
    std::filesystem::copy_file(RecordPath(job, 1), RecordPath(job, 8));
    EXPECT_FALSE(ReadRecord(job, 8, &r));
    // Nor does a truncated one.
    std::ofstream(RecordPath(job, 9)) << "{\"frame\":9,\"result\":\"ok\",\"fi";
    EXPECT_FALSE(ReadRecord(job, 9, &r));
}

TEST(FarmStatus, ChunkStateFromRecordsQueueAndAttempt) {
    auto entry = [](QueuePhase phase, const char* state) {
        QueueEntry e;
        e.jobId = "41";
        e.arrayIndex = 0;
        e.phase = phase;
        e.state = state;
        return e;
    };
    auto attempt = [](const char* state, const char* message = "", int frame = 0) {
        ChunkAttempt a;
        a.state = state;
        a.message = message;
        a.frame = frame;
        return a;
    };
    const QueueEntry pending = entry(QueuePhase::kPending, "PENDING");
    const QueueEntry running = entry(QueuePhase::kRunning, "RUNNING");
    const QueueEntry completed = entry(QueuePhase::kCompleted, "COMPLETED");
    const QueueEntry nodeFail = entry(QueuePhase::kFailed, "NODE_FAIL");
    const ChunkAttempt started = attempt("running");
    const ChunkAttempt done = attempt("done");
    const ChunkAttempt failed = attempt("failed", "the effect reported a message", 14);
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
        {"all frames recorded", 4, nullptr, nullptr, true, ChunkState::kDone, "", 0},
        {"recorded while the queue still lists it", 4, &running, &done, true, ChunkState::kDone, "",
         0},
        {"waiting in the queue", 0, &pending, nullptr, true, ChunkState::kPending, "", 0},
        {"resubmitted after a failure", 1, &pending, &failed, true, ChunkState::kPending, "", 0},
        {"running", 2, &running, &started, true, ChunkState::kRunning, "", 0},
        {"running, not yet started its record", 0, &running, nullptr, true, ChunkState::kRunning,
         "", 0},
        {"failed on a frame, still ending", 1, &running, &failed, true, ChunkState::kFailed,
         "reported a message", 14},
        {"failed on a frame, gone from the queue", 1, nullptr, &failed, true, ChunkState::kFailed,
         "reported a message", 14},
        {"node lost", 2, &nodeFail, &started, true, ChunkState::kFailed,
         "ended NODE_FAIL after 2 of 4", 0},
        {"cancelled before starting", 0, &nodeFail, nullptr, true, ChunkState::kFailed,
         "before it started", 0},
        {"killed, gone from the queue", 3, nullptr, &started, true, ChunkState::kFailed,
         "stopped after 3 of 4 frames", 0},
        {"ended well but frames vanished", 3, &completed, &done, true, ChunkState::kFailed,
         "missing or changed", 0},
        {"never started, gone from the queue", 0, nullptr, nullptr, true, ChunkState::kFailed,
         "without starting", 0},
        {"never submitted", 0, nullptr, nullptr, false, ChunkState::kNotSubmitted, "", 0},
    };
    for (const auto& c : cases) {
        const ChunkStatus s = ClassifyChunk(c.framesDone, 4, c.queued, c.attempt, c.submitted);
        EXPECT_EQ(ChunkStateName(s.state), std::string(ChunkStateName(c.state))) << c.what;
        EXPECT_NE(s.why.find(c.why), std::string::npos) << c.what << ": " << s.why;
        EXPECT_EQ(s.frame, c.frame) << c.what;
    }
}

} // namespace
