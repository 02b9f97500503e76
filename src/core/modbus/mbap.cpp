#include "core/modbus/mbap.h"

#include <algorithm>

namespace kx::mbap {
namespace {

std::uint16_t WordAt(std::span<const std::uint8_t> b, std::size_t i) {
  return static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]);
}

std::optional<int> HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// ':' pairs LRC CR LF with a right LRC: the contents without the LRC.
std::optional<Bytes> AsciiContents(std::span<const std::uint8_t> text) {
  // ':', address, function, LRC: three pairs at least; an odd count of digits is no frame.
  if (text.size() < 1 + 6 + 2 || text.front() != ':' || text[text.size() - 2] != '\r' || text.back() != '\n')
    return std::nullopt;
  const std::span<const std::uint8_t> digits = text.subspan(1, text.size() - 3);
  if (digits.size() % 2 != 0) return std::nullopt;
  Bytes bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const auto high = HexDigit(digits[i]);
    const auto low = HexDigit(digits[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  const std::uint8_t lrc = bytes.back();
  bytes.pop_back();
  if (ByteLrc(bytes) != lrc) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<SerialFrame> ParseSerialFrame(std::span<const std::uint8_t> bytes) {
  if (auto contents = AsciiContents(bytes)) return SerialFrame{FrameForm::Ascii, std::move(*contents)};
  if (bytes.size() >= 4 && RtuChecksumOk(bytes)) return SerialFrame{FrameForm::Rtu, Bytes(bytes.begin(), bytes.end() - 2)};
  return std::nullopt;
}

std::optional<Bytes> BuildFrame(std::uint16_t transaction, std::uint8_t unit, std::span<const std::uint8_t> pdu) {
  if (pdu.empty() || pdu.size() > kMaxPduLength) return std::nullopt;
  const std::size_t length = pdu.size() + 1;
  Bytes frame(kHeaderLength + pdu.size());
  frame[0] = static_cast<std::uint8_t>(transaction >> 8);
  frame[1] = static_cast<std::uint8_t>(transaction & 0xFF);
  frame[4] = static_cast<std::uint8_t>(length >> 8);
  frame[5] = static_cast<std::uint8_t>(length & 0xFF);
  frame[6] = unit;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + kHeaderLength);
  return frame;
}

std::optional<Bytes> FrameOfSerial(std::uint16_t transaction, std::span<const std::uint8_t> addressAndPdu) {
  if (addressAndPdu.empty()) return std::nullopt;
  return BuildFrame(transaction, addressAndPdu[0], addressAndPdu.subspan(1));
}

Bytes SerialOfFrame(const Frame& frame) {
  Bytes bytes(frame.pdu.size() + 1);
  bytes[0] = frame.unit;
  std::copy(frame.pdu.begin(), frame.pdu.end(), bytes.begin() + 1);
  return bytes;
}

bool IsGatewayFailure(std::span<const std::uint8_t> pdu) {
  return pdu.size() == 2 && (pdu[0] & 0x80) != 0 && (pdu[1] == kGatewayPathUnavailable || pdu[1] == kGatewayTargetFailed);
}

void Reader::Add(std::span<const std::uint8_t> bytes) {
  if (broken_) return;
  // Drop what was consumed before growing, so the buffer holds at most one
  // partial frame plus the new chunk.
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Frame> Reader::Next() {
  if (broken_) return std::nullopt;
  const std::span<const std::uint8_t> rest = std::span<const std::uint8_t>(buffer_).subspan(start_);
  if (rest.size() < kHeaderLength) return std::nullopt;
  const std::uint16_t protocol = WordAt(rest, 2);
  const std::size_t length = WordAt(rest, 4);
  if (protocol != 0 || length < 2 || length > kMaxPduLength + 1) {
    broken_ = true;
    buffer_.clear();
    start_ = 0;
    return std::nullopt;
  }
  const std::size_t total = kHeaderLength - 1 + length;
  if (rest.size() < total) return std::nullopt;
  Frame frame;
  frame.transaction = WordAt(rest, 0);
  frame.unit = rest[6];
  frame.pdu.assign(rest.begin() + kHeaderLength, rest.begin() + static_cast<std::ptrdiff_t>(total));
  start_ += total;
  return frame;
}

void Reader::Reset() {
  buffer_.clear();
  start_ = 0;
  broken_ = false;
}

}  // namespace kx::mbap
