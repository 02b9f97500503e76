// Checks of a received answer, shared by every receiver: form, LRC/CRC,
// address, function (exception answers told apart) and echo. The exchange
// (exchange.h) applies them to each complete answer whose request asks for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/exchange/frame_end.h"
#include "core/modbus/codec.h"
#include "core/text/messages.h"

namespace kx {

// Why an exchange failed: the one failure vocabulary of every engine and of
// kxctl. None is a complete answer that passed every check asked for.
enum class Failure : std::uint8_t {
  None,
  TimedOut,         // no answer, a partial one, or the overall deadline
  LineLost,         // the port failed while the request was pending
  Format,           // not a frame (ASCII not starting with ':', too short)
  WrongAddress,     // from another address than the request went to
  Checksum,         // LRC or CRC wrong
  Exception,        // an exception answer (83/E7 to a read, 86/E8 to a write)
  EchoMismatch,     // the answer to a write is not its request's echo
  UnknownFunction,  // a function byte that is neither expected nor an exception
  LineEcho,         // a line that echoes requests gave back something else than the request
};

// The message table: the text shown for a failure. An exception's text is
// " Read error : " or "Write error : " (by the answer's function) followed by
// the code's text; None has no text.
std::string FailureText(Failure failure, std::uint8_t function = 0, std::uint8_t exceptionCode = 0);

// ---------------------------------------------------------------------------
// Answer checks. Each receiver applies the ones it needs in its own order;
// CheckAnswer applies them all in the usual order.

// Received bytes as text with CR and LF left out (how receivers that show or
// keep an ASCII answer as text see it).
std::string AnswerText(std::span<const std::uint8_t> received);

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

struct AnswerExpectation {
  FrameForm form = FrameForm::Ascii;
  std::uint8_t address = 0;
  // Function bytes accepted as a normal answer.
  std::vector<std::uint8_t> functions;
  // For a write: the request as sent (ASCII text or RTU bytes, check included);
  // the answer must be its echo. Empty: no echo check.
  Bytes echoOf;
  // How much of the answer is the echo, counted in bytes (ASCII converted, the
  // check field counts): 0 the whole answer; N its first N bytes.
  std::size_t echoBytes = 0;
  // false: the check field is not tested (a probe hit is told by its first bytes).
  bool checkDigits = true;
};

// What the checks found: the first failure (None: good) and the answer as bytes.
struct AnswerCheck {
  Failure failure = Failure::None;
  Bytes bytes;                  // the answer as bytes, check field included
  std::uint8_t function = 0;    // function byte (0 when the answer is too short)
  std::uint8_t exceptionCode = 0;
};

// start (ASCII) -> address -> check sum -> function (exception answers are told
// apart from unknown functions) -> echo.
AnswerCheck CheckAnswer(const AnswerExpectation& expect, std::span<const std::uint8_t> collected);

}  // namespace kx
