// How a traffic log listens to several ports (the line's one at a time holds
// it: the tester's and settings window's, the monitor's, the recorder's), and
// what a view of the log keeps track of: which kept frames its rows show, the
// request that nothing will answer any more, and its frames as trace text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/line/comport.h"
#include "core/line/line_format.h"
#include "core/traffic/traffic_log.h"

namespace kx {

// One port the log listens to.
struct TrafficSource {
  // The port now; nullptr when it is gone.
  std::function<ComPort*()> port;
  // The format the port runs with now; nullopt when its traffic is not
  // Modbus (the controllers' loader): frames are then shown raw.
  std::function<std::optional<LineFormat>()> format;
};

// Taps on the sources' ports that feed one log. Each block written or
// received takes the format its port runs with at that moment, so a bus
// search that changes the format between requests is read right. The ports must outlive the taps or
// be reported gone by their source.
class TrafficTaps {
 public:
  TrafficTaps(TrafficLog& log, std::vector<TrafficSource> sources);
  TrafficTaps(const TrafficTaps&) = delete;
  TrafficTaps& operator=(const TrafficTaps&) = delete;
  ~TrafficTaps() { Detach(); }

  void Attach();
  void Detach();
  bool attached() const { return attached_; }

 private:
  class Feed final : public PortTap {
   public:
    Feed(TrafficLog& log, std::function<std::optional<LineFormat>()> format) : log_(log), format_(std::move(format)) {}
    void Sent(std::span<const std::uint8_t> bytes, std::int64_t micros) override;
    void Received(std::span<const std::uint8_t> bytes, std::int64_t micros) override;

   private:
    TrafficLog& log_;
    std::function<std::optional<LineFormat>()> format_;
  };

  TrafficLog& log_;
  std::vector<TrafficSource> sources_;
  std::vector<std::unique_ptr<Feed>> feeds_;
  bool attached_ = false;
};

// The rows of a view that follows a log's kept frames by their numbers
// (TrafficLog::Removed): new frames are appended in batches, frames the log
// dropped or cleared leave the front.
class TrafficRows {
 public:
  struct Change {
    std::size_t removeFront = 0;  // rows to take from the front
    std::size_t append = 0;       // rows to add at the end
  };

  // What brings the rows up to the log's kept frames now.
  Change Follow(const TrafficLog& log) const;
  // Makes the change (as Follow gave it for the same log state).
  void Apply(const TrafficLog& log, const Change& change);

  std::size_t count() const { return count_; }
  // The frame row `row` shows; nullptr when the log no longer keeps it
  // (dropped since the last Follow).
  const TrafficFrame* Frame(const TrafficLog& log, std::size_t row) const;

 private:
  std::uint64_t first_ = 0;  // kept number of row 0
  std::size_t count_ = 0;
};

// The frames the rows show in the trace form (TraceLine), one a line, each
// ended by a newline. `toTimeOfDay` turns a frame's time into the time of day.
std::string TraceText(const TrafficLog& log, const TrafficRows& rows, std::int64_t toTimeOfDay);

// A request that waits with nothing happening to it for `checks` checks in a
// row is shown as unanswered: its engine gave up on it long ago (a tester's
// single send, the last request before a window closed). Checked on a steady
// period by the view; `quietMicros` is how long those checks take, added to
// the request's last activity as the time of its time-out.
class QuietRequest {
 public:
  QuietRequest(int checks, std::int64_t quietMicros) : checks_(checks), quietMicros_(quietMicros) {}
  // True when it settled a request.
  bool Check(TrafficLog& log);

 private:
  int checks_;
  std::int64_t quietMicros_;
  std::optional<std::int64_t> seen_;
  int quiet_ = 0;
};

}  // namespace kx
