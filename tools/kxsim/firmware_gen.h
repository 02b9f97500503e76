// Test firmware files for the simulated loader: made-up program bytes in the
// firmware file layout (10-byte header, records with check bytes), never a real
// controller's program. The first record holds the version word at the address
// where the simulated controller looks for it after an update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/modbus/codec.h"

namespace kxsim {

struct FirmwareRecipe {
  std::uint8_t modelCode = 12;        // 11 KX2, 12 KX3
  std::uint16_t version = 0x0120;     // major × 256 + minor digits
  std::size_t records = 100;          // the version record included; at least 1
  std::size_t dataBytes = 31;         // per program record, 1 to 31
  std::uint16_t startAddress = 0x1000;  // program records follow each other from here
  std::uint32_t seed = 1;             // program bytes
};

// The whole file. Program records must fit below 0x10000.
kx::Bytes MakeFirmwareFile(const FirmwareRecipe& recipe);

// Writes the file; false when it cannot be written.
bool WriteFirmwareFile(const std::string& path, const FirmwareRecipe& recipe);

}  // namespace kxsim
