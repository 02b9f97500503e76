#include "core/recorder/acquisition.h"

#include <utility>

#include "core/line/settings.h"
#include "core/text/messages.h"
#include "core/text/overloaded.h"

namespace kx::recorder {

namespace {

constexpr std::uint8_t kReadException = 0x83;
constexpr std::uint8_t kInputFaultHigh = 0x80;
constexpr std::size_t kAnswerCapacity = 100;

}  // namespace

SampleStatus ReadSample(const Answer& answer, int& value) {
  switch (answer.failure) {
    case Failure::None:
      break;
    case Failure::Exception:
      // An exception to another function than the read does not match it.
      if (answer.function != kReadException) return {Failure::UnknownFunction};
      return {Failure::Exception, answer.exceptionCode};
    default:
      return {answer.failure};
  }
  const std::optional<std::uint16_t> word = answer.Word(0);
  if (!word || answer.Words().size() < 2) return {Failure::Format};
  if ((*word >> 8) == kInputFaultHigh) return {Failure::None, 0, true};
  value = static_cast<std::int16_t>(*word);
  return {};
}

std::string SampleStatusText(const SampleStatus& status) {
  if (status.inputFault) return std::string(Text(Msg::InputUnstable));
  switch (status.failure) {
    case Failure::None:
      return {};
    case Failure::TimedOut:
    case Failure::LineLost:
      return FailureText(Failure::TimedOut);
    case Failure::Checksum:
      return FailureText(Failure::Checksum);
    case Failure::Exception:
      return std::string(Text(ExceptionMsg(status.exceptionCode)));
    default:
      return std::string(Text(Msg::ReceivedDataMismatch));
  }
}

std::string SlotFailureText(int slot, const SampleStatus& status) {
  return std::string(Text(Msg::DevicePrefix)) + " " + std::to_string(slot + 1) + SampleStatusText(status);
}

ExchangeRequest ProcessValueRequest(const LineFormat& line, std::uint8_t address) {
  ExchangeRequest request = ReadRequest(line, address, kProcessValueRegister, 2);
  request.firstWaitTicks = request.rearmTicks = WaitTicks(RequestKind::Acquisition, line);
  request.capacity = kAnswerCapacity;
  return request;
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

int Acquisition::AnswerTicks() const { return ProcessValueRequest(line_, 0).firstWaitTicks; }

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
  line_ = LineFormatOf(session_.params);
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
  exchange_.Send(ProcessValueRequest(line_, slots_[static_cast<std::size_t>(current_)].address));
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

void Acquisition::OnAnswer(const Answer& answer) {
  int value = 0;
  status_ = ReadSample(answer, value);
  if (!status_.Good()) {
    OnFailure();
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

void Acquisition::OnFailure() {
  if (observer_) observer_->StatusText(SlotFailureText(current_, status_));
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
  const std::string error = writer_->error();
  // Stopped before anyone is told, so nothing is sampled into a file that
  // cannot take it while the user reads the message.
  if (!goOnWithoutFile_) OnStop(true);
  if (observer_) observer_->RecordWriteFailed(error);
}

}  // namespace kx::recorder
