// The simulated controllers and line: answers in both frame forms, exception
// answers, who stays silent, faults, line timing and the command line.
#include <gtest/gtest.h>

#include <chrono>

#include "core/modbus/codec.h"
#include "kxsim/control.h"
#include "kxsim/controller.h"
#include "kxsim/line.h"
#include "kxsim/options.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using namespace std::chrono_literals;
using kx::Bytes;
using kx::FrameForm;
using test::Fmt;

// A line whose PC settings start as exact 9600 7E1 ASCII; tests change them.
class LineTest : public test::SimLineTest {
 protected:
  LineTest() { pc = ExactSettings(Fmt("9600-7E1-ascii")); }

  Controller& Add(Model model, int address, const char* format, ControllerOptions options = {}) {
    return line.Add(std::make_unique<Controller>(model, static_cast<std::uint8_t>(address), Fmt(format), options));
  }
  Bytes Ask(FrameForm form, const Bytes& pdu) { return Send(kx::BuildFrame(form, pdu)); }
};

struct Exchange {
  const char* name;
  Model model;
  Bytes request;   // address, function, data
  Bytes answer;    // expected, without check bytes
};

// One table of requests and answers, run in both forms.
const Exchange kExchanges[] = {
    {"read SV", Model::Kx2, {1, 0x03, 0x47, 0x01, 0x00, 0x01}, {1, 0x03, 2, 0x01, 0x2C}},
    {"read PV and SV", Model::Kx1, {1, 0x03, 0x47, 0x00, 0x00, 0x02}, {1, 0x03, 4, 0x00, 0xFD, 0x01, 0x2C}},
    {"identify kx2", Model::Kx2, {1, 0x67, 0x00, 0x12, 0x00, 0x03}, {1, 0x67, 6, 0, 2, 0, 1, 0x01, 0x05}},
    {"identify kx3", Model::Kx3, {1, 0x67, 0x00, 0x12, 0x00, 0x02}, {1, 0x67, 4, 0, 2, 0, 2}},
    {"identify kx1 answers 0x77", Model::Kx1, {1, 0x67, 0x00, 0x12, 0x00, 0x03}, {1, 0x77, 6, 0, 2, 0, 0, 0x03, 0x20}},
    {"write SV echoes", Model::Kx2, {1, 0x06, 0x47, 0x01, 0x01, 0x90}, {1, 0x06, 0x47, 0x01, 0x01, 0x90}},
    {"kx3 security word", Model::Kx3, {1, 0x03, 0x47, 0x51, 0x00, 0x01}, {1, 0x03, 2, 0x00, 0x40}},
    {"unknown register", Model::Kx2, {1, 0x03, 0x00, 0x00, 0x00, 0x01}, {1, 0x83, 0x02}},
    {"read runs past the map", Model::Kx1, {1, 0x03, 0x47, 0x30, 0x00, 0x08}, {1, 0x83, 0x02}},
    {"count 0", Model::Kx2, {1, 0x03, 0x47, 0x00, 0x00, 0x00}, {1, 0x83, 0x03}},
    {"count 126", Model::Kx2, {1, 0x03, 0x47, 0x00, 0x00, 0x7E}, {1, 0x83, 0x03}},
    {"identification outside its block", Model::Kx2, {1, 0x67, 0x47, 0x00, 0x00, 0x01}, {1, 0xE7, 0x02}},
    {"unsupported function", Model::Kx2, {1, 0x10, 0x47, 0x01, 0x00, 0x01, 0x02, 0x00, 0x05}, {1, 0x90, 0x01}},
    {"too few data", Model::Kx2, {1, 0x03, 0x47, 0x01}, {1, 0x83, 0x0C}},
    {"too many data", Model::Kx2, {1, 0x06, 0x47, 0x01, 0x00, 0x01, 0x00}, {1, 0x86, 0x0D}},
    {"write read-only PV", Model::Kx2, {1, 0x06, 0x47, 0x00, 0x00, 0x01}, {1, 0x86, 0x02}},
    {"factory register without unlock", Model::Kx2, {1, 0x06, 0x47, 0x30, 0x00, 0x01}, {1, 0x86, 0x04}},
    {"unlock with a wrong value", Model::Kx2, {1, 0x06, 0x47, 0x2A, 0x12, 0x34}, {1, 0x86, 0x03}},
    {"restore default needs 0x4F1D", Model::Kx3, {1, 0x06, 0x47, 0x4E, 0x00, 0x01}, {1, 0x86, 0x03}},
};

