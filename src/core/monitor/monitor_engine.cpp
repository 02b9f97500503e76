#include "core/monitor/monitor_engine.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/exchange/requests.h"
#include "core/line/settings.h"
#include "core/monitor/monitor_select.h"
#include "core/text/messages.h"
#include "core/text/overloaded.h"

namespace kx {

MonitorEngine::MonitorEngine(ComPort& port, Session& session)
    : port_(port), session_(session), writes_(std::make_shared<PanelWrites>()), exchange_(port) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& e) {
    if (const auto* timer = std::get_if<port_event::TimerExpired>(&e))
      Handle(monitor_event::PortTimer{timer->trigger});
    else
      Handle(monitor_event::PortData{});
  });
  port_.SetOnError([this](const std::string& text) { Handle(monitor_event::PortFailed{text}); });
  panel_.Start(writes_);
}

MonitorEngine::~MonitorEngine() {
  port_.SetOnTrigger(nullptr);
  port_.SetOnError(nullptr);
}

void MonitorEngine::SetObserver(MonitorObserver* observer) { observer_ = observer; }

void MonitorEngine::Handle(const MonitorEvent& event) {
  // An observer that hands in an event while one is handled (a panel queueing
  // a write when its page was read) is served after it, never from inside.
  waitingEvents_.push_back(event);
  if (handling_) return;
  handling_ = true;
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
                 [this](const monitor_event::Refresh&) { pages_.refresh = true; },
                 [this](const monitor_event::FactoryMode& e) { OnFactoryMode(e.on); },
                 [this](const monitor_event::LevelWrite& e) { levelWrite_ = e.on; },
                 [this](const monitor_event::DecimalPoint& e) { OnDecimalPoint(e.device, e.code); },
                 [this](const monitor_event::StartTransfer& e) { OnStartTransfer(e.transfer); },
                 [this](const monitor_event::BufferState& e) { buffer_ = e; },
                 [this](const monitor_event::CloseRequest&) { OnCloseRequest(); },
                 [this](const monitor_event::Close&) { OnClose(); },
                 [this](const monitor_event::ClearCounters& e) { OnClearCounters(e.device); },
                 [this](const monitor_event::PortData&) { OnPortEvent(port_event::DataAvailable{}); },
                 [this](const monitor_event::PortTimer& e) { OnPortEvent(port_event::TimerExpired{e.trigger}); },
                 [this](const monitor_event::PortFailed& e) { OnPortFailed(e.text); },
             },
             event);
}

std::uint16_t MonitorEngine::ParameterWord(std::uint16_t reg) const {
  return IsParameterRegister(reg) ? pageWords_[reg - kParameterFirst] : std::uint16_t{0};
}

void MonitorEngine::OnDecimalPoint(int device, int code) {
  if (!ValidDevice(device)) return;
  Dev(device).decimalPoint = code;
  pages_.refresh = true;
  Notify(device, kChangePvSv);
}

void MonitorEngine::OnFactoryMode(bool on) {
  pages_.factoryMode = on;
  if (on)
    pages_.refresh = true;
  else
    HideCalibration();
}

void MonitorEngine::HideCalibration() {
  if (!pages_.calibrationShown) return;
  pages_.calibrationShown = false;
  if (observer_) observer_->HideCalibration();
}

// ---------------------------------------------------------------------------
// Reset, connect, select, address change, queued write, close

void MonitorEngine::OnReset() {
  ClosePort();
  state_ = State::Idle;
  inflight_ = InFlight{};
  poll_ = PollPosition{};
  pages_ = SelectedPages{};
  levelWrite_ = false;
  writes_ = std::make_shared<PanelWrites>();
  panel_.Start(writes_);
  exceptions_.Clear();
  EndTransfer(TransferEnd::Stopped);
  failure_ = Failure::None;
  buffer_ = {false, false};
  selection_.Reset();
  for (int d = 0; d < kMonitorDevices; ++d)
    if (observer_) observer_->ConnectionChanged(d, false);
  if (observer_) observer_->FrontPanelClear();
}

