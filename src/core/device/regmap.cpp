#include "core/device/regmap.h"

#include <algorithm>
#include <array>

#include "core/modbus/codec.h"
#include "core/text/messages.h"
#include "core/text/text.h"

namespace kx {

namespace {

// Columns of the request table.
enum Column : std::size_t { kColKx1, kColKx2, kColKx3Full, kColKx3Restricted, kColumns };

struct RequestRow {
  int type;
  std::array<std::optional<RegBlock>, kColumns> blocks;
};

constexpr RegBlock R(std::uint16_t start, std::uint16_t count) { return {start, count, kFnRead}; }
constexpr std::optional<RegBlock> kNone = std::nullopt;

// What each request type reads, per model column.
const std::array<RequestRow, 15> kRequestTable{{
    {1, {R(0x470F, 2), R(0x4724, 2), R(0x4751, 1), R(0x4751, 1)}},
    {2, {R(0x4728, 4), R(0x4717, 4), R(0x471A, 6), R(0x4728, 1)}},
    {3, {R(0x4700, 2), R(0x4700, 4), R(0x4700, 4), R(0x4700, 2)}},
    {4, {R(0x4718, 8), R(0x4728, 8), R(0x4728, 8), R(0x4728, 1)}},
    {5, {R(0x4700, 2), R(0x4700, 4), R(0x4700, 4), R(0x4700, 2)}},
    {6, {R(0x471C, 3), R(0x4723, 7), R(0x4723, 6), R(0x4728, 1)}},
    {7, {R(0x4733, 1), R(0x4751, 1), R(0x4751, 1), R(0x4751, 1)}},
    {8, {R(0x4762, 5), R(0x4762, 5), R(0x4762, 5), R(0x4762, 5)}},
    {10, {R(0x4731, 1), R(0x4720, 8), R(0x4720, 8), kNone}},
    {11, {R(0x4710, 8), R(0x4710, 8), R(0x4710, 8), kNone}},
    {12, {R(0x4718, 8), R(0x4718, 8), R(0x4718, 8), kNone}},
    {13, {R(0x4708, 8), R(0x4708, 8), R(0x4708, 8), kNone}},
    {14, {R(0x4701, 7), R(0x4701, 7), R(0x4701, 7), kNone}},
    {20, {R(0x4720, 8), R(0x4730, 7), R(0x4730, 7), kNone}},
    {21, {kNone, R(0x4737, 2), R(0x4737, 2), kNone}},
}};

// Factory-protected registers: written only right after the unlock write.
constexpr std::array<std::uint16_t, 9> kKx1Protected{0x4714, 0x4720, 0x4721, 0x4722, 0x4723,
                                                     0x4724, 0x4725, 0x4726, 0x4727};
constexpr std::array<std::uint16_t, 13> kKx23Protected{0x471D, 0x4730, 0x4731, 0x4732, 0x4733,
                                                       0x4734, 0x4735, 0x4736, 0x4737, 0x4738,
                                                       0x474C, 0x474E, 0x474F};

}  // namespace

std::uint16_t UnlockRegister(std::uint8_t model) { return model == kModelKx1 ? 0x471B : 0x472A; }

std::uint16_t UploadRegister(std::uint8_t model) { return model == kModelKx1 ? 0x472F : 0x474C; }

bool FactoryProtected(std::uint8_t model, std::uint16_t reg) {
  if (model == kModelKx1)
    return std::find(kKx1Protected.begin(), kKx1Protected.end(), reg) != kKx1Protected.end();
  return std::find(kKx23Protected.begin(), kKx23Protected.end(), reg) != kKx23Protected.end();
}

std::string_view ModelName(std::uint8_t model) {
  switch (model) {
    case kModelKx1: return "KX1";
    case kModelKx2: return "KX2";
    case kModelKx3: return "KX3";
    default: return {};
  }
}

std::optional<RegBlock> RequestBlock(int type, std::uint8_t model, std::uint8_t kx3SecurityMode) {
  if (type == reqtype::kIdentify) return RegBlock{0x0012, 3, kFnIdentify};
  Column col = kColKx2;
  switch (model) {
    case kModelKx1: col = kColKx1; break;
    case kModelKx2: col = kColKx2; break;
    case kModelKx3: col = Kx3FullPoll(kx3SecurityMode) ? kColKx3Full : kColKx3Restricted; break;
    default:
      // An unknown model has no status blocks; its pages are read like a KX2's.
      if (type >= reqtype::kModelDetail && type <= reqtype::kSecurity) return std::nullopt;
      col = kColKx2;
      break;
  }
  const auto row = std::find_if(kRequestTable.begin(), kRequestTable.end(),
                                [type](const RequestRow& r) { return r.type == type; });
  if (row == kRequestTable.end()) return R(0x4700, 2);  // types never sent in normal operation
  return row->blocks[col];
}

std::uint8_t IdentifyModel(std::uint8_t function, std::span<const std::uint16_t> words) {
  if (function == kFnKx1Identify || function == kFnIdentifyError) return kModelKx1;
  if (words.size() < 2 || words[0] != 2) return kModelUnknown;
  const unsigned index = words[1] & 0xFFU;
  if (index > 2) return kModelUnknown;
  return static_cast<std::uint8_t>(kModelKx1 + index);
}

int Kx1DecimalPoint(std::uint16_t inputType) {
  switch (inputType) {
    case 1: case 3: case 5: case 11: case 12: case 14: case 15: return 1;
    default: return kDpRounded;
  }
}

int Kx2DecimalPoint(std::uint16_t unit, std::uint16_t pointCode) {
  if (pointCode == 0 && unit < 2) return kDpRounded;
  return pointCode;
}

void StoreParameterWords(ParameterWords& page, RegBlock block, std::span<const std::uint16_t> words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::uint32_t reg = block.start + static_cast<std::uint32_t>(i);
    if (IsParameterRegister(reg)) page[reg - kParameterFirst] = words[i];
  }
}

