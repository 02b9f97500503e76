#include "core/comset/protocol_change.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/routing/main_routing.h"
#include "core/text/messages.h"
#include "core/line/session.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"

namespace kx {
namespace {

using test::FakePort;
using test::SimBus;

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

  const LineFormat ascii = *ParseLineFormat("9600-7E1-ascii");
  const LineFormat rtu = *ParseLineFormat("9600-8E1-rtu");
  EXPECT_EQ(AsText(ProtocolStepRequest(ascii, 1, kAddressFormatRegister, 0x0237).frame), ":0106470B02376E\r\n");
  EXPECT_EQ(ProtocolStepRequest(rtu, 1, kAddressFormatRegister, 0x0237).frame,
            (Bytes{0x01, 0x06, 0x47, 0x0B, 0x02, 0x37, 0xAC, 0x0A}));
  EXPECT_EQ(AsText(ProtocolStepRequest(ascii, 1, kAutoSyncRegister, 1).frame), ":0106472200018F\r\n");
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
// The change on the simulated bus: a KX3 at address 1 on 9600 7E1 ASCII, the
// settings word's format; answers are collected by the main routing.

// A main port with its routing, the bus and the change, wired as the page wires them.
struct ChangeRig {
  ChangeRig() {
    session.settingsWord = 292;  // COM1, 9600, even, 7 bits, 1 stop bit, ASCII
    session.params = PortParams{1, 9600, 7, 1, 1, false};
    routing.setup.answerStep = [this](const Answer& a) { change.Handle(change_event::Answered{a}); };
    routing.setup.lineLost = [this] { change.Handle(change_event::LineLost{}); };
    change.Handle(change_event::Prepare{session.settingsWord});
  }

  // The order in force, to become `after` at `afterAddress`.
  ChangeOrder Order(int afterAddress, const PresetFormat& after, bool sync = false) const {
    ChangeOrder order = change.order();
    order.afterAddress = afterAddress;
    order.after = after;
    order.sync = sync;
    return order;
  }
  void Set(const ChangeOrder& order) { change.Handle(change_event::Set{1, order}); }
  // Runs the bus until the step out has ended (echo, failure or time-out).
  void RunStep() {
    const ProtocolChange::State awaited = change.state();
    ASSERT_TRUE(bus.RunUntil([&] { return change.state() != awaited; }, 100));
  }

