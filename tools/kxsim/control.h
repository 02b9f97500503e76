// Commands of the control channel, one per line, that change a running line:
// silence, answer, fault, sensor-break, set, program, line-noise (see kxsim --help).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kxsim/line.h"

namespace kxsim {

// Carries out one command; returns an error text, or an empty string when done.
std::string RunControlCommand(Line& line, std::string_view command);

// The longest command line taken; a longer one is refused as a whole.
inline constexpr std::size_t kMaxControlLine = 4096;

// One line of the control channel. A line longer than kMaxControlLine keeps
// only its start (for the message that refuses it).
struct ControlLine {
  std::string text;
  bool tooLong = false;
  friend bool operator==(const ControlLine&, const ControlLine&) = default;
};

// What kxsim says about a line it refuses for its length.
std::string TooLongText(const ControlLine& line);

// Splits a byte stream into command lines: feed what was read, get the complete lines.
class ControlReader {
 public:
  std::vector<ControlLine> Feed(std::string_view bytes);

 private:
  std::string partial_;
  bool discarding_ = false;  // in a line already too long: drop it up to its end
};

}  // namespace kxsim
