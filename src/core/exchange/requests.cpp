#include "core/exchange/requests.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "core/device/regmap.h"

namespace kx {

namespace {

constexpr std::uint16_t kIdentifyRegister = 0x0012;
constexpr std::uint16_t kIdentifyCount = 3;
constexpr std::uint16_t kProbeRegister = 0x4701;
constexpr int kRtuFastBaud = 9600;

// The time-out policy. ASCII first waits by kind; RTU by speed, except where a
// kind has a wait of its own on every form.
struct Waits {
  RequestKind kind;
  int ascii;
  int rtuFast;  // 9600 bit/s and above
  int rtuSlow;
};
constexpr std::array kWaits{
    Waits{RequestKind::Read, 18, 2, 3},        Waits{RequestKind::Identify, 18, 2, 3},
    Waits{RequestKind::Write, 50, 2, 3},       Waits{RequestKind::Broadcast, 5, 2, 3},
    Waits{RequestKind::Acquisition, 15, 2, 3}, Waits{RequestKind::Probe, 2, 2, 2},
    Waits{RequestKind::SetupStep, 18, 18, 18}, Waits{RequestKind::Tester, 18, 18, 18},
};

AnswerExpectation Expect(const LineFormat& line, std::uint8_t address, std::vector<std::uint8_t> functions) {
  AnswerExpectation e;
  e.form = line.form;
  e.address = address;
  e.functions = std::move(functions);
  return e;
}

ExchangeRequest Request(const LineFormat& line, Bytes frame, int wait) {
  return ExchangeRequest::For(line.form, std::move(frame), wait, wait, TimingOf(line));
}

// Characters of a request with `dataBytes` bytes after the address and function.
std::size_t RequestChars(FrameForm form, std::size_t dataBytes) {
  return form == FrameForm::Ascii ? 1 + 2 * (2 + dataBytes + 1) + 2 : 2 + dataBytes + 2;
}

}  // namespace

int WaitTicks(RequestKind kind, const LineFormat& line, std::size_t answerBytes) {
  const auto* row = std::find_if(kWaits.begin(), kWaits.end(), [kind](const Waits& w) { return w.kind == kind; });
  const Waits& w = row != kWaits.end() ? *row : kWaits.front();
  const int wait = line.form == FrameForm::Ascii ? w.ascii : line.baud >= kRtuFastBaud ? w.rtuFast : w.rtuSlow;
  if (answerBytes == 0) return wait;
  // A read request carries four data bytes.
  return std::max(wait, TimingOf(line).TransmitTicks(RequestChars(line.form, 4) + answerBytes) + 1);
}

ExchangeRequest ReadRequest(const LineFormat& line, std::uint8_t address, std::uint16_t start,
                            std::uint16_t count, std::uint8_t function) {
  const std::size_t answer = line.form == FrameForm::Ascii ? AsciiReadAnswerLength(count) : RtuReadAnswerLength(count);
  const RequestKind kind = function == kFnIdentify ? RequestKind::Identify : RequestKind::Read;
  ExchangeRequest r = Request(line, BuildFrame(line.form, ReadRequestPdu(address, function, start, count)),
                              WaitTicks(kind, line, answer));
  r.expect = Expect(line, address, {function});
  return r;
}

ExchangeRequest WriteRequest(const LineFormat& line, std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
  Bytes frame = BuildFrame(line.form, WriteRegisterPdu(address, reg, value));
  ExchangeRequest r = Request(line, frame, WaitTicks(RequestKind::Write, line));
  r.expect = Expect(line, address, {kFnWrite});
  r.expect->echoOf = std::move(frame);
  return r;
}

ExchangeRequest BroadcastWriteRequest(const LineFormat& line, std::uint16_t reg, std::uint16_t value) {
  ExchangeRequest r = Request(line, BuildFrame(line.form, WriteRegisterPdu(0, reg, value)),
                              WaitTicks(RequestKind::Broadcast, line));
  // Nobody answers: whatever the line does, the end of the wait acknowledges it.
  r.end = frame_end::Silence{};
  return r;
}

ExchangeRequest IdentifyRequest(const LineFormat& line, std::uint8_t address) {
  ExchangeRequest r = ReadRequest(line, address, kIdentifyRegister, kIdentifyCount, kFnIdentify);
  r.expect->functions = {kFnIdentify, kFnKx1Identify};
  return r;
}

Bytes ProbeFrame(std::uint8_t address, FrameForm form) {
  return BuildFrame(form, ReadRequestPdu(address, kFnRead, kProbeRegister, 1));
}

ExchangeRequest ProbeRequest(const LineFormat& line, std::uint8_t address) {
  return Request(line, ProbeFrame(address, line.form), WaitTicks(RequestKind::Probe, line));
}

bool ProbeHit(const Answer& answer, std::uint8_t address, FrameForm form) {
  // What came instead of the line's echo of the probe is no answer to it.
  if (answer.failure == Failure::LineEcho) return false;
  const Bytes& received = answer.raw;
  if (form == FrameForm::Rtu)
    return received.size() >= 3 && received[0] == address && received[1] == kFnRead && received[2] == 0x02;
  // ':' then the pairs of the address, the function and the byte count.
  const std::string text = answer.Text();
  return text.size() >= 7 && text.compare(1, 6, HexByte(address) + "0302") == 0;
}

std::optional<std::uint8_t> IdentifiedModel(const Answer& answer) {
  // The exception answer 0xE7 marks a KX1 as well.
  const bool kx1Exception = answer.failure == Failure::Exception && answer.function == kFnIdentifyError;
  if (!answer.Ok() && !kx1Exception) return std::nullopt;
  const std::vector<std::uint16_t> words = kx1Exception ? std::vector<std::uint16_t>{} : answer.Words();
  return IdentifyModel(answer.function, words);
}

}  // namespace kx
