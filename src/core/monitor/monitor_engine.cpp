#include "core/monitor/monitor_engine.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/exchange/answer.h"
#include "core/monitor/parameter_panel_rules.h"
#include "core/text/messages.h"
#include "core/text/overloaded.h"
#include "core/line/settings.h"

namespace kx {

namespace {

// Shown when a controller answers the identification but is none of the known
// models: it has no status blocks to poll, so it is dropped.
constexpr std::string_view kUnknownModelText = "Unknown model, device disconnected";

// Failed exchanges in a row that drop a controller (time-outs, bad frames,
// bad checks, wrong addresses, wrong echoes, refused status polls).
constexpr int kFailuresToDrop = 4;
// Exception answers in a row tolerated before the transfers are given up.
constexpr int kMaxExceptions = 3;

}  // namespace

MonitorEngine::MonitorEngine(ComPort& port, Session& session)
    : port_(port), session_(session), exchange_(port) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& e) {
    if (const auto* timer = std::get_if<port_event::TimerExpired>(&e))
      Handle(monitor_event::PortTimer{timer->trigger});
    else
      Handle(monitor_event::PortData{});
  });
  port_.SetOnError([this](const std::string& text) { Handle(monitor_event::PortFailed{text}); });
  timeoutTicks_ = session_.params.rtu ? 2 : 18;
}

MonitorEngine::~MonitorEngine() {
  port_.SetOnTrigger(nullptr);
  port_.SetOnError(nullptr);
}

void MonitorEngine::SetObserver(MonitorObserver* observer) { observer_ = observer; }

void MonitorEngine::Handle(const MonitorEvent& event) {
  // An observer that hands in an event while one is handled (a panel queueing
  // a write when its page was read) is served after it, never from inside.
  if (handling_) {
    waitingEvents_.push_back(event);
    return;
  }
  handling_ = true;
  Dispatch(event);
  UpdateMenus();
  while (!waitingEvents_.empty()) {
    const MonitorEvent next = std::move(waitingEvents_.front());
    waitingEvents_.pop_front();
    Dispatch(next);
    UpdateMenus();
  }
  handling_ = false;
}

void MonitorEngine::Dispatch(const MonitorEvent& event) {
  std::visit(Overloaded{
                 [this](const monitor_event::Reset&) { OnReset(); },
                 [this](const monitor_event::ToggleConnect& e) { OnToggleConnect(e.device); },
                 [this](const monitor_event::Select& e) { OnSelect(e.device); },
                 [this](const monitor_event::ChangeAddress& e) { OnChangeAddress(e.device, e.address); },
                 [this](const monitor_event::QueueWrite& e) { OnQueueWrite(e); },
                 [this](const monitor_event::Refresh&) { refresh_ = true; },
                 [this](const monitor_event::FactoryMode& e) { OnFactoryMode(e.on); },
                 [this](const monitor_event::LevelWrite& e) { levelWrite_ = e.on; },
                 [this](const monitor_event::DecimalPoint& e) { OnDecimalPoint(e.device, e.code); },
                 [this](const monitor_event::StartTransfer& e) { OnStartTransfer(e.transfer); },
                 [this](const monitor_event::BufferState& e) {
                   bufferValid_ = e.valid;
                   fileChosen_ = e.fileChosen;
                 },
                 [this](const monitor_event::CloseRequest&) { OnCloseRequest(); },
                 [this](const monitor_event::Close&) { OnClose(); },
                 [this](const monitor_event::ClearCounters& e) { OnClearCounters(e.device); },
                 [this](const monitor_event::PortData&) {
                   OnPortEvent(port_event::DataAvailable{});
                 },
                 [this](const monitor_event::PortTimer& e) {
                   OnPortEvent(port_event::TimerExpired{e.trigger});
                 },
                 [this](const monitor_event::PortFailed& e) { OnPortFailed(e.text); },
             },
             event);
}

const MonitorDevice& MonitorEngine::Device(int device) const {
  return devices_.at(static_cast<std::size_t>(ValidDevice(device) ? device : 0));
}

std::uint16_t MonitorEngine::ParameterWord(std::uint16_t reg) const {
  if (reg < 0x4700 || reg > 0x47FF) return 0;
  return pageWords_[reg - 0x4700U];
}

std::string MonitorEngine::ProgramText(int device) const {
  return ValidDevice(device) ? devices_[static_cast<std::size_t>(device)].programText : std::string();
}

void MonitorEngine::OnDecimalPoint(int device, int code) {
  if (!ValidDevice(device)) return;
  devices_[static_cast<std::size_t>(device)].decimalPoint = code;
  refresh_ = true;
  Notify(device, kChangePvSv);
}

void MonitorEngine::OnFactoryMode(bool on) {
  factoryMode_ = on;
  if (on)
    refresh_ = true;
  else
    HideCalibration();
}

