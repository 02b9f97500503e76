#include "core/fwupdate/loader_protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kx {

namespace {

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

std::string HexText(unsigned value, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "%0*X", digits, value & 0xFFFFU);
  return text;
}

std::string CommandName(std::uint8_t command) {
  switch (command) {
    case kLoaderWrite:
      return "write record";
    case kLoaderErase:
      return "erase";
    case kLoaderReadOptions:
      return "read options";
    case kLoaderVerify:
      return "verify";
    case kLoaderCommand7:
      return "command 7";
    default:
      return "command " + HexText(command, 2);
  }
}

}  // namespace

Bytes LoaderFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
  const std::size_t n = std::min<std::size_t>(data.size(), 255);
  Bytes frame;
  frame.reserve(n + 4);
  frame.push_back(kLoaderStart);
  frame.push_back(command);
  frame.push_back(static_cast<std::uint8_t>(n));
  for (std::size_t i = 0; i < n; ++i) frame.push_back(data[i]);
  frame.push_back(Sum(frame));
  return frame;
}

Bytes OptionReadFrame() { return LoaderFrame(kLoaderReadOptions, {}); }

Bytes EraseFrame() {
  constexpr std::array<std::uint8_t, 1> kSectors{0x01};
  return LoaderFrame(kLoaderErase, kSectors);
}

Bytes Command7Frame() { return LoaderFrame(kLoaderCommand7, {}); }

Bytes WriteRecordFrame(std::span<const std::uint8_t> record) {
  if (record.empty()) return LoaderFrame(kLoaderWrite, {});
  const std::size_t n = std::min<std::size_t>(record[0] + std::size_t{3}, record.size());
  return LoaderFrame(kLoaderWrite, record.first(n));
}

Bytes VerifyFrame(std::uint16_t checksum) {
  const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(checksum & 0xFF),
                                         static_cast<std::uint8_t>(checksum >> 8)};
  return LoaderFrame(kLoaderVerify, data);
}

std::size_t LoaderAnswerLength(std::span<const std::uint8_t> stored) {
  if (stored.size() >= 2 && (stored[1] == kLoaderReadOptions || stored[1] == kLoaderCommand7)) return 6;
  return 5;
}

bool LoaderSumOk(std::span<const std::uint8_t> answer) {
  return !answer.empty() && Sum(answer.first(answer.size() - 1)) == answer.back();
}

LoaderAnswer ParseLoaderAnswer(std::span<const std::uint8_t> answer) {
  LoaderAnswer parsed;
  parsed.sumOk = LoaderSumOk(answer);
  if (answer.size() > 1) parsed.command = answer[1];
  if (answer.size() > 3) parsed.status = answer[3];
  if (answer.size() >= 6) parsed.options = std::array<std::uint8_t, 2>{answer[3], answer[4]};
  return parsed;
}

LoaderAnswer ParseLoaderAnswer(const Answer& answer) { return ParseLoaderAnswer(answer.raw); }

std::string LoaderRequestNote(std::span<const std::uint8_t> frame) {
  if (frame.size() < 3 || frame[0] != kLoaderStart) return "not a loader frame";
  const std::uint8_t command = frame[1];
  const std::string name = CommandName(command);
  // Data from byte 3: a record's count byte and address; the verified checksum, low byte first.
  if (command == kLoaderWrite && frame.size() >= 7)
    return name + " at " + HexText(static_cast<unsigned>(frame[4] << 8 | frame[5]), 4);
  if (command == kLoaderVerify && frame.size() >= 6)
    return name + " checksum " + HexText(static_cast<unsigned>(frame[4] << 8 | frame[3]), 4);
  return name;
}

std::string LoaderAnswerNote(std::span<const std::uint8_t> answer) {
  const LoaderAnswer parsed = ParseLoaderAnswer(answer);
  if (!parsed.sumOk) return "answer sum wrong";
  const std::string name = CommandName(parsed.command);
  switch (parsed.command) {
    case kLoaderReadOptions:
      if (!parsed.options) break;
      return name + ": " + HexText((*parsed.options)[0], 2) + " " + HexText((*parsed.options)[1], 2) +
             (parsed.OptionsOk() ? "" : " (not the loader's)");
    case kLoaderErase:
    case kLoaderWrite:
      return name + ": status " + HexText(parsed.status, 2) + (parsed.StatusOk() ? " ok" : " failed");
    case kLoaderVerify:
      return name + (parsed.VerifyFailed() ? ": checksum differs" : ": checksum matches");
    default:
      break;
  }
  return name + " answered";
}

FrameEnd LoaderAnswerRule() {
  frame_end::Custom rule;
  rule.decide = [](std::span<const std::uint8_t> soFar) {
    if (soFar.front() != kLoaderStart) return FrameProgress::Restart;
    return soFar.size() >= LoaderAnswerLength(soFar) ? FrameProgress::Complete : FrameProgress::More;
  };
  rule.silenceEnds = false;
  rule.longest = 6;
  return rule;
}

int LoaderProgress(int stage, std::size_t records) {
  if (records == 0) return 100;
  const long long position = static_cast<long long>(stage) * 100 / static_cast<long long>(records) + 6;
  return static_cast<int>(std::min<long long>(position, 100));
}

}  // namespace kx
