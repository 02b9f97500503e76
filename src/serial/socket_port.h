// What the lines reached over a TCP connection share: the connection to the
// path's host and port, made when the port opens (blocking the caller at most
// kConnectTimeoutMs, as opening a local device does, so a refused or
// unreachable address is a clear error, never a hang), closed when it closes,
// and a lost connection told once, after which the port is closed and the
// next opening connects again.
#pragma once

#include <QTcpSocket>

#include <span>
#include <string>

#include "serial/line_port.h"

namespace kx::serial {

class SocketPort : public LinePort {
  Q_OBJECT

 public:
  static constexpr int kConnectTimeoutMs = 3000;

  ~SocketPort() override;

 protected:
  // `peer` names the far end in messages ("device server", "Modbus TCP gateway").
  SocketPort(PortPaths paths, std::string peer, QObject* parent);

  // Connects to the host and port of the mapped path. On failure fills `error`.
  bool Connect(std::string& error);
  void CloseLine() override;

  // Writes bytes as they are to the connection (nothing while it is not up).
  void Send(std::span<const std::uint8_t> bytes);
  // Bytes the connection brought.
  virtual void FromSocket(std::span<const std::uint8_t> bytes) = 0;
  // The far end broke the protocol: the connection is dropped and the port
  // closed, with `what` in the message.
  void Broken(const std::string& what);

  QTcpSocket socket_;

 private:
  void OnReadyRead();
  void OnConnectionLost();

  std::string peer_;
};

}  // namespace kx::serial
