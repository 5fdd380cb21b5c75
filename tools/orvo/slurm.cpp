// The farm on Slurm: batch scripts in the job folder, a job array of chunk
// tasks through sbatch, the assembly as a job depending on the whole array,
// the queue through squeue (no accounting needed), cancelling through scancel.
#include <cstdlib>
#include <sstream>

#include "errors.h"
#include "farm_engine.h"
#include "subprocess.h"

namespace orvo {

namespace {

// The word as a POSIX shell reads it back: single-quoted unless plain.
std::string ShellWord(const std::string& s) {
    bool plain = !s.empty();
    for (char c : s)
        if (!(isalnum(static_cast<unsigned char>(c)) ||
              std::string("/._-=:,%+@").find(c) != std::string::npos))
            plain = false;
    if (plain) return s;
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string CommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& a : argv)
        line += (line.empty() ? "" : " ") + ShellWord(a);
    return line;
}

// "0-5,7,9-11" for the indices 0..5, 7, 9..11 (sorted, distinct).
std::string ArrayRanges(const std::vector<int>& ids) {
    std::string ranges;
    for (size_t i = 0; i < ids.size();) {
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1)
            ++j;
        ranges += (ranges.empty() ? "" : ",") + std::to_string(ids[i]);
        if (j > i) ranges += "-" + std::to_string(ids[j]);
        i = j + 1;
    }
    return ranges;
}

QueuePhase PhaseOf(const std::string& state) {
    for (const char* s : {"PENDING", "REQUEUED", "REQUEUE_HOLD", "REQUEUE_FED", "RESV_DEL_HOLD"})
        if (state == s) return QueuePhase::kPending;
    for (const char* s : {"RUNNING", "CONFIGURING", "COMPLETING", "STAGE_OUT", "SIGNALING",
                          "RESIZING", "SUSPENDED", "STOPPED"})
        if (state == s) return QueuePhase::kRunning;
    if (state == "COMPLETED") return QueuePhase::kCompleted;
    return QueuePhase::kFailed; // FAILED, CANCELLED, TIMEOUT, NODE_FAIL, OUT_OF_MEMORY, ...
}

class SlurmEngine : public FarmEngine {
  public:
    FarmSubmitResult Submit(const FarmJob& job, const std::vector<int>& chunks,
                            bool dryRun) override {
        const std::string taskScript = job.Path("scripts/task.sh");
        const std::string assemblyScript = job.Path("scripts/assemble.sh");
        WriteScript(taskScript,
                    "One chunk of the orvo farm job in this folder; the array index "
                    "is the chunk.",
                    CommandLine({job.orvo, "farm", "task", job.dir}) + " \"$SLURM_ARRAY_TASK_ID\"");
        WriteScript(assemblyScript, "The assembly of the orvo farm job in this folder.",
                    CommandLine({job.orvo, "farm", "assemble", job.dir}));

        FarmSubmitResult result;
        const std::vector<std::string> common = Common(job);
        std::string arrayId = dryRun ? "<array job id>" : "";
        if (!chunks.empty()) {
            std::vector<std::string> argv = {"sbatch", "--parsable"};
            argv.insert(argv.end(), common.begin(), common.end());
            argv.push_back("--array=" + ArrayRanges(chunks));
            argv.push_back("--output=" + job.Path("logs/task-%A_%a.log"));
            argv.push_back(taskScript);
            result.commands.push_back(CommandLine(argv));
            if (!dryRun) arrayId = result.arrayId = Run(argv);
        }
        std::vector<std::string> argv = {"sbatch", "--parsable"};
        argv.insert(argv.end(), common.begin(), common.end());
        if (!chunks.empty()) argv.push_back("--dependency=afterany:" + arrayId);
        argv.push_back("--output=" + job.Path("logs/assembly-%j.log"));
        argv.push_back(assemblyScript);
        result.commands.push_back(CommandLine(argv));
        if (!dryRun) {
            try {
                result.assemblyId = Run(argv);
            } catch (const ToolError&) {
                if (!result.arrayId.empty()) Cancel({result.arrayId});
                throw;
            }
        }
        return result;
    }

    std::vector<QueueEntry> Queue(const FarmJob& job) override {
        std::string out, err;
        const std::vector<std::string> argv = {
            "squeue",       "--noheader",         "--array",
            "--states=all", "--name=" + job.name, "--format=%i|%T|%N|%r"};
        const int status = RunCapture(argv, &out, &err);
        if (status != 0)
            throw Failure("cannot read the Slurm queue (" + CommandLine(argv) +
                          "): " + (err.empty() ? "exit status " + std::to_string(status) : err));
        std::vector<QueueEntry> entries;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            std::string field;
            while (std::getline(fields, field, '|'))
                f.push_back(field);
            if (f.size() < 2) continue;
            QueueEntry e;
            const std::string id = f[0];
            const size_t us = id.find('_');
            e.jobId = id.substr(0, us);
            if (us != std::string::npos) {
                const std::string index = id.substr(us + 1);
                if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos)
                    continue; // a range of tasks not started yet: --array lists them one by one
                e.arrayIndex = std::atoi(index.c_str());
            }
            e.state = f[1];
            e.phase = PhaseOf(e.state);
            if (f.size() > 2) e.node = f[2];
            if (f.size() > 3) e.reason = f[3];
            entries.push_back(e);
        }
        return entries;
    }

    void Cancel(const std::vector<std::string>& ids) override {
        if (ids.empty()) return;
        std::vector<std::string> argv = {"scancel"};
        argv.insert(argv.end(), ids.begin(), ids.end());
        std::string out, err;
        RunCapture(argv, &out, &err);
    }

    std::string TaskLog(const FarmJob& job, const std::string& arrayId, int chunk) const override {
        return job.Path("logs/task-" + arrayId + "_" + std::to_string(chunk) + ".log");
    }
    std::string AssemblyLog(const FarmJob& job, const std::string& jobId) const override {
        return job.Path("logs/assembly-" + jobId + ".log");
    }

  private:
    static std::vector<std::string> Common(const FarmJob& job) {
        std::vector<std::string> argv = {"--job-name=" + job.name, "--chdir=" + job.dir};
        if (!job.partition.empty()) argv.push_back("--partition=" + job.partition);
        argv.insert(argv.end(), job.sbatch.begin(), job.sbatch.end());
        return argv;
    }

    static void WriteScript(const std::string& path, const std::string& what,
                            const std::string& command) {
        WriteTextFile(path, "#!/bin/sh\n# " + what + "\nexec " + command + "\n");
    }

    // Runs sbatch; returns the job id it printed.
    static std::string Run(const std::vector<std::string>& argv) {
        std::string out, err;
        const int status = RunCapture(argv, &out, &err);
        std::string id = out.substr(0, out.find_first_of(";\n"));
        if (status != 0 || id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
            throw Failure("sbatch refused the job (" + CommandLine(argv) +
                          "): " + (err.empty() ? "exit status " + std::to_string(status) : err));
        return id;
    }
};

} // namespace

std::unique_ptr<FarmEngine> MakeSlurmEngine() {
    return std::make_unique<SlurmEngine>();
}

} // namespace orvo
