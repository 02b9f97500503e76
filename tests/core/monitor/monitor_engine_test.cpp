// The monitor engine driven through a FakePort and its fake tick clock, with a
// small bus of fake controllers that answer what the engine writes.
#include "core/monitor/monitor_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_port.h"

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

// What one fake controller does.
struct FakeController {
  std::uint8_t model = kModelKx2;
  std::map<std::uint16_t, std::uint16_t> regs;
  bool silent = false;
  std::optional<std::uint8_t> exception;   // answer every request with this exception code
  std::optional<std::uint16_t> echoValue;  // answer writes with this value instead
  bool kx1AnswersWith77 = false;
};

Bytes ReadAnswerPdu(std::uint8_t address, std::uint8_t function, const std::vector<std::uint16_t>& words) {
  Bytes pdu{address, function, static_cast<std::uint8_t>(2 * words.size())};
  for (auto w : words) {
    pdu.push_back(static_cast<std::uint8_t>(w >> 8));
    pdu.push_back(static_cast<std::uint8_t>(w & 0xFF));
  }
  return pdu;
}

class Bus {
 public:
  std::map<std::uint8_t, FakeController> controllers;

  // The answer to `req`, or nothing when nobody answers.
  std::optional<Bytes> AnswerPdu(const Req& req) {
    auto it = controllers.find(req.address);
    if (it == controllers.end() || it->second.silent) return std::nullopt;
    auto& c = it->second;
    if (c.exception)
      return Bytes{req.address, static_cast<std::uint8_t>(req.function | 0x80), *c.exception};
    if (req.function == kFnIdentify) {
      if (c.model == kModelKx1 && c.kx1AnswersWith77)
        return ReadAnswerPdu(req.address, kFnKx1Identify, {0, 0, 0});
      const std::uint16_t first = c.model == kModelUnknown ? 9 : 2;
      const std::uint16_t index = c.model == kModelUnknown ? 0 : c.model - kModelKx1;
      return ReadAnswerPdu(req.address, kFnIdentify, {first, index, 0});
    }
    if (req.function == kFnRead) {
      std::vector<std::uint16_t> words;
      for (std::uint16_t i = 0; i < req.value; ++i) words.push_back(c.regs[static_cast<std::uint16_t>(req.reg + i)]);
      return ReadAnswerPdu(req.address, kFnRead, words);
    }
    if (req.function == kFnWrite) {
      const std::uint16_t v = c.echoValue.value_or(req.value);
      c.regs[req.reg] = req.value;
      return WriteRegisterPdu(req.address, req.reg, v);
    }
    return std::nullopt;
  }
};

enum class Delivery { Whole, ByteByByte, Split };

struct Config {
  bool rtu = false;
  Delivery delivery = Delivery::Whole;
};

