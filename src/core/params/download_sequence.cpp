#include "core/params/download_sequence.h"

#include <span>

#include "core/device/regmap.h"

namespace kx {

namespace {

// Where a step's value comes from.
enum class Src : std::uint8_t {
  Byte,              // byte o
  Word,              // word o
  Kx1Control,        // (byte o AND 0x0F) OR 1
  StatusBits,        // (byte o AND 0x7F) OR 1
  Bit0,              // 1 if bit 0 of byte o is set, else 0
  RangeHigh,         // word o; 9999 at most when bit 4 of byte 12 is set
  RangeLow,          // word o; -999 at least (signed) when bit 4 of byte 12 is set
  Kx2InputFlag,      // byte 14 below 13: bit 4 of byte 12 as 0/1; otherwise byte o
  Memory,            // o × 256 + byte o, written to the upload register after an unlock
};

// When a step is sent.
enum class When : std::uint8_t {
  Always,
  Kx1LockStatus,  // buffer from major version 3 into a controller at 0x0320 or later
  Kx3Outputs,     // byte 15 (control mode) is 2
};

struct Row {
  std::uint16_t reg;
  Src src;
  std::uint8_t offset;
  When when = When::Always;
};

constexpr std::uint16_t kKx2UploadRegister = 0x474C;
constexpr std::uint16_t kKx1LockMinVersion = 0x0320;

constexpr Row kKx1[] = {
    {0x470F, Src::Kx1Control, 10},
    {0x4710, Src::Byte, 12}, {0x4711, Src::Byte, 13}, {0x4712, Src::Byte, 28}, {0x4713, Src::Byte, 30},
    {0x470E, Src::Byte, 29},
    {0x4715, Src::Byte, 14}, {0x4716, Src::Byte, 15},
    {0x4701, Src::Word, 0},  {0x4702, Src::Word, 2},  {0x4703, Src::Word, 4},  {0x4704, Src::Word, 6},
    {0x4705, Src::Word, 8},  {0x4706, Src::Word, 16}, {0x4707, Src::Word, 18}, {0x4708, Src::Word, 20},
    {0x4709, Src::Word, 22}, {0x470A, Src::Word, 24}, {0x470B, Src::Word, 26},
    {0x4731, Src::Byte, 11, When::Kx1LockStatus},
    {0x471A, Src::Bit0, 10},
};

// KX2 rows before the memory writes; the memory writes and the last row follow.
constexpr Row kKx2Head[] = {
    {0x4717, Src::StatusBits, 12},
    {0x4718, Src::Byte, 14}, {0x4719, Src::Byte, 15}, {0x471A, Src::Byte, 19}, {0x471B, Src::Byte, 48},
    {0x471C, Src::Byte, 49}, {0x471D, Src::Byte, 50}, {0x471E, Src::Byte, 13}, {0x471F, Src::Byte, 51},
    {0x4720, Src::Byte, 16}, {0x4721, Src::Byte, 17}, {0x4722, Src::Byte, 18},
    {0x4701, Src::Word, 24},
    {0x4704, Src::RangeHigh, 20},
    {0x4705, Src::RangeLow, 22},
    {0x4706, Src::Word, 0},  {0x4707, Src::Word, 2},  {0x4708, Src::Word, 4},  {0x4709, Src::Word, 6},
    {0x470A, Src::Word, 8},  {0x470B, Src::Word, 10}, {0x470C, Src::Word, 26}, {0x470D, Src::Word, 28},
    {0x470E, Src::Word, 30}, {0x470F, Src::Word, 32}, {0x4710, Src::Word, 34}, {0x4711, Src::Word, 40},
    {0x4712, Src::Word, 42}, {0x4713, Src::Word, 36}, {0x4714, Src::Word, 38},
    {0x1017, Src::Kx2InputFlag, 52},
    // Extended words. Word 179 (bytes 179, 180) is taken as it stands: its low
    // byte is memory byte 180, which the memory writes below write again with
    // the same value, so the two agree.
    {0x1018, Src::Word, 100}, {0x1019, Src::Word, 104}, {0x101A, Src::Word, 106}, {0x101B, Src::Word, 108},
    {0x101C, Src::Word, 179}, {0x101D, Src::Word, 110}, {0x101E, Src::Word, 112},
};
// Memory bytes written back through the upload register, first and last offset.
constexpr std::uint8_t kKx2MemoryRanges[][2] = {{124, 143}, {180, 219}};
constexpr Row kKx2Tail[] = {{0x4726, Src::Bit0, 12}};

constexpr Row kKx3[] = {
    {0x4717, Src::StatusBits, 12},
    {0x4718, Src::Byte, 14}, {0x4719, Src::Byte, 15}, {0x471A, Src::Byte, 54}, {0x471B, Src::Byte, 48},
    {0x471C, Src::Byte, 49},
    {0x471F, Src::Byte, 55}, {0x4720, Src::Byte, 16}, {0x4721, Src::Byte, 17},
    {0x4701, Src::Word, 24},
    {0x4704, Src::Word, 20}, {0x4705, Src::Word, 22}, {0x4706, Src::Word, 0}, {0x4707, Src::Word, 2},
    {0x4708, Src::Word, 4},  {0x4709, Src::Word, 6},
    {0x470C, Src::Word, 26}, {0x470D, Src::Word, 28}, {0x470E, Src::Word, 30}, {0x470F, Src::Word, 32},
    {0x4710, Src::Word, 34}, {0x4711, Src::Word, 40}, {0x4712, Src::Word, 42}, {0x4713, Src::Word, 36},
    {0x4714, Src::Word, 38},
    {0x4702, Src::Word, 100, When::Kx3Outputs}, {0x4703, Src::Word, 102, When::Kx3Outputs},
};

class Builder {
 public:
  Builder(const ParameterBuffer& buffer, std::uint16_t version) : b_(buffer), version_(version) {}