  Session session;
  FakePort port;
  SimBus bus{port};
  MainPortRouting routing{session, port};
  std::vector<int> notices;
  std::vector<std::string> errors;
  ProtocolChange change{session, routing,
                        ProtocolChange::Hooks{nullptr, [this](int code) { notices.push_back(code); },
                                              [this](const std::string& e) { errors.push_back(e); }}};
};

class ChangeEngine : public ::testing::Test, protected ChangeRig {
 protected:
  ChangeEngine() { bus.Add("kx3@1:9600-7E1-ascii+1"); }  // one unit behind it, at 2
};

TEST_F(ChangeEngine, PresetsFollowTheSettingsWord) {
  const SearchPresets& presets = change.order().presets;
  EXPECT_EQ(presets.protocol, kProtocolAscii);
  EXPECT_EQ(presets.baud, 1);
  EXPECT_EQ(presets.parity, kParityEven);
  EXPECT_EQ(presets.length, kLength7);
  EXPECT_EQ(presets.stop, kStop1);
  EXPECT_EQ(change.order().after, k9600_7E1_Ascii);
  EXPECT_EQ(change.status(), "Press SET to change KX3 protocol");
  EXPECT_TRUE(change.SetAllowed());
  change.Handle(change_event::Prepare{690});  // 19200, none, 8 bits, 1 stop bit, RTU
  EXPECT_EQ(change.order().after, (PresetFormat{1, 2, 1, 0, 1}));
}

// Parity code 3 names no parity: that preset reads "UNKNOW" (SET stays off until
// the user picks one), and every other after list still shows its preset.
TEST_F(ChangeEngine, ParityCodeThreeLeavesTheOtherListsAtTheWord) {
  change.Handle(change_event::Prepare{446});  // COM1, 19200, parity code 3, 8 bits, 1 stop bit, RTU
  EXPECT_EQ(change.order().presets.parity, kUnknown);
  EXPECT_FALSE(change.SetAllowed());
  EXPECT_EQ(change.order().after.baud, 1);
  EXPECT_EQ(change.order().after.length, 1);
  EXPECT_EQ(change.order().after.stop, 0);
  EXPECT_EQ(change.order().after.form, 1);
  Set(change.order());  // SET with a preset at "UNKNOW" does nothing
  EXPECT_EQ(change.state(), ProtocolChange::State::Ready);
  EXPECT_TRUE(port.written.empty());
}

TEST_F(ChangeEngine, AddressAndFormatWrittenUnderOldSettings) {
  Set(Order(2, k19200_8E1_Rtu));
  EXPECT_FALSE(change.PageEnabled());
  EXPECT_EQ(change.state(), ProtocolChange::State::WritingAddress);
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

  RunStep();
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_EQ(change.state(), ProtocolChange::State::Succeeded);
  EXPECT_EQ(change.step(), 3);
  EXPECT_TRUE(change.PageEnabled());
  EXPECT_EQ(change.order().beforeAddress, 2);
  EXPECT_EQ(PresetsFormat(change.order().presets), k19200_8E1_Rtu);
  EXPECT_TRUE(notices.empty());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(session.params.rtu);
  EXPECT_EQ(bus.Controller(2).format().form, FrameForm::Rtu);  // the controller took it
}

TEST_F(ChangeEngine, RtuPresetsSendBytes) {
  ChangeOrder order = Order(2, k19200_8E1_Rtu);
  order.presets.protocol = kProtocolRtu;
  order.presets.length = kLength8;
  Set(order);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.written[0], (Bytes{0x01, 0x06, 0x47, 0x0B, 0x02, 0x37, 0xAC, 0x0A}));
}

TEST_F(ChangeEngine, SyncRunsSecondStepUnderTheNewSettings) {
  Set(Order(2, k19200_8E1_Rtu, true));
  RunStep();
  EXPECT_EQ(notices, std::vector<int>{252});
  EXPECT_EQ(change.state(), ProtocolChange::State::AwaitingNotice);
  EXPECT_EQ(change.step(), 2);
  // The synchronisation command waits for the notice to close.
  bus.Tick(20);
  EXPECT_EQ(port.written.size(), 1U);
  change.Handle(change_event::NoticeClosed{});
  ASSERT_EQ(port.written.size(), 2U);
  EXPECT_EQ(port.written[1], (Bytes{0x02, 0x06, 0x47, 0x22, 0x00, 0x01, 0xFC, 0x87}));
  EXPECT_EQ(port.baud, 19200);
  EXPECT_EQ(port.dataBits, 8);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_FALSE(session.params.rtu);  // the RTU form travels with the request

  RunStep();
  EXPECT_TRUE(change.syncDone());
  EXPECT_EQ(notices, (std::vector<int>{252, 251}));
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(session.params.rtu);
  EXPECT_EQ(bus.Controller(3).format().form, FrameForm::Rtu);  // the unit behind it followed
  change.Handle(change_event::NoticeClosed{});  // the success notice closing sends nothing
  EXPECT_EQ(port.written.size(), 2U);
}

TEST_F(ChangeEngine, NothingDifferingEndsAtOnceOrOnlySynchronises) {
  Set(change.order());
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);

  ChangeOrder order = change.order();
  order.sync = true;
  Set(order);
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.LastWrittenText(), ":0106472200018F\r\n");
  RunStep();
  EXPECT_EQ(notices, std::vector<int>{251});  // no "changing" notice without a change
  EXPECT_EQ(change.status(), "SET KX3 Protocol Success");
}