void MonitorEngine::OnToggleConnect(int d) {
  if (!ValidDevice(d)) return;
  if (Dev(d).connected) {
    Disconnect(d);
    // With a request in flight its answer or time-out closes the port.
    if (ConnectedCount() == 0 && state_ == State::Idle) NextRequest();
    return;
  }
  const bool first = selection_.Connect(d);
  if (observer_) observer_->ConnectionChanged(d, true);
  if (!first) return;

  // The first device: it becomes the selected one and starts the engine.
  SelectDevice(d);

  poll_ = PollPosition{RequestType::Identify, d};
  Dev(d).identifyPending = false;
  if (!OpenPort()) {
    // The line cannot be used: leave the device disconnected instead of
    // waiting for answers that cannot come.
    Disconnect(d);
    return;
  }
  if (observer_) observer_->EngineRunning(true);
  if (state_ == State::Idle)
    NextRequest();
  else if (state_ == State::Awaiting)
    state_ = State::Draining;  // the request still in flight belongs to the stopped cycle
}

void MonitorEngine::Disconnect(int d) {
  const std::optional<DeviceSelection::Left> left = selection_.Disconnect(d);
  if (!left) return;
  if (left->wasSelected) {
    EndTransfer(TransferEnd::Stopped);
    if (Dev(d).model == kModelKx3) pages_.reidentify = true;
  }
  if (observer_) observer_->ConnectionChanged(d, false);
  if (left->wasSelected) SelectDevice(left->next);
  if (left->noneLeft && observer_) observer_->EngineRunning(false);
}

void MonitorEngine::LeaveSelection() {
  writes_->Clear();
  pages_.factoryMode = false;
  HideCalibration();
}

void MonitorEngine::SelectDevice(int next) {
  LeaveSelection();
  const int old = selection_.Select(next);
  if (ValidDevice(next)) pages_.refresh = true;
  if (observer_) observer_->SelectionChanged(old, next);
}

void MonitorEngine::OnSelect(int d) {
  if (!selection_.MaySelect(d)) return;
  pages_.reidentify = true;
  EndTransfer(TransferEnd::Stopped);
  SelectDevice(d);
}

void MonitorEngine::OnChangeAddress(int d, std::uint16_t address) {
  if (!selection_.ChangeAddress(d, address)) return;
  if (d == SelectedDevice()) LeaveSelection();
  Notify(d, kChangeAddress);
}

void MonitorEngine::OnQueueWrite(const monitor_event::QueueWrite& e) {
  // A write whose request is on the line is not changed any more.
  const bool panelOnTheLine = state_ != State::Idle && inflight_.purpose == Purpose::Panel;
  writes_->Queue({e.reg, e.value, e.unlock, e.level}, panelOnTheLine ? inflight_.writeId : 0);
  if (ValidDevice(SelectedDevice()) && TakeQueuedWrite(Dev(SelectedDevice()), e.reg, e.value, pageWords_))
    Notify(SelectedDevice(), kChangePvSv);
}

void MonitorEngine::OnCloseRequest() {
  if (state_ == State::Idle)
    FinishDeferredClose();
  else
    state_ = State::Closing;
}

void MonitorEngine::OnClose() {
  if (observer_) observer_->EngineRunning(false);
  ClosePort();
  state_ = State::Idle;
}

void MonitorEngine::FinishDeferredClose() {
  OnClose();
  if (observer_) observer_->CloseWindow();
}

void MonitorEngine::OnClearCounters(int d) {
  if (!ValidDevice(d)) return;
  const bool allClear = selection_.ClearCounters(d);
  Notify(d, kChangeCounters);
  if (allClear) SetStatus(std::string(Text(Msg::NoError)), StatusTone::Cleared);
}

// ---------------------------------------------------------------------------
// Transfers

void MonitorEngine::OnStartTransfer(std::shared_ptr<Transfer> transfer) {
  if (!transfer || ConnectedCount() == 0 || !ValidDevice(SelectedDevice())) return;
  EndTransfer(TransferEnd::Stopped);
  transfer_.Start(std::move(transfer));
  if (observer_) observer_->TransferProgress(*transfer_.running());
  if (state_ == State::Idle) NextRequest();
}

void MonitorEngine::EndTransfer(TransferEnd end) {
  // Taken out first: the observer sees no transfer running any more.
  const std::shared_ptr<Transfer> ended = transfer_.Stop();
  if (!ended) return;
  if (end == TransferEnd::Completed && ended->Kind() == TransferKind::Download) pages_.refresh = true;
  if (observer_) observer_->TransferEnded(*ended, end);
}

