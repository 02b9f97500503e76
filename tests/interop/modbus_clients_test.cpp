// Independent Modbus masters read registers from kxsim over a pseudo-terminal:
// pymodbus (ASCII and RTU, Debian's /usr/bin/python3) and mbpoll (RTU). kxsim
// stays silent when the client uses other line settings. Both as Modbus TCP
// clients read and write through kxsim's gateway.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "support/kxsim_process.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kMbpoll = "/usr/bin/mbpoll";

struct RunResult {
  int status = -1;
  std::string output;
};

// Runs a shell command with a hard time limit; its stdout and stderr are returned.
RunResult RunCommand(const std::string& command) {
  RunResult r;
  const std::string limited = "timeout 20 " + command + " 2>&1";
  FILE* pipe = popen(limited.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 512> buf{};
  while (fgets(buf.data(), buf.size(), pipe) != nullptr) r.output += buf.data();
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool HasPymodbus() {
  return access(kPython, X_OK) == 0 && RunCommand(std::string(kPython) + " -c 'import pymodbus.client'").status == 0;
}

class InteropTest : public ::testing::Test {
 protected:
  void StartSim(const std::vector<std::string>& controllers) {
    std::vector<std::string> args = {"--link", link_};
    args.insert(args.end(), controllers.begin(), controllers.end());
    ASSERT_TRUE(sim_.Start(KXSIM_PATH, args));
  }
  RunResult Pymodbus(const std::string& form, int baud, int slave, const std::string& address, int count,
                     int attempts = 2) {
    const std::string script = std::string(KX_SOURCE_DIR) + "/tests/interop/pymodbus_read.py";
    return RunCommand(std::string(kPython) + " " + script + " " + link_ + " " + form + " " + std::to_string(baud) +
               " 8 N 1 " + std::to_string(slave) + " " + address + " " +
               std::to_string(count) + " " + std::to_string(attempts));
  }

  kx::test::ScratchDir dir_;
  std::string link_ = dir_ / "line";
  kx::test::KxsimProcess sim_;
};

// A pty carries no data bits and no parity enable, and pyserial refuses to set
// 7 data bits or a parity on one, so the controllers here use 8 data bits
// without parity; baud rate, stop bits and the form are what is matched.
TEST_F(InteropTest, PymodbusReadsInAsciiAndRtuAndIsIgnoredAtOtherSettings) {
  if (!HasPymodbus()) GTEST_SKIP() << "python3-pymodbus is not installed";
  StartSim({"kx2@1:9600-8N1-ascii", "kx3@26:19200-8N1-rtu"});

  RunResult r = Pymodbus("ascii", 9600, 1, "0x4700", 2);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "253 300\n");

  r = Pymodbus("rtu", 19200, 26, "0x4751", 1);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "64\n");

  // Other baud rate, other form: nobody answers (stop bits: see the mbpoll test).
  r = Pymodbus("ascii", 4800, 1, "0x4700", 2, 1);
  EXPECT_EQ(r.status, 1) << r.output;
  r = Pymodbus("rtu", 9600, 1, "0x4700", 2, 1);
  EXPECT_EQ(r.status, 1) << r.output;
}

TEST_F(InteropTest, MbpollReadsInRtuAndIsIgnoredAtOtherSettings) {
  if (access(kMbpoll, X_OK) != 0) GTEST_SKIP() << "mbpoll is not installed";
  StartSim({"kx1@3:38400-8N2-rtu"});
  auto mbpoll = [this](int baud, int stop) {
    return RunCommand(std::string(kMbpoll) + " -m rtu -a 3 -0 -1 -t 4 -r 0x4700 -c 2 -o 1 -b " + std::to_string(baud) +
               " -P none -d 8 -s " + std::to_string(stop) + " " + link_);
  };
  const RunResult ok = mbpoll(38400, 2);
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_NE(ok.output.find("[18176]: \t253"), std::string::npos) << ok.output;
  EXPECT_NE(ok.output.find("[18177]: \t300"), std::string::npos) << ok.output;

  const RunResult otherBaud = mbpoll(19200, 2);
  EXPECT_NE(otherBaud.status, 0) << otherBaud.output;
  const RunResult otherStop = mbpoll(38400, 1);
  EXPECT_NE(otherStop.status, 0) << otherStop.output;
}

// kxsim's Modbus TCP gateway at "modbus-tcp://HOST:PORT": host and port apart.
struct GatewayAddress {
  std::string host;
  std::string port;
};
GatewayAddress GatewayOf(const kx::test::KxsimProcess& sim) {
  const std::string scheme = "modbus-tcp://";
  const std::string hostPort = sim.LineUrl(scheme).substr(scheme.size());
  const auto colon = hostPort.rfind(':');
  return {hostPort.substr(0, colon), hostPort.substr(colon + 1)};
}

TEST(GatewayInteropTest, PymodbusReadsAndWritesThroughTheGateway) {
  if (!HasPymodbus()) GTEST_SKIP() << "python3-pymodbus is not installed";
  kx::test::KxsimProcess sim;
  ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--listen-modbus-tcp", "127.0.0.1:0", "--gateway-timeout", "300",
                                     "kx2@1:9600-8N1-rtu", "kx3@2:9600-8N1-rtu", "kx1@3:9600-7E1-ascii"}));
  const GatewayAddress gateway = GatewayOf(sim);
  const std::string script = std::string(KX_SOURCE_DIR) + "/tests/interop/pymodbus_tcp_client.py";
  const RunResult r = RunCommand(std::string(kPython) + " " + script + " " + gateway.host + " " + gateway.port +
                                 " r:1:0x4700:2 w:1:0x4701:450 r:1:0x4701:1 r:2:0x4751:1 r:2:0x0000:1 r:3:0x4700:2");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "253 300\n"
            "written\n"
            "450\n"
            "64\n"
            "EXCEPTION 2\n"     // the controller's own exception, passed through
            "EXCEPTION 11\n");  // an ASCII controller does not hear the gateway: target failed to respond
}

TEST(GatewayInteropTest, MbpollReadsThroughTheGateway) {
  if (access(kMbpoll, X_OK) != 0) GTEST_SKIP() << "mbpoll is not installed";
  kx::test::KxsimProcess sim;
  ASSERT_TRUE(sim.Start(KXSIM_PATH, {"--listen-modbus-tcp", "127.0.0.1:0", "kx1@3:38400-8N2-rtu"}));
  const GatewayAddress gateway = GatewayOf(sim);
  const RunResult r = RunCommand(std::string(kMbpoll) + " -m tcp -a 3 -0 -1 -t 4 -r 0x4700 -c 2 -p " + gateway.port +
                                 " " + gateway.host);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[18176]: \t253"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[18177]: \t300"), std::string::npos) << r.output;
}

}  // namespace
