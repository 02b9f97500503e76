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
  const auto request = transfer_->NextRequest();
  if (!request) {
    TransferDone();
    return;
  }
  const int address = request->broadcast ? 0 : address_;
  kx::ExchangeRequest r;
  switch (request->action) {
    case kx::TransferRequest::Action::Read:
      r = kx::ReadRequest(line_.Format(), static_cast<std::uint8_t>(address), request->reg, request->value);
      break;
    case kx::TransferRequest::Action::Write:
      r = kx::WriteRequest(line_.Format(), static_cast<std::uint8_t>(address), request->reg, request->value);
      break;
    case kx::TransferRequest::Action::Unlock:
      r = kx::WriteRequest(line_.Format(), static_cast<std::uint8_t>(address), kx::UnlockRegister(model_), kx::kUnlockValue);
      break;
  }
  if (request->broadcast && line_.Form() == kx::FrameForm::Ascii) r.firstWaitTicks = r.rearmTicks = kBroadcastWaitTicks;
  ThenAny(std::move(r), [this, req = *request](const kx::Answer& a) { OnAnswer(req, a); });
}

void TransferJob::OnAnswer(const kx::TransferRequest& request, const kx::Answer& answer) {
  // A broadcast write is never answered: the end of its wait acknowledges it.
  const bool acknowledged = request.broadcast ? answer.end == kx::AnswerEnd::TimedOut : answer.Ok();
  if (acknowledged) {
    failuresInARow_ = 0;
    transfer_->AnswerTaken(answer.Words());
    QueueNext();
    return;
  }
  const std::string context = AddressContext(request.broadcast ? 0 : address_) + ": ";
  if (answer.end == kx::AnswerEnd::LineLost) {
    Stop(context + answer.FailureText());
    return;
  }
  if (answer.failure == kx::Failure::Exception && ++exceptions_ > kExceptionLimit) {
    Stop(context + answer.FailureText());
    return;
  }
  if (++failuresInARow_ >= kFailuresInARow) {
    Stop(context + answer.FailureText());
    return;
  }
  QueueNext();  // the same request again
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
    const std::string context = AddressContext(address_) + ": ";
    // The monitor's conditions for UPLOAD.
    if (facts_.model == kx::kModelKx1 && facts_.rec.comWrite != 1) {
      Fail(context + std::string(kx::Text(kx::Msg::EnableComWriteFirst)));
      return;
    }
    if (facts_.model == kx::kModelKx3 && !kx::Kx3UploadAllowed(facts_.rec.security.mode)) {
      Fail(context + "the controller's security mode does not allow reading its parameters");
      return;
    }
    Run(std::make_shared<kx::ImageUpload>(facts_.model, facts_.rec.firmwareVersion, false), facts_.model);
  });
}

void BackupJob::TransferDone() {
  // The file is written whole through a renamed temporary file: an interrupt
  // or a failure never leaves half of one.
  const auto& buffer = static_cast<const kx::ImageUpload&>(*transfer_).Buffer();
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
