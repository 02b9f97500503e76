#include "serial/line_port.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

#include "core/line/port_address.h"

namespace kx::serial {

LinePort::LinePort(PortPaths paths, QObject* parent)
    : QObject(parent),
      paths_(std::move(paths)),
      triggers_([this](std::uint16_t handle) { RaiseTrigger(port_event::TimerExpired{handle}); }) {}

// Derived transports close their own devices in their destructors; here only
// the timers are left to stop.
LinePort::~LinePort() { DropTriggers(); }

void LinePort::SetComNumber(std::uint16_t number) { comNumber_ = number; }

void LinePort::SetBaud(std::int32_t baud) {
  settings_.baud = baud;
  Change(LineSetting::Baud);
}

void LinePort::SetDatabits(int bits) {
  settings_.dataBits = bits;
  Change(LineSetting::DataBits);
}

void LinePort::SetStopbits(int bits) {
  settings_.stopBits = bits;
  Change(LineSetting::StopBits);
}

void LinePort::SetParity(Parity parity) {
  settings_.parity = parity;
  Change(LineSetting::Parity);
}

void LinePort::Change(LineSetting what) {
  if (!open_) return;  // taken over at the next opening
  std::string reason;
  if (!ApplySetting(what, reason)) LineLost("Cannot change the settings of " + LineName() + ": " + reason);
}

LineTraits LinePort::Traits() const { return TraitsOfPath(MappedPath()); }

std::string LinePort::MappedPath() const {
  return MappedPathOf(paths_, comNumber_);
}

std::string LinePort::LineName() const {
  std::string name = "COM" + std::to_string(comNumber_);
  const std::string path = MappedPath();
  if (!path.empty()) name += " (" + path + ")";
  return name;
}

bool LinePort::Open() {
  if (open_) return true;
  error_.clear();
  rx_.Clear();
  if (MappedPath().empty()) {
    error_ = "Cannot open COM" + std::to_string(comNumber_) + ": no serial device is mapped to this port.";
    return false;
  }
  std::string reason;
  if (!OpenLine(reason)) {
    CloseLine();
    error_ = "Cannot open " + LineName() + ": " + reason;
    return false;
  }
  open_ = true;
  return true;
}

void LinePort::Close() {
  if (!open_) return;
  open_ = false;
  DropTriggers();
  rx_.Clear();
  CloseLine();
}

void LinePort::LineLost(const std::string& text) {
  if (!open_) return;  // already closed: one report per failure
  open_ = false;
  DropTriggers();
  rx_.Clear();
  error_ = text;
  // The transport may be inside its device's own signal here; the device is
  // closed and the failure reported on the next turn of the event loop. A
  // reopening before then has already closed and reopened the device itself.
  QTimer::singleShot(0, this, [this, text] {
    if (!open_) CloseLine();
    RaiseError(text);
  });
}

void LinePort::PutBlock(std::span<const std::uint8_t> data) {
  if (!open_ || data.empty()) return;
  TapSent(data);
  WriteLine(data);
}

void LinePort::FlushInBuffer() {
  rx_.Clear();
  if (open_) PurgeLine();
}

void LinePort::Received(std::span<const std::uint8_t> data) {
  if (!open_ || data.empty()) return;
  Arrived(data);  // full: what arrives beyond the limit is dropped
}

std::uint16_t LinePort::AddTimerTrigger() { return triggers_.Add(); }

void LinePort::DropTriggers() { triggers_.Clear(); }

}  // namespace kx::serial