bool SetsDecimalPoint(std::uint8_t model, std::uint16_t reg) {
  if (model == kModelKx1) return reg == 0x4710;
  return model == kModelKx2 && (reg == 0x4724 || reg == 0x4725);
}

int DecimalPointAfter(std::uint8_t model, int current, RegBlock changed, const ParameterWords& page) {
  constexpr std::uint16_t kKx1InputType = 0x4710, kUnit = 0x4724, kPointCode = 0x4725;
  const auto holds = [&changed](std::uint16_t reg) {
    return reg >= changed.start && reg - changed.start < changed.count;
  };
  const auto word = [&page](std::uint16_t reg) { return page[reg - kParameterFirst]; };
  switch (model) {
    case kModelKx1: return holds(kKx1InputType) ? Kx1DecimalPoint(word(kKx1InputType)) : current;
    case kModelKx3:
      return holds(kUnit) && current == 0 && word(kUnit) < 2 ? kDpRounded : current;
    default:
      return holds(kUnit) || holds(kPointCode) ? Kx2DecimalPoint(word(kUnit), word(kPointCode)) : current;
  }
}

std::string ValueText(std::int32_t value, int code) {
  bool negative = false;
  // Wide enough for the magnitude of the most negative 32-bit value.
  std::int64_t v = value;
  if (v < 0) {
    negative = true;
    v = -v;
  } else if (v > 0x7FFF && v <= 0xFFFF) {
    negative = true;
    v = (v ^ 0xFFFF) + 1;
  }
  std::string text;
  switch (code) {
    case 0: text = std::to_string(v); break;
    case 1: text = std::to_string(v / 10) + "." + std::to_string(v % 10); break;
    case 2: text = std::to_string(v / 100) + "." + DecimalDigits(static_cast<int>(v % 100), 2); break;
    case 3: text = std::to_string(v / 1000) + "." + DecimalDigits(static_cast<int>(v % 1000), 3); break;
    case kDpRounded: text = std::to_string(v / 10 + (v % 10 > 4 ? 1 : 0)); break;
    default: return {};
  }
  return negative ? "- " + text : text;
}

