// The monitor engine driven through a FakePort and its fake tick clock, with
// kxsim's controllers answering on the simulated bus.
#include "core/monitor/monitor_engine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

using test::FakePort;

// One request as it went out on the line.
struct Req {
  std::uint8_t address = 0;
  std::uint8_t function = 0;
  std::uint16_t reg = 0;
  std::uint16_t value = 0;  // count for reads
  friend bool operator==(const Req&, const Req&) = default;
};

std::ostream& operator<<(std::ostream& os, const Req& r) {
  return os << "{" << int{r.address} << ", " << std::hex << "0x" << int{r.function} << ", 0x" << r.reg
            << ", " << std::dec << r.value << "}";
}

Req ParseRequest(const Bytes& frame, bool rtu) {
  Bytes b;
  if (rtu) {
    b = frame;
  } else {
    for (std::size_t i = 1; i + 1 < frame.size() && b.size() < 6; i += 2)
      b.push_back(static_cast<std::uint8_t>(
          HexPairValue(static_cast<char>(frame[i]), static_cast<char>(frame[i + 1]))));
  }
  if (b.size() < 6) return {};
  return {b[0], b[1], static_cast<std::uint16_t>(b[2] << 8 | b[3]),
          static_cast<std::uint16_t>(b[4] << 8 | b[5])};
}

Bytes ReadAnswerPdu(std::uint8_t address, std::uint8_t function, const std::vector<std::uint16_t>& words) {
  Bytes pdu{address, function, static_cast<std::uint8_t>(2 * words.size())};
  for (auto w : words) {
    pdu.push_back(static_cast<std::uint8_t>(w >> 8));
    pdu.push_back(static_cast<std::uint8_t>(w & 0xFF));
  }
  return pdu;
}

using Delivery = test::SimBus::Delivery;

struct Config {
  bool rtu = false;
  Delivery delivery = Delivery::Whole;
};

class MonitorEngineTest : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override {
    bus.SetDelivery(GetParam().delivery);
    Init(GetParam().rtu);
  }

  // ASCII at 7E1, RTU at 8N1: the formats the controllers are set to.
  void Init(bool rtu, int baud = 9600) {
    session.params = PortParams{3, baud, rtu ? 8 : 7, rtu ? 0 : 1, 1, rtu};
    engine.SetObserver(&observer);
    engine.Handle(monitor_event::Reset{});
  }

  bool Rtu() const { return session.params.rtu; }
  FrameForm Form() const { return Rtu() ? FrameForm::Rtu : FrameForm::Ascii; }

  // A kxsim controller ("kx2", "kx1", "kx3") at `address` in the line's
  // format, with kxsim's controller options (",id=67").
  kxsim::Controller& Add(const std::string& model, int address, const std::string& options = {}) {
    const std::string format = std::to_string(session.params.baud) + (Rtu() ? "-8N1-rtu" : "-7E1-ascii");
    return bus.Add(model + "@" + std::to_string(address) + ":" + format + options);
  }
  kxsim::Controller& Controller(int address) { return bus.Controller(address); }

  Req Last() const { return ParseRequest(port.written.back(), Rtu()); }

  // Lets the bus run until the engine writes its next request (the answer to
  // the one in flight, or its time-out); the controllers have not seen the new
  // request yet, so a test can still change them before it is answered.
  void Step() {
    const std::size_t before = port.written.size();
    bus.RunUntil([&] { return port.written.size() != before || !port.IsOpen(); }, 200);
  }

  // Answers the request in flight by hand with `pdu` (an answer no controller
  // gives): its controller stays silent on it, then the bus runs on.
  void StepAnsweredByHand(const Bytes& pdu) {
    kxsim::Controller& c = Controller(Last().address);
    const kxsim::Fault fault = c.fault();
    c.SetFault(kxsim::Fault::NoAnswer);
    bus.Pump();
    c.SetFault(fault);
    const std::size_t before = port.written.size();
    bus.Feed(BuildFrame(Form(), pdu));
    if (port.written.size() == before) Step();
  }
  // A write's echo carrying `value` instead of the value written.
  void StepWithWrongEcho(std::uint16_t value) {
    StepAnsweredByHand(WriteRegisterPdu(Last().address, Last().reg, value));
  }

  // Ticks left on the engine's armed trigger (-1 when none is armed).
  std::int64_t ArmedWait() const {
    for (std::uint16_t h = 1; h < 16; ++h)
      if (auto r = port.Remaining(h)) return *r;
    return -1;
  }

  // Runs n exchanges and returns the requests sent in them (the first is the
  // one in flight now).
  std::vector<Req> Run(int n) {
    std::vector<Req> seen;
    for (int i = 0; i < n && port.IsOpen(); ++i) {
      seen.push_back(Last());
      Step();
    }
    return seen;
  }

  // Exchanges until the first request of a status cycle after the first page
  // read is in flight (`firstPoll` is the type-2 register of the model).
  bool SecondCycle(std::uint16_t firstPoll) {
    if (!RunUntil([&](const Req& r) { return r.reg == firstPoll; })) return false;
    Step();
    return RunUntil([&](const Req& r) { return r.reg == firstPoll; });
  }

  // Exchanges until the request in flight matches `pred` (at most `limit`).
  template <class Pred>
  bool RunUntil(Pred pred, int limit = 200) {
    for (int i = 0; i < limit && port.IsOpen(); ++i) {
      if (pred(Last())) return true;
      Step();
    }
    return false;
  }

  struct Observer : MonitorObserver {
    std::vector<std::string> status;
    std::vector<std::pair<int, bool>> connections;
    std::vector<int> pages;
    int aborted = 0;
    std::vector<TransferEnd> ended;
    std::vector<int> progress;
    int closed = 0;
    int layouts = 0;
    void StatusLine(std::string_view text, StatusTone) override { status.emplace_back(text); }
    void ConnectionChanged(int d, bool c) override { connections.emplace_back(d, c); }
    void ParametersRead(int type, const RegBlock&, std::span<const std::uint16_t>) override {
      pages.push_back(type);
    }
    void TransferEnded(const Transfer&, TransferEnd end) override {
      ended.push_back(end);
      if (end == TransferEnd::Aborted) ++aborted;
    }
    void TransferProgress(const Transfer& t) override { progress.push_back(t.Progress()); }
    void CloseWindow() override { ++closed; }
    void PanelLayout() override { ++layouts; }
  };

  // Starts an upload of the selected device's parameter memory.
  std::shared_ptr<ImageUpload> StartUpload(bool withRamp = false) {
    const auto& dev = engine.Device(engine.SelectedDevice());
    auto upload = std::make_shared<ImageUpload>(dev.model, dev.rec.firmwareVersion, withRamp);
    engine.Handle(monitor_event::StartTransfer{upload});
    return upload;
  }
  bool Transferring() const { return engine.RunningTransfer() != nullptr; }

  Session session;
  FakePort port;
  MonitorEngine engine{port, session};
  Observer observer;
  test::SimBus bus{port};
};

