#include "core/recorder/acquisition.h"

#include <utility>

#include "core/line/settings.h"
#include "core/text/messages.h"
#include "core/text/overloaded.h"

namespace kx::recorder {

namespace {

constexpr std::uint8_t kReadFunction = 0x03;
constexpr std::uint8_t kReadException = 0x83;
constexpr std::uint8_t kInputFaultHigh = 0x80;
constexpr std::size_t kAnswerCapacity = 100;

struct StatusEntry {
  int status;
  Msg msg;
};
constexpr StatusEntry kStatusTable[] = {
    {1, Msg::IllegalFunction},
    {2, Msg::IllegalAddress},
    {3, Msg::IllegalData},
    {4, Msg::IllegalCommand},
    {11, Msg::IllegalFrame},
    {12, Msg::TooFewData},
    {13, Msg::TooManyData},
    {14, Msg::IllegalAscii},
    {kStatusTimeOut, Msg::DataTimeOutError},
    {kStatusMismatch, Msg::ReceivedDataMismatch},
    {kStatusChecksum, Msg::ReceivedChecksumError},
    {kStatusInputFault, Msg::InputUnstable},
};

bool IsExceptionStatus(int code) {
  return (code >= 1 && code <= 4) || (code >= 11 && code <= 14);
}

}  // namespace

std::string_view StatusMessage(int status) {
  for (const StatusEntry& e : kStatusTable)
    if (e.status == status) return Text(e.msg);
  return Text(Msg::UnknownError);
}

std::string FailureText(int slot, int status) {
  return std::string(Text(Msg::DevicePrefix)) + " " + std::to_string(slot + 1) +
         std::string(StatusMessage(status));
}

Bytes ProcessValueRequest(FrameForm form, std::uint8_t address) {
  return BuildFrame(form, ReadRequestPdu(address, kReadFunction, kProcessValueRegister, 2));
}

bool Acquisition::AnyAddressed(const Slots& slots) {
  for (const Slot& s : slots)
    if (s.boxAddress != 0) return true;
  return false;
}

Acquisition::Acquisition(ComPort& port, Session& session, Slots& slots, Chart& chart,
                         RecorderTimer& timer, Clock localTime)
    : port_(port),
      session_(session),
      slots_(slots),
      chart_(chart),
      timer_(timer),
      localTime_(std::move(localTime)),
      exchange_(port) {}

int Acquisition::AnswerTicks() const {
  if (form_ == FrameForm::Ascii) return kAsciiAnswerTicks;
  return session_.params.baud >= 9600 ? kRtuFastAnswerTicks : kRtuSlowAnswerTicks;
}

void Acquisition::Handle(const AcquisitionEvent& event) {
  std::visit(Overloaded{
                 [this](const acquisition_event::Start& e) { OnStart(e); },
                 [this](const acquisition_event::Stop&) { OnStop(false); },
                 [this](const acquisition_event::Tick&) { OnTick(); },
                 [this](const acquisition_event::Port& e) { OnPort(e.event); },
                 [this](const acquisition_event::LineLost& e) { OnLineLost(e.text); },
                 [this](const acquisition_event::Close&) { OnClose(); },
             },
             event);
}

int Acquisition::NextSlot(int from) const {
  for (int i = from; i < kSlots; ++i)
    if (slots_[static_cast<std::size_t>(i)].address != 0) return i;
  return kSlots;
}

void Acquisition::OnStart(const acquisition_event::Start& start) {
  if (Acquiring()) return;
  const int sampleTime = start.sampleTime;
  RecordWriter* writer = start.writer;
  goOnWithoutFile_ = start.goOnWithoutFile;
  for (Slot& s : slots_) s.address = s.boxAddress;
  current_ = NextSlot(0);
  if (current_ == kSlots) {
    if (observer_) observer_->Stopped(false);
    return;
  }
  writer_ = writer;
  form_ = session_.params.rtu ? FrameForm::Rtu : FrameForm::Ascii;
  for (Slot& s : slots_) {
    s.failures = 0;
    s.dropPoint = -1;
  }
  if (!port_.IsOpen()) {
    if (!OpenWithParams(port_, session_.params)) {
      const std::string reason = port_.ErrorText();
      writer_ = nullptr;
      if (observer_) {
        observer_->PortError(reason);
        observer_->Stopped(false);
      }
      return;
    }
    lease_ = session_.TakeLine(LineOwner::Recorder);
    exchange_.Opened();
  }
  state_ = State::Ready;
  record_.fill(0);
  chart_.DecideDrawFlag();
  chart_.Clear();
  if (observer_) observer_->Started();
  SendRequest();
  counter_ = 0;
  timer_.StartTimer(SampleIntervalMs(sampleTime));
}

void Acquisition::OnStop(bool automatic) {
  if (!Acquiring()) return;
  for (Slot& s : slots_) {
    s.failures = 0;
    s.dropPoint = -1;
  }
  state_ = State::Idle;
  timer_.StopTimer();
  exchange_.Cancel();
  ClosePort();
  if (writer_) writer_->Close();
  writer_ = nullptr;
  if (observer_) observer_->Stopped(automatic);
}

void Acquisition::ClosePort() {
  if (port_.IsOpen()) {
    port_.Close();
    lease_.Release();
  }
}

void Acquisition::OnTick() {
  if (state_ == State::Ready) SendRequest();
  // A tick while an answer is outstanding is skipped, not queued.
}

void Acquisition::SendRequest() {
  const std::uint8_t address = slots_[static_cast<std::size_t>(current_)].address;
  const int ticks = AnswerTicks();
  ExchangeRequest request =
      ExchangeRequest::For(form_, ProcessValueRequest(form_, address), ticks, ticks, TimingOf(session_.params));
  request.capacity = kAnswerCapacity;
  request.expect = AnswerExpectation{form_, address, {kReadFunction}, {}};
  exchange_.Send(std::move(request));
  state_ = State::Awaiting;
}

void Acquisition::OnPort(const PortEvent& event) {
  std::optional<Answer> answer = exchange_.Handle(event);
  if (!answer || state_ != State::Awaiting) return;
  state_ = State::Ready;
  OnAnswer(*answer);
}

void Acquisition::OnLineLost(const std::string& text) {
  exchange_.LineLost();
  if (!Acquiring()) return;
  OnStop(true);
  if (observer_) observer_->PortError(text);
}

void Acquisition::OnClose() {
  timer_.StopTimer();
  exchange_.Cancel();
  state_ = State::Idle;
  ClosePort();
  // Every completed record is written already; the file is closed with the window.
  if (writer_) writer_->Close();
  writer_ = nullptr;
}

int Acquisition::Check(const Answer& answer, int& value) const {
  if (!answer.Complete()) return kStatusTimeOut;
  if (!answer.check) return kStatusMismatch;
  const AnswerCheck& check = *answer.check;
  switch (check.status) {
    case AnswerStatus::Ok:
      break;
    case AnswerStatus::ChecksumError:
      return kStatusChecksum;
    case AnswerStatus::Exception:
      if (check.function != kReadException) return kStatusMismatch;
      return IsExceptionStatus(check.exceptionCode) ? check.exceptionCode : kStatusUnknown;
    default:
      return kStatusMismatch;
  }
  // Address, function, byte count, two registers and the check field.
  const Bytes& b = check.bytes;
  const std::size_t checkLength = CheckLength(form_);
  if (b.size() < 3 + 4 + checkLength || b[2] < 4) return kStatusMismatch;
  if (b[3] == kInputFaultHigh) return kStatusInputFault;
  value = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[3] << 8 | b[4]));
  return kStatusGood;
}

