// The monitor's polling and command engine. It owns (by reference) the monitor's
// serial port and drives up to four controllers over it, one request at a time
// and without a pacing timer: every answer or time-out leads at once to the next
// request. Each request goes through the exchange layer (core/exchange), which
// collects and checks its answer.
//
// Per request, the first that applies: the unlock write, the queued register
// write, the running transfer's request, the poll cycle's request (poll_cycle.h).
// It identifies each controller, cycles the status polls over the connected
// ones, reads the selected controller's parameter pages when asked, counts
// requests and failures per device, and drops a controller that fails four
// exchanges in a row (time-out, bad frame, bad check, wrong address, wrong
// echo, or an exception answer to a status poll), showing its last failure. A
// failed exchange is sent again until then. Transfers (upload, download,
// broadcast download, ramp/soak upload and download) are objects behind the
// Transfer interface (transfer.h), handed over with monitor_event::StartTransfer.
// The menu items it governs follow from its state (monitor_menus.h).
//
// No widgets: the monitor window observes it through MonitorObserver and hands
// every event to Handle(), the one way in. Everything runs on one thread; an
// event handed in while another is handled (from an observer) waits for it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/exchange/exchange.h"
#include "core/modbus/codec.h"
#include "core/line/comport.h"
#include "core/device/regmap.h"
#include "core/line/session.h"
#include "core/monitor/monitor_menus.h"
#include "core/monitor/poll_cycle.h"
#include "core/monitor/transfer.h"

