// The one serial line a kxctl command works on: the port, opened at the chosen
// format, and the core's exchange through which every request goes. The line
// keeps the format it was opened with and gives it back before it closes, so
// a command that moves the line to other formats (scan) leaves it as found.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/traffic/traffic_log.h"
#include "kxctl/line_choice.h"

namespace kxctl {

class Line {
 public:
  // `setTickMs` changes the length of the port's timer ticks (see TimedPort);
  // without it the ticks stay the port's own.
  explicit Line(kx::ComPort& port, std::function<void(int)> setTickMs = {});
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Opens the port at the choice's format. On failure `error` holds the
  // port's reason.
  bool Open(const LineChoice& choice, std::string& error);
  // Drops a pending request, gives the line its opening format back and
  // closes the port.
  void Close();
  bool IsOpen() const { return port_.IsOpen(); }

  // Moves the open line to another format.
  void SetFormat(const LineFormat& format);
  const LineFormat& format() const { return format_; }
  kx::FrameForm form() const { return format_.form; }
  kx::LineTiming Timing() const;
  // What the port's line does to the traffic (an echo, a network between).
  kx::LineTraits Traits() const { return port_.Traits(); }

  // The traffic log on the port: it follows the line's format.
  void SetTraffic(kx::TrafficLog* traffic);

  // Tick length for the requests sent from now on (kx::kTickMs normally).
  void SetTickMs(int ms);

  // Sends through the exchange. Input is not flushed before the write: the
  // exchange reads every byte as it arrives and drops what comes while no
  // request is pending, so nothing stale can wait, and over RFC 2217 a purge
  // would cost a command on the network per request.
  std::uint32_t Send(kx::ExchangeRequest request);
  std::optional<kx::Answer> Handle(const kx::PortEvent& event) { return exchange_.Handle(event); }
  std::optional<kx::Answer> LineLost() { return exchange_.LineLost(); }
  bool Pending() const { return exchange_.pending(); }

 private:
  kx::ComPort& port_;
  std::function<void(int)> setTickMs_;
  kx::Exchange exchange_;
  kx::TrafficLog* traffic_ = nullptr;
  LineFormat opened_;
  LineFormat format_;
};

}  // namespace kxctl
