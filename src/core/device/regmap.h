// Data dictionary of the KX1, KX2 and KX3 controllers: how a model is recognised,
// which register block each request type of the monitor engine reads, what the
// words of the status polls mean, how register values are scaled and shown, and
// the bit layouts of the status byte and the KX3 security word.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kx {

// Model code kept per monitored controller.
inline constexpr std::uint8_t kModelKx1 = 0x41;
inline constexpr std::uint8_t kModelKx2 = 0x42;
inline constexpr std::uint8_t kModelKx3 = 0x43;
inline constexpr std::uint8_t kModelUnknown = 0xFF;

// Function codes the monitor sends or recognises in answers.
inline constexpr std::uint8_t kFnRead = 0x03;
inline constexpr std::uint8_t kFnWrite = 0x06;
inline constexpr std::uint8_t kFnIdentify = 0x67;
inline constexpr std::uint8_t kFnKx1Identify = 0x77;     // KX1's answer to the identification
inline constexpr std::uint8_t kFnIdentifyError = 0xE7;   // also marks a KX1
inline constexpr std::uint8_t kFnReadError = 0x83;
inline constexpr std::uint8_t kFnWriteError = 0x86;
inline constexpr std::uint8_t kFnWriteErrorAlt = 0xE8;

// Request types of the monitor engine.
namespace reqtype {
inline constexpr int kIdentify = 0;
inline constexpr int kModelDetail = 1;
inline constexpr int kStatus2 = 2;
inline constexpr int kPvSv = 3;  // PV, SV and outputs
inline constexpr int kStatus4 = 4;
inline constexpr int kPvSv5 = 5;  // same block as 3
inline constexpr int kStatus6 = 6;
inline constexpr int kSecurity = 7;
inline constexpr int kProgram = 8;  // only for devices whose program runs
inline constexpr int kEndOfCycle = 9;
inline constexpr int kPageFirst = 10;
inline constexpr int kPageLast = 14;
inline constexpr int kFactoryFirst = 20;
inline constexpr int kFactoryLast = 21;
}  // namespace reqtype

// Registers with a fixed role.
inline constexpr std::uint16_t kUnlockValue = 0x4F1D;  // unlock, restore default, clear adjustment
inline constexpr std::uint16_t kRampUploadRegister = 0x474D;
inline constexpr std::uint16_t kRampTableFirst = 0x4767;
inline constexpr std::uint16_t kKx3LevelKeyFirst = 0x106B;    // levels 1..3: 0x106B..0x106D
inline constexpr std::uint16_t kKx3KeyChangeFirst = 0x106E;   // levels 1..3: 0x106E..0x1070
std::uint16_t UnlockRegister(std::uint8_t model);  // 0x471B on KX1, 0x472A otherwise
std::uint16_t UploadRegister(std::uint8_t model);  // 0x472F on KX1, 0x474C otherwise

// Registers the controller accepts a write to only right after the unlock write
// (calibration values, output types, PV offset, the restore-default and
// clear-adjustment registers, and the memory register of KX2/KX3).
bool FactoryProtected(std::uint8_t model, std::uint16_t reg);

// "KX1", "KX2", "KX3", or an empty text for other codes.
std::string_view ModelName(std::uint8_t model);

// One block read by a request.
struct RegBlock {
  std::uint16_t start = 0;
  std::uint16_t count = 0;
  std::uint8_t function = kFnRead;
  friend constexpr bool operator==(const RegBlock&, const RegBlock&) = default;
};

// A KX3 is polled in full when its security mode is 4 or more.
constexpr bool Kx3FullPoll(std::uint8_t securityMode) { return securityMode >= 4; }

// Block read by request type `type` on a controller of `model`; for a KX3 the
// security mode picks the full or the restricted column. nullopt where the map
// has no block (model 0xFF at types 1 to 7; KX1 type 21; a KX3 with security
// mode below 4 at the parameter and factory pages).
std::optional<RegBlock> RequestBlock(int type, std::uint8_t model, std::uint8_t kx3SecurityMode);

