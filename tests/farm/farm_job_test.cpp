// The farm's bookkeeping: chunks, the job description, per-frame records and
// how a chunk's state follows from records and queue.
#include <filesystem>
#include <functional>
#include <random>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "farm_job.h"
#include "tool/tool_support.h"

using namespace orvo;
using tooltest::Contains;

namespace {

// Shots with gaps, split at every size: every frame once and in order, no
// chunk longer than the size or across a gap, each as long as it may be.
TEST(FarmChunks, SplitByCountNeverAcrossAGapEveryFrameOnce) {
    std::mt19937 rng(7);
    for (int shot = 0; shot < 200; ++shot) {
        std::vector<int> frames;
        for (int n = 1 + int(rng() % 3), count = int(rng() % 60); count > 0; --count)
            frames.push_back(n += rng() % 5 == 0 ? 2 + int(rng() % 9) : 1);
        const int size = 1 + int(rng() % 12);
        std::vector<int> seen;
        for (const FarmChunk& c : SplitChunks(frames, size)) {
            ASSERT_LE(c.count(), size);
            const bool ended = seen.size() + size_t(c.count()) == frames.size();
            ASSERT_TRUE(c.count() == size || ended ||
                        frames[seen.size() + size_t(c.count())] > c.last + 1);
            for (int n = c.first; n <= c.last; ++n)
                seen.push_back(n);
        }
        ASSERT_EQ(seen, frames) << "size " << size;
    }
    const std::pair<int, int> sizes[] = {{1, 1},  {3, 3},   {4, 4},     {24, 4},
                                         {48, 4}, {400, 4}, {1000, 10}, {10000, 100}};
    for (const auto& [count, size] : sizes)
        EXPECT_EQ(DefaultChunkSize(count), size) << count << " frames";
}

// A job with every field set from `rng`, quotes and accents in its texts.
FarmJob RandomJob(std::mt19937& rng, const std::string& dir) {
    FarmJob job;
    job.dir = dir;
    for (std::string* s : {&job.name, &job.key.fg, &job.key.bg, &job.key.out, &job.key.resolution,
                           &job.output, &job.target, &job.rate, &job.orvo, &job.partition})
        *s = std::to_string(rng()) + " \"q\" \xc3\xa9";
    job.key.sets = job.sbatch = {job.name + "=1", std::to_string(rng())};
    job.key.draft = rng() % 2, job.video = rng() % 2;
    for (int n = 1; job.frames.size() < 1 + rng() % 30; n += 1 + int(rng() % 2))
        job.frames.push_back(n);
    job.chunks = SplitChunks(job.frames, 1 + int(rng() % 5));
    job.width = int(rng() % 8000), job.height = int(rng() % 8000);
    job.record.resize(rng() % 20, uint8_t(rng()));
    for (size_t s = 0; s < rng() % 3; ++s)
        job.submissions.push_back(
            {1.5e9 + rng() % 1000, job.rate, job.orvo, {int(s % job.chunks.size())}});
    return job;
}

TEST(FarmJobDescription, RoundTripsEveryFieldAndRefusesDamage) {
    std::mt19937 rng(11);
    auto fields = [](const FarmJob& j) {
        return std::tie(j.name, j.key.fg, j.key.bg, j.key.out, j.key.sets, j.key.draft,
                        j.key.resolution, j.output, j.video, j.target, j.rate, j.frames, j.width,
                        j.height, j.record, j.orvo, j.partition, j.sbatch);
    };
    for (int i = 0; i < 50; ++i) {
        const FarmJob a = RandomJob(rng, "/jobs/shot");
        const nlohmann::json good = JobToJson(a);
        const FarmJob b = JobFromJson(nlohmann::json::parse(good.dump()), "job.json");
        ASSERT_TRUE(fields(a) == fields(b)) << good.dump(1);
        ASSERT_EQ(JobToJson(b), good); // chunks and submissions too
    }
    const FarmJob job = RandomJob(rng, "/jobs/shot");
    const std::function<void(nlohmann::json&)> damages[] = {
        [](nlohmann::json& j) { j.erase("orvo_farm_job"); }, // not ours
        [](nlohmann::json& j) { j["orvo_farm_job"] = 2; },   // a later format
        [](nlohmann::json& j) {
            j["chunks"][0] = {5, 2};
        }, // backwards
        [](nlohmann::json& j) { j["sequence_record"] = "abc"; },
        [](nlohmann::json& j) {
            j["submissions"] = {{{"time", 1}, {"chunks", {99}}}};
        },
        [](nlohmann::json& j) { j["frames"] = {"a"}; },
    };
    for (size_t i = 0; i < std::size(damages); ++i) {
        nlohmann::json j = JobToJson(job);
        damages[i](j);
        const auto [code, what] = tooltest::Thrown([&] { JobFromJson(j, "/jobs/shot/job.json"); });
        EXPECT_EQ(code, kExitUsage) << "damage " << i << ": " << what;
        EXPECT_TRUE(Contains(what, "/jobs/shot/job.json")) << i << ": " << what;
    }
    // Through the folder: written whole, read back, and refused when damaged.
    tooltest::ScratchDir dir;
    tooltest::WriteBytes(dir / "job.json", "{ not json");
    EXPECT_TRUE(Contains(tooltest::Thrown([&] { LoadJob(dir.path()); }).second, "not valid JSON"));
    SaveJob(RandomJob(rng, dir.path()));
    EXPECT_EQ(LoadJob(dir.path() + "/").dir, dir.path());
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"job.json"}); // no temporary left
}

