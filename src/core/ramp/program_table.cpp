#include "core/ramp/program_table.h"

#include <algorithm>

#include "core/files/whole_file.h"
#include "core/text/messages.h"
#include "core/text/text.h"

namespace kx {

namespace {

constexpr std::uint8_t kSignature[] = {0x55, 0xAA, 0x12, 0x34};
constexpr std::size_t kFileLoops = 8;
constexpr std::size_t kFileLinks = 16;
constexpr std::size_t kFileSteps = 24;
constexpr std::size_t kFileStart = 280;
constexpr std::size_t kFileSignature = 281;
// A set value below this is refused as malformed.
constexpr int kLowestSetValue = -10000;

}  // namespace

StepImage EncodeSteps(const ProgramTable& table) {
  StepImage image{};
  for (std::size_t k = 0; k < table.setValue.size(); ++k) {
    const auto sv = static_cast<std::uint16_t>(table.setValue[k]);
    const std::uint16_t t = table.time[k];
    image[4 * k] = static_cast<std::uint8_t>(sv >> 8);
    image[4 * k + 1] = static_cast<std::uint8_t>(sv & 0xFF);
    image[4 * k + 2] = static_cast<std::uint8_t>(t >> 8);
    image[4 * k + 3] = static_cast<std::uint8_t>(t & 0xFF);
  }
  return image;
}

void DecodeSteps(std::span<const std::uint8_t, 4 * kSteps> image, ProgramTable& table) {
  for (std::size_t k = 0; k < table.setValue.size(); ++k) {
    table.setValue[k] = static_cast<std::int16_t>((image[4 * k] << 8) | image[4 * k + 1]);
    table.time[k] = static_cast<std::uint16_t>((image[4 * k + 2] << 8) | image[4 * k + 3]);
  }
}

ProgramTable TableFromController(std::span<const std::uint8_t, 256> parameterImage,
                                 std::span<const std::uint8_t, 4 * kSteps> steps) {
  ProgramTable table;
  const std::uint8_t* header = parameterImage.data() + kProgramHeaderOffset;
  table.start = header[0];
  for (std::size_t p = 0; p < table.maxStep.size(); ++p) {
    table.maxStep[p] = header[1 + p];
    table.loops[p] = header[9 + p];
    table.link[p] = header[17 + p];
  }
  DecodeSteps(steps, table);
  return table;
}

std::uint16_t RampWriteRegister(int n) { return static_cast<std::uint16_t>(kRampFirstRegister + n); }

std::uint16_t RampWriteValue(const ProgramTable& table, int n) {
  if (n <= 0) return table.start;
  if (n >= kRampWrites) return 0;
  const auto i = static_cast<std::size_t>(n);
  if (i <= 8) return table.maxStep[i - 1];
  if (i <= 16) return table.loops[i - 9];
  if (i <= 24) return table.link[i - 17];
  const std::size_t k = (i - 25) / 2;
  return (i - 25) % 2 == 0 ? static_cast<std::uint16_t>(table.setValue[k]) : table.time[k];
}

std::string SetValueText(std::int16_t tenths) {
  const int v = tenths;
  const int magnitude = v < 0 ? -v : v;
  return (v < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
}

std::string TimeText(std::uint16_t minutes) {
  // Two digits each; a time no editor can give (from a file) keeps all its hours.
  std::string hours = std::to_string(minutes / 60);
  if (hours.size() < 2) hours.insert(0, 1, '0');
  return hours + ":" + DecimalDigits(minutes % 60, 2);
}

std::string LinkText(std::uint8_t link) {
  if (link >= kLinkEnd) return std::string(Text(Msg::ProgEnd));
  return std::string(Text(Msg::PatternPrefix)) + std::to_string(link);
}

bool StoreLoopCount(ProgramTable& table, int pattern, std::string_view text) {
  const int v = ParseFixed(text, 0);
  if (v == kParseError || v < 0) return false;
  table.loops[static_cast<std::size_t>(pattern)] = static_cast<std::uint8_t>(std::min(v, kMaxLoopCount));
  return true;
}

bool StoreSetValue(ProgramTable& table, int step, std::string_view text) {
  const int v = ParseFixed(text, 1);
  // The parse error value lies below the lowest value taken, so one test covers both.
  // A value beyond the 16-bit word would wrap to a negative set value: refused too.
  if (v < kLowestSetValue || v > 32767) return false;
  table.setValue[static_cast<std::size_t>(step)] = static_cast<std::int16_t>(v);
  return true;
}

std::uint16_t TimeFromEditor(int hour, int minute) {
  hour = std::clamp(hour, 0, kLongestHour);
  minute = hour == kLongestHour ? 0 : std::clamp(minute, 0, 59);
  return static_cast<std::uint16_t>(hour * 60 + minute);
}

std::array<std::uint8_t, kRampFileBytes> RampFileBytes(const ProgramTable& table) {
  std::array<std::uint8_t, kRampFileBytes> bytes{};
  std::copy(table.maxStep.begin(), table.maxStep.end(), bytes.begin());
  std::copy(table.loops.begin(), table.loops.end(), bytes.begin() + kFileLoops);
  std::copy(table.link.begin(), table.link.end(), bytes.begin() + kFileLinks);
  const StepImage steps = EncodeSteps(table);
  std::copy(steps.begin(), steps.end(), bytes.begin() + kFileSteps);
  bytes[kFileStart] = table.start;
  std::copy(std::begin(kSignature), std::end(kSignature), bytes.begin() + kFileSignature);
  return bytes;
}

RampLoad ApplyRampFile(std::span<const std::uint8_t> bytes, ProgramTable& table) {
  if (bytes.size() != kRampFileBytes ||
      !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin() + kFileSignature)) {
    return RampLoad::BadContent;
  }
  ProgramTable loaded;
  std::copy_n(bytes.begin(), kPatterns, loaded.maxStep.begin());
  std::copy_n(bytes.begin() + kFileLoops, kPatterns, loaded.loops.begin());
  std::copy_n(bytes.begin() + kFileLinks, kPatterns, loaded.link.begin());
  DecodeSteps(bytes.subspan<kFileSteps, 4 * kSteps>(), loaded);
  loaded.start = bytes[kFileStart];
  table = loaded;
  return RampLoad::Loaded;
}

RampLoad LoadRampFile(const std::filesystem::path& path, ProgramTable& table, std::string* reason) {
  const WholeFile file = ReadWholeFile(path, kRampFileBytes);
  if (file.status != FileRead::Read) {
    if (reason != nullptr) *reason = file.reason;
    return RampLoad::OpenFailed;
  }
  return ApplyRampFile(file.bytes, table);
}

bool SaveRampFile(const std::filesystem::path& path, const ProgramTable& table, std::string* reason) {
  return WriteWholeFile(path, RampFileBytes(table), reason);
}

}  // namespace kx
