#include "core/exchange/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/device/regmap.h"
#include "core/exchange/requests.h"
#include "core/text/messages.h"
#include "support/fake_port.h"

namespace kx {
namespace {

// Complete at `n` bytes (a protocol that knows its answer's length).
FrameEnd CountOf(std::size_t n, bool silenceEnds) {
  return frame_end::Custom{[n](std::span<const std::uint8_t> b) {
                             return b.size() >= n ? FrameProgress::Complete : FrameProgress::More;
                           },
                           silenceEnds, n};
}

Bytes AsciiBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Frame(FrameForm form, const Bytes& pdu) { return BuildFrame(form, pdu); }

constexpr LineTiming k9600{9600, 10};

TEST(RtuExpectedLength, FollowsTheSharedRule) {
  struct Case {
    Bytes received;
    int current;
    int expected;
  };
  const Case cases[] = {
      {{0x01}, 8, 250},
      {{0x01, 0x06}, 250, 8},
      {{0x01, 0x03}, 250, 250},
      {{0x01, 0x10}, 250, 250},
      {{0x01, 0x03, 0x04}, 250, 9},
      {{0x01, 0x03, 0xFF}, 250, 260},
      {{0x01, 0x67, 0x04}, 250, 250},  // only function 03 takes the byte count
      {{0x01, 0x06, 0x47}, 8, 8},
      {{0x01, 0x03, 0x04, 0x00}, 9, 9},
      {{}, 42, 42},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RtuExpectedLength(c.received, c.current), c.expected)
        << ::testing::PrintToString(c.received);
  }
}

// Where each rule ends an answer delivered in one piece: the length at which
// it completes, or 0 when only silence (or nothing) ends it.
TEST(FrameEndRules, CompleteAtTheirLength) {
  const Bytes read = BuildRtuFrame(Bytes{0x01, 0x03, 0x04, 0x00, 0x64, 0x00, 0xC8});
  const Bytes ident = BuildRtuFrame(Bytes{0x01, 0x67, 0x06, 0, 2, 0, 1, 0, 0});
  const Bytes multi = BuildRtuFrame(Bytes{0x01, 0x10, 0x47, 0x00, 0x00, 0x02});
  const Bytes exc = BuildRtuFrame(Bytes{0x01, 0x83, 0x02});
  const Bytes loader{0x55, 0x01, 0x05, 0x00, 0x01, 0x02, 0x03};
  const frame_end::Custom startsWith01{[](std::span<const std::uint8_t> b) {
    if (b[0] != 0x01) return FrameProgress::Restart;
    return b.size() >= 5 ? FrameProgress::Complete : FrameProgress::More;
  }};
  struct Case {
    const char* name;
    FrameEnd rule;
    Bytes bytes;
    std::size_t completeAt;  // 0: still collecting
    bool silenceEnds;
  };
  const Case cases[] = {
      {"shared 03", frame_end::RtuShared{}, read, 9, true},
      {"shared 06", frame_end::RtuShared{}, BuildRtuFrame(WriteRegisterPdu(1, 0x4722, 1)), 8, true},
      {"shared 10 by silence", frame_end::RtuShared{}, multi, 0, true},
      {"shared 67 by silence", frame_end::RtuShared{}, ident, 0, true},
      {"by function 67", frame_end::RtuByFunction{}, ident, 11, true},
      {"by function 10", frame_end::RtuByFunction{}, multi, 8, true},
      {"by function exception", frame_end::RtuByFunction{}, exc, 5, true},
      {"by function KX1 identification",
       frame_end::RtuByFunction{}, BuildRtuFrame(Bytes{0x01, 0x77, 0x02, 0, 1}), 7, true},
      // A request to a controller ends each of its answers at the answer's length.
      {"default RTU 67", DefaultFrameEnd(FrameForm::Rtu), ident, 11, true},
      {"default RTU exception", DefaultFrameEnd(FrameForm::Rtu), exc, 5, true},
      {"silence", frame_end::Silence{}, read, 0, true},
      {"count", CountOf(5, true), exc, 5, true},
      {"count, no silence end", CountOf(6, false), loader, 6, false},
      {"custom drops noise before 01", startsWith01, loader, 5, false},
      {"line needs LF last", frame_end::Line{}, AsciiBytes(":0103\r\nX"), 0, false},
      {"line", frame_end::Line{}, AsciiBytes(":0103\r\n"), 7, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameCollector collector(c.rule, 256);
    collector.Add(c.bytes);
    EXPECT_EQ(collector.state() == FrameCollector::State::Complete, c.completeAt != 0);
    if (c.completeAt != 0) {
      EXPECT_EQ(collector.Received().size(), c.completeAt);
    }
    EXPECT_EQ(SilenceEnds(c.rule), c.silenceEnds);
  }
}

TEST(Deadline, CoversTheLongestAnswerAtTheLineSpeed) {
  // 260 bytes of 10 bits at 9600 bit/s take 271 ms: 5 ticks.
  EXPECT_EQ(k9600.TransmitTicks(260), 5);
  EXPECT_EQ((LineTiming{2400, 11}).TransmitTicks(256), 22);
  EXPECT_EQ(TimingOf(PortParams{1, 19200, 8, 0, 1, true}).bitsPerChar, 10);
  EXPECT_EQ(TimingOf(PortParams{1, 19200, 7, 1, 2, false}).bitsPerChar, 11);

  ExchangeRequest r = ExchangeRequest::For(FrameForm::Rtu, {}, 2, 2, k9600);
  EXPECT_EQ(DeadlineTicks(r), 2 + 5 + 2 + 1);
  r.graceBelow = 9;
  EXPECT_EQ(DeadlineTicks(r), 2 + 5 + 2 + 2 + 1);
  r.deadlineTicks = 40;
  EXPECT_EQ(DeadlineTicks(r), 40);
  r = ExchangeRequest::For(FrameForm::Ascii, {}, 18, 18, k9600);
  r.capacity = 100;
  EXPECT_EQ(DeadlineTicks(r), 18 + 2 + 18 + 1);
}

TEST(Deadline, OneWireTimeFormula) {
  // Rounded up: one character of 10 bits at 9600 bit/s is 1041.7 us.
  EXPECT_EQ(k9600.WireMicros(1), 1042);
  EXPECT_EQ((LineTiming{38400, 10}).WireMicros(384), 100000);
  EXPECT_EQ(TimingOf(LineFormat{38400, 8, Parity::None, 1, FrameForm::Rtu}).bitsPerChar, 10);
  EXPECT_EQ(TimingOf(LineFormat{9600, 7, Parity::Even, 2, FrameForm::Ascii}).bitsPerChar, 11);
}

TEST(TimeoutPolicy, OneTableOfFirstWaits) {
  const LineFormat ascii{9600, 7, Parity::Even, 1, FrameForm::Ascii};
  const LineFormat rtuFast{9600, 8, Parity::None, 1, FrameForm::Rtu};
  const LineFormat rtuSlow{4800, 8, Parity::None, 1, FrameForm::Rtu};
  struct Case {
    RequestKind kind;
    int ascii, rtuFast, rtuSlow;
  };
  const Case cases[] = {
      {RequestKind::Read, 18, 2, 3},        {RequestKind::Identify, 18, 2, 3},
      {RequestKind::Write, 50, 2, 3},       {RequestKind::Broadcast, 5, 2, 3},
      {RequestKind::Acquisition, 18, 2, 3}, {RequestKind::Probe, 2, 2, 2},
      {RequestKind::SetupStep, 18, 18, 18}, {RequestKind::Tester, 18, 18, 18},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    EXPECT_EQ(WaitTicks(c.kind, ascii), c.ascii);
    EXPECT_EQ(WaitTicks(c.kind, rtuFast), c.rtuFast);
    EXPECT_EQ(WaitTicks(c.kind, rtuSlow), c.rtuSlow);
  }
  // A long read waits at least as long as request and answer take on the line:
  // 8 + 205 bytes of 10 bits at 9600 bit/s are 222 ms, 5 ticks, plus one.
  EXPECT_EQ(WaitTicks(RequestKind::Read, rtuFast, RtuReadAnswerLength(100)), 6);
  EXPECT_EQ(WaitTicks(RequestKind::Read, ascii, AsciiReadAnswerLength(3)), 18);
  // Built requests carry the policy's waits.
  EXPECT_EQ(WriteRequest(ascii, 1, 0x4722, 1).firstWaitTicks, 50);
  EXPECT_EQ(BroadcastWriteRequest(rtuSlow, 0x4722, 1).rearmTicks, 3);
  EXPECT_FALSE(BroadcastWriteRequest(rtuSlow, 0x4722, 1).expect.has_value());
}

// An exchange on an open fake port; Handle's answers are kept in order.
class ExchangeOnPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.Open());
    exchange_.Opened();
    port_.SetOnTrigger([this](ComPort&, const PortEvent& e) {
      if (auto a = exchange_.Handle(e)) answers_.push_back(std::move(*a));
    });
  }
  std::uint32_t Send(FrameForm form, int firstWait = kFirstWait, int rearm = kRearm) {
    ExchangeRequest r = ExchangeRequest::For(form, Bytes{0x01, 0x03}, firstWait, rearm, k9600);
    return exchange_.Send(std::move(r));
  }
  Bytes Last() const { return answers_.empty() ? Bytes{} : answers_.back().raw; }

  static constexpr int kFirstWait = 18;
  static constexpr int kRearm = 2;
  test::FakePort port_;
  Exchange exchange_{port_};
  std::vector<Answer> answers_;
};

