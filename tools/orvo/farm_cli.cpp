#include "farm_cli.h"

#include "effect.h"
#include "errors.h"

namespace orvo {

FarmCommand::FarmCommand(CLI::App* app, void (*addKeyOptions)(CLI::App*, KeyOptions*)) {
    farm_ = app->add_subcommand("farm", "render a shot on a Slurm cluster, chunk by chunk");
    farm_->require_subcommand(1);

    submit_ = farm_->add_subcommand("submit", "check the shot, write the job folder, submit");
    addKeyOptions(submit_, &submitOptions_.key);
    FarmSubmitOptions& s = submitOptions_;
    submit_->add_option("--job-dir", s.jobDir, "new folder on the shared filesystem for the job")
        ->required();
    submit_->add_option("--chunk", s.chunk, "frames per task (default: from the frame count)");
    submit_->add_option("--partition", s.partition, "Slurm partition");
    submit_->add_option("--sbatch", s.sbatch, "argument passed to sbatch (repeatable)")
        ->allow_extra_args(false);
    submit_->add_option("--orvo", s.orvo, "the orvo program on the nodes (default: this one)");
    submit_->add_flag("--dry-run", s.dryRun, "write the job folder, print the sbatch lines only");

    status_ = farm_->add_subcommand("status", "chunks done, running, pending, failed; speed");
    status_->add_option("dir", dir_, "job folder")->required();
    wait_ = farm_->add_subcommand("wait", "wait for the job: exit 0 when the output is complete");
    wait_->add_option("dir", dir_, "job folder")->required();
    wait_->add_option("--interval", interval_, "seconds between looks at the queue");
    resume_ = farm_->add_subcommand("resume", "submit the chunks not complete, and the assembly");
    resume_->add_option("dir", dir_, "job folder")->required();
    resume_->add_flag("--dry-run", dryRun_, "print the sbatch lines only");
    task_ = farm_->add_subcommand("task", "(on a node) render one chunk of a job");
    task_->add_option("dir", dir_, "job folder")->required();
    task_->add_option("chunk", chunk_, "chunk number")->required();
    assemble_ = farm_->add_subcommand("assemble", "(on a node) check and finish the output");
    assemble_->add_option("dir", dir_, "job folder")->required();
}

int FarmCommand::Run() {
    std::unique_ptr<FarmEngine> engine = MakeSlurmEngine();
    if (submit_->parsed()) {
        Effect effect(FindPluginModule());
        return FarmSubmit(submitOptions_, effect, *engine);
    }
    if (status_->parsed()) return FarmStatus(dir_, *engine);
    if (wait_->parsed()) return FarmWait(dir_, *engine, interval_ > 0.05 ? interval_ : 0.05);
    if (resume_->parsed()) return FarmResume(dir_, *engine, dryRun_);
    if (task_->parsed()) {
        Effect effect(FindPluginModule());
        return FarmTask(dir_, chunk_, effect);
    }
    if (assemble_->parsed()) return FarmAssemble(dir_);
    return kExitUsage;
}

} // namespace orvo
