// Acquisition: samples the process value (register 0x4700) of up to ten
// controllers on the second port, one request at a time, paced by the
// window's timer. A cycle asks every addressed slot in turn; when it is
// complete its record (ten values, local time, 'Z') is stored in the chart,
// drawn and appended to the record file at once. A slot that fails three
// times in a row is dropped and carries the error marker from then on; when
// every slot is dropped acquisition stops by itself.
//
// Every request goes through the exchange layer; the answer checks give the
// status codes below, shown as "DEVICE  n" and the message.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "core/exchange/exchange.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "core/recorder/recorder_types.h"

namespace kx::recorder {

inline constexpr std::uint16_t kProcessValueRegister = 0x4700;
inline constexpr int kFailuresToDrop = 3;
inline constexpr int kAsciiAnswerTicks = 15;
inline constexpr int kRtuFastAnswerTicks = 2;  // 9600 bit/s and above
inline constexpr int kRtuSlowAnswerTicks = 3;

// Result codes of one exchange. Exception answers give their exception code
// (1..4, 11..14); an exception code outside those gives kStatusUnknown.
inline constexpr int kStatusGood = 0;
inline constexpr int kStatusTimeOut = 15;
inline constexpr int kStatusMismatch = 30;  // no ':', another address, wrong function or length
inline constexpr int kStatusChecksum = 32;
inline constexpr int kStatusInputFault = 33;  // high byte 0x80: the controller reports an input fault
inline constexpr int kStatusUnknown = 255;

// The message for a status (after "DEVICE  n").
std::string_view StatusMessage(int status);
// "DEVICE " and a blank, the slot number (index + 1), the message.
std::string FailureText(int slot, int status);

// The request for one slot: function 3, two registers from 0x4700.
Bytes ProcessValueRequest(FrameForm form, std::uint8_t address);

class AcquisitionObserver {
 public:
  virtual ~AcquisitionObserver() = default;
  virtual void Started() {}
  // Acquisition ended (Stop, every slot dropped, or the line lost).
  virtual void Stopped(bool /*automatic*/) {}
  // A failure text for the status line ErrMess.
  virtual void StatusText(std::string_view /*text*/) {}
  virtual void SlotDropped(int /*slot*/) {}
  // A cycle completed; the counter is the number of cycles so far.
  virtual void CounterChanged(long /*counter*/) {}
  // The record file could not be written: it holds whole records only and is
  // closed. Told after acquisition has stopped (Stopped came first), unless
  // the Start asked to go on without the file.
  virtual void RecordWriteFailed(std::string_view /*error*/) {}
  // The port could not be opened, or the open line failed.
  virtual void PortError(std::string_view /*text*/) {}
};

namespace acquisition_event {
// Start with the slots' box addresses; `writer` (may be null) gets every
// record. A failed write stops acquisition, or with `goOnWithoutFile` only
// ends the writing (for a file the user did not ask for).
struct Start { int sampleTime; RecordWriter* writer; bool goOnWithoutFile = false; };
struct Stop {};
struct Tick {};                          // the window timer
struct Port { PortEvent event; };        // an event of the second port
struct LineLost { std::string text; };   // the open line failed
struct Close {};                         // the window closes
}  // namespace acquisition_event

using AcquisitionEvent =
    std::variant<acquisition_event::Start, acquisition_event::Stop, acquisition_event::Tick,
                 acquisition_event::Port, acquisition_event::LineLost, acquisition_event::Close>;

class Acquisition {
 public:
  // Idle: not acquiring, the port closed. Ready: acquiring, nothing in flight
  // (the next request goes out at the next tick). Awaiting: a request is out.
  enum class State { Idle, Ready, Awaiting };

  using Clock = std::function<SampleTime()>;

  Acquisition(ComPort& port, Session& session, Slots& slots, Chart& chart, RecorderTimer& timer,
              Clock localTime);
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;

  void SetObserver(AcquisitionObserver* observer) { observer_ = observer; }

  void Handle(const AcquisitionEvent& event);

  State state() const { return state_; }
  bool Acquiring() const { return state_ != State::Idle; }
  long Counter() const { return counter_; }
  int CurrentSlot() const { return current_; }
  int LastStatus() const { return status_; }
  int AnswerTicks() const;
  // Whether any slot's address box holds an address (Start does nothing otherwise).
  static bool AnyAddressed(const Slots& slots);

 private:
  void OnStart(const acquisition_event::Start& start);
  void OnStop(bool automatic);
  void OnTick();
  void OnPort(const PortEvent& event);
  void OnLineLost(const std::string& text);
  void OnClose();
  void SendRequest();
  void OnAnswer(const Answer& answer);
  int Check(const Answer& answer, int& value) const;
  void Failure(int status);
  void CompleteCycle();
  int NextSlot(int from) const;  // first slot from `from` with an address; kSlots when none
  void ClosePort();

  ComPort& port_;
  Session& session_;
  LineLease lease_;  // the line, held while this holds the port
  Slots& slots_;
  Chart& chart_;
  RecorderTimer& timer_;
  Clock localTime_;
  Exchange exchange_;
  AcquisitionObserver* observer_ = nullptr;
  RecordWriter* writer_ = nullptr;
  bool goOnWithoutFile_ = false;
  State state_ = State::Idle;
  FrameForm form_ = FrameForm::Ascii;
  int current_ = 0;
  long counter_ = 0;
  int status_ = kStatusGood;
  RecordBytes record_{};
};

}  // namespace kx::recorder
