// What a COM number's path says about its line where the windows show it: how
// the line is reached (a local device or one of the network servers of
// port_address.h), its name as the user gave it, and what the program may set
// on it and what a server in between sets instead.
#pragma once

#include <string>

#include "core/line/port_address.h"
#include "core/line/session.h"

namespace kx {

// How the line behind COM `comNumber` is reached, as the session maps it; a
// local device for a number without a path or with a path that does not parse.
LineTransport TransportOf(const Session& session, int comNumber);

// The port as shown in texts that name it by number: "3" for a local device,
// "3 (tcp://10.0.0.5:4001)" for a line on the network or one with "?echo",
// the path exactly as given.
std::string PortShown(const Session& session, int comNumber);
// The same with "COM" before it: "COM3", "COM3 (modbus-tcp://10.0.0.7?echo)".
std::string LineName(const Session& session, int comNumber);

// What the program sets on a line. Where it does not, the server in between
// does (a transparent server: the format; a Modbus TCP gateway: the format,
// and the frames on its line are RTU whatever the program's form).
struct LineControl {
  bool format = true;  // baud rate, parity, data and stop bits
  bool form = true;    // ASCII or RTU frames
};
LineControl ControlOf(LineTransport transport);

}  // namespace kx
