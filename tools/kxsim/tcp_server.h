// The socket side of kxsim's network listeners (RFC 2217, transparent TCP,
// Modbus TCP gateway): one listening socket and at most one client, served
// without blocking from the simulator's poll loop.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>

#include "core/modbus/codec.h"

namespace kxsim {

class TcpServer {
 public:
  using DataHandler = std::function<void(std::span<const std::uint8_t>)>;

  // Listens on HOST:PORT (port 0 picks a free one); `option` names the
  // command-line option in the error text.
  static std::unique_ptr<TcpServer> Listen(const std::string& hostPort, const std::string& option, std::string& error);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  const std::string& address() const { return address_; }  // HOST:PORT actually bound
  int listenFd() const { return listen_; }
  int clientFd() const { return client_; }
  bool HasClient() const { return client_ >= 0; }

  // Takes a waiting connection as the client; while a client is served the
  // new connection is closed at once. True when a new client was taken.
  bool Accept();
  // Reads what the client sent (at most `limit` bytes), chunk by chunk to
  // `onData`; false when the client has gone (the connection is closed here).
  bool Read(const DataHandler& onData, std::size_t limit = std::numeric_limits<std::size_t>::max());
  // Queues bytes for the client and sends as much as the socket takes now.
  void Send(std::span<const std::uint8_t> bytes);
  // Sends queued bytes; true while some remain (wait for POLLOUT).
  bool Flush();
  bool HasOutput() const { return !out_.empty(); }
  // Bytes queued for the client that its socket has not taken yet; beyond
  // kMaxBacklog the client is not read until it reads what it was sent.
  std::size_t Backlog() const { return out_.size(); }
  static constexpr std::size_t kMaxBacklog = 64 * 1024;
  // Closes the client's connection (nothing queued is sent).
  void Drop();

 private:
  TcpServer() = default;

  int listen_ = -1;
  int client_ = -1;
  std::string address_;
  kx::Bytes out_;
};

}  // namespace kxsim
