// What kxctl learns about one controller by the monitor's own requests:
// identification (0x67), then the model detail, status and PV/SV blocks of
// the register map, decoded by the monitor's decoders.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/device/regmap.h"
#include "kxctl/job.h"

namespace kxctl {

struct DeviceFacts {
  int address = 0;
  bool answered = false;                   // the identification was answered
  std::uint8_t model = kx::kModelUnknown;
  int decimalPoint = 1;                    // the monitor's decimal-point code
  kx::DeviceRecord rec;
  bool firmwareRead = false;
  bool pvSvRead = false;
  bool statusRead = false;
};

// What to learn beyond the model.
enum class FactsDepth {
  Model,     // identification only
  Firmware,  // and the firmware version
  Transfer,  // the firmware version and the com-write flag (for backup and restore)
  Values,    // and PV, SV (with their status) and the unit
};

// Queues the requests on `job` through `queue` (a StepJob's ThenAny or Then).
// Each step runs only when the one before it was good; `done` runs after the
// last step, or as soon as one failed (then with the failed answer).
using QueueStep = std::function<void(kx::ExchangeRequest, std::function<void(const kx::Answer&)>)>;
void LearnDevice(Line& line, int address, FactsDepth depth, DeviceFacts& facts, const QueueStep& queue,
                 std::function<void(const kx::Answer* failed)> done);

// Engineering value of a register word with a decimal-point code (tenths for
// the rounded code 255), as a JSON number and as table text.
Json EngineeringJson(std::uint16_t word, int decimalPoint);
std::string EngineeringText(std::uint16_t word, int decimalPoint);

}  // namespace kxctl
