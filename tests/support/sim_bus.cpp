#include "support/sim_bus.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

#include "kxsim/options.h"

namespace kx::test {

namespace {

constexpr kxsim::SimTime kTick = std::chrono::milliseconds(kTickMs);

}  // namespace

SimBus::SimBus(FakePort& port) : port_(port), line_([this] { return PortSettings(); }) {
  line_.SetTiming(true);
  line_.SetTurnaround(std::chrono::milliseconds(2));
  now_ = port_.now() * kTick;
  port_.SetTapClock([this] { return std::max(now_, port_.now() * kTick).count(); });
  sent_ = port_.written.size();
  closes_ = port_.closeCount;
}

kxsim::PcSettings SimBus::PortSettings() const {
  kxsim::PcSettings pc;
  pc.baud = port_.baud;
  pc.dataBits = port_.dataBits;
  pc.stopBits = port_.stopBits;
  pc.parity = !port_.parity                     ? kxsim::ParityKind::None
              : *port_.parity == Parity::Odd    ? kxsim::ParityKind::Odd
              : *port_.parity == Parity::Even   ? kxsim::ParityKind::Even
                                                : kxsim::ParityKind::None;
  return pc;
}

kxsim::Controller& SimBus::Add(std::string_view controllerText) {
  // The command-line parser wants a line; the link is never opened.
  const kxsim::ParseResult parsed = kxsim::ParseCommandLine({"--link", "-", std::string(controllerText)});
  if (!parsed.options || parsed.options->controllers.size() != 1) {
    throw std::invalid_argument("bad controller " + std::string(controllerText) + ": " + parsed.error);
  }
  const kxsim::ControllerArg& arg = parsed.options->controllers.front();
  return line_.Add(std::make_unique<kxsim::Controller>(arg.model, arg.address, arg.format, arg.options));
}

kxsim::Controller& SimBus::Controller(int address) {
  for (kxsim::Controller* c : line_.Controllers()) {
    if (c->address() == address) return *c;
  }
  throw std::out_of_range("no controller at " + std::to_string(address));
}

SimBus::~SimBus() { port_.SetTapClock(nullptr); }

void SimBus::TakeWrites() {
  // The test may have ticked the port by itself: the bus clock catches up.
  now_ = std::max(now_, port_.now() * kTick);
  if (port_.closeCount != closes_) {
    closes_ = port_.closeCount;
    line_.Reset();
  }
  if (port_.written.size() < sent_) sent_ = 0;  // the test cleared the record
  for (; sent_ < port_.written.size(); ++sent_) {
    ++requests_;
    line_.Receive(port_.written[sent_], now_);
  }
}

void SimBus::Feed(std::span<const std::uint8_t> bytes) {
  switch (delivery_) {
    case Delivery::Whole: port_.Feed(bytes); break;
    case Delivery::ByteByByte: port_.FeedByteByByte(bytes); break;
    case Delivery::Split: port_.FeedSplit(bytes, {bytes.size() / 2}); break;
  }
}

void SimBus::Pump() {
  for (;;) {
    TakeWrites();
    const auto due = line_.NextDeadline();
    if (!due || *due > now_) return;
    const kx::Bytes out = line_.TakeDue(now_);
    if (out.empty()) continue;  // an RTU frame ended by silence; its answer comes later
    answered_.insert(answered_.end(), out.begin(), out.end());
    Feed(out);
  }
}

bool SimBus::Run(int n, const std::function<bool()>& stop) {
  for (int i = 0; i < n; ++i) {
    const kxsim::SimTime boundary = (port_.now() + 1) * kTick;
    // Answers due inside this tick arrive at their own instant.
    for (;;) {
      TakeWrites();
      const auto due = line_.NextDeadline();
      if (!due || *due > boundary) break;
      now_ = std::max(now_, *due);
      const kx::Bytes out = line_.TakeDue(now_);
      if (out.empty()) continue;  // an RTU frame ended by silence; its answer comes later
      answered_.insert(answered_.end(), out.begin(), out.end());
      Feed(out);
      if (stop && stop()) return true;
    }
    now_ = std::max(now_, boundary);
    port_.Tick();
    if (stop && stop()) return true;
  }
  return false;
}

kx::Bytes SimBus::TakeNextAnswer() {
  for (;;) {
    TakeWrites();
    const auto due = line_.NextDeadline();
    if (!due) return {};
    now_ = std::max(now_, *due);
    kx::Bytes out = line_.TakeDue(now_);
    if (out.empty()) continue;
    answered_.insert(answered_.end(), out.begin(), out.end());
    return out;
  }
}

void SimBus::Tick(int n) {
  Run(n, nullptr);
  Pump();
}

bool SimBus::RunUntil(const std::function<bool()>& done, int limit) {
  if (done() || Run(limit, done)) return true;
  Pump();
  return done();
}

}  // namespace kx::test
