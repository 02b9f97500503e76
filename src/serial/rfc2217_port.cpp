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

Rfc2217Port::Rfc2217Port(PortPaths paths, QObject* parent) : SocketPort(std::move(paths), "device server", parent) {}

bool Rfc2217Port::OpenLine(std::string& error) {
  decoder_ = rfc2217::Decoder{};
  negotiator_ = ClientNegotiator();
  if (!ParseRfc2217Url(MappedPath())) {
    error = "not a network address of the form rfc2217://host:port.";
    return false;
  }
  if (!Connect(error)) return false;
  Send(negotiator_->Start());

  // The server must take on the COM Port Control Option before any setting
  // may be sent; its answers are read (and answered) by FromSocket.
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

void Rfc2217Port::FromSocket(std::span<const std::uint8_t> bytes) {
  std::vector<rfc2217::Item> items;
  decoder_.Feed(bytes, items);
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

}  // namespace kx::serial
