#include "core/exchange/frame_end.h"

#include <algorithm>

#include "core/exchange/answer.h"
#include "core/text/overloaded.h"

namespace kx {

namespace {

constexpr std::uint8_t kLf = 0x0A;

// Answers of the family whose length follows from the function: a byte count
// after the function (0x77: a KX1 answers the identification 0x67 under this
// code), a write's fixed eight bytes, an exception's five.
bool CountedAnswer(std::uint8_t f) { return f == 0x03 || f == 0x04 || f == 0x67 || f == 0x77; }
bool WriteAnswer(std::uint8_t f) { return f == 0x05 || f == 0x06 || f == 0x10; }
bool ExceptionAnswer(std::uint8_t f) { return f >= 0x80; }

// Expected RTU answer length by function once the bytes so far tell it.
std::size_t ByFunctionLength(std::span<const std::uint8_t> b, std::size_t current) {
  if (b.size() == 1) return kRtuOpenLength;
  const std::uint8_t f = b[1];
  if (b.size() == 2) {
    if (ExceptionAnswer(f)) return kRtuExceptionLength;
    if (WriteAnswer(f)) return kRtuWriteAnswerLength;
    return current;
  }
  if (b.size() == 3 && CountedAnswer(f)) return std::size_t{b[2]} + 5;
  return current;
}

}  // namespace

int RtuExpectedLength(std::span<const std::uint8_t> received, int current) {
  switch (received.size()) {
    case 1: return kRtuOpenLength;
    case 2: return received[1] == 0x06 ? 8 : current;
    case 3: return received[1] == 0x03 ? received[2] + 5 : current;
    default: return current;
  }
}

FrameEnd DefaultFrameEnd(FrameForm form) {
  if (form == FrameForm::Rtu) return frame_end::RtuByFunction{};
  return frame_end::Line{};
}

bool SilenceEnds(const FrameEnd& rule) {
  return std::visit(Overloaded{
                        [](const frame_end::Line&) { return false; },
                        [](const frame_end::RtuShared&) { return true; },
                        [](const frame_end::RtuByFunction&) { return true; },
                        [](const frame_end::Silence&) { return true; },
                        [](const frame_end::Custom& r) { return r.silenceEnds; },
                    },
                    rule);
}

std::size_t LongestAnswer(const FrameEnd& rule, std::size_t capacity) {
  const std::size_t longest = std::visit(
      Overloaded{
          [&](const frame_end::Line&) { return capacity; },
          // A read answer carries at most 255 data bytes.
          [](const frame_end::RtuShared&) { return std::size_t{255 + 5}; },
          [](const frame_end::RtuByFunction&) { return std::size_t{255 + 5}; },
          [&](const frame_end::Silence&) { return capacity; },
          [&](const frame_end::Custom& r) { return r.longest != 0 ? r.longest : capacity; },
      },
      rule);
  return std::min(longest, capacity);
}

FrameCollector::FrameCollector(FrameEnd rule, std::size_t capacity)
    : rule_(std::move(rule)), capacity_(std::max<std::size_t>(capacity, 1)) {
  bytes_.reserve(capacity_);
}

FrameProgress FrameCollector::AfterByte() {
  return std::visit(
      Overloaded{
          [](const frame_end::Line&) { return FrameProgress::More; },
          [this](const frame_end::RtuShared&) {
            expected_ = static_cast<std::size_t>(
                RtuExpectedLength(bytes_, static_cast<int>(expected_)));
            return bytes_.size() >= expected_ ? FrameProgress::Complete : FrameProgress::More;
          },
          [this](const frame_end::RtuByFunction&) {
            expected_ = ByFunctionLength(bytes_, expected_);
            return bytes_.size() >= expected_ ? FrameProgress::Complete : FrameProgress::More;
          },
          [](const frame_end::Silence&) { return FrameProgress::More; },
          [this](const frame_end::Custom& r) {
            return r.decide ? r.decide(bytes_) : FrameProgress::More;
          },
      },
      rule_);
}

bool FrameCollector::EndsByContent() const {
  // Before the function byte every RTU answer may still turn out to have a known length.
  const bool functionKnown = bytes_.size() >= 2;
  return std::visit(Overloaded{
                        [](const frame_end::Line&) { return true; },
                        [&](const frame_end::RtuShared&) {
                          return !functionKnown || bytes_[1] == 0x03 || bytes_[1] == 0x06;
                        },
                        [&](const frame_end::RtuByFunction&) {
                          return !functionKnown || CountedAnswer(bytes_[1]) || WriteAnswer(bytes_[1]) ||
                                 ExceptionAnswer(bytes_[1]);
                        },
                        [](const frame_end::Silence&) { return false; },
                        [](const frame_end::Custom& r) { return !r.silenceEnds; },
                    },
                    rule_);
}

FrameCollector::State FrameCollector::Add(std::span<const std::uint8_t> chunk) {
  if (state_ != State::Collecting || chunk.empty()) return state_;
  for (const std::uint8_t b : chunk) {
    bytes_.push_back(b);
    switch (AfterByte()) {
      case FrameProgress::More:
        if (bytes_.size() >= capacity_) {
          overflowed_ = true;  // a full buffer ends the answer; the rest is dropped
          state_ = State::Complete;
          return state_;
        }
        break;
      case FrameProgress::Complete: state_ = State::Complete; return state_;
      case FrameProgress::Restart:
        bytes_.clear();
        expected_ = kRtuOpenLength;
        break;
    }
  }
  if (std::holds_alternative<frame_end::Line>(rule_) && chunk.back() == kLf)
    state_ = State::Complete;
  return state_;
}

}  // namespace kx
