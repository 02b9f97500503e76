// Frame-end rules: how a receiver knows that an answer has ended. A rule is a
// value carried by each request (see exchange.h), so one piece of code collects
// answers for every protocol on the line.
//
//   frame_end::Line        ASCII: the answer ends with a received chunk whose
//                          last byte is LF (bytes after an LF in the same chunk
//                          keep it open).
//   frame_end::RtuShared   RTU, the shared receive rule of the main ports' RTU
//                          receivers: 250 (open) after the 1st byte, 8 after the 2nd
//                          when the function is 06, byte count + 5 after the 3rd
//                          when the function is 03; any other answer ends by
//                          silence.
//   frame_end::RtuByFunction  RTU with every answer length of the family known:
//                          03, 04, 0x67 (and 0x77, a KX1's identification) byte
//                          count + 5; 05, 06 and 0x10 eight bytes; an exception
//                          answer (function >= 0x80) five; others end by silence.
//                          The rule of every request whose answer is one of
//                          these (DefaultFrameEnd), so no answer waits for a
//                          silence it does not need.
//   frame_end::Silence     any form: only the line falling silent ends the
//                          answer (the main port's RTU receivers).
//   frame_end::Custom      a rule a later protocol supplies: a callable that
//                          sees the bytes collected so far and says More,
//                          Complete or Restart. Restart drops the bytes so far
//                          (noise before a start byte). Example, a loader answer
//                          that starts with 0x01 and is five bytes long:
//                            frame_end::Custom{[](std::span<const std::uint8_t> b) {
//                              if (b[0] != 0x01) return FrameProgress::Restart;
//                              return b.size() >= 5 ? FrameProgress::Complete
//                                                   : FrameProgress::More; }}
//                          `silenceEnds` decides whether a shorter answer is
//                          taken when the line goes quiet.
//
// The silence itself is measured by the exchange (the re-arm time after each
// chunk); a rule only says whether silence ends an answer that has bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <variant>

#include "core/modbus/codec.h"

namespace kx {

// Expected length while the RTU length is still open.
inline constexpr int kRtuOpenLength = 250;

// The shared RTU length rule, once `received` holds the bytes so far: 250
// after the 1st byte; 8 after the 2nd when the function byte is 06; the byte
// count (3rd byte) + 5 after the 3rd when the function byte is 03; otherwise
// `current`.
int RtuExpectedLength(std::span<const std::uint8_t> received, int current);

enum class FrameProgress {
  More,      // not complete yet
  Complete,  // the answer ends with the byte just added
  Restart,   // drop the bytes collected so far and keep waiting
};

namespace frame_end {

struct Line {};
struct RtuShared {};
struct RtuByFunction {};
struct Silence {};
struct Custom {
  // Called after each byte with all bytes collected so far (never empty).
  std::function<FrameProgress(std::span<const std::uint8_t> soFar)> decide;
  bool silenceEnds = false;
  // The longest answer the protocol sends (0: the receive capacity); it sizes
  // the exchange's overall deadline.
  std::size_t longest = 0;
};

}  // namespace frame_end

using FrameEnd = std::variant<frame_end::Line, frame_end::RtuShared, frame_end::RtuByFunction,
                              frame_end::Silence, frame_end::Custom>;

// The rule of a request to a controller: Line for ASCII, RtuByFunction for RTU.
FrameEnd DefaultFrameEnd(FrameForm form);

// Whether the line falling silent ends an answer that holds at least one byte
// (otherwise the silence is a time-out).
bool SilenceEnds(const FrameEnd& rule);

// The longest answer the rule can end with, at most `capacity` bytes.
std::size_t LongestAnswer(const FrameEnd& rule, std::size_t capacity);

// Applies a rule to a growing answer. Feed every received chunk through Add;
// the collector never stores more than its capacity: an answer that fills it
// ends there (Overflowed) and the rest of the chunk is dropped.
class FrameCollector {
 public:
  enum class State { Collecting, Complete };

  FrameCollector() = default;
  FrameCollector(FrameEnd rule, std::size_t capacity);

  // Adds one received chunk. Bytes after the end of the answer are dropped.
  State Add(std::span<const std::uint8_t> chunk);

  // Whether the rule ends this answer by what it holds (an LF, a length known
  // now or from bytes still to come) rather than by the line falling silent.
  // Over a network, where a gap in the stream means nothing, only such a rule
  // ends an answer; a silence does not cut it short.
  bool EndsByContent() const;

  State state() const { return state_; }
  bool overflowed() const { return overflowed_; }
  std::span<const std::uint8_t> received() const { return bytes_; }
  const FrameEnd& rule() const { return rule_; }

 private:
  FrameProgress AfterByte();

  FrameEnd rule_ = frame_end::Line{};
  std::size_t capacity_ = 256;
  std::size_t expected_ = 250;
  bool overflowed_ = false;
  State state_ = State::Collecting;
  Bytes bytes_;
};

}  // namespace kx
