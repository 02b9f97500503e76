// Modbus TCP framing (the MBAP header): a 7-byte header (transaction id,
// protocol 0, length of what follows, unit id) before the PDU (function and
// data), with no check digits. On a gateway the unit id is the address of the
// controller on the serial line behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/modbus/codec.h"

namespace kx::mbap {

inline constexpr std::size_t kHeaderLength = 7;
// A PDU holds at most 253 bytes, so the length field is 2 to 254.
inline constexpr std::size_t kMaxPduLength = 253;
inline constexpr std::uint16_t kDefaultPort = 502;
// Exceptions a gateway sends for itself: no path to the unit, or the unit on
// the line did not answer.
inline constexpr std::uint8_t kGatewayPathUnavailable = 0x0A;
inline constexpr std::uint8_t kGatewayTargetFailed = 0x0B;

struct Frame {
  std::uint16_t transaction = 0;
  std::uint8_t unit = 0;
  Bytes pdu;  // function code first
};

// The frame for `unit` and `pdu` (nothing if the PDU is empty or too long).
std::optional<Bytes> BuildFrame(std::uint16_t transaction, std::uint8_t unit, std::span<const std::uint8_t> pdu);

// A serial frame's contents (address, then function and data, without check
// digits) as an MBAP frame: the address becomes the unit id.
std::optional<Bytes> FrameOfSerial(std::uint16_t transaction, std::span<const std::uint8_t> addressAndPdu);

// The frame's contents as on a serial line: unit id first, then the PDU.
Bytes SerialOfFrame(const Frame& frame);

// True for a gateway's own exception (0x0A, 0x0B): the unit was not reached.
bool IsGatewayFailure(std::span<const std::uint8_t> pdu);

// A request frame as the engines write it to a serial line: its form and its
// contents (address, function and data, without check digits).
struct SerialFrame {
  FrameForm form = FrameForm::Rtu;
  Bytes contents;
};

// Reads one whole serial frame: ASCII (':', hexadecimal pairs in either case,
// the LRC pair, CR LF, the LRC right) or else RTU (at least an address and a
// function, the CRC right). Nothing for anything else. An RTU frame that also
// reads as a checked ASCII frame is taken as ASCII (its CRC would have to be
// CR LF and every byte a hex digit).
std::optional<SerialFrame> ParseSerialFrame(std::span<const std::uint8_t> bytes);

// Cuts a TCP byte stream into frames. Bytes in any chunks; a header whose
// protocol is not 0 or whose length is out of range breaks the stream (there
// is no way to find the next frame's start), after which nothing more is read
// until Reset().
class Reader {
 public:
  void Add(std::span<const std::uint8_t> bytes);
  // The next complete frame, if one is buffered.
  std::optional<Frame> Next();
  bool broken() const { return broken_; }
  // Bytes buffered that do not yet make a whole frame.
  std::size_t Pending() const { return buffer_.size() - start_; }
  void Reset();

 private:
  Bytes buffer_;
  std::size_t start_ = 0;
  bool broken_ = false;
};

}  // namespace kx::mbap
