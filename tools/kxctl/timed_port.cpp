#include "kxctl/timed_port.h"

namespace kxctl {

TimedPort::TimedPort(std::unique_ptr<kx::ComPort> inner)
    : inner_(std::move(inner)),
      triggers_([this](std::uint16_t handle) { RaiseTrigger(kx::PortEvent{kx::kEventTimer, handle, 0}); }) {
  inner_->SetOnTrigger([this](kx::ComPort&, const kx::PortEvent& event) {
    // Data events pass; the inner port's own timers are never armed.
    if (event.kind == kx::kEventDataAvailable) RaiseTrigger(event);
  });
  inner_->SetOnError([this](const std::string& text) {
    triggers_.Clear();
    RaiseError(text);
  });
}

TimedPort::~TimedPort() {
  triggers_.Clear();
  inner_->SetOnTrigger(nullptr);
  inner_->SetOnError(nullptr);
}

bool TimedPort::SetOpen(bool open) {
  if (!open) triggers_.Clear();
  return inner_->SetOpen(open);
}

std::uint16_t TimedPort::AddTimerTrigger() { return triggers_.Add(); }

void TimedPort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  if (activate)
    triggers_.Arm(handle, ticks);
  else
    triggers_.Disarm(handle);
}

}  // namespace kxctl