std::uint8_t Kx1StatusToNative(std::uint8_t kx1) {
  // (native bit, KX1 bit) pairs.
  static constexpr std::array<std::pair<int, int>, 8> kMap{
      {{0, 0}, {1, 4}, {2, 3}, {3, 2}, {4, 5}, {5, 5}, {6, 6}, {7, 7}}};
  unsigned native = 0;
  for (const auto& [to, from] : kMap)
    if (StatusBit(kx1, from)) native |= 1U << to;
  return static_cast<std::uint8_t>(native);
}

std::string_view UnitText(std::uint8_t native) {
  if (StatusBit(native, statusbit::kUnitC)) return "C";
  if (StatusBit(native, statusbit::kUnitF)) return "F";
  return "EU";
}

std::uint16_t PvStatus(std::uint8_t model, std::uint16_t pv, std::uint16_t kx1StatusCode) {
  if (model == kModelKx1) return kx1StatusCode;
  return (pv & 0xFF00U) == 0x8000U ? pv : 0;
}

std::string_view PvStatusText(std::uint16_t status) {
  switch (status & 0xFU) {
    case 1: case 2: return Text(Msg::Waiting);
    case 3: return Text(Msg::NoConnect);
    case 4: case 6: return Text(Msg::InputError);
    case 5: return Text(Msg::OverRange);
    case 7: return Text(Msg::MemoryFail);
    default: return {};
  }
}

int Kx3SecurityLevelItem(std::uint8_t mode) {
  if ((mode & 1U) != 0) return 3;
  if ((mode & 2U) != 0) return 2;
  if ((mode & 4U) != 0) return 1;
  return 0;
}

int Kx3LockStatusItem(std::uint8_t mode) {
  if ((mode & 1U) != 0) return 1;
  if ((mode & 6U) != 0) return 2;
  return 0;
}

std::string FirmwareVersionText(std::uint16_t word) {
  return std::string(Text(Msg::FirmwareVersionPrefix)) + std::to_string(word >> 8) + "." +
         HexByte(word & 0xFF);
}

std::string ProgramDisplayText(const ProgramDisplay& p, std::uint16_t setValue, int dp) {
  switch (p.mode) {
    case 0: return "0" + std::to_string(p.pattern) + "-" + DecimalDigits(p.step, 2);
    case 1: return ValueText(setValue, dp);
    case 2:
      return DecimalDigits(p.minutes / 60, 2) + ":" + DecimalDigits((p.seconds % 3600) / 60, 2) +
             ":" + DecimalDigits(p.seconds % 60, 2);
    default: return {};
  }
}

namespace {

// Word n of the block, when the answer carried it.
struct Words {
  std::span<const std::uint16_t> w;
  bool Has(std::size_t n) const { return n < w.size(); }
  // Stores word n into dst when present; returns whether it differs from before.
  bool Take(std::size_t n, std::uint16_t& dst) const {
    if (!Has(n)) return false;
    const bool changed = dst != w[n];
    dst = w[n];
    return changed;
  }
};

void TakeStatusByte(const Words& w, std::size_t n, bool kx1, DeviceRecord& rec, PollEffects& fx) {
  if (!w.Has(n)) return;
  const auto raw = static_cast<std::uint8_t>(w.w[n] & 0xFF);
  rec.statusByte = kx1 ? Kx1StatusToNative(raw) : raw;
  fx.statusByteRead = true;
}

// The status flags word: bit 0 clear on the selected KX1/KX2 asks for a refresh.
void TakeFlags(const Words& w, std::size_t n, bool selected, DeviceRecord& rec, PollEffects& fx) {
  if (!w.Has(n)) return;
  rec.statusFlags = w.w[n];
  if (selected && (rec.statusFlags & 1U) == 0) fx.refresh = true;
}

}  // namespace

