#include "serial/trigger_clock.h"

#include <QPointer>

#include <algorithm>
#include <climits>
#include <utility>

namespace kx::serial {

TriggerClock::TriggerClock(Fire fire, QObject* parent) : QObject(parent), fire_(std::move(fire)) {
  clock_.start();
  wake_.setSingleShot(true);
  wake_.setTimerType(Qt::PreciseTimer);
  connect(&wake_, &QTimer::timeout, this, [this] { Wake(); });
}

void TriggerClock::Arm(std::uint16_t handle, std::int32_t ticks) {
  table_.Arm(handle, std::int64_t{std::max<std::int32_t>(ticks, 1)} * tickMs_, NowMs());
  Schedule();
}

void TriggerClock::Disarm(std::uint16_t handle) {
  table_.Disarm(handle);
  Schedule();
}

void TriggerClock::Clear() {
  table_.Clear();
  wake_.stop();
}

void TriggerClock::Wake() {
  // A handler may arm, disarm or drop triggers: each due one is looked up anew.
  // A handler may also close and delete the port that owns this clock.
  const QPointer<TriggerClock> alive(this);
  while (const auto due = table_.TakeDue(NowMs())) {
    fire_(*due);
    if (!alive) return;
  }
  Schedule();
}

void TriggerClock::Schedule() {
  const auto next = table_.NextExpiry();
  if (!next) {
    wake_.stop();
    return;
  }
  const std::int64_t wait = std::max<std::int64_t>(0, *next - NowMs());
  wake_.start(static_cast<int>(std::min<std::int64_t>(wait, INT_MAX)));
}

}  // namespace kx::serial