void MonitorEngine::HideCalibration() {
  if (!calibrationShown_) return;
  calibrationShown_ = false;
  if (observer_) observer_->HideCalibration();
}

// ---------------------------------------------------------------------------
// Reset, connect, select, address change, queued write, close

void MonitorEngine::OnReset() {
  ClosePort();
  state_ = State::Idle;
  inflight_ = InFlight{};
  connectedCount_ = 0;
  poll_ = PollPosition{};
  selected_ = 0;
  reidentifySelected_ = false;
  timeoutTicks_ = session_.params.rtu ? 2 : 18;
  closeRequested_ = false;
  refresh_ = true;

  calibrationShown_ = false;
  factoryMode_ = false;
  unlockPending_ = false;
  unlocked_ = false;
  writes_.clear();
  levelWrite_ = false;
  readExceptions_ = 0;
  writeExceptions_ = 0;
  EndTransfer(TransferEnd::Stopped);
  result_ = Result::Good;

  bufferValid_ = fileChosen_ = false;

  for (int d = 0; d < kMonitorDevices; ++d) {
    auto& dev = devices_[static_cast<std::size_t>(d)];
    dev.identifyPending = false;
    dev.connected = false;
    dev.lastStatusByte = 0xFF;
    dev.rec.comWrite = 0xFF;
    dev.requestCount = 0;
    dev.errorCount = 0;
    dev.lamp = RunLamp::Off;
    dev.detailRead = false;
    dev.failuresInRow = 0;
    dev.programText.clear();
    if (observer_) observer_->ConnectionChanged(d, false);
  }
  if (observer_) observer_->FrontPanelClear();
}

void MonitorEngine::OnToggleConnect(int d) {
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  if (dev.connected) {
    Disconnect(d);
    // With a request in flight its answer or time-out closes the port.
    if (connectedCount_ == 0 && state_ == State::Idle) NextRequest();
    return;
  }
  dev.connected = true;
  ++connectedCount_;
  dev.identifyPending = true;
  dev.detailRead = false;
  dev.failuresInRow = 0;
  dev.lamp = RunLamp::Good;
  if (observer_) observer_->ConnectionChanged(d, true);
  if (connectedCount_ != 1) return;

  // The first device: it becomes the selected one and starts the engine.
  const int old = selected_;
  selected_ = d;
  dev.lastStatusByte = 0xFF;
  refresh_ = true;
  ClearWriteState();
  factoryMode_ = false;
  if (observer_) observer_->SelectionChanged(old, d);

  poll_ = PollPosition{RequestType::Identify, d};
  dev.identifyPending = false;
  if (!OpenPort()) {
    // The line cannot be used: leave the device disconnected instead of
    // waiting for answers that cannot come.
    Disconnect(d);
    return;
  }
  if (observer_) observer_->EngineRunning(true);
  if (state_ == State::Idle)
    NextRequest();
  else
    inflight_.stale = true;  // the request still in flight belongs to the stopped cycle
}

void MonitorEngine::Disconnect(int d) {
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  if (!dev.connected) return;
  dev.connected = false;
  dev.rec.programRunning = 0;
  dev.lamp = RunLamp::Off;
  connectedCount_ = std::max(0, connectedCount_ - 1);
  if (d == selected_) {
    EndTransfer(TransferEnd::Stopped);
    if (dev.model == kModelKx3) reidentifySelected_ = true;
  }
  if (observer_) observer_->ConnectionChanged(d, false);
  if (d == selected_) SelectNextAfter(d);
  if (connectedCount_ == 0 && observer_) observer_->EngineRunning(false);
}

void MonitorEngine::SelectNextAfter(int d) {
  const int old = selected_;
  int next = kNoDevice;
  for (int k = 1; k < kMonitorDevices; ++k) {
    const int c = (d + k) % kMonitorDevices;
    if (devices_[static_cast<std::size_t>(c)].connected) {
      next = c;
      break;
    }
  }
  ClearWriteState();
  factoryMode_ = false;
  HideCalibration();
  selected_ = next;
  if (next != kNoDevice) {
    devices_[static_cast<std::size_t>(next)].lastStatusByte = 0xFF;
    refresh_ = true;
  }
  if (observer_) observer_->SelectionChanged(old, next);
}

void MonitorEngine::OnSelect(int d) {
  if (!ValidDevice(d) || d == selected_ || !devices_[static_cast<std::size_t>(d)].connected) return;
  reidentifySelected_ = true;
  devices_[static_cast<std::size_t>(d)].lastStatusByte = 0xFF;
  const int old = selected_;
  selected_ = d;
  refresh_ = true;
  factoryMode_ = false;
  ClearWriteState();
  EndTransfer(TransferEnd::Stopped);
  HideCalibration();
  if (observer_) observer_->SelectionChanged(old, d);
}