TEST_F(ExchangeOnPort, RtuReadAnswerEndsAtByteCountPlusFiveWithoutWaiting) {
  Send(FrameForm::Rtu);
  EXPECT_EQ(port_.written.size(), 1U);
  const Bytes answer = BuildRtuFrame(Bytes{0x01, 0x03, 0x04, 0x00, 0x64, 0x00, 0xC8});
  Bytes withTrailer = answer;
  withTrailer.push_back(0x55);  // a stray byte in the same event is not part of the answer
  port_.FeedSplit(withTrailer, {1, 2, 3, 5});
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(answers_[0].end, AnswerEnd::Complete);
  EXPECT_EQ(Last(), answer);
  EXPECT_FALSE(port_.Armed(exchange_.SilenceTrigger()));
  EXPECT_FALSE(port_.Armed(exchange_.DeadlineTrigger()));
  EXPECT_EQ(port_.CharsWaiting(), 0U);

  port_.Feed(Bytes{0x01});  // late bytes after the end are read and dropped
  EXPECT_EQ(answers_.size(), 1U);
  EXPECT_EQ(port_.CharsWaiting(), 0U);
}

TEST_F(ExchangeOnPort, RtuAnswerOfOtherFunctionsEndsBySilence) {
  Send(FrameForm::Rtu);
  // 0x11 (report server id): no length known for its answer.
  port_.Feed(BuildRtuFrame(Bytes{0x01, 0x11, 0x03, 0x00, 0x00, 0x02}));
  EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), kRearm);  // silence since the last bytes
  port_.Tick(kRearm - 1);
  EXPECT_TRUE(answers_.empty());
  port_.Tick();
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(answers_[0].end, AnswerEnd::Complete);
  EXPECT_EQ(answers_[0].raw.size(), 8U);
}

