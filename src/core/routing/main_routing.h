// Routing of the main window's two serial ports.
//
// ApdComPortMain serves the single command tester and the communication
// settings window; which of the two gets its events is the session's
// main-port route flag. ApdComPort1 serves the recorder (while it awaits an
// answer) and the firmware update (while its window is open). Each router
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

#include "core/line/comport.h"
#include "core/line/session.h"

namespace kx {

// ---------------------------------------------------------------------------
// ApdComPortMain: single command tester and communication settings window.
class MainPortRouting {
 public:
  enum class Route { Tester, Setup };

  static constexpr int kTesterTicks = 18;      // first wait and re-arm of the tester
  static constexpr int kSetupRearmTicks = 2;   // re-arm of the settings window after each chunk

  // What the routing shares with the single command tester.
  struct TesterSide {
    bool awaitingAnswer = false;  // a request was sent, its answer is not finished
    bool repeat = false;          // Repeat is running
    // Shows a text in the tester's received field `RcvEdit`.
    std::function<void(const std::string&)> showReceived;
    // The tester's port was closed after an answer or a time-out: the main
    // window enables its tool bar again.
    std::function<void()> portClosed;
    // The tester's send; the main window's Timer1 calls it while repeating.
    std::function<void()> send;
    // The line failed while open; the repeat flag has been cleared.
    std::function<void()> lineLost;
  };

  // What the routing shares with the communication settings window.
  struct SetupSide {
    // The window's answer step, once per answer or time-out. It reads the
    // receive text; an empty text means nothing was received.
    std::function<void(const std::string& receiveText)> answerStep;
    // The line failed while open: the request in flight will not be answered.
    std::function<void()> lineLost;
  };

  MainPortRouting(Session& session, ComPort& port);
  MainPortRouting(const MainPortRouting&) = delete;
  MainPortRouting& operator=(const MainPortRouting&) = delete;

  // Opens the port with the session's port parameters (or the given ones)
  // unless it is open, and then adds the two timer triggers of this opening:
  // the owner's route first, the other route second. Returns false when the
  // port cannot be opened.
  bool Open(Route owner);
  bool Open(Route owner, const PortParams& params);
  // Closes the port; pending answers are dropped with it.
  void Close();

  // The port failed while open and has closed itself (adapter pulled, line
  // gone). Ends what was pending on it, frees the line when the tester or the
  // settings window held it, and tells both sides.
  void LineLost();

  // Starts one request on a route: receive text := empty, writes the block,
  // arms the route's timer for `firstWaitTicks`.
  void Send(Route route, std::span<const std::uint8_t> block, int firstWaitTicks);

  // ApdComPortMainTrigger: one event of the port.
  void Handle(const PortEvent& event);

  const std::string& ReceiveText() const { return receiveText_; }
  void ClearReceiveText() { receiveText_.clear(); }
  std::uint16_t TesterTimer() const { return testerTimer_; }
  std::uint16_t SetupTimer() const { return setupTimer_; }
  ComPort& Port() { return port_; }
  Route CurrentRoute() const { return session_.mainRouteTester ? Route::Tester : Route::Setup; }

  TesterSide tester;
  SetupSide setup;

 private:
  void HandleData(std::uint16_t announced);
  void HandleTimer(std::uint16_t handle);
  void FinishTester();
  void FinishSetup();
  std::uint16_t TimerOf(Route route) const { return route == Route::Tester ? testerTimer_ : setupTimer_; }

  Session& session_;
  ComPort& port_;
  std::string receiveText_;
  std::uint16_t testerTimer_ = 0;
  std::uint16_t setupTimer_ = 0;
  // A settings-window request is in flight. Its answer step runs once; bytes or
  // a time-out that come after it (late echoes, noise) are dropped so they
  // cannot be taken for the answer to the next request.
  bool setupPending_ = false;
};

// ---------------------------------------------------------------------------
// ApdComPort1: recorder and firmware update.
class SecondPortRouting {
 public:
  enum class Route { Recorder, Firmware };

  static constexpr std::size_t kBufferSize = 100;
  static constexpr int kStatusComplete = 0;
  static constexpr int kStatusTimeout = 15;
  static constexpr int kEraseExtensionStep = 1080;
  static constexpr int kEraseExtensionMax = 2160;

  struct RecorderSide {
    bool awaitingAnswer = false;  // the recorder's route is taken while set
    int ticks = 15;               // first wait and re-arm, set before each request
    std::size_t count = 0;        // bytes stored for the current answer
    std::function<void()> answer; // the recorder's answer handler
    std::function<void()> lineLost;  // the line failed while open
  };

  struct FirmwareSide {
    int ticks = 18;               // first wait and re-arm, set before each frame
    std::size_t count = 0;        // bytes stored for the current answer
    int stage = 0;                // update stage
    int eraseExtension = 0;       // extra erase ticks; grows on erase time-outs, kept for the run
    std::function<void()> answer; // the firmware update's answer handler
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

  // The port failed while open and has closed itself. Ends the recorder's
  // wait, frees the line when the recorder or the firmware update held it,
  // and tells both sides.
  void LineLost();

  // Clears the buffer (all 100 bytes) and the recorder count before a request.
  void ClearForRecorder();

  // ApdComPort1Trigger: one event of the port.
  void Handle(const PortEvent& event);

  std::uint16_t RecorderTimer() const { return recorderTimer_; }
  std::uint16_t FirmwareTimer() const { return firmwareTimer_; }
  ComPort& Port() { return port_; }

  std::array<std::uint8_t, kBufferSize> buffer{};
  int answerStatus = kStatusComplete;
  int expectedRtuLength = 250;  // 250: length still open
  RecorderSide recorder;
  FirmwareSide firmware;

 private:
  void RecorderData(std::uint16_t announced);
  void FirmwareData(std::uint16_t announced);
  void RecorderDone(int status);
  void FirmwareDone(int status);
  void Drain(std::uint16_t announced);

  Session& session_;
  ComPort& port_;
  std::uint16_t recorderTimer_ = 0;
  std::uint16_t firmwareTimer_ = 0;
};

}  // namespace kx
