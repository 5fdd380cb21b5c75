#include "farm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "effect.h"
#include "errors.h"
#include "files.h"
#include "image_io.h"
#include "media.h"
#include "params.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace orvo {

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Absolute(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    return fs::absolute(path, ec).lexically_normal().string();
}

std::string HostName() {
    char name[256] = {0};
    if (gethostname(name, sizeof name - 1) != 0) return "?";
    return name;
}

std::string RangeText(int first, int last) {
    return first == last ? std::to_string(first)
                         : std::to_string(first) + "-" + std::to_string(last);
}

// The plan of `orvo key` for frames first..last of the shot, as submit
// decided it (parameters with the automatic choices, sizes, fitting), writing
// to the job's frame target.
KeyPlan TaskPlan(const FarmJob& job, int first, int last, Effect& effect) {
    KeyPlan p;
    p.options = job.key;
    p.options.out = job.target;
    p.options.frames = std::to_string(first) + "-" + std::to_string(last);
    p.options.savePreset.clear();
    p.options.quiet = true;
    p.params = ParamSet(effect.Params());
    if (job.values.size() != p.params.values().size())
        throw UsageError("the job holds " + std::to_string(job.values.size()) +
                         " parameter values, the plug-in has " +
                         std::to_string(p.params.values().size()) + " parameters");
    for (size_t i = 0; i < job.values.size(); ++i)
        p.params.MutableAt(int(i)) = job.values[i];
    p.factor = ResolutionFactor(job.key.resolution);
    p.fit = ParseBgFit(job.key.bgFit);
    p.range.set = true;
    p.range.first = first;
    p.range.last = last;
    p.total = last - first + 1;
    for (int n = first; n <= last; ++n)
        p.numbers.push_back(n);
    p.width = job.width;
    p.height = job.height;
    p.rate = job.rate;
    return p;
}

void RecordFrame(const FarmJob& job, int chunk, int n) {
    FrameRecord r;
    r.frame = n;
    r.chunk = chunk;
    r.seconds = Now();
    r.file = job.FrameFile(n);
    r.checksum = FileChecksum(r.file, &r.size);
    r.ok = !r.checksum.empty();
    if (!r.ok) r.message = "the frame's file cannot be read back after rendering";
    WriteRecord(job, r);
}

// Renders frames first..last with `orvo key`'s own code, recording each frame
// as soon as it is written.
KeyResult RenderRun(const FarmJob& job, int chunk, int first, int last, Effect& effect) {
    KeyPlan plan = TaskPlan(job, first, last, effect);
    plan.frameWritten = [&](int n) { RecordFrame(job, chunk, n); };
    KeyResult r = RenderFrames(plan, effect, plan.range);
    if (r.status == kExitEffect) {
        FrameRecord failed;
        failed.frame = r.messageFrame;
        failed.chunk = chunk;
        failed.seconds = Now();
        failed.message = "the effect reports: " + r.message;
        WriteRecord(job, failed);
    }
    return r;
}

// Frames of a chunk already present with a matching record.
std::vector<bool> VerifiedFrames(const FarmJob& job, int chunk) {
    std::vector<bool> done;
    for (int n : job.ChunkFrames(chunk)) {
        FrameRecord r;
        done.push_back(ReadRecord(job, n, &r) && FrameVerified(job, n, r));
    }
    return done;
}

int RecordedFrames(const FarmJob& job, int chunk, double* latest) {
    int count = 0;
    for (int n : job.ChunkFrames(chunk)) {
        FrameRecord r;
        if (ReadRecord(job, n, &r) && r.ok) {
            ++count;
            if (latest) *latest = std::max(*latest, r.seconds);
        }
    }
    return count;
}

bool OutputComplete(const FarmJob& job) {
    std::ifstream in(job.Path("assembly.json"));
    if (!in) return false;
    json j = json::parse(in, nullptr, false);
    return j.is_object() && j.value("state", "") == "done";
}