namespace kx {


// What a tile's run lamp tells.
enum class RunLamp : std::uint8_t {
  Off,                // not connected (grey)
  Good,               // last exchange good (lime)
  Failed,             // last exchange failed (red)
  ReadingParameters,  // reading the parameter pages (yellow)
  ReadingFactory,     // reading the factory pages (blue)
};

// One device tile's controller as the engine knows it.
struct MonitorDevice {
  std::uint16_t address = 1;  // 1..247
  bool connected = false;
  bool identifyPending = false;
  std::uint8_t model = kModelUnknown;
  int decimalPoint = 1;
  DeviceRecord rec;
  std::uint8_t lastStatusByte = 0xFF;  // last status byte shown; 0xFF forces a redraw
  std::uint32_t requestCount = 0;
  std::uint32_t errorCount = 0;
  RunLamp lamp = RunLamp::Off;
  bool detailRead = false;  // the model detail (request type 1) was read since it was connected
  int failuresInRow = 0;    // failed exchanges since its last good answer; four drop it
  std::string programText;  // last program display text (request type 8)
};

// Which part of a device changed (bit set passed to DeviceUpdated).
enum DeviceChange : unsigned {
  kChangeIdentified = 1U << 0,   // model code set (front-panel layout when selected)
  kChangePvSv = 1U << 1,         // PV/SV display (types 3, 5)
  kChangeOutputs = 1U << 2,      // output bars and alarm lamps (types 3, 5; not KX3 below mode 4)
  kChangeLeds = 1U << 3,         // status byte differs from the last shown: redraw LEDs
  kChangeProgram = 1U << 4,      // program display text (type 8)
  kChangeCounters = 1U << 5,     // request or error count
  kChangeLamp = 1U << 6,         // run lamp colour
  kChangeDiagnostics = 1U << 7,  // cold junction and voltage of the selected device (type 6)
  kChangeRecord = 1U << 8,       // other values of the device record
  kChangeSecurity = 1U << 9,     // KX3 security word (types 1, 7)
  kChangeAddress = 1U << 10,
};

enum class StatusTone : std::uint8_t { Neutral, Error, Cleared };

// How a transfer ended.
enum class TransferEnd : std::uint8_t {
  Completed,
  Aborted,  // stopped after repeated exception answers
  Stopped,  // the selected device changed or was dropped, or the engine stopped
};

// What the window is told. All methods have empty defaults.
class MonitorObserver {
 public:
  virtual ~MonitorObserver() = default;
  // A device was connected or disconnected (tile active look or tile reset).
  virtual void ConnectionChanged(int /*device*/, bool /*connected*/) {}
  // The selected device changed; kNoDevice when none is left. The front panel
  // is laid out for the new device's model.
  virtual void SelectionChanged(int /*oldDevice*/, int /*newDevice*/) {}
  // Parts of a device changed (a DeviceChange bit set).
  virtual void DeviceUpdated(int /*device*/, unsigned /*changes*/) {}
  // Status line `ErrMessage`: Error turns it red, Cleared green.
  virtual void StatusLine(std::string_view /*text*/, StatusTone /*tone*/) {}
  // A parameter or factory page (request type 10..14, 20, 21) of the selected
  // device was read; the words are also kept in ParameterWord().
  virtual void ParametersRead(int /*type*/, const RegBlock& /*block*/,
                              std::span<const std::uint16_t> /*words*/) {}
  // Lay out the panels and apply the access rules; show `ParaPL` once (after
  // page 14, or at the end of a cycle for a KX3 below security mode 4).
  virtual void PanelLayout() {}
  // Hide the calibration controls if shown.
  virtual void HideCalibration() {}
  // No device is connected any more: clear the front-panel picture.
  virtual void FrontPanelClear() {}
  // The engine started (first device connected) or stopped (last disconnected,
  // window closed): trend timer, panel "never shown", trend view left.
  virtual void EngineRunning(bool /*running*/) {}
  virtual void MenusChanged(const MonitorMenus& /*menus*/) {}
  // Status poll 7 of the selected KX3: the security level check runs here.
  virtual void SecurityPoll(int /*device*/) {}
  // A transfer took an answer; its Progress() tells the bar (0..1000).
  virtual void TransferProgress(const Transfer& /*transfer*/) {}
  // The parameter buffer of an upload is complete (trailer filled); for a
  // ramp/soak read the step image follows.
  virtual void ParameterBufferUploaded(const ImageUpload& /*upload*/) {}
  // The transfer ended: completed, or stopped (see TransferEnd).
  virtual void TransferEnded(const Transfer& /*transfer*/, TransferEnd /*end*/) {}
  // The port could not be opened, or the open line failed (system's text).
  virtual void PortError(std::string_view /*text*/) {}
  // A deferred close: the request in flight has ended, close the window now.
  virtual void CloseWindow() {}
};

// Events the engine handles, one at a time (MonitorEngine::handle).
namespace monitor_event {
struct Reset {};                                              // window shown: initial state
struct ToggleConnect { int device; };  // connect button RunBt0..RunBt3, menu items Device01..Device31
struct Select { int device; };         // address label Adr0Lb..Adr3Lb
// Address spin box ComAddr0..ComAddr3; a connected device is identified again.
struct ChangeAddress { int device; std::uint16_t address; };
// A register write of the user's, sent before the next poll. Writes go out in
// the order queued; one queued while an earlier write of the same register
// has not gone out yet replaces that one's value (the last choice wins).
// `unlock` sends the unlock write first (factory-protected registers).
// `level`: a KX3 key or lock write, whose answer is taken without an echo
// check, ends the level write and identifies the selected device again.
struct QueueWrite { std::uint16_t reg; std::uint16_t value; bool unlock = false; bool level = false; };
struct Refresh {};                                            // read the selected device's pages again
struct FactoryMode { bool on; };
// KX3 level write: the next write answer is taken without an echo check and
// identifies the selected device again.
struct LevelWrite { bool on; };
struct DecimalPoint { int device; int code; };                // KX3 `Pointer` list, then a refresh
// Starts a transfer on the selected device (nothing without one); it replaces
// a transfer still running.
struct StartTransfer { std::shared_ptr<Transfer> transfer; };
// The parameter buffer became valid or not (a file opened, a failed open) and
// whether SAVE AS has succeeded since the engine started: the file and write
// menu items follow. A completed upload makes the buffer valid by itself.
struct BufferState { bool valid; bool fileChosen; };
// Close2: the window closes now (MonitorObserver::CloseWindow), or when the
// request in flight has ended.
struct CloseRequest {};
struct Close {};  // the window closes: port closed, engine stopped
struct ClearCounters { int device; };                         // ClrBt0..ClrBt3
struct PortData {};                                           // data available on the port
struct PortTimer { std::uint16_t trigger; };                  // a timer trigger of the port fired
struct PortFailed { std::string text; };                      // the open line failed
}  // namespace monitor_event

using MonitorEvent =
    std::variant<monitor_event::Reset, monitor_event::ToggleConnect, monitor_event::Select,
                 monitor_event::ChangeAddress, monitor_event::QueueWrite, monitor_event::Refresh,
                 monitor_event::FactoryMode, monitor_event::LevelWrite, monitor_event::DecimalPoint,
                 monitor_event::StartTransfer, monitor_event::BufferState, monitor_event::CloseRequest, monitor_event::Close,
                 monitor_event::ClearCounters, monitor_event::PortData, monitor_event::PortTimer,
                 monitor_event::PortFailed>;

class MonitorEngine {
 public:
  // Idle: nothing in flight (no device connected, or the port is closed).
  // Awaiting: a request is written and its answer or time-out is awaited.
  enum class State : std::uint8_t { Idle, Awaiting };