TEST_F(ExchangeOnPort, NoAnswerTimesOutInBothFormsAfterTheFirstWait) {
  for (const FrameForm form : {FrameForm::Rtu, FrameForm::Ascii}) {
    answers_.clear();
    Send(form);
    port_.Tick(kFirstWait - 1);
    EXPECT_TRUE(answers_.empty());
    port_.Tick();
    ASSERT_EQ(answers_.size(), 1U);
    EXPECT_EQ(answers_[0].end, AnswerEnd::TimedOut);
    EXPECT_FALSE(answers_[0].deadlineReached);
    EXPECT_FALSE(exchange_.Pending());
  }
}

TEST_F(ExchangeOnPort, AsciiInThreeChunksRearmsTwiceAndEndsOnLf) {
  Send(FrameForm::Ascii);
  const Bytes answer = Frame(FrameForm::Ascii, {0x01, 0x03, 0x02, 0x00, 0x64});
  port_.Tick(10);  // the first wait is measured from the request
  port_.Feed(std::span(answer).first(5));
  EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), kRearm);
  port_.Tick(1);
  port_.Feed(std::span(answer).subspan(5, 6));
  EXPECT_EQ(port_.Remaining(exchange_.SilenceTrigger()), kRearm);
  EXPECT_TRUE(answers_.empty());
  port_.Feed(std::span(answer).subspan(11));
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(answers_[0].Text(), ":010302006496");
}