void MonitorEngine::TransferMoved(const ParameterBuffer* bufferBefore) {
  const Transfer& t = *transfer_.running();
  if (observer_) observer_->TransferProgress(t);
  if (const ParameterBuffer* buffer = t.CompletedBuffer(); buffer != nullptr && bufferBefore == nullptr) {
    buffer_.valid = true;
    if (observer_) observer_->ParameterBufferUploaded(t, *buffer);
  }
  if (t.Done()) EndTransfer(TransferEnd::Completed);
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
  const bool closing = state_ == State::Closing;
  lease_.Release();
  exchange_.LineLost();
  state_ = State::Idle;
  if (observer_) observer_->PortError(text);
  for (int d = 0; d < kMonitorDevices; ++d) Disconnect(d);
  if (observer_) observer_->FrontPanelClear();
  if (closing) FinishDeferredClose();
}

LineFormat MonitorEngine::Line() const { return LineFormatOf(session_.params); }

// ---------------------------------------------------------------------------
// Sending

void MonitorEngine::Send(ExchangeRequest request, InFlight f, std::size_t answerBytes) {
  request.capacity = kMonitorReceiveCapacity;
  // A short RTU answer gets one more wait before it is taken.
  if (session_.params.rtu && request.expect) request.graceBelow = answerBytes;
  const int d = f.device;
  inflight_ = std::move(f);
  state_ = State::Awaiting;
  inflight_.tag = exchange_.Send(std::move(request));
  ++Dev(d).requestCount;
  Notify(d, kChangeCounters);
}

void MonitorEngine::SendPoll(const RegBlock& block, int device) {
  const std::uint8_t address = static_cast<std::uint8_t>(Dev(device).address);
  ExchangeRequest request = block.function == kFnIdentify
                                ? IdentifyRequest(Line(), address)
                                : ReadRequest(Line(), address, block.start, block.count, block.function);
  Send(std::move(request), InFlight{0, Purpose::Poll, poll_.type, device, block, {}, 0},
       RtuReadAnswerLength(block.count));
}

bool MonitorEngine::SendStep(Purpose purpose, TransferRunner& runner) {
  const std::optional<TransferCall> call = runner.Next();
  if (!call) return false;
  const MonitorDevice& sel = Dev(SelectedDevice());
  const std::uint8_t address = call->step.broadcast ? 0 : static_cast<std::uint8_t>(sel.address);
  ExchangeRequest request = TransferRunner::Request(call->step, Line(), address, sel.model);
  // A panel write refused with 86 fails its echo (the write is dropped with
  // that message); a transfer's refusal counts as an exception answer.
  if (purpose == Purpose::Panel && request.expect && !call->step.level)
    request.expect->functions.push_back(kFnWriteError);
  const InFlight f{
      0, purpose, poll_.type, SelectedDevice(), {}, *call, purpose == Purpose::Panel ? writes_->RequestId() : 0};
  const bool read = call->step.action == TransferRequest::Action::Read;
  Send(std::move(request), f, read ? RtuReadAnswerLength(call->step.value) : kRtuWriteAnswerLength);
  return true;
}

// ---------------------------------------------------------------------------
// Choosing the next request

void MonitorEngine::NextRequest() {
  if (state_ != State::Idle) return;  // one request in flight at most
  if (ConnectedCount() == 0 || !ValidDevice(SelectedDevice())) {
    if (observer_) observer_->FrontPanelClear();
    ClosePort();
    return;
  }
  if (!port_.IsOpen()) return;

  // Each pass either sends or moves the sequence on; a full cycle over every
  // request type and device is far less than this bound.
  for (int guard = 0; guard < 64 && ConnectedCount() > 0 && ValidDevice(SelectedDevice()); ++guard) {
    // The panels' writes, then the running transfer, then the poll cycle.
    if (SendStep(Purpose::Panel, panel_)) return;
    if (transfer_.running() != nullptr) {
      if (SendStep(Purpose::Transfer, transfer_)) return;
      EndTransfer(TransferEnd::Completed);  // nothing left to send
    }
    const bool status = IsStatusPoll(poll_.type);
    const int d = status ? poll_.device : SelectedDevice();
    if (!ValidDevice(d) || !Dev(d).connected) {
      Advance();
      continue;
    }
    const MonitorDevice& target = Dev(d);
    const auto block = RequestBlock(TypeNumber(poll_.type), target.model, target.rec.security.mode);
    if (!block) {
      Advance();  // nothing to read for this model: move on
      continue;
    }
    SendPoll(*block, d);
    return;
  }
}

