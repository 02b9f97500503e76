#include <gtest/gtest.h>

#include <string>

#include "core/text/text.h"

namespace kx {
namespace {

TEST(Text, HexField) {
  struct Case {
    std::string_view text;
    int width;
    std::string_view expected;
  };
  const Case cases[] = {
      {"7", 2, "07"},        {"", 4, "0000"},        {"G1", 2, ""},
      {"1a", 2, ""},         {"ABCDE", 4, "ABCDE"},  {"0F", 2, "0F"},
      {"12G", 2, "12G"},     // only the first `width` characters are checked
      {"1 ", 2, ""},         {"", 0, ""},            {"FF", 0, "FF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.width));
    EXPECT_EQ(HexField(c.text, c.width), c.expected);
  }
}

TEST(Text, DecimalDigits) {
  struct Case {
    int value;
    int width;
    std::string_view expected;
  };
  const Case cases[] = {
      {7, 2, "07"}, {0, 4, "0000"}, {99, 2, "99"}, {1234, 4, "1234"}, {5, 1, "5"},
      // Out of range: still exactly `width` digits, never other characters.
      {123, 2, "23"}, {-7, 2, "07"}, {-2147483647 - 1, 3, "648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " / " + std::to_string(c.width));
    EXPECT_EQ(DecimalDigits(c.value, c.width), c.expected);
  }
}

TEST(Text, SignedText) {
  struct Case {
    int value;
    std::string_view expected;
  };
  const Case cases[] = {
      {100, " 100"},    {0, " 0"},         {65535, "-1"}, {32768, "-32768"},
      {32767, " 32767"}, {0x1FFFF, "-1"},  // only the low 16 bits count
  };
  for (const auto& c : cases) EXPECT_EQ(SignedText(c.value), c.expected) << c.value;
}

TEST(Text, ParseFixed) {
  struct Case {
    std::string_view text;
    int d;
    int expected;
  };
  const Case cases[] = {
      {"12.3", 1, 123},
      {"12", 1, 120},
      {"12.", 2, 1200},
      {"  -1.5", 1, -15},
      {"1.25", 1, 12},  // later fraction digits are not rounded
      {"1.2x", 2, kParseError},
      {"12 ", 1, kParseError},
      {"1,5", 1, kParseError},
      {"5.x", 0, 5},
      {"", 1, 0},
      {"-", 1, 0},
      {"-3276.1", 1, -32761},  // indistinguishable from the error value
      {".5", 1, 5},
      {"-0.05", 2, -5},
      {"1.x", 1, kParseError},
      {"1.5x", 1, 15},  // characters after the d-th fraction digit are not looked at
      {"--1", 0, kParseError},
      {"+1", 0, kParseError},
      {"1-", 0, kParseError},
      {" 7", 0, 7},
      {"2147483647", 0, 2147483647},
      {"2147483648", 0, kParseError},         // too large for an int: no overflow
      {"99999999999999999999", 0, kParseError},
      {"214748364.8", 1, kParseError},
      {"-2147483647", 0, -2147483647},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + std::string(c.text) + "\" d=" + std::to_string(c.d));
    EXPECT_EQ(ParseFixed(c.text, c.d), c.expected);
  }
}

}  // namespace
}  // namespace kx