TEST_F(ExchangeOnPort, AsciiPartialAnswerTimesOutAfterSilenceKeepingItsBytes) {
  Send(FrameForm::Ascii);
  port_.Feed(":0103");
  port_.Tick(kRearm);
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(answers_[0].end, AnswerEnd::TimedOut);
  EXPECT_EQ(answers_[0].Text(), ":0103");
}

TEST_F(ExchangeOnPort, LateExpiryOfThePreviousRequestsTriggerIsIgnored) {
  Send(FrameForm::Ascii);
  const std::uint16_t first = exchange_.SilenceTrigger();
  Send(FrameForm::Ascii);  // the first request is dropped without an answer
  EXPECT_NE(exchange_.SilenceTrigger(), first);
  EXPECT_FALSE(port_.Armed(first));
  port_.Arm(first, 1);  // as if its expiry was already on its way
  port_.Tick();
  EXPECT_TRUE(answers_.empty());
  EXPECT_TRUE(exchange_.Pending());
}

TEST_F(ExchangeOnPort, SendDropsStaleInputAndBytesNobodyAskedForAreDropped) {
  port_.Feed("junk");  // no request: read and dropped
  EXPECT_EQ(port_.CharsWaiting(), 0U);
  EXPECT_TRUE(answers_.empty());
  Send(FrameForm::Ascii);
  port_.Feed(":01\r\n");
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(answers_[0].Text(), ":01");
}

TEST_F(ExchangeOnPort, RtuGraceGivesAShortAnswerOneMoreWait) {
  ExchangeRequest r = ExchangeRequest::For(FrameForm::Rtu, Bytes{1}, 2, 2, k9600);
  r.graceBelow = 11;
  exchange_.Send(std::move(r));
  const Bytes ident = BuildRtuFrame(Bytes{0x01, 0x67, 0x06, 0, 2, 0, 1, 0, 0});
  port_.Feed(std::span(ident).first(6));
  port_.Tick(2);
  EXPECT_TRUE(answers_.empty());  // grace: one more wait
  port_.Feed(std::span(ident).subspan(6));
  port_.Tick(2);
  ASSERT_EQ(answers_.size(), 1U);
  EXPECT_EQ(Last(), ident);

  // Without more bytes the grace wait's expiry ends the short answer.
  r = ExchangeRequest::For(FrameForm::Rtu, Bytes{1}, 2, 2, k9600);
  r.graceBelow = 11;
  exchange_.Send(std::move(r));
  port_.Feed(std::span(ident).first(6));
  port_.Tick(4);
  ASSERT_EQ(answers_.size(), 2U);
  EXPECT_EQ(answers_[1].end, AnswerEnd::Complete);
  EXPECT_EQ(answers_[1].raw.size(), 6U);
}

