// The serial port interface every window and engine talks through. The real
// implementations live in src/serial (a local port on Qt Serial Port, a network
// line over RFC 2217); tests use tests/support/fake_port.h with a fake tick clock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <variant>

namespace kx {

enum class Parity { None, Odd, Even };

// Time-outs are counted in ticks of this many milliseconds.
inline constexpr int kTickMs = 55;

// What a port raises through OnTrigger.
namespace port_event {
struct DataAvailable {
  std::uint16_t waiting = 0;  // bytes waiting to be read
};
struct TimerExpired {
  std::uint16_t trigger = 0;  // the trigger that fired
};
}  // namespace port_event
using PortEvent = std::variant<port_event::DataAvailable, port_event::TimerExpired>;

// What the path between the port and the controllers does to the traffic,
// as far as the exchange must know it: a property of the port, read by the
// exchange at each request.
struct LineTraits {
  // Every request comes back on the line before its answer (a two-wire
  // converter that hears its own transmitter).
  bool echoes = false;
  // The line is reached over a network connection: bytes come as a stream in
  // which a gap means nothing (no frame may end on a silence whose length it
  // knows), and the network's latency adds to every wait.
  bool network = false;
  // Answers come through a Modbus TCP gateway: its own exceptions 0x0A and
  // 0x0B (no path, the controller did not answer) mean that no answer came.
  bool gateway = false;

  friend bool operator==(const LineTraits&, const LineTraits&) = default;
};

// Sees every block a port writes and every chunk it receives, with the time
// it passed the port (microseconds of a steady clock), without the port's user
// knowing: the traffic log and kxctl's trace.
class PortTap {
 public:
  virtual ~PortTap() = default;
  virtual void Sent(std::span<const std::uint8_t> bytes, std::int64_t micros) = 0;
  virtual void Received(std::span<const std::uint8_t> bytes, std::int64_t micros) = 0;
};

class ComPort {
 public:
  using TriggerHandler = std::function<void(ComPort&, const PortEvent&)>;
  using ErrorHandler = std::function<void(const std::string&)>;

  ComPort() = default;
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;
  virtual ~ComPort() = default;

  // Line settings. Made before opening they take effect at Open(); made
  // while the port is open they are applied to the open line at once.
  virtual void SetComNumber(std::uint16_t number) = 0;
  virtual void SetBaud(std::int32_t baud) = 0;
  virtual void SetDatabits(int bits) = 0;
  virtual void SetStopbits(int bits) = 0;
  virtual void SetParity(Parity parity) = 0;

  // Opens the device with the settings made before. Returns false when the
  // device cannot be opened (or a setting is refused); ErrorText() then holds
  // the system's reason.
  virtual bool Open() = 0;
  // Closes the device and drops all timer triggers and what was received.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual std::string ErrorText() const = 0;

  // Queues the bytes for sending and returns at once.
  virtual void PutBlock(std::span<const std::uint8_t> data) = 0;
  // Moves up to out.size() of the oldest received bytes into `out`; returns how many.
  virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
  // Reads and drops up to `count` of the oldest received bytes; returns how many.
  std::size_t Discard(std::size_t count) {
    std::uint8_t scrap[256];
    std::size_t dropped = 0;
    while (dropped < count) {
      const std::size_t n = Read(std::span(scrap, std::min(sizeof scrap, count - dropped)));
      if (n == 0) break;
      dropped += n;
    }
    return dropped;
  }
  virtual std::size_t CharsWaiting() const = 0;
  // Drops whatever was received and not yet read.
  virtual void FlushInBuffer() = 0;

  // Timer triggers, counted in ticks of kTickMs. A new trigger is inactive; its
  // handle differs from those of the port's other live triggers.
  virtual std::uint16_t AddTimerTrigger() = 0;
  // (Re)arms the trigger to fire once after `ticks`; an unknown handle is ignored.
  virtual void Arm(std::uint16_t handle, std::int32_t ticks) = 0;
  // Disarms the trigger: it does not fire until armed again.
  virtual void Disarm(std::uint16_t handle) = 0;

  // What the line does to the traffic (see LineTraits); known before the port
  // opens, from the path of the selected port.
  virtual LineTraits Traits() const { return {}; }

  // Data-available and timer events, delivered one at a time in the UI thread.
  void SetOnTrigger(TriggerHandler handler) { onTrigger_ = std::move(handler); }
  // A failure of an open line (adapter pulled, connection lost). The port has
  // already closed itself when this is raised; it is raised once per failure.
  void SetOnError(ErrorHandler handler) { onError_ = std::move(handler); }

  // The tap that sees this port's traffic (nullptr: none). A port that wraps
  // another hands it on to the port it wraps.
  virtual void SetTap(PortTap* tap) { tap_ = tap; }

 protected:
  // For implementations: a block written, a chunk received (each once).
  void TapSent(std::span<const std::uint8_t> bytes) {
    if (tap_ != nullptr) tap_->Sent(bytes, TapMicros());
  }
  void TapReceived(std::span<const std::uint8_t> bytes) {
    if (tap_ != nullptr) tap_->Received(bytes, TapMicros());
  }
  // The tap's clock: a steady clock (the test port counts its ticks).
  virtual std::int64_t TapMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void RaiseTrigger(const PortEvent& event) {
    if (onTrigger_) onTrigger_(*this, event);
  }
  void RaiseError(const std::string& text) {
    if (onError_) onError_(text);
  }

 private:
  TriggerHandler onTrigger_;
  ErrorHandler onError_;
  PortTap* tap_ = nullptr;
};

}  // namespace kx