// Model code from an identification answer: function 0x77 or 0xE7 gives KX1
// whatever the words; otherwise the first word must be 2 and the low byte of the
// second is the model index 0..2. Anything else (too few words, an unknown
// index) gives kModelUnknown.
std::uint8_t IdentifyModel(std::uint8_t function, std::span<const std::uint16_t> words);

// ---- Values and their display ----

// Decimal-point codes: 0 whole, 1 tenths, 2 hundredths, 3 thousandths,
// 255 tenths shown rounded to whole units.
inline constexpr int kDpRounded = 255;
// KX1: 1 for the input types 1, 3, 5, 11, 12, 14, 15, else 255.
int Kx1DecimalPoint(std::uint16_t inputType);
// KX2 (and the KX3 page-10 rule): the code, or 255 when it is 0 with a
// temperature unit (unit below 2).
int Kx2DecimalPoint(std::uint16_t unit, std::uint16_t pointCode);

// The parameter registers 0x4700..0x47FF of one controller as last read (or
// queued for writing).
inline constexpr std::uint16_t kParameterFirst = 0x4700;
using ParameterWords = std::array<std::uint16_t, 0x100>;
constexpr bool IsParameterRegister(std::uint32_t reg) { return reg >= kParameterFirst && reg < kParameterFirst + 0x100U; }
// Stores the words of `block` (those inside 0x4700..0x47FF) into `page`.
void StoreParameterWords(ParameterWords& page, RegBlock block, std::span<const std::uint16_t> words);

// The decimal-point code of a controller of `model` whose code is `current`,
// after the registers of `changed` were read into `page` or queued for writing
// there: KX1 by its input type (0x4710), KX2 by its unit and code (0x4724,
// 0x4725); a KX3 keeps the code chosen for it, whole units becoming rounded
// tenths with a temperature unit (0x4724 below 2). `current` when `changed`
// holds none of these registers.
int DecimalPointAfter(std::uint8_t model, int current, RegBlock changed, const ParameterWords& page);
// A write of `reg` sets the decimal point of a controller of `model` at
// once: KX1 0x4710, KX2 0x4724 and 0x4725 (a KX3's code is chosen apart).
bool SetsDecimalPoint(std::uint8_t model, std::uint16_t reg);

// A register value shown with a decimal-point code. A value above 0x7FFF (a
// 16-bit word) or below 0 is negative and gets "- " before its magnitude.
// Unknown codes give an empty text.
std::string ValueText(std::int32_t value, int code);

// ---- Status byte ----

// Native layout (KX2, KX3) bit numbers.
namespace statusbit {
inline constexpr int kAlarm3 = 0;
inline constexpr int kAlarm2 = 1;
inline constexpr int kUnitC = 2;
inline constexpr int kUnitF = 3;
inline constexpr int kAlarm1 = 4;
inline constexpr int kOut2 = 5;
inline constexpr int kOut1 = 6;
inline constexpr int kAutoTuning = 7;
}  // namespace statusbit

// KX1 status byte rearranged into the native layout (KX1 bit 1 is dropped).
std::uint8_t Kx1StatusToNative(std::uint8_t kx1);
constexpr bool StatusBit(std::uint8_t native, int bit) { return ((native >> bit) & 1) != 0; }
// "C", "F" or "EU" from a native status byte.
std::string_view UnitText(std::uint8_t native);

// ---- PV status ----

// The PV status of a device: on KX2/KX3 the PV word itself when its high byte
// is 0x80, else 0; on KX1 the PV status code register (0x472B).
std::uint16_t PvStatus(std::uint8_t model, std::uint16_t pv, std::uint16_t kx1StatusCode);
// Text shown instead of the PV for a non-zero status (by its low four bits);
// empty for codes 0 and 8..15.
std::string_view PvStatusText(std::uint16_t status);

