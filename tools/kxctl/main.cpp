// kxctl: the KX controllers from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "kxctl/command_line.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const kxctl::ParseResult parsed = kxctl::ParseCommandLine(args);
  if (parsed.help) {
    std::cout << kxctl::UsageText();
    return 0;
  }
  if (!parsed.invocation) {
    std::cerr << "kxctl: " << parsed.error << "\n" << kxctl::UsageLine(parsed.command);
    return 2;
  }
  return 0;
}