struct FailureCase {
  const char* name;
  kxsim::Fault fault;   // of the controller's answer
  std::string status;
  bool noise = false;   // a byte now and then, never a line feed: the line never falls silent
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ChangeFailures : public ::testing::TestWithParam<FailureCase>, protected ChangeRig {};

TEST_P(ChangeFailures, ReportAndFreeTheLine) {
  const FailureCase& c = GetParam();
  bus.Add("kx3@1:9600-7E1-ascii").SetFault(c.fault);
  if (c.noise) bus.line().noise().Set(kxsim::NoiseSetting{kxsim::NoiseKind::NoLineFeeds, 20});
  Set(Order(2, k19200_8E1_Rtu));
  if (c.fault == kxsim::Fault::NoAnswer && !c.noise) {
    bus.Tick(17);
    EXPECT_EQ(change.state(), ProtocolChange::State::WritingAddress);
    bus.Tick(1);
  } else {
    RunStep();
  }
  EXPECT_EQ(change.status(), c.status);
  EXPECT_EQ(change.state(), ProtocolChange::State::Failed);
  EXPECT_TRUE(change.PageEnabled());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_EQ(change.order().beforeAddress, 1);
  EXPECT_EQ(PresetsFormat(change.order().presets), k9600_7E1_Ascii);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ChangeFailures,
    ::testing::Values(FailureCase{"Timeout", kxsim::Fault::NoAnswer, "Timeout error,Fail to changed"},
                      FailureCase{"Exception", kxsim::Fault::Exception, "Data error,Fail to changed"},
                      FailureCase{"OtherAddress", kxsim::Fault::WrongAddress, "Data error,Fail to changed"},
                      FailureCase{"BadCheck", kxsim::Fault::BadCheck, "Data error,Fail to changed"},
                      FailureCase{"ContinuousNoise", kxsim::Fault::NoAnswer, "Timeout error,Fail to changed",
                                  true}),
    [](const auto& p) { return std::string(p.param.name); });

// What counts as the echo of the first step, byte by byte on the line as it
// came (no controller: the test hands the bytes over): ASCII the whole answer
// up to its line end, RTU the first 8 bytes up to the silence.
TEST(ChangeEcho, WhatCountsAsTheEcho) {
  struct Case {
    const char* name;
    bool rtu;
    Bytes received;
    const char* status;
  };
  const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
  const Bytes rtuEcho{0x01, 0x06, 0x47, 0x0B, 0x02, 0x37, 0xAC, 0x0A};
  Bytes longer = rtuEcho;
  longer.push_back(0x00);
  Bytes other = rtuEcho;
  other.back() ^= 0x01;
  const char* success = "SET KX3 Protocol Success";
  const char* dataError = "Data error,Fail to changed";
  const std::vector<Case> cases{
      {"ascii echo", false, text(":0106470B02376E\r\n"), success},
      // Without its line end the answer never ends: a time-out.
      {"ascii echo without line end", false, text(":0106470B02376E"), "Timeout error,Fail to changed"},
      {"ascii one digit short", false, text(":0106470B02376\r\n"), dataError},
      {"ascii exception", false, text(":0186020077\r\n"), dataError},
      {"rtu echo", true, rtuEcho, success},
      {"rtu longer: the first 8 bytes count", true, longer, success},
      {"rtu other crc", true, other, dataError},
      {"rtu first 5 bytes", true, Bytes(rtuEcho.begin(), rtuEcho.begin() + 5), dataError},
  };
  for (const Case& c : cases) {
    ChangeRig rig;
    ChangeOrder order = rig.Order(2, k19200_8E1_Rtu);
    if (c.rtu) {
      order.presets.protocol = kProtocolRtu;
      order.presets.length = kLength8;
    }
    rig.Set(order);
    rig.port.Feed(c.received);
    rig.port.Tick(18);
    EXPECT_EQ(rig.change.status(), c.status) << c.name;
  }
}

TEST_F(ChangeEngine, FailureInSecondStepLeavesPresetsAtTheNewSettings) {
  Set(Order(2, k19200_8E1_Rtu, true));
  RunStep();
  bus.Controller(2).SetFault(kxsim::Fault::NoAnswer);
  change.Handle(change_event::NoticeClosed{});
  bus.Tick(18);
  EXPECT_EQ(change.status(), "Timeout error,Fail to changed");
  EXPECT_EQ(change.order().beforeAddress, 2);
  EXPECT_EQ(PresetsFormat(change.order().presets), k19200_8E1_Rtu);
  EXPECT_FALSE(port.IsOpen());
}

// The port fails while a step awaits its echo (first step, or the sync step
// after the controller took its new settings): the step fails as a time-out,
// the page is usable again and SET runs anew.
TEST(ChangeLostLine, FailsTheStepAwaited) {
  for (const bool inSync : {false, true}) {
    ChangeRig rig;
    kxsim::Controller& controller = rig.bus.Add("kx3@1:9600-7E1-ascii");
    rig.Set(rig.Order(2, k19200_8E1_Rtu, inSync));
    if (inSync) {
      rig.RunStep();
      rig.change.Handle(change_event::NoticeClosed{});
      ASSERT_EQ(rig.change.state(), ProtocolChange::State::Synchronising);
    }
    rig.port.Fail("ttyUSB0 was disconnected");
    EXPECT_EQ(rig.change.state(), ProtocolChange::State::Failed) << inSync;
    EXPECT_EQ(rig.change.status(), "Timeout error,Fail to changed") << inSync;
    EXPECT_TRUE(rig.change.PageEnabled()) << inSync;
    EXPECT_EQ(rig.session.lineOwner, LineOwner::Free) << inSync;
    EXPECT_EQ(rig.change.order().beforeAddress, inSync ? 2 : 1) << inSync;
    EXPECT_EQ(rig.port.RunTimers(), 0) << inSync;

    controller.SetFault(kxsim::Fault::NoAnswer);  // gone with the old adapter
    const std::size_t sent = rig.port.written.size();
    rig.Set(rig.change.order());  // SET again: the next opening carries the step
    EXPECT_EQ(rig.port.written.size(), sent + 1) << inSync;
    rig.bus.Tick(18);
    EXPECT_EQ(rig.change.status(), "Timeout error,Fail to changed") << inSync;
  }
}

TEST_F(ChangeEngine, PortThatCannotOpenLeavesThePageUsable) {
  port.failNextOpen = "Device or resource busy";
  Set(Order(2, change.order().after));
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0], "Device or resource busy");
  EXPECT_TRUE(change.PageEnabled());
  EXPECT_EQ(change.state(), ProtocolChange::State::Ready);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_EQ(change.status(), "Press SET to change KX3 protocol");
  EXPECT_TRUE(port.written.empty());
}

