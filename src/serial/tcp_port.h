// A serial line behind a transparent TCP server ("tcp://host:port"): the
// frames go over the connection exactly as on the wire. The line's baud rate,
// parity, data and stop bits are set on the server; the program's settings
// are accepted and not passed on.
#pragma once

#include "serial/socket_port.h"

namespace kx::serial {

class TcpPort : public SocketPort {
  Q_OBJECT

 public:
  explicit TcpPort(PortPaths paths, QObject* parent = nullptr);

 protected:
  bool OpenLine(std::string& error) override { return Connect(error); }
  bool ApplySetting(LineSetting, std::string&) override { return true; }
  void WriteLine(std::span<const std::uint8_t> data) override { Send(data); }
  void PurgeLine() override;
  void FromSocket(std::span<const std::uint8_t> bytes) override { Received(bytes); }
};

}  // namespace kx::serial