void Acquisition::OnAnswer(const Answer& answer) {
  int value = 0;
  status_ = Check(answer, value);
  if (status_ != kStatusGood) {
    Failure(status_);
    return;
  }
  Slot& slot = slots_[static_cast<std::size_t>(current_)];
  slot.failures = 0;
  chart_.StoreLiveValue(current_, counter_, value);
  const auto word = static_cast<std::uint16_t>(value);
  record_[static_cast<std::size_t>(2 * current_)] = static_cast<std::uint8_t>(word >> 8);
  record_[static_cast<std::size_t>(2 * current_ + 1)] = static_cast<std::uint8_t>(word);
  current_ = NextSlot(current_ + 1);
  if (current_ == kSlots)
    CompleteCycle();
  else
    SendRequest();
}

void Acquisition::Failure(int status) {
  if (observer_) observer_->StatusText(FailureText(current_, status));
  Slot& slot = slots_[static_cast<std::size_t>(current_)];
  if (++slot.failures < kFailuresToDrop) return;  // asked again at the next tick
  slot.failures = 0;
  slot.address = 0;
  slot.dropPoint = counter_;
  record_[static_cast<std::size_t>(2 * current_)] = 0x80;
  record_[static_cast<std::size_t>(2 * current_ + 1)] = 0xA5;
  if (observer_) observer_->SlotDropped(current_);
  current_ = NextSlot(current_ + 1);
  if (current_ == kSlots) CompleteCycle();
  if (NextSlot(0) == kSlots) OnStop(true);
}

void Acquisition::CompleteCycle() {
  const SampleTime now = localTime_ ? localTime_() : SampleTime{};
  record_[20] = now.hour;
  record_[21] = now.minute;
  record_[22] = now.second;
  record_[23] = now.millisecond;
  record_[24] = kRecordEnd;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].dropPoint != -1) {
      record_[2 * i] = 0x80;
      record_[2 * i + 1] = 0xA5;
    }
  }
  chart_.StoreTime(counter_, now);
  chart_.DrawNewSample(counter_);
  // A failed write leaves the file with whole records only (the writer cuts
  // it back and closes it).
  const bool writeFailed = writer_ && writer_->IsOpen() && !writer_->Append(record_);
  record_.fill(0);
  current_ = NextSlot(0);
  ++counter_;
  if (observer_) observer_->CounterChanged(counter_);
  if (!writeFailed) return;
  const std::string error = writer_->Error();
  // Stopped before anyone is told, so nothing is sampled into a file that
  // cannot take it while the user reads the message.
  if (!goOnWithoutFile_) OnStop(true);
  if (observer_) observer_->RecordWriteFailed(error);
}

}  // namespace kx::recorder
