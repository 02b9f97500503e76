// The serial port interface every window and engine talks through. The real
// implementations live in src/serial (a local port on Qt Serial Port, a network
// line over RFC 2217); tests use tests/support/fake_port.h with a fake tick clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>

namespace kx {

enum class Parity { None, Odd, Even };

// Event kinds raised through OnTrigger.
inline constexpr std::uint16_t kEventDataAvailable = 0x7E01;
inline constexpr std::uint16_t kEventTimer = 0x7E03;

// Time-outs are counted in ticks of this many milliseconds.
inline constexpr int kTickMs = 55;

struct PortEvent {
  std::uint16_t kind = 0;    // kEventDataAvailable or kEventTimer
  std::uint16_t handle = 0;  // data available: bytes waiting; timer: the trigger that expired
  std::uint16_t data = 0;    // data available: bytes waiting; timer: unused
};

class ComPort {
 public:
  using TriggerHandler = std::function<void(ComPort&, const PortEvent&)>;
  using ErrorHandler = std::function<void(const std::string&)>;

  ComPort() = default;
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;
  virtual ~ComPort() = default;

  // Line settings. Made before opening they take effect at SetOpen(true); made
  // while the port is open they are applied to the open line at once.
  virtual void SetComNumber(std::uint16_t number) = 0;
  virtual void SetBaud(std::int32_t baud) = 0;
  virtual void SetDatabits(int bits) = 0;
  virtual void SetStopbits(int bits) = 0;
  virtual void SetParity(Parity parity) = 0;

  // Opens the device with the settings made before, or closes it. Returns false
  // when the device cannot be opened (or a setting is refused); ErrorText() then
  // holds the system's reason. Closing drops all timer triggers.
  virtual bool SetOpen(bool open) = 0;
  virtual bool Open() const = 0;
  virtual std::string ErrorText() const = 0;

  // Queues the bytes for sending and returns at once.
  virtual void PutBlock(std::span<const std::uint8_t> data) = 0;
  // Removes and returns the oldest received byte (0 when nothing is waiting).
  virtual std::uint8_t GetChar() = 0;
  // Moves up to out.size() of the oldest received bytes into `out`; returns how many.
  virtual std::size_t Read(std::span<std::uint8_t> out) {
    std::size_t n = 0;
    while (n < out.size() && CharsWaiting() > 0) out[n++] = GetChar();
    return n;
  }
  virtual std::size_t CharsWaiting() const = 0;
  // Drops whatever was received and not yet read.
  virtual void FlushInBuffer() = 0;

  // Timer triggers, counted in ticks of kTickMs. A new trigger is inactive; its
  // handle differs from those of the port's other live triggers.
  virtual std::uint16_t AddTimerTrigger() = 0;
  // activate true: (re)arm to fire once after `ticks`; false: disarm.
  virtual void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) = 0;
  void Arm(std::uint16_t handle, std::int32_t ticks) { SetTimerTrigger(handle, ticks, true); }
  void Disarm(std::uint16_t handle) { SetTimerTrigger(handle, 0, false); }

  // Data-available and timer events, delivered one at a time in the UI thread.
  void SetOnTrigger(TriggerHandler handler) { onTrigger_ = std::move(handler); }
  // A failure of an open line (adapter pulled, connection lost). The port has
  // already closed itself when this is raised; it is raised once per failure.
  void SetOnError(ErrorHandler handler) { onError_ = std::move(handler); }

 protected:
  void RaiseTrigger(const PortEvent& event) {
    if (onTrigger_) onTrigger_(*this, event);
  }
  void RaiseError(const std::string& text) {
    if (onError_) onError_(text);
  }

 private:
  TriggerHandler onTrigger_;
  ErrorHandler onError_;
};

}  // namespace kx
