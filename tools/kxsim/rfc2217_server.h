// The simulated line served over TCP as an RFC 2217 (Telnet COM Port Control)
// server: the PC's line settings arrive exactly (baud, data bits, parity, stop
// bits), not as a pseudo-terminal reduces them. Clients are served one at a
// time; the next one is accepted when the current one has gone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "core/line/rfc2217.h"
#include "core/modbus/codec.h"
#include "kxsim/line_format.h"
#include "kxsim/tcp_server.h"

namespace kxsim {

// One client connection without the socket: Telnet decoding, option
// negotiation and COM-PORT-OPTION settings, each answered as the RFC asks.
class Rfc2217Session {
 public:
  using DataHandler = std::function<void(std::span<const std::uint8_t>)>;
  // PURGE-DATA: Receive drops what the line has for the client, Transmit what
  // the client sent and the line has not taken yet, Both both.
  using PurgeHandler = std::function<void(kx::rfc2217::PurgeCode)>;

  Rfc2217Session();
  // The server's opening negotiation.
  kx::Bytes Start();
  // Handles bytes from the client: settings, data (to `onData`) and purges (to
  // `onPurge`) take effect in the order they arrived, also within one segment.
  // Returns the bytes to send back.
  kx::Bytes Receive(std::span<const std::uint8_t> bytes, const DataHandler& onData,
                    const PurgeHandler& onPurge = {});
  // Data for the client, escaped for Telnet.
  static kx::Bytes Escape(std::span<const std::uint8_t> data) { return kx::rfc2217::Escape(data); }

  // The settings in force (9600 8N1 until the client sets them).
  const PcSettings& settings() const { return settings_; }

 private:
  kx::Bytes ComPort(const kx::rfc2217::ComPortMessage& msg, const PurgeHandler& onPurge);

  kx::rfc2217::Decoder decoder_;
  kx::rfc2217::Negotiator negotiator_;
  PcSettings settings_;
  std::uint8_t parityCode_ = 1;  // as the option counts: 1 none, 2 odd, 3 even, 4 mark, 5 space
  std::uint8_t stopCode_ = 1;
};

class Rfc2217Server {
 public:
  // Listens on HOST:PORT (port 0 picks a free one).
  static std::unique_ptr<Rfc2217Server> Listen(const std::string& hostPort, std::string& error);

  const std::string& address() const { return tcp_->address(); }  // HOST:PORT actually bound
  int listenFd() const { return tcp_->listenFd(); }
  int clientFd() const { return tcp_->clientFd(); }
  bool HasClient() const { return tcp_->HasClient(); }

  void Accept();
  // Reads what the client sent; false when the client has gone (closed here).
  bool Read(const Rfc2217Session::DataHandler& onData, const Rfc2217Session::PurgeHandler& onPurge);
  void Write(std::span<const std::uint8_t> data);
  bool Flush() { return tcp_->Flush(); }
  bool HasOutput() const { return tcp_->HasOutput(); }
  PcSettings Settings() const;

 private:
  explicit Rfc2217Server(std::unique_ptr<TcpServer> tcp) : tcp_(std::move(tcp)) {}

  std::unique_ptr<TcpServer> tcp_;
  std::unique_ptr<Rfc2217Session> session_;
};

}  // namespace kxsim
