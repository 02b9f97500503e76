// A ComPort for tests: records every setting and every block written, delivers
// fed bytes as data-available events, and runs timer triggers on a fake tick
// clock that only moves when the test calls Tick(). Deterministic, no sleeps.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/modbus/codec.h"
#include "core/line/comport.h"
#include "core/line/port_core.h"
#include "core/line/session.h"

namespace kx::test {

class FakePort : public BufferedPort {
 public:
  // Settings as last made (applied or not).
  std::uint16_t comNumber = 0;
  std::int32_t baud = 0;
  int dataBits = 0;
  int stopBits = 0;
  std::optional<Parity> parity;
  int openCount = 0;
  int closeCount = 0;

  // Every block passed to PutBlock, in order.
  std::vector<Bytes> written;

  // Make the next Open() fail with this text (cleared after use).
  std::optional<std::string> failNextOpen;
  // What the line does to the traffic (an echoing line, a network line).
  LineTraits traits;
  LineTraits Traits() const override { return traits; }

  void SetComNumber(std::uint16_t number) override { comNumber = number; }
  void SetBaud(std::int32_t value) override { baud = value; }
  void SetDatabits(int bits) override { dataBits = bits; }
  void SetStopbits(int bits) override { stopBits = bits; }
  void SetParity(Parity value) override { parity = value; }
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  std::string ErrorText() const override { return error_; }
  void PutBlock(std::span<const std::uint8_t> data) override;
  void FlushInBuffer() override { rx_.Clear(); }
  std::uint16_t AddTimerTrigger() override;
  void Arm(std::uint16_t handle, std::int32_t ticks) override { triggers_.Arm(handle, ticks, now_); }
  // The tap sees the fake clock (each tick 55 ms), or the clock a simulated
  // bus sets, which also runs inside a tick.
  std::int64_t TapMicros() const override {
    return tapClock_ ? tapClock_() : static_cast<std::int64_t>(now_) * kTickMs * 1000;
  }
  void SetTapClock(std::function<std::int64_t()> clock) { tapClock_ = std::move(clock); }
  void Disarm(std::uint16_t handle) override { triggers_.Disarm(handle); }

  // --- test side ---
  // Delivers bytes as one data-available event (nothing happens while closed).
  void Feed(std::span<const std::uint8_t> bytes);
  void Feed(std::string_view text);
  // Delivers bytes in chunks split at the given offsets (ascending).
  void FeedSplit(std::span<const std::uint8_t> bytes, const std::vector<std::size_t>& cuts);
  // Delivers bytes one event per byte.
  void FeedByteByByte(std::span<const std::uint8_t> bytes);
  // Advances the clock by n ticks, firing each expired trigger once, in order
  // of expiry (then of handle).
  void Tick(int n = 1);
  // Runs the clock until no trigger is armed or `limit` ticks passed.
  int RunTimers(int limit = 10000);

  std::int64_t now() const { return now_; }
  bool Armed(std::uint16_t handle) const;
  // Ticks until the trigger fires, or nullopt when it is not armed.
  std::optional<std::int64_t> Remaining(std::uint16_t handle) const;
  std::size_t TriggerCount() const { return triggers_.Size(); }
  // Last block written, as text (handy for ASCII frames).
  std::string LastWrittenText() const;
  // Simulates a line failure: closes the port and raises the error once.
  void Fail(const std::string& text);

 private:
  bool open_ = false;
  std::string error_;
  std::int64_t now_ = 0;
  TriggerTable triggers_;  // expiries in ticks
  std::function<std::int64_t()> tapClock_;
};

// A port factory for a session that makes FakePorts and lists each one in
// `made`, in order of creation; `made` must outlive the factory.
PortFactory FakePortFactory(std::vector<FakePort*>& made);

}  // namespace kx::test
