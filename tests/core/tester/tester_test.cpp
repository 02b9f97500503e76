#include "core/tester/tester.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/routing/main_routing.h"
#include "core/line/session.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

using Kind = ComposedFrame::Kind;
using test::FakePort;

TesterFields Fields(std::string address, std::optional<TesterCommand> cmd, std::string func, std::string data,
                    std::vector<std::string> words = {}) {
  TesterFields f;
  f.address = std::move(address);
  f.command = cmd;
  f.funcAddr = std::move(func);
  f.data = std::move(data);
  for (std::size_t i = 0; i < words.size() && i < f.words.size(); ++i) f.words[i] = MultiDataWord(words[i]);
  return f;
}

// A USER DEFINE request with its user command code.
TesterFields UserFields(std::string userCmd, std::vector<std::string> words) {
  TesterFields f = Fields("1", TesterCommand::UserDefine, "4700", "", std::move(words));
  f.userCmd = std::move(userCmd);
  return f;
}

struct ComposeCase {
  const char* name;
  TesterFields fields;
  bool rtu;
  Kind kind;
  std::string send;
  std::string check;
};

class ComposeTable : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(ComposeTable, ComposesSendTextAndCheckDigits) {
  const ComposeCase& c = GetParam();
  const ComposedFrame frame = ComposeTesterFrame(c.fields, c.rtu);
  EXPECT_EQ(frame.kind, c.kind);
  EXPECT_EQ(frame.sendText, c.send);
  EXPECT_EQ(frame.checkDigits, c.check);
}

std::string EightWords() {
  std::string s;
  for (int i = 1; i <= 8; ++i) s += "000" + std::to_string(i);
  return s;
}

const std::vector<std::string> kEight{"1", "2", "3", "4", "5", "6", "7", "8"};

