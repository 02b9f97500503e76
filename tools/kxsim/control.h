// Commands of the control channel, one per line, that change a running line:
// silence, answer, fault, sensor-break, set, program, line-noise (see kxsim --help).
#pragma once

#include <string>
#include <string_view>

#include "kxsim/line.h"

namespace kxsim {

// Carries out one command; returns an error text, or an empty string when done.
std::string RunControlCommand(Line& line, std::string_view command);

// Splits a byte stream into command lines: feed what was read, get the complete lines.
class ControlReader {
 public:
  std::vector<std::string> Feed(std::string_view bytes);

 private:
  std::string partial_;
};

}  // namespace kxsim
