#include "kxsim/tcp_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kxsim {

std::unique_ptr<TcpServer> TcpServer::Listen(const std::string& hostPort, const std::string& option,
                                             std::string& error) {
  const auto colon = hostPort.rfind(':');
  if (colon == std::string::npos) {
    error = option + " needs HOST:PORT: " + hostPort;
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
  std::unique_ptr<TcpServer> server(new TcpServer());
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

TcpServer::~TcpServer() {
  Drop();
  if (listen_ >= 0) close(listen_);
}

bool TcpServer::Accept() {
  const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return false;
  if (client_ >= 0) {  // one at a time
    close(fd);
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  client_ = fd;
  return true;
}

void TcpServer::Drop() {
  if (client_ >= 0) close(client_);
  client_ = -1;
  out_.clear();
}

bool TcpServer::Read(const DataHandler& onData, std::size_t limit) {
  std::uint8_t buf[1024];
  while (client_ >= 0 && limit > 0) {
    const ssize_t n = ::read(client_, buf, std::min(sizeof buf, limit));
    if (n > 0) {
      limit -= static_cast<std::size_t>(n);
      onData(std::span(buf, static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    Drop();  // end of stream or a failed connection
  }
  return client_ >= 0;
}

void TcpServer::Send(std::span<const std::uint8_t> bytes) {
  if (client_ < 0) return;
  out_.insert(out_.end(), bytes.begin(), bytes.end());
  Flush();
}

bool TcpServer::Flush() {
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

}  // namespace kxsim
