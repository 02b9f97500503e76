#include "kxctl/flash_job.h"

#include "core/fwupdate/loader_protocol.h"
#include "core/text/messages.h"
#include "core/text/user_message.h"
#include "kxctl/requests.h"

namespace kxctl {
namespace {

constexpr int kWaitBeatMs = 250;

std::string LoadError(kx::FirmwareCheck check) {
  switch (check) {
    case kx::FirmwareCheck::Ok: break;
    case kx::FirmwareCheck::FileError: return std::string(kx::Text(kx::Msg::FileOperationError));
    case kx::FirmwareCheck::BufferError: return std::string(kx::Text(kx::Msg::BufferReadError));
    case kx::FirmwareCheck::ContentError: return std::string(kx::Text(kx::Msg::FileLengthOrContentError));
    case kx::FirmwareCheck::ChecksumIncorrect: return std::string(kx::Text(kx::Msg::ProgramChecksumIncorrect));
  }
  return {};
}

// The loader's frames as a trace shows them: notes in place of Modbus checks.
kx::LoaderTrace LoaderFrames() {
  return kx::LoaderTrace{kx::LoaderAnswerRule(), kx::LoaderRequestNote, [](std::span<const std::uint8_t> answer) {
                           const kx::Failure check =
                               kx::LoaderSumOk(answer) ? kx::Failure::None : kx::Failure::Checksum;
                           return std::pair{check, kx::LoaderAnswerNote(answer)};
                         }};
}

// The two lines of a notice as one.
std::string NoticeText(int code) {
  const auto notice = kx::FindUserMessage(code);
  if (!notice) return {};
  return std::string(kx::Text(notice->line1)) + " - " + std::string(kx::Text(notice->line2));
}

}  // namespace

FlashJob::FlashJob(const JobContext& context, FlashArgs args)
    : PortJob(context),
      timer_(context.timer),
      traffic_(context.traffic),
      args_(std::move(args)),
      update_(session_, context.port, memory_) {
  load_ = kx::LoadFirmwareFile(args_.file);
  if (load_.result != kx::FirmwareCheck::Ok)
    Fail(args_.file + ": " + LoadError(load_.result) + (load_.reason.empty() ? "" : ": " + load_.reason));
}

FlashJob::~FlashJob() { timer_.StopTimer(); }

void FlashJob::Start() {
  if (done_) return;
  // The update opens the port itself: at the line's format for a KX3's two
  // writes, at the loader's 38400 8N1 for a KX2.
  ReleaseLine();
  // A KX2's loader is spoken to from the first frame on.
  if (load_.image->model == kx::FirmwareModel::Kx2) TraceLoader();
  if (!update_.Start(*load_.image, args_.address)) {
    Fail(update_.view().status.empty() ? "the port did not open" : update_.view().status);
    return;
  }
  AfterStep();
}

void FlashJob::Handle(const kx::PortEvent& event) {
  if (done_) return;
  update_.Handle(event);
  AfterStep();
}

void FlashJob::TimerFired() {
  if (!waiting_) return;
  // The timer beats during the wait so that the progress line shows it.
  waitLeftMs_ -= kWaitBeatMs;
  if (waitLeftMs_ > 0) return;
  // The loader wait is over: the controller listens as a loader now.
  waiting_ = false;
  timer_.StopTimer();
  TraceLoader();
  update_.Handle(kx::FlashUpdate::NoticeClosed{});
  AfterStep();
}

void FlashJob::LineLost(const std::string& text) {
  if (done_) return;
  update_.Handle(kx::FlashUpdate::LineLost{});
  Fail(text);
}

void FlashJob::Interrupt() {
  if (done_) return;
  // Stops the sequence, closes the port and frees the line.
  update_.Handle(kx::FlashUpdate::Stop{});
  Fail("interrupted");
}

void FlashJob::AfterStep() {
  if (const std::optional<int> notice = update_.TakeNotice()) {
    if (*notice == kx::kNoticeLoaderWait) {
      const auto wait = kx::FindUserMessage(*notice);
      waiting_ = true;
      waitLeftMs_ = wait ? wait->closeAfterMs : 3000;
      timer_.StartTimer(kWaitBeatMs);
    } else {
      doneNotice_ = *notice;
    }
  }
  if (update_.state() == kx::FlashUpdate::State::Done) {
    done_ = true;
  } else if (update_.state() == kx::FlashUpdate::State::Failed) {
    Fail("address " + std::to_string(args_.address) + ": " + update_.view().status);
  }
}

void FlashJob::TraceLoader() {
  if (traffic_ != nullptr) traffic_->SetLoader(LoaderFrames());
}

void FlashJob::Fail(std::string message) {
  if (done_) return;
  waiting_ = false;
  timer_.StopTimer();
  status_ = kExitFailed;
  error_ = std::move(message);
  done_ = true;
}

std::string FlashJob::Progress() const {
  if (waiting_) return NoticeText(kx::kNoticeLoaderWait);
  const kx::FlashUpdate::View& view = update_.view();
  if (view.status.empty()) return "flash " + args_.file + ": enabling the loader";
  return "flash " + args_.file + ": " + view.status + " " + std::to_string(view.progress) + "%";
}

Outcome FlashJob::Result() const {
  Outcome o{status_, error_, std::nullopt, {}};
  if (status_ != kExitOk) return o;
  const kx::FirmwareImage& image = *load_.image;
  const std::string firmware = FirmwareText(image.VersionWord());
  const std::string notice = doneNotice_ ? NoticeText(*doneNotice_) : std::string();
  Json doc = Json::Object();
  doc.Set("address", Json::Int(args_.address));
  doc.Set("model", Json::String(load_.modelText));
  doc.Set("file", Json::String(args_.file));
  doc.Set("firmware", Json::String(firmware));
  doc.Set("records", Json::Int(static_cast<std::int64_t>(image.records.size())));
  doc.Set("checksum", Json::String(load_.checksumText));
  doc.Set("notice", notice.empty() ? Json::Null() : Json::String(notice));
  o.json = std::move(doc);
  o.table = "address " + std::to_string(args_.address) + ": " + load_.modelText + " firmware " + firmware + " (" +
            std::to_string(image.records.size()) + " records, checksum " + load_.checksumText + ") written from " +
            args_.file + ", checksum verified\n" + (notice.empty() ? "" : notice + "\n");
  return o;
}

}  // namespace kxctl