const QueueEntry* FindEntry(const std::vector<QueueEntry>& queue, const std::string& id,
                            int index) {
    for (const QueueEntry& e : queue)
        if (e.jobId == id && e.arrayIndex == index) return &e;
    return nullptr;
}

// The whole job as the folder and the queue show it.
struct JobSummary {
    std::vector<ChunkStatus> chunks;
    std::map<ChunkState, int> counts;
    int framesDone = 0;
    double latestRecord = 0;
    bool assemblyActive = false; // queued or running
    std::string assembly;        // one line on it
    bool complete = false;
};

JobSummary Summarise(const FarmJob& job, FarmEngine& engine) {
    JobSummary s;
    const std::vector<QueueEntry> queue = engine.Queue(job);
    for (int c = 0; c < int(job.chunks.size()); ++c) {
        const int done = RecordedFrames(job, c, &s.latestRecord);
        s.framesDone += done;
        const FarmSubmission* sub = job.LastSubmissionOf(c);
        const QueueEntry* entry = sub ? FindEntry(queue, sub->arrayId, c) : nullptr;
        ChunkAttempt attempt;
        const bool started = ReadAttempt(job, c, &attempt);
        ChunkStatus st = ClassifyChunk(done, job.chunks[c].count(), entry,
                                       started ? &attempt : nullptr, sub != nullptr);
        s.counts[st.state]++;
        s.chunks.push_back(st);
    }
    s.complete = OutputComplete(job);
    const FarmSubmission* last = job.submissions.empty() ? nullptr : &job.submissions.back();
    const QueueEntry* asm_ = last ? FindEntry(queue, last->assemblyId, -1) : nullptr;
    if (s.complete) {
        s.assembly = "done, output complete: " + job.output;
    } else if (!last) {
        s.assembly = "not submitted";
    } else if (asm_ && asm_->phase == QueuePhase::kPending) {
        s.assemblyActive = true;
        s.assembly = "pending (job " + last->assemblyId + ")";
    } else if (asm_ && asm_->phase == QueuePhase::kRunning) {
        s.assemblyActive = true;
        s.assembly = "running (job " + last->assemblyId + ")";
    } else {
        std::string why;
        std::ifstream in(job.Path("assembly.json"));
        json j = in ? json::parse(in, nullptr, false) : json();
        if (j.is_object()) why = j.value("message", "");
        if (why.empty() && asm_) why = "the job ended " + asm_->state;
        if (why.empty()) why = "it ended without finishing";
        s.assembly = "failed: " + why + "; log: " + engine.AssemblyLog(job, last->assemblyId);
    }
    return s;
}

void PrintSummary(const FarmJob& job, const JobSummary& s, FarmEngine& engine, FILE* to) {
    auto n = [&](ChunkState st) {
        auto it = s.counts.find(st);
        return it == s.counts.end() ? 0 : it->second;
    };
    std::fprintf(to, "job %s: %zu frames in %zu chunks, output %s\n", job.dir.c_str(),
                 job.frames.size(), job.chunks.size(), job.output.c_str());
    std::fprintf(to, "chunks: %d done, %d running, %d pending, %d failed", n(ChunkState::kDone),
                 n(ChunkState::kRunning), n(ChunkState::kPending), n(ChunkState::kFailed));
    if (n(ChunkState::kNotSubmitted))
        std::fprintf(to, ", %d not submitted", n(ChunkState::kNotSubmitted));
    std::fprintf(to, "\n");
    const double start = job.submissions.empty() ? 0 : job.submissions.front().time;
    const double span = s.latestRecord - start;
    std::fprintf(to, "frames: %d of %zu done", s.framesDone, job.frames.size());
    if (s.framesDone > 0 && span > 0)
        std::fprintf(to, ", %.2f frames per second so far", s.framesDone / span);
    std::fprintf(to, "\n");
    for (int c = 0; c < int(s.chunks.size()); ++c) {
        const ChunkStatus& st = s.chunks[c];
        if (st.state != ChunkState::kFailed) continue;
        const FarmSubmission* sub = job.LastSubmissionOf(c);
        std::fprintf(to, "failed chunk %d (frames %s)%s: %s; log: %s\n", c,
                     RangeText(job.chunks[c].first, job.chunks[c].last).c_str(),
                     st.frame ? (" at frame " + std::to_string(st.frame)).c_str() : "",
                     st.why.c_str(), sub ? engine.TaskLog(job, sub->arrayId, c).c_str() : "-");
    }
    std::fprintf(to, "assembly: %s\n", s.assembly.c_str());
}

