#include "serial/tcp_port.h"

#include <utility>

namespace kx::serial {

TcpPort::TcpPort(PortPaths paths, QObject* parent) : SocketPort(std::move(paths), "device server", parent) {}

// Only what this end holds can be dropped; the server's buffer is out of reach.
void TcpPort::PurgeLine() { socket_.readAll(); }

}  // namespace kx::serial
