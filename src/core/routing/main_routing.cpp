#include "core/routing/main_routing.h"

#include <algorithm>
#include <utility>

#include "core/exchange/answer.h"
#include "core/modbus/codec.h"
#include "core/text/messages.h"
#include "core/line/settings.h"

namespace kx {

// ---------------------------------------------------------------------------

MainPortRouting::MainPortRouting(Session& session, ComPort& port)
    : session_(session), port_(port), exchange_(port), params_(session.params), timing_(TimingOf(session.params)) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& event) { Handle(event); });
  // The owner may replace this to report the failure as well; it must still call LineLost.
  port_.SetOnError([this](const std::string&) { LineLost(); });
}

bool MainPortRouting::Open() { return Open(session_.params); }

bool MainPortRouting::Open(const PortParams& params) {
  if (port_.IsOpen()) return true;
  if (!OpenWithParams(port_, params)) return false;
  UseLine(params);
  exchange_.Opened();
  return true;
}

void MainPortRouting::Close() {
  exchange_.Cancel();
  port_.Close();
}

void MainPortRouting::LineLost() {
  exchange_.LineLost();
  lease_.Release();
  if (tester.lineLost) tester.lineLost();
  if (setup.lineLost) setup.lineLost();
}

void MainPortRouting::Send(Route route, FrameForm form, std::span<const std::uint8_t> block,
                           int firstWaitTicks) {
  ExchangeRequest request;
  request.frame.assign(block.begin(), block.end());
  request.form = form;
  request.firstWaitTicks = firstWaitTicks;
  Send(route, std::move(request));
}

void MainPortRouting::Send(Route route, ExchangeRequest request) {
  const bool toTester = route == Route::Tester;
  request.end = request.form == FrameForm::Ascii ? FrameEnd{frame_end::Line{}} : FrameEnd{frame_end::Silence{}};
  request.rearmTicks = toTester ? kTesterTicks : kSetupRearmTicks;
  request.timing = timing_;
  request.capacity = kReceiveCapacity;
  request.graceBelow = 0;
  request.deadlineTicks = 0;
  request.flushInput = false;
  sentRoute_ = route;
  sentForm_ = request.form;
  shownFrom_ = 0;
  exchange_.Send(std::move(request));
}

std::string MainPortRouting::ReceiveText() const {
  const auto received = exchange_.Received().subspan(std::min(shownFrom_, exchange_.Received().size()));
  if (sentForm_ == FrameForm::Ascii) return AnswerText(received);
  std::string text;
  text.reserve(2 * received.size());
  for (const std::uint8_t b : received) text += HexByte(b);
  return text;
}

void MainPortRouting::Handle(const PortEvent& event) {
  const bool wasPending = exchange_.pending();
  std::optional<Answer> answer = exchange_.Handle(event);
  if (!answer) {
    // Bytes of an answer still being collected show as they come in.
    if (wasPending && std::holds_alternative<port_event::DataAvailable>(event) && sentRoute_ == Route::Tester &&
        tester.showReceived)
      tester.showReceived(ReceiveText());
    return;
  }
  if (sentRoute_ == Route::Tester) {
    TesterAnswer(*answer);
  } else if (setup.answerStep) {
    setup.answerStep(*answer);
  }
}

void MainPortRouting::TesterAnswer(const Answer& answer) {
  // A complete answer shows as received; a time-out shows its text.
  if (tester.showReceived)
    tester.showReceived(answer.Complete() ? ReceiveText() : std::string(Text(Msg::ReceivedDataTimeout)));
  if (tester.answerEnded) tester.answerEnded();
}

// ---------------------------------------------------------------------------

SecondPortRouting::SecondPortRouting(Session& session, ComPort& port) : session_(session), port_(port) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& event) { Handle(event); });
}

bool SecondPortRouting::Open(Route owner) { return Open(owner, session_.params); }

bool SecondPortRouting::Open(Route owner, const PortParams& params) {
  if (port_.IsOpen()) return true;
  if (!OpenWithParams(port_, params)) return false;
  const std::uint16_t first = port_.AddTimerTrigger();
  const std::uint16_t second = port_.AddTimerTrigger();
  recorderTimer_ = owner == Route::Recorder ? first : second;
  firmwareTimer_ = owner == Route::Recorder ? second : first;
  return true;
}

void SecondPortRouting::Close() { port_.Close(); }

bool SecondPortRouting::RecorderRoute() const {
  return recorder.event && session_.lineOwner == LineOwner::Recorder;
}

bool SecondPortRouting::LineLost(const std::string& reason) {
  if (RecorderRoute()) {
    if (recorder.lineLost) recorder.lineLost(reason);
    return true;
  }
  // The firmware update frees the line it holds when told.
  if (firmware.lineLost) firmware.lineLost();
  return false;
}

void SecondPortRouting::Handle(const PortEvent& event) {
  if (RecorderRoute()) {
    recorder.event(event);
    return;
  }
  if (firmware.event) {
    firmware.event(event);
    return;
  }
  // Nobody waits: drop what came, so the bytes cannot join a later answer.
  if (const auto* data = std::get_if<port_event::DataAvailable>(&event)) port_.Discard(data->waiting);
}

}  // namespace kx
