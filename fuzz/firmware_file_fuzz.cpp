// Firmware files ("*.oc") as the update window loads them: any bytes are read
// within the file, and only an image inside the record table's limits, whose
// records each sum to 0 and whose data bytes add up to its checksum, is
// accepted; each of its records makes a write frame of the loader's size.
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
  for (const Bytes& record : image.records) {
    if (record.size() < 4 || record.size() > kMaxRecordDataBytes + 4 || record.size() != record[0] + 4u) std::abort();
    std::uint8_t recordSum = 0;
    for (std::uint8_t b : record) recordSum = static_cast<std::uint8_t>(recordSum + b);
    if (recordSum != 0) std::abort();
    for (std::size_t i = 3; i + 1 < record.size(); ++i) sum = static_cast<std::uint16_t>(sum + record[i]);
    // 01 01 n, the record without its check byte, the sum.
    if (WriteRecordFrame(record).size() != record.size() + 3) std::abort();
  }
  if (sum != image.checksum) std::abort();
  return 0;
}
