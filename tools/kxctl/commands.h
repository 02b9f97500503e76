// The jobs of the commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/line/port_address.h"
#include "kxctl/command_line.h"
#include "kxctl/job.h"
#include "kxctl/line.h"

namespace kxctl {

// The job for a parsed command on an open line.
std::unique_ptr<Job> MakeJob(const CommandArgs& args, const JobContext& context);

// What a command can do on a line behind a network server, decided before the
// line opens. Over tcp:// and modbus-tcp:// the line's format is the server's:
// a scan searches addresses only (at the line's own format, or the first one
// its --line gives); a flash is refused through a Modbus TCP gateway (the
// loader's frames are not Modbus) and noted over tcp:// (the server must run
// at 38400-8N1). Returns the refusal (empty: none) and adds notes for stderr.
std::string FitToTransport(CommandArgs& args, kx::LineTransport transport, const LineFormat& lineFormat,
                           std::vector<std::string>& notes);

}  // namespace kxctl
