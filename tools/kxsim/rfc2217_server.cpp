#include "kxsim/rfc2217_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
  const auto colon = hostPort.rfind(':');
  if (colon == std::string::npos) {
    error = "--listen needs HOST:PORT: " + hostPort;
    return nullptr;
  }
  const std::string host = hostPort.substr(0, colon);
  const std::string port = hostPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + hostPort + ": " + gai_strerror(rc);
    return nullptr;
  }
  std::unique_ptr<Rfc2217Server> server(new Rfc2217Server());
  for (addrinfo* a = found; a != nullptr && server->listen_ < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4) == 0) {
      server->listen_ = fd;
    } else {
      error = "cannot listen on " + hostPort + ": " + std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (server->listen_ < 0) {
    if (error.empty()) error = "cannot listen on " + hostPort;
    return nullptr;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(server->listen_, reinterpret_cast<sockaddr*>(&bound), &len);
  char name[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  getnameinfo(reinterpret_cast<sockaddr*>(&bound), len, name, sizeof name, service, sizeof service,
              NI_NUMERICHOST | NI_NUMERICSERV);
  server->address_ = std::string(name) + ":" + service;
  return server;
}

Rfc2217Server::~Rfc2217Server() {
  Drop();
  if (listen_ >= 0) close(listen_);
}

void Rfc2217Server::Accept() {
  const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (client_ >= 0) {  // one at a time
    close(fd);
    return;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  client_ = fd;
  session_ = std::make_unique<Rfc2217Session>();
  Send(session_->Start());
}

void Rfc2217Server::Drop() {
  if (client_ >= 0) close(client_);
  client_ = -1;
  session_.reset();
  out_.clear();
}

bool Rfc2217Server::Read(const Rfc2217Session::DataHandler& onData,
                         const Rfc2217Session::PurgeHandler& onPurge) {
  std::uint8_t buf[1024];
  for (;;) {
    const ssize_t n = ::read(client_, buf, sizeof buf);
    if (n > 0) {
      Send(session_->Receive(std::span(buf, static_cast<std::size_t>(n)), onData, onPurge));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    Drop();  // end of stream or a failed connection
    return false;
  }
}

void Rfc2217Server::Write(std::span<const std::uint8_t> data) {
  if (client_ >= 0) Send(Rfc2217Session::Escape(data));
}

void Rfc2217Server::Send(const kx::Bytes& bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
  Flush();
}

bool Rfc2217Server::Flush() {
  while (client_ >= 0 && !out_.empty()) {
    const ssize_t n = ::send(client_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(out_.begin(), out_.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    Drop();
    break;
  }
  return !out_.empty();
}

PcSettings Rfc2217Server::Settings() const { return session_ ? session_->settings() : DefaultSettings(); }

}  // namespace kxsim