TEST_F(LineTest, AnswersEveryRequestInBothForms) {
  for (FrameForm form : {FrameForm::Ascii, FrameForm::Rtu}) {
    for (const Exchange& ex : kExchanges) {
      SCOPED_TRACE(std::string(ex.name) + (form == FrameForm::Rtu ? " (rtu)" : " (ascii)"));
      Line fresh{[this] { return pc; }};
      const char* format = form == FrameForm::Rtu ? "9600-8N1-rtu" : "9600-7E1-ascii";
      pc = ExactSettings(Fmt(format));
      fresh.Add(std::make_unique<Controller>(ex.model, 1, Fmt(format)));
      fresh.Receive(kx::BuildFrame(form, ex.request), 0s);
      EXPECT_EQ(fresh.TakeDue(1s), kx::BuildFrame(form, ex.answer));
    }
  }
}

TEST_F(LineTest, WritesChangeWhatIsReadBackAndFactoryWritesNeedTheUnlockJustBefore) {
  Add(Model::Kx1, 5, "9600-7E1-ascii");
  const auto ascii = FrameForm::Ascii;
  Ask(ascii, kx::WriteRegisterPdu(5, 0x4701, 0x01F4));
  EXPECT_EQ(Ask(ascii, kx::ReadRequestPdu(5, 3, 0x4701, 1)), kx::BuildFrame(ascii, Bytes{5, 3, 2, 0x01, 0xF4}));

  const Bytes factoryWrite = kx::WriteRegisterPdu(5, 0x4714, 0x0007);
  const Bytes unlock = kx::WriteRegisterPdu(5, 0x471B, 0x4F1D);
  EXPECT_EQ(Ask(ascii, unlock), kx::BuildFrame(ascii, unlock));
  EXPECT_EQ(Ask(ascii, factoryWrite), kx::BuildFrame(ascii, factoryWrite));
  // The unlock covers one write only.
  EXPECT_EQ(Ask(ascii, kx::WriteRegisterPdu(5, 0x4714, 0x0008)), kx::BuildFrame(ascii, Bytes{5, 0x86, 0x04}));
  EXPECT_EQ(Ask(ascii, kx::ReadRequestPdu(5, 3, 0x4714, 1)), kx::BuildFrame(ascii, Bytes{5, 3, 2, 0, 7}));
  // Reading the unlock register gives the firmware version.
  EXPECT_EQ(Ask(ascii, kx::ReadRequestPdu(5, 3, 0x471B, 1)), kx::BuildFrame(ascii, Bytes{5, 3, 2, 0x03, 0x20}));
}

TEST_F(LineTest, StaysSilentUnlessSettingsFrameCheckAndAddressAreRight) {
  Add(Model::Kx2, 7, "19200-8N2-rtu");
  Add(Model::Kx1, 3, "9600-7O1-ascii");
  const Bytes rtuRead = kx::BuildFrame(FrameForm::Rtu, kx::ReadRequestPdu(7, 3, 0x4701, 1));
  const Bytes asciiRead = kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(3, 3, 0x4701, 1));

  // What a pty carries: baud, stop bits and "odd or not".
  auto ptyView = [](int baud, int stop, bool odd) {
    PcSettings s;
    s.baud = baud;
    s.stopBits = stop;
    s.parityOddOnly = true;
    s.parity = odd ? ParityKind::Odd : ParityKind::None;
    return s;
  };
  pc = ptyView(19200, 2, false);
  EXPECT_FALSE(Send(rtuRead).empty());
  EXPECT_TRUE(Send(asciiRead).empty()) << "ASCII controller at 9600 answered at 19200";

  struct Case {
    const char* name;
    PcSettings settings;
    Bytes frame;
  };
  Bytes badCrc = rtuRead;
  badCrc.back() ^= 0x01;
  Bytes badLrc = asciiRead;
  badLrc[badLrc.size() - 3] = badLrc[badLrc.size() - 3] == '0' ? '1' : '0';
  Bytes badHex = asciiRead;
  badHex[3] = 'G';
  const Case silent[] = {
      {"other baud", ptyView(9600, 2, false), rtuRead},
      {"other stop bits", ptyView(19200, 1, false), rtuRead},
      {"odd parity asked", ptyView(19200, 2, true), rtuRead},
      {"even asked exactly", ExactSettings(Fmt("19200-8E2-rtu")), rtuRead},
      {"7 data bits asked exactly", ExactSettings(Fmt("19200-7N2-rtu")), rtuRead},
      {"wrong CRC", ptyView(19200, 2, false), badCrc},
      {"other address", ptyView(19200, 2, false), kx::BuildFrame(FrameForm::Rtu, kx::ReadRequestPdu(8, 3, 0x4701, 1))},
      {"ASCII frame to the RTU controller's address", ptyView(19200, 2, false),
       kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(7, 3, 0x4701, 1))},
      {"wrong LRC", ptyView(9600, 1, true), badLrc},
      {"not hexadecimal", ptyView(9600, 1, true), badHex},
      {"even parity for the odd controller", ExactSettings(Fmt("9600-7E1-ascii")), asciiRead},
  };
  for (const Case& c : silent) {
    SCOPED_TRACE(c.name);
    pc = c.settings;
    EXPECT_TRUE(Send(c.frame).empty());
  }
  pc = ptyView(9600, 1, true);
  EXPECT_FALSE(Send(asciiRead).empty());
}