  void Add(std::span<const Row> rows) {
    for (const Row& row : rows) steps_.push_back({row.reg, Value(row), row.src == Src::Memory, Skipped(row.when)});
  }
  void AddMemory(std::uint8_t first, std::uint8_t last) {
    for (unsigned o = first; o <= last; ++o) {
      const Row row{kKx2UploadRegister, Src::Memory, static_cast<std::uint8_t>(o)};
      Add(std::span<const Row>(&row, 1));
    }
  }
  std::vector<WriteStep> Take() { return std::move(steps_); }

 private:
  std::uint16_t Byte(unsigned o) const { return b_[o]; }
  std::uint16_t Word(unsigned o) const { return static_cast<std::uint16_t>((b_[o] << 8) | b_[o + 1]); }
  bool Bit4Of12() const { return (b_[12] & 0x10) != 0; }

  std::uint16_t Value(const Row& row) const {
    const unsigned o = row.offset;
    switch (row.src) {
      case Src::Byte: return Byte(o);
      case Src::Word: return Word(o);
      case Src::Kx1Control: return static_cast<std::uint16_t>((b_[o] & 0x0F) | 1);
      case Src::StatusBits: return static_cast<std::uint16_t>((b_[o] & 0x7F) | 1);
      case Src::Bit0: return (b_[o] & 0x01) != 0 ? 1 : 0;
      case Src::RangeHigh: return Bit4Of12() && Word(o) > 9999 ? 9999 : Word(o);
      case Src::RangeLow:
        return Bit4Of12() && static_cast<std::int16_t>(Word(o)) < -999 ? 0xFC19 : Word(o);
      case Src::Kx2InputFlag: return b_[14] < 13 ? (Bit4Of12() ? 1 : 0) : Byte(o);
      case Src::Memory: return static_cast<std::uint16_t>((o << 8) | b_[o]);
    }
    return 0;
  }

  bool Skipped(When when) const {
    switch (when) {
      case When::Always: return false;
      case When::Kx1LockStatus: return !(b_[kTrailerMajor] == 3 && version_ >= kKx1LockMinVersion);
      case When::Kx3Outputs: return b_[15] != 2;
    }
    return false;
  }

  const ParameterBuffer& b_;
  std::uint16_t version_;
  std::vector<WriteStep> steps_;
};

}  // namespace

std::vector<WriteStep> DownloadSequence(std::uint8_t model, const ParameterBuffer& buffer,
                                           std::uint16_t controllerVersion) {
  Builder builder(buffer, controllerVersion);
  switch (model) {
    case kModelKx1:
      builder.Add(kKx1);
      break;
    case kModelKx2:
      builder.Add(kKx2Head);
      for (const auto& range : kKx2MemoryRanges) builder.AddMemory(range[0], range[1]);
      builder.Add(kKx2Tail);
      break;
    case kModelKx3:
      builder.Add(kKx3);
      break;
    default:
      break;
  }
  return builder.Take();
}

std::string PartWayText(const WriteSequence& download) {
  std::size_t writes = 0;
  std::size_t through = 0;
  for (std::size_t i = 0; i < download.steps().size(); ++i) {
    if (download.steps()[i].skip) continue;
    ++writes;
    if (i < download.stepsDone()) ++through;
  }
  const std::string who = download.broadcast() ? "Every controller on the line now holds" : "The controller now holds";
  if (through == 0) return "None of the " + std::to_string(writes) + " writes went through.";
  return who + " a mix of old and new parameters: " + std::to_string(through) + " of " + std::to_string(writes) +
         " writes went through.";
}

}  // namespace kx
