// The event model shared by every real serial line: line settings, timer
// triggers counted in 55 ms ticks, the receive buffer and its data-available
// events, and the one-time report of a line that fails while open. A transport
// (a local device, a network line) derives from it and supplies only the
// device access.
#pragma once

#include <QObject>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>

#include "core/line/comport.h"
#include "core/line/port_core.h"
#include "core/line/session.h"
#include "serial/trigger_clock.h"

namespace kx::serial {

// Device behind each COM number (index 0..12; empty: not present). A path is a
// device node or symlink or a network line (core/line/port_address.h names
// the forms), each with an optional trailing "?echo".
using PortPaths = std::array<std::string, Session::kPortSlots>;

// The path mapped to a COM number; empty when none is (or the number is out of range).
inline std::string MappedPathOf(const PortPaths& paths, std::uint16_t com) {
  return com < paths.size() ? paths[com] : std::string{};
}

// Line settings as last made on a port.
struct LineSettings {
  std::int32_t baud = 9600;
  int dataBits = 8;
  int stopBits = 1;
  Parity parity = Parity::None;
};

// Which line setting changed.
enum class LineSetting { Baud, DataBits, StopBits, Parity };

class LinePort : public QObject, public BufferedPort {
  Q_OBJECT

 public:
  // Bytes kept while nobody reads them; what arrives beyond is dropped, so a
  // stalled reader cannot make the buffer grow without end. It also keeps the
  // announced count within the 16 bits of an event.
  static constexpr std::size_t kReceiveLimit = ReceiveBuffer::kLimit;

  explicit LinePort(PortPaths paths, QObject* parent = nullptr);
  ~LinePort() override;

  void SetComNumber(std::uint16_t number) override;
  void SetBaud(std::int32_t baud) override;
  void SetDatabits(int bits) override;
  void SetStopbits(int bits) override;
  void SetParity(Parity parity) override;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  std::string ErrorText() const override { return error_; }
  LineTraits Traits() const override;

  void PutBlock(std::span<const std::uint8_t> data) override;
  void FlushInBuffer() override;

  std::uint16_t AddTimerTrigger() override;
  void Arm(std::uint16_t handle, std::int32_t ticks) override { triggers_.Arm(handle, ticks); }
  void Disarm(std::uint16_t handle) override { triggers_.Disarm(handle); }

  const LineSettings& settings() const { return settings_; }
  // Mapped path of the selected COM number (empty when it has none).
  std::string MappedPath() const;
  // "COM3 (/dev/ttyUSB0)": how messages name the line.
  std::string LineName() const;

 protected:
  // --- supplied by the transport ---
  // Opens the line with settings(). On failure returns false and fills `error`
  // with the system's reason; the line is then closed.
  virtual bool OpenLine(std::string& error) = 0;
  virtual void CloseLine() = 0;
  // Applies one changed setting to the open line.
  virtual bool ApplySetting(LineSetting what, std::string& error) = 0;
  virtual void WriteLine(std::span<const std::uint8_t> data) = 0;
  // Drops what the line holds received and not yet delivered.
  virtual void PurgeLine() = 0;

  // --- called by the transport ---
  // Bytes arrived: buffer them and announce them in one data-available event.
  void Received(std::span<const std::uint8_t> data);
  // The open line failed: the port closes at once and reports `text` once,
  // from the event loop (never from inside the caller's own operation).
  void LineLost(const std::string& text);

 private:
  void Change(LineSetting what);
  void DropTriggers();

  PortPaths paths_;
  std::uint16_t comNumber_ = 0;
  LineSettings settings_;
  bool open_ = false;
  std::string error_;
  TriggerClock triggers_;
};

}  // namespace kx::serial