// Noise that never lets the line fall silent ends at the deadline as a
// time-out, in both forms, with and without line feeds.
TEST_F(ExchangeOnPort, NoiseThatKeepsRestartingTheSilenceWaitEndsAtTheDeadline) {
  struct Case {
    FrameForm form;
    std::string noise;
  };
  const Case cases[] = {{FrameForm::Ascii, "x"}, {FrameForm::Ascii, "\n"}, {FrameForm::Rtu, "\x01"}};
  for (const auto& c : cases) {
    answers_.clear();
    ExchangeRequest r = ExchangeRequest::For(c.form, Bytes{1}, 18, 18, k9600);
    r.end = c.form == FrameForm::Rtu ? FrameEnd{frame_end::RtuShared{}} : CountOf(1000, false);
    if (c.noise == "\n") r.end = frame_end::Line{};
    r.capacity = 4096;
    exchange_.Send(std::move(r));
    const int deadline = exchange_.CurrentDeadlineTicks();
    int ticks = 0;
    while (answers_.empty() && ticks < 1000) {
      // An LF inside a chunk never ends a line answer.
      port_.Feed(c.noise == "\n" ? std::string_view("x\ny") : std::string_view(c.noise));
      port_.Tick();
      ++ticks;
    }
    ASSERT_EQ(answers_.size(), 1U);
    EXPECT_EQ(ticks, deadline);
    EXPECT_EQ(answers_[0].end, AnswerEnd::TimedOut);
    EXPECT_TRUE(answers_[0].deadlineReached);
  }
}

TEST_F(ExchangeOnPort, AFullReceiveBufferEndsTheAnswer) {
  for (const FrameForm form : {FrameForm::Ascii, FrameForm::Rtu}) {
    SCOPED_TRACE(form == FrameForm::Rtu ? "RTU" : "ASCII");
    answers_.clear();
    ExchangeRequest r = ExchangeRequest::For(form, Bytes{1}, 18, 18, k9600);
    r.capacity = 100;
    exchange_.Send(std::move(r));
    Bytes flood(150, 0x31);
    flood[1] = 0x11;  // RTU: a function whose answer would end only by silence
    port_.FeedSplit(flood, {60});
    ASSERT_EQ(answers_.size(), 1U);
    EXPECT_EQ(answers_[0].end, AnswerEnd::Complete);
    EXPECT_EQ(answers_[0].raw.size(), 100U);
    EXPECT_TRUE(answers_[0].overflowed);
    EXPECT_EQ(port_.CharsWaiting(), 0U);  // the rest was read and dropped
    EXPECT_FALSE(port_.Armed(exchange_.SilenceTrigger()));
  }
}

TEST_F(ExchangeOnPort, LineLostEndsThePendingRequest) {
  EXPECT_FALSE(exchange_.LineLost().has_value());  // nothing pending
  exchange_.Opened();
  const std::uint32_t tag = Send(FrameForm::Ascii);
  port_.Feed(":01");
  port_.Fail("gone");
  const auto lost = exchange_.LineLost();
  ASSERT_TRUE(lost.has_value());
  EXPECT_EQ(lost->tag, tag);
  EXPECT_EQ(lost->end, AnswerEnd::LineLost);
  EXPECT_EQ(lost->Text(), ":01");
  EXPECT_FALSE(exchange_.Pending());
}

// The same answers, checked, over both forms and three ways of arriving.
enum class Delivery { Whole, ByteByByte, Split };

struct Param {
  FrameForm form;
  Delivery delivery;
};

class CheckedExchange : public ExchangeOnPort, public ::testing::WithParamInterface<Param> {
 protected:
  void Deliver(const Bytes& frame) {
    switch (GetParam().delivery) {
      case Delivery::Whole: port_.Feed(frame); break;
      case Delivery::ByteByByte: port_.FeedByteByByte(frame); break;
      case Delivery::Split: port_.FeedSplit(frame, {1, frame.size() / 2}); break;
    }
  }
  // Sends `pdu` to address 1 with the form's rule and the given checks, then
  // delivers `answer` and lets the line fall silent.
  Answer Exchange1(const Bytes& pdu, const Bytes& answer, std::vector<std::uint8_t> functions,
                   bool echo) {
    const FrameForm form = GetParam().form;
    const Bytes frame = Frame(form, pdu);
    ExchangeRequest r = ExchangeRequest::For(form, frame, 18, 2, k9600);
    r.expect = AnswerExpectation{form, 0x01, std::move(functions), echo ? frame : Bytes{}};
    answers_.clear();
    exchange_.Send(std::move(r));
    if (!answer.empty()) Deliver(answer);
    port_.RunTimers();
    EXPECT_EQ(answers_.size(), 1U);
    return answers_.empty() ? Answer{} : answers_.back();
  }
};