void MonitorEngine::OnChangeAddress(int d, std::uint16_t address) {
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  dev.address = std::clamp<std::uint16_t>(address, 1, 247);
  if (!dev.connected) return;
  dev.identifyPending = true;
  dev.detailRead = false;
  if (d == selected_) {
    ClearWriteState();
    factoryMode_ = false;
    HideCalibration();
  }
  Notify(d, kChangeAddress);
}

void MonitorEngine::OnQueueWrite(const monitor_event::QueueWrite& e) {
  const bool onTheLine = state_ == State::Awaiting && !writes_.empty() &&
                         (inflight_.purpose == Purpose::Write || inflight_.purpose == Purpose::Unlock) &&
                         inflight_.writeSeq == writes_.back().seq;
  if (!writes_.empty() && !onTheLine && writes_.back().reg == e.reg) {
    QueuedWrite& last = writes_.back();
    last.value = e.value;
    last.unlock = last.unlock || e.unlock;
    last.level = e.level;
  } else {
    writes_.push_back({e.reg, e.value, e.unlock, e.level, ++writeSeq_});
  }
  DecimalPointQueued(e.reg, e.value);
}

void MonitorEngine::DecimalPointQueued(std::uint16_t reg, std::uint16_t value) {
  if (!ValidDevice(selected_)) return;
  auto& dev = devices_[static_cast<std::size_t>(selected_)];
  constexpr std::uint16_t kKx1InputType = 0x4710, kKx2Unit = 0x4724, kKx2Pointer = 0x4725;
  if (dev.model == kModelKx1 && reg == kKx1InputType) {
    pageWords_[reg - 0x4700U] = value;
    dev.decimalPoint = Kx1DecimalPoint(value);
  } else if (dev.model == kModelKx2 && (reg == kKx2Unit || reg == kKx2Pointer)) {
    pageWords_[reg - 0x4700U] = value;
    dev.decimalPoint = Kx2DecimalPoint(pageWords_[kKx2Unit - 0x4700U], pageWords_[kKx2Pointer - 0x4700U]);
  } else {
    return;
  }
  Notify(selected_, kChangePvSv);
}

void MonitorEngine::DropWrite(std::uint32_t seq) {
  if (!writes_.empty() && writes_.front().seq == seq) writes_.pop_front();
}

void MonitorEngine::WriteEnded() {
  if (inflight_.purpose == Purpose::Write) DropWrite(inflight_.writeSeq);
}

void MonitorEngine::ClearWriteState() {
  unlockPending_ = false;
  unlocked_ = false;
  writes_.clear();
}

void MonitorEngine::OnCloseRequest() {
  if (state_ == State::Idle)
    FinishDeferredClose();
  else
    closeRequested_ = true;
}

void MonitorEngine::OnClose() {
  closeRequested_ = false;
  if (observer_) observer_->EngineRunning(false);
  ClosePort();
  state_ = State::Idle;
  inflight_.stale = true;
}

void MonitorEngine::FinishDeferredClose() {
  OnClose();
  if (observer_) observer_->CloseWindow();
}

void MonitorEngine::OnClearCounters(int d) {
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  dev.requestCount = 0;
  dev.errorCount = 0;
  Notify(d, kChangeCounters);
  const bool allClear = std::all_of(devices_.begin(), devices_.end(),
                                    [](const MonitorDevice& x) { return x.errorCount == 0; });
  if (allClear) SetStatus(std::string(Text(Msg::NoError)), StatusTone::Cleared);
}

// ---------------------------------------------------------------------------
// Transfers

void MonitorEngine::OnStartTransfer(std::shared_ptr<Transfer> transfer) {
  if (!transfer || connectedCount_ == 0 || !ValidDevice(selected_)) return;
  EndTransfer(TransferEnd::Stopped);
  transfer_ = std::move(transfer);
  ++transferSeq_;
  if (observer_) observer_->TransferProgress(*transfer_);
  if (state_ == State::Idle) NextRequest();
}

void MonitorEngine::EndTransfer(TransferEnd end) {
  if (!transfer_) return;
  // Taken out first: the observer sees no transfer running any more.
  const std::shared_ptr<Transfer> ended = std::move(transfer_);
  transfer_.reset();
  if (end == TransferEnd::Completed && ended->Kind() == TransferKind::Download) refresh_ = true;
  if (observer_) observer_->TransferEnded(*ended, end);
}

