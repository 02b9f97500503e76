// Line settings of the simulated serial line: the format each controller is
// configured for (kx::LineFormat), the settings the PC has put on its end of
// the line, and the rule that decides whether a controller can understand the
// PC at all.
#pragma once

#include "core/line/line_format.h"

namespace kxsim {

using kx::LineFormat;
using ParityKind = kx::Parity;
using kx::kBaudRates;
using kx::ParseLineFormat;
using kx::ToString;
using kx::BitsPerChar;
using kx::EncodeFormatByte;
using kx::DecodeFormatByte;

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

}  // namespace kxsim
