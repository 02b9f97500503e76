// The parameter buffer: a controller's 256-byte parameter memory plus a
// four-byte trailer naming the model and firmware version it came from, the
// same layout in memory and in "*.par" backup files (exactly 260 bytes).
//
//   0..255  parameter image (16-bit values high byte first)
//   256     model code of the source controller (0x41 KX1, 0x42 KX2, 0x43 KX3)
//   257     firmware version, major (high byte of the version word)
//   258     firmware version, minor (low byte, two BCD digits)
//   259     check byte: (byte 256 + byte 257 + byte 258) mod 256
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/text/messages.h"

namespace kx {

inline constexpr std::size_t kParameterImageBytes = 256;
inline constexpr std::size_t kParameterBufferBytes = 260;
using ParameterBuffer = std::array<std::uint8_t, kParameterBufferBytes>;

inline constexpr std::size_t kTrailerModel = 256;
inline constexpr std::size_t kTrailerMajor = 257;
inline constexpr std::size_t kTrailerMinor = 258;
inline constexpr std::size_t kTrailerCheck = 259;

// Fills the trailer from the source controller's model code and version word.
void FillTrailer(ParameterBuffer& buffer, std::uint8_t model, std::uint16_t version);
// True when the check byte matches the three trailer bytes before it.
bool TrailerValid(const ParameterBuffer& buffer);

// "KX2 V1.05": model name, " V", major, ".", the minor byte's two nibbles.
std::string ModelVersionText(const ParameterBuffer& buffer);

// Outcome of loading a "*.par" file, in the order its checks are made.
enum class ParLoad : std::uint8_t {
  Loaded,       // buffer replaced by the file
  OpenFailed,   // file could not be opened: buffer unchanged
  ReadFailed,   // reading failed part-way: buffer unchanged
  WrongLength,  // not exactly 260 bytes: buffer unchanged
  BadCheck,     // 260 bytes but the check byte is wrong: buffer cleared to zero
};

// The checks of a loaded file applied to its bytes (as read, at most 261 kept).
ParLoad ApplyParameterFile(std::span<const std::uint8_t> bytes, ParameterBuffer& buffer);
// `reason` (when given) gets the system's reason of an OpenFailed or ReadFailed.
ParLoad LoadParameterFile(const std::filesystem::path& path, ParameterBuffer& buffer, std::string* reason = nullptr);
// Writes the 260 bytes; false when the file could not be written (a previous
// file of that name is then left as it was, and `reason`, when given, says why).
bool SaveParameterFile(const std::filesystem::path& path, const ParameterBuffer& buffer,
                       std::string* reason = nullptr);

// Message box text and caption of a load outcome (text without the model prefix).
struct MessageAndCaption {
  Msg text;
  Msg caption;
};
MessageAndCaption LoadMessage(ParLoad result);

}  // namespace kx