void MonitorEngine::Advance() {
  if (ConnectedCount() == 0) return;
  PollFacts facts = PollFactsOf(selection_.devices(), SelectedDevice());
  facts.reidentifySelected = pages_.reidentify;
  facts.refresh = pages_.refresh;
  facts.factoryMode = pages_.factoryMode;
  facts.unlocked = writes_->unlocked();

  const PollStep step = AdvancePoll(poll_, facts);
  poll_ = step.next;
  pages_.refresh = step.refresh;
  if (step.reidentifyTaken) pages_.reidentify = false;
  if (ValidDevice(step.identifyTaken)) Dev(step.identifyTaken).identifyPending = false;
  if (step.unlock) writes_->UnlockFirst();
  if (step.noDeviceLeft) selection_.NoneConnected();
  if (step.pagesEnded) HideCalibration();
  if (const std::optional<RunLamp> lamp = PagesLampColour(step.lamp)) SetLamp(SelectedDevice(), *lamp);
  if (step.panelLayout && observer_) observer_->PanelLayout();
}

// ---------------------------------------------------------------------------
// Receiving

void MonitorEngine::OnPortEvent(const PortEvent& event) {
  const std::optional<Answer> answer = exchange_.Handle(event);
  if (!answer || state_ == State::Idle || answer->tag != inflight_.tag) return;
  if (SettleExchange()) return;
  if (inflight_.purpose == Purpose::Poll)
    TakePollAnswer(*answer);
  else
    TakeStepAnswer(*answer);
  NextRequest();
}

bool MonitorEngine::SettleExchange() {
  const State was = std::exchange(state_, State::Idle);
  if (was == State::Closing) {
    FinishDeferredClose();
    return true;
  }
  if (was == State::Draining) {
    NextRequest();
    return true;
  }
  return false;
}

void MonitorEngine::TakePollAnswer(const Answer& answer) {
  const bool identify = inflight_.type == RequestType::Identify;
  const Identification id = identify ? Identify(answer, inflight_.block.count) : Identification{};
  const Failure failure = identify ? id.failure : JudgeAnswer(answer, inflight_.block.count);
  if (failure == Failure::None) {
    if (identify) {
      TakeIdentify(id.model);
    } else {
      TakeRead(answer.Words());
      Advance();
    }
  }
  Account(failure, answer.function, answer.exceptionCode, std::nullopt);
}

void MonitorEngine::TakeStepAnswer(const Answer& answer) {
  const TransferRequest& step = inflight_.call.step;
  const bool panel = inflight_.purpose == Purpose::Panel;
  const ParameterBuffer* bufferBefore = transfer_.running() ? transfer_.running()->CompletedBuffer() : nullptr;
  // The panels' writes were cleared since (another controller): the answer
  // is counted but belongs to no write.
  const TransferOutcome out = panel && inflight_.writeId != writes_->RequestId()
                                  ? TransferOutcome{TransferStep::Stale, JudgeAnswer(answer, 0)}
                                  : (panel ? panel_ : transfer_).Take(inflight_.call, answer);
  if (step.broadcast) {
    // Nobody answers a broadcast: not counted for any device.
    if (out.step == TransferStep::Taken) TransferMoved(bufferBefore);
    return;
  }
  if (out.step == TransferStep::Taken && !panel) {
    TransferMoved(bufferBefore);
  } else if (out.failure == Failure::None && panel && step.action == TransferRequest::Action::Write) {
    if (step.level) {
      // The key write identifies the selected device again.
      levelWrite_ = false;
      pages_.reidentify = true;
      Advance();
    }
    pages_.refresh = true;
  } else if (out.failure == Failure::EchoMismatch) {
    pages_.refresh = true;  // a panel write is dropped with the message, a transfer's sent again
  }
  const std::optional<bool> limitPassed =
      out.step == TransferStep::Stale ? std::nullopt : std::optional<bool>(out.step == TransferStep::GiveUp);
  Account(out.failure, answer.function, answer.exceptionCode, limitPassed);
}

void MonitorEngine::TakeIdentify(std::uint8_t model) {
  const int d = inflight_.device;
  DeviceIdentified(Dev(d), model);
  if (model == kModelUnknown) {
    // No status blocks exist for it: polling it would wait for ever.
    SetStatus(std::string(kUnknownModelText), StatusTone::Error);
    Disconnect(d);
  } else {
    Notify(d, kChangeIdentified);
  }
  Advance();
}

