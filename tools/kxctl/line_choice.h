// Which port kxctl opens and at which line format: --port and --line, else the
// settings file in the working directory, else COM1 at 9600-7E1-ascii. COM
// names are mapped to devices as the program maps them (KXCOMM_PORTS or the
// default rule); a device path or an rfc2217:// address is opened as it is.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "core/comset/bus_search.h"
#include "core/line/session.h"
#include "kxctl/command_line.h"
#include "serial/line_port.h"

namespace kxctl {

struct LineChoice {
  kx::serial::PortPaths paths{};  // the port map the port object opens through
  int com = 1;                    // COM number selected in that map
  std::string portName;           // how messages name the port: "COM3" or the path given
  LineFormat format;
};

// `activePorts` is the program's port map (serial::ActivePortPaths()); it is
// consulted only for COM names. Fails with the program's message when the COM
// port named is not present.
std::variant<LineChoice, std::string> ChooseLine(const GlobalOptions& options, const std::string& workDir,
                                                 const kx::serial::PortPaths& activePorts);

// Conversions from a format to the core's forms (the other way round is
// kx::LineFormatOf, of port parameters or of the search's five digits).
kx::PortParams ParamsOfFormat(const LineFormat& format, int com);
kx::PresetFormat SearchFormatOf(const LineFormat& format);

}  // namespace kxctl
