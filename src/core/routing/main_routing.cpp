#include "core/routing/main_routing.h"

#include <algorithm>
#include <utility>

#include "core/exchange/answer.h"
#include "core/modbus/codec.h"
#include "core/text/messages.h"
#include "core/line/settings.h"

namespace kx {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

}  // namespace

// ---------------------------------------------------------------------------

MainPortRouting::MainPortRouting(Session& session, ComPort& port)
    : session_(session), port_(port), exchange_(port), timing_(TimingOf(session.params)) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& event) { Handle(event); });
}

bool MainPortRouting::Open() { return Open(session_.params); }

bool MainPortRouting::Open(const PortParams& params) {
  if (port_.Open()) return true;
  if (!OpenWithParams(port_, params)) return false;
  UseLine(params);
  exchange_.Opened();
  return true;
}

void MainPortRouting::Close() {
  exchange_.Cancel();
  port_.SetOpen(false);
}

void MainPortRouting::LineLost() {
  exchange_.LineLost();
  tester.awaitingAnswer = false;
  tester.repeat = false;
  if (session_.lineOwner == LineOwner::Tester || session_.lineOwner == LineOwner::Setup)
    session_.lineOwner = LineOwner::Free;
  if (tester.portClosed) tester.portClosed();
  if (tester.lineLost) tester.lineLost();
  if (setup.lineLost) setup.lineLost();
}

void MainPortRouting::Send(Route route, FrameForm form, std::span<const std::uint8_t> block,
                           int firstWaitTicks) {
  const bool toTester = route == Route::Tester;
  ExchangeRequest request;
  request.frame.assign(block.begin(), block.end());
  request.form = form;
  request.end = form == FrameForm::Ascii ? FrameEnd{frame_end::Line{}} : FrameEnd{frame_end::Silence{}};
  request.firstWaitTicks = firstWaitTicks;
  request.rearmTicks = toTester ? kTesterTicks : kSetupRearmTicks;
  request.timing = timing_;
  request.capacity = kReceiveCapacity;
  request.flushInput = false;
  sentRoute_ = route;
  sentForm_ = form;
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
  const bool wasPending = exchange_.Pending();
  std::optional<Answer> answer = exchange_.Handle(event);
  if (!answer) {
    // Bytes of an answer still being collected show as they come in.
    if (wasPending && event.kind == kEventDataAvailable && sentRoute_ == Route::Tester &&
        tester.showReceived)
      tester.showReceived(ReceiveText());
    return;
  }
  if (sentRoute_ == Route::Tester) {
    TesterAnswer(*answer);
  } else {
    tester.awaitingAnswer = false;
    if (setup.answerStep) setup.answerStep(*answer);
  }
}

void MainPortRouting::TesterAnswer(const Answer& answer) {
  tester.awaitingAnswer = false;
  // A complete answer shows as received; a time-out shows its text.
  const std::string shown = answer.Complete() ? ReceiveText() : std::string(Text(Msg::ReceivedDataTimeout));
  if (!tester.repeat) {
    Close();
    if (tester.portClosed) tester.portClosed();
    session_.lineOwner = LineOwner::Free;
  }
  if (tester.showReceived) tester.showReceived(shown);
}

// ---------------------------------------------------------------------------

SecondPortRouting::SecondPortRouting(Session& session, ComPort& port) : session_(session), port_(port) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& event) { Handle(event); });
}

bool SecondPortRouting::Open(Route owner) { return Open(owner, session_.params); }

bool SecondPortRouting::Open(Route owner, const PortParams& params) {
  if (port_.Open()) return true;
  if (!OpenWithParams(port_, params)) return false;
  const std::uint16_t first = port_.AddTimerTrigger();
  const std::uint16_t second = port_.AddTimerTrigger();
  recorderTimer_ = owner == Route::Recorder ? first : second;
  firmwareTimer_ = owner == Route::Recorder ? second : first;
  return true;
}

void SecondPortRouting::Close() { port_.SetOpen(false); }

void SecondPortRouting::LineLost() {
  if (session_.lineOwner == LineOwner::Firmware) session_.lineOwner = LineOwner::Free;
  if (firmware.lineLost) firmware.lineLost();
}

void SecondPortRouting::Handle(const PortEvent& event) {
  // The recorder's engine takes this port's events itself while it holds the line.
  const bool firmwareRoute = session_.firmwareWindowOpen;
  if (event.kind == kEventDataAvailable) {
    if (firmwareRoute)
      FirmwareData(event.data);
    else
      Drain(event.data);  // nobody waits: drop, so the bytes cannot join a later answer
    return;
  }
  if (event.kind != kEventTimer || event.handle == 0) return;
  if (firmwareRoute && event.handle == firmwareTimer_) {
    port_.SetTimerTrigger(firmwareTimer_, 0, false);
    if (session_.params.rtu && firmware.count != 0 && firmware.stage < 3) {
      FirmwareDone(kStatusComplete);
    } else {
      if (firmware.stage == 4 && firmware.eraseExtension < kEraseExtensionMax)
        firmware.eraseExtension += kEraseExtensionStep;
      FirmwareDone(kStatusTimeout);
    }
  }
}

void SecondPortRouting::Drain(std::uint16_t announced) {
  for (std::uint16_t i = 0; i < announced; ++i) port_.GetChar();
}

void SecondPortRouting::FirmwareData(std::uint16_t announced) {
  port_.SetTimerTrigger(firmwareTimer_, 0, false);
  std::uint8_t last = 0;
  bool overflow = false;
  for (std::uint16_t i = 0; i < announced; ++i) {
    last = port_.GetChar();
    if (firmware.count >= kBufferSize) {
      overflow = true;
      continue;
    }
    buffer[firmware.count] = last;
    // From stage 3 on the loader frame starts with 0x01: bytes before it are
    // overwritten by the next one.
    if (firmware.stage < 3 || firmware.count != 0 || last == 0x01) ++firmware.count;
  }
  bool complete = false;
  if (announced > 0) {
    if (firmware.stage < 3) {
      complete = !session_.params.rtu && last == kLf;
    } else {
      const std::size_t need = (buffer[1] == 0x05 || buffer[1] == 0x07) ? 6 : 5;
      complete = firmware.count >= need;
    }
  }
  if (complete || overflow) {
    FirmwareDone(kStatusComplete);
  } else {
    port_.SetTimerTrigger(firmwareTimer_, firmware.ticks, true);
  }
}

void SecondPortRouting::FirmwareDone(int status) {
  answerStatus = status;
  if (firmware.answer) firmware.answer();
}

}  // namespace kx
