// pyserial's rfc2217:// client against kxsim --listen: every line setting
// reaches the simulator, so a controller at 9600 7E1 ASCII answers only there.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "core/modbus/codec.h"
#include "support/kxsim_process.h"

namespace {

std::string RunCommand(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(("timeout 30 " + command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 512> buf{};
  while (fgets(buf.data(), buf.size(), pipe) != nullptr) output += buf.data();
  const int rc = pclose(pipe);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

std::string Hex(const kx::Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += kx::HexByte(b);
  return text;
}

TEST(PyserialRfc2217, ControllerAnswersOnlyUnderItsExactSettings) {
  int status = -1;
  RunCommand("/usr/bin/python3 -c 'import serial.rfc2217'", status);
  if (status != 0) GTEST_SKIP() << "python3-serial is not installed";

  kx::test::KxsimProcess sim;
  ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--listen", "127.0.0.1:0", "kx2@1:9600-7E1-ascii"}));
  const std::string prefix = "kxsim: line at ";
  ASSERT_EQ(sim.output().rfind(prefix, 0), 0U) << sim.output();
  const std::string url = sim.output().substr(prefix.size(), sim.output().find('\n') - prefix.size());

  const std::string request = Hex(kx::BuildFrame(kx::FrameForm::Ascii, kx::ReadRequestPdu(1, 3, 0x4701, 1)));
  const std::string answer = Hex(kx::BuildFrame(kx::FrameForm::Ascii, kx::Bytes{1, 3, 2, 0x01, 0x2C}));
  // Each setting is a new connection: the server takes successive clients.
  const std::string output =
      RunCommand("/usr/bin/python3 " + std::string(KX_SOURCE_DIR) + "/tests/interop/rfc2217_probe.py " + url + " " +
                     request + " 9600-7E1 9600-8E1 9600-7N1 9600-7O1 19200-7E1 9600-7E2 9600-7E1",
                 status);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output, "9600-7E1 " + answer + "\n" +
                        "9600-8E1 \n"
                        "9600-7N1 \n"
                        "9600-7O1 \n"
                        "19200-7E1 \n"
                        "9600-7E2 \n"
                        "9600-7E1 " + answer + "\n");
}

}  // namespace
