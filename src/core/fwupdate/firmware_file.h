// Firmware files ("*.oc"): a 10-byte header followed by records, each one block
// of program bytes with its load address and a check byte. Loading checks that
// every announced record lies within the file, each record's check byte, the
// model code and a 16-bit checksum over all program bytes; only a file that
// passes every check yields an image to flash.
//
// Header (big-endian): record count (2), program checksum (2), model code (1:
// 11 KX2, 12 KX3), major version (1), minor version digits (1 + 1), 2 unused.
// Record: N, address high, address low, N data bytes, check byte; the N + 4
// bytes sum to 0 modulo 256.
//
// Layout: the update erases the controller before it writes a record, so a
// file that could not make a whole program is refused before anything is
// sent: a record that runs past address 0xFFFF, two records that write the
// same byte, a record that writes only one byte of the program's version word
// (0x0100, 0x0101) or other bytes than the header's version there, and a file
// whose records hold no data bytes at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/modbus/codec.h"

namespace kx {

enum class FirmwareModel : std::uint8_t { Kx2, Kx3 };

inline constexpr std::size_t kFirmwareHeaderSize = 10;
inline constexpr std::uint8_t kFirmwareModelKx2 = 11;
inline constexpr std::uint8_t kFirmwareModelKx3 = 12;
// Limits of the record table the update works from: at most this many records,
// each with at most 31 data bytes (35 bytes with count, address and check).
inline constexpr std::size_t kMaxFirmwareRecords = 5119;
inline constexpr std::size_t kMaxRecordDataBytes = 31;
// Where the program keeps its version word (major, then the minor digits as one
// byte); the controller reports what a verified program holds there.
inline constexpr std::uint16_t kProgramVersionAddress = 0x0100;

struct FirmwareImage {
  FirmwareModel model = FirmwareModel::Kx2;
  std::uint16_t checksum = 0;  // sum of all data bytes, modulo 65536
  std::uint8_t major = 0;
  std::uint8_t minorHigh = 0;  // first minor digit, 0..15
  std::uint8_t minorLow = 0;   // second minor digit, 0..15
  // One row per record: count byte, address high, address low, the data bytes
  // and the check byte.
  std::vector<Bytes> records;

  // Version word as the controller reports it: major × 256 + minor digits as one byte.
  std::uint16_t VersionWord() const {
    return static_cast<std::uint16_t>(major << 8 | (minorHigh & 0x0F) << 4 | (minorLow & 0x0F));
  }
};

enum class FirmwareCheck {
  Ok,
  FileError,          // cannot be opened or sized, or shorter than its header
  BufferError,        // cannot be read into memory
  ContentError,       // unknown model, bad record, record count or length out of range, bad layout
  ChecksumIncorrect,  // records good, program checksum differs from the header's
};

// What loading a file shows: `ModelN`, `FWVER`, whether the address box is
// shown, and (only for a good file) `ChecksumN` and the image.
struct FirmwareLoad {
  FirmwareCheck result = FirmwareCheck::FileError;
  bool headerRead = false;    // false: nothing below is set
  std::string modelText;      // "KX2", "KX3" or "UnKnow"
  bool kx3 = false;           // the address box is shown
  std::string versionText;    // "V1.05"
  std::string checksumText;   // "1F 3C"; only for a good file
  std::optional<FirmwareImage> image;  // only for a good file
  // FileError, BufferError: the system's reason when there is one ("No such
  // file or directory", "Is a directory", "not a regular file", ...).
  std::string reason;
};

// Checks a whole file held in memory.
FirmwareLoad CheckFirmware(std::span<const std::uint8_t> file);

// Reads and checks the file at `path`.
FirmwareLoad LoadFirmwareFile(const std::string& path);

// "V" + major in decimal + "." + the two minor digits as one hexadecimal pair.
std::string FirmwareVersionText(std::uint8_t major, std::uint8_t minorHigh, std::uint8_t minorLow);

}  // namespace kx