PollEffects DecodePoll(int type, std::uint8_t model, std::span<const std::uint16_t> words,
                       bool selected, DeviceRecord& rec) {
  PollEffects fx;
  const Words w{words};
  const bool kx1 = model == kModelKx1;
  const bool kx2 = model == kModelKx2;
  const bool kx3 = model == kModelKx3;
  const bool kx3Full = kx3 && Kx3FullPoll(rec.security.mode);
  const bool kx3Restricted = kx3 && !kx3Full;
  switch (type) {
    case reqtype::kModelDetail:
      if (kx1) {
        if (w.Has(0)) rec.heatCool = (w.w[0] & 0x4U) != 0 ? 1 : 0;
        if (w.Has(1)) {
          fx.decimalPointSet = true;
          fx.decimalPoint = Kx1DecimalPoint(w.w[1]);
        }
      } else if (kx3) {
        if (w.Has(0)) {
          rec.securityWord = w.w[0];
          rec.security = DecodeKx3Security(rec.securityWord);
          fx.securityRead = true;
        }
      } else if (w.Has(1)) {
        fx.decimalPointSet = true;
        fx.decimalPoint = Kx2DecimalPoint(w.w[0], w.w[1]);
      }
      break;
    case reqtype::kStatus2:
      if (kx1) {
        w.Take(0, rec.voltage);
        if (w.Take(1, rec.autoTuning) && selected) fx.refresh = true;
        w.Take(3, rec.pvStatusCode);
      } else if (kx2) {
        if (w.Has(0)) {
          rec.comWrite = w.w[0] & 1U;
          rec.programRunning = (w.w[0] >> 5) & 1U;
        }
        w.Take(3, rec.heatCool);
      } else if (kx3Full) {
        w.Take(0, rec.out1Function);
        w.Take(5, rec.out2Function);
      }
      break;
    case reqtype::kPvSv:
    case reqtype::kPvSv5:
      w.Take(0, rec.pv);
      w.Take(1, rec.sv);
      if (kx2 || kx3Full) {
        w.Take(2, rec.out1);
        w.Take(3, rec.out2);
      }
      break;
    case reqtype::kStatus4:
      if (kx1) {
        w.Take(0, rec.heatCool);
        if (w.Take(1, rec.runStop) && selected) fx.refresh = true;
        w.Take(2, rec.comWrite);
        w.Take(3, rec.firmwareVersion);
        TakeStatusByte(w, 4, true, rec, fx);
        TakeFlags(w, 5, selected, rec, fx);
        if (w.Has(6)) rec.out1 = static_cast<std::uint16_t>(w.w[6] * 10U);
        w.Take(7, rec.coldJunction);
        rec.programRunning = 0;
      } else if (kx2 || kx3Full) {
        TakeStatusByte(w, 0, false, rec, fx);
        if (kx2) TakeFlags(w, 1, selected, rec, fx);
        else w.Take(1, rec.statusFlags);
        w.Take(2, rec.firmwareVersion);
        w.Take(3, rec.programRunning);
        w.Take(4, rec.patternSv);
        w.Take(6, rec.coldJunction);
        w.Take(7, rec.voltage);
      } else if (kx3Restricted) {
        TakeStatusByte(w, 0, false, rec, fx);
        rec.programRunning = 0;
      }
      break;
    case reqtype::kStatus6:
      if (kx1) {
        TakeStatusByte(w, 0, true, rec, fx);
        TakeFlags(w, 1, selected, rec, fx);
        if (w.Has(2)) rec.out1 = static_cast<std::uint16_t>(w.w[2] * 10U);
      } else if (kx2 || kx3Full) {
        TakeStatusByte(w, 5, false, rec, fx);
        if (kx2) TakeFlags(w, 6, selected, rec, fx);
        if (selected) {
          if (w.Take(4, rec.autoTuning)) fx.refresh = true;
          if (w.Take(0, rec.runStop)) fx.refresh = true;
        }
      } else if (kx3Restricted) {
        TakeStatusByte(w, 0, false, rec, fx);
      }
      break;
    case reqtype::kSecurity:
      if (kx3 && w.Has(0)) {
        rec.securityWord = w.w[0];
        rec.security = DecodeKx3Security(rec.securityWord);
        fx.securityRead = true;
      }
      break;
    case reqtype::kProgram:
      w.Take(0, rec.program.mode);
      w.Take(1, rec.program.seconds);
      w.Take(2, rec.program.minutes);
      w.Take(3, rec.program.step);
      w.Take(4, rec.program.pattern);
      break;
    default:
      break;
  }
  return fx;
}

}  // namespace kx
