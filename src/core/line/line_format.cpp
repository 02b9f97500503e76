#include "core/line/line_format.h"

#include <algorithm>
#include <charconv>

#include "core/line/session.h"

namespace kx {

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
    case 'N': case 'n': f.parity = Parity::None; break;
    case 'E': case 'e': f.parity = Parity::Even; break;
    case 'O': case 'o': f.parity = Parity::Odd; break;
    default: return std::nullopt;
  }
  if (stop != '1' && stop != '2') return std::nullopt;
  f.stopBits = stop - '0';
  const std::string_view form = text.substr(dash2 + 1);
  if (form == "ascii") {
    f.form = FrameForm::Ascii;
  } else if (form == "rtu") {
    f.form = FrameForm::Rtu;
  } else {
    return std::nullopt;
  }
  return f;
}

std::string ToString(const LineFormat& f) {
  const char parity = f.parity == Parity::None ? 'N' : f.parity == Parity::Even ? 'E' : 'O';
  return std::to_string(f.baud) + "-" + std::to_string(f.dataBits) + parity +
         std::to_string(f.stopBits) + (f.form == FrameForm::Rtu ? "-rtu" : "-ascii");
}

int BitsPerChar(const LineFormat& f) {
  return 1 + f.dataBits + (f.parity == Parity::None ? 0 : 1) + f.stopBits;
}

std::int64_t LineTiming::WireMicros(std::size_t chars) const {
  const std::int64_t bits = static_cast<std::int64_t>(chars) * std::max(bitsPerChar, 1);
  const std::int64_t rate = std::max(baud, 1);
  return (bits * 1'000'000 + rate - 1) / rate;
}

int LineTiming::TransmitTicks(std::size_t chars) const {
  constexpr std::int64_t kMicrosPerTick = std::int64_t{kTickMs} * 1000;
  return static_cast<int>((WireMicros(chars) + kMicrosPerTick - 1) / kMicrosPerTick);
}

LineTiming TimingOf(const LineFormat& format) { return LineTiming{format.baud, BitsPerChar(format)}; }

LineTiming TimingOf(const PortParams& params) { return TimingOf(LineFormatOf(params)); }

LineFormat LineFormatOf(const PortParams& params) {
  LineFormat f;
  f.baud = params.baud;
  f.dataBits = params.dataBits;
  // Code 3 keeps the port's own parity: one parity bit on the wire.
  f.parity = params.parityCode == 0 ? Parity::None : params.parityCode == 2 ? Parity::Odd : Parity::Even;
  f.stopBits = params.stopBits;
  f.form = params.rtu ? FrameForm::Rtu : FrameForm::Ascii;
  return f;
}

std::uint8_t EncodeFormatByte(const LineFormat& f) {
  const int parityCode = f.parity == Parity::None ? 0 : f.parity == Parity::Even ? 1 : 2;
  const int byte = (f.dataBits == 7 ? 0x80 : 0) | (BaudCode(f.baud).value_or(2) << 4) |
                   (parityCode << 2) | (f.form == FrameForm::Rtu ? 0x02 : 0) |
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
    case 0: f.parity = Parity::None; break;
    case 1: f.parity = Parity::Even; break;
    case 2: f.parity = Parity::Odd; break;
    default: return std::nullopt;
  }
  f.form = (byte & 0x02) ? FrameForm::Rtu : FrameForm::Ascii;
  f.stopBits = (byte & 0x01) ? 1 : 2;
  if (f.form == FrameForm::Rtu && f.dataBits == 7) return std::nullopt;
  return f;
}

}  // namespace kx
