// The requests sent to controllers, built in one place for every engine and
// kxctl: one builder per request form, and one time-out policy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/exchange/exchange.h"
#include "core/line/line_format.h"

namespace kx {

// What a request is for; the time-out policy is keyed by it.
enum class RequestKind {
  Read,         // function 03 (the monitor's pages, kxctl's reads)
  Identify,     // function 0x67
  Write,        // function 06 (and its unlock write)
  Broadcast,    // a write to address 0: nobody answers
  Acquisition,  // the recorder's process-value read (ASCII: 15 ticks, 825 ms)
  Probe,        // the bus search's probe
  SetupStep,    // a protocol change step
  Tester,       // a frame from the single command tester
};

// The first wait (and re-arm) in ticks of 55 ms for a request of this kind on
// this line, from one table: ASCII waits by kind; RTU waits 2 ticks at 9600
// bit/s and above, 3 below. On a line reached over the network the exchange
// adds kNetworkAllowanceTicks (exchange.h) to every wait of the table. A read whose request and answer (`answerBytes`,
// 0: not known) take longer on the line waits at least that long.
int WaitTicks(RequestKind kind, const LineFormat& line, std::size_t answerBytes = 0);

// Function 03 (or another read function) for `count` registers from `start`;
// the answer is checked for the address and the function.
ExchangeRequest ReadRequest(const LineFormat& line, std::uint8_t address, std::uint16_t start,
                            std::uint16_t count, std::uint8_t function = 0x03);
// Function 06; the answer is checked to be the request's echo.
ExchangeRequest WriteRequest(const LineFormat& line, std::uint8_t address, std::uint16_t reg,
                             std::uint16_t value);
// Function 06 to address 0: no answer expected, the wait's end acknowledges it.
ExchangeRequest BroadcastWriteRequest(const LineFormat& line, std::uint16_t reg, std::uint16_t value);
// The identification (0x67, three registers from 0x0012). A KX1 answers it
// with 0x77, or with the exception 0xE7; both are taken as answers.
ExchangeRequest IdentifyRequest(const LineFormat& line, std::uint8_t address);
// The bus search's probe (one register from 0x4701) and its waits.
ExchangeRequest ProbeRequest(const LineFormat& line, std::uint8_t address);
Bytes ProbeFrame(std::uint8_t address, FrameForm form);

// The search's hit rule: the answer's first bytes are the address, 03 and the
// byte count 02 (the check digits are not tested, nor how the answer ended).
bool ProbeHit(const Answer& answer, std::uint8_t address, FrameForm form);

// Model code from the answer to IdentifyRequest; nothing when it failed.
std::optional<std::uint8_t> IdentifiedModel(const Answer& answer);

}  // namespace kx
