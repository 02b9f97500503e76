#include "core/traffic/traffic_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/exchange/requests.h"
#include "core/text/messages.h"
#include "kxsim/controller.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

constexpr LineFormat kRtu{38400, 8, Parity::None, 1, FrameForm::Rtu};
constexpr LineFormat kAscii{9600, 7, Parity::Even, 1, FrameForm::Ascii};

Bytes Frame(FrameForm form, const Bytes& pdu) { return BuildFrame(form, pdu); }

class TrafficLogTest : public ::testing::Test {
 protected:
  // A request at `at` ms answered `replyMs` later (nothing answered when empty).
  void Exchange(const Bytes& request, const Bytes& answer, double at, double replyMs) {
    log.Sent(request, static_cast<std::int64_t>(at * 1000));
    if (!answer.empty()) log.Received(answer, static_cast<std::int64_t>((at + replyMs) * 1000));
  }
  TrafficLog log;
};

TEST_F(TrafficLogTest, PairsRequestAndAnswerWithReplyTimeAndTraceLine) {
  log.SetLine(kAscii);
  const Bytes request = Frame(FrameForm::Ascii, ReadRequestPdu(1, 0x03, 0x4701, 1));
  const Bytes answer = Frame(FrameForm::Ascii, {0x01, 0x03, 0x02, 0x00, 0x64});
  log.Sent(request, 1'000'000);
  // The answer in two chunks: it ends with the LF of the second.
  log.Received(std::span(answer).first(5), 1'020'000);
  EXPECT_EQ(log.Frames().size(), 1U);
  log.Received(std::span(answer).subspan(5), 1'037'250);
  ASSERT_EQ(log.Frames().size(), 2U);
  const TrafficFrame& rx = log.Frames().back();
  EXPECT_EQ(rx.direction, Direction::Rx);
  EXPECT_EQ(rx.failure, Failure::None);
  EXPECT_EQ(rx.address, 1);
  EXPECT_EQ(rx.function, 0x03);
  EXPECT_DOUBLE_EQ(*rx.replyMs, 37.25);

  // 10:15:02.123 of the day.
  const std::int64_t tod = ((10 * 60 + 15) * 60 + 2) * 1'000'000LL + 123'456;
  EXPECT_EQ(TraceLine(log.Frames().front(), tod),
            "10:15:02.123 TX 3A 30 31 30 33 34 37 30 31 30 30 30 31 42 33 0D 0A  \":010347010001B3\"");
  EXPECT_EQ(TraceLine(rx, tod), "10:15:02.123 RX 3A 30 31 30 33 30 32 30 30 36 34 39 36 0D 0A  \":010302006496\"  good  37.2 ms");
}

TEST_F(TrafficLogTest, CountsFailuresByKind) {
  log.SetLine(kRtu);
  const Bytes read = Frame(FrameForm::Rtu, ReadRequestPdu(1, 0x03, 0x4700, 1));
  const Bytes write = Frame(FrameForm::Rtu, WriteRegisterPdu(1, 0x4722, 5));
  Bytes badCrc = Frame(FrameForm::Rtu, {0x01, 0x03, 0x02, 0x00, 0x64});
  badCrc.back() ^= 0xFF;
  struct Case {
    const char* name;
    Bytes request, answer;
    Failure failure;
  };
  const Case cases[] = {
      {"good", read, Frame(FrameForm::Rtu, {0x01, 0x03, 0x02, 0x00, 0x64}), Failure::None},
      {"crc", read, badCrc, Failure::Checksum},
      {"exception", read, Frame(FrameForm::Rtu, {0x01, 0x83, 0x02}), Failure::Exception},
      {"other address", read, Frame(FrameForm::Rtu, {0x02, 0x03, 0x02, 0x00, 0x64}), Failure::WrongAddress},
      {"echo differs", write, Frame(FrameForm::Rtu, WriteRegisterPdu(1, 0x4722, 6)), Failure::EchoMismatch},
      {"silent", read, {}, Failure::TimedOut},
  };
  double at = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange(c.request, c.answer, at, 8);
    log.Settle(static_cast<std::int64_t>((at + 100) * 1000));
    EXPECT_EQ(log.Frames().back().failure, c.failure);
    at += 200;
  }
  const auto s = log.StatsOf(1);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->requests, 6U);
  EXPECT_EQ(s->good, 1U);
  EXPECT_EQ(s->checkErrors, 1U);
  EXPECT_EQ(s->exceptions, 1U);
  EXPECT_EQ(s->otherErrors, 2U);
  EXPECT_EQ(s->timeouts, 1U);
  EXPECT_NE(TraceLine(log.Frames().back(), 0).find("no answer: " + std::string(Text(Msg::DataTimeOutError))),
            std::string::npos);
  // A request that the next one overtakes went unanswered.
  Exchange(read, {}, at, 0);
  Exchange(read, Frame(FrameForm::Rtu, {0x01, 0x03, 0x02, 0x00, 0x64}), at + 100, 9);
  EXPECT_EQ(log.StatsOf(1)->timeouts, 2U);
  EXPECT_EQ(log.StatsOf(1)->good, 2U);
}

