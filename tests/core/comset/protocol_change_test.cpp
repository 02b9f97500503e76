#include "core/comset/protocol_change.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/routing/main_routing.h"
#include "core/text/messages.h"
#include "core/line/session.h"
#include "support/fake_port.h"

namespace kx {
namespace {

using test::FakePort;

// Digits: baud 0 9600, 1 19200 ...; parity 0 odd, 1 even, 2 none; length 0 7 bits, 1 8 bits;
// stop 0 one, 1 two; form 0 ASCII, 1 RTU.
constexpr PresetFormat k9600_7E1_Ascii{0, 1, 0, 0, 0};
constexpr PresetFormat k19200_8E1_Rtu{1, 1, 1, 0, 1};

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(ProtocolChangeFrames, FormatByteAndStepFrames) {
  EXPECT_EQ(ControllerFormatByte(k19200_8E1_Rtu), 0x37);
  EXPECT_EQ(ControllerFormatByte(k9600_7E1_Ascii), 0xA5);
  EXPECT_EQ(ControllerFormatByte(PresetFormat{2, 0, 1, 1, 0}), 0x48);  // 38400 8 O 2 ASCII
  EXPECT_EQ(ControllerFormatByte(PresetFormat{4, 2, 0, 1, 0}), 0x80);  // 2400 7 N 2 ASCII

  EXPECT_EQ(AsText(ProtocolStepFrame(1, kAddressFormatRegister, 0x0237, FrameForm::Ascii)), ":0106470B02376E\r\n");
  EXPECT_EQ(ProtocolStepFrame(1, kAddressFormatRegister, 0x0237, FrameForm::Rtu),
            (Bytes{0x01, 0x06, 0x47, 0x0B, 0x02, 0x37, 0xAC, 0x0A}));
  EXPECT_EQ(AsText(ProtocolStepFrame(1, kAutoSyncRegister, 1, FrameForm::Ascii)), ":0106472200018F\r\n");
}

TEST(ProtocolChangeFrames, EchoCheck) {
  const Bytes ascii = ProtocolStepFrame(1, kAutoSyncRegister, 1, FrameForm::Ascii);
  const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
  EXPECT_TRUE(EchoMatches(text(":0106472200018F\r\n"), ascii, FrameForm::Ascii));
  EXPECT_TRUE(EchoMatches(text(":0106472200018F"), ascii, FrameForm::Ascii));
  EXPECT_FALSE(EchoMatches(text(":0106472200018"), ascii, FrameForm::Ascii));
  EXPECT_FALSE(EchoMatches(text(":0186020077"), ascii, FrameForm::Ascii));
  const Bytes rtu = ProtocolStepFrame(1, kAutoSyncRegister, 1, FrameForm::Rtu);
  EXPECT_TRUE(EchoMatches(rtu, rtu, FrameForm::Rtu));
  Bytes longer = rtu;
  longer.push_back(0x00);
  EXPECT_TRUE(EchoMatches(longer, rtu, FrameForm::Rtu));  // the first 8 bytes count
  Bytes other = rtu;
  other.back() ^= 0x01;
  EXPECT_FALSE(EchoMatches(other, rtu, FrameForm::Rtu));
  EXPECT_FALSE(EchoMatches(std::span(rtu).first(5), rtu, FrameForm::Rtu));
}

TEST(ProtocolChangeFields, AddressFieldRules) {
  struct Case {
    const char* text;
    int last;
    int accepted;
    std::optional<std::string> rewrite;
  };
  const std::vector<Case> cases{
      {"2", 1, 2, std::nullopt},   {"255", 1, 255, std::nullopt}, {"007", 1, 7, std::nullopt},
      {"A", 5, 5, "5"},           {"1A", 5, 5, "5"},              {"300", 5, 5, "5"},
      {"256", 5, 5, "5"},         {"0", 5, 5, "5"},               {"", 5, 5, std::nullopt},
      {"-1", 5, 5, "5"},
  };
  for (const Case& c : cases) {
    const AddressEdit e = EditAddressField(c.text, c.last);
    EXPECT_EQ(e.accepted, c.accepted) << c.text;
    EXPECT_EQ(e.text, c.rewrite) << c.text;
  }
}

TEST(ProtocolChangeFields, AfterListRules) {
  PresetFormat f{0, 1, 0, 1, 1};  // RTU with 7 bits, even, 2 stop bits
  ApplyAfterRules(f);
  EXPECT_EQ(f.length, 1);
  EXPECT_EQ(f.stop, 0);
  f = PresetFormat{0, 2, 0, 0, 0};  // 7 bits, none, 1 stop bit
  ApplyAfterRules(f);
  EXPECT_EQ(f.stop, 1);
  EXPECT_EQ(AfterBaudList().items.front(), "9600");
  EXPECT_EQ(AfterProtocolList().items.size(), 2U);
}

// ---------------------------------------------------------------------------

class ChangeEngine : public ::testing::Test {
 protected:
  ChangeEngine() {
    session.settingsWord = 292;  // COM1, 9600, even, 7 bits, 1 stop bit, ASCII
    session.params = PortParams{1, 9600, 7, 1, 1, false};
    routing.setup.answerStep = [this](const Answer& a) { change.AnswerStep(a); };
    routing.setup.lineLost = [this] { change.LineLost(); };
    change.Prepare(session.settingsWord);
  }