class MonitorEngineTest : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override { Init(GetParam().rtu); }

  void Init(bool rtu, int baud = 9600) {
    session.params.rtu = rtu;
    session.params.baud = baud;
    session.params.port = 3;
    session.params.dataBits = 8;
    engine.SetObserver(&observer);
    engine.Handle(monitor_event::Reset{});
  }

  bool Rtu() const { return session.params.rtu; }

  Req Last() const { return ParseRequest(port.written.back(), Rtu()); }

  void Deliver(const Bytes& frame) {
    switch (GetParam().delivery) {
      case Delivery::Whole: port.Feed(frame); break;
      case Delivery::ByteByByte: port.FeedByteByByte(frame); break;
      case Delivery::Split: port.FeedSplit(frame, {1, frame.size() / 2}); break;
    }
  }

  // Answers the last request from the bus (or lets it time out); RTU answers
  // the engine cannot measure are ended by the silence after them.
  void Step() {
    const std::size_t before = port.written.size();
    const Req req = Last();
    const auto pdu = bus.AnswerPdu(req);
    if (pdu) Deliver(BuildFrame(Rtu() ? FrameForm::Rtu : FrameForm::Ascii, *pdu));
    for (int i = 0; i < 200 && port.written.size() == before && port.Open(); ++i) port.Tick();
  }

  // Ticks left on the engine's armed trigger (-1 when none is armed).
  std::int64_t ArmedWait() const {
    for (std::uint16_t h = 1; h < 16; ++h)
      if (auto r = port.Remaining(h)) return *r;
    return -1;
  }

  void WaitForNextRequest() {
    const std::size_t before = port.written.size();
    for (int i = 0; i < 200 && port.written.size() == before && port.Open(); ++i) port.Tick();
  }

  // Runs n exchanges and returns the requests sent in them (the first is the
  // one in flight now).
  std::vector<Req> Run(int n) {
    std::vector<Req> seen;
    for (int i = 0; i < n && port.Open(); ++i) {
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
    for (int i = 0; i < limit && port.Open(); ++i) {
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
  Bus bus;
};

// Controllers whose status flags word keeps bit 0 set, so that only the engine's
// own rules ask for parameter reads.
FakeController Quiet(std::uint8_t model) {
  FakeController c;
  c.model = model;
  c.regs[0x4729] = 1;  // KX2/KX3 status flags word
  c.regs[0x471D] = 1;  // KX1 status flags word
  c.regs[0x472A] = 0x0105;  // KX2/KX3 firmware version, read by status poll 4
  return c;
}

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
  bus.controllers[1] = Quiet(kModelKx2);
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
  bus.controllers[1] = Quiet(kModelKx2);
  bus.controllers[5] = Quiet(kModelKx2);
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
  bus.controllers[1] = Quiet(kModelKx2);
  bus.controllers[2] = Quiet(kModelKx1);
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
  bus.controllers[1] = Quiet(kModelKx2);
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
  EXPECT_EQ(bus.controllers[1].regs[0x4701], 0xFFF1);
  EXPECT_FALSE(engine.WritePending());
}

// A value entered while the previous write is still on the line is the next
// queued write: the echo of the previous one must not discard it.
TEST_P(MonitorEngineTest, WriteQueuedWhileAnotherIsInFlightIsSentAfterIt) {
  bus.controllers[1] = Quiet(kModelKx2);
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
  EXPECT_EQ(bus.controllers[1].regs[0x4702], 400);

  // The same when the first write's echo is wrong: only that write is dropped.
  engine.Handle(monitor_event::QueueWrite{0x4703, 5});
  Run(1);
  ASSERT_EQ(Last(), Wr(1, 0x4703, 5));
  bus.controllers[1].echoValue = 6;
  engine.Handle(monitor_event::QueueWrite{0x4704, 7});
  Run(1);
  bus.controllers[1].echoValue.reset();
  EXPECT_EQ(engine.StatusText(), "Writing data compare fail !!!");
  EXPECT_EQ(Last(), Wr(1, 0x4704, 7));
}

TEST_P(MonitorEngineTest, FactoryPagesKx2AndKx1) {
  for (std::uint8_t model : {kModelKx2, kModelKx1}) {
    SCOPED_TRACE(int{model});
    Init(Rtu());
    bus.controllers.clear();
    bus.controllers[1] = Quiet(model);
    engine.Handle(monitor_event::ToggleConnect{0});
    engine.Handle(monitor_event::FactoryMode{true});
    ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4701 && r.value == 7; }));
    const auto seen = Run(model == kModelKx2 ? 5 : 4);
    if (model == kModelKx2) {
      EXPECT_EQ(seen, (std::vector<Req>{Rd(1, 0x4701, 7), Wr(1, 0x472A, 0x4F1D), Rd(1, 0x4730, 7),
                                        Rd(1, 0x4737, 2), Rd(1, 0x4717, 4)}));
    } else {
      EXPECT_EQ(seen, (std::vector<Req>{Rd(1, 0x4701, 7), Wr(1, 0x471B, 0x4F1D), Rd(1, 0x4720, 8),
                                        Rd(1, 0x4728, 4)}));
    }
    EXPECT_EQ(observer.pages.back(), model == kModelKx2 ? 21 : 20);
    engine.Handle(monitor_event::ToggleConnect{0});
    Run(1);
    EXPECT_FALSE(port.Open());
  }
}