  // Result states of one exchange.
  enum class Result : std::uint8_t {
    Good = 0,
    Format = 80,
    Checksum = 81,
    Exception = 82,
    TimeOut = 83,
    EchoMismatch = 84,
    WrongAddress = 85,  // answer from another address: a failed exchange, polling goes on
  };

  // Installs its handlers on `port`; `session` gives the port parameters and
  // holds the line owner.
  MonitorEngine(ComPort& port, Session& session);
  ~MonitorEngine();
  MonitorEngine(const MonitorEngine&) = delete;
  MonitorEngine& operator=(const MonitorEngine&) = delete;

  void SetObserver(MonitorObserver* observer);  // not owned; nullptr for none

  // The one way in for events (the house rule for engines: one Handle()).
  void Handle(const MonitorEvent& event);

  // ---- State ----
  State CurrentState() const { return state_; }
  const MonitorDevice& Device(int device) const;
  int ConnectedCount() const { return connectedCount_; }
  int SelectedDevice() const { return selected_; }
  PollPosition Poll() const { return poll_; }
  bool FactoryModeOn() const { return factoryMode_; }
  bool RefreshRequested() const { return refresh_; }
  bool WritePending() const { return !writes_.empty(); }
  bool UnlockPending() const { return unlockPending_; }
  bool LevelWriteOn() const { return levelWrite_; }
  bool CloseRequested() const { return closeRequested_; }
  // The transfer running, or nullptr.
  const Transfer* RunningTransfer() const { return transfer_.get(); }
  int TimeOutTicks() const { return timeoutTicks_; }
  Result LastResult() const { return result_; }
  const std::string& StatusText() const { return statusText_; }
  const MonitorMenus& Menus() const { return menus_; }
  // The selected device's last read word of register reg (0x4700..0x47FF; 0 otherwise).
  std::uint16_t ParameterWord(std::uint16_t reg) const;
  // Text the tile and front panel show in the SV field for request type 8.
  std::string ProgramText(int device) const;

 private:
  // What a request is for; decides what its answer does.
  enum class Purpose : std::uint8_t {
    Poll,      // the request of the poll cycle
    Unlock,    // the unlock write before the queued write or the factory pages
    Write,     // the queued write
    Transfer,  // a request of the running transfer
  };

  // What was sent, kept so that its answer or time-out is judged by it and
  // never by whatever the engine has moved on to since.
  struct InFlight {
    std::uint32_t tag = 0;
    Purpose purpose = Purpose::Poll;
    RequestType type = RequestType::Identify;
    int device = 0;            // device charged with the exchange
    std::uint8_t address = 0;  // 0 in broadcast mode
    std::uint8_t function = 0;
    bool broadcast = false;
    bool stale = false;            // the engine restarted since: drop the answer
    std::uint32_t writeSeq = 0;    // which queued write this is or unlocks (Purpose::Write, Unlock)
    bool level = false;            // a KX3 level write: no echo check
    std::uint32_t transferSeq = 0; // which transfer asked (Purpose::Transfer)
    std::size_t expected = 0;      // answer length computed from the request
    RegBlock block;
    Bytes frame;
  };