TEST(FarmRecords, AFrameCountsOnlyWhileItsFileMatchesItsRecord) {
    tooltest::ScratchDir dir;
    tooltest::WriteBytes(dir / "f", "foobar"); // the checksum is FNV-1a of the bytes
    EXPECT_EQ(FileChecksum(dir / "f", nullptr) + FileChecksum(dir / "missing", nullptr),
              "85944171f73967e8");
    std::mt19937 rng(3);
    FarmJob job = RandomJob(rng, dir.path());
    job.target = dir / "frames/f.%04d.png";
    std::filesystem::create_directories(dir / "frames");
    std::filesystem::create_directories(dir / "records");
    for (int n : {1, 2}) {
        tooltest::WriteBytes(job.FrameFile(n), "frame " + std::to_string(n * 111));
        FrameRecord r{n, true, job.FrameFile(n), 0, "", "", 0, 0};
        r.checksum = FileChecksum(r.file, &r.size);
        WriteRecord(job, r);
    }
    tooltest::WriteBytes(job.FrameFile(2), "frame 2!!"); // same size, other bytes
    WriteRecord(job, {3, false, "", 0, "", "the effect reports: FG, BG", 0, 0});
    // A record filed under another frame's name does not vouch for it, nor does a truncated one.
    std::filesystem::copy_file(RecordPath(job, 1), RecordPath(job, 4));
    tooltest::WriteBytes(RecordPath(job, 5), "{\"frame\":5,\"result\":\"ok\",\"fi");
    std::string got;
    for (int n = 1; n <= 6; ++n) {
        FrameRecord r;
        got += !ReadRecord(job, n, &r) ? '-' : FrameVerified(job, n, r) ? 'v' : r.ok ? 'r' : 'f';
    }
    EXPECT_EQ(got, "vrf---"); // v verified, r recorded only, f failed, - none
}

// The states the in-process flows (farm_flow_test.cpp) do not reach.
TEST(FarmStatus, ChunkStateFromRecordsQueueAndAttempt) {
    const QueueEntry pending{"41", 0, QueuePhase::kPending, "PENDING", "", ""},
        running{"41", 0, QueuePhase::kRunning, "RUNNING", "", ""},
        completed{"41", 0, QueuePhase::kCompleted, "COMPLETED", "", ""},
        nodeFail{"41", 0, QueuePhase::kFailed, "NODE_FAIL", "", ""};
    ChunkAttempt started, done;
    started.state = "running", done.state = "done";
    const struct {
        int framesDone;
        const QueueEntry* queued;
        const ChunkAttempt* attempt;
        ChunkState state;
        const char* why; // a part of the explanation
    } cases[] = {
        {4, &running, &done, ChunkState::kDone, ""}, // recorded, still listed
        {1, &pending, &started, ChunkState::kPending, ""},
        {2, &nodeFail, &started, ChunkState::kFailed, "ended NODE_FAIL after 2 of 4"},
        {3, &completed, &done, ChunkState::kFailed, "missing or changed"},
    };
    for (const auto& c : cases) {
        const ChunkStatus s = ClassifyChunk(c.framesDone, 4, c.queued, c.attempt, true);
        EXPECT_EQ(ChunkStateName(s.state), std::string(ChunkStateName(c.state))) << c.why;
        EXPECT_TRUE(Contains(s.why, c.why)) << c.why << ": " << s.why;
    }
}

} // namespace