// Submits `chunks` and the assembly, records the submission, prints what happened.
void SubmitChunks(FarmJob& job, const std::vector<int>& chunks, FarmEngine& engine, bool dryRun) {
    FarmSubmitResult r = engine.Submit(job, chunks, dryRun);
    if (dryRun) {
        for (const std::string& c : r.commands)
            std::printf("%s\n", c.c_str());
        std::printf("dry run: nothing submitted; job folder %s\n", job.dir.c_str());
        return;
    }
    FarmSubmission sub;
    sub.time = Now();
    sub.arrayId = r.arrayId;
    sub.assemblyId = r.assemblyId;
    sub.chunks = chunks;
    job.submissions.push_back(sub);
    SaveJob(job);
    if (!chunks.empty())
        std::printf("submitted %zu tasks as job array %s, assembly job %s\n", chunks.size(),
                    r.arrayId.c_str(), r.assemblyId.c_str());
    else
        std::printf("every chunk is complete; submitted the assembly as job %s\n",
                    r.assemblyId.c_str());
    std::printf("job folder %s (orvo farm status %s)\n", job.dir.c_str(), job.dir.c_str());
}

// Chunks with a frame that is not present with a matching record.
std::vector<int> IncompleteChunks(const FarmJob& job) {
    std::vector<int> out;
    for (int c = 0; c < int(job.chunks.size()); ++c) {
        std::vector<bool> done = VerifiedFrames(job, c);
        if (std::find(done.begin(), done.end(), false) != done.end()) out.push_back(c);
    }
    return out;
}

// The frames of a video whose container does not say how many: counted by decoding.
std::vector<int> CountVideoFrames(const KeyPlan& plan) {
    std::unique_ptr<Source> fg = OpenSource(plan.options.fg, FrameRole::kColour, plan.range, false);
    Frame f;
    std::vector<int> frames;
    while (fg->Next(&f))
        frames.push_back(fg->number());
    return frames;
}

// Every task has ended when the assembly runs: a temporary file of one of
// the job's frames still there was left by a task that was killed.
void RemoveStaleTemporaries(const FarmJob& job) {
    const std::string mark = ".orvo-tmp-"; // how TempPathFor names them
    std::set<std::string> prefixes;
    for (int n : job.frames)
        prefixes.insert("." + fs::path(job.FrameFile(n)).stem().string() + mark);
    const fs::path folder = fs::path(job.FrameFile(job.frames.front())).parent_path();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const size_t cut = name.find(mark);
        if (cut != std::string::npos && prefixes.count(name.substr(0, cut + mark.size()))) {
            std::error_code rec;
            fs::remove(it->path(), rec);
        }
    }
}

std::string JobName(const std::string& dir) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (char c : dir + std::to_string(Now()) + std::to_string(getpid())) {
        h ^= uint8_t(c);
        h *= 0x100000001b3ull;
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "%06llx", static_cast<unsigned long long>(h & 0xffffff));
    std::string base = fs::path(dir).filename().string();
    for (char& c : base)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return "orvo-" + base.substr(0, 40) + "-" + tag;
}

