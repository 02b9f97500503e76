// A plain TCP client for tests of kxsim's network listeners: connects to
// "SCHEME://HOST:PORT" (or HOST:PORT), writes bytes and collects what comes
// back, every wait bounded.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::test {

class RawTcpClient {
 public:
  RawTcpClient() = default;
  RawTcpClient(const RawTcpClient&) = delete;
  RawTcpClient& operator=(const RawTcpClient&) = delete;
  ~RawTcpClient() { Close(); }

  bool Connect(const std::string& url) {
    Close();
    std::string hostPort = url;
    if (const auto scheme = url.find("://"); scheme != std::string::npos) hostPort = url.substr(scheme + 3);
    const auto colon = hostPort.rfind(':');
    if (colon == std::string::npos) return false;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostPort.substr(0, colon).c_str(), hostPort.substr(colon + 1).c_str(), &hints, &found) != 0) {
      return false;
    }
    for (addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
      fd_ = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (fd_ >= 0 && connect(fd_, a->ai_addr, a->ai_addrlen) != 0) Close();
    }
    freeaddrinfo(found);
    return fd_ >= 0;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    closed_ = false;
  }
  bool Write(const std::vector<std::uint8_t>& bytes) {
    return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `count` bytes arrived, the server closed or `timeout` passed.
  std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> in;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (in.size() < count && !closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || fd_ < 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[512];
      const ssize_t n = recv(fd_, buf, std::min(sizeof buf, count - in.size()), 0);
      if (n > 0) {
        in.insert(in.end(), buf, buf + n);
      } else {
        closed_ = true;
      }
    }
    return in;
  }
  // True when the server closes the connection within `timeout`; what it
  // sends before is dropped.
  bool ClosedWithin(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!closed_ && std::chrono::steady_clock::now() < end) {
      Read(4096, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
    }
    return closed_;
  }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

}  // namespace kx::test
