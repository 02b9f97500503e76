#include "core/line/network_line.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

// What a COM number's path makes of its line: how it is reached, how it is
// named to the user, and what the program sets on it.
struct LineCase {
  const char* path;
  LineTransport transport;
  const char* shown;  // PortShown for COM3
  bool format;        // the program sets baud, parity, data and stop bits
  bool form;          // the program chooses ASCII or RTU
};

class NetworkLineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(NetworkLineTable, TransportNameAndControl) {
  const LineCase& c = GetParam();
  Session session;
  session.portPath[3] = c.path;
  EXPECT_EQ(TransportOf(session, 3), c.transport);
  EXPECT_EQ(PortShown(session, 3), c.shown);
  EXPECT_EQ(LineName(session, 3), std::string("COM") + c.shown);
  const LineControl control = ControlOf(TransportOf(session, 3));
  EXPECT_EQ(control.format, c.format);
  EXPECT_EQ(control.form, c.form);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NetworkLineTable,
    ::testing::Values(
        LineCase{"/dev/ttyUSB0", LineTransport::Device, "3", true, true},
        LineCase{"", LineTransport::Device, "3", true, true},
        LineCase{"/dev/ttyUSB0?echo", LineTransport::Device, "3 (/dev/ttyUSB0?echo)", true, true},
        LineCase{"rfc2217://10.0.0.5:4001", LineTransport::Rfc2217, "3 (rfc2217://10.0.0.5:4001)", true, true},
        LineCase{"tcp://127.0.0.1:5000", LineTransport::Tcp, "3 (tcp://127.0.0.1:5000)", false, true},
        LineCase{"tcp://[::1]:5000?echo", LineTransport::Tcp, "3 (tcp://[::1]:5000?echo)", false, true},
        LineCase{"modbus-tcp://127.0.0.1", LineTransport::ModbusTcp, "3 (modbus-tcp://127.0.0.1)", false, false},
        // Malformed (no host): not a line the program can name by address.
        LineCase{"tcp://:5000", LineTransport::Device, "3", true, true}));

TEST(NetworkLine, NumbersOutsideTheMapAreLocal) {
  Session session;
  EXPECT_EQ(TransportOf(session, 0), LineTransport::Device);
  EXPECT_EQ(TransportOf(session, -1), LineTransport::Device);
  EXPECT_EQ(TransportOf(session, Session::kPortSlots), LineTransport::Device);
  EXPECT_EQ(LineName(session, 13), "COM13");
}

}  // namespace
}  // namespace kx
