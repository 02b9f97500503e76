// What kxctl takes from answers (its requests come from core/exchange/requests.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/exchange/exchange.h"
#include "kxctl/command_line.h"

namespace kxctl {

// "3.20": the version word's major number in decimal and its minor number as
// two hexadecimal digits, as the program shows it after "F/W Version ".
std::string FirmwareText(std::uint16_t versionWord);

}  // namespace kxctl
