#include "core/modbus/codec.h"

#include "core/text/messages.h"

#include <array>

namespace kx {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
  const int code = static_cast<unsigned char>(c);
  return code <= 0x39 ? code - 48 : code - 55;
}
}  // namespace

int HexPairValue(char high, char low) { return 16 * DigitValue(high) + DigitValue(low); }

std::string HexByte(int value) {
  const auto v = static_cast<unsigned>(value);
  return {kDigits[(v >> 4) & 15U], kDigits[v & 15U]};
}

std::size_t HexTextToBytes(std::span<char> buf, std::size_t n) {
  std::size_t done = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (2 * i + 2 >= buf.size()) break;
    buf[i] = static_cast<char>(HexPairValue(buf[2 * i + 1], buf[2 * i + 2]) & 0xFF);
    ++done;
  }
  return done;
}

std::uint8_t AsciiLrc(std::string_view text, std::size_t length) {
  if (length == 0) return 0;
  std::size_t k = (length - 1) / 2;
  if (2 * k + 1 > text.size()) k = text.size() > 0 ? (text.size() - 1) / 2 : 0;
  // Each pair is worth up to a few thousand (nothing is validated), so a long
  // text would overflow an int sum; 64 bits hold any text that fits in memory.
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < k; ++i) sum += HexPairValue(text[2 * i + 1], text[2 * i + 2]);
  return static_cast<std::uint8_t>(((65536 - sum) % 256 + 256) % 256);
}

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001U)
                       : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

std::uint8_t ByteLrc(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>((0x10000U - sum) & 0xFFU);
}

std::string BuildAsciiFrame(std::span<const std::uint8_t> pdu) {
  std::string text;
  text.reserve(1 + 2 * pdu.size() + 4);
  text.push_back(':');
  for (std::uint8_t b : pdu) text += HexByte(b);
  text += HexByte(ByteLrc(pdu));
  text += "\r\n";
  return text;
}

Bytes BuildRtuFrame(std::span<const std::uint8_t> pdu) {
  Bytes out(pdu.begin(), pdu.end());
  const std::uint16_t crc = Crc16(pdu);
  out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  return out;
}

Bytes BuildFrame(FrameForm form, std::span<const std::uint8_t> pdu) {
  if (form == FrameForm::Rtu) return BuildRtuFrame(pdu);
  const std::string text = BuildAsciiFrame(pdu);
  return Bytes(text.begin(), text.end());
}

Bytes ReadRequestPdu(std::uint8_t address, std::uint8_t function, std::uint16_t start,
                     std::uint16_t count) {
  return {address,
          function,
          static_cast<std::uint8_t>(start >> 8),
          static_cast<std::uint8_t>(start & 0xFF),
          static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(count & 0xFF)};
}

Bytes WriteRegisterPdu(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
  return {address,
          0x06,
          static_cast<std::uint8_t>(reg >> 8),
          static_cast<std::uint8_t>(reg & 0xFF),
          static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value & 0xFF)};
}

bool AsciiChecksumOk(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return (sum & 0xFFU) == 0;
}

bool RtuChecksumOk(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 3) return false;
  const std::uint16_t crc = Crc16(bytes.first(bytes.size() - 2));
  return bytes[bytes.size() - 2] == (crc & 0xFF) && bytes[bytes.size() - 1] == (crc >> 8);
}

std::string_view ExceptionText(std::uint8_t code) { return Text(ExceptionMsg(code)); }

}  // namespace kx