  void FeedEcho() {
    const Bytes& sent = change.lastFrame();
    port.Feed(sent);
    if (sent.front() != ':') port.Tick(2);  // an RTU answer ends by silence
  }

  Session session;
  FakePort port;
  MainPortRouting routing{session, port};
  std::vector<int> notices;
  std::vector<std::string> errors;
  ProtocolChange change{session, routing,
                        ProtocolChange::Hooks{nullptr, [this](int code) { notices.push_back(code); },
                                              [this](const std::string& e) { errors.push_back(e); }}};
};

TEST_F(ChangeEngine, PresetsFollowTheSettingsWord) {
  EXPECT_EQ(change.presets.protocol, kProtocolAscii);
  EXPECT_EQ(change.presets.baud, 1);
  EXPECT_EQ(change.presets.parity, kParityEven);
  EXPECT_EQ(change.presets.length, kLength7);
  EXPECT_EQ(change.presets.stop, kStop1);
  EXPECT_EQ(change.after, k9600_7E1_Ascii);
  EXPECT_EQ(change.status(), "Press SET to change KX3 protocol");
  EXPECT_TRUE(change.SetAllowed());
  change.Prepare(690);  // 19200, none, 8 bits, 1 stop bit, RTU
  EXPECT_EQ(change.after, (PresetFormat{1, 2, 1, 0, 1}));
}

// Parity code 3 names no parity: that preset reads "UNKNOW" (SET stays off until
// the user picks one), and every other after list still shows its preset.
TEST_F(ChangeEngine, ParityCodeThreeLeavesTheOtherListsAtTheWord) {
  change.Prepare(446);  // COM1, 19200, parity code 3, 8 bits, 1 stop bit, RTU
  EXPECT_EQ(change.presets.parity, kUnknown);
  EXPECT_FALSE(change.SetAllowed());
  EXPECT_EQ(change.after.baud, 1);
  EXPECT_EQ(change.after.length, 1);
  EXPECT_EQ(change.after.stop, 0);
  EXPECT_EQ(change.after.form, 1);
}

TEST_F(ChangeEngine, AddressAndFormatWrittenUnderOldSettings) {
  change.afterAddress = 2;
  change.after = k19200_8E1_Rtu;
  change.Set(1);
  EXPECT_FALSE(change.pageEnabled());
  EXPECT_EQ(change.status(), "KX3 Protocol Changing");
  EXPECT_EQ(change.step(), 1);
  EXPECT_EQ(session.lineOwner, LineOwner::Setup);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.LastWrittenText(), ":0106470B02376E\r\n");
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_EQ(port.stopBits, 1);
  EXPECT_EQ(port.Remaining(routing.exchange().SilenceTrigger()), 18);

  FeedEcho();
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_EQ(change.state(), ProtocolChange::State::Succeeded);
  EXPECT_EQ(change.step(), 3);
  EXPECT_TRUE(change.pageEnabled());
  EXPECT_EQ(change.beforeAddress, 2);
  EXPECT_EQ(PresetsFormat(change.presets), k19200_8E1_Rtu);
  EXPECT_TRUE(notices.empty());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(session.params.rtu);
}

TEST_F(ChangeEngine, RtuPresetsSendBytes) {
  change.presets.protocol = kProtocolRtu;
  change.presets.length = kLength8;
  change.afterAddress = 2;
  change.after = k19200_8E1_Rtu;
  change.Set(1);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.written[0], (Bytes{0x01, 0x06, 0x47, 0x0B, 0x02, 0x37, 0xAC, 0x0A}));
}

TEST_F(ChangeEngine, SyncRunsSecondStepUnderTheNewSettings) {
  change.afterAddress = 2;
  change.after = k19200_8E1_Rtu;
  change.syncChecked = true;
  change.Set(1);
  FeedEcho();
  EXPECT_EQ(notices, std::vector<int>{252});
  EXPECT_EQ(change.step(), 2);
  // The synchronisation command waits for the notice to close.
  EXPECT_EQ(port.written.size(), 1U);
  change.NoticeClosed();
  ASSERT_EQ(port.written.size(), 2U);
  EXPECT_EQ(port.written[1], (Bytes{0x02, 0x06, 0x47, 0x22, 0x00, 0x01, 0xFC, 0x87}));
  EXPECT_EQ(port.baud, 19200);
  EXPECT_EQ(port.dataBits, 8);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_FALSE(session.params.rtu);  // the RTU form travels with the request

  FeedEcho();
  EXPECT_TRUE(change.syncDone());
  EXPECT_EQ(notices, (std::vector<int>{252, 251}));
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(session.params.rtu);
}

