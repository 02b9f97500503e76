#include "core/routing/main_routing.h"

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

MainPortRouting::MainPortRouting(Session& session, ComPort& port) : session_(session), port_(port) {
  port_.SetOnTrigger([this](ComPort&, const PortEvent& event) { Handle(event); });
}

bool MainPortRouting::Open(Route owner) { return Open(owner, session_.params); }

bool MainPortRouting::Open(Route owner, const PortParams& params) {
  if (port_.Open()) return true;
  if (!OpenWithParams(port_, params)) return false;
  const std::uint16_t first = port_.AddTimerTrigger();
  const std::uint16_t second = port_.AddTimerTrigger();
  testerTimer_ = owner == Route::Tester ? first : second;
  setupTimer_ = owner == Route::Tester ? second : first;
  setupPending_ = false;
  return true;
}

void MainPortRouting::Close() {
  setupPending_ = false;
  port_.SetOpen(false);
}

void MainPortRouting::LineLost() {
  setupPending_ = false;
  tester.awaitingAnswer = false;
  tester.repeat = false;
  if (session_.lineOwner == LineOwner::Tester || session_.lineOwner == LineOwner::Setup)
    session_.lineOwner = LineOwner::Free;
  if (tester.portClosed) tester.portClosed();
  if (tester.lineLost) tester.lineLost();
  if (setup.lineLost) setup.lineLost();
}

void MainPortRouting::Send(Route route, std::span<const std::uint8_t> block, int firstWaitTicks) {
  receiveText_.clear();
  if (route == Route::Setup) setupPending_ = true;
  port_.PutBlock(block);
  port_.SetTimerTrigger(TimerOf(route), firstWaitTicks, true);
}

void MainPortRouting::Handle(const PortEvent& event) {
  if (event.kind == kEventDataAvailable)
    HandleData(event.data);
  else if (event.kind == kEventTimer)
    HandleTimer(event.handle);
}

void MainPortRouting::HandleData(std::uint16_t announced) {
  const Route route = CurrentRoute();
  if (route == Route::Setup && !setupPending_) {
    for (std::uint16_t i = 0; i < announced; ++i) port_.GetChar();  // nothing asked for: drop
    return;
  }
  const std::uint16_t timer = TimerOf(route);
  port_.SetTimerTrigger(timer, 0, false);

  const bool rtu = session_.params.rtu;
  std::uint8_t last = 0;
  for (std::uint16_t i = 0; i < announced; ++i) {
    last = port_.GetChar();
    if (rtu)
      receiveText_ += HexByte(last);
    else if (last != kLf && last != kCr)
      receiveText_ += static_cast<char>(last);
  }

  const int rearm = route == Route::Tester ? kTesterTicks : kSetupRearmTicks;
  if (!rtu && announced > 0 && last == kLf) {
    if (route == Route::Tester) {
      FinishTester();
      if (tester.showReceived) tester.showReceived(receiveText_);
    } else {
      FinishSetup();
    }
    return;
  }
  port_.SetTimerTrigger(timer, rearm, true);
  if (route == Route::Tester && tester.showReceived) tester.showReceived(receiveText_);
}

void MainPortRouting::HandleTimer(std::uint16_t handle) {
  if (handle == 0) return;
  if (handle == testerTimer_) {
    port_.SetTimerTrigger(testerTimer_, 0, false);
    tester.awaitingAnswer = false;
    if (tester.showReceived) {
      if (!session_.params.rtu || receiveText_.empty())
        tester.showReceived(std::string(Text(Msg::ReceivedDataTimeout)));
      else
        tester.showReceived(receiveText_);
    }
    if (!tester.repeat) {
      Close();
      if (tester.portClosed) tester.portClosed();
      session_.lineOwner = LineOwner::Free;
    }
  } else if (handle == setupTimer_) {
    port_.SetTimerTrigger(setupTimer_, 0, false);
    if (!setupPending_) return;  // late time-out of an answer already handled
    setupPending_ = false;
    if (setup.answerStep) setup.answerStep(receiveText_);
  }
}

void MainPortRouting::FinishTester() {
  tester.awaitingAnswer = false;
  port_.SetTimerTrigger(testerTimer_, 0, false);
  if (!tester.repeat) {
    Close();
    if (tester.portClosed) tester.portClosed();
    session_.lineOwner = LineOwner::Free;
  }
}

void MainPortRouting::FinishSetup() {
  tester.awaitingAnswer = false;
  port_.SetTimerTrigger(setupTimer_, 0, false);
  setupPending_ = false;
  if (setup.answerStep) setup.answerStep(receiveText_);
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
  recorder.awaitingAnswer = false;
  if (session_.lineOwner == LineOwner::Recorder || session_.lineOwner == LineOwner::Firmware)
    session_.lineOwner = LineOwner::Free;
  if (recorder.lineLost) recorder.lineLost();
  if (firmware.lineLost) firmware.lineLost();
}

void SecondPortRouting::ClearForRecorder() {
  buffer.fill(0);
  recorder.count = 0;
}

void SecondPortRouting::Handle(const PortEvent& event) {
  const bool recorderRoute = recorder.awaitingAnswer;
  const bool firmwareRoute = !recorderRoute && session_.firmwareWindowOpen;
  if (event.kind == kEventDataAvailable) {
    if (recorderRoute)
      RecorderData(event.data);
    else if (firmwareRoute)
      FirmwareData(event.data);
    else
      Drain(event.data);  // nobody waits: drop, so the bytes cannot join a later answer
    return;
  }
  if (event.kind != kEventTimer || event.handle == 0) return;
  if (recorderRoute && event.handle == recorderTimer_) {
    port_.SetTimerTrigger(recorderTimer_, 0, false);
    RecorderDone(session_.params.rtu && recorder.count != 0 ? kStatusComplete : kStatusTimeout);
  } else if (firmwareRoute && event.handle == firmwareTimer_) {
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

void SecondPortRouting::RecorderData(std::uint16_t announced) {
  port_.SetTimerTrigger(recorderTimer_, 0, false);
  const bool rtu = session_.params.rtu;
  std::uint8_t last = 0;
  bool overflow = false;
  for (std::uint16_t i = 0; i < announced; ++i) {
    last = port_.GetChar();
    if (recorder.count >= kBufferSize) {
      overflow = true;  // the buffer is full: the byte is dropped and the answer ends
      continue;
    }
    buffer[recorder.count++] = last;
    if (rtu) expectedRtuLength = RtuExpectedLength(std::span(buffer).first(recorder.count), expectedRtuLength);
  }
  const bool complete =
      announced > 0 &&
      (rtu ? recorder.count == static_cast<std::size_t>(expectedRtuLength) : last == kLf);
  if (complete || overflow) {
    RecorderDone(kStatusComplete);
  } else {
    port_.SetTimerTrigger(recorderTimer_, recorder.ticks, true);
  }
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

void SecondPortRouting::RecorderDone(int status) {
  recorder.awaitingAnswer = false;
  answerStatus = status;
  if (recorder.answer) recorder.answer();
}

void SecondPortRouting::FirmwareDone(int status) {
  answerStatus = status;
  if (firmware.answer) firmware.answer();
}

}  // namespace kx
