// Routing of the main window's two serial ports.
//
// ApdComPortMain serves the single command tester and the communication
// settings window; an answer goes to the one that sent the request.
// ApdComPort1 serves the recorder and the firmware update; its router alone
// decides which of them gets an event: the recorder while it holds the line,
// else the firmware update while its window is open. Each router
// collects the received bytes by the rules of its route, keeps the timer
// triggers of the current opening, and hands a finished answer (complete or
// timed out) to the window that asked through the callbacks below.
//
// The routers hold a reference to the port; the main window owns both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/line/session.h"

namespace kx {

// ---------------------------------------------------------------------------
// ApdComPortMain: single command tester and communication settings window.
//
// Every request goes through one Exchange (core/exchange/exchange.h) with the
// frame form it was sent in; answers go back to the route that sent the
// request. In both forms a received chunk re-arms the wait; an ASCII answer
// ends with a chunk ending in LF, an RTU answer only when the line falls
// silent. Answers are stored up to kReceiveCapacity bytes, and every request
// ends by its overall deadline at the latest.
class MainPortRouting {
 public:
  enum class Route { Tester, Setup };

  static constexpr int kTesterTicks = 18;      // first wait and re-arm of the tester
  static constexpr int kSetupRearmTicks = 2;   // re-arm of the settings window after each chunk
  static constexpr std::size_t kReceiveCapacity = 256;

  // What the routing shares with the single command tester. The tester keeps
  // its own state; the routing only tells it what happened on the line.
  struct TesterSide {
    // Shows a text in the tester's received field `RcvEdit`.
    std::function<void(const std::string&)> showReceived;
    // The answer to the tester's request ended, complete or timed out (what
    // it shows has gone to showReceived): the tester closes the port unless
    // it repeats.
    std::function<void()> answerEnded;
    // The tester's send; the main window's Timer1 calls it while the port is
    // open (the tester sends only while repeating).
    std::function<void()> send;
    // The line failed while open: the request in flight will not be answered
    // (the tester stops its repeat and shows its idle buttons).
    std::function<void()> lineLost;
  };

  // What the routing shares with the communication settings window.
  struct SetupSide {
    // The window's answer step, once per request: the answer ended complete
    // or timed out (Answer::raw holds what was received, maybe nothing).
    std::function<void(const Answer& answer)> answerStep;
    // The line failed while open: the request in flight will not be answered.
    std::function<void()> lineLost;
  };

  MainPortRouting(Session& session, ComPort& port);
  MainPortRouting(const MainPortRouting&) = delete;
  MainPortRouting& operator=(const MainPortRouting&) = delete;

  // Opens the port with the session's port parameters (or the given ones)
  // unless it is open, and readies the exchange for this opening. Returns
  // false when the port cannot be opened.
  bool Open();
  bool Open(const PortParams& params);
  // Closes the port; a pending answer is dropped with it.
  void Close();
  // The line now runs with these parameters (sizes the answers' deadlines).
  void UseLine(const PortParams& params) {
    params_ = params;
    timing_ = TimingOf(params);
  }
  // The parameters the line runs with (or last ran with).
  const PortParams& lineParams() const { return params_; }

  // The tester and the settings window hold the line through the routing.
  void HoldLine(LineOwner owner) { lease_ = session_.TakeLine(owner); }
  void ReleaseLine() { lease_.Release(); }

  // The port failed while open and has closed itself (adapter pulled, line
  // gone). Ends what was pending on it, frees the line when the tester or the
  // settings window held it, and tells both sides. The routing takes the
  // port's error event for this when it is made.
  void LineLost();

  // Starts one request on a route in the given frame form: writes the block
  // and waits `firstWaitTicks` for the answer.
  void Send(Route route, FrameForm form, std::span<const std::uint8_t> block, int firstWaitTicks);
  // The same for a built request: its frame, form, first wait and answer
  // checks go out; the end of its answer, the re-arm and the receive buffer
  // are the route's own.
  void Send(Route route, ExchangeRequest request);

  // ApdComPortMainTrigger: one event of the port.
  void Handle(const PortEvent& event);

  // What the current (or last) request received so far, as the tester shows
  // it: ASCII characters without CR and LF, RTU bytes as hexadecimal pairs.
  std::string ReceiveText() const;
  // Clear Result: what was received so far is no longer shown.
  void ClearReceiveText() { shownFrom_ = exchange_.Received().size(); }
  ComPort& port() { return port_; }
  const Exchange& exchange() const { return exchange_; }

  TesterSide tester;
  SetupSide setup;

 private:
  void TesterAnswer(const Answer& answer);

  Session& session_;
  ComPort& port_;
  LineLease lease_;
  Exchange exchange_;
  PortParams params_;
  LineTiming timing_;
  Route sentRoute_ = Route::Tester;
  FrameForm sentForm_ = FrameForm::Ascii;
  std::size_t shownFrom_ = 0;  // received bytes before this were cleared from view
};

// ---------------------------------------------------------------------------
// ApdComPort1: the recorder and the firmware update, each with an engine that
// takes the port's events as they come. An opening adds the recorder's and
// the firmware's triggers.
class SecondPortRouting {
 public:
  enum class Route { Recorder, Firmware };

  // Set while the recorder window is open; its acquisition engine takes the
  // port's events while the recorder holds the line.
  struct RecorderSide {
    std::function<void(const PortEvent&)> event;
    // The line failed while the recorder held it: it stops and reports it.
    std::function<void(const std::string& reason)> lineLost;
  };

  // Set while the firmware update window is open: its update engine takes the
  // port's events (when the recorder does not): it collects and judges the
  // loader's answers.
  struct FirmwareSide {
    std::function<void(const PortEvent&)> event;
    std::function<void()> lineLost;  // the line failed while open
  };

  SecondPortRouting(Session& session, ComPort& port);
  SecondPortRouting(const SecondPortRouting&) = delete;
  SecondPortRouting& operator=(const SecondPortRouting&) = delete;

  // Opens the port (session's parameters or the given ones) unless it is open,
  // then adds the two triggers of this opening, the owner's route first.
  bool Open(Route owner);
  bool Open(Route owner, const PortParams& params);
  void Close();

  // The port failed while open and has closed itself: the side that has the
  // route is told. True when that was the recorder, which reports the loss
  // itself; otherwise the owner reports it.
  bool LineLost(const std::string& reason);

  // ApdComPort1Trigger: one event of the port.
  void Handle(const PortEvent& event);

  std::uint16_t recorderTimer() const { return recorderTimer_; }
  std::uint16_t firmwareTimer() const { return firmwareTimer_; }
  ComPort& port() { return port_; }

  RecorderSide recorder;
  FirmwareSide firmware;

 private:
  bool RecorderRoute() const;

  Session& session_;
  ComPort& port_;
  std::uint16_t recorderTimer_ = 0;
  std::uint16_t firmwareTimer_ = 0;
};

}  // namespace kx
