// One line's communication format as values (baud, data bits, parity, stop
// bits, frame form), its text form "9600-7E1-ascii" and the controller's
// format byte. Used by kxctl for its line choice and by kxsim's controllers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/line/comport.h"
#include "core/modbus/codec.h"

namespace kx {

struct PortParams;

// One communication format, e.g. "9600-7E1-ascii".
struct LineFormat {
  int baud = 9600;
  int dataBits = 7;
  Parity parity = Parity::Even;
  int stopBits = 1;
  FrameForm form = FrameForm::Ascii;

  friend bool operator==(const LineFormat&, const LineFormat&) = default;
};

// Baud rates a controller can be set to (codes 0..4 of the format byte).
inline constexpr int kBaudRates[] = {2400, 4800, 9600, 19200, 38400};

// Parses "BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>"; nullopt when malformed.
std::optional<LineFormat> ParseLineFormat(std::string_view text);
std::string ToString(const LineFormat& format);

// Bits on the wire per character: start + data + parity + stop.
int BitsPerChar(const LineFormat& format);

// Speed of a line: the one formula for how long characters take on the wire
// (exchange deadlines, kxctl's probe waits, kxsim's line model).
struct LineTiming {
  int baud = 9600;
  int bitsPerChar = 11;  // start + data + parity + stop

  // Microseconds (rounded up) the line needs to carry `chars` characters.
  std::int64_t WireMicros(std::size_t chars) const;
  // The same in ticks of 55 ms, rounded up.
  int TransmitTicks(std::size_t chars) const;
};
LineTiming TimingOf(const LineFormat& format);
// Timing of a line opened with these parameters (parity code 3 counts as one
// parity bit: the port keeps a parity of its own).
LineTiming TimingOf(const PortParams& params);
// The format of a line opened with these parameters (form from its RTU flag).
LineFormat LineFormatOf(const PortParams& params);

// Communication format byte of register 0x470B: bit 7 seven data bits, bits 6-4
// baud code, bits 3-2 parity code (0 none, 1 even, 2 odd), bit 1 RTU, bit 0 one
// stop bit. Decoding refuses unknown codes and RTU with seven data bits.
std::uint8_t EncodeFormatByte(const LineFormat& format);
std::optional<LineFormat> DecodeFormatByte(std::uint8_t byte);

}  // namespace kx
