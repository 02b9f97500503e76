#include "kxctl/timed_port.h"

namespace kxctl {

TimedPort::TimedPort(std::unique_ptr<kx::ComPort> inner)
    : inner_(std::move(inner)),
      triggers_([this](std::uint16_t handle) { RaiseTrigger(kx::port_event::TimerExpired{handle}); }) {
  inner_->SetOnTrigger([this](kx::ComPort&, const kx::PortEvent& event) {
    // Data events pass; the inner port's own timers are never armed.
    if (std::holds_alternative<kx::port_event::DataAvailable>(event)) RaiseTrigger(event);
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

void TimedPort::Close() {
  triggers_.Clear();
  inner_->Close();
}

std::uint16_t TimedPort::AddTimerTrigger() { return triggers_.Add(); }


}  // namespace kxctl
