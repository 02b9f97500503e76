#include "kxsim/firmware_gen.h"

#include <algorithm>
#include <fstream>

#include "kxsim/loader.h"

namespace kxsim {

namespace {

void AddRecord(kx::Bytes& file, std::uint16_t address, const kx::Bytes& data, std::uint16_t& sum) {
  const std::size_t start = file.size();
  file.push_back(static_cast<std::uint8_t>(data.size()));
  file.push_back(static_cast<std::uint8_t>(address >> 8));
  file.push_back(static_cast<std::uint8_t>(address & 0xFF));
  file.insert(file.end(), data.begin(), data.end());
  std::uint8_t recordSum = 0;
  for (std::size_t i = start; i < file.size(); ++i) recordSum = static_cast<std::uint8_t>(recordSum + file[i]);
  file.push_back(static_cast<std::uint8_t>(0x100 - recordSum));
  for (std::uint8_t b : data) sum = static_cast<std::uint16_t>(sum + b);
}

}  // namespace

kx::Bytes MakeFirmwareFile(const FirmwareRecipe& recipe) {
  const std::size_t records = std::max<std::size_t>(recipe.records, 1);
  const std::size_t perRecord = std::clamp<std::size_t>(recipe.dataBytes, 1, 31);
  kx::Bytes file(10, 0);
  std::uint16_t sum = 0;
  AddRecord(file, kProgramVersionAddress,
            {static_cast<std::uint8_t>(recipe.version >> 8), static_cast<std::uint8_t>(recipe.version & 0xFF)}, sum);
  std::uint32_t state = recipe.seed * 2654435761U + 1;
  auto address = recipe.startAddress;
  for (std::size_t r = 1; r < records; ++r) {
    kx::Bytes data(perRecord);
    for (auto& b : data) {
      state = state * 1664525U + 1013904223U;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    AddRecord(file, address, data, sum);
    address = static_cast<std::uint16_t>(address + perRecord);
  }
  file[0] = static_cast<std::uint8_t>(records >> 8);
  file[1] = static_cast<std::uint8_t>(records & 0xFF);
  file[2] = static_cast<std::uint8_t>(sum >> 8);
  file[3] = static_cast<std::uint8_t>(sum & 0xFF);
  file[4] = recipe.modelCode;
  file[5] = static_cast<std::uint8_t>(recipe.version >> 8);
  file[6] = static_cast<std::uint8_t>((recipe.version >> 4) & 0x0F);
  file[7] = static_cast<std::uint8_t>(recipe.version & 0x0F);
  return file;
}

bool WriteFirmwareFile(const std::string& path, const FirmwareRecipe& recipe) {
  const kx::Bytes bytes = MakeFirmwareFile(recipe);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace kxsim
