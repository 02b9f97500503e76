#include "core/fwupdate/flash_update.h"

#include "core/exchange/requests.h"
#include "core/fwupdate/loader_protocol.h"
#include "core/line/network_line.h"
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

FirmwareLine FirmwareLineOf(const Session& session, int comNumber) {
  const LineControl control = ControlOf(TransportOf(session, comNumber));
  FirmwareLine line;
  if (control.format) return line;
  line.allowed = control.form;  // a gateway re-frames Modbus requests only
  const Msg note = line.allowed ? Msg::ServerFirmwareFormat : Msg::GatewayFirmwareRefused;
  line.note = LineName(session, comNumber) + std::string(Text(note));
  return line;
}

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
  const FirmwareLine line = FirmwareLineOf(session_, params.port);
  if (!line.allowed) {
    view_.lineRefused = true;
    view_.status = line.note;
    view_.colour = StatusColour::Red;
    Changed();
    return false;
  }
  port_.SetComNumber(static_cast<std::uint16_t>(params.port));
  const bool wasOpen = port_.IsOpen();
  if (wasOpen) ApplyParams(port_, params);
  if (!wasOpen && !OpenWithParams(port_, params)) {
    view_.portMissing = true;
    // A server that cannot be reached says why (refused, no route); a local
    // port that cannot be opened reads as it always has.
    const std::string reason = port_.ErrorText();
    view_.status = TransportOf(session_, params.port) != LineTransport::Device && !reason.empty()
                       ? reason
                       : std::string(Text(Msg::ComPortPrefix)) + PortShown(session_, params.port) +
                             std::string(Text(Msg::NotExistSuffix));
    view_.colour = StatusColour::Red;
    Changed();
    return false;
  }
  lease_ = session_.TakeLine(LineOwner::Firmware);
  timing_ = TimingOf(params);
  exchange_.Opened();
  Enter(kx3 ? State::Unlocking : State::ReadingOptions);
  Changed();
  return true;
}

void FlashUpdate::Enter(State next, std::size_t record) {
  state_ = next;
  record_ = record;
  switch (next) {
    case State::Unlocking:
      SendWrite(kUnlockRegister, kUnlockValue);
      return;
    case State::EnablingFlash:
      SendWrite(kFlashEnableRegister, kFlashEnableValue);
      return;
    case State::LoaderWait: {
      // The controller restarts into its loader meanwhile: the notice is up for
      // three seconds, then the loader steps follow at its speed.
      const PortParams loader = LoaderParams(session_.params.port);
      ApplyParams(port_, loader);
      timing_ = TimingOf(loader);
      notice_ = kNoticeLoaderWait;
      return;
    }
    case State::ReadingOptions:
      SetStatus(Msg::ReadingOptionByte, StatusColour::Lime);
      SendLoader(OptionReadFrame(), kOptionReadTicks);
      return;
    case State::Erasing:
      SetStatus(Msg::EraseSector, StatusColour::Yellow);
      SendLoader(EraseFrame(), kEraseTicks + memory_.eraseExtension);
      return;
    case State::Command7:
      SendLoader(Command7Frame(), kCommand7Ticks);
      return;
    case State::Writing:
      if (record == 0) SetStatus(Msg::WriteDataToRom, StatusColour::Yellow);
      SendLoader(WriteRecordFrame(image_->records[record]), kWriteRecordTicks);
      return;
    case State::Verifying:
      SetStatus(Msg::VerifyMemoryChecksum, StatusColour::Lime);
      SendLoader(VerifyFrame(image_->checksum), kVerifyTicks);
      return;
    case State::Idle:
    case State::Done:
    case State::Failed:
      return;
  }
}

