// restore: a parameter file written into one controller, or by broadcast into
// every controller on the line, with the download sequences of the monitor's
// WRITE TO SELECTED DEVICE and WRITE TO ALL CONNECTED DEVICE.
#pragma once

#include <vector>

#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"
#include "kxctl/transfer_job.h"

namespace kxctl {

class RestoreJob final : public TransferJob {
 public:
  RestoreJob(Line& line, RestoreArgs args);

 private:
  void Download(std::vector<kx::WriteStep> steps, bool broadcast);
  void TransferDone() override;
  void Report(Json& doc, std::string& table) const override;

  RestoreArgs args_;
  kx::ParameterBuffer buffer_{};
  std::uint8_t model_ = kx::kModelUnknown;
  std::size_t writes_ = 0;
};

}  // namespace kxctl
