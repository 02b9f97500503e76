#include "core/fwupdate/flash_update.h"

#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"

namespace kx {

namespace {

// Longest answer kept: a Modbus write echo in ASCII is 17 characters, a loader
// answer 6 bytes. Anything beyond is read from the port and dropped.
constexpr std::size_t kAnswerCapacity = 64;

PortParams LoaderParams(int comNumber) {
  PortParams p;
  p.port = comNumber;
  p.baud = kLoaderBaud;
  p.dataBits = 8;
  p.parityCode = 0;
  p.stopBits = 1;
  p.rtu = true;
  return p;
}

void ApplyParams(ComPort& port, const PortParams& p) {
  port.SetBaud(p.baud);
  port.SetDatabits(p.dataBits);
  port.SetStopbits(p.stopBits);
  if (p.parityCode == 0) port.SetParity(Parity::None);
  if (p.parityCode == 1) port.SetParity(Parity::Even);
  if (p.parityCode == 2) port.SetParity(Parity::Odd);
}

}  // namespace

FlashUpdate::FlashUpdate(Session& session, ComPort& port, FlashUpdateMemory& memory)
    : session_(session), port_(port), memory_(memory), exchange_(port) {}

FlashUpdate::~FlashUpdate() {
  onChange_ = nullptr;
  if (Busy()) Release();
}

bool FlashUpdate::Busy() const {
  return state_ != State::Idle && state_ != State::Done && state_ != State::Failed;
}

void FlashUpdate::Changed() {
  if (onChange_) onChange_();
}

void FlashUpdate::SetStatus(Msg text, StatusColour colour) {
  view_.status = std::string(Text(text));
  view_.colour = colour;
}

bool FlashUpdate::Start(const FirmwareImage& image, int address) {
  if (Busy() || image.records.empty()) return false;
  view_ = View{};
  image_ = image;
  address_ = address;
  notice_.reset();
  const bool kx3 = image.model == FirmwareModel::Kx3;
  // The KX3 is asked to start its loader at the stored settings, in the form
  // they select; a KX2's loader listens at 38400 8N1 already.
  const PortParams params = kx3 ? session_.params : LoaderParams(session_.params.port);
  form_ = session_.params.rtu ? FrameForm::Rtu : FrameForm::Ascii;
  port_.SetComNumber(static_cast<std::uint16_t>(params.port));
  const bool wasOpen = port_.IsOpen();
  if (wasOpen) ApplyParams(port_, params);
  if (!wasOpen && !OpenWithParams(port_, params)) {
    view_.portMissing = true;
    view_.status = std::string(Text(Msg::ComPortPrefix)) + std::to_string(params.port) +
                   std::string(Text(Msg::NotExistSuffix));
    view_.colour = StatusColour::Red;
    Changed();
    return false;
  }
  lease_ = session_.TakeLine(LineOwner::Firmware);
  timing_ = TimingOf(params);
  exchange_.Opened();
  stage_ = 0;
  state_ = State::Unlocking;
  SendStage();
  Changed();
  return true;
}

int FlashUpdate::VerifyStage() const {
  return kStageFirstRecord + static_cast<int>(image_ ? image_->records.size() : 0);
}

int FlashUpdate::TicksOfStage() const {
  if (stage_ < kStageLoaderWait) return kEnableWriteTicks;
  switch (stage_) {
    case kStageOptions: return kOptionReadTicks;
    case kStageErase: return kEraseTicks + memory_.eraseExtension;
    case kStageCommand7: return kCommand7Ticks;
    default: break;
  }
  return stage_ == VerifyStage() ? kVerifyTicks : kWriteRecordTicks;
}

void FlashUpdate::SendStage() {
  if (image_->model == FirmwareModel::Kx2 && stage_ < kStageOptions) stage_ = kStageOptions;
  if (stage_ == kStageLoaderWait) {
    // The controller restarts into its loader meanwhile: the notice is up for
    // three seconds, then the loader steps follow at its speed.
    const PortParams loader = LoaderParams(session_.params.port);
    ApplyParams(port_, loader);
    timing_ = TimingOf(loader);
    state_ = State::LoaderWait;
    notice_ = kNoticeLoaderWait;
    return;
  }
  const auto address = static_cast<std::uint8_t>(address_);
  const int records = static_cast<int>(image_->records.size());
  if (stage_ == 0) {
    state_ = State::Unlocking;
    sent_ = BuildFrame(form_, WriteRegisterPdu(address, kUnlockRegister, kUnlockValue));
  } else if (stage_ == 1) {
    state_ = State::EnablingFlash;
    sent_ = BuildFrame(form_, WriteRegisterPdu(address, kFlashEnableRegister, kFlashEnableValue));
  } else if (stage_ == kStageOptions) {
    state_ = State::ReadingOptions;
    sent_ = OptionReadFrame();
    SetStatus(Msg::ReadingOptionByte, StatusColour::Lime);
  } else if (stage_ == kStageErase) {
    state_ = State::Erasing;
    sent_ = EraseFrame();
    SetStatus(Msg::EraseSector, StatusColour::Yellow);
  } else if (stage_ == kStageCommand7) {
    state_ = State::Command7;
    sent_ = Command7Frame();
  } else if (stage_ < kStageFirstRecord + records) {
    state_ = State::Writing;
    sent_ = WriteRecordFrame(image_->records[static_cast<std::size_t>(stage_ - kStageFirstRecord)]);
    if (stage_ == kStageFirstRecord) SetStatus(Msg::WriteDataToRom, StatusColour::Yellow);
  } else {
    state_ = State::Verifying;
    sent_ = VerifyFrame(image_->checksum);
    SetStatus(Msg::VerifyMemoryChecksum, StatusColour::Lime);
  }
  ExchangeRequest request;
  request.frame = sent_;
  request.form = ModbusStage() ? form_ : FrameForm::Rtu;
  // The echo of a write ends at LF (ASCII) or at its 8 bytes or silence (RTU).
  request.end = ModbusStage() ? DefaultFrameEnd(form_) : LoaderAnswerRule();
  request.firstWaitTicks = TicksOfStage();
  request.rearmTicks = TicksOfStage();
  request.timing = timing_;
  request.capacity = kAnswerCapacity;
  exchange_.Send(std::move(request));
}

void FlashUpdate::Handle(const Event& event) {
  if (const auto* port = std::get_if<PortEvent>(&event)) {
    if (!Busy()) return;
    if (const std::optional<Answer> answer = exchange_.Handle(*port)) OnAnswer(*answer);
  } else if (std::holds_alternative<NoticeClosed>(event)) {
    if (state_ != State::LoaderWait) return;
    stage_ = kStageOptions;
    SendStage();
    Changed();
  } else if (std::holds_alternative<Stop>(event)) {
    notice_.reset();
    if (!Busy()) return;
    Release();
    state_ = State::Idle;
  } else if (std::holds_alternative<LineLost>(event)) {
    if (!Busy()) return;
    exchange_.LineLost();
    lease_.Release();
    notice_.reset();
    state_ = State::Failed;
    view_.colour = StatusColour::Red;
    Changed();
  }
}

void FlashUpdate::OnAnswer(const Answer& answer) {
  const bool kx3 = image_->model == FirmwareModel::Kx3;
  if (!answer.Complete()) {
    if (stage_ == kStageErase && memory_.eraseExtension < kEraseExtensionMax)
      memory_.eraseExtension += kEraseExtensionStep;
    // A KX3 that does not echo may be restarting into its loader already.
    if (kx3 && ModbusStage()) {
      stage_ = kStageLoaderWait;
      SendStage();
      Changed();
      return;
    }
    Fail(Msg::DataTimeOutError);
    return;
  }
  const Bytes& received = answer.raw;
  if (ModbusStage()) {
    if (received != sent_) {
      Fail(Msg::EnableFlashFail);
      return;
    }
    stage_ += 1;
    SendStage();
    Changed();
    return;
  }
  if (!LoaderSumOk(received)) {
    Fail(Msg::RxChecksumError);
    return;
  }
  const std::uint8_t status = received.size() > 3 ? received[3] : 0;
  const bool statusOk = (status & 0xF0) == 0;
  if (stage_ == kStageOptions) {
    if (received.size() < 5 || received[3] != kOptionByte1 || received[4] != kOptionByte2) {
      Fail(Msg::OptionByteIncorrect);
      return;
    }
  } else if (stage_ == kStageErase) {
    if (!statusOk) {
      Fail(Msg::EraseSectorFail);
      return;
    }
  } else if (stage_ == VerifyStage()) {
    if (status == kVerifyFailed) {
      Fail(Msg::MemoryChecksumFail);
      return;
    }
    Finish(true);
    return;
  } else if (stage_ != kStageCommand7 && !statusOk) {
    Fail(Msg::WriteDataFail);
    return;
  }
  Advance(stage_ + 1);
}

void FlashUpdate::Advance(int next) {
  stage_ = next;
  view_.progress = stage_ == VerifyStage() ? 100 : LoaderProgress(stage_, image_->records.size());
  SendStage();
  Changed();
}

void FlashUpdate::Fail(Msg text) {
  SetStatus(text, StatusColour::Red);
  Finish(false);
}

void FlashUpdate::Finish(bool done) {
  // A failed update leaves the bar where it stopped: a full bar means done.
  if (done) {
    view_.progress = 100;
    SetStatus(Msg::ProgramUpdateSucceeded, StatusColour::Lime);
    notice_ = image_->model == FirmwareModel::Kx3 ? kNoticeKx3Done : kNoticeKx2Done;
  }
  state_ = done ? State::Done : State::Failed;
  Release();
  Changed();
}

void FlashUpdate::Release() {
  exchange_.Cancel();
  port_.Close();
  lease_.Release();
}

}  // namespace kx
