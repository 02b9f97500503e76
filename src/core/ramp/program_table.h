// The ramp/soak program: a start pattern and 8 patterns of 8 steps, each step
// a set value (tenths of a degree) and a time (minutes); per pattern the last
// step used, how many extra times it runs and the pattern that follows (8 ends
// the program). Its display texts, the rules for storing edited values, the
// step image the controller holds, the 153 register writes that send it and
// the "*.r$s" file that keeps it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace kx {

inline constexpr int kPatterns = 8;
inline constexpr int kStepsPerPattern = 8;
inline constexpr int kSteps = kPatterns * kStepsPerPattern;
inline constexpr std::uint8_t kLinkEnd = 8;
inline constexpr int kMaxLoopCount = 99;
inline constexpr int kMaxStepMinutes = 900;  // 15:00
inline constexpr int kLongestHour = 15;

struct ProgramTable {
  std::uint8_t start = 0;
  std::array<std::uint8_t, kPatterns> maxStep{};
  std::array<std::uint8_t, kPatterns> loops{};
  std::array<std::uint8_t, kPatterns> link{};
  std::array<std::int16_t, kSteps> setValue{};
  std::array<std::uint16_t, kSteps> time{};
  friend bool operator==(const ProgramTable&, const ProgramTable&) = default;
};

// Step image: four bytes per step in step order, set value high, low, time high, low.
using StepImage = std::array<std::uint8_t, 4 * kSteps>;
StepImage EncodeSteps(const ProgramTable& table);
void DecodeSteps(std::span<const std::uint8_t, 4 * kSteps> image, ProgramTable& table);

// The program header lies in the controller's parameter memory: byte 231 the
// start pattern, 232..239 max steps, 240..247 loop counts, 248..255 links.
inline constexpr std::size_t kProgramHeaderOffset = 231;
ProgramTable TableFromController(std::span<const std::uint8_t, 256> parameterImage,
                                 std::span<const std::uint8_t, 4 * kSteps> steps);

// ---- Writing to the controller: registers 0x4767 + n, n = 0..152 ----
inline constexpr std::uint16_t kRampFirstRegister = 0x4767;
inline constexpr int kRampWrites = 153;
std::uint16_t RampWriteRegister(int n);
// Start pattern, max steps, loop counts, links, then set value and time of each step.
std::uint16_t RampWriteValue(const ProgramTable& table, int n);

// ---- Display texts ----
std::string SetValueText(std::int16_t tenths);  // "123.4", "-1.5"
std::string TimeText(std::uint16_t minutes);     // "01:30"
std::string LinkText(std::uint8_t link);         // "Pattern 3", "Prog End"

// ---- Storing edited values (false: the old value is kept) ----
// Loop count typed as a whole number; negative or malformed refused; above 99 gives 99.
bool StoreLoopCount(ProgramTable& table, int pattern, std::string_view text);
// Set value typed with one decimal; below -10000, above 3276.7 or malformed refused.
bool StoreSetValue(ProgramTable& table, int step, std::string_view text);
// Minutes from the hour list index and the minute field: hour 15 forces 15:00.
std::uint16_t TimeFromEditor(int hour, int minute);

// ---- "*.r$s" file: exactly 285 bytes ----
//   0 max steps, 8 loop counts, 16 links (8 bytes each), 24 step image (256),
//   280 start pattern, 281 signature 0x55 0xAA 0x12 0x34.
inline constexpr std::size_t kRampFileBytes = 285;
enum class RampLoad : std::uint8_t {
  Loaded,
  OpenFailed,  // cannot be opened or read
  BadContent,  // another length or no signature: table unchanged
};
std::array<std::uint8_t, kRampFileBytes> RampFileBytes(const ProgramTable& table);
RampLoad ApplyRampFile(std::span<const std::uint8_t> bytes, ProgramTable& table);
// On OpenFailed, or when saving fails, `reason` (when given) holds the system's reason.
RampLoad LoadRampFile(const std::filesystem::path& path, ProgramTable& table, std::string* reason = nullptr);
bool SaveRampFile(const std::filesystem::path& path, const ProgramTable& table, std::string* reason = nullptr);

}  // namespace kx