TEST_F(TrafficLogTest, ReplyTimeSpreadAndSuggestedTimeout) {
  log.SetLine(kRtu);
  const Bytes read = Frame(FrameForm::Rtu, ReadRequestPdu(4, 0x03, 0x4700, 1));
  const Bytes answer = Frame(FrameForm::Rtu, {0x04, 0x03, 0x02, 0x00, 0x64});
  for (int i = 1; i <= 100; ++i) Exchange(read, answer, i * 1000.0, i);  // replies of 1..100 ms
  const auto s = log.StatsOf(4);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->good, 100U);
  EXPECT_DOUBLE_EQ(*s->minMs, 1);
  EXPECT_DOUBLE_EQ(*s->maxMs, 100);
  EXPECT_DOUBLE_EQ(*s->meanMs, 50.5);
  EXPECT_DOUBLE_EQ(*s->p50Ms, 50);
  EXPECT_DOUBLE_EQ(*s->p95Ms, 95);
  EXPECT_EQ(s->suggestedTimeoutMs, 150);
  EXPECT_FALSE(log.StatsOf(5).has_value());

  // The margin: at least 20 ms above the slowest reply, never below the line time.
  EXPECT_EQ(SuggestedTimeoutMs(10, 3), 30);
  EXPECT_EQ(SuggestedTimeoutMs(100, 3), 150);
  EXPECT_EQ(SuggestedTimeoutMs(5, 300), 320);
  EXPECT_EQ(Percentile({}, 50), std::nullopt);
  EXPECT_EQ(Percentile({7}, 95), 7);
}

TEST_F(TrafficLogTest, KeepsTheLastFramesAndShowsWhatNobodyAskedFor) {
  TrafficLog small(3);
  small.SetLine(kRtu);
  const Bytes read = Frame(FrameForm::Rtu, ReadRequestPdu(1, 0x03, 0x4700, 1));
  for (int i = 0; i < 4; ++i) small.Sent(read, i * 100'000);
  small.Settle(500'000);
  EXPECT_EQ(small.Frames().size(), 3U);
  EXPECT_EQ(small.Added(), 8U);  // four requests, four unanswered
  EXPECT_EQ(small.StatsOf(1)->timeouts, 4U);

  // A broadcast waits for nothing; bytes that come anyway are shown, not counted.
  log.SetLine(kRtu);
  log.Sent(Frame(FrameForm::Rtu, WriteRegisterPdu(0, 0x4722, 1)), 0);
  log.Received(Bytes{0xFF, 0x00}, 1000);
  log.Settle(2000);
  ASSERT_EQ(log.Frames().size(), 2U);
  EXPECT_EQ(log.Frames().back().direction, Direction::Rx);
  EXPECT_TRUE(log.Stats().empty());
  log.Clear();
  EXPECT_TRUE(log.Frames().empty());
  EXPECT_EQ(log.Added(), 2U);
}

// The port's tap sees what the exchange writes and what kxsim's controllers
// answer, at the simulated line's own times.
TEST(TrafficTap, SeesEveryExchangeOnTheSimulatedBus) {
  test::FakePort port;
  test::SimBus bus(port);
  bus.Add("kx2@1:38400-8N1-rtu");
  bus.Add("kx2@2:38400-8N1-rtu,fault=badcheck");
  bus.Add("kx2@3:38400-8N1-rtu,fault=exception");
  port.SetBaud(38400);
  port.SetDatabits(8);
  port.SetParity(Parity::None);
  port.SetStopbits(1);
  ASSERT_TRUE(port.Open());
  TrafficLog log;
  log.SetLine(kRtu);
  port.SetTap(&log);
  Exchange exchange(port);
  exchange.Opened();
  std::optional<Answer> answer;
  port.SetOnTrigger([&](ComPort&, const PortEvent& e) {
    if (auto a = exchange.Handle(e)) answer = std::move(a);
  });
  auto poll = [&](std::uint8_t address) {
    answer.reset();
    exchange.Send(ReadRequest(kRtu, address, 0x4700, 1));
    EXPECT_TRUE(bus.RunUntil([&] { return answer.has_value(); }, 100));
  };
  for (int i = 0; i < 3; ++i) poll(1);
  poll(2);
  poll(3);
  poll(9);  // nobody there
  log.Settle(bus.now().count());

  const auto one = log.StatsOf(1);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->requests, 3U);
  EXPECT_EQ(one->good, 3U);
  // 8 + 7 bytes of 10 bits at 38400 bit/s (3.906 ms) and the 2 ms turnaround.
  EXPECT_NEAR(*one->minMs, 5.906, 0.01);
  EXPECT_NEAR(*one->maxMs, 5.906, 0.01);
  EXPECT_EQ(one->suggestedTimeoutMs, 30);
  EXPECT_EQ(log.StatsOf(2)->checkErrors, 1U);
  EXPECT_EQ(log.StatsOf(3)->exceptions, 1U);
  EXPECT_EQ(log.StatsOf(9)->timeouts, 1U);
  // What the exchange decided agrees with what the tap saw.
  EXPECT_EQ(answer->failure, Failure::TimedOut);
  EXPECT_EQ(log.Frames().size(), 12U);
  port.SetTap(nullptr);
}

}  // namespace
}  // namespace kx
