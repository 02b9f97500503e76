// Collecting and checking the answer to one request, shared by every receiver
// of a data-available event (tester, settings window, monitor, recorder,
// firmware update).
//
// Collecting: on a data-available event the request's timer is disarmed, every
// announced byte is read, and the answer is complete when (ASCII) the last byte
// read in that event is LF, or (RTU) the expected length is reached. An
// incomplete answer re-arms the timer, so the time-out measures the silence
// since the last bytes. When the timer fires an RTU answer with at least one
// byte is complete (ended by silence); otherwise the request has timed out.
// The collector never stores more than its capacity: the rest of an over-long
// answer is read from the port and dropped, and the answer ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/modbus/codec.h"
#include "core/line/comport.h"
#include "core/text/messages.h"

namespace kx {

// Expected length while the RTU length is still open.
inline constexpr int kRtuOpenLength = 250;

// Expected RTU answer length once `received` holds the bytes so far: 250 after
// the 1st byte; 8 after the 2nd when the function byte is 06; the byte count
// (3rd byte) + 5 after the 3rd when the function byte is 03; otherwise `current`.
int RtuExpectedLength(std::span<const std::uint8_t> received, int current);

enum class CollectState {
  Waiting,   // more bytes are expected; the timer runs
  Complete,  // the answer ended (LF, expected length, silence or capacity)
  TimedOut,  // the timer fired and there is no answer to hand over
};

class AnswerCollector {
 public:
  static constexpr std::size_t kDefaultCapacity = 256;

  explicit AnswerCollector(std::size_t capacity = kDefaultCapacity);

  // Starts a new answer in the given form, dropping what was collected. A
  // receiver that knows the RTU answer's length passes it; 0 applies the shared
  // length rule (RtuExpectedLength).
  void Start(FrameForm form, int knownRtuLength = 0);

  // The bytes of one data-available event. Bytes that arrive after the answer
  // ended are ignored. Returns the state after them.
  CollectState Add(std::span<const std::uint8_t> chunk);

  // One data-available event on `port`: disarms `timer`, reads exactly
  // `announced` bytes, and re-arms `timer` with `rearmTicks` unless the answer
  // is complete.
  CollectState OnData(ComPort& port, std::uint16_t announced, std::uint16_t timer,
                      int rearmTicks);

  // The request's timer fired.
  CollectState OnTimer();

  CollectState State() const { return state_; }
  FrameForm Form() const { return form_; }
  std::span<const std::uint8_t> Received() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Capacity() const { return capacity_; }
  // True when bytes were dropped because the capacity was reached.
  bool Overflowed() const { return overflowed_; }
  int ExpectedRtuLength() const { return expected_; }
  // The collected bytes as text, CR and LF left out (for receivers that show
  // or keep the answer as text).
  std::string Text() const;

 private:
  std::size_t capacity_;
  FrameForm form_ = FrameForm::Ascii;
  bool knownLength_ = false;
  int expected_ = kRtuOpenLength;
  bool overflowed_ = false;
  CollectState state_ = CollectState::Waiting;
  std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------
// Answer checks. Each receiver applies the ones it needs in its own order;
// CheckAnswer applies them all in the usual order.

enum class AnswerStatus {
  Ok,
  FormatError,      // ASCII answer not starting with ':' (or too short to hold a frame)
  WrongAddress,     // byte 0 is not the address the request went to
  ChecksumError,    // LRC or CRC wrong
  Exception,        // exception answer 83/E7 (read) or 86/E8 (write)
  EchoMismatch,     // the answer to a write is not a copy of the request
  UnknownFunction,  // a function byte the receiver does not expect
};

// Bytes of a collected ASCII answer (':' hex pairs LRC CR LF): (m - 3) / 2 pairs
// for m characters, the LRC byte included. Nothing when it does not start with ':'.
std::optional<Bytes> AsciiAnswerBytes(std::span<const std::uint8_t> text);

// Check sum of an answer as bytes (ASCII: converted, LRC included; RTU: as
// received, CRC included). An ASCII answer with function 0x77 passes unchecked.
bool AnswerChecksumOk(FrameForm form, std::span<const std::uint8_t> bytes);

// Length of the check field at the end of an answer in bytes (1 LRC, 2 CRC).
constexpr std::size_t CheckLength(FrameForm form) { return form == FrameForm::Rtu ? 2 : 1; }

// The text shown for an exception answer: " Read error : " (83, E7) or
// "Write error : " (86, E8) followed by the exception code's text. Nothing for
// other function bytes.
std::optional<std::string> ExceptionReport(std::uint8_t function, std::uint8_t code);

// The text shown for a failed check other than Exception (whose text depends
// on the answer, see ExceptionReport); empty for Ok.
std::string_view StatusText(AnswerStatus status);

struct AnswerExpectation {
  FrameForm form = FrameForm::Ascii;
  std::uint8_t address = 0;
  // Function bytes accepted as a normal answer.
  std::vector<std::uint8_t> functions;
  // For a write: the request as sent (ASCII text or RTU bytes, check included);
  // the answer must be identical byte for byte. Empty: no echo check.
  Bytes echoOf;
};

struct AnswerCheck {
  AnswerStatus status = AnswerStatus::Ok;
  std::string text;             // the monitor's text for the failure; empty when Ok
  Bytes bytes;                  // the answer as bytes, check field included
  std::uint8_t function = 0;    // function byte (0 when the answer is too short)
  std::uint8_t exceptionCode = 0;
};

// start (ASCII) -> address -> check sum -> function (exception answers are told
// apart from unknown functions) -> echo.
AnswerCheck CheckAnswer(const AnswerExpectation& expect, std::span<const std::uint8_t> collected);

}  // namespace kx
