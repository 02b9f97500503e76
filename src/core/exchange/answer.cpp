#include "core/exchange/answer.h"

#include <algorithm>

namespace kx {

namespace {
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kFunctionModelAnswer = 0x77;
}  // namespace

int RtuExpectedLength(std::span<const std::uint8_t> received, int current) {
  switch (received.size()) {
    case 1: return kRtuOpenLength;
    case 2: return received[1] == 0x06 ? 8 : current;
    case 3: return received[1] == 0x03 ? received[2] + 5 : current;
    default: return current;
  }
}

AnswerCollector::AnswerCollector(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {
  bytes_.reserve(capacity_);
}

void AnswerCollector::Start(FrameForm form, int knownRtuLength) {
  form_ = form;
  knownLength_ = knownRtuLength > 0;
  expected_ = knownLength_ ? knownRtuLength : kRtuOpenLength;
  overflowed_ = false;
  state_ = CollectState::Waiting;
  bytes_.clear();
}

CollectState AnswerCollector::Add(std::span<const std::uint8_t> chunk) {
  if (state_ != CollectState::Waiting || chunk.empty()) return state_;
  for (const std::uint8_t b : chunk) {
    if (bytes_.size() >= capacity_) {
      overflowed_ = true;  // the rest of the event is dropped and the answer ends
      state_ = CollectState::Complete;
      return state_;
    }
    bytes_.push_back(b);
    if (form_ == FrameForm::Rtu) {
      if (!knownLength_) expected_ = RtuExpectedLength(bytes_, expected_);
      if (bytes_.size() >= static_cast<std::size_t>(expected_)) {
        state_ = CollectState::Complete;
        return state_;
      }
    }
  }
  if (form_ == FrameForm::Ascii && chunk.back() == kLf) state_ = CollectState::Complete;
  return state_;
}

CollectState AnswerCollector::OnData(ComPort& port, std::uint16_t announced, std::uint16_t timer,
                                     int rearmTicks) {
  port.SetTimerTrigger(timer, 0, false);
  std::vector<std::uint8_t> chunk;
  chunk.reserve(announced);
  for (std::uint16_t i = 0; i < announced; ++i) chunk.push_back(port.GetChar());
  const bool wasWaiting = state_ == CollectState::Waiting;
  Add(chunk);
  // Only a running answer keeps its timer; a finished one stays disarmed.
  if (wasWaiting && state_ == CollectState::Waiting) port.SetTimerTrigger(timer, rearmTicks, true);
  return state_;
}

CollectState AnswerCollector::OnTimer() {
  if (state_ != CollectState::Waiting) return state_;
  state_ = form_ == FrameForm::Rtu && !bytes_.empty() ? CollectState::Complete
                                                       : CollectState::TimedOut;
  return state_;
}

std::string AnswerCollector::Text() const {
  std::string text;
  text.reserve(bytes_.size());
  for (const std::uint8_t b : bytes_) {
    if (b != kCr && b != kLf) text.push_back(static_cast<char>(b));
  }
  return text;
}

std::optional<Bytes> AsciiAnswerBytes(std::span<const std::uint8_t> text) {
  if (text.empty() || text[0] != ':') return std::nullopt;
  const std::size_t n = text.size() >= 3 ? (text.size() - 3) / 2 : 0;
  std::vector<char> buf(text.begin(), text.end());
  const std::size_t done = HexTextToBytes(buf, n);
  Bytes bytes(done);
  for (std::size_t i = 0; i < done; ++i) bytes[i] = static_cast<std::uint8_t>(buf[i]);
  return bytes;
}

bool AnswerChecksumOk(FrameForm form, std::span<const std::uint8_t> bytes) {
  if (form == FrameForm::Rtu) return RtuChecksumOk(bytes);
  if (bytes.size() >= 2 && bytes[1] == kFunctionModelAnswer) return true;
  return !bytes.empty() && AsciiChecksumOk(bytes);
}

std::optional<std::string> ExceptionReport(std::uint8_t function, std::uint8_t code) {
  Msg prefix;
  switch (function) {
    case 0x83:
    case 0xE7: prefix = Msg::ReadErrorPrefix; break;
    case 0x86:
    case 0xE8: prefix = Msg::WriteErrorPrefix; break;
    default: return std::nullopt;
  }
  std::string text(Text(prefix));
  text += Text(ExceptionMsg(code));
  return text;
}

std::string_view StatusText(AnswerStatus status) {
  switch (status) {
    case AnswerStatus::Ok: return {};
    case AnswerStatus::FormatError: return Text(Msg::RcvFormatError);
    case AnswerStatus::WrongAddress: return Text(Msg::AddressNotCorrect);
    case AnswerStatus::ChecksumError: return Text(Msg::ReceivedChecksumError);
    case AnswerStatus::Exception: return Text(Msg::UnknownError);
    case AnswerStatus::EchoMismatch: return Text(Msg::WriteCompareFail);
    case AnswerStatus::UnknownFunction: return Text(Msg::UnknownCommand);
  }
  return {};
}

AnswerCheck CheckAnswer(const AnswerExpectation& expect, std::span<const std::uint8_t> collected) {
  AnswerCheck result;
  auto fail = [&result](AnswerStatus status) {
    result.status = status;
    result.text = std::string(StatusText(status));
    return result;
  };

  if (expect.form == FrameForm::Ascii) {
    std::optional<Bytes> bytes = AsciiAnswerBytes(collected);
    if (!bytes) return fail(AnswerStatus::FormatError);
    result.bytes = std::move(*bytes);
  } else {
    result.bytes.assign(collected.begin(), collected.end());
  }
  const Bytes& b = result.bytes;
  if (b.empty()) return fail(AnswerStatus::FormatError);
  if (b[0] != expect.address) return fail(AnswerStatus::WrongAddress);
  if (!AnswerChecksumOk(expect.form, b)) return fail(AnswerStatus::ChecksumError);
  // Address, function and the check field at least.
  if (b.size() < 2 + CheckLength(expect.form)) return fail(AnswerStatus::FormatError);

  result.function = b[1];
  const bool expected = std::find(expect.functions.begin(), expect.functions.end(),
                                  result.function) != expect.functions.end();
  if (!expected) {
    const std::size_t dataEnd = b.size() - CheckLength(expect.form);
    result.exceptionCode = dataEnd > 2 ? b[2] : 0;
    if (std::optional<std::string> report = ExceptionReport(result.function, result.exceptionCode)) {
      result.status = AnswerStatus::Exception;
      result.text = std::move(*report);
      return result;
    }
    return fail(AnswerStatus::UnknownFunction);
  }

  if (!expect.echoOf.empty()) {
    Bytes request;
    if (expect.form == FrameForm::Ascii) {
      request = AsciiAnswerBytes(expect.echoOf).value_or(Bytes{});
    } else {
      request = expect.echoOf;
    }
    if (request != b) return fail(AnswerStatus::EchoMismatch);
  }
  return result;
}

}  // namespace kx
