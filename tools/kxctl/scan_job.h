// scan: the bus search of the communication settings window on the command
// line. Each address of the range is probed at each format with the search's
// own probe and hit rule; a controller that answers is identified and its
// firmware version read, at the format it answered under. The line gets its
// format back at the end (Line::Close).
//
// Waits: a silent probe costs the search's two ticks (110 ms). With --fast it
// costs only the time the probe and the longest identification answer take on
// the wire at that format, plus the controllers' turnaround and a margin
// (never more than the normal wait); the probe's ticks are then milliseconds.
#pragma once

#include <string>
#include <vector>

#include "kxctl/command_line.h"
#include "kxctl/device_facts.h"
#include "kxctl/job.h"

namespace kxctl {

// Time a controller may take to start its answer, and the margin for timers
// and adapters, in a fast probe's wait.
inline constexpr int kTurnaroundAllowanceMs = 10;
inline constexpr int kFastMarginMs = 15;

// A fast probe's wait in milliseconds at `format`.
int FastProbeWaitMs(const LineFormat& format);

// The search's probe of `address` at the line's format. With `fast` its waits
// are in milliseconds: it is sent with a tick of ProbeTickMs(true).
kx::ExchangeRequest ScanProbe(const Line& line, int address, bool fast);
inline int ProbeTickMs(bool fast) { return fast ? 1 : kx::kTickMs; }
// Whether probes may be fast: as asked, on every line (over a network the
// exchange's allowance is added to the probe's wait in its own unit).
inline bool FastProbes(const Line&, bool asked) { return asked; }

// The formats a scan visits: --all-formats gives the bus search's 90 in its
// order, --line the ones listed, and otherwise the line's own format.
std::vector<LineFormat> ScanFormats(const ScanArgs& args, const LineFormat& lineFormat);

class ScanJob final : public StepJob {
 public:
  ScanJob(Line& line, ScanArgs args);

  void Start() override;
  Outcome Result() const override;
  std::string Progress() const override;

  struct Found {
    int address = 0;
    LineFormat format;
    DeviceFacts facts;
  };
  const std::vector<Found>& found() const { return found_; }

 private:
  void QueueProbe();
  void OnProbe(const kx::Answer& answer);
  void Advance();

  ScanArgs args_;
  std::vector<LineFormat> formats_;
  std::size_t formatIndex_ = 0;
  int address_ = 0;
  int probes_ = 0;
  int total_ = 0;
  bool completed_ = false;
  std::vector<Found> found_;
};

}  // namespace kxctl
