#include <gtest/gtest.h>

#include <fstream>

#include "kxctl/line_choice.h"
#include "support/kxsim_process.h"

namespace kxctl {
namespace {

kx::serial::PortPaths Ports(std::initializer_list<std::pair<int, const char*>> entries) {
  kx::serial::PortPaths paths{};
  for (const auto& [com, path] : entries) paths[static_cast<std::size_t>(com)] = path;
  return paths;
}

GlobalOptions Options(std::optional<std::string> port, std::optional<const char*> line = std::nullopt) {
  GlobalOptions g;
  g.port = std::move(port);
  if (line) g.line = kx::ParseLineFormat(*line);
  return g;
}

std::string Describe(const std::variant<LineChoice, std::string>& chosen) {
  if (const auto* error = std::get_if<std::string>(&chosen)) return "error: " + *error;
  const LineChoice& c = std::get<LineChoice>(chosen);
  return c.portName + " COM" + std::to_string(c.com) + "=" + c.paths[static_cast<std::size_t>(c.com)] + " " +
         kx::ToString(c.format);
}

TEST(LineChoice, OptionsSettingsFileAndDefault) {
  kx::test::ScratchDir dir;
  const auto ports = Ports({{1, "/dev/ttyS0"}, {3, "/dev/ttyUSB0"}});
  const auto settings = [&](const std::string& text) {
    std::ofstream(dir / "SETKX.$$$") << text;
  };
  struct Case {
    const char* settingsFile;  // nullptr: none
    GlobalOptions options;
    const char* expected;
  };
  const Case cases[] = {
      // No file: COM1 at 9600-7E1-ascii.
      {nullptr, Options(std::nullopt), "COM1 COM1=/dev/ttyS0 9600-7E1-ascii"},
      // The file's port and line: 3*256 + RTU + 19200 + no parity + 8 bits + 2 stop bits.
      {"947", Options(std::nullopt), "COM3 COM3=/dev/ttyUSB0 19200-8N2-rtu"},
      // The options win, each on its own.
      {"947", Options("COM1"), "COM1 COM1=/dev/ttyS0 19200-8N2-rtu"},
      {"947", Options(std::nullopt, "4800-8O1-ascii"), "COM3 COM3=/dev/ttyUSB0 4800-8O1-ascii"},
      // A path or a network address is opened as it is.
      {"947", Options("/tmp/kxline"), "/tmp/kxline COM1=/tmp/kxline 19200-8N2-rtu"},
      {nullptr, Options("rfc2217://127.0.0.1:4001"), "rfc2217://127.0.0.1:4001 COM1=rfc2217://127.0.0.1:4001 9600-7E1-ascii"},
      // Ports that are not present.
      {nullptr, Options("COM2"), "error: COM Port 2 not exist !"},
      {nullptr, Options("com13"), "error: COM Port 13 not exist !"},
      {"2084", Options(std::nullopt), "error: COM Port 8 not exist !"},
      // A file without a number keeps the default.
      {"garbage", Options(std::nullopt), "COM1 COM1=/dev/ttyS0 9600-7E1-ascii"},
      // Parity code 3 names no parity: the default's even parity stands in.
      {"300", Options(std::nullopt), "COM1 COM1=/dev/ttyS0 9600-7E1-ascii"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::filesystem::remove(dir / "SETKX.$$$");
    if (c.settingsFile != nullptr) settings(c.settingsFile);
    EXPECT_EQ(Describe(ChooseLine(c.options, dir.path(), ports)), c.expected);
  }
}

TEST(LineChoice, FormatConversionsRoundTrip) {
  for (int n = 0; n < kx::kCombinationCount; ++n) {
    const kx::PresetFormat search = kx::CombinationFormat(n);
    const LineFormat text = kx::LineFormatOf(search);
    EXPECT_EQ(SearchFormatOf(text), search) << n;
    EXPECT_EQ(kx::LineFormatOf(ParamsOfFormat(text, 2)), text) << n;
  }
}

}  // namespace
}  // namespace kxctl