void MonitorEngine::TransferAnswered(std::span<const std::uint16_t> words) {
  // A transfer stopped while its request was in flight takes no more answers.
  if (!transfer_ || inflight_.transferSeq != transferSeq_) return;
  auto* upload = dynamic_cast<ImageUpload*>(transfer_.get());
  const bool bufferBefore = upload != nullptr && upload->BufferComplete();
  transfer_->AnswerTaken(words);
  if (observer_) observer_->TransferProgress(*transfer_);
  if (upload != nullptr && !bufferBefore && upload->BufferComplete()) {
    bufferValid_ = true;
    if (observer_) observer_->ParameterBufferUploaded(*upload);
  }
  if (transfer_->Done()) EndTransfer(TransferEnd::Completed);
}

// ---------------------------------------------------------------------------
// Port

bool MonitorEngine::OpenPort() {
  if (port_.IsOpen()) return true;
  lease_ = session_.TakeLine(LineOwner::Monitor);
  if (!OpenWithParams(port_, session_.params)) {
    lease_.Release();
    if (observer_) observer_->PortError(port_.ErrorText());
    return false;
  }
  exchange_.Opened();
  return true;
}

void MonitorEngine::ClosePort() {
  if (!port_.IsOpen()) return;
  lease_.Release();
  exchange_.Cancel();
  port_.Close();
}

void MonitorEngine::OnPortFailed(const std::string& text) {
  // The line is gone: nothing can be polled any more.
  lease_.Release();
  exchange_.LineLost();
  state_ = State::Idle;
  inflight_.stale = true;
  if (observer_) observer_->PortError(text);
  for (int d = 0; d < kMonitorDevices; ++d) Disconnect(d);
  if (observer_) observer_->FrontPanelClear();
  if (closeRequested_) FinishDeferredClose();
}

int MonitorEngine::TimeoutFor(bool broadcast, bool write) const {
  if (session_.params.rtu) return session_.params.baud >= 9600 ? 2 : 3;
  if (broadcast) return 5;
  return write ? 50 : 18;
}

void MonitorEngine::SendRequest(Purpose purpose, std::uint8_t function, std::uint16_t reg,
                                std::uint16_t value, RequestType type, int device, bool broadcast) {
  InFlight f;
  f.purpose = purpose;
  f.transferSeq = transferSeq_;
  f.type = type;
  f.device = device;
  f.broadcast = broadcast;
  f.address = broadcast ? 0 : static_cast<std::uint8_t>(devices_[static_cast<std::size_t>(device)].address);
  f.function = function;
  f.block = RegBlock{reg, value, function};
  const Bytes pdu = function == kFnWrite ? WriteRegisterPdu(f.address, reg, value)
                                         : ReadRequestPdu(f.address, function, reg, value);
  const bool rtu = session_.params.rtu;
  f.frame = BuildFrame(rtu ? FrameForm::Rtu : FrameForm::Ascii, pdu);
  const bool read = function == kFnRead || function == kFnIdentify;
  const bool write = function == kFnWrite || function == 0x68;
  if (rtu)
    f.expected = read ? RtuReadAnswerLength(value) : write ? kRtuWriteAnswerLength : 3;
  else
    f.expected = read ? AsciiReadAnswerLength(value) : write ? kAsciiWriteAnswerLength : 5;
  timeoutTicks_ = TimeoutFor(f.broadcast, function == kFnWrite);

  const FrameForm form = rtu ? FrameForm::Rtu : FrameForm::Ascii;
  ExchangeRequest request =
      ExchangeRequest::For(form, f.frame, timeoutTicks_, timeoutTicks_, TimingOf(session_.params));
  request.capacity = kMonitorReceiveCapacity;
  if (f.broadcast) {
    // Nobody answers: whatever the line does, the end of the wait acknowledges it.
    request.end = frame_end::Silence{};
  } else {
    // A short RTU answer gets one more wait before it is taken.
    if (rtu) request.graceBelow = f.expected;
    AnswerExpectation expect;
    expect.address = f.address;
    if (write)
      expect.functions = {kFnWrite, kFnWriteError};  // the echo is compared below
    else if (type == RequestType::Identify && purpose == Purpose::Poll)
      expect.functions = {kFnRead, kFnIdentify, kFnKx1Identify, kFnIdentifyError};
    else
      expect.functions = {kFnRead, kFnIdentify};
    request.expect = std::move(expect);
  }
  inflight_ = std::move(f);
  state_ = State::Awaiting;
  inflight_.tag = exchange_.Send(std::move(request));

  auto& dev = devices_[static_cast<std::size_t>(device)];
  ++dev.requestCount;
  Notify(device, kChangeCounters);
}

// ---------------------------------------------------------------------------
// Choosing the next request

int MonitorEngine::FirstConnected() const {
  for (int d = 0; d < kMonitorDevices; ++d)
    if (devices_[static_cast<std::size_t>(d)].connected) return d;
  return kNoDevice;
}

