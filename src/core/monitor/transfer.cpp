#include "core/monitor/transfer.h"

#include <utility>

#include "core/device/regmap.h"

namespace kx {

WriteSequence::WriteSequence(TransferKind kind, std::vector<WriteStep> steps, bool broadcast)
    : kind_(kind), steps_(std::move(steps)), broadcast_(broadcast) {
  SkipSkipped();
}

void WriteSequence::SkipSkipped() {
  while (index_ < steps_.size() && steps_[index_].skip) ++index_;
}

std::optional<TransferRequest> WriteSequence::NextRequest() const {
  if (Done()) return std::nullopt;
  const WriteStep& step = steps_[index_];
  if (step.unlock && !unlocked_)
    return TransferRequest{TransferRequest::Action::Unlock, 0, 0, broadcast_};
  return TransferRequest{TransferRequest::Action::Write, step.reg, step.value, broadcast_};
}

void WriteSequence::AnswerTaken(std::span<const std::uint16_t>) {
  if (Done()) return;
  if (steps_[index_].unlock && !unlocked_) {
    unlocked_ = true;
    return;
  }
  unlocked_ = false;
  ++index_;
  SkipSkipped();
}

int WriteSequence::Progress() const {
  if (steps_.empty()) return 1000;
  return static_cast<int>(index_ * 1000 / steps_.size());
}

ImageUpload::ImageUpload(std::uint8_t model, std::uint16_t firmwareVersion, bool withRampSteps)
    : model_(model),
      firmwareVersion_(firmwareVersion),
      withRampSteps_(withRampSteps),
      versionPending_(firmwareVersion == 0),
      unlockPending_(model == kModelKx1) {}

std::optional<TransferRequest> ImageUpload::NextRequest() const {
  if (Done()) return std::nullopt;
  if (versionPending_) return TransferRequest{TransferRequest::Action::Read, UnlockRegister(model_), 1, false};
  if (unlockPending_) return TransferRequest{TransferRequest::Action::Unlock, 0, 0, false};
  const std::uint16_t reg = BufferComplete() ? kRampUploadRegister : UploadRegister(model_);
  return TransferRequest{TransferRequest::Action::Read, reg, 1, false};
}

void ImageUpload::AnswerTaken(std::span<const std::uint16_t> words) {
  if (Done()) return;
  if (versionPending_) {
    if (!words.empty()) firmwareVersion_ = words[0];
    versionPending_ = false;
    return;
  }
  if (unlockPending_) {
    unlockPending_ = false;
    return;
  }
  if (words.empty()) return;
  const auto offset = static_cast<std::uint8_t>(words[0] >> 8);
  const auto value = static_cast<std::uint8_t>(words[0] & 0xFF);
  if (!BufferComplete()) {
    buffer_[offset] = value;
    if (++bufferCount_ == kImageBytes) {
      buffer_[256] = model_;
      buffer_[257] = static_cast<std::uint8_t>(firmwareVersion_ >> 8);
      buffer_[258] = static_cast<std::uint8_t>(firmwareVersion_ & 0xFF);
      buffer_[259] = static_cast<std::uint8_t>(buffer_[256] + buffer_[257] + buffer_[258]);
    }
    return;
  }
  steps_[offset] = value;
  ++stepCount_;
}

int ImageUpload::Progress() const {
  if (!withRampSteps_) return bufferCount_ * 1000 / kImageBytes;
  return (bufferCount_ + stepCount_) * 1000 / (2 * kImageBytes);
}

bool ImageUpload::Done() const {
  return BufferComplete() && (!withRampSteps_ || stepCount_ >= kImageBytes);
}

std::optional<TransferRequest> PanelWrites::NextRequest() const {
  using Action = TransferRequest::Action;
  if (unlockWanted_) return TransferRequest{Action::Unlock, 0, 0, false, false};
  if (writes_.empty()) return std::nullopt;
  const PanelWrite& w = writes_.front().write;
  if (w.unlock && !unlocked_) return TransferRequest{Action::Unlock, 0, 0, false, false};
  return TransferRequest{Action::Write, w.reg, w.value, false, w.level};
}

std::uint32_t PanelWrites::RequestId() const {
  if (unlockWanted_) return unlockId_;
  return writes_.empty() ? 0 : writes_.front().id;
}

void PanelWrites::AnswerTaken(std::span<const std::uint16_t>) {
  if (unlockWanted_) {
    unlockWanted_ = false;
    unlocked_ = true;
    return;
  }
  if (writes_.empty()) return;
  if (writes_.front().write.unlock && !unlocked_) {
    unlocked_ = true;
    return;
  }
  writes_.pop_front();
  unlocked_ = false;
}

void PanelWrites::AnswerFailed(Failure failure) {
  if (failure == Failure::EchoMismatch) {
    if (!unlockWanted_ && !writes_.empty()) writes_.pop_front();
    Relock();
    return;
  }
  if (!unlockWanted_ && !writes_.empty() && !(writes_.front().write.unlock && !unlocked_)) unlocked_ = false;
}

void PanelWrites::Queue(const PanelWrite& write, std::uint32_t onTheLine) {
  if (!writes_.empty() && writes_.back().id != onTheLine && writes_.back().write.reg == write.reg) {
    PanelWrite& last = writes_.back().write;
    last.value = write.value;
    last.unlock = last.unlock || write.unlock;
    last.level = write.level;
    return;
  }
  writes_.push_back({write, ++lastId_});
}

void PanelWrites::UnlockFirst() {
  if (unlocked_ || unlockWanted_) return;
  unlockWanted_ = true;
  unlockId_ = ++lastId_;
}

void PanelWrites::Drop(std::uint32_t id) {
  if (!writes_.empty() && writes_.front().id == id) writes_.pop_front();
}

void PanelWrites::Relock() {
  unlockWanted_ = false;
  unlocked_ = false;
}

void PanelWrites::Clear() {
  writes_.clear();
  Relock();
}

std::vector<WriteStep> RampWriteSteps(std::span<const std::uint16_t> values) {
  std::vector<WriteStep> steps;
  steps.reserve(values.size());
  for (std::size_t n = 0; n < values.size(); ++n)
    steps.push_back(WriteStep{static_cast<std::uint16_t>(kRampTableFirst + n), values[n], false, false});
  return steps;
}

}  // namespace kx
