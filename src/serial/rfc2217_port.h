// A serial line behind a device server on the network, reached over TCP with
// Telnet and the COM Port Control Option (RFC 2217). The line settings travel
// with the data: they are sent when the port opens and again at every change,
// so the far line always runs with the settings the program made.
//
// Opening connects (at most kConnectTimeoutMs) and waits for the server to
// accept the COM Port Control Option (at most kNegotiationTimeoutMs); both
// waits block the caller, as opening a local device does. Afterwards the
// server's replies to settings are accepted but not awaited.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/line/rfc2217.h"
#include "serial/socket_port.h"

namespace kx::serial {

struct NetworkAddress {
  std::string host;
  std::uint16_t port = 0;
};

// "rfc2217://host:port" (an IPv6 host in brackets; a trailing '/' allowed).
// nullopt when malformed.
std::optional<NetworkAddress> ParseRfc2217Url(std::string_view url);

class Rfc2217Port : public SocketPort {
  Q_OBJECT

 public:
  static constexpr int kNegotiationTimeoutMs = 2000;

  explicit Rfc2217Port(PortPaths paths, QObject* parent = nullptr);

 protected:
  bool OpenLine(std::string& error) override;
  bool ApplySetting(LineSetting what, std::string& error) override;
  void WriteLine(std::span<const std::uint8_t> data) override;
  void PurgeLine() override;
  void FromSocket(std::span<const std::uint8_t> bytes) override;

 private:
  void SendControl(rfc2217::ControlCode code);

  rfc2217::Decoder decoder_;
  std::optional<rfc2217::Negotiator> negotiator_;
};

}  // namespace kx::serial
