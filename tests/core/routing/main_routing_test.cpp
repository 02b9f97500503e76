#include "core/routing/main_routing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modbus/codec.h"
#include "support/fake_port.h"

namespace kx {
namespace {

using test::FakePort;
using Route = MainPortRouting::Route;

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// ---------------------------------------------------------------------------
// ApdComPortMain

class MainPortTest : public ::testing::Test {
 protected:
  MainPortTest() : routing(session, port) {
    session.params = PortParams{3, 9600, 7, 1, 1, false};
    routing.tester.showReceived = [this](const std::string& t) { shown.push_back(t); };
    routing.tester.answerEnded = [this] { ++answersEnded; };
    // The answer as the settings window used to see it: ASCII text, RTU hex pairs.
    routing.setup.answerStep = [this](const Answer&) { answers.push_back(routing.ReceiveText()); };
  }

  FrameForm Form() const { return session.params.rtu ? FrameForm::Rtu : FrameForm::Ascii; }

  // What the tester does on Send: owns the line, opens, sends, waits 18 ticks.
  void TesterSend(std::string_view frame = ":010347000002B3\r\n") {
    routing.HoldLine(LineOwner::Tester);
    ASSERT_TRUE(routing.Open());
    Bytes block(frame.begin(), frame.end());
    routing.Send(Route::Tester, Form(), block, MainPortRouting::kTesterTicks);
  }

  // What the settings window does for one probe.
  void SetupSend(int firstWait = 2) {
    routing.HoldLine(LineOwner::Setup);
    ASSERT_TRUE(routing.Open());
    const Bytes probe = B({0x01, 0x03, 0x47, 0x01, 0x00, 0x01});
    routing.Send(Route::Setup, Form(), probe, firstWait);
  }

  std::uint16_t Wait() const { return routing.exchange().SilenceTrigger(); }

  Session session;
  FakePort port;
  MainPortRouting routing;
  std::vector<std::string> shown;
  std::vector<std::string> answers;
  int answersEnded = 0;  // the tester closes the port then (tester_test)
};

TEST_F(MainPortTest, OpenUsesPortParametersAndReadiesTheExchange) {
  ASSERT_TRUE(routing.Open());
  EXPECT_EQ(port.comNumber, 3);
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.stopBits, 1);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_GT(port.TriggerCount(), 0U);
}

TEST_F(MainPortTest, OpenFailureLeavesPortClosed) {
  port.failNextOpen = "No such file or directory";
  EXPECT_FALSE(routing.Open());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ErrorText(), "No such file or directory");
}

TEST_F(MainPortTest, TesterAsciiAnswerInTwoChunksCompletesOnLf) {
  TesterSend();
  EXPECT_EQ(port.Remaining(Wait()), 18);
  port.Tick(5);
  port.Feed(":0103020");
  // The first chunk re-arms the timer: the wait now measures silence.
  EXPECT_EQ(port.Remaining(Wait()), 18);
  EXPECT_TRUE(port.IsOpen());
  port.Feed("06496\r\n");
  EXPECT_FALSE(port.Armed(Wait()));
  EXPECT_EQ(answersEnded, 1);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), ":010302006496");
}

TEST_F(MainPortTest, TesterTimeoutTexts) {
  struct Case {
    bool rtu;
    Bytes received;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {false, {}, "Received Data Timeout !"},
      {false, B({':', '0', '1'}), "Received Data Timeout !"},  // ASCII without LF
      {true, {}, "Received Data Timeout !"},
      {true, B({0x01, 0x10, 0x47}), "011047"},  // RTU ends by silence: bytes stay
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    shown.clear();
    answersEnded = 0;
    session.params.rtu = c.rtu;
    TesterSend();
    if (!c.received.empty()) port.Feed(c.received);
    port.RunTimers();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), c.expected);
    EXPECT_EQ(answersEnded, 1);
    routing.Close();
  }
}