TEST_F(ChangeEngine, NothingDifferingEndsAtOnceOrOnlySynchronises) {
  change.Set(1);
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);

  change.syncChecked = true;
  change.Set(1);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.LastWrittenText(), ":0106472200018F\r\n");
  FeedEcho();
  EXPECT_EQ(notices, std::vector<int>{251});  // no "changing" notice without a change
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
}

TEST_F(ChangeEngine, FailuresReportAndFreeTheLine) {
  struct Case {
    const char* name;
    std::string answer;  // empty: no answer at all
    std::string status;
    bool noise = false;  // a byte every tick: the line never falls silent
  };
  for (const Case& c : {Case{"timeout", "", "Timeout error,Fail to changed"},
                        Case{"exception", ":0186020077\r\n", "Data error,Fail to changed"},
                        Case{"other address", ":0206470B0237" "6D\r\n", "Data error,Fail to changed"},
                        Case{"continuous noise", "", "Timeout error,Fail to changed", true}}) {
    change.Prepare(292);
    change.afterAddress = 2;
    change.after = k19200_8E1_Rtu;
    change.Set(1);
    if (c.noise) {
      for (int i = 0; i < 1000 && change.state() == ProtocolChange::State::WritingAddress; ++i) {
        port.Feed("\x7F");
        port.Tick();
      }
    } else if (c.answer.empty()) {
      port.Tick(17);
      EXPECT_EQ(change.state(), ProtocolChange::State::WritingAddress) << c.name;
      port.Tick(1);
    } else {
      port.Feed(c.answer);
    }
    EXPECT_EQ(change.status(), c.status) << c.name;
    EXPECT_EQ(change.state(), ProtocolChange::State::Failed) << c.name;
    EXPECT_TRUE(change.pageEnabled()) << c.name;
    EXPECT_FALSE(port.IsOpen()) << c.name;
    EXPECT_EQ(session.lineOwner, LineOwner::Free) << c.name;
    EXPECT_EQ(change.beforeAddress, 1) << c.name;
    EXPECT_EQ(PresetsFormat(change.presets), k9600_7E1_Ascii) << c.name;
  }
}

TEST_F(ChangeEngine, FailureInSecondStepLeavesPresetsAtTheNewSettings) {
  change.afterAddress = 2;
  change.after = k19200_8E1_Rtu;
  change.syncChecked = true;
  change.Set(1);
  FeedEcho();
  change.NoticeClosed();
  port.Tick(18);
  EXPECT_EQ(change.status(), "Timeout error,Fail to changed");
  EXPECT_EQ(change.beforeAddress, 2);
  EXPECT_EQ(PresetsFormat(change.presets), k19200_8E1_Rtu);
  EXPECT_FALSE(port.IsOpen());
}

// The port fails while a step awaits its echo (first step, or the sync step
// after the controller took its new settings): the step fails as a time-out,
// the page is usable again and SET runs anew.
TEST_F(ChangeEngine, LostLineFailsTheStepAwaited) {
  for (const bool inSync : {false, true}) {
    change.Prepare(292);
    change.afterAddress = 2;
    change.after = k19200_8E1_Rtu;
    change.syncChecked = inSync;
    change.Set(1);
    if (inSync) {
      FeedEcho();
      change.NoticeClosed();
      ASSERT_EQ(change.state(), ProtocolChange::State::Synchronising);
    }
    port.Fail("ttyUSB0 was disconnected");
    EXPECT_EQ(change.state(), ProtocolChange::State::Failed) << inSync;
    EXPECT_EQ(change.status(), "Timeout error,Fail to changed") << inSync;
    EXPECT_TRUE(change.pageEnabled()) << inSync;
    EXPECT_EQ(session.lineOwner, LineOwner::Free) << inSync;
    EXPECT_EQ(change.beforeAddress, inSync ? 2 : 1) << inSync;
    EXPECT_EQ(port.RunTimers(), 0) << inSync;

    const std::size_t sent = port.written.size();
    change.Set(1);  // SET again: the next opening carries the step
    EXPECT_EQ(port.written.size(), sent + 1) << inSync;
    port.Tick(18);
    EXPECT_EQ(change.status(), "Timeout error,Fail to changed") << inSync;
  }
}

TEST_F(ChangeEngine, PortThatCannotOpenLeavesThePageUsable) {
  port.failNextOpen = "Device or resource busy";
  change.afterAddress = 2;
  change.Set(1);
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0], "Device or resource busy");
  EXPECT_TRUE(change.pageEnabled());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_EQ(change.status(), "Press SET to change KX3 protocol");
  EXPECT_TRUE(port.written.empty());
}

}  // namespace
}  // namespace kx
