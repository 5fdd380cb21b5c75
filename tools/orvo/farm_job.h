// A shot split for a render farm: the job folder's description, the chunks
// that become tasks, the per-frame records the tasks leave, and how a chunk's
// state follows from those records and the scheduler's queue.
//
// Job folder layout (on a filesystem every node sees):
//   job.json              this description (written at submit, updated by resume)
//   params.json           every parameter value of the shot as a preset (for orvo key)
//   scripts/              the batch scripts the scheduler runs
//   logs/                 one log per task attempt and per assembly
//   records/NNNNNNNN.json one per rendered frame: result, file, size, checksum
//   chunks/ID.json        the last attempt of each chunk: host, pid, times, outcome
//   frames/               intermediate frames of a video output (removed when done)
//   assembly.json         written when the output is complete
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "key.h"

namespace orvo {

// A run of consecutive frames rendered by one task: sequence frame numbers,
// or 1-based positions in a video, as `orvo key --frames first-last` takes them.
struct FarmChunk {
    int first = 0, last = 0;
    int count() const { return last - first + 1; }
};

// One submission: the task array (chunk ids as array indices) and the assembly after it.
struct FarmSubmission {
    double time = 0; // seconds since the epoch
    std::string arrayId, assemblyId;
    std::vector<int> chunks;
};

struct FarmJob {
    std::string dir;         // absolute job folder
    std::string name;        // the scheduler's job name, unique to this job folder
    KeyOptions key;          // the shot as `orvo key` takes it, paths absolute
    std::string output;      // the final output (sequence pattern or video)
    bool video = false;      // video output: tasks write intermediate frames, the assembly encodes
    std::string target;      // the pattern tasks write frames to
    std::string rate;        // frame rate of a video output
    std::vector<int> frames; // every frame of the shot, in order
    std::vector<FarmChunk> chunks;
    int width = 0, height = 0;      // full-resolution foreground frame
    std::vector<ParamValue> values; // every parameter, automatic choices included
    std::vector<uint8_t> record;    // the effect's sequence record after the first frame
    std::string orvo;               // the tool on the nodes
    std::string partition;
    std::vector<std::string> sbatch; // extra scheduler arguments, passed through
    std::vector<FarmSubmission> submissions;

    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string ParamsPath() const { return Path("params.json"); }
    // The file a task writes for frame `number`.
    std::string FrameFile(int number) const;
    // The submission that last included chunk `id` (null when never submitted).
    const FarmSubmission* LastSubmissionOf(int id) const;
    // The frame numbers of chunk `id`.
    std::vector<int> ChunkFrames(int id) const;
};

// Frames per task when --chunk is not given: a few frames at least, so the
// start-up of each task (loading the plug-in, opening the inputs) stays
// small beside the rendering, and at most about a hundred tasks per shot.
int DefaultChunkSize(int frames);
// Splits the frames into chunks of at most `size`, never across a gap in the numbers.
std::vector<FarmChunk> SplitChunks(const std::vector<int>& frames, int size);

nlohmann::json JobToJson(const FarmJob& job);
// Throws a usage error naming `where` when the description is not one of ours.
FarmJob JobFromJson(const nlohmann::json& j, const std::string& where);
// The job in `dir` (a usage error when there is none or it is damaged).
FarmJob LoadJob(const std::string& dir);
// Writes job.json atomically.
void SaveJob(const FarmJob& job);

// Writes `text` to `path` atomically (WriteFileAtomically); throws a failure naming it.
void WriteTextFile(const std::string& path, const std::string& text);

// 64-bit FNV-1a of a file's bytes, as 16 hex digits; empty when it cannot be read.
std::string FileChecksum(const std::string& path, uint64_t* size);

// What a task recorded for one frame.
struct FrameRecord {
    int frame = 0;
    bool ok = false;
    std::string file;     // ok: the frame's file
    uint64_t size = 0;    // ok: its size in bytes
    std::string checksum; // ok: FileChecksum of it
    std::string message;  // not ok: why
    int chunk = -1;
    double seconds = 0; // time of the record, seconds since the epoch
};
std::string RecordPath(const FarmJob& job, int frame);
void WriteRecord(const FarmJob& job, const FrameRecord& r);
// False when there is no readable record for the frame.
bool ReadRecord(const FarmJob& job, int frame, FrameRecord* r);
// The frame's file is there and matches its record.
bool FrameVerified(const FarmJob& job, int frame, const FrameRecord& r);

// The last attempt at a chunk, as the task itself wrote it.
struct ChunkAttempt {
    std::string state; // "running", "done", "failed"
    std::string host, log, message;
    int pid = 0, frame = 0; // frame: where a failure happened (0: none)
    double start = 0, end = 0;
};
std::string AttemptPath(const FarmJob& job, int chunk);
void WriteAttempt(const FarmJob& job, int chunk, const ChunkAttempt& a);
bool ReadAttempt(const FarmJob& job, int chunk, ChunkAttempt* a);

// A job or task as the scheduler's queue shows it.
enum class QueuePhase { kPending, kRunning, kCompleted, kFailed };
struct QueueEntry {
    std::string jobId;   // the job, or the array job for a task of an array
    int arrayIndex = -1; // the task's index in its array; -1 for a plain job
    QueuePhase phase = QueuePhase::kPending;
    std::string state; // the scheduler's own word for it ("NODE_FAIL", ...)
    std::string node, reason;
};

enum class ChunkState { kDone, kRunning, kPending, kFailed, kNotSubmitted };
const char* ChunkStateName(ChunkState s);
struct ChunkStatus {
    ChunkState state = ChunkState::kNotSubmitted;
    std::string why; // failed: what happened
    int frame = 0;   // failed: the frame it happened on, when known
};
// The state of one chunk: `framesDone` of `framesTotal` frames recorded; the
// queue's entry for its last submission (null when the queue no longer
// shows it, or was not asked), the task's own last record of the attempt
// (null when it never started) and whether it was ever submitted.
ChunkStatus ClassifyChunk(int framesDone, int framesTotal, const QueueEntry* queued,
                          const ChunkAttempt* attempt, bool submitted);

} // namespace orvo