void MakeJobFolders(const std::string& dir) {
    for (const char* sub : {"", "/scripts", "/logs", "/records", "/chunks", "/frames"}) {
        std::error_code ec;
        fs::create_directories(dir + sub, ec);
        if (ec)
            throw UsageError("cannot create the job folder \"" + dir + sub + "\": " + ec.message());
    }
}

} // namespace

int FarmSubmit(const FarmSubmitOptions& options, Effect& effect, FarmEngine& engine) {
    const KeyOptions& given = options.key;
    if (options.jobDir.empty()) throw UsageError("farm submit: --job-dir is required");
    if (options.chunk < 0)
        throw UsageError("--chunk " + std::to_string(options.chunk) +
                         ": expected a number of frames per task, 1 or more");
    if (given.fg.empty()) throw UsageError("farm submit: --fg is required");
    if (given.out.empty()) throw UsageError("farm submit: -o is required");
    if (!IsSequencePattern(given.fg) && !IsVideoPath(given.fg))
        throw UsageError("farm submit: --fg \"" + given.fg +
                         "\" is a still; the farm renders sequences and videos (use orvo key)");
    if (!IsSequencePattern(given.out) && !IsVideoPath(given.out))
        throw UsageError("farm submit: -o \"" + given.out +
                         "\" is one image; use a pattern such as out.%04d.png or a video name");
    ResolutionFactor(given.resolution);

    const std::string dir = Absolute(options.jobDir);
    std::error_code ec;
    if (fs::exists(dir + "/job.json", ec))
        throw UsageError("\"" + dir +
                         "\" already holds a farm job: follow it with orvo farm "
                         "status, or finish it with orvo farm resume");
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        throw UsageError("--job-dir \"" + dir + "\" is a file, not a folder");
    if (fs::exists(dir, ec) && !fs::is_empty(dir, ec))
        throw UsageError("--job-dir \"" + dir + "\" is not empty: give a new or empty folder");

    FarmJob job;
    job.dir = dir;
    job.name = JobName(dir);
    job.key = given;
    for (std::string* p : {&job.key.fg, &job.key.bg, &job.key.keyIn, &job.key.out, &job.key.preset,
                           &job.key.savePreset})
        *p = Absolute(*p);
    job.output = job.key.out;
    job.video = IsVideoPath(job.output);
    job.target = job.video ? job.Path("frames/frame.%08d.png") : job.output;
    job.orvo = options.orvo.empty() ? "" : Absolute(options.orvo);
    if (job.orvo.empty()) {
        job.orvo = fs::read_symlink("/proc/self/exe", ec).string();
        if (ec) throw Failure("cannot tell where this orvo is: give --orvo PATH");
    }
    job.partition = options.partition;
    job.sbatch = options.sbatch;

    // Every check and automatic choice of `orvo key`, made once, here.
    KeyPlan plan = PlanKey(job.key, effect);
    job.values = plan.params.values();
    job.width = plan.width;
    job.height = plan.height;
    job.rate = plan.rate;
    job.frames = plan.numbers.empty() ? CountVideoFrames(plan) : plan.numbers;
    if (job.frames.empty()) throw UsageError("\"" + given.fg + "\" has no frames");
    job.chunks = SplitChunks(job.frames, options.chunk ? options.chunk
                                                       : DefaultChunkSize(int(job.frames.size())));

    const bool created = !fs::exists(dir, ec);
    try {
        MakeJobFolders(dir);
        if (!job.key.savePreset.empty()) SavePreset(job.key.savePreset, plan.params);
        SavePreset(job.ParamsPath(), plan.params);

        // The first frame, rendered here as a single run renders it: it gives
        // the effect's sequence record as that run holds it after its first
        // frame, which every task starts from.
        const int first = job.frames.front();
        FarmJob probe = job;
        if (options.dryRun) probe.target = job.Path("frames/probe.%08d.png");
        effect.RestartSequence();
        const KeyResult r = RenderRun(probe, 0, first, first, effect);
        if (r.status != kExitOk)
            throw ToolError(r.status, "frame " + std::to_string(first) + ": the effect reports: " +
                                          r.message + "; nothing was submitted");
        job.record = effect.SequenceRecord();
        if (options.dryRun) {
            fs::remove(probe.FrameFile(first), ec);
            fs::remove(RecordPath(job, first), ec);
        }
        SaveJob(job);
    } catch (...) {
        if (created) fs::remove_all(dir, ec);
        throw;
    }
    std::vector<int> chunks = IncompleteChunks(job);
    SubmitChunks(job, chunks, engine, options.dryRun);
    return kExitOk;
}

