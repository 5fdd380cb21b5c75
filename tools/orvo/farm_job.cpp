#include "farm_job.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "errors.h"
#include "files.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace orvo {

namespace {

constexpr int kJobFormat = 1;

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

bool FromHex(const std::string& s, std::vector<uint8_t>* out) {
    if (s.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (char c : s.substr(i, 2)) {
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out->push_back(uint8_t(v));
    }
    return true;
}

json KeyToJson(const KeyOptions& k) {
    return json{{"fg", k.fg},         {"bg", k.bg},
                {"key_in", k.keyIn},  {"out", k.out},
                {"show", k.show},     {"draft", k.draft},
                {"sets", k.sets},     {"preset", k.preset},
                {"frames", k.frames}, {"resolution", k.resolution},
                {"bg_fit", k.bgFit}};
}

KeyOptions KeyFromJson(const json& j) {
    KeyOptions k;
    k.fg = j.at("fg").get<std::string>();
    k.bg = j.at("bg").get<std::string>();
    k.keyIn = j.at("key_in").get<std::string>();
    k.out = j.at("out").get<std::string>();
    k.show = j.at("show").get<std::string>();
    k.draft = j.at("draft").get<bool>();
    k.sets = j.at("sets").get<std::vector<std::string>>();
    k.preset = j.at("preset").get<std::string>();
    k.frames = j.at("frames").get<std::string>();
    k.resolution = j.at("resolution").get<std::string>();
    k.bgFit = j.at("bg_fit").get<std::string>();
    return k;
}

// A parameter value as it is held, field for field, so a task gets it exactly.
json ValueToJson(const ParamValue& v) {
    return json{v.value, v.colour[0], v.colour[1], v.colour[2], v.colour[3],
                v.x,     v.y,         v.pointSet,  v.given};
}

ParamValue ValueFromJson(const json& j) {
    if (!j.is_array() || j.size() != 9) throw std::runtime_error("a parameter value is damaged");
    ParamValue v;
    v.value = j.at(0).get<int32_t>();
    for (int c = 0; c < 4; ++c)
        v.colour[c] = j.at(1 + c).get<uint8_t>();
    v.x = j.at(5).get<double>();
    v.y = j.at(6).get<double>();
    v.pointSet = j.at(7).get<bool>();
    v.given = j.at(8).get<bool>();
    return v;
}

json ReadJsonFile(const std::string& path, bool* found) {
    std::ifstream in(path);
    *found = bool(in);
    if (!in) return json();
    std::stringstream ss;
    ss << in.rdbuf();
    return json::parse(ss.str(), nullptr, false);
}

} // namespace

std::string FarmJob::FrameFile(int number) const {
    return FramePath(target, number);
}

const FarmSubmission* FarmJob::LastSubmissionOf(int id) const {
    for (auto s = submissions.rbegin(); s != submissions.rend(); ++s)
        if (std::find(s->chunks.begin(), s->chunks.end(), id) != s->chunks.end()) return &*s;
    return nullptr;
}

std::vector<int> FarmJob::ChunkFrames(int id) const {
    std::vector<int> out;
    if (id < 0 || id >= int(chunks.size())) return out;
    for (int n = chunks[id].first; n <= chunks[id].last; ++n)
        out.push_back(n);
    return out;
}

int DefaultChunkSize(int frames) {
    const int forHundredTasks = (frames + 99) / 100;
    return std::max(1, std::min(frames, std::max(4, forHundredTasks)));
}

std::vector<FarmChunk> SplitChunks(const std::vector<int>& frames, int size) {
    std::vector<FarmChunk> out;
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool extend =
            !out.empty() && frames[i] == out.back().last + 1 && out.back().count() < size;
        if (extend)
            out.back().last = frames[i];
        else
            out.push_back({frames[i], frames[i]});
    }
    return out;
}

json JobToJson(const FarmJob& job) {
    json chunks = json::array();
    for (const FarmChunk& c : job.chunks)
        chunks.push_back({c.first, c.last});
    json values = json::array();
    for (const ParamValue& v : job.values)
        values.push_back(ValueToJson(v));
    json subs = json::array();
    for (const FarmSubmission& s : job.submissions)
        subs.push_back({{"time", s.time},
                        {"array", s.arrayId},
                        {"assembly", s.assemblyId},
                        {"chunks", s.chunks}});
    return json{{"orvo_farm_job", kJobFormat},
                {"name", job.name},
                {"key", KeyToJson(job.key)},
                {"output", job.output},
                {"video", job.video},
                {"target", job.target},
                {"rate", job.rate},
                {"frames", job.frames},
                {"chunks", chunks},
                {"width", job.width},
                {"height", job.height},
                {"values", values},
                {"sequence_record", Hex(job.record)},
                {"orvo", job.orvo},
                {"partition", job.partition},
                {"sbatch", job.sbatch},
                {"submissions", subs}};
}

