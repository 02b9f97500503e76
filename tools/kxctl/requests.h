// The requests kxctl sends, built as the monitor builds them (frames, waits,
// answer checks), and what it takes from their answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/exchange/exchange.h"
#include "kxctl/command_line.h"

namespace kxctl {

// The monitor's first wait in ticks: ASCII 18 for a read and 50 for a write
// (and its unlock write); RTU 2 at 9600 bit/s and above, else 3. A read of
// more registers than the monitor ever asks for waits at least as long as the
// request and its answer take on the line.
int ReadWaitTicks(const LineFormat& format, const kx::LineTiming& timing, std::size_t answerBytes);
int WriteWaitTicks(const LineFormat& format);

// Function 03 (or 0x67 for the identification) for `count` registers from `start`.
kx::ExchangeRequest ReadRequest(const LineFormat& format, const kx::LineTiming& timing, int address,
                                std::uint16_t start, std::uint16_t count, std::uint8_t function = 0x03);
// Function 06, the answer checked as an echo of the request.
kx::ExchangeRequest WriteRequest(const LineFormat& format, const kx::LineTiming& timing, int address,
                                 std::uint16_t reg, std::uint16_t value);
// The identification read (0x67, three registers from 0x0012). KX1 answers it
// with function 0x77, or with the exception 0xE7; both are taken as answers.
kx::ExchangeRequest IdentifyRequest(const LineFormat& format, const kx::LineTiming& timing, int address);

// Model code from the answer to IdentifyRequest; nothing when the answer failed.
std::optional<std::uint8_t> IdentifiedModel(const kx::Answer& answer, kx::FrameForm form);

// The register words of a good read answer in `form`.
std::vector<std::uint16_t> AnswerWords(const kx::Answer& answer, kx::FrameForm form);

// The program's message for an answer that failed (time-out, check, exception,
// echo, lost line); empty when the answer is good.
std::string FailureText(const kx::Answer& answer);

// "3.20": the version word's major number in decimal and its minor number as
// two hexadecimal digits, as the program shows it after "F/W Version ".
std::string FirmwareText(std::uint16_t versionWord);

}  // namespace kxctl
