// flash: a firmware file written into a KX2 or KX3 through its loader by the
// update window's own engine, with the same steps, waits and texts: a KX3 gets
// the unlock and flash-enable writes at the line's format, then the loader
// wait; a KX2's loader is addressed directly at 38400 8N1.
#pragma once

#include <optional>
#include <string>

#include "core/fwupdate/firmware_file.h"
#include "core/fwupdate/flash_update.h"
#include "kxctl/command_line.h"
#include "kxctl/job.h"

namespace kxctl {

// The context's timer paces the loader wait (the notice's 3 s).
class FlashJob final : public PortJob {
 public:
  FlashJob(const JobContext& context, FlashArgs args);
  ~FlashJob() override;

  void Start() override;
  void Handle(const kx::PortEvent& event) override;
  void LineLost(const std::string& text) override;
  void Interrupt() override;
  void TimerFired() override;
  Outcome Result() const override;
  std::string Progress() const override;

 private:
  void Fail(std::string message);
  void AfterStep();
  // The line carries the loader from the next frame on (--trace notes them so).
  void TraceLoader();

  kx::recorder::RecorderTimer& timer_;
  kx::TrafficLog* traffic_;  // nullptr without --trace
  FlashArgs args_;
  kx::FlashUpdateMemory memory_;
  kx::FlashUpdate update_;
  kx::FirmwareLoad load_;
  std::optional<int> doneNotice_;  // the notice of a finished update
  bool waiting_ = false;           // the loader wait runs on the timer
  int waitLeftMs_ = 0;
};

}  // namespace kxctl
