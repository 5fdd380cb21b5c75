// `orvo farm`: a shot split into chunks, rendered as tasks of a batch
// scheduler, and assembled into the same output `orvo key` writes on one
// machine, byte for byte.
#pragma once

#include <string>
#include <vector>

#include "farm_engine.h"
#include "key.h"

namespace orvo {

class Effect;

struct FarmSubmitOptions {
    KeyOptions key;
    std::string jobDir;
    int chunk = 0; // frames per task; 0: DefaultChunkSize
    std::string partition;
    std::vector<std::string> sbatch;
    std::string orvo; // the tool on the nodes; empty: this program
    bool dryRun = false;
};

// Checks the shot as `orvo key` does, renders its first frame here to learn
// the effect's sequence record, writes the job folder and submits the tasks
// and the assembly. `effect` must be freshly set up. Returns the exit status.
int FarmSubmit(const FarmSubmitOptions& options, Effect& effect, FarmEngine& engine);
// Prints chunks done, running, pending and failed, the speed so far, each
// failure with its frame, message and log, and the assembly's state.
int FarmStatus(const std::string& dir, FarmEngine& engine);
// Waits until nothing of the job is queued or running: 0 when the output is
// complete, 1 naming the failed chunks otherwise.
int FarmWait(const std::string& dir, FarmEngine& engine, double intervalSeconds);
// Submits the chunks that are not complete, and the assembly again.
int FarmResume(const std::string& dir, FarmEngine& engine, bool dryRun);

// On a node: renders chunk `chunk`, skipping frames already present with a
// matching record. `effect` must be freshly set up.
int FarmTask(const std::string& dir, int chunk, Effect& effect);
// On a node, after every task: checks every frame; encodes a video output.
int FarmAssemble(const std::string& dir);

} // namespace orvo