int FarmStatus(const std::string& dir, FarmEngine& engine) {
    FarmJob job = LoadJob(dir);
    PrintSummary(job, Summarise(job, engine), engine, stdout);
    return kExitOk;
}

int FarmWait(const std::string& dir, FarmEngine& engine, double intervalSeconds) {
    FarmJob job = LoadJob(dir);
    std::string lastLine;
    int queueFailures = 0;
    while (true) {
        JobSummary s;
        try {
            s = Summarise(job, engine);
            queueFailures = 0;
        } catch (const ToolError& e) {
            // The controller may be restarting: keep asking for a while.
            if (++queueFailures * intervalSeconds > 60) throw;
            std::this_thread::sleep_for(std::chrono::duration<double>(intervalSeconds));
            continue;
        }
        const int active = s.counts[ChunkState::kRunning] + s.counts[ChunkState::kPending];
        const std::string line = std::to_string(s.framesDone) + "/" +
                                 std::to_string(job.frames.size()) + " frames, " +
                                 std::to_string(s.counts[ChunkState::kRunning]) + " running, " +
                                 std::to_string(s.counts[ChunkState::kPending]) + " pending, " +
                                 std::to_string(s.counts[ChunkState::kFailed]) + " failed";
        if (line != lastLine) {
            std::fprintf(stderr, "orvo farm: %s\n", line.c_str());
            lastLine = line;
        }
        if (active == 0 && !s.assemblyActive) {
            if (s.complete) {
                std::printf("complete: %s (%zu frames)\n", job.output.c_str(), job.frames.size());
                return kExitOk;
            }
            PrintSummary(job, s, engine, stderr);
            std::string failed;
            for (int c = 0; c < int(s.chunks.size()); ++c)
                if (s.chunks[c].state != ChunkState::kDone)
                    failed += (failed.empty() ? "" : ", ") + std::to_string(c);
            std::fprintf(stderr, "orvo farm: the output is not complete%s; orvo farm resume %s\n",
                         failed.empty() ? "" : (": chunks " + failed + " failed").c_str(),
                         job.dir.c_str());
            return kExitFailure;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(intervalSeconds));
    }
}

int FarmResume(const std::string& dir, FarmEngine& engine, bool dryRun) {
    FarmJob job = LoadJob(dir);
    if (OutputComplete(job)) {
        std::printf("complete already: %s\n", job.output.c_str());
        return kExitOk;
    }
    const std::vector<QueueEntry> queue = engine.Queue(job);
    for (const QueueEntry& e : queue)
        if (e.phase == QueuePhase::kPending || e.phase == QueuePhase::kRunning)
            throw UsageError("the job still has work queued or running (job " + e.jobId +
                             (e.arrayIndex >= 0 ? "_" + std::to_string(e.arrayIndex) : "") + ", " +
                             e.state + "): wait for it, or cancel it first");
    std::vector<int> chunks = IncompleteChunks(job);
    if (!dryRun)
        for (int c : chunks) {
            std::error_code ec;
            fs::remove(AttemptPath(job, c), ec);
        }
    SubmitChunks(job, chunks, engine, dryRun);
    return kExitOk;
}

