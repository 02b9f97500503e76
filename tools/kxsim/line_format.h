// Line settings of the simulated serial line: the format each controller is
// configured for, the settings the PC has put on its end of the line, and the
// rule that decides whether a controller can understand the PC at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/modbus/codec.h"

namespace kxsim {

enum class ParityKind { None, Even, Odd };

// One controller's communication format, e.g. "9600-7E1-ascii".
struct LineFormat {
  int baud = 9600;
  int dataBits = 7;
  ParityKind parity = ParityKind::Even;
  int stopBits = 1;
  kx::FrameForm form = kx::FrameForm::Ascii;

  friend bool operator==(const LineFormat&, const LineFormat&) = default;
};

// Baud rates a controller can be set to (codes 0..4 of the format byte).
inline constexpr int kBaudRates[] = {2400, 4800, 9600, 19200, 38400};

// Parses "BAUD-<7|8><N|E|O><1|2>-<ascii|rtu>"; nullopt when malformed.
std::optional<LineFormat> ParseLineFormat(std::string_view text);
std::string ToString(const LineFormat& format);

// Bits on the wire per character: start + data + parity + stop.
int BitsPerChar(const LineFormat& format);

// What the PC has set on its end of the line. A pseudo-terminal cannot carry
// the data bits or the parity enable flag, so those may be unknown: dataBits 0
// means unknown, and parityOddOnly means only "odd or not odd" is known.
struct PcSettings {
  int baud = 9600;
  int dataBits = 0;
  ParityKind parity = ParityKind::None;
  bool parityOddOnly = false;
  int stopBits = 1;
  bool unmatched = false;  // a setting no controller uses (mark/space parity, 1.5 stop bits)
};

// Exact settings, as seen over a network line.
PcSettings ExactSettings(const LineFormat& format);

// True when a controller with `format` understands what the PC sends: the same
// baud rate and stop bits, and data bits and parity as far as they are known.
bool Understands(const LineFormat& format, const PcSettings& pc);

// Communication format byte of register 0x470B: bit 7 seven data bits, bits 6-4
// baud code, bits 3-2 parity code (0 none, 1 even, 2 odd), bit 1 RTU, bit 0 one
// stop bit. Decoding refuses unknown codes and RTU with seven data bits.
std::uint8_t EncodeFormatByte(const LineFormat& format);
std::optional<LineFormat> DecodeFormatByte(std::uint8_t byte);

}  // namespace kxsim