Req Id(std::uint8_t a) { return {a, kFnIdentify, 0x0012, 3}; }
Req Rd(std::uint8_t a, std::uint16_t reg, std::uint16_t n) { return {a, kFnRead, reg, n}; }
Req Wr(std::uint8_t a, std::uint16_t reg, std::uint16_t v) { return {a, kFnWrite, reg, v}; }

// Status cycle of one KX2 at address a: types 2..7.
std::vector<Req> Kx2Cycle(std::uint8_t a) {
  return {Rd(a, 0x4717, 4), Rd(a, 0x4700, 4), Rd(a, 0x4728, 8),
          Rd(a, 0x4700, 4), Rd(a, 0x4723, 7), Rd(a, 0x4751, 1)};
}
std::vector<Req> Kx2Pages(std::uint8_t a) {
  return {Rd(a, 0x4720, 8), Rd(a, 0x4710, 8), Rd(a, 0x4718, 8), Rd(a, 0x4708, 8), Rd(a, 0x4701, 7)};
}
std::vector<Req> Cat(std::vector<Req> a, const std::vector<Req>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---------------------------------------------------------------------------

TEST_P(MonitorEngineTest, OneDeviceSequenceAndCounts) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  EXPECT_EQ(session.lineOwner, LineOwner::Monitor);
  EXPECT_EQ(port.TriggerCount(), 4U);  // the exchange's silence and deadline triggers, twice
  const auto seen = Run(20);
  // Identification and model detail, a status cycle, the pages (the first cycle
  // always reads them), then the next cycle.
  auto expected =
      Cat(Cat(Cat(Cat({Id(1), Rd(1, 0x4724, 2)}, Kx2Cycle(1)), Kx2Pages(1)), Kx2Cycle(1)), Kx2Cycle(1));
  expected.resize(20);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(engine.Device(0).requestCount, 21U);  // one more is in flight
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
  EXPECT_EQ(engine.Device(0).model, kModelKx2);
  EXPECT_EQ(observer.pages, (std::vector<int>{10, 11, 12, 13, 14}));
  EXPECT_EQ(observer.layouts, 1);
}

TEST_P(MonitorEngineTest, TwoDevicesWithOneSelectedAndRefresh) {
  Add("kx2", 1);
  Add("kx2", 5);
  engine.Handle(monitor_event::ChangeAddress{2, 5});
  engine.Handle(monitor_event::ToggleConnect{2});  // the first device becomes the selected one
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_EQ(engine.SelectedDevice(), 2);
  // Let both identify and the first page read pass, then start at a new cycle.
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4701 && r.value == 7; }));
  Run(1);
  const auto d0 = Kx2Cycle(1);
  const auto d2 = Kx2Cycle(5);
  std::vector<Req> cycle;
  for (std::size_t i = 0; i < d0.size(); ++i) {
    cycle.push_back(d0[i]);
    cycle.push_back(d2[i]);
  }
  EXPECT_EQ(Run(12), cycle);
  EXPECT_EQ(Run(2), (std::vector<Req>{cycle[0], cycle[1]}));  // no refresh: a new cycle

  // A refresh reads the selected device's pages at the end of the cycle.
  engine.Handle(monitor_event::Refresh{});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4751 && r.address == 5; }));
  Run(1);
  EXPECT_EQ(engine.Device(2).lamp, RunLamp::ReadingParameters);
  EXPECT_EQ(Run(6), Cat(Kx2Pages(5), {cycle[0]}));
  EXPECT_EQ(engine.Device(2).lamp, RunLamp::Good);
}