FarmJob JobFromJson(const json& j, const std::string& where) {
    if (!j.is_object() || j.value("orvo_farm_job", 0) != kJobFormat)
        throw UsageError("\"" + where + "\" is not a job description of this orvo");
    FarmJob job;
    try {
        job.name = j.at("name").get<std::string>();
        job.key = KeyFromJson(j.at("key"));
        job.output = j.at("output").get<std::string>();
        job.video = j.at("video").get<bool>();
        job.target = j.at("target").get<std::string>();
        job.rate = j.at("rate").get<std::string>();
        job.frames = j.at("frames").get<std::vector<int>>();
        for (const json& c : j.at("chunks")) {
            FarmChunk k{c.at(0).get<int>(), c.at(1).get<int>()};
            if (k.first > k.last) throw std::runtime_error("a chunk ends before it starts");
            job.chunks.push_back(k);
        }
        job.width = j.at("width").get<int>();
        job.height = j.at("height").get<int>();
        for (const json& v : j.at("values"))
            job.values.push_back(ValueFromJson(v));
        if (!FromHex(j.at("sequence_record").get<std::string>(), &job.record))
            throw std::runtime_error("the sequence record is not hex");
        job.orvo = j.at("orvo").get<std::string>();
        job.partition = j.at("partition").get<std::string>();
        job.sbatch = j.at("sbatch").get<std::vector<std::string>>();
        for (const json& s : j.at("submissions")) {
            FarmSubmission f;
            f.time = s.at("time").get<double>();
            f.arrayId = s.at("array").get<std::string>();
            f.assemblyId = s.at("assembly").get<std::string>();
            f.chunks = s.at("chunks").get<std::vector<int>>();
            for (int c : f.chunks)
                if (c < 0 || c >= int(job.chunks.size()))
                    throw std::runtime_error("a submission names chunk " + std::to_string(c));
            job.submissions.push_back(f);
        }
    } catch (const std::exception& e) {
        throw UsageError("\"" + where + "\" is damaged: " + e.what());
    }
    return job;
}

FarmJob LoadJob(const std::string& dir) {
    const std::string path = dir + "/job.json";
    bool found = false;
    json j = ReadJsonFile(path, &found);
    if (!found) throw UsageError("\"" + dir + "\" holds no farm job (no job.json)");
    if (j.is_discarded()) throw UsageError("\"" + path + "\" is damaged: not valid JSON");
    FarmJob job = JobFromJson(j, path);
    std::error_code ec;
    job.dir = fs::absolute(dir, ec).lexically_normal().string();
    while (job.dir.size() > 1 && job.dir.back() == '/')
        job.dir.pop_back();
    return job;
}

void SaveJob(const FarmJob& job) {
    WriteTextFile(job.Path("job.json"), JobToJson(job).dump(1) + "\n");
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::string why;
    if (!WriteFileAtomically(path, text.data(), text.size(), &why))
        throw Failure("cannot write \"" + path + "\": " + why);
}

std::string FileChecksum(const std::string& path, uint64_t* size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    uint64_t h = 0xcbf29ce484222325ull;
    uint64_t n = 0;
    char buf[1 << 16];
    while (in) {
        in.read(buf, sizeof buf);
        const std::streamsize got = in.gcount();
        for (std::streamsize i = 0; i < got; ++i) {
            h ^= uint8_t(buf[i]);
            h *= 0x100000001b3ull;
        }
        n += uint64_t(got);
    }
    if (in.bad()) return "";
    if (size) *size = n;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string RecordPath(const FarmJob& job, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "records/%08d.json", frame);
    return job.Path(name);
}

