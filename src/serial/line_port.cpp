#include "serial/line_port.h"

#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <climits>
#include <utility>

namespace kx::serial {

LinePort::LinePort(PortPaths paths, QObject* parent) : QObject(parent), paths_(std::move(paths)) {}

// Derived transports close their own devices in their destructors; here only
// the timers are left to stop (QObject kills them as well, but explicitly is
// clearer).
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

std::string LinePort::MappedPath() const {
  return MappedPathOf(paths_, comNumber_);
}

std::string LinePort::LineName() const {
  std::string name = "COM" + std::to_string(comNumber_);
  const std::string path = MappedPath();
  if (!path.empty()) name += " (" + path + ")";
  return name;
}

bool LinePort::SetOpen(bool open) {
  if (open == open_) return true;
  if (!open) {
    CloseNow();
    return true;
  }
  error_.clear();
  rx_.clear();
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

void LinePort::CloseNow() {
  open_ = false;
  DropTriggers();
  rx_.clear();
  CloseLine();
}

void LinePort::LineLost(const std::string& text) {
  if (!open_) return;  // already closed: one report per failure
  open_ = false;
  DropTriggers();
  rx_.clear();
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
  WriteLine(data);
}

std::uint8_t LinePort::GetChar() {
  if (rx_.empty()) return 0;
  const std::uint8_t b = rx_.front();
  rx_.pop_front();
  return b;
}

void LinePort::FlushInBuffer() {
  rx_.clear();
  if (open_) PurgeLine();
}

void LinePort::Received(std::span<const std::uint8_t> data) {
  if (!open_ || data.empty()) return;
  const std::size_t room = kReceiveLimit - std::min(rx_.size(), kReceiveLimit);
  const std::size_t take = std::min(room, data.size());
  if (take == 0) return;
  rx_.insert(rx_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
  const auto waiting = static_cast<std::uint16_t>(rx_.size());
  RaiseTrigger(PortEvent{kEventDataAvailable, waiting, waiting});
}

std::uint16_t LinePort::AddTimerTrigger() {
  // Handles are never 0 and never one of a live trigger.
  while (nextHandle_ == 0 || triggers_.count(nextHandle_) != 0) ++nextHandle_;
  const std::uint16_t handle = nextHandle_++;
  triggers_[handle] = 0;
  return handle;
}

void LinePort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  auto it = triggers_.find(handle);
  if (it == triggers_.end()) return;
  if (it->second != 0) {
    killTimer(it->second);
    it->second = 0;
  }
  if (!activate) return;
  const std::int64_t ms = std::int64_t{std::max<std::int32_t>(ticks, 1)} * kTickMs;
  it->second = startTimer(static_cast<int>(std::min<std::int64_t>(ms, INT_MAX)), Qt::PreciseTimer);
}

void LinePort::timerEvent(QTimerEvent* event) {
  const int id = event->timerId();
  killTimer(id);  // every trigger fires once
  const auto it = std::find_if(triggers_.begin(), triggers_.end(), [id](const auto& t) { return t.second == id; });
  if (it == triggers_.end()) return;  // stale: the trigger was disarmed, re-armed or dropped
  it->second = 0;
  RaiseTrigger(PortEvent{kEventTimer, it->first, 0});
}

void LinePort::DropTriggers() {
  for (auto& [handle, id] : triggers_)
    if (id != 0) killTimer(id);
  triggers_.clear();
}

}  // namespace kx::serial
