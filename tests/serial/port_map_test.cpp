// COM number mapping: the KXCOMM_PORTS parser and the default rule over a
// fake /sys/class/tty tree.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "serial/port_map.h"
#include "serial/rfc2217_port.h"

namespace kx::serial {
namespace {

std::map<int, std::string> Present(const PortPaths& paths) {
  std::map<int, std::string> out;
  for (std::size_t n = 0; n < paths.size(); ++n)
    if (!paths[n].empty()) out[static_cast<int>(n)] = paths[n];
  return out;
}

struct ParseCase {
  const char* text;
  std::map<int, std::string> expected;
};

TEST(PortListTest, ParsesWellFormedEntriesAndIgnoresTheRest) {
  const ParseCase cases[] = {
      {"COM1=/dev/pts/7,COM3=/tmp/line/COM3", {{1, "/dev/pts/7"}, {3, "/tmp/line/COM3"}}},
      {" com12 = /dev/ttyUSB0 , COM5=rfc2217://10.0.0.5:4001 ", {{12, "/dev/ttyUSB0"}, {5, "rfc2217://10.0.0.5:4001"}}},
      {"", {}},
      {",,,", {}},
      {"COM0=/dev/a,COM13=/dev/b,COM99=/dev/c,COM-1=/dev/d", {}},
      {"COM=/dev/a,COMX=/dev/b,COM1X=/dev/c,LPT1=/dev/d,COM 2=/dev/e", {}},
      {"COM1,COM2=,=/dev/a,COM3 /dev/b", {}},
      {"COM1=/dev/a,COM1=/dev/b", {{1, "/dev/b"}}},
      {"COM4=/dev/a,garbage,COM6=/dev/b", {{4, "/dev/a"}, {6, "/dev/b"}}},
      {"COM2=/path/with=equals", {{2, "/path/with=equals"}}},
      {"COM03=/dev/x,COM99999999999999=/dev/y", {{3, "/dev/x"}}},
      {"COM1=rfc2217://host,COM2=rfc2217://:4001,COM3=rfc2217://h:0,COM4=rfc2217://[::1]:4001", {{4, "rfc2217://[::1]:4001"}}},
      // The other network forms and the echo, kept as given.
      {"COM1=tcp://10.0.0.5:4001,COM2=modbus-tcp://gw,COM3=/dev/ttyUSB1?echo,COM4=modbus-tcp://gw:5020?echo",
       {{1, "tcp://10.0.0.5:4001"}, {2, "modbus-tcp://gw"}, {3, "/dev/ttyUSB1?echo"}, {4, "modbus-tcp://gw:5020?echo"}}},
      {"COM1=tcp://host,COM2=modbus-tcp://:502,COM3=tcp://h:99999?echo", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Present(ParsePortList(c.text)), c.expected) << "text: " << c.text;
}

TEST(PortListTest, NetworkAddresses) {
  struct Case {
    const char* url;
    const char* host;  // nullptr: malformed
    std::uint16_t port;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:4001", "127.0.0.1", 4001},
      {"rfc2217://devsrv.plant.local:2217/", "devsrv.plant.local", 2217},
      {"rfc2217://[fe80::1]:65535", "fe80::1", 65535},
      {"rfc2217://host", nullptr, 0},
      {"rfc2217://host:", nullptr, 0},
      {"rfc2217://host:0", nullptr, 0},
      {"rfc2217://host:65536", nullptr, 0},
      {"rfc2217://host:12x", nullptr, 0},
      {"rfc2217://:4001", nullptr, 0},
      {"rfc2217://fe80::1:4001", nullptr, 0},
      {"rfc2217://[fe80::1]4001", nullptr, 0},
      {"rfc2217://user@host:4001", nullptr, 0},
      {"rfc2217://host:4001?logging=debug", nullptr, 0},
      {"tcp://host:4001", nullptr, 0},
  };
  for (const auto& c : cases) {
    const auto address = ParseRfc2217Url(c.url);
    if (c.host == nullptr) {
      EXPECT_FALSE(address) << c.url;
      continue;
    }
    ASSERT_TRUE(address) << c.url;
    EXPECT_EQ(address->host, c.host);
    EXPECT_EQ(address->port, c.port);
  }
}

class FakeSysTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kxportmapXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // A tty entry; `type` < 0 writes no type attribute, `device` adds the link.
  void Tty(const std::string& name, bool device, int type = -1) {
    const auto dir = root_ / name;
    std::filesystem::create_directories(dir);
    if (device) std::filesystem::create_directory_symlink(root_, dir / "device");
    if (type >= 0) std::ofstream(dir / "type") << type << "\n";
  }
  std::string Sys() const { return root_.string(); }

  std::filesystem::path root_;
};

TEST_F(FakeSysTree, UartsKeepTheirNumbersAndUsbDevicesFillTheGapsInNumericOrder) {
  Tty("ttyS0", true, 4);    // 16550A: COM1
  Tty("ttyS1", true, 0);    // no chip behind the slot
  Tty("ttyS2", false, 4);   // no device: not real
  Tty("ttyS3", true, 4);    // COM4
  Tty("ttyS4", true, 4);    // beyond the four UART slots
  Tty("ttyUSB10", true);
  Tty("ttyUSB2", true);
  Tty("ttyACM0", true);
  Tty("ttyUSBx", true);     // not numbered
  Tty("tty5", false);
  EXPECT_EQ(Present(DefaultPortPaths(Sys(), "/dev")), (std::map<int, std::string>{
                                                        {1, "/dev/ttyS0"},
                                                        {2, "/dev/ttyUSB2"},
                                                        {3, "/dev/ttyUSB10"},
                                                        {4, "/dev/ttyS3"},
                                                        {5, "/dev/ttyACM0"},
                                                    }));
}

TEST_F(FakeSysTree, NoMoreThanTwelvePortsAndNoneWithoutDevices) {
  EXPECT_TRUE(Present(DefaultPortPaths(Sys(), "/dev")).empty());
  for (int n = 0; n < 15; ++n) Tty("ttyUSB" + std::to_string(n), true);
  const auto ports = Present(DefaultPortPaths(Sys(), "/dev"));
  ASSERT_EQ(ports.size(), 12u);
  EXPECT_EQ(ports.begin()->first, 1);
  EXPECT_EQ(ports.at(12), "/dev/ttyUSB11");
}

TEST(ConfigurePortsTest, FlagsFollowTheMappingAndTheEnvironmentReplacesTheRule) {
  Session session;
  session.portPresent[7] = true;  // stale flag from before must go
  ::setenv(kPortsVariable, "COM2=/dev/pts/9,COM11=rfc2217://127.0.0.1:4001", 1);
  ConfigurePorts(session);
  ::unsetenv(kPortsVariable);
  for (std::size_t n = 0; n < session.portPresent.size(); ++n)
    EXPECT_EQ(session.portPresent[n], n == 2 || n == 11) << "COM" << n;
  EXPECT_EQ(session.portPath[2], "/dev/pts/9");
  EXPECT_EQ(session.portPath[11], "rfc2217://127.0.0.1:4001");
  ASSERT_TRUE(session.makePort);

  // The port a path names tells the exchange what the line does.
  const PortPaths paths = ParsePortList("COM1=/dev/pts/9,COM2=tcp://h:1?echo,COM3=modbus-tcp://gw,COM4=rfc2217://h:2");
  const auto port = MakeMappedPort(paths);
  const LineTraits expected[] = {{}, {true, true, false}, {false, true, true}, {false, true, false}};
  for (std::uint16_t com = 1; com <= 4; ++com) {
    port->SetComNumber(com);
    EXPECT_EQ(port->Traits(), expected[com - 1]) << "COM" << com;
  }

  ::setenv(kPortsVariable, "", 1);
  ConfigurePorts(session);
  ::unsetenv(kPortsVariable);
  for (const bool present : session.portPresent) EXPECT_FALSE(present);
}

}  // namespace
}  // namespace kx::serial
