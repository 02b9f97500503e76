#include "kxsim/loader.h"

namespace kxsim {

namespace {

constexpr std::uint8_t kStart = 0x01;
constexpr std::uint8_t kWrite = 0x01;
constexpr std::uint8_t kErase = 0x03;
constexpr std::uint8_t kOptions = 0x05;
constexpr std::uint8_t kVerify = 0x06;
constexpr std::uint8_t kCommand7 = 0x07;

constexpr std::uint8_t kStatusOk = 0x00;
constexpr std::uint8_t kStatusNotErased = 0x10;
constexpr std::uint8_t kStatusMalformed = 0x20;
constexpr std::uint8_t kStatusVerifyFail = 0xFF;

// Noise in front of an answer: no 0x01 among it.
constexpr std::uint8_t kNoise[] = {0x00, 0xFF, 0x13, 0x80};

struct FaultName {
  LoaderFault fault;
  std::string_view name;
};
constexpr FaultName kFaultNames[] = {
    {LoaderFault::None, "none"},           {LoaderFault::EraseSilent, "erase-silent"},
    {LoaderFault::BadSum, "badsum"},       {LoaderFault::WriteFail, "write-fail"},
    {LoaderFault::VerifyFail, "verify-fail"}, {LoaderFault::Noise, "noise"},
    {LoaderFault::OptionsWrong, "options-wrong"}, {LoaderFault::EraseFail, "erase-fail"},
    {LoaderFault::Command7Silent, "command7-silent"}, {LoaderFault::WriteSilent, "write-silent"},
};

}  // namespace

std::optional<LoaderFault> ParseLoaderFault(std::string_view name) {
  for (const auto& e : kFaultNames)
    if (e.name == name) return e.fault;
  return std::nullopt;
}

std::string_view LoaderFaultName(LoaderFault fault) {
  for (const auto& e : kFaultNames)
    if (e.fault == fault) return e.name;
  return "?";
}

std::uint8_t LoaderSum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

std::vector<kx::Bytes> LoaderFramer::Feed(std::span<const std::uint8_t> bytes) {
  std::vector<kx::Bytes> frames;
  for (std::uint8_t b : bytes) {
    if (frame_.empty() && b != kStart) continue;
    frame_.push_back(b);
    if (frame_.size() >= 3 && frame_.size() == frame_[2] + std::size_t{4}) {
      frames.push_back(std::move(frame_));
      frame_.clear();
    }
  }
  return frames;
}

Loader::Loader(LoaderFault fault) : fault_(fault) { flash_.fill(0xFF); }

kx::Bytes Loader::Answer(std::uint8_t command, std::initializer_list<std::uint8_t> data) const {
  kx::Bytes out{kStart, command, static_cast<std::uint8_t>(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(LoaderSum(out));
  if (fault_ == LoaderFault::BadSum) out.back() = static_cast<std::uint8_t>(out.back() + 0x5A);
  if (fault_ == LoaderFault::Noise) out.insert(out.begin(), std::begin(kNoise), std::end(kNoise));
  return out;
}

std::optional<Loader::Reply> Loader::Handle(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != kStart || frame.size() != frame[2] + std::size_t{4}) return std::nullopt;
  if (LoaderSum(frame.first(frame.size() - 1)) != frame.back()) return std::nullopt;
  const std::span<const std::uint8_t> data = frame.subspan(3, frame[2]);
  switch (frame[1]) {
    case kOptions:
      if (fault_ == LoaderFault::OptionsWrong) return Reply{Answer(kOptions, {0xE5, 0xC6})};
      return Reply{Answer(kOptions, {0xE5, 0xC7})};
    case kErase:
      if (fault_ == LoaderFault::EraseSilent) return std::nullopt;
      if (fault_ == LoaderFault::EraseFail) return Reply{Answer(kErase, {kStatusNotErased}), kEraseTime};
      flash_.fill(0xFF);
      written_.fill(false);
      erased_ = true;
      verified_ = false;
      return Reply{Answer(kErase, {kStatusOk}), kEraseTime};
    case kCommand7:
      if (fault_ == LoaderFault::Command7Silent) return std::nullopt;
      return Reply{Answer(kCommand7, {0x00, 0x00})};
    case kWrite: {
      ++writes_;
      if (fault_ == LoaderFault::WriteSilent) return std::nullopt;
      if (fault_ == LoaderFault::WriteFail) return Reply{Answer(kWrite, {kStatusNotErased})};
      if (data.size() < 3 || data[0] + std::size_t{3} != data.size()) return Reply{Answer(kWrite, {kStatusMalformed})};
      if (!erased_) return Reply{Answer(kWrite, {kStatusNotErased})};
      auto address = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
      for (std::size_t i = 3; i < data.size(); ++i, ++address) {
        flash_[address] = data[i];
        written_[address] = true;
      }
      return Reply{Answer(kWrite, {kStatusOk})};
    }
    case kVerify: {
      if (data.size() != 2) return std::nullopt;
      const auto expected = static_cast<std::uint16_t>(data[1] << 8 | data[0]);
      verified_ = fault_ != LoaderFault::VerifyFail && erased_ && StoredChecksum() == expected;
      return Reply{Answer(kVerify, {verified_ ? kStatusOk : kStatusVerifyFail})};
    }
    default:
      return std::nullopt;
  }
}

std::uint16_t Loader::StoredChecksum() const {
  std::uint16_t sum = 0;
  for (std::size_t a = 0; a < flash_.size(); ++a)
    if (written_[a]) sum = static_cast<std::uint16_t>(sum + flash_[a]);
  return sum;
}

std::optional<std::uint16_t> Loader::ProgramVersion() const {
  if (!written_[kProgramVersionAddress] || !written_[kProgramVersionAddress + 1]) return std::nullopt;
  return static_cast<std::uint16_t>(flash_[kProgramVersionAddress] << 8 | flash_[kProgramVersionAddress + 1]);
}

}  // namespace kxsim
