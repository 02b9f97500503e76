// Small conversions between numbers and text shared by the windows: padded
// hexadecimal fields (tester), fixed-width decimal digits (displays, search
// status, ramp/soak table), signed register text (trend) and fixed-point
// parsing of typed values (parameter fields, ramp/soak table).
#pragma once

#include <string>
#include <string_view>

namespace kx {

// Value ParseFixed returns for a text that is not a valid number.
inline constexpr int kParseError = -32761;

// The text left-padded with '0' to `width` characters (a longer text is kept
// whole), or an empty text when one of its first `width` characters is not an
// upper-case hexadecimal digit ('0'-'9', 'A'-'F'; lower case is refused).
std::string HexField(std::string_view text, int width);

// Exactly `width` decimal digits of value, leading zeros included. Callers keep
// value within 0 .. 10^width - 1; outside that range the last `width` digits of
// the magnitude are given, so the result is always `width` digits.
std::string DecimalDigits(int value, int width);

// A 16-bit register value read as two's complement: " " and the value up to
// 32767, "-" and 65536 - value above. Only the low 16 bits of value count.
std::string SignedText(int value);

// The number in text times 10^d (d = 0, 1 or 2), or kParseError when the text is
// not a valid number. Leading blanks and one '-' are allowed; the integer part
// may be followed by '.' and fraction digits; fraction digits after the d-th are
// not looked at, missing ones count as 0. An empty text or a lone '-' gives 0.
// A magnitude too large for an int also gives kParseError.
int ParseFixed(std::string_view text, int d);

}  // namespace kx
