#include "core/text/text.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kx {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpperHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); }
}  // namespace

std::string HexField(std::string_view text, int width) {
  std::string result;
  const auto w = width > 0 ? static_cast<std::size_t>(width) : 0U;
  if (w > text.size()) result.assign(w - text.size(), '0');
  result += text;
  for (std::size_t i = 0; i < w; ++i) {
    if (!IsUpperHex(result[i])) return {};
  }
  return result;
}

std::string DecimalDigits(int value, int width) {
  if (width <= 0) return {};
  // Magnitude in a wide type so that INT_MIN has one too.
  std::int64_t v = value < 0 ? -static_cast<std::int64_t>(value) : value;
  std::string digits(static_cast<std::size_t>(width), '0');
  for (auto it = digits.rbegin(); it != digits.rend() && v > 0; ++it) {
    *it = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return digits;
}

std::string SignedText(int value) {
  const unsigned v = static_cast<unsigned>(value) & 0xFFFFU;
  if (v <= 32767U) return " " + std::to_string(v);
  return "-" + std::to_string(65536U - v);
}

int ParseFixed(std::string_view text, int d) {
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  d = std::clamp(d, 0, 2);  // only 0, 1 or 2 fraction digits are checked below
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMax) return kParseError;
  }
  std::string_view fraction;
  if (i < text.size()) {
    if (text[i] != '.') return kParseError;
    fraction = text.substr(i + 1);
    if (d >= 1 && !fraction.empty() && !IsDigit(fraction[0])) return kParseError;
    if (d == 2 && fraction.size() >= 2 && !IsDigit(fraction[1])) return kParseError;
  }
  for (int place = 0; place < d; ++place) {
    const auto p = static_cast<std::size_t>(place);
    value = value * 10 + (p < fraction.size() ? fraction[p] - '0' : 0);
    if (value > kMax) return kParseError;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace kx
