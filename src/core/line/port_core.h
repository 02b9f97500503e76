// What every port implementation shares, free of any clock or event loop: the
// timer triggers with their expiries, the capped receive buffer, and the port
// side of receiving (reading from the buffer, announcing what arrived). The real
// ports run them on milliseconds of a steady clock, the test port on ticks, so
// the trigger rules (fire once, re-arm replaces, earliest first, a dropped
// trigger never fires) are one piece of code tested on ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>

#include "core/line/comport.h"

namespace kx {

class TriggerTable {
 public:
  // A new, disarmed trigger. Handles are never 0 and never one of a live trigger.
  std::uint16_t Add();
  // (Re)arms the trigger to expire `delay` after `now` (at least one unit);
  // an unknown handle is ignored.
  void Arm(std::uint16_t handle, std::int64_t delay, std::int64_t now);
  void Disarm(std::uint16_t handle);
  // Drops every trigger (the port closed).
  void Clear() { expiry_.clear(); }

  // The earliest armed expiry, if any trigger is armed.
  std::optional<std::int64_t> NextExpiry() const;
  // The trigger due at `now` that expired first (lowest handle on a tie),
  // disarmed as it is taken; nothing when none is due.
  std::optional<std::uint16_t> TakeDue(std::int64_t now);

  bool Armed(std::uint16_t handle) const;
  std::optional<std::int64_t> ExpiryOf(std::uint16_t handle) const;
  std::size_t Size() const { return expiry_.size(); }

 private:
  std::map<std::uint16_t, std::optional<std::int64_t>> expiry_;  // handle -> expiry while armed
  std::uint16_t nextHandle_ = 1;
};

// Received bytes waiting to be read, capped so that a reader that stalls cannot
// make it grow without end (and so that the count fits an event's 16 bits).
class ReceiveBuffer {
 public:
  static constexpr std::size_t kLimit = 0xFFFF;

  // Appends what fits; returns how many bytes were taken.
  std::size_t Append(std::span<const std::uint8_t> data);
  // Moves up to out.size() of the oldest bytes into `out`; returns how many.
  std::size_t Read(std::span<std::uint8_t> out);
  std::size_t Size() const { return bytes_.size(); }
  void Clear() { bytes_.clear(); }

 private:
  std::deque<std::uint8_t> bytes_;
};

// A port whose received bytes wait in a ReceiveBuffer until they are read.
class BufferedPort : public ComPort {
 public:
  std::size_t Read(std::span<std::uint8_t> out) override { return rx_.Read(out); }
  std::size_t CharsWaiting() const override { return rx_.Size(); }

 protected:
  // Bytes arrived on the open port: what fits is buffered and the count now
  // waiting announced in one data-available event; when nothing fits (the
  // buffer is full) nothing is announced.
  void Arrived(std::span<const std::uint8_t> data) {
    TapReceived(data);
    if (rx_.Append(data) == 0) return;
    const auto waiting = static_cast<std::uint16_t>(rx_.Size());
    RaiseTrigger(port_event::DataAvailable{waiting});
  }

  ReceiveBuffer rx_;
};

}  // namespace kx
