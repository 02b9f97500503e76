#include "kxctl/requests.h"

#include <algorithm>

#include "core/device/regmap.h"
#include "core/text/messages.h"

namespace kxctl {
namespace {

constexpr int kAsciiReadTicks = 18;
constexpr int kAsciiWriteTicks = 50;
constexpr int kRtuFastTicks = 2;  // 9600 bit/s and above
constexpr int kRtuSlowTicks = 3;
constexpr int kRtuFastBaud = 9600;

int RtuTicks(const LineFormat& format) { return format.baud >= kRtuFastBaud ? kRtuFastTicks : kRtuSlowTicks; }

kx::AnswerExpectation Expect(const LineFormat& format, int address, std::vector<std::uint8_t> functions) {
  kx::AnswerExpectation e;
  e.form = format.form;
  e.address = static_cast<std::uint8_t>(address);
  e.functions = std::move(functions);
  return e;
}

}  // namespace

int ReadWaitTicks(const LineFormat& format, const kx::LineTiming& timing, std::size_t answerBytes) {
  const int program = format.form == kx::FrameForm::Ascii ? kAsciiReadTicks : RtuTicks(format);
  const std::size_t requestBytes = format.form == kx::FrameForm::Ascii ? kx::kAsciiWriteAnswerLength
                                                                       : kx::kRtuWriteAnswerLength;
  return std::max(program, timing.TransmitTicks(requestBytes + answerBytes) + 1);
}

int WriteWaitTicks(const LineFormat& format) {
  return format.form == kx::FrameForm::Ascii ? kAsciiWriteTicks : RtuTicks(format);
}

kx::ExchangeRequest ReadRequest(const LineFormat& format, const kx::LineTiming& timing, int address,
                                std::uint16_t start, std::uint16_t count, std::uint8_t function) {
  const std::size_t answer = format.form == kx::FrameForm::Ascii ? kx::AsciiReadAnswerLength(count)
                                                                 : kx::RtuReadAnswerLength(count);
  const int wait = ReadWaitTicks(format, timing, answer);
  kx::ExchangeRequest r = kx::ExchangeRequest::For(
      format.form, kx::BuildFrame(format.form, kx::ReadRequestPdu(static_cast<std::uint8_t>(address), function, start, count)),
      wait, wait, timing);
  // Every answer length of the family is known in RTU, the identification's included.
  if (format.form == kx::FrameForm::Rtu) r.end = kx::frame_end::RtuByFunction{};
  r.expect = Expect(format, address, {function});
  return r;
}

kx::ExchangeRequest WriteRequest(const LineFormat& format, const kx::LineTiming& timing, int address,
                                 std::uint16_t reg, std::uint16_t value) {
  const int wait = WriteWaitTicks(format);
  const kx::Bytes frame = kx::BuildFrame(format.form, kx::WriteRegisterPdu(static_cast<std::uint8_t>(address), reg, value));
  kx::ExchangeRequest r = kx::ExchangeRequest::For(format.form, frame, wait, wait, timing);
  r.expect = Expect(format, address, {kx::kFnWrite});
  r.expect->echoOf = frame;
  return r;
}

kx::ExchangeRequest IdentifyRequest(const LineFormat& format, const kx::LineTiming& timing, int address) {
  kx::ExchangeRequest r = ReadRequest(format, timing, address, 0x0012, 3, kx::kFnIdentify);
  r.expect->functions = {kx::kFnIdentify, kx::kFnKx1Identify};
  return r;
}

std::optional<std::uint8_t> IdentifiedModel(const kx::Answer& answer, kx::FrameForm form) {
  if (!answer.Complete() || !answer.check) return std::nullopt;
  const kx::AnswerCheck& c = *answer.check;
  // The exception answer 0xE7 marks a KX1 as well.
  const bool kx1Exception = c.status == kx::AnswerStatus::Exception && c.function == kx::kFnIdentifyError;
  if (c.status != kx::AnswerStatus::Ok && !kx1Exception) return std::nullopt;
  const std::vector<std::uint16_t> words = kx1Exception ? std::vector<std::uint16_t>{} : AnswerWords(answer, form);
  return kx::IdentifyModel(c.function, words);
}

std::vector<std::uint16_t> AnswerWords(const kx::Answer& answer, kx::FrameForm form) {
  std::vector<std::uint16_t> words;
  if (!answer.Ok() || !answer.check) return words;
  // address, function, byte count, data, check field; a byte count that does
  // not match the answer's length gives no words.
  const kx::Bytes& b = answer.check->bytes;
  if (b.size() < 3 || 3 + std::size_t{b[2]} + kx::CheckLength(form) != b.size() || b[2] % 2 != 0) return words;
  for (std::size_t i = 3; i + 1 < 3 + std::size_t{b[2]}; i += 2)
    words.push_back(static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]));
  return words;
}

std::string FailureText(const kx::Answer& answer) {
  switch (answer.end) {
    case kx::AnswerEnd::TimedOut: return std::string(kx::Text(kx::Msg::DataTimeOutError));
    case kx::AnswerEnd::LineLost: return "the line was lost";
    case kx::AnswerEnd::Complete: break;
  }
  if (!answer.check || answer.check->status == kx::AnswerStatus::Ok) return {};
  return answer.check->text;
}

std::string FirmwareText(std::uint16_t versionWord) {
  const std::string text = kx::FirmwareVersionText(versionWord);
  const std::string_view prefix = kx::Text(kx::Msg::FirmwareVersionPrefix);
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace kxctl
