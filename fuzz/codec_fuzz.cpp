// Frame codec and answer checks: arbitrary received bytes through every check
// a receiver applies, and frames built from arbitrary data checked back.
#include <cstdlib>

#include "core/exchange/answer.h"
#include "core/exchange/frame_end.h"
#include "core/modbus/codec.h"
#include "fuzz_input.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const FrameForm form = in.Bool() ? FrameForm::Rtu : FrameForm::Ascii;
  AnswerExpectation expect;
  expect.form = form;
  expect.address = in.Byte();
  for (int n = in.Byte() % 4; n > 0; --n) expect.functions.push_back(in.Byte());
  const auto echo = in.Take(in.Byte() % 24);
  expect.echoOf.assign(echo.begin(), echo.end());
  const auto received = in.Rest();

  const AnswerCheck check = CheckAnswer(expect, received);
  if (check.failure == Failure::None && !AnswerChecksumOk(form, check.bytes)) std::abort();
  (void)FailureText(check.failure, check.function, check.exceptionCode);
  (void)ExceptionReport(check.function, check.exceptionCode);
  (void)AnswerText(received);
  (void)AsciiAnswerBytes(received);
  (void)RtuExpectedLength(received.first(std::min<std::size_t>(received.size(), 3)), kRtuOpenLength);
  std::vector<char> text(received.begin(), received.end());
  (void)HexTextToBytes(text, text.size());
  (void)AsciiLrc(std::string_view(text.data(), text.size()), text.size());

  // A frame built from the data passes its own checks.
  if (!received.empty()) {
    const Bytes frame = BuildFrame(form, received);
    if (form == FrameForm::Rtu) {
      if (!RtuChecksumOk(frame)) std::abort();
    } else {
      const auto bytes = AsciiAnswerBytes(frame);
      if (!bytes || !AsciiChecksumOk(*bytes)) std::abort();
    }
    AnswerExpectation own{form, received[0], {}, {}};
    if (received.size() >= 2) own.functions.push_back(received[1]);
    const AnswerCheck back = CheckAnswer(own, frame);
    if (back.failure == Failure::Checksum || back.failure == Failure::WrongAddress) std::abort();
  }

  // Frame-end rules over the same bytes, a byte at a time.
  for (const FrameEnd& rule : {FrameEnd{frame_end::Line{}}, FrameEnd{frame_end::RtuShared{}},
                               FrameEnd{frame_end::RtuByFunction{}}, FrameEnd{frame_end::Custom{[](std::span<const std::uint8_t> b) {
                                 return b.size() >= 7 ? FrameProgress::Complete : FrameProgress::More;
                               }, true, 7}}}) {
    FrameCollector collector(rule, 64);
    for (std::size_t i = 0; i < received.size(); ++i) collector.Add(received.subspan(i, 1));
    if (collector.received().size() > 64) std::abort();
  }
  return 0;
}
