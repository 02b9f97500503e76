// What a port path names: a local serial device, or a line reached over the
// network. The network forms:
//   rfc2217://HOST:PORT      a device server speaking RFC 2217 (the program
//                            sets the far line's format);
//   tcp://HOST:PORT          a transparent TCP server: frames go over the
//                            connection as on the wire, the line format is set
//                            on the server;
//   modbus-tcp://HOST[:PORT] a Modbus TCP gateway (port 502 unless given): each
//                            request travels as an MBAP frame, the gateway
//                            speaks RTU on its line.
// A host may be an IPv6 address in brackets; a trailing '/' is allowed. Any
// path may end in "?echo": the line echoes each request (a two-wire converter
// that hears its own transmitter), and the echo is dropped before the answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/line/comport.h"

namespace kx {

enum class LineTransport { Device, Rfc2217, Tcp, ModbusTcp };

struct PortAddress {
  LineTransport transport = LineTransport::Device;
  std::string device;  // the device path (Device only)
  std::string host;    // network forms
  std::uint16_t port = 0;
  bool echo = false;
};

inline constexpr std::string_view kEchoSuffix = "?echo";

// The address a path names; nullopt for a path with a network scheme that is
// malformed (no host, a bad port) or an empty one.
std::optional<PortAddress> ParsePortAddress(std::string_view path);

// True when the path starts with one of the network schemes (whether or not
// the rest is well formed).
bool IsNetworkPath(std::string_view path);

// Where the line's baud rate, parity, data and stop bits are set on the
// server, not by the program.
constexpr bool FormatIsServers(LineTransport t) { return t == LineTransport::Tcp || t == LineTransport::ModbusTcp; }

// What a line at this address does to the traffic (echoes, network).
LineTraits TraitsOf(const PortAddress& address);
// The same for a path; a malformed path has no traits.
LineTraits TraitsOfPath(std::string_view path);

// "tcp://HOST:PORT, modbus-tcp://HOST[:PORT] or rfc2217://HOST:PORT": the forms
// as usage texts name them.
inline constexpr std::string_view kNetworkForms = "rfc2217://HOST:PORT, tcp://HOST:PORT or modbus-tcp://HOST[:PORT]";

}  // namespace kx