void FlashUpdate::SendWrite(std::uint16_t reg, std::uint16_t value) {
  // The KX3 echoes each write whole; its answer ends at LF (ASCII) or at its
  // 8 bytes or silence (RTU), with the update's own wait.
  ExchangeRequest request = WriteRequest(LineFormatOf(session_.params), static_cast<std::uint8_t>(address_), reg, value);
  request.firstWaitTicks = kEnableWriteTicks;
  request.rearmTicks = kEnableWriteTicks;
  Send(std::move(request));
}

void FlashUpdate::SendLoader(Bytes frame, int waitTicks) {
  ExchangeRequest request;
  request.frame = std::move(frame);
  request.form = FrameForm::Rtu;
  request.end = LoaderAnswerRule();
  request.firstWaitTicks = request.rearmTicks = waitTicks;
  Send(std::move(request));
}

void FlashUpdate::Send(ExchangeRequest request) {
  sent_ = request.frame;
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
    Enter(State::ReadingOptions);
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
    // The status keeps the step it stopped at.
    view_.failure = Failure::LineLost;
    view_.colour = StatusColour::Red;
    Changed();
  }
}

void FlashUpdate::OnAnswer(const Answer& answer) {
  if (ModbusStep()) {
    OnEchoAnswer(answer);
    return;
  }
  if (!answer.Ok()) {
    if (state_ == State::Erasing && memory_.eraseExtension < kEraseExtensionMax)
      memory_.eraseExtension += kEraseExtensionStep;
    FailExchange(answer.failure);
    return;
  }
  OnLoaderAnswer(answer);
}

void FlashUpdate::OnEchoAnswer(const Answer& answer) {
  switch (answer.failure) {
    case Failure::None:
      Enter(state_ == State::Unlocking ? State::EnablingFlash : State::LoaderWait);
      Changed();
      return;
    case Failure::TimedOut:
      // A KX3 that does not echo may be restarting into its loader already.
      Enter(State::LoaderWait);
      Changed();
      return;
    default:
      // Any answer that is not the write's echo.
      Fail(Msg::EnableFlashFail);
      return;
  }
}

void FlashUpdate::OnLoaderAnswer(const Answer& answer) {
  const LoaderAnswer loader = ParseLoaderAnswer(answer);
  if (!loader.sumOk) {
    Fail(Msg::RxChecksumError);
    return;
  }
  switch (state_) {
    case State::ReadingOptions:
      if (!loader.OptionsOk()) {
        Fail(Msg::OptionByteIncorrect);
        return;
      }
      Advance(State::Erasing);
      return;
    case State::Erasing:
      if (!loader.StatusOk()) {
        Fail(Msg::EraseSectorFail);
        return;
      }
      Advance(State::Command7);
      return;
    case State::Command7:
      Advance(State::Writing, 0);
      return;
    case State::Writing:
      if (!loader.StatusOk()) {
        Fail(Msg::WriteDataFail);
        return;
      }
      if (record_ + 1 < image_->records.size())
        Advance(State::Writing, record_ + 1);
      else
        Advance(State::Verifying);
      return;
    case State::Verifying:
      if (loader.VerifyFailed()) {
        Fail(Msg::MemoryChecksumFail);
        return;
      }
      Finish(true);
      return;
    default:
      return;
  }
}

void FlashUpdate::Advance(State next, std::size_t record) {
  // The bar's formula counts the steps: 4 erase, 5 command 7, 6 + r record r;
  // the verify shows a full bar.
  const std::size_t records = image_->records.size();
  int step = 0;
  if (next == State::Erasing) step = 4;
  if (next == State::Command7) step = 5;
  if (next == State::Writing) step = 6 + static_cast<int>(record);
  view_.progress = next == State::Verifying ? 100 : LoaderProgress(step, records);
  Enter(next, record);
  Changed();
}

void FlashUpdate::Fail(Msg text) {
  SetStatus(text, StatusColour::Red);
  Finish(false);
}

void FlashUpdate::FailExchange(Failure failure) {
  view_.failure = failure;
  view_.status = FailureText(failure);
  view_.colour = StatusColour::Red;
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
