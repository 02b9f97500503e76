// restore: a parameter file written into one controller, or by broadcast into
// every controller on the line, with the download sequences of the monitor's
// WRITE TO SELECTED DEVICE and WRITE TO ALL CONNECTED DEVICE.
//
// Before a broadcast the controllers at the addresses given are found (the
// fast scan's probe) and identified: one of another model than the file's
// refuses the broadcast unless --force, since the file's sequence would write
// registers that mean other things there (a KX1's com-write flag among them).
// A download stopped part-way says how many of its writes went through.
#pragma once

#include <deque>
#include <vector>

#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"
#include "kxctl/transfer_job.h"

namespace kxctl {

class RestoreJob final : public TransferJob {
 public:
  RestoreJob(Line& line, RestoreArgs args);

  std::string Progress() const override;

 private:
  struct Identified {
    int address = 0;
    DeviceFacts facts;
  };

  void QueueProbe();
  void OnProbe(const kx::Answer& answer);
  void ProbeNext();
  void Broadcast();
  void Download(std::vector<kx::WriteStep> steps, bool broadcast);
  void TransferDone() override;
  std::string PartWayNote() const override;
  void Report(Json& doc, std::string& table) const override;

  RestoreArgs args_;
  kx::ParameterBuffer buffer_{};
  std::uint8_t model_ = kx::kModelUnknown;
  std::size_t writes_ = 0;
  int probing_ = 0;                    // the address probed before a broadcast (0: none)
  std::deque<Identified> identified_;  // a deque: LearnDevice fills an element later
};

}  // namespace kxctl
