// The jobs of the commands.
#pragma once

#include <memory>

#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/recorder_types.h"
#include "kxctl/command_line.h"
#include "kxctl/job.h"
#include "kxctl/line.h"

namespace kxctl {

// What a job may use besides the line.
struct JobContext {
  Line& line;
  kx::ComPort& port;                    // the port the line is on
  kx::PortParams params;                // the line's parameters
  kx::recorder::RecorderTimer& timer;   // a repeating timer that calls Job::TimerFired
};

// The job for a parsed command on an open line.
std::unique_ptr<Job> MakeJob(const CommandArgs& args, const JobContext& context);

}  // namespace kxctl
