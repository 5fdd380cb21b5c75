// The `orvo farm` subcommands on the command line.
#pragma once

#include <CLI/CLI.hpp>

#include "farm.h"

namespace orvo {

class FarmCommand {
  public:
    // Adds `farm` and its subcommands to `app`; `addKeyOptions` registers every
    // option of `orvo key`, which `farm submit` takes as well.
    FarmCommand(CLI::App* app, void (*addKeyOptions)(CLI::App*, KeyOptions*));
    bool parsed() const { return farm_->parsed(); }
    // Runs the subcommand given; returns the exit status or throws a ToolError.
    int Run();

  private:
    CLI::App* farm_;
    CLI::App *submit_, *status_, *wait_, *resume_, *task_, *assemble_;
    FarmSubmitOptions submitOptions_;
    std::string dir_;
    int chunk_ = -1;
    double interval_ = 2.0;
    bool dryRun_ = false;
};

} // namespace orvo
