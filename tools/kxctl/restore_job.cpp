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
  LearnDevice(line, args_.address, FactsDepth::Transfer, facts_,
              [this](kx::ExchangeRequest r, std::function<void(const kx::Answer&)> h) { ThenAny(std::move(r), std::move(h)); },
              [this](const kx::Answer* failed) {
                const std::string context = "address " + std::to_string(args_.address) + ": ";
                if (failed != nullptr) {
                  Fail(context + FailureText(*failed));
                  return;
                }
                if (facts_.model == kx::kModelUnknown) {
                  Fail(context + "the identification names no known model");
                  return;
                }
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

Outcome RestoreJob::Result() const {
  Outcome o{status_, error_, std::nullopt, {}};
  if (status_ != kExitOk) return o;
  Json doc = Json::Object();
  doc.Set("address", Json::Int(args_.address));
  doc.Set("model", Json::String(std::string(kx::ModelName(model_))));
  doc.Set("file", Json::String(args_.file));
  doc.Set("writes", Json::Int(static_cast<std::int64_t>(writes_)));
  o.json = std::move(doc);
  o.table = (args_.address == 0 ? std::string("all controllers (broadcast)") : "address " + std::to_string(args_.address)) +
            ": " + kx::ModelVersionText(buffer_) + " parameters written from " + args_.file + "\n";
  return o;
}

}  // namespace kxctl