TEST_P(MonitorEngineTest, NewlyConnectedDeviceIsIdentifiedBeforeJoiningTheCycle) {
  Add("kx2", 1);
  Add("kx1", 2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  Run(1);
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});
  // The cycle goes on with device 0 until it reaches device 1's slot.
  const auto seen = Run(6);
  EXPECT_EQ(seen, (std::vector<Req>{Rd(1, 0x4700, 4), Id(2), Rd(2, 0x470F, 2), Rd(1, 0x4717, 4),
                                    Rd(2, 0x4728, 4), Rd(1, 0x4700, 4)}));
  EXPECT_EQ(engine.Device(1).model, kModelKx1);
}

TEST_P(MonitorEngineTest, QueuedWriteGoesFirstAndRefreshesAfterItsEcho) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  // With the first page read over, write while type 3 is in flight.
  ASSERT_TRUE(SecondCycle(0x4717));
  Run(1);
  engine.Handle(monitor_event::QueueWrite{0x4701, 0xFFF1});
  const auto seen = Run(9);
  // The type-3 request in flight, then the write, then type 4 (not advanced past),
  // the rest of the cycle and the parameter pages.
  EXPECT_EQ(seen[0], Rd(1, 0x4700, 4));
  EXPECT_EQ(seen[1], Wr(1, 0x4701, 0xFFF1));
  EXPECT_EQ(seen[2], Rd(1, 0x4728, 8));
  EXPECT_EQ(seen[6], Rd(1, 0x4720, 8));
  EXPECT_EQ(Controller(1).Register(0x4701), 0xFFF1);
  EXPECT_FALSE(engine.WritePending());
}

// A value entered while the previous write is still on the line is the next
// queued write: the echo of the previous one must not discard it.
TEST_P(MonitorEngineTest, WriteQueuedWhileAnotherIsInFlightIsSentAfterIt) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::QueueWrite{0x4701, 300});
  Run(1);
  ASSERT_EQ(Last(), Wr(1, 0x4701, 300));
  engine.Handle(monitor_event::QueueWrite{0x4702, 400});
  Run(1);
  EXPECT_EQ(Last(), Wr(1, 0x4702, 400));
  Run(1);
  EXPECT_FALSE(engine.WritePending());
  EXPECT_EQ(Controller(1).Register(0x4702), 400);

  // The same when the first write's echo is wrong: only that write is dropped.
  engine.Handle(monitor_event::QueueWrite{0x4703, 5});
  Run(1);
  ASSERT_EQ(Last(), Wr(1, 0x4703, 5));
  engine.Handle(monitor_event::QueueWrite{0x4704, 7});
  StepWithWrongEcho(6);
  EXPECT_EQ(engine.statusText(), "Writing data compare fail !!!");
  EXPECT_EQ(Last(), Wr(1, 0x4704, 7));
}

// Writes queued before the next request all go out, in order; one for a
// register whose earlier write has not gone out yet replaces that one's value.
// The decimal point a KX2 is given counts from the moment it is queued.
TEST_P(MonitorEngineTest, WritesQueuedTogetherAllGoOutInOrder) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::QueueWrite{0x4701, 300});
  engine.Handle(monitor_event::QueueWrite{0x4725, 2});
  engine.Handle(monitor_event::QueueWrite{0x4725, 3});
  engine.Handle(monitor_event::QueueWrite{0x4714, 15, true});
  engine.Handle(monitor_event::QueueWrite{0x4720, 4});
  EXPECT_EQ(engine.Device(0).decimalPoint, 3);
  const auto seen = Run(6);
  EXPECT_EQ(seen[0], Rd(1, 0x4717, 4));  // the poll in flight
  EXPECT_EQ(std::vector<Req>(seen.begin() + 1, seen.end()),
            (std::vector<Req>{Wr(1, 0x4701, 300), Wr(1, 0x4725, 3), Wr(1, 0x472A, 0x4F1D), Wr(1, 0x4714, 15),
                              Wr(1, 0x4720, 4)}));
  Run(1);
  EXPECT_FALSE(engine.WritePending());
  EXPECT_EQ(Controller(1).Register(0x4701), 300);
  EXPECT_EQ(Controller(1).Register(0x4725), 3);
  EXPECT_EQ(Controller(1).Register(0x4720), 4);
}