void MonitorEngine::NextRequest() {
  if (state_ != State::Idle) return;  // one request in flight at most
  if (connectedCount_ == 0 || !ValidDevice(selected_)) {
    if (observer_) observer_->FrontPanelClear();
    ClosePort();
    return;
  }
  if (!port_.IsOpen()) return;

  // Each pass either sends or moves the sequence on; a full cycle over every
  // request type and device is far less than this bound.
  for (int guard = 0; guard < 64 && connectedCount_ > 0 && ValidDevice(selected_); ++guard) {
    const int sel = selected_;
    const auto& selDev = devices_[static_cast<std::size_t>(sel)];

    // 1. The unlock write, 2. the queued write.
    if (unlockPending_) {
      SendRequest(Purpose::Unlock, kFnWrite, UnlockRegister(selDev.model), kUnlockValue, poll_.type,
                  sel);
      return;
    }
    if (!writes_.empty()) {
      const QueuedWrite w = writes_.front();
      if (w.unlock && !unlocked_) {
        SendRequest(Purpose::Unlock, kFnWrite, UnlockRegister(selDev.model), kUnlockValue, poll_.type,
                    sel);
      } else {
        unlocked_ = false;
        SendRequest(Purpose::Write, kFnWrite, w.reg, w.value, poll_.type, sel);
        inflight_.level = w.level;
      }
      inflight_.writeSeq = w.seq;
      return;
    }
    // 3. The running transfer.
    if (transfer_) {
      if (const auto req = transfer_->NextRequest()) {
        using Action = TransferRequest::Action;
        switch (req->action) {
          case Action::Unlock:
            SendRequest(Purpose::Transfer, kFnWrite, UnlockRegister(selDev.model), kUnlockValue,
                        poll_.type, sel, req->broadcast);
            break;
          case Action::Write:
            SendRequest(Purpose::Transfer, kFnWrite, req->reg, req->value, poll_.type, sel,
                        req->broadcast);
            break;
          case Action::Read:
            SendRequest(Purpose::Transfer, kFnRead, req->reg, req->value, poll_.type, sel,
                        req->broadcast);
            break;
        }
        return;
      }
      EndTransfer(TransferEnd::Completed);  // nothing left to send
    }

    // 4. The poll cycle.
    // 6. The request of the current type.
    const bool status = IsStatusPoll(poll_.type);
    const int dev = status ? poll_.device : sel;
    if (!ValidDevice(dev) || !devices_[static_cast<std::size_t>(dev)].connected) {
      Advance();
      continue;
    }
    const auto& target = devices_[static_cast<std::size_t>(dev)];
    const auto block = RequestBlock(TypeNumber(poll_.type), status ? target.model : selDev.model,
                                    status ? target.rec.security.mode : selDev.rec.security.mode);
    if (!block) {
      Advance();  // nothing to read for this model: move on
      continue;
    }
    SendRequest(Purpose::Poll, block->function, block->start, block->count, poll_.type, dev);
    return;
  }
}

void MonitorEngine::Advance() {
  if (connectedCount_ == 0) return;
  PollFacts facts;
  for (int d = 0; d < kMonitorDevices; ++d) {
    const auto& dev = devices_[static_cast<std::size_t>(d)];
    facts.devices[static_cast<std::size_t>(d)] = {dev.connected, dev.rec.programRunning != 0,
                                                  dev.identifyPending};
  }
  facts.selected = selected_;
  const auto& sel = devices_[static_cast<std::size_t>(ValidDevice(selected_) ? selected_ : 0)];
  facts.selectedRestricted = sel.model == kModelKx3 && !Kx3FullPoll(sel.rec.security.mode);
  facts.reidentifySelected = reidentifySelected_;
  facts.refresh = refresh_;
  facts.factoryMode = factoryMode_;
  facts.unlocked = unlocked_;

  const PollStep step = AdvancePoll(poll_, facts);
  poll_ = step.next;
  refresh_ = step.refresh;
  if (step.reidentifyTaken) reidentifySelected_ = false;
  if (ValidDevice(step.identifyTaken))
    devices_[static_cast<std::size_t>(step.identifyTaken)].identifyPending = false;
  if (step.unlock) unlockPending_ = true;
  if (step.noDeviceLeft) connectedCount_ = 0;
  if (step.pagesEnded) HideCalibration();
  switch (step.lamp) {
    case PagesLamp::Keep: break;
    case PagesLamp::ReadingParameters: SetLamp(selected_, RunLamp::ReadingParameters); break;
    case PagesLamp::ReadingFactory: SetLamp(selected_, RunLamp::ReadingFactory); break;
    case PagesLamp::Good: SetLamp(selected_, RunLamp::Good); break;
  }
  if (step.panelLayout && observer_) observer_->PanelLayout();
}

// ---------------------------------------------------------------------------
// Receiving

