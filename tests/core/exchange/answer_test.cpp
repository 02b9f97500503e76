#include <gtest/gtest.h>

#include <string>

#include "core/exchange/answer.h"

namespace kx {
namespace {

Bytes AsciiBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Ascii(const Bytes& pdu) { return AsciiBytes(BuildAsciiFrame(pdu)); }

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
    Failure failure;
    std::string_view text;
  };
  const FrameForm A = FrameForm::Ascii;
  const FrameForm R = FrameForm::Rtu;
  const Case cases[] = {
      {"ascii read", A, Ascii({0x01, 0x03, 0x02, 0x00, 0x64}), {0x03}, {}, Failure::None, ""},
      {"rtu read", R, BuildRtuFrame(Bytes{0x01, 0x03, 0x02, 0x00, 0x64}), {0x03}, {},
       Failure::None, ""},
      {"no colon", A, AsciiBytes("010302006496\r\n"), {0x03}, {}, Failure::Format,
       "Rcv format error !!!"},
      {"empty ascii frame", A, AsciiBytes(":\r\n"), {0x03}, {}, Failure::Format,
       "Rcv format error !!!"},
      {"other address", A, Ascii({0x02, 0x03, 0x02, 0x00, 0x64}), {0x03}, {},
       Failure::WrongAddress, "Address not correct"},
      {"bad lrc", A, badLrc, {0x03}, {}, Failure::Checksum,
       "Received checksum error !!!"},
      {"bad crc", R, badCrc, {0x03}, {}, Failure::Checksum,
       "Received checksum error !!!"},
      {"rtu too short", R, Bytes{0x01, 0x03}, {0x03}, {}, Failure::Checksum,
       "Received checksum error !!!"},
      {"model answer lrc unchecked", A, AsciiBytes(":0177020041FF\r\n"), {0x77, 0xE7}, {},
       Failure::None, ""},
      {"read exception", A, Ascii({0x01, 0x83, 0x02}), {0x03}, {}, Failure::Exception,
       " Read error : illegal address  !!!"},
      {"vendor read exception", R, BuildRtuFrame(Bytes{0x01, 0xE7, 0x05}), {0x67}, {},
       Failure::Exception, " Read error : Unknow Error     !!!"},
      {"write exception", R, BuildRtuFrame(Bytes{0x01, 0x86, 0x0E}), {0x06}, writeRtu,
       Failure::Exception, "Write error : illegal ASCII    !!!"},
      {"E8 is a write error", A, Ascii({0x01, 0xE8, 0x0B}), {0x06}, {}, Failure::Exception,
       "Write error : illegal frame    !!!"},
      {"exception without code", A, Ascii({0x01, 0x83}), {0x03}, {}, Failure::Exception,
       " Read error : Unknow Error     !!!"},
      {"unexpected function", R, BuildRtuFrame(Bytes{0x01, 0x04, 0x00}), {0x03}, {},
       Failure::UnknownFunction, "Unknow Command   !!!"},
      {"other exception function", R, BuildRtuFrame(Bytes{0x01, 0x90, 0x01}), {0x10}, {},
       Failure::UnknownFunction, "Unknow Command   !!!"},
      {"rtu echo", R, writeRtu, {0x06}, writeRtu, Failure::None, ""},
      {"ascii echo", A, AsciiBytes(writeAscii), {0x06}, AsciiBytes(writeAscii), Failure::None,
       ""},
      {"rtu echo differs", R, BuildRtuFrame(WriteRegisterPdu(1, 0x4722, 2)), {0x06}, writeRtu,
       Failure::EchoMismatch, "Writing data compare fail !!!"},
      {"ascii echo differs", A, Ascii(WriteRegisterPdu(1, 0x4723, 1)), {0x06},
       AsciiBytes(writeAscii), Failure::EchoMismatch, "Writing data compare fail !!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AnswerCheck check = CheckAnswer({c.form, 0x01, c.functions, c.echoOf}, c.collected);
    EXPECT_EQ(check.failure, c.failure);
    EXPECT_EQ(FailureText(check.failure, check.function, check.exceptionCode), c.text);
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
