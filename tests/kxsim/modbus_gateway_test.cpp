// kxsim's Modbus TCP gateway on the simulated line, time passed in: requests
// carried out in order with their transaction and unit id, the gateway's
// time-out, broadcasts, streams it cannot follow, the line's echo, and
// answers the line mangles.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "core/modbus/codec.h"
#include "core/modbus/mbap.h"
#include "kxsim/line.h"
#include "kxsim/modbus_gateway.h"
#include "support/frame_bytes.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;
using kx::test::Cat;
using kx::test::Mbap;
using test::Fmt;
using Gw = ModbusGateway;

// A frame the client got, and when.
struct Got {
  SimTime at;
  Bytes frame;
};

// The gateway wired to a line at 9600 8N1 as kxsim's loop wires them: time
// jumps from one deadline to the next.
class GatewayTest : public ::testing::Test {
 protected:
  static constexpr SimTime kGap = 4010us;  // 3.5 characters of 11 bits at 9600 bit/s

  explicit GatewayTest(bool echo = false) : gateway({1s, kGap, echo}) { line.SetEcho(echo); }

  Controller& Add(Model model, int address, const char* format) {
    return line.Add(std::make_unique<Controller>(model, static_cast<std::uint8_t>(address), Fmt(format)));
  }

  // Runs until nothing is due before `until`; what the client gets is cut into frames.
  void RunUntil(SimTime until) {
    for (int step = 0; step < 10000; ++step) {
      gateway.Handle(Gw::Tick{now});
      if (const Bytes request = gateway.TakeForLine(); !request.empty()) {
        onLine.push_back(request);
        line.Receive(request, now);
      }
      if (const Bytes out = line.TakeDue(now); !out.empty()) gateway.Handle(Gw::LineBytes{out, now});
      const Bytes answers = gateway.TakeForClient();
      reader.Add(answers);
      while (auto frame = reader.Next())
        got.push_back({now, *kx::mbap::BuildFrame(frame->transaction, frame->unit, frame->pdu)});
      ASSERT_FALSE(reader.broken());
      std::optional<SimTime> next = line.NextDeadline();
      if (const auto g = gateway.NextDeadline()) next = next ? std::min(*next, *g) : *g;
      if (!next || *next > until) {
        now = until;
        return;
      }
      now = std::max(now, *next);
    }
    ADD_FAILURE() << "the loop does not settle";
  }

  PcSettings pc = ExactSettings(Fmt("9600-8N1-rtu"));
  Line line{[this] { return pc; }};
  Gw gateway;
  SimTime now{0};
  kx::mbap::Reader reader;
  std::vector<Got> got;
  std::vector<Bytes> onLine;
};

TEST_F(GatewayTest, AnswersRequestsInOrderWithTheirTransactionAndUnit) {
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  Add(Model::Kx3, 5, "9600-8N1-rtu");
  Add(Model::Kx1, 3, "9600-7E1-ascii");  // does not hear RTU
  Add(Model::Kx2, 7, "19200-8N1-rtu");   // nor another baud rate
  // All sent at once, in two pieces that split a header.
  const Bytes stream = Cat({
      Mbap(0x1234, 1, {0x03, 0x47, 0x01, 0x00, 0x01}),
      Mbap(0x0002, 5, {0x67, 0x00, 0x12, 0x00, 0x02}),
      Mbap(0x0003, 3, {0x03, 0x47, 0x01, 0x00, 0x01}),
      Mbap(0x0004, 7, {0x03, 0x47, 0x01, 0x00, 0x01}),
      Mbap(0xFFFF, 1, {0x06, 0x47, 0x01, 0x01, 0x90}),
      Mbap(0x0006, 1, {0x03, 0x00, 0x00, 0x00, 0x01}),
  });
  gateway.Handle(Gw::ClientBytes{std::span(stream).first(15)});
  gateway.Handle(Gw::ClientBytes{std::span(stream).subspan(15)});
  RunUntil(5s);

  const std::vector<Got> expected = {
      {0s, Mbap(0x1234, 1, {0x03, 2, 0x01, 0x2C})}, {0s, Mbap(0x0002, 5, {0x67, 4, 0, 2, 0, 2})},
      {1s, Mbap(0x0003, 3, {0x83, 0x0B})},  // the gateway's time-out, a second after it sent
      {2s, Mbap(0x0004, 7, {0x83, 0x0B})},          {2s, Mbap(0xFFFF, 1, {0x06, 0x47, 0x01, 0x01, 0x90})},
      {2s, Mbap(0x0006, 1, {0x83, 0x02})},
  };
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].at, expected[i].at);
    EXPECT_EQ(got[i].frame, expected[i].frame);
  }
  // On the line: RTU frames to the unit's address, one after the other.
  ASSERT_EQ(onLine.size(), 6U);
  EXPECT_EQ(onLine[0], kx::BuildRtuFrame(Bytes{1, 0x03, 0x47, 0x01, 0x00, 0x01}));
  EXPECT_EQ(onLine[2], kx::BuildRtuFrame(Bytes{3, 0x03, 0x47, 0x01, 0x00, 0x01}));
  EXPECT_EQ(gateway.state(), Gw::State::Idle);
  EXPECT_EQ(gateway.NextDeadline(), std::nullopt);
}