TEST_P(MonitorEngineTest, FactoryPagesKx2AndKx1) {
  for (std::uint8_t model : {kModelKx2, kModelKx1}) {
    SCOPED_TRACE(int{model});
    // A controller of its own for each model.
    const std::uint8_t a = model == kModelKx2 ? 1 : 2;
    Init(Rtu());
    Add(model == kModelKx2 ? "kx2" : "kx1", a);
    engine.Handle(monitor_event::ChangeAddress{0, a});
    engine.Handle(monitor_event::ToggleConnect{0});
    engine.Handle(monitor_event::FactoryMode{true});
    ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4701 && r.value == 7; }));
    const auto seen = Run(model == kModelKx2 ? 5 : 4);
    if (model == kModelKx2) {
      EXPECT_EQ(seen, (std::vector<Req>{Rd(a, 0x4701, 7), Wr(a, 0x472A, 0x4F1D), Rd(a, 0x4730, 7),
                                        Rd(a, 0x4737, 2), Rd(a, 0x4717, 4)}));
    } else {
      EXPECT_EQ(seen, (std::vector<Req>{Rd(a, 0x4701, 7), Wr(a, 0x471B, 0x4F1D), Rd(a, 0x4720, 8),
                                        Rd(a, 0x4728, 4)}));
    }
    EXPECT_EQ(observer.pages.back(), model == kModelKx2 ? 21 : 20);
    engine.Handle(monitor_event::ToggleConnect{0});
    Run(1);
    EXPECT_FALSE(port.IsOpen());
  }
}

TEST_P(MonitorEngineTest, FourFailedExchangesInARowDropTheDeviceAndOnlyAGoodAnswerClearsTheCount) {
  Add("kx2", 1);
  Add("kx2", 2);
  engine.Handle(monitor_event::ToggleConnect{0});
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 2 && r.reg == 0x4700; }));
  Controller(2).SetFault(kxsim::Fault::NoAnswer);
  const Req silentReq = Last();
  Run(3);  // three time-outs, each repeating the request
  EXPECT_EQ(Last(), silentReq);
  EXPECT_EQ(engine.Device(1).failuresInRow, 3);
  // A good answer clears the count.
  Controller(2).SetFault(kxsim::Fault::None);
  Run(1);
  EXPECT_EQ(engine.Device(1).failuresInRow, 0);
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 2; }));
  Controller(2).SetFault(kxsim::Fault::NoAnswer);
  Run(3);
  EXPECT_TRUE(engine.Device(1).connected);
  // A stray character does not: the fourth failed exchange in a row drops the
  // device with its message (ASCII: a time-out; RTU: the lone byte fails its check).
  port.Feed(Bytes{Rtu() ? std::uint8_t{0x02} : std::uint8_t{':'}});
  Step();
  EXPECT_FALSE(engine.Device(1).connected);
  EXPECT_EQ(engine.ConnectedCount(), 1);
  EXPECT_EQ(engine.statusText(), Rtu() ? "Received checksum error !!!" : "Received data time out error");
  EXPECT_EQ(engine.Device(1).errorCount, 7U);
  // Polling goes on with the remaining device only.
  for (const auto& r : Run(12)) EXPECT_EQ(r.address, 1);

  // The last device dropped closes the port and frees the line.
  Controller(1).SetFault(kxsim::Fault::NoAnswer);
  Run(8);
  EXPECT_EQ(engine.ConnectedCount(), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

// The upload's requests take the place of the polls: when four of them time
// out the selected device is dropped, and the poll cycle, which stood at
// another device's pending identification, goes on from there.
TEST_P(MonitorEngineTest, UploadEndedByTimeOutsLeavesAPendingIdentificationInPlace) {
  Add("kx2", 1);
  Add("kx2", 2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});
  StartUpload();
  Step();  // the type-2 poll in flight: the cycle moves to device 1's identification
  ASSERT_EQ(Last(), Rd(1, 0x474C, 1));
  Controller(1).SetFault(kxsim::Fault::NoAnswer);
  Run(4);
  EXPECT_FALSE(engine.Device(0).connected);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(Last(), Id(2));
  Run(2);
  EXPECT_EQ(engine.Device(1).model, kModelKx2);
}

TEST_P(MonitorEngineTest, ExceptionAnswersAbortAnUploadAfterMoreThanThree) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  StartUpload();
  Run(1);
  EXPECT_EQ(Last(), Rd(1, 0x474C, 1));
  Controller(1).SetFault(kxsim::Fault::Exception, kxsim::kExIllegalAddress);
  Run(3);
  EXPECT_TRUE(Transferring());
  EXPECT_EQ(engine.statusText(), " Read error : illegal address  !!!");
  Run(1);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(observer.aborted, 1);
  EXPECT_EQ(engine.Device(0).errorCount, 4U);
  EXPECT_TRUE(engine.Device(0).connected);
  Controller(1).SetFault(kxsim::Fault::None);
  EXPECT_NE(Last().reg, 0x474C);  // back to polling
}

