// The exchange on lines that echo each request and on lines reached over the
// network (ComPort::Traits): the echo dropped and checked, the waits grown by
// the network allowance, and answers not cut short by a gap in a stream.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "core/exchange/exchange.h"
#include "core/exchange/requests.h"
#include "core/text/messages.h"
#include "support/fake_port.h"

namespace kx {
namespace {

const LineFormat kRtu{9600, 8, Parity::None, 1, FrameForm::Rtu};
const LineFormat kAscii{9600, 7, Parity::Even, 1, FrameForm::Ascii};

Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class LineTraitsExchange : public ::testing::Test {
 protected:
  void Start(LineTraits traits) {
    port_.traits = traits;
    ASSERT_TRUE(port_.Open());
    exchange_.Opened();
    port_.SetOnTrigger([this](ComPort&, const PortEvent& e) {
      if (auto a = exchange_.Handle(e)) answers_.push_back(std::move(*a));
    });
  }
  const Answer& Only() const {
    EXPECT_EQ(answers_.size(), 1U);
    return answers_.front();
  }

  test::FakePort port_;
  Exchange exchange_{port_};
  std::vector<Answer> answers_;
};

const Bytes kReadAnswer = BuildRtuFrame(Bytes{0x01, 0x03, 0x02, 0x00, 0x64});

TEST_F(LineTraitsExchange, EchoIsDroppedBeforeTheAnswerWhereverTheChunksSplit) {
  Start({.echoes = true});
  for (const std::vector<std::size_t>& cuts : {std::vector<std::size_t>{}, {3}, {8}, {8, 9}, {10}}) {
    answers_.clear();
    ExchangeRequest r = ReadRequest(kRtu, 1, 0x4700, 1);
    const Bytes request = r.frame;
    exchange_.Send(std::move(r));
    port_.FeedSplit(Joined(request, kReadAnswer), cuts);
    ASSERT_EQ(answers_.size(), 1U) << ::testing::PrintToString(cuts);
    EXPECT_TRUE(Only().Ok()) << Only().FailureText();
    EXPECT_EQ(Only().raw, kReadAnswer);
    EXPECT_EQ(Only().Word(0), 100);
  }
  // ASCII: the echo's LF does not end the answer.
  ExchangeRequest r = ReadRequest(kAscii, 1, 0x4700, 1);
  const Bytes request = r.frame;
  answers_.clear();
  exchange_.Send(std::move(r));
  port_.Feed(request);
  EXPECT_TRUE(answers_.empty());
  port_.Feed(":010302006496\r\n");
  EXPECT_TRUE(Only().Ok()) << Only().FailureText();
}

TEST_F(LineTraitsExchange, AnythingButTheEchoFailsAtOnce) {
  Start({.echoes = true});
  struct Case {
    const char* name;
    std::size_t echoed;  // bytes of the request that come back right
    Bytes then;
    Bytes raw;  // what the answer keeps: from the first byte that differs
  };
  const Case cases[] = {
      // The answer starts with the request's address and function.
      {"no echo, the answer at once", 0, kReadAnswer, Bytes(kReadAnswer.begin() + 2, kReadAnswer.end())},
      {"a byte of the echo wrong", 3, {0x99, 0x00}, {0x99, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_.clear();
    ExchangeRequest r = ReadRequest(kRtu, 1, 0x4700, 1);
    Bytes line(r.frame.begin(), r.frame.begin() + static_cast<std::ptrdiff_t>(c.echoed));
    exchange_.Send(std::move(r));
    port_.Feed(Joined(line, c.then));
    ASSERT_EQ(answers_.size(), 1U);
    EXPECT_EQ(Only().failure, Failure::LineEcho);
    EXPECT_EQ(Only().FailureText(), Text(Msg::LineEchoWrong));
    EXPECT_EQ(Only().raw, c.raw);
    EXPECT_FALSE(exchange_.pending());
    EXPECT_FALSE(ProbeHit(Only(), 1, FrameForm::Rtu));
  }
}

TEST_F(LineTraitsExchange, TheWaitForTheAnswerStartsWhenTheEchoIsWhole) {
  Start({.echoes = true});
  ExchangeRequest r = ReadRequest(kRtu, 1, 0x4700, 1);
  const int wait = r.firstWaitTicks;
  const Bytes request = r.frame;
  exchange_.Send(std::move(r));
  port_.Tick(wait - 1);
  port_.Feed(request);
  port_.Tick(wait - 1);
  EXPECT_TRUE(answers_.empty());
  port_.Feed(kReadAnswer);
  EXPECT_TRUE(Only().Ok());

  // A broadcast: the echo, then nobody; the end of the wait acknowledges it
  // with nothing received.
  answers_.clear();
  ExchangeRequest b = BroadcastWriteRequest(kRtu, 0x4722, 1);
  const Bytes broadcast = b.frame;
  exchange_.Send(std::move(b));
  port_.Feed(broadcast);
  port_.RunTimers(100);
  EXPECT_EQ(Only().end, AnswerEnd::TimedOut);
  EXPECT_TRUE(Only().raw.empty());
}

TEST_F(LineTraitsExchange, NetworkWaitsGrowByTheAllowance) {
  Start({.network = true});
  ExchangeRequest r = ReadRequest(kRtu, 1, 0x4700, 1);
  const int wait = r.firstWaitTicks;
  const int deadline = DeadlineTicks(r);
  exchange_.Send(std::move(r));
  EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), wait + kNetworkAllowanceTicks);
  EXPECT_EQ(exchange_.deadlineTicks(), deadline + 2 * kNetworkAllowanceTicks);
  port_.Tick(wait + kNetworkAllowanceTicks - 1);
  port_.Feed(kReadAnswer);
  EXPECT_TRUE(Only().Ok());

  ExchangeRequest own = ReadRequest(kRtu, 1, 0x4700, 1);
  own.deadlineTicks = 40;
  exchange_.Send(std::move(own));
  EXPECT_EQ(exchange_.deadlineTicks(), 40 + kNetworkAllowanceTicks);
}

TEST_F(LineTraitsExchange, OverTheNetworkAGapEndsOnlyAnswersOfUnknownLength) {
  struct Case {
    const char* name;
    FrameEnd rule;
    Bytes first, rest;  // a gap longer than the re-arm wait between them
    bool endsAtGap;
  };
  const Bytes ident = BuildRtuFrame(Bytes{0x01, 0x67, 0x06, 0, 2, 0, 1, 0, 0});
  const Bytes other = BuildRtuFrame(Bytes{0x01, 0x2B, 0x0E, 0x01});
  const Case cases[] = {
      {"read, cut in the data", frame_end::RtuByFunction{}, Bytes(kReadAnswer.begin(), kReadAnswer.begin() + 4),
       Bytes(kReadAnswer.begin() + 4, kReadAnswer.end()), false},
      {"identification, cut after the address", frame_end::RtuByFunction{}, Bytes{0x01},
       Bytes(ident.begin() + 1, ident.end()), false},
      {"shared rule, 03", frame_end::RtuShared{}, Bytes(kReadAnswer.begin(), kReadAnswer.begin() + 2),
       Bytes(kReadAnswer.begin() + 2, kReadAnswer.end()), false},
      {"a function of unknown length", frame_end::RtuByFunction{}, other, {}, true},
      {"silence rule (the tester)", frame_end::Silence{}, kReadAnswer, {}, true},
  };
  Start({.network = true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answers_.clear();
    ExchangeRequest r = ExchangeRequest::For(FrameForm::Rtu, Bytes{0x01, 0x03}, 2, 2, LineTiming{9600, 10});
    r.end = c.rule;
    exchange_.Send(std::move(r));
    port_.Feed(c.first);
    port_.Tick(2 + kNetworkAllowanceTicks);
    EXPECT_EQ(answers_.size(), c.endsAtGap ? 1U : 0U);
    if (c.endsAtGap) continue;
    port_.Feed(c.rest);
    ASSERT_EQ(answers_.size(), 1U);
    EXPECT_EQ(Only().end, AnswerEnd::Complete);
    EXPECT_EQ(Only().raw, Joined(c.first, c.rest));
  }
  // A part of an answer and then nothing: timed out at the deadline.
  answers_.clear();
  exchange_.Send(ReadRequest(kRtu, 1, 0x4700, 1));
  port_.Feed(Bytes(kReadAnswer.begin(), kReadAnswer.begin() + 3));
  port_.RunTimers(100);
  EXPECT_EQ(Only().end, AnswerEnd::TimedOut);
  EXPECT_TRUE(Only().deadlineReached);
}

// Behind a gateway the waits leave room for the gateway's own time-out, and
// its exceptions 0x0A and 0x0B end the request at once as a time-out with
// nothing received; a controller's own exception is an exception.
TEST_F(LineTraitsExchange, AGatewaysOwnExceptionsAreNoAnswer) {
  Start({.network = true, .gateway = true});
  for (const LineFormat& line : {kRtu, kAscii}) {
    for (const std::uint8_t code : std::initializer_list<std::uint8_t>{0x0A, 0x0B, 0x02}) {
      SCOPED_TRACE(static_cast<int>(code));
      answers_.clear();
      ExchangeRequest r = ReadRequest(line, 1, 0x4700, 1);
      const int wait = r.firstWaitTicks;
      exchange_.Send(std::move(r));
      EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), wait + kNetworkAllowanceTicks + kGatewayAllowanceTicks);
      port_.Feed(BuildFrame(line.form, Bytes{0x01, 0x83, code}));
      ASSERT_EQ(answers_.size(), 1U);
      if (code == 0x02) {
        EXPECT_EQ(Only().failure, Failure::Exception);
        continue;
      }
      EXPECT_EQ(Only().end, AnswerEnd::TimedOut);
      EXPECT_EQ(Only().FailureText(), Text(Msg::DataTimeOutError));
      EXPECT_TRUE(Only().raw.empty());
    }
  }
  // A broadcast waits no gateway time-out: nothing answers it.
  ExchangeRequest b = BroadcastWriteRequest(kRtu, 0x4722, 1);
  const int wait = b.firstWaitTicks;
  exchange_.Send(std::move(b));
  EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), wait + kNetworkAllowanceTicks);
}

TEST_F(LineTraitsExchange, ALocalLineStillEndsAPartialAnswerBySilence) {
  Start({});
  exchange_.Send(ReadRequest(kRtu, 1, 0x4700, 1));
  port_.Feed(Bytes(kReadAnswer.begin(), kReadAnswer.begin() + 4));
  port_.Tick(2);
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_FALSE(Only().deadlineReached);
  EXPECT_EQ(Only().failure, Failure::Checksum);
}

}  // namespace
}  // namespace kx
