#include "core/params/parameter_buffer.h"

#include <algorithm>

#include "core/device/regmap.h"
#include "core/files/whole_file.h"

namespace kx {

namespace {

std::uint8_t CheckByte(const ParameterBuffer& buffer) {
  return static_cast<std::uint8_t>(buffer[kTrailerModel] + buffer[kTrailerMajor] + buffer[kTrailerMinor]);
}

// Version digits are '0' + value for 0..9. Values a version never has show as
// a hexadecimal letter (a nibble) or in decimal (the major byte), never as the
// punctuation '0' + value would give.
std::string Nibble(unsigned value) {
  return std::string(1, static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10));
}

}  // namespace

void FillTrailer(ParameterBuffer& buffer, std::uint8_t model, std::uint16_t version) {
  buffer[kTrailerModel] = model;
  buffer[kTrailerMajor] = static_cast<std::uint8_t>(version >> 8);
  buffer[kTrailerMinor] = static_cast<std::uint8_t>(version & 0xFF);
  buffer[kTrailerCheck] = CheckByte(buffer);
}

bool TrailerValid(const ParameterBuffer& buffer) { return buffer[kTrailerCheck] == CheckByte(buffer); }

std::string ModelVersionText(const ParameterBuffer& buffer) {
  std::string text;
  switch (buffer[kTrailerModel]) {
    case kModelKx1: text = "KX1"; break;
    case kModelKx2: text = "KX2"; break;
    case kModelKx3: text = "KX3"; break;
    default: text = std::string(Text(Msg::UnknownModel)); break;
  }
  const unsigned minor = buffer[kTrailerMinor];
  text += " V" + std::to_string(buffer[kTrailerMajor]) + "." + Nibble(minor >> 4) + Nibble(minor & 0x0F);
  return text;
}

ParLoad ApplyParameterFile(std::span<const std::uint8_t> bytes, ParameterBuffer& buffer) {
  if (bytes.size() != kParameterBufferBytes) return ParLoad::WrongLength;
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  if (!TrailerValid(buffer)) {
    buffer.fill(0);
    return ParLoad::BadCheck;
  }
  return ParLoad::Loaded;
}

ParLoad LoadParameterFile(const std::filesystem::path& path, ParameterBuffer& buffer, std::string* reason) {
  const WholeFile file = ReadWholeFile(path, kParameterBufferBytes);
  if (reason != nullptr) *reason = file.reason;
  switch (file.status) {
    case FileRead::OpenFailed: return ParLoad::OpenFailed;
    case FileRead::ReadFailed: return ParLoad::ReadFailed;
    case FileRead::Read: break;
  }
  return ApplyParameterFile(file.bytes, buffer);
}

bool SaveParameterFile(const std::filesystem::path& path, const ParameterBuffer& buffer, std::string* reason) {
  return WriteWholeFile(path, buffer, reason);
}

MessageAndCaption LoadMessage(ParLoad result) {
  switch (result) {
    case ParLoad::Loaded: return {Msg::ParametersLoaded, Msg::Done};
    case ParLoad::OpenFailed: return {Msg::FileOperationError, Msg::FileErrorCaption};
    case ParLoad::ReadFailed: return {Msg::BufferReadError, Msg::BufferErrorCaption};
    case ParLoad::WrongLength:
    case ParLoad::BadCheck: return {Msg::FileLengthOrContentError, Msg::FileErrorCaption};
  }
  return {Msg::FileLengthOrContentError, Msg::FileErrorCaption};
}

}  // namespace kx
