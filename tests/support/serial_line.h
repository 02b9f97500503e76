// For serial port tests: a pseudo-terminal whose master side the test holds to
// play the far end of the line, and a recorder of the events a port raises.
// Header-only, Qt Core and Qt Test.
#pragma once

#include <QCoreApplication>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/line/comport.h"

namespace kx::test {

// A pseudo-terminal; the test keeps the master, a port opens the slave.
class Pty {
 public:
  Pty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      ::close(slave);
      slaveName_ = name;
      ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& slave() const { return slaveName_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void Send(const std::string& bytes) const { QCOMPARE_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // What the port sent, collected until `count` bytes came or `timeout` passed.
  std::string Receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(1)) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents();
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 5) > 0) {
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      }
    }
    return got;
  }
  // The line settings as the master side sees them.
  termios Line() const {
    termios t{};
    ::tcgetattr(master_, &t);
    return t;
  }

 private:
  int master_ = -1;
  std::string slaveName_;
};

// Records every event a port raises; reads exactly the announced bytes.
struct PortRecorder {
  std::vector<PortEvent> events;
  std::vector<std::string> errors;
  std::string received;
  std::vector<std::size_t> waitingAtEvent;

  void Attach(ComPort& port) {
    port.SetOnTrigger([this](ComPort& p, const PortEvent& e) {
      events.push_back(e);
      const auto* data = std::get_if<port_event::DataAvailable>(&e);
      if (!data) return;
      waitingAtEvent.push_back(p.CharsWaiting());
      std::vector<std::uint8_t> chunk(data->waiting);
      chunk.resize(p.Read(chunk));
      received.append(chunk.begin(), chunk.end());
    });
    port.SetOnError([this](const std::string& text) { errors.push_back(text); });
  }
  std::vector<std::uint16_t> Timers() const {
    std::vector<std::uint16_t> out;
    for (const auto& e : events)
      if (const auto* timer = std::get_if<port_event::TimerExpired>(&e)) out.push_back(timer->trigger);
    return out;
  }
};

}  // namespace kx::test
