#include "kxsim/control.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <vector>

#include "kxsim/options.h"

namespace kxsim {

namespace {

// Controllers a command names: those at the address, or all of them.
std::vector<Controller*> Targets(Line& line, const std::string& which) {
  std::vector<Controller*> all = line.Controllers();
  if (which == "all") return all;
  const auto address = ParseWord(which);
  std::vector<Controller*> picked;
  if (!address) return picked;
  for (Controller* c : all) {
    if (c->address() == *address) picked.push_back(c);
  }
  return picked;
}

// A register value: a word, or a negative number down to -32768 (the word
// that holds it, as the controller keeps signed values).
std::optional<std::uint16_t> ParseRegisterValue(const std::string& text) {
  if (!text.starts_with("-")) return ParseWord(text);
  const auto magnitude = ParseWord(std::string_view(text).substr(1));
  if (!magnitude || *magnitude == 0 || *magnitude > 32768 || text.size() > 1 + 5 || text[1] == '0') return std::nullopt;
  return static_cast<std::uint16_t>(0x10000 - *magnitude);
}

}  // namespace

std::string RunControlCommand(Line& line, std::string_view command) {
  std::istringstream in{std::string(command)};
  std::string verb;
  std::string which;
  in >> verb;
  if (verb.empty()) return {};
  in >> which;
  if (verb == "line-noise") {
    const auto noise = ParseNoiseSetting(which);
    if (!noise) return "line-noise needs lf, nolf or off, optionally with :RATE";
    line.noise().Set(*noise);
    return {};
  }
  const std::vector<Controller*> targets = Targets(line, which);
  if (targets.empty()) return "no controller at '" + which + "': " + std::string(command);
  std::string arg1;
  std::string arg2;
  in >> arg1 >> arg2;

  if (verb == "silence") {
    for (Controller* c : targets) c->SilenceNow();
  } else if (verb == "answer") {
    for (Controller* c : targets) {
      c->SilenceAfter(std::nullopt);
      c->SetFault(Fault::None);
    }
  } else if (verb == "fault") {
    const auto fault = ParseFaultArg(arg1);
    if (!fault) return "unknown fault '" + arg1 + "'";
    for (Controller* c : targets) c->SetFault(fault->first, fault->second);
  } else if (verb == "sensor-break") {
    std::uint16_t code = 3;
    if (!arg1.empty()) {
      const auto value = ParseWord(arg1);
      if (!value || *value > 15) return "sensor-break code must be 0 to 15";
      code = *value;
    }
    for (Controller* c : targets) c->SetPvStatus(static_cast<std::uint8_t>(code));
  } else if (verb == "set") {
    const auto reg = ParseWord(arg1);
    const auto value = ParseRegisterValue(arg2);
    if (!reg || !value) return "set needs REG VALUE (VALUE -32768 to 65535, or 0x0000 to 0xFFFF)";
    for (Controller* c : targets) {
      if (!c->SetRegister(*reg, *value)) return "no register " + arg1 + " on " + c->Describe();
    }
  } else if (verb == "program") {
    if (arg1 != "on" && arg1 != "off") return "program needs on or off";
    for (Controller* c : targets) c->SetProgramRunning(arg1 == "on");
  } else if (verb == "comwrite") {
    if (arg1 != "on" && arg1 != "off") return "comwrite needs on or off";
    for (Controller* c : targets) c->SetComWrite(arg1 == "on");
  } else {
    return "unknown command '" + verb + "'";
  }
  return {};
}

std::string TooLongText(const ControlLine& line) {
  return "line longer than " + std::to_string(kMaxControlLine) + " characters refused: " + line.text + "...";
}

std::vector<ControlLine> ControlReader::Feed(std::string_view bytes) {
  // The start kept of a line too long, for the message.
  constexpr std::size_t kShownStart = 40;
  std::vector<ControlLine> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!discarding_) {
      partial_.append(piece.substr(0, kMaxControlLine + 1 - std::min(partial_.size(), kMaxControlLine + 1)));
      if (partial_.size() > kMaxControlLine) {
        partial_.resize(kShownStart);
        discarding_ = true;
      }
    }
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
    std::string text = std::move(partial_);
    partial_.clear();
    if (!discarding_ && !text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back(ControlLine{std::move(text), discarding_});
    discarding_ = false;
  }
  return lines;
}

}  // namespace kxsim
