// The flash update: replaces a KX2's or KX3's program with a loaded firmware
// image through the controller's loader, one frame and one answer at a time.
//
// KX3: the unlock write and the flash-enable write (Modbus, at the stored line
// settings and in the form they select), then a wait while the controller
// restarts into its loader (a notice the window shows), then the loader steps
// at 38400 8N1. KX2: straight to the loader steps at 38400 8N1. Loader steps:
// read the option bytes, erase, command 7, one write per record, verify.
// The first failure ends the run; done and failed close the port and free the
// line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "core/exchange/exchange.h"
#include "core/fwupdate/firmware_file.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/modbus/codec.h"
#include "core/text/messages.h"

namespace kx {

// What an update learns that outlives its window: after each erase time-out
// the next erase waits longer, until the program ends.
struct FlashUpdateMemory {
  int eraseExtension = 0;  // ticks: 0, 1080, 2160
};

enum class StatusColour { White, Lime, Yellow, Red };

// User message codes of the update's notices.
inline constexpr int kNoticeLoaderWait = 0;
inline constexpr int kNoticeKx3Done = 254;
inline constexpr int kNoticeKx2Done = 255;

// What the update can do on the line behind COM `comNumber`. Through a Modbus
// TCP gateway nothing: the loader's frames are not Modbus requests, so the
// gateway cannot carry them. Through a transparent server it runs, with a note
// that the server must be at the loader's 38400 8N1. `note` names the line.
struct FirmwareLine {
  bool allowed = true;
  std::string note;  // empty on a line the program sets itself
};
FirmwareLine FirmwareLineOf(const Session& session, int comNumber);

class FlashUpdate {
 public:
  // Where the update is: the one position of a run. While Writing, record()
  // says which record of the image is being written.
  enum class State {
    Idle,            // nothing started, or stopped
    Unlocking,       // KX3 unlock write sent
    EnablingFlash,   // KX3 flash-enable write sent
    LoaderWait,      // KX3 restarting into its loader; the notice is up
    ReadingOptions,
    Erasing,
    Command7,
    Writing,         // record() of the image sent
    Verifying,
    Done,
    Failed,
  };

  struct View {
    std::string status;  // `ErrMess`
    StatusColour colour = StatusColour::White;
    int progress = 0;          // `ProgressBar`, 0..100
    bool portMissing = false;  // the port failed to open at the start: UPDATE stays off
    bool lineRefused = false;  // the line cannot carry the loader (FirmwareLineOf): UPDATE stays off
    // The exchange failure that ended the run (a time-out, the line lost);
    // None when it ended by a step's own rule, or has not ended.
    Failure failure = Failure::None;
  };

  struct NoticeClosed {};
  struct Stop {};       // the window closes
  struct LineLost {};   // the port failed while open and closed itself
  using Event = std::variant<PortEvent, NoticeClosed, Stop, LineLost>;

  FlashUpdate(Session& session, ComPort& port, FlashUpdateMemory& memory);
  FlashUpdate(const FlashUpdate&) = delete;
  FlashUpdate& operator=(const FlashUpdate&) = delete;
  ~FlashUpdate();

  // Called after every step that changed the view, the state or the notices.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  // UPDATE: takes the line and sends the first frame. False when the line
  // cannot carry the update or the port cannot be opened (the view says so),
  // or an update is running.
  bool Start(const FirmwareImage& image, int address);

  // The port's events while the update window is open, a closed notice, the
  // window closing, or the line failing.
  void Handle(const Event& event);

  // Notices the window shows modally once the current step has returned, one
  // at a time; after a loader-wait notice it reports NoticeClosed.
  bool NoticePending() const { return notice_.has_value(); }
  std::optional<int> TakeNotice() { return std::exchange(notice_, std::nullopt); }

  State state() const { return state_; }
  // The record being written (Writing), or the last one written.
  std::size_t record() const { return record_; }
  const View& view() const { return view_; }
  // The update holds the line: OPEN FILE and UPDATE are off.
  bool Busy() const;
  // The last frame written.
  const Bytes& lastFrame() const { return sent_; }
  const Exchange& exchange() const { return exchange_; }

 private:
  void OnAnswer(const Answer& answer);
  void OnEchoAnswer(const Answer& answer);
  void OnLoaderAnswer(const Answer& answer);
  // Moves to `next` (and record `record` when Writing) and sends its frame.
  void Enter(State next, std::size_t record = 0);
  // Enter after a loader answer: the bar moves on with it.
  void Advance(State next, std::size_t record = 0);
  void SendWrite(std::uint16_t reg, std::uint16_t value);
  void SendLoader(Bytes frame, int waitTicks);
  void Send(ExchangeRequest request);
  void Finish(bool done);
  // A step failed by the update's own rule, with its own text.
  void Fail(Msg text);
  // The exchange failed (no answer): the status is the failure's text.
  void FailExchange(Failure failure);
  void Release();
  void SetStatus(Msg text, StatusColour colour);
  bool ModbusStep() const { return state_ == State::Unlocking || state_ == State::EnablingFlash; }
  void Changed();

  Session& session_;
  LineLease lease_;  // the line, held while a job runs (Busy()): the port is then this job's
  ComPort& port_;
  FlashUpdateMemory& memory_;
  std::function<void()> onChange_;

  State state_ = State::Idle;
  std::size_t record_ = 0;
  View view_;
  std::optional<int> notice_;

  std::optional<FirmwareImage> image_;
  int address_ = 1;
  LineTiming timing_;
  Exchange exchange_;
  Bytes sent_;
};

}  // namespace kx