TEST_P(MonitorEngineTest, FourFailedExchangesInARowDropTheDeviceAndOnlyAGoodAnswerClearsTheCount) {
  bus.controllers[1] = Quiet(kModelKx2);
  bus.controllers[2] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 2 && r.reg == 0x4700; }));
  bus.controllers[2].silent = true;
  const Req silentReq = Last();
  Run(3);  // three time-outs, each repeating the request
  EXPECT_EQ(Last(), silentReq);
  EXPECT_EQ(engine.Device(1).failuresInRow, 3);
  // A good answer clears the count.
  bus.controllers[2].silent = false;
  Run(1);
  EXPECT_EQ(engine.Device(1).failuresInRow, 0);
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.address == 2; }));
  bus.controllers[2].silent = true;
  Run(3);
  EXPECT_TRUE(engine.Device(1).connected);
  // A stray character does not: the fourth failed exchange in a row drops the
  // device with its message (ASCII: a time-out; RTU: the lone byte fails its check).
  port.Feed(Bytes{Rtu() ? std::uint8_t{0x02} : std::uint8_t{':'}});
  WaitForNextRequest();
  EXPECT_FALSE(engine.Device(1).connected);
  EXPECT_EQ(engine.ConnectedCount(), 1);
  EXPECT_EQ(engine.StatusText(), Rtu() ? "Received checksum error !!!" : "Received data time out error");
  EXPECT_EQ(engine.Device(1).errorCount, 7U);
  // Polling goes on with the remaining device only.
  for (const auto& r : Run(12)) EXPECT_EQ(r.address, 1);

  // The last device dropped closes the port and frees the line.
  bus.controllers[1].silent = true;
  Run(8);
  EXPECT_EQ(engine.ConnectedCount(), 0);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

// The upload's requests take the place of the polls: when four of them time
// out the selected device is dropped, and the poll cycle, which stood at
// another device's pending identification, goes on from there.
TEST_P(MonitorEngineTest, UploadEndedByTimeOutsLeavesAPendingIdentificationInPlace) {
  bus.controllers[1] = Quiet(kModelKx2);
  bus.controllers[2] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});
  StartUpload();
  Step();  // the type-2 poll in flight: the cycle moves to device 1's identification
  ASSERT_EQ(Last(), Rd(1, 0x474C, 1));
  bus.controllers[1].silent = true;
  Run(4);
  EXPECT_FALSE(engine.Device(0).connected);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(Last(), Id(2));
  Run(2);
  EXPECT_EQ(engine.Device(1).model, kModelKx2);
}

TEST_P(MonitorEngineTest, ExceptionAnswersAbortAnUploadAfterMoreThanThree) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  StartUpload();
  Run(1);
  EXPECT_EQ(Last(), Rd(1, 0x474C, 1));
  bus.controllers[1].exception = 2;
  Run(3);
  EXPECT_TRUE(Transferring());
  EXPECT_EQ(engine.StatusText(), " Read error : illegal address  !!!");
  Run(1);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(observer.aborted, 1);
  EXPECT_EQ(engine.Device(0).errorCount, 4U);
  EXPECT_TRUE(engine.Device(0).connected);
  bus.controllers[1].exception.reset();
  EXPECT_NE(Last().reg, 0x474C);  // back to polling
}

TEST_P(MonitorEngineTest, UploadFillsTheBufferAndItsTrailer) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  const auto upload = StartUpload();
  Run(1);  // the poll in flight
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(Last(), Rd(1, 0x474C, 1));
    // Offset in the high byte, the memory byte in the low byte.
    bus.controllers[1].regs[0x474C] = static_cast<std::uint16_t>((255 - i) << 8 | (i ^ 0x5A));
    Step();
  }
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(observer.ended, (std::vector<TransferEnd>{TransferEnd::Completed}));
  EXPECT_EQ(observer.progress.back(), 1000);
  EXPECT_EQ(upload->Buffer()[255], 0x5A);
  EXPECT_EQ(upload->Buffer()[0], 255 ^ 0x5A);
  EXPECT_EQ(upload->Buffer()[256], 0x42);
  EXPECT_EQ(upload->Buffer()[257], 0x01);
  EXPECT_EQ(upload->Buffer()[258], 0x05);
  EXPECT_EQ(upload->Buffer()[259], 0x48);
  EXPECT_TRUE(engine.Menus().download);
  EXPECT_NE(Last().reg, 0x474C);
}

// A ramp/soak read: the parameter buffer through the upload register (complete
// half-way, with its trailer), then the step image through 0x474D.
TEST_P(MonitorEngineTest, RampUploadFillsTheBufferThenTheStepImage) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  struct : Observer {
    int buffersUploaded = 0;
    void ParameterBufferUploaded(const ImageUpload& u) override {
      buffersUploaded += u.BufferComplete() ? 1 : 0;
    }
  } watcher;
  engine.SetObserver(&watcher);
  const auto upload = StartUpload(true);
  Run(1);  // the poll in flight
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(Last(), Rd(1, i < 256 ? 0x474C : 0x474D, 1)) << i;
    bus.controllers[1].regs[Last().reg] = static_cast<std::uint16_t>((i & 0xFF) << 8 | (i >> 8) + 7);
    Step();
    if (i == 255) {
      EXPECT_EQ(watcher.buffersUploaded, 1);
      EXPECT_EQ(watcher.progress.back(), 500);
      EXPECT_TRUE(engine.Menus().download);
    }
  }
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(watcher.progress.back(), 1000);
  EXPECT_EQ(watcher.ended, (std::vector<TransferEnd>{TransferEnd::Completed}));
  EXPECT_EQ(upload->Buffer()[3], 7);
  EXPECT_EQ(upload->Buffer()[256], kModelKx2);
  EXPECT_EQ(upload->Steps()[3], 8);
  EXPECT_EQ(Last(), Rd(1, 0x4700, 4));  // polling goes on where it stopped
}