TEST_P(MonitorEngineTest, UploadFillsTheBufferAndItsTrailer) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  // Memory bytes 0 and 1 hold alarm 1 high, byte 255 the last pattern's link.
  Controller(1).SetRegister(0x4706, 0x1234);
  Controller(1).SetRegister(0x477F, 0x5A);
  const auto upload = StartUpload();
  Run(1);  // the poll in flight
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(Last(), Rd(1, 0x474C, 1));
    Step();
  }
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(observer.ended, (std::vector<TransferEnd>{TransferEnd::Completed}));
  EXPECT_EQ(observer.progress.back(), 1000);
  EXPECT_EQ(upload->buffer()[255], 0x5A);
  EXPECT_EQ(upload->buffer()[0], 0x12);
  EXPECT_EQ(upload->buffer()[1], 0x34);
  EXPECT_EQ(upload->buffer()[256], 0x42);
  EXPECT_EQ(upload->buffer()[257], 0x01);
  EXPECT_EQ(upload->buffer()[258], 0x05);
  EXPECT_EQ(upload->buffer()[259], 0x48);
  EXPECT_TRUE(engine.menus().download);
  EXPECT_NE(Last().reg, 0x474C);
}

// A ramp/soak read: the parameter buffer through the upload register (complete
// half-way, with its trailer), then the step image through 0x474D.
TEST_P(MonitorEngineTest, RampUploadFillsTheBufferThenTheStepImage) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  struct : Observer {
    int buffersUploaded = 0;
    void ParameterBufferUploaded(const Transfer& t, const ParameterBuffer& b) override {
      const auto& u = static_cast<const ImageUpload&>(t);
      buffersUploaded += u.BufferComplete() && &b == &u.buffer() ? 1 : 0;
    }
  } watcher;
  engine.SetObserver(&watcher);
  // Memory byte 3: alarm 1 low; step image byte 3: the first step's time.
  Controller(1).SetRegister(0x4707, 7);
  Controller(1).SetRegister(0x4781, 8);
  const auto upload = StartUpload(true);
  Run(1);  // the poll in flight
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(Last(), Rd(1, i < 256 ? 0x474C : 0x474D, 1)) << i;
    Step();
    if (i == 255) {
      EXPECT_EQ(watcher.buffersUploaded, 1);
      EXPECT_EQ(watcher.progress.back(), 500);
      EXPECT_TRUE(engine.menus().download);
    }
  }
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(watcher.progress.back(), 1000);
  EXPECT_EQ(watcher.ended, (std::vector<TransferEnd>{TransferEnd::Completed}));
  EXPECT_EQ(upload->buffer()[3], 7);
  EXPECT_EQ(upload->buffer()[256], kModelKx2);
  EXPECT_EQ(upload->steps()[3], 8);
  EXPECT_EQ(Last(), Rd(1, 0x4700, 4));  // polling goes on where it stopped
}

// Selecting another device stops an upload; the answer still in flight then
// belongs to no upload and must not be counted into the buffer.
TEST_P(MonitorEngineTest, UploadAnswerAfterTheUploadStoppedIsNotStored) {
  Add("kx2", 1).SetRegister(0x4706, 0x3344);  // memory bytes 0 and 1
  Add("kx2", 5);
  engine.Handle(monitor_event::ChangeAddress{2, 5});
  engine.Handle(monitor_event::ToggleConnect{0});
  engine.Handle(monitor_event::ToggleConnect{2});
  ASSERT_TRUE(SecondCycle(0x4717));
  const auto upload = StartUpload();
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x474C; }));
  engine.Handle(monitor_event::Select{2});
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(observer.ended, (std::vector<TransferEnd>{TransferEnd::Stopped}));
  Step();
  EXPECT_EQ(upload->bufferCount(), 0);
  EXPECT_EQ(upload->buffer()[0], 0);
  EXPECT_NE(Last().reg, 0x474C);
}

TEST_P(MonitorEngineTest, EchoMismatchDropsTheWriteAndRereadsThePages) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::QueueWrite{0x4701, 300});
  Run(1);
  StepWithWrongEcho(299);
  EXPECT_EQ(engine.statusText(), "Writing data compare fail !!!");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_FALSE(engine.WritePending());
  EXPECT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4720 && r.value == 8; }, 8));
}

TEST_P(MonitorEngineTest, UnlockWriteGoesBeforeAFactoryProtectedWrite) {
  Add("kx1", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4728; }));
  engine.Handle(monitor_event::QueueWrite{0x4714, 15, true});
  Run(1);
  EXPECT_EQ(Last(), Wr(1, 0x471B, 0x4F1D));
  EXPECT_EQ(ArmedWait(), Rtu() ? 2 : 50);
  Run(1);
  EXPECT_EQ(Last(), Wr(1, 0x4714, 15));
  EXPECT_EQ(ArmedWait(), Rtu() ? 2 : 50);
  Run(1);
  EXPECT_EQ(Last().function, kFnRead);
  EXPECT_EQ(ArmedWait(), Rtu() ? 2 : 18);
  EXPECT_EQ(Controller(1).Register(0x4714), 15);
}