INSTANTIATE_TEST_SUITE_P(
    Commands, ComposeTable,
    ::testing::Values(
        ComposeCase{"ReadRegisterAscii", Fields("1", TesterCommand::ReadRegister, "4700", "2"), false,
                    Kind::Composed, ":010347000002B3", "B3"},
        ComposeCase{"ReadRegisterRtu", Fields("1", TesterCommand::ReadRegister, "4700", "2"), true,
                    Kind::Composed, " 010347000002D0BF", "D0BF"},
        ComposeCase{"WriteOneWordPadsFuncAddr", Fields("01", TesterCommand::WriteOneWord, "47", "FF"), false,
                    Kind::Composed, ":0106004700FFB3", "B3"},
        ComposeCase{"ReadBits", Fields("1", TesterCommand::ReadBits, "4700", "A"), false, Kind::Composed,
                    ":01024700000AAC", "AC"},
        ComposeCase{"WriteBitZeroIsOff", Fields("1", TesterCommand::WriteBit, "4700", "0"), false,
                    Kind::Composed, ":010547000000B3", "B3"},
        ComposeCase{"WriteBitOtherIsOn", Fields("1", TesterCommand::WriteBit, "4700", "5"), true,
                    Kind::Composed, " 01054700FF00988E", "988E"},
        ComposeCase{"MultiWordsEmptyWordIsZero",
                    Fields("1", TesterCommand::WriteMultiWords, "4710", "2", {"1", ""}), false, Kind::Composed,
                    ":011047100002040001000091", "91"},
        ComposeCase{"MultiWordsCountCappedAtEight",
                    Fields("1", TesterCommand::WriteMultiWords, "4710", "9", {"1"}), false, Kind::Composed,
                    ":011047100009100001" + std::string(28, '0') + "7E", "7E"},
        ComposeCase{"UserDefineStopsAtFirstEmptyWord",
                    UserFields("41", {"12", "", "34"}), false, Kind::Composed, ":01414700001265", "65"},
        ComposeCase{"UserDefineAllEightWords",
                    UserFields("41", kEight), false, Kind::Composed, ":01414700" + EightWords() + "53", "53"},
        // Preconditions: nothing changes.
        ComposeCase{"NoCommandChosen", Fields("1", std::nullopt, "4700", "2"), false, Kind::Unchanged, "", ""},
        ComposeCase{"NoAddress", Fields("", TesterCommand::ReadRegister, "4700", "2"), false, Kind::Unchanged, "",
                    ""},
        ComposeCase{"NoDataField", Fields("1", TesterCommand::ReadRegister, "4700", ""), false, Kind::Unchanged,
                    "", ""},
        ComposeCase{"MultiWordsWithoutData1", Fields("1", TesterCommand::WriteMultiWords, "4710", "2"), false,
                    Kind::Unchanged, "", ""},
        ComposeCase{"UserDefineWithoutData1", Fields("1", TesterCommand::UserDefine, "4700", "2"), false,
                    Kind::Unchanged, "", ""},
        // A field that is not hexadecimal empties SEND and LRC instead of
        // composing a frame with the field missing.
        ComposeCase{"AddressNotHex", Fields("G1", TesterCommand::ReadRegister, "4700", "2"), false, Kind::Invalid,
                    "", ""},
        ComposeCase{"FuncAddrLowerCase", Fields("1", TesterCommand::ReadRegister, "47a0", "2"), true,
                    Kind::Invalid, "", ""},
        ComposeCase{"UserCodeNotHex",
                    UserFields("X1", {"12"}), false, Kind::Invalid, "", ""},
        ComposeCase{"MultiWordsCountNotDecimal",
                    Fields("1", TesterCommand::WriteMultiWords, "4710", "A", {"1"}), false, Kind::BadCount, "",
                    ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TesterCompose, MultiDataWordKeepsOnlyHexWords) {
  EXPECT_EQ(MultiDataWord("1"), "0001");
  EXPECT_EQ(MultiDataWord("ABCD"), "ABCD");
  EXPECT_EQ(MultiDataWord(""), "");
  EXPECT_EQ(MultiDataWord("1G"), "");
  EXPECT_EQ(MultiDataWord("1a"), "");
}

TEST(TesterBlockTest, AsciiAddsCrLfRtuConvertsPairs) {
  const auto ascii = TesterBlock(":010347000002B3", false);
  ASSERT_TRUE(ascii);
  EXPECT_EQ(std::string(ascii->begin(), ascii->end()), ":010347000002B3\r\n");
  const auto rtu = TesterBlock(" 010347000002D0BF", true);
  ASSERT_TRUE(rtu);
  EXPECT_EQ(*rtu, (Bytes{0x01, 0x03, 0x47, 0x00, 0x00, 0x02, 0xD0, 0xBF}));
  EXPECT_FALSE(TesterBlock("", false));
}

TEST(TesterBlockTest, TextOver98CharactersIsRefusedNotCut) {
  const std::string fits(":" + std::string(97, '0'));
  ASSERT_EQ(fits.size(), 98U);
  EXPECT_TRUE(TesterBlock(fits, false));
  EXPECT_FALSE(TesterBlock(fits + "0", false));
  EXPECT_FALSE(TesterBlock(fits + "0", true));
}

// ---------------------------------------------------------------------------
// Send / Repeat / Stop / Close against kxsim's controller on the simulated bus,
// with the main window's routing collecting the answers.

namespace ev = tester_event;

// The simulated controller's answer to the read of 0x4700-0x4701 (held at 100 and 200).
constexpr const char* kAsciiAnswer = ":010304006400C8CC";

class TesterEngine : public ::testing::Test {
 protected:
  TesterEngine() {
    session.params = PortParams{1, 9600, 7, 1, 1, false};
    Hold(bus.Add("kx2@1:9600-7E1-ascii"));
    routing.tester.showReceived = [this](const std::string& t) { received = t; };
    tester.Handle(ev::FieldsChanged{Fields("1", TesterCommand::ReadRegister, "4700", "2")});
  }
  // The controller's PV and SV held at 100 and 200.
  static void Hold(kxsim::Controller& controller) {
    controller.HoldProcess(true);
    controller.SetRegister(0x4700, 100);
    controller.SetRegister(0x4701, 200);
  }
  bool RunUntilAnswered() { return bus.RunUntil([&] { return !tester.AwaitingAnswer(); }, 40); }

  Session session;
  FakePort port;
  test::SimBus bus{port};
  MainPortRouting routing{session, port};
  bool toolBarEnabled = true;
  bool timerOn = false;
  std::vector<std::string> errors;
  std::string received;
  Tester tester{session, routing,
                Tester::Hooks{[this](bool on) { toolBarEnabled = on; }, [this](bool on) { timerOn = on; },
                              [this](const std::string& e) { errors.push_back(e); }, nullptr}};
};

TEST_F(TesterEngine, SendOnceThenAnswerFreesTheLine) {
  bus.SetDelivery(test::SimBus::Delivery::Split);
  std::vector<std::string> shown;
  routing.tester.showReceived = [&](const std::string& t) { shown.push_back(t); };
  tester.Handle(ev::SendClick{});
  EXPECT_EQ(tester.state(), Tester::State::Awaiting);
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_FALSE(toolBarEnabled);
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, Parity::Even);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.LastWrittenText(), ":010347000002B3\r\n");

  tester.Handle(ev::SendClick{});  // a second Send while the answer is awaited does nothing
  EXPECT_EQ(port.written.size(), 1U);

  ASSERT_TRUE(RunUntilAnswered());
  // The first half shows as it comes, then the whole answer.
  ASSERT_GE(shown.size(), 3U);
  EXPECT_EQ(shown.front(), "");
  EXPECT_EQ(shown[1], std::string(kAsciiAnswer).substr(0, 9));
  EXPECT_EQ(shown.back(), kAsciiAnswer);
  EXPECT_EQ(tester.state(), Tester::State::Idle);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_TRUE(toolBarEnabled);
}

