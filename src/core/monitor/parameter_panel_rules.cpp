#include "core/monitor/parameter_panel_rules.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "core/text/messages.h"
#include "core/text/text.h"

namespace kx::panel {

namespace {

using S = Scale;

constexpr FieldReg kNone{};
constexpr FieldReg Dp(std::uint16_t reg) { return {reg, S::Tenths, kCodeDp, false}; }
constexpr FieldReg Tenths(std::uint16_t reg) { return {reg, S::Tenths, 1, false}; }
constexpr FieldReg Whole(std::uint16_t reg) { return {reg, S::Whole, 0, false}; }
// KX1 whole percentages, shown in tenths.
constexpr FieldReg WholeShownTenths(std::uint16_t reg) { return {reg, S::Whole, 1, true}; }

// Edit fields: register, scale and display code on KX1 and on KX2/KX3.
constexpr EditFieldDef kFields[] = {
    {"SV", Dp(0x4701), Dp(0x4701)},
    {"RangeHi", Dp(0x4706), Dp(0x4704)},
    {"RangeLo", Dp(0x4707), Dp(0x4705)},
    {"UpLimit1", Dp(0x4702), Dp(0x4706)},
    {"DnLimit1", Dp(0x4703), Dp(0x4707)},
    {"UpLimit2", Dp(0x4704), Dp(0x4708)},
    {"DnLimit2", Dp(0x4705), Dp(0x4709)},
    {"UpLimit3", kNone, Dp(0x470A)},
    {"DnLimit3", kNone, Dp(0x470B)},
    {"Pb", Tenths(0x4708), Tenths(0x470C)},
    {"Ti", Whole(0x4709), Whole(0x470D)},
    {"Td", Whole(0x470A), Whole(0x470E)},
    {"IOffset", WholeShownTenths(0x470E), Tenths(0x470F)},
    {"PDOffset", WholeShownTenths(0x4713), Tenths(0x4710)},
    {"Coeff", kNone, {0x4711, S::Hundredths, 2, false}},
    {"DeadBand1", kNone, Tenths(0x4712)},
    {"DeadBand2", kNone, Tenths(0x4712)},
    {"Hyst1", Dp(0x470B), Dp(0x4713)},
    {"Hyst2", kNone, Dp(0x4714)},
    {"CurrHi", Whole(0x470C), Whole(0x4715)},
    {"CurrLo", Whole(0x470D), Whole(0x4716)},
    {"HCPeriodPID1", Whole(0x4712), Whole(0x471B)},
    {"HCPeriod1", Whole(0x4712), Whole(0x471B)},
    {"HCPeriodPID2", kNone, Whole(0x471C)},
    {"HCPeriod2", kNone, Whole(0x471C)},
    {"OUTQ1", {0x472A, S::Whole, kDpRounded, false}, Tenths(0x4702), false, true},
    {"OUTQ2", kNone, Tenths(0x4703), false, true},
    {"PVTune", Tenths(0x4714), Tenths(0x471D), true},
    {"RTDOfs", Tenths(0x4721), Tenths(0x4732), true},
    {"RTDGain", Whole(0x4722), Whole(0x4733), true},
    {"TCOfs", Whole(0x4727), Whole(0x4734), true},
    {"TCGain", Whole(0x4726), Whole(0x4735), true},
    {"ColdJ", Tenths(0x4723), Tenths(0x4736), true},
    {"mVOfs", kNone, Whole(0x4737), true},
    {"mVGain", kNone, Whole(0x4738), true},
};

// Lists: register on KX1, KX2, KX3 (0: not used on that model).
constexpr ListDef kLists[] = {
    {"CtrlSet", 0x4711, 0x4719, 0x4719},
    {"RunStop", 0x4719, 0x4723, 0x4723},
    {"HeatCool", 0x4718, 0x471A, 0},
    {"Out1Sel", 0, 0, 0x471A},
    {"ComWrite", 0x471A, 0x4726, 0},
    {"LockStatus", 0x4731, 0x471E, 0x471E},
    {"AT", 0x4729, 0x4727, 0x4727},
    {"InputA", 0x4710, 0, 0},
    {"InputB", 0, 0x4718, 0x4718},
    {"Unit", 0x4717, 0x4724, 0x4724},
    {"ProgDisp", 0, 0x4762, 0x4762},
    {"Pointer", 0, 0x4725, 0},
    {"ALM1Mode", 0x4715, 0x4720, 0x4720},
    {"ALM2Mode", 0x4716, 0x4721, 0x4721},
    {"ALM3Mode", 0, 0x4722, 0},
    {"SALMode", 0, 0x471F, 0},
    {"Out2Sel", 0, 0, 0x471F},
    {"OutputType1", 0x4720, 0x4730, 0x4730, true},
    {"OutputType2", 0, 0x4731, 0x4731, true},
};

using Items = std::span<const std::string_view>;
constexpr std::string_view kCtrlSet[] = {"PID", "ON-OFF", "Manual", "Ramp Soak"};
constexpr std::string_view kRunStop[] = {"Stop", "Run", "Stop Program", "Hold Program"};
constexpr std::string_view kHeatCool[] = {"Heat", "Cool", "Heat/Cool", "Cool/Heat"};
constexpr std::string_view kOut1Sel[] = {"Heat", "Cool", "Alarm", "ReTransmission"};
constexpr std::string_view kOut2Sel[] = {"Heat", "Cool", "Alarm"};
constexpr std::string_view kOutputType1[] = {"Relay", "Voltage Pulse", "4~20mA", "0~5V", "0~10V", "None"};
constexpr std::string_view kOutputType2[] = {"Relay", "Voltage Pulse", "None"};
constexpr std::string_view kLockStatus[] = {"Normal", "Lock All", "Not SV"};
constexpr std::string_view kInputA[] = {"K-Type1", "K-Type2",  "J-Type1",  "J-Type2", "T-Type1",
                                        "T-Type2", "E-Type",   "N-Type",   "R-Type",  "S-Type",
                                        "B-Type",  "JPt100-1", "JPt100-2", "Pt100-1", "Pt100-2",
                                        "Pt100-3", "L-Type",   "U-Type",   "TXK"};
constexpr std::string_view kInputB[] = {"K-Type", "J-Type", "T-Type", "E-Type", "N-Type", "R-Type",
                                        "S-Type", "B-Type", "L-Type", "U-Type", "TXK",    "JPt100",
                                        "Pt100",  "0~5V",   "0~10V",  "0~20mA", "4~20mA", "0~50mV"};
constexpr std::string_view kUnit[] = {"F", "C", "EU"};
constexpr std::string_view kPointer[] = {"None", "1", "2", "3"};
constexpr std::string_view kProgDisp[] = {"Pattern-Step", "SV", "Time Left"};
constexpr std::string_view kAlarmMode[] = {
    "Alarm Disable",         "Up-Down Limit",       "Up Limit",
    "Down Limit",            "Reverse Up-Down Limit", "Absolute Up-Down Limit",
    "Absolute Up Limit",     "Absolute Down Limit", "Standby Up-Down Limit",
    "Standby Up Limit",      "Standby Down Limit",  "Hysterics Up Limit",
    "Hysterics Down Limit",  "CT Alarm"};
constexpr std::string_view kSalMode[] = {"Disable", "Alarm1", "Alarm2", "Alarm3"};
constexpr std::string_view kDisableEnable[] = {"Disable", "Enable"};
constexpr std::string_view kStopStart[] = {"Stop", "Start"};
constexpr std::string_view kSLevel[] = {"Unlock All", "Read All, SV,AT", "PV,SV", "All Lock"};

struct ListItemsEntry {
  std::string_view list;
  Items items;
};
constexpr ListItemsEntry kListItems[] = {
    {"CtrlSet", kCtrlSet},       {"RunStop", kRunStop},         {"HeatCool", kHeatCool},
    {"Out1Sel", kOut1Sel},       {"Out2Sel", kOut2Sel},         {"OutputType1", kOutputType1},
    {"OutputType2", kOutputType2}, {"LockStatus", kLockStatus}, {"InputA", kInputA},
    {"InputB", kInputB},         {"Unit", kUnit},               {"Pointer", kPointer},
    {"ProgDisp", kProgDisp},     {"ALM1Mode", kAlarmMode},      {"ALM2Mode", kAlarmMode},
    {"ALM3Mode", kAlarmMode},    {"SALMode", kSalMode},         {"ComWrite", kDisableEnable},
    {"AT", kStopStart},          {"Pass1", kDisableEnable},     {"Pass2", kDisableEnable},
    {"Pass3", kDisableEnable},   {"SLevel", kSLevel},
};

constexpr GroupDef kGroups[] = {
    {"CtrlBox", "Control"},         {"TempBox", "Input"},   {"PIDBox", "PID Parameter"},
    {"OnOffBox", "ON-OFF"},         {"ManuBox", "Manual"},  {"AlmBox", "Alarm"},
    {"AdjustBox", "PV tuning"},     {"SecurityPL", "Security "},
};

constexpr CaptionDef kCaptions[] = {
    // Control
    {"CtrlSetLb", "Ctrl. Method", "CtrlSet"},
    {"RunStopLb", "Run/Stop", "RunStop"},
    {"HCLb", "Heat/Cool", "HeatCool"},
    {"LockLb", "Lock Status", "LockStatus"},
    {"OutType1LB", "Output Type1", "OutputType1"},
    {"OutType2LB", "Output Type2", "OutputType2"},
    // Panel level
    {"ComWLb", "Com. Write", "ComWrite"},
    {"ATLb", "Auto tuning", "AT"},
    // Input
    {"InputLb", "Input Type", "InputB"},
    {"UnitLb", "Unit", "Unit"},
    {"ProgDispLb", "SV", "ProgDisp"},
    {"RangeHiLb", "Range Hi", "RangeHi"},
    {"RangeLoLb", "Range Lo", "RangeLo"},
    {"PointerLb", "Pointer", "Pointer"},
    // PID
    {"PbLb", "Pb", "Pb"},
    {"TiLb", "Ti", "Ti"},
    {"TdLb", "Td", "Td"},
    {"PERIOD1Lb", "Ctrl. Period1", "HCPeriodPID1"},
    {"PERIOD2Lb", "Ctrl. Period2", "HCPeriodPID2"},
    {"IOffsetLb", "I Offset", "IOffset"},
    {"PDOffsetLb", "PD Offset", "PDOffset"},
    {"CoeffLb", "P Coefficient", "Coeff"},
    {"DeadLb1", "DeadBand", "DeadBand1"},
    // ON-OFF
    {"Hyst1Lb", "Hystersis 1", "Hyst1"},
    {"Hyst2Lb", "Hysterisis 2", "Hyst2"},
    {"DeadLb2", "DeadBand", "DeadBand2"},
    // Manual
    {"OUTQ1Lb", "Output 1 %", "OUTQ1"},
    {"CPeriod1Lb", "Ctrl. Period1", "HCPeriod1"},
    {"CurrHiLb", "Tune Out High ", "CurrHi"},
    {"CurrLoLb", "Tune Out Low", "CurrLo"},
    {"CPeriod2Lb", "Ctrl. Period2", "HCPeriod2"},
    {"OUTQ2Lb", "Output 2 %", "OUTQ2"},
    // Alarm
    {"ALM1MLb", "Alarm 1 Mode", "ALM1Mode"},
    {"UP1LLb", "Up", "UpLimit1"},
    {"DN1LLb", "Down", "DnLimit1"},
    {"ALM2MLb", "Alarm 2 Mode", "ALM2Mode"},
    {"UP2LLb", "Up", "UpLimit2"},
    {"DN2LLb", "Down", "DnLimit2"},
    {"ALM3MLb", "Alarm 3 Mode", "ALM3Mode"},
    {"UP3LLb", "Up", "UpLimit3"},
    {"DN3LLb", "Down", "DnLimit3"},
    {"SAlmLb", "System Alarm", "SALMode"},
    // PV tuning
    {"PVTuneLb", "PV Offset", "PVTune"},
    {"RTDOfsLb", "RTD Offset", "RTDOfs"},
    {"RTDGainLb", "RTD Gain", "RTDGain"},
    {"TCOfsLb", "TC Offset", "TCOfs"},
    {"TCGainLb", "TC Gain", "TCGain"},
    {"ColdJLb", "Cold-J Offset", "ColdJ"},
    {"mVOfsLb", "Linear Offset", "mVOfs"},
    {"mVGainLb", "Linear Gain", "mVGain"},
    // Security
    {"Pass1Lb", "Level 1 Key", "Pass1"},
    {"Pass2Lb", "Level 2 Key", "Pass2"},
    {"Pass3Lb", "Level 3 Key", "Pass3"},
    // Password area
    {"PassLb", "Password", "PassEdit"},
};

constexpr std::string_view kCalibrationAll[] = {
    "OutType1LB", "OutputType1", "RTDOfsLb", "RTDOfs", "RTDGainLb", "RTDGain", "TCOfsLb", "TCOfs",
    "TCGainLb",   "TCGain",      "ColdJLb",  "ColdJ",  "ClearBt1",  "ClearBt2",
    "OutputType2", "OutType2LB", "mVOfs",    "mVOfsLb", "mVGain",   "mVGainLb"};
constexpr std::size_t kCalibrationKx1Count = 14;

// Controls that are not fields, lists or captioned labels.
constexpr std::string_view kOtherControls[] = {"ClearBt1", "ClearBt2", "FWVersion", "PassEdit",
                                               "SLevel",   "Pass1",    "Pass2",     "Pass3"};

// Layout rows.
constexpr std::string_view kAlarm1Row[] = {"ALM1MLb", "ALM1Mode", "UP1LLb", "UpLimit1", "DN1LLb", "DnLimit1"};
constexpr std::string_view kAlarm2Row[] = {"ALM2MLb", "ALM2Mode", "UP2LLb", "UpLimit2", "DN2LLb", "DnLimit2"};
constexpr std::string_view kAlarm3Row[] = {"ALM3MLb", "ALM3Mode", "UP3LLb", "UpLimit3", "DN3LLb", "DnLimit3"};
constexpr std::string_view kSystemAlarm[] = {"SAlmLb", "SALMode"};
constexpr std::string_view kPointerRow[] = {"PointerLb", "Pointer"};
constexpr std::string_view kOutput1[] = {"CPeriod1Lb", "HCPeriod1", "HCPeriodPID1", "PERIOD1Lb",
                                         "OUTQ1",      "OUTQ1Lb",   "Hyst1",        "Hyst1Lb"};
constexpr std::string_view kOutput2[] = {"CPeriod2Lb", "HCPeriod2", "HCPeriodPID2", "PERIOD2Lb",
                                         "OUTQ2",      "OUTQ2Lb",   "Hyst2",        "Hyst2Lb"};
constexpr std::string_view kDeadBand[] = {"DeadBand1", "DeadLb1", "DeadBand2", "DeadLb2", "Coeff", "CoeffLb"};
constexpr std::string_view kKx12Only[] = {"HeatCool", "ComWrite"};
constexpr std::string_view kKx3Only[] = {"Out1Sel", "Out2Sel"};
constexpr std::string_view kAccessGroups[] = {"AdjustBox", "AlmBox",  "ManuBox", "OnOffBox",
                                              "PIDBox",    "TempBox", "CtrlBox"};
constexpr std::string_view kModeBoxes[] = {"PIDBox", "OnOffBox", "ManuBox"};

// What a KX3 below security mode 4 shows.
constexpr std::string_view kNotAvailableTexts[] = {
    "PVTune",  "ALM1Mode", "ALM2Mode", "ALM3Mode", "UpLimit1",  "DnLimit1",     "UpLimit2",
    "DnLimit2", "UpLimit3", "DnLimit3", "SALMode", "OUTQ1",     "OUTQ2",        "CurrHi",
    "CurrLo",  "Hyst1",    "Hyst2",    "HCPeriod1", "HCPeriod2", "DeadBand2",   "Pb",
    "Ti",      "Td",       "HCPeriodPID1", "IOffset", "HCPeriodPID2", "Coeff",  "DeadBand1"};
constexpr std::string_view kNotAvailableLists[] = {"InputA",  "InputB",   "Unit",    "Pointer", "CtrlSet",
                                                   "RunStop", "HeatCool", "Out1Sel", "Out2Sel", "AT"};

constexpr int kModeManual = 2;
constexpr std::uint16_t kRunStopShownAsStop = 4;
constexpr std::uint16_t kLockNotSvValue = 11;
constexpr int kLockNotSvItem = 2;

bool InBlock(const RegBlock& block, std::uint16_t reg) {
  return reg != 0 && reg >= block.start && reg < block.start + block.count;
}

int ItemOrNone(std::string_view list, int item) {
  const auto count = static_cast<int>(ListItems(list).size());
  return item >= 0 && item < count ? item : -1;
}

// Parses with three decimals: ParseFixed keeps at most two, the third digit
// is added here.
int ParseThousandths(std::string_view text) {
  const int hundredths = ParseFixed(text, 2);
  if (hundredths == kParseError) return kParseError;
  int third = 0;
  const std::size_t dot = text.find('.');
  if (dot != std::string_view::npos && dot + 3 < text.size()) {
    const char c = text[dot + 3];
    if (c < '0' || c > '9') return kParseError;
    third = c - '0';
  }
  const bool negative = text.find('-') != std::string_view::npos;
  const long long value = static_cast<long long>(hundredths) * 10 + (negative ? -third : third);
  if (value > 2147483647LL || value < -2147483647LL) return kParseError;
  return static_cast<int>(value);
}

}  // namespace

std::span<const EditFieldDef> EditFields() { return kFields; }
std::span<const ListDef> Lists() { return kLists; }
std::span<const CaptionDef> Captions() { return kCaptions; }
std::span<const GroupDef> Groups() { return kGroups; }

const EditFieldDef* FindField(std::string_view name) {
  for (const EditFieldDef& f : kFields)
    if (f.name == name) return &f;
  return nullptr;
}

const ListDef* FindList(std::string_view name) {
  for (const ListDef& l : kLists)
    if (l.name == name) return &l;
  return nullptr;
}

std::span<const std::string_view> ListItems(std::string_view list) {
  for (const ListItemsEntry& e : kListItems)
    if (e.list == list) return e.items;
  return {};
}

std::span<const std::string_view> CalibrationControls(std::uint8_t model) {
  const std::span<const std::string_view> all = kCalibrationAll;
  return model == kModelKx1 ? all.first(kCalibrationKx1Count) : all;
}

const FieldReg& FieldRegOf(const EditFieldDef& def, std::uint8_t model) {
  return UsesKx1Column(model) ? def.kx1 : def.kx2;
}

std::uint16_t ListRegOf(const ListDef& def, std::uint8_t model) {
  switch (model) {
    case kModelKx1: return def.kx1;
    case kModelKx3: return def.kx3;
    default: return def.kx2;
  }
}

Access AccessFor(std::uint8_t model, const DeviceRecord& rec) {
  if (model != kModelKx3) {
    const bool on = rec.comWrite == 1;
    return {on, on, on};
  }
  const std::uint8_t mode = rec.security.mode;
  const bool full = Kx3FullPoll(mode);
  return {Kx3Editable(mode), full || mode == 2, full};
}

bool Permits(const Access& access, std::string_view name) {
  if (name == "ComWrite") return true;  // communication writing can always be switched on
  if (name == "SV") return access.sv;
  if (name == "AT") return access.at;
  return access.editable;
}

void RecordFromPage(std::uint8_t model, const RegBlock& block, std::span<const std::uint16_t> words,
                    DeviceRecord& rec) {
  const struct {
    std::string_view list;
    std::uint16_t DeviceRecord::*value;
  } kShared[] = {{"ComWrite", &DeviceRecord::comWrite},
                 {"HeatCool", &DeviceRecord::heatCool},
                 {"Out1Sel", &DeviceRecord::out1Function},
                 {"Out2Sel", &DeviceRecord::out2Function}};
  for (const auto& s : kShared) {
    const std::uint16_t reg = ListRegOf(*FindList(s.list), model);
    if (!InBlock(block, reg)) continue;
    const std::size_t i = static_cast<std::size_t>(reg - block.start);
    if (i < words.size()) rec.*s.value = words[i];
  }
}

int ParseEntry(const EditFieldDef& def, std::string_view text, int decimalPoint) {
  // The register field of the KX2 column tells the scale and code; both
  // columns agree on them for every field but the KX1 whole percentages.
  const FieldReg& f = def.kx2.reg != 0 ? def.kx2 : def.kx1;
  if (f.scale == Scale::Hundredths) return ParseFixed(text, 2);
  if (f.code != kCodeDp) return ParseFixed(text, 1);
  switch (decimalPoint) {
    case 0: return ParseFixed(text, 0);
    case 2: return ParseFixed(text, 2);
    case 3: return ParseThousandths(text);
    default: return ParseFixed(text, 1);  // tenths, and tenths shown rounded
  }
}

PanelAction EnterField(std::string_view field, std::string_view text, const DeviceContext& dev) {
  const EditFieldDef* def = FindField(field);
  if (def == nullptr) return {};
  const int x = ParseEntry(*def, text, dev.decimalPoint);
  if (x == kParseError) return {PanelAction::Kind::Refresh};
  const FieldReg& f = FieldRegOf(*def, dev.model);
  if (f.reg == 0 || !Permits(dev.access, field)) return {PanelAction::Kind::Refused};
  const int value = f.scale == Scale::Whole ? x / 10 : x;
  // A number no register word can hold is not sent cut down to 16 bits.
  if (value < -32768 || value > 0xFFFF) return {PanelAction::Kind::Refresh};
  return {PanelAction::Kind::Write, f.reg, static_cast<std::uint16_t>(value), def->factory};
}

PanelAction ChooseItem(std::string_view list, int item, const DeviceContext& dev) {
  const ListDef* def = FindList(list);
  if (def == nullptr || item < 0) return {};
  if (dev.model == kModelKx3 && list == "Pointer") {
    if (!Permits(dev.access, list)) return {PanelAction::Kind::Refused};
    return {PanelAction::Kind::SetDecimalPoint, 0, static_cast<std::uint16_t>(item)};
  }
  const std::uint16_t reg = ListRegOf(*def, dev.model);
  // A choice that cannot be written says so (the list then shows the
  // controller's item again).
  if (reg == 0 || !Permits(dev.access, list)) return {PanelAction::Kind::Refused};
  const auto value = static_cast<std::uint16_t>(
      list == "LockStatus" && item == kLockNotSvItem ? kLockNotSvValue : item);
  return {PanelAction::Kind::Write, reg, value, def->factory};
}

PanelAction ClearButton(int which, const DeviceContext& dev) {
  if (!dev.access.editable && dev.model != kModelKx3) return {};
  const bool kx1 = dev.model == kModelKx1;
  const std::uint16_t reg = which == 1 ? (kx1 ? 0x4724 : 0x474E) : (kx1 ? 0x4725 : 0x474F);
  return {PanelAction::Kind::Write, reg, kUnlockValue, true};
}

PasswordCommand ParsePassword(std::string_view text) {
  if (text == kFactoryCode) return PasswordCommand::Factory;
  if (text == "probe on") return PasswordCommand::ProbeOn;
  if (text == "probe off") return PasswordCommand::ProbeOff;
  return PasswordCommand::Other;
}

SecurityView SecurityDisplay(const Kx3Security& s) {
  SecurityView v;
  v.levelEnabled = s.keyBits != 0;
  v.levelItem = Kx3SecurityLevelItem(s.mode);
  for (int i = 0; i < 3; ++i) v.keyItems[static_cast<std::size_t>(i)] = (s.keyBits >> i) & 1;
  return v;
}

LevelCheck CheckSecurityLevel(int i, const Kx3Security& s, std::uint32_t requestCount) {
  const int m = s.mode;
  const int k = s.keyBits;
  if ((i == 0 && m != 8 && (k & 1) != 0) || (i == 1 && m != 4 && (k & 2) != 0) ||
      (i == 2 && m != 2 && (k & 4) != 0)) {
    return {LevelCheck::Kind::AskKey, static_cast<std::uint16_t>(kKx3LevelKeyFirst + i), 0};
  }
  if (i == 3 && m != 1 && k != 0) {
    return {LevelCheck::Kind::LockWrite, kKx3LevelKeyFirst, static_cast<std::uint16_t>(requestCount)};
  }
  return {};
}

std::string FilterKeyText(std::string_view text) {
  std::string out;
  for (char c : text) {
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F'))) return {};
    out.push_back(u);
  }
  return out;
}

std::optional<std::uint16_t> KeyValue(std::string_view text) {
  if (text.size() != 4 || FilterKeyText(text) != text) return std::nullopt;
  return static_cast<std::uint16_t>(std::stoul(std::string(text), nullptr, 16));
}

// ---------------------------------------------------------------------------

PanelModel::PanelModel() {
  for (const GroupDef& g : kGroups) At(g.name).text = std::string(g.caption);
  for (const EditFieldDef& f : kFields) At(f.name).text = "0";
  for (const ListDef& l : kLists) At(l.name);
  for (const CaptionDef& c : kCaptions) At(c.label).text = std::string(c.caption);
  for (std::string_view n : kOtherControls) At(n);
  At("FWVersion").text = "Firmware Version";
  At("Unit").item = 1;
  At("Pointer").item = 1;
  At("SLevel").item = 0;
  At("SLevel").text = "Security Level";
  At("SecurityPL").visible = false;
  At("ProgDisp").visible = false;
  At("InputA").visible = false;
  SetVisible(kKx3Only, false);
  SetVisible(kCalibrationAll, false);
  ControlModeLayout(0);
}

ControlLook& PanelModel::At(std::string_view name) {
  auto it = looks_.find(name);
  if (it == looks_.end()) it = looks_.emplace(std::string(name), ControlLook{}).first;
  return it->second;
}

const ControlLook& PanelModel::Look(std::string_view name) const {
  auto it = looks_.find(name);
  if (it == looks_.end()) throw std::out_of_range("no panel control " + std::string(name));
  return it->second;
}

void PanelModel::SetVisible(std::span<const std::string_view> names, bool visible) {
  for (std::string_view n : names) At(n).visible = visible;
}

void PanelModel::SetItem(std::string_view list, int item) { At(list).item = ItemOrNone(list, item); }

void PanelModel::SetText(std::string_view field, std::string text) { At(field).text = std::move(text); }

void PanelModel::ControlModeLayout(int mode) {
  modeBox_ = mode == 1 ? "OnOffBox" : mode == kModeManual ? "ManuBox" : "PIDBox";
  for (std::string_view box : kModeBoxes) At(box).visible = box == modeBox_;
  // Ramp soak keeps the auto-tuning control as it was.
  if (mode == 0 || mode == 1 || mode == kModeManual) {
    At("AT").visible = At("ATLb").visible = mode == 0;
  }
}

void PanelModel::FillPage(int type, const RegBlock& block, std::span<const std::uint16_t> words,
                          const PanelInput& in) {
  const auto word = [&](std::uint16_t reg) -> std::uint16_t {
    const std::size_t i = static_cast<std::size_t>(reg - block.start);
    return i < words.size() ? words[i] : 0;
  };
  const bool kx3 = in.model == kModelKx3;

  for (const EditFieldDef& f : kFields) {
    const FieldReg& r = FieldRegOf(f, in.model);
    if (f.fromRecord || !InBlock(block, r.reg)) continue;
    const std::uint16_t w = word(r.reg);
    const std::int32_t value = r.times10 ? static_cast<std::int16_t>(w) * 10 : w;
    At(f.name).text = ValueText(value, r.code == kCodeDp ? in.decimalPoint : r.code);
  }

  for (const ListDef& l : kLists) {
    const std::uint16_t reg = ListRegOf(l, in.model);
    if (!InBlock(block, reg)) continue;
    const std::uint16_t v = word(reg);
    int item = v;
    if (l.name == "RunStop" && v == kRunStopShownAsStop) {
      item = 0;
    } else if (l.name == "LockStatus") {
      item = kx3 ? Kx3LockStatusItem(in.rec.security.mode) : v / 10 + v % 10;
    } else if (l.name == "ProgDisp") {
      continue;  // set by the program display
    }
    At(l.name).item = ItemOrNone(l.name, item);
    At(l.name).text.clear();
    if (l.name == "CtrlSet") {
      controlMode_ = v;
      ControlModeLayout(v);
    }
  }

  // Ti decides whether the PD offset or the integral offset is in front.
  if (const FieldReg& ti = FieldRegOf(*FindField("Ti"), in.model); InBlock(block, ti.reg)) {
    const bool pd = word(ti.reg) == 0;
    At("PDOffset").visible = At("PDOffsetLb").visible = pd;
    At("IOffset").visible = At("IOffsetLb").visible = !pd;
  }

  switch (type) {
    case reqtype::kPageFirst:
      // The KX1 auto-tuning register lies on no page: the status polls read it.
      if (in.model == kModelKx1) At("AT").item = ItemOrNone("AT", in.rec.autoTuning);
      At("FWVersion").text = FirmwareVersionText(in.rec.firmwareVersion);
      break;
    case 12:
      if (kx3) At("LockStatus").item = Kx3LockStatusItem(in.rec.security.mode);
      break;
    case reqtype::kPageLast:
      if (controlMode_ == kModeManual) {
        if (in.model == kModelKx1) {
          At("OUTQ1").text = ValueText(in.rec.out1, kDpRounded);
        } else {
          At("OUTQ1").text = ValueText(in.rec.out1, 1);
          At("OUTQ2").text = ValueText(in.rec.out2, 1);
        }
      }
      break;
    case reqtype::kFactoryFirst:
      if (in.model == kModelKx1) ShowCalibration(in.model, true);
      break;
    case reqtype::kFactoryLast:
      if (in.model != kModelKx1) ShowCalibration(in.model, true);
      break;
    default:
      break;
  }
}

void PanelModel::ShowCalibration(std::uint8_t model, bool shown) {
  calibrationShown_ = shown;
  SetVisible(kCalibrationAll, false);
  if (shown) SetVisible(CalibrationControls(model), true);
}

void PanelModel::Layout(const PanelInput& in) {
  const std::uint8_t model = in.model;
  const bool kx1 = model == kModelKx1;
  const bool kx3 = model == kModelKx3;
  const bool kx2 = !kx1 && !kx3;  // unknown models are laid out like a KX2
  // The engine's record follows the pages it has read (RecordFromPage).
  const DeviceRecord& rec = in.rec;
  const bool out1Output = rec.out1Function < 2;
  const bool out2Output = rec.out2Function < 2;
  const bool twoOutputs = kx2 && rec.heatCool >= 2 && rec.heatCool <= 3;

  SetVisible(kAlarm1Row, !kx3 || rec.out1Function == 2);
  SetVisible(kAlarm2Row, !kx3 || rec.out2Function == 2);
  SetVisible(kAlarm3Row, kx2 && rec.heatCool < 2);
  SetVisible(kSystemAlarm, kx2);
  SetVisible(kPointerRow, !kx1);
  SetVisible(kOutput1, !kx3 || out1Output);
  SetVisible(kOutput2, twoOutputs || (kx3 && out2Output));
  SetVisible(kDeadBand, twoOutputs || (kx3 && out1Output && out2Output && rec.out1Function != rec.out2Function));
  At("SecurityPL").visible = kx3 && !in.factoryCodeTyped;
  SetVisible(kKx12Only, !kx3);
  SetVisible(kKx3Only, kx3);
  At("HCLb").text = Text(kx3 ? Msg::Out1 : Msg::HeatCool);
  At("ComWLb").text = Text(kx3 ? Msg::Out2 : Msg::ComWrite);
  At("InputA").visible = kx1;
  At("InputB").visible = !kx1;

  rampSoakMenu_ = !kx1;
  uploadMenu_ = true;
  if (kx3 && (rec.security.mode & 0x3) != 0) rampSoakMenu_ = uploadMenu_ = false;

  // Access rules; a KX3 below security mode 4 shows nothing of its parameters.
  ApplyAccess(in);
  if (kx3) {
    if (Kx3FullPoll(rec.security.mode)) {
      // Tenths shown rounded are the point code "None" chosen with a temperature unit.
      At("Pointer").item = ItemOrNone("Pointer", in.decimalPoint == kDpRounded ? 0 : in.decimalPoint);
    } else {
      At("LockStatus").item = rec.security.mode == 2 ? kLockNotSvItem : 1;
      ShowNotAvailable();
    }
  }
}

void PanelModel::ApplyAccess(const PanelInput& in) {
  const Access access = AccessFor(in.model, in.rec);
  editable_ = access.editable;
  At("SV").enabled = access.sv;
  At("AT").enabled = access.at;
  for (std::string_view g : kAccessGroups) At(g).enabled = editable_;
  // Output 2's list sits in the place of the com-write list, outside the
  // control group, and follows the group's access.
  At("Out2Sel").enabled = editable_;
}

void PanelModel::ShowNotAvailable() {
  const std::string na(Text(Msg::NotAvailable));
  for (std::string_view n : kNotAvailableTexts) {
    ControlLook& c = At(n);
    c.text = na;
    c.item = -1;
  }
  for (std::string_view n : kNotAvailableLists) At(n).item = -1;
  At("RangeHi").text.clear();
  At("RangeLo").text.clear();
}

void PanelModel::ShowSecurity(const Kx3Security& s, bool levelWrite, bool levelChosen) {
  const SecurityView v = SecurityDisplay(s);
  At("SLevel").enabled = v.levelEnabled;
  if (levelWrite) return;
  if (!levelChosen) At("SLevel").item = v.levelItem;
  At("Pass1").item = v.keyItems[0];
  At("Pass2").item = v.keyItems[1];
  At("Pass3").item = v.keyItems[2];
}

void PanelModel::SetSecurityVisible(bool visible) { At("SecurityPL").visible = visible; }

void PanelModel::SetShown(std::string_view name, bool visible) { At(name).visible = visible; }

}  // namespace kx::panel
