#include "kxctl/transfer_job.h"

#include "core/device/regmap.h"
#include "core/files/whole_file.h"
#include "core/params/parameter_buffer.h"
#include "core/text/messages.h"
#include "core/exchange/requests.h"
#include "kxctl/requests.h"

namespace kxctl {

TransferJob::TransferJob(Line& line, int address, std::string what)
    : DeviceJob(line, address), what_(std::move(what)) {}

void TransferJob::Run(std::shared_ptr<kx::Transfer> transfer, std::uint8_t model) {
  transfer_ = std::move(transfer);
  runner_.Start(transfer_);
  model_ = model;
  QueueNext();
}

void TransferJob::LineLost(const std::string& text) {
  line_.LineLost();  // the request in flight ends with the line
  Stop(text);
}

void TransferJob::Stop(std::string message) {
  if (transfer_ && !transfer_->Done()) {
    const std::string note = PartWayNote();
    if (!note.empty()) message += ". " + note;
  }
  Fail(std::move(message));
}

void TransferJob::QueueNext() {
  const std::optional<kx::TransferCall> call = runner_.Next();
  if (!call) {
    TransferDone();
    return;
  }
  const auto address = static_cast<std::uint8_t>(call->step.broadcast ? 0 : address_);
  ThenAny(kx::TransferRunner::Request(call->step, line_.format(), address, model_),
          [this, c = *call](const kx::Answer& a) { OnAnswer(c, a); });
}

void TransferJob::OnAnswer(const kx::TransferCall& call, const kx::Answer& answer) {
  const std::string context = AddressContext(call.step.broadcast ? 0 : address_) + ": ";
  if (answer.failure == kx::Failure::LineLost) {
    Stop(context + answer.FailureText());
    return;
  }
  const kx::TransferOutcome out = runner_.Take(call, answer);
  if (out.step == kx::TransferStep::Taken) {
    failuresInARow_ = 0;
    QueueNext();
    return;
  }
  if (out.step == kx::TransferStep::GiveUp || ++failuresInARow_ >= kFailuresInARow) {
    Stop(context + kx::FailureText(out.failure, answer.function, answer.exceptionCode));
    return;
  }
  QueueNext();  // the same request again
}

bool TransferJob::Refused(kx::TransferRefusal refusal) {
  if (refusal == kx::TransferRefusal::None) return false;
  Fail(AddressContext(address_) + ": " + std::string(kx::RefusalText(refusal)));
  return true;
}

kx::TransferFacts TransferJob::LearnedFacts() const {
  return kx::TransferFacts{true, facts_.model != kx::kModelUnknown, facts_.model, facts_.rec.security.mode,
                           facts_.rec.comWrite};
}

std::string TransferJob::Progress() const {
  if (!transfer_) return {};
  return what_ + " address " + std::to_string(address_) + ": " + std::to_string(transfer_->Progress() / 10) + "%";
}

// ---------------------------------------------------------------------------

namespace {

// "Fail to save file: FILE: the system's reason".
std::string SaveFailure(const std::string& file, const std::string& reason) {
  return std::string(kx::Text(kx::Msg::FailToSaveFile)) + ": " + file + ": " + reason;
}

}  // namespace

BackupJob::BackupJob(Line& line, BackupArgs args) : TransferJob(line, args.address, "backup"), args_(std::move(args)) {
  // Whether the file can be written at all is found out before the upload.
  if (const std::string problem = kx::WriteProblem(args_.file, kx::kParameterBufferBytes); !problem.empty()) {
    Fail(SaveFailure(args_.file, problem));
    return;
  }
  Learn(FactsDepth::Transfer, UnknownModel::Fails, [this] {
    // The monitor's rule for UPLOAD.
    if (Refused(kx::UploadRefusal(LearnedFacts()))) return;
    Run(std::make_shared<kx::ImageUpload>(facts_.model, facts_.rec.firmwareVersion, false), facts_.model);
  });
}

void BackupJob::TransferDone() {
  // The file is written whole through a renamed temporary file: an interrupt
  // or a failure never leaves half of one.
  const kx::ParameterBuffer& buffer = *transfer_->CompletedBuffer();
  std::string reason;
  if (!kx::SaveParameterFile(args_.file, buffer, &reason)) {
    Fail(SaveFailure(args_.file, reason));
    return;
  }
  done_ = kx::ModelVersionText(buffer);
}

void BackupJob::Report(Json& doc, std::string& table) const {
  doc.Set("model", Json::String(std::string(kx::ModelName(facts_.model))));
  doc.Set("firmware", Json::String(FirmwareText(facts_.rec.firmwareVersion)));
  doc.Set("file", Json::String(args_.file));
  table = done_ + std::string(kx::Text(kx::Msg::SaveParametersDone)) + ": " + args_.file + "\n";
}

}  // namespace kxctl