TEST_F(MainPortTest, TesterRtuAnswerGrowsChunkByChunk) {
  session.params.rtu = true;
  TesterSend();
  port.Feed(B({0x01, 0x03}));
  port.Tick(10);
  port.Feed(B({0x02, 0x00, 0x64}));
  EXPECT_EQ(shown, (std::vector<std::string>{"0103", "0103020064"}));
  EXPECT_EQ(port.Remaining(Wait()), 18);
  EXPECT_EQ(answersEnded, 0);
  port.Tick(18);
  EXPECT_EQ(shown.back(), "0103020064");
  EXPECT_EQ(answersEnded, 1);
}

// Whether the port closes after an answer is the tester's to decide (it
// repeats or not): the routing keeps the port and the line either way.
TEST_F(MainPortTest, TesterAnswerOrTimeoutLeavesPortAndLineToTheTester) {
  TesterSend();
  port.Feed(":010302006496\r\n");
  EXPECT_EQ(answersEnded, 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
  routing.Send(Route::Tester, FrameForm::Ascii, Bytes{':'}, MainPortRouting::kTesterTicks);
  port.RunTimers();
  EXPECT_EQ(shown.back(), "Received Data Timeout !");
  EXPECT_EQ(answersEnded, 2);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Tester);
}

// A line that never falls silent (with or without line feeds inside the
// chunks) still ends the tester's request at its deadline, as a time-out.
TEST_F(MainPortTest, ContinuousNoiseEndsTheTesterRequestAtItsDeadline) {
  for (const bool rtu : {false, true}) {
    SCOPED_TRACE(rtu ? "RTU" : "ASCII");
    session.params.rtu = rtu;
    answersEnded = 0;
    TesterSend();
    const int deadline = routing.exchange().deadlineTicks();
    int ticks = 0;
    while (answersEnded == 0 && ticks < 1000) {
      port.Feed("x\ny");
      port.Tick();
      ++ticks;
    }
    EXPECT_EQ(ticks, deadline);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "Received Data Timeout !");
    EXPECT_EQ(answersEnded, 1);
    routing.Close();
  }
}

TEST_F(MainPortTest, TesterReceivedTextIsCapped) {
  TesterSend();
  port.Feed(std::string(5000, 'A'));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().size(), MainPortRouting::kReceiveCapacity);
  EXPECT_EQ(answersEnded, 1);  // a full buffer ends the answer
}

TEST_F(MainPortTest, SetupAsciiAnswerRunsAnswerStepOnce) {
  SetupSend();
  port.Feed(":01030200");
  EXPECT_EQ(port.Remaining(Wait()), 2);  // re-arm 2 ticks
  EXPECT_TRUE(answers.empty());
  port.Feed("00FA\r\n");
  ASSERT_EQ(answers.size(), 1U);
  EXPECT_EQ(answers[0], ":0103020000FA");
  EXPECT_FALSE(port.Armed(Wait()));
  EXPECT_TRUE(shown.empty());  // nothing reaches the tester
  EXPECT_TRUE(port.IsOpen());    // the settings window closes its port itself
}

TEST_F(MainPortTest, SetupRtuEndsBySilenceAndTimeoutGivesEmptyText) {
  session.params.rtu = true;
  SetupSend(18);
  port.Feed(B({0x01, 0x06, 0x47, 0x0B}));
  port.Feed(B({0x02, 0x37, 0xAC, 0x0A}));
  EXPECT_TRUE(answers.empty());
  port.Tick(2);
  ASSERT_EQ(answers.size(), 1U);
  EXPECT_EQ(answers[0], "0106470B0237AC0A");

  routing.Send(Route::Setup, Form(), B({0x02, 0x03}), 2);
  port.RunTimers();
  ASSERT_EQ(answers.size(), 2U);
  EXPECT_EQ(answers[1], "");
}

TEST_F(MainPortTest, SetupLateBytesAreNotTakenForTheNextAnswer) {
  SetupSend();
  port.Feed(":0103020000FA\r\n");
  ASSERT_EQ(answers.size(), 1U);
  // A second, late answer (another controller, an echo) before the next probe.
  port.Feed(":0203020000F9\r\n");
  port.RunTimers();
  EXPECT_EQ(answers.size(), 1U);
  // The next probe starts from an empty receive text.
  routing.Send(Route::Setup, Form(), B({0x02, 0x03}), 2);
  port.RunTimers();
  ASSERT_EQ(answers.size(), 2U);
  EXPECT_EQ(answers[1], "");
}

