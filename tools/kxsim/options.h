// The kxsim command line and its usage text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kxsim/controller.h"
#include "kxsim/faults.h"
#include "kxsim/firmware_gen.h"
#include "kxsim/line_format.h"
#include "kxsim/register_map.h"

namespace kxsim {

struct ControllerArg {
  Model model = Model::Kx2;
  std::uint8_t address = 1;
  LineFormat format;
  ControllerOptions options;
};

struct SimOptions {
  std::string link;      // --link PATH
  std::string listen;    // --listen HOST:PORT
  std::string listenTcp;                   // --listen-tcp HOST:PORT
  std::string listenModbusTcp;             // --listen-modbus-tcp HOST:PORT
  std::optional<LineFormat> serverFormat;  // --server-format
  int gatewayTimeoutMs = 1000;             // --gateway-timeout MS
  bool echo = false;                       // --echo
  std::string control;   // --control FIFO
  bool timing = false;
  std::optional<int> turnaroundMs;
  std::optional<NoiseSetting> lineNoise;  // --line-noise
  bool help = false;
  std::vector<ControllerArg> controllers;
  // --make-firmware PATH MODEL VERSION RECORDS: write a test firmware file and end.
  std::string firmwarePath;
  FirmwareRecipe firmware;
};

struct ParseResult {
  std::optional<SimOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The serial format the device server runs its line at: --server-format, else
// the first controller's; the gateway's (RTU) else the first RTU controller's.
LineFormat TcpServerFormat(const SimOptions& options);
LineFormat GatewayFormat(const SimOptions& options);

// "exception:02" -> Exception with code 2; "noise" -> Noise.
std::optional<std::pair<Fault, std::uint8_t>> ParseFaultArg(std::string_view text);
// Firmware version: "1.05" (major in decimal, minor as two hexadecimal digits,
// as the controller shows it) or a word such as "0x0105".
std::optional<std::uint16_t> ParseVersion(std::string_view text);
// Decimal or 0x-prefixed hexadecimal number up to 0xFFFF.
std::optional<std::uint16_t> ParseWord(std::string_view text);

std::string_view UsageText();

}  // namespace kxsim
