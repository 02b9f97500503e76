#include "serial/socket_port.h"

#include <utility>

#include "core/line/port_address.h"

namespace kx::serial {

SocketPort::SocketPort(PortPaths paths, std::string peer, QObject* parent)
    : LinePort(std::move(paths), parent), peer_(std::move(peer)) {
  connect(&socket_, &QTcpSocket::readyRead, this, &SocketPort::OnReadyRead);
  connect(&socket_, &QTcpSocket::disconnected, this, &SocketPort::OnConnectionLost);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &SocketPort::OnConnectionLost);
}

SocketPort::~SocketPort() {
  socket_.disconnect(this);
  socket_.abort();
}

bool SocketPort::Connect(std::string& error) {
  socket_.abort();
  const auto address = ParsePortAddress(MappedPath());
  if (!address || address->transport == LineTransport::Device) {
    error = "not a network address of the form " + std::string(kNetworkForms) + ".";
    return false;
  }
  socket_.connectToHost(QString::fromStdString(address->host), address->port);
  if (!socket_.waitForConnected(kConnectTimeoutMs)) {
    error = socket_.errorString().toStdString() + ".";
    socket_.abort();
    return false;
  }
  socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  return true;
}

void SocketPort::CloseLine() {
  if (socket_.state() == QAbstractSocket::UnconnectedState) return;
  // What was written goes out before the connection ends.
  socket_.disconnectFromHost();
}

void SocketPort::Send(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || socket_.state() != QAbstractSocket::ConnectedState) return;
  socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void SocketPort::OnReadyRead() {
  const QByteArray raw = socket_.readAll();
  FromSocket(std::span(reinterpret_cast<const std::uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size())));
}

void SocketPort::OnConnectionLost() {
  if (!IsOpen()) return;
  LineLost(LineName() + " was disconnected: the network connection to the " + peer_ + " was lost (" +
           socket_.errorString().toStdString() + ").");
}

void SocketPort::Broken(const std::string& what) {
  if (!IsOpen()) return;
  // The connection ends when the port closes (from the event loop: this may
  // run inside the socket's own signal).
  LineLost(LineName() + " was disconnected: " + what);
}

}  // namespace kx::serial