TEST_P(MonitorEngineTest, BroadcastDownloadSendsToAddressZeroPacedByItsWait) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  // The second step is factory-protected, the third skipped.
  auto download = std::make_shared<WriteSequence>(
      TransferKind::Download,
      std::vector<WriteStep>{{0x4701, 100}, {0x4702, 101, true}, {0x4709, 9, false, true}, {0x4703, 102}},
      true);
  engine.Handle(monitor_event::StartTransfer{download});
  Run(1);  // the poll in flight
  std::vector<Req> writes;
  for (int i = 0; i < 4; ++i) {
    writes.push_back(Last());
    const auto before = port.written.size();
    port.Tick(Rtu() ? 1 : 4);
    EXPECT_EQ(port.written.size(), before) << "no request before the wait is over";
    port.Tick(Rtu() ? 1 : 1);
    EXPECT_EQ(port.written.size(), before + 1);
  }
  EXPECT_EQ(writes, (std::vector<Req>{Wr(0, 0x4701, 100), Wr(0, 0x472A, 0x4F1D), Wr(0, 0x4702, 101),
                                      Wr(0, 0x4703, 102)}));
  EXPECT_EQ(download->stepsDone(), 4U);
  EXPECT_EQ(observer.progress, (std::vector<int>{0, 250, 250, 750, 1000}));
  EXPECT_FALSE(Transferring());
  EXPECT_TRUE(engine.refreshRequested());
  EXPECT_EQ(Last().address, 1);  // polling again, at the controller's own address
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
}

TEST_P(MonitorEngineTest, AnswerFromAnotherAddressFailsThatExchangeAndPollingGoesOn) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4700; }));
  const Req req = Last();
  const std::int64_t asked = port.now();
  Controller(1).SetFault(kxsim::Fault::WrongAddress);  // answers as address 2
  Step();
  EXPECT_EQ(engine.statusText(), "Address not correct");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_EQ(Last(), req);  // asked again as soon as the answer is in, no time-out
  EXPECT_LE(port.now() - asked, 1);
  Controller(1).SetFault(kxsim::Fault::None);
  Run(3);
  EXPECT_TRUE(engine.Device(0).connected);
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
}

// A late answer to an earlier request of the same device (here the 8 words of a
// status poll while PV and SV are asked for) must not be taken for this one:
// an answer is accepted only with exactly the words asked for.
TEST_P(MonitorEngineTest, ReadAnswerWithOtherWordCountIsRejected) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4700; }));
  const Req req = Last();
  const std::uint16_t pv = engine.Device(0).rec.pv;
  for (const std::vector<std::uint16_t>& words :
       {std::vector<std::uint16_t>{0x40, 1, 0x0105, 0, 0, 0, 253, 12},
        std::vector<std::uint16_t>{0x40, 1}}) {
    StepAnsweredByHand(ReadAnswerPdu(1, kFnRead, words));
    EXPECT_EQ(engine.Device(0).rec.pv, pv);
    EXPECT_EQ(engine.statusText(), "Rcv format error !!!");
    EXPECT_EQ(Last(), req);  // asked again
  }
  EXPECT_EQ(engine.Device(0).errorCount, 2U);
  Step();
  EXPECT_EQ(engine.Device(0).rec.pv, *Controller(1).Register(0x4700));
}

// A parameter page still in flight when another device is selected belongs to
// the old device: it must fill neither the panels nor the new device's
// decimal point.
TEST_P(MonitorEngineTest, PageOfThePreviouslySelectedDeviceIsNotTakenForTheNewOne) {
  kxsim::Controller& d0 = Add("kx2", 1);  // unit 0, decimal point 0: rounded tenths
  d0.SetRegister(0x4724, 0);
  d0.SetRegister(0x4725, 0);
  kxsim::Controller& d2 = Add("kx2", 5);
  d2.SetRegister(0x4724, 2);
  d2.SetRegister(0x4725, 2);  // hundredths
  engine.Handle(monitor_event::ChangeAddress{2, 5});
  engine.Handle(monitor_event::ToggleConnect{2});
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 5 && r.reg == 0x4720; }));
  ASSERT_EQ(engine.Device(0).decimalPoint, kDpRounded);
  const auto pages = observer.pages.size();
  engine.Handle(monitor_event::Select{0});
  Step();  // page 10 of device 2 arrives
  EXPECT_EQ(observer.pages.size(), pages);
  EXPECT_EQ(engine.Device(0).decimalPoint, kDpRounded);
  EXPECT_EQ(engine.ParameterWord(0x4725), 0);
  EXPECT_EQ(Last(), Id(1));  // the newly selected device is identified next
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 1 && r.reg == 0x4720; }));
  Step();
  EXPECT_EQ(observer.pages.back(), 10);
  EXPECT_EQ(engine.ParameterWord(0x4724), 0);
}