TEST_P(CheckedExchange, ChecksGiveOneAnswerType) {
  const FrameForm form = GetParam().form;
  const Bytes read = ReadRequestPdu(1, 0x03, 0x4701, 1);
  const Bytes write = WriteRegisterPdu(1, 0x4722, 1);
  Bytes badCheck = Frame(form, {0x01, 0x03, 0x02, 0x00, 0x64});
  badCheck[badCheck.size() - (form == FrameForm::Rtu ? 1 : 3)] ^= 0x01;
  struct Case {
    const char* name;
    Bytes pdu;
    Bytes answer;
    std::vector<std::uint8_t> functions;
    bool echo;
    AnswerEnd end;
    Failure failure;
    std::string text;
  };
  const Case cases[] = {
      {"read", read, Frame(form, {0x01, 0x03, 0x02, 0x00, 0x64}), {0x03}, false,
       AnswerEnd::Complete, Failure::None, ""},
      {"echo", write, Frame(form, write), {0x06}, true, AnswerEnd::Complete, Failure::None, ""},
      {"echo differs", write, Frame(form, WriteRegisterPdu(1, 0x4722, 2)), {0x06}, true,
       AnswerEnd::Complete, Failure::EchoMismatch, std::string(Text(Msg::WriteCompareFail))},
      {"other address", read, Frame(form, {0x02, 0x03, 0x02, 0x00, 0x64}), {0x03}, false,
       AnswerEnd::Complete, Failure::WrongAddress, std::string(Text(Msg::AddressNotCorrect))},
      {"bad check", read, badCheck, {0x03}, false, AnswerEnd::Complete, Failure::Checksum,
       std::string(Text(Msg::ReceivedChecksumError))},
      {"read exception", read, Frame(form, {0x01, 0x83, 0x02}), {0x03}, false, AnswerEnd::Complete,
       Failure::Exception, std::string(Text(Msg::ReadErrorPrefix)) + std::string(Text(Msg::IllegalAddress))},
      {"write exception", write, Frame(form, {0x01, 0x86, 0x03}), {0x06}, true, AnswerEnd::Complete,
       Failure::Exception, std::string(Text(Msg::WriteErrorPrefix)) + std::string(Text(Msg::IllegalData))},
      {"unknown function", read, Frame(form, {0x01, 0x04, 0x02, 0x00, 0x64}), {0x03}, false,
       AnswerEnd::Complete, Failure::UnknownFunction, std::string(Text(Msg::UnknownCommand))},
      {"silent", read, {}, {0x03}, false, AnswerEnd::TimedOut, Failure::TimedOut,
       std::string(Text(Msg::DataTimeOutError))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer a = Exchange1(c.pdu, c.answer, c.functions, c.echo);
    EXPECT_EQ(a.end, c.end);
    EXPECT_EQ(a.failure, c.failure);
    EXPECT_EQ(a.Ok(), c.failure == Failure::None);
    EXPECT_EQ(a.FailureText(), c.text);
    if (c.end == AnswerEnd::Complete) {
      EXPECT_EQ(a.raw, c.answer);
    }
  }
}

TEST_P(CheckedExchange, BuiltRequestsGiveTheAnswerInParsedForm) {
  const FrameForm form = GetParam().form;
  LineFormat line;
  line.form = form;
  line.dataBits = form == FrameForm::Rtu ? 8 : 7;
  auto run = [&](ExchangeRequest r, const Bytes& answer) {
    answers_.clear();
    exchange_.Send(std::move(r));
    Deliver(answer);
    port_.RunTimers();
    EXPECT_EQ(answers_.size(), 1U);
    return answers_.empty() ? Answer{} : answers_.back();
  };

  // A read: the registers its byte count announces.
  Answer a = run(ReadRequest(line, 7, 0x4700, 2), Frame(form, {0x07, 0x03, 0x04, 0x01, 0x2C, 0xFF, 0x9C}));
  EXPECT_TRUE(a.Ok());
  EXPECT_EQ(a.Address(), 7);
  EXPECT_EQ(a.Words(), (std::vector<std::uint16_t>{0x012C, 0xFF9C}));
  EXPECT_EQ(a.Word(1), 0xFF9C);
  EXPECT_EQ(a.Word(2), std::nullopt);
  // A byte count that does not match the length gives no registers.
  a = run(ReadRequest(line, 7, 0x4700, 2), Frame(form, {0x07, 0x03, 0x06, 0x01, 0x2C, 0xFF, 0x9C}));
  EXPECT_TRUE(a.Ok());
  EXPECT_TRUE(a.Words().empty());

  // A write is good only as its request's echo.
  const Bytes write = WriteRegisterPdu(7, 0x4722, 0x0102);
  EXPECT_TRUE(run(WriteRequest(line, 7, 0x4722, 0x0102), Frame(form, write)).Ok());
  EXPECT_EQ(run(WriteRequest(line, 7, 0x4722, 0x0102), Frame(form, WriteRegisterPdu(7, 0x4722, 0x0103))).failure,
            Failure::EchoMismatch);
  // An echo of the first bytes only: what follows them is not compared.
  ExchangeRequest firstBytes = WriteRequest(line, 7, 0x4722, 0x0102);
  firstBytes.expect->echoBytes = 4;
  firstBytes.expect->checkDigits = false;
  EXPECT_TRUE(run(std::move(firstBytes), Frame(form, WriteRegisterPdu(7, 0x4722, 0x0103))).Ok());

  // The identification: KX2/KX3 by 0x67, a KX1 by 0x77 or the exception E7.
  EXPECT_EQ(IdentifiedModel(run(IdentifyRequest(line, 7), Frame(form, {0x07, 0x67, 0x06, 0x00, 0x02, 0x03, 0x20, 0x00, 0x00}))),
            IdentifyModel(0x67, std::vector<std::uint16_t>{0x0002, 0x0320, 0x0000}));
  EXPECT_EQ(IdentifiedModel(run(IdentifyRequest(line, 7), Frame(form, {0x07, 0xE7, 0x01}))),
            IdentifyModel(0xE7, {}));
  EXPECT_EQ(IdentifiedModel(run(IdentifyRequest(line, 7), Frame(form, {0x07, 0x83, 0x01}))), std::nullopt);

  // The probe hit is told by the first bytes, check digits untested.
  Bytes hit = Frame(form, {0x05, 0x03, 0x02, 0x00, 0x01});
  hit[hit.size() - (form == FrameForm::Rtu ? 1 : 3)] ^= 0x01;
  EXPECT_TRUE(ProbeHit(run(ProbeRequest(line, 5), hit), 5, form));
  EXPECT_FALSE(ProbeHit(run(ProbeRequest(line, 5), Frame(form, {0x05, 0x83, 0x02})), 5, form));
  EXPECT_FALSE(ProbeHit(run(ProbeRequest(line, 5), Frame(form, {0x06, 0x03, 0x02, 0x00, 0x01})), 5, form));
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
  static const char* const kDelivery[] = {"Whole", "ByteByByte", "Split"};
  return std::string(info.param.form == FrameForm::Rtu ? "Rtu" : "Ascii") +
         kDelivery[static_cast<int>(info.param.delivery)];
}

INSTANTIATE_TEST_SUITE_P(
    FormsAndDeliveries, CheckedExchange,
    ::testing::Values(Param{FrameForm::Ascii, Delivery::Whole},
                      Param{FrameForm::Ascii, Delivery::ByteByByte},
                      Param{FrameForm::Ascii, Delivery::Split},
                      Param{FrameForm::Rtu, Delivery::Whole},
                      Param{FrameForm::Rtu, Delivery::ByteByByte},
                      Param{FrameForm::Rtu, Delivery::Split}),
    ParamName);

}  // namespace
}  // namespace kx
