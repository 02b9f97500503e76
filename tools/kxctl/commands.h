// The jobs of the commands.
#pragma once

#include <memory>

#include "kxctl/command_line.h"
#include "kxctl/job.h"
#include "kxctl/line.h"

namespace kxctl {

// The job for a parsed command on an open line.
std::unique_ptr<Job> MakeJob(const CommandArgs& args, const JobContext& context);

}  // namespace kxctl
