// The registers behind the monitor's parameter panel that change how a
// simulated controller behaves: the com-write flag that gates remote writes,
// the KX3 security word with its three keys, and the output configuration
// (control mode, heat/cool, KX3 output functions) the outputs follow.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "kxsim/register_map.h"

namespace kxsim {

// Register of the com-write flag a panel switches (KX1 0x471A, KX2 0x4726);
// 0 on KX3, whose writes its security mode governs instead.
std::uint16_t ComWriteRegister(Model model);
// KX2 reports the flag again in bit 0 of its status bits (0x4717).
inline constexpr std::uint16_t kKx2StatusBits = 0x4717;

// KX3 security word (0x4751): key bits 0..2, mode in bits 3..6.
inline constexpr std::uint16_t kKx3SecurityWord = 0x4751;
inline constexpr std::uint16_t kKx3LevelFirst = 0x106B;      // levels 1..3
inline constexpr std::uint16_t kKx3KeyChangeFirst = 0x106E;  // levels 1..3
// Keys of a KX3 whose security word says a key is set, until changed.
inline constexpr std::array<std::uint16_t, 3> kDefaultKx3Keys = {0x1111, 0x2222, 0x3333};

// The exception code of a write the controller refuses at this moment, or
// nothing. `reg` reads the controller's registers.
std::optional<std::uint8_t> WriteRefusal(Model model, std::uint16_t reg,
                                         const std::function<std::uint16_t(std::uint16_t)>& read);

// A write to a KX3 level or key-change register: the new security word.
// A level unlocked with its key takes that level's mode (8, 4, 2); a wrong
// key locks all (mode 1). A key change sets the key when none is set, clears
// it when the entry is the key, and locks all otherwise.
std::uint16_t Kx3SecurityAfterWrite(std::array<std::uint16_t, 3>& keys, std::uint16_t word,
                                    std::uint16_t reg, std::uint16_t value);

// What drives each output (0..1000).
struct OutputConfig {
  bool manual = false;  // control mode manual: outputs keep what was written
  bool onOff = false;   // ON-OFF control: full or nothing
  int out1 = 0;         // 0 heats, 1 cools, 2 not a control output
  int out2 = 2;
};
OutputConfig OutputConfigOf(Model model, const std::function<std::uint16_t(std::uint16_t)>& read);
// Output level from the heating and cooling demands (0..1000).
int OutputLevel(int use, int heat, int cool, bool onOff);

}  // namespace kxsim
