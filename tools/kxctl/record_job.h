// record: the recorder's acquisition on the command line. The recorder's own
// engine samples the PV of up to ten controllers every --every seconds and
// appends each completed cycle to a record file as the recorder writes it.
// For CSV the run is recorded into a temporary record file beside the target
// and exported with the recorder's CSV export when it ends. Each record is
// appended whole, and the CSV is renamed into place only once written, so an
// interrupt never leaves half a file; when the CSV cannot be written (a full
// disk) the record file stays, and the message names it.
//
// The target is checked before sampling starts: a recording that could not be
// saved is refused at once. A failed sample is told with the controller's
// address; ticks that found a sample still waiting for its answer (a silent
// controller's time-outs taking the cycle's time) are counted as skipped.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/recorder/acquisition.h"
#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "kxctl/command_line.h"
#include "kxctl/job.h"

namespace kxctl {

// The context's timer paces the sampling.
class RecordJob final : public PortJob, private kx::recorder::AcquisitionObserver {
 public:
  RecordJob(const JobContext& context, RecordArgs args);
  ~RecordJob() override;

  void Start() override;
  void Handle(const kx::PortEvent& event) override;
  void LineLost(const std::string& text) override;
  void Interrupt() override;
  void TimerFired() override;
  Outcome Result() const override;
  std::string Progress() const override;
  std::string TakeNote() override;

 private:
  // AcquisitionObserver
  void Stopped(bool automatic) override;
  void StatusText(std::string_view text) override;
  void SlotDropped(int slot) override;
  void CounterChanged(long counter) override;
  void RecordWriteFailed(std::string_view error) override;
  void PortError(std::string_view text) override;

  void Feed(const kx::recorder::AcquisitionEvent& event);
  void Finish();

  RecordArgs args_;
  kx::recorder::Slots slots_{};
  kx::recorder::Chart chart_;
  kx::recorder::RecordWriter writer_;
  std::unique_ptr<kx::recorder::Acquisition> acquisition_;
  std::string recordPath_;  // the record file written (a temporary one for CSV)
  bool stopWanted_ = false;
  bool automaticStop_ = false;
  long cycles_ = 0;        // cycles completed (progress)
  long skipped_ = 0;       // sampling ticks that found the last cycle still running
  bool keepRecord_ = false;  // CSV: the export failed, the record file holds the samples
  std::vector<std::string> notes_;  // failure texts, for stderr
  std::size_t notesShown_ = 0;
  std::vector<int> dropped_;
};

}  // namespace kxctl
