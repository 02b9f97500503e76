#include <gtest/gtest.h>

#include "core/line/port_address.h"

namespace kx {
namespace {

TEST(PortAddress, FormsOfEveryTransport) {
  using T = LineTransport;
  struct Case {
    const char* path;
    bool ok;
    T transport;
    const char* host;  // or the device path
    std::uint16_t port;
    bool echo;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", true, T::Device, "/dev/ttyUSB0", 0, false},
      {"/dev/ttyUSB0?echo", true, T::Device, "/dev/ttyUSB0", 0, true},
      {"rfc2217://127.0.0.1:4001", true, T::Rfc2217, "127.0.0.1", 4001, false},
      {"rfc2217://devsrv.plant.local:2217/", true, T::Rfc2217, "devsrv.plant.local", 2217, false},
      {"tcp://10.0.0.5:4001", true, T::Tcp, "10.0.0.5", 4001, false},
      {"tcp://[fe80::1]:65535?echo", true, T::Tcp, "fe80::1", 65535, true},
      {"modbus-tcp://gw.plant", true, T::ModbusTcp, "gw.plant", 502, false},
      {"modbus-tcp://gw.plant:1502/", true, T::ModbusTcp, "gw.plant", 1502, false},
      {"modbus-tcp://[::1]", true, T::ModbusTcp, "::1", 502, false},
      {"modbus-tcp://[::1]:5020?echo", true, T::ModbusTcp, "::1", 5020, true},
      {"", false, T::Device, "", 0, false},
      {"?echo", false, T::Device, "", 0, false},
      {"tcp://host", false, T::Device, "", 0, false},
      {"rfc2217://host", false, T::Device, "", 0, false},
      {"tcp://host:0", false, T::Device, "", 0, false},
      {"tcp://host:65536", false, T::Device, "", 0, false},
      {"modbus-tcp://host:", false, T::Device, "", 0, false},
      {"modbus-tcp://:502", false, T::Device, "", 0, false},
      {"modbus-tcp://fe80::1", false, T::Device, "", 0, false},
      {"modbus-tcp://[fe80::1]502", false, T::Device, "", 0, false},
      {"tcp://user@host:4001", false, T::Device, "", 0, false},
      {"tcp://host:4001?logging=debug", false, T::Device, "", 0, false},
      {"tcp://host:4001?echo?echo", false, T::Device, "", 0, false},
  };
  for (const Case& c : cases) {
    const auto a = ParsePortAddress(c.path);
    ASSERT_EQ(a.has_value(), c.ok) << c.path;
    if (!a) continue;
    EXPECT_EQ(a->transport, c.transport) << c.path;
    EXPECT_EQ(c.transport == T::Device ? a->device : a->host, c.host) << c.path;
    EXPECT_EQ(a->port, c.port) << c.path;
    EXPECT_EQ(a->echo, c.echo) << c.path;
  }
  EXPECT_TRUE(IsNetworkPath("modbus-tcp://x"));
  EXPECT_FALSE(IsNetworkPath("/dev/tcp://x"));
  EXPECT_TRUE(FormatIsServers(T::Tcp));
  EXPECT_FALSE(FormatIsServers(T::Rfc2217));
}

}  // namespace
}  // namespace kx
