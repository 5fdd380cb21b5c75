// What `orvo farm` asks of a batch scheduler: run a job's chunks as an array
// of tasks and the assembly after them, show its queue, cancel. One file per
// scheduler implements it (slurm.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "farm_job.h"

namespace orvo {

struct FarmSubmitResult {
    std::string arrayId, assemblyId;   // empty for a dry run
    std::vector<std::string> commands; // the submission commands, as a shell would run them
};

class FarmEngine {
  public:
    virtual ~FarmEngine() = default;
    // Writes the batch scripts into the job folder and submits one array task
    // per chunk id in `chunks` (none: the assembly alone) and the assembly,
    // which runs once all of them have ended, however they end. With `dryRun`
    // it writes everything and submits nothing. Throws a failure naming the
    // command when the scheduler refuses.
    virtual FarmSubmitResult Submit(const FarmJob& job, const std::vector<int>& chunks,
                                    bool dryRun) = 0;
    // The job's tasks and assemblies the scheduler still knows, finished ones
    // included while it keeps them. Throws a failure when it cannot be asked.
    virtual std::vector<QueueEntry> Queue(const FarmJob& job) = 0;
    // Cancels jobs by id (failures are ignored: they may have ended).
    virtual void Cancel(const std::vector<std::string>& ids) = 0;
    // Where the log of a task of `arrayId`, or of the assembly job, is written.
    virtual std::string TaskLog(const FarmJob& job, const std::string& arrayId,
                                int chunk) const = 0;
    virtual std::string AssemblyLog(const FarmJob& job, const std::string& jobId) const = 0;
};

std::unique_ptr<FarmEngine> MakeSlurmEngine();

} // namespace orvo