  void Dispatch(const MonitorEvent& event);
  void OnReset();
  void OnToggleConnect(int d);
  void OnSelect(int d);
  void OnChangeAddress(int d, std::uint16_t address);
  void OnQueueWrite(const monitor_event::QueueWrite& write);
  // A queued write to the register that sets the selected device's decimal
  // point (KX1 input type, KX2 unit or pointer) sets it at once, so that
  // entries made after it are read with the point the controller will have
  // when they reach it; the pages read after the write confirm or correct it.
  void DecimalPointQueued(std::uint16_t reg, std::uint16_t value);
  // Drops the queued write `seq` (it has been answered or refused).
  void DropWrite(std::uint32_t seq);
  void OnFactoryMode(bool on);
  void OnDecimalPoint(int d, int code);
  void OnStartTransfer(std::shared_ptr<Transfer> transfer);
  void OnCloseRequest();
  void OnClose();
  void OnClearCounters(int d);
  void OnPortEvent(const PortEvent& event);
  void OnPortFailed(const std::string& text);

  bool OpenPort();
  void ClosePort();
  void NextRequest();
  void SendRequest(Purpose purpose, std::uint8_t function, std::uint16_t reg, std::uint16_t value,
                   RequestType type, int device, bool broadcast = false);
  // Ends the wait of the exchange in flight. True when a deferred close or a
  // stale request took over, so its answer or time-out is not to be used.
  bool SettleExchange();
  // A complete answer, checked by the exchange.
  void TakeAnswer(const AnswerCheck& check);
  void Account(Result result, std::uint8_t function, std::uint8_t exceptionCode);
  void Finish(Result result, std::uint8_t function = 0, std::uint8_t exceptionCode = 0);
  void DecodeIdentify(std::uint8_t model);
  void DecodePage(std::span<const std::uint16_t> words);
  void Advance();
  void DecodeRead(std::span<const std::uint16_t> words);
  void TakeWriteAnswer();
  // Hands a good answer to the transfer that asked for it (if it still runs).
  void TransferAnswered(std::span<const std::uint16_t> words);
  void EndTransfer(TransferEnd end);
  void Disconnect(int d);
  void SelectNextAfter(int d);
  void ClearWriteState();
  // The queued write in flight has ended (echo or level answer): it leaves the queue.
  void WriteEnded();
  int FirstConnected() const;
  void SetLamp(int d, RunLamp lamp);
  void SetStatus(std::string text, StatusTone tone);
  // Recomputes the menus from the engine's state; tells the window when they changed.
  void UpdateMenus();
  void Notify(int d, unsigned changes);
  void HideCalibration();
  void FinishDeferredClose();
  int TimeoutFor(bool broadcast, bool write) const;

  ComPort& port_;
  Session& session_;
  LineLease lease_;  // the line, held while this holds the port
  MonitorObserver* observer_ = nullptr;

  // Events handed in while one is handled wait here (see Handle()).
  bool handling_ = false;
  std::deque<MonitorEvent> waitingEvents_;

  State state_ = State::Idle;
  std::array<MonitorDevice, kMonitorDevices> devices_{};
  int connectedCount_ = 0;
  int selected_ = 0;
  PollPosition poll_;
  bool reidentifySelected_ = false;
  bool refresh_ = true;
  bool factoryMode_ = false;
  bool calibrationShown_ = false;
  bool closeRequested_ = false;
  int timeoutTicks_ = 18;
  int readExceptions_ = 0;
  int writeExceptions_ = 0;
  Result result_ = Result::Good;
  std::string statusText_;

  // What the file and write menu items follow.
  bool bufferValid_ = false;
  bool fileChosen_ = false;

  // The user's writes, oldest first.
  struct QueuedWrite {
    std::uint16_t reg = 0;
    std::uint16_t value = 0;
    bool unlock = false;
    bool level = false;
    std::uint32_t seq = 0;
  };
  std::deque<QueuedWrite> writes_;
  std::uint32_t writeSeq_ = 0;  // counts queued writes
  bool unlockPending_ = false;  // an unlock write before the factory pages
  bool unlocked_ = false;
  bool levelWrite_ = false;

  // The running transfer and a count of the transfers started, so that an
  // answer is handed only to the transfer that asked for it.
  std::shared_ptr<Transfer> transfer_;
  std::uint32_t transferSeq_ = 0;

  // Parameter pages of the selected device (0x4700..0x47FF).
  std::array<std::uint16_t, 0x100> pageWords_{};

  MonitorMenus menus_;

  // Port and the exchange in flight.
  Exchange exchange_;
  InFlight inflight_;
};

// Capacity of the receive buffer: bytes beyond it are dropped and the answer
// then fails its checks.
inline constexpr std::size_t kMonitorReceiveCapacity = 100;

}  // namespace kx