void MonitorEngine::OnPortEvent(const PortEvent& event) {
  const std::optional<Answer> answer = exchange_.Handle(event);
  if (!answer || state_ == State::Idle || answer->tag != inflight_.tag) return;
  if (SettleExchange()) return;
  if (inflight_.broadcast) {
    TransferAnswered({});
    NextRequest();
    return;
  }
  if (!answer->Complete() || !answer->check) {
    Finish(Result::TimeOut);
    return;
  }
  TakeAnswer(*answer->check);
}

bool MonitorEngine::SettleExchange() {
  state_ = State::Idle;
  if (closeRequested_) {
    FinishDeferredClose();
    return true;
  }
  if (inflight_.stale) {
    NextRequest();
    return true;
  }
  return false;
}

void MonitorEngine::TakeAnswer(const AnswerCheck& check) {
  const std::uint8_t f = check.function;
  switch (check.status) {
    case AnswerStatus::Ok: break;
    case AnswerStatus::FormatError: Finish(Result::Format, f); return;
    case AnswerStatus::WrongAddress: Finish(Result::WrongAddress, f); return;
    case AnswerStatus::ChecksumError: Finish(Result::Checksum, f); return;
    case AnswerStatus::Exception:
    case AnswerStatus::UnknownFunction:
    case AnswerStatus::EchoMismatch: Finish(Result::Exception, f, check.exceptionCode); return;
  }
  const bool rtu = session_.params.rtu;
  const FrameForm form = rtu ? FrameForm::Rtu : FrameForm::Ascii;
  const Bytes& bytes = check.bytes;
  const std::size_t payloadEnd = bytes.size() - CheckLength(form);

  if (f == kFnRead || f == kFnIdentify) {
    // A read answer must answer a read and carry exactly the words asked for:
    // a late answer to an earlier request of another length is not taken for
    // this one.
    if (inflight_.function != kFnRead && inflight_.function != kFnIdentify) {
      Finish(Result::Exception, f);
      return;
    }
    const std::size_t byteCount = bytes.size() > 2 ? bytes[2] : 0;
    const std::size_t n = byteCount / 2;
    if (3 + byteCount != payloadEnd || byteCount != 2U * inflight_.block.count) {
      Finish(Result::Format, f);
      return;
    }
    std::vector<std::uint16_t> words(n);
    for (std::size_t i = 0; i < n; ++i)
      words[i] = static_cast<std::uint16_t>((bytes[3 + 2 * i] << 8) | bytes[4 + 2 * i]);
    if (inflight_.purpose == Purpose::Transfer) {
      TransferAnswered(words);
      Finish(Result::Good, f);
      return;
    }
    if (inflight_.type == RequestType::Identify) {
      DecodeIdentify(IdentifyModel(f, words));
    } else {
      DecodeRead(words);
      Advance();
    }
    Finish(Result::Good, f);
    return;
  }

  if (f == kFnWrite || f == kFnWriteError) {
    if (inflight_.purpose == Purpose::Write && inflight_.level) {
      // The controller answers a key write in its own way: no echo check.
      levelWrite_ = false;
      WriteEnded();
      reidentifySelected_ = true;
      Advance();
      refresh_ = true;
      Finish(Result::Good, f);
      return;
    }
    // A transfer's write refused with an exception would be sent again for
    // ever as a wrong echo: it counts as an exception answer, so repeated
    // refusals end the transfer with their message.
    if (f == kFnWriteError && inflight_.purpose == Purpose::Transfer) {
      Finish(Result::Exception, f, bytes.size() > 2 ? bytes[2] : 0);
      return;
    }
    // The echo must equal the request (ASCII: the decoded bytes, LRC included).
    Bytes sent;
    if (rtu) {
      sent = inflight_.frame;
    } else if (auto s = AsciiAnswerBytes(inflight_.frame)) {
      sent = std::move(*s);
    }
    if (inflight_.function != kFnWrite || bytes != sent) {
      // The failed write (or the one its unlock was for) is dropped, with
      // this message; those queued after it still go out. A transfer's write
      // is sent again.
      if (inflight_.purpose == Purpose::Write || inflight_.purpose == Purpose::Unlock) {
        if (inflight_.writeSeq != 0) DropWrite(inflight_.writeSeq);
        unlockPending_ = false;
        unlocked_ = false;
      }
      refresh_ = true;
      Finish(Result::EchoMismatch, f);
      return;
    }
    TakeWriteAnswer();
    Finish(Result::Good, f);
    return;
  }

  if (inflight_.type == RequestType::Identify && inflight_.function == kFnIdentify &&
      (f == kFnKx1Identify || f == kFnIdentifyError)) {
    DecodeIdentify(kModelKx1);
    Finish(Result::Good, f);
    return;
  }
  Finish(Result::Exception, f, bytes.size() > 2 ? bytes[2] : 0);
}

