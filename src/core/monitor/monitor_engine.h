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
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/device/regmap.h"
#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/monitor/monitor_device.h"
#include "core/monitor/monitor_menus.h"
#include "core/monitor/monitor_select.h"
#include "core/monitor/poll_cycle.h"
#include "core/monitor/transfer.h"
#include "core/monitor/transfer_runner.h"

namespace kx {

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
  virtual void ParameterBufferUploaded(const Transfer& /*upload*/, const ParameterBuffer& /*buffer*/) {}
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
// KX3 key and lock dialog: a level write is under way (levelWriteOn()) until
// the answer to the queued level write, or until turned off.
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
  enum class State : std::uint8_t {
    Idle,      // nothing in flight (no device connected, or the port is closed)
    Awaiting,  // a request is written and its answer or time-out is awaited
    Draining,  // the request in flight belongs to a stopped cycle: its end starts the new one
    Closing,   // the window closes as soon as the request in flight has ended
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
  State state() const { return state_; }
  const MonitorDevice& Device(int device) const { return selection_.Device(device); }
  int ConnectedCount() const { return selection_.connectedCount(); }
  int SelectedDevice() const { return selection_.selected(); }
  PollPosition poll() const { return poll_; }
  bool factoryModeOn() const { return pages_.factoryMode; }
  bool refreshRequested() const { return pages_.refresh; }
  bool WritePending() const { return writes_->WritesQueued(); }
  bool UnlockPending() const { return writes_->unlockWanted(); }
  bool levelWriteOn() const { return levelWrite_; }
  bool CloseRequested() const { return state_ == State::Closing; }
  // The transfer running, or nullptr.
  const Transfer* RunningTransfer() const { return transfer_.running(); }
  Failure failure() const { return failure_; }
  const std::string& statusText() const { return statusText_; }
  const MonitorMenus& menus() const { return menus_; }
  // The selected device's last read word of register reg (0x4700..0x47FF; 0 otherwise).
  std::uint16_t ParameterWord(std::uint16_t reg) const;
  // Text the tile and front panel show in the SV field for request type 8.
  std::string ProgramText(int device) const { return ValidDevice(device) ? Device(device).programText : std::string(); }

 private:
  // Who asked for the request in flight; decides what its answer does.
  enum class Purpose : std::uint8_t {
    Poll,      // the poll cycle
    Panel,     // the panels' writes (PanelWrites): unlock or queued write
    Transfer,  // the running transfer
  };

  // What was sent, kept so that its answer or time-out is judged by it and
  // never by whatever the engine has moved on to since.
  struct InFlight {
    std::uint32_t tag = 0;
    Purpose purpose = Purpose::Poll;
    RequestType type = RequestType::Identify;
    int device = 0;             // device charged with the exchange
    RegBlock block;             // Poll: the block read
    TransferCall call;          // Panel, Transfer: the step and the run that asked
    std::uint32_t writeId = 0;  // Panel: PanelWrites::RequestId() when sent
  };

  // The selected device's pages: what is asked of them and what is shown.
  struct SelectedPages {
    bool refresh = true;            // read them at the end of the cycle
    bool reidentify = false;        // identify the selected device first
    bool factoryMode = false;       // the factory pages follow the parameter pages
    bool calibrationShown = false;  // a factory page was shown (hidden when they end)
  };

  void Dispatch(const MonitorEvent& event);
  void OnReset();
  void OnToggleConnect(int d);
  void OnSelect(int d);
  void OnChangeAddress(int d, std::uint16_t address);
  void OnQueueWrite(const monitor_event::QueueWrite& write);
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
  LineFormat Line() const;
  void NextRequest();
  // One request of the panels or the transfer; false when it has none.
  bool SendStep(Purpose purpose, TransferRunner& runner);
  void SendPoll(const RegBlock& block, int device);
  void Send(ExchangeRequest request, InFlight f, std::size_t answerBytes);
  // Ends the wait of the exchange in flight. True when a deferred close or a
  // stale request took over, so its answer or time-out is not to be used.
  bool SettleExchange();
  void TakePollAnswer(const Answer& answer);
  void TakeStepAnswer(const Answer& answer);
  void TakeIdentify(std::uint8_t model);
  void TakeRead(std::span<const std::uint16_t> words);
  void TakePage(std::span<const std::uint16_t> words);  // a parameter or factory page
  void Advance();
  // A transfer step was taken: progress, the buffer of an upload, its end.
  void TransferMoved(const ParameterBuffer* bufferBefore);
  void EndTransfer(TransferEnd end);
  // Counts a good or failed exchange of the device charged with it;
  // `limitPassed`: an exception answer passed the limit (nothing: not yet
  // counted, Account counts it).
  void Account(Failure failure, std::uint8_t function, std::uint8_t code, std::optional<bool> limitPassed);
  void Disconnect(int d);
  // The selected device changed (or was identified anew): its panels' writes,
  // factory mode and calibration end.
  void LeaveSelection();
  // `next` (a device or kNoDevice) becomes the selected one.
  void SelectDevice(int next);
  void SetLamp(int d, RunLamp lamp);
  void SetStatus(std::string text, StatusTone tone);
  // Recomputes the menus from the engine's state; tells the window when they changed.
  void UpdateMenus();
  void Notify(int d, unsigned changes);
  void HideCalibration();
  void FinishDeferredClose();
  MonitorDevice& Dev(int d) { return selection_.Device(d); }

  ComPort& port_;
  Session& session_;
  LineLease lease_;  // the line, held while this holds the port
  MonitorObserver* observer_ = nullptr;

  // Events handed in while one is handled wait here (see Handle()).
  bool handling_ = false;
  std::deque<MonitorEvent> waitingEvents_;

  State state_ = State::Idle;
  DeviceSelection selection_;
  PollPosition poll_;
  SelectedPages pages_;
  bool levelWrite_ = false;
  Failure failure_ = Failure::None;
  std::string statusText_;
  // What the file and write menu items follow.
  monitor_event::BufferState buffer_{false, false};

  // The panels' writes go before the running transfer; exception answers of
  // both and of the polls count together.
  ExceptionLimit exceptions_;
  std::shared_ptr<PanelWrites> writes_;
  TransferRunner panel_{exceptions_};
  TransferRunner transfer_{exceptions_};

  // Parameter pages of the selected device (0x4700..0x47FF).
  ParameterWords pageWords_{};

  MonitorMenus menus_;

  Exchange exchange_;
  InFlight inflight_;
};

// Capacity of the receive buffer: bytes beyond it are dropped and the answer
// then fails its checks.
inline constexpr std::size_t kMonitorReceiveCapacity = 100;

}  // namespace kx