TEST_P(MonitorEngineTest, UnknownModelIsDisconnectedWithAMessage) {
  // No kxsim model answers so: the identification is answered by hand.
  engine.Handle(monitor_event::ToggleConnect{0});
  bus.Feed(BuildFrame(Form(), ReadAnswerPdu(1, kFnIdentify, {9, 0, 0})));
  if (port.IsOpen()) Step();  // RTU: an identification answer ends by silence
  EXPECT_FALSE(engine.Device(0).connected);
  EXPECT_EQ(engine.statusText(), "Unknown model, device disconnected");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

// A KX1 answers the identification with function 0x77, an exception 0xE7 or
// plainly 0x67, by its firmware: each is a KX1.
TEST_P(MonitorEngineTest, Kx1IsIdentifiedByEachOfItsAnswers) {
  const std::uint8_t addresses[] = {1, 2, 3};
  const char* options[] = {",id=77", ",id=e7", ",id=67"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(options[i]);
    const std::uint8_t a = addresses[i];
    Init(Rtu());
    Add("kx1", a, options[i]);
    engine.Handle(monitor_event::ChangeAddress{0, a});
    engine.Handle(monitor_event::ToggleConnect{0});
    EXPECT_EQ(Run(3), (std::vector<Req>{Id(a), Rd(a, 0x470F, 2), Rd(a, 0x4728, 4)}));
    EXPECT_EQ(engine.Device(0).model, kModelKx1);
    EXPECT_EQ(engine.Device(0).errorCount, 0U);
    engine.Handle(monitor_event::ToggleConnect{0});
    Run(1);
  }
}

TEST_P(MonitorEngineTest, RampSoakWriteSendsTheWholeTableCountingEchoes) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  std::vector<std::uint16_t> values(153);
  for (int n = 0; n < 153; ++n) values[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(n == 25 ? 0xFFF1 : n);
  auto ramp = std::make_shared<WriteSequence>(TransferKind::RampDownload, RampWriteSteps(values));
  engine.Handle(monitor_event::StartTransfer{ramp});
  Run(1);
  StepWithWrongEcho(7);  // the first write's echo is wrong: not counted, sent again
  EXPECT_EQ(ramp->stepsDone(), 0U);
  std::vector<Req> writes = Run(153);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(ramp->stepsDone(), 153U);
  EXPECT_EQ(ramp->Progress(), 1000);
  ASSERT_EQ(writes.size(), 153U);
  for (int n = 0; n < 153; ++n) EXPECT_EQ(writes[static_cast<std::size_t>(n)].reg, 0x4767 + n);
  EXPECT_EQ(writes[25], Wr(1, 0x4780, 0xFFF1));
  EXPECT_EQ(Last().function, kFnRead);
}

TEST_P(MonitorEngineTest, Kx3BelowSecurityMode4IsPolledShortAndNeverReadsPages) {
  Add("kx3", 1).SetRegister(0x4751, 0x11);  // mode 2: PV and SV only
  engine.Handle(monitor_event::ToggleConnect{0});
  const auto seen = Run(10);
  EXPECT_EQ(seen, (std::vector<Req>{Id(1), Rd(1, 0x4751, 1), Rd(1, 0x4728, 1), Rd(1, 0x4700, 2),
                                    Rd(1, 0x4728, 1), Rd(1, 0x4700, 2), Rd(1, 0x4728, 1),
                                    Rd(1, 0x4751, 1), Rd(1, 0x4728, 1), Rd(1, 0x4700, 2)}));
  EXPECT_EQ(observer.layouts, 1);
  EXPECT_TRUE(observer.pages.empty());
  EXPECT_FALSE(engine.menus().upload);
}

TEST_P(MonitorEngineTest, DisconnectingTheSelectedDeviceSelectsTheNextInCyclicOrder) {
  for (std::uint8_t a : std::initializer_list<std::uint8_t>{1, 2, 4}) Add("kx2", a);
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ChangeAddress{3, 4});
  engine.Handle(monitor_event::ToggleConnect{1});
  engine.Handle(monitor_event::ToggleConnect{3});
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(4);
  EXPECT_EQ(engine.SelectedDevice(), 1);
  engine.Handle(monitor_event::ToggleConnect{1});
  EXPECT_EQ(engine.SelectedDevice(), 3);
  Run(4);
  engine.Handle(monitor_event::ToggleConnect{3});
  EXPECT_EQ(engine.SelectedDevice(), 0);
  Run(1);  // the request in flight to device 3
  for (const auto& r : Run(8)) EXPECT_EQ(r.address, 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  EXPECT_EQ(engine.SelectedDevice(), kNoDevice);
  EXPECT_TRUE(port.IsOpen());  // until the request in flight ends
  Run(1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_P(MonitorEngineTest, CloseWaitsForTheRequestInFlight) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(3);
  engine.Handle(monitor_event::CloseRequest{});
  EXPECT_TRUE(engine.CloseRequested());
  EXPECT_EQ(observer.closed, 0);
  const auto before = port.written.size();
  Step();
  EXPECT_EQ(observer.closed, 1);
  EXPECT_EQ(port.written.size(), before);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_P(MonitorEngineTest, AnswerOfAStoppedCycleIsNotTakenForTheNextRequest) {
  Add("kx2", 1);
  Add("kx1", 2);
  engine.Handle(monitor_event::ToggleConnect{0});
  engine.Handle(monitor_event::ToggleConnect{0});  // last device gone while its identification is in flight
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});  // engine restarts
  const auto before = port.written.size();
  Step();  // the old identification is answered (RTU: ended by silence)
  EXPECT_EQ(port.written.size(), before + 1);
  EXPECT_EQ(Last(), Id(2));
  EXPECT_EQ(engine.Device(1).model, kModelUnknown);
  Run(1);
  EXPECT_EQ(engine.Device(1).model, kModelKx1);
  EXPECT_EQ(engine.Device(1).errorCount, 0U);

  // A time-out reported for a trigger other than the request's is ignored.
  const auto n = port.written.size();
  for (std::uint16_t h = 1; h <= 2; ++h)
    if (!port.Armed(h)) engine.Handle(monitor_event::PortTimer{h});
  EXPECT_EQ(port.written.size(), n);
  EXPECT_EQ(engine.state(), MonitorEngine::State::Awaiting);
}

INSTANTIATE_TEST_SUITE_P(Forms, MonitorEngineTest,
                         ::testing::Values(Config{false, Delivery::Whole}, Config{true, Delivery::Whole},
                                           Config{false, Delivery::ByteByByte},
                                           Config{true, Delivery::ByteByByte},
                                           Config{false, Delivery::Split}, Config{true, Delivery::Split}),
                         [](const auto& p) {
                           std::string name = p.param.rtu ? "Rtu" : "Ascii";
                           switch (p.param.delivery) {
                             case Delivery::Whole: return name + "Whole";
                             case Delivery::ByteByByte: return name + "ByteByByte";
                             case Delivery::Split: return name + "Split";
                           }
                           return name;
                         });

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// RTU answer endings measured on the tick clock: the controller's answers are
// handed to the port at chosen ticks.
class MonitorEngineRtuTest : public MonitorEngineTest {
 protected:
  // Runs the bus until the next answer has reached the port.
  void DeliverNextAnswer() {
    const std::size_t before = bus.answered().size();
    bus.RunUntil([&] { return bus.answered().size() != before; }, 200);
  }
};

TEST_P(MonitorEngineRtuTest, AnswersEndAtTheirLengthWithoutASilence) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  // Identification (function 0x67): complete at byte count + 5, the next
  // request goes out at once.
  DeliverNextAnswer();
  ASSERT_EQ(port.written.size(), 2U);
  EXPECT_EQ(engine.Device(0).model, kModelKx2);
  // Function 3: likewise.
  DeliverNextAnswer();
  EXPECT_EQ(port.written.size(), 3U);
  // An exception answer is complete at its five bytes: no wait for a silence.
  const Req req = Last();
  Controller(1).SetFault(kxsim::Fault::Exception, kxsim::kExIllegalData);
  DeliverNextAnswer();
  ASSERT_EQ(port.written.size(), 4U);
  EXPECT_EQ(engine.statusText(), " Read error : illegal data     !!!");
  EXPECT_EQ(Last(), req);
}

