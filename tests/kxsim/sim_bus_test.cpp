// The simulated bus the core tests run on: how an answer reaches the port, and
// that RunUntil hands control back before the line has seen the code's
// reaction, so a test can still change the controller that will answer it.
#include "support/sim_bus.h"

#include <gtest/gtest.h>

#include "core/modbus/codec.h"
#include "support/fake_port.h"

namespace kx::test {
namespace {

// A port open at 9600 7E1, as a controller "kx2@1:9600-7E1-ascii" hears it.
void OpenAt9600Even(FakePort& port) {
  port.SetBaud(9600);
  port.SetDatabits(7);
  port.SetParity(Parity::Even);
  port.SetStopbits(1);
  port.Open();
}

Bytes ReadRequest(std::uint16_t reg) { return BuildFrame(FrameForm::Ascii, ReadRequestPdu(1, 3, reg, 1)); }

TEST(SimBusTest, AnswerReachesThePortWholeByteByByteOrInTwoChunks) {
  struct Case {
    const char* name;
    SimBus::Delivery delivery;
    int events;  // data-available events for the 15-character answer
  };
  const Case cases[] = {{"Whole", SimBus::Delivery::Whole, 1},
                        {"ByteByByte", SimBus::Delivery::ByteByByte, 15},
                        {"Split", SimBus::Delivery::Split, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort port;
    OpenAt9600Even(port);
    SimBus bus(port);
    bus.SetDelivery(c.delivery);
    bus.Add("kx2@1:9600-7E1-ascii");
    int events = 0;
    port.SetOnTrigger([&](ComPort&, const PortEvent&) { ++events; });
    port.PutBlock(ReadRequest(0x4701));
    bus.Tick(2);
    const Bytes expected = BuildFrame(FrameForm::Ascii, Bytes{1, 3, 2, 0x01, 0x2C});  // SV 300
    EXPECT_EQ(bus.answered(), expected);
    ASSERT_EQ(port.CharsWaiting(), expected.size());
    Bytes received(expected.size());
    port.Read(received);
    EXPECT_EQ(received, expected);
    EXPECT_EQ(events, c.events);
  }
}

TEST(SimBusTest, RunUntilStopsBeforeTheLineHearsTheReaction) {
  FakePort port;
  OpenAt9600Even(port);
  SimBus bus(port);
  bus.Add("kx2@1:9600-7E1-ascii");
  // The code under test: once the first answer is in, it asks again.
  port.SetOnTrigger([&](ComPort&, const PortEvent&) {
    if (port.CharsWaiting() == 15 && port.written.size() == 1) {
      port.FlushInBuffer();
      port.PutBlock(ReadRequest(0x4701));
    }
  });
  port.PutBlock(ReadRequest(0x4701));
  ASSERT_TRUE(bus.RunUntil([&] { return port.written.size() == 2; }, 10));
  EXPECT_EQ(bus.requests(), 1U);
  // Silenced now, the controller does not answer the request written in reaction.
  bus.Controller(1).SetFault(kxsim::Fault::NoAnswer);
  bus.Tick(5);
  EXPECT_EQ(bus.requests(), 2U);
  EXPECT_EQ(bus.answered().size(), 15U);
  EXPECT_EQ(port.CharsWaiting(), 0U);
}

}  // namespace
}  // namespace kx::test
