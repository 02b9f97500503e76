// The exchange layer fed through the fake port: requests with every frame-end
// rule on every kind of line (echoing, network, gateway), received chunks of
// any bytes, ticks and lost lines in any order. An
// answer must never outgrow its buffer, and every request must end by its
// deadline however the bytes keep coming.
#include <cstdlib>
#include <optional>

#include "core/exchange/exchange.h"
#include "fuzz_input.h"
#include "support/fake_port.h"

using namespace kx;

namespace {

FrameEnd RuleFor(std::uint8_t choice) {
  switch (choice % 6) {
    case 0: return frame_end::Line{};
    case 1: return frame_end::RtuShared{};
    case 2: return frame_end::RtuByFunction{};
    case 3: return frame_end::Silence{};
    case 4: {
      const std::size_t n = choice % 32;
      return frame_end::Custom{[n](std::span<const std::uint8_t> b) {
                                 return b.size() >= n ? FrameProgress::Complete : FrameProgress::More;
                               },
                               (choice & 0x40) != 0, n};
    }
    default:
      return frame_end::Custom{[](std::span<const std::uint8_t> b) {
                                 if (b[0] != 0x01) return FrameProgress::Restart;
                                 return b.size() >= 5 ? FrameProgress::Complete : FrameProgress::More;
                               },
                               false, 5};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  test::FakePort port;
  Exchange exchange(port);
  std::optional<Answer> last;
  std::int64_t sentAt = 0;
  int deadline = 0;
  std::size_t capacity = 0;
  port.SetOnTrigger([&](ComPort&, const PortEvent& e) {
    if (auto a = exchange.Handle(e)) last = std::move(a);
  });
  port.SetOnError([&](const std::string&) {
    if (auto a = exchange.LineLost()) last = std::move(a);
  });
  port.traits = LineTraits{in.Bool(), in.Bool(), in.Bool()};
  port.Open();
  exchange.Opened();

  for (int steps = 0; steps < 2000 && !in.empty(); ++steps) {
    switch (in.Byte() % 6) {
      case 0: {  // a new request
        const FrameForm form = in.Bool() ? FrameForm::Rtu : FrameForm::Ascii;
        const auto frame = in.Take(in.Byte() % 16);
        ExchangeRequest r = ExchangeRequest::For(form, Bytes(frame.begin(), frame.end()), 1 + in.Byte() % 20,
                                                 1 + in.Byte() % 20, LineTiming{2400 << (in.Byte() % 5), 10});
        r.end = RuleFor(in.Byte());
        r.capacity = 1 + in.Byte();
        if (in.Bool()) r.expect = AnswerExpectation{form, in.Byte(), {in.Byte()}, {}};
        capacity = r.capacity;
        if (port.IsOpen()) {
          exchange.Send(std::move(r));
          deadline = exchange.deadlineTicks();  // the line's allowances and echo included
          sentAt = port.now();
        }
        break;
      }
      case 1:
      case 2: port.Feed(in.Chunk()); break;
      case 3: port.Tick(1 + in.Byte() % 8); break;
      case 4:
        if (in.Byte() < 16) {
          port.Fail("line lost");
        } else if (!port.IsOpen()) {
          port.Open();
          exchange.Opened();
        }
        break;
      default: exchange.Cancel(); break;
    }
    if (last && last->raw.size() > capacity) std::abort();
    // However the bytes keep coming, a request ends by its deadline.
    if (exchange.pending() && port.IsOpen() && port.now() - sentAt > deadline + 1) std::abort();
    last.reset();
  }
  return 0;
}
