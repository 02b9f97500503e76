#include "kxsim/line_format.h"

#include <charconv>

namespace kxsim {

namespace {

std::optional<int> BaudCode(int baud) {
  for (int code = 0; code < 5; ++code) {
    if (kBaudRates[code] == baud) return code;
  }
  return std::nullopt;
}

}  // namespace

std::optional<LineFormat> ParseLineFormat(std::string_view text) {
  // BAUD - D P S - FORM
  const auto dash1 = text.find('-');
  if (dash1 == std::string_view::npos) return std::nullopt;
  const auto dash2 = text.find('-', dash1 + 1);
  if (dash2 == std::string_view::npos || dash2 - dash1 != 4) return std::nullopt;
  LineFormat f;
  const std::string_view baud = text.substr(0, dash1);
  auto [ptr, ec] = std::from_chars(baud.data(), baud.data() + baud.size(), f.baud);
  if (ec != std::errc() || ptr != baud.data() + baud.size() || !BaudCode(f.baud)) return std::nullopt;
  const char bits = text[dash1 + 1];
  const char parity = text[dash1 + 2];
  const char stop = text[dash1 + 3];
  if (bits != '7' && bits != '8') return std::nullopt;
  f.dataBits = bits - '0';
  switch (parity) {
    case 'N': case 'n': f.parity = ParityKind::None; break;
    case 'E': case 'e': f.parity = ParityKind::Even; break;
    case 'O': case 'o': f.parity = ParityKind::Odd; break;
    default: return std::nullopt;
  }
  if (stop != '1' && stop != '2') return std::nullopt;
  f.stopBits = stop - '0';
  const std::string_view form = text.substr(dash2 + 1);
  if (form == "ascii") {
    f.form = kx::FrameForm::Ascii;
  } else if (form == "rtu") {
    f.form = kx::FrameForm::Rtu;
  } else {
    return std::nullopt;
  }
  return f;
}

std::string ToString(const LineFormat& f) {
  const char parity = f.parity == ParityKind::None ? 'N' : f.parity == ParityKind::Even ? 'E' : 'O';
  return std::to_string(f.baud) + "-" + std::to_string(f.dataBits) + parity +
         std::to_string(f.stopBits) + (f.form == kx::FrameForm::Rtu ? "-rtu" : "-ascii");
}

int BitsPerChar(const LineFormat& f) {
  return 1 + f.dataBits + (f.parity == ParityKind::None ? 0 : 1) + f.stopBits;
}

PcSettings ExactSettings(const LineFormat& f) {
  return PcSettings{f.baud, f.dataBits, f.parity, false, f.stopBits, false};
}

bool Understands(const LineFormat& f, const PcSettings& pc) {
  if (pc.unmatched || f.baud != pc.baud || f.stopBits != pc.stopBits) return false;
  if (pc.dataBits != 0 && pc.dataBits != f.dataBits) return false;
  if (pc.parityOddOnly) return (f.parity == ParityKind::Odd) == (pc.parity == ParityKind::Odd);
  return f.parity == pc.parity;
}

std::uint8_t EncodeFormatByte(const LineFormat& f) {
  const int parityCode = f.parity == ParityKind::None ? 0 : f.parity == ParityKind::Even ? 1 : 2;
  const int byte = (f.dataBits == 7 ? 0x80 : 0) | (BaudCode(f.baud).value_or(2) << 4) |
                   (parityCode << 2) | (f.form == kx::FrameForm::Rtu ? 0x02 : 0) |
                   (f.stopBits == 1 ? 0x01 : 0);
  return static_cast<std::uint8_t>(byte);
}

std::optional<LineFormat> DecodeFormatByte(std::uint8_t byte) {
  LineFormat f;
  f.dataBits = (byte & 0x80) ? 7 : 8;
  const int baudCode = (byte >> 4) & 0x07;
  if (baudCode > 4) return std::nullopt;
  f.baud = kBaudRates[baudCode];
  switch ((byte >> 2) & 0x03) {
    case 0: f.parity = ParityKind::None; break;
    case 1: f.parity = ParityKind::Even; break;
    case 2: f.parity = ParityKind::Odd; break;
    default: return std::nullopt;
  }
  f.form = (byte & 0x02) ? kx::FrameForm::Rtu : kx::FrameForm::Ascii;
  f.stopBits = (byte & 0x01) ? 1 : 2;
  if (f.form == kx::FrameForm::Rtu && f.dataBits == 7) return std::nullopt;
  return f;
}

}  // namespace kxsim