void MonitorEngine::TakeWriteAnswer() {
  switch (inflight_.purpose) {
    case Purpose::Unlock:
      unlockPending_ = false;
      unlocked_ = true;
      break;
    case Purpose::Write:
      refresh_ = true;
      WriteEnded();
      break;
    case Purpose::Transfer: TransferAnswered({}); break;
    case Purpose::Poll: break;
  }
}

void MonitorEngine::DecodeIdentify(std::uint8_t model) {
  const int d = inflight_.device;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  if (model == kModelUnknown) {
    // No status blocks exist for it: polling it would wait for ever.
    dev.model = model;
    SetStatus(std::string(kUnknownModelText), StatusTone::Error);
    Disconnect(d);
    Advance();
    return;
  }
  dev.model = model;
  if (model == kModelKx3) dev.decimalPoint = 1;
  Notify(d, kChangeIdentified);
  Advance();
}

void MonitorEngine::DecodeRead(std::span<const std::uint16_t> words) {
  const RequestType type = inflight_.type;
  if (!IsStatusPoll(type)) {
    DecodePage(words);
    return;
  }
  const int d = inflight_.device;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  const bool selected = d == selected_;
  const PollEffects fx = DecodePoll(TypeNumber(type), dev.model, words, selected, dev.rec);
  unsigned changes = kChangeRecord;
  if (fx.refresh) refresh_ = true;
  if (fx.decimalPointSet) dev.decimalPoint = fx.decimalPoint;
  if (fx.securityRead) changes |= kChangeSecurity;
  const bool kx3Restricted = dev.model == kModelKx3 && !Kx3FullPoll(dev.rec.security.mode);
  switch (type) {
    case RequestType::ModelDetail:
      dev.detailRead = true;
      changes |= kChangePvSv;  // the decimal point may have changed
      break;
    case RequestType::PvSv:
    case RequestType::PvSv5:
      changes |= kChangePvSv;
      if (!kx3Restricted) changes |= kChangeOutputs;
      break;
    case RequestType::Status4:
    case RequestType::Status6:
      if (fx.statusByteRead && dev.rec.statusByte != dev.lastStatusByte) {
        dev.lastStatusByte = dev.rec.statusByte;
        changes |= kChangeLeds;
      }
      if (type == RequestType::Status6 && selected && !kx3Restricted) changes |= kChangeDiagnostics;
      break;
    case RequestType::Program: {
      const std::uint16_t sv = factoryMode_ ? dev.rec.patternSv : dev.rec.sv;
      dev.programText = ProgramDisplayText(dev.rec.program, sv, dev.decimalPoint);
      changes |= kChangeProgram;
      break;
    }
    default:
      break;
  }
  Notify(d, changes);
  if (type == RequestType::Security && selected && dev.model == kModelKx3 && observer_)
    observer_->SecurityPoll(d);
}

void MonitorEngine::DecodePage(std::span<const std::uint16_t> words) {
  const int type = TypeNumber(inflight_.type);
  const RegBlock block = inflight_.block;
  // A page asked for before the selection changed belongs to the old device;
  // the new one has its own pages read (its refresh request is set).
  if (!ValidDevice(selected_) || inflight_.device != selected_) return;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::size_t reg = block.start + i;
    if (reg >= 0x4700 && reg <= 0x47FF) pageWords_[reg - 0x4700] = words[i];
  }
  auto& dev = devices_[static_cast<std::size_t>(selected_)];
  // Decimal point: KX1 input type (0x4710, page 11); KX2 unit and decimal
  // point (0x4724, 0x4725, page 10); KX3 keeps its chosen code, rounded for a
  // temperature unit.
  if (type == 11 && dev.model == kModelKx1 && !words.empty()) {
    dev.decimalPoint = Kx1DecimalPoint(words[0]);
  } else if (type == 10 && words.size() >= 6) {
    if (dev.model == kModelKx3) {
      if (dev.decimalPoint == 0 && words[4] < 2) dev.decimalPoint = kDpRounded;
    } else if (dev.model != kModelKx1) {
      dev.decimalPoint = Kx2DecimalPoint(words[4], words[5]);
    }
  }
  // The com-write flag, heat/cool and output functions the page holds are
  // the device's from now on: the panel's access and layout follow them.
  panel::RecordFromPage(dev.model, block, words, dev.rec);
  Notify(selected_, kChangeRecord);
  if (observer_) observer_->ParametersRead(type, block, words);
  const bool kx1 = dev.model == kModelKx1;
  if ((type == 20 && kx1) || (type == 21 && !kx1)) calibrationShown_ = true;
  if (inflight_.type == RequestType::PageLast && observer_) observer_->PanelLayout();
  // KX1 has a single factory page: the next advance ends them.
  if (inflight_.type == RequestType::FactoryFirst && kx1) poll_.type = RequestType::FactoryLast;
}