// Selecting another device stops an upload; the answer still in flight then
// belongs to no upload and must not be counted into the buffer.
TEST_P(MonitorEngineTest, UploadAnswerAfterTheUploadStoppedIsNotStored) {
  auto c = Quiet(kModelKx2);
  c.regs[0x474C] = 0x0733;  // offset 7, byte 0x33
  bus.controllers[1] = c;
  bus.controllers[5] = Quiet(kModelKx2);
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
  EXPECT_EQ(upload->BufferCount(), 0);
  EXPECT_EQ(upload->Buffer()[7], 0);
  EXPECT_NE(Last().reg, 0x474C);
}

TEST_P(MonitorEngineTest, EchoMismatchDropsTheWriteAndRereadsThePages) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  engine.Handle(monitor_event::QueueWrite{0x4701, 300});
  bus.controllers[1].echoValue = 299;
  Run(2);
  EXPECT_EQ(engine.StatusText(), "Writing data compare fail !!!");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_FALSE(engine.WritePending());
  EXPECT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4720 && r.value == 8; }, 8));
}

TEST_P(MonitorEngineTest, UnlockWriteGoesBeforeAFactoryProtectedWrite) {
  bus.controllers[1] = Quiet(kModelKx1);
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
  EXPECT_EQ(bus.controllers[1].regs[0x4714], 15);
}

TEST_P(MonitorEngineTest, BroadcastDownloadSendsToAddressZeroPacedByItsWait) {
  bus.controllers[1] = Quiet(kModelKx2);
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
  EXPECT_EQ(download->StepsDone(), 4U);
  EXPECT_EQ(observer.progress, (std::vector<int>{0, 250, 250, 750, 1000}));
  EXPECT_FALSE(Transferring());
  EXPECT_TRUE(engine.RefreshRequested());
  EXPECT_EQ(Last().address, 1);  // polling again, at the controller's own address
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
}

TEST_P(MonitorEngineTest, AnswerFromAnotherAddressFailsThatExchangeAndPollingGoesOn) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4700; }));
  const Req req = Last();
  auto pdu = ReadAnswerPdu(7, kFnRead, {1, 2, 3, 4});
  Deliver(BuildFrame(Rtu() ? FrameForm::Rtu : FrameForm::Ascii, pdu));
  EXPECT_EQ(engine.StatusText(), "Address not correct");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_EQ(Last(), req);  // asked again at once
  Run(3);
  EXPECT_TRUE(engine.Device(0).connected);
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
}

// A late answer to an earlier request of the same device (here the 8 words of a
// status poll while PV and SV are asked for) must not be taken for this one:
// an answer is accepted only with exactly the words asked for.
TEST_P(MonitorEngineTest, ReadAnswerWithOtherWordCountIsRejected) {
  auto c = Quiet(kModelKx2);
  c.regs[0x4700] = 250;
  c.regs[0x4701] = 300;
  bus.controllers[1] = c;
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(RunUntil([](const Req& r) { return r.reg == 0x4700; }));
  const Req req = Last();
  const std::uint16_t pv = engine.Device(0).rec.pv;
  for (const std::vector<std::uint16_t>& words :
       {std::vector<std::uint16_t>{0x40, 1, 0x0105, 0, 0, 0, 253, 12},
        std::vector<std::uint16_t>{0x40, 1}}) {
    Deliver(BuildFrame(Rtu() ? FrameForm::Rtu : FrameForm::Ascii, ReadAnswerPdu(1, kFnRead, words)));
    EXPECT_EQ(engine.Device(0).rec.pv, pv);
    EXPECT_EQ(engine.StatusText(), "Rcv format error !!!");
    EXPECT_EQ(Last(), req);  // asked again
  }
  EXPECT_EQ(engine.Device(0).errorCount, 2U);
  Step();
  EXPECT_EQ(engine.Device(0).rec.pv, 250);
}

