#include "serial/rfc2217_port.h"

#include "core/line/port_address.h"

#include <QDeadlineTimer>

#include <charconv>
#include <utility>
#include <vector>

namespace kx::serial {
namespace {

using rfc2217::Command;

// This end sends binary data, suppresses go-ahead and controls the port; it
// asks the same of the server for the first two.
rfc2217::Negotiator ClientNegotiator() {
  return rfc2217::Negotiator({rfc2217::kOptBinary, rfc2217::kOptSuppressGoAhead, rfc2217::kOptComPort},
                             {rfc2217::kOptBinary, rfc2217::kOptSuppressGoAhead});
}

std::optional<rfc2217::ParityCode> ParityCode(Parity parity) {
  switch (parity) {
    case Parity::None: return rfc2217::ParityCode::None;
    case Parity::Odd: return rfc2217::ParityCode::Odd;
    case Parity::Even: return rfc2217::ParityCode::Even;
  }
  return std::nullopt;
}

}  // namespace

std::optional<NetworkAddress> ParseRfc2217Url(std::string_view url) {
  const auto address = ParsePortAddress(url);
  if (!address || address->transport != LineTransport::Rfc2217) return std::nullopt;
  return NetworkAddress{address->host, address->port};
}

Rfc2217Port::Rfc2217Port(PortPaths paths, QObject* parent) : LinePort(std::move(paths), parent) {
  connect(&socket_, &QTcpSocket::readyRead, this, &Rfc2217Port::OnReadyRead);
  connect(&socket_, &QTcpSocket::disconnected, this, &Rfc2217Port::OnConnectionLost);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &Rfc2217Port::OnConnectionLost);
}

Rfc2217Port::~Rfc2217Port() {
  socket_.disconnect(this);
  socket_.abort();
}

bool Rfc2217Port::OpenLine(std::string& error) {
  socket_.abort();
  decoder_ = rfc2217::Decoder{};
  negotiator_ = ClientNegotiator();
  const auto address = ParseRfc2217Url(MappedPath());
  if (!address) {
    error = "not a network address of the form rfc2217://host:port.";
    return false;
  }
  socket_.connectToHost(QString::fromStdString(address->host), address->port);
  if (!socket_.waitForConnected(kConnectTimeoutMs)) {
    error = socket_.errorString().toStdString() + ".";
    return false;
  }
  socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  Send(negotiator_->Start());

  // The server must take on the COM Port Control Option before any setting
  // may be sent; its answers are read (and answered) by OnReadyRead.
  const QDeadlineTimer deadline(kNegotiationTimeoutMs);
  while (!negotiator_->LocalEnabled(rfc2217::kOptComPort) && !negotiator_->LocalRefused(rfc2217::kOptComPort)) {
    if (socket_.state() != QAbstractSocket::ConnectedState || deadline.hasExpired() ||
        !socket_.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
      error = socket_.state() == QAbstractSocket::ConnectedState
                  ? "the device server did not answer the serial port control negotiation (RFC 2217)."
                  : "the device server closed the connection.";
      return false;
    }
  }
  if (!negotiator_->LocalEnabled(rfc2217::kOptComPort)) {
    error = "the device server refused serial port control (RFC 2217).";
    return false;
  }
  for (const LineSetting what : {LineSetting::Baud, LineSetting::DataBits, LineSetting::Parity, LineSetting::StopBits})
    if (!ApplySetting(what, error)) return false;
  SendControl(rfc2217::ControlCode::NoFlowControl);
  // As on a local port: converters may draw their power from DTR and RTS.
  SendControl(rfc2217::ControlCode::DtrOn);
  SendControl(rfc2217::ControlCode::RtsOn);
  return true;
}

void Rfc2217Port::CloseLine() {
  if (socket_.state() == QAbstractSocket::UnconnectedState) return;
  // What was written goes out before the connection ends.
  socket_.disconnectFromHost();
}

bool Rfc2217Port::ApplySetting(LineSetting what, std::string& error) {
  const LineSettings& s = settings();
  switch (what) {
    case LineSetting::Baud:
      if (s.baud <= 0) break;
      Send(rfc2217::ComPortRequest(Command::SetBaudrate, static_cast<std::uint32_t>(s.baud)));
      return true;
    case LineSetting::DataBits:
      if (s.dataBits < 5 || s.dataBits > 8) break;
      Send(rfc2217::ComPortRequest(Command::SetDatasize, static_cast<std::uint32_t>(s.dataBits)));
      return true;
    case LineSetting::StopBits:
      if (s.stopBits != 1 && s.stopBits != 2) break;
      Send(rfc2217::ComPortRequest(Command::SetStopsize, static_cast<std::uint32_t>(
                                                             s.stopBits == 2 ? rfc2217::StopCode::Two
                                                                             : rfc2217::StopCode::One)));
      return true;
    case LineSetting::Parity:
      if (const auto code = ParityCode(s.parity)) {
        Send(rfc2217::ComPortRequest(Command::SetParity, static_cast<std::uint32_t>(*code)));
        return true;
      }
      break;
  }
  error = "unsupported line settings.";
  return false;
}

void Rfc2217Port::SendControl(rfc2217::ControlCode code) {
  Send(rfc2217::ComPortRequest(Command::SetControl, static_cast<std::uint32_t>(code)));
}

void Rfc2217Port::WriteLine(std::span<const std::uint8_t> data) { Send(rfc2217::Escape(data)); }

void Rfc2217Port::PurgeLine() {
  Send(rfc2217::ComPortRequest(Command::PurgeData, static_cast<std::uint32_t>(rfc2217::PurgeCode::Receive)));
}

void Rfc2217Port::Send(const rfc2217::Bytes& bytes) {
  if (bytes.empty() || socket_.state() != QAbstractSocket::ConnectedState) return;
  socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void Rfc2217Port::OnReadyRead() {
  const QByteArray raw = socket_.readAll();
  std::vector<rfc2217::Item> items;
  decoder_.Feed(std::span(reinterpret_cast<const std::uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size())),
                items);
  rfc2217::Bytes data;
  for (const auto& item : items) {
    switch (item.kind) {
      case rfc2217::Item::Kind::Data:
        data.insert(data.end(), item.bytes.begin(), item.bytes.end());
        break;
      case rfc2217::Item::Kind::Negotiation:
        if (negotiator_) Send(negotiator_->Receive(item.verb, item.option));
        break;
      case rfc2217::Item::Kind::Subnegotiation:
        // The server's confirmations of settings and its line/modem state
        // notifications: nothing in the program depends on them.
        break;
    }
  }
  // Last, as the event handler may close the port.
  Received(data);
}

void Rfc2217Port::OnConnectionLost() {
  if (!IsOpen()) return;
  LineLost(LineName() + " was disconnected: the network connection to the device server was lost (" +
           socket_.errorString().toStdString() + ").");
}

}  // namespace kx::serial
