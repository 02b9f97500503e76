// Which device each COM number (COM1..COM12) stands for on this machine.
//
// Default rule:
//   - COM1..COM4 are /dev/ttyS0../dev/ttyS3, each only when it has real UART
//     hardware behind it (the kernel lists a device for it and a UART type other
//     than "unknown": /sys/class/tty/ttySn/type is not 0);
//   - then the USB serial adapters /dev/ttyUSB0, /dev/ttyUSB1, ... and then the
//     USB modem-class devices /dev/ttyACM0, /dev/ttyACM1, ..., in numeric order,
//     each taking the lowest COM number still free;
//   - numbers above COM12 are never given; the rest are not present.
// The environment variable KXCOMM_PORTS replaces this rule completely:
//   KXCOMM_PORTS="COM1=/dev/pts/7,COM3=/tmp/line/COM3,COM5=rfc2217://10.0.0.5:4001"
// makes exactly the listed ports present, each opened at its path (symlinks
// are followed; "rfc2217://host:port" is a serial line behind a device server
// speaking RFC 2217, "tcp://host:port" one behind a transparent TCP server,
// "modbus-tcp://host[:port]" the line of a Modbus TCP gateway; any path may
// end in "?echo" for a line that echoes each request). Entries are separated by commas; blanks around names
// and paths are ignored; entries that are malformed or name a port outside
// COM1..COM12 are ignored; a later entry for the same port replaces an earlier
// one. Set but empty, it makes no port present.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/line/comport.h"
#include "core/line/session.h"
#include "serial/line_port.h"

namespace kx::serial {

inline constexpr const char* kPortsVariable = "KXCOMM_PORTS";

// The ports listed in a KXCOMM_PORTS value.
PortPaths ParsePortList(std::string_view text);

// The default rule, looking at `sysClassTty` (normally /sys/class/tty) and
// naming devices under `devDir` (normally /dev).
PortPaths DefaultPortPaths(const std::string& sysClassTty = "/sys/class/tty", const std::string& devDir = "/dev");

// KXCOMM_PORTS when it is set, the default rule otherwise.
PortPaths ActivePortPaths();

// A port object for the windows: opens the path mapped to its COM number,
// a local device or a network line, chosen anew at each opening.
std::unique_ptr<ComPort> MakeMappedPort(const PortPaths& paths);

// Fills session.portPresent and session.portPath from ActivePortPaths() and
// makes session.makePort create port objects that use that mapping.
void ConfigurePorts(Session& session);

// Same, with a given mapping.
void ConfigurePorts(Session& session, const PortPaths& paths);

}  // namespace kx::serial