TEST_F(TesterEngine, TimeoutAfter18TicksShowsTimeoutText) {
  bus.Controller(1).SilenceNow();
  tester.Handle(ev::SendClick{});
  bus.Tick(17);
  EXPECT_TRUE(tester.AwaitingAnswer());
  bus.Tick(1);
  EXPECT_EQ(received, Text(Msg::ReceivedDataTimeout));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_F(TesterEngine, SendWhileAnotherWindowHoldsTheLineDoesNothing) {
  session.lineOwner = LineOwner::Monitor;
  tester.Handle(ev::SendClick{});
  tester.Handle(ev::RepeatClick{});
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Monitor);
  EXPECT_TRUE(errors.empty());
}

TEST_F(TesterEngine, OverlongSendTextIsRefusedWithNothingSent) {
  tester.Handle(ev::SendTextEdited{":" + std::string(98, '0')});
  tester.Handle(ev::SendClick{});
  tester.Handle(ev::RepeatClick{});
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(tester.Repeating());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_EQ(errors.size(), 2U);
}

TEST_F(TesterEngine, RepeatKeepsTheLineAndStopClosesAfterTheAwaitedAnswer) {
  tester.Handle(ev::RepeatClick{});
  EXPECT_EQ(tester.state(), Tester::State::RepeatAwaiting);
  EXPECT_TRUE(timerOn);
  EXPECT_FALSE(tester.SendEnabled());
  EXPECT_EQ(tester.RepeatCaption(), "Stop");
  ASSERT_EQ(port.written.size(), 1U);

  ASSERT_TRUE(RunUntilAnswered());
  EXPECT_EQ(received, kAsciiAnswer);
  EXPECT_EQ(tester.state(), Tester::State::Repeating);
  EXPECT_TRUE(port.IsOpen());  // repeating: the answer leaves the port open
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);

  tester.Handle(ev::TimerTick{});  // Timer1 sends again
  EXPECT_EQ(port.written.size(), 2U);
  EXPECT_TRUE(tester.AwaitingAnswer());

  tester.Handle(ev::RepeatClick{});  // Stop while the answer is awaited
  EXPECT_EQ(tester.state(), Tester::State::Awaiting);
  EXPECT_FALSE(timerOn);
  EXPECT_EQ(tester.RepeatCaption(), "Repeat");
  EXPECT_TRUE(port.IsOpen());
  ASSERT_TRUE(RunUntilAnswered());
  EXPECT_EQ(received, kAsciiAnswer);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);

  tester.Handle(ev::TimerTick{});  // a late Timer1 tick after Stop sends nothing
  EXPECT_EQ(port.written.size(), 2U);
}

