// The recorder window's timer for engine tests: remembers its interval and
// whether it runs; the test delivers the ticks.
#pragma once

#include "core/recorder/recorder_types.h"

namespace kx::recorder {

struct FakeTimer : RecorderTimer {
  void StartTimer(int ms) override {
    running = true;
    interval = ms;
    ++starts;
  }
  void StopTimer() override { running = false; }
  bool running = false;
  int interval = 0;
  int starts = 0;
};

}  // namespace kx::recorder
