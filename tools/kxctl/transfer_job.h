// backup and restore: the monitor's transfers (kx::Transfer) run on the line
// by the core's TransferRunner, as in the monitor: a good answer is handed
// back, a failed request is sent again, more than three exception answers in
// a row end the transfer, and broadcast writes go to address 0, acknowledged
// by the end of their wait. Four failures in a row end it as well (where the
// monitor drops the controller).
#pragma once

#include <memory>
#include <string>

#include "core/monitor/transfer.h"
#include "core/monitor/transfer_rules.h"
#include "core/monitor/transfer_runner.h"
#include "kxctl/command_line.h"
#include "kxctl/device_job.h"

namespace kxctl {

inline constexpr int kFailuresInARow = 4;

// Runs a transfer after the controller has been learned (the transfer is made
// from what was learned). Subclasses make the transfer and finish the result.
class TransferJob : public DeviceJob {
 public:
  TransferJob(Line& line, int address, std::string what);

  std::string Progress() const override;
  void Interrupt() override { Stop("interrupted"); }
  void LineLost(const std::string& text) override;

 protected:
  // Starts the transfer (called from a step's handler).
  void Run(std::shared_ptr<kx::Transfer> transfer, std::uint8_t model);
  virtual void TransferDone() = 0;
  // Ends the job as failed; a transfer stopped part-way adds PartWayNote().
  void Stop(std::string message);
  // What a transfer stopped before its end leaves behind (after a blank);
  // empty when that is nothing.
  virtual std::string PartWayNote() const { return {}; }
  // Fails the job with the reason when `refusal` refuses the transfer (the
  // monitor's rules, transfer_rules.h); true when it did.
  bool Refused(kx::TransferRefusal refusal);
  // The learned controller as the transfer rules see it.
  kx::TransferFacts LearnedFacts() const;

  std::string what_;
  std::shared_ptr<kx::Transfer> transfer_;

 private:
  void QueueNext();
  void OnAnswer(const kx::TransferCall& call, const kx::Answer& answer);

  std::uint8_t model_ = kx::kModelUnknown;
  int failuresInARow_ = 0;
  kx::ExceptionLimit exceptions_;
  kx::TransferRunner runner_{exceptions_};
};

class BackupJob final : public TransferJob {
 public:
  BackupJob(Line& line, BackupArgs args);

 private:
  void TransferDone() override;
  void Report(Json& doc, std::string& table) const override;

  BackupArgs args_;
  std::string done_;
};

}  // namespace kxctl
