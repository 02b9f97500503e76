#include "kxctl/restore_job.h"

#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"
#include "core/text/messages.h"
#include "kxctl/requests.h"

namespace kxctl {

RestoreJob::RestoreJob(Line& line, RestoreArgs args)
    : TransferJob(line, args.address, "restore"), args_(std::move(args)) {
  const kx::ParLoad loaded = kx::LoadParameterFile(args_.file, buffer_);
  if (loaded != kx::ParLoad::Loaded) {
    Fail(args_.file + ": " + std::string(kx::Text(kx::LoadMessage(loaded).text)));
    return;
  }
  if (args_.address == 0) {
    // Nobody answers a broadcast: the file's own model and version choose the sequence.
    model_ = buffer_[kx::kTrailerModel];
    const auto version = static_cast<std::uint16_t>(buffer_[kx::kTrailerMajor] << 8 | buffer_[kx::kTrailerMinor]);
    Download(kx::DownloadSequence(model_, buffer_, version), true);
    return;
  }
  Learn(FactsDepth::Transfer, UnknownModel::Fails, [this] {
    const std::string context = AddressContext(address_) + ": ";
    // The monitor's conditions for WRITE TO SELECTED DEVICE.
    if (facts_.model != kx::kModelKx3 && facts_.rec.comWrite != 1) {
      Fail(context + std::string(kx::Text(kx::Msg::EnableComWriteFirst)));
      return;
    }
    if (facts_.model != buffer_[kx::kTrailerModel] && !args_.force) {
      Fail(context + "the file holds " + kx::ModelVersionText(buffer_) + " parameters, the controller is a " +
           std::string(kx::ModelName(facts_.model)) + " (--force writes them all the same)");
      return;
    }
    model_ = facts_.model;
    Download(kx::DownloadSequence(model_, buffer_, facts_.rec.firmwareVersion), false);
  });
}

void RestoreJob::Download(std::vector<kx::WriteStep> steps, bool broadcast) {
  if (steps.empty()) {
    Fail("no download sequence for the model " + kx::ModelVersionText(buffer_));
    return;
  }
  writes_ = steps.size();
  Run(std::make_shared<kx::WriteSequence>(kx::TransferKind::Download, std::move(steps), broadcast), model_);
}

void RestoreJob::TransferDone() {}

void RestoreJob::Report(Json& doc, std::string& table) const {
  doc.Set("model", Json::String(std::string(kx::ModelName(model_))));
  doc.Set("file", Json::String(args_.file));
  doc.Set("writes", Json::Int(static_cast<std::int64_t>(writes_)));
  table = (args_.address == 0 ? std::string("all controllers (broadcast)") : AddressContext(args_.address)) + ": " +
          kx::ModelVersionText(buffer_) + " parameters written from " + args_.file + "\n";
}

}  // namespace kxctl
