#include "core/fwupdate/firmware_file.h"

#include <algorithm>


#include "core/files/whole_file.h"
#include "core/text/messages.h"

namespace kx {

namespace {

// A record takes at most 35 bytes, and bytes after the last record are
// ignored: no file needs more than this many bytes read.
constexpr std::size_t kMaxUsefulFileSize = kFirmwareHeaderSize + kMaxFirmwareRecords * (kMaxRecordDataBytes + 4);

std::uint16_t Word(std::uint8_t high, std::uint8_t low) { return static_cast<std::uint16_t>(high << 8 | low); }

// The layout rules (see the header) over records that passed their own checks.
bool LayoutSound(const FirmwareImage& image) {
  struct Span {
    std::uint32_t first;
    std::uint32_t end;  // one past the last byte
  };
  std::vector<Span> spans;
  spans.reserve(image.records.size());
  std::size_t dataBytes = 0;
  const std::uint32_t version = kProgramVersionAddress;
  const Bytes versionBytes{image.major, static_cast<std::uint8_t>(image.VersionWord() & 0xFF)};
  for (const Bytes& record : image.records) {
    const std::size_t n = record[0];
    const std::uint32_t first = Word(record[1], record[2]);
    const std::uint32_t end = first + static_cast<std::uint32_t>(n);
    if (end > 0x10000) return false;
    if (n == 0) continue;
    dataBytes += n;
    spans.push_back({first, end});
    for (std::uint32_t a = version; a < version + 2; ++a) {
      if (a < first || a >= end) continue;
      // Both bytes of the version word, and the header's.
      if (first > version || end < version + 2) return false;
      if (record[3 + (a - first)] != versionBytes[a - version]) return false;
    }
  }
  if (dataBytes == 0) return false;
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < spans.size(); ++i)
    if (spans[i].first < spans[i - 1].end) return false;
  return true;
}

}  // namespace

std::string FirmwareVersionText(std::uint8_t major, std::uint8_t minorHigh, std::uint8_t minorLow) {
  return "V" + std::to_string(major) + "." + HexByte((minorHigh & 0x0F) << 4 | (minorLow & 0x0F));
}

FirmwareLoad CheckFirmware(std::span<const std::uint8_t> file) {
  FirmwareLoad load;
  if (file.size() < kFirmwareHeaderSize) return load;  // FileError
  load.headerRead = true;

  FirmwareImage image;
  const std::size_t count = Word(file[0], file[1]);
  image.checksum = Word(file[2], file[3]);
  image.major = file[5];
  image.minorHigh = file[6];
  image.minorLow = file[7];
  load.versionText = FirmwareVersionText(image.major, image.minorHigh, image.minorLow);

  bool valid = true;
  switch (file[4]) {
    case kFirmwareModelKx2:
      image.model = FirmwareModel::Kx2;
      load.modelText = "KX2";
      break;
    case kFirmwareModelKx3:
      image.model = FirmwareModel::Kx3;
      load.modelText = "KX3";
      load.kx3 = true;
      break;
    default:
      load.modelText = std::string(Text(Msg::UnknownModel));
      valid = false;
      break;
  }
  // No records, or more than the update can hold: nothing sensible to flash.
  if (count == 0 || count > kMaxFirmwareRecords) valid = false;

  std::uint16_t sum = 0;
  std::size_t at = kFirmwareHeaderSize;
  if (valid) image.records.reserve(count);
  for (std::size_t r = 0; valid && r < count; ++r) {
    if (at >= file.size() || file[at] > kMaxRecordDataBytes) {
      valid = false;
      break;
    }
    const std::size_t size = file[at] + std::size_t{4};
    if (size > file.size() - at) {
      valid = false;
      break;
    }
    const std::span<const std::uint8_t> record = file.subspan(at, size);
    std::uint8_t recordSum = 0;
    for (std::uint8_t b : record) recordSum = static_cast<std::uint8_t>(recordSum + b);
    if (recordSum != 0) {
      valid = false;
      break;
    }
    for (std::size_t i = 3; i + 1 < size; ++i) sum = static_cast<std::uint16_t>(sum + record[i]);
    image.records.emplace_back(record.begin(), record.end());
    at += size;
  }

  if (valid) valid = LayoutSound(image);
  if (!valid) {
    load.result = FirmwareCheck::ContentError;
    return load;
  }
  if (sum != image.checksum) {
    load.result = FirmwareCheck::ChecksumIncorrect;
    return load;
  }
  load.result = FirmwareCheck::Ok;
  load.checksumText = HexByte(file[2]) + " " + HexByte(file[3]);
  load.image = std::move(image);
  return load;
}

FirmwareLoad LoadFirmwareFile(const std::string& path) {
  // Only a regular file (or a link to one): a folder, a FIFO or a device could
  // not be sized, or would block the window while it is read.
  WholeFile file = ReadWholeFile(path, kMaxUsefulFileSize);
  FirmwareLoad load;
  switch (file.status) {
    case FileRead::OpenFailed:
      load.reason = std::move(file.reason);
      return load;
    case FileRead::ReadFailed:
      load.result = FirmwareCheck::BufferError;
      load.reason = std::move(file.reason);
      return load;
    case FileRead::Read:
      break;
  }
  if (file.bytes.size() < kFirmwareHeaderSize) return load;
  // Bytes past the largest table are never looked at.
  if (file.bytes.size() > kMaxUsefulFileSize) file.bytes.resize(kMaxUsefulFileSize);
  return CheckFirmware(file.bytes);
}

}  // namespace kx
