#include "core/exchange/answer.h"

#include <algorithm>

namespace kx {

namespace {
constexpr std::uint8_t kFunctionModelAnswer = 0x77;
}  // namespace

std::string AnswerText(std::span<const std::uint8_t> received) {
  std::string text;
  text.reserve(received.size());
  for (const std::uint8_t b : received) {
    if (b != '\r' && b != '\n') text.push_back(static_cast<char>(b));
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

std::string FailureText(Failure failure, std::uint8_t function, std::uint8_t exceptionCode) {
  switch (failure) {
    case Failure::None: return {};
    case Failure::TimedOut: return std::string(Text(Msg::DataTimeOutError));
    case Failure::LineLost: return std::string(Text(Msg::LineLost));
    case Failure::Format: return std::string(Text(Msg::RcvFormatError));
    case Failure::WrongAddress: return std::string(Text(Msg::AddressNotCorrect));
    case Failure::Checksum: return std::string(Text(Msg::ReceivedChecksumError));
    case Failure::Exception: {
      std::optional<std::string> report = ExceptionReport(function, exceptionCode);
      return report ? std::move(*report) : std::string(Text(Msg::UnknownError));
    }
    case Failure::EchoMismatch: return std::string(Text(Msg::WriteCompareFail));
    case Failure::UnknownFunction: return std::string(Text(Msg::UnknownCommand));
    case Failure::LineEcho: return std::string(Text(Msg::LineEchoWrong));
  }
  return {};
}

AnswerCheck CheckAnswer(const AnswerExpectation& expect, std::span<const std::uint8_t> collected) {
  AnswerCheck result;
  auto fail = [&result](Failure failure) {
    result.failure = failure;
    return result;
  };

  if (expect.form == FrameForm::Ascii) {
    std::optional<Bytes> bytes = AsciiAnswerBytes(collected);
    if (!bytes) return fail(Failure::Format);
    result.bytes = std::move(*bytes);
  } else {
    result.bytes.assign(collected.begin(), collected.end());
  }
  const Bytes& b = result.bytes;
  if (b.empty()) return fail(Failure::Format);
  if (b[0] != expect.address) return fail(Failure::WrongAddress);
  if (expect.checkDigits && !AnswerChecksumOk(expect.form, b)) return fail(Failure::Checksum);
  // Address, function and the check field at least.
  if (b.size() < 2 + (expect.checkDigits ? CheckLength(expect.form) : 0)) return fail(Failure::Format);

  result.function = b[1];
  const bool expected = std::find(expect.functions.begin(), expect.functions.end(),
                                  result.function) != expect.functions.end();
  if (!expected) {
    const std::size_t dataEnd = b.size() - CheckLength(expect.form);
    result.exceptionCode = dataEnd > 2 ? b[2] : 0;
    if (ExceptionReport(result.function, result.exceptionCode)) return fail(Failure::Exception);
    return fail(Failure::UnknownFunction);
  }

  if (!expect.echoOf.empty()) {
    Bytes request;
    if (expect.form == FrameForm::Ascii) {
      request = AsciiAnswerBytes(expect.echoOf).value_or(Bytes{});
    } else {
      request = expect.echoOf;
    }
    const std::size_t n = expect.echoBytes;
    const bool echoed = n == 0 ? request == b
                               : request.size() >= n && b.size() >= n &&
                                     std::equal(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    if (!echoed) return fail(Failure::EchoMismatch);
  }
  return result;
}

}  // namespace kx