void MonitorEngine::TakeRead(std::span<const std::uint16_t> words) {
  const RequestType type = inflight_.type;
  if (!IsStatusPoll(type)) {
    TakePage(words);
    return;
  }
  const int d = inflight_.device;
  const bool selected = d == SelectedDevice();
  const StatusTaken taken = TakeStatusPoll(Dev(d), type, words, selected, pages_.factoryMode);
  if (taken.refresh) pages_.refresh = true;
  Notify(d, taken.changes);
  if (type == RequestType::Security && selected && Dev(d).model == kModelKx3 && observer_)
    observer_->SecurityPoll(d);
}

void MonitorEngine::TakePage(std::span<const std::uint16_t> words) {
  const int type = TypeNumber(inflight_.type);
  const RegBlock block = inflight_.block;
  // A page asked for before the selection changed belongs to the old device;
  // the new one has its own pages read (its refresh request is set).
  if (!ValidDevice(SelectedDevice()) || inflight_.device != SelectedDevice()) return;
  MonitorDevice& dev = Dev(SelectedDevice());
  TakeParameterPage(dev, block, words, pageWords_);
  Notify(SelectedDevice(), kChangeRecord);
  if (observer_) observer_->ParametersRead(type, block, words);
  const bool kx1 = dev.model == kModelKx1;
  if ((type == 20 && kx1) || (type == 21 && !kx1)) pages_.calibrationShown = true;
  if (inflight_.type == RequestType::PageLast && observer_) observer_->PanelLayout();
  // KX1 has a single factory page: the next advance ends them.
  if (inflight_.type == RequestType::FactoryFirst && kx1) poll_.type = RequestType::FactoryLast;
}

// ---------------------------------------------------------------------------
// Error accounting

void MonitorEngine::Account(Failure failure, std::uint8_t function, std::uint8_t code,
                            std::optional<bool> limitPassed) {
  failure_ = failure;
  const int d = inflight_.device;
  if (!ValidDevice(d)) return;
  MonitorDevice& dev = Dev(d);
  if (failure == Failure::None) {
    dev.failuresInRow = 0;
    exceptions_.Clear();
    // While the selected device's pages are read its lamp keeps telling so.
    const bool readingPages = d == SelectedDevice() && !IsStatusPoll(poll_.type);
    if (dev.connected && !readingPages) SetLamp(d, RunLamp::Good);
    return;
  }

  ++dev.errorCount;
  for (int k = 0; k < kMonitorDevices; ++k) Notify(k, kChangeCounters);
  const StatusTone tone = dev.connected ? StatusTone::Error : StatusTone::Neutral;
  if (dev.connected) SetLamp(d, RunLamp::Failed);
  SetStatus(FailureText(failure, function, code), tone);

  // Only a failed status poll moves the poll cycle on: a failed write or
  // transfer request leaves it where it was, pending identifications included.
  const bool poll = inflight_.purpose == Purpose::Poll;
  const bool exception = failure == Failure::Exception;
  if (CountFailure(dev, exception, poll)) {
    // Dropped with the message of its last failure, as a silent one is.
    Disconnect(d);
    if (poll) Advance();
    return;
  }
  if (!exception || !(limitPassed ? *limitPassed : exceptions_.Count(function))) return;
  // Given up (the status line tells why): the refused write, the unlock, the transfer.
  writes_->Relock();
  if (inflight_.purpose == Purpose::Panel) writes_->Drop(inflight_.writeId);
  if (d == SelectedDevice()) pages_.refresh = true;
  if (poll) Advance();
  EndTransfer(TransferEnd::Aborted);
}

// ---------------------------------------------------------------------------
// Notifications

void MonitorEngine::SetLamp(int d, RunLamp lamp) {
  if (!ValidDevice(d) || Dev(d).lamp == lamp) return;
  Dev(d).lamp = lamp;
  Notify(d, kChangeLamp);
}

void MonitorEngine::SetStatus(std::string text, StatusTone tone) {
  statusText_ = std::move(text);
  if (observer_) observer_->StatusLine(statusText_, tone);
}

void MonitorEngine::UpdateMenus() {
  MenuFacts facts = MenuFactsOf(selection_.Selected());
  facts.running = ConnectedCount() > 0 && port_.IsOpen();
  facts.bufferValid = buffer_.valid;
  facts.fileChosen = buffer_.fileChosen;
  const MonitorMenus menus = MenusFor(facts);
  if (menus == menus_) return;
  menus_ = menus;
  if (observer_) observer_->MenusChanged(menus_);
}

void MonitorEngine::Notify(int d, unsigned changes) {
  if (observer_ && changes != 0) observer_->DeviceUpdated(d, changes);
}

}  // namespace kx