TEST_F(GatewayTest, BroadcastIsCarriedOutUnansweredAndTheNextRequestFollowsTheGap) {
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  Controller& other = Add(Model::Kx3, 2, "9600-8N1-rtu");
  gateway.Handle(
      Gw::ClientBytes{Cat({Mbap(9, 0, {0x06, 0x47, 0x01, 0x02, 0x58}), Mbap(10, 1, {0x03, 0x47, 0x01, 0x00, 0x01})})});
  RunUntil(2s);
  EXPECT_EQ(other.Register(0x4701), 0x0258);
  ASSERT_EQ(got.size(), 1U) << "the broadcast is not answered";
  EXPECT_EQ(got[0].frame, Mbap(10, 1, {0x03, 2, 0x02, 0x58}));
  EXPECT_EQ(got[0].at, kGap);
  // A broadcast read is sent and not answered either.
  gateway.Handle(Gw::ClientBytes{Mbap(11, 0, {0x03, 0x47, 0x01, 0x00, 0x01})});
  RunUntil(4s);
  EXPECT_EQ(got.size(), 1U);
  EXPECT_EQ(onLine.size(), 3U);
}

TEST_F(GatewayTest, AStreamItCannotFollowEndsTheConnectionAfterTheRequestsBeforeIt) {
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  const Bytes good = Mbap(1, 1, {0x03, 0x47, 0x01, 0x00, 0x01});
  struct Broken {
    const char* name;
    Bytes header;
  };
  for (const Broken& b : {Broken{"protocol 1", {0, 2, 0, 1, 0, 6, 1}}, Broken{"length 1", {0, 2, 0, 0, 0, 1, 1}},
                          Broken{"length 255", {0, 2, 0, 0, 0, 0xFF, 1}}}) {
    SCOPED_TRACE(b.name);
    gateway.Reset();
    got.clear();
    gateway.Handle(Gw::ClientBytes{Cat({good, b.header, good})});
    EXPECT_EQ(gateway.ClientRoom(), 0U) << "nothing more is read";
    EXPECT_FALSE(gateway.Finished()) << "the request before the break is still to answer";
    RunUntil(now + 1s);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].frame, Mbap(1, 1, {0x03, 2, 0x01, 0x2C}));
    EXPECT_TRUE(gateway.Finished());
  }
  gateway.Reset();
  EXPECT_FALSE(gateway.Finished());
  EXPECT_EQ(gateway.ClientRoom(), Gw::kMaxBuffered);
}

TEST_F(GatewayTest, ReadsNoMoreOfTheClientThanItKeeps) {
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  const Bytes request = Mbap(1, 1, {0x03, 0x47, 0x01, 0x00, 0x01});
  Bytes flood;
  while (flood.size() + request.size() <= Gw::kMaxBuffered) flood.insert(flood.end(), request.begin(), request.end());
  gateway.Handle(Gw::ClientBytes{flood});
  EXPECT_EQ(gateway.ClientRoom(), Gw::kMaxBuffered - flood.size());
  const std::size_t partial = gateway.ClientRoom();  // less than a request
  gateway.Handle(Gw::ClientBytes{std::span(request).first(partial)});
  EXPECT_EQ(gateway.ClientRoom(), 0U);
  RunUntil(1s);
  EXPECT_EQ(got.size(), flood.size() / request.size());
  EXPECT_EQ(gateway.ClientRoom(), Gw::kMaxBuffered - partial) << "answered requests make room";
}

class EchoingGatewayTest : public GatewayTest {
 protected:
  EchoingGatewayTest() : GatewayTest(true) {}
};

