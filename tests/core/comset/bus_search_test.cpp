#include "core/comset/bus_search.h"
#include "core/exchange/requests.h"

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

// Presets by item index: addr, baud, length, parity, stop, protocol.
SearchPresets P(int addr, int baud, int length, int parity, int stop, int protocol) {
  return SearchPresets{addr, baud, length, parity, stop, protocol};
}

int Combo(int baud, int parity, int length, int stop, int form) {
  return CombinationNumber(PresetFormat{baud, parity, length, stop, form});
}

// ---------------------------------------------------------------------------
// Which combinations a search visits, and its total, per preset choice.

struct SteppingCase {
  const char* name;
  SearchPresets presets;
  int combinations;
  int first;       // first combination visited (the starting one)
  int last;        // last combination visited
  int addresses;   // per combination
  bool only7BitAscii = false;
  bool only8Bit = false;
};

class SteppingTable : public ::testing::TestWithParam<SteppingCase> {};

TEST_P(SteppingTable, VisitsCombinationsInOrderWithTheirTotal) {
  const SteppingCase& c = GetParam();
  SearchPresets presets = c.presets;
  ApplyPresetRules(presets);
  const std::vector<int> visited = VisitedCombinations(presets);
  ASSERT_EQ(static_cast<int>(visited.size()), c.combinations);
  EXPECT_EQ(visited.front(), c.first);
  EXPECT_EQ(visited.back(), c.last);
  EXPECT_TRUE(std::is_sorted(visited.begin(), visited.end()));
  EXPECT_EQ(PresetAddressRange(presets.addr).Count(), c.addresses);
  for (int n : visited) {
    const PresetFormat f = CombinationFormat(n);
    EXPECT_FALSE(FormatRtu(f) && FormatDataBits(f) == 7) << n;  // RTU only with 8 data bits
    if (c.only7BitAscii) {
      EXPECT_TRUE(!FormatRtu(f) && FormatDataBits(f) == 7) << n;
    }
    if (c.only8Bit) {
      EXPECT_EQ(FormatDataBits(f), 8) << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Presets, SteppingTable,
    ::testing::Values(
        SteppingCase{"NothingFixed", P(0, 0, 0, 0, 0, 0), 90, 0, Combo(4, 2, 1, 1, 1), 247},
        SteppingCase{"EverythingFixedFirstRange", P(1, 1, 1, 1, 1, 1), 1, 0, 0, 16},
        SteppingCase{"LastRangeEndsAt247", P(16, 2, 2, 3, 2, 2), 1, Combo(1, 2, 1, 1, 1), Combo(1, 2, 1, 1, 1),
                     7},
        SteppingCase{"RtuWithLengthUnknownUses8Bits", P(0, 0, 0, 0, 0, 2), 30, Combo(0, 0, 1, 0, 1),
                     Combo(4, 2, 1, 1, 1), 247, false, true},
        SteppingCase{"SevenBitsFormUnknownVisitsAsciiOnly", P(3, 0, 1, 0, 0, 0), 30, 0, Combo(4, 2, 0, 1, 0), 16,
                     true},
        SteppingCase{"EightBitsEvenForcesOneStopBit", P(0, 0, 2, 2, 0, 0), 10, Combo(0, 1, 1, 0, 0),
                     Combo(4, 1, 1, 0, 1), 247, false, true},
        SteppingCase{"SevenBitsNoneForcesTwoStopBits", P(0, 0, 1, 3, 0, 0), 5, Combo(0, 2, 0, 1, 0),
                     Combo(4, 2, 0, 1, 0), 247, true},
        SteppingCase{"BaudAndProtocolFixed", P(0, 2, 0, 0, 0, 1), 12, 1, Combo(1, 2, 1, 1, 0), 247}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SearchPresetRules, RtuForces8BitsAndParityForcesStopBits) {
  SearchPresets p = P(0, 0, kLength7, kParityOdd, kStop2, kProtocolRtu);
  ApplyPresetRules(p);
  EXPECT_EQ(p.length, kLength8);
  EXPECT_EQ(p.stop, kStop1);
  p = P(0, 0, kLength7, kParityNone, kStop1, kProtocolAscii);
  ApplyPresetRules(p);
  EXPECT_EQ(p.stop, kStop2);
  p = P(0, 0, kLength8, kParityNone, kStop2, 0);
  ApplyPresetRules(p);
  EXPECT_EQ(p.stop, kStop2);
}

TEST(SearchLabels, StartLabelAndRewrites) {
  EXPECT_EQ(CombinationLabel(1, 0), "COM01, 9600,7,O,1,ASCII");
  EXPECT_EQ(CombinationLabel(12, Combo(1, 2, 1, 1, 1)), "COM12,19200,8,N,2,  RTU");
  std::string label = CombinationLabel(3, 0);
  RewriteLabel(label, Combo(1, 2, 1, 1, 1));
  EXPECT_EQ(label, "COM03,19200,8,N,2,RTU  ");
  RewriteLabel(label, Combo(4, 1, 0, 0, 0));
  EXPECT_EQ(label, "COM03, 2400,7,E,1,ASCII");
}

TEST(SearchLabels, TimeLeft) {
  EXPECT_EQ(TimeLeftText(16, 1), "Estimate time left : 2 sec");
  EXPECT_EQ(TimeLeftText(247, 20), "Estimate time left : 41 sec");
  EXPECT_EQ(TimeLeftText(22230, 0), "Estimate time left : 67  min,,48 sec");
  EXPECT_EQ(TimeLeftText(16, 16), "Estimate time left : 0 sec");
}

TEST(SearchProbe, FramesAndHitRule) {
  const Bytes ascii = ProbeFrame(1, FrameForm::Ascii);
  EXPECT_EQ(std::string(ascii.begin(), ascii.end()), ":010347010001B3\r\n");
  EXPECT_EQ(ProbeFrame(1, FrameForm::Rtu), (Bytes{0x01, 0x03, 0x47, 0x01, 0x00, 0x01, 0xC1, 0x7E}));

  // The routing's answers carry what was received, however they ended.
  const auto received = [](Bytes raw) {
    Answer a;
    a.raw = std::move(raw);
    return a;
  };
  const auto text = [&](std::string_view t) { return received(Bytes(t.begin(), t.end())); };
  EXPECT_TRUE(ProbeHit(text(":0103020000FA\r\n"), 1, FrameForm::Ascii));
  EXPECT_FALSE(ProbeHit(text(":0103020000FA"), 2, FrameForm::Ascii));
  EXPECT_TRUE(ProbeHit(received({0x1A, 0x03, 0x02, 0x00, 0x00, 0xD1, 0x36}), 26, FrameForm::Rtu));
  EXPECT_TRUE(ProbeHit(text(":010302"), 1, FrameForm::Ascii));       // check digits not examined
  EXPECT_TRUE(ProbeHit(received({0x01, 0x03, 0x02}), 1, FrameForm::Rtu));
  EXPECT_FALSE(ProbeHit(text(":018302"), 1, FrameForm::Ascii));       // exception answer
  EXPECT_FALSE(ProbeHit(received({0x01, 0x83, 0x02}), 1, FrameForm::Rtu));
  EXPECT_FALSE(ProbeHit(text(":0103040000"), 1, FrameForm::Ascii));   // byte count 4
  EXPECT_FALSE(ProbeHit(text(":01030"), 1, FrameForm::Ascii));        // too short
  EXPECT_FALSE(ProbeHit(received({0x01, 0x03}), 1, FrameForm::Rtu));
  EXPECT_FALSE(ProbeHit(received({}), 1, FrameForm::Rtu));
  EXPECT_FALSE(ProbeHit(text(":0103020000FA"), 1, FrameForm::Rtu));   // ASCII text read as RTU
}

// Behind a server that fixes the line format, one format is searched: the
// one chosen in PC settings, over the chosen address range.
TEST(SearchOnLine, PresetsPerTransport) {
  const PresetFormat ascii7E1{0, 1, 0, 0, 0};  // 9600, even, 7 bits, 1 stop bit, ASCII
  const PresetFormat rtu19200{1, 2, 0, 1, 1};  // 19200, none, 7 bits (from a hand-edited word), 2, RTU
  struct Case {
    const char* name;
    LineTransport transport;
    SearchPresets chosen;
    PresetFormat pc;
    SearchPresets expected;
  };
  const Case cases[] = {
      {"local device searches what is left open", LineTransport::Device, P(3, 0, 0, 0, 0, 0), ascii7E1,
       P(3, 0, 0, 0, 0, 0)},
      {"rfc2217 line the same", LineTransport::Rfc2217, P(0, 2, 0, 0, 0, 2), ascii7E1, P(0, 2, 0, 0, 0, 2)},
      {"tcp takes the PC format", LineTransport::Tcp, P(3, 0, 0, 0, 0, 0), ascii7E1, P(3, 1, 1, 2, 1, 1)},
      {"tcp overrides fixed lists", LineTransport::Tcp, P(0, 3, 2, 1, 2, 2), ascii7E1, P(0, 1, 1, 2, 1, 1)},
      {"tcp RTU always 8 bits", LineTransport::Tcp, P(1, 0, 0, 0, 0, 0), rtu19200, P(1, 2, 2, 3, 2, 2)},
      {"modbus-tcp takes the PC format", LineTransport::ModbusTcp, P(16, 0, 0, 0, 0, 0), ascii7E1,
       P(16, 1, 1, 2, 1, 1)},
  };
  for (const Case& c : cases) {
    const SearchPresets presets = PresetsOnLine(c.transport, c.chosen, c.pc);
    EXPECT_EQ(presets, c.expected) << c.name;
    if (FormatIsServers(c.transport)) {
      EXPECT_EQ(VisitedCombinations(presets).size(), 1U) << c.name;
    }
  }
}

TEST(SearchOnLine, SettingsFieldsAsFormat) {
  // Baud codes 2400..38400 are list digits 4, 3, 0, 1, 2; parity codes none, even, odd are 2, 1, 0.
  SettingsFields f;
  f.baudCode = 3;  // 19200
  f.parityCode = 0;
  f.dataBits8 = 1;
  f.stopBits2 = 1;
  f.rtu = 1;
  EXPECT_EQ(FieldsFormat(f), (PresetFormat{1, 2, 1, 1, 1}));
  for (const PresetFormat format :
       {PresetFormat{0, 0, 0, 0, 0}, PresetFormat{4, 1, 1, 0, 0}, PresetFormat{2, 2, 1, 1, 1}}) {
    SettingsFields back;
    back.baudCode = FormatBaudCode(format);
    back.parityCode = FormatParityCode(format);
    back.dataBits8 = format.length;
    back.stopBits2 = format.stop;
    back.rtu = format.form;
    EXPECT_EQ(FieldsFormat(back), format);
  }
  f.baudCode = 6;  // a hand-edited word: no such rate, nor parity code 3
  f.parityCode = 3;
  EXPECT_EQ(FieldsFormat(f).baud, 0);
  EXPECT_EQ(FieldsFormat(f).parity, 0);
}

TEST(SearchOnLine, NotesNameTheLine) {
  Session session;
  session.portPath[1] = "/dev/ttyUSB0";
  session.portPath[2] = "tcp://127.0.0.1:5000";
  session.portPath[3] = "modbus-tcp://127.0.0.1?echo";
  EXPECT_EQ(SearchNote(session, 1), "");
  EXPECT_EQ(SearchNote(session, 2),
            "COM2 (tcp://127.0.0.1:5000): the server's line format is fixed, so only addresses are searched, in the "
            "form chosen in PC settings.");
  EXPECT_EQ(SearchNote(session, 3),
            "COM3 (modbus-tcp://127.0.0.1?echo): the gateway's line format is fixed, so only addresses are searched.");
}

// ---------------------------------------------------------------------------
// The search engine on the simulated bus: kxsim's controllers answer the probes
// that reach them in their own format; answers are collected by the main routing.

class SearchEngine : public ::testing::Test {
 protected:
  SearchEngine() {
    session.params = PortParams{1, 38400, 8, 0, 1, false};
    routing.setup.answerStep = [this](const Answer& a) { search.Handle(search_event::Answered{a}); };
    routing.setup.lineLost = [this] { search.Handle(search_event::LineLost{}); };
  }

  void Start(int comNumber, const SearchPresets& presets, const PresetFormat& pcFormat = {}) {
    search.Handle(search_event::Start{comNumber, presets, pcFormat});
  }
  // Runs the bus until the search has ended.
  void RunSearch(int limit = 10000) {
    ASSERT_TRUE(bus.RunUntil([this] { return !search.Searching(); }, limit));
  }

  Session session;
  FakePort port;
  SimBus bus{port};
  MainPortRouting routing{session, port};
  std::vector<std::string> errors;
  BusSearch search{session, routing, BusSearch::Hooks{nullptr, [this](const std::string& e) { errors.push_back(e); }}};
};

TEST_F(SearchEngine, EverythingFixedFirstRangeFindsOneController) {
  bus.Add("kx2@2:9600-7E1-ascii");
  bus.SetDelivery(SimBus::Delivery::Split);  // the answer comes in two chunks
  Start(1, P(1, 1, 1, 2, 1, 1));  // 9600 7 E 1 ASCII, 01H~10H
  EXPECT_EQ(search.total(), 16);
  EXPECT_TRUE(search.Searching());
  EXPECT_EQ(session.lineOwner, LineOwner::Setup);
  EXPECT_EQ(port.comNumber, 1);
  EXPECT_EQ(port.baud, 9600);
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, Parity::Even);
  EXPECT_EQ(port.stopBits, 1);
  EXPECT_EQ(search.view().status, "COM01, 9600,7,E,1,ASCII");
  ASSERT_EQ(port.written.size(), 1U);
  EXPECT_EQ(port.LastWrittenText(), ":010347010001B3\r\n");
  EXPECT_EQ(port.Remaining(routing.exchange().SilenceTrigger()), 2);

  bus.Tick(2);  // address 1 silent
  EXPECT_EQ(search.view().timeLeft, "Estimate time left : 2 sec");
  EXPECT_EQ(search.view().gauge, 1);
  EXPECT_EQ(port.LastWrittenText(), ":020347010001B2\r\n");

  // Address 2 answers within the tick: the next probe goes out at its line feed.
  ASSERT_TRUE(bus.RunUntil([&] { return port.written.size() == 3U; }, 1));
  EXPECT_EQ(search.hits().size(), 1U);
  RunSearch();

  EXPECT_FALSE(search.Searching());
  EXPECT_EQ(search.state(), BusSearch::State::Completed);
  EXPECT_EQ(search.probeCount(), 16);
  EXPECT_EQ(search.view().status, "Search Completed,Found 1 items");
  EXPECT_EQ(search.view().gauge, search.view().gaugeMax);
  ASSERT_EQ(search.hits().size(), 1U);
  EXPECT_EQ(search.hits()[0].addressText, "02H");
  EXPECT_EQ(search.hits()[0].protocolText, " 9600,7,E,1,ASCII");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(session.params.rtu);  // the session's form is never touched
}

TEST_F(SearchEngine, EachCombinationChangeReappliesLineSettingsAndRewritesStatus) {
  // 9600, none, 2 stop bits, range F1H~F7H: 7-bit ASCII, 8-bit ASCII, 8-bit RTU.
  bus.Add("kx3@243:9600-8N2-rtu");
  Start(2, P(16, 1, 0, 3, 2, 0));
  EXPECT_EQ(search.total(), 21);
  std::vector<std::tuple<int, std::string>> seen;  // data bits and status at each F1H probe
  const int rtuCombo = Combo(0, 2, 1, 1, 1);
  std::size_t lastWritten = 0;
  const auto watch = [&] {
    if (port.written.size() != lastWritten) {
      lastWritten = port.written.size();
      if (search.probeAddress() == 0xF1) seen.emplace_back(port.dataBits, search.view().status);
      if (search.probeAddress() == 0xF3 && search.Combination() == rtuCombo) {
        EXPECT_EQ(port.written.back(), ProbeFrame(0xF3, FrameForm::Rtu));
      }
    }
    return !search.Searching();
  };
  ASSERT_TRUE(bus.RunUntil(watch, 1000));
  ASSERT_EQ(seen.size(), 3U);
  EXPECT_EQ(std::get<0>(seen[0]), 7);
  EXPECT_EQ(std::get<1>(seen[0]), "COM02, 9600,7,N,2,ASCII");
  EXPECT_EQ(std::get<0>(seen[1]), 8);
  EXPECT_EQ(std::get<1>(seen[1]), "COM02, 9600,8,N,2,ASCII");
  EXPECT_EQ(std::get<0>(seen[2]), 8);
  EXPECT_EQ(std::get<1>(seen[2]), "COM02, 9600,8,N,2,RTU  ");
  EXPECT_EQ(port.parity, Parity::None);
  EXPECT_EQ(port.stopBits, 2);
  ASSERT_EQ(search.hits().size(), 1U);
  EXPECT_EQ(search.hits()[0].addressText, "F3H");
  EXPECT_EQ(search.hits()[0].protocolText, " 9600,8,N,2,RTU  ");
  EXPECT_EQ(search.RowCombination(1), rtuCombo);
  EXPECT_EQ(search.RowCombination(2), std::nullopt);
  EXPECT_EQ(search.view().status, "Search Completed,Found 1 items");
}

TEST_F(SearchEngine, SilentProbeCostsTwoTicks) {
  Start(1, P(1, 1, 1, 1, 1, 1));
  const auto start = port.now();
  RunSearch();
  EXPECT_EQ(port.now() - start, 2 * 16);
  EXPECT_EQ(port.written.size(), 16U);
}

// Noise on the line (with and without line feeds) never lets the line fall
// silent: every probe ends (at its deadline, or at a line feed of the noise)
// and the search goes through the whole range, finding nothing in the noise.
TEST_F(SearchEngine, ContinuousNoiseStillEndsEveryProbe) {
  for (const kxsim::NoiseKind kind : {kxsim::NoiseKind::NoLineFeeds, kxsim::NoiseKind::WithLineFeeds}) {
    bus.line().noise().Set(kxsim::NoiseSetting{kind, 200});
    Start(1, P(1, 1, 1, 1, 1, 1));
    RunSearch();
    EXPECT_EQ(search.probeCount(), 16);
    EXPECT_TRUE(search.hits().empty());
    EXPECT_EQ(session.lineOwner, LineOwner::Free);
  }
}

TEST_F(SearchEngine, ThirtiethHitEndsTheSearchWith29Listed) {
  bus.Add("kx3@1:9600-7O1-ascii+29");  // units at 1 to 30
  Start(1, P(0, 1, 1, 1, 1, 1));
  RunSearch();
  EXPECT_EQ(search.hits().size(), 29U);
  EXPECT_EQ(port.written.size(), 30U);
  EXPECT_EQ(search.hits().back().addressText, "1DH");
  EXPECT_EQ(search.view().status, "Search Completed,Found 29 items");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

TEST_F(SearchEngine, AbortKeepsHitsAndIgnoresLateAnswers) {
  bus.Add("kx2@1:9600-7O1-ascii");
  Start(1, P(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(search.total(), 247 * 90);
  EXPECT_EQ(search.view().status, "COM01, 9600,7,O,1,ASCII");
  ASSERT_TRUE(bus.RunUntil([&] { return search.hits().size() == 1U; }, 10));
  search.Handle(search_event::Cancel{});
  EXPECT_FALSE(search.Searching());
  EXPECT_EQ(search.state(), BusSearch::State::Aborted);
  EXPECT_EQ(search.view().status, "Search abort,Found 1 items");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  Answer late;
  late.end = AnswerEnd::Complete;
  late.raw = BuildFrame(FrameForm::Ascii, Bytes{0x02, 0x03, 0x02, 0x00, 0x64});
  search.Handle(search_event::Answered{late});  // a late answer changes nothing
  EXPECT_EQ(search.hits().size(), 1U);
  EXPECT_EQ(search.view().status, "Search abort,Found 1 items");
}

// A found row loads its settings into the lists without the close-up rules, so
// 8 bits with odd parity and two stop bits can be fixed: START searches exactly
// that format, not one the rules would have made of it.
TEST_F(SearchEngine, StartsWithTheListsAsTheyAre) {
  Start(1, P(1, 1, kLength8, kParityOdd, kStop2, kProtocolAscii));
  EXPECT_TRUE(search.Searching());
  EXPECT_EQ(search.total(), 16);
  EXPECT_EQ(search.Combination(), Combo(0, 0, 1, 1, 0));
  EXPECT_EQ(port.stopBits, 2);
  EXPECT_EQ(search.view().status, "COM01, 9600,8,O,2,ASCII");
}

TEST_F(SearchEngine, PortThatCannotOpenDoesNotStart) {
  port.failNextOpen = "Permission denied";
  Start(3, P(1, 1, 1, 1, 1, 1));
  EXPECT_FALSE(search.Searching());
  EXPECT_EQ(search.state(), BusSearch::State::Idle);
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0], "Permission denied");
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(search.view().status, Text(Msg::PressStartToDetect));
}

// The adapter is pulled mid-search: the port reports the failure and closes.
// The search ends at once with what it found, nothing more goes out, and
// START runs a new search on the next opening.
TEST_F(SearchEngine, LostLineEndsTheSearchAndStartRunsAgain) {
  bus.Add("kx2@1:9600-7O1-ascii");
  Start(1, P(1, 1, 1, 1, 1, 1));
  ASSERT_TRUE(bus.RunUntil([&] { return port.written.size() == 3U; }, 10));  // 1 answered, 2 silent
  EXPECT_EQ(search.hits().size(), 1U);
  port.Fail("ttyUSB0 was disconnected");
  EXPECT_FALSE(search.Searching());
  EXPECT_EQ(search.state(), BusSearch::State::LineLost);
  EXPECT_EQ(search.view().status, "Line lost,Found 1 items");
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_EQ(port.RunTimers(), 0);
  EXPECT_EQ(port.written.size(), 3U);

  bus.Controller(1).SetFault(kxsim::Fault::NoAnswer);  // gone with the old adapter
  Start(1, P(1, 1, 1, 1, 1, 1));
  EXPECT_TRUE(search.Searching());
  EXPECT_EQ(port.written.size(), 4U);
  RunSearch();
  EXPECT_EQ(search.view().status, "Search Completed,Found 0 items");
}

TEST_F(SearchEngine, LeaveEndsTheSearchQuietly) {
  Start(1, P(1, 1, 1, 1, 1, 2));
  EXPECT_EQ(port.written.back(), ProbeFrame(1, FrameForm::Rtu));  // the probe carries its form
  EXPECT_FALSE(session.params.rtu);
  search.Handle(search_event::Leave{});
  EXPECT_FALSE(search.Searching());
  EXPECT_EQ(search.state(), BusSearch::State::Idle);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(session.params.rtu);
}

// Through a transparent server: addresses only, every probe in the form chosen
// in PC settings, the line named as given and the hits listed with the form.
TEST_F(SearchEngine, OverTcpSearchesAddressesOnlyInThePcForm) {
  session.portPath[1] = "tcp://127.0.0.1:5000";
  bus.Add("kx2@5:19200-8N1-rtu");
  const PresetFormat pc{1, 2, 1, 0, 1};  // 19200 8N1 RTU, as chosen in PC settings
  Start(1, P(1, 0, 0, 0, 0, 0), pc);     // 01H~10H, every format list left at UNKNOW
  EXPECT_EQ(search.total(), 16);
  EXPECT_EQ(search.view().status, "COM1 (tcp://127.0.0.1:5000), RTU");
  std::vector<int> combinations;
  const auto watch = [&] {
    while (port.written.size() > combinations.size()) combinations.push_back(search.Combination());
    return !search.Searching();
  };
  ASSERT_TRUE(bus.RunUntil(watch, 1000));
  ASSERT_EQ(port.written.size(), 16U);
  for (std::size_t i = 0; i < port.written.size(); ++i)
    EXPECT_EQ(port.written[i], ProbeFrame(static_cast<std::uint8_t>(i + 1), FrameForm::Rtu)) << i;
  EXPECT_EQ(std::vector<int>(16, CombinationNumber(pc)), combinations);
  ASSERT_EQ(search.hits().size(), 1U);
  EXPECT_EQ(search.hits()[0].addressText, "05H");
  EXPECT_EQ(search.hits()[0].protocolText, "RTU");
  EXPECT_EQ(search.RowCombination(1), CombinationNumber(pc));  // SET takes the PC format back: nothing changes
  EXPECT_EQ(search.view().status, "Search Completed,Found 1 items");
}

TEST_F(SearchEngine, OverModbusTcpSearchesAddressesOnly) {
  session.portPath[2] = "modbus-tcp://127.0.0.1";
  bus.Add("kx2@3:9600-7E1-ascii");
  Start(2, P(1, 0, 0, 0, 0, 0), PresetFormat{0, 1, 0, 0, 0});  // the PC settings: 9600 7E1 ASCII
  EXPECT_EQ(search.total(), 16);
  EXPECT_EQ(search.view().status, "COM2 (modbus-tcp://127.0.0.1), Modbus TCP");
  RunSearch();
  EXPECT_EQ(search.probeCount(), 16);
  ASSERT_EQ(search.hits().size(), 1U);
  EXPECT_EQ(search.hits()[0].addressText, "03H");
  EXPECT_EQ(search.hits()[0].protocolText, "Modbus TCP");
}

}  // namespace
}  // namespace kx
