#include "kxsim/panel_registers.h"

namespace kxsim {

namespace {

constexpr std::uint8_t kRefused = 0x04;  // illegal command
constexpr std::uint16_t kSv = 0x4701;
constexpr std::uint16_t kKx3AutoTuning = 0x4727;
constexpr std::uint8_t kModeUnlocked = 8;
constexpr std::uint8_t kModeReadAll = 4;
constexpr std::uint8_t kModePvSv = 2;
constexpr std::uint8_t kModeAllLocked = 1;
constexpr std::uint8_t kLevelModes[3] = {kModeUnlocked, kModeReadAll, kModePvSv};
constexpr int kUse[4][2] = {{0, 2}, {1, 2}, {0, 1}, {1, 0}};  // KX2 heat/cool value -> uses

bool KeyRegister(std::uint16_t reg) { return reg >= kKx3LevelFirst && reg < kKx3KeyChangeFirst + 3; }

std::uint16_t Word(std::uint8_t keyBits, std::uint8_t mode) {
  return static_cast<std::uint16_t>((keyBits & 0x7) | ((mode & 0xF) << 3));
}

}  // namespace

std::uint16_t ComWriteRegister(Model model) {
  switch (model) {
    case Model::Kx1: return 0x471A;
    case Model::Kx2: return 0x4726;
    case Model::Kx3: return 0;
  }
  return 0;
}

std::optional<std::uint8_t> WriteRefusal(Model model, std::uint16_t reg,
                                         const std::function<std::uint16_t(std::uint16_t)>& read) {
  if (model == Model::Kx3) {
    const auto mode = static_cast<std::uint8_t>((read(kKx3SecurityWord) >> 3) & 0xF);
    if (mode == kModeUnlocked || KeyRegister(reg)) return std::nullopt;
    if (reg == kSv && (mode == kModeReadAll || mode == kModePvSv)) return std::nullopt;
    if (reg == kKx3AutoTuning && mode == kModeReadAll) return std::nullopt;
    return kRefused;
  }
  const std::uint16_t flag = ComWriteRegister(model);
  if (reg == flag || (read(flag) & 1) != 0) return std::nullopt;
  return kRefused;
}

std::uint16_t Kx3SecurityAfterWrite(std::array<std::uint16_t, 3>& keys, std::uint16_t word,
                                    std::uint16_t reg, std::uint16_t value) {
  auto keyBits = static_cast<std::uint8_t>(word & 0x7);
  auto mode = static_cast<std::uint8_t>((word >> 3) & 0xF);
  if (reg >= kKx3LevelFirst && reg < kKx3LevelFirst + 3) {
    const int i = reg - kKx3LevelFirst;
    const bool keySet = (keyBits >> i & 1) != 0;
    mode = !keySet || value == keys[static_cast<std::size_t>(i)] ? kLevelModes[i] : kModeAllLocked;
  } else if (reg >= kKx3KeyChangeFirst && reg < kKx3KeyChangeFirst + 3) {
    const int i = reg - kKx3KeyChangeFirst;
    const auto bit = static_cast<std::uint8_t>(1U << i);
    if ((keyBits & bit) == 0) {
      keys[static_cast<std::size_t>(i)] = value;
      keyBits |= bit;
    } else if (value == keys[static_cast<std::size_t>(i)]) {
      keyBits &= static_cast<std::uint8_t>(~bit);
    } else {
      mode = kModeAllLocked;
    }
  }
  return Word(keyBits, mode);
}

OutputConfig OutputConfigOf(Model model, const std::function<std::uint16_t(std::uint16_t)>& read) {
  OutputConfig c;
  const std::uint16_t mode = read(model == Model::Kx1 ? 0x4711 : 0x4719);
  c.onOff = mode == 1;
  c.manual = mode == 2;
  switch (model) {
    case Model::Kx1: {
      const std::uint16_t hc = read(0x4718);
      c.out1 = hc == 1 || hc == 3 ? 1 : 0;
      c.out2 = 2;
      break;
    }
    case Model::Kx2: {
      const std::uint16_t hc = read(0x471A);
      c.out1 = hc < 4 ? kUse[hc][0] : 0;
      c.out2 = hc < 4 ? kUse[hc][1] : 2;
      break;
    }
    case Model::Kx3: {
      const std::uint16_t f1 = read(0x471A);
      const std::uint16_t f2 = read(0x471F);
      c.out1 = f1 < 2 ? f1 : 2;
      c.out2 = f2 < 2 ? f2 : 2;
      break;
    }
  }
  return c;
}

int OutputLevel(int use, int heat, int cool, bool onOff) {
  const int level = use == 0 ? heat : use == 1 ? cool : 0;
  return onOff && level > 0 ? 1000 : level;
}

}  // namespace kxsim