TEST_F(EchoingGatewayTest, DropsTheLinesEchoAndHandsTheClientACopyAheadOfTheAnswer) {
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  line.SetTiming(true);
  line.SetTurnaround(2ms);
  // A write, whose answer is the request itself: the echo must not be taken for it.
  const Bytes write = Mbap(7, 1, {0x06, 0x47, 0x01, 0x01, 0x90});
  const Bytes read = Mbap(8, 1, {0x03, 0x47, 0x01, 0x00, 0x01});
  const Bytes silent = Mbap(9, 4, {0x03, 0x47, 0x01, 0x00, 0x01});
  gateway.Handle(Gw::ClientBytes{Cat({write, read, silent})});
  RunUntil(3s);
  ASSERT_EQ(got.size(), 6U);
  EXPECT_EQ(got[0].frame, write);
  EXPECT_EQ(got[0].at, 0s);
  EXPECT_EQ(got[1].frame, write) << "the answer";
  // 8 + 8 characters of 10 bits at 9600 bit/s and the 2 ms turnaround.
  EXPECT_EQ(got[1].at, SimTime(2ms + 16667us));
  EXPECT_EQ(got[2].frame, read);
  EXPECT_EQ(got[3].frame, Mbap(8, 1, {0x03, 2, 0x01, 0x90}));
  EXPECT_EQ(got[4].frame, silent);
  EXPECT_EQ(got[5].frame, Mbap(9, 4, {0x83, 0x0B}));
}

// The gateway alone, fed by hand what a line might send back.
TEST(GatewayAnswerTest, TakesOnlyACleanFrameFromTheUnitEndedByLengthOrSilence) {
  constexpr SimTime kGap = 4010us;
  Gw gateway({1s, kGap, false});
  const auto ask = [&](std::uint16_t transaction, const Bytes& pdu) {
    gateway.Handle(Gw::ClientBytes{Mbap(transaction, 2, pdu)});
    gateway.Handle(Gw::Tick{0us});
    EXPECT_EQ(gateway.state(), Gw::State::Awaiting);
    return gateway.TakeForLine();
  };
  const auto line = [&](std::span<const std::uint8_t> bytes, SimTime at) { gateway.Handle(Gw::LineBytes{bytes, at}); };

  // Another unit's answer, then a damaged one, then the right one, in one piece.
  EXPECT_EQ(ask(1, {0x03, 0x47, 0x01, 0x00, 0x01}), kx::BuildRtuFrame(Bytes{2, 0x03, 0x47, 0x01, 0x00, 0x01}));
  Bytes damaged = kx::BuildRtuFrame(Bytes{2, 0x03, 2, 0x00, 0x07});
  damaged.back() ^= 1;
  line(Cat({kx::BuildRtuFrame(Bytes{3, 0x03, 2, 0x00, 0x05}), damaged,
            kx::BuildRtuFrame(Bytes{2, 0x03, 2, 0x00, 0x09})}),
       10ms);
  EXPECT_EQ(gateway.TakeForClient(), Mbap(1, 2, {0x03, 2, 0x00, 0x09}));
  EXPECT_EQ(gateway.state(), Gw::State::Idle);

  // A function whose answer length is unknown: complete when the line falls silent.
  ask(2, {0x11});
  const Bytes report = kx::BuildRtuFrame(Bytes{2, 0x11, 3, 0x4B, 0x58, 0xFF});
  line(std::span(report).first(4), 10ms);
  line(std::span(report).subspan(4), 12ms);
  EXPECT_EQ(gateway.NextDeadline(), SimTime(12ms + kGap));
  gateway.Handle(Gw::Tick{12ms + kGap - 1us});
  EXPECT_TRUE(gateway.TakeForClient().empty());
  gateway.Handle(Gw::Tick{12ms + kGap});
  EXPECT_EQ(gateway.TakeForClient(), Mbap(2, 2, {0x11, 3, 0x4B, 0x58, 0xFF}));

  // Noise ahead of the answer spoils it: after the silence it is dropped and
  // the time-out answers.
  ask(3, {0x03, 0x47, 0x01, 0x00, 0x01});
  line(Cat({Bytes{0x55}, kx::BuildRtuFrame(Bytes{2, 0x03, 2, 0x00, 0x09})}), 10ms);
  gateway.Handle(Gw::Tick{10ms + kGap});
  EXPECT_TRUE(gateway.TakeForClient().empty());
  EXPECT_EQ(gateway.NextDeadline(), SimTime(1s));
  gateway.Handle(Gw::Tick{1s});
  EXPECT_EQ(gateway.TakeForClient(), Mbap(3, 2, {0x83, 0x0B}));

  // What the line sends while nothing is asked is dropped.
  line(kx::BuildRtuFrame(Bytes{2, 0x03, 2, 0x00, 0x09}), 2s);
  EXPECT_TRUE(gateway.TakeForClient().empty());
  EXPECT_EQ(gateway.NextDeadline(), std::nullopt);
}

}  // namespace
}  // namespace kxsim