// The question before SET behind a server that keeps its own line format:
// asked whenever the address-and-format write goes out (it always carries the
// whole format byte), never for a line the program sets or a sync alone.
TEST(ChangeWarningRule, AskedWhenTheFormatIsWrittenBehindAServer) {
  Session session;
  session.portPath[1] = "/dev/ttyUSB0";
  session.portPath[2] = "tcp://127.0.0.1:5000";
  session.portPath[3] = "modbus-tcp://127.0.0.1";
  ChangeOrder same;
  SetPresetsToFormat(same.presets, k9600_7E1_Ascii);
  same.after = k9600_7E1_Ascii;
  ChangeOrder newAddress = same;
  newAddress.afterAddress = 2;
  ChangeOrder newFormat = same;
  newFormat.after = k19200_8E1_Rtu;
  ChangeOrder syncOnly = same;
  syncOnly.sync = true;
  const std::string tcp =
      "COM2 (tcp://127.0.0.1:5000): the server keeps its own line format and will not follow the controller's new "
      "one. Unless the format chosen here is the server's, the controller will not answer through it until the "
      "server is set the same.\n\nChange anyway?";
  const std::string gateway =
      "COM3 (modbus-tcp://127.0.0.1): the gateway keeps its own line format and will not follow the controller's "
      "new one. Unless the format chosen here is the gateway's (RTU), the controller will not answer through it "
      "until the gateway is set the same.\n\nChange anyway?";
  struct Case {
    int com;
    const ChangeOrder* order;
    std::string warning;
  };
  const Case cases[] = {
      {1, &newFormat, ""},      {1, &newAddress, ""},      {2, &newFormat, tcp},
      {2, &newAddress, tcp},    {2, &syncOnly, ""},        {2, &same, ""},
      {3, &newFormat, gateway}, {3, &newAddress, gateway}, {3, &syncOnly, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChangeWarning(session, c.com, *c.order), c.warning) << c.com;
    EXPECT_EQ(WritesAddressAndFormat(*c.order), c.order != &same && c.order != &syncOnly);
  }
}

}  // namespace
}  // namespace kx