int FarmTask(const std::string& dir, int chunk, Effect& effect) {
    FarmJob job = LoadJob(dir);
    if (chunk < 0 || chunk >= int(job.chunks.size()))
        throw UsageError("farm task: the job has chunks 0 to " +
                         std::to_string(int(job.chunks.size()) - 1) + ", not " +
                         std::to_string(chunk));
    ChunkAttempt attempt;
    attempt.state = "running";
    attempt.host = HostName();
    attempt.pid = int(getpid());
    attempt.start = Now();
    WriteAttempt(job, chunk, attempt);

    auto fail = [&](int code, const std::string& message, int frame) {
        attempt.state = "failed";
        attempt.message = message;
        attempt.frame = frame;
        attempt.end = Now();
        WriteAttempt(job, chunk, attempt);
        return ToolError(code, message);
    };
    try {
        effect.SetSequenceRecord(job.record);
        const std::vector<int> frames = job.ChunkFrames(chunk);
        const std::vector<bool> done = VerifiedFrames(job, chunk);
        for (size_t i = 0; i < frames.size();) {
            if (done[i]) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j + 1 < frames.size() && !done[j + 1])
                ++j;
            const KeyResult r = RenderRun(job, chunk, frames[i], frames[j], effect);
            if (r.status != kExitOk)
                throw fail(r.status,
                           "frame " + std::to_string(r.messageFrame) +
                               ": the effect reports: " + r.message,
                           r.messageFrame);
            i = j + 1;
        }
    } catch (const ToolError& e) {
        if (attempt.state == "failed") throw;
        throw fail(e.code(), e.what(), 0);
    } catch (const std::exception& e) {
        throw fail(kExitFailure, e.what(), 0);
    }
    attempt.state = "done";
    attempt.end = Now();
    WriteAttempt(job, chunk, attempt);
    std::fprintf(stderr, "orvo farm: chunk %d (frames %s) done on %s\n", chunk,
                 RangeText(job.chunks[chunk].first, job.chunks[chunk].last).c_str(),
                 attempt.host.c_str());
    return kExitOk;
}

int FarmAssemble(const std::string& dir) {
    FarmJob job = LoadJob(dir);
    auto fail = [&](const std::string& message) {
        WriteTextFile(
            job.Path("assembly.json"),
            json{{"state", "failed"}, {"message", message}, {"time", Now()}}.dump() + "\n");
        return Failure(message);
    };
    std::string missing;
    for (int c = 0; c < int(job.chunks.size()); ++c) {
        std::vector<bool> done = VerifiedFrames(job, c);
        if (std::find(done.begin(), done.end(), false) != done.end())
            missing += (missing.empty() ? "" : ", ") + std::to_string(c);
    }
    if (!missing.empty())
        throw fail("frames missing or changed in chunks " + missing + ": orvo farm resume " +
                   job.dir);
    if (job.video) {
        std::unique_ptr<Sink> sink = OpenSink(job.output, job.rate);
        try {
            Frame frame;
            for (int n : job.frames) {
                frame = ReadImage(job.FrameFile(n), FrameRole::kColour);
                sink->Write(n, frame);
            }
            sink->Finish();
        } catch (const std::exception& e) {
            std::string note = sink->Abandon();
            throw fail(std::string("encoding \"") + job.output + "\" failed: " + e.what() +
                       (note.empty() ? "" : "; " + note));
        }
        // The output is complete: its intermediate frames go.
        for (int n : job.frames) {
            std::error_code ec;
            fs::remove(job.FrameFile(n), ec);
        }
    }
    RemoveStaleTemporaries(job);
    WriteTextFile(job.Path("assembly.json"), json{{"state", "done"},
                                                        {"output", job.output},
                                                        {"frames", job.frames.size()},
                                                        {"time", Now()}}
                                                           .dump() +
                                                       "\n");
    std::fprintf(stderr, "orvo farm: %s complete (%zu frames)\n", job.output.c_str(),
                 job.frames.size());
    return kExitOk;
}

} // namespace orvo
