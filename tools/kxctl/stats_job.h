// kxctl stats: polls one controller's PV as the monitor does and reports what
// the port's traffic log measured: answers by kind, the reply-time spread and
// a suggested time-out.
#pragma once

#include <string>

#include "core/traffic/traffic_log.h"
#include "kxctl/command_line.h"
#include "kxctl/job.h"

namespace kxctl {

class StatsJob final : public Job {
 public:
  // `context.traffic` is the log on the line's port; the runner settles a
  // request still waiting in it before asking for the result.
  StatsJob(const JobContext& context, StatsArgs args);

  void Start() override { SendNext(); }
  void Handle(const kx::PortEvent& event) override;
  void LineLost(const std::string& text) override;
  void Interrupt() override { Finish("interrupted"); }
  void TimerFired() override;
  bool Done() const override { return done_; }
  Outcome Result() const override;
  std::string Progress() const override;

 private:
  void SendNext();
  void Finish(std::string error);

  Line& line_;
  kx::TrafficLog& traffic_;
  kx::recorder::RecorderTimer& timer_;
  StatsArgs args_;
  int answered_ = 0;
  bool done_ = false;
  std::string error_;
};

// The report of one address's figures: the table and the --json document.
void StatsReport(const kx::LinkStats& stats, Json& doc, std::string& table);

}  // namespace kxctl