TEST_P(MonitorEngineRtuTest, ShortAnswerGetsOneExtraWaitAndNeverStalls) {
  Add("kx2", 1);
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(2);
  const Req req = Last();
  const Bytes answer = bus.TakeNextAnswer();
  // The rest arrives during the extra wait: dispatched as a good answer.
  port.Feed(std::span(answer).first(4));
  port.Tick(2);
  EXPECT_EQ(Last(), req);  // the extra wait
  EXPECT_EQ(engine.state(), MonitorEngine::State::Awaiting);
  port.Feed(std::span(answer).subspan(4));
  EXPECT_EQ(engine.state(), MonitorEngine::State::Awaiting);
  EXPECT_NE(Last(), req);
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
  // Nothing more arrives: after the extra wait the truncated answer fails its
  // check and the engine goes on.
  const Req next = Last();
  const Bytes answer2 = bus.TakeNextAnswer();
  port.Feed(std::span(answer2).first(4));
  port.Tick(4);
  EXPECT_EQ(engine.statusText(), "Received checksum error !!!");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_EQ(Last(), next);
  EXPECT_EQ(engine.state(), MonitorEngine::State::Awaiting);
}

TEST_P(MonitorEngineRtuTest, TimeOutTicksFollowTheBaudRate) {
  Init(true, 4800);  // no controller answers
  engine.Handle(monitor_event::ToggleConnect{0});
  EXPECT_EQ(ArmedWait(), 3);
  port.Tick(3);
  EXPECT_EQ(engine.statusText(), "Received data time out error");
  EXPECT_EQ(port.written.size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Rtu, MonitorEngineRtuTest, ::testing::Values(Config{true, Delivery::Whole}));

}  // namespace
}  // namespace kx