// ---- KX3 security word (register 0x4751) ----

struct Kx3Security {
  std::uint8_t keyBits = 0;  // bits 0..2: a key is set for level 1..3
  std::uint8_t mode = 0;     // 1 all locked, 2 PV/SV only, 4 read all + SV/AT, 8 unlocked
};
constexpr Kx3Security DecodeKx3Security(std::uint16_t word) {
  return {static_cast<std::uint8_t>(word & 0x7U), static_cast<std::uint8_t>((word >> 3) & 0xFU)};
}
constexpr bool Kx3Editable(std::uint8_t mode) { return mode == 8; }
constexpr bool Kx3UploadAllowed(std::uint8_t mode) { return (mode & 0xCU) != 0; }
// Item of the `SLevel` radio group: 3 "All Lock", 2 "PV,SV", 1 "Read All, SV,AT", 0 "Unlock All".
int Kx3SecurityLevelItem(std::uint8_t mode);
// Lock status shown in `LockStatus`: 1, 2 or 0.
int Kx3LockStatusItem(std::uint8_t mode);

// ---- Texts ----

// "F/W Version " + major in decimal + "." + minor as two hexadecimal digits.
std::string FirmwareVersionText(std::uint16_t word);

// Program display registers 0x4762..0x4766.
struct ProgramDisplay {
  std::uint16_t mode = 0;     // 0 pattern-step, 1 SV, 2 time left
  std::uint16_t seconds = 0;  // 0x4763
  std::uint16_t minutes = 0;  // 0x4764
  std::uint16_t step = 0;
  std::uint16_t pattern = 0;
};
// Text of the program display; for mode 1 `setValue` (already chosen between the
// device's SV and the running pattern's SV) shown with `dp`. Other modes: empty.
std::string ProgramDisplayText(const ProgramDisplay& p, std::uint16_t setValue, int dp);

// ---- Device record and the decodes of the status polls ----

// Values the status polls and the model-detail request deliver for one device.
struct DeviceRecord {
  std::uint16_t pv = 0;
  std::uint16_t sv = 0;
  std::uint16_t out1 = 0;  // tenths of a percent (KX1: whole percent x 10)
  std::uint16_t out2 = 0;
  std::uint8_t statusByte = 0;  // native layout
  std::uint16_t statusFlags = 0;
  std::uint16_t pvStatusCode = 0;  // KX1 register 0x472B
  std::uint16_t heatCool = 0;
  std::uint16_t comWrite = 0xFF;   // 0xFF until read
  std::uint16_t runStop = 0;
  std::uint16_t autoTuning = 0;
  std::uint16_t firmwareVersion = 0;
  std::uint16_t programRunning = 0;
  std::uint16_t patternSv = 0;
  std::uint16_t coldJunction = 0;  // tenths
  std::uint16_t voltage = 0;
  std::uint16_t securityWord = 0;  // KX3
  Kx3Security security;            // KX3, from securityWord
  std::uint16_t out1Function = 0;  // KX3: 0 heat, 1 cool, 2 alarm, 3 retransmission
  std::uint16_t out2Function = 0;  // KX3
  ProgramDisplay program;
};

// What a decode asks of the engine besides filling the record.
struct PollEffects {
  bool statusByteRead = false;   // the record's status byte was refreshed
  bool refresh = false;          // the selected device asks for its parameter pages again
  bool decimalPointSet = false;  // (type 1) `decimalPoint` holds a new code
  int decimalPoint = 0;
  bool securityRead = false;     // (types 1, 7 of a KX3) the security word was refreshed
};

// Decodes the words of a status-poll or model-detail answer (request types 1 to
// 8) into the record. `selected` tells whether the device is the selected one
// (some changes then set the refresh request). Missing words are not read.
PollEffects DecodePoll(int type, std::uint8_t model, std::span<const std::uint16_t> words,
                       bool selected, DeviceRecord& rec);

}  // namespace kx
