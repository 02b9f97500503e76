// Runs a port's timer triggers in real time: the trigger rules are the core's
// TriggerTable, on milliseconds of a steady clock, and one precise single-shot
// timer wakes at the earliest expiry. A trigger disarmed, re-armed or dropped
// before it expires therefore never fires late.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

#include "core/line/comport.h"
#include "core/line/port_core.h"

namespace kx::serial {

class TriggerClock : public QObject {
 public:
  using Fire = std::function<void(std::uint16_t handle)>;

  explicit TriggerClock(Fire fire, QObject* parent = nullptr);

  // Length of one tick for triggers armed from now on.
  void SetTickMs(int ms) { tickMs_ = ms; }

  std::uint16_t Add() { return table_.Add(); }
  // Fires once after `ticks` (at least one), replacing an earlier arming.
  void Arm(std::uint16_t handle, std::int32_t ticks);
  void Disarm(std::uint16_t handle);
  // Drops every trigger.
  void Clear();

 private:
  std::int64_t NowMs() const { return clock_.elapsed(); }
  void Wake();
  void Schedule();

  Fire fire_;
  TriggerTable table_;
  QElapsedTimer clock_;
  QTimer wake_;
  int tickMs_ = kTickMs;
};

}  // namespace kx::serial