TEST_F(LineTest, BroadcastWriteIsCarriedOutAndNotAnswered) {
  Add(Model::Kx2, 1, "9600-7E1-ascii");
  Add(Model::Kx3, 2, "9600-7E1-ascii");
  EXPECT_TRUE(Ask(FrameForm::Ascii, kx::WriteRegisterPdu(0, 0x4701, 0x0258)).empty());
  for (Controller* c : line.Controllers()) EXPECT_EQ(c->Register(0x4701), 0x0258) << c->Describe();
  EXPECT_TRUE(Ask(FrameForm::Ascii, kx::ReadRequestPdu(0, 3, 0x4701, 1)).empty());
}

TEST_F(LineTest, RtuFramesEndByLengthOrBySilence) {
  pc = ExactSettings(Fmt("9600-8N1-rtu"));
  Add(Model::Kx2, 1, "9600-8N1-rtu");
  const Bytes read = kx::BuildFrame(FrameForm::Rtu, kx::ReadRequestPdu(1, 3, 0x4700, 2));
  // In two pieces: complete by its length, answered at once.
  line.Receive(std::span(read).first(3), 0us);
  EXPECT_FALSE(line.NextDeadline() == std::nullopt);
  line.Receive(std::span(read).subspan(3), 100us);
  EXPECT_EQ(line.NextDeadline(), SimTime(100us));
  EXPECT_EQ(line.TakeDue(100us).size(), 9U);

  // A function without a length rule ends by the silence: 3.5 x 11 bits at 9600 is 4010 us.
  const Bytes other = kx::BuildFrame(FrameForm::Rtu, Bytes{1, 0x2B, 0x0E, 0x01, 0x00});
  line.Receive(other, 1000us);
  EXPECT_TRUE(line.TakeDue(5000us).empty());
  EXPECT_EQ(line.NextDeadline(), SimTime(1000us + 4010us));
  EXPECT_EQ(line.TakeDue(5010us), kx::BuildFrame(FrameForm::Rtu, Bytes{1, 0xAB, 0x01}));
  EXPECT_EQ(Line::RtuSilence(38400), SimTime(2000us));
}

TEST_F(LineTest, LineTimingDelaysTheAnswerByTurnaroundAndWireTime) {
  Add(Model::Kx2, 1, "9600-7E1-ascii");
  line.SetTiming(true);
  line.SetTurnaround(2ms);
  line.Receive(kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1)), 0us);
  // 17 request + 15 answer characters of 10 bits at 9600 bit/s: 33333.3 us,
  // rounded up, plus 2 ms.
  EXPECT_EQ(line.NextDeadline(), SimTime(35334us));
  EXPECT_TRUE(line.TakeDue(35333us).empty());
  EXPECT_EQ(line.TakeDue(35334us).size(), 15U);
}

