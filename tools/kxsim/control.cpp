#include "kxsim/control.h"

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
    const auto value = ParseWord(arg2);
    if (!reg || !value) return "set needs REG VALUE";
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

std::vector<std::string> ControlReader::Feed(std::string_view bytes) {
  std::vector<std::string> lines;
  partial_.append(bytes);
  std::size_t pos;
  while ((pos = partial_.find('\n')) != std::string::npos) {
    std::string text = partial_.substr(0, pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back(std::move(text));
    partial_.erase(0, pos + 1);
  }
  if (partial_.size() > 4096) partial_.clear();  // no line is that long
  return lines;
}

}  // namespace kxsim
