// The controllers' flash loader protocol, spoken at 38400 baud, 8 data bits,
// no parity, 1 stop bit: frames both ways are 0x01, command, length, the data
// bytes and a sum byte (all bytes before it, modulo 256). Also the two Modbus
// writes that start a KX3's loader, the time-outs of each step and the
// progress shown while the records are written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/device/regmap.h"
#include "core/exchange/exchange.h"
#include "core/exchange/frame_end.h"
#include "core/modbus/codec.h"

namespace kx {

inline constexpr std::uint8_t kLoaderStart = 0x01;
inline constexpr std::uint8_t kLoaderWrite = 0x01;
inline constexpr std::uint8_t kLoaderErase = 0x03;
inline constexpr std::uint8_t kLoaderReadOptions = 0x05;
inline constexpr std::uint8_t kLoaderVerify = 0x06;
inline constexpr std::uint8_t kLoaderCommand7 = 0x07;

inline constexpr int kLoaderBaud = 38400;

// The option bytes a controller's loader answers with.
inline constexpr std::uint8_t kOptionByte1 = 0xE5;
inline constexpr std::uint8_t kOptionByte2 = 0xC7;
// Verify status of a program whose checksum does not match.
inline constexpr std::uint8_t kVerifyFailed = 0xFF;

// KX3: the unlock write (the register map's kUnlockValue), then the
// flash-enable write restarts it into its loader.
inline constexpr std::uint16_t kUnlockRegister = 0x472A;
inline constexpr std::uint16_t kFlashEnableRegister = 0x474F;
inline constexpr std::uint16_t kFlashEnableValue = 0xA3C6;

// Time-outs in ticks of 55 ms.
inline constexpr int kEnableWriteTicks = 36;  // each of the two Modbus writes
inline constexpr int kOptionReadTicks = 9;
inline constexpr int kEraseTicks = 1080;      // plus the erase extension
inline constexpr int kCommand7Ticks = 9;
inline constexpr int kWriteRecordTicks = 180;
inline constexpr int kVerifyTicks = 36;
// After each erase time-out the next erase waits this much longer, up to the maximum.
inline constexpr int kEraseExtensionStep = 1080;
inline constexpr int kEraseExtensionMax = 2160;

// Frame with the given command and data bytes (at most 255).
Bytes LoaderFrame(std::uint8_t command, std::span<const std::uint8_t> data);
Bytes OptionReadFrame();  // 01 05 00 06
Bytes EraseFrame();       // 01 03 01 01 06
Bytes Command7Frame();    // 01 07 00 08
// Write of one firmware record: its count byte, address and data bytes, without
// its own check byte.
Bytes WriteRecordFrame(std::span<const std::uint8_t> record);
// Verify: the program checksum, low byte first.
Bytes VerifyFrame(std::uint16_t checksum);

// Number of bytes of a complete loader answer whose stored bytes (from its
// 0x01 on) are `stored`: 6 when the command byte is 05 or 07, otherwise 5.
std::size_t LoaderAnswerLength(std::span<const std::uint8_t> stored);
// The last byte is the sum of all before it, modulo 256.
bool LoaderSumOk(std::span<const std::uint8_t> answer);

// A loader answer taken apart: what the update reads of it. The status is the
// byte after the length (erase, write, verify); the option bytes are the two
// data bytes of a six-byte answer.
struct LoaderAnswer {
  bool sumOk = false;
  std::uint8_t command = 0;
  std::uint8_t status = 0;  // 0 when the answer is too short to hold one
  std::optional<std::array<std::uint8_t, 2>> options;

  // Erase and write: a status whose high four bits are 0.
  bool StatusOk() const { return (status & 0xF0) == 0; }
  // Verify: only FF says the program's checksum does not match.
  bool VerifyFailed() const { return status == kVerifyFailed; }
  bool OptionsOk() const { return options == std::array<std::uint8_t, 2>{kOptionByte1, kOptionByte2}; }
};
// `answer`: the bytes of a complete answer from its 0x01 on (noise before it
// is dropped while it is collected).
LoaderAnswer ParseLoaderAnswer(std::span<const std::uint8_t> answer);
LoaderAnswer ParseLoaderAnswer(const Answer& answer);

// What a loader frame says, for a trace of the line: a request's command (a
// record's address, the checksum verified); an answer's option bytes, status
// or verify result, or that its sum is wrong.
std::string LoaderRequestNote(std::span<const std::uint8_t> frame);
std::string LoaderAnswerNote(std::span<const std::uint8_t> answer);

// Frame-end rule of a loader answer: bytes before its 0x01 are noise and
// dropped; it is complete at LoaderAnswerLength bytes; silence never ends it.
FrameEnd LoaderAnswerRule();

// Progress bar position once the update has reached `stage` (3 options read,
// 4 erase, 5 command 7, 6 + r write record r) of a file with `records` records:
// stage × 100 ÷ records + 6, at most 100.
int LoaderProgress(int stage, std::size_t records);

}  // namespace kx
