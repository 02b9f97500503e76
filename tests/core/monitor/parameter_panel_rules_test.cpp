// Parameter panel rules: typed entries and chosen list items into register
// writes per model, the page fill, the layout and access rules per model and
// output configuration, the KX3 "N/A" state, the security display and level
// check, and the password dialog's key field.
#include "core/monitor/parameter_panel_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace kx::panel {
namespace {

using K = PanelAction::Kind;

DeviceContext Dev(std::uint8_t model, bool comWrite = true, int dp = 1) {
  return {model, dp, Access{comWrite, comWrite, comWrite}};
}

struct EntryCase {
  const char* name;
  const char* field;
  const char* text;
  DeviceContext dev;
  PanelAction want;
};

TEST(PanelEntry, TypedValuesBecomeWrites) {
  const EntryCase cases[] = {
      {"negative SV in two's complement", "SV", "-1.5", Dev(kModelKx2), {K::Write, 0x4701, 0xFFF1}},
      {"Ti is whole: 30 sends 30", "Ti", "30", Dev(kModelKx2), {K::Write, 0x470D, 30}},
      {"Pb is tenths: 30 sends 300", "Pb", "30", Dev(kModelKx2), {K::Write, 0x470C, 300}},
      {"KX1 Pb register", "Pb", "30", Dev(kModelKx1), {K::Write, 0x4708, 300}},
      {"Coeff in hundredths", "Coeff", "1.25", Dev(kModelKx2), {K::Write, 0x4711, 125}},
      {"whole truncates toward zero", "Td", "-4.7", Dev(kModelKx2), {K::Write, 0x470E, 0xFFFC}},
      {"KX1 I offset is whole", "IOffset", "12.5", Dev(kModelKx1), {K::Write, 0x470E, 12}},
      {"KX2 I offset is tenths", "IOffset", "12.5", Dev(kModelKx2), {K::Write, 0x470F, 125}},
      {"KX1 manual output is whole", "OUTQ1", "55", Dev(kModelKx1), {K::Write, 0x472A, 55}},
      {"KX3 uses the KX2 column", "RangeHi", "500", Dev(kModelKx3), {K::Write, 0x4704, 5000}},
      {"PV offset is factory-protected", "PVTune", "1.2", Dev(kModelKx1), {K::Write, 0x4714, 12, true}},
      {"linear gain", "mVGain", "3", Dev(kModelKx2), {K::Write, 0x4738, 3, true}},
      {"rounded whole units are tenths", "SV", "100", Dev(kModelKx2, true, 255), {K::Write, 0x4701, 1000}},
      {"a whole-unit device takes whole units", "SV", "100", Dev(kModelKx2, true, 0), {K::Write, 0x4701, 100}},
      {"a two-decimal device takes hundredths", "UpLimit1", "12.34", Dev(kModelKx2, true, 2),
       {K::Write, 0x4706, 1234}},
      {"three decimals", "SV", "-1.234", Dev(kModelKx2, true, 3), {K::Write, 0x4701, 0xFB2E}},
      {"fixed-code fields ignore the point code", "Pb", "2.5", Dev(kModelKx2, true, 0), {K::Write, 0x470C, 25}},
      {"not a number refreshes", "SV", "abc", Dev(kModelKx2), {K::Refresh}},
      {"not a number refreshes even when refused", "Coeff", "abc", Dev(kModelKx1), {K::Refresh}},
      {"too large for a register refreshes", "SV", "99999", Dev(kModelKx2), {K::Refresh}},
      {"KX1 has no coefficient", "Coeff", "1.25", Dev(kModelKx1), {K::Refused}},
      {"KX1 has no alarm 3", "UpLimit3", "1", Dev(kModelKx1), {K::Refused}},
      {"com-write off", "SV", "10", Dev(kModelKx2, false), {K::Refused}},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EnterField(c.field, c.text, c.dev), c.want);
  }
}

