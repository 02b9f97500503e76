#include "kxsim/rfc2217_server.h"

#include <utility>

namespace kxsim {

namespace rfc = kx::rfc2217;

namespace {

PcSettings DefaultSettings() { return PcSettings{9600, 8, ParityKind::None, false, 1, false}; }

constexpr std::uint32_t kMaxBaud = 4'000'000;

}  // namespace

Rfc2217Session::Rfc2217Session()
    : negotiator_({rfc::kOptBinary, rfc::kOptSuppressGoAhead},
                  {rfc::kOptBinary, rfc::kOptSuppressGoAhead, rfc::kOptComPort}),
      settings_(DefaultSettings()) {}

kx::Bytes Rfc2217Session::Start() { return negotiator_.Start(); }

kx::Bytes Rfc2217Session::Receive(std::span<const std::uint8_t> bytes, const DataHandler& onData,
                                  const PurgeHandler& onPurge) {
  std::vector<rfc::Item> items;
  decoder_.Feed(bytes, items);
  kx::Bytes reply;
  for (const rfc::Item& item : items) {
    switch (item.kind) {
      case rfc::Item::Kind::Data:
        onData(item.bytes);
        break;
      case rfc::Item::Kind::Negotiation: {
        const kx::Bytes answer = negotiator_.Receive(item.verb, item.option);
        reply.insert(reply.end(), answer.begin(), answer.end());
        break;
      }
      case rfc::Item::Kind::Subnegotiation:
        if (item.option == rfc::kOptComPort) {
          if (const auto msg = rfc::ParseComPort(item.bytes); msg && !msg->fromServer) {
            const kx::Bytes answer = ComPort(*msg, onPurge);
            reply.insert(reply.end(), answer.begin(), answer.end());
          }
        }
        break;
    }
  }
  return reply;
}

kx::Bytes Rfc2217Session::ComPort(const rfc::ComPortMessage& msg, const PurgeHandler& onPurge) {
  using rfc::Command;
  std::uint32_t value = msg.value;
  switch (msg.command) {
    case Command::SetBaudrate:
      // 0 asks for the rate in force; a rate beyond any UART's is refused the same way.
      if (value != 0 && value <= kMaxBaud) settings_.baud = static_cast<int>(value);
      value = static_cast<std::uint32_t>(settings_.baud);
      break;
    case Command::SetDatasize:
      if (value >= 5 && value <= 8) settings_.dataBits = static_cast<int>(value);
      value = static_cast<std::uint32_t>(settings_.dataBits);
      break;
    case Command::SetParity:
      if (value >= 1 && value <= 5) parityCode_ = static_cast<std::uint8_t>(value);
      value = parityCode_;
      break;
    case Command::SetStopsize:
      if (value >= 1 && value <= 3) stopCode_ = static_cast<std::uint8_t>(value);
      value = stopCode_;
      break;
    case Command::SetControl:
      // No flow control, DTR and RTS: nothing to do on a simulated line. A
      // query (0, 4, 7, 10) is answered with the matching "off/none" state.
      if (value == 0) value = 1;
      else if (value == 4) value = 6;
      else if (value == 7) value = 8;
      else if (value == 10) value = 11;
      break;
    case Command::PurgeData:
      if (value >= 1 && value <= 3 && onPurge) onPurge(static_cast<rfc::PurgeCode>(value));
      break;
    case Command::Signature:
      return rfc::ComPortReply(Command::Signature, 0);
    default:
      break;  // masks, flow control suspend/resume: acknowledged as they came
  }
  // Mark/space parity and 1.5 stop bits match no controller.
  settings_.parity = parityCode_ == 2 ? ParityKind::Odd : parityCode_ == 3 ? ParityKind::Even : ParityKind::None;
  settings_.unmatched = parityCode_ > 3 || stopCode_ == 3;
  settings_.stopBits = stopCode_ == 2 ? 2 : 1;
  return rfc::ComPortReply(msg.command, value);
}

std::unique_ptr<Rfc2217Server> Rfc2217Server::Listen(const std::string& hostPort, std::string& error) {
  auto tcp = TcpServer::Listen(hostPort, "--listen", error);
  if (!tcp) return nullptr;
  return std::unique_ptr<Rfc2217Server>(new Rfc2217Server(std::move(tcp)));
}

void Rfc2217Server::Accept() {
  if (!tcp_->Accept()) return;
  session_ = std::make_unique<Rfc2217Session>();
  tcp_->Send(session_->Start());
}

bool Rfc2217Server::Read(const Rfc2217Session::DataHandler& onData,
                         const Rfc2217Session::PurgeHandler& onPurge) {
  return tcp_->Read(
      [&](std::span<const std::uint8_t> bytes) { tcp_->Send(session_->Receive(bytes, onData, onPurge)); });
}

void Rfc2217Server::Write(std::span<const std::uint8_t> data) {
  if (tcp_->HasClient()) tcp_->Send(Rfc2217Session::Escape(data));
}

PcSettings Rfc2217Server::Settings() const {
  return session_ && tcp_->HasClient() ? session_->settings() : DefaultSettings();
}

}  // namespace kxsim