void WriteRecord(const FarmJob& job, const FrameRecord& r) {
    json j{{"frame", r.frame},
           {"result", r.ok ? "ok" : "failed"},
           {"chunk", r.chunk},
           {"time", r.seconds}};
    if (r.ok) {
        j["file"] = r.file;
        j["size"] = r.size;
        j["fnv1a64"] = r.checksum;
    } else {
        j["message"] = r.message;
    }
    WriteTextFile(RecordPath(job, r.frame), j.dump() + "\n");
}

bool ReadRecord(const FarmJob& job, int frame, FrameRecord* r) {
    bool found = false;
    json j = ReadJsonFile(RecordPath(job, frame), &found);
    if (!found || !j.is_object()) return false;
    try {
        *r = FrameRecord();
        r->frame = j.at("frame").get<int>();
        r->ok = j.at("result").get<std::string>() == "ok";
        r->chunk = j.value("chunk", -1);
        r->seconds = j.value("time", 0.0);
        if (r->ok) {
            r->file = j.at("file").get<std::string>();
            r->size = j.at("size").get<uint64_t>();
            r->checksum = j.at("fnv1a64").get<std::string>();
        } else {
            r->message = j.value("message", "");
        }
    } catch (const std::exception&) {
        return false;
    }
    return r->frame == frame;
}

bool FrameVerified(const FarmJob& job, int frame, const FrameRecord& r) {
    if (!r.ok || r.frame != frame || r.file != job.FrameFile(frame)) return false;
    uint64_t size = 0;
    const std::string sum = FileChecksum(r.file, &size);
    return !sum.empty() && sum == r.checksum && size == r.size;
}

std::string AttemptPath(const FarmJob& job, int chunk) {
    return job.Path("chunks/" + std::to_string(chunk) + ".json");
}

void WriteAttempt(const FarmJob& job, int chunk, const ChunkAttempt& a) {
    json j{{"state", a.state}, {"host", a.host}, {"pid", a.pid},     {"log", a.log},
           {"start", a.start}, {"end", a.end},   {"frame", a.frame}, {"message", a.message}};
    WriteTextFile(AttemptPath(job, chunk), j.dump() + "\n");
}

bool ReadAttempt(const FarmJob& job, int chunk, ChunkAttempt* a) {
    bool found = false;
    json j = ReadJsonFile(AttemptPath(job, chunk), &found);
    if (!found || !j.is_object()) return false;
    try {
        a->state = j.at("state").get<std::string>();
        a->host = j.value("host", "");
        a->pid = j.value("pid", 0);
        a->log = j.value("log", "");
        a->start = j.value("start", 0.0);
        a->end = j.value("end", 0.0);
        a->frame = j.value("frame", 0);
        a->message = j.value("message", "");
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

const char* ChunkStateName(ChunkState s) {
    switch (s) {
    case ChunkState::kDone:
        return "done";
    case ChunkState::kRunning:
        return "running";
    case ChunkState::kPending:
        return "pending";
    case ChunkState::kFailed:
        return "failed";
    case ChunkState::kNotSubmitted:
        return "not submitted";
    }
    return "?";
}

ChunkStatus ClassifyChunk(int framesDone, int framesTotal, const QueueEntry* queued,
                          const ChunkAttempt* attempt, bool submitted) {
    ChunkStatus s;
    if (framesDone >= framesTotal) {
        s.state = ChunkState::kDone;
        return s;
    }
    const bool taskFailed = attempt && attempt->state == "failed";
    if (queued && queued->phase == QueuePhase::kPending) {
        s.state = ChunkState::kPending;
        return s;
    }
    if (queued && queued->phase == QueuePhase::kRunning && !taskFailed) {
        s.state = ChunkState::kRunning;
        return s;
    }
    if (!submitted) return s;
    s.state = ChunkState::kFailed;
    if (taskFailed) {
        s.why = attempt->message;
        s.frame = attempt->frame;
    } else if (queued && queued->phase == QueuePhase::kFailed) {
        s.why = "the task ended " + queued->state +
                (attempt ? " after " + std::to_string(framesDone) + " of " +
                               std::to_string(framesTotal) + " frames"
                         : " before it started");
    } else if (attempt && attempt->state == "running") {
        s.why = "the task stopped after " + std::to_string(framesDone) + " of " +
                std::to_string(framesTotal) + " frames (killed, or its node was lost)";
    } else if (attempt) {
        s.why = "frames of the chunk are missing or changed since the task recorded them";
    } else {
        s.why = "the task ended without starting (cancelled?)";
    }
    return s;
}

} // namespace orvo
