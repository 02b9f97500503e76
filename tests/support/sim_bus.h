// A simulated bus for core tests: a FakePort wired to kxsim's line model, so
// engines run against the same simulated controllers (and the same faults) as
// the end-to-end tests, on the fake 55 ms tick clock. Deterministic: no
// threads, no sleeps, no real time.
//
//   FakePort port;                        // the port the code under test owns
//   SimBus bus(port);
//   bus.Add("kx2@1:9600-7E1-ascii");      // controllers written as on kxsim's command line
//   bus.Add("kx1@2:9600-7E1-ascii,fault=noise");
//   engine.ToggleConnect(0);              // the code writes a request ...
//   bus.Tick(40);                         // ... 40 ticks pass: requests reach the line,
//                                         // answers come back as data-available events
//   bus.RunUntil([&] { return ...; }, 200);   // stops as soon as it holds
//   bus.Controller(2).SetFault(kxsim::Fault::None);   // change a controller on the fly
//
// Time: the bus clock is kxsim's microsecond clock with port.now() x 55 ms at
// every whole tick (it catches up when the test ticked the port by itself).
// What the code writes (FakePort::written) enters Line::Receive at the
// instant it was written; an answer is fed to the port at
// the instant the line has it due, inside the tick, and the port's timers fire
// at the tick's end. So with line timing an exchange takes its real time on the
// wire, and several exchanges fit in one tick at high baud rates.
// The line sees the port's own settings exactly (baud, data bits, parity, stop
// bits; as over RFC 2217). Closing the port drops what the line held. Line
// timing with a 2 ms turnaround is on (as `kxsim --timing`); line() changes it.
// Answers reach the port whole, one byte per data-available event, or in two
// chunks (SetDelivery), so engines meet every way a port hands bytes over.
// Feeding by hand (port.Feed, or Feed here to use the delivery) and ticking
// the port directly still work; bytes written meanwhile go to the line at the
// next bus step.
//
// RunUntil checks its condition after every answer delivered and every tick,
// and returns before the line has seen what the code wrote in reaction: so a
// test that stops when a request was written can still change the controller
// (a fault, a register) before it answers that request.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "kxsim/line.h"
#include "support/fake_port.h"

namespace kx::test {

class SimBus {
 public:
  enum class Delivery { Whole, ByteByByte, Split };

  explicit SimBus(FakePort& port);
  ~SimBus();
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;

  void SetDelivery(Delivery delivery) { delivery_ = delivery; }
  // Hands bytes to the port the way the delivery says.
  void Feed(std::span<const std::uint8_t> bytes);

  kxsim::Line& line() { return line_; }
  // Adds a controller described as on kxsim's command line
  // ("kx3@1:9600-7E1-ascii+2,fault=badcheck"); throws std::invalid_argument
  // on a malformed text.
  kxsim::Controller& Add(std::string_view controllerText);
  // The controller at `address` (first match, followers included); throws when none.
  kxsim::Controller& Controller(int address);

  // The bus clock (microseconds since the start).
  kxsim::SimTime now() const { return now_; }

  // Hands what the port wrote since the last step to the line and feeds the
  // answers due by now. Tick and RunUntil call it; call it after driving the
  // code by hand when the clock should not move.
  void Pump();
  // Moves the clock on by n ticks of 55 ms.
  void Tick(int n = 1);
  // Runs until `done` holds (checked at the start, after every answer delivered
  // and after every tick); false when `limit` ticks passed first.
  bool RunUntil(const std::function<bool()>& done, int limit = 1000);

  // Runs the line (not the port's clock) until it has an answer and returns
  // it instead of feeding it, for a test that hands it over in its own pieces
  // and times; empty when nothing is coming.
  kx::Bytes TakeNextAnswer();

  // Every byte the line sent to the port so far, and the number of requests
  // (blocks written) handed to the line.
  const kx::Bytes& answered() const { return answered_; }
  std::size_t requests() const { return requests_; }

 private:
  kxsim::PcSettings PortSettings() const;
  void TakeWrites();
  // Runs n ticks; returns true as soon as `stop` (when given) holds after a
  // delivery or a tick.
  bool Run(int n, const std::function<bool()>& stop);

  FakePort& port_;
  kxsim::Line line_;
  kxsim::SimTime now_{0};
  std::size_t sent_ = 0;  // blocks of port_.written handed to the line
  int closes_ = 0;        // port_.closeCount last seen
  std::size_t requests_ = 0;
  kx::Bytes answered_;
  Delivery delivery_ = Delivery::Whole;
};

}  // namespace kx::test
