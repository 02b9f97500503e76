#include <gtest/gtest.h>

#include <string>

#include "core/exchange/answer.h"
#include "support/fake_port.h"

namespace kx {
namespace {

Bytes AsciiBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Ascii(const Bytes& pdu) { return AsciiBytes(BuildAsciiFrame(pdu)); }

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

// A receiver on a fake port: the collector plus the request's timer.
class Collecting : public ::testing::Test {
 protected:
  void Begin(FrameForm form, std::size_t capacity = AnswerCollector::kDefaultCapacity,
             int knownLength = 0) {
    collector_ = AnswerCollector(capacity);
    ASSERT_TRUE(port_.SetOpen(true));
    timer_ = port_.AddTimerTrigger();
    port_.SetOnTrigger([this](ComPort& port, const PortEvent& e) {
      ++events_;
      if (e.kind == kEventDataAvailable) {
        collector_.OnData(port, e.data, timer_, kRearm);
      } else if (e.handle == timer_) {
        collector_.OnTimer();
      }
    });
    collector_.Start(form, knownLength);
    port_.SetTimerTrigger(timer_, kFirstWait, true);
  }

  static constexpr int kFirstWait = 18;
  static constexpr int kRearm = 2;
  test::FakePort port_;
  AnswerCollector collector_;
  std::uint16_t timer_ = 0;
  int events_ = 0;
};

TEST_F(Collecting, RtuReadAnswerEndsAtByteCountPlusFiveWithoutWaiting) {
  Begin(FrameForm::Rtu);
  const Bytes answer = BuildRtuFrame(Bytes{0x01, 0x03, 0x04, 0x00, 0x64, 0x00, 0xC8});
  ASSERT_EQ(answer.size(), 9U);
  Bytes withTrailer = answer;
  withTrailer.push_back(0x55);  // a stray byte in the same event is not part of the answer
  port_.FeedSplit(withTrailer, {1, 2, 3, 5});
  EXPECT_EQ(collector_.State(), CollectState::Complete);
  EXPECT_EQ(Bytes(collector_.Received().begin(), collector_.Received().end()), answer);
  EXPECT_FALSE(port_.Armed(timer_));
  EXPECT_EQ(port_.CharsWaiting(), 0U);

  port_.Feed(Bytes{0x01});  // late bytes after the end are ignored
  EXPECT_EQ(collector_.Size(), 9U);
}

TEST_F(Collecting, RtuWriteAnswerEndsAtEightBytes) {
  Begin(FrameForm::Rtu);
  port_.FeedByteByByte(BuildRtuFrame(WriteRegisterPdu(1, 0x4722, 1)));
  EXPECT_EQ(collector_.State(), CollectState::Complete);
  EXPECT_EQ(collector_.ExpectedRtuLength(), 8);
}

TEST_F(Collecting, RtuAnswerOfOtherFunctionsEndsBySilence) {
  Begin(FrameForm::Rtu);
  port_.Feed(BuildRtuFrame(Bytes{0x01, 0x10, 0x47, 0x00, 0x00, 0x02}));
  EXPECT_EQ(collector_.State(), CollectState::Waiting);
  EXPECT_EQ(port_.Remaining(timer_), kRearm);  // re-armed: silence since the last bytes
  port_.Tick(kRearm - 1);
  EXPECT_EQ(collector_.State(), CollectState::Waiting);
  port_.Tick();
  EXPECT_EQ(collector_.State(), CollectState::Complete);
  EXPECT_EQ(collector_.Size(), 8U);
}

TEST_F(Collecting, KnownRtuLengthOverridesTheRule) {
  Begin(FrameForm::Rtu, AnswerCollector::kDefaultCapacity, 5);
  port_.Feed(Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1});
  EXPECT_EQ(collector_.State(), CollectState::Complete);
}

TEST_F(Collecting, NoAnswerTimesOutInBothForms) {
  for (const FrameForm form : {FrameForm::Rtu, FrameForm::Ascii}) {
    Begin(form);
    port_.Tick(kFirstWait);
    EXPECT_EQ(collector_.State(), CollectState::TimedOut);
  }
}

TEST_F(Collecting, AsciiInThreeChunksRearmsTwiceAndEndsOnLf) {
  Begin(FrameForm::Ascii);
  const Bytes answer = Ascii({0x01, 0x03, 0x02, 0x00, 0x64});
  port_.Tick(10);  // the first wait is measured from the request
  port_.Feed(std::span(answer).first(5));
  EXPECT_EQ(port_.Remaining(timer_), kRearm);
  port_.Tick(1);
  port_.Feed(std::span(answer).subspan(5, 6));
  EXPECT_EQ(port_.Remaining(timer_), kRearm);
  EXPECT_EQ(collector_.State(), CollectState::Waiting);
  port_.Feed(std::span(answer).subspan(11));
  EXPECT_EQ(collector_.State(), CollectState::Complete);
  EXPECT_FALSE(port_.Armed(timer_));
  EXPECT_EQ(collector_.Text(), ":010302006496");
}

TEST_F(Collecting, AsciiPartialAnswerTimesOutAfterSilence) {
  Begin(FrameForm::Ascii);
  port_.Feed(":0103");
  port_.Tick(kRearm);
  EXPECT_EQ(collector_.State(), CollectState::TimedOut);
}

TEST_F(Collecting, AsciiEndsOnlyWhenTheEventEndsWithLf) {
  Begin(FrameForm::Ascii);
  port_.Feed(":0103\r\nXX");
  EXPECT_EQ(collector_.State(), CollectState::Waiting);
  port_.Feed("\n");
  EXPECT_EQ(collector_.State(), CollectState::Complete);
}

TEST_F(Collecting, NeverStoresPastItsCapacity) {
  for (const FrameForm form : {FrameForm::Ascii, FrameForm::Rtu}) {
    SCOPED_TRACE(form == FrameForm::Rtu ? "RTU" : "ASCII");
    Begin(form, 100);
    Bytes flood(150, 0x31);
    flood[1] = 0x10;  // RTU: a function whose answer would end only by silence
    port_.FeedSplit(flood, {60});
    EXPECT_EQ(collector_.State(), CollectState::Complete);
    EXPECT_EQ(collector_.Size(), 100U);
    EXPECT_TRUE(collector_.Overflowed());
    EXPECT_EQ(port_.CharsWaiting(), 0U);  // the rest was read and dropped
    EXPECT_FALSE(port_.Armed(timer_));
  }
}

TEST(AnswerChecks, AsciiAnswerBytesConvertsThePairs) {
  EXPECT_EQ(AsciiAnswerBytes(AsciiBytes(":010347010001B3\r\n")),
            (Bytes{0x01, 0x03, 0x47, 0x01, 0x00, 0x01, 0xB3}));
  EXPECT_EQ(AsciiAnswerBytes(AsciiBytes(":\r\n")), Bytes{});
  EXPECT_EQ(AsciiAnswerBytes(AsciiBytes("01\r\n")), std::nullopt);
  EXPECT_EQ(AsciiAnswerBytes({}), std::nullopt);
}

TEST(AnswerChecks, ChecksumIgnoresByteOrderAndSkipsModelAnswerInAscii) {
  EXPECT_TRUE(AnswerChecksumOk(FrameForm::Ascii, Bytes{0x03, 0x01, 0x01, 0xFB}));
  EXPECT_TRUE(AnswerChecksumOk(FrameForm::Ascii, Bytes{0xFB, 0x01, 0x03, 0x01}));
  EXPECT_TRUE(AnswerChecksumOk(FrameForm::Ascii, Bytes{0x01, 0x77, 0x02, 0x12, 0x34, 0x00}));
  EXPECT_FALSE(AnswerChecksumOk(FrameForm::Rtu, Bytes{0x01, 0x77, 0x02, 0x12, 0x34, 0x00}));
  EXPECT_FALSE(AnswerChecksumOk(FrameForm::Ascii, Bytes{}));
}

TEST(AnswerChecks, CheckAnswerReportsTheFirstFailure) {
  const Bytes writeRtu = BuildRtuFrame(WriteRegisterPdu(1, 0x4722, 1));
  const std::string writeAscii = BuildAsciiFrame(WriteRegisterPdu(1, 0x4722, 1));
  Bytes badLrc = Ascii({0x01, 0x03, 0x02, 0x00, 0x64});
  badLrc[11] = '0';
  Bytes badCrc = BuildRtuFrame(Bytes{0x01, 0x03, 0x02, 0x00, 0x64});
  badCrc.back() ^= 0x01;

  struct Case {
    const char* name;
    FrameForm form;
    Bytes collected;
    std::vector<std::uint8_t> functions;
    Bytes echoOf;
    AnswerStatus status;
    std::string_view text;
  };
  const FrameForm A = FrameForm::Ascii;
  const FrameForm R = FrameForm::Rtu;
  const Case cases[] = {
      {"ascii read", A, Ascii({0x01, 0x03, 0x02, 0x00, 0x64}), {0x03}, {}, AnswerStatus::Ok, ""},
      {"rtu read", R, BuildRtuFrame(Bytes{0x01, 0x03, 0x02, 0x00, 0x64}), {0x03}, {},
       AnswerStatus::Ok, ""},
      {"no colon", A, AsciiBytes("010302006496\r\n"), {0x03}, {}, AnswerStatus::FormatError,
       "Rcv format error !!!"},
      {"empty ascii frame", A, AsciiBytes(":\r\n"), {0x03}, {}, AnswerStatus::FormatError,
       "Rcv format error !!!"},
      {"other address", A, Ascii({0x02, 0x03, 0x02, 0x00, 0x64}), {0x03}, {},
       AnswerStatus::WrongAddress, "Address not correct"},
      {"bad lrc", A, badLrc, {0x03}, {}, AnswerStatus::ChecksumError,
       "Received checksum error !!!"},
      {"bad crc", R, badCrc, {0x03}, {}, AnswerStatus::ChecksumError,
       "Received checksum error !!!"},
      {"rtu too short", R, Bytes{0x01, 0x03}, {0x03}, {}, AnswerStatus::ChecksumError,
       "Received checksum error !!!"},
      {"model answer lrc unchecked", A, AsciiBytes(":0177020041FF\r\n"), {0x77, 0xE7}, {},
       AnswerStatus::Ok, ""},
      {"read exception", A, Ascii({0x01, 0x83, 0x02}), {0x03}, {}, AnswerStatus::Exception,
       " Read error : illegal address  !!!"},
      {"vendor read exception", R, BuildRtuFrame(Bytes{0x01, 0xE7, 0x05}), {0x67}, {},
       AnswerStatus::Exception, " Read error : Unknow Error     !!!"},
      {"write exception", R, BuildRtuFrame(Bytes{0x01, 0x86, 0x0E}), {0x06}, writeRtu,
       AnswerStatus::Exception, "Write error : illegal ASCII    !!!"},
      {"E8 is a write error", A, Ascii({0x01, 0xE8, 0x0B}), {0x06}, {}, AnswerStatus::Exception,
       "Write error : illegal frame    !!!"},
      {"exception without code", A, Ascii({0x01, 0x83}), {0x03}, {}, AnswerStatus::Exception,
       " Read error : Unknow Error     !!!"},
      {"unexpected function", R, BuildRtuFrame(Bytes{0x01, 0x04, 0x00}), {0x03}, {},
       AnswerStatus::UnknownFunction, "Unknow Command   !!!"},
      {"other exception function", R, BuildRtuFrame(Bytes{0x01, 0x90, 0x01}), {0x10}, {},
       AnswerStatus::UnknownFunction, "Unknow Command   !!!"},
      {"rtu echo", R, writeRtu, {0x06}, writeRtu, AnswerStatus::Ok, ""},
      {"ascii echo", A, AsciiBytes(writeAscii), {0x06}, AsciiBytes(writeAscii), AnswerStatus::Ok,
       ""},
      {"rtu echo differs", R, BuildRtuFrame(WriteRegisterPdu(1, 0x4722, 2)), {0x06}, writeRtu,
       AnswerStatus::EchoMismatch, "Writing data compare fail !!!"},
      {"ascii echo differs", A, Ascii(WriteRegisterPdu(1, 0x4723, 1)), {0x06},
       AsciiBytes(writeAscii), AnswerStatus::EchoMismatch, "Writing data compare fail !!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AnswerCheck check = CheckAnswer({c.form, 0x01, c.functions, c.echoOf}, c.collected);
    EXPECT_EQ(check.status, c.status);
    EXPECT_EQ(check.text, c.text);
  }
}

TEST(AnswerChecks, ResultCarriesTheDecodedBytes) {
  const AnswerCheck check =
      CheckAnswer({FrameForm::Ascii, 0x01, {0x03}, {}}, Ascii({0x01, 0x03, 0x02, 0x00, 0x64}));
  EXPECT_EQ(check.bytes, (Bytes{0x01, 0x03, 0x02, 0x00, 0x64, 0x96}));
  EXPECT_EQ(check.function, 0x03);
}

}  // namespace
}  // namespace kx