// A parameter page still in flight when another device is selected belongs to
// the old device: it must fill neither the panels nor the new device's
// decimal point.
TEST_P(MonitorEngineTest, PageOfThePreviouslySelectedDeviceIsNotTakenForTheNewOne) {
  auto d0 = Quiet(kModelKx2);  // unit 0, decimal point 0: rounded tenths
  auto d2 = Quiet(kModelKx2);
  d2.regs[0x4724] = 2;
  d2.regs[0x4725] = 2;  // hundredths
  d2.regs[0x4726] = 1;
  bus.controllers[1] = d0;
  bus.controllers[5] = d2;
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
  EXPECT_EQ(engine.ParameterWord(0x4726), 0);
}

TEST_P(MonitorEngineTest, UnknownModelIsDisconnectedWithAMessage) {
  auto c = Quiet(kModelUnknown);
  bus.controllers[1] = c;
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(1);
  EXPECT_FALSE(engine.Device(0).connected);
  EXPECT_EQ(engine.StatusText(), "Unknown model, device disconnected");
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_P(MonitorEngineTest, Kx1AnsweringWith77IsIdentified) {
  auto c = Quiet(kModelKx1);
  c.kx1AnswersWith77 = true;
  bus.controllers[1] = c;
  engine.Handle(monitor_event::ToggleConnect{0});
  EXPECT_EQ(Run(3), (std::vector<Req>{Id(1), Rd(1, 0x470F, 2), Rd(1, 0x4728, 4)}));
  EXPECT_EQ(engine.Device(0).model, kModelKx1);
}

TEST_P(MonitorEngineTest, RampSoakWriteSendsTheWholeTableCountingEchoes) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  ASSERT_TRUE(SecondCycle(0x4717));
  std::vector<std::uint16_t> values(153);
  for (int n = 0; n < 153; ++n) values[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(n == 25 ? 0xFFF1 : n);
  auto ramp = std::make_shared<WriteSequence>(TransferKind::RampDownload, RampWriteSteps(values));
  engine.Handle(monitor_event::StartTransfer{ramp});
  Run(1);
  bus.controllers[1].echoValue = 7;  // the first write's echo is wrong: not counted, sent again
  Run(1);
  bus.controllers[1].echoValue.reset();
  EXPECT_EQ(ramp->StepsDone(), 0U);
  std::vector<Req> writes = Run(153);
  EXPECT_FALSE(Transferring());
  EXPECT_EQ(ramp->StepsDone(), 153U);
  EXPECT_EQ(ramp->Progress(), 1000);
  ASSERT_EQ(writes.size(), 153U);
  for (int n = 0; n < 153; ++n) EXPECT_EQ(writes[static_cast<std::size_t>(n)].reg, 0x4767 + n);
  EXPECT_EQ(writes[25], Wr(1, 0x4780, 0xFFF1));
  EXPECT_EQ(Last().function, kFnRead);
}

TEST_P(MonitorEngineTest, Kx3BelowSecurityMode4IsPolledShortAndNeverReadsPages) {
  auto c = Quiet(kModelKx3);
  c.regs[0x4751] = 0x11;  // mode 2: PV and SV only
  bus.controllers[1] = c;
  engine.Handle(monitor_event::ToggleConnect{0});
  const auto seen = Run(10);
  EXPECT_EQ(seen, (std::vector<Req>{Id(1), Rd(1, 0x4751, 1), Rd(1, 0x4728, 1), Rd(1, 0x4700, 2),
                                    Rd(1, 0x4728, 1), Rd(1, 0x4700, 2), Rd(1, 0x4728, 1),
                                    Rd(1, 0x4751, 1), Rd(1, 0x4728, 1), Rd(1, 0x4700, 2)}));
  EXPECT_EQ(observer.layouts, 1);
  EXPECT_TRUE(observer.pages.empty());
  EXPECT_FALSE(engine.Menus().upload);
}

TEST_P(MonitorEngineTest, DisconnectingTheSelectedDeviceSelectsTheNextInCyclicOrder) {
  for (std::uint8_t a : {1, 2, 4}) bus.controllers[a] = Quiet(kModelKx2);
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
  EXPECT_TRUE(port.Open());  // until the request in flight ends
  Run(1);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_P(MonitorEngineTest, CloseWaitsForTheRequestInFlight) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(3);
  engine.Handle(monitor_event::CloseRequest{});
  EXPECT_TRUE(engine.CloseRequested());
  EXPECT_EQ(observer.closed, 0);
  const auto before = port.written.size();
  Step();
  EXPECT_EQ(observer.closed, 1);
  EXPECT_EQ(port.written.size(), before);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_P(MonitorEngineTest, AnswerOfAStoppedCycleIsNotTakenForTheNextRequest) {
  bus.controllers[1] = Quiet(kModelKx2);
  bus.controllers[2] = Quiet(kModelKx1);
  engine.Handle(monitor_event::ToggleConnect{0});
  const Req old = Last();
  engine.Handle(monitor_event::ToggleConnect{0});  // last device gone while its identification is in flight
  engine.Handle(monitor_event::ChangeAddress{1, 2});
  engine.Handle(monitor_event::ToggleConnect{1});  // engine restarts
  const auto before = port.written.size();
  Deliver(BuildFrame(Rtu() ? FrameForm::Rtu : FrameForm::Ascii, *bus.AnswerPdu(old)));
  if (Rtu()) port.Tick(2);  // an identification answer ends by silence
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
  EXPECT_EQ(engine.CurrentState(), MonitorEngine::State::Awaiting);
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

// RTU answer endings measured on the tick clock.
class MonitorEngineRtuTest : public MonitorEngineTest {};

TEST_P(MonitorEngineRtuTest, ReadAnswersEndEarlyOthersByTheSilence) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  // Identification (function 0x67): no early length, ended by 2 ticks of silence.
  port.Feed(BuildRtuFrame(*bus.AnswerPdu(Last())));
  EXPECT_EQ(port.written.size(), 1U);
  port.Tick();
  EXPECT_EQ(port.written.size(), 1U);
  port.Tick();
  ASSERT_EQ(port.written.size(), 2U);
  EXPECT_EQ(engine.Device(0).model, kModelKx2);
  // Function 3: complete at byte count + 5, the next request goes out at once.
  port.Feed(BuildRtuFrame(*bus.AnswerPdu(Last())));
  EXPECT_EQ(port.written.size(), 3U);
  // An exception answer (5 bytes) is short of the 13 bytes asked for: one
  // more wait, then it is dispatched.
  const Req req = Last();
  port.Feed(BuildRtuFrame(Bytes{1, kFnReadError, 3}));
  port.Tick(2);
  EXPECT_EQ(port.written.size(), 3U);  // the extra wait
  EXPECT_EQ(engine.CurrentState(), MonitorEngine::State::Awaiting);
  port.Tick(2);
  ASSERT_EQ(port.written.size(), 4U);
  EXPECT_EQ(engine.StatusText(), " Read error : illegal data     !!!");
  EXPECT_EQ(Last(), req);
}

TEST_P(MonitorEngineRtuTest, ShortAnswerGetsOneExtraWaitAndNeverStalls) {
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  Run(2);
  const Req req = Last();
  const Bytes answer = BuildRtuFrame(*bus.AnswerPdu(req));
  // The rest arrives during the extra wait: dispatched as a good answer.
  port.Feed(std::span(answer).first(4));
  port.Tick(2);
  EXPECT_EQ(Last(), req);  // the extra wait
  EXPECT_EQ(engine.CurrentState(), MonitorEngine::State::Awaiting);
  port.Feed(std::span(answer).subspan(4));
  EXPECT_EQ(engine.CurrentState(), MonitorEngine::State::Awaiting);
  EXPECT_NE(Last(), req);
  EXPECT_EQ(engine.Device(0).errorCount, 0U);
  // Nothing more arrives: after the extra wait the truncated answer fails its
  // check and the engine goes on.
  const Req next = Last();
  const Bytes answer2 = BuildRtuFrame(*bus.AnswerPdu(next));
  port.Feed(std::span(answer2).first(4));
  port.Tick(4);
  EXPECT_EQ(engine.StatusText(), "Received checksum error !!!");
  EXPECT_EQ(engine.Device(0).errorCount, 1U);
  EXPECT_EQ(Last(), next);
  EXPECT_EQ(engine.CurrentState(), MonitorEngine::State::Awaiting);
}

TEST_P(MonitorEngineRtuTest, TimeOutTicksFollowTheBaudRate) {
  Init(true, 4800);
  bus.controllers[1] = Quiet(kModelKx2);
  engine.Handle(monitor_event::ToggleConnect{0});
  EXPECT_EQ(ArmedWait(), 3);
  port.Tick(3);
  EXPECT_EQ(engine.StatusText(), "Received data time out error");
  EXPECT_EQ(port.written.size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Rtu, MonitorEngineRtuTest, ::testing::Values(Config{true, Delivery::Whole}));

}  // namespace
}  // namespace kx
