// A KX3 moved to a new address and format by a write of 0x470B, and its
// follower units synchronised by a write of 1 to 0x4722.
#include <gtest/gtest.h>

#include "core/modbus/codec.h"
#include "kxsim/controller.h"
#include "kxsim/line.h"
#include "support/sim_line.h"

namespace kxsim {
namespace {

using kx::Bytes;
using kx::FrameForm;
using test::Fmt;

// Exact settings (as over a network line), so every format difference counts.
class ProtocolChangeTest : public test::SimLineTest {
 protected:
  Bytes Ask(const char* format, const Bytes& pdu) {
    pc = ExactSettings(Fmt(format));
    return Send(kx::BuildFrame(Fmt(format).form, pdu));
  }
  bool Answers(const char* format, int address) {
    return !Ask(format, kx::ReadRequestPdu(static_cast<std::uint8_t>(address), 3, 0x4700, 1)).empty();
  }
};

TEST_F(ProtocolChangeTest, EchoUnderTheOldSettingsThenOnlyTheNewOnesAnswer) {
  line.Add(std::make_unique<Controller>(Model::Kx3, 1, Fmt("9600-7E1-ascii")));
  // Address 2, 19200 bit/s, 8 data bits, even parity, 1 stop bit, RTU: 0x0237.
  const Bytes write = kx::WriteRegisterPdu(1, 0x470B, 0x0237);
  const Bytes echo = Ask("9600-7E1-ascii", write);
  EXPECT_EQ(std::string(echo.begin(), echo.end()), ":0106470B02376E\r\n");

  EXPECT_FALSE(Answers("9600-7E1-ascii", 1));
  EXPECT_FALSE(Answers("9600-7E1-ascii", 2));
  EXPECT_FALSE(Answers("19200-8E1-rtu", 1));
  EXPECT_FALSE(Answers("19200-8N1-rtu", 2));
  EXPECT_TRUE(Answers("19200-8E1-rtu", 2));
  EXPECT_EQ(Ask("19200-8E1-rtu", kx::ReadRequestPdu(2, 3, 0x470B, 1)),
            kx::BuildFrame(FrameForm::Rtu, Bytes{2, 3, 2, 0x02, 0x37}));
}

TEST_F(ProtocolChangeTest, RefusesFormatsAndAddressesItCannotTake) {
  line.Add(std::make_unique<Controller>(Model::Kx3, 1, Fmt("9600-7E1-ascii")));
  const std::uint16_t refused[] = {
      0x0000 | 0xA5,  // address 0
      0xF8A5,         // address 248
      0x025D,         // baud code 5
      0x02AD,         // parity code 3
      0x02A3,         // RTU with 7 data bits
  };
  for (std::uint16_t value : refused) {
    SCOPED_TRACE(value);
    EXPECT_EQ(Ask("9600-7E1-ascii", kx::WriteRegisterPdu(1, 0x470B, value)),
              kx::BuildFrame(FrameForm::Ascii, Bytes{1, 0x86, 0x03}));
    EXPECT_TRUE(Answers("9600-7E1-ascii", 1));
  }
  // By broadcast nobody moves: every controller would end up at one address.
  EXPECT_TRUE(Ask("9600-7E1-ascii", kx::WriteRegisterPdu(0, 0x470B, 0x0237)).empty());
  EXPECT_TRUE(Answers("9600-7E1-ascii", 1));
  // On a KX2 the register is an alarm limit like any other.
  line.Add(std::make_unique<Controller>(Model::Kx2, 5, Fmt("9600-7E1-ascii")));
  Ask("9600-7E1-ascii", kx::WriteRegisterPdu(5, 0x470B, 0x0237));
  EXPECT_TRUE(Answers("9600-7E1-ascii", 5));
}

TEST_F(ProtocolChangeTest, SynchronisationHandsConsecutiveAddressesAndTheFormatToFollowers) {
  ControllerOptions options;
  options.followers = 2;
  line.Add(std::make_unique<Controller>(Model::Kx3, 1, Fmt("9600-7E1-ascii"), options));
  ASSERT_EQ(line.Controllers().size(), 3U);
  EXPECT_TRUE(Answers("9600-7E1-ascii", 2));
  EXPECT_TRUE(Answers("9600-7E1-ascii", 3));

  // Address 10, 38400 8N2 RTU: format byte 0x40 | 0x02 = 0x42.
  Ask("9600-7E1-ascii", kx::WriteRegisterPdu(1, 0x470B, 0x0A42));
  EXPECT_TRUE(Answers("38400-8N2-rtu", 10));
  EXPECT_TRUE(Answers("9600-7E1-ascii", 2)) << "followers keep their settings until synchronised";

  const Bytes sync = kx::WriteRegisterPdu(10, 0x4722, 0x0001);
  EXPECT_EQ(Ask("38400-8N2-rtu", sync), kx::BuildFrame(FrameForm::Rtu, sync));
  EXPECT_FALSE(Answers("9600-7E1-ascii", 2));
  EXPECT_FALSE(Answers("9600-7E1-ascii", 3));
  EXPECT_TRUE(Answers("38400-8N2-rtu", 11));
  EXPECT_TRUE(Answers("38400-8N2-rtu", 12));
  EXPECT_TRUE(Answers("38400-8N2-rtu", 10));
}

}  // namespace
}  // namespace kxsim
