#include "kxctl/timed_port.h"

#include <QTimerEvent>

#include <algorithm>
#include <climits>

namespace kxctl {

TimedPort::TimedPort(std::unique_ptr<kx::ComPort> inner) : inner_(std::move(inner)) {
  inner_->SetOnTrigger([this](kx::ComPort&, const kx::PortEvent& event) {
    // Data events pass; the inner port's own timers are never armed.
    if (event.kind == kx::kEventDataAvailable) RaiseTrigger(event);
  });
  inner_->SetOnError([this](const std::string& text) {
    DropTriggers();
    RaiseError(text);
  });
}

TimedPort::~TimedPort() {
  DropTriggers();
  inner_->SetOnTrigger(nullptr);
  inner_->SetOnError(nullptr);
}

bool TimedPort::SetOpen(bool open) {
  if (!open) DropTriggers();
  return inner_->SetOpen(open);
}

std::uint16_t TimedPort::AddTimerTrigger() {
  while (nextHandle_ == 0 || triggers_.count(nextHandle_) != 0) ++nextHandle_;
  triggers_[nextHandle_] = 0;
  return nextHandle_++;
}

void TimedPort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  const auto it = triggers_.find(handle);
  if (it == triggers_.end()) return;
  if (it->second != 0) killTimer(it->second);
  it->second = 0;
  if (!activate) return;
  const std::int64_t ms = std::max<std::int64_t>(0, static_cast<std::int64_t>(ticks) * tickMs_);
  it->second = startTimer(static_cast<int>(std::min<std::int64_t>(ms, INT_MAX)), Qt::PreciseTimer);
}

void TimedPort::timerEvent(QTimerEvent* event) {
  const int id = event->timerId();
  killTimer(id);  // every trigger fires once
  const auto it = std::find_if(triggers_.begin(), triggers_.end(), [id](const auto& t) { return t.second == id; });
  if (it == triggers_.end()) return;
  it->second = 0;
  RaiseTrigger(kx::PortEvent{kx::kEventTimer, it->first, 0});
}

void TimedPort::DropTriggers() {
  for (auto& [handle, id] : triggers_)
    if (id != 0) killTimer(id);
  triggers_.clear();
}

}  // namespace kxctl