TEST_F(TesterEngine, RepeatWhileAnswerAwaitedSendsOnlyAtTheNextTick) {
  tester.Handle(ev::SendClick{});
  tester.Handle(ev::RepeatClick{});
  EXPECT_EQ(port.written.size(), 1U);
  EXPECT_TRUE(tester.Repeating());
  ASSERT_TRUE(RunUntilAnswered());
  EXPECT_EQ(port.written.size(), 1U);
  tester.Handle(ev::TimerTick{});
  EXPECT_EQ(port.written.size(), 2U);
}

TEST_F(TesterEngine, CloseWhileAwaitingLetsTheNextSendGoOut) {
  tester.Handle(ev::RepeatClick{});
  bus.Pump();  // the controller has the request; its answer goes with the closed port
  tester.Handle(ev::CloseClick{});
  EXPECT_EQ(tester.state(), Tester::State::Idle);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(timerOn);
  EXPECT_TRUE(toolBarEnabled);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);

  tester.Handle(ev::SendClick{});
  EXPECT_EQ(port.written.size(), 2U);
  ASSERT_TRUE(RunUntilAnswered());
  EXPECT_EQ(received, kAsciiAnswer);
}

// The adapter is pulled while repeating: the repeat and its timer stop, the
// buttons return to idle and the line is free; Send then sends once (the
// repeat does not come back) on a fresh opening.
TEST_F(TesterEngine, LostLineStopsTheRepeatAndFreesTheLine) {
  tester.Handle(ev::RepeatClick{});
  ASSERT_TRUE(tester.Repeating());
  port.Fail("ttyUSB0 was disconnected");
  EXPECT_EQ(tester.state(), Tester::State::Idle);
  EXPECT_FALSE(timerOn);
  EXPECT_TRUE(tester.SendEnabled());
  EXPECT_EQ(tester.RepeatCaption(), "Repeat");
  EXPECT_TRUE(toolBarEnabled);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  tester.Handle(ev::TimerTick{});  // a Timer1 tick already queued sends nothing
  EXPECT_EQ(port.written.size(), 1U);

  bus.Controller(1).SilenceNow();
  tester.Handle(ev::SendClick{});
  EXPECT_EQ(port.written.size(), 2U);
  EXPECT_FALSE(tester.Repeating());
  bus.Tick(18);
  EXPECT_EQ(received, Text(Msg::ReceivedDataTimeout));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_F(TesterEngine, PortThatCannotOpenKeepsTheLineUntilClose) {
  port.failNextOpen = "No such file or directory";
  tester.Handle(ev::SendClick{});
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0], "No such file or directory");
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
  EXPECT_FALSE(toolBarEnabled);
  tester.Handle(ev::CloseClick{});
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_TRUE(toolBarEnabled);
}

TEST_F(TesterEngine, RtuFormSendsBytesAndShowsAnswerAsHex) {
  Hold(bus.Add("kx2@1:9600-8N1-rtu"));
  session.params = PortParams{1, 9600, 8, 0, 1, true};
  tester.Handle(ev::FieldsChanged{tester.fields()});
  EXPECT_EQ(tester.sendText(), " 010347000002D0BF");
  tester.Handle(ev::SendClick{});
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.written[0], (Bytes{0x01, 0x03, 0x47, 0x00, 0x00, 0x02, 0xD0, 0xBF}));
  ASSERT_TRUE(RunUntilAnswered());
  std::string hex;
  for (std::uint8_t b : BuildRtuFrame(Bytes{0x01, 0x03, 0x04, 0x00, 0x64, 0x00, 0xC8})) hex += HexByte(b);
  EXPECT_EQ(received, hex);  // an RTU answer ends by silence: shown, no time-out text
}

TEST_F(TesterEngine, BadWordCountReportsAndKeepsSend) {
  const std::string before = tester.sendText();
  tester.Handle(ev::FieldsChanged{Fields("1", TesterCommand::WriteMultiWords, "4710", "X", {"1"})});
  EXPECT_EQ(errors.size(), 1U);
  EXPECT_EQ(tester.sendText(), before);
}

}  // namespace
}  // namespace kx