// What the panel enables and what it lets through are one rule of the record.
TEST(PanelEntry, AccessFollowsTheComWriteFlagOrTheKX3SecurityMode) {
  struct Case {
    const char* name;
    std::uint8_t model;
    std::uint16_t comWrite;
    std::uint8_t mode;
    Access want;
  };
  const Case cases[] = {
      {"KX2 com write on", kModelKx2, 1, 0, {true, true, true}},
      {"KX2 com write off", kModelKx2, 0, 0, {false, false, false}},
      {"KX1 not read yet", kModelKx1, 0xFF, 0, {false, false, false}},
      {"KX3 unlock all (no com-write flag)", kModelKx3, 0xFF, 8, {true, true, true}},
      {"KX3 read all, SV, AT", kModelKx3, 0xFF, 4, {false, true, true}},
      {"KX3 PV, SV", kModelKx3, 0xFF, 2, {false, true, false}},
      {"KX3 all lock", kModelKx3, 0xFF, 1, {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRecord rec;
    rec.comWrite = c.comWrite;
    rec.security.mode = c.mode;
    EXPECT_EQ(AccessFor(c.model, rec), c.want);
  }
  const Access svOnly{false, true, false};
  EXPECT_TRUE(Permits(svOnly, "SV"));
  EXPECT_FALSE(Permits(svOnly, "AT"));
  EXPECT_FALSE(Permits(svOnly, "Pb"));
  EXPECT_TRUE(Permits(Access{}, "ComWrite"));
  EXPECT_EQ(EnterField("SV", "10", {kModelKx3, 1, svOnly}), (PanelAction{K::Write, 0x4701, 100}));
  EXPECT_EQ(EnterField("Pb", "10", {kModelKx3, 1, svOnly}), PanelAction{K::Refused});
}

struct ListCase {
  const char* name;
  const char* list;
  int item;
  DeviceContext dev;
  PanelAction want;
};

TEST(PanelLists, ChosenItemsBecomeWrites) {
  const ListCase cases[] = {
      {"lock Not SV sends 11", "LockStatus", 2, Dev(kModelKx2), {K::Write, 0x471E, 11}},
      {"KX1 lock register", "LockStatus", 1, Dev(kModelKx1), {K::Write, 0x4731, 1}},
      {"com write can always be switched on", "ComWrite", 1, Dev(kModelKx2, false), {K::Write, 0x4726, 1}},
      {"other lists wait for com write", "CtrlSet", 1, Dev(kModelKx2, false), {K::Refused}},
      {"KX1 control mode", "CtrlSet", 2, Dev(kModelKx1), {K::Write, 0x4711, 2}},
      {"KX3 output 1 function", "Out1Sel", 2, Dev(kModelKx3), {K::Write, 0x471A, 2}},
      {"KX3 output 2 function", "Out2Sel", 1, Dev(kModelKx3), {K::Write, 0x471F, 1}},
      {"output type is factory-protected", "OutputType2", 1, Dev(kModelKx2), {K::Write, 0x4731, 1, true}},
      {"KX2 pointer writes its register", "Pointer", 2, Dev(kModelKx2), {K::Write, 0x4725, 2}},
      {"KX3 pointer sets the point code", "Pointer", 2, Dev(kModelKx3), {K::SetDecimalPoint, 0, 2}},
      {"list absent on the model", "InputA", 3, Dev(kModelKx2), {K::Refused}},
      {"no item", "AT", -1, Dev(kModelKx2), {}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChooseItem(c.list, c.item, c.dev), c.want);
  }
}

TEST(PanelLists, ClearButtonsUnlockAndAcceptAKX3) {
  EXPECT_EQ(ClearButton(1, Dev(kModelKx1)), (PanelAction{K::Write, 0x4724, 0x4F1D, true}));
  EXPECT_EQ(ClearButton(2, Dev(kModelKx2)), (PanelAction{K::Write, 0x474F, 0x4F1D, true}));
  EXPECT_EQ(ClearButton(1, Dev(kModelKx3, false)), (PanelAction{K::Write, 0x474E, 0x4F1D, true}));
  EXPECT_EQ(ClearButton(1, Dev(kModelKx2, false)), PanelAction{});
}

TEST(PanelPassword, Commands) {
  EXPECT_EQ(ParsePassword("QZW"), PasswordCommand::Factory);
  EXPECT_EQ(ParsePassword("qzw"), PasswordCommand::Other);
  EXPECT_EQ(ParsePassword("probe on"), PasswordCommand::ProbeOn);
  EXPECT_EQ(ParsePassword("probe off"), PasswordCommand::ProbeOff);
  EXPECT_EQ(ParsePassword(""), PasswordCommand::Other);
}

// ---- Page fill ----

// Feeds the pages of a model from a register map, in the engine's order.
void Fill(PanelModel& m, const PanelInput& in, const std::map<std::uint16_t, std::uint16_t>& regs,
          bool factory = false) {
  std::vector<int> types = {10, 11, 12, 13, 14};
  if (factory) types.insert(types.end(), {20, 21});
  for (int type : types) {
    const auto block = RequestBlock(type, in.model, in.rec.security.mode);
    if (!block) continue;
    std::vector<std::uint16_t> words;
    for (int i = 0; i < block->count; ++i) {
      const auto it = regs.find(static_cast<std::uint16_t>(block->start + i));
      words.push_back(it == regs.end() ? 0 : it->second);
    }
    m.FillPage(type, *block, words, in);
  }
  m.Layout(in);
}

// A controller of `model` whose communication writes are on.
PanelInput Writable(std::uint8_t model, int decimalPoint) {
  PanelInput in;
  in.model = model;
  in.decimalPoint = decimalPoint;
  in.rec.comWrite = 1;
  return in;
}

// The text each listed field shows.
void ExpectTexts(const PanelModel& m, std::initializer_list<std::pair<const char*, const char*>> texts) {
  for (const auto& [field, text] : texts) EXPECT_EQ(m.Look(field).text, text) << field;
}

TEST(PanelFill, Kx2PagesFillFieldsAndLists) {
  PanelModel m;
  PanelInput in = Writable(kModelKx2, 1);
  in.rec.autoTuning = 1;
  in.rec.firmwareVersion = 0x0105;
  in.rec.heatCool = 2;
  in.rec.runStop = 4;
  Fill(m, in,
       {{0x4701, 0xFF9C}, {0x4711, 125}, {0x4712, 15}, {0x470D, 0}, {0x470C, 47}, {0x4723, 4},
        {0x471E, 11}, {0x4719, 0}, {0x4718, 30}, {0x471A, 2}, {0x4724, 1}, {0x471B, 20},
        {0x4726, 1}, {0x4727, 1}},
       true);
  ExpectTexts(m, {{"SV", "- 10.0"},
                  {"Coeff", "1.25"},
                  {"DeadBand1", "1.5"},
                  {"DeadBand2", "1.5"},
                  {"Pb", "4.7"},
                  {"HCPeriod1", "20"},
                  {"HCPeriodPID1", "20"}});
  EXPECT_EQ(m.Look("RunStop").item, 0) << "run/stop value 4 shows Stop";
  EXPECT_EQ(m.Look("LockStatus").item, 2) << "11 reads back as Not SV";
  EXPECT_EQ(m.Look("InputB").item, -1) << "a value without an item shows no item";
  EXPECT_EQ(m.Look("AT").item, 1);
  EXPECT_EQ(m.Look("ComWrite").item, 1);
  EXPECT_EQ(m.Look("FWVersion").text, "F/W Version 1.05");
  EXPECT_TRUE(m.Look("PDOffset").visible) << "Ti = 0 brings PD offset in front";
  EXPECT_FALSE(m.Look("IOffset").visible);
  EXPECT_EQ(m.modeBox(), "PIDBox");
  EXPECT_TRUE(m.calibrationShown());
  EXPECT_TRUE(m.Look("mVGain").visible);
}

TEST(PanelFill, Kx1ScalesAndManualOutputs) {
  PanelModel m;
  PanelInput in = Writable(kModelKx1, 255);
  in.rec.out1 = 550;  // whole percent x 10
  Fill(m, in, {{0x4701, 235}, {0x470E, 3}, {0x4713, 0xFFFF}, {0x4711, 2}, {0x4709, 12}}, true);
  ExpectTexts(m, {{"SV", "24"}, {"IOffset", "3.0"}, {"PDOffset", "- 1.0"}});
  EXPECT_EQ(m.modeBox(), "ManuBox");
  EXPECT_FALSE(m.Look("AT").visible);
  EXPECT_EQ(m.Look("OUTQ1").text, "55");
  EXPECT_TRUE(m.Look("IOffset").visible);
  EXPECT_TRUE(m.Look("ClearBt1").visible) << "KX1 shows calibration after page 20";
  EXPECT_FALSE(m.Look("mVGain").visible);
  EXPECT_FALSE(m.Look("OutputType2").visible);
}

// ---- Layout and access ----

struct LayoutCase {
  const char* name;
  std::uint8_t model;
  std::uint16_t heatCool;
  std::uint16_t out1Function, out2Function;
  bool alarm1, alarm2, alarm3, systemAlarm, pointer, out1, out2, deadBand, heatCoolList, out1Sel;
};

TEST(PanelLayout, VisibilityByModelAndOutputs) {
  const LayoutCase cases[] = {
      {"KX1", kModelKx1, 0, 0, 0, true, true, false, false, false, true, false, false, true, false},
      {"KX2 heat", kModelKx2, 0, 0, 0, true, true, true, true, true, true, false, false, true, false},
      {"KX2 heat/cool", kModelKx2, 2, 0, 0, true, true, false, true, true, true, true, true, true, false},
      {"KX3 alarm + cool", kModelKx3, 0, 2, 1, true, false, false, false, true, false, true, false, false, true},
      {"KX3 heat + cool", kModelKx3, 0, 0, 1, false, false, false, false, true, true, true, true, false, true},
      {"KX3 heat + heat", kModelKx3, 0, 0, 0, false, false, false, false, true, true, true, false, false, true},
      {"KX3 retransmission + alarm", kModelKx3, 0, 3, 2, false, true, false, false, true, false, false, false,
       false, true},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    PanelModel m;
    PanelInput in;
    in.model = c.model;
    in.rec.comWrite = 1;
    in.rec.security = {0, 8};
    in.rec.heatCool = c.heatCool;
    in.rec.out1Function = c.out1Function;
    in.rec.out2Function = c.out2Function;
    m.Layout(in);
    EXPECT_EQ(m.Look("UpLimit1").visible, c.alarm1);
    EXPECT_EQ(m.Look("ALM2MLb").visible, c.alarm2);
    EXPECT_EQ(m.Look("DnLimit3").visible, c.alarm3);
    EXPECT_EQ(m.Look("SALMode").visible, c.systemAlarm);
    EXPECT_EQ(m.Look("Pointer").visible, c.pointer);
    EXPECT_EQ(m.Look("HCPeriodPID1").visible, c.out1);
    EXPECT_EQ(m.Look("OUTQ2").visible, c.out2);
    EXPECT_EQ(m.Look("Coeff").visible, c.deadBand);
    EXPECT_EQ(m.Look("HeatCool").visible, c.heatCoolList);
    EXPECT_EQ(m.Look("ComWrite").visible, c.heatCoolList);
    EXPECT_EQ(m.Look("Out1Sel").visible, c.out1Sel);
    EXPECT_EQ(m.Look("Out2Sel").visible, c.out1Sel);
    EXPECT_EQ(m.Look("HCLb").text, c.out1Sel ? "Out1" : "Heat/Cool");
    EXPECT_EQ(m.Look("ComWLb").text, c.out1Sel ? "Out2" : "Com.Write");
    EXPECT_EQ(m.Look("SecurityPL").visible, c.model == kModelKx3);
    EXPECT_EQ(m.Look("InputA").visible, c.model == kModelKx1);
  }
}

struct AccessCase {
  const char* name;
  std::uint8_t model;
  std::uint16_t comWrite;
  std::uint8_t mode;
  bool editable, sv, at;
  int lockItem;  // -2: not checked
  bool notAvailable;
  bool rampMenu, uploadMenu;
};

TEST(PanelAccess, EditableByComWriteOrSecurityMode) {
  const AccessCase cases[] = {
      {"KX1 com write on", kModelKx1, 1, 0, true, true, true, -2, false, false, true},
      {"KX2 com write off", kModelKx2, 0, 0, false, false, false, -2, false, true, true},
      {"KX3 unlocked", kModelKx3, 0xFF, 8, true, true, true, -2, false, true, true},
      {"KX3 read all, SV and AT", kModelKx3, 0xFF, 4, false, true, true, -2, false, true, true},
      {"KX3 PV and SV only", kModelKx3, 0xFF, 2, false, true, false, 2, true, false, false},
      {"KX3 all locked", kModelKx3, 0xFF, 1, false, false, false, 1, true, false, false},
  };
  for (const AccessCase& c : cases) {
    SCOPED_TRACE(c.name);
    PanelModel m;
    PanelInput in;
    in.model = c.model;
    in.rec.comWrite = c.comWrite;
    in.rec.security = {7, c.mode};
    m.Layout(in);
    EXPECT_EQ(m.editable(), c.editable);
    for (const char* group : {"CtrlBox", "TempBox", "PIDBox", "AlmBox", "AdjustBox"}) {
      EXPECT_EQ(m.Look(group).enabled, c.editable) << group;
    }
    EXPECT_EQ(m.Look("SV").enabled, c.sv);
    EXPECT_EQ(m.Look("AT").enabled, c.at);
    if (c.lockItem != -2) {
      EXPECT_EQ(m.Look("LockStatus").item, c.lockItem);
    }
    EXPECT_EQ(m.Look("Pb").text == "N/A", c.notAvailable);
    EXPECT_EQ(m.Look("ALM1Mode").text == "N/A", c.notAvailable);
    if (c.notAvailable) {
      EXPECT_EQ(m.Look("CtrlSet").item, -1);
      EXPECT_EQ(m.Look("Unit").item, -1);
      EXPECT_EQ(m.Look("RangeHi").text, "");
      EXPECT_EQ(m.Look("SV").text, "0") << "SV keeps its value";
    }
    EXPECT_EQ(m.rampSoakMenu(), c.rampMenu);
    EXPECT_EQ(m.uploadMenu(), c.uploadMenu);
  }
}

TEST(PanelAccess, Kx3PointerShowsTheChosenPointCode) {
  PanelModel m;
  PanelInput in;
  in.model = kModelKx3;
  in.rec.security = {0, 8};
  in.decimalPoint = 2;
  m.Layout(in);
  EXPECT_EQ(m.Look("Pointer").item, 2);
  in.decimalPoint = 255;  // "None" with a temperature unit
  m.Layout(in);
  EXPECT_EQ(m.Look("Pointer").item, 0);
}

TEST(PanelAccess, FactoryCodeHidesTheSecurityGroup) {
  PanelModel m;
  PanelInput in;
  in.model = kModelKx3;
  in.rec.security = {0, 8};
  in.factoryCodeTyped = true;
  m.Layout(in);
  EXPECT_FALSE(m.Look("SecurityPL").visible);
}

// ---- KX3 security ----

TEST(Kx3Security, DisplayFollowsTheSecurityWord) {
  PanelModel m;
  m.ShowSecurity(DecodeKx3Security(0x27), false);  // keys 1..3, mode 4
  EXPECT_TRUE(m.Look("SLevel").enabled);
  EXPECT_EQ(m.Look("SLevel").item, 1);
  EXPECT_EQ(m.Look("Pass1").item, 1);
  EXPECT_EQ(m.Look("Pass3").item, 1);
  m.ShowSecurity(DecodeKx3Security(0x0A), true);  // level write in progress: lists kept
  EXPECT_EQ(m.Look("SLevel").item, 1);
  EXPECT_EQ(m.Look("Pass2").item, 1);
  m.ShowSecurity(DecodeKx3Security(0x42), false);  // key 2 only, mode 8
  EXPECT_EQ(m.Look("SLevel").item, 0);
  EXPECT_EQ(m.Look("Pass1").item, 0);
  EXPECT_EQ(m.Look("Pass2").item, 1);
  m.ShowSecurity(DecodeKx3Security(0x40), false);
  EXPECT_FALSE(m.Look("SLevel").enabled);
}

TEST(Kx3Security, LevelCheck) {
  using LK = LevelCheck::Kind;
  struct Case {
    const char* name;
    int item;
    std::uint16_t word;
    LevelCheck want;
  } cases[] = {
      {"unlock all asks key 1", 0, 0x0F, {LK::AskKey, 0x106B, 0}},
      {"already unlocked", 0, 0x47, {}},
      {"level 2 asks key 2", 1, 0x43, {LK::AskKey, 0x106C, 0}},
      {"level 3 without its key", 2, 0x43, {}},
      {"level 3 asks key 3", 2, 0x44, {LK::AskKey, 0x106D, 0}},
      {"all lock writes the request count", 3, 0x41, {LK::LockWrite, 0x106B, 77}},
      {"already all locked", 3, 0x09, {}},
      {"no keys: nothing to lock with", 3, 0x40, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckSecurityLevel(c.item, DecodeKx3Security(c.word), 77), c.want);
  }
}

TEST(PasswordKey, FilterAndValue) {
  EXPECT_EQ(FilterKeyText("1a2f"), "1A2F");
  EXPECT_EQ(FilterKeyText("12G"), "");
  EXPECT_EQ(FilterKeyText("ab-"), "");
  EXPECT_EQ(KeyValue("1A2F"), std::optional<std::uint16_t>(0x1A2F));
  EXPECT_EQ(KeyValue("1A2"), std::nullopt);
  EXPECT_EQ(KeyValue("1a2f"), std::nullopt) << "the field holds upper case";
}

TEST(PanelTables, EveryListAndCaptionIsComplete) {
  for (const ListDef& l : Lists()) EXPECT_FALSE(ListItems(l.name).empty()) << l.name;
  EXPECT_EQ(ListItems("InputA").size(), 19U);
  EXPECT_EQ(ListItems("InputB").size(), 18U);
  EXPECT_EQ(ListItems("ALM1Mode").size(), 14U);
  PanelModel m;
  for (const CaptionDef& c : Captions()) EXPECT_NO_THROW(m.Look(c.control)) << c.label;
  EXPECT_EQ(m.Look("Unit").item, 1);
  EXPECT_EQ(m.Look("Pointer").item, 1);
  EXPECT_EQ(m.Look("Ti").text, "0");
}

}  // namespace
}  // namespace kx::panel