// ---------------------------------------------------------------------------
// Error accounting

void MonitorEngine::Finish(Result result, std::uint8_t function, std::uint8_t exceptionCode) {
  Account(result, function, exceptionCode);
  NextRequest();
}

void MonitorEngine::Account(Result result, std::uint8_t function, std::uint8_t exceptionCode) {
  result_ = result;
  const int d = inflight_.device;
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  if (result == Result::Good) {
    dev.failuresInRow = 0;
    readExceptions_ = 0;
    writeExceptions_ = 0;
    // While the selected device's pages are read its lamp keeps telling so.
    const bool readingPages = d == selected_ && !IsStatusPoll(poll_.type);
    if (dev.connected && !readingPages) SetLamp(d, RunLamp::Good);
    return;
  }

  ++dev.errorCount;
  for (int k = 0; k < kMonitorDevices; ++k) Notify(k, kChangeCounters);
  const StatusTone tone = dev.connected ? StatusTone::Error : StatusTone::Neutral;
  if (dev.connected) SetLamp(d, RunLamp::Failed);
  std::optional<std::string> exceptionText;
  if (result == Result::Exception) exceptionText = ExceptionReport(function, exceptionCode);
  switch (result) {
    case Result::Format: SetStatus(std::string(Text(Msg::RcvFormatError)), tone); break;
    case Result::Checksum: SetStatus(std::string(Text(Msg::ReceivedChecksumError)), tone); break;
    case Result::WrongAddress: SetStatus(std::string(Text(Msg::AddressNotCorrect)), tone); break;
    case Result::EchoMismatch: SetStatus(std::string(Text(Msg::WriteCompareFail)), tone); break;
    case Result::TimeOut: SetStatus(std::string(Text(Msg::DataTimeOutError)), tone); break;
    case Result::Exception:
      SetStatus(exceptionText ? *exceptionText : std::string(Text(Msg::UnknownCommand)), tone);
      break;
    case Result::Good: break;
  }

  // Only a failed status poll moves the poll cycle on: a failed write or
  // transfer request leaves it where it was, pending identifications included.
  const bool poll = inflight_.purpose == Purpose::Poll;
  // An exception answer shows the controller alive; only refusing its status
  // polls counts towards dropping it.
  if (!exceptionText || poll)
    ++dev.failuresInRow;
  else
    dev.failuresInRow = 0;
  if (dev.connected && dev.failuresInRow >= kFailuresToDrop) {
    // Dropped with the message of its last failure, as a silent one is.
    Disconnect(d);
    if (poll) Advance();
    return;
  }
  if (!exceptionText) return;
  if (function == kFnWriteError || function == kFnWriteErrorAlt)
    ++writeExceptions_;
  else
    ++readExceptions_;
  if (readExceptions_ > kMaxExceptions || writeExceptions_ > kMaxExceptions) {
    // The refused write is given up (the status line tells why).
    unlockPending_ = false;
    unlocked_ = false;
    if (inflight_.purpose == Purpose::Write || inflight_.purpose == Purpose::Unlock) DropWrite(inflight_.writeSeq);
    if (d == selected_) refresh_ = true;
    readExceptions_ = writeExceptions_ = 0;
    if (poll) Advance();
    EndTransfer(TransferEnd::Aborted);
  }
}

// ---------------------------------------------------------------------------
// Notifications

void MonitorEngine::SetLamp(int d, RunLamp lamp) {
  if (!ValidDevice(d)) return;
  auto& dev = devices_[static_cast<std::size_t>(d)];
  if (dev.lamp == lamp) return;
  dev.lamp = lamp;
  Notify(d, kChangeLamp);
}

void MonitorEngine::SetStatus(std::string text, StatusTone tone) {
  statusText_ = std::move(text);
  if (observer_) observer_->StatusLine(statusText_, tone);
}

void MonitorEngine::UpdateMenus() {
  MenuFacts facts;
  facts.running = connectedCount_ > 0 && port_.IsOpen();
  if (ValidDevice(selected_)) {
    const auto& sel = devices_[static_cast<std::size_t>(selected_)];
    facts.selectedDetailRead = sel.connected && sel.detailRead;
    facts.selectedModel = sel.model;
    facts.selectedSecurityMode = sel.rec.security.mode;
    facts.selectedComWrite = sel.rec.comWrite;
  }
  facts.bufferValid = bufferValid_;
  facts.fileChosen = fileChosen_;
  const MonitorMenus menus = MenusFor(facts);
  if (menus == menus_) return;
  menus_ = menus;
  if (observer_) observer_->MenusChanged(menus_);
}

void MonitorEngine::Notify(int d, unsigned changes) {
  if (observer_ && changes != 0) observer_->DeviceUpdated(d, changes);
}

}  // namespace kx
