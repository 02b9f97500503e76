// Acquisition: samples the process value (register 0x4700) of up to ten
// controllers on the second port, one request at a time, paced by the
// window's timer. A cycle asks every addressed slot in turn; when it is
// complete its record (ten values, local time, 'Z') is stored in the chart,
// drawn and appended to the record file at once. A slot that fails three
// times in a row is dropped and carries the error marker from then on; when
// every slot is dropped acquisition stops by itself.
//
// Every request goes through the exchange layer; its answer gives the
// SampleStatus below, a failure shown as "DEVICE  n" and the message.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "core/exchange/exchange.h"
#include "core/exchange/requests.h"
#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "core/recorder/recorder_types.h"

namespace kx::recorder {

inline constexpr std::uint16_t kProcessValueRegister = 0x4700;
inline constexpr int kFailuresToDrop = 3;

// What one sample request gave: an exchange failure (with the exception code
// of an exception answer), or a good answer whose value is the controller's
// input-fault reading (high byte 0x80: the input is unstable or the device
// failed), which is not a sample either.
struct SampleStatus {
  Failure failure = Failure::None;
  std::uint8_t exceptionCode = 0;
  bool inputFault = false;
  bool Good() const { return failure == Failure::None && !inputFault; }
  friend bool operator==(const SampleStatus&, const SampleStatus&) = default;
};

// What an answer gives: the status, and the value (signed tenths) when good.
SampleStatus ReadSample(const Answer& answer, int& value);
// The message for a status (after "DEVICE  n"): the failure table's text for
// a time-out and a checksum error, the exception code's text, the input
// fault's text; every other answer that is not a read of two registers from
// the asked address does "not match".
std::string SampleStatusText(const SampleStatus& status);
// "DEVICE " and a blank, the slot number (index + 1), the message.
std::string SlotFailureText(int slot, const SampleStatus& status);

// The request for one slot: function 3, two registers from 0x4700, with the
// acquisition's wait on this line.
ExchangeRequest ProcessValueRequest(const LineFormat& line, std::uint8_t address);

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
  long counter() const { return counter_; }
  int currentSlot() const { return current_; }
  const SampleStatus& lastStatus() const { return status_; }
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
  void OnFailure();
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
  LineFormat line_;
  int current_ = 0;
  long counter_ = 0;
  SampleStatus status_;
  RecordBytes record_{};
};

}  // namespace kx::recorder
