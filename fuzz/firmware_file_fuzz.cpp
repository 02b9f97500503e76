// Firmware files ("*.oc") as the update window loads them: any bytes are read
// within the file, and only an image inside the record table's limits, whose
// records each sum to 0 and whose data bytes add up to its checksum, is
// accepted; each of its records makes a write frame of the loader's size. An
// accepted image also makes a whole program: every record ends by 0xFFFF, no
// byte is written twice, the version word is written whole with the header's
// version or not at all, and there is at least one data byte.
#include <array>
#include <cstdlib>

#include "core/fwupdate/firmware_file.h"
#include "core/fwupdate/loader_protocol.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes file(data, data + size);  // an exact-size copy: any read past it is caught
  const FirmwareLoad load = CheckFirmware(file);
  if (load.result == FirmwareCheck::Ok) {
    if (!load.image || load.checksumText.size() != 5) std::abort();
  } else if (load.image || !load.checksumText.empty()) {
    std::abort();
  }
  if (!load.image) return 0;
  const FirmwareImage& image = *load.image;
  if (image.records.empty() || image.records.size() > kMaxFirmwareRecords) std::abort();
  std::uint16_t sum = 0;
  std::array<bool, 0x10000> written{};
  std::size_t dataBytes = 0;
  for (const Bytes& record : image.records) {
    if (record.size() < 4 || record.size() > kMaxRecordDataBytes + 4 || record.size() != record[0] + 4u) std::abort();
    std::uint8_t recordSum = 0;
    for (std::uint8_t b : record) recordSum = static_cast<std::uint8_t>(recordSum + b);
    if (recordSum != 0) std::abort();
    for (std::size_t i = 3; i + 1 < record.size(); ++i) sum = static_cast<std::uint16_t>(sum + record[i]);
    const std::size_t first = static_cast<std::size_t>(record[1] << 8 | record[2]);
    if (first + record[0] > written.size()) std::abort();
    for (std::size_t i = 0; i < record[0]; ++i) {
      if (written[first + i]) std::abort();
      written[first + i] = true;
      const std::size_t address = first + i;
      if (address == kProgramVersionAddress && record[3 + i] != image.major) std::abort();
      if (address == kProgramVersionAddress + 1u && record[3 + i] != (image.VersionWord() & 0xFF)) std::abort();
    }
    const auto covers = [&](std::size_t address) { return address >= first && address < first + record[0]; };
    if (covers(kProgramVersionAddress) != covers(kProgramVersionAddress + 1u)) std::abort();
    dataBytes += record[0];
    // 01 01 n, the record without its check byte, the sum.
    if (WriteRecordFrame(record).size() != record.size() + 3) std::abort();
  }
  if (sum != image.checksum) std::abort();
  if (dataBytes == 0 || written[kProgramVersionAddress] != written[kProgramVersionAddress + 1]) std::abort();
  return 0;
}
