#include "kxctl/restore_job.h"

#include "core/exchange/requests.h"
#include "core/params/download_sequence.h"
#include "core/params/parameter_buffer.h"
#include "core/text/messages.h"
#include "kxctl/requests.h"
#include "kxctl/scan_job.h"

namespace kxctl {

RestoreJob::RestoreJob(Line& line, RestoreArgs args)
    : TransferJob(line, args.address, "restore"), args_(std::move(args)) {
  std::string reason;
  const kx::ParLoad loaded = kx::LoadParameterFile(args_.file, buffer_, &reason);
  if (loaded != kx::ParLoad::Loaded) {
    Fail(args_.file + ": " + std::string(kx::Text(kx::LoadMessage(loaded).text)) +
         (reason.empty() ? "" : ": " + reason));
    return;
  }
  if (args_.address == 0) {
    probing_ = args_.first;
    QueueProbe();
    return;
  }
  Learn(FactsDepth::Transfer, UnknownModel::Fails, [this] {
    const std::string context = AddressContext(address_) + ": ";
    // The monitor's rule for WRITE TO SELECTED DEVICE.
    if (Refused(kx::DownloadRefusal(LearnedFacts()))) return;
    if (facts_.model != buffer_[kx::kTrailerModel] && !args_.force) {
      Fail(context + "the file holds " + kx::ModelVersionText(buffer_) + " parameters, the controller is a " +
           std::string(kx::ModelName(facts_.model)) + " (--force writes them all the same)");
      return;
    }
    model_ = facts_.model;
    Download(kx::DownloadSequence(model_, buffer_, facts_.rec.firmwareVersion), false);
  });
}

void RestoreJob::QueueProbe() {
  const bool fast = FastProbes(line_, true);
  ThenAny(ScanProbe(line_, probing_, fast), [this](const kx::Answer& a) { OnProbe(a); }, ProbeTickMs(fast));
}

void RestoreJob::OnProbe(const kx::Answer& answer) {
  if (!answer.Complete() || !kx::ProbeHit(answer, static_cast<std::uint8_t>(probing_), line_.form())) {
    ProbeNext();
    return;
  }
  identified_.push_back(Identified{probing_, {}});
  // A controller that answers the probe but not its identification counts as
  // one of an unknown model.
  LearnDevice(line_, probing_, FactsDepth::Model, identified_.back().facts,
              [this](kx::ExchangeRequest r, std::function<void(const kx::Answer&)> h) { ThenAny(std::move(r), std::move(h)); },
              [this](const kx::Answer*) { ProbeNext(); });
}

void RestoreJob::ProbeNext() {
  if (probing_ < args_.last) {
    ++probing_;
    QueueProbe();
    return;
  }
  probing_ = 0;
  Broadcast();
}

void RestoreJob::Broadcast() {
  const std::uint8_t fileModel = buffer_[kx::kTrailerModel];
  std::string others;
  for (const Identified& c : identified_) {
    if (c.facts.model == fileModel) continue;
    const std::string_view name = kx::ModelName(c.facts.model);
    others += (others.empty() ? "" : ", ") + AddressContext(c.address) + " is a " +
              (name.empty() ? std::string("controller of an unknown model") : std::string(name));
  }
  if (!others.empty() && !args_.force) {
    Fail("the file holds " + kx::ModelVersionText(buffer_) + " parameters, but " + others +
         " (--force broadcasts them all the same)");
    return;
  }
  // Nobody answers a broadcast: the file's own model and version choose the sequence.
  model_ = fileModel;
  const auto version = static_cast<std::uint16_t>(buffer_[kx::kTrailerMajor] << 8 | buffer_[kx::kTrailerMinor]);
  Download(kx::DownloadSequence(model_, buffer_, version), true);
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

std::string RestoreJob::PartWayNote() const {
  return kx::PartWayText(static_cast<const kx::WriteSequence&>(*transfer_));
}

std::string RestoreJob::Progress() const {
  if (probing_ != 0)
    return "restore: identifying address " + std::to_string(probing_) + " of " + std::to_string(args_.first) + "-" +
           std::to_string(args_.last) + ", " + std::to_string(identified_.size()) + " found";
  return TransferJob::Progress();
}

void RestoreJob::Report(Json& doc, std::string& table) const {
  doc.Set("model", Json::String(std::string(kx::ModelName(model_))));
  doc.Set("file", Json::String(args_.file));
  doc.Set("writes", Json::Int(static_cast<std::int64_t>(writes_)));
  if (args_.address == 0) {
    Json& found = doc.Set("identified", Json::Array());
    for (const Identified& c : identified_) {
      Json& item = found.Push(Json::Object());
      item.Set("address", Json::Int(c.address));
      const std::string_view name = kx::ModelName(c.facts.model);
      item.Set("model", name.empty() ? Json::Null() : Json::String(std::string(name)));
    }
  }
  table = (args_.address == 0 ? std::string("all controllers (broadcast)") : AddressContext(args_.address)) + ": " +
          kx::ModelVersionText(buffer_) + " parameters written from " + args_.file + "\n";
}

}  // namespace kxctl
