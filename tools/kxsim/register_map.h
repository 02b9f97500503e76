// Holding registers of the three simulated controller models: where each one
// lies, its starting value and how a write to it is treated. Data only; the
// behaviour behind the special kinds lives in Controller.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kxsim {

enum class Model { Kx1, Kx2, Kx3 };

std::string_view ModelName(Model model);
std::optional<Model> ParseModel(std::string_view name);
// Model index of the identification block: 0 KX1, 1 KX2, 2 KX3.
int ModelIndex(Model model);

enum class Access : std::uint8_t {
  ReadOnly,     // reads give the value; writes answer "illegal address"
  ReadWrite,    // plain parameter
  Factory,      // writable only right after the unlock write
  Command,      // write 0x4F1D to act (restore default, clear adjustment); reads 0
  WriteOnly,    // takes writes, reads 0 (KX1 manual output, KX3 lock status, keys)
  Unlock,       // firmware version on read; 0x4F1D written unlocks the next write
  Upload,       // parameter memory, one byte per read: offset << 8 | byte
  StepUpload,   // ramp/soak step image, one byte per read
  CommFormat,   // KX3: address << 8 | format byte; a write moves the controller
  Sync,         // KX3: 1 hands address and format on to the follower units
  Reserved,     // inside a block, reads 0, refuses writes
};

struct RegisterDef {
  std::uint16_t reg;
  std::uint16_t value;
  Access access;
};

// The registers of a model in ascending order. Registers not listed do not
// exist: reading or writing them gives the exception "illegal address".
std::span<const RegisterDef> RegisterTable(Model model);

// Well-known registers.
inline constexpr std::uint16_t kRegPv = 0x4700;
inline constexpr std::uint16_t kRegSv = 0x4701;
inline constexpr std::uint16_t kUnlockValue = 0x4F1D;
inline constexpr std::uint16_t kIdStart = 0x0012;   // identification block (function 0x67)
inline constexpr std::uint16_t kIdCount = 3;

}  // namespace kxsim

namespace kxsim {

// Where registers lie in the parameter memory image read through the upload
// register: a byte (the register's low byte) or a word (high byte first).
struct MemoryField {
  std::uint8_t offset;
  std::uint16_t reg;
  bool word;
};
std::span<const MemoryField> MemoryMap(Model model);

// Registers that drive the simulated process, per model.
struct ProcessRegisters {
  std::uint16_t runStop;      // 1 run, 0 stop
  std::uint16_t unit;         // 0 F, 1 C, 2 EU
  std::uint16_t statusByte;
  std::uint16_t autoTune;
  std::uint16_t pvOffset;
  std::uint16_t output1;      // KX1: whole percent; KX2/KX3: tenths of percent
  std::uint16_t output2;      // 0 when the model has none
  std::uint16_t alarmHigh[3]; // 0 when the alarm does not exist
  std::uint16_t alarmLow[3];
  std::uint16_t alarmMode[3];
  std::uint16_t restoreDefault;
  std::uint16_t clearAdjustment;
  std::uint16_t unlock;
  std::uint16_t firmware;
};
const ProcessRegisters& ProcessRegistersOf(Model model);

}  // namespace kxsim
