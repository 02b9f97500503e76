// Modbus frame codec: the two frame forms (ASCII and RTU), their check sums and
// the hexadecimal conversions every window uses to build requests and read answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

using Bytes = std::vector<std::uint8_t>;

// Value of one pair of hexadecimal digit characters. Nothing is validated: a
// digit's value is its code minus 48 up to '9' and minus 55 above, so lower-case
// letters come out 32 too high. Callers that keep a byte take the low 8 bits.
int HexPairValue(char high, char low);

// Exactly two upper-case hexadecimal digits for the low 8 bits of value.
std::string HexByte(int value);

// In place: byte i of buf := low 8 bits of the pair at positions 2i+1, 2i+2.
// Reads at most buf.size() characters; pairs that would run past the end are
// not converted. Returns the number of bytes converted.
std::size_t HexTextToBytes(std::span<char> buf, std::size_t n);

// LRC of the first (length-1)/2 digit pairs after the start character.
std::uint8_t AsciiLrc(std::string_view text, std::size_t length);

// CRC-16 (polynomial 0xA001, start 0xFFFF).
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// Two's complement of the 8-bit sum of the bytes.
std::uint8_t ByteLrc(std::span<const std::uint8_t> bytes);

enum class FrameForm { Ascii, Rtu };

// Frame of address + function + data: ":" hex pairs, LRC pair, CR LF for ASCII;
// the bytes followed by the CRC low byte then high byte for RTU.
Bytes BuildFrame(FrameForm form, std::span<const std::uint8_t> pdu);
std::string BuildAsciiFrame(std::span<const std::uint8_t> pdu);
Bytes BuildRtuFrame(std::span<const std::uint8_t> pdu);

// Helpers that put the request bytes (address, function, data) together.
Bytes ReadRequestPdu(std::uint8_t address, std::uint8_t function, std::uint16_t start,
                     std::uint16_t count);
Bytes WriteRegisterPdu(std::uint8_t address, std::uint16_t reg, std::uint16_t value);

// Answer lengths that let a receiver recognise a complete answer (n registers).
constexpr std::size_t RtuReadAnswerLength(std::size_t n) { return 5 + 2 * n; }
constexpr std::size_t AsciiReadAnswerLength(std::size_t n) { return 11 + 4 * n; }
constexpr std::size_t kRtuWriteAnswerLength = 8;
constexpr std::size_t kAsciiWriteAnswerLength = 17;
constexpr std::size_t kRtuExceptionLength = 5;
constexpr std::size_t kAsciiExceptionLength = 11;

// Check sum tests of a received answer.
// ASCII: bytes converted from the text, LRC included, must sum to 0 (mod 256).
bool AsciiChecksumOk(std::span<const std::uint8_t> bytes);
// RTU: CRC of all but the last two bytes equals the last two, low byte first.
bool RtuChecksumOk(std::span<const std::uint8_t> bytes);

// Text of an exception code ("illegal function !!!" ... "Unknow Error     !!!").
std::string_view ExceptionText(std::uint8_t code);

}  // namespace kx