TEST_F(LineTest, EchoComesBackAsTheBytesLeaveAheadOfTheAnswer) {
  Add(Model::Kx2, 1, "9600-7E1-ascii");
  line.SetEcho(true);
  const Bytes request = kx::BuildFrame(FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1));
  const Bytes answer = kx::BuildFrame(FrameForm::Ascii, Bytes{1, 3, 2, 0x01, 0x2C});
  Bytes both = request;
  both.insert(both.end(), answer.begin(), answer.end());
  EXPECT_EQ(Send(request), both);
  // Every byte, whether or not it makes a frame.
  EXPECT_EQ(Send(Bytes{0x00, 0xFF, 0x0D}), (Bytes{0x00, 0xFF, 0x0D}));

  // With line timing: the echo once the request's 17 characters of 10 bits
  // have left (17708.3 us), the answer when it would come without the echo.
  line.SetTiming(true);
  line.SetTurnaround(2ms);
  line.Receive(request, 0us);
  EXPECT_EQ(line.NextDeadline(), SimTime(17709us));
  EXPECT_EQ(line.TakeDue(17709us), request);
  EXPECT_TRUE(line.TakeDue(35333us).empty());
  EXPECT_EQ(line.TakeDue(35334us), answer);
}

TEST_F(LineTest, FaultsShapeOrSuppressTheAnswer) {
  const Bytes request = kx::ReadRequestPdu(4, 3, 0x4701, 1);
  const Bytes good = {4, 3, 2, 0x01, 0x2C};
  struct Case {
    std::string fault;
    FrameForm form;
    Bytes expected;
  };
  Bytes badLrc = kx::BuildFrame(FrameForm::Ascii, good);
  badLrc[badLrc.size() - 3] = badLrc[badLrc.size() - 3] == '0' ? '1' : '0';
  Bytes badCrc = kx::BuildFrame(FrameForm::Rtu, good);
  badCrc.back() ^= 0xFF;
  Bytes noisy = {0x00, 0xFF, 0x13, 0x80};
  const Bytes rtuGood = kx::BuildFrame(FrameForm::Rtu, good);
  noisy.insert(noisy.end(), rtuGood.begin(), rtuGood.end());
  const Case cases[] = {
      {"noanswer", FrameForm::Ascii, {}},
      {"badcheck", FrameForm::Ascii, badLrc},
      {"badcheck", FrameForm::Rtu, badCrc},
      {"noise", FrameForm::Rtu, noisy},
      {"wrongaddr", FrameForm::Ascii, kx::BuildFrame(FrameForm::Ascii, Bytes{5, 3, 2, 0x01, 0x2C})},
      {"exception:0B", FrameForm::Rtu, kx::BuildFrame(FrameForm::Rtu, Bytes{4, 0x83, 0x0B})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const char* format = c.form == FrameForm::Rtu ? "9600-8N1-rtu" : "9600-7E1-ascii";
    pc = ExactSettings(Fmt(format));
    Line fresh{[this] { return pc; }};
    ControllerOptions options;
    const auto fault = ParseFaultArg(c.fault);
    ASSERT_TRUE(fault);
    options.fault = fault->first;
    options.exceptionCode = fault->second;
    fresh.Add(std::make_unique<Controller>(Model::Kx2, 4, Fmt(format), options));
    fresh.Receive(kx::BuildFrame(c.form, request), 0s);
    EXPECT_EQ(fresh.TakeDue(1s), c.expected);
  }
}

TEST_F(LineTest, SilenceAfterAndTheControlChannel) {
  ControllerOptions options;
  options.silenceAfter = 2;
  Add(Model::Kx2, 1, "9600-7E1-ascii", options);
  Add(Model::Kx1, 2, "9600-7E1-ascii");
  const Bytes read1 = kx::ReadRequestPdu(1, 3, 0x4700, 1);
  const Bytes read2 = kx::ReadRequestPdu(2, 3, 0x4700, 1);
  EXPECT_FALSE(Ask(FrameForm::Ascii, read1).empty());
  EXPECT_FALSE(Ask(FrameForm::Ascii, read1).empty());
  EXPECT_TRUE(Ask(FrameForm::Ascii, read1).empty());

  EXPECT_EQ(RunControlCommand(line, "answer 1"), "");
  EXPECT_FALSE(Ask(FrameForm::Ascii, read1).empty());
  EXPECT_EQ(RunControlCommand(line, "silence 2"), "");
  EXPECT_TRUE(Ask(FrameForm::Ascii, read2).empty());
  EXPECT_EQ(RunControlCommand(line, "answer all"), "");

  // Sensor break: KX2 reports it in the PV word, KX1 in its PV status register.
  EXPECT_EQ(RunControlCommand(line, "sensor-break all 3"), "");
  EXPECT_EQ(Ask(FrameForm::Ascii, read1), kx::BuildFrame(FrameForm::Ascii, Bytes{1, 3, 2, 0x80, 0x03}));
  EXPECT_EQ(Ask(FrameForm::Ascii, kx::ReadRequestPdu(2, 3, 0x472B, 1)),
            kx::BuildFrame(FrameForm::Ascii, Bytes{2, 3, 2, 0x00, 0x03}));

  EXPECT_EQ(RunControlCommand(line, "fault 0x01 badcheck"), "");
  EXPECT_EQ(line.Controllers()[0]->fault(), Fault::BadCheck);
  EXPECT_EQ(RunControlCommand(line, "set 2 0x4701 123"), "");
  EXPECT_EQ(line.Controllers()[1]->Register(0x4701), 123);

  // Remote writing off: writes refused with exception 04, the KX1 flag reads 0.
  EXPECT_EQ(RunControlCommand(line, "comwrite 2 off"), "");
  EXPECT_EQ(Ask(FrameForm::Ascii, kx::WriteRegisterPdu(2, 0x4701, 5)),
            kx::BuildFrame(FrameForm::Ascii, Bytes{2, 0x86, 0x04}));
  EXPECT_EQ(line.Controllers()[1]->Register(0x471A), 0);
  EXPECT_EQ(RunControlCommand(line, "comwrite 2 on"), "");
  EXPECT_EQ(Ask(FrameForm::Ascii, kx::WriteRegisterPdu(2, 0x4701, 5)),
            kx::BuildFrame(FrameForm::Ascii, kx::WriteRegisterPdu(2, 0x4701, 5)));
  EXPECT_EQ(line.Controllers()[1]->Register(0x471A), 1);

  for (const char* bad : {"silence 9", "fault 1 smoke", "set 1 0x9999 1", "program 1 maybe", "dance 1",
                          "comwrite 1 maybe"}) {
    EXPECT_NE(RunControlCommand(line, bad), "") << bad;
  }
  ControlReader reader;
  EXPECT_TRUE(reader.Feed("silence").empty());
  EXPECT_EQ(reader.Feed(" 1\r\nanswer 1\n"), (std::vector<ControlLine>{{"silence 1"}, {"answer 1"}}));
}

// Negative values are set as the word that holds them; values out of range,
// and a line too long to be a command, are refused with a message.
TEST_F(LineTest, ControlValuesAndLongLines) {
  Add(Model::Kx2, 1, "9600-7E1-ascii");
  struct Case {
    const char* value;
    std::optional<std::uint16_t> stored;  // nothing: refused
  };
  for (const Case& c : {Case{"-5", 0xFFFB}, Case{"-32768", 0x8000}, Case{"65535", 0xFFFF}, Case{"0x8000", 0x8000},
                        Case{"-32769", std::nullopt}, Case{"-0", std::nullopt}, Case{"-", std::nullopt},
                        Case{"--5", std::nullopt}, Case{"65536", std::nullopt}, Case{"-0x5", std::nullopt}}) {
    SCOPED_TRACE(c.value);
    line.Controllers()[0]->SetRegister(0x4701, 7);
    const std::string problem = RunControlCommand(line, std::string("set 1 0x4701 ") + c.value);
    EXPECT_EQ(problem.empty(), c.stored.has_value()) << problem;
    EXPECT_EQ(line.Controllers()[0]->Register(0x4701), c.stored.value_or(7));
  }

  // A megabyte without a line end, in pieces, then its end and a good line:
  // one refused line that keeps only its start, then the good one whole.
  ControlReader reader;
  const std::string start = "silence 1 " + std::string(100, 'x');
  EXPECT_TRUE(reader.Feed(start).empty());
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(reader.Feed(std::string(65536, 'y')).empty());
  const auto lines = reader.Feed("zzz\nanswer 1\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].tooLong);
  EXPECT_EQ(lines[0].text, start.substr(0, 40));
  EXPECT_EQ(TooLongText(lines[0]), "line longer than 4096 characters refused: " + start.substr(0, 40) + "...");
  EXPECT_EQ(lines[1], (ControlLine{"answer 1"}));
  // A line of exactly the longest length is taken; one more character is not.
  EXPECT_FALSE(reader.Feed(std::string(kMaxControlLine, 'a') + "\n")[0].tooLong);
  EXPECT_TRUE(reader.Feed(std::string(kMaxControlLine + 1, 'a') + "\n")[0].tooLong);
}

TEST(LineFormatTest, ParsesFormatsAndMatchesWhatThePcSet) {
  const LineFormat f = Fmt("19200-8N2-rtu");
  EXPECT_EQ(f.baud, 19200);
  EXPECT_EQ(f.dataBits, 8);
  EXPECT_EQ(f.parity, ParityKind::None);
  EXPECT_EQ(f.stopBits, 2);
  EXPECT_EQ(f.form, FrameForm::Rtu);
  EXPECT_EQ(ToString(f), "19200-8N2-rtu");
  EXPECT_EQ(BitsPerChar(Fmt("9600-7E1-ascii")), 10);
  EXPECT_EQ(BitsPerChar(Fmt("9600-8O2-rtu")), 12);
  for (const char* bad : {"9600-7E1", "9601-7E1-ascii", "9600-9E1-ascii", "9600-7X1-ascii", "9600-7E3-ascii",
                          "9600-7E1-tcp", "-7E1-ascii", "9600-7E11-ascii"}) {
    EXPECT_FALSE(ParseLineFormat(bad)) << bad;
  }
  // The format byte of register 0x470B: 19200 8E1 RTU is 0x37; 9600 7E1 ASCII 0xA5.
  EXPECT_EQ(EncodeFormatByte(Fmt("19200-8E1-rtu")), 0x37);
  EXPECT_EQ(EncodeFormatByte(Fmt("9600-7E1-ascii")), 0xA5);
  EXPECT_EQ(DecodeFormatByte(0x37), Fmt("19200-8E1-rtu"));
  EXPECT_FALSE(DecodeFormatByte(0x5C)) << "baud code 5";
  EXPECT_FALSE(DecodeFormatByte(0x2C)) << "parity code 3";
  EXPECT_FALSE(DecodeFormatByte(0xA3)) << "RTU with 7 data bits";
}

TEST(OptionsTest, ParsesControllersAndOptions) {
  const auto r = ParseCommandLine({"--link", "/tmp/x", "--timing", "--fault", "noise", "--fw", "2.0A",
                                   "kx1@3:9600-7E1-ascii,id=e7", "kx3@26:19200-8N2-rtu+2,fault=none,security=0x27"});
  ASSERT_TRUE(r.options) << r.error;
  const SimOptions& o = *r.options;
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_TRUE(o.timing);
  ASSERT_EQ(o.controllers.size(), 2U);
  EXPECT_EQ(o.controllers[0].model, Model::Kx1);
  EXPECT_EQ(o.controllers[0].address, 3);
  EXPECT_EQ(o.controllers[0].options.kx1IdFunction, 0xE7);
  EXPECT_EQ(o.controllers[0].options.fault, Fault::Noise);
  EXPECT_EQ(o.controllers[0].options.firmware, 0x020A);
  EXPECT_EQ(o.controllers[1].address, 26);
  EXPECT_EQ(o.controllers[1].format, Fmt("19200-8N2-rtu"));
  EXPECT_EQ(o.controllers[1].options.followers, 2);
  EXPECT_EQ(o.controllers[1].options.fault, Fault::None);
  EXPECT_EQ(o.controllers[1].options.security, 0x27);

  const std::vector<std::vector<std::string>> bad = {
      {"kx2@1:9600-7E1-ascii"},                    // no link
      {"--link", "/tmp/x"},                        // no controller
      {"--link", "/tmp/x", "kx4@1:9600-7E1-ascii"},
      {"--link", "/tmp/x", "kx2@0:9600-7E1-ascii"},
      {"--link", "/tmp/x", "kx2@248:9600-7E1-ascii"},
      {"--link", "/tmp/x", "kx2@1:9600-7E1-ascii+1"},  // followers only behind a kx3
      {"--link", "/tmp/x", "kx2@1:9600-7E1-ascii,colour=red"},
      {"--link", "/tmp/x", "--fault", "smoke", "kx2@1:9600-7E1-ascii"},
      {"--link", "/tmp/x", "--bogus", "kx2@1:9600-7E1-ascii"},
      {"--link"},
  };
  for (const auto& args : bad) {
    const auto res = ParseCommandLine(args);
    EXPECT_FALSE(res.options) << args.back();
    EXPECT_FALSE(res.error.empty());
  }
  // Each refused with a message that says what is wrong.
  struct Refused {
    std::vector<std::string> args;
    const char* error;
  };
  for (const Refused& refused : {
           Refused{{"--listen", "127.0.0.1:99999", "kx1@1:9600-7E1-ascii"}, "PORT 0 to 65535"},
           Refused{{"--listen", "127.0.0.1:-1", "kx1@1:9600-7E1-ascii"}, "PORT 0 to 65535"},
           Refused{{"--listen", "127.0.0.1", "kx1@1:9600-7E1-ascii"}, "--listen needs HOST:PORT"},
           Refused{{"--listen-tcp", "127.0.0.1:65536", "kx1@1:9600-7E1-ascii"}, "--listen-tcp needs HOST:PORT with"},
           Refused{{"--listen-modbus-tcp", "502", "kx1@1:9600-7E1-ascii"}, "--listen-modbus-tcp needs HOST:PORT"},
           Refused{{"--listen-tcp", ":0", "--server-format", "9600-7E1-ascii", "kx1@1:9600-7E1-ascii"},
                   "--server-format needs BAUD"},
           Refused{{"--listen-tcp", ":0", "--server-format", "1200-8N1", "kx1@1:9600-7E1-ascii"},
                   "--server-format needs BAUD"},
           Refused{{"--listen-modbus-tcp", ":0", "--gateway-timeout", "9", "kx1@1:9600-7E1-ascii"},
                   "--gateway-timeout needs milliseconds"},
           Refused{{"--echo", "kx1@1:9600-7E1-ascii"}, "is required"},
           Refused{{"--link", "/tmp/x", "kx3@246:9600-7E1-ascii+5"}, "would run past address 247"},
           Refused{{"--link", "/tmp/x", "kx1@1:9600-7E1-rtu"}, "RTU needs 8 data bits"},
           Refused{{"--link", "/tmp/x", "kx3@1:19200-7N2-rtu"}, "RTU needs 8 data bits"},
       }) {
    SCOPED_TRACE(refused.args.back());
    const auto res = ParseCommandLine(refused.args);
    EXPECT_FALSE(res.options);
    EXPECT_NE(res.error.find(refused.error), std::string::npos) << res.error;
  }
  // The edges that are still good.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--listen", "127.0.0.1:65535", "kx1@1:9600-7E1-ascii"},
        std::vector<std::string>{"--listen", "127.0.0.1:0", "kx1@1:9600-8N1-rtu"},
        std::vector<std::string>{"--link", "/tmp/x", "kx3@242:9600-7E1-ascii+5"}}) {
    EXPECT_TRUE(ParseCommandLine(args).options) << args.back();
  }
  // The device server's line: as given, else the first controller's (the
  // gateway's: the first RTU controller's).
  const auto served = ParseCommandLine({"--listen-tcp", ":0", "--listen-modbus-tcp", "[::1]:0", "--echo",
                                        "--gateway-timeout", "60000", "kx1@1:9600-7E1-ascii", "kx2@2:19200-8N2-rtu"});
  ASSERT_TRUE(served.options);
  EXPECT_EQ(served.options->listenModbusTcp, "[::1]:0");
  EXPECT_TRUE(served.options->echo);
  EXPECT_EQ(served.options->gatewayTimeoutMs, 60000);
  EXPECT_EQ(TcpServerFormat(*served.options), Fmt("9600-7E1-ascii"));
  EXPECT_EQ(GatewayFormat(*served.options), Fmt("19200-8N2-rtu"));
  const auto fixed = ParseCommandLine({"--listen-tcp", ":0", "--server-format", "4800-8O2", "kx1@1:9600-7E1-ascii"});
  ASSERT_TRUE(fixed.options);
  EXPECT_EQ(ToString(TcpServerFormat(*fixed.options)).substr(0, 8), "4800-8O2");
  EXPECT_EQ(ToString(GatewayFormat(*fixed.options)).substr(0, 8), "4800-8O2");
  EXPECT_TRUE(ParseCommandLine({"--help"}).options->help);
  EXPECT_EQ(ParseVersion("1.05"), 0x0105);
  EXPECT_EQ(ParseVersion("0x0320"), 0x0320);
  EXPECT_FALSE(ParseVersion("1.5"));
}

}  // namespace
}  // namespace kxsim