// ---------------------------------------------------------------------------
// ApdComPort1

class SecondPortTest : public ::testing::Test {
 protected:
  SecondPortTest() : routing(session, port) {}

  static std::string Kind(const PortEvent& e) {
    return std::holds_alternative<port_event::TimerExpired>(e) ? "timer" : "data";
  }
  // The firmware update window opens: its engine takes the route.
  void OpenFirmware() {
    routing.firmware.event = [this](const PortEvent& e) { firmwareEvents.push_back(Kind(e)); };
    routing.firmware.lineLost = [this] { firmwareEvents.push_back("lost"); };
  }
  // The recorder window opens: its engine takes the route while it holds the line.
  void OpenRecorder() {
    routing.recorder.event = [this](const PortEvent& e) { recorderEvents.push_back(Kind(e)); };
    routing.recorder.lineLost = [this](const std::string& reason) { recorderEvents.push_back("lost: " + reason); };
  }

  Session session;
  FakePort port;
  SecondPortRouting routing;
  std::vector<std::string> firmwareEvents;
  std::vector<std::string> recorderEvents;
};

TEST_F(SecondPortTest, FirmwareWindowTakesTheEventsAsTheyCome) {
  OpenFirmware();
  ASSERT_TRUE(port.Open());
  const std::uint16_t timer = port.AddTimerTrigger();
  port.Arm(timer, 2);
  port.Feed(B({0x01, 0x05}));
  port.RunTimers();
  EXPECT_EQ(firmwareEvents, (std::vector<std::string>{"data", "timer"}));
}

TEST_F(SecondPortTest, EventsWithoutRouteChangeNothing) {
  ASSERT_TRUE(routing.Open(SecondPortRouting::Route::Recorder));
  port.Arm(routing.recorderTimer(), 3);
  port.Feed("stray\r\n");
  port.RunTimers();
  EXPECT_TRUE(firmwareEvents.empty());
  EXPECT_EQ(port.CharsWaiting(), 0U);  // drained, not left for the next answer
}

// Who gets the events and the lost line: the recorder while its window is open
// and it holds the line, else the firmware update while its window is open,
// else nobody (and the owner reports a lost line).
TEST_F(SecondPortTest, TheRoutingAloneDecidesWhoGetsTheEvents) {
  struct Case {
    const char* name;
    bool recorderOpen, firmwareOpen;
    LineOwner owner;
    std::vector<std::string> recorder, firmware;
    bool recorderReports;
  };
  const std::vector<Case> cases = {
      {"RecorderHoldsTheLine", true, false, LineOwner::Recorder, {"data", "timer", "lost: gone"}, {}, true},
      {"RecorderOpenButIdle", true, false, LineOwner::Free, {}, {}, false},
      {"FirmwareUpdate", false, true, LineOwner::Firmware, {}, {"data", "timer", "lost"}, false},
      {"RecorderBeforeFirmware", true, true, LineOwner::Recorder, {"data", "timer", "lost: gone"}, {}, true},
      {"NoWindow", false, false, LineOwner::Recorder, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    routing.recorder = {};
    routing.firmware = {};
    recorderEvents.clear();
    firmwareEvents.clear();
    if (c.recorderOpen) OpenRecorder();
    if (c.firmwareOpen) OpenFirmware();
    LineLease lease = session.TakeLine(c.owner);
    ASSERT_TRUE(port.Open());
    const std::uint16_t timer = port.AddTimerTrigger();
    port.Arm(timer, 2);
    port.Feed(B({0x01, 0x05}));
    port.RunTimers();
    EXPECT_EQ(routing.LineLost("gone"), c.recorderReports);
    EXPECT_EQ(recorderEvents, c.recorder);
    EXPECT_EQ(firmwareEvents, c.firmware);
    port.Close();
  }
}

}  // namespace
}  // namespace kx
